// The process-wide big-file splitter: cuts oversize files into parts and joins them again.
#ifndef CQVSPLITBIGFILE_H
#define CQVSPLITBIGFILE_H

#include "common/QvRecords.h"
#include "facilities/CQvIni.h"
#include "facilities/CQvPathString.h"

#include <memory>
#include <vector>

class CQvFileDescCatalog;
class CQvFile;

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
    // Records in the part list a file already cut under another path (the same file reached
    // through a followed link to its folder): vParts are its parts under this path, the cut's
    // part names beside strFilePath. 0 or E_FAIL.
    long RecordCutUnderOtherPath(const CQvString& strFilePath, const std::vector<CQvString>& vParts);
    // Paths of the parts of the last file SplitFile cut, in order (empty before any cut).
    const std::vector<CQvString>& GetLastCutParts() const { return m_vLastCutParts; }
    // Megabytes of one part of a cut (the split size less 20 MB), 0 while cutting is off.
    DWORD GetPartSize() const { return m_bSplitBigFileOn ? m_dwPartSize : 0; }
    // The part list being written, empty while cutting is off.
    CQvString GetPartListPath() const { return m_bSplitBigFileOn ? CQvString(m_strSplitFileList) : CQvString(); }
    // Rebuilds every file of a part list on drive wDrive; E_FAIL when one stays unrebuilt.
    long RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile);

    // Cutting as it stands: on or off, the part size, the part list and its entries. A caller
    // that keeps settings of its own (each handle of the C interface) puts its state back
    // before it splits and takes it again after.
    struct CutState {
        int bOn = 0;
        CQvString strList;
        DWORD dwPartSize = 0;
        CQvIni ini;
        int iFileCount = 0;
    };
    CutState GetCutState() const;
    void SetCutState(const CutState& state);

protected:
    CQvSplitBigFile();

    CQvFileDescCatalog* m_pFileDescCatalog;
    int m_bSplitBigFileOn;
    CQvPathString m_strSplitFileList;
    DWORD m_dwPartSize;
    CQvIni m_Ini;
    int m_iFileCount;

private:
    // A part written by the cut in progress: its path, and the map entry its key replaced.
    struct PartWritten {
        CQvString strPath;
        bool bInMap;
        bool bHadEntry;
        FileDesc oldEntry;
    };
    typedef std::vector<PartWritten> PartVector;

    // SplitFile less its guard against allocation failures before any part exists.
    long CutFile(QvFileDescMap& mapFileDesc, QvFileDescMapIter& iter);
    // The cut proper, once the source is open: parts, map entries, list, deletion.
    long CutOpenFile(QvFileDescMap& mapFileDesc, const FileDesc& cutFile, CQvFile& source,
                     std::unique_ptr<char[]>& pBuffer, PartVector& vParts);
    // Writes every part of source, each flushed and closed; fills vParts.
    long WriteParts(CQvFile& source, const CQvString& strFilePath, const CQvString& strStamp,
                    char* pBuffer, PartVector& vParts);
    // Copies up to iPartSize bytes of source into part; bEnd tells whether the end was met.
    long FillPart(CQvFile& source, CQvFile& part, int64_t iPartSize, char* pBuffer,
                  bool& bEnd);
    // Describes every part and puts it into the map under its lower-cased path.
    long AddPartEntries(QvFileDescMap& mapFileDesc, const FileDesc& cutFile, PartVector& vParts);
    // Adds the cut to the part list and stores the list; the document is unchanged on failure.
    long RecordCut(const CQvString& strFilePath, const CQvString& strStamp, int iPartCount);
    // Takes the last entry out of the part list again, after the source could not be deleted.
    void UnrecordCut(CQvIni&& iniBefore);
    // Deletes the cut file, whose bytes now lie in its parts.
    long DeleteCutFile(const CQvString& strPath);
    // Undoes a failed cut: the parts leave the map (old entries come back) and the disk.
    static void RemoveParts(QvFileDescMap& mapFileDesc, const PartVector& vParts);

    // Whether an entry of exactly this name is on disk; one that is there but cannot be opened
    // counts as there. A part whose name differs only in case belongs to another file.
    static bool IsOnDiskByExactName(LPCTSTR strPath);
    // strPath with its last name as the disk spells it, so that a file reached through a name
    // differing in case is cut, listed and deleted under its own name.
    static CQvString NameOnDisk(const CQvString& strPath);

    // Rebuilds one entry of a part list; false when it stays unrebuilt.
    bool RecoverEntry(LPCTSTR strKey, const CQvString& strValue, WORD wDrive,
                      std::vector<CQvString>& vRebuilt);
    static std::vector<CQvString> CutsStillOnDisk(LPCTSTR strList);
    // The path a part list value names on drive wDrive: see the definition.
    static CQvString ListedFile(WORD wDrive, const CQvString& strPath, const CQvString& strStamp);
    // Checks that every part of a file can be opened before anything is created.
    // iLargest receives the size of the biggest part.
    static bool CheckParts(const CQvString& strFile, const CQvString& strStamp, DWORD dwCount,
                           int64_t& iLargest);
    // Appends the parts numbered from 1 to dwCount to target, in order; false at the first failure.
    static bool AppendParts(CQvFile& target, const CQvString& strFile, const CQvString& strStamp,
                            DWORD dwCount, int64_t iLargest);
    // Appends one part; false when a read or a write failed.
    static bool AppendPart(CQvFile& target, LPCTSTR strFile, LPCTSTR strPart, char* pBuffer,
                           DWORD cbBuffer);
    // Builds the file under a temporary name and renames it into place.
    static bool RebuildFile(const CQvString& strFile, const CQvString& strStamp, DWORD dwCount,
                            int64_t iLargest);
    // Deletes the parts once the file they rebuilt is in place.
    static void DeleteParts(const CQvString& strFile, const CQvString& strStamp, DWORD dwCount);

    std::vector<CQvString> m_vLastCutParts;

    static CQvSplitBigFile* pInstance;
    friend class QvBigFileTestAccess;
};

#endif
