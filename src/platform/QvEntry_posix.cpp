// What one directory entry reports: symbolic links are entries of their own unless followed.
//
// Backup tools (tar, rsync) keep a link as a link by default: following it plans a linked
// folder's contents twice, or a whole tree outside the selection, and a dangling link would
// vanish from the plan. QvFind_test pins the attributes down.
#include "platform/QvPosixSupport.h"

#include <cstdlib>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

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

std::vector<FolderId> FolderChain(const std::string& path) {
    std::string abs = path;
    if (abs.empty() || abs[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof(cwd))) return {};
        abs = std::string(cwd) + "/" + abs;
    }
    std::vector<FolderId> chain;
    struct stat st;
    if (stat("/", &st) == 0) chain.push_back(FolderId{st.st_dev, st.st_ino});
    for (size_t i = 1; i <= abs.size(); ++i) {
        if (i < abs.size() && abs[i] != '/') continue;
        if (abs[i - 1] == '/') continue;  // "//" or a trailing "/"
        if (stat(abs.substr(0, i).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            chain.push_back(FolderId{st.st_dev, st.st_ino});
    }
    return chain;
}

bool InChain(const std::vector<FolderId>& chain, const struct stat& st) {
    for (const FolderId& id : chain)
        if (id.dev == st.st_dev && id.ino == st.st_ino) return true;
    return false;
}

void KeepLoopAsLink(int dirFd, const char* name, const std::vector<FolderId>& chain, EntryStat& entry) {
    if (!entry.followed || !S_ISDIR(entry.st.st_mode) || !InChain(chain, entry.st)) return;
    struct stat own;
    if (fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) != 0) return;
    entry.st = own;
    entry.followed = false;
    entry.isLink = true;
    entry.linkToFolder = true;
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
