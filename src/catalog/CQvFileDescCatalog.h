// The process-wide file catalogue: six location maps of file and directory descriptions.
#ifndef CQVFILEDESCCATALOG_H
#define CQVFILEDESCCATALOG_H

#include "common/QvAllocation.h"
#include "common/QvRecords.h"
#include "facilities/CQvPathString.h"
#include "rules/CQvPathRules.h"
#include "rules/CQvRulesFactory.h"

#include <string>
#include <unordered_map>
#include <vector>

class CQvMediaFactory;

class QVSPLIT_API CQvFileDescCatalog {
public:
    static CQvFileDescCatalog* GetInstance();
    virtual ~CQvFileDescCatalog();

    // Empties the six location maps.
    void ResetFileCatalog();
    // Frees a record made by CreateFileDesc or CreateDirDesc.
    void DeleteFileDesc(FileDesc* pFileDesc);
    // Puts the files of an include rule's path into the maps of its include locations.
    long AddToMediaCatalog(CQvPathRules* pqvPathRules);
    // Removes the files of an exclude rule's path from the maps of its exclude locations.
    long DeleteFromMediaCatalog(CQvPathRules* pqvPathRules);
    // Adds one file, or the matches of a pattern containing "*", for every include location.
    long AddFileToCatalog(CQvPathRules* pQvPathRules, LPCTSTR strFileName);
    // Describes one file; the caller owns the record. Null when the path does not exist.
    FileDesc* CreateFileDesc(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                             LPCTSTR strTargetPath);
    // Adds a directory as one entry, or its children when it is larger than the split size.
    long AddDirToCatalog(DWORD dwSplitSize, CQvPathRules* pQvPathRules, LPCTSTR strFilePath);
    // Builds the catalogue from the rules, sizes it, cuts oversize files when asked, and
    // accepts or refuses the split size.
    long ValidateSplitSize(DWORD dwSplitSize, DWORD dwFirstMediaFreeSpaceSize,
                           DWORD dwOutputMethod);
    // Builds and validates the catalogue when needed, writes the media files, empties the
    // catalogue; returns the number of media, 0 on failure.
    DWORD SplitIntoMedias(LPCTSTR strDispFlag, DWORD dwType, DWORD dwSplitSize,
                          DWORD dwFirstMediaFreeSpaceSize, DWORD dwOutputMethod,
                          LPCTSTR strOutputDir, SPLITCB lpCB, LPVOID lpUserParam);

protected:
    CQvFileDescCatalog();

    // Case-insensitive substring test: nonzero when what occurs in text.
    int Find(LPCTSTR text, LPCTSTR what);
    // Adds (bAdd nonzero) or removes every file below a directory.
    void ParseDirectory(CQvPathRules* pqvPathRules, LPCTSTR strPath, int bAdd);
    long AddSingleFileToCatalog(CQvPathRules* pQvPathRules, LPCTSTR strFileName);
    long AddFilesToCatalog(CQvPathRules* pQvPathRules, LPCTSTR strFileName);
    FileDesc* CreateDirDesc(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                            LPCTSTR strTargetPath);
    // Adds the size of every file below a directory to iSize.
    void DirSize(LPCTSTR pstrPath, int64_t& iSize);
    long SplitDirToCatalog(DWORD dwSplitSize, CQvPathRules* pQvPathRules, LPCTSTR strFilePath);
    long SplitIncludeDir(CQvPathRules* pQvPathRules, LPCTSTR strPath, DWORD dwSplitSize);
    long SplitExcludeDir(CQvPathRules* pQvPathRules, LPCTSTR strPath, DWORD dwSplitSize);
    long DeleteSingleFileFromCatalog(LPCTSTR strFilePath, MediaDescriptEnumVector vtExclude);
    long DeleteFilesFromCatalog(LPCTSTR strFilePath, MediaDescriptEnumVector vtExclude);
    int64_t CheckSize(DWORD dwSplitSize, int64_t& iSizeBigFile, int64_t& iSizeFirst,
                      int64_t& iSizeLast, int64_t& iSizeGroup, int64_t& iSizeAll);
    void CheckBigFileInDir(int64_t iLimit, int64_t& iSizeBigFile, QvFileDescMap& mpFileDesc,
                           QvFileDescMapIter& iter, LPCTSTR strPath);
    // The map of a location, or null for a value outside 1 to 6.
    QvFileDescMap* MapOf(int iLocation);

    QvFileDescMap mpFileDescInAll;
    QvFileDescMap mpFileDescInAny;
    QvFileDescMap mpFileDescInFirst;
    QvFileDescMap mpFileDescInLast;
    QvFileDescMap mpFileDescNotFirst;
    QvFileDescMap mpFileDescNotLast;
    SPLITCB lpCB;
    LPVOID lpUserParam;
    CQvMediaFactory* pMediaFactory;
    CQvRulesFactory* pRulesFactory;
    DWORD dwSplitSize;
    BOOL bWimTooBig;
    CQvString strBigFileName;

private:
    // What a directory listing already told about one entry, so a walk does not ask the file
    // system a second and third time for every file it meets.
    struct QvKnownEntry {
        DWORD dwAttributes;
        DWORD nFileSizeHigh;
        DWORD nFileSizeLow;
        DWORD dwWriteTimeLow;
        DWORD dwWriteTimeHigh;
        DWORD dwLinks;  // 0: not known
    };

    // What a listing tells of a file.
    static QvKnownEntry KnownOf(const WIN32_FIND_DATAW& fd) {
        return {fd.dwFileAttributes, fd.nFileSizeHigh, fd.nFileSizeLow, fd.ftLastWriteTime.dwLowDateTime,
                fd.ftLastWriteTime.dwHighDateTime, qvp::GetListedLinkCount(fd)};
    }
    long AddFileKnown(CQvPathRules* pQvPathRules, LPCTSTR strFileName, const QvKnownEntry* pKnown);
    // Whether a described file stays out of the maps of location: a pipe, socket or device,
    // or a file larger than a medium while cutting is off (reported as left out; an oversize
    // ".wim" file sets bWimTooBig).
    bool LeavesOut(const FileDesc& desc, const CQvString& strKey, MediaDescriptEnum location);
    long AddSingleFileKnown(CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                            const QvKnownEntry* pKnown);
    FileDesc* MakeDesc(bool bDirDesc, CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                       LPCTSTR strTargetPath, const QvKnownEntry* pKnown);
    void FillTargetPath(bool bDirDesc, CQvPathRules* pQvPathRules, LPCTSTR strFileName,
                        LPCTSTR strTargetPath, FileDesc& fileDesc);
    // The rows a caller's catalogue of the set lists, counted as the model's catalogue terms
    // count them (QvAllocationModel): rows, the bytes of their paths and names, the digits of their
    // sizes, and the folders of rows with the bytes of their paths.
    struct QvCatalogTally {
        int64_t iRows = 0;
        int64_t iPathBytes = 0;
        int64_t iNameBytes = 0;
        int64_t iDigits = 0;
        int64_t iFolders = 0;
        int64_t iFolderBytes = 0;
        void Add(const QvCatalogTally& other, int64_t iTimes = 1) {
            iRows += other.iRows * iTimes;
            iPathBytes += other.iPathBytes * iTimes;
            iNameBytes += other.iNameBytes * iTimes;
            iDigits += other.iDigits * iTimes;
            iFolders += other.iFolders * iTimes;
            iFolderBytes += other.iFolderBytes * iTimes;
        }
    };
    // Counts the rows of the selection and keeps room for them on every medium when the model
    // asks for it, before the size checks (see QvAllocationModel); false when the split is
    // stopped meanwhile.
    void KeepRoomForCatalog(DWORD dwSplit);
    // The rows an entry of a map gives, its folder counted when it is not the last one's.
    void TallyEntry(const FileDesc& desc, std::wstring& strLastFolder, QvCatalogTally& tally);
    // The room for a catalogue of rows, left-out entries and iMedia media.
    // iMeasured: what the caller's measure counted for rows not in the tallies, every-medium
    // rows once.
    struct QvMeasuredRows {
        int64_t iAny = 0;
        int64_t iEvery = 0;
    };
    static int64_t CatalogRoomFor(const QvAllocationModel& m, const QvCatalogTally& any, const QvCatalogTally& every,
                                  int64_t iLeftOut, int64_t iLeftOutBytes, int64_t iMedia, const QvMeasuredRows& measured);
    // Hands the rows of the files and links of map to the caller's measure.
    static void MeasureRows(const qvalloc::CatalogMeasure& measure, const QvFileDescMap& map);
    // Entries a first-fit map holds that would no longer fit an empty medium beside the
    // every-medium set with iRoom more kept on it; with bLeaveOut they are left out.
    int64_t EntriesTheRoomCosts(int64_t iRoom, bool bLeaveOut);
    // What one walk of a directory tree tells: its total size and its biggest file.
    struct QvDirFacts {
        int64_t iTotal = 0;
        int64_t iBiggest = -1;        // size of the first biggest file in walk order; -1: none
        std::wstring strBiggestName;  // its name (without folder)
        bool bBiggestKnown = true;    // false when a skipped folder hid files from the walk
        bool bComplete = true;        // false when something below cannot be listed or copied
        qvalloc::TreeFacts tree{-1, -1, -1, -1};  // what it takes kept whole under the model; cost -1: not counted
        int64_t iFiles = -1;          // files and links below it; -1: not counted
        // What a catalogue lists below it (see CatalogRows), paths from the folder on.
        QvCatalogTally catalog;
    };
    int64_t MeasureDir(const std::wstring& strDir);
    // Whether a folder can be kept as one entry: it fits an empty medium, does not hold the
    // output folder, and everything below it can be listed and copied.
    bool KeepsWhole(const std::wstring& strDir, DWORD dwSplit);
    bool HoldsPlannedEntries(LPCTSTR strFolder);
    QvDirFacts MeasureDirFacts(const std::wstring& strDir);
    QvDirFacts MeasureDirFromDisk(const std::wstring& strDir);
    void ComparedFolder(CQvPathRules* pRule, CQvString& strFolder, bool& bIsDir);
    long WalkAroundRules(CQvPathRules* pQvPathRules, LPCTSTR strPath, DWORD dwSplitSize,
                         bool bExclude);
    enum { kReachNone, kReachDescend, kReachExcluded, kReachExcludedInPart };
    int ReachInto(CQvPathRules* pRule, const CQvPathString& strChild, QvRules& mpExclude,
                  QvRules& mpInclude);
    void BuildFilesOneByOne();
    void BuildDirsKeptWhole(DWORD dwSplit);
    void ApplyExcludeRules();
    // Takes out the entries another map already places: a file on every medium is also on the
    // first, the last and any one; a file on the first medium is on one that is not the last
    // (and the other way round); any placement is one on any medium. Afterwards each file
    // counts once in every set that shares a medium.
    void DropEntriesPlacedElsewhere();
    // Following earlier sets: takes out the entries they record as they are, and notes what is
    // new, changed, unchanged and deleted (QvGetChangeCounts).
    void KeepOnlyChanges();
    // Whether the sets followed record a file at or below a path the include rules select.
    bool SelectionRecorded();
    // With folders kept whole: a folder placed by first-fit that fits an empty medium but not
    // beside the every-medium set is replaced by its files (and by its sub-folders that do
    // fit), as a folder too big for a medium is.
    void SplitFoldersBesideEveryMedium(DWORD dwSplit);
    void ExpandFolderInMap(QvFileDescMap& map, const FileDesc& folder, int64_t iRoom);
    // With bReport false, only whether the split passes: nothing logged or reported.
    long RunSizeChecks(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize, const int64_t* piSize, bool bReport = true);
    void DropCatalogRoomThatRefuses(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize, const int64_t* piSize);
    // With cutting on: runs the size checks with every file that would be cut counted as its
    // parts, before any file is cut; a split refused or stopped then changes no file.
    long CheckBeforeCutting(DWORD dwSplit, DWORD dwFirstMediaFreeSpaceSize);
    bool m_bSizingOnly = false;  // CheckSize counts oversize files as their parts, cuts nothing
    void AddSizesOfMap(QvFileDescMap& mpFileDesc, int64_t iLimit, int64_t& iTotal,
                       int64_t& iSizeBigFile, int64_t* piMapSize,
                       qvalloc::FolderSet* pFolders = nullptr, bool bFirstFit = false);
    // The biggest unit first-fit places (see CheckSize), from the last CheckSize; -1 for none.
    int64_t m_iSizeBigFit = -1;
    bool m_bGroupPlaced = false;  // whether the last CheckSize met an entry of a group
    static CQvString LocalWriteTime(DWORD dwLow, DWORD dwHigh);
    // Gives the part list's entries the size and time it has after the cuts wrote to it.
    void RefreshPartListEntries();
    void StartBuildCache();
    void EndBuildCache();
    // Asks the callback at a stop point; once it asked to stop, every walk ends and the
    // validation reports the stop, so no folder is dropped from a split that carries on.
    bool StopRequested();
    bool m_bStopRequested;
    // The folder the media files go to: it is never part of its own selection, and a folder
    // holding it is not kept whole.
    void SetOutputFolder(LPCTSTR strOutputDir);
    bool IsOutputFolder(const std::wstring& strPath) const;
    bool HoldsOutputFolder(const std::wstring& strPath) const;
    // The output folder and every folder holding it (empty when unknown), each as given,
    // lower-cased, and by its last name.
    struct QvChainFolder {
        std::wstring strLeaf;
        std::wstring strPath;
        std::wstring strKey;
    };
    std::vector<QvChainFolder> m_vOutputChain;
    // strKey is strPath lower-cased without a trailing backslash.
    bool IsChainFolder(const std::wstring& strPath, const std::wstring& strKey, size_t i) const;

    // Directory totals and compared folders of rules, kept for one validation only: the tree
    // and the rules do not change while ValidateSplitSize runs (a file cut by the size check
    // drops the directory facts), and the nested walks and the search for the biggest file
    // would otherwise walk the same directories again and again.
    bool m_bBuildCacheOn;
    std::unordered_map<std::wstring, QvDirFacts> m_mpDirSizeCache;
    std::unordered_map<const CQvPathRules*, std::pair<CQvString, bool>> m_mpComparedFolderCache;

    // Files cut during one size check (path -> part paths), so that a file that several maps
    // hold is cut once and every map gets its parts.
    std::unordered_map<std::wstring, std::vector<CQvString>> m_mpCutParts;
    std::unordered_map<std::wstring, std::vector<CQvString>>::iterator FindCutFile(
        const std::wstring& strFile);
    bool CutOversizeEntry(QvFileDescMap& mpFileDesc, QvFileDescMapIter cur);
    void CutFollowedLinksFirst(int64_t iLimit);
    bool FindCutThroughLink(const std::wstring& strFile, std::vector<CQvString>& vParts);
    bool AddPartsOfCutFile(QvFileDescMap& mpFileDesc, const FileDesc& cutFile,
                           const std::vector<CQvString>& vParts);

    // The last target path worked out and what it was made from. A file's target depends on
    // its folder, not on its name, so the files of one folder (met one after another) share
    // it and the path arithmetic runs once per folder.
    struct QvTargetMemo {
        bool bValid = false;
        const CQvPathRules* pRule = nullptr;
        std::wstring strRulePath;  // the rule's path when the memo was made
        std::wstring strFolder;    // the file path up to and including its last backslash
        std::wstring strField;     // the target path given
        CQvString strResult;
    };
    QvTargetMemo m_targetMemo;
    // The last write time written out: files met one after another often share one (one
    // unpacking, one copy), and then share its text too.
    CQvString m_strLastWriteTime;
    // The second m_strLastWriteTime was made from, while one folder's files are listed.
    uint64_t m_uLastWriteSecond = UINT64_MAX;
    // The folder of the last entry made: its files' paths share its text (PathInFolder).
    // Dropped when the catalogue is built, so that no text outlives the split for its sake.
    CQvPathText m_pathLastFolder;
    std::wstring m_strLastFolder;  // its wide text, which the next path is compared with
    CQvPathText PathInFolder(const wchar_t* strFileName);
    // The entry each map got last while one folder's files are added one after another; the
    // listing comes sorted, so the next file's place is usually right behind it. Valid only
    // between two files of one listing: anything else may remove entries, and is preceded by
    // ForgetLastAdded().
    struct QvLastAdded {
        const QvFileDescMap* pMap = nullptr;
        QvFileDescMapIter it;
        std::wstring lower;  // its lower-cased path when keyed by it, else empty
    };
    QvLastAdded m_lastAdded[6];
    bool m_bListingFiles = false;  // set while a listing adds one of its files
    void ForgetLastAdded() {
        for (QvLastAdded& last : m_lastAdded) last.pMap = nullptr;
        m_uLastWriteSecond = UINT64_MAX;
    }

    static CQvFileDescCatalog* pInstance;
    friend class QvCatalogTestAccess;
};

#endif
