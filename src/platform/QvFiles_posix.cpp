// POSIX emulation of Windows file handles: CreateFileW, ReadFile, WriteFile and friends.
//
// Read-only files are refused explicitly (opening one for writing) rather than left to the
// kernel, because root bypasses permission bits and Windows does not.
#include "platform/QvPosixSupport.h"

#include "platform/QvFaults.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace qvp {

namespace {

// Access bits of a Windows access mask that allow reading or writing the data.
const DWORD kFileReadData = 0x0001;
const DWORD kFileWriteData = 0x0002;
const DWORD kFileAppendData = 0x0004;
const DWORD kReadMask = GENERIC_READ | GENERIC_ALL | kFileReadData;
const DWORD kWriteMask = GENERIC_WRITE | GENERIC_ALL | kFileWriteData | kFileAppendData;

// What a file handle points to.
struct FileObject {
    int fd = -1;
    bool canRead = false;
    bool canWrite = false;
};

// Open file handles, so a find handle or a stale pointer is refused instead of dereferenced.
std::mutex g_fileMutex;
std::unordered_set<FileObject*> g_files;

FileObject* LookupFile(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    auto it = g_files.find(static_cast<FileObject*>(h));
    return it == g_files.end() ? nullptr : *it;
}

HANDLE FailHandle(DWORD code) {
    posix::Fail(code);
    return INVALID_HANDLE_VALUE;
}

// open(2) flags of a creation disposition; false for an unknown one.
bool DispositionFlags(DWORD disposition, int& flags) {
    switch (disposition) {
    case CREATE_NEW: flags = O_CREAT | O_EXCL; return true;
    case CREATE_ALWAYS: flags = O_CREAT | O_TRUNC; return true;
    case OPEN_EXISTING: flags = 0; return true;
    case OPEN_ALWAYS: flags = O_CREAT; return true;
    case TRUNCATE_EXISTING: flags = O_TRUNC; return true;
    default: return false;
    }
}

// The checks Windows makes before it opens anything; false with the last error set.
bool CheckBeforeOpen(const posix::NativePath& p, bool existed, const struct stat& st, DWORD disposition,
                     bool canWrite) {
    if (existed && disposition == CREATE_NEW) return posix::Fail(ERROR_FILE_EXISTS);
    if (existed && S_ISDIR(st.st_mode)) return posix::Fail(ERROR_ACCESS_DENIED);
    if (p.trailingSep) return posix::Fail(ERROR_INVALID_NAME);  // a file name cannot end in "\"
    const bool changesData = canWrite || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (existed && changesData && posix::IsReadOnlyFile(st)) return posix::Fail(ERROR_ACCESS_DENIED);
    return true;
}

int OpenNoIntr(const char* path, int flags) {
    int fd;
    do fd = open(path, flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Wraps an open descriptor in a handle; closes it when no handle can be made.
HANDLE RegisterFile(int fd, bool canRead, bool canWrite) {
    try {
        std::unique_ptr<FileObject> f(new FileObject());
        f->fd = fd;
        f->canRead = canRead;
        f->canWrite = canWrite;
        std::lock_guard<std::mutex> lock(g_fileMutex);
        g_files.insert(f.get());
        return f.release();
    } catch (...) {
        close(fd);
        return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
    }
}

// Opens the mapped path and checks it is no folder; -1 with the last error set.
int OpenChecked(const posix::NativePath& p, int flags, struct stat& st) {
    const int fd = OpenNoIntr(p.path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        posix::FailErrno(errno, posix::ErrOp::CreateFile, p.parentMissing);
        return -1;
    }
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        posix::Fail(ERROR_ACCESS_DENIED);
        return -1;
    }
    return fd;
}

HANDLE CreateFileImpl(LPCWSTR name, DWORD access, DWORD disposition, DWORD flagsAndAttributes) {
    int flags = 0;
    const bool canRead = (access & kReadMask) != 0, canWrite = (access & kWriteMask) != 0;
    if (!DispositionFlags(disposition, flags) || (disposition == TRUNCATE_EXISTING && !canWrite))
        return FailHandle(ERROR_INVALID_PARAMETER);
    // A new, truncated or written file is the one named exactly: falling back on a name equal
    // ignoring case would write into a different file that happens to differ only in case.
    const bool exact = canWrite || disposition != OPEN_EXISTING || (flagsAndAttributes & FILE_FLAG_POSIX_SEMANTICS);
    posix::NativePath p;
    if (!posix::MapPath(name, p, exact ? posix::LastName::Exact : posix::LastName::AnyCase))
        return INVALID_HANDLE_VALUE;
    struct stat st;
    const bool existed = stat(p.path.c_str(), &st) == 0;
    if (!CheckBeforeOpen(p, existed, st, disposition, canWrite)) return INVALID_HANDLE_VALUE;
    flags |= (canRead && canWrite) ? O_RDWR : canWrite ? O_WRONLY : O_RDONLY;
    const int fd = OpenChecked(p, flags, st);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    if (!existed && (flagsAndAttributes & FILE_ATTRIBUTE_READONLY))
        (void)fchmod(fd, st.st_mode & 07555);  // the new file is read-only; this handle still writes
    const HANDLE h = RegisterFile(fd, canRead, canWrite);
    // A file this call created goes again when no handle could be made for it, as a failed
    // CreateFileW leaves nothing behind: a cut would otherwise find its part name taken.
    if (h == INVALID_HANDLE_VALUE && !existed) unlink(p.path.c_str());
    if (h != INVALID_HANDLE_VALUE && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/, LPVOID /*lpSecurityAttributes*/,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE /*hTemplateFile*/) {
    if (FaultShouldFail(FaultOp::Create)) return INVALID_HANDLE_VALUE;
    return posix::NoThrow<HANDLE>(INVALID_HANDLE_VALUE, [&] {
        return CreateFileImpl(lpFileName, dwDesiredAccess, dwCreationDisposition, dwFlagsAndAttributes);
    });
}

// Reads until the request is met or the file ends, as ReadFile does on a disk file.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              LPVOID /*lpOverlapped*/) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    if (FaultShouldFail(FaultOp::Read)) return FALSE;
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!f->canRead) return posix::Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToRead) return posix::Fail(ERROR_INVALID_PARAMETER);
    char* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        const ssize_t n = read(f->fd, out + done, nNumberOfBytesToRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
            return posix::FailErrno(errno, posix::ErrOp::Read);
        }
        if (n == 0) break;  // end of file: success with what was read, possibly nothing
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = done;
    return TRUE;
}

// Writes everything, looping over the partial writes write(2) may make.
BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, DWORD* lpNumberOfBytesWritten,
               LPVOID /*lpOverlapped*/) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    if (FaultShouldFail(FaultOp::Write)) return FALSE;
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!f->canWrite) return posix::Fail(ERROR_ACCESS_DENIED);
    if (!lpBuffer && nNumberOfBytesToWrite) return posix::Fail(ERROR_INVALID_PARAMETER);
    const char* in = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t n = write(f->fd, in + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
            return posix::FailErrno(n < 0 ? errno : EIO, posix::ErrOp::Write);
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = done;
    return TRUE;
}

// copy_file_range(2) lets the kernel move the bytes from one file's pages to the other's, which
// saves two copies through the buffer of every byte. Where it cannot (files on different
// systems, a kernel or file system without it) or it fails, the buffered copy takes over from
// where it stopped, and reports an error as the read or write that meets it.
BOOL CopyFileData(HANDLE hFrom, HANDLE hTo, uint64_t nBytes, void* lpBuffer, DWORD cbBuffer,
                  uint64_t* lpCopied, CopyFailure* lpFailure) {
    const uint64_t kKernelChunk = 8u << 20;
    const FileObject* from = LookupFile(hFrom);
    const FileObject* to = LookupFile(hTo);
    uint64_t done = 0;
    bool kernel = from && to && from->canRead && to->canWrite;
    while (kernel && done < nBytes) {
        // One read and one write as far as injected faults go, like a step of the buffered copy.
        if (FaultShouldFail(FaultOp::Read)) {
            if (lpCopied) *lpCopied = done;
            if (lpFailure) *lpFailure = CopyFailure::Read;
            return FALSE;
        }
        if (FaultShouldFail(FaultOp::Write)) {
            if (lpCopied) *lpCopied = done;
            if (lpFailure) *lpFailure = CopyFailure::Write;
            return FALSE;
        }
        const uint64_t left = nBytes - done;
        const size_t want = static_cast<size_t>(left < kKernelChunk ? left : kKernelChunk);
        ssize_t n;
        do {
            n = copy_file_range(from->fd, nullptr, to->fd, nullptr, want, 0);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            kernel = false;
            break;
        }
        if (n == 0) {  // the end of the source
            if (lpCopied) *lpCopied = done;
            if (lpFailure) *lpFailure = CopyFailure::None;
            return TRUE;
        }
        done += static_cast<uint64_t>(n);
    }
    uint64_t rest = 0;
    const BOOL ok = CopyFileDataThroughBuffer(hFrom, hTo, nBytes - done, lpBuffer, cbBuffer,
                                              &rest, lpFailure);
    if (lpCopied) *lpCopied = done + rest;
    return ok;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    if (FaultShouldFail(FaultOp::Flush)) return FALSE;
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!f->canWrite) return posix::Fail(ERROR_ACCESS_DENIED);  // as Windows, for a read-only handle
    if (fsync(f->fd) != 0) return posix::FailErrno(errno, posix::ErrOp::Write);
    return TRUE;
}

BOOL GetFileWriteTime(HANDLE hFile, FILETIME* lpLastWriteTime) {
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!lpLastWriteTime) return posix::Fail(ERROR_INVALID_PARAMETER);
    struct stat st;
    if (fstat(f->fd, &st) != 0) return posix::FailErrno(errno, posix::ErrOp::Read);
    *lpLastWriteTime = posix::WriteTimeFromStat(st);
    return TRUE;
}

BOOL SetFileWriteTime(HANDLE hFile, const FILETIME* lpLastWriteTime) {
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!lpLastWriteTime) return posix::Fail(ERROR_INVALID_PARAMETER);
    if (!f->canWrite) return posix::Fail(ERROR_ACCESS_DENIED);  // as Windows, for a read-only handle
    const uint64_t ticks = posix::TicksFromFileTime(*lpLastWriteTime);
    const int64_t kEpochDelta = 11644473600LL;  // seconds from 1601 to 1970
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(static_cast<int64_t>(ticks / 10000000u) - kEpochDelta);
    times[1].tv_nsec = static_cast<long>(ticks % 10000000u) * 100;
    if (futimens(f->fd, times) != 0) return posix::FailErrno(errno, posix::ErrOp::Write);
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, LARGE_INTEGER* lpFileSize) {
    FileObject* f = LookupFile(hFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!lpFileSize) return posix::Fail(ERROR_INVALID_PARAMETER);
    struct stat st;
    if (fstat(f->fd, &st) != 0) return posix::FailErrno(errno, posix::ErrOp::Read);
    lpFileSize->QuadPart = static_cast<int64_t>(st.st_size);
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    FileObject* f = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_fileMutex);
        auto it = g_files.find(static_cast<FileObject*>(hObject));
        if (it != g_files.end()) {
            f = *it;
            g_files.erase(it);
        }
    }
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    // close(2) is not retried on EINTR: the descriptor is gone either way on Linux.
    const int rc = close(f->fd);
    const int err = errno;
    delete f;
    return (rc == 0 || err == EINTR) ? TRUE : posix::FailErrno(err, posix::ErrOp::Write);
}

}  // namespace qvp
