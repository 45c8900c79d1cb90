// qvsplit: plan media for files and folders from the command line.
#include "QvCliCommands.h"
#include "QvCliHelp.h"
#include "QvCliOptions.h"
#include "check/QvCliChecksums.h"
#include "pack/QvCliIsoImage.h"
#include "pack/QvCliTarArchive.h"
#include "system/QvCliGzip.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// The version, and what this build makes images, archives, checksums and gzip with: what a
// report of a fault needs to say.
std::string VersionText() {
    std::string out = std::string("qvsplit ") + QvCliVersion() + "\n";
    const std::pair<const char*, std::string> parts[] = {
        {"ISO images", QvCliIsoImage::Library()},
        {"tar archives", QvCliTarArchive::Library()},
        {"checksums", QvCliSha256::Library()},
        {"gzip", QvCliGzipLibrary()},
    };
    for (const auto& [what, library] : parts)
        out += std::string(what) + ": " + (library.empty() ? "not in this build" : library) + "\n";
    return out;
}

int Run(int argc, char** argv) {
    std::vector<std::string> args = QvCliArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& a : args) utf8Argv.push_back(&a[0]);
    utf8Argv.push_back(nullptr);
    QvCliOptions options;
    std::string error;
    if (!QvCliParse(argc, utf8Argv.data(), options, error)) {
        std::cerr << "qvsplit: " << error << "\n\n" << QvCliUsage(options.command);
        return kExitUsage;
    }
    if (options.version) {
        std::cout << VersionText();
        return kExitOk;
    }
    if (!options.generate.empty()) {
        // The parser took only a form that QvCliGenerate makes.
        std::string text;
        QvCliGenerate(options.generate, text);
        std::cout << text;
        return kExitOk;
    }
    if (options.help) {
        std::cout << QvCliUsage(options.command);
        return kExitOk;
    }
    // The library reads this when it first lists a folder.
    if (options.followLinks) QvCliSetEnv("QVSPLIT_FOLLOW_LINKS", "1");
    QvCliInstallInterruptHandler();
    if (options.command == "split") return QvCliRunSplit(options);
    if (options.command == "rvx") return QvCliRunRvx(options);
    if (options.command == "recover") return QvCliRunRecover(options);
    if (options.command == "show") return QvCliRunShow(options);
    if (options.command == "where") return QvCliRunWhere(options);
    if (options.command == "verify") return QvCliRunVerify(options);
    if (options.command == "pack") return QvCliRunPack(options);
    if (options.command == "demo") return QvCliRunDemo(options);
    if (options.command == "report") return QvCliRunReport(options);
    if (options.command == "check") return QvCliRunCheck(options);
    if (options.command == "restore") return QvCliRunRestore(options);
    std::cerr << QvCliUsage("");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // Nothing the program prints can act on the terminal, whatever name it quotes.
    QvCliShownOutput shown;
    return Run(argc, argv);
}
