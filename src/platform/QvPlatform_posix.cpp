// POSIX emulation of the Windows name functions: attributes, delete, rename, folders, helpers.
//
// Read-only files are refused explicitly (delete, replacing rename) rather than left to the
// kernel, because root bypasses permission bits and Windows does not.
#include "platform/QvPosixSupport.h"

#include "platform/QvFaults.h"

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace qvp {

namespace {

const mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// Maps a path and describes its entry as a listing does: a symbolic link is reported itself
// unless links are followed, as GetFileAttributesW reports a reparse point on Windows. False with
// the last error set.
bool StatPath(LPCWSTR name, posix::NativePath& p, posix::EntryStat& entry,
              posix::LastName last = posix::LastName::AnyCase) {
    if (!posix::MapPath(name, p, last)) return false;
    if (!posix::StatEntry(AT_FDCWD, p.path.c_str(), entry))
        return posix::FailErrno(errno, posix::ErrOp::Other, p.parentMissing);
    // Described as a listing of its folder describes it: a followed link to a folder holding
    // it is the link itself.
    if (entry.followed && S_ISDIR(entry.st.st_mode)) {
        const size_t cut = p.path.find_last_of('/');
        const std::string parent = cut == std::string::npos ? "." : p.path.substr(0, cut == 0 ? 1 : cut);
        posix::KeepLoopAsLink(AT_FDCWD, p.path.c_str(), posix::FolderChain(parent), entry);
    }
    return true;
}

// Like StatPath, but describes a symbolic link itself, as delete and rename act on the link;
// and as they change the entry, only the exact name is looked for.
bool LstatPath(LPCWSTR name, posix::NativePath& p, struct stat& st) {
    if (!posix::MapPath(name, p, posix::LastName::Exact)) return false;
    if (lstat(p.path.c_str(), &st) != 0) return posix::FailErrno(errno, posix::ErrOp::Other, p.parentMissing);
    return true;
}

BOOL GetAttributesImpl(LPCWSTR name, WIN32_FILE_ATTRIBUTE_DATA* data) {
    posix::NativePath p;
    posix::EntryStat entry;
    if (!StatPath(name, p, entry)) return FALSE;
    data->dwFileAttributes = posix::AttributesOfEntry(entry);
    const FILETIME ft = posix::WriteTimeFromStat(entry.st);
    data->ftCreationTime = ft;  // no portable creation time; the write time stands in
    data->ftLastAccessTime = ft;
    data->ftLastWriteTime = ft;
    const uint64_t size = posix::SizeOfEntry(entry);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    return TRUE;
}

// Only the read-only bit has a POSIX counterpart; folders keep their permissions, because a
// read-only Windows folder still takes new files and a folder without write permission would not.
// A link kept as a link has no permissions of its own to change, and its target is left alone.
BOOL SetAttributesImpl(LPCWSTR name, DWORD attrs) {
    posix::NativePath p;
    posix::EntryStat entry;
    if (!StatPath(name, p, entry, posix::LastName::Exact)) return FALSE;
    if (entry.isLink || S_ISDIR(entry.st.st_mode)) return TRUE;
    mode_t mode = entry.st.st_mode & 07777;
    if (attrs & FILE_ATTRIBUTE_READONLY)
        mode &= ~kWriteBits;
    else
        mode |= S_IWUSR;
    if (chmod(p.path.c_str(), mode) != 0) return posix::FailErrno(errno);
    return TRUE;
}

BOOL DeleteImpl(LPCWSTR name) {
    posix::NativePath p;
    struct stat st;
    if (!LstatPath(name, p, st)) return FALSE;
    if (S_ISDIR(st.st_mode) || posix::IsReadOnlyFile(st)) return posix::Fail(ERROR_ACCESS_DENIED);
    if (unlink(p.path.c_str()) != 0) return posix::FailErrno(errno, posix::ErrOp::Other, p.parentMissing);
    return TRUE;
}

// Makes a rename durable: the folder entries are on disk once their folders are synced.
BOOL SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return posix::FailErrno(errno, posix::ErrOp::Write);
    const int rc = fsync(fd);
    const int err = errno;
    close(fd);
    return rc == 0 ? TRUE : posix::FailErrno(err, posix::ErrOp::Write);
}

// Windows refuses to replace a folder, a read-only file, or anything by a folder.
BOOL CheckReplace(const struct stat& source, const std::string& target, DWORD flags) {
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return TRUE;
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return posix::Fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(st.st_mode) || S_ISDIR(source.st_mode) || posix::IsReadOnlyFile(st))
        return posix::Fail(ERROR_ACCESS_DENIED);
    return TRUE;
}

BOOL MoveImpl(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    posix::NativePath from, to;
    struct stat st;
    // The target is the exact name too: a change of letter case only renames the source, and a
    // file whose name differs from the target only in case is never replaced.
    if (!LstatPath(existing, from, st) || !posix::MapPath(newName, to, posix::LastName::Exact)) return FALSE;
    const std::string& target = to.path;
    if (target == from.path) return TRUE;  // the name already is exactly that
    if (!CheckReplace(st, target, flags)) return FALSE;
    // rename(2) replaces atomically, so a reader sees the old or the new file, never neither.
    if (rename(from.path.c_str(), target.c_str()) != 0)
        return posix::FailErrno(errno, posix::ErrOp::Other, to.parentMissing);
    if (flags & MOVEFILE_WRITE_THROUGH) {
        if (!SyncFolder(to.folder)) return FALSE;
        if (from.folder != to.folder && !SyncFolder(from.folder)) return FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryImpl(LPCWSTR name) {
    posix::NativePath p;
    if (!posix::MapPath(name, p)) return FALSE;
    // mkdir fails with ENOENT only when a folder above is missing.
    if (mkdir(p.path.c_str(), 0777) != 0) return posix::FailErrno(errno, posix::ErrOp::Other, true);
    return TRUE;
}

BOOL RemoveDirectoryImpl(LPCWSTR name) {
    posix::NativePath p;
    struct stat st;
    if (!LstatPath(name, p, st)) return FALSE;
    if (!S_ISDIR(st.st_mode)) return posix::Fail(ERROR_DIRECTORY);
    if (rmdir(p.path.c_str()) != 0) return posix::FailErrno(errno == EEXIST ? ENOTEMPTY : errno);
    return TRUE;
}

BOOL PathExistsImpl(LPCWSTR name) {
    if (!name) return posix::Fail(ERROR_INVALID_PARAMETER);
    if (std::wcspbrk(name, L"*?")) return posix::Fail(ERROR_INVALID_NAME);
    posix::NativePath p;
    posix::EntryStat entry;
    return StatPath(name, p, entry);
}

}  // namespace

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || !lpFileInformation) return posix::Fail(ERROR_INVALID_PARAMETER);
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    return posix::NoThrow<BOOL>(FALSE, [&] { return GetAttributesImpl(lpFileName, data); });
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(lpFileName, GetFileExInfoStandard, &data)) return INVALID_FILE_ATTRIBUTES;
    return data.dwFileAttributes;
}

BOOL SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
    if (dwFileAttributes == INVALID_FILE_ATTRIBUTES) return posix::Fail(ERROR_INVALID_PARAMETER);
    return posix::NoThrow<BOOL>(FALSE, [&] { return SetAttributesImpl(lpFileName, dwFileAttributes); });
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    if (FaultShouldFail(FaultOp::Delete)) return FALSE;
    return posix::NoThrow<BOOL>(FALSE, [&] { return DeleteImpl(lpFileName); });
}

BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
    if (FaultShouldFail(FaultOp::Rename)) return FALSE;
    return posix::NoThrow<BOOL>(FALSE, [&] { return MoveImpl(lpExistingFileName, lpNewFileName, 0); });
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (FaultShouldFail(FaultOp::Rename)) return FALSE;
    return posix::NoThrow<BOOL>(FALSE, [&] { return MoveImpl(lpExistingFileName, lpNewFileName, dwFlags); });
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPVOID /*lpSecurityAttributes*/) {
    return posix::NoThrow<BOOL>(FALSE, [&] { return CreateDirectoryImpl(lpPathName); });
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
    return posix::NoThrow<BOOL>(FALSE, [&] { return RemoveDirectoryImpl(lpPathName); });
}

BOOL PathFileExistsW(LPCWSTR pszPath) {
    return posix::NoThrow<BOOL>(FALSE, [&] { return PathExistsImpl(pszPath); });
}

BOOL PathsNameSameEntry(LPCWSTR a, LPCWSTR b) {
    return posix::NoThrow<BOOL>(FALSE, [&] {
        posix::NativePath pa, pb;
        if (!posix::MapPath(a, pa) || !posix::MapPath(b, pb)) return FALSE;
        return pa.path == pb.path ? TRUE : FALSE;
    });
}

BOOL FollowsLinks() { return posix::FollowLinks() ? TRUE : FALSE; }

DWORD GetLinkTargetLength(LPCWSTR lpPath, BOOL* pbAscii, DWORD* pdwLongestName) {
    if (pbAscii) *pbAscii = TRUE;
    if (pdwLongestName) *pdwLongestName = 0;
    if (!lpPath) return 0;
    return posix::NoThrow<DWORD>(0, [&] {
        posix::NativePath p;
        struct stat st;
        if (!posix::MapPath(lpPath, p) || lstat(p.path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return DWORD{0};
        if (pbAscii || pdwLongestName) {
            std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
            const ssize_t got = readlink(p.path.c_str(), &target[0], target.size());
            // A target that cannot be read (or changed length since) counts as not ASCII, and
            // as one name.
            const bool bWhole = got >= 0 && static_cast<size_t>(got) < target.size();
            if (pbAscii && !bWhole) *pbAscii = FALSE;
            if (pdwLongestName && !bWhole) *pdwLongestName = static_cast<DWORD>(st.st_size);
            DWORD dwName = 0;
            for (ssize_t i = 0; bWhole && i < got; ++i) {
                const unsigned char c = static_cast<unsigned char>(target[static_cast<size_t>(i)]);
                if (pbAscii && c >= 0x80) *pbAscii = FALSE;
                dwName = c == '/' ? 0 : dwName + 1;
                if (pdwLongestName && dwName > *pdwLongestName) *pdwLongestName = dwName;
            }
        }
        return static_cast<DWORD>(st.st_size);
    });
}

BOOL IsSymbolicLink(LPCWSTR lpPath) {
    if (!lpPath) return posix::Fail(ERROR_INVALID_PARAMETER);
    // The entry a lookup of the path reaches: the exact name first, else one equal ignoring case.
    return posix::NoThrow<BOOL>(FALSE, [&] {
        posix::NativePath p;
        struct stat st;
        if (!posix::MapPath(lpPath, p)) return FALSE;
        return lstat(p.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? TRUE : FALSE;
    });
}

BOOL PathsNameSameObject(LPCWSTR a, LPCWSTR b) {
    return posix::NoThrow<BOOL>(FALSE, [&] {
        posix::NativePath pa, pb;
        if (!posix::MapPath(a, pa) || !posix::MapPath(b, pb)) return FALSE;
        struct stat sa, sb;
        if (::stat(pa.path.c_str(), &sa) != 0 || ::stat(pb.path.c_str(), &sb) != 0) return FALSE;
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino ? TRUE : FALSE;
    });
}

// The listing keeps it where Windows keeps nothing a caller reads.
DWORD GetListedLinkCount(const WIN32_FIND_DATAW& data) { return data.dwReserved1; }

uint64_t GetHardLinkId(LPCWSTR lpPath) {
    if (!lpPath) return 0;
    return posix::NoThrow<uint64_t>(0, [&] {
        posix::NativePath p;
        struct stat st;
        if (!posix::MapPath(lpPath, p) || ::stat(p.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink < 2)
            return uint64_t{0};
        // Device and inode mixed into 64 bits (splitmix64 steps); 0 is kept for "none".
        uint64_t id = static_cast<uint64_t>(st.st_dev) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(st.st_ino);
        id = (id ^ (id >> 30)) * 0xBF58476D1CE4E5B9ull;
        id = (id ^ (id >> 27)) * 0x94D049BB133111EBull;
        id ^= id >> 31;
        return id ? id : uint64_t{1};
    });
}

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    const size_t len = std::wcslen(psz);
    BSTR copy = static_cast<BSTR>(std::malloc((len + 1) * sizeof(OLECHAR)));
    if (!copy) return nullptr;
    std::wmemcpy(copy, psz, len + 1);
    return copy;
}

void SysFreeString(BSTR bstrString) { std::free(bstrString); }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

long long CoarseMillisecondsNow() {
#if defined(CLOCK_REALTIME_COARSE)
    const clockid_t clock = CLOCK_REALTIME_COARSE;  // the last tick, read without a system call
#else
    const clockid_t clock = CLOCK_REALTIME;
#endif
    struct timespec ts;
    if (clock_gettime(clock, &ts) != 0) return 0;
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool IsRegularFileStream(FILE* f) {
    struct stat st;
    return f && fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace qvp
