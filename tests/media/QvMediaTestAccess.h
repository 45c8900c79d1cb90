// Test access to the media factory's protected members and steps.
#ifndef QVMEDIATESTACCESS_H
#define QVMEDIATESTACCESS_H

#include "media/CQvMediaFactory.h"

class QvMediaTestAccess {
public:
    static CQvMediaFactory* Factory() { return CQvMediaFactory::GetInstance(); }
    static void SetTotalSize(int64_t iBytes) { Factory()->m_iTotalSize = iBytes; }
    static int64_t MediaSize() { return Factory()->m_iMediaSize; }
    // A medium already holding iBytes (with no allocation model its used size is its bytes).
    static void SetMediaSize(int64_t iBytes) {
        Factory()->m_iMediaSize = iBytes;
        Factory()->m_iMediaUsed = iBytes;
    }
    static DWORD MediaFileCount() { return Factory()->m_dwMediaFileCount; }
    static void SetMediaFileCount(DWORD dwCount) { Factory()->m_dwMediaFileCount = dwCount; }
    static IQvXml*& Xml() { return Factory()->m_pXml; }
    static IQvXmlNode* FactoryNode() { return Factory()->m_pFactoryNode; }

    static long CreateNewMediaFile(LPCTSTR strFileName, LPCTSTR strDispFlag, LPCTSTR strType,
                                   DWORD dwSplitSize) {
        return Factory()->CreateNewMediaFile(strFileName, strDispFlag, strType, dwSplitSize);
    }
    static long AddFileToMedia(FileDesc* pFileDesc) { return Factory()->AddFileToMedia(pFileDesc); }
    static long AddValueToFileNode(IQvXmlNode* pNode, LPCTSTR strValue, LPCTSTR strValueText) {
        return Factory()->AddValueToFileNode(pNode, strValue, strValueText);
    }
    static long GetDirFileCount(LPCTSTR strPath) { return Factory()->GetDirFileCount(strPath); }
    static long FillMediaWithOtherFiles(DWORD dwSplitSize, FileDescVector& vtFileDesc) {
        return Factory()->FillMediaWithOtherFiles(dwSplitSize, vtFileDesc);
    }
    static long FillMediaWithGroupFiles(DWORD dwSplitSize, GroupFileDescVector& vtGroupDesc) {
        return Factory()->FillMediaWithGroupFiles(dwSplitSize, vtGroupDesc);
    }
    static long MakeMedia(DWORD dwSplitSize, QvFileDescMap& mpFileDescInAll,
                          FileDescVector& vtFileDesc, FileDescVector& vtFileDescNotFirst,
                          FileDescVector& vtFileDescNotLast, GroupFileDescVector& vtGroupDesc) {
        return Factory()->MakeMedia(dwSplitSize, mpFileDescInAll, vtFileDesc, vtFileDescNotFirst,
                                    vtFileDescNotLast, vtGroupDesc);
    }
};

#endif
