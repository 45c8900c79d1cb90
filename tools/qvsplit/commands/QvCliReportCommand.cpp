// The report command: a media set made into one HTML page a browser opens from the disk.
#include "QvCliCommands.h"
#include "mediaset/QvCliMediaSet.h"
#include "report/QvCliHtmlReport.h"
#include "report/QvCliLog.h"
#include "report/QvCliPlanRecord.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"

#include <filesystem>
#include <fstream>
#include <iostream>

namespace fs = std::filesystem;

// The name a report takes in its media folder when --out names no other file.
const char* const kQvCliReportFile = "qvsplit-report.html";

namespace {

// Writes text to file under a temporary name first, so that a report under its final name is
// always whole.
bool WriteWhole(const fs::path& file, const std::string& text, std::string& error) {
    fs::path temp = file;
    temp += ".qvsplit-partial";
    std::error_code ec;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            error = QvCliShown(QvCliPathText(file)) + ": cannot be written";
            out.close();
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, file, ec);
    if (ec) {
        error = QvCliShown(QvCliPathText(file)) + ": cannot be written (" + ec.message() + ")";
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace

std::string QvCliMakeReport(const QvCliMediaSet& set, const QvCliSetFiles& files, int here) {
    QvCliReportContext context;
    context.leftOut = QvCliShownLeftOut(QvCliLoadLeftOut(set.dir));
    QvCliPlanRecord record;
    if (QvCliLoadPlanRecord(set.dir, record)) context.record = &record;
    context.here = here;
    return QvCliHtmlReport(set, files, context);
}

int QvCliRunReport(const QvCliOptions& o) {
    if (o.operands.size() != 1)
        return QvCliFail(kExitUsage, "report takes one media folder\n\n" + QvCliUsage("report"));
    const std::string& dir = o.operands[0];
    std::error_code ec;
    if (!fs::is_directory(QvCliFsPath(dir), ec)) return QvCliFail(kExitFailed, QvCliShown(dir) + ": no such folder");
    QvCliMediaSet set;
    std::string error;
    if (!QvCliLoadMediaSet(dir, set, error, false)) return QvCliFail(kExitFailed, error);
    // The page names the folder wherever it is opened from.
    const fs::path absolute = fs::absolute(QvCliFsPath(dir), ec);
    if (!ec) set.dir = QvCliPathText(absolute.lexically_normal());
    const fs::path file = o.outDir.empty() ? QvCliFsPath(dir) / kQvCliReportFile : QvCliFsPath(o.outDir);
    if (fs::is_directory(file, ec)) return QvCliFail(kExitUsage, QvCliShown(QvCliPathText(file)) + ": is a folder; --out takes the report's file name");
    QvCliSetFiles files;
    if (!QvCliReadSetFiles(set, files, error)) return QvCliFail(kExitFailed, error);
    if (!WriteWhole(file, QvCliMakeReport(set, files, 0), error)) return QvCliFail(kExitFailed, error);
    if (!o.quiet) std::cout << "report written to " << QvCliShown(QvCliPathText(file)) << "\n";
    return kExitOk;
}
