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
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <iterator>
#include <fcntl.h>
#include <list>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace qvp {

namespace {

struct FindEntry {
    size_t nameAt;  // in FindList::text: the name, then its upper-cased key of the same length
    size_t nameLength;
    DWORD attributes;
    uint64_t size;
    FILETIME writeTime;
    DWORD links;  // a file's names (hard links); 0 for anything else
};

// A folder's entries, in listing order. Their names and keys share one buffer, so a listing
// costs a few allocations however many entries it holds: listings read ahead on one thread are
// dropped on another, and an allocation per name had the two contend for the allocator.
struct FindList {
    std::vector<FindEntry> entries;
    std::wstring text;

    std::wstring_view Name(const FindEntry& e) const { return {text.data() + e.nameAt, e.nameLength}; }
    // The upper-cased name, the listing order.
    std::wstring_view Key(const FindEntry& e) const {
        return {text.data() + e.nameAt + e.nameLength, e.nameLength};
    }
    bool Empty() const { return entries.empty(); }
};

// What a find handle points to.
// An entry of the folder that the listing leaves out, and why (QV_FIND_SKIPPED_...).
struct SkippedEntry {
    std::wstring name;
    DWORD reason;
};

struct FindObject {
    FindList list;
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
size_t g_openWalks = 0;  // the wildcard listings among them

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

void AddEntry(std::wstring_view name, const posix::EntryStat& entry, FindList& out) {
    FindEntry e;
    e.nameAt = out.text.size();
    e.nameLength = name.size();
    out.text.append(name);
    for (const wchar_t c : name) out.text.push_back(ToUpperChar(c));
    e.attributes = posix::AttributesOfEntry(entry);
    e.size = posix::SizeOfEntry(entry);
    e.writeTime = posix::WriteTimeFromStat(entry.st);
    e.links = S_ISREG(entry.st.st_mode) && !entry.isLink
                  ? static_cast<DWORD>(std::min<uint64_t>(entry.st.st_nlink, 0xFFFFFFFFu))
                  : 0;
    out.entries.push_back(e);
}

void AddFolderEntry(std::wstring_view name, const struct stat& st, FindList& out) {
    posix::EntryStat entry;
    entry.st = st;
    AddEntry(name, entry, out);
}

// Sorts the entries from first on. Names equal ignoring case are ordered by their host bytes,
// which the wide names give back exactly; such pairs are rare, so the bytes are only made for
// them.
void SortEntries(FindList& list, size_t first) {
    std::sort(list.entries.begin() + static_cast<std::ptrdiff_t>(first), list.entries.end(),
              [&list](const FindEntry& a, const FindEntry& b) {
                  const int byKey = list.Key(a).compare(list.Key(b));
                  if (byKey != 0) return byKey < 0;
                  const std::wstring_view na = list.Name(a), nb = list.Name(b);
                  return WideToHostName(na.data(), na.size()) < WideToHostName(nb.data(), nb.size());
              });
}

// "." and "..", which Windows reports first whenever the pattern matches them.
void AddDotEntries(int dirFd, const struct stat& self, const std::wstring& pattern, FindList& out) {
    if (posix::MatchesWindowsPattern(pattern, L".")) AddFolderEntry(L".", self, out);
    struct stat parent;
    if (posix::MatchesWindowsPattern(pattern, L"..") && fstatat(dirFd, "..", &parent, 0) == 0)
        AddFolderEntry(L"..", parent, out);
}

// Reads the matching entries of an open folder, sorted by upper-cased name.
// Entries that match but cannot be listed go to skipped, so that a walk can say so. chain: the
// folders the listed folder's path runs through while links are followed (see KeepLoopAsLink).
void ReadEntries(DIR* d, const std::vector<posix::FolderId>& chain, const std::wstring& pattern,
                 FindList& out, std::vector<SkippedEntry>& skipped) {
    const size_t first = out.entries.size();
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
        AddEntry(name, entry, out);
    }
    SortEntries(out, first);
}

// The one entry a pattern without wildcards names: the exact name when it exists, else the
// entry equal ignoring case, as a path lookup picks it. Scanning for every match instead would
// report "A" as well when "a" was asked for and both exist.
void ReadOne(const posix::NativePath& dir, int dirFd, const std::vector<posix::FolderId>& chain,
             const std::wstring& pattern, FindList& out) {
    std::string raw = WideToHostName(pattern);
    struct stat st;
    if (fstatat(dirFd, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
        posix::FindIgnoringCase(dir.path, pattern, raw) != posix::Lookup::Found)
        return;
    std::wstring name = HostNameToWide(raw);
    posix::EntryStat entry;
    if (name.size() > MAX_PATH - 1 || !posix::StatEntry(dirFd, raw.c_str(), entry)) return;
    posix::KeepLoopAsLink(dirFd, raw.c_str(), chain, entry);
    if (IsListable(entry)) AddEntry(name, entry, out);
}

// Whether the pattern can only name one entry ("name." is a wildcard: it also matches "name").
bool IsSingleName(const std::wstring& pattern) {
    return pattern.find_first_of(L"*?") == std::wstring::npos && pattern.back() != L'.';
}

// Lists the folder; false with the last error set when it cannot be read.
bool ListFolder(const posix::NativePath& dir, const struct stat& self, const std::vector<posix::FolderId>& chain,
                const std::wstring& pattern, FindList& out, std::vector<SkippedEntry>& skipped) {
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

// Listing ahead of a walk.
//
// A walk spends most of its time in the kernel, reading folders and sizing their entries, and
// little on each entry itself. While it works through one folder, a second thread reads the
// folders it will enter next, in the order it enters them: each folder's sub-folders in
// listing order, depth first. A folder the walk asks for is then usually read already.
//
// What is read ahead is what the walk would read a moment later, taken the same way (only the
// plain "*.*" listing of a walk that does not follow links). It is used only while some walk is
// open, and only if the folder is still the same folder with the same write and change times,
// unchanged since well before it was read; it is dropped when the last walk closes, so a later
// walk reads afresh. What is read for folders the walk passes over (left out by its rules) is
// dropped when the room for reading ahead is full and the walk asks for a folder not read.
class ListingAhead {
public:
    static ListingAhead& Instance() {
        static ListingAhead ahead;
        return ahead;
    }

    ~ListingAhead() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_worker.joinable()) m_worker.join();
    }

    // Moves out the listing read ahead for the folder at path (st: the folder as the caller
    // found it); false when there is none, and the caller reads the folder itself and then
    // calls Listed.
    bool Take(const std::string& path, const struct stat& st, FindList& entries,
              std::vector<SkippedEntry>& skipped) {
        std::unique_lock<std::mutex> lock(m_mutex);
        // While the other thread reads this folder, this one reads the next folder planned.
        while (m_reading == path) {
            auto next = NextQueued();
            if (next == m_plan.end() || !HasRoom()) {
                m_wake.wait(lock, [&] { return m_reading != path; });
                break;
            }
            ReadSlot(lock, next, nullptr);
        }
        auto it = m_ready.find(path);
        if (it == m_ready.end()) {
            // Not read yet: the caller reads it, and its sub-folders take its place in the plan.
            auto queued = m_queued.find(path);
            if (queued != m_queued.end()) {
                const auto slot = queued->second;
                m_queued.erase(queued);
                // A walk goes depth first: folders planned before this one and still to read
                // are folders it passed over.
                for (auto before = m_plan.begin(); before != slot;) {
                    if (before->state != Slot::Queued) {
                        ++before;
                        continue;
                    }
                    m_queued.erase(before->path);
                    before = m_plan.erase(before);
                }
                slot->state = Slot::ReadByCaller;
                m_readByCaller.push_back(slot);
            }
            if (!HasRoom()) DropReady();  // what fills it was passed over
            return false;
        }
        Listing& listing = it->second;
        const bool same = listing.dev == st.st_dev && listing.ino == st.st_ino &&
                          SameTime(listing.mtime, st.st_mtim) && SameTime(listing.ctime, st.st_ctim) &&
                          st.st_ctim.tv_sec < listing.settledBefore;
        m_readyEntries -= listing.list.entries.size();
        if (same) {
            std::swap(entries, listing.list);
            skipped.swap(listing.skipped);
        }
        m_ready.erase(it);
        m_wake.notify_all();
        return same;
    }

    // The caller read the folder at path itself (entries: what it found, empty when it could
    // not): its sub-folders are read next. Throws nothing: reading ahead only helps.
    void Listed(const std::string& path, const FindList& entries) noexcept {
        try {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop) return;
            auto at = m_plan.begin();
            for (auto it = m_readByCaller.begin(); it != m_readByCaller.end(); ++it)
                if ((*it)->path == path) {
                    at = m_plan.erase(*it);
                    m_readByCaller.erase(it);
                    break;
                }
            PlanFolders(at, path, entries);
            if (!m_worker.joinable()) m_worker = std::thread([this] { Run(); });
        } catch (...) {
            // no room, or no thread: the walk reads every folder itself
        }
    }

    // The last open walk has closed: what was read ahead may be out of date for the next one.
    void Forget() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_generation;
        m_plan.remove_if([](const Slot& slot) { return slot.state != Slot::ReadAhead; });
        m_queued.clear();
        m_readByCaller.clear();
        DropReady();
    }

private:
    struct Listing {
        FindList list;
        std::vector<SkippedEntry> skipped;
        dev_t dev;
        ino_t ino;
        struct timespec mtime;
        struct timespec ctime;
        // Seconds since the epoch before which a change of the folder has surely left a
        // change time older than the reading: a file system keeps its times in steps of up to
        // two seconds (FAT), and a change in the step the reading began in may keep the same
        // time. A folder changed later is read again.
        time_t settledBefore;
    };

    // A folder of the plan: the folders the walk is expected to enter, in the order it enters
    // them. A folder being read stays in its place until its sub-folders take it.
    struct Slot {
        enum State { Queued, ReadAhead, ReadByCaller };
        std::string path;
        State state;
    };

    // Enough to keep the walk fed, little beside what the walk holds itself.
    static constexpr size_t kMaxFolders = 256;
    static constexpr size_t kMaxEntries = 65536;

    ListingAhead() = default;

    static bool SameTime(const struct timespec& a, const struct timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    void DropReady() {
        m_ready.clear();
        m_readyEntries = 0;
        m_wake.notify_all();
    }

    bool HasRoom() const { return m_ready.size() < kMaxFolders && m_readyEntries < kMaxEntries; }

    // Puts the sub-folders of the folder at path into the plan before at, in listing order: a
    // depth-first walk enters them right after the folder itself.
    void PlanFolders(std::list<Slot>::iterator at, const std::string& path, const FindList& entries) {
        const char* sep = path.back() == '/' ? "" : "/";
        for (const FindEntry& e : entries.entries) {
            const std::wstring_view name = entries.Name(e);
            if (!IsFolderToEnter(e.attributes) || name == L"." || name == L"..") continue;
            std::string folder = path + sep + WideToHostName(name.data(), name.size());
            if (m_queued.count(folder)) continue;  // planned already, by a walk before
            auto slot = m_plan.insert(at, Slot{folder, Slot::Queued});
            m_queued.emplace(std::move(folder), slot);
        }
        m_wake.notify_all();
    }

    std::list<Slot>::iterator NextQueued() {
        return std::find_if(m_plan.begin(), m_plan.end(), [](const Slot& slot) { return slot.state == Slot::Queued; });
    }

    // Reads the folder as a walk's "*.*" listing does; false when it cannot be read, which the
    // walk then finds out for itself.
    static bool Read(const std::string& path, Listing& out) {
        out.settledBefore = std::time(nullptr) - 2;
        posix::NativePath dir;
        dir.path = path;
        struct stat self;
        if (stat(path.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
        out.dev = self.st_dev;
        out.ino = self.st_ino;
        out.mtime = self.st_mtim;
        out.ctime = self.st_ctim;
        return ListFolder(dir, self, {}, L"*.*", out.list, out.skipped);
    }

    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            std::list<Slot>::iterator slot;
            m_wake.wait(lock, [&] { return m_stop || (HasRoom() && (slot = NextQueued()) != m_plan.end()); });
            if (m_stop) return;
            ReadSlot(lock, slot, &m_reading);
        }
    }

    // Reads a planned folder with the lock let go meanwhile; reading: where the thread says
    // which folder it reads, for a walk that asks for it to wait.
    // Whatever fails here only means the walk reads the folder itself, and says so if that
    // fails too.
    void ReadSlot(std::unique_lock<std::mutex>& lock, std::list<Slot>::iterator slot, std::string* reading) {
        slot->state = Slot::ReadAhead;
        m_queued.erase(slot->path);
        if (reading) *reading = slot->path;
        const uint64_t generation = m_generation;
        lock.unlock();
        Listing listing;
        bool read = false;
        try {
            read = Read(slot->path, listing);
        } catch (...) {
            read = false;
        }
        lock.lock();
        if (read && generation == m_generation && !m_ready.count(slot->path)) {
            try {
                PlanFolders(std::next(slot), slot->path, listing.list);
                const size_t count = listing.list.entries.size();
                m_ready.emplace(slot->path, std::move(listing));
                m_readyEntries += count;
            } catch (...) {
                // planned in part: those folders are read or not, as room allows
            }
        }
        m_plan.erase(slot);
        if (reading) reading->clear();
        m_wake.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    bool m_stop = false;
    uint64_t m_generation = 0;
    std::list<Slot> m_plan;
    std::unordered_map<std::string, std::list<Slot>::iterator> m_queued;  // its folders still to read
    std::vector<std::list<Slot>::iterator> m_readByCaller;  // its folders a walk reads itself now
    std::unordered_map<std::string, Listing> m_ready;  // folders read ahead, by path
    size_t m_readyEntries = 0;
    std::string m_reading;  // the folder being read ahead now
};

void Fill(const FindList& list, const FindEntry& e, WIN32_FIND_DATAW* data) {
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = e.attributes;
    data->ftCreationTime = e.writeTime;  // no portable creation time; the write time stands in
    data->ftLastAccessTime = e.writeTime;  // access times would make listings vary between runs
    data->ftLastWriteTime = e.writeTime;
    data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(e.size & 0xFFFFFFFFu);
    data->dwReserved1 = e.links;
    const std::wstring_view name = list.Name(e);
    std::copy(name.begin(), name.end(), data->cFileName);
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
    FindList entries;
    std::vector<SkippedEntry> skipped;
    const bool bAhead = pattern == L"*.*" && chain.empty();
    std::string key;  // the folder as read ahead: its path without a trailing '/'
    if (bAhead) key.assign(dir.path, 0, std::max<size_t>(1, dir.path.find_last_not_of('/') + 1));
    const bool bReadAhead = bAhead && ListingAhead::Instance().Take(key, st, entries, skipped);
    if (!bReadAhead && !ListFolder(dir, st, chain, pattern, entries, skipped)) {
        if (bAhead) ListingAhead::Instance().Listed(key, FindList());  // sets no error
        return INVALID_HANDLE_VALUE;
    }
    if (entries.Empty()) return FailHandle(ERROR_FILE_NOT_FOUND);  // "*.*" always has "."
    std::unique_ptr<FindObject> f(new FindObject());
    std::swap(f->list, entries);
    f->skipped.swap(skipped);
    f->dev = st.st_dev;
    f->ino = st.st_ino;
    f->isWalk = isWalk;
    f->owner = std::this_thread::get_id();
    Fill(f->list, f->list.entries[f->next++], data);
    {
        std::lock_guard<std::mutex> lock(g_findMutex);
        g_finds.push_back(f.get());
        if (isWalk) ++g_openWalks;
    }
    // Its sub-folders are read ahead only once the walk is open, so that its close drops them.
    if (bAhead && !bReadAhead) ListingAhead::Instance().Listed(key, f->list);
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
    if (f->next >= f->list.entries.size()) return posix::Fail(ERROR_NO_MORE_FILES);
    Fill(f->list, f->list.entries[f->next++], lpFindFileData);
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
    bool bLastWalk = false;
    {
        std::lock_guard<std::mutex> lock(g_findMutex);
        auto it = std::find(g_finds.begin(), g_finds.end(), static_cast<FindObject*>(hFindFile));
        if (it != g_finds.end()) {
            f = *it;
            g_finds.erase(it);
            bLastWalk = f->isWalk && --g_openWalks == 0;
        }
    }
    if (!f) return posix::Fail(ERROR_INVALID_HANDLE);
    delete f;
    if (bLastWalk) ListingAhead::Instance().Forget();
    return TRUE;
}

}  // namespace qvp
