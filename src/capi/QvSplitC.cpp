// The C interface (QvSplitC.h): a handle over the split object, with UTF-8 strings, status
// codes and a copy of everything the last operation reported.
#include "QvSplitC.h"

#include "QvSplit.h"
#include "bigfile/CQvSplitBigFile.h"
#include "media/QvMediaEntries.h"
#include "facilities/CQvLog.h"
#include "platform/QvPlatform.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

// The library's split objects share one catalogue: the operations of all handles take turns.
std::mutex g_operationMutex;
// The handle whose setup the rules catalogue holds; a split runs only on it.
const qvs_split* g_setUp = nullptr;

// A text as the library gives it, and in UTF-8.
struct Text {
    std::wstring wide;
    std::string utf8;
};

struct MediumCopy {
    qvs_medium medium;
    Text fileName;
};
struct LeftOutCopy {
    uint32_t reason;
    int64_t size;
    Text path;
};
struct DroppedCopy {
    int32_t ruleId;
    uint32_t reason;
    Text path;
};

struct EntryCopy {
    uint32_t kind;
    uint32_t part;
    uint32_t attributes;
    int64_t size;
    Text source, target, name, writeTime, cutFile;
};

// What the last operation reported, copied so that it stays the handle's until its next one.
struct Results {
    std::wstring mediaDir;  // where the media files were written, ending in a backslash
    // The entries of each medium, by index, read from its media file when first asked for.
    mutable std::map<uint32_t, std::vector<EntryCopy>> entries;
    std::vector<MediumCopy> media;
    int64_t plannedBytes = 0;
    std::vector<LeftOutCopy> leftOut;
    std::vector<DroppedCopy> dropped;
    bool refused = false;
    qvs_refusal refusal = {};
    Text refusalMessage;
    std::vector<Text> errors;
    std::vector<Text> cutFiles;
    qvs_changes changes = {};
    std::vector<Text> deleted;
};

}  // namespace

struct qvs_split {
    std::unique_ptr<iCQvSplit> split;
    qvs_progress_fn progress = nullptr;
    void* progressUser = nullptr;
    bool cancelled = false;
    bool modelSet = false;
    QvAllocationModel model = {};
    bool itemList = false;  // the last split was an item-list split (its media are "mediaN.xml")
    std::wstring mediaDir;  // the output folder of the last setup or item-list split
    // Cutting as this handle set it: the library holds one setting for the process, so each
    // operation puts the handle's own in force and takes it back, with the cuts it added.
    bool cutting = false;
    CQvSplitBigFile::CutState cut;
    // The sets the handle's splits follow, as the library takes their paths, oldest first; the
    // library holds one chain for the process, so each split puts the handle's in force.
    std::vector<std::wstring> since;
    Results results;
};

namespace {

// Paths and texts: UTF-8 to the library's wide strings and back. Bytes that are not UTF-8
// become the characters the library lists such bytes of a POSIX file name as, and go back to
// the same bytes, so that a POSIX caller gets a file's real name and can hand it back.
std::wstring Wide(const char* text) { return text ? qvp::Utf8ToWide(text, std::strlen(text)) : std::wstring(); }
std::wstring Wide(const wchar_t* text) { return text ? std::wstring(text) : std::wstring(); }
Text Both(const wchar_t* text) {
    Text t;
    if (text) t.wide = text;
#if defined(_WIN32)
    t.utf8 = qvp::WideToUtf8(t.wide);  // a Windows name holds no such characters for bytes
#else
    t.utf8 = qvp::WideToHostName(t.wide);
#endif
    return t;
}
Text Both(const char* ascii) { return Both(Wide(ascii).c_str()); }

// Paths a caller gives, as the library takes them. On POSIX a path in Windows form (a drive
// letter and colon, or a leading backslash) goes as it is; any other is a path of the host,
// mapped as the program maps its paths: made absolute, on the drive whose root is "/". A
// relative path holding a backslash is taken as a Windows one, as it always was. On Windows
// every path is made absolute, as the program does. pattern: the last name may be a wildcard.
#if defined(_WIN32)
std::wstring PathIn(const char* text, bool pattern) {
    return text ? qvp::HostPathToLibrary(text, pattern) : std::wstring();
}
std::wstring PathIn(const wchar_t* text, bool pattern) {
    return text ? qvp::HostPathToLibrary(qvp::WideToUtf8(text), pattern) : std::wstring();
}
#else
template <class Char>
bool InWindowsForm(const Char* text) {
    const auto letter = [](Char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (text[0] == '\\' || (letter(text[0]) && text[1] == ':')) return true;
    if (text[0] == '/') return false;
    for (const Char* c = text; *c; ++c)
        if (*c == '\\') return true;
    return false;
}
std::wstring PathIn(const char* text, bool pattern) {
    if (!text || !*text) return std::wstring();
    return InWindowsForm(text) ? Wide(text) : qvp::HostPathToLibrary(text, pattern);
}
std::wstring PathIn(const wchar_t* text, bool pattern) {
    if (!text || !*text) return std::wstring();
    return InWindowsForm(text) ? Wide(text) : qvp::HostPathToLibrary(qvp::WideToHostName(text), pattern);
}
#endif

// A path the library gives, as the caller reads it: on POSIX a path on a drive as the path of
// the host it maps to (the wide twin the same text widened, so that it goes back in as given).
Text PathOut(const wchar_t* path) {
#if !defined(_WIN32)
    if (path && path[0] && path[1] == L':') {
        Text t;
        t.utf8 = qvp::LibraryPathToHost(path);
        t.wide = qvp::Utf8ToWide(t.utf8);
        return t;
    }
#endif
    return Both(path);
}

const char* LeftOutReasonText(uint32_t reason) {
    switch (reason) {
        case QVS_LEFT_OUT_TOO_BIG: return "larger than a medium";
        case QVS_LEFT_OUT_UNREADABLE: return "folder cannot be read";
        case QVS_LEFT_OUT_SPECIAL: return "pipe, socket or device";
        case QVS_LEFT_OUT_NAME_TOO_LONG: return "name too long";
        case QVS_LEFT_OUT_SYSTEM_FOLDER: return "system folder";
        case QVS_LEFT_OUT_VANISHED: return "gone during the scan";
        case QVS_LEFT_OUT_MEDIA_LIMIT: return "beyond the last of 100 media";
        case QVS_LEFT_OUT_LINK_TARGET: return "link target too long for the file system";
    }
    return "unknown reason";
}

const char* DroppedReasonText(uint32_t reason) {
    switch (reason) {
        case QVS_RULE_NOT_FOUND: return "path not found";
        case QVS_RULE_EMPTY_PATH: return "empty path";
        case QVS_RULE_ALREADY_EVERYWHERE: return "already on every medium by an earlier rule";
    }
    return "unknown reason";
}

// Copies what the library reports of the last operation into the handle.
void TakeResults(qvs_split& s) {
    Results r;
    r.mediaDir = s.mediaDir.empty() ? std::wstring(L"C:\\Temp\\") : s.mediaDir;
    if (r.mediaDir.back() != L'\\') r.mediaDir += L'\\';
    const DWORD nMedia = QvGetMediaCount();
    for (DWORD i = 0; i < nMedia; ++i) {
        QvMediumReport report{};
        report.cbSize = sizeof report;
        if (!QvGetMedium(i, &report)) continue;
        MediumCopy copy{};
        copy.medium.struct_size = sizeof copy.medium;
        copy.medium.number = report.dwNumber;
        copy.medium.entries = report.dwEntries;
        copy.medium.files = report.dwFiles;
        copy.medium.file_bytes = report.iFileBytes;
        copy.medium.image_bytes = report.iImageBytes;
        copy.fileName = Both(((s.itemList ? "media" : "Media") + std::to_string(report.dwNumber) + ".xml").c_str());
        r.media.push_back(std::move(copy));
    }
    r.plannedBytes = QvGetPlannedBytes();
    QvChangeCounts changes{};
    changes.cbSize = sizeof changes;
    if (QvGetChangeCounts(&changes)) {
        r.changes.struct_size = sizeof r.changes;
        r.changes.sets = changes.dwSets;
        r.changes.new_files = changes.iNew;
        r.changes.changed = changes.iChanged;
        r.changes.unchanged = changes.iUnchanged;
        r.changes.deleted = changes.iDeleted;
    }
    for (DWORD i = 0; LPCTSTR path = QvGetDeletedFile(i); ++i) r.deleted.push_back(PathOut(path));
    const DWORD nLeftOut = QvGetLeftOutCount();
    for (DWORD i = 0; i < nLeftOut; ++i) {
        LPCTSTR path = nullptr;
        int64_t size = 0;
        DWORD reason = 0;
        if (QvGetLeftOut(i, &path, &size, &reason))
            r.leftOut.push_back(LeftOutCopy{reason, size, PathOut(path)});
    }
    const DWORD nDropped = QvGetDroppedRuleCount();
    for (DWORD i = 0; i < nDropped; ++i) {
        int32_t id = 0;
        LPCTSTR path = nullptr;
        DWORD reason = 0;
        if (QvGetDroppedRule(i, &id, &path, &reason))
            r.dropped.push_back(DroppedCopy{id, reason, PathOut(path)});
    }
    QvRefusal refusal{};
    refusal.cbSize = sizeof refusal;
    if (QvGetRefusal(&refusal)) {
        r.refused = true;
        r.refusal.struct_size = sizeof r.refusal;
        r.refusal.code = refusal.dwCode;
        r.refusal.bytes = refusal.iBytes;
        r.refusal.limit = refusal.iLimit;
        r.refusalMessage = Both(refusal.pszMessage);
    }
    for (DWORD i = 0; LPCTSTR text = QvGetErrorText(i); ++i) r.errors.push_back(Both(text));
    const DWORD nCut = QvGetCutFileCount();
    for (DWORD i = 0; i < nCut; ++i) r.cutFiles.push_back(PathOut(QvGetCutFile(i)));
    s.results = std::move(r);
}

// The library's callback, which hands each call on to the handle's progress function.
DWORD CALLBACK Progress(DWORD uCode, LPVOID, DWORD, LPVOID lpUserParam) {
    qvs_split* s = static_cast<qvs_split*>(lpUserParam);
    if (!s->progress) return 0;
    if (s->progress(uCode, QvGetMediaCount(), s->progressUser) == 0) return 0;
    s->cancelled = true;
    return 1;
}

// What an operation reports: a setup or split everything, cutting and recovery their errors
// alone (the handle keeps what its last split made).
enum class Reports { Split, ErrorsOnly };

// Puts the handle's chain of sets in force; false, with the library's reason as the handle's
// error, when a set can no longer be read.
bool FollowSets(qvs_split& s) {
    QvClearSinceSets();
    for (const std::wstring& set : s.since) {
        LPCTSTR why = nullptr;
        if (QvAddSinceSet(set.c_str(), &why)) continue;
        QvClearSinceSets();
        s.results = Results();
        s.results.errors.push_back(Both(why ? why : L"a set to follow cannot be read"));
        return false;
    }
    return true;
}

template <class Char>
int AddSince(qvs_split* split, const Char* set) {
    if (!split || !set || !*set) return QVS_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(g_operationMutex);
    try {
        // The chain is read whole with the new set, so that a set that cannot follow the
        // others is refused now, not at the split.
        std::vector<std::wstring> chain = split->since;
        chain.push_back(PathIn(set, false));
        std::swap(chain, split->since);
        if (FollowSets(*split)) {
            split->results.errors.clear();
            return QVS_OK;
        }
        std::swap(chain, split->since);
        return QVS_E_ARGUMENT;
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    }
}

// Runs an operation of the library on the handle, one at a time in the process, with its
// model in force, and keeps what it reported. Out of memory anywhere gives QVS_E_MEMORY.
// An operation that returns QVS_E_STATE ran nothing: the handle keeps the results it set.
template <class Operation>
int Run(qvs_split* s, Operation operation, Reports reports = Reports::Split) {
    if (!s) return QVS_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(g_operationMutex);
    try {
        QvSetAllocationModel(s->modelSet ? &s->model : nullptr);
        // Only a split reads the chain: cutting and recovery do not depend on it.
        if (reports == Reports::Split && !FollowSets(*s)) return QVS_E_FAILED;
        CQvSplitBigFile* bigFile = CQvSplitBigFile::GetInstance();
        if (!bigFile) return QVS_E_MEMORY;
        if (s->cutting) {
            bigFile->SetCutState(s->cut);
        } else {
            CQvSplitBigFile::CutState off = bigFile->GetCutState();
            off.bOn = 0;
            bigFile->SetCutState(off);
        }
        s->cancelled = false;
        if (reports == Reports::ErrorsOnly) CQvLog::GetInstance()->ClearErrors();
        const int status = operation(*s);
        if (s->cutting) s->cut = bigFile->GetCutState();
        if (status == QVS_E_STATE) return status;
        if (reports == Reports::Split) {
            TakeResults(*s);
        } else {
            std::vector<Text> errors;
            for (DWORD i = 0; LPCTSTR text = QvGetErrorText(i); ++i) errors.push_back(Both(text));
            s->results.errors.swap(errors);
        }
        return status;
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    } catch (...) {
        return QVS_E_FAILED;
    }
}

// The status of a split that made no media.
int Failure(const qvs_split& s) {
    if (s.cancelled) return QVS_E_CANCELLED;
    QvRefusal refusal{};
    refusal.cbSize = sizeof refusal;
    if (QvGetRefusal(&refusal)) return QVS_E_REFUSED;
    return QVS_E_FAILED;
}

// The options and rules of either form (UTF-8 or wide strings).
template <class Options>
bool OptionsUsable(const Options* o) {
    return o && o->struct_size >= sizeof(Options);
}

// A setup refused for its arguments: the handle's results are that error alone.
int Refuse(qvs_split& s, const std::string& error) {
    s.results = Results();
    s.results.errors.push_back(Both(Wide(error.c_str()).c_str()));
    return QVS_E_ARGUMENT;
}

// Why a location or method is not one the library knows; empty when it is.
std::string UnknownLocation(const char* function, size_t index, int32_t location) {
    if (location >= QVS_FIRST && location <= QVS_NOT_LAST) return std::string();
    char text[200];
    std::snprintf(text, sizeof text, "%s: rule %u has location %d, not one of QVS_FIRST (1) to QVS_NOT_LAST (6)",
                  function, static_cast<unsigned>(index), static_cast<int>(location));
    return text;
}
std::string UnknownMethod(const char* function, uint32_t method) {
    if (method == QVS_METHOD_FILES || method == QVS_METHOD_FOLDERS) return std::string();
    char text[200];
    std::snprintf(text, sizeof text, "%s: method %u is neither QVS_METHOD_FILES (0) nor QVS_METHOD_FOLDERS (1)",
                  function, static_cast<unsigned>(method));
    return text;
}

// The library's rules from the caller's, whose elements are rule_size bytes apart; error
// receives why a rule's location is refused.
template <class Rule>
bool MakeRules(const char* function, const Rule* rules, size_t count, size_t ruleSize, RuleVector& out,
               std::string& error) {
    if ((count != 0 && !rules) || ruleSize < sizeof(Rule)) return false;
    const char* at = reinterpret_cast<const char*>(rules);
    for (size_t i = 0; i < count; ++i, at += ruleSize) {
        Rule rule;
        std::memcpy(&rule, at, sizeof rule);
        error = UnknownLocation(function, i, rule.location);
        if (!error.empty()) return false;
        QvRule made{};
        made.bAllTogether = rule.all_together ? TRUE : FALSE;
        made.bInclude = rule.include ? TRUE : FALSE;
        made.iRuleID = rule.rule_id;
        made.iLocation = rule.location;
        // The target is a folder of the media, not of this host: it goes as it is.
        const std::wstring source = PathIn(rule.source_path, true), target = Wide(rule.target_path);
        // The record holds paths of fewer than QV_RULE_PATH_LEN characters.
        if (source.size() >= QV_RULE_PATH_LEN || target.size() >= QV_RULE_PATH_LEN) return false;
        std::wmemcpy(made.szSourcePath, source.c_str(), source.size() + 1);
        std::wmemcpy(made.szTargetPath, target.c_str(), target.size() + 1);
        out.push_back(made);
    }
    return true;
}

// The texts of the options as the library takes them.
struct OptionTexts {
    std::wstring volume, label, output;
    bool hasOutput;
    template <class Options>
    explicit OptionTexts(const Options& o)
        : volume(Wide(o.volume_id)), label(Wide(o.label)), output(PathIn(o.output_dir, false)),
          hasOutput(o.output_dir != nullptr) {}
    LPCTSTR Output() const { return hasOutput ? output.c_str() : NULL; }
};

template <class Options, class Char>
int SetupFile(qvs_split* split, const Char* rulesFile, const Options* options) {
    if (!split || !rulesFile || !OptionsUsable(options)) return QVS_E_ARGUMENT;
    const std::string error = UnknownMethod("qvs_setup_file", options->method);
    if (!error.empty()) return Refuse(*split, error);
    return Run(split, [&](qvs_split& s) {
        const Options& o = *options;
        const OptionTexts texts(o);
        s.itemList = false;
        s.mediaDir = texts.output;
        const DWORD ok = s.split->SetupSplit(texts.volume.c_str(), PathIn(rulesFile, false).c_str(), texts.label.c_str(), o.type,
                                             o.split_size_mb, o.first_free_mb, o.method, texts.Output(), Progress, &s);
        g_setUp = ok ? &s : nullptr;
        return ok ? QVS_OK : QVS_E_SETUP;
    });
}

template <class Options, class Rule>
int SetupRules(qvs_split* split, const Rule* rules, size_t count, size_t ruleSize, const Options* options) {
    if (!split || !OptionsUsable(options)) return QVS_E_ARGUMENT;
    RuleVector vtRules;
    std::string error = UnknownMethod("qvs_setup_rules", options->method);
    try {
        if (error.empty() && !MakeRules("qvs_setup_rules", rules, count, ruleSize, vtRules, error) && error.empty())
            return QVS_E_ARGUMENT;
        if (!error.empty()) return Refuse(*split, error);
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    }
    return Run(split, [&](qvs_split& s) {
        const Options& o = *options;
        const OptionTexts texts(o);
        s.itemList = false;
        s.mediaDir = texts.output;
        const DWORD ok = s.split->SetupSplit(texts.volume.c_str(), vtRules, texts.label.c_str(), o.type,
                                             o.split_size_mb, o.first_free_mb, o.method, texts.Output(), Progress, &s);
        g_setUp = ok ? &s : nullptr;
        return ok ? QVS_OK : QVS_E_SETUP;
    });
}

template <class Options, class Rule>
int SplitItems(qvs_split* split, const Rule* items, size_t count, size_t ruleSize, const Options* options,
               int saveMedia, uint32_t* mediaCount) {
    if (mediaCount) *mediaCount = 0;
    if (!split || !OptionsUsable(options)) return QVS_E_ARGUMENT;
    RuleVector vtItems;
    std::string error;
    try {
        if (!MakeRules("qvs_split_items", items, count, ruleSize, vtItems, error) && error.empty())
            return QVS_E_ARGUMENT;
        if (!error.empty()) return Refuse(*split, error);
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    }
    return Run(split, [&](qvs_split& s) {
        const Options& o = *options;
        const OptionTexts texts(o);
        s.itemList = true;
        s.mediaDir = texts.output;
        const DWORD media = s.split->SplitRVX(texts.volume.c_str(), vtItems, texts.label.c_str(), o.type,
                                              o.split_size_mb, saveMedia ? 1 : 0, texts.Output(), Progress, &s);
        if (mediaCount) *mediaCount = media;
        return media != 0 ? QVS_OK : Failure(s);
    });
}

template <class Char>
int SetCutting(qvs_split* split, int on, uint32_t partSizeMb, const Char* partList) {
    if (!split || (on && (!partList || !*partList || partSizeMb == 0))) return QVS_E_ARGUMENT;
    return Run(split, [&](qvs_split& s) {
        const std::wstring list = PathIn(partList, false);
        const long hr = s.split->SetSplitBigFile(on ? TRUE : FALSE, partSizeMb, on ? list.c_str() : NULL);
        if (hr < 0) return QVS_E_FAILED;
        // Run takes the new list into the handle once it is on.
        s.cutting = on != 0;
        return QVS_OK;
    }, Reports::ErrorsOnly);
}

template <class Char>
int Recover(qvs_split* split, Char drive, const Char* partList) {
    const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (!split || !letter || !partList) return QVS_E_ARGUMENT;
    return Run(split, [&](qvs_split& s) {
        const long hr = s.split->RecoverFiles(static_cast<WORD>(drive), PathIn(partList, false).c_str());
        return hr >= 0 ? QVS_OK : QVS_E_FAILED;
    }, Reports::ErrorsOnly);
}

// The texts handed out, in the form the caller asked for.
const char* Of(const Text& t, char) { return t.utf8.c_str(); }
const wchar_t* Of(const Text& t, wchar_t) { return t.wide.c_str(); }
const char* ReasonOf(const char* text, char) { return text; }
const wchar_t* ReasonOf(const char* text, wchar_t) {
    // The reason texts are ASCII: each has a wide twin that lives as long as the process.
    static std::mutex mutex;
    static std::vector<std::pair<const char*, std::wstring>> twins;
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& twin : twins)
        if (twin.first == text) return twin.second.c_str();
    twins.emplace_back(text, Wide(text));
    return twins.back().second.c_str();
}

template <class Char, class Medium>
int GetMedium(const qvs_split* split, uint32_t index, Medium* medium) {
    if (!split || !medium || medium->struct_size < sizeof(Medium)) return QVS_E_ARGUMENT;
    if (index >= split->results.media.size()) return QVS_E_RANGE;
    const MediumCopy& m = split->results.media[index];
    medium->struct_size = sizeof(Medium);
    medium->number = m.medium.number;
    medium->entries = m.medium.entries;
    medium->files = m.medium.files;
    medium->file_bytes = m.medium.file_bytes;
    medium->image_bytes = m.medium.image_bytes;
    medium->file_name = Of(m.fileName, Char());
    return QVS_OK;
}

template <class Char, class Entry>
int GetLeftOut(const qvs_split* split, uint32_t index, Entry* entry) {
    if (!split || !entry || entry->struct_size < sizeof(Entry)) return QVS_E_ARGUMENT;
    if (index >= split->results.leftOut.size()) return QVS_E_RANGE;
    const LeftOutCopy& e = split->results.leftOut[index];
    entry->struct_size = sizeof(Entry);
    entry->reason = e.reason;
    entry->size = e.size;
    entry->path = Of(e.path, Char());
    entry->reason_text = ReasonOf(LeftOutReasonText(e.reason), Char());
    return QVS_OK;
}

template <class Char, class Rule>
int GetDroppedRule(const qvs_split* split, uint32_t index, Rule* rule) {
    if (!split || !rule || rule->struct_size < sizeof(Rule)) return QVS_E_ARGUMENT;
    if (index >= split->results.dropped.size()) return QVS_E_RANGE;
    const DroppedCopy& d = split->results.dropped[index];
    rule->struct_size = sizeof(Rule);
    rule->rule_id = d.ruleId;
    rule->reason = d.reason;
    rule->path = Of(d.path, Char());
    rule->reason_text = ReasonOf(DroppedReasonText(d.reason), Char());
    return QVS_OK;
}

template <class Char, class Refusal>
int GetRefusal(const qvs_split* split, Refusal* refusal) {
    if (!split || !refusal || refusal->struct_size < sizeof(Refusal)) return QVS_E_ARGUMENT;
    if (!split->results.refused) return QVS_E_RANGE;
    const qvs_refusal& r = split->results.refusal;
    refusal->struct_size = sizeof(Refusal);
    refusal->code = r.code;
    refusal->bytes = r.bytes;
    refusal->limit = r.limit;
    refusal->message = Of(split->results.refusalMessage, Char());
    return QVS_OK;
}

// The entries of a medium, read from its media file the first time; null with the status when
// there is no such medium or its file cannot be read.
const std::vector<EntryCopy>* EntriesOf(const qvs_split& s, uint32_t medium, int& status) {
    const Results& r = s.results;
    if (medium >= r.media.size()) {
        status = QVS_E_RANGE;
        return nullptr;
    }
    auto found = r.entries.find(medium);
    if (found != r.entries.end()) return &found->second;
    std::vector<QvMediaEntry> read;
    if (!QvReadMediaEntries(r.mediaDir + r.media[medium].fileName.wide, read)) {
        status = QVS_E_FAILED;
        return nullptr;
    }
    std::vector<EntryCopy> copies;
    copies.reserve(read.size());
    for (const QvMediaEntry& e : read) {
        EntryCopy c;
        const bool link = (e.dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        c.kind = link ? QVS_ENTRY_LINK : (e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? QVS_ENTRY_FOLDER : QVS_ENTRY_FILE;
        c.part = e.dwPart;
        c.attributes = e.dwAttributes;
        c.size = e.iSize;
        c.source = PathOut(e.strSource.c_str());
        c.target = Both(e.strTarget.c_str());
        c.name = Both(e.strName.c_str());
        c.writeTime = Both(e.strWriteTime.c_str());
        if (e.dwPart) c.cutFile = PathOut(e.strCutFile.c_str());
        copies.push_back(std::move(c));
    }
    return &(r.entries[medium] = std::move(copies));
}

template <class Char, class Entry>
int GetEntry(const qvs_split* split, uint32_t medium, uint32_t index, Entry* entry) {
    if (!split || !entry || entry->struct_size < sizeof(Entry)) return QVS_E_ARGUMENT;
    int status = QVS_OK;
    try {
        const std::vector<EntryCopy>* entries = EntriesOf(*split, medium, status);
        if (!entries) return status;
        if (index >= entries->size()) return QVS_E_RANGE;
        const EntryCopy& e = (*entries)[index];
        entry->struct_size = sizeof(Entry);
        entry->kind = e.kind;
        entry->part = e.part;
        entry->attributes = e.attributes;
        entry->size = e.size;
        entry->source_path = Of(e.source, Char());
        entry->target_path = Of(e.target, Char());
        entry->name = Of(e.name, Char());
        entry->write_time = Of(e.writeTime, Char());
        entry->cut_file = e.part ? Of(e.cutFile, Char()) : nullptr;
        return QVS_OK;
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    }
}

int CountOf(const qvs_split* split, const std::vector<Text> Results::*list, uint32_t* count) {
    if (!split || !count) return QVS_E_ARGUMENT;
    *count = static_cast<uint32_t>((split->results.*list).size());
    return QVS_OK;
}

template <class Char>
int GetText(const qvs_split* split, const std::vector<Text> Results::*list, uint32_t index, const Char** text) {
    if (!split || !text) return QVS_E_ARGUMENT;
    const std::vector<Text>& texts = split->results.*list;
    if (index >= texts.size()) return QVS_E_RANGE;
    *text = Of(texts[index], Char());
    return QVS_OK;
}

bool HasTerms(const qvs_model& m) {
    return (m.block | m.per_entry | m.per_name_byte | m.per_name_unit | m.name_units_max | m.per_folder |
            m.per_medium | m.per_folder_name_byte | m.per_folder_name_unit | m.per_link_target_byte |
            m.link_target_max | m.header_name | m.header_prefix | m.per_ext_header | m.per_ext_header_byte |
            m.ext_header_records | m.record_name_bytes | m.flags | m.per_short_name_byte | m.short_name_max) != 0;
}

void CopyModel(const qvs_model& from, QvAllocationModel& to) {
    to.cbBlock = from.block;
    to.cbPerEntry = from.per_entry;
    to.cbPerNameByte = from.per_name_byte;
    to.cbPerNameUnit = from.per_name_unit;
    to.cchNameUnitsMax = from.name_units_max;
    to.cbPerFolder = from.per_folder;
    to.cbPerMedium = from.per_medium;
    to.cbPerFolderNameByte = from.per_folder_name_byte;
    to.cbPerFolderNameUnit = from.per_folder_name_unit;
    to.cbPerLinkTargetByte = from.per_link_target_byte;
    to.cchLinkTargetMax = from.link_target_max;
    to.cchHeaderName = from.header_name;
    to.cchHeaderPrefix = from.header_prefix;
    to.cbPerExtHeader = from.per_ext_header;
    to.cbPerExtHeaderByte = from.per_ext_header_byte;
    to.cbExtHeaderRecords = from.ext_header_records;
    to.cchRecordNameBytes = from.record_name_bytes;
    to.dwFlags = from.flags;
    to.cbPerShortNameByte = from.per_short_name_byte;
    to.cchShortNameMax = from.short_name_max;
}

void CopyModel(const QvAllocationModel& from, qvs_model& to) {
    to.block = from.cbBlock;
    to.per_entry = from.cbPerEntry;
    to.per_name_byte = from.cbPerNameByte;
    to.per_name_unit = from.cbPerNameUnit;
    to.name_units_max = from.cchNameUnitsMax;
    to.per_folder = from.cbPerFolder;
    to.per_medium = from.cbPerMedium;
    to.per_folder_name_byte = from.cbPerFolderNameByte;
    to.per_folder_name_unit = from.cbPerFolderNameUnit;
    to.per_link_target_byte = from.cbPerLinkTargetByte;
    to.link_target_max = from.cchLinkTargetMax;
    to.header_name = from.cchHeaderName;
    to.header_prefix = from.cchHeaderPrefix;
    to.per_ext_header = from.cbPerExtHeader;
    to.per_ext_header_byte = from.cbPerExtHeaderByte;
    to.ext_header_records = from.cbExtHeaderRecords;
    to.record_name_bytes = from.cchRecordNameBytes;
    to.flags = from.dwFlags;
    to.per_short_name_byte = from.cbPerShortNameByte;
    to.short_name_max = from.cchShortNameMax;
}

}  // namespace

extern "C" {

QVS_API uint32_t QVS_CALL qvs_version(void) {
    return (QVS_VERSION_MAJOR << 16) | (QVS_VERSION_MINOR << 8) | QVS_VERSION_PATCH;
}

QVS_API const char* QVS_CALL qvs_status_text(int status) {
    switch (status) {
        case QVS_OK: return "success";
        case QVS_E_ARGUMENT: return "invalid argument";
        case QVS_E_MEMORY: return "out of memory";
        case QVS_E_STATE: return "no split is set up";
        case QVS_E_SETUP: return "the split could not be set up";
        case QVS_E_REFUSED: return "the split was refused";
        case QVS_E_FAILED: return "the split failed";
        case QVS_E_CANCELLED: return "cancelled";
        case QVS_E_RANGE: return "no such entry";
    }
    return "unknown status";
}

QVS_API int QVS_CALL qvs_create(qvs_split** split) {
    if (!split) return QVS_E_ARGUMENT;
    *split = nullptr;
    std::unique_ptr<qvs_split> s(new (std::nothrow) qvs_split);
    if (!s) return QVS_E_MEMORY;
    s->split.reset(GetQvSplitInterface());
    if (!s->split) return QVS_E_MEMORY;
    *split = s.release();
    return QVS_OK;
}

QVS_API void QVS_CALL qvs_free(qvs_split* split) {
    if (!split) return;
    std::lock_guard<std::mutex> lock(g_operationMutex);
    if (g_setUp == split) g_setUp = nullptr;
    delete split;
}

QVS_API int QVS_CALL qvs_set_progress(qvs_split* split, qvs_progress_fn progress, void* user) {
    if (!split) return QVS_E_ARGUMENT;
    split->progress = progress;
    split->progressUser = user;
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_setup_file(qvs_split* split, const char* rules_file, const qvs_options* options) {
    return SetupFile(split, rules_file, options);
}

QVS_API int QVS_CALL qvs_setup_fileW(qvs_split* split, const wchar_t* rules_file, const qvs_optionsW* options) {
    return SetupFile(split, rules_file, options);
}

QVS_API int QVS_CALL qvs_setup_rules(qvs_split* split, const qvs_rule* rules, size_t count, size_t rule_size,
                                     const qvs_options* options) {
    return SetupRules(split, rules, count, rule_size, options);
}

QVS_API int QVS_CALL qvs_setup_rulesW(qvs_split* split, const qvs_ruleW* rules, size_t count, size_t rule_size,
                                      const qvs_optionsW* options) {
    return SetupRules(split, rules, count, rule_size, options);
}

QVS_API int QVS_CALL qvs_run(qvs_split* split, uint32_t* media_count) {
    if (media_count) *media_count = 0;
    return Run(split, [&](qvs_split& s) {
        // The rules catalogue holds another handle's setup, or none: the split would not be
        // this handle's, nor would what the library last reported.
        if (g_setUp != &s) {
            s.results = Results();
            s.results.errors.push_back(Both(L"qvs_run: no split is set up on this handle (its setup failed, was used by a split, or another handle's setup replaced it)"));
            return QVS_E_STATE;
        }
        // A split empties the rules catalogue: the next one needs a setup of its own.
        g_setUp = nullptr;
        s.itemList = false;
        const DWORD media = s.split->EstimateSplit();
        if (media_count) *media_count = media;
        if (media == 0 && !s.cancelled) {
            // Nothing new or changed since the sets followed is a plan of no media, not a failure.
            QvRefusal refusal{};
            refusal.cbSize = sizeof refusal;
            if (QvGetRefusal(&refusal) && refusal.dwCode == QvRefusedNothingChanged) return QVS_OK;
        }
        return media != 0 ? QVS_OK : Failure(s);
    });
}

QVS_API int QVS_CALL qvs_split_items(qvs_split* split, const qvs_rule* items, size_t count, size_t rule_size,
                                     const qvs_options* options, int save_media, uint32_t* media_count) {
    return SplitItems(split, items, count, rule_size, options, save_media, media_count);
}

QVS_API int QVS_CALL qvs_split_itemsW(qvs_split* split, const qvs_ruleW* items, size_t count, size_t rule_size,
                                      const qvs_optionsW* options, int save_media, uint32_t* media_count) {
    return SplitItems(split, items, count, rule_size, options, save_media, media_count);
}

QVS_API int QVS_CALL qvs_items_total(qvs_split* split, int64_t* bytes) {
    if (!split || !bytes) return QVS_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(g_operationMutex);
    *bytes = split->split->GetTotalSize();
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_set_cutting(qvs_split* split, int on, uint32_t part_size_mb, const char* part_list) {
    return SetCutting(split, on, part_size_mb, part_list);
}

QVS_API int QVS_CALL qvs_set_cuttingW(qvs_split* split, int on, uint32_t part_size_mb, const wchar_t* part_list) {
    return SetCutting(split, on, part_size_mb, part_list);
}

QVS_API int QVS_CALL qvs_recover(qvs_split* split, char drive, const char* part_list) {
    return Recover(split, drive, part_list);
}

QVS_API int QVS_CALL qvs_recoverW(qvs_split* split, wchar_t drive, const wchar_t* part_list) {
    return Recover(split, drive, part_list);
}

QVS_API int QVS_CALL qvs_set_model(qvs_split* split, const qvs_model* model) {
    if (!split || (model && model->struct_size < sizeof(qvs_model))) return QVS_E_ARGUMENT;
    split->model = QvAllocationModel{};
    if (model) CopyModel(*model, split->model);
    // A model of no terms at all is the preset "none": file bytes only.
    split->modelSet = model != nullptr && HasTerms(*model);
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_set_model_preset(qvs_split* split, const char* name) {
    if (!split || !name) return QVS_E_ARGUMENT;
    if (std::strcmp(name, "none") == 0) return qvs_set_model(split, nullptr);
    QvAllocationModel model;
    if (!QvGetModelPreset(name, &model)) return QVS_E_ARGUMENT;
    split->model = model;
    split->modelSet = true;
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_get_model_preset(const char* name, qvs_model* model) {
    if (!name || !model || model->struct_size < sizeof(qvs_model)) return QVS_E_ARGUMENT;
    QvAllocationModel preset{};
    if (std::strcmp(name, "none") != 0 && !QvGetModelPreset(name, &preset)) return QVS_E_ARGUMENT;
    CopyModel(preset, *model);
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_disc_size(const char* name, uint32_t* split_size_mb, uint64_t* capacity_bytes) {
    const uint64_t sectors = QvGetDiscSectors(name);
    if (sectors == 0) return QVS_E_ARGUMENT;
    if (split_size_mb) *split_size_mb = static_cast<uint32_t>(sectors * 2048 / 1048576);
    if (capacity_bytes) *capacity_bytes = sectors * 2048;
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_media_count(const qvs_split* split, uint32_t* count) {
    if (!split || !count) return QVS_E_ARGUMENT;
    *count = static_cast<uint32_t>(split->results.media.size());
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_get_medium(const qvs_split* split, uint32_t index, qvs_medium* medium) {
    return GetMedium<char>(split, index, medium);
}

QVS_API int QVS_CALL qvs_get_mediumW(const qvs_split* split, uint32_t index, qvs_mediumW* medium) {
    return GetMedium<wchar_t>(split, index, medium);
}

QVS_API int QVS_CALL qvs_entry_count(const qvs_split* split, uint32_t medium_index, uint32_t* count) {
    if (!split || !count) return QVS_E_ARGUMENT;
    int status = QVS_OK;
    try {
        const std::vector<EntryCopy>* entries = EntriesOf(*split, medium_index, status);
        if (!entries) return status;
        *count = static_cast<uint32_t>(entries->size());
        return QVS_OK;
    } catch (const std::bad_alloc&) {
        return QVS_E_MEMORY;
    }
}

QVS_API int QVS_CALL qvs_get_entry(const qvs_split* split, uint32_t medium_index, uint32_t index, qvs_entry* entry) {
    return GetEntry<char>(split, medium_index, index, entry);
}

QVS_API int QVS_CALL qvs_get_entryW(const qvs_split* split, uint32_t medium_index, uint32_t index,
                                    qvs_entryW* entry) {
    return GetEntry<wchar_t>(split, medium_index, index, entry);
}

QVS_API int QVS_CALL qvs_planned_bytes(const qvs_split* split, int64_t* bytes) {
    if (!split || !bytes) return QVS_E_ARGUMENT;
    *bytes = split->results.plannedBytes;
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_left_out_count(const qvs_split* split, uint32_t* count) {
    if (!split || !count) return QVS_E_ARGUMENT;
    *count = static_cast<uint32_t>(split->results.leftOut.size());
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_get_left_out(const qvs_split* split, uint32_t index, qvs_left_out* entry) {
    return GetLeftOut<char>(split, index, entry);
}

QVS_API int QVS_CALL qvs_get_left_outW(const qvs_split* split, uint32_t index, qvs_left_outW* entry) {
    return GetLeftOut<wchar_t>(split, index, entry);
}

QVS_API int QVS_CALL qvs_dropped_rule_count(const qvs_split* split, uint32_t* count) {
    if (!split || !count) return QVS_E_ARGUMENT;
    *count = static_cast<uint32_t>(split->results.dropped.size());
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_get_dropped_rule(const qvs_split* split, uint32_t index, qvs_dropped_rule* rule) {
    return GetDroppedRule<char>(split, index, rule);
}

QVS_API int QVS_CALL qvs_get_dropped_ruleW(const qvs_split* split, uint32_t index, qvs_dropped_ruleW* rule) {
    return GetDroppedRule<wchar_t>(split, index, rule);
}

QVS_API int QVS_CALL qvs_get_refusal(const qvs_split* split, qvs_refusal* refusal) {
    return GetRefusal<char>(split, refusal);
}

QVS_API int QVS_CALL qvs_get_refusalW(const qvs_split* split, qvs_refusalW* refusal) {
    return GetRefusal<wchar_t>(split, refusal);
}

QVS_API int QVS_CALL qvs_add_since(qvs_split* split, const char* set) { return AddSince(split, set); }

QVS_API int QVS_CALL qvs_add_sinceW(qvs_split* split, const wchar_t* set) { return AddSince(split, set); }

QVS_API int QVS_CALL qvs_clear_since(qvs_split* split) {
    if (!split) return QVS_E_ARGUMENT;
    std::lock_guard<std::mutex> lock(g_operationMutex);
    split->since.clear();
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_get_changes(const qvs_split* split, qvs_changes* changes) {
    if (!split || !changes || changes->struct_size < sizeof(qvs_changes)) return QVS_E_ARGUMENT;
    *changes = split->results.changes;
    changes->struct_size = sizeof(qvs_changes);
    return QVS_OK;
}

QVS_API int QVS_CALL qvs_deleted_count(const qvs_split* split, uint32_t* count) {
    return CountOf(split, &Results::deleted, count);
}

QVS_API int QVS_CALL qvs_get_deleted(const qvs_split* split, uint32_t index, const char** path) {
    return GetText(split, &Results::deleted, index, path);
}

QVS_API int QVS_CALL qvs_get_deletedW(const qvs_split* split, uint32_t index, const wchar_t** path) {
    return GetText(split, &Results::deleted, index, path);
}

QVS_API int QVS_CALL qvs_error_count(const qvs_split* split, uint32_t* count) {
    return CountOf(split, &Results::errors, count);
}

QVS_API int QVS_CALL qvs_get_error(const qvs_split* split, uint32_t index, const char** text) {
    return GetText(split, &Results::errors, index, text);
}

QVS_API int QVS_CALL qvs_get_errorW(const qvs_split* split, uint32_t index, const wchar_t** text) {
    return GetText(split, &Results::errors, index, text);
}

QVS_API int QVS_CALL qvs_cut_file_count(const qvs_split* split, uint32_t* count) {
    return CountOf(split, &Results::cutFiles, count);
}

QVS_API int QVS_CALL qvs_get_cut_file(const qvs_split* split, uint32_t index, const char** path) {
    return GetText(split, &Results::cutFiles, index, path);
}

QVS_API int QVS_CALL qvs_get_cut_fileW(const qvs_split* split, uint32_t index, const wchar_t** path) {
    return GetText(split, &Results::cutFiles, index, path);
}

}  // extern "C"
