// Building the catalogue from the rules, sizing the location maps, cutting oversize files, and
// accepting or refusing the split size.
#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "catalog/QvTreeWalk.h"
#include "common/QvAllocation.h"
#include "common/QvFileDescKeys.h"
#include "common/QvSinceChain.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "media/CQvMediaFactory.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const int64_t kMegabyte = 1048576;

// kBigFit: the biggest entry placed by first-fit (any-medium outside groups, not-first and
// not-last entries), which must find room beside the every-medium set; -1 when there is none
// (an empty file is one, and needs the every-medium set to leave room all the same).
enum SizeIndex { kBig, kFirst, kLast, kGroup, kAll, kBigFit, kSizeCount };

bool IsDirectory(LPCTSTR strPath) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    return qvp::GetFileAttributesExW(strPath, GetFileExInfoStandard, &data) &&
           qvp::IsFolderToEnter(data.dwFileAttributes);
}

DWORD LocationBits(const MediaDescriptEnumVector& vtLocations) {
    DWORD dwBits = 0;
    for (MediaDescriptEnum location : vtLocations)
        if (location >= 1 && location <= 6) dwBits |= QvLocationBit(location);
    return dwBits;
}

bool IsSplitOn() {
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    return pSplitter && pSplitter->IsSplitBigFileOn();
}

}  // namespace

void CQvFileDescCatalog::StartBuildCache() {
    m_mpDirSizeCache.clear();
    m_mpComparedFolderCache.clear();
    m_bBuildCacheOn = true;
}

void CQvFileDescCatalog::EndBuildCache() {
    m_bBuildCacheOn = false;
    m_pathLastFolder = CQvPathText();
    m_strLastFolder.clear();
    m_mpDirSizeCache.clear();
    m_mpComparedFolderCache.clear();
}

long CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize,
                                           DWORD dwOutputMethod) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=%d, DWORD "
                       L"dwFirstMediaFreeSpaceSize=%d, DWORD dwOutputMethod=%d)",
                       dwSplit, dwFirstMediaFreeSpaceSize, dwOutputMethod);
    bWimTooBig = FALSE;
    m_bStopRequested = false;
    QvSplitRun::Current().leftOut.Clear();
    dwSplitSize = dwSplit;
    StartBuildCache();
    // The walk and the checks of what it found see the whole medium; the catalogue's room is
    // known only once the selection is.
    QvSplitRun::Current().catalogRoom = QvCatalogRoom{};
    // Earlier sets list files, not folders kept whole: a split that follows them is made file
    // by file, so that each file is judged against its record.
    const bool bFollowing = !QvSinceChain::Instance().Empty();
    if (bFollowing && dwOutputMethod == 1) {
        log->AddInfo(L"CQvFileDescCatalog::ValidateSplitSize(...) following earlier sets: planned file by file");
        dwOutputMethod = 0;
    }
    if (dwOutputMethod == 0)
        BuildFilesOneByOne();
    else if (dwOutputMethod == 1)
        BuildDirsKeptWhole(dwSplit);
    DropEntriesPlacedElsewhere();
    if (bFollowing && !m_bStopRequested) {
        KeepOnlyChanges();
        const QvChangeCounts& changes = QvSplitRun::Current().changes;
        if (changes.iRecorded > 0 && !QvSinceChain::Instance().AnySeen() && changes.iNew > 0 && !SelectionRecorded()) {
            EndBuildCache();
            log->AddError(L"CQvFileDescCatalog::ValidateSplitSize(...) FAILED the sets followed record none of the "
                          L"%d files selected: they are sets of other files",
                          static_cast<int>(changes.iNew));
            QvSplitRun::Current().report.Refuse(QvRefusedOtherSelection);
            return log->ExitFunction(static_cast<long>(E_FAIL));
        }
    }
    if (!m_bStopRequested) KeepRoomForCatalog(dwSplit);
    if (dwOutputMethod == 1) SplitFoldersBesideEveryMedium(dwSplit);
    if (bWimTooBig) {
        EndBuildCache();
        log->AddError(L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=%d)FAILED WIM "
                      L"size too big",
                      dwSplit);
        QvSplitRun::Current().report.Refuse(QvRefusedWimTooBig, -1, static_cast<int64_t>(dwSplit) * kMegabyte);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    if (m_bStopRequested) {
        // Before the size check, which may cut files: a stopped split changes nothing.
        EndBuildCache();
        log->AddError(L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    const long hrBefore = CheckBeforeCutting(dwSplit, dwFirstMediaFreeSpaceSize);
    if (hrBefore < 0) {
        EndBuildCache();
        return log->ExitFunction(hrBefore);
    }
    int64_t aiSize[kSizeCount] = {0, 0, 0, 0, 0, 0};
    const int64_t iTotal =
        CheckSize(dwSplit, aiSize[kBig], aiSize[kFirst], aiSize[kLast], aiSize[kGroup], aiSize[kAll]);
    aiSize[kBigFit] = m_iSizeBigFit;
    EndBuildCache();
    if (pMediaFactory) pMediaFactory->m_iTotalSize = iTotal;
    DropCatalogRoomThatRefuses(dwSplit, dwFirstMediaFreeSpaceSize, aiSize);
    if (StopRequested()) {
        log->AddError(L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    int64_t aiMB[kSizeCount];
    for (int i = 0; i < kSizeCount; ++i) aiMB[i] = aiSize[i] / kMegabyte;
    log->AddInfo(L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=%dMB) "
                 L"iSizeBigFile=%dMB iSizeFirst=%dMB iSizeLast=%dMB iSizeGroup=%dMB "
                 L"iSizeAll=%dMB",
                 dwSplit, aiMB[kBig], aiMB[kFirst], aiMB[kLast], aiMB[kGroup], aiMB[kAll]);
    log->AddInfo(L"CQvFileDescCatalog::ValidateSplitSize(...) iSizeBigFile=%dMB FileName= %s",
                 aiMB[kBig], strBigFileName);
    return log->ExitFunction(RunSizeChecks(dwSplit, dwFirstMediaFreeSpaceSize, aiSize));
}

long CQvFileDescCatalog::CheckBeforeCutting(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize) {
    if (!IsSplitOn()) return S_OK;
    int64_t aiSize[kSizeCount] = {0, 0, 0, 0, 0, 0};
    m_bSizingOnly = true;
    CheckSize(dwSplit, aiSize[kBig], aiSize[kFirst], aiSize[kLast], aiSize[kGroup], aiSize[kAll]);
    aiSize[kBigFit] = m_iSizeBigFit;
    m_bSizingOnly = false;
    const long hr = RunSizeChecks(dwSplit, dwFirstMediaFreeSpaceSize, aiSize);
    if (hr < 0) return hr;
    if (StopRequested()) {
        CQvLog::GetInstance()->AddError(L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request");
        return E_ABORT;
    }
    return S_OK;
}

bool CQvFileDescCatalog::SelectionRecorded() {
    QvRules mpInclude;
    if (pRulesFactory) pRulesFactory->GetIncludeRules(mpInclude);
    std::vector<std::wstring> roots;
    for (auto& rule : mpInclude) {
        CQvPathString strPath(rule.second->GetPath());
        roots.push_back(strPath.str());
    }
    return QvSinceChain::Instance().RecordsBelow(roots);
}

void CQvFileDescCatalog::BuildFilesOneByOne() {
    QvRules mpInclude;
    if (pRulesFactory) pRulesFactory->GetIncludeRules(mpInclude);
    for (auto& rule : mpInclude) {
        QvSplitRun::Current().leftOut.SetLocations(LocationBits(rule.second->vtInclude));
        AddToMediaCatalog(rule.second);
    }
    QvSplitRun::Current().leftOut.SetLocations(0);
    ApplyExcludeRules();
}

namespace {

// Whether a file cannot stand on an empty medium of iLimit bytes (under a model: with the
// medium's structures and the folders it needs), so that it must be cut or left out.
bool TooBigForMedium(const FileDesc& entry, int64_t iLimit) {
    return !qvalloc::FitsEmptyMedium(qvalloc::EntryCost(entry), entry,
                                     static_cast<DWORD>(iLimit / kMegabyte));
}

// The name a part of a cut file gets: the file's, a time stamp and the part number.
std::wstring PartName(const FileDesc& entry) {
    std::wstring name = entry.strFilePath.str();
    const size_t slash = name.rfind(L'\\');
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    return name + L".00000000000000.Part000";
}

// Whether folder, ignoring letter case, is path itself or a path below it.
bool CoversPath(const CQvString& folder, LPCTSTR path) {
    CQvString strFolder(folder);
    CQvString strPath(path);
    strFolder.MakeLower();
    strPath.MakeLower();
    const std::wstring& f = strFolder.str();
    const std::wstring& p = strPath.str();
    if (f.compare(0, p.size(), p) != 0) return false;
    return f.size() == p.size() || f[p.size()] == L'\\';
}

}  // namespace

void CQvFileDescCatalog::BuildDirsKeptWhole(DWORD dwSplit) {
    QvRules mpInclude;
    QvRules mpExclude;
    if (pRulesFactory) {
        pRulesFactory->GetIncludeRules(mpInclude);
        pRulesFactory->GetExcludeRules(mpExclude);
    }
    CQvString strFolder;
    bool bIsDir = false;
    for (auto& include : mpInclude) {
        CQvPathRules* pRule = include.second;
        QvSplitRun::Current().leftOut.SetLocations(LocationBits(pRule->vtInclude));
        CQvPathString strPath(pRule->GetPath());
        const bool bDirRule = IsDirectory(strPath);
        strPath.RemoveBackslash();
        bool bReached = false;
        for (auto& exclude : mpExclude) {
            ComparedFolder(exclude.second, strFolder, bIsDir);
            CQvPathString strCompared(strFolder);
            if (bDirRule) strCompared.RemoveBackslash();
            // For a file rule a bare substring test would also leave the file out for an
            // unrelated exclusion such as the folder "f.txt.d" beside "f.txt", losing a selected
            // file; only an exclusion at the file's own path (or below it) may take it out.
            const bool bHit = bDirRule ? Find(strCompared, strPath) != 0
                                       : CoversPath(strCompared, pRule->GetPath());
            if (bHit) {
                bReached = true;
                break;
            }
        }
        if (bDirRule && bReached)
            SplitExcludeDir(pRule, pRule->GetPath(), dwSplit);
        else if (bDirRule)
            SplitIncludeDir(pRule, pRule->GetPath(), dwSplit);
        else if (!bReached)
            AddFileToCatalog(pRule, pRule->GetPath());
    }
    QvSplitRun::Current().leftOut.SetLocations(0);
    ApplyExcludeRules();
}

namespace {

std::wstring LowerText(const std::wstring& text) {
    CQvString str(text.c_str());
    str.MakeLower();
    return str.str();
}

// Whether other, an entry at or below the path of entry from, lands in the same folder of a
// medium as it would when from brings it: a folder kept whole restores what it holds under
// its own folder, one level further down for each folder below it. Folder names of a medium
// ignore letter case.
bool LandsAlike(const FileDesc& from, const FileDesc& other) {
    std::wstring fromPath = from.strFilePath.Wide().str(), otherPath = other.strFilePath.Wide().str();
    while (fromPath.size() > 3 && fromPath.back() == L'\\') fromPath.pop_back();
    while (otherPath.size() > 3 && otherPath.back() == L'\\') otherPath.pop_back();
    std::wstring expected = from.strTargetPath.str();
    if (otherPath.size() > fromPath.size()) {
        std::wstring below = otherPath.substr(fromPath.size());
        if (!below.empty() && below.front() != L'\\') below.insert(below.begin(), L'\\');
        // A file lands in its folder; a folder is restored as itself.
        if (!qvp::IsFolderToEnter(other.dwAttributes)) below.erase(below.rfind(L'\\'));
        expected = expected == L"\\" ? below : expected + below;
        if (expected.empty()) expected = L"\\";
    }
    return LowerText(expected) == LowerText(other.strTargetPath.str());
}

}  // namespace

// A file that several maps place is placed once for each folder of the media it is restored
// to. Where two placements would put it on one medium under one folder, the more general one
// goes: every medium holds the first and the last. A placement on any medium gives way to any
// other placement, whatever its folder, as the more specific rule decides (a folder for any
// medium and a file of it for the last).
void CQvFileDescCatalog::DropEntriesPlacedElsewhere() {
    const struct {
        QvFileDescMap* pFrom;
        std::vector<QvFileDescMap*> vTo;
    } steps[] = {
        {&mpFileDescInAll,
         {&mpFileDescInFirst, &mpFileDescInLast, &mpFileDescInAny, &mpFileDescNotFirst,
          &mpFileDescNotLast}},
        // The first medium is one that is not the last, and the last one that is not the first.
        {&mpFileDescInFirst, {&mpFileDescInAny, &mpFileDescNotLast}},
        {&mpFileDescInLast, {&mpFileDescInAny, &mpFileDescNotFirst}},
        {&mpFileDescNotFirst, {&mpFileDescInAny}},
        {&mpFileDescNotLast, {&mpFileDescInAny}},
    };
    for (const auto& step : steps) {
        const bool bTargets = std::any_of(step.vTo.begin(), step.vTo.end(),
                                          [](const QvFileDescMap* p) { return !p->empty(); });
        if (step.pFrom->empty() || !bTargets) continue;
        for (const auto& entry : *step.pFrom) {
            const FileDesc& from = entry.second;
            const CQvString strPath = from.strFilePath.Wide();
            // A folder kept whole brings everything below it.
            const bool bFolder = qvp::IsFolderToEnter(from.dwAttributes);
            for (QvFileDescMap* pTo : step.vTo) {
                if (pTo == &mpFileDescInAny) {
                    QvEraseFileDesc(*pTo, strPath);
                    if (bFolder) QvEraseBelow(*pTo, strPath);
                    continue;
                }
                const QvFileDescMapIter it = QvFindFileDesc(*pTo, strPath);
                if (it != pTo->end() && LandsAlike(from, it->second)) pTo->erase(it);
                if (bFolder)
                    QvEraseBelow(*pTo, strPath, [&from](const FileDesc& other) { return LandsAlike(from, other); });
            }
        }
    }
    ForgetLastAdded();
}

namespace {

// What a folder entry takes beside others, as the distribution and the checks count it.
int64_t UnitCost(const FileDesc& desc) {
    return qvalloc::EntryCost(desc) +
           (qvalloc::On() ? qvalloc::CostOnEmptyMedium(desc) : 0);
}

}  // namespace

void CQvFileDescCatalog::SplitFoldersBesideEveryMedium(DWORD dwSplit) {
    if (mpFileDescInAll.empty() && QvSplitRun::Current().catalogRoom.cbRoom == 0) return;
    int64_t iAll = 0;
    qvalloc::FolderSet folders;
    for (const auto& entry : mpFileDescInAll)
        iAll += qvalloc::EntryCost(entry.second) + folders.Add(entry.second);
    // First-fit places a unit only while the medium stays below its size.
    const int64_t iRoom = static_cast<int64_t>(dwSplit) * kMegabyte - qvalloc::MediumCost() - iAll;
    for (QvFileDescMap* pMap : {&mpFileDescInAny, &mpFileDescNotFirst, &mpFileDescNotLast}) {
        std::vector<FileDesc> vTooBig;
        for (auto it = pMap->begin(); it != pMap->end();) {
            if (qvp::IsFolderToEnter(it->second.dwAttributes) && UnitCost(it->second) >= iRoom) {
                vTooBig.push_back(it->second);
                it = pMap->erase(it);
            } else {
                ++it;
            }
        }
        for (const FileDesc& folder : vTooBig) ExpandFolderInMap(*pMap, folder, iRoom);
    }
    ForgetLastAdded();
}

// Puts the files of a folder entry into map one by one, and its sub-folders whole where they
// fit in iRoom, with the rule, target and group the folder entry had there.
void CQvFileDescCatalog::ExpandFolderInMap(QvFileDescMap& map, const FileDesc& folder,
                                           int64_t iRoom) {
    CQvPathRules* pRule = folder.pPathRules;
    if (!pRule) return;
    size_t i = 0;
    while (i < pRule->vtInclude.size() && MapOf(pRule->vtInclude[i]) != &map) ++i;
    const CQvString strTarget = i < pRule->vtTargetPath.size() ? pRule->vtTargetPath[i] : CQvString();
    CQvPathString strBase(folder.strFilePath.Wide());
    strBase.RemoveBackslash();
    strBase.AddBackslash();
    QvWalkPolicy policy;
    policy.bReport = false;
    policy.isOutputFolder = [this](const std::wstring& s) { return IsOutputFolder(s); };
    QvWalkFolder(strBase.str(), policy, [&](const QvWalkEntry& entry) {
        if (entry.kind == QvWalkEntry::OutputFolder) return true;
        const bool bDir = entry.kind == QvWalkEntry::Folder;
        const CQvString strChild(entry.strPath.c_str());
        std::unique_ptr<FileDesc> pDesc(bDir ? CreateDirDesc(pRule, strChild, strTarget)
                                             : CreateFileDesc(pRule, strChild, strTarget));
        if (!pDesc) return true;
        pDesc->iAllTogetherGroup = folder.iAllTogetherGroup;
        if (bDir && UnitCost(*pDesc) >= iRoom) {
            ExpandFolderInMap(map, *pDesc, iRoom);
            return true;
        }
        QvInsertFileDesc(map, std::move(*pDesc));
        return true;
    });
}

void CQvFileDescCatalog::ApplyExcludeRules() {
    QvRules mpExclude;
    if (pRulesFactory) pRulesFactory->GetExcludeRules(mpExclude);
    for (auto& rule : mpExclude) {
        DeleteFromMediaCatalog(rule.second);
        // What an exclusion takes out is not missing from the plan, whatever the walks met in
        // it; but only from the locations it excludes: a file left out of another is still
        // missing there.
        const std::wstring strPath = rule.second->GetPath();
        if (strPath.find_first_of(L"*?") == std::wstring::npos)
            QvSplitRun::Current().leftOut.DropBelow(strPath, LocationBits(rule.second->vtExclude));
    }
}

// The catalogue's room, unless the caller requires it, gives way where the split would be
// refused with it and not without it.
void CQvFileDescCatalog::DropCatalogRoomThatRefuses(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize,
                                                    const int64_t* piSize) {
    QvCatalogRoom& room = QvSplitRun::Current().catalogRoom;
    bool bOn = false;
    const QvAllocationModel m = qvalloc::Model(bOn);
    if (room.cbRoom == 0 || (m.dwCatalogFlags & QvCatalogRoomRequired) != 0) return;
    if (RunSizeChecks(dwSplit, dwFirstMediaFreeSpaceSize, piSize, false) == S_OK) return;
    const QvCatalogRoom kept = room;
    room.cbRoom = 0;
    if (RunSizeChecks(dwSplit, dwFirstMediaFreeSpaceSize, piSize, false) == S_OK) {
        room.dwDropped = QvCatalogRoomRefused;
        return;
    }
    room = kept;  // refused either way: the refusal names the figures with the room
}

// A split is refused only for a reason that rules out every plan. Each check is a condition
// every plan must meet, on the sets that really share a medium, each file counted once, in
// bytes, with the test the distribution applies to that set: what is taken whole onto one
// medium (the first-medium set with the every-medium set, the last-medium set with it) fits
// when its bytes are at most the medium; an entry or group placed by first-fit fits only while
// the medium's bytes stay below its size, beside the every-medium set. Messages give
// megabytes.
long CQvFileDescCatalog::RunSizeChecks(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize,
                                       const int64_t* piSize, bool bReport) {
    CQvLog* log = CQvLog::GetInstance();
    // Under an allocation model the sizes are allocated bytes and each medium gives up its own
    // structures first.
    const int64_t iLimit = static_cast<int64_t>(dwSplit) * kMegabyte - qvalloc::MediumCost();
    const int64_t iAll = piSize[kAll];
    // The sets without the every-medium files, which the sizes include.
    const int64_t iFirstOnly = piSize[kFirst] - iAll, iLastOnly = piSize[kLast] - iAll;
    const int64_t iGroupOnly = piSize[kGroup] - iAll;
    const int64_t iBigFit = piSize[kBigFit];
    const wchar_t* kPrefix = L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=%d)FAILED -> ";
    const std::wstring strPrefix(kPrefix);
    // Each refusal is logged in the words the trace has always used, and reported as a code
    // with the bytes that did not fit.
    auto fail = [&](DWORD dwCode, const wchar_t* tail, int64_t iValue, bool bWithValue, int64_t iBytes) {
        if (!bReport) return static_cast<long>(E_FAIL);
        const std::wstring fmt = strPrefix + tail;
        if (bWithValue)
            log->AddError(fmt.c_str(), dwSplit, iValue / kMegabyte);
        else
            log->AddError(fmt.c_str(), dwSplit);
        QvSplitRun::Current().report.Refuse(dwCode, iBytes, iLimit);
        return static_cast<long>(E_FAIL);
    };
    auto overWhole = [&](int64_t iBytes) { return iBytes > 0 && iBytes > iLimit; };
    auto overFit = [&](int64_t iUnit, int64_t iBeside) {
        return iUnit > 0 && iUnit + iBeside >= iLimit;
    };
    if (!IsSplitOn() && overFit(piSize[kBig], 0))
        return fail(QvRefusedFileTooBig, L"iSizeBigFile=%d", piSize[kBig], true, piSize[kBig]);
    // A refusal's figure is the size the trace's information line names, every-medium files
    // included, so that the error and that line agree.
    if (overWhole(iFirstOnly)) return fail(QvRefusedFirstSet, L"iSizeFirst=%d", piSize[kFirst], true, iFirstOnly);
    if (overWhole(iFirstOnly + iAll))
        return fail(QvRefusedFirstWithAll, L"(iSizeAll+iSizeFirst) > dwSplitSize", 0, false, iFirstOnly + iAll);
    // First-fit places a unit only while the medium stays below its size, an empty one too.
    if (iBigFit >= 0 && iBigFit + iAll >= iLimit)
        return fail(QvRefusedBigWithAll, L"(iSizeAll+iSizeBigFile) > dwSplitSize", 0, false, iBigFit + iAll);
    const int64_t iFirstWithFree =
        iFirstOnly + iAll + static_cast<int64_t>(dwFirstMediaFreeSpaceSize) * kMegabyte;
    if (overWhole(iFirstWithFree))
        return fail(QvRefusedFirstWithFree, L"iSizeFirst+dwFirstMediaFreeSpaceSize=%d", iFirstWithFree, true,
                    iFirstWithFree);
    if (overWhole(iLastOnly)) return fail(QvRefusedLastSet, L"iSizeLast=%d", piSize[kLast], true, iLastOnly);
    if (overWhole(iLastOnly + iAll))
        return fail(QvRefusedLastWithAll, L"(iSizeAll+iSizeLast) > dwSplitSize", 0, false, iLastOnly + iAll);
    if (overFit(iGroupOnly, 0)) return fail(QvRefusedGroup, L"iSizeGroup=%d", piSize[kGroup], true, iGroupOnly);
    // A group is placed by first-fit too, one of empty files as well.
    if ((iGroupOnly > 0 || m_bGroupPlaced) && iGroupOnly + iAll >= iLimit)
        return fail(QvRefusedGroupWithAll, L"(iSizeAll+iSizeGroup) > dwSplitSize", 0, false, iGroupOnly + iAll);
    return S_OK;
}

int64_t CQvFileDescCatalog::CheckSize(DWORD dwSplit, int64_t& iSizeBigFile, int64_t& iSizeFirst,
                                      int64_t& iSizeLast, int64_t& iSizeGroup,
                                      int64_t& iSizeAll) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvFileDescCatalog::CheckSize(DWORD dwSplitSize=%d,__int64 "
                       L"&iSizeBigFile, __int64 &iSizeFirst, __int64 &iSizeLast, __int64 "
                       L"&iSizeGroup, __int64 &iSizeAll)",
                       dwSplit);
    iSizeBigFile = iSizeFirst = iSizeLast = iSizeGroup = iSizeAll = 0;
    m_iSizeBigFit = -1;
    m_bGroupPlaced = false;
    int64_t iTotal = 0;
    m_mpCutParts.clear();
    const int64_t iLimit = static_cast<int64_t>(dwSplit) * kMegabyte;
    // Each set that must share a medium counts the folders its entries need once.
    qvalloc::FolderSet allFolders, firstFolders, lastFolders;
    CutFollowedLinksFirst(iLimit);
    // Not-first entries never share the first medium, nor not-last entries the last: they are
    // placed one by one, and only the biggest of them matters to the checks.
    AddSizesOfMap(mpFileDescInAll, iLimit, iTotal, iSizeBigFile, &iSizeAll, &allFolders);
    AddSizesOfMap(mpFileDescInAny, iLimit, iTotal, iSizeBigFile, nullptr, nullptr, true);
    AddSizesOfMap(mpFileDescInFirst, iLimit, iTotal, iSizeBigFile, &iSizeFirst, &firstFolders);
    AddSizesOfMap(mpFileDescNotFirst, iLimit, iTotal, iSizeBigFile, nullptr, nullptr, true);
    AddSizesOfMap(mpFileDescInLast, iLimit, iTotal, iSizeBigFile, &iSizeLast, &lastFolders);
    AddSizesOfMap(mpFileDescNotLast, iLimit, iTotal, iSizeBigFile, nullptr, nullptr, true);
    iSizeLast += iSizeAll;
    iSizeFirst += iSizeAll;
    const int iGroupCount = pRulesFactory ? pRulesFactory->GetGroupIDCount() : 0;
    if (iGroupCount > 0) {
        // One pass gives every group's sum; the groups are then compared in number order.
        std::vector<int64_t> viGroupSize(static_cast<size_t>(iGroupCount), 0);
        std::vector<qvalloc::FolderSet> vGroupFolders(qvalloc::On() ? static_cast<size_t>(iGroupCount) : 0);
        for (auto& entry : mpFileDescInAny) {
            const int32_t g = entry.second.iAllTogetherGroup;
            if (!(g >= 0 && g < iGroupCount)) continue;
            // A file to be cut leaves its group: its parts are placed one by one.
            if (m_bSizingOnly && TooBigForMedium(entry.second, iLimit) && IsSplitOn()) continue;
            viGroupSize[static_cast<size_t>(g)] += qvalloc::EntryCost(entry.second);
            m_bGroupPlaced = true;
            if (!vGroupFolders.empty())
                viGroupSize[static_cast<size_t>(g)] +=
                    vGroupFolders[static_cast<size_t>(g)].Add(entry.second);
        }
        for (int64_t iSum : viGroupSize)
            if (iSum > iSizeGroup) iSizeGroup = iSum;
    }
    iSizeGroup += iSizeAll;
    return log->ExitFunction(iTotal);
}

// Sizes one map in key order. An oversize file is offered to the splitter before it counts
// as the biggest file; once cut, its entry leaves the map and only its parts, which sort
// after it, are counted.
void CQvFileDescCatalog::AddSizesOfMap(QvFileDescMap& mpFileDesc, int64_t iLimit,
                                       int64_t& iTotal, int64_t& iSizeBigFile,
                                       int64_t* piMapSize, qvalloc::FolderSet* pFolders,
                                       bool bFirstFit) {
    const int iGroups = pRulesFactory ? pRulesFactory->GetGroupIDCount() : 0;
    for (QvFileDescMapIter it = mpFileDesc.begin(); it != mpFileDesc.end();) {
        QvFileDescMapIter cur = it;
        FileDesc& entry = cur->second;
        bool bCut = false;
        bool bWouldCut = false;  // counted as the parts it is to be cut into
        // What first-fit places as one unit: a folder kept whole, a file, or a part of it.
        int64_t iUnit = qvalloc::EntryCost(entry);
        if (qvp::IsFolderToEnter(entry.dwAttributes)) {
            CQvPathString strDir(entry.strFilePath);
            strDir.RemoveBackslash();
            CheckBigFileInDir(iLimit, iSizeBigFile, mpFileDesc, cur, strDir);
            // Placed alone, it brings its own folder and those above it.
            if (qvalloc::On()) iUnit += qvalloc::CostOnEmptyMedium(entry);
        } else {
            // Under a model the biggest counts as it would stand alone: its allocated size and
            // the folders it needs.
            const int64_t iOwnFolders =
                qvalloc::On() ? qvalloc::CostOnEmptyMedium(entry) : 0;
            int64_t iBiggestPart = qvalloc::EntryCost(entry) + iOwnFolders;
            const bool bTooBig = TooBigForMedium(entry, iLimit);
            if (bTooBig && IsSplitOn() && m_bSizingOnly) {
                bWouldCut = true;
                // Counted as the parts it would be cut into: all its bytes, none bigger than a part.
                const int64_t iPart =
                    static_cast<int64_t>(CQvSplitBigFile::GetInstance()->GetPartSize()) * kMegabyte;
                iBiggestPart = qvalloc::FileCost(std::min(entry.iFileSize, iPart), PartName(entry), entry.strTargetPath) +
                               iOwnFolders;
            } else if (bTooBig && IsSplitOn()) {
                bCut = CutOversizeEntry(mpFileDesc, cur);
            }
            if (!bCut && iBiggestPart > iSizeBigFile) {
                iSizeBigFile = iBiggestPart;
                strBigFileName = entry.strFilePath;
            }
            iUnit = iBiggestPart;
        }
        // Grouped entries are placed with their group, which the group checks cover; the parts
        // of a cut file leave it and are placed one by one.
        const int32_t g = entry.iAllTogetherGroup;
        const bool bGrouped = &mpFileDesc == &mpFileDescInAny && g >= 0 && g < iGroups && !bWouldCut;
        if (bFirstFit && !bCut && !bGrouped && iUnit > m_iSizeBigFit) m_iSizeBigFit = iUnit;
        ++it;
        if (bCut) {
            // The cut changed the disk: what the walks found may no longer be there.
            m_mpDirSizeCache.clear();
            QvSplitRun::Current().folderFiles.Forget();
            mpFileDesc.erase(cur);
            continue;
        }
        const int64_t iCost = qvalloc::EntryCost(entry) +
                              (pFolders && piMapSize ? pFolders->Add(entry) : 0);
        iTotal += iCost;
        if (piMapSize) *piMapSize += iCost;
    }
}

// Cuts the file of an entry too big for a medium, once however many maps or paths hold it;
// its part entries go into the map. False when it stays whole.
bool CQvFileDescCatalog::CutOversizeEntry(QvFileDescMap& mpFileDesc, QvFileDescMapIter cur) {
    const FileDesc& entry = cur->second;
    const std::wstring strFile = entry.strFilePath.str();
    auto done = FindCutFile(strFile);
    std::vector<CQvString> vLinked;
    if (done != m_mpCutParts.end()) {
        // Already cut for another map: the file is gone, its parts stand in here too.
        return AddPartsOfCutFile(mpFileDesc, entry, done->second);
    }
    if (FindCutThroughLink(strFile, vLinked)) {
        // The same file reached through a followed link to its folder: the parts lie there
        // too, and this path needs a line of its own in the part list.
        const bool bCut = CQvSplitBigFile::GetInstance()->RecordCutUnderOtherPath(entry.strFilePath, vLinked) == 0 &&
                          AddPartsOfCutFile(mpFileDesc, entry, vLinked);
        if (bCut) m_mpCutParts[strFile] = vLinked;
        return bCut;
    }
    QvFileDescMapIter iter = cur;
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    const bool bCut = pSplitter->SplitFile(mpFileDesc, iter) == 0;
    if (bCut) m_mpCutParts[strFile] = pSplitter->GetLastCutParts();
    return bCut;
}

// While links are followed, the links to files too big for a medium are cut before any file:
// a link is kept when cut, but a file cut first would leave a link to it with nothing to read.
void CQvFileDescCatalog::CutFollowedLinksFirst(int64_t iLimit) {
    if (!qvp::FollowsLinks() || !IsSplitOn() || m_bSizingOnly) return;
    for (QvFileDescMap* pMap : {&mpFileDescInAll, &mpFileDescInAny, &mpFileDescInFirst, &mpFileDescNotFirst,
                                &mpFileDescInLast, &mpFileDescNotLast}) {
        for (QvFileDescMapIter it = pMap->begin(); it != pMap->end();) {
            QvFileDescMapIter cur = it++;
            if (qvp::IsFolderToEnter(cur->second.dwAttributes) || !TooBigForMedium(cur->second, iLimit) ||
                !qvp::IsSymbolicLink(cur->second.strFilePath.str().c_str()))
                continue;
            if (!CutOversizeEntry(*pMap, cur)) continue;
            m_mpDirSizeCache.clear();
            QvSplitRun::Current().folderFiles.Forget();
            // The parts sort after the file, so the walk meets them next; none is too big.
            pMap->erase(cur);
        }
    }
}

// The parts of the file at strFile if another map's entry cut it: by its exact path, else by
// a path naming the same file in another letter case (never a twin that differs in case).
std::unordered_map<std::wstring, std::vector<CQvString>>::iterator
CQvFileDescCatalog::FindCutFile(const std::wstring& strFile) {
    auto it = m_mpCutParts.find(strFile);
    if (it != m_mpCutParts.end() || m_mpCutParts.empty()) return it;
    // A file still there under exactly this name was not cut: the one cut was its twin.
    HANDLE hFile = qvp::CreateFileW(strFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_POSIX_SEMANTICS, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        qvp::CloseHandle(hFile);
        return m_mpCutParts.end();
    }
    const CQvString strPath(strFile.c_str());
    for (it = m_mpCutParts.begin(); it != m_mpCutParts.end(); ++it)
        if (it->first.size() == strFile.size() && QvPathAtOrBelow(strPath, CQvString(it->first.c_str())))
            return it;
    return m_mpCutParts.end();
}

// Whether the file at strFile is one cut under another path whose folder is the same folder
// (reached through a followed link): then vParts are its parts, named under strFile's folder.
bool CQvFileDescCatalog::FindCutThroughLink(const std::wstring& strFile, std::vector<CQvString>& vParts) {
    if (!qvp::FollowsLinks() || m_mpCutParts.empty()) return false;
    const size_t iLeaf = strFile.find_last_of(L'\\') + 1;
    if (iLeaf == 0) return false;
    const std::wstring strFolder = strFile.substr(0, iLeaf);
    for (const auto& cut : m_mpCutParts) {
        const size_t iCutLeaf = cut.first.find_last_of(L'\\') + 1;
        if (iCutLeaf == 0 || cut.first.compare(iCutLeaf, std::wstring::npos, strFile, iLeaf, std::wstring::npos) != 0)
            continue;
        if (!qvp::PathsNameSameObject(strFolder.c_str(), cut.first.substr(0, iCutLeaf).c_str())) continue;
        vParts.clear();
        for (const CQvString& strPart : cut.second) {
            const std::wstring strOld = strPart.str();
            vParts.push_back(CQvString((strFolder + strOld.substr(strOld.find_last_of(L'\\') + 1)).c_str()));
        }
        return true;
    }
    return false;
}

// Gives a map the part entries of a file another map's entry had cut, as the cut gave them to
// that map: the cut file's rule and target, each part under its lower-cased path. False when a
// part cannot be described; the entry then stays, and the log says why.
bool CQvFileDescCatalog::AddPartsOfCutFile(QvFileDescMap& mpFileDesc, const FileDesc& cutFile,
                                           const std::vector<CQvString>& vParts) {
    for (const CQvString& strPart : vParts) {
        const std::unique_ptr<FileDesc> pDesc(
            CreateFileDesc(cutFile.pPathRules, strPart, cutFile.strTargetPath));
        if (!pDesc) {
            CQvLog::GetInstance()->AddError(L"CQvFileDescCatalog::CheckSize(...) part %s of a cut "
                                            L"file cannot be described",
                                            strPart);
            return false;
        }
        pDesc->strTargetPath = cutFile.strTargetPath;
        QvPutFileDesc(mpFileDesc, *pDesc);
    }
    return true;
}

void CQvFileDescCatalog::CheckBigFileInDir(int64_t iLimit, int64_t& iSizeBigFile,
                                           QvFileDescMap& mpFileDesc, QvFileDescMapIter& iter,
                                           LPCTSTR strPath) {
    // The limit, map and entry matter only to a cut, which never happens for a directory.
    (void)iLimit;
    (void)mpFileDesc;
    (void)iter;
    if (!strPath) return;
    if (m_bBuildCacheOn && !Find(strPath, L"System Volume Information")) {
        // The size walks of this validation saw the same files; their biggest is the one the
        // walk below would settle on (the first of the biggest in listing order).
        const QvDirFacts facts = MeasureDirFacts(strPath);
        if (facts.bBiggestKnown) {
            if (facts.iBiggest > iSizeBigFile) {
                iSizeBigFile = facts.iBiggest;
                strBigFileName = facts.strBiggestName.c_str();
            }
            return;
        }
    }
    CQvPathString strBase(strPath);
    strBase.AddBackslash();
    QvWalkFolder(strBase.str(), QvWalkPolicy(), [&](const QvWalkEntry& entry) {
        if (entry.kind != QvWalkEntry::File) {
            const std::wstring strSub = entry.strPath + L"\\";
            CheckBigFileInDir(iLimit, iSizeBigFile, mpFileDesc, iter, strSub.c_str());
            return true;
        }
        // A file inside a directory entry is never cut: the entry names the directory, which
        // the splitter cannot cut, so it is not offered. The file still counts as the biggest.
        if (entry.Size() > iSizeBigFile) {
            iSizeBigFile = entry.Size();
            strBigFileName = entry.Name();
        }
        return true;
    });
}
