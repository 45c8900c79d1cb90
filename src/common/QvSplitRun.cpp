// The run of a split.
#include "common/QvSplitRun.h"

#include "common/QvAllocation.h"

#include <memory>
#include <new>

namespace {

// Never destroyed: the exported functions may read the last run while other statics are torn
// down at exit.
std::unique_ptr<QvSplitRun>& Held() {
    static auto* held = new std::unique_ptr<QvSplitRun>(new QvSplitRun);
    return *held;
}

}  // namespace

QvSplitRun& QvSplitRun::Current() { return *Held(); }

void QvSplitRun::Begin() {
    std::unique_ptr<QvSplitRun> fresh(new (std::nothrow) QvSplitRun);
    qvalloc::ForgetTreeCosts();  // under the model's lock, before the run that holds them goes
    if (fresh) {
        Held() = std::move(fresh);
        return;
    }
    // Out of memory: the run in force is emptied instead.
    QvSplitRun& run = Current();
    run.BeginPass();
    run.droppedRules.Clear();
}

void QvSplitRun::BeginPass() {
    leftOut.Clear();
    report.Clear();
    folderFiles.Forget();
    catalogRoom = QvCatalogRoom{};
    changes = QvChangeCounts{};
    deleted.clear();
    qvalloc::ForgetTreeCosts();
}

void QvFolderFileCounts::Remember(const std::wstring& path, uint64_t nFiles) {
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_counts[path] = nFiles;
    } catch (const std::bad_alloc&) {
        // Counted on the disk when it is asked for.
    }
}

bool QvFolderFileCounts::Known(const std::wstring& path, uint64_t& nFiles) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_counts.find(path);
    if (found == m_counts.end()) return false;
    nFiles = found->second;
    return true;
}

void QvFolderFileCounts::Forget() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts.clear();
}
