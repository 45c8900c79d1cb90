// Test access to the protected state of the big-file splitter.
#ifndef QVBIGFILETESTACCESS_H
#define QVBIGFILETESTACCESS_H

#include "bigfile/CQvSplitBigFile.h"

class QvBigFileTestAccess {
public:
    // Puts the singleton back to its start state, as a fresh process would have it.
    static void Reset() {
        CQvSplitBigFile* p = CQvSplitBigFile::GetInstance();
        p->m_bSplitBigFileOn = 0;
        p->m_strSplitFileList = CQvPathString();
        p->m_dwPartSize = 0;
        p->m_Ini.Clear();
        p->m_iFileCount = 0;
    }
    static DWORD PartSize() { return CQvSplitBigFile::GetInstance()->m_dwPartSize; }
    static int FileCount() { return CQvSplitBigFile::GetInstance()->m_iFileCount; }
    static CQvFileDescCatalog* Catalog() {
        return CQvSplitBigFile::GetInstance()->m_pFileDescCatalog;
    }
    // Records a cut in the part list as a finished cut does.
    static long RecordCut(const CQvString& path, const CQvString& stamp, int parts) {
        return CQvSplitBigFile::GetInstance()->RecordCut(path, stamp, parts);
    }
};

#endif
