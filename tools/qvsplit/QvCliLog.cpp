// Reading the library's log back after a run.
#include "QvCliLog.h"

#include "QvCliPaths.h"
#include "QvCliSystem.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace fs = std::filesystem;

QvCliLogSession::QvCliLogSession(const std::string& logFile) {
    std::string path = logFile;
    if (path.empty()) {
        const char* env = std::getenv("QVSPLIT_LOG");
        path = env ? env : "";
    }
    // The program reads the warnings back to list the files a split leaves out: a log that
    // keeps only errors, or one written to standard error, would hide them from the summary.
    const char* level = std::getenv("QVSPLIT_LOG_LEVEL");
    if (level && std::string(level) == "error") QvCliSetEnv("QVSPLIT_LOG_LEVEL", "warning");
    if (path.empty() || path == "-") {
        m_echo = path == "-";
        const std::string dir = QvCliMakeTempDir("qvsplit-log-");
        if (dir.empty()) return;
        path = QvCliPathText(QvCliFsPath(dir) / "qvsplit.log");
        m_private = true;
        // Only what the program reads back: a full trace would slow a large split down.
        if (!m_echo) QvCliSetEnv("QVSPLIT_LOG_LEVEL", "warning");
    }
    QvCliSetEnv("QVSPLIT_LOG", path);
    m_path = path;
    std::error_code ec;
    const auto size = fs::file_size(QvCliFsPath(m_path), ec);
    m_offset = ec ? 0 : size;
}

QvCliLogSession::~QvCliLogSession() {
    if (!m_private) return;
    if (m_echo) {
        // The trace asked for on standard error, passed on once the library is done with it.
        std::ifstream in(QvCliFsPath(m_path), std::ios::binary);
        std::cerr << in.rdbuf();
        std::cerr.flush();
    }
    std::error_code ec;
    fs::remove_all(QvCliFsPath(m_path).parent_path(), ec);
}

void QvCliLogSession::Collect(std::vector<std::string>& errors,
                              std::vector<std::string>& warnings) const {
    if (m_path.empty()) return;
    std::ifstream in(QvCliFsPath(m_path), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(m_offset));
    std::string line;
    while (std::getline(in, line)) {
        size_t at = line.find("[ERROR] ");
        if (at != std::string::npos) {
            errors.push_back(line.substr(at + 8));
            continue;
        }
        at = line.find("[WARNING] ");
        if (at != std::string::npos) warnings.push_back(line.substr(at + 10));
    }
}

namespace {

// The path between marker and " (size=" in a message, as a host path.
bool ExtractPath(const std::string& text, const std::string& marker, std::string& path) {
    const size_t at = text.find(marker);
    if (at == std::string::npos) return false;
    const size_t from = at + marker.size();
    const size_t to = text.rfind(" (size=");
    if (to == std::string::npos || to < from) return false;
    path = QvCliToHostPath(QvCliWiden(text.substr(from, to - from)));
    return true;
}

void AddLeftOut(std::vector<QvCliLeftOut>& out, const std::string& path, const char* reason) {
    for (const QvCliLeftOut& l : out)
        if (l.path == path) return;
    QvCliLeftOut l;
    l.path = path;
    std::error_code ec;
    const auto size = fs::file_size(QvCliFsPath(path), ec);
    l.size = ec ? 0 : size;
    l.reason = reason;
    out.push_back(l);
}

}  // namespace

std::vector<QvCliLeftOut> QvCliLeftOutFiles(const std::vector<std::string>& warnings,
                                            const std::vector<std::string>& errors) {
    std::vector<QvCliLeftOut> out;
    std::string path;
    for (const std::string& w : warnings)
        if (ExtractPath(w, "Skip Big File ", path))
            AddLeftOut(out, path, "larger than a medium; --cut-big would cut it into parts");
    for (const std::string& e : errors)
        if (ExtractPath(e, "WIM Size too Big ", path))
            AddLeftOut(out, path, "a .wim image larger than a medium");
    return out;
}

namespace {

struct Explanation {
    const char* marker;
    const char* sentence;
};

// Known refusals, in the words a user needs.
const Explanation kExplanations[] = {
    {"FAILED WIM size too big", "a .wim image is larger than a medium and cannot be cut"},
    {"FAILED -> iSizeBigFile=", "a file is larger than a medium (use --cut-big to cut it)"},
    {"FAILED -> iSizeFirst=", "what must go on the first medium does not fit on one medium"},
    {"FAILED -> (iSizeAll+iSizeFirst)", "the first-medium files plus the every-medium files do not fit on one medium"},
    {"FAILED -> (iSizeAll+iSizeBigFile)", "the largest file plus the every-medium files do not fit on one medium"},
    {"FAILED -> iSizeFirst+dwFirstMediaFreeSpaceSize", "the first-medium files plus the space kept free do not fit on one medium"},
    {"FAILED -> iSizeLast=", "what must go on the last medium does not fit on one medium"},
    {"FAILED -> (iSizeAll+iSizeLast)", "the last-medium files plus the every-medium files do not fit on one medium"},
    {"FAILED -> iSizeGroup=", "a group of files that must stay together is larger than a medium"},
    {"FAILED -> (iSizeAll+iSizeGroup)", "a group of files that must stay together plus the every-medium files do not fit on one medium"},
    {"SPLIT Error", "an item does not fit on a medium beside the every-medium items"},
};

}  // namespace

std::string QvCliExplain(const std::vector<std::string>& errors) {
    for (const Explanation& e : kExplanations)
        for (const std::string& text : errors)
            if (text.find(e.marker) != std::string::npos)
                return std::string(e.sentence) + "\n  (" + text + ")";
    if (!errors.empty()) return errors.back();
    return "the library reported no reason (run with --log FILE for its trace)";
}
