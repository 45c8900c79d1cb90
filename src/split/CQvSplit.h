// The split object behind iCQvSplit: stores the caller's parameters and drives the singletons.
#ifndef CQVSPLIT_H
#define CQVSPLIT_H

#include "QvSplit.h"
#include "common/QvAllocation.h"
#include "common/QvRecords.h"
#include "facilities/QvXml.h"

#include <string>
#include <unordered_map>

// A setup or an item-list split starts a new run (QvSplitRun), dropping the last; an estimate
// starts a new pass of the run set up. Either reports afresh what it leaves out and the errors
// it meets (the exported functions read them).
void QvStartSplitRun();
void QvStartSplitPass();

class CQvRulesReader;
class CQvFileDescCatalog;
struct QvEntryValues;
struct QvEntrySink;

class QVSPLIT_API CQvSplit : public iCQvSplit {
public:
    CQvSplit();
    CQvSplit(const CQvSplit& other);
    CQvSplit& operator=(const CQvSplit& other);
    virtual ~CQvSplit();

    long SetSplitBigFile(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList) override;
    long RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile) override;
    DWORD SetupSplit(LPCTSTR strVolumeID, LPCTSTR strRulesFilePath, LPCTSTR strDispFlag,
                     DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                     DWORD dwOutputMethod, LPCTSTR strOutputDir = NULL, SPLITCB lpCB = NULL,
                     LPVOID lpUserParam = NULL) override;
    DWORD SetupSplit(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag, DWORD dwType,
                     DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace, DWORD dwOutputMethod,
                     LPCTSTR strOutputDir = NULL, SPLITCB lpCB = NULL,
                     LPVOID lpUserParam = NULL) override;
    DWORD EstimateSplit() override;
    DWORD SplitRVX(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag, DWORD dwType,
                   DWORD dwSplitSize, int bSaveMedia, LPCTSTR strOutputDir, SPLITCB lpCB,
                   LPVOID lpUserParam) override;
    int64_t GetTotalSize() override;

protected:
    // The operations of the interface; the public ones run these and let no exception out.
    DWORD SetupSplitFromFile(LPCTSTR strVolumeID, LPCTSTR strRulesFilePath, LPCTSTR strDispFlag,
                             DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                             DWORD dwOutputMethod, LPCTSTR strOutputDir, SPLITCB lpCB,
                             LPVOID lpUserParam);
    DWORD SetupSplitFromRules(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                              DWORD dwType, DWORD dwSplitSize, DWORD dwFirstMediaFreeSpace,
                              DWORD dwOutputMethod, LPCTSTR strOutputDir, SPLITCB lpCB,
                              LPVOID lpUserParam);
    DWORD EstimateSplitBody();
    DWORD SplitRVXBody(LPCTSTR strVolumeID, RuleVector& vtRules, LPCTSTR strDispFlag,
                       DWORD dwType, DWORD dwSplitSize, int bSaveMedia, LPCTSTR strOutputDir,
                       SPLITCB lpCB, LPVOID lpUserParam);
    long SetSplitBigFileBody(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList);
    long RecoverFilesBody(WORD wDrive, LPCTSTR strSplitListFile);

    // Validates the split size of the current set-up; not used by the split itself.
    long ValidateSplitSize();
    // Writes the rules of a vector to "Rules.xml" in the output folder; false after logging.
    bool WriteRulesFile(const RuleVector& vtRules, LPCTSTR strOutputDir, CQvString& strRulesFile);

    // Item-list split steps.
    void CreateItemsList(RuleVector& vtRules);
    void InitializeFileDescription(FileDesc& fileDesc, QvRule* pRule);
    long CreateNewRVXMedia(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType);
    long AddItemToMedia(FileDesc* pFileDesc);
    long AddFileToMedia(FileDesc* pFileDesc);
    long AddFolderToMedia(FileDesc* pFileDesc);
    // Writes one item's entry into the medium being written.
    long WriteItemEntry(const QvEntryValues& values);
    long AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue, LPCTSTR strValueText);
    // How the entries of an item-list medium are written.
    QvEntrySink EntrySink();
    long GetNumberFileAndSize(LPCTSTR strFolder, int64_t& iSize, DWORD& dwCount);
    long FinalizeMedia();
    // One medium's pass over the any-medium items: S_OK, E_ABORT when stopped, E_FAIL when an
    // item can never fit.
    long PlaceAnyMediaItems(int64_t iAllMediaSize);
    // S_OK when every every-medium item fits on an empty medium; else E_FAIL with the SPLIT
    // Error of the first that does not.
    long CheckItemsOnAllMedia();

    SPLITCB m_lpCB;
    LPVOID m_lpUserParam;
    int m_bSetupDone;
    CQvRulesReader* m_pRulesReader;
    CQvFileDescCatalog* m_pFileDescCatalog;
    DWORD m_dwSplitSize;
    DWORD m_dwFirstMediaFreeSpace;
    CQvString m_strDispFlag;
    DWORD m_dwType;
    DWORD m_dwOutputMethod;
    CQvString m_strVolumeID;
    CQvString m_strRulesFilePath;
    CQvString m_strOutputDir;
    IQvXml* m_pXml;
    IQvXmlNode* m_pFactoryNode;
    int64_t m_iMediaSize;
    DWORD m_dwMediaFileCount;
    // Under an allocation model: what the item-list medium being written takes, the folders it
    // holds, and each item's allocated size once measured (a folder item is walked once).
    int64_t m_iMediaUsed = 0;
    qvalloc::FolderSet m_mediaFolders;
    std::unordered_map<std::wstring, int64_t> m_mpItemCost;
    int64_t ItemCost(const FileDesc& item);
    // Sizes a folder item that has not been sized yet (its files and their count).
    void SizeFolderItem(FileDesc& item);
    // Walks a folder item once for all that is asked of it: its files' bytes and number, the
    // first link below it a model's file system cannot store (strLink, else left empty), and
    // under a model what it takes kept whole, kept where the item's cost looks first.
    qvalloc::TreeFacts WalkItemFolder(const std::wstring& strDir, int64_t& iSize, DWORD& dwCount, CQvString& strLink);
    // Whether an item fits beside what the item-list medium holds.
    bool ItemFits(const FileDesc& item);
    FileDescVector m_ItemsOnAllMedia;
    FileDescVector m_ItemsOnAnyMedia;
    int m_bSaveMedia;
    CQvString m_strMediaFile;
    int64_t m_iTotalSize;

    friend class QvSplitTestAccess;
};

#endif
