// Windows pass-through: each qvp:: function calls the real API, behind the fault-injection seam.
#include "platform/QvPlatform.h"

#include "platform/QvFaults.h"

#include <cstdio>
#include <sys/stat.h>

namespace qvp {

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
    if (FaultShouldFail(FaultOp::List)) return INVALID_HANDLE_VALUE;
    return ::FindFirstFileW(lpFileName, lpFindFileData);
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
    return ::FindNextFileW(hFindFile, lpFindFileData);
}

BOOL FindClose(HANDLE hFindFile) { return ::FindClose(hFindFile); }

BOOL FindSkippedEntry(HANDLE, DWORD, std::wstring&, DWORD&) { return FALSE; }

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    return ::GetFileAttributesExW(lpFileName, fInfoLevelId, lpFileInformation);
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) { return ::GetFileAttributesW(lpFileName); }

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    return ::SetFileAttributesW(lpFileName, dwFileAttributes);
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime) {
    return ::FileTimeToLocalFileTime(lpFileTime, lpLocalFileTime);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
    return ::FileTimeToSystemTime(lpFileTime, lpSystemTime);
}

void GetSystemTime(SYSTEMTIME* lpSystemTime) { ::GetSystemTime(lpSystemTime); }

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPVOID lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (FaultShouldFail(FaultOp::Create)) return INVALID_HANDLE_VALUE;
    return ::CreateFileW(lpFileName, dwDesiredAccess, dwShareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes), dwCreationDisposition,
                         dwFlagsAndAttributes, hTemplateFile);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPVOID lpOverlapped) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (FaultShouldFail(FaultOp::Read)) return FALSE;
    return ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead,
                      static_cast<LPOVERLAPPED>(lpOverlapped));
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten,
               LPVOID lpOverlapped) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (FaultShouldFail(FaultOp::Write)) return FALSE;
    return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                       static_cast<LPOVERLAPPED>(lpOverlapped));
}

// Windows has no copy between two open handles; the buffered copy is what it does anyway.
BOOL CopyFileData(HANDLE hFrom, HANDLE hTo, uint64_t nBytes, void* lpBuffer, DWORD cbBuffer,
                  uint64_t* lpCopied, CopyFailure* lpFailure) {
    return CopyFileDataThroughBuffer(hFrom, hTo, nBytes, lpBuffer, cbBuffer, lpCopied, lpFailure);
}

BOOL FlushFileBuffers(HANDLE hFile) {
    if (FaultShouldFail(FaultOp::Flush)) return FALSE;
    return ::FlushFileBuffers(hFile);
}

BOOL GetFileWriteTime(HANDLE hFile, FILETIME* lpLastWriteTime) { return ::GetFileTime(hFile, nullptr, nullptr, lpLastWriteTime); }

BOOL SetFileWriteTime(HANDLE hFile, const FILETIME* lpLastWriteTime) {
    return ::SetFileTime(hFile, nullptr, nullptr, lpLastWriteTime);
}

BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) { return ::GetFileSizeEx(hFile, lpFileSize); }

BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

BOOL DeleteFileW(LPCWSTR lpFileName) {
    if (FaultShouldFail(FaultOp::Delete)) return FALSE;
    return ::DeleteFileW(lpFileName);
}

BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
    if (FaultShouldFail(FaultOp::Rename)) return FALSE;
    return ::MoveFileW(lpExistingFileName, lpNewFileName);
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (FaultShouldFail(FaultOp::Rename)) return FALSE;
    return ::MoveFileExW(lpExistingFileName, lpNewFileName, dwFlags);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPVOID lpSecurityAttributes) {
    return ::CreateDirectoryW(lpPathName, static_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes));
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) { return ::RemoveDirectoryW(lpPathName); }

BOOL PathFileExistsW(LPCWSTR pszPath) { return ::PathFileExistsW(pszPath); }

BOOL PathsNameSameEntry(LPCWSTR a, LPCWSTR b) { return ::lstrcmpiW(a, b) == 0; }

namespace {

bool FileNumber(LPCWSTR path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool bOk = ::GetFileInformationByHandle(h, &info) != FALSE;
    ::CloseHandle(h);
    return bOk;
}

}  // namespace

BOOL FollowsLinks() { return FALSE; }

DWORD GetLinkTargetLength(LPCWSTR, BOOL* pbAscii, DWORD* pdwLongestName) {
    if (pbAscii) *pbAscii = TRUE;
    if (pdwLongestName) *pdwLongestName = 0;
    return 0;
}

BOOL IsSymbolicLink(LPCWSTR lpPath) {
    const DWORD dwAttr = ::GetFileAttributesW(lpPath);
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT) ? TRUE : FALSE;
}

uint64_t GetHardLinkId(LPCWSTR) { return 0; }

DWORD GetListedLinkCount(const WIN32_FIND_DATAW&) { return 0; }

BOOL PathsNameSameObject(LPCWSTR a, LPCWSTR b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!FileNumber(a, ia) || !FileNumber(b, ib)) return FALSE;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
                   ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow
               ? TRUE
               : FALSE;
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD dwErrCode) { ::SetLastError(dwErrCode); }

BSTR SysAllocString(const OLECHAR* psz) { return psz ? ::SysAllocString(psz) : nullptr; }

void SysFreeString(BSTR bstrString) { ::SysFreeString(bstrString); }

// CharUpperBuffW uses the same case table as the file system's name comparison.
wchar_t ToUpperChar(wchar_t c) {
    WCHAR buf[1] = {c};
    ::CharUpperBuffW(buf, 1);
    return buf[0];
}

wchar_t ToLowerChar(wchar_t c) {
    WCHAR buf[1] = {c};
    ::CharLowerBuffW(buf, 1);
    return buf[0];
}

DWORD GetCurrentProcessId() { return ::GetCurrentProcessId(); }

void ReleaseFreeMemory() {}

long long CoarseMillisecondsNow() {
    // The system time as of the last clock tick: 100 ns units since 1601.
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    const long long units = static_cast<long long>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return (units - 116444736000000000LL) / 10000;
}

bool IsRegularFileStream(FILE* f) {
    struct _stat64 st;
    return f && _fstat64(_fileno(f), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

}  // namespace qvp
