// What one directory entry reports: symbolic links are entries of their own unless followed.
//
// Backup tools (tar, rsync) keep a link as a link by default: following it plans a linked
// folder's contents twice, or a whole tree outside the selection, and a dangling link would
// vanish from the plan. QvFind_test pins the attributes down.
#include "platform/QvPosixSupport.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>

namespace qvp {
namespace posix {

bool FollowLinks() {
    const char* value = std::getenv("QVSPLIT_FOLLOW_LINKS");
    return value && std::strcmp(value, "1") == 0;
}

bool StatEntry(int dirFd, const char* name, EntryStat& out) {
    out = EntryStat();
    if (fstatat(dirFd, name, &out.st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISLNK(out.st.st_mode)) return true;
    struct stat target;
    const bool reachable = fstatat(dirFd, name, &target, 0) == 0;
    if (reachable && FollowLinks()) {
        out.st = target;
        out.followed = true;
        return true;
    }
    // A dangling link stays an entry even when links are followed: it is still something the
    // tree holds and a backup keeps.
    out.isLink = true;
    out.linkToFolder = reachable && S_ISDIR(target.st_mode);
    return true;
}

DWORD AttributesOfEntry(const EntryStat& e) {
    if (!e.isLink) return AttributesFromStat(e.st);
    return FILE_ATTRIBUTE_REPARSE_POINT | (e.linkToFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

uint64_t SizeOfEntry(const EntryStat& e) {
    if (e.isLink || S_ISDIR(e.st.st_mode)) return 0;
    return static_cast<uint64_t>(e.st.st_size);
}

}  // namespace posix
}  // namespace qvp
