// Opening a folder for a catalogue walk, with what it cannot plan reported.
#include "catalog/QvTreeWalk.h"

#include "common/QvSplitRun.h"

namespace {

DWORD LeftOutReasonOfSkipped(DWORD dwSkipped) {
    switch (dwSkipped) {
        case qvp::QV_FIND_SKIPPED_NAME_TOO_LONG: return QvLeftOutNameTooLong;
        case qvp::QV_FIND_SKIPPED_VANISHED: return QvLeftOutVanished;
        default: return QvLeftOutSpecialFile;
    }
}

// Whether a failed listing hides something: not when nothing matched, nor for a folder a walk
// is already inside (a link loop while links are followed; its files come the first way in).
bool HidesEntries(DWORD dwError) {
    return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_NO_MORE_FILES &&
           dwError != ERROR_CANT_RESOLVE_FILENAME;
}

void ReportOpenFailure(const std::wstring& strBase, DWORD dwError) {
    std::wstring strFolder = strBase;
    if (strFolder.size() > 1 && strFolder.back() == L'\\') strFolder.pop_back();
    const DWORD dwReason = dwError == ERROR_PATH_NOT_FOUND ? QvLeftOutVanished : QvLeftOutUnreadable;
    QvSplitRun::Current().leftOut.Add(strFolder, -1, dwReason);
}

}  // namespace

HANDLE QvOpenCatalogWalk(const std::wstring& strFolder, WIN32_FIND_DATAW& fd, bool bReport,
                         bool* pbIncomplete) {
    std::wstring strBase = strFolder;
    if (strBase.empty() || strBase.back() != L'\\') strBase += L'\\';
    const std::wstring strPattern = strBase + L"*.*";
    HANDLE hFind = qvp::FindFirstFileW(strPattern.c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        const DWORD dwError = qvp::GetLastError();
        // A folder the walk is already inside is planned the first way in, not again here; a
        // folder holding it cannot be kept whole, which would bring it along a second time.
        if (dwError == ERROR_CANT_RESOLVE_FILENAME && pbIncomplete) *pbIncomplete = true;
        if (!HidesEntries(dwError)) return hFind;
        if (pbIncomplete) *pbIncomplete = true;
        if (bReport) ReportOpenFailure(strBase, dwError);
        qvp::SetLastError(dwError);
        return hFind;
    }
    std::wstring strName;
    DWORD dwSkipped = 0;
    for (DWORD i = 0; qvp::FindSkippedEntry(hFind, i, strName, dwSkipped); ++i) {
        if (pbIncomplete) *pbIncomplete = true;
        if (bReport) QvSplitRun::Current().leftOut.Add(strBase + strName, -1, LeftOutReasonOfSkipped(dwSkipped));
    }
    return hFind;
}
