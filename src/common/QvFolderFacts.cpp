// The folder facts of one split.
#include "common/QvFolderFacts.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace {

std::mutex g_mutex;
// Keyed by the exact path: folders whose names differ only in letter case may be two folders.
std::unordered_map<std::wstring, uint64_t> g_fileCounts;

}  // namespace

namespace qvfolders {

void RememberFileCount(const std::wstring& path, uint64_t nFiles) {
    std::lock_guard<std::mutex> lock(g_mutex);
    try {
        g_fileCounts[path] = nFiles;
    } catch (const std::bad_alloc&) {
        // Counted on the disk when it is asked for.
    }
}

bool KnownFileCount(const std::wstring& path, uint64_t& nFiles) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = g_fileCounts.find(path);
    if (found == g_fileCounts.end()) return false;
    nFiles = found->second;
    return true;
}

void Forget() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fileCounts.clear();
}

}  // namespace qvfolders
