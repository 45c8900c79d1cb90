// qvsplit: plan media for files and folders from the command line.
#include "QvCliCommands.h"
#include "QvCliOptions.h"
#include "QvCliSystem.h"

#include <iostream>

int main(int argc, char** argv) {
    QvCliOptions options;
    std::string error;
    if (!QvCliParse(argc, argv, options, error)) {
        std::cerr << "qvsplit: " << error << "\n\n" << QvCliUsage(options.command);
        return kExitUsage;
    }
    if (options.help) {
        std::cout << QvCliUsage(options.command);
        return kExitOk;
    }
    if (options.command == "split" || options.command == "rvx" || options.command == "demo")
        QvCliUseHugePageHeap(argv);
    QvCliInstallInterruptHandler();
    if (options.command == "split") return QvCliRunSplit(options);
    if (options.command == "rvx") return QvCliRunRvx(options);
    if (options.command == "recover") return QvCliRunRecover(options);
    if (options.command == "show") return QvCliRunShow(options);
    if (options.command == "where") return QvCliRunWhere(options);
    if (options.command == "verify") return QvCliRunVerify(options);
    if (options.command == "demo") return QvCliRunDemo(options);
    std::cerr << QvCliUsage("");
    return kExitUsage;
}
