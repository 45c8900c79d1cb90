// The process-wide big-file splitter: cuts oversize files into parts and joins them again.
#ifndef CQVSPLITBIGFILE_H
#define CQVSPLITBIGFILE_H

#include "common/QvRecords.h"
#include "facilities/CQvIni.h"
#include "facilities/CQvPathString.h"

class CQvFileDescCatalog;

class QVSPLIT_API CQvSplitBigFile {
public:
    static CQvSplitBigFile* GetInstance();
    virtual ~CQvSplitBigFile();

    // Nonzero while cutting is switched on.
    int IsSplitBigFileOn();
    // Switches cutting on (starting an empty part list at lpszSplitFileList) or off.
    long SetSplitBigFile(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList);
    // Cuts the file of the entry iter names into parts, whose entries go into mapFileDesc,
    // and records the cut in the part list; 0 or E_FAIL.
    long SplitFile(QvFileDescMap& mapFileDesc, QvFileDescMapIter& iter);
    // Rebuilds every file of a part list on drive wDrive.
    long RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile);

protected:
    CQvSplitBigFile();

    CQvFileDescCatalog* m_pFileDescCatalog;
    int m_bSplitBigFileOn;
    CQvPathString m_strSplitFileList;
    DWORD m_dwPartSize;
    CQvIni m_Ini;
    int m_iFileCount;

private:
    static CQvSplitBigFile* pInstance;
    friend class QvBigFileTestAccess;
};

#endif
