// The media factory's distribution: which entries go onto which medium, and the numbered set.
#include "media/CQvMediaFactory.h"

#include "common/QvFileDescKeys.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvCommits.h"
#include "facilities/CQvLog.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

const int64_t kMegabyte = 1048576;

int64_t Megabytes(int64_t iBytes) { return iBytes / kMegabyte; }

// Moving the catalogue's entries into the working lists frees their map nodes as it goes, and
// the lists take only part of that room: every so many entries the freed pages go back to the
// system, or the split's peak would be the catalogue and the lists together (4 to 5 MB more on
// 200,000 files).
const size_t kEntriesBetweenReleases = 16384;

// An entry or a group fits when the truncated megabytes of (entry + medium) stay below the
// split size, i.e. when the bytes stay below the split size in bytes; its key is its byte size,
// so it must be below this limit. (Truncating the entry and the medium to megabytes each on its
// own let two files of 1 MB less one byte share a 1 MB medium.)
int64_t FitLimit(DWORD dwSplitSize, int64_t iMediaSize) {
    if (dwSplitSize == 0) return 1 - kMegabyte - iMediaSize;  // only sums of -1 MB or less
    return static_cast<int64_t>(dwSplitSize) * kMegabyte - iMediaSize;
}

}  // namespace

// Minimum tree over the keys of a list. Placing an entry never lets an earlier skipped entry
// fit (the medium only grows), so first-fit resumes after the last placement and asks the tree
// for the next entry that fits instead of testing every entry in between.
struct CQvMediaFactory::QvFitIndex {
    static constexpr size_t npos = static_cast<size_t>(-1);
    static constexpr int64_t kTaken = std::numeric_limits<int64_t>::max();
    // Keys are looked at in blocks of this many; the tree holds the least key of each block,
    // so that it takes a sixteenth of the room one node a key would.
    static constexpr size_t kBlock = 16;

    const void* pOwner = NULL;
    size_t nLeaves = 1;  // blocks the tree has room for: a power of two
    size_t nLive = 0;
    std::vector<int64_t> keys;  // kTaken once taken; empty when the keys are pBytes' sizes
    // Without a model an entry's key is its size, read from the list itself rather than
    // copied: eight bytes an entry less at the split's peak.
    const FileDescVector* pBytes = NULL;
    std::vector<int64_t> tree;  // the least key below each node; the blocks' from nLeaves on
    std::vector<char> alive;

    void Build(const void* owner, std::vector<int64_t> given) {
        keys = std::move(given);
        pBytes = NULL;
        BuildTree(owner, keys.size());
    }
    // What each entry takes on a medium: its bytes, or its allocated size under a model (the
    // folders it needs are tested when it is placed, as they depend on what the medium holds).
    void BuildOnEntries(const FileDescVector& list) {
        if (!qvalloc::On()) {
            keys.clear();
            pBytes = &list;
            BuildTree(&list, list.size());
            return;
        }
        std::vector<int64_t> costs;
        costs.reserve(list.size());
        for (const FileDesc& desc : list) costs.push_back(qvalloc::EntryCost(desc));
        Build(&list, std::move(costs));
    }
    void BuildTree(const void* owner, size_t nKeys) {
        pOwner = owner;
        alive.assign(nKeys, 1);
        nLive = nKeys;
        const size_t nBlocks = (nKeys + kBlock - 1) / kBlock;
        nLeaves = 1;
        while (nLeaves < nBlocks) nLeaves *= 2;
        tree.assign(2 * nLeaves, kTaken);
        for (size_t b = 0; b < nBlocks; ++b) tree[nLeaves + b] = BlockLeast(b);
        for (size_t i = nLeaves - 1; i >= 1; --i) tree[i] = std::min(tree[2 * i], tree[2 * i + 1]);
    }
    int64_t BlockLeast(size_t b) const {
        int64_t least = kTaken;
        for (size_t i = b * kBlock; i < alive.size() && i < (b + 1) * kBlock; ++i) least = std::min(least, Key(i));
        return least;
    }
    bool IsAlive(size_t i) const { return i < alive.size() && alive[i]; }
    int64_t Key(size_t i) const {
        if (!pBytes) return keys[i];
        return alive[i] ? (*pBytes)[i].iFileSize : kTaken;
    }
    void Remove(size_t i) {
        if (!IsAlive(i)) return;
        alive[i] = 0;
        --nLive;
        if (!pBytes) keys[i] = kTaken;
        size_t node = nLeaves + i / kBlock;
        tree[node] = BlockLeast(i / kBlock);
        for (node /= 2; node >= 1; node /= 2)
            tree[node] = std::min(tree[2 * node], tree[2 * node + 1]);
    }
    // The first live position at or after from whose key is below limit, or npos.
    size_t FindFirstBelow(size_t from, int64_t limit) const {
        if (from >= alive.size()) return npos;
        // The rest of from's own block, then the first block after it that has such a key.
        const size_t b = from / kBlock;
        const size_t own = FirstBelowIn(from, (b + 1) * kBlock, limit);
        if (own != npos) return own;
        const size_t next = Find(1, 0, nLeaves, b + 1, limit);
        return next == npos ? npos : FirstBelowIn(next * kBlock, (next + 1) * kBlock, limit);
    }
    size_t FirstBelowIn(size_t from, size_t to, int64_t limit) const {
        for (size_t i = from; i < to && i < alive.size(); ++i)
            if (Key(i) < limit) return i;
        return npos;
    }
    // The first block at or after from whose least key is below limit, or npos.
    size_t Find(size_t node, size_t lo, size_t hi, size_t from, int64_t limit) const {
        if (hi <= from || tree[node] >= limit) return npos;
        if (hi - lo == 1) return lo;
        const size_t mid = lo + (hi - lo) / 2;
        const size_t left = Find(2 * node, lo, mid, from, limit);
        return left != npos ? left : Find(2 * node + 1, mid, hi, from, limit);
    }
    // Drops the taken entries from the list the index was built on.
    template <class V>
    void Compact(V& list) const {
        size_t out = 0;
        for (size_t i = 0; i < list.size() && i < alive.size(); ++i)
            if (alive[i]) {
                if (out != i) list[out] = std::move(list[i]);
                ++out;
            }
        list.resize(out);
    }
};

struct CQvMediaFactory::QvMediaRun {
    QvFileDescMap mpAll, mpAny, mpFirst, mpLast, mpNotFirst, mpNotLast;
    GroupFileDescVector vtGroupDesc;
    FileDescVector vtFileDesc, vtFileDescNotFirst, vtFileDescNotLast;
    QvFitIndex groupIndex, otherIndex, notFirstIndex, notLastIndex;
    size_t nFilledGroups = 0;  // groups still unplaced that hold at least one entry
    // Files that more than one map places (first and last, not-first and not-last, ...). A
    // medium holds such a file once under each folder its placements restore it to: placements
    // under one folder that meet on a medium are one entry there, and one placed by first-fit
    // goes to another medium. Usually empty.
    std::unordered_set<std::string> multi;
    // Those of them the medium being filled holds, by path and folder on the medium.
    std::unordered_set<std::string> held;
    int64_t iEntryTotal = 0;   // bytes of every entry as the lists hold them
    CQvString strDir, strDispFlag, strType, strLastPath;
    DWORD dwSplitSize = 0;
    DWORD dwFreeSpace = 0;
    // Each saved medium is flushed and renamed into place here while the next one is filled.
    CQvCommits commits;

    QvFitIndex* IndexOf(const void* list) {
        QvFitIndex* all[] = {&groupIndex, &otherIndex, &notFirstIndex, &notLastIndex};
        for (QvFitIndex* index : all)
            if (index->pOwner == list) return index;
        return NULL;
    }
    // Entries that no medium has taken yet (empty groups do not count).
    size_t Pending() const {
        return nFilledGroups + otherIndex.nLive + notFirstIndex.nLive + notLastIndex.nLive;
    }
    CQvString PathOf(const CQvString& name) const {
        CQvString path(strDir);
        path += name;
        return path;
    }
};

namespace {

// A group's bytes, or under a model its entries and every folder they need, as on an empty
// medium: never less than what placing the group adds.
int64_t GroupCost(const GroupFileDesc& group) {
    if (!qvalloc::On()) return group.iGroupSize;
    qvalloc::FolderSet folders;
    int64_t iCost = 0;
    for (const FileDesc& desc : group.vtFileDesc)
        iCost += qvalloc::EntryCost(desc) + folders.Add(desc);
    return iCost;
}

std::vector<int64_t> GroupKeys(const GroupFileDescVector& groups) {
    std::vector<int64_t> keys;
    keys.reserve(groups.size());
    for (const GroupFileDesc& group : groups) keys.push_back(GroupCost(group));
    return keys;
}

// Each node is freed as soon as its entry has moved, so the map and the list never hold the
// catalogue's texts twice over; the list grows in small blocks that take the room of the
// freed nodes.
FileDescVector MapToVector(QvFileDescMap& map) {
    FileDescVector list;
    for (auto it = map.begin(); it != map.end(); it = map.erase(it)) {
        list.push_back(std::move(it->second));
        if (list.size() % kEntriesBetweenReleases == 0) qvp::ReleaseFreeMemory();
    }
    return list;
}

int64_t MapBytes(const QvFileDescMap& map) {
    int64_t total = 0;
    for (const auto& entry : map) total += entry.second.iFileSize;
    return total;
}

// Adds what the entries take under the model, with the folders none of them has needed yet.
// Counted as a fit test counts an entry: a hard link's data in full even where another of its
// names is held already. Counted shared, a set whose names fit one medium only by sharing was
// given one medium, on which the fit tests then refused those names: they were planned nowhere.
void AddAllocated(const FileDesc& desc, qvalloc::FolderSet& folders, int64_t& iTotal) {
    iTotal += qvalloc::EntryCost(desc) + folders.CostOfNew(desc);
    folders.Add(desc);
}
void AddAllocated(const QvFileDescMap& map, qvalloc::FolderSet& folders, int64_t& iTotal) {
    for (const auto& entry : map) AddAllocated(entry.second, folders, iTotal);
}
void AddAllocated(const FileDescVector& list, qvalloc::FolderSet& folders, int64_t& iTotal) {
    for (const FileDesc& desc : list) AddAllocated(desc, folders, iTotal);
}

}  // namespace

DWORD CQvMediaFactory::CreateMediaFiles(LPCTSTR strOutputDir, LPCTSTR strDispFlag, DWORD dwType,
                                        DWORD dwSplitSize, DWORD dwFirstMediaFreeSpaceSize,
                                        int iGroupCount, QvFileDescMap mpFileDescInAll,
                                        QvFileDescMap mpFileDescInAny,
                                        QvFileDescMap mpFileDescInFirst,
                                        QvFileDescMap mpFileDescInLast,
                                        QvFileDescMap mpFileDescNotFirst,
                                        QvFileDescMap mpFileDescNotLast) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvMediaFactory::CreateMediaFiles(LPCTSTR strOutputDir=%s, LPCTSTR strDispFlag=%s, "
        L"DWORD dwType=%d, DWORD dwSplitSize=%d, DWORD dwFirstMediaFreeSpaceSize=%d, int "
        L"iGroupCount=%d, QvFileDescMap mpFileDescInAll,QvFileDescMap mpFileDescInAny,"
        L"QvFileDescMap mpFileDescInFirst,QvFileDescMap mpFileDescInLast,QvFileDescMap "
        L"mpFileDescNotFirst,QvFileDescMap mpFileDescNotLast)",
        strOutputDir, strDispFlag, dwType, dwSplitSize, dwFirstMediaFreeSpaceSize, iGroupCount);
    if (strOutputDir == NULL)
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) strOutputDir = NULL !");
    if (strDispFlag == NULL)
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) strDispFlag = NULL !");
    if (strOutputDir == NULL || strDispFlag == NULL) return log->ExitFunction(DWORD(0));
    if (m_lpCB != NULL && m_lpCB(0, NULL, 0, m_lpUserParam) == 1) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) ABORT request");
        return log->ExitFunction(static_cast<DWORD>(E_ABORT));
    }
    if (mpFileDescInAll.empty() && mpFileDescInAny.empty() && mpFileDescInFirst.empty() &&
        mpFileDescInLast.empty() && mpFileDescNotFirst.empty() && mpFileDescNotLast.empty())
        return log->ExitFunction(DWORD(0));
    CloseMediaDocument();
    m_pXml = GetQvXmlInterface(XML_TYPE_LIBRARY);
    if (m_pXml == NULL) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) FAILED to get XML Interface");
        return log->ExitFunction(DWORD(0));
    }
    // Closed on every path, an exception passing through included, so a failed split does not
    // keep the document interface alive, nor a pointer to the run below.
    struct DocumentCloser {
        CQvMediaFactory* pFactory;
        ~DocumentCloser() { pFactory->CloseMediaDocument(); }
    } closer{this};
    QvMediaRun run;
    run.mpAll = std::move(mpFileDescInAll);
    run.mpAny = std::move(mpFileDescInAny);
    run.mpFirst = std::move(mpFileDescInFirst);
    run.mpLast = std::move(mpFileDescInLast);
    run.mpNotFirst = std::move(mpFileDescNotFirst);
    run.mpNotLast = std::move(mpFileDescNotLast);
    run.dwSplitSize = dwSplitSize;
    run.dwFreeSpace = dwFirstMediaFreeSpaceSize;
    run.strDispFlag = strDispFlag;
    run.strType.Format(L"0x0000000%d", dwType);
    run.strDir = strOutputDir;
    if (run.strDir.IsEmpty() || run.strDir.GetAt(run.strDir.GetLength() - 1) != L'\\')
        run.strDir += L"\\";
    m_pRun = &run;
    m_pXml->CommitThrough(&run.commits);
    PrepareLists(run, iGroupCount);
    DWORD dwCount = WriteMediaSet(run);
    if (!MediaInPlace(run)) dwCount = 0;
    QvSplitRun::Current().report.MediaInPlace(run.commits.Placed());
    run.vtGroupDesc.clear();
    CloseMediaDocument();
    if (dwCount == 0) QvSplitRun::Current().report.DropMedia();
    if (dwCount == 0) return log->ExitFunction(DWORD(0));
    if (m_lpCB != NULL && m_lpCB(2, NULL, 0, m_lpUserParam) == 1) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) ABORT request");
        return log->ExitFunction(DWORD(0));
    }
    return log->ExitFunction(dwCount);
}

// Notes the files that more than one of the maps left after the any-medium one holds: the
// smaller map of each pair is looked up in the larger, so a split whose rules never overlap
// pays one pass over its small maps.
void CQvMediaFactory::FindFilesOfSeveralMaps(QvMediaRun& run) {
    QvFileDescMap* maps[] = {&run.mpFirst, &run.mpLast, &run.mpAll, &run.mpNotFirst, &run.mpNotLast};
    const size_t nMaps = sizeof(maps) / sizeof(maps[0]);
    for (size_t a = 0; a < nMaps; ++a)
        for (size_t b = a + 1; b < nMaps; ++b) {
            QvFileDescMap* pSmall = maps[a]->size() <= maps[b]->size() ? maps[a] : maps[b];
            QvFileDescMap* pLarge = pSmall == maps[a] ? maps[b] : maps[a];
            if (pSmall->empty()) continue;
            for (const auto& entry : *pSmall)
                if (QvFindFileDesc(*pLarge, entry.second.strFilePath.Wide()) != pLarge->end())
                    run.multi.insert(entry.second.strFilePath.Utf8());
        }
}

// Takes fixed-medium entries out of the any-medium map, forms and orders the groups, and
// builds the working lists with their fit indexes.
void CQvMediaFactory::PrepareLists(QvMediaRun& run, int iGroupCount) {
    // By the file each entry names, not by its key: a key tells twins (paths differing only
    // in letter case) apart by which was met first, which may differ from one map to another.
    for (const QvFileDescMap* fixed : {&run.mpFirst, &run.mpLast, &run.mpAll})
        for (const auto& entry : *fixed) QvEraseFileDesc(run.mpAny, entry.second.strFilePath.Wide());
    const size_t nGroups = iGroupCount > 0 ? static_cast<size_t>(iGroupCount) : 0;
    GroupFileDescVector groups(nGroups);
    // One pass in map order puts every grouped entry into its group in map order and leaves
    // the others, in map order, for the single-entry list. Each map node is freed as soon as
    // its entry moved, and the lists grow in blocks of their own (never copied as they grow)
    // that reuse the room the nodes left.
    size_t nMoved = 0;
    for (auto it = run.mpAny.begin(); it != run.mpAny.end(); it = run.mpAny.erase(it)) {
        if (++nMoved % kEntriesBetweenReleases == 0) qvp::ReleaseFreeMemory();
        FileDesc& desc = it->second;
        const int32_t g = desc.iAllTogetherGroup;
        if (g >= 0 && static_cast<size_t>(g) < nGroups) {
            groups[g].iGroupSize += desc.iFileSize;
            groups[g].vtFileDesc.push_back(std::move(desc));
        } else {
            run.vtFileDesc.push_back(std::move(desc));
        }
    }
    // Largest first; a stable sort keeps the lower group number first among equal sizes.
    std::stable_sort(groups.begin(), groups.end(),
                     [](const GroupFileDesc& a, const GroupFileDesc& b) {
                         return a.iGroupSize > b.iGroupSize;
                     });
    run.vtGroupDesc = std::move(groups);
    FindFilesOfSeveralMaps(run);
    run.vtFileDescNotFirst = MapToVector(run.mpNotFirst);
    run.vtFileDescNotLast = MapToVector(run.mpNotLast);
    run.iEntryTotal = MapBytes(run.mpAll) + MapBytes(run.mpFirst) + MapBytes(run.mpLast);
    for (const GroupFileDesc& group : run.vtGroupDesc) {
        run.iEntryTotal += group.iGroupSize;
        if (!group.vtFileDesc.empty()) ++run.nFilledGroups;
    }
    for (const FileDescVector* list :
         {&run.vtFileDesc, &run.vtFileDescNotFirst, &run.vtFileDescNotLast})
        for (const FileDesc& desc : *list) run.iEntryTotal += desc.iFileSize;
    if (qvalloc::On()) {
        // All of it on one medium: every entry, every folder once, the medium's structures.
        qvalloc::FolderSet folders;
        int64_t iAllocated = qvalloc::MediumCost();
        for (const QvFileDescMap* map : {&run.mpAll, &run.mpFirst, &run.mpLast})
            AddAllocated(*map, folders, iAllocated);
        for (const GroupFileDesc& group : run.vtGroupDesc)
            AddAllocated(group.vtFileDesc, folders, iAllocated);
        for (const FileDescVector* list :
             {&run.vtFileDesc, &run.vtFileDescNotFirst, &run.vtFileDescNotLast})
            AddAllocated(*list, folders, iAllocated);
        run.iEntryTotal = iAllocated;
    }
    run.groupIndex.Build(&run.vtGroupDesc, GroupKeys(run.vtGroupDesc));
    run.otherIndex.BuildOnEntries(run.vtFileDesc);
    run.notFirstIndex.BuildOnEntries(run.vtFileDescNotFirst);
    run.notLastIndex.BuildOnEntries(run.vtFileDescNotLast);
}

// The media in writing order: the only one, or the first, the last and the middle ones; the
// number of media, 0 when the split stopped or failed.
DWORD CQvMediaFactory::WriteMediaSet(QvMediaRun& run) {
    const int64_t iFreeBytes = static_cast<int64_t>(run.dwFreeSpace) * kMegabyte;
    // Free space counts in bytes like the total. The total the validation stored is trusted
    // unless the entries themselves are bigger (a catalogue not validated again), so that one
    // medium is chosen only when everything really fits on it.
    const int64_t iTotal =
        qvalloc::On() ? run.iEntryTotal : std::max(m_iTotalSize, run.iEntryTotal);
    if (Megabytes(iFreeBytes + iTotal) < static_cast<int64_t>(run.dwSplitSize))
        return WriteOnlyMedium(run) ? 1 : 0;
    if (!WriteFirstMedium(run)) return 0;
    // A last medium is made whenever something is still to be placed, not only when the total
    // exceeds one medium: otherwise the last-medium entries and whatever the first medium could
    // not take would be written nowhere.
    const bool bNeedLast = Megabytes(m_iTotalSize) > static_cast<int64_t>(run.dwSplitSize) ||
                           run.Pending() > 0 || !run.mpLast.empty();
    if (!bNeedLast) return 1;
    if (!WriteLastMedium(run)) return 0;
    int iNumber = 2;
    while (run.Pending() > 0) {
        if (!WriteMiddleMedium(run, iNumber)) return 0;
        ++iNumber;
    }
    return FinalMove(run, iNumber) ? static_cast<DWORD>(iNumber) : 0;
}

bool CQvMediaFactory::BeginMedium(QvMediaRun& run, const CQvString& strPath, DWORD dwNumber,
                                  const wchar_t* fmtError) {
    if (CreateNewMediaFile(strPath, run.strDispFlag, run.strType, run.dwSplitSize) < 0) {
        CQvLog::GetInstance()->AddError(fmtError, strPath);
        return false;
    }
    QvSplitRun::Current().report.BeginMedium(dwNumber);
    const bool bFirst = dwNumber == 1;
    m_iMediaSize = bFirst ? static_cast<int64_t>(run.dwFreeSpace) * kMegabyte : 0;
    m_iMediaReserved = m_iMediaSize;
    m_iMediaShared = 0;
    m_iMediaUsed = m_iMediaSize + qvalloc::MediumCost();
    m_mediaFolders.Clear();
    m_dwMediaFileCount = 0;
    run.held.clear();
    return true;
}

bool CQvMediaFactory::WriteOnlyMedium(QvMediaRun& run) {
    CQvLog* log = CQvLog::GetInstance();
    const CQvString strPath = run.PathOf(L"Media1.xml");
    if (!BeginMedium(run, strPath, 1,
                     L"CQvMediaFactory::CreateMediaFiles(...) CreateNewMediaFile file %s FAILED"))
        return false;
    const long hr = MakeOneMedia(run.dwSplitSize, run.mpFirst, run.mpAll, run.vtFileDesc,
                                 run.vtFileDescNotLast, run.mpLast, run.vtFileDescNotFirst,
                                 run.vtGroupDesc);
    if (hr == E_ABORT) return false;
    if (hr < 0) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) MakeOneMedia FAILED");
        return false;
    }
    return FinishMedium(strPath);
}

bool CQvMediaFactory::WriteFirstMedium(QvMediaRun& run) {
    CQvLog* log = CQvLog::GetInstance();
    const CQvString strPath = run.PathOf(L"Media1.xml");
    if (!BeginMedium(run, strPath, 1,
                     L"CQvMediaFactory::CreateMediaFiles(...) CreateNewMediaFile file %s FAILED"))
        return false;
    const long hr = MakeFirstMedia(run.dwSplitSize, run.mpFirst, run.mpAll, run.vtFileDesc,
                                   run.vtFileDescNotLast, run.vtGroupDesc);
    if (hr == E_ABORT) return false;
    if (hr < 0) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) MakeFirstMedia FAILED");
        return false;
    }
    return FinishMedium(strPath);
}

bool CQvMediaFactory::WriteLastMedium(QvMediaRun& run) {
    CQvLog* log = CQvLog::GetInstance();
    run.strLastPath = run.PathOf(L"Last.xml");
    if (!BeginMedium(run, run.strLastPath, 0,
                     L"CQvMediaFactory::CreateMediaFiles(...) CreateNewMediaFile file %s FAILED"))
        return false;
    const long hr = MakeLastMedia(run.dwSplitSize, run.mpLast, run.mpAll, run.vtFileDesc,
                                  run.vtFileDescNotFirst, run.vtGroupDesc);
    if (hr == E_ABORT) return false;
    if (hr < 0) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) MakeLastMedia FAILED");
        return false;
    }
    return FinishMedium(run.strLastPath);
}

bool CQvMediaFactory::WriteMiddleMedium(QvMediaRun& run, int iNumber) {
    CQvLog* log = CQvLog::GetInstance();
    CQvString strName;
    strName.Format(L"Media%d.xml", iNumber);
    const CQvString strPath = run.PathOf(strName);
    if (!BeginMedium(run, strPath, static_cast<DWORD>(iNumber),
                     L"CQvMediaFactory::CreateMediaFiles(...) Create new XML file %s FAILED"))
        return false;
    const size_t nBefore = run.Pending();
    const long hr = MakeMedia(run.dwSplitSize, run.mpAll, run.vtFileDesc, run.vtFileDescNotFirst,
                              run.vtFileDescNotLast, run.vtGroupDesc);
    if (hr == E_ABORT) return false;
    if (hr < 0) {
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) MakeMedia FAILED");
        return false;
    }
    // A middle medium holds nothing but the every-medium entries before it is filled; if not
    // even one entry found room there, no later medium can take it either.
    if (run.Pending() == nBefore) {
        ReportUnplaceable(run, iNumber);
        return false;
    }
    return FinishMedium(strPath);
}

// Names the first entry or group that found no room on an otherwise empty middle medium.
void CQvMediaFactory::ReportUnplaceable(QvMediaRun& run, int iNumber) {
    CQvLog* log = CQvLog::GetInstance();
    for (size_t i = 0; i < run.vtGroupDesc.size(); ++i) {
        const GroupFileDesc& group = run.vtGroupDesc[i];
        if (!run.groupIndex.IsAlive(i) || group.vtFileDesc.empty()) continue;
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) AllTogether group of %d files "
                      L"from %s (%I64d bytes) does not fit on medium %d beside %I64d bytes of "
                      L"every-medium files, split size %dMB",
                      static_cast<int>(group.vtFileDesc.size()), group.vtFileDesc[0].strFilePath,
                      group.iGroupSize, iNumber, m_iMediaSize, run.dwSplitSize);
        return;
    }
    const std::pair<FileDescVector*, QvFitIndex*> lists[] = {
        {&run.vtFileDescNotFirst, &run.notFirstIndex},
        {&run.vtFileDescNotLast, &run.notLastIndex},
        {&run.vtFileDesc, &run.otherIndex}};
    for (const auto& list : lists) {
        const size_t i = list.second->FindFirstBelow(0, QvFitIndex::kTaken);
        if (i == QvFitIndex::npos) continue;
        const FileDesc& desc = (*list.first)[i];
        log->AddError(L"CQvMediaFactory::CreateMediaFiles(...) file %s (%I64d bytes) does not "
                      L"fit on medium %d beside %I64d bytes of every-medium files, split size "
                      L"%dMB",
                      desc.strFilePath, desc.iFileSize, iNumber, m_iMediaSize, run.dwSplitSize);
        return;
    }
}

// Writes the two size attributes of the medium and saves it.
bool CQvMediaFactory::FinishMedium(const CQvString& strPath) {
    QvXmlHeld<IQvXmlNode> info;
    if (m_pXml->SelectNode(L"/Factory/Media/Info", info.Out()) >= 0 && info) {
        QvXmlHeld<IQvXmlAttribute> attr;
        if (info->AddAttribute(L"Media_Size", attr.Out()) >= 0 && attr)
            attr->SetInt64Value(m_iMediaSize);
        if (info->AddAttribute(L"Media_NumberFiles", attr.Out()) >= 0 && attr)
            attr->SetIntValue(static_cast<int32_t>(m_dwMediaFileCount));
        if (qvalloc::On() && info->AddAttribute(L"Image_Size", attr.Out()) >= 0 && attr)
            attr->SetInt64Value(m_iMediaUsed - m_iMediaReserved);
    }
    if (m_pXml->Save(0) < 0) {
        CQvLog::GetInstance()->AddError(
            L"CQvMediaFactory::CreateMediaFiles(...) Save XML file %s FAILED", strPath);
        return false;
    }
    QvSplitRun::Current().report.FinishMedium(m_dwMediaFileCount, m_iMediaSize,
                                      qvalloc::On() ? m_iMediaUsed - m_iMediaReserved : -1,
                                      m_iMediaSize - m_iMediaShared);
    return true;
}

bool CQvMediaFactory::MediaInPlace(QvMediaRun& run) {
    if (run.commits.Finish()) return true;
    CQvLog::GetInstance()->AddError(L"CQvMediaFactory::CreateMediaFiles(...) Save XML file %s FAILED",
                                    run.commits.Failed());
    return false;
}

// Gives "Last.xml" the highest number. A set without its last medium is no set, so a failed
// rename fails the split instead of reporting a count the folder does not hold.
bool CQvMediaFactory::FinalMove(QvMediaRun& run, int iNumber) {
    if (!run.commits.Finish()) return false;  // named by CreateMediaFiles
    CQvString strName;
    strName.Format(L"Media%d.xml", iNumber);
    const CQvString strPath = run.PathOf(strName);
    qvp::DeleteFileW(strPath);
    // On the disk before the split reports its media, as the moves before it are.
    if (!qvp::MoveFileExW(run.strLastPath, strPath, MOVEFILE_WRITE_THROUGH)) {
        CQvLog::GetInstance()->AddError(
            L"CQvMediaFactory::CreateMediaFiles(...) Move XML file %s to %s FAILED (error %d)",
            run.strLastPath, strPath, qvp::GetLastError());
        return false;
    }
    QvSplitRun::Current().report.NumberLast(static_cast<DWORD>(iNumber));
    return true;
}

size_t CQvMediaFactory::PlacedMedia() const { return m_pRun != NULL ? m_pRun->commits.Placed() : 0; }

bool CQvMediaFactory::HeldByMedium(const FileDesc& desc, bool bTake) {
    if (m_pRun == NULL || m_pRun->multi.empty()) return false;
    std::string key(desc.strFilePath.Utf8());
    if (m_pRun->multi.count(key) == 0) return false;
    // A file is held under a folder of the medium: placed again under another folder it is
    // restored there too, which is what the rules asked for. Folder names of a medium ignore
    // letter case.
    CQvString strTarget(desc.strTargetPath);
    strTarget.MakeLower();
    key += '\0';
    key += qvp::WideToUtf8(strTarget.str());
    if (m_pRun->held.count(key) != 0) return true;
    if (bTake) m_pRun->held.insert(std::move(key));
    return false;
}

// Hands every entry of a fixed map to the medium, with no size test.
long CQvMediaFactory::AddWholeMap(QvFileDescMap& mpFileDesc, const wchar_t* fmtError) {
    m_bAddingEveryMedium = m_pRun != NULL && &mpFileDesc == &m_pRun->mpAll;
    for (auto& entry : mpFileDesc)
        if (!HeldByMedium(entry.second, true) && AddFileToMedia(&entry.second) < 0)
            CQvLog::GetInstance()->AddError(fmtError, QvFileDescKey(entry.first));
    m_bAddingEveryMedium = false;
    return S_OK;
}

bool CQvMediaFactory::MayRepeat(const FileDesc& desc) const {
    if (m_bAddingEveryMedium) return true;
    return m_pRun != NULL && !m_pRun->multi.empty() &&
           m_pRun->multi.count(desc.strFilePath.Utf8()) != 0;
}

long CQvMediaFactory::MakeOneMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInFirst,
                                   QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                                   FileDescVector& vtFileDescNotLast,
                                   QvFileDescMap& mpFileDescInLast,
                                   FileDescVector& vtFileDescNotFirst,
                                   GroupFileDescVector& vtGroupDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvMediaFactory::MakeOneMedia(DWORD dwSplitSize=%d, QvFileDescMap &mpFileDescInFirst, "
        L"QvFileDescMap &mpFileDescInAll, FileDescVector &vtFileDesc, FileDescVector "
        L"vtFileDescNotLast, QvFileDescMap &mpFileDescInLast, FileDescVector vtFileDescNotFirst, "
        L"GroupFileDescVector &vtGroupDesc)",
        dwSplitSize);
    if (AbortRequested()) {
        log->AddError(L"CQvMediaFactory::MakeOneMedia(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    const wchar_t* fmtAdd =
        L"CQvMediaFactory::MakeOneMedia(...) FAILED to add file %s to xml media file";
    AddWholeMap(mpFileDescInFirst, fmtAdd);
    AddWholeMap(mpFileDescInAll, fmtAdd);
    long hr = FillMediaWithGroupFiles(dwSplitSize, vtGroupDesc);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotLast);
    if (hr != E_ABORT) {
        AddWholeMap(mpFileDescInLast, fmtAdd);
        hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotFirst);
    }
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDesc);
    return log->ExitFunction(static_cast<long>(hr == E_ABORT ? E_ABORT : S_OK));
}

long CQvMediaFactory::MakeFirstMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInFirst,
                                     QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                                     FileDescVector& vtFileDescNotLast,
                                     GroupFileDescVector& vtGroupDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvMediaFactory::MakeFirstMedia(DWORD dwSplitSize=%d, QvFileDescMap "
        L"&mpFileDescInFirst, QvFileDescMap &mpFileDescInAll, FileDescVector &vtFileDesc, "
        L"FileDescVector vtFileDescNotLast, GroupFileDescVector &vtGroupDesc)",
        dwSplitSize);
    if (AbortRequested()) {
        log->AddError(L"CQvMediaFactory::MakeFirstMedia(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    const wchar_t* fmtAdd =
        L"CQvMediaFactory::MakeFirstMedia(...) FAILED to add file %s to xml media file";
    AddWholeMap(mpFileDescInFirst, fmtAdd);
    AddWholeMap(mpFileDescInAll, fmtAdd);
    long hr = FillMediaWithGroupFiles(dwSplitSize, vtGroupDesc);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotLast);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDesc);
    return log->ExitFunction(static_cast<long>(hr == E_ABORT ? E_ABORT : S_OK));
}

long CQvMediaFactory::MakeLastMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInLast,
                                    QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                                    FileDescVector& vtFileDescNotFirst,
                                    GroupFileDescVector& vtGroupDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvMediaFactory::MakeLastMedia(DWORD dwSplitSize=%d, QvFileDescMap &mpFileDescInLast, "
        L"QvFileDescMap &mpFileDescInAll, FileDescVector &vtFileDesc, FileDescVector "
        L"vtFileDescNotFirst,GroupFileDescVector &vtGroupDesc)",
        dwSplitSize);
    if (AbortRequested()) {
        log->AddError(L"CQvMediaFactory::MakeLastMedia(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    const wchar_t* fmtAdd =
        L"CQvMediaFactory::MakeLastMedia(...) FAILED to add file %s to xml media file";
    AddWholeMap(mpFileDescInLast, fmtAdd);
    AddWholeMap(mpFileDescInAll, fmtAdd);
    long hr = FillMediaWithGroupFiles(dwSplitSize, vtGroupDesc);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotFirst);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDesc);
    return log->ExitFunction(static_cast<long>(hr == E_ABORT ? E_ABORT : S_OK));
}

long CQvMediaFactory::MakeMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInAll,
                                FileDescVector& vtFileDesc, FileDescVector& vtFileDescNotFirst,
                                FileDescVector& vtFileDescNotLast,
                                GroupFileDescVector& vtGroupDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(
        L"CQvMediaFactory::MakeMedia(DWORD dwSplitSize=%d, QvFileDescMap &mpFileDescInAll, "
        L"FileDescVector &vtFileDesc, FileDescVector vtFileDescNotFirst, FileDescVector "
        L"vtFileDescNotLast, GroupFileDescVector &vtGroupDesc)",
        dwSplitSize);
    if (AbortRequested()) {
        log->AddError(L"CQvMediaFactory::MakeMedia(...) ABORT request");
        return log->ExitFunction(static_cast<long>(E_ABORT));
    }
    AddWholeMap(mpFileDescInAll,
                L"CQvMediaFactory::MakeMedia(...) FAILED to add file %s to xml media file");
    long hr = FillMediaWithGroupFiles(dwSplitSize, vtGroupDesc);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotFirst);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDescNotLast);
    if (hr != E_ABORT) hr = FillMediaWithOtherFiles(dwSplitSize, vtFileDesc);
    return log->ExitFunction(static_cast<long>(hr == E_ABORT ? E_ABORT : S_OK));
}

long CQvMediaFactory::FillMediaWithOtherFiles(DWORD dwSplitSize, FileDescVector& vtFileDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::FillMediaWithOtherFiles(DWORD dwSplitSize=%d, "
                       L"FileDescVector &vtFileDesc)",
                       dwSplitSize);
    // Inside CreateMediaFiles the list keeps an index across media; a list handed in on its
    // own gets one for this call and is compacted afterwards.
    QvFitIndex* pIndex = m_pRun != NULL ? m_pRun->IndexOf(&vtFileDesc) : NULL;
    if (pIndex != NULL) return log->ExitFunction(FillOther(dwSplitSize, vtFileDesc, *pIndex));
    QvFitIndex index;
    index.BuildOnEntries(vtFileDesc);
    const long hr = FillOther(dwSplitSize, vtFileDesc, index);
    index.Compact(vtFileDesc);
    return log->ExitFunction(hr);
}

// First-fit of single entries in list order, resuming after each placement.
long CQvMediaFactory::FillOther(DWORD dwSplitSize, FileDescVector& vtFileDesc,
                                QvFitIndex& index) {
    const int64_t iSplit = static_cast<int64_t>(dwSplitSize);
    if (index.nLive == 0 || Megabytes(m_iMediaUsed) >= iSplit) return S_OK;
    size_t pos = 0;
    for (;;) {
        if (AbortRequested()) {
            CQvLog::GetInstance()->AddError(
                L"CQvMediaFactory::FillMediaWithOtherFiles(...) ABORT request");
            return E_ABORT;
        }
        const int64_t iLimit = FitLimit(dwSplitSize, m_iMediaUsed);
        size_t i = index.FindFirstBelow(pos, iLimit);
        // Under a model an entry also needs the folders it goes into that the medium lacks.
        while (i != QvFitIndex::npos &&
               (!m_mediaFolders.FitsIn(vtFileDesc[i], iLimit - index.Key(i)) ||
                HeldByMedium(vtFileDesc[i], false)))
            i = index.FindFirstBelow(i + 1, iLimit);
        if (i == QvFitIndex::npos) return S_OK;
        HeldByMedium(vtFileDesc[i], true);
        if (AddFileToMedia(&vtFileDesc[i]) < 0)
            CQvLog::GetInstance()->AddError(L"CQvMediaFactory::FillMediaWithOtherFiles(...) "
                                            L"FAILED to add file %s to xml media file",
                                            vtFileDesc[i].strFilePath);
        index.Remove(i);
        if (index.nLive == 0 || Megabytes(m_iMediaUsed) >= iSplit) return S_OK;
        pos = i + 1;
    }
}

long CQvMediaFactory::FillMediaWithGroupFiles(DWORD dwSplitSize,
                                              GroupFileDescVector& vtGroupDesc) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvMediaFactory::FillMediaWithGroupFiles(DWORD dwSplitSize=%d, "
                       L"GroupFileDescVector &vtGroupDesc)",
                       dwSplitSize);
    QvFitIndex* pIndex = m_pRun != NULL ? m_pRun->IndexOf(&vtGroupDesc) : NULL;
    if (pIndex != NULL) return log->ExitFunction(FillGroups(dwSplitSize, vtGroupDesc, *pIndex));
    QvFitIndex index;
    index.Build(&vtGroupDesc, GroupKeys(vtGroupDesc));
    const long hr = FillGroups(dwSplitSize, vtGroupDesc, index);
    index.Compact(vtGroupDesc);
    return log->ExitFunction(hr);
}

// First-fit of whole groups in list order, resuming after each placement.
long CQvMediaFactory::FillGroups(DWORD dwSplitSize, GroupFileDescVector& vtGroupDesc,
                                 QvFitIndex& index) {
    CQvLog* log = CQvLog::GetInstance();
    size_t pos = 0;
    while (index.nLive > 0) {
        if (AbortRequested()) {
            log->AddError(L"CQvMediaFactory::FillMediaWithGroupFiles(...) ABORT request");
            return E_ABORT;
        }
        const size_t i = index.FindFirstBelow(pos, FitLimit(dwSplitSize, m_iMediaUsed));
        if (i == QvFitIndex::npos) break;
        GroupFileDesc& group = vtGroupDesc[i];
        for (FileDesc& desc : group.vtFileDesc)
            if (AddFileToMedia(&desc) < 0)
                log->AddError(L"CQvMediaFactory::FillMediaWithGroupFiles(...) FAILED to add "
                              L"file %s to xml media file",
                              desc.strFilePath);
        index.Remove(i);
        if (m_pRun != NULL && &index == &m_pRun->groupIndex && !group.vtFileDesc.empty())
            --m_pRun->nFilledGroups;
        pos = i + 1;
    }
    return S_OK;
}
