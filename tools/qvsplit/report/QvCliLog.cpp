// Where the library's log goes, and what the library reports back after a run.
#include "report/QvCliLog.h"

#include "system/QvCliPaths.h"
#include "system/QvCliShown.h"
#include "system/QvCliSystem.h"

#include <QvSplit.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

QvCliLogSession::QvCliLogSession(const std::string& logFile) {
    // The library reads QVSPLIT_LOG when it writes its first record; --log overrides it. What
    // the program shows (files left out, why a split failed) comes from the library's report,
    // whatever the log keeps.
    if (!logFile.empty()) QvCliSetEnv("QVSPLIT_LOG", logFile);
}

namespace {

// The user's words for a reason the library gives.
const char* LeftOutReason(DWORD reason) {
    switch (reason) {
        case QvLeftOutTooBig: return "larger than a medium; --cut-big would cut it into parts";
        case QvLeftOutUnreadable: return "folder cannot be read (permission denied?)";
        case QvLeftOutSpecialFile: return "pipe, socket or device: no file to copy";
        case QvLeftOutNameTooLong: return "name longer than Windows allows";
        case QvLeftOutSystemFolder: return "system folder";
        case QvLeftOutVanished: return "gone during the scan";
        case QvLeftOutMediaLimit: return "beyond medium 100, the last an item-list split makes";
        case QvLeftOutLinkTarget: return "link target longer than the file system can store";
    }
    return "left out";
}

}  // namespace

std::vector<QvCliLeftOutRecord> QvCliLeftOutFiles() {
    std::vector<QvCliLeftOutRecord> out;
    const DWORD count = QvGetLeftOutCount();
    for (DWORD i = 0; i < count; ++i) {
        LPCTSTR path = nullptr;
        int64_t size = 0;
        DWORD reason = 0;
        if (!QvGetLeftOut(i, &path, &size, &reason) || !path) continue;
        QvCliLeftOutRecord r;
        r.path = path;
        r.size = size;
        r.reason = LeftOutReason(reason);
        out.push_back(std::move(r));
    }
    // In path order, whatever order the walks met them in.
    std::sort(out.begin(), out.end(),
              [](const QvCliLeftOutRecord& a, const QvCliLeftOutRecord& b) { return a.path < b.path; });
    return out;
}

std::vector<QvCliDroppedRule> QvCliDroppedRules() {
    std::vector<QvCliDroppedRule> out;
    const DWORD count = QvGetDroppedRuleCount();
    for (DWORD i = 0; i < count; ++i) {
        int32_t id = 0;
        LPCTSTR path = nullptr;
        DWORD reason = 0;
        if (!QvGetDroppedRule(i, &id, &path, &reason)) continue;
        QvCliDroppedRule r;
        r.rule = id;
        r.path = path ? QvCliToHostPath(path) : std::string();
        switch (reason) {
            case QvRuleNotFound: r.reason = "path not found"; break;
            case QvRuleEmptyPath: r.reason = "empty path"; break;
            case QvRuleAlreadyEverywhere: r.reason = "already on every medium by an earlier rule for the same path"; break;
            default: r.reason = "dropped";
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<QvCliLeftOut> QvCliShownLeftOut(const std::vector<QvCliLeftOutRecord>& records) {
    std::vector<QvCliLeftOut> out;
    for (const QvCliLeftOutRecord& r : records) {
        QvCliLeftOut l;
        l.path = QvCliToHostPath(r.path);
        l.size = r.size < 0 ? 0 : static_cast<uint64_t>(r.size);
        l.sizeKnown = r.size >= 0;
        l.reason = r.reason;
        out.push_back(std::move(l));
    }
    return out;
}

std::vector<std::string> QvCliLibraryErrors() {
    std::vector<std::string> errors;
    for (DWORD i = 0; LPCTSTR text = QvGetErrorText(i); ++i) errors.push_back(QvCliNarrow(text));
    return errors;
}

namespace {

// The refusals the library reports, in the words a user needs.
const char* RefusalSentence(DWORD code) {
    switch (code) {
        case QvRefusedWimTooBig: return "a .wim image is larger than a medium and cannot be cut";
        case QvRefusedFileTooBig: return "a file is larger than a medium (use --cut-big to cut it)";
        case QvRefusedFirstSet: return "what must go on the first medium does not fit on one medium";
        case QvRefusedFirstWithAll:
            return "the first-medium files plus the every-medium files do not fit on one medium";
        case QvRefusedBigWithAll: return "the largest file plus the every-medium files do not fit on one medium";
        case QvRefusedFirstWithFree:
            return "the first-medium files plus the space kept free do not fit on one medium";
        case QvRefusedLastSet: return "what must go on the last medium does not fit on one medium";
        case QvRefusedLastWithAll:
            return "the last-medium files plus the every-medium files do not fit on one medium";
        case QvRefusedGroup: return "a group of files that must stay together is larger than a medium";
        case QvRefusedGroupWithAll:
            return "a group of files that must stay together plus the every-medium files do not fit on one medium";
        case QvRefusedItemNoRoom: return "an item does not fit on one medium, alone or beside the every-medium items";
        case QvRefusedNothingSelected: return "nothing was selected: the paths hold no file";
        case QvRefusedAllLeftOut: return "everything selected is left out";
    }
    return nullptr;
}

}  // namespace

QvCliCause QvCliLibraryCause() {
    QvCliCause cause;
    QvRefusal refusal{};
    refusal.cbSize = sizeof refusal;
    if (QvGetRefusal(&refusal))
        if (const char* sentence = RefusalSentence(refusal.dwCode)) {
            cause.sentence = sentence;
            cause.message = refusal.pszMessage ? QvCliNarrow(refusal.pszMessage) : std::string();
            return cause;
        }
    // Not a refusal: the first error is the cause; those after it are the callers giving up
    // in turn.
    const std::vector<std::string> errors = QvCliLibraryErrors();
    cause.sentence = errors.empty() ? "the library recorded no error message (run with --log FILE for its trace)"
                                    : errors.front();
    return cause;
}

std::string QvCliExplain() {
    const QvCliCause cause = QvCliLibraryCause();
    // The library's words may quote a name: shown as a terminal may take them.
    const std::string sentence = QvCliShownMessage(cause.sentence);
    return cause.message.empty() ? sentence : sentence + "\n  (" + QvCliShownMessage(cause.message) + ")";
}

QvCliMediaSet QvCliReportedMediaSet(const std::string& dir, const char* nameFormat) {
    QvCliMediaSet set;
    set.dir = dir;
    const DWORD count = QvGetMediaCount();
    for (DWORD i = 0; i < count; ++i) {
        QvMediumReport r{};
        r.cbSize = sizeof r;
        if (!QvGetMedium(i, &r)) continue;
        QvCliMedium m;
        char name[32];
        std::snprintf(name, sizeof name, nameFormat, static_cast<unsigned>(r.dwNumber));
        m.fileName = name;
        m.number = static_cast<int>(r.dwNumber);
        m.mediaSize = static_cast<uint64_t>(r.iFileBytes);
        m.dataSize = r.iDataBytes > 0 ? static_cast<uint64_t>(r.iDataBytes) : 0;
        m.imageSize = r.iImageBytes > 0 ? static_cast<uint64_t>(r.iImageBytes) : 0;
        m.numberFiles = r.dwFiles;
        m.hasNumberFiles = true;
        m.entryCount = r.dwEntries;
        set.media.push_back(std::move(m));
    }
    set.distinctBytes = static_cast<uint64_t>(QvGetPlannedBytes());
    return set;
}
