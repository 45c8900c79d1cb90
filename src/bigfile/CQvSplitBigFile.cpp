// The big-file splitter: switching cutting on and off, and cutting one file into parts.
#include "bigfile/CQvSplitBigFile.h"

#include "catalog/CQvFileDescCatalog.h"
#include "common/QvFileDescKeys.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <utility>

namespace {

const wchar_t kSection[] = L"Files";
// Largest single read of the source (well under the 100,000,000 bytes a read may ask for); the
// buffer holds a little more. A buffer that stays in the processor's cache copies several
// times faster than one of many megabytes, which every byte would leave and re-enter.
const int64_t kMaxRead = 262144;
const size_t kBufferSlack = 100;
const int64_t kMegabyte = 1048576;
// Splits at or below this size leave no room for a part.
const DWORD kPartReserveMB = 20;

// The 14-digit UTC stamp DDMMYYYYhhmmss shared by all parts of one cut.
CQvString MakeStamp() {
    SYSTEMTIME st = {};
    qvp::GetSystemTime(&st);
    CQvString stamp;
    stamp.Format(L"%02hu%02hu%02hu%02hu%02hu%02hu", st.wDay, st.wMonth, st.wYear, st.wHour,
                 st.wMinute, st.wSecond);
    return stamp;
}

CQvString PartPath(const CQvString& strFile, const CQvString& strStamp, int n) {
    CQvString path;
    path.Format(L"%s.%s.Part%d", strFile, strStamp, n);
    return path;
}

}  // namespace

CQvSplitBigFile* CQvSplitBigFile::pInstance = nullptr;

CQvSplitBigFile* CQvSplitBigFile::GetInstance() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::GetInstance()");
    if (!pInstance) {
        try {
            pInstance = new CQvSplitBigFile();
        } catch (const std::bad_alloc&) {
            log->AddError(L"CQvSplitBigFile::GetInstance() Create new object FAILED");
        }
    }
    log->ExitFunction();
    return pInstance;
}

// The cuts an existing part list still stands for: files of which a part is still on disk
// (the list keeps no drive letter; the list's own drive is the one tried). Starting a new
// list over it would lose the only record of how to join them.
std::vector<CQvString> CQvSplitBigFile::CutsStillOnDisk(LPCTSTR strList) {
    std::vector<CQvString> files;
    // A list whose name differs only in case is another list, which this one never replaces.
    if (!IsOnDiskByExactName(strList)) return files;
    CQvIni ini;
    if (!ini.Load(strList, nullptr)) return files;
    const CQvString strListPath(strList);
    const wchar_t wDrive = strListPath.GetLength() > 1 && strListPath.GetAt(1) == L':' ? strListPath.GetAt(0) : L'C';
    for (int i = 0;; ++i) {
        CQvString strKey, strValue, strPath, strStamp;
        strKey.Format(L"File%d", i);
        if (!ini.GetKeyValue(kSection, strKey, strValue)) break;
        if (!strValue.GetToken(L"|", strPath, 1) || !strValue.GetToken(L"|", strStamp, 2)) continue;
        const CQvString strFile = ListedFile(wDrive, strPath, strStamp);
        if (IsOnDiskByExactName(PartPath(strFile, strStamp, 1))) files.push_back(strFile);
    }
    return files;
}

// A value keeps its path less the first character: for a path with a drive letter that is the
// letter, and the file lies on wDrive. A path without one (a rooted path such as "\data\x" or
// "/data/x" handed over as it stands) lost its root separator instead: when the parts are not
// beside the file on wDrive but are beside the rooted path, that is the file.
CQvString CQvSplitBigFile::ListedFile(WORD wDrive, const CQvString& strPath, const CQvString& strStamp) {
    CQvString strFile;
    strFile.Format(L"%c%s", static_cast<wchar_t>(wDrive), strPath);
    if (strPath.IsEmpty() || strPath.GetAt(0) == L':') return strFile;
    CQvString strRooted(L"\\");
    strRooted += strPath;
    if (!IsOnDiskByExactName(PartPath(strFile, strStamp, 1)) && IsOnDiskByExactName(PartPath(strRooted, strStamp, 1)))
        return strRooted;
    return strFile;
}

CQvSplitBigFile::CutState CQvSplitBigFile::GetCutState() const {
    CutState state;
    state.bOn = m_bSplitBigFileOn;
    state.strList = CQvString(m_strSplitFileList);
    state.dwPartSize = m_dwPartSize;
    state.ini = m_Ini;
    state.iFileCount = m_iFileCount;
    return state;
}

void CQvSplitBigFile::SetCutState(const CutState& state) {
    m_bSplitBigFileOn = state.bOn;
    m_strSplitFileList = CQvPathString(state.strList);
    m_dwPartSize = state.dwPartSize;
    m_Ini = state.ini;
    m_iFileCount = state.iFileCount;
}

bool CQvSplitBigFile::IsOnDiskByExactName(LPCTSTR strPath) {
    HANDLE h = qvp::CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_POSIX_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        qvp::CloseHandle(h);
        return true;
    }
    const DWORD dwErr = qvp::GetLastError();
    return dwErr != ERROR_FILE_NOT_FOUND && dwErr != ERROR_PATH_NOT_FOUND;
}

CQvString CQvSplitBigFile::NameOnDisk(const CQvString& strPath) {
    // A listing of the one name gives the entry a lookup of that path reaches, as it is spelled.
    WIN32_FIND_DATAW fd;
    HANDLE hFind = qvp::FindFirstFileW(strPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return strPath;
    qvp::FindClose(hFind);
    CQvPathString strOnDisk(strPath);
    strOnDisk.RemoveFileSpec();
    strOnDisk.AddBackslash();
    strOnDisk += fd.cFileName;
    return strOnDisk;
}

CQvSplitBigFile::CQvSplitBigFile()
    : m_pFileDescCatalog(nullptr), m_bSplitBigFileOn(0), m_dwPartSize(0), m_iFileCount(0) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::CQvSplitBigFile()");
    m_pFileDescCatalog = CQvFileDescCatalog::GetInstance();
    log->ExitFunction();
}

CQvSplitBigFile::~CQvSplitBigFile() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::~CQvSplitBigFile()");
    log->ExitFunction();
}

int CQvSplitBigFile::IsSplitBigFileOn() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::IsSplitBigFileOn()");
    return log->ExitFunction(m_bSplitBigFileOn);
}

long CQvSplitBigFile::SetSplitBigFile(BOOL bSplit, DWORD dwSplitSize, LPCTSTR lpszSplitFileList) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::SetSplitBigFile(BOOL bSplit,DWORD dwSplitSize=%d,LPCTSTR lpszSplitFileList=%s)",
                       dwSplitSize, lpszSplitFileList);
    if (!bSplit) {
        m_bSplitBigFileOn = 0;
        return log->ExitFunction(0L);
    }
    if (!lpszSplitFileList) {
        log->AddError(L"CQvSplitBigFile::SetSplitBigFile(...) lpszSplitFileList = NULL !");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    // A part is the split size less 20 MB; nothing smaller could hold a single byte.
    if (dwSplitSize <= kPartReserveMB) {
        log->AddError(L"CQvSplitBigFile::SetSplitBigFile(...) dwSplitSize=%d too small, a split size above %d MB is needed to cut files",
                      dwSplitSize, kPartReserveMB);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    const std::vector<CQvString> vStill = CutsStillOnDisk(lpszSplitFileList);
    if (!vStill.empty()) {
        for (const CQvString& strFile : vStill)
            log->AddError(L"CQvSplitBigFile::SetSplitBigFile(...) the part list %s still records %s, whose parts are on disk: join them first or choose another list",
                          lpszSplitFileList, strFile);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    m_strSplitFileList = lpszSplitFileList;
    qvp::SetFileAttributesW(m_strSplitFileList, FILE_ATTRIBUTE_NORMAL);
    qvp::DeleteFileW(m_strSplitFileList);
    HANDLE hList = qvp::CreateFileW(m_strSplitFileList, QV_FILE_ALL_ACCESS, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hList == INVALID_HANDLE_VALUE) {
        log->AddError(L"CQvSplitBigFile::SetSplitBigFile(...) Can not create file %s",
                      m_strSplitFileList);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    qvp::CloseHandle(hList);
    if (!m_Ini.Load(m_strSplitFileList, nullptr) || !m_Ini.AddSection(kSection)) {
        log->AddError(L"CQvSplitBigFile::SetSplitBigFile(...) Error create section in file %s",
                      m_strSplitFileList);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    m_Ini.Store(m_strSplitFileList, 1);
    m_dwPartSize = dwSplitSize - kPartReserveMB;
    m_iFileCount = 0;
    m_bSplitBigFileOn = 1;
    return log->ExitFunction(0L);
}

// A cut deletes the source only after every part is flushed to disk and the part list naming
// them has been stored (atomically); any failure before that removes the parts again and keeps
// the source. So at every moment the bytes are whole in the source, or in parts the list names.
long CQvSplitBigFile::SplitFile(QvFileDescMap& mapFileDesc, QvFileDescMapIter& iter) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::SplitFile(QvFileDescMap &mapFileDesc, QvFileDescMapIter &iter)");
    if (iter == mapFileDesc.end() || m_dwPartSize == 0) {
        log->AddError(L"CQvSplitBigFile::SplitFile(...) no file to cut or no part size (cutting never switched on)");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    // What fails once parts exist is handled inside; out here nothing has been written yet.
    long hr = E_FAIL;
    try {
        hr = CutFile(mapFileDesc, iter);
    } catch (const std::exception&) {
        log->AddError(L"CQvSplitBigFile::SplitFile(...) Out of memory before cutting, the file is kept");
    }
    return log->ExitFunction(hr);
}

long CQvSplitBigFile::CutFile(QvFileDescMap& mapFileDesc, QvFileDescMapIter& iter) {
    CQvLog* log = CQvLog::GetInstance();
    // A copy: the entry must stay readable whatever the map does while parts are added.
    FileDesc cutFile = iter->second;
    cutFile.strFilePath = NameOnDisk(iter->second.strFilePath);
    const int64_t iPartSize = static_cast<int64_t>(m_dwPartSize) * kMegabyte;
    const size_t cbBuffer = static_cast<size_t>(std::min(iPartSize, kMaxRead)) + kBufferSlack;
    std::unique_ptr<char[]> pBufferDataSplit;
    try {
        pBufferDataSplit.reset(new char[cbBuffer]);
    } catch (const std::bad_alloc&) {
        log->AddError(L"CQvSplitBigFile::SplitFile(...) error allocate memory for pBufferDataSplit Catch exception");
        return E_FAIL;
    }
    // A directory entry cannot be cut; on POSIX it could otherwise be opened for reading.
    const CQvString strPath = cutFile.strFilePath;
    const DWORD dwAttr = qvp::GetFileAttributesW(strPath);
    CQvFile source;
    if (dwAttr == INVALID_FILE_ATTRIBUTES || (dwAttr & FILE_ATTRIBUTE_DIRECTORY) ||
        !source.Attach(strPath) ||
        !source.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
        return E_FAIL;
    PartVector vParts;
    long hr = E_FAIL;
    try {
        hr = CutOpenFile(mapFileDesc, cutFile, source, pBufferDataSplit, vParts);
    } catch (const std::exception&) {
        log->AddError(L"CQvSplitBigFile::SplitFile(...) Out of memory while cutting %s",
                      cutFile.strFilePath);
        hr = E_FAIL;
    }
    if (hr != 0) {
        RemoveParts(mapFileDesc, vParts);
        log->AddError(L"CQvSplitBigFile::SplitFile(...) Cut of file %s FAILED, the file is kept",
                      cutFile.strFilePath);
        return E_FAIL;
    }
    ++m_iFileCount;
    return 0;
}

long CQvSplitBigFile::CutOpenFile(QvFileDescMap& mapFileDesc, const FileDesc& cutFile,
                                  CQvFile& source, std::unique_ptr<char[]>& pBuffer,
                                  PartVector& vParts) {
    const CQvString strStamp = MakeStamp();
    const CQvString strPath = cutFile.strFilePath;
    // A followed link holds none of the bytes: its file stays where it is, so the link stays
    // too, and recovery finds the tree as it was.
    const bool bLink = qvp::IsSymbolicLink(strPath) != FALSE;
    long hr = WriteParts(source, strPath, strStamp, pBuffer.get(), vParts);
    source.Close();
    pBuffer.reset();
    if (hr == 0) hr = AddPartEntries(mapFileDesc, cutFile, vParts);
    // Everything that allocates is done before the source goes: once it is deleted, nothing may
    // fail, or the parts would be removed with the only copy of the file.
    std::vector<CQvString> vPartPaths;
    vPartPaths.reserve(vParts.size());
    for (const PartWritten& written : vParts) vPartPaths.push_back(written.strPath);
    CQvIni iniBefore(m_Ini);
    if (hr == 0) hr = RecordCut(strPath, strStamp, static_cast<int>(vParts.size()));
    if (hr != 0) return hr;
    hr = bLink ? 0 : DeleteCutFile(strPath);
    if (hr != 0) {
        UnrecordCut(std::move(iniBefore));
        return hr;
    }
    m_vLastCutParts.swap(vPartPaths);
    return 0;
}

// Parts are numbered without gaps, so that recovery can tell a lost part from a skipped one:
// a part that cannot be created fails the cut instead of being skipped. CREATE_NEW keeps the
// cut from overwriting a file that happens to carry a part's name.
//
// A written part is flushed only once a few later ones have been written (or at the end): the
// system writes it back meanwhile, so the flush finds little left to do and the copying does
// not stop for every part. Nothing is listed or deleted before every part is flushed.
long CQvSplitBigFile::WriteParts(CQvFile& source, const CQvString& strFilePath,
                                 const CQvString& strStamp, char* pBuffer, PartVector& vParts) {
    CQvLog* log = CQvLog::GetInstance();
    const int64_t iPartSize = static_cast<int64_t>(m_dwPartSize) * kMegabyte;
    const size_t kOpenParts = 4;  // parts written but not yet flushed, at most
    std::deque<std::pair<std::unique_ptr<CQvFile>, size_t>> unflushed;  // part, index in vParts
    // Each part keeps the file's write time, so that the file joined from them has it again.
    FILETIME ftWritten;
    const bool bTime = source.GetWriteTime(ftWritten) != FALSE;
    auto flushOldest = [&]() -> bool {
        CQvFile& part = *unflushed.front().first;
        if (bTime && !part.SetWriteTime(ftWritten))
            log->AddWarning(L"CQvSplitBigFile::SplitFile(...) Write time of %s not set error=%u",
                            vParts[unflushed.front().second].strPath, qvp::GetLastError());
        if (!part.Flush() || !part.Close()) {
            log->AddError(L"CQvSplitBigFile::SplitFile(...) Flush error in file %s error=%u",
                          vParts[unflushed.front().second].strPath, qvp::GetLastError());
            return false;
        }
        unflushed.pop_front();
        return true;
    };
    bool bEnd = false;
    for (int n = 1; !bEnd; ++n) {
        PartWritten written;
        written.strPath = PartPath(strFilePath, strStamp, n);
        written.bInMap = false;
        written.bHadEntry = false;
        std::unique_ptr<CQvFile> part(new CQvFile());
        // Room for the part's record is made before the part exists, so that a part on disk
        // is always one that RemoveParts knows of.
        if (vParts.size() == vParts.capacity()) vParts.reserve(2 * vParts.size() + 4);
        if (!part->Attach(written.strPath) ||
            !part->Open(QV_FILE_ALL_ACCESS, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)) {
            log->AddError(L"CQvSplitBigFile::SplitFile(...) Create file %s FAILED error=%u",
                          written.strPath, qvp::GetLastError());
            return E_FAIL;
        }
        vParts.push_back(std::move(written));
        if (FillPart(source, *part, iPartSize, pBuffer, bEnd) != 0) return E_FAIL;
        unflushed.emplace_back(std::move(part), vParts.size() - 1);
        if (unflushed.size() > kOpenParts && !flushOldest()) return E_FAIL;
    }
    while (!unflushed.empty())
        if (!flushOldest()) return E_FAIL;
    return 0;
}

long CQvSplitBigFile::FillPart(CQvFile& source, CQvFile& part, int64_t iPartSize, char* pBuffer,
                               bool& bEnd) {
    CQvLog* log = CQvLog::GetInstance();
    int64_t iCopied = 0;
    qvp::CopyFailure failure = qvp::CopyFailure::None;
    const DWORD cbBuffer = static_cast<DWORD>(std::min(iPartSize, kMaxRead));
    if (!source.CopyTo(part, iPartSize, pBuffer, cbBuffer, &iCopied, &failure)) {
        if (failure == qvp::CopyFailure::Read)
            log->AddError(L"CQvSplitBigFile::SplitFile(...) Read error in file %s error=%u",
                          source.GetPath(), qvp::GetLastError());
        else
            log->AddError(L"CQvSplitBigFile::SplitFile(...) Write error in file %s", part.GetPath());
        return E_FAIL;
    }
    // Short of a whole part, the source has ended (an exact multiple of the part size ends
    // with an empty part, as a read of nothing at the start of a part did).
    if (iCopied < iPartSize) bEnd = true;
    return 0;
}

long CQvSplitBigFile::AddPartEntries(QvFileDescMap& mapFileDesc, const FileDesc& cutFile,
                                     PartVector& vParts) {
    CQvLog* log = CQvLog::GetInstance();
    for (PartWritten& written : vParts) {
        const std::unique_ptr<FileDesc> pDesc(m_pFileDescCatalog->CreateFileDesc(
            cutFile.pPathRules, written.strPath, cutFile.strTargetPath));
        if (!pDesc) {
            log->AddError(L"CQvSplitBigFile::SplitFile(...) CreateFileDesc error return NULL");
            return E_FAIL;
        }
        pDesc->strTargetPath = cutFile.strTargetPath;
        QvFileDescMapIter found = QvFindFileDesc(mapFileDesc, written.strPath);
        written.bHadEntry = found != mapFileDesc.end();
        if (written.bHadEntry) written.oldEntry = found->second;
        // Marked first: should the put fail halfway, RemoveParts still takes the entry out.
        written.bInMap = true;
        QvPutFileDesc(mapFileDesc, *pDesc);
    }
    return 0;
}

long CQvSplitBigFile::RecordCut(const CQvString& strFilePath, const CQvString& strStamp,
                                int iPartCount) {
    CQvLog* log = CQvLog::GetInstance();
    CQvString strKey, strValue;
    strKey.Format(L"File%d", m_iFileCount);
    strValue.Format(L"%s|%s|%d", strFilePath, strStamp, iPartCount);
    // The list does not keep the drive letter: the file may be rebuilt on any drive.
    strValue = strValue.Mid(1, strValue.GetLength() - 1);
    CQvIni iniNew(m_Ini);
    if (!iniNew.AddKey(kSection, strKey, strValue) || !iniNew.Store(m_strSplitFileList, 1)) {
        log->AddError(L"CQvSplitBigFile::SplitFile(...) Store of split file list %s FAILED error=%u",
                      m_strSplitFileList, qvp::GetLastError());
        return E_FAIL;
    }
    m_Ini = std::move(iniNew);
    QvSplitRun::Current().report.AddCut(strFilePath);
    return 0;
}

long CQvSplitBigFile::RecordCutUnderOtherPath(const CQvString& strFilePath, const std::vector<CQvString>& vParts) {
    // The first part is named <file>.<stamp>.Part1, and a stamp holds digits only.
    const std::wstring strSuffix(L".Part1");
    const std::wstring strFirst = vParts.empty() ? std::wstring() : vParts[0].str();
    if (strFirst.size() <= strSuffix.size() ||
        strFirst.compare(strFirst.size() - strSuffix.size(), strSuffix.size(), strSuffix) != 0)
        return E_FAIL;
    const std::wstring strHead = strFirst.substr(0, strFirst.size() - strSuffix.size());
    const size_t iDot = strHead.find_last_of(L'.');
    if (iDot == std::wstring::npos) return E_FAIL;
    const CQvString strStamp(strHead.substr(iDot + 1).c_str());
    if (RecordCut(strFilePath, strStamp, static_cast<int>(vParts.size())) != 0) return E_FAIL;
    ++m_iFileCount;
    return 0;
}

void CQvSplitBigFile::UnrecordCut(CQvIni&& iniBefore) {
    m_Ini = std::move(iniBefore);
    QvSplitRun::Current().report.DropLastCut();
    // Should this store fail, the list names parts that are about to go; recovery then finds
    // part 1 missing and leaves the still existing source alone.
    if (!m_Ini.Store(m_strSplitFileList, 1))
        CQvLog::GetInstance()->AddWarning(L"CQvSplitBigFile::SplitFile(...) Store of split file list %s FAILED error=%u",
                                          m_strSplitFileList, qvp::GetLastError());
}

long CQvSplitBigFile::DeleteCutFile(const CQvString& strPath) {
    const DWORD dwAttr = qvp::GetFileAttributesW(strPath);
    qvp::SetFileAttributesW(strPath, FILE_ATTRIBUTE_NORMAL);
    if (qvp::DeleteFileW(strPath)) return 0;
    const DWORD dwErr = qvp::GetLastError();
    if (dwAttr != INVALID_FILE_ATTRIBUTES) qvp::SetFileAttributesW(strPath, dwAttr);
    CQvLog::GetInstance()->AddError(L"CQvSplitBigFile::SplitFile(...) Delete file %s FAILED error=%u",
                                    strPath, dwErr);
    return E_FAIL;
}

void CQvSplitBigFile::RemoveParts(QvFileDescMap& mapFileDesc, const PartVector& vParts) {
    for (const PartWritten& written : vParts) {
        // Short of memory, the entry may stay; the part file goes all the same, so that
        // nothing on disk pretends to be a cut that did not happen.
        try {
            if (written.bInMap && written.bHadEntry)
                QvPutFileDesc(mapFileDesc, written.oldEntry);
            else if (written.bInMap)
                QvEraseFileDesc(mapFileDesc, written.strPath);
        } catch (const std::exception&) {
            CQvLog::GetInstance()->AddWarning(L"CQvSplitBigFile::SplitFile(...) Entry of part %s "
                                              L"not removed: out of memory",
                                              written.strPath);
        }
        if (!qvp::DeleteFileW(written.strPath))
            CQvLog::GetInstance()->AddWarning(L"CQvSplitBigFile::SplitFile(...) Delete file %s FAILED error=%u",
                                              written.strPath, qvp::GetLastError());
    }
}
