// The folder walk every walk of the library goes through, so that each lists a folder alike:
// the same dot names skipped, the same 64-bit size, the same link policy and loop guard, the
// same report of what it cannot list, the same output-folder skip. A walk goes down by calling
// itself (or whatever it walks with) for a sub-folder from inside its visitor.
#ifndef QVTREEWALK_H
#define QVTREEWALK_H

#include "platform/QvPlatform.h"

#include <cstdint>
#include <cwchar>
#include <functional>
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

// One entry a walk meets. "." and ".." never reach a visitor.
struct QvWalkEntry {
    enum Kind {
        File,          // a file, or a link kept as a link
        Folder,        // a folder to go down into
        OutputFolder,  // the folder the media files go to: never planned, never walked
    };
    Kind kind;
    const WIN32_FIND_DATAW& fd;
    const std::wstring& strPath;  // the folder, one backslash, the name

    const wchar_t* Name() const { return fd.cFileName; }
    bool IsFolder() const { return kind != File; }
    int64_t Size() const {
        return static_cast<int64_t>((static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
    }
};

// How a walk lists a folder.
struct QvWalkPolicy {
    bool bReport = true;           // what cannot be listed goes to the left-out list
    bool* pbIncomplete = nullptr;  // turns true when something was not listed
    // Folders it names come as QvWalkEntry::OutputFolder; without it every folder is a Folder.
    std::function<bool(const std::wstring&)> isOutputFolder;
};

// Lists strFolder once, calling visit(const QvWalkEntry&) for each entry in listing order until
// it returns false. The listing stays open while the visitor runs, so a visitor that walks a
// sub-folder is refused any folder the walk is already inside: a link loop ends there. False
// when the folder could not be listed.
template <class Visit>
bool QvWalkFolder(const std::wstring& strFolder, const QvWalkPolicy& policy, Visit&& visit) {
    std::wstring strPath = strFolder;
    if (strPath.empty() || strPath.back() != L'\\') strPath += L'\\';
    const size_t cchBase = strPath.size();
    WIN32_FIND_DATAW fd;
    HANDLE hFind = QvOpenCatalogWalk(strPath, fd, policy.bReport, policy.pbIncomplete);
    QvFindCloser closeAtEnd(hFind);
    if (hFind == INVALID_HANDLE_VALUE) return false;
    do {
        QvWalkEntry::Kind kind = QvWalkEntry::File;
        if (qvp::IsFolderToEnter(fd.dwFileAttributes)) {
            if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0) continue;
            kind = QvWalkEntry::Folder;
        }
        strPath.resize(cchBase);
        strPath += fd.cFileName;
        if (kind == QvWalkEntry::Folder && policy.isOutputFolder && policy.isOutputFolder(strPath))
            kind = QvWalkEntry::OutputFolder;
        if (!visit(QvWalkEntry{kind, fd, strPath})) break;
    } while (qvp::FindNextFileW(hFind, &fd));
    return true;
}

// Whether a path lies in or is a folder the system keeps for itself, which no walk measures.
inline bool QvIsSystemVolumeFolder(const std::wstring& strPath) {
    return strPath.find(L"System Volume Information") != std::wstring::npos;
}

#endif
