// One file on disk, opened with the CreateFileW meanings; closed by the destructor.
#ifndef CQVFILE_H
#define CQVFILE_H

#include "platform/QvPlatform.h"
#include "CQvString.h"

#include <functional>
#include <string>

class CQvCommits;

class QVSPLIT_API CQvFile {
public:
    CQvFile();
    explicit CQvFile(LPCTSTR path);  // same as Attach
    ~CQvFile();
    CQvFile(const CQvFile&) = delete;
    CQvFile& operator=(const CQvFile&) = delete;

    // Binds the object to a path (closing any file it had open); nonzero on success.
    BOOL Attach(LPCTSTR path);
    // Opens the attached path with the CreateFileW arguments; nonzero on success.
    BOOL Open(DWORD dwAccess, DWORD dwShareMode, LPVOID lpSecurity, DWORD dwCreation,
              DWORD dwFlags, HANDLE hTemplate);
    // Synchronous read; *pRead receives the bytes moved, 0 at the end of the file.
    BOOL Read(LPVOID buffer, DWORD count, DWORD* pRead, LPVOID lpOverlapped);
    // Synchronous write; pWritten may be null.
    BOOL Write(const void* buffer, DWORD count, DWORD* pWritten, LPVOID lpOverlapped);
    // Writes all of size bytes, in as many calls as it takes; nonzero when all were written.
    BOOL WriteAll(const void* buffer, size_t size);
    // Copies up to nBytes from this file's position to target's (see qvp::CopyFileData, which
    // uses buffer when the system cannot copy itself); *pCopied receives the bytes copied, fewer
    // only at the end of this file, and *pFailure the side that failed.
    BOOL CopyTo(CQvFile& target, int64_t nBytes, void* buffer, DWORD cbBuffer, int64_t* pCopied,
                qvp::CopyFailure* pFailure);
    // Flushes the file's data to the disk.
    BOOL Flush();
    // The file's last-write time, read and set.
    BOOL GetWriteTime(FILETIME& time) const;
    BOOL SetWriteTime(const FILETIME& time);
    // Size in bytes, or -1 when it cannot be read.
    int64_t GetFileSize();
    BOOL Close();

    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    LPCTSTR GetPath() const { return m_strPath; }

    // Replaces the file at path by data: written to a temporary file in the same folder,
    // flushed, then renamed over the target, so the old file stays whole if anything fails.
    static BOOL WriteAtomically(LPCTSTR path, const void* data, size_t size);
    // The same with the content written piece by piece: write gets the open temporary file and
    // returns false when a write failed. What write throws removes the temporary file first.
    // With commits, the written file is handed to them to be flushed and put in place behind
    // the caller: TRUE then means written and taken (see CQvCommits).
    static BOOL WriteAtomicallyWith(LPCTSTR path, const std::function<bool(CQvFile&)>& write,
                                    CQvCommits* commits = nullptr);
    // Reads a whole file into bytes; nonzero on success.
    static BOOL ReadAll(LPCTSTR path, std::string& bytes);

private:
    CQvString m_strPath;
    HANDLE m_hFile;
};

#endif
