// Copying between two open files through a caller's buffer, on every host.
#include "platform/QvPlatform.h"

namespace qvp {

BOOL CopyFileDataThroughBuffer(HANDLE hFrom, HANDLE hTo, uint64_t nBytes, void* lpBuffer,
                               DWORD cbBuffer, uint64_t* lpCopied, CopyFailure* lpFailure) {
    uint64_t done = 0;
    CopyFailure failure = CopyFailure::None;
    BOOL ok = TRUE;
    if (!lpBuffer || cbBuffer == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        failure = CopyFailure::Read;
        ok = FALSE;
    }
    char* buffer = static_cast<char*>(lpBuffer);
    while (ok && done < nBytes) {
        const uint64_t left = nBytes - done;
        const DWORD want = left < cbBuffer ? static_cast<DWORD>(left) : cbBuffer;
        DWORD got = 0;
        if (!ReadFile(hFrom, buffer, want, &got, nullptr)) {
            failure = CopyFailure::Read;
            ok = FALSE;
            break;
        }
        if (got == 0) break;  // the end of the source
        for (DWORD put = 0; put < got;) {
            DWORD written = 0;
            if (!WriteFile(hTo, buffer + put, got - put, &written, nullptr)) {
                failure = CopyFailure::Write;
                ok = FALSE;
                break;
            }
            if (written == 0) {  // no progress would loop for ever: the disk is full
                SetLastError(ERROR_DISK_FULL);
                failure = CopyFailure::Write;
                ok = FALSE;
                break;
            }
            put += written;
        }
        if (ok) done += got;
    }
    if (lpCopied) *lpCopied = done;
    if (lpFailure) *lpFailure = failure;
    return ok;
}

}  // namespace qvp
