// The process-wide media factory: distributes the catalogue over media and writes the media
// description files.
#ifndef CQVMEDIAFACTORY_H
#define CQVMEDIAFACTORY_H

#include "common/QvAllocation.h"
#include "common/QvRecords.h"
#include "facilities/QvXml.h"

class QVSPLIT_API CQvMediaFactory {
public:
    static CQvMediaFactory* GetInstance();
    virtual ~CQvMediaFactory();

    // Stores the caller's callback and value for the next split.
    void SetMediaFactoryCB(SPLITCB lpCB, LPVOID lpUserParam);
    // Writes "Media1.xml" ... "MediaN.xml" into strOutputDir; returns N, 0 on failure.
    DWORD CreateMediaFiles(LPCTSTR strOutputDir, LPCTSTR strDispFlag, DWORD dwType,
                           DWORD dwSplitSize, DWORD dwFirstMediaFreeSpaceSize, int iGroupCount,
                           QvFileDescMap mpFileDescInAll, QvFileDescMap mpFileDescInAny,
                           QvFileDescMap mpFileDescInFirst, QvFileDescMap mpFileDescInLast,
                           QvFileDescMap mpFileDescNotFirst, QvFileDescMap mpFileDescNotLast);

    int64_t m_iTotalSize;  // catalogue total in bytes, stored by the size validation

protected:
    CQvMediaFactory();

    long CreateNewMediaFile(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType,
                            DWORD dwSplitSize);
    long AddFileToMedia(FileDesc* pFileDesc);
    long AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue, LPCTSTR strValueText);
    long GetDirFileCount(LPCTSTR strPath);

    long MakeOneMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInFirst,
                      QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                      FileDescVector& vtFileDescNotLast, QvFileDescMap& mpFileDescInLast,
                      FileDescVector& vtFileDescNotFirst, GroupFileDescVector& vtGroupDesc);
    long MakeFirstMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInFirst,
                        QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                        FileDescVector& vtFileDescNotLast, GroupFileDescVector& vtGroupDesc);
    long MakeLastMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInLast,
                       QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                       FileDescVector& vtFileDescNotFirst, GroupFileDescVector& vtGroupDesc);
    long MakeMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInAll, FileDescVector& vtFileDesc,
                   FileDescVector& vtFileDescNotFirst, FileDescVector& vtFileDescNotLast,
                   GroupFileDescVector& vtGroupDesc);
    long FillMediaWithGroupFiles(DWORD dwSplitSize, GroupFileDescVector& vtGroupDesc);
    long FillMediaWithOtherFiles(DWORD dwSplitSize, FileDescVector& vtFileDesc);

    SPLITCB m_lpCB;
    LPVOID m_lpUserParam;
    IQvXml* m_pXml;
    IQvXmlNode* m_pFactoryNode;
    int64_t m_iMediaSize;
    // What the medium being written takes under the allocation model: its entries and folders,
    // the medium's own structures and the space kept free (equal to m_iMediaSize without a
    // model); the fit tests compare this.
    int64_t m_iMediaUsed = 0;
    int64_t m_iMediaReserved = 0;      // the space kept free on it, counted in m_iMediaUsed
    int64_t m_iMediaShared = 0;        // bytes of its files whose data it holds under another name
    qvalloc::FolderSet m_mediaFolders;  // folders the medium holds so far
    DWORD m_dwMediaFileCount;

private:
    // Working lists and fit indexes of one CreateMediaFiles run (defined with the distribution).
    struct QvMediaRun;
    // First-fit search over a list: the first entry at or after a position whose key is below
    // a limit.
    struct QvFitIndex;

    // Asks the callback (code 1) whether to stop; true when it answers 1.
    bool AbortRequested();
    // Gives up the medium being written (its root and its document) and forgets the run.
    void CloseMediaDocument();
    long AddMediaInfo(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType,
                      DWORD dwSplitSize);
    bool AddInfoAttribute(IQvXmlNode* pInfo, LPCTSTR strName, LPCTSTR strValue,
                          LPCTSTR strFileName, const wchar_t* fmtCreate, const wchar_t* fmtSet);

    // Distribution steps of CreateMediaFiles.
    void PrepareLists(QvMediaRun& run, int iGroupCount);
    DWORD WriteMediaSet(QvMediaRun& run);
    bool WriteOnlyMedium(QvMediaRun& run);
    bool WriteFirstMedium(QvMediaRun& run);
    bool WriteLastMedium(QvMediaRun& run);
    bool WriteMiddleMedium(QvMediaRun& run, int iNumber);
    // Begins medium dwNumber (1 is the first; 0 the last, numbered when the set is complete).
    bool BeginMedium(QvMediaRun& run, const CQvString& strPath, DWORD dwNumber,
                     const wchar_t* fmtError);
    bool FinishMedium(const CQvString& strPath);
    bool FinalMove(QvMediaRun& run, int iNumber);
    // Waits until the media files saved so far are in place; false, logged, when one is not.
    bool MediaInPlace(QvMediaRun& run);
    void ReportUnplaceable(QvMediaRun& run, int iNumber);
    long AddWholeMap(QvFileDescMap& mpFileDesc, const wchar_t* fmtError);
    long FillOther(DWORD dwSplitSize, FileDescVector& vtFileDesc, QvFitIndex& index);
    long FillGroups(DWORD dwSplitSize, GroupFileDescVector& vtGroupDesc, QvFitIndex& index);

    QvMediaRun* m_pRun;  // the running CreateMediaFiles, null outside it
    // Whether the medium being filled already holds this file through another of its maps
    // (see QvMediaRun::multi); records it as held when it does not and bTake is set.
    bool HeldByMedium(const FileDesc& desc, bool bTake);
    // Media files of the running split that are in place under their names so far.
    size_t PlacedMedia() const;
    // Whether an entry being added can be on another medium too: an every-medium entry, or a
    // file that several maps place.
    bool MayRepeat(const FileDesc& desc) const;
    bool m_bAddingEveryMedium = false;
    void FindFilesOfSeveralMaps(QvMediaRun& run);

    static CQvMediaFactory* pInstance;
    friend class QvMediaTestAccess;
};

#endif
