// The split and rvx commands: rules from the command line, the library's split, the summary.
#include "QvCliCommands.h"
#include "mediaset/QvCliMediaSet.h"
#include "pack/QvCliFileSystem.h"
#include "pack/QvCliPack.h"
#include "report/QvCliHtmlReport.h"
#include "report/QvCliLog.h"
#include "report/QvCliPlanRecord.h"
#include "report/QvCliReport.h"
#include "system/QvCliGzip.h"
#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliProgress.h"
#include "system/QvCliSystem.h"

#include "QvSplit.h"

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

int QvCliFail(int status, const std::string& message) {
    std::cerr << "qvsplit: " << message << "\n";
    return status;
}

namespace {

struct SplitDeleter {
    void operator()(iCQvSplit* s) const { delete s; }
};
using SplitPtr = std::unique_ptr<iCQvSplit, SplitDeleter>;

// Appends one rule for a host path; false when the path cannot be a rule.
// A path whose last component holds "*" or "?" and names no entry itself, in a folder that
// exists: a pattern, handed over as a wildcard rule.
bool IsPattern(const std::string& hostPath) {
    const fs::path p = QvCliFsPath(hostPath);
    const std::string name = QvCliPathText(p.filename());
    std::error_code ec;
    if (name.find_first_of("*?") == std::string::npos) return false;
#if !defined(_WIN32)
    // A POSIX name may hold "*" or "?" itself; such a file is taken as named.
    if (fs::exists(p, ec)) return false;
#endif
    return fs::is_directory(p.has_parent_path() ? p.parent_path() : fs::path("."), ec);
}

bool AddRule(RuleVector& rules, const std::string& hostPath, bool include, int location,
             bool together, std::string& error) {
    std::error_code ec;
    const bool pattern = IsPattern(hostPath);
    if (!pattern && !fs::exists(fs::u8path(hostPath), ec)) {
        error = QvCliShown(hostPath) + ": no such file or folder";
        return false;
    }
    const std::wstring path = pattern ? QvCliToLibraryPattern(hostPath) : QvCliToLibraryPath(hostPath);
    if (path.size() >= QV_RULE_PATH_LEN) {
        error = QvCliShown(hostPath) + ": path longer than a rule can hold (259 characters)";
        return false;
    }
    QvRule rule;
    std::memset(&rule, 0, sizeof rule);
    rule.bAllTogether = together ? TRUE : FALSE;
    rule.bInclude = include ? TRUE : FALSE;
    rule.iRuleID = static_cast<int32_t>(rules.size() + 1);
    std::wcsncpy(rule.szSourcePath, path.c_str(), QV_RULE_PATH_LEN - 1);
    rule.iLocation = location;
    rules.push_back(rule);
    return true;
}

// An item-list item is restored under its rule's target folder. A folder item restored there
// as it stands would pour its files into that folder, beside those of every other folder item,
// and two files of one name would overwrite each other: each folder item goes into a folder of
// its own name instead, as a split keeps the folder a rule names.
void RestoreFolderItemsUnderTheirNames(RuleVector& rules) {
    for (QvRule& rule : rules) {
        const std::wstring source = rule.szSourcePath;
        if (source.find_first_of(L"*?") != std::wstring::npos) continue;
        std::error_code ec;
        if (!fs::is_directory(QvCliFsPath(QvCliToHostPath(source)), ec)) continue;
        std::wstring name = source;
        while (name.size() > 1 && name.back() == L'\\') name.pop_back();
        name = name.substr(name.find_last_of(L"\\:") + 1);
        if (name.empty()) continue;  // a whole drive: its files go where they were
        std::wcsncpy(rule.szTargetPath, (L"\\" + name).c_str(), QV_RULE_PATH_LEN - 1);
    }
}

bool BuildRules(const QvCliOptions& o, RuleVector& rules, std::string& error) {
    for (const std::string& p : o.operands)
        if (!AddRule(rules, p, true, InAny, o.together, error)) return false;
    for (const std::string& p : o.first)
        if (!AddRule(rules, p, true, InFirst, false, error)) return false;
    for (const std::string& p : o.last)
        if (!AddRule(rules, p, true, InLast, false, error)) return false;
    for (const std::string& p : o.all)
        if (!AddRule(rules, p, true, InAll, false, error)) return false;
    // An exclusion removes entries only from the locations it names: name every location
    // an include rule uses.
    for (const std::string& p : o.exclude) {
        const int locations[] = {InAny, InFirst, InLast, InAll};
        for (int location : locations)
            if (!AddRule(rules, p, false, location, false, error)) return false;
    }
    return true;
}

// Warns of paths given that are restored under one name: each is restored as itself at the root
// of the media, so that a file of one path below both would be restored over the other. Names
// are told apart as the media do, ignoring the letter case (of ASCII letters here). remedy: what
// the user can do instead, said after the warning.
void WarnOfPathsRestoredAsOne(const RuleVector& rules, const char* remedy) {
    const auto folded = [](std::wstring text) {
        for (wchar_t& c : text)
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        return text;
    };
    std::map<std::wstring, std::wstring> firstByName;
    for (const QvRule& rule : rules) {
        std::wstring source = rule.szSourcePath;
        if (!rule.bInclude || source.find_first_of(L"*?") != std::wstring::npos) continue;
        while (source.size() > 1 && source.back() == L'\\') source.pop_back();
        const std::wstring name = source.substr(source.find_last_of(L"\\:") + 1);
        if (name.empty()) continue;  // a whole drive
        const auto seen = firstByName.emplace(folded(name), source);
        if (seen.second || folded(seen.first->second) == folded(source)) continue;
        std::cerr << "qvsplit: " << QvCliShown(QvCliToHostPath(seen.first->second)) << " and "
                  << QvCliShown(QvCliToHostPath(source)) << " are both restored as \\"
                  << QvCliShown(QvCliPathText(QvCliFsPath(QvCliToHostPath(source)).filename()))
                  << ", the one over the other" << remedy << "\n";
    }
}

// The files a set follows earlier sets with: those it records as deleted since.
const char* const kDeletedList = "Deleted.xml";

// Removes media files an earlier split left in the folder, so the set read back is this one's.
bool IsMediaName(const std::string& name) {
    return name == "Last.xml" || ((name.rfind("Media", 0) == 0 || name.rfind("media", 0) == 0) && name.size() > 9 &&
                                  name.compare(name.size() - 4, 4, ".xml") == 0 &&
                                  name.find_first_not_of("0123456789", 5) == name.size() - 4);
}

// A media file's temporary file, "Media5.xml.~PID.N.tmp" or "Media5.xml.~PID.N.spool.tmp": a
// split that was killed leaves a few behind.
bool IsMediaTemporary(const std::string& name) {
    const size_t mark = name.find(".~");
    if (mark == std::string::npos || !IsMediaName(name.substr(0, mark))) return false;
    std::string rest = name.substr(mark + 2);
    for (const char* end : {".spool.tmp", ".tmp"})
        if (rest.size() > std::strlen(end) && rest.compare(rest.size() - std::strlen(end), std::string::npos, end) == 0) {
            rest.erase(rest.size() - std::strlen(end));
            const size_t dot = rest.find('.');
            return dot != 0 && dot != std::string::npos && dot + 1 < rest.size() &&
                   rest.find_first_not_of("0123456789.") == std::string::npos && rest.find('.', dot + 1) == std::string::npos;
        }
    return false;
}

void RemoveOldMedia(const std::string& dir, bool quiet) {
    size_t removed = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(QvCliFsPath(dir), ec)) {
        const std::string name = QvCliPathText(e.path().filename());
        if (IsMediaName(name) && fs::remove(e.path(), ec)) ++removed;
        if (IsMediaTemporary(name)) fs::remove(e.path(), ec);
        // The copies of the checksum lists and notes pack put beside the plan ("Media5.SHA256SUMS",
        // "Media5.MEDIUM.txt").
        for (const std::string copy : {".SHA256SUMS", ".MEDIUM.txt"}) {
            const size_t dot = name.rfind(copy);
            if (dot != std::string::npos && dot + copy.size() == name.size() && IsMediaName(name.substr(0, dot) + ".xml"))
                fs::remove(e.path(), ec);
        }
    }
    // What was kept beside them describes that split, not the next one.
    fs::remove(QvCliFsPath(dir) / kDeletedList, ec);
    fs::remove(QvCliFsPath(dir) / kQvCliLeftOutFile, ec);
    fs::remove(QvCliFsPath(dir) / kQvCliReportFile, ec);
    QvCliRemovePlanRecord(dir);
    if (removed && !quiet)
        std::cerr << "qvsplit: removed " << removed << " media files of an earlier split in " << QvCliShown(dir) << "\n";
}

// While a split writes into a folder, the folder is marked incomplete; a split that fails or
// is stopped takes back what it wrote, so that no set that looks whole stays behind. Only a
// split that ran to its end keeps its files.
class QvCliPartialSet {
public:
    explicit QvCliPartialSet(const std::string& dir) : m_dir(dir), m_marked(QvCliMarkIncomplete(dir)) {}
    ~QvCliPartialSet() {
        if (m_kept) return;
        RemoveOldMedia(m_dir, true);
        QvCliMarkComplete(m_dir);
    }
    bool Marked() const { return m_marked; }
    // The split finished: its media, its list of what it left out and its record stay.
    bool Keep(const std::vector<QvCliLeftOutRecord>& leftOut, const QvCliPlanRecord& record) {
        if (!QvCliSaveLeftOut(m_dir, leftOut) || !QvCliSavePlanRecord(m_dir, record)) return false;
        QvCliMarkComplete(m_dir);
        m_kept = true;
        return true;
    }

private:
    std::string m_dir;
    bool m_marked;
    bool m_kept = false;
};

bool PrepareOutDir(const std::string& dir, bool quiet, std::string& error) {
    std::error_code ec;
    fs::create_directories(QvCliFsPath(dir), ec);
    if (ec || !fs::is_directory(QvCliFsPath(dir), ec)) {
        error = QvCliShown(dir) + ": cannot create the output folder";
        return false;
    }
    RemoveOldMedia(dir, quiet);
    return true;
}

bool ConfirmCutting(const QvCliOptions& o) {
    std::cerr << "qvsplit: --cut-big cuts every file larger than a medium into part files next to\n"
                 "         it and DELETES the original once its parts and the part list "
              << QvCliShown(o.cutBigList) << " are written.\n";
    if (o.yes) return true;
    if (!QvCliStdinIsTerminal()) {
        std::cerr << "qvsplit: not on a terminal: add --yes to allow modifying files\n";
        return false;
    }
    std::cerr << "Continue? [y/N] ";
    std::string answer;
    std::getline(std::cin, answer);
    // Ctrl-C at the question is a no, whatever was typed after it.
    if (QvCliInterrupted()) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

// The part list is started before the question: a list that still records parts on disk is
// refused by the library, and the user hears so before being asked anything.
int StartPartList(iCQvSplit& split, const QvCliOptions& o) {
    std::error_code ec;
    const bool existed = fs::exists(QvCliFsPath(o.cutBigList), ec);
    const std::wstring list = QvCliToLibraryPath(o.cutBigList);
    if (split.SetSplitBigFile(TRUE, o.sizeMb, list.c_str()) < 0)
        return QvCliFail(kExitFailed, "cannot start the part list: " + QvCliExplain());
    if (ConfirmCutting(o)) return kExitOk;
    split.SetSplitBigFile(FALSE, 0, nullptr);
    if (!existed) fs::remove(QvCliFsPath(o.cutBigList), ec);
    return QvCliFail(QvCliInterrupted() ? kExitCancelled : kExitUsage, "nothing was changed");
}

// After a split that failed or was stopped: the files it had already cut, and how to join them.
void ReportCutFiles(const QvCliOptions& o) {
    if (o.cutBigList.empty()) return;
    std::vector<std::string> files;
    for (DWORD i = 0; LPCTSTR path = QvGetCutFile(i); ++i) files.push_back(QvCliToHostPath(path));
    if (files.empty()) return;
    // The part list keeps no drive letter: they are joined again on the drive they were cut on.
    const std::wstring first = QvGetCutFile(0);
    const wchar_t drive = first.size() > 1 && first[1] == L':' ? first[0] : QvCliDrive();
    std::cerr << "qvsplit: these files were cut into parts before the split ended; the parts and the part list stay:\n";
    for (const std::string& f : files) std::cerr << "  " << QvCliShown(f) << "\n";
    std::cerr << "qvsplit: join them again with: qvsplit recover --list " << QvCliShown(o.cutBigList) << " --drive "
              << static_cast<char>(drive) << "\n";
}

// A split that was refused or failed: its cause (the library's, unless one is given) on
// standard error with what was left out, and with --json the same as one JSON object on
// standard output, so that a script learns why as a user does.
int ReportFailure(const QvCliOptions& o, const std::string& what, const std::string& reason = std::string()) {
    QvCliCause cause;
    if (reason.empty())
        cause = QvCliLibraryCause();
    else
        cause.sentence = reason;
    const std::vector<QvCliLeftOut> leftOut = QvCliShownLeftOut(QvCliLeftOutFiles());
    const std::vector<QvCliDroppedRule> dropped = QvCliDroppedRules();
    std::cerr << "qvsplit: " << what << ": " << QvCliShownMessage(cause.sentence);
    if (!cause.message.empty()) std::cerr << "\n  (" << QvCliShownMessage(cause.message) << ")";
    std::cerr << "\n";
    QvCliPrintLeftOut(leftOut, std::cerr);
    QvCliPrintDroppedRules(dropped, std::cerr);
    if (o.json) QvCliPrintRefusalJson(what, cause.sentence, cause.message, leftOut, dropped, std::cout);
    return kExitFailed;
}

// How the plan was made, as the record beside the media keeps it.
QvCliPlanRecord PlanRecord(const QvCliOptions& o, const std::vector<QvCliDroppedRule>& dropped, uint64_t catalogReserve,
                           const QvCliChanges& since = QvCliChanges()) {
    QvCliPlanRecord r;
    r.since = since;
    r.arguments = o.arguments;
    r.date = QvCliNowText();
    r.label = o.label.empty() ? QvCliDefaultLabel(r.date) : o.label;
    r.fileSystem = QvCliFileSystem(o);
    r.sizeMb = o.sizeMb;
    r.capacityBytes = o.capacityBytes ? o.capacityBytes : static_cast<uint64_t>(o.sizeMb) * 1048576u;
    r.catalogReserve = catalogReserve;
    r.dropped = dropped;
    return r;
}

// What the room is kept for.
std::string RoomFor(const QvCliOptions& o) {
    return QvCliRoomForSumsOnly(o) ? "the checksum list" : "the catalogue files and the checksum list";
}

// Room kept for the catalogue, as a user reads it: bytes below a megabyte, megabytes above.
std::string RoomText(uint64_t bytes) { return bytes < 1048576 ? QvCliGrouped(bytes) + " bytes" : QvCliMegabytes(bytes); }

// The summary of a split from what the library reports; media files are named by nameFormat.
int PrintResult(const QvCliOptions& o, const std::string& outDir, QvCliPartialSet& partial,
                const char* nameFormat, uint64_t catalogReserve = 0, const QvCliChanges& since = QvCliChanges()) {
    const std::vector<QvCliLeftOutRecord> records = QvCliLeftOutFiles();
    const std::vector<QvCliDroppedRule> dropped = QvCliDroppedRules();
    if (!partial.Keep(records, PlanRecord(o, dropped, catalogReserve, since)))
        return QvCliFail(kExitFailed, QvCliShown(outDir) + ": cannot write " + kQvCliLeftOutFile + " and " + kQvCliPlanFile);
    const QvCliMediaSet set = QvCliReportedMediaSet(outDir, nameFormat);
    const std::vector<QvCliLeftOut> leftOut = QvCliShownLeftOut(records);
    if (o.json) {
        QvCliPrintSummaryJson(set, o.sizeMb, leftOut, std::cout, &dropped, catalogReserve, &since);
    } else {
        QvCliPrintSummary(set, o.sizeMb, leftOut, std::cout);
        QvCliPrintChanges(since, std::cout);
        if (catalogReserve)
            std::cout << "each image includes " << RoomText(catalogReserve) << " kept for " << RoomFor(o)
                      << " pack puts on it (--no-catalog: none)\n";
        QvCliPrintDroppedRules(dropped, std::cout);
    }
    return kExitOk;
}

int CheckSplitArguments(const QvCliOptions& o) {
    if (!o.sizeMb) return QvCliFail(kExitUsage, "--size is required");
    if (o.outDir.empty()) return QvCliFail(kExitUsage, "--out is required");
    const bool haveRules = !o.rulesFile.empty();
    const bool havePaths = !o.operands.empty() || !o.first.empty() || !o.last.empty() || !o.all.empty();
    if (haveRules == havePaths) return QvCliFail(kExitUsage, "give either PATH... or --rules FILE");
    if (haveRules && !o.exclude.empty())
        return QvCliFail(kExitUsage, "--exclude goes with PATH arguments; put exclusions in the rules file");
    return kExitOk;
}

DWORD RunSetup(iCQvSplit& split, const QvCliOptions& o, RuleVector& rules, QvCliProgress& progress) {
    const std::wstring disp = QvCliWiden(o.disp);
    const std::wstring out = QvCliToLibraryPath(o.outDir);
    if (!o.rulesFile.empty()) {
        const std::wstring rulesPath = QvCliToLibraryPath(o.rulesFile);
        return split.SetupSplit(L"", rulesPath.c_str(), disp.c_str(), o.type, o.sizeMb, o.firstFreeMb,
                                o.method, out.c_str(), QvCliProgressCallback, &progress);
    }
    return split.SetupSplit(L"", rules, disp.c_str(), o.type, o.sizeMb, o.firstFreeMb, o.method,
                            out.c_str(), QvCliProgressCallback, &progress);
}

// One plan of the selection by a fresh split object: set up, checked and estimated. A failure
// is reported as the split's own, unless a refusal is only to be returned (kRefusedQuietly).
const int kRefusedQuietly = -1;
int PlanPass(iCQvSplit& split, const QvCliOptions& o, RuleVector& rules, bool reportRefusal = true) {
    QvCliProgress progress;
    progress.show = !o.quiet && QvCliStderrIsTerminal();
    const DWORD setup = RunSetup(split, o, rules, progress);
    if (!setup) {
        QvCliProgressDone(progress);
        return ReportFailure(o, "the split could not be set up");
    }
    if (o.strict && QvGetDroppedRuleCount() > 0) {
        // Refused before anything is planned or cut: a rule the user wrote would do nothing.
        QvCliProgressDone(progress);
        return ReportFailure(o, "--strict", "a rule selects nothing; the split was not made");
    }
    const DWORD media = split.EstimateSplit();
    QvCliProgressDone(progress);
    if (progress.stopped) {
        ReportCutFiles(o);
        return QvCliFail(kExitCancelled, "cancelled; no media set was kept in " + QvCliShown(o.outDir));
    }
    if (media == 0 || (media & 0x80000000u)) {
        if (!reportRefusal) return kRefusedQuietly;
        const int status = ReportFailure(o, "the split was refused");
        ReportCutFiles(o);
        return status;
    }
    return kExitOk;
}

// Whether the plan keeps room for the catalogue files and the checksum list: asked for, or by
// default for the media that pack makes ISO images of with them (tar archives: the checksum
// list alone), unless files are cut (their parts are not known when the room is counted).
bool KeepsRoomForTheCatalog(const QvCliOptions& o) {
    if (o.catalog != -1) return o.catalog == 1;
    const std::string fsName = QvCliFileSystem(o);
    return (fsName == "iso" || fsName == "iso-udf" || fsName == "tar") && o.cutBigList.empty();
}

// Tells what the room for the catalogue files cost, or why the plan kept none.
void SayWhatTheRoomCost(const QvCliOptions& o) {
    QvCatalogRoom room{};
    room.cbSize = sizeof room;
    if (!KeepsRoomForTheCatalog(o) || !QvGetCatalogRoom(&room)) return;
    const auto warn = [](const std::string& message) { std::cerr << "qvsplit: " << message << "\n"; };
    const auto more = [](DWORD n) { return std::to_string(n) + (n == 1 ? " more entry" : " more entries"); };
    if (room.dwDropped == QvCatalogRoomRefused)
        warn("no room kept for " + RoomFor(o) + ": with it the selection would not fit its media");
    else if (room.dwDropped == QvCatalogRoomLeftOut)
        warn("no room kept for " + RoomFor(o) + ": with it " + more(room.dwLost) +
             " would be left out; pack puts them on the images that still have room");
    else if (room.dwLost)
        warn("with room kept for " + RoomFor(o) + " (--catalog), " + more(room.dwLost) +
             " left out than without it (--no-catalog)");
}

// A set given as a compressed catalogue (QVSPLIT-CATALOG.txt.gz) decompressed into a folder of
// its own in temp, with the write time of the file given; temp stays empty for any other set.
const char* const kCatalogName = "QVSPLIT-CATALOG.txt";

bool Decompressed(const std::string& set, std::string& temp, std::string& error) {
    std::error_code ec;
    if (!fs::is_regular_file(QvCliFsPath(set), ec)) return true;
    std::ifstream in(QvCliFsPath(set), std::ios::binary);
    char magic[2] = {0, 0};
    in.read(magic, 2);
    if (!QvCliLooksGzipped(std::string_view(magic, static_cast<size_t>(in.gcount())))) return true;
    in.seekg(0);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string text;
    if (!QvCliGunzip(bytes.str(), text, error)) {
        error = "the compressed catalogue " + error;
        return false;
    }
    temp = QvCliMakeTempDir("qvsplit-since-");
    const fs::path file = QvCliFsPath(temp) / kCatalogName;
    std::ofstream out(file, std::ios::binary);
    out << text;
    out.close();
    const auto written = fs::last_write_time(QvCliFsPath(set), ec);
    if (!ec) fs::last_write_time(file, written, ec);
    if (!out || ec) {
        error = "it could not be decompressed into " + temp + " (disk full?)";
        fs::remove_all(QvCliFsPath(temp), ec);
        temp.clear();
        return false;
    }
    return true;
}

// Hands the sets --since names to the library, oldest first. Refused before anything is written
// when one cannot be followed.
int FollowSets(const QvCliOptions& o) {
    QvClearSinceSets();
    if (o.since.empty()) return kExitOk;
    if (o.method == 1) return QvCliFail(kExitUsage, "--since plans file by file: it does not go with --method dirs");
    for (const std::string& set : o.since) {
        std::error_code ec;
        if (fs::equivalent(QvCliFsPath(set), QvCliFsPath(o.outDir), ec))
            return QvCliFail(kExitUsage, QvCliShown(set) + " is both a set to follow and --out: the new set needs a folder of its own");
        if (fs::exists(QvCliFsPath(set) / kQvCliIncompleteMarker, ec))
            return QvCliFail(kExitFailed, "cannot follow " + QvCliShown(set) +
                                              ": the set is incomplete (a split did not finish writing it); nothing was written");
        // A disc's compressed list is handed over decompressed, with its own write time.
        std::string error, temp;
        if (!Decompressed(set, temp, error)) return QvCliFail(kExitFailed, "cannot follow " + set + ": " + error + "; nothing was written");
        const std::wstring path = QvCliToLibraryPath(temp.empty() ? set : temp + "/" + kCatalogName);
        LPCTSTR why = nullptr;
        const bool followed = QvAddSinceSet(path.c_str(), &why);
        if (!temp.empty()) fs::remove_all(QvCliFsPath(temp), ec);
        if (followed) continue;
        // The library names the set by its own path; the user gave the host's.
        std::wstring text = why ? why : L"it cannot be read";
        for (size_t at = text.find(path); at != std::wstring::npos; at = text.find(path, at + 1))
            text.replace(at, path.size(), QvCliWiden(set));
        QvClearSinceSets();
        return QvCliFail(kExitFailed, "cannot follow " + QvCliShown(set) + ": " + QvCliShownMessage(QvCliNarrow(text)) + "; nothing was written");
    }
    return kExitOk;
}

// What the split found against the sets it followed, as the library counted it.
QvCliChanges ChangesFound(const QvCliOptions& o) {
    QvCliChanges since;
    QvChangeCounts counts{};
    counts.cbSize = sizeof counts;
    if (o.since.empty() || !QvGetChangeCounts(&counts) || counts.dwSets == 0) return since;
    for (const std::string& set : o.since) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(QvCliFsPath(set), ec);
        since.sets.push_back(ec ? set : QvCliPathText(absolute.lexically_normal()));
    }
    since.newFiles = static_cast<uint64_t>(counts.iNew);
    since.changed = static_cast<uint64_t>(counts.iChanged);
    since.unchanged = static_cast<uint64_t>(counts.iUnchanged);
    since.deleted = static_cast<uint64_t>(counts.iDeleted);
    return since;
}

bool RefusedWith(DWORD code) {
    QvRefusal refusal{};
    refusal.cbSize = sizeof refusal;
    return QvGetRefusal(&refusal) && refusal.dwCode == code;
}

// Nothing new or changed since the sets followed: not an error. Deletions alone still make a
// set (their list and the plan record); with none, nothing is kept.
int NothingChanged(const QvCliOptions& o, QvCliPartialSet& partial, const QvCliChanges& since, bool& takeBack) {
    std::string sets;
    for (size_t i = 0; i < o.since.size(); ++i) sets += (i ? ", " : "") + QvCliShown(o.since[i]);
    if (since.deleted) {
        if (!partial.Keep(QvCliLeftOutFiles(), PlanRecord(o, QvCliDroppedRules(), 0, since)))
            return QvCliFail(kExitFailed, QvCliShown(o.outDir) + ": cannot write " + kQvCliPlanFile);
    } else {
        takeBack = true;
    }
    if (o.json) {
        std::cout << "{\n  \"folder\": " << QvCliJsonString(o.outDir) << ",\n  \"media_count\": 0,\n"
                  << "  \"nothing_changed\": " << (since.deleted ? "false" : "true") << ",\n";
        QvCliPrintChangesJson(since, std::cout);
        std::cout << "  \"deleted_list\": "
                  << (since.deleted ? QvCliJsonString(QvCliPathText(QvCliFsPath(o.outDir) / kDeletedList)) : "null")
                  << "\n}\n";
        if (!since.deleted) std::cerr << "qvsplit: nothing changed since " << sets << ": no media written\n";
    } else if (since.deleted) {
        std::cout << "no file new or changed since " << sets << "; " << QvCliGrouped(since.deleted)
                  << " deleted, listed in " << QvCliShown(QvCliPathText(QvCliFsPath(o.outDir) / kDeletedList)) << " (no media)\n";
        QvCliPrintChanges(since, std::cout);
    } else {
        std::cout << "nothing changed since " << sets << ": no media written\n";
    }
    return kExitOk;
}

// Takes back what a split that keeps no set wrote: the rules file the library wrote from the
// command line, and the folder when it made it.
void TakeBackOutDir(const QvCliOptions& o, bool existed) {
    std::error_code ec;
    if (o.rulesFile.empty()) fs::remove(QvCliFsPath(o.outDir) / "Rules.xml", ec);
    if (!existed) fs::remove(QvCliFsPath(o.outDir), ec);  // only when empty
}

int SplitInto(const QvCliOptions& o, iCQvSplit& split, RuleVector& rules, bool existed, bool& takeBack) {
    QvCliPartialSet partial(o.outDir);
    if (!partial.Marked()) return QvCliFail(kExitFailed, QvCliShown(o.outDir) + ": cannot write into the output folder");
    const int status = PlanPass(split, o, rules, false);
    const QvCliChanges since = ChangesFound(o);
    QvCatalogRoom room{};
    room.cbSize = sizeof room;
    if (!QvGetCatalogRoom(&room)) room.cbRoom = 0;
    if (status == kRefusedQuietly && RefusedWith(QvRefusedNothingChanged)) return NothingChanged(o, partial, since, takeBack);
    if (status == kRefusedQuietly && RefusedWith(QvRefusedOtherSelection)) {
        takeBack = !existed;
        std::string sets;
        for (size_t i = 0; i < o.since.size(); ++i) sets += (i ? ", " : "") + QvCliShown(o.since[i]);
        return ReportFailure(o, "the split was refused",
                             "no file of this selection is recorded in " + sets +
                                 ": they are sets of other files; nothing was written");
    }
    if (status == kRefusedQuietly) {
        const int refused = ReportFailure(o, "the split was refused");
        ReportCutFiles(o);
        if (room.cbRoom && o.catalog == 1)
            std::cerr << "qvsplit: every medium kept " << QvCliGrouped(room.cbRoom)
                      << " bytes for the catalogue files (--catalog); --no-catalog keeps none\n";
        return refused;
    }
    if (status) return status;
    SayWhatTheRoomCost(o);
    return PrintResult(o, o.outDir, partial, "Media%u.xml", room.cbRoom, since);
}

}  // namespace

int QvCliRunSplit(const QvCliOptions& o) {
    if (int status = CheckSplitArguments(o)) return status;
    if (o.catalog == 1 && !o.cutBigList.empty())
        return QvCliFail(kExitUsage, "--catalog cannot go with --cut-big: the room is counted before files are cut");
    std::string error;
    RuleVector rules;
    if (o.rulesFile.empty() && !BuildRules(o, rules, error)) return QvCliFail(kExitUsage, error);
    if (o.rulesFile.empty()) WarnOfPathsRestoredAsOne(rules, " (a rules file, --rules, gives each a target folder of its own)");
    if (!o.rulesFile.empty() && !fs::exists(QvCliFsPath(o.rulesFile))) return QvCliFail(kExitUsage, QvCliShown(o.rulesFile) + ": no such rules file");
    QvCliLogSession log(o.logFile);
    // The record pack finds beside the plan is as wide as the one written after it.
    QvCliApplyFileSystem(o, KeepsRoomForTheCatalog(o), PlanRecord(o, {}, UINT64_MAX));
    SplitPtr split(GetQvSplitInterface());
    if (!split) return QvCliFail(kExitFailed, "the library could not create a split object");
    if (!o.cutBigList.empty())
        if (int status = StartPartList(*split, o)) return status;
    if (int status = FollowSets(o)) return status;
    std::error_code ec;
    const bool existed = fs::exists(QvCliFsPath(o.outDir), ec);
    if (!PrepareOutDir(o.outDir, o.quiet, error)) return QvCliFail(kExitFailed, error);
    bool takeBack = false;
    const int result = SplitInto(o, *split, rules, existed, takeBack);
    if (takeBack) TakeBackOutDir(o, existed);
    return result;
}


int QvCliRunRvx(const QvCliOptions& o) {
    if (!o.sizeMb) return QvCliFail(kExitUsage, "--size is required");
    if (o.outDir.empty()) return QvCliFail(kExitUsage, "--out is required");
    if (o.operands.empty()) return QvCliFail(kExitUsage, "give at least one PATH");
    std::string error;
    RuleVector rules;
    for (const std::string& p : o.operands)
        if (!AddRule(rules, p, true, InAny, false, error)) return QvCliFail(kExitUsage, error);
    for (const std::string& p : o.all)
        if (!AddRule(rules, p, true, InAll, false, error)) return QvCliFail(kExitUsage, error);
    RestoreFolderItemsUnderTheirNames(rules);
    WarnOfPathsRestoredAsOne(rules, "");
    if (!PrepareOutDir(o.outDir, o.quiet, error)) return QvCliFail(kExitFailed, error);
    QvCliPartialSet partial(o.outDir);
    if (!partial.Marked()) return QvCliFail(kExitFailed, QvCliShown(o.outDir) + ": cannot write into the output folder");

    QvCliLogSession log(o.logFile);
    QvCliApplyFileSystem(o);
    SplitPtr split(GetQvSplitInterface());
    if (!split) return QvCliFail(kExitFailed, "the library could not create a split object");
    QvCliProgress progress;
    progress.show = !o.quiet && QvCliStderrIsTerminal();
    const std::wstring disp = QvCliWiden(o.disp);
    const std::wstring out = QvCliToLibraryPath(o.outDir);
    const DWORD media = split->SplitRVX(L"", rules, disp.c_str(), o.type, o.sizeMb, o.estimate ? 0 : 1,
                                        out.c_str(), QvCliProgressCallback, &progress);
    QvCliProgressDone(progress);
    if (progress.stopped) return QvCliFail(kExitCancelled, "cancelled");
    if (media == 0) return ReportFailure(o, "the item-list split failed");
    if (media > 100) {
        // The library reports what it could not place within its 100 media.
        const std::vector<QvCliLeftOut> left = QvCliShownLeftOut(QvCliLeftOutFiles());
        uint64_t bytes = 0;
        for (const QvCliLeftOut& l : left) bytes += l.size;
        return ReportFailure(o, "the item-list split failed",
                             "the items need more than 100 media: " + std::to_string(left.size()) + " items (" +
                                 QvCliMegabytes(bytes) + ") are left beyond medium 100");
    }
    if (o.estimate) {
        const int64_t total = split->GetTotalSize();
        if (o.json)
            std::cout << "{\"media_count\": " << media << ", \"total_size\": " << total << "}\n";
        else
            std::cout << media << " media, " << QvCliMegabytes(static_cast<uint64_t>(total)) << " in all\n";
        return kExitOk;
    }
    return PrintResult(o, o.outDir, partial, "media%u.xml");
}

int QvCliRunRecover(const QvCliOptions& o) {
    if (o.listFile.empty()) return QvCliFail(kExitUsage, "--list is required");
    if (!fs::exists(QvCliFsPath(o.listFile))) return QvCliFail(kExitUsage, QvCliShown(o.listFile) + ": no such part list");
    QvCliLogSession log(o.logFile);
    SplitPtr split(GetQvSplitInterface());
    if (!split) return QvCliFail(kExitFailed, "the library could not create a split object");
    const std::wstring list = QvCliToLibraryPath(o.listFile);
    const long result = split->RecoverFiles(static_cast<WORD>(o.drive), list.c_str());
    const std::vector<std::string> errors = QvCliLibraryErrors();
    // E_INVALIDARG: the list itself could not be read; any other failure names the files not joined.
    if (result == static_cast<long>(E_INVALIDARG) || (result < 0 && errors.empty()))
        return QvCliFail(kExitFailed, "cannot read the part list: " + QvCliExplain());
    if (result < 0 || !errors.empty()) {
        for (const std::string& e : errors) std::cerr << "qvsplit: " << QvCliShownMessage(e) << "\n";
        return QvCliFail(kExitFailed, "some files could not be joined; their parts were kept");
    }
    if (!o.quiet) std::cout << "joined every file of " << QvCliShown(o.listFile) << "\n";
    return kExitOk;
}
