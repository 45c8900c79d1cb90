// One file on disk over the platform layer, with whole-file reads and atomic replacement.
#include "facilities/CQvFile.h"

#include "facilities/CQvCommits.h"
#include "facilities/CQvLog.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Largest single transfer: well inside a DWORD and kind to systems with little memory.
const size_t kMaxChunk = 64u * 1024u * 1024u;
// Read buffer for whole-file reads.
const DWORD kReadChunk = 1024u * 1024u;

// Makes the temporary file's name unique within the process and across processes.
unsigned NextTempNumber() {
    static unsigned counter = 0;
    return ++counter;
}

// Runs cleanup without letting it overwrite the error code of the failure being reported.
template <class F>
void KeepingLastError(F cleanup) {
    const DWORD err = qvp::GetLastError();
    cleanup();
    qvp::SetLastError(err);
}

}  // namespace

CQvFile::CQvFile() : m_hFile(INVALID_HANDLE_VALUE) {}

CQvFile::CQvFile(LPCTSTR path) : m_hFile(INVALID_HANDLE_VALUE) { Attach(path); }

CQvFile::~CQvFile() { Close(); }

BOOL CQvFile::Attach(LPCTSTR path) {
    Close();
    m_strPath.Empty();
    if (!path || !*path) {
        qvp::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m_strPath = path;
    return TRUE;
}

BOOL CQvFile::Open(DWORD dwAccess, DWORD dwShareMode, LPVOID lpSecurity, DWORD dwCreation,
                   DWORD dwFlags, HANDLE hTemplate) {
    Close();
    if (m_strPath.IsEmpty()) {
        qvp::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    m_hFile = qvp::CreateFileW(m_strPath, dwAccess, dwShareMode, lpSecurity, dwCreation, dwFlags,
                               hTemplate);
    return IsOpen() ? TRUE : FALSE;
}

BOOL CQvFile::Read(LPVOID buffer, DWORD count, DWORD* pRead, LPVOID lpOverlapped) {
    DWORD done = 0;
    if (pRead) *pRead = 0;
    if (!IsOpen()) {
        qvp::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const BOOL ok = qvp::ReadFile(m_hFile, buffer, count, &done, lpOverlapped);
    if (pRead) *pRead = done;
    return ok;
}

BOOL CQvFile::Write(const void* buffer, DWORD count, DWORD* pWritten, LPVOID lpOverlapped) {
    DWORD done = 0;
    if (pWritten) *pWritten = 0;
    if (!IsOpen()) {
        qvp::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const BOOL ok = qvp::WriteFile(m_hFile, buffer, count, &done, lpOverlapped);
    if (pWritten) *pWritten = done;
    return ok;
}

BOOL CQvFile::CopyTo(CQvFile& target, int64_t nBytes, void* buffer, DWORD cbBuffer,
                     int64_t* pCopied, qvp::CopyFailure* pFailure) {
    if (pCopied) *pCopied = 0;
    if (pFailure) *pFailure = qvp::CopyFailure::None;
    if (!IsOpen() || !target.IsOpen()) {
        if (pFailure) *pFailure = IsOpen() ? qvp::CopyFailure::Write : qvp::CopyFailure::Read;
        qvp::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    uint64_t copied = 0;
    const BOOL ok = qvp::CopyFileData(m_hFile, target.m_hFile,
                                      nBytes > 0 ? static_cast<uint64_t>(nBytes) : 0, buffer,
                                      cbBuffer, &copied, pFailure);
    if (pCopied) *pCopied = static_cast<int64_t>(copied);
    return ok;
}

BOOL CQvFile::WriteAll(const void* buffer, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min(size, kMaxChunk));
        DWORD written = 0;
        if (!Write(p, chunk, &written, nullptr)) return FALSE;
        // A write that moves nothing would loop for ever; treat it as a full disk.
        if (written == 0) {
            qvp::SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        p += written;
        size -= written;
    }
    return TRUE;
}

BOOL CQvFile::GetWriteTime(FILETIME& time) const { return qvp::GetFileWriteTime(m_hFile, &time); }

BOOL CQvFile::SetWriteTime(const FILETIME& time) { return qvp::SetFileWriteTime(m_hFile, &time); }

BOOL CQvFile::Flush() {
    if (!IsOpen()) {
        qvp::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return qvp::FlushFileBuffers(m_hFile);
}

int64_t CQvFile::GetFileSize() {
    LARGE_INTEGER size;
    size.QuadPart = 0;
    if (!IsOpen() || !qvp::GetFileSizeEx(m_hFile, &size)) return -1;
    return size.QuadPart;
}

BOOL CQvFile::Close() {
    if (!IsOpen()) return TRUE;
    const BOOL ok = qvp::CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    return ok;
}

BOOL CQvFile::WriteAtomically(LPCTSTR path, const void* data, size_t size) {
    if (!data && size > 0) {
        qvp::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WriteAtomicallyWith(path, [&](CQvFile& file) { return file.WriteAll(data, size) != FALSE; });
}

BOOL CQvFile::WriteAtomicallyWith(LPCTSTR path, const std::function<bool(CQvFile&)>& write,
                                  CQvCommits* commits) {
    if (!path || !*path || !write) {
        qvp::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    CQvString tmp;
    std::unique_ptr<CQvFile> file;
    try {
        tmp.Format(L"%s.~%u.%u.tmp", path, qvp::GetCurrentProcessId(), NextTempNumber());
        file.reset(new CQvFile(tmp));
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    if (!file->Open(GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr)) {
        CQvLog::GetInstance()->AddError(L"CQvFile::WriteAtomically(...) Create temporary file %s FAILED error=%u",
                                        tmp, qvp::GetLastError());
        return FALSE;
    }
    bool written = false;
    try {
        written = write(*file);
        // Handed over written: the flush and the rename are the commits' own.
        if (written && commits) {
            CQvString target(path);
            return commits->Add(std::move(file), std::move(target)) ? TRUE : FALSE;
        }
        written = written && file->Flush();
    } catch (...) {
        if (file) {
            file->Close();
            qvp::DeleteFileW(tmp);
        }
        throw;
    }
    const bool closed = file->Close() != FALSE;
    if (written && closed &&
        qvp::MoveFileExW(tmp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TRUE;
    CQvLog::GetInstance()->AddError(L"CQvFile::WriteAtomically(...) Write of %s FAILED error=%u, kept the old file",
                                    path, qvp::GetLastError());
    KeepingLastError([&] { qvp::DeleteFileW(tmp); });
    return FALSE;
}

BOOL CQvFile::ReadAll(LPCTSTR path, std::string& bytes) {
    bytes.clear();
    CQvFile file;
    if (!file.Attach(path) ||
        !file.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
        return FALSE;
    try {
        const int64_t expected = file.GetFileSize();
        if (expected > 0 && static_cast<uint64_t>(expected) < bytes.max_size())
            bytes.reserve(static_cast<size_t>(expected));
        // Read straight into the result: one read for a file of known size, a small
        // buffer only for what grows past it.
        size_t used = 0;
        bytes.resize(expected > 0 ? static_cast<size_t>(expected) : 4096);
        for (;;) {
            if (used == bytes.size()) bytes.resize(bytes.size() < kReadChunk ? bytes.size() + 4096 : bytes.size() + kReadChunk);
            const size_t room = bytes.size() - used;
            const DWORD want = static_cast<DWORD>(room < kReadChunk ? room : kReadChunk);
            DWORD got = 0;
            if (!file.Read(&bytes[used], want, &got, nullptr)) {
                bytes.clear();
                return FALSE;
            }
            if (got == 0) {
                bytes.resize(used);
                return TRUE;
            }
            used += got;
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        qvp::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
