// The check command: every file of packed media read and compared with the checksum list each
// medium carries.
#include "QvCliCommands.h"
#include "check/QvCliChecksums.h"
#include "check/QvCliMediumReader.h"
#include "report/QvCliReport.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliProgress.h"
#include "system/QvCliSystem.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What reading a file of the medium gave.
struct FileRead {
    bool whole = false;
    uint64_t offset = 0;  // where reading failed
    std::string why;
    std::string hex;
};

// One problem found on a medium.
struct Finding {
    std::string state;  // changed, missing, unreadable, unexpected
    std::string path;
    std::string detail;
};

struct MediumResult {
    std::string source;
    uint64_t good = 0;
    std::vector<Finding> findings;
    std::string error;  // the medium itself: damaged, no list
};

// Reads a medium, hashing every file and keeping the checksum list's text.
class Reader : public QvCliMediumVisitor {
public:
    explicit Reader(QvCliByteProgress& progress) : m_progress(progress) {}

    bool Entry(const QvCliMediumEntry& entry) override {
        if (entry.kind != QvCliMediumEntry::kFile) return false;
        m_current = entry.path;
        m_isList = entry.path == kQvCliSumsFile;
        if (!entry.hardLink.empty()) {
            const auto target = files.find(entry.hardLink);
            if (target != files.end()) files[entry.path] = target->second;
            return false;
        }
        if (m_isList) list.clear();
        return true;
    }
    bool Data(const void* bytes, size_t count) override {
        if (m_isList)
            list.append(static_cast<const char*>(bytes), count);
        else
            m_hash.Update(bytes, count);
        return !QvCliInterrupted();
    }
    void FileEnd(bool whole, uint64_t offset, const std::string& why) override {
        FileRead& read = files[m_current];
        read.whole = whole;
        read.offset = offset;
        read.why = why;
        unsigned char digest[32];
        m_hash.Digest(digest);
        if (whole) read.hex = QvCliHex(digest);
        if (m_isList) haveList = whole;
    }
    void Progress(uint64_t bytes) override { QvCliByteProgressUpdate(m_progress, bytes); }

    std::map<std::string, FileRead> files;
    std::string list;
    bool haveList = false;

private:
    QvCliByteProgress& m_progress;
    QvCliSha256 m_hash;
    std::string m_current;
    bool m_isList = false;
};

void Compare(const Reader& reader, MediumResult& result) {
    std::vector<QvCliSumsEntry> sums;
    std::string error;
    if (!QvCliParseSums(reader.list, sums, error)) {
        result.error = std::string(kQvCliSumsFile) + ": " + error;
        return;
    }
    std::map<std::string, bool> listed;
    for (const QvCliSumsEntry& e : sums) {
        listed[e.path] = true;
        const auto found = reader.files.find(e.path);
        if (found == reader.files.end())
            result.findings.push_back({"missing", e.path, std::string()});
        else if (!found->second.whole)
            result.findings.push_back({"unreadable", e.path,
                                       "at byte " + QvCliGrouped(found->second.offset) + ": " + found->second.why});
        else if (found->second.hex != e.hex)
            result.findings.push_back({"changed", e.path, std::string()});
        else
            ++result.good;
    }
    for (const auto& file : reader.files)
        if (file.first != kQvCliSumsFile && !listed.count(file.first))
            result.findings.push_back({"unexpected", file.first, std::string()});
}

int CheckOne(const std::string& source, const std::string& planDir, QvCliByteProgress& progress, MediumResult& result) {
    result.source = source;
    progress.label = QvCliPathText(QvCliFsPath(source).filename());
    progress.total = QvCliMediumBytes(source);
    progress.base = 0;
    Reader reader(progress);
    std::string error;
    const QvCliReadOutcome outcome = QvCliReadMedium(source, reader, error);
    if (outcome == QvCliReadOutcome::kStopped || QvCliInterrupted()) return kExitCancelled;
    if (!reader.haveList) {
        reader.list = QvCliBesidePlan(planDir, source, ".SHA256SUMS");
        reader.haveList = !reader.list.empty();
    }
    if (!reader.haveList) {
        result.error = outcome == QvCliReadOutcome::kDamaged
                           ? error
                           : std::string("no checksum list (") + kQvCliSumsFile +
                                 ") on this medium: it was not made by qvsplit pack, or made before media carried one";
        return kExitFailed;
    }
    Compare(reader, result);
    // A medium read only in part: what its list names beyond the damage is missing, and the
    // damage is said as well.
    if (outcome == QvCliReadOutcome::kDamaged) result.error = error;
    return result.findings.empty() && result.error.empty() ? kExitOk : kExitFailed;
}

void PrintText(const std::vector<MediumResult>& results) {
    uint64_t good = 0;
    std::map<std::string, uint64_t> counts;
    for (const MediumResult& r : results) {
        good += r.good;
        std::map<std::string, uint64_t> here;
        for (const Finding& f : r.findings) ++here[f.state], ++counts[f.state];
        std::cout << QvCliShown(r.source) << ": " << QvCliGrouped(r.good) << (r.good == 1 ? " file good" : " files good");
        for (const auto& c : here) std::cout << ", " << QvCliGrouped(c.second) << " " << c.first;
        std::cout << "\n";
        if (!r.error.empty()) std::cout << "  damaged      " << QvCliShownMessage(r.error) << "\n";
        for (const Finding& f : r.findings) {
            std::string label = f.state;
            label.resize(12, ' ');
            std::cout << "  " << label << " " << QvCliShown(f.path) << (f.detail.empty() ? "" : " (" + QvCliShownMessage(f.detail) + ")") << "\n";
        }
    }
    std::cout << "checked " << results.size() << (results.size() == 1 ? " medium: " : " media: ") << QvCliGrouped(good)
              << " good";
    for (const auto& c : counts) std::cout << ", " << QvCliGrouped(c.second) << " " << c.first;
    std::cout << "\n";
}

void PrintJson(const std::vector<MediumResult>& results, bool allGood) {
    std::cout << "{\"good\": " << (allGood ? "true" : "false") << ", \"media\": [";
    for (size_t i = 0; i < results.size(); ++i) {
        const MediumResult& r = results[i];
        std::cout << (i ? ",\n " : "\n ") << "{\"source\": " << QvCliJsonString(r.source) << ", \"good\": " << r.good
                  << ", \"error\": " << (r.error.empty() ? "null" : QvCliJsonString(r.error)) << ", \"findings\": [";
        for (size_t j = 0; j < r.findings.size(); ++j) {
            const Finding& f = r.findings[j];
            std::cout << (j ? ", " : "") << "{\"state\": " << QvCliJsonString(f.state) << ", \"path\": " << QvCliJsonString(f.path);
            if (!f.detail.empty()) std::cout << ", \"detail\": " << QvCliJsonString(f.detail);
            std::cout << "}";
        }
        std::cout << "]}";
    }
    std::cout << (results.empty() ? "]}\n" : "\n]}\n");
}

}  // namespace

int QvCliRunCheck(const QvCliOptions& o) {
    if (o.operands.empty()) return QvCliFail(kExitUsage, "check takes one or more images, archives or folders\n\n" + QvCliUsage("check"));
    std::string reason;
    if (!QvCliSha256::Available(reason)) return QvCliFail(kExitFailed, reason);
    QvCliByteProgress progress;
    progress.show = !o.quiet && QvCliStderrIsTerminal();
    std::vector<MediumResult> results;
    int status = kExitOk;
    for (const std::string& source : o.operands) {
        MediumResult result;
        const int one = CheckOne(source, o.planDir, progress, result);
        QvCliByteProgressDone(progress);
        if (one == kExitCancelled) return QvCliFail(kExitCancelled, "cancelled while reading " + QvCliShown(source));
        if (one != kExitOk) status = kExitFailed;
        results.push_back(std::move(result));
    }
    if (o.json)
        PrintJson(results, status == kExitOk);
    else
        PrintText(results);
    return status;
}
