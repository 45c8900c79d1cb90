// Helpers shared by the POSIX emulation files: path mapping, error mapping, stat conversion.
//
// Include this header first in every *_posix.cpp, so all of them see the same 64-bit off_t and
// struct stat layout.
#ifndef QVPOSIXSUPPORT_H
#define QVPOSIXSUPPORT_H

#if !defined(_WIN32)

#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "platform/QvPlatform.h"

#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace qvp {
namespace posix {

// A Windows path turned into a host path.
struct NativePath {
    std::string path;            // what to hand to the OS
    bool parentMissing = false;  // a folder on the way does not exist or is no folder
    bool trailingSep = false;    // the Windows path ended in a separator
    std::string folder;          // host path of the folder holding the last component
    std::string givenName;       // the last component as given (UTF-8), before case matching
};

// How the last component of a path is looked up; the folders on the way are always found
// ignoring case when their exact name is absent.
enum class LastName {
    AnyCase,  // the exact name, else an entry equal to it ignoring case (reading, as on Windows)
    Exact     // the exact name only: what creates, replaces, changes or removes an entry must
              // never reach another file whose name differs only in case
};

// Maps a Windows path to the host (drive roots from QVSPLIT_DRIVE_X, names looked up ignoring
// case when the exact name is absent). False, with the last error set, when it names nothing.
bool MapPath(LPCWSTR winPath, NativePath& out, LastName last = LastName::AnyCase);

// Result of looking a name up in a folder.
enum class Lookup { Found, Absent, NoFolder };

// Scans the host folder dir for an entry equal to name ignoring case; found receives its name.
Lookup FindIgnoringCase(const std::string& dir, const std::wstring& name, std::string& found);

// The operation an errno value comes from; some codes differ by operation (EIO, EEXIST).
enum class ErrOp { Other, Read, Write, CreateFile };

// The Windows code for errno value e; ENOENT depends on whether a parent folder is missing.
DWORD ErrorFromErrno(int e, ErrOp op, bool parentMissing = false);
// Sets the last error from errno value e; always returns FALSE, for tail calls.
BOOL FailErrno(int e, ErrOp op = ErrOp::Other, bool parentMissing = false);
// Sets the last error to code; always returns FALSE.
BOOL Fail(DWORD code);

// Attributes as Windows reports them: 0x10 folder, 0x20 file, +0x01 when the owner may not
// write.
DWORD AttributesFromStat(const struct stat& st);

// One entry as the listing and the attribute functions describe it.
struct EntryStat {
    struct stat st;             // the entry itself, or a link's target when links are followed
    bool isLink = false;        // a symbolic link kept as an entry of its own
    bool linkToFolder = false;  // such a link whose target is a folder
    bool followed = false;      // a symbolic link described by its target
};

// Whether symbolic links are followed: QVSPLIT_FOLLOW_LINKS=1, read at each call because tests
// change it.
bool FollowLinks();
// Describes name in the folder dirFd (AT_FDCWD: name is a path). A link is described itself
// unless links are followed and its target exists. False with errno set when nothing is there.
bool StatEntry(int dirFd, const char* name, EntryStat& out);
// The folders a native path runs through, from "/" down to the path itself, by device and
// file number: what a walk that reached the path by this name is inside. A path is judged by
// its name alone, so that a folder reached by one path gives the same listing whichever walk
// or rule reaches it.
struct FolderId {
    dev_t dev;
    ino_t ino;
};
std::vector<FolderId> FolderChain(const std::string& path);
bool InChain(const std::vector<FolderId>& chain, const struct stat& st);
// A followed link to a folder of chain (the folder holding the link, or one above it) leads
// into a loop: it is kept as the link itself, an entry a backup keeps, instead of a folder no
// walk could leave. name is read in dirFd as StatEntry reads it.
void KeepLoopAsLink(int dirFd, const char* name, const std::vector<FolderId>& chain, EntryStat& entry);
// Attributes of an entry: a link kept as such reports 0x400 with 0x10 (to a folder) or 0x20
// (anything else, a dangling link included); it is never read-only, as links carry no
// permissions of their own.
DWORD AttributesOfEntry(const EntryStat& e);
// Size of an entry: 0 for folders and links kept as such.
uint64_t SizeOfEntry(const EntryStat& e);
// The POSIX modification time as a FILETIME.
FILETIME WriteTimeFromStat(const struct stat& st);
// Whether the owner write bit of a regular file is clear (Windows: read-only attribute).
bool IsReadOnlyFile(const struct stat& st);

// Whether a file name matches a Windows wildcard pattern as FindFirstFileW matches it (case
// ignored; "*.*" matches every name, "*." names without a dot).
bool MatchesWindowsPattern(const std::wstring& pattern, const std::wstring& name);

// Runs body and turns any exception (only allocation failures are expected) into onError with
// ERROR_NOT_ENOUGH_MEMORY, since no exception may leave the platform layer.
template <class R, class F>
R NoThrow(R onError, F&& body) {
    try {
        return body();
    } catch (...) {
        qvp::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return onError;
    }
}

// An open folder listing, closed however the scope that opened it ends (an allocation failure
// while its entries are read included).
struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// Converts 100-ns ticks since 1601 to and from a FILETIME.
uint64_t TicksFromFileTime(const FILETIME& ft);
FILETIME FileTimeFromTicks(uint64_t ticks);

}  // namespace posix
}  // namespace qvp

#endif  // !_WIN32

#endif
