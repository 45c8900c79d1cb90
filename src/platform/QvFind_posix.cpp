// Directory listing (FindFirstFileW/FindNextFileW/FindClose) in the fixed order NTFS uses.
//
// The whole listing is read and sorted when the search starts, so FindNextFileW only iterates.
// Symbolic links are entries of their own (see QvEntry_posix.cpp). Entries the host cannot
// describe as a Windows file are left out: sockets, pipes and devices (IsListable) and names
// longer than MAX_PATH - 1 characters.
#include "platform/QvFaults.h"
#include "platform/QvPosixSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <iterator>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qvp {

namespace {

struct FindEntry {
    std::wstring name;
    std::wstring key;  // upper-cased name, the listing order
    DWORD attributes;
    uint64_t size;
    FILETIME writeTime;
    DWORD links;  // a file's names (hard links); 0 for anything else
};

// What a find handle points to.
// An entry of the folder that the listing leaves out, and why (QV_FIND_SKIPPED_...).
struct SkippedEntry {
    std::wstring name;
    DWORD reason;
};

struct FindObject {
    std::vector<FindEntry> entries;
    std::vector<SkippedEntry> skipped;
    size_t next = 0;
    dev_t dev = 0;
    ino_t ino = 0;
    bool isWalk = false;  // a wildcard listing, i.e. one step of a walk through the tree
    std::thread::id owner;
};

// Open find handles; lets FindClose refuse foreign handles and lets a walk spot a link loop.
std::mutex g_findMutex;
std::vector<FindObject*> g_finds;

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

FindObject* LookupFind(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_findMutex);
    auto it = std::find(g_finds.begin(), g_finds.end(), static_cast<FindObject*>(h));
    return it == g_finds.end() ? nullptr : *it;
}

// Whether this thread is already listing that folder further up its walk: entering it again
// through a symbolic link would never end.
bool AlreadyWalking(const struct stat& dir) {
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(g_findMutex);
    for (const FindObject* f : g_finds)
        if (f->isWalk && f->owner == self && f->dev == dir.st_dev && f->ino == dir.st_ino) return true;
    return false;
}

// Splits "X:\dir\pattern" into the folder part (keeping its separator) and the pattern.
void SplitPattern(const std::wstring& s, std::wstring& dir, std::wstring& pattern) {
    size_t cut = s.size();
    while (cut > 0 && !IsSep(s[cut - 1])) --cut;
    if (cut == 0 && s.size() >= 2 && s[1] == L':') cut = 2;  // "X:pattern"
    dir = s.substr(0, cut);
    pattern = s.substr(cut);
}

// Whether an entry is listed: folders, regular files and links kept as links. Sockets, pipes
// and devices are not, since reading one would block or never end; this is the one place that
// decides it.
bool IsListable(const posix::EntryStat& e) {
    return e.isLink || S_ISDIR(e.st.st_mode) || S_ISREG(e.st.st_mode);
}

FindEntry MakeEntry(std::wstring name, const posix::EntryStat& entry) {
    FindEntry e;
    e.key.resize(name.size());
    for (size_t i = 0; i < name.size(); ++i) e.key[i] = ToUpperChar(name[i]);
    e.name = std::move(name);
    e.attributes = posix::AttributesOfEntry(entry);
    e.size = posix::SizeOfEntry(entry);
    e.writeTime = posix::WriteTimeFromStat(entry.st);
    e.links = S_ISREG(entry.st.st_mode) && !entry.isLink
                  ? static_cast<DWORD>(std::min<uint64_t>(entry.st.st_nlink, 0xFFFFFFFFu))
                  : 0;
    return e;
}

FindEntry MakeFolderEntry(std::wstring name, const struct stat& st) {
    posix::EntryStat entry;
    entry.st = st;
    return MakeEntry(std::move(name), entry);
}

// Names equal ignoring case are ordered by their host bytes, which the wide names give back
// exactly; such pairs are rare, so the bytes are only made for them.
bool EntryLess(const FindEntry& a, const FindEntry& b) {
    const int byKey = a.key.compare(b.key);
    if (byKey != 0) return byKey < 0;
    return WideToHostName(a.name) < WideToHostName(b.name);
}

// "." and "..", which Windows reports first whenever the pattern matches them.
void AddDotEntries(int dirFd, const struct stat& self, const std::wstring& pattern, std::vector<FindEntry>& out) {
    if (posix::MatchesWindowsPattern(pattern, L".")) out.push_back(MakeFolderEntry(L".", self));
    struct stat parent;
    if (posix::MatchesWindowsPattern(pattern, L"..") && fstatat(dirFd, "..", &parent, 0) == 0)
        out.push_back(MakeFolderEntry(L"..", parent));
}

// Reads the matching entries of an open folder, sorted by upper-cased name.
// Entries that match but cannot be listed go to skipped, so that a walk can say so. chain: the
// folders the listed folder's path runs through while links are followed (see KeepLoopAsLink).
void ReadEntries(DIR* d, const std::vector<posix::FolderId>& chain, const std::wstring& pattern,
                 std::vector<FindEntry>& out, std::vector<SkippedEntry>& skipped) {
    std::vector<FindEntry> found;
    while (const struct dirent* de = readdir(d)) {
        const char* raw = de->d_name;
        if (std::strcmp(raw, ".") == 0 || std::strcmp(raw, "..") == 0) continue;
        std::wstring name = HostNameToWide(raw, std::strlen(raw));
        if (!posix::MatchesWindowsPattern(pattern, name)) continue;
        if (name.size() > MAX_PATH - 1) {
            skipped.push_back(SkippedEntry{std::move(name), QV_FIND_SKIPPED_NAME_TOO_LONG});
            continue;
        }
        posix::EntryStat entry;
        if (!posix::StatEntry(dirfd(d), raw, entry)) {
            skipped.push_back(SkippedEntry{std::move(name), QV_FIND_SKIPPED_VANISHED});
            continue;
        }
        if (!IsListable(entry)) {
            skipped.push_back(SkippedEntry{std::move(name), QV_FIND_SKIPPED_SPECIAL});
            continue;
        }
        posix::KeepLoopAsLink(dirfd(d), raw, chain, entry);
        found.push_back(MakeEntry(std::move(name), entry));
    }
    std::sort(found.begin(), found.end(), EntryLess);
    out.insert(out.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
}

// The one entry a pattern without wildcards names: the exact name when it exists, else the
// entry equal ignoring case, as a path lookup picks it. Scanning for every match instead would
// report "A" as well when "a" was asked for and both exist.
void ReadOne(const posix::NativePath& dir, int dirFd, const std::vector<posix::FolderId>& chain,
             const std::wstring& pattern, std::vector<FindEntry>& out) {
    std::string raw = WideToHostName(pattern);
    struct stat st;
    if (fstatat(dirFd, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        posix::FindIgnoringCase(dir.path, pattern, raw) != posix::Lookup::Found)
        return;
    std::wstring name = HostNameToWide(raw);
    posix::EntryStat entry;
    if (name.size() > MAX_PATH - 1 || !posix::StatEntry(dirFd, raw.c_str(), entry)) return;
    posix::KeepLoopAsLink(dirFd, raw.c_str(), chain, entry);
    if (IsListable(entry)) out.push_back(MakeEntry(std::move(name), entry));
}

// Whether the pattern can only name one entry ("name." is a wildcard: it also matches "name").
bool IsSingleName(const std::wstring& pattern) {
    return pattern.find_first_of(L"*?") == std::wstring::npos && pattern.back() != L'.';
}

// Lists the folder; false with the last error set when it cannot be read.
bool ListFolder(const posix::NativePath& dir, const struct stat& self, const std::vector<posix::FolderId>& chain,
                const std::wstring& pattern, std::vector<FindEntry>& out, std::vector<SkippedEntry>& skipped) {
    posix::DirHandle d(opendir(dir.path.c_str()));
    if (!d) return posix::FailErrno(errno, posix::ErrOp::Other, true);
    if (IsSingleName(pattern)) {
        ReadOne(dir, dirfd(d.get()), chain, pattern, out);
    } else {
        AddDotEntries(dirfd(d.get()), self, pattern, out);
        ReadEntries(d.get(), chain, pattern, out, skipped);
    }
    return true;
}

void Fill(const FindEntry& e, WIN32_FIND_DATAW* data) {
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = e.attributes;
    data->ftCreationTime = e.writeTime;  // no portable creation time; the write time stands in
    data->ftLastAccessTime = e.writeTime;  // access times would make listings vary between runs
    data->ftLastWriteTime = e.writeTime;
    data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(e.size & 0xFFFFFFFFu);
    data->dwReserved1 = e.links;
    std::copy(e.name.begin(), e.name.end(), data->cFileName);
}

// Resolves and checks the folder of a search; false with the last error set.
bool OpenFolder(const std::wstring& dirPart, posix::NativePath& dir, struct stat& st) {
    if (dirPart.empty())
        dir.path = ".";
    else if (!posix::MapPath(dirPart.c_str(), dir))
        return false;
    if (stat(dir.path.c_str(), &st) != 0) return posix::FailErrno(errno, posix::ErrOp::Other, true);
    if (!S_ISDIR(st.st_mode)) return posix::Fail(ERROR_PATH_NOT_FOUND);
    return true;
}

HANDLE FailHandle(DWORD code) {
    posix::Fail(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE FindFirst(LPCWSTR lpFileName, WIN32_FIND_DATAW* data) {
    if (!lpFileName || !data) return FailHandle(ERROR_INVALID_PARAMETER);
    std::wstring dirPart, pattern;
    SplitPattern(lpFileName, dirPart, pattern);
    if (pattern.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    posix::NativePath dir;
    struct stat st;
    if (!OpenFolder(dirPart, dir, st)) return INVALID_HANDLE_VALUE;
    const bool isWalk = pattern.find_first_of(L"*?") != std::wstring::npos;
    // While links are followed, a folder is judged by the path it is reached by: a walk does
    // not enter a folder that a folder above it on that path already is (its files are listed
    // the first way in), whichever walk or rule reaches it.
    std::vector<posix::FolderId> chain;
    if (posix::FollowLinks()) chain = posix::FolderChain(dir.path);
    const bool bLoop = chain.empty() ? AlreadyWalking(st)
                                     : posix::InChain(std::vector<posix::FolderId>(chain.begin(), chain.end() - 1), st);
    if (isWalk && bLoop) return FailHandle(ERROR_CANT_RESOLVE_FILENAME);
    std::vector<FindEntry> entries;
    std::vector<SkippedEntry> skipped;
    if (!ListFolder(dir, st, chain, pattern, entries, skipped)) return INVALID_HANDLE_VALUE;
    if (entries.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    std::unique_ptr<FindObject> f(new FindObject());
    f->entries.swap(entries);
    f->skipped.swap(skipped);
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    f->isWalk = isWalk;
    f->owner = std::this_thread::get_id();
    Fill(f->entries[f->next++], data);
    std::lock_guard<std::mutex> lock(g_findMutex);
    g_finds.push_back(f.get());
    return f.release();
}

}  // namespace

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
    if (FaultShouldFail(FaultOp::List)) return INVALID_HANDLE_VALUE;
    return posix::NoThrow<HANDLE>(INVALID_HANDLE_VALUE, [&] { return FindFirst(lpFileName, lpFindFileData); });
}

BOOL FindNextFileW(HANDLE hFindFile, WIN32_FIND_DATAW* lpFindFileData) {
    FindObject* f = LookupFind(hFindFile);
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    if (!lpFindFileData) return posix::Fail(ERROR_INVALID_PARAMETER);
    if (f->next >= f->entries.size()) return posix::Fail(ERROR_NO_MORE_FILES);
    Fill(f->entries[f->next++], lpFindFileData);
    return TRUE;
}

BOOL FindSkippedEntry(HANDLE hFindFile, DWORD dwIndex, std::wstring& strName, DWORD& dwReason) {
    FindObject* f = LookupFind(hFindFile);
    if (!f || dwIndex >= f->skipped.size()) return FALSE;
    return posix::NoThrow<BOOL>(FALSE, [&] {
        strName = f->skipped[dwIndex].name;
        dwReason = f->skipped[dwIndex].reason;
        return TRUE;
    });
}

BOOL FindClose(HANDLE hFindFile) {
    FindObject* f = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_findMutex);
        auto it = std::find(g_finds.begin(), g_finds.end(), static_cast<FindObject*>(hFindFile));
        if (it != g_finds.end()) {
            f = *it;
            g_finds.erase(it);
        }
    }
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    delete f;
    return TRUE;
}

}  // namespace qvp
