// The last-error code and the one table that turns errno values into Windows codes.
#include "platform/QvPosixSupport.h"

#include <cerrno>

namespace qvp {

using posix::ErrOp;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// One row per errno value; a row with a specific operation wins over the ErrOp::Other row.
struct ErrnoRow {
    int errnoValue;
    ErrOp op;
    DWORD code;
};

const ErrnoRow kErrnoTable[] = {
    {ENOENT, ErrOp::Other, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ErrOp::Other, ERROR_PATH_NOT_FOUND},
    {ELOOP, ErrOp::Other, ERROR_CANT_RESOLVE_FILENAME},
    {EACCES, ErrOp::Other, ERROR_ACCESS_DENIED},
    {EPERM, ErrOp::Other, ERROR_ACCESS_DENIED},
    {EROFS, ErrOp::Other, ERROR_ACCESS_DENIED},
    {EISDIR, ErrOp::Other, ERROR_ACCESS_DENIED},
    {ETXTBSY, ErrOp::Other, ERROR_SHARING_VIOLATION},
    {EBUSY, ErrOp::Other, ERROR_SHARING_VIOLATION},
    {EEXIST, ErrOp::CreateFile, ERROR_FILE_EXISTS},
    {EEXIST, ErrOp::Other, ERROR_ALREADY_EXISTS},
    {ENOTEMPTY, ErrOp::Other, ERROR_DIR_NOT_EMPTY},
    {ENOSPC, ErrOp::Other, ERROR_DISK_FULL},
    {EDQUOT, ErrOp::Other, ERROR_DISK_FULL},
    {EFBIG, ErrOp::Other, ERROR_DISK_FULL},
    {ENAMETOOLONG, ErrOp::Other, ERROR_FILENAME_EXCED_RANGE},
    {EMFILE, ErrOp::Other, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ErrOp::Other, ERROR_TOO_MANY_OPEN_FILES},
    {EIO, ErrOp::Read, ERROR_READ_FAULT},
    {EIO, ErrOp::Other, ERROR_WRITE_FAULT},
    {ENOMEM, ErrOp::Other, ERROR_NOT_ENOUGH_MEMORY},
    {EBADF, ErrOp::Other, ERROR_INVALID_HANDLE},
    {EINVAL, ErrOp::Other, ERROR_INVALID_PARAMETER},
    {EILSEQ, ErrOp::Other, ERROR_INVALID_NAME},
    {EXDEV, ErrOp::Other, ERROR_NOT_SAME_DEVICE},
    {ENOTSUP, ErrOp::Other, ERROR_NOT_SUPPORTED},
};

// Ticks between 1601-01-01 and 1970-01-01.
const uint64_t kTicksPerSecond = 10000000ULL;
const uint64_t kEpochDeltaSeconds = 11644473600ULL;

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

namespace posix {

DWORD ErrorFromErrno(int e, ErrOp op, bool parentMissing) {
    if (e == ENOENT && parentMissing) return ERROR_PATH_NOT_FOUND;
    DWORD fallback = ERROR_ACCESS_DENIED;  // an errno with no Windows counterpart
    bool found = false;
    for (const ErrnoRow& row : kErrnoTable) {
        if (row.errnoValue != e) continue;
        if (row.op == op) return row.code;
        if (row.op == ErrOp::Other && !found) {
            fallback = row.code;
            found = true;
        }
    }
    return fallback;
}

BOOL FailErrno(int e, ErrOp op, bool parentMissing) {
    return Fail(ErrorFromErrno(e, op, parentMissing));
}

BOOL Fail(DWORD code) {
    qvp::SetLastError(code);
    return FALSE;
}

DWORD AttributesFromStat(const struct stat& st) {
    DWORD attrs = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    // A pipe, socket or device: never listed, and marked so where a path names one.
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attrs |= FILE_ATTRIBUTE_DEVICE;
    if ((st.st_mode & S_IWUSR) == 0) attrs |= FILE_ATTRIBUTE_READONLY;
    return attrs;
}

bool IsReadOnlyFile(const struct stat& st) {
    return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

FILETIME WriteTimeFromStat(const struct stat& st) {
#if defined(__APPLE__)
    const struct timespec& ts = st.st_mtimespec;
#else
    const struct timespec& ts = st.st_mtim;
#endif
    const int64_t sec = static_cast<int64_t>(ts.tv_sec);
    // Times before 1601 have no FILETIME; they clamp to its zero.
    if (sec < -static_cast<int64_t>(kEpochDeltaSeconds)) return FileTimeFromTicks(0);
    const uint64_t since1601 = static_cast<uint64_t>(sec + static_cast<int64_t>(kEpochDeltaSeconds));
    return FileTimeFromTicks(since1601 * kTicksPerSecond + static_cast<uint64_t>(ts.tv_nsec) / 100);
}

uint64_t TicksFromFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeFromTicks(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

}  // namespace posix

}  // namespace qvp
