// The room a caller's catalogue of the whole set takes on every medium, counted from what the
// walk found: the catalogue lists every file selected, so once the walk is done its size is
// known but for the digits of the medium numbers, which are bounded.
#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "common/QvFileDescKeys.h"
#include "facilities/CQvLog.h"
#include "facilities/CQvPathString.h"
#include "platform/QvPlatform.h"

#include <algorithm>

namespace {

const int64_t kMegabyte = 1048576;

bool AsksForCatalog(const QvAllocationModel& m) {
    return m.cbCatalogFixed || m.cbCatalogPerEntry || m.cbCatalogPerPathByte || m.cbCatalogPerNameByte || m.cbCatalogPerDigit ||
           m.cbCatalogPerFolder || m.cbCatalogPerFolderByte || m.cbCatalogPerLeftOut || m.cbCatalogPerMedium;
}

// What an entry takes placed alone beside others, as the checks and first-fit count it.
int64_t AloneCost(const FileDesc& desc) { return qvalloc::EntryCost(desc) + qvalloc::CostOnEmptyMedium(desc); }

}  // namespace

int64_t CQvFileDescCatalog::CatalogRoomFor(const QvAllocationModel& m, const QvCatalogTally& any,
                                           const QvCatalogTally& every, int64_t iLeftOut, int64_t iLeftOutBytes,
                                           int64_t iMedia, const QvMeasuredRows& measured) {
    // Every-medium files are rows of every medium; the folders are listed once for the set.
    const int64_t iRows = any.iRows + every.iRows * iMedia;
    const int64_t iFolders = any.iFolders + every.iFolders;
    const int64_t iDigits = any.iDigits + every.iDigits * iMedia +
                            iRows * (qvalloc::DecimalDigits(static_cast<uint64_t>(iMedia)) +
                                     qvalloc::DecimalDigits(static_cast<uint64_t>(std::max(iRows, iFolders))));
    return static_cast<int64_t>(m.cbCatalogFixed) + int64_t{m.cbCatalogPerEntry} * iRows +
           int64_t{m.cbCatalogPerPathByte} * (any.iPathBytes + every.iPathBytes * iMedia + iLeftOutBytes) +
           int64_t{m.cbCatalogPerNameByte} * (any.iNameBytes + every.iNameBytes * iMedia) +
           int64_t{m.cbCatalogPerDigit} * iDigits + int64_t{m.cbCatalogPerFolder} * iFolders +
           int64_t{m.cbCatalogPerFolderByte} * (any.iFolderBytes + every.iFolderBytes) +
           int64_t{m.cbCatalogPerLeftOut} * iLeftOut + int64_t{m.cbCatalogPerMedium} * iMedia + measured.iAny +
           measured.iEvery * iMedia;
}

void CQvFileDescCatalog::MeasureRows(const qvalloc::CatalogMeasure& measure, const QvFileDescMap& map) {
    for (const auto& entry : map) {
        const FileDesc& desc = entry.second;
        if (qvp::IsFolderToEnter(desc.dwAttributes)) continue;
        const std::wstring strPath = desc.strFilePath.str(), strTarget = desc.strTargetPath.str();
        const QvCatalogRow row{strPath.c_str(), strTarget.c_str(), desc.strWriteTime.c_str(), desc.iFileSize,
                               desc.dwAttributes};
        measure.pfn(measure.pContext, &row);
    }
}

void CQvFileDescCatalog::TallyEntry(const FileDesc& desc, std::wstring& strLastFolder, QvCatalogTally& tally) {
    const std::wstring strPath = desc.strFilePath.str();
    const int64_t iTarget = qvalloc::CatalogPathBytes(desc.strTargetPath.view());
    if (qvp::IsFolderToEnter(desc.dwAttributes)) {
        CQvPathString strBare(strPath.c_str());
        strBare.RemoveBackslash();
        const QvDirFacts facts = MeasureDirFacts(strBare.str());
        const int64_t iFolder = qvalloc::CatalogPathBytes(strBare.str());
        strLastFolder.clear();
        if (facts.catalog.iRows == 0) {
            // Nothing below it: the folder is a row of its own.
            ++tally.iRows;
            tally.iPathBytes += iFolder + 2;
            tally.iNameBytes += iFolder;
            tally.iDigits += qvalloc::DecimalDigits(static_cast<uint64_t>(std::max<int64_t>(desc.iFileSize, 0)));
            ++tally.iFolders;
            tally.iFolderBytes += iFolder + iTarget;
            return;
        }
        // The rows below it name its path and a separator first; each folder of rows is listed
        // as it lies on the disk and inside the medium, below the folder's target.
        const QvCatalogTally& below = facts.catalog;
        tally.iRows += below.iRows;
        tally.iPathBytes += below.iPathBytes + below.iRows * (iFolder + 2);
        tally.iNameBytes += below.iNameBytes;
        tally.iDigits += below.iDigits;
        tally.iFolders += below.iFolders;
        tally.iFolderBytes += 2 * below.iFolderBytes + below.iFolders * (iFolder + iTarget + 4);
        return;
    }
    // One pass over the path: its bytes, and those of its folder, the part before the last
    // separator (which counts 2).
    const size_t slash = strPath.rfind(L'\\');
    const std::wstring_view folder = std::wstring_view(strPath).substr(0, slash == std::wstring::npos ? 0 : slash);
    const int64_t iFolder = qvalloc::CatalogPathBytes(folder);
    const int64_t iName = qvalloc::CatalogPathBytes(std::wstring_view(strPath).substr(folder.size()));
    ++tally.iRows;
    tally.iPathBytes += iFolder + iName;
    tally.iNameBytes += slash == std::wstring::npos ? iName : iName - 2;
    tally.iDigits += qvalloc::DecimalDigits(static_cast<uint64_t>(std::max<int64_t>(desc.iFileSize, 0)));
    // A file's folder counts when it differs from the last row's: the maps keep a folder's
    // files together, mostly.
    const std::wstring_view target = desc.strTargetPath.view();
    if (strLastFolder.size() == folder.size() + 1 + target.size() &&
        std::wstring_view(strLastFolder).substr(0, folder.size()) == folder && strLastFolder[folder.size()] == L'|' &&
        std::wstring_view(strLastFolder).substr(folder.size() + 1) == target)
        return;
    ++tally.iFolders;
    tally.iFolderBytes += iFolder + iTarget;
    strLastFolder.assign(folder);
    strLastFolder += L'|';
    strLastFolder.append(target);
}

int64_t CQvFileDescCatalog::EntriesTheRoomCosts(int64_t iRoom, bool bLeaveOut) {
    int64_t iAll = 0;
    qvalloc::FolderSet folders;
    for (const auto& entry : mpFileDescInAll) iAll += qvalloc::EntryCost(entry.second) + folders.Add(entry.second);
    // First-fit places a unit while the medium stays below its size (see RunSizeChecks).
    const int64_t iLimit = static_cast<int64_t>(dwSplitSize) * kMegabyte - qvalloc::MediumCostWithoutCatalog() - iAll;
    const int iGroups = pRulesFactory ? pRulesFactory->GetGroupIDCount() : 0;
    int64_t nCost = 0;
    const std::pair<QvFileDescMap*, MediaDescriptEnum> maps[] = {
        {&mpFileDescInAny, InAny}, {&mpFileDescNotFirst, NotFirst}, {&mpFileDescNotLast, NotLast}};
    for (const auto& [pMap, location] : maps) {
        for (auto it = pMap->begin(); it != pMap->end();) {
            const FileDesc& desc = it->second;
            const int32_t g = desc.iAllTogetherGroup;
            // A folder that no longer fits gives way to what it holds; a group is checked whole.
            const bool bUnit = !qvp::IsFolderToEnter(desc.dwAttributes) &&
                               !(pMap == &mpFileDescInAny && g >= 0 && g < iGroups);
            const int64_t iUnit = bUnit ? AloneCost(desc) : 0;
            if (!bUnit || iUnit < iLimit - iRoom || iUnit >= iLimit) {
                ++it;
                continue;
            }
            ++nCost;
            if (!bLeaveOut) {
                ++it;
                continue;
            }
            CQvLog::GetInstance()->AddWarning(
                L"CQvFileDescCatalog::ValidateSplitSize(...) Skip Big File %s (size=%d) beside the catalogue",
                desc.strFilePath.Wide(), static_cast<int32_t>(static_cast<uint32_t>(desc.iFileSize)));
            QvSplitRun::Current().leftOut.Add(desc.strFilePath.str(), desc.iFileSize, QvLeftOutTooBig, false,
                                              QvLocationBit(location));
            it = pMap->erase(it);
        }
    }
    if (bLeaveOut) ForgetLastAdded();
    return nCost;
}

void CQvFileDescCatalog::KeepRoomForCatalog(DWORD dwSplit) {
    QvCatalogRoom& room = QvSplitRun::Current().catalogRoom;
    room = QvCatalogRoom{};
    bool bOn = false;
    const QvAllocationModel m = qvalloc::Model(bOn);
    if (!bOn || !AsksForCatalog(m)) return;
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    if (pSplitter && pSplitter->IsSplitBigFileOn()) {
        // The parts are not known before the files are cut.
        room.dwDropped = QvCatalogRoomCutting;
        return;
    }
    const bool bRequired = (m.dwCatalogFlags & QvCatalogRoomRequired) != 0;
    // The caller's measure counts the rows of files and links once; entries the room leaves
    // out later only shorten its catalogue.
    const qvalloc::CatalogMeasure measure = qvalloc::Measure();
    const auto measured = [](const FileDesc& desc, const qvalloc::CatalogMeasure& mm) {
        return mm.pfn && !qvp::IsFolderToEnter(desc.dwAttributes);
    };
    QvMeasuredRows rows;
    if (measure.pfn) {
        for (const QvFileDescMap* pMap :
             {&mpFileDescInAny, &mpFileDescInFirst, &mpFileDescInLast, &mpFileDescNotFirst, &mpFileDescNotLast})
            MeasureRows(measure, *pMap);
        rows.iAny = static_cast<int64_t>(std::min<uint64_t>(measure.pfn(measure.pContext, nullptr), INT64_MAX / 4));
        MeasureRows(measure, mpFileDescInAll);
        rows.iEvery = static_cast<int64_t>(std::min<uint64_t>(measure.pfn(measure.pContext, nullptr), INT64_MAX / 4));
    }
    int64_t iRoom = 0, iMedia = 1;
    // Entries the room leaves out become rows of the left-out list, which may take more room:
    // counted again until nothing more is left out.
    for (int pass = 0; pass < 8; ++pass) {
        QvCatalogTally any, every;
        int64_t iUnits = 0, iTotal = 0;
        int64_t iBiggestUnit = -1;  // of the entries first-fit places one by one
        const int iGroups = pRulesFactory ? pRulesFactory->GetGroupIDCount() : 0;
        for (QvFileDescMap* pMap :
             {&mpFileDescInAny, &mpFileDescInFirst, &mpFileDescInLast, &mpFileDescNotFirst, &mpFileDescNotLast}) {
            const bool bFirstFit = pMap != &mpFileDescInFirst && pMap != &mpFileDescInLast;
            std::wstring strLast;
            for (const auto& entry : *pMap) {
                const FileDesc& desc = entry.second;
                if (!measured(desc, measure)) TallyEntry(desc, strLast, any);
                const int64_t iCost = AloneCost(desc);
                iTotal += iCost;
                const int32_t g = desc.iAllTogetherGroup;
                if (bFirstFit && !qvp::IsFolderToEnter(desc.dwAttributes) &&
                    !(pMap == &mpFileDescInAny && g >= 0 && g < iGroups))
                    iBiggestUnit = std::max(iBiggestUnit, iCost);
            }
            iUnits += static_cast<int64_t>(pMap->size());
        }
        std::wstring strLast;
        int64_t iAll = 0;
        qvalloc::FolderSet folders;
        for (const auto& entry : mpFileDescInAll) {
            if (!measured(entry.second, measure)) TallyEntry(entry.second, strLast, every);
            iAll += qvalloc::EntryCost(entry.second) + folders.Add(entry.second);
        }
        int64_t iLeftOut = 0, iLeftOutBytes = 0;
        // The files recorded as deleted since earlier sets are lines of the catalogue too.
        for (const QvSinceChain::Deleted& deleted : QvSplitRun::Current().deleted) {
            ++iLeftOut;
            iLeftOutBytes += qvalloc::CatalogPathBytes(deleted.strPath);
        }
        for (const QvLeftOutEntry& left : QvSplitRun::Current().leftOut.Entries()) {
            ++iLeftOut;
            iLeftOutBytes += qvalloc::CatalogPathBytes(left.strPath);
        }
        for (const QvDroppedRule& rule : QvSplitRun::Current().droppedRules.Rules()) {
            ++iLeftOut;
            iLeftOutBytes += qvalloc::CatalogPathBytes(rule.strPath);
        }
        // The media first-fit needs at most: two media that follow each other hold more than
        // one medium's room, and the first and the last may hold less. The room grows with the
        // media it is counted for, so the count is raised until it holds for its own room.
        const int64_t iLimit = static_cast<int64_t>(dwSplit) * kMegabyte - qvalloc::MediumCostWithoutCatalog() - iAll;
        bool bFits = false;
        iMedia = 1;
        for (int step = 0; step < 64; ++step) {
            iRoom = CatalogRoomFor(m, any, every, iLeftOut, iLeftOutBytes, iMedia, rows);
            const int64_t iFree = iLimit - iRoom;
            if (iFree <= 0) break;
            const int64_t iNeeded = std::min(iUnits + 2, 2 * ((iTotal + iFree - 1) / iFree) + 3);
            if (iNeeded <= iMedia) {
                bFits = true;
                break;
            }
            iMedia = iNeeded;
        }
        room.dwMediaBound = static_cast<uint32_t>(std::min<int64_t>(iMedia, UINT32_MAX));
        if (!bFits) {
            // Not even an empty medium holds the room beside the every-medium set.
            if (!bRequired) {
                room.dwDropped = QvCatalogRoomRefused;
                return;
            }
            break;
        }
        // Usually even the biggest entry fits beside the room, and none need be looked at again.
        const int64_t nCost = iBiggestUnit >= iLimit - iRoom ? EntriesTheRoomCosts(iRoom, false) : 0;
        if (nCost == 0) break;
        if (!bRequired) {
            room.dwDropped = QvCatalogRoomLeftOut;
            room.dwLost = static_cast<uint32_t>(std::min<int64_t>(nCost, UINT32_MAX));
            return;
        }
        room.dwLost += static_cast<uint32_t>(std::min<int64_t>(EntriesTheRoomCosts(iRoom, true), UINT32_MAX));
    }
    room.cbRoom = static_cast<uint64_t>(iRoom);
}
