// The listing every walk of the catalogue starts a folder with, so that every walk reports
// alike what it cannot plan.
#ifndef QVCATALOGWALK_H
#define QVCATALOGWALK_H

#include "platform/QvPlatform.h"

#include <string>

// Lists every entry of strFolder (with or without its trailing backslash), as FindFirstFileW
// with "*.*" does. A folder that cannot be listed, and the entries the listing leaves out
// (pipes, sockets, devices, names too long, entries gone meanwhile), go to the left-out list
// with their reason when bReport is set; *pbIncomplete, when given, turns true then. The
// caller closes the handle with FindClose.
HANDLE QvOpenCatalogWalk(const std::wstring& strFolder, WIN32_FIND_DATAW& fd, bool bReport = true,
                         bool* pbIncomplete = nullptr);

// Closes a listing when the walk that opened it ends, however it ends: a handle left open by
// an exception would make every later walk take the folder for a loop and skip it.
class QvFindCloser {
public:
    explicit QvFindCloser(HANDLE hFind) : m_hFind(hFind) {}
    ~QvFindCloser() {
        if (m_hFind != INVALID_HANDLE_VALUE) qvp::FindClose(m_hFind);
    }
    QvFindCloser(const QvFindCloser&) = delete;
    QvFindCloser& operator=(const QvFindCloser&) = delete;

private:
    HANDLE m_hFind;
};

#endif
