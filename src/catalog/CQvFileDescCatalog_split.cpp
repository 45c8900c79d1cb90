// The catalogue's hand-over to the media factory: validate when needed, write the media, empty.
#include "catalog/CQvFileDescCatalog.h"

#include "bigfile/CQvSplitBigFile.h"
#include "common/QvSinceChain.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "media/CQvMediaFactory.h"

#include <cstring>
#include <utility>

DWORD CQvFileDescCatalog::SplitIntoMedias(LPCTSTR strDispFlag, DWORD dwType, DWORD dwSplitMB,
                                          DWORD dwFirstMediaFreeSpaceSize, DWORD dwOutputMethod,
                                          LPCTSTR strOutputDir, SPLITCB lpCallback,
                                          LPVOID lpParam) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvFileDescCatalog::SplitIntoMedias(LPCTSTR strDispFlag=%s, DWORD dwType=%d, DWORD "
        L"dwSplitSize=%d, DWORD dwFirstMediaFreeSpaceSize=%d, DWORD dwOutputMethod=%d, LPCTSTR "
        L"strOutputDir=%s)",
        strDispFlag, dwType, dwSplitMB, dwFirstMediaFreeSpaceSize, dwOutputMethod,
        strOutputDir);
    // Parameter names differ from the members they are stored in (lpCB, dwSplitSize).
    dwSplitSize = dwSplitMB;
    lpCB = lpCallback;
    lpUserParam = lpParam;
    SetOutputFolder(strOutputDir);
    if (pMediaFactory == NULL) pMediaFactory = CQvMediaFactory::GetInstance();
    if (pRulesFactory == NULL) pRulesFactory = CQvRulesFactory::GetInstance();
    DWORD dwResult = 0;
    if (pMediaFactory == NULL || pRulesFactory == NULL) {
        ResetFileCatalog();
        return log->ExitFunction(dwResult);
    }
    pMediaFactory->SetMediaFactoryCB(lpCallback, lpParam);
    // The caller's callback and its data live only as long as this call: the factory must not
    // call them again from a later run started another way.
    struct CallbackReset {
        CQvMediaFactory* pFactory;
        ~CallbackReset() { pFactory->SetMediaFactoryCB(NULL, NULL); }
    } resetAtEnd{pMediaFactory};
    bool bReady = true;
    if (mpFileDescInAll.empty() && mpFileDescInAny.empty() && mpFileDescInFirst.empty() &&
        mpFileDescInLast.empty() &&
        ValidateSplitSize(dwSplitMB, dwFirstMediaFreeSpaceSize, dwOutputMethod) < 0) {
        log->AddError(L"DWORD CQvFileDescCatalog::SplitIntoMedias(LPCTSTR strDispFlag=%s, DWORD "
                      L"dwType=%d, DWORD dwSplitSize=%d, DWORD dwFirstMediaFreeSpaceSize=%d, "
                      L"DWORD dwOutputMethod=%d, LPCTSTR strOutputDir=%s)",
                      strDispFlag, dwType, dwSplitMB, dwFirstMediaFreeSpaceSize,
                      dwOutputMethod, strOutputDir);
        bReady = false;
    }
    // A set's deletions belong to it alone: one left by an earlier split in the folder goes.
    if (strOutputDir && *strOutputDir) QvRemoveDeletedList(strOutputDir);
    if (bReady && !QvSinceChain::Instance().Empty()) {
        const QvChangeCounts& changes = QvSplitRun::Current().changes;
        if (!QvSplitRun::Current().deleted.empty() && strOutputDir && *strOutputDir &&
            !QvWriteDeletedList(strOutputDir, QvSplitRun::Current().deleted)) {
            log->AddError(L"CQvFileDescCatalog::SplitIntoMedias(...) FAILED to write the deleted files' list in %s",
                          strOutputDir);
            bReady = false;
        } else if (changes.iNew + changes.iChanged == 0) {
            log->AddInfo(L"CQvFileDescCatalog::SplitIntoMedias(...) nothing new or changed since the sets followed");
            QvSplitRun::Current().report.Refuse(QvRefusedNothingChanged);
            bReady = false;
        }
    }
    if (bReady) {
        RefreshPartListEntries();
        // The catalogue is emptied right after, so the maps are handed over, not copied.
        dwResult = pMediaFactory->CreateMediaFiles(
            strOutputDir, strDispFlag, dwType, dwSplitMB, dwFirstMediaFreeSpaceSize,
            pRulesFactory->GetGroupIDCount(), std::move(mpFileDescInAll),
            std::move(mpFileDescInAny), std::move(mpFileDescInFirst), std::move(mpFileDescInLast),
            std::move(mpFileDescNotFirst), std::move(mpFileDescNotLast));
    }
    ResetFileCatalog();
    return log->ExitFunction(dwResult);
}

// The part list lies in the selection when it is written inside a folder being split, and was
// listed before the cuts wrote their lines into it: its entries take the size and time it has
// now, or the media would be sized for the list as it was.
void CQvFileDescCatalog::RefreshPartListEntries() {
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    const CQvString strList = pSplitter ? pSplitter->GetPartListPath() : CQvString();
    if (strList.IsEmpty()) return;
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    if (!qvp::GetFileAttributesExW(strList, GetFileExInfoStandard, &data)) return;
    QvFileDescMap* maps[] = {&mpFileDescInAll, &mpFileDescInAny, &mpFileDescInFirst,
                             &mpFileDescInLast, &mpFileDescNotFirst, &mpFileDescNotLast};
    for (QvFileDescMap* pMap : maps)
        for (auto& entry : *pMap) {
            FileDesc& desc = entry.second;
            if (desc.strFilePath != strList || qvp::IsFolderToEnter(desc.dwAttributes)) continue;
            desc.iFileSize = (static_cast<int64_t>(data.nFileSizeHigh) << 32) + data.nFileSizeLow;
            desc.strWriteTime = LocalWriteTime(data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime);
        }
}
