// Everything one split learns and reports, kept in one object.
#ifndef QVSPLITRUN_H
#define QVSPLITRUN_H

#include "common/QvLeftOut.h"
#include "common/QvReport.h"
#include "common/QvSinceChain.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

// The number of files and links below each folder a split measured, as its medium counts a
// folder kept whole, so that a later step need not list the folder again. Keyed by the exact
// path (without a trailing backslash): folders whose names differ only in letter case may be
// two folders.
class QvFolderFileCounts {
public:
    void Remember(const std::wstring& path, uint64_t nFiles);
    // False when none is recorded for the folder.
    bool Known(const std::wstring& path, uint64_t& nFiles) const;
    // Forgets every folder, when the split changes the disk.
    void Forget();

private:
    mutable std::mutex m_mutex;
    std::unordered_map<std::wstring, uint64_t> m_counts;
};

// A split is set up, estimated and made; an item-list split is made in one call. What such a
// run learns lives here: what it left out and why, the rules it dropped, its report, and what it
// measured of folders and trees so that no later step measures them again. A setup or an
// item-list split starts a run, which drops the last one; the estimate starts a new pass of the
// run, which keeps the rules the setup dropped. The exported functions read the run in force
// until the next one starts.
class QvSplitRun {
public:
    // The run in force: an empty one before the first setup.
    static QvSplitRun& Current();
    // Drops the run in force and makes a new one.
    static void Begin();
    // Drops what the last pass reported, left out and measured.
    void BeginPass();

    QvLeftOutList leftOut;
    QvDroppedRuleList droppedRules;
    QvReport report;
    QvFolderFileCounts folderFiles;
    // The room kept on every medium for the caller's catalogue (cbSize unused), counted once
    // the selection is known; every medium cost includes it.
    QvCatalogRoom catalogRoom{};
    // What the split found against the earlier sets it followed (cbSize unused), and the files
    // it recorded as deleted.
    QvChangeCounts changes{};
    std::vector<QvSinceChain::Deleted> deleted;
    // What each folder kept whole takes under the allocation model, and the longest paths
    // below it that decide whether that holds at another path (QvAllocation.cpp keys, fills
    // and guards it, and drops it when the model changes).
    struct TreeCost {
        int64_t iCost;
        int64_t iAsciiPath;  // characters of the longest ASCII path below it, -1 for none
        int64_t iOtherPath;  // bytes of the longest other path with its link's target, -1 for none
        int64_t iAnyPath;    // the same for every path below it, -1 for none
    };
    std::unordered_map<std::wstring, TreeCost> treeCosts;
    // The target of each link kept as a link that the model asked about, by the link's path:
    // its length, whether it is ASCII and its longest name (QvAllocation.cpp guards it).
    struct LinkTarget {
        DWORD dwLength;
        BOOL bAscii;
        DWORD dwLongestName;
    };
    std::unordered_map<std::wstring, LinkTarget> linkTargets;
};

#endif
