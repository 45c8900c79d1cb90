// The process-wide media factory: distributes the catalogue over media and writes the media
// description files.
#ifndef CQVMEDIAFACTORY_H
#define CQVMEDIAFACTORY_H

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
    DWORD m_dwMediaFileCount;

private:
    static CQvMediaFactory* pInstance;
    friend class QvMediaTestAccess;
};

#endif
