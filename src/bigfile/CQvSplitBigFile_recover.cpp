// The big-file splitter's recovery: rebuilding every file of a part list from its parts.
#include "bigfile/CQvSplitBigFile.h"

#include "facilities/CQvFile.h"
#include "facilities/CQvLog.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>

namespace {

const wchar_t kSection[] = L"Files";
// Largest single read of a part: a buffer that stays in the processor's cache copies several
// times faster than one of many megabytes.
const int64_t kMaxRead = 262144;

CQvString PartPath(const CQvString& strFile, const CQvString& strStamp, DWORD n) {
    CQvString path;
    path.Format(L"%s.%s.Part%u", strFile, strStamp, n);
    return path;
}

// Decimal digits up to the first other character; none give 0, too many saturate.
DWORD ParseCount(const CQvString& strCount) {
    unsigned long long value = 0;
    for (int i = 0; i < strCount.GetLength(); ++i) {
        const wchar_t c = strCount.GetAt(i);
        if (c < L'0' || c > L'9') break;
        value = std::min<unsigned long long>(value * 10 + static_cast<unsigned>(c - L'0'),
                                             0xFFFFFFFFull);
    }
    return static_cast<DWORD>(value);
}

bool OpenPart(CQvFile& part, LPCTSTR strPart) {
    CQvLog* log = CQvLog::GetInstance();
    if (!part.Attach(strPart)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Attach file %s FAILED", strPart);
        return false;
    }
    // By its exact name only: a part whose name differs in case is one of another file.
    if (!part.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_POSIX_SEMANTICS, nullptr)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Open file %s FAILED", strPart);
        return false;
    }
    return true;
}

// Whether the path opens as a file: a link that is not dangling.
bool LeadsToAFile(LPCTSTR strPath) {
    HANDLE h = qvp::CreateFileW(strPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    qvp::CloseHandle(h);
    return true;
}

}  // namespace

// The list is read into a document of its own, so that recovering never disturbs the part
// list of cuts made in the same process.
long CQvSplitBigFile::RecoverFiles(WORD wDrive, LPCTSTR strSplitListFile) {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile=%s)", strSplitListFile);
    if (!strSplitListFile) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(...) strSplitListFile NULL");
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    try {
        CQvIni ini;
        if (!ini.Load(strSplitListFile, nullptr)) {
            log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Open split file list %s FAILED",
                          strSplitListFile);
            return log->ExitFunction(static_cast<long>(E_INVALIDARG));
        }
        // Files first, then the links cut while links were followed: a link whose file was cut
        // as well leads to it again once that file is rebuilt.
        std::vector<std::pair<CQvString, CQvString>> vLinks;
        std::vector<CQvString> vRebuilt;
        int iEntries = 0, iFailed = 0;
        for (int i = 0;; ++i) {
            CQvString strKey, strValue, strPath, strStamp;
            strKey.Format(L"File%d", i);
            if (!ini.GetKeyValue(kSection, strKey, strValue)) break;
            ++iEntries;
            CQvString strFile;
            if (strValue.GetToken(L"|", strPath, 1)) {
                strValue.GetToken(L"|", strStamp, 2);
                strFile = ListedFile(wDrive, strPath, strStamp);
            }
            if (!strFile.IsEmpty() && qvp::IsSymbolicLink(strFile))
                vLinks.emplace_back(strKey, strValue);
            else if (!RecoverEntry(strKey, strValue, wDrive, vRebuilt))
                ++iFailed;
        }
        for (const auto& link : vLinks)
            if (!RecoverEntry(link.first, link.second, wDrive, vRebuilt)) ++iFailed;
        // Each file not joined was named above; the caller must not take the list as done.
        if (iFailed != 0) {
            log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) %d of the %d files of %s were not joined",
                          iFailed, iEntries, strSplitListFile);
            return log->ExitFunction(static_cast<long>(E_FAIL));
        }
    } catch (const std::exception&) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Out of memory reading %s",
                      strSplitListFile);
        return log->ExitFunction(static_cast<long>(E_FAIL));
    }
    return log->ExitFunction(0L);
}

// Nothing is created or replaced until every part has been seen, and the file is built under
// a temporary name: an existing file is only ever replaced by a complete rebuild, and parts
// are deleted only once that rebuild is in place.
bool CQvSplitBigFile::RecoverEntry(LPCTSTR strKey, const CQvString& strValue, WORD wDrive,
                                   std::vector<CQvString>& vRebuilt) {
    CQvLog* log = CQvLog::GetInstance();
    CQvString strPath, strStamp, strCount;
    DWORD dwCount = 0;
    if (strValue.GetToken(L"|", strPath, 1) && strValue.GetToken(L"|", strStamp, 2) &&
        strValue.GetToken(L"|", strCount, 3))
        dwCount = ParseCount(strCount);
    // A cut always writes at least one part, so a count of 0 cannot come from one.
    if (dwCount == 0) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Invalid Key Value for %s = %s File Skip",
                      strKey, strValue);
        return false;
    }
    const CQvString strFile = ListedFile(wDrive, strPath, strStamp);
    // A file the list names twice (cut once, reached through a followed link to its folder as
    // well) shares its parts with the other path: rebuilt under one, it is whole under both.
    if (!IsOnDiskByExactName(PartPath(strFile, strStamp, 1)))
        for (const CQvString& strDone : vRebuilt)
            if (qvp::PathsNameSameObject(strFile, strDone)) {
                log->AddInfo(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) File %s is the file %s rebuilt",
                             strFile, strDone);
                return true;
            }
    int64_t iLargest = 0;
    // A link cut while links were followed was kept: while it still leads to its file, that
    // file is the one the parts copy (or a newer one), and only the parts go.
    if (qvp::IsSymbolicLink(strFile) && LeadsToAFile(strFile) && CheckParts(strFile, strStamp, dwCount, iLargest)) {
        DeleteParts(strFile, strStamp, dwCount);
        vRebuilt.push_back(strFile);
        log->AddInfo(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) File %s is a link that still leads to its file, its %u parts are removed",
                     strFile, dwCount);
        return true;
    }
    if (!CheckParts(strFile, strStamp, dwCount, iLargest) ||
        !RebuildFile(strFile, strStamp, dwCount, iLargest)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Recover file %s FAILED, its parts are kept",
                      strFile);
        return false;
    }
    DeleteParts(strFile, strStamp, dwCount);
    vRebuilt.push_back(strFile);
    log->AddInfo(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) File %s rebuilt from %u parts",
                 strFile, dwCount);
    return true;
}

bool CQvSplitBigFile::CheckParts(const CQvString& strFile, const CQvString& strStamp,
                                 DWORD dwCount, int64_t& iLargest) {
    // Every part but the last has the size of the first, and the last is no larger: a part
    // cut short, or one from another cut, would otherwise give a short or mixed file.
    iLargest = 0;
    int64_t iFirst = 0;
    for (DWORD n = 1; n <= dwCount; ++n) {
        CQvFile part;
        const CQvString strPart = PartPath(strFile, strStamp, n);
        if (!OpenPart(part, strPart)) return false;
        const int64_t iSize = part.GetFileSize();
        if (n == 1) iFirst = iSize;
        const bool bFits = (n < dwCount) ? iSize == iFirst : iSize <= iFirst;
        if (iSize < 0 || !bFits) {
            CQvLog::GetInstance()->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Part %s has %I64d bytes, parts of %I64d bytes expected",
                                            strPart, static_cast<long long>(iSize),
                                            static_cast<long long>(iFirst));
            return false;
        }
        iLargest = std::max(iLargest, iSize);
    }
    // A part beyond the count means the list is wrong about the file: joined, it would be short.
    const CQvString strNext = PartPath(strFile, strStamp, dwCount + 1);
    if (IsOnDiskByExactName(strNext)) {
        CQvLog::GetInstance()->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Part %s exists beyond the %u parts the list records",
                                        strNext, dwCount);
        return false;
    }
    return true;
}

bool CQvSplitBigFile::RebuildFile(const CQvString& strFile, const CQvString& strStamp,
                                  DWORD dwCount, int64_t iLargest) {
    CQvLog* log = CQvLog::GetInstance();
    CQvString strTemp;
    strTemp.Format(L"%s.%s.Rebuild.tmp", strFile, strStamp);
    CQvFile target;
    if (!target.Attach(strTemp)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Attach file %s FAILED", strFile);
        return false;
    }
    if (!target.Open(QV_FILE_ALL_ACCESS, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Create file %s FAILED", strFile);
        return false;
    }
    bool bDone = AppendParts(target, strFile, strStamp, dwCount, iLargest);
    // The file takes again the write time the cut kept on its parts (best effort: a part that
    // cannot be asked leaves the time of the rebuild).
    CQvFile first;
    FILETIME ftWritten;
    if (bDone && first.Attach(PartPath(strFile, strStamp, 1)) &&
        first.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_POSIX_SEMANTICS, nullptr) &&
        first.GetWriteTime(ftWritten) && !target.SetWriteTime(ftWritten))
        log->AddWarning(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Write time of %s not set error=%u",
                        strFile, qvp::GetLastError());
    first.Close();
    if (bDone && !target.Flush()) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Flush file %s FAILED error=%u",
                      strTemp, qvp::GetLastError());
        bDone = false;
    }
    bDone = target.Close() && bDone;
    if (bDone && !qvp::MoveFileExW(strTemp, strFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Rename %s to %s FAILED error=%u",
                      strTemp, strFile, qvp::GetLastError());
        bDone = false;
    }
    if (!bDone) qvp::DeleteFileW(strTemp);
    return bDone;
}

bool CQvSplitBigFile::AppendParts(CQvFile& target, const CQvString& strFile,
                                  const CQvString& strStamp, DWORD dwCount, int64_t iLargest) {
    CQvLog* log = CQvLog::GetInstance();
    // Small parts need no full-size buffer.
    const DWORD cbBuffer = static_cast<DWORD>(std::max<int64_t>(1, std::min(iLargest, kMaxRead)));
    std::unique_ptr<char[]> pBufferDataSplit;
    try {
        pBufferDataSplit.reset(new char[cbBuffer]);
    } catch (const std::bad_alloc&) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Memory Allocation Error for pBufferDataSplit");
    }
    if (!pBufferDataSplit) {
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Can not read data, no buffer (pBufferDataSplit=NULL)");
        return false;
    }
    for (DWORD n = 1; n <= dwCount; ++n) {
        if (!AppendPart(target, strFile, PartPath(strFile, strStamp, n), pBufferDataSplit.get(),
                        cbBuffer))
            return false;
    }
    return true;
}

bool CQvSplitBigFile::AppendPart(CQvFile& target, LPCTSTR strFile, LPCTSTR strPart,
                                 char* pBuffer, DWORD cbBuffer) {
    CQvLog* log = CQvLog::GetInstance();
    CQvFile part;
    if (!OpenPart(part, strPart)) return false;
    const int64_t iPartSize = part.GetFileSize();
    // Copying on to the end of the file, rather than stopping at its size, takes every byte
    // even where the system hands out less than was asked for.
    int64_t iCopied = 0;
    qvp::CopyFailure failure = qvp::CopyFailure::None;
    if (part.CopyTo(target, INT64_MAX, pBuffer, cbBuffer, &iCopied, &failure)) return true;
    if (failure == qvp::CopyFailure::Read)
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Read %d bytes in file %s FAILED",
                      static_cast<DWORD>(iPartSize), strPart);
    else
        log->AddError(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Write %d bytes in file %s FAILED",
                      cbBuffer, strFile);
    return false;
}

void CQvSplitBigFile::DeleteParts(const CQvString& strFile, const CQvString& strStamp,
                                  DWORD dwCount) {
    for (DWORD n = 1; n <= dwCount; ++n) {
        const CQvString strPart = PartPath(strFile, strStamp, n);
        qvp::SetFileAttributesW(strPart, FILE_ATTRIBUTE_NORMAL);
        if (!qvp::DeleteFileW(strPart))
            CQvLog::GetInstance()->AddWarning(L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) Delete file %s FAILED error=%u",
                                              strPart, qvp::GetLastError());
    }
}
