// The Windows file-system functions the library uses, with Windows semantics on every host.
//
// On Windows the qvp:: functions call the real KERNEL32/SHLWAPI/OLEAUT32 functions; on POSIX
// they emulate them (drive roots from QVSPLIT_DRIVE_X, case-insensitive lookup, Windows
// wildcards, a fixed listing order). Both add the fault-injection seam of QvFaults.h.
#ifndef QVPLATFORM_H
#define QVPLATFORM_H

#include "QvSplit.h"

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <oleauto.h>
#include <shlwapi.h>
#else

typedef void* HANDLE;
typedef wchar_t* BSTR;
typedef wchar_t OLECHAR;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    wchar_t cFileName[MAX_PATH];
    wchar_t cAlternateFileName[14];
};

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0, GetFileExMaxInfoLevel = 1 };

struct LARGE_INTEGER {
    int64_t QuadPart;
};

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_DEVICE 0x00000040
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_FLAG_POSIX_SEMANTICS 0x01000000
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_WRITE_THROUGH 0x00000008

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_BAD_NETPATH 53L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIRECTORY 267L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

#endif  // !_WIN32

// The access mask the library passes when it creates a target file.
#define QV_FILE_ALL_ACCESS 0x1F01FFu

namespace qvp {

// Directory listing with Windows wildcards ("*", "?"; "*.*" matches every name).
HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData);
BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData);
// The number of names (hard links) of a listed file, as its listing found it, so that a walk
// need not ask again; 0 for anything else, and on Windows, where a listing does not tell.
DWORD GetListedLinkCount(const WIN32_FIND_DATAW& data);
BOOL FindClose(HANDLE hFindFile);
// Entries of a listing that no Windows file can stand for, left out of it: name and reason;
// FALSE past the end. On Windows there are none.
enum : DWORD {
    QV_FIND_SKIPPED_SPECIAL = 1,        // pipe, socket or device
    QV_FIND_SKIPPED_NAME_TOO_LONG = 2,  // longer than MAX_PATH - 1 characters
    QV_FIND_SKIPPED_VANISHED = 3        // gone between the listing and its description
};
BOOL FindSkippedEntry(HANDLE hFindFile, DWORD dwIndex, std::wstring& strName, DWORD& dwReason);

// Attributes, size and times of one path.
BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                          LPVOID lpFileInformation);
DWORD GetFileAttributesW(LPCWSTR lpFileName);
BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes);

// Time conversions.
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, FILETIME* lpLocalFileTime);
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime);
void GetSystemTime(SYSTEMTIME* lpSystemTime);

// Files. On POSIX, where names differing only in case are distinct files, a call that creates,
// truncates or may write a file reaches exactly the name given, never an entry equal to it
// ignoring case; so does a read with FILE_FLAG_POSIX_SEMANTICS. Other reads fall back on such
// an entry, as on Windows. Delete, rename (both names), SetFileAttributesW and
// RemoveDirectoryW likewise act on the exact last name only; the folders on the way are
// always found ignoring case.
HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPVOID lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              DWORD* lpNumberOfBytesRead, LPVOID lpOverlapped);
BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, LPVOID lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);
// The last-write time of an open file, read and set (the other times are left as they are).
BOOL GetFileWriteTime(HANDLE hFile, FILETIME* lpLastWriteTime);
BOOL SetFileWriteTime(HANDLE hFile, const FILETIME* lpLastWriteTime);

// Which side of a CopyFileData failed.
enum class CopyFailure { None, Read, Write };

// Copies up to nBytes from hFrom to hTo, each at its current position, which moves on by the
// bytes copied (*lpCopied; fewer than asked only at the end of hFrom). It behaves, fails and
// counts for fault injection like ReadFile of at most cbBuffer bytes into lpBuffer followed by
// WriteFile of what was read, repeated; where the system can copy between the two files
// itself, the bytes do not pass through the buffer. On failure *lpFailure tells which side
// failed and the last error is that side's.
BOOL CopyFileData(HANDLE hFrom, HANDLE hTo, uint64_t nBytes, void* lpBuffer, DWORD cbBuffer,
                  uint64_t* lpCopied, CopyFailure* lpFailure);
// The same copy through the buffer only (what CopyFileData falls back on).
BOOL CopyFileDataThroughBuffer(HANDLE hFrom, HANDLE hTo, uint64_t nBytes, void* lpBuffer,
                               DWORD cbBuffer, uint64_t* lpCopied, CopyFailure* lpFailure);
BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize);
BOOL CloseHandle(HANDLE hObject);

// Names.
BOOL DeleteFileW(LPCWSTR lpFileName);
BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
BOOL CreateDirectoryW(LPCWSTR lpPathName, LPVOID lpSecurityAttributes);
BOOL RemoveDirectoryW(LPCWSTR lpPathName);
BOOL PathFileExistsW(LPCWSTR pszPath);
// Whether two paths that differ at most in letter case name the same entry: always on Windows;
// on POSIX when both lead to one host path (names differing only in case are distinct files on
// a case-sensitive file system).
BOOL PathsNameSameEntry(LPCWSTR a, LPCWSTR b);
// Whether two paths, however spelled and on whichever drive, lead to one file or folder on
// disk (the same device and file number); false when either cannot be reached.
BOOL PathsNameSameObject(LPCWSTR a, LPCWSTR b);
// For a file with more than one name (hard links), a number that its names share and other
// files' names almost surely do not; 0 for any other path, and on Windows, where it is not
// looked up.
uint64_t GetHardLinkId(LPCWSTR lpPath);
// Whether walks follow symbolic links (QVSPLIT_FOLLOW_LINKS=1 on POSIX; never on Windows, where
// directory reparse points are not entered): then a folder may be reached under another name.
BOOL FollowsLinks();
// Whether the entry a lookup of the path reaches is a symbolic link (on Windows, any reparse
// point), whether or not links are followed.
BOOL IsSymbolicLink(LPCWSTR lpPath);
// Bytes of the target a symbolic link at the path holds (not followed); 0 for anything else,
// and on Windows, where a burning program stores no link target. With pbAscii, also whether
// every byte of the target is ASCII (TRUE when there is no target); with pdwLongestName, the
// bytes of the longest name between its slashes.
DWORD GetLinkTargetLength(LPCWSTR lpPath, BOOL* pbAscii = nullptr, DWORD* pdwLongestName = nullptr);

// Last-error code of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// OLE Automation strings, as the XML facility hands out its texts.
BSTR SysAllocString(const OLECHAR* psz);
void SysFreeString(BSTR bstrString);

// Upper and lower case of one character, as Windows compares file names.
wchar_t ToUpperChar(wchar_t c);
wchar_t ToLowerChar(wchar_t c);

// Conversions between wide strings and UTF-8 text. A byte b that is not valid UTF-8 decodes to
// the private-use character U+F000 + b, the character a file name holding it lists with; every
// character, that one included, encodes as UTF-8, so the text written is always valid UTF-8.
std::string WideToUtf8(const std::wstring& s);
std::string WideToUtf8(const wchar_t* s, size_t n);
// The same appended to out, which keeps its memory from one call to the next.
void AppendUtf8(const wchar_t* s, size_t n, std::string& out);
std::wstring Utf8ToWide(const std::string& s);
std::wstring Utf8ToWide(const char* s, size_t n);

// Conversions between one host file name (bytes) and the Windows name it lists with. A character
// Windows refuses in a name (control characters, \ * ? : " < > |) and a byte that is not UTF-8
// become U+F000 + their value; a host name already holding such a private-use character lists it
// byte by byte the same way, so every host name maps back to exactly its own bytes.
std::wstring HostNameToWide(const std::string& s);
std::wstring HostNameToWide(const char* s, size_t n);
std::string WideToHostName(const std::wstring& s);
std::string WideToHostName(const wchar_t* s, size_t n);
// The same, appended to out.
void AppendHostName(const wchar_t* s, size_t n, std::string& out);

// Paths of this host and the Windows paths the library works with: the one mapping that the
// program and the C interface share. The drive letter through which host paths reach the
// library (on POSIX one whose root is "/": C unless QVSPLIT_DRIVE_C names another folder).
wchar_t HostDrive();
// A host path (UTF-8 on Windows, the name bytes on POSIX), made absolute, as the Windows path
// the library takes; names are mapped as the platform lists them, so that the path reaches the
// entry it named. With bPattern, a last name holding '*' or '?' that names no entry keeps them
// as wildcards. An empty path stays empty.
std::wstring HostPathToLibrary(const std::string& hostPath, bool bPattern);
// A Windows path of the library as a path of this host (on POSIX: the drive's root, names
// joined with '/', each back to its host bytes).
std::string LibraryPathToHost(const std::wstring& libraryPath);

// Whether a walk through a tree enters an entry with these attributes: a folder that is no
// reparse point. A symbolic link or junction to a folder is kept as an entry of its own.
inline bool IsFolderToEnter(DWORD dwAttributes) {
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Milliseconds since 1970-01-01 UTC from a clock that is cheap to read and may lag a few
// milliseconds behind (the system's coarse clock): for time stamps of log lines, which are
// written every few hundred nanoseconds.
long long CoarseMillisecondsNow();

// Whether the stream writes to a regular file (not a terminal, pipe or device).
bool IsRegularFileStream(FILE* f);

// The process id, for unique temporary names.
DWORD GetCurrentProcessId();

// Gives the pages of memory the process has freed back to the system. With glibc freed memory
// stays with the process until it is asked for; the Windows heap gives large free runs back by
// itself, so there this does nothing.
void ReleaseFreeMemory();

}  // namespace qvp

#endif
