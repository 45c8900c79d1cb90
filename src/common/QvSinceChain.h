// The earlier sets a split follows: the latest record of every path they list, and what a split
// finds against them (new, changed, unchanged, deleted).
#ifndef QVSINCECHAIN_H
#define QVSINCECHAIN_H

#include "common/QvRecords.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QvSinceChain {
public:
    // The chain in force for the splits of this process.
    static QvSinceChain& Instance();

    bool Empty() const { return m_nSets == 0; }
    uint32_t Sets() const { return m_nSets; }
    // Reads the set in strFolder and adds its records over those of the sets before it; false,
    // with strWhy and the chain as it was, when it cannot be followed.
    bool Add(const std::wstring& strFolder, std::wstring& strWhy);
    void Clear();

    // What a file of the selection is against the chain.
    enum Verdict { kNew, kChanged, kUnchanged };
    // Starts a split: every record unseen, the counts at 0.
    void BeginSplit();
    // Judges a planned file and notes its path as present; bFirstTime false when the path was
    // judged before in this split (one file in several maps), which the counts then skip.
    Verdict Judge(const FileDesc& desc, bool& bFirstTime);
    // Notes a path of the selection that is present but not planned (left out), so that it is
    // not taken for deleted; a folder covers every record below it.
    void Present(const std::wstring& strPath, bool bFolder);
    // The records not met: the files deleted since, each by its path, target folder and name.
    struct Deleted {
        std::wstring strPath;
        std::wstring strTarget;
        std::wstring strName;
    };
    std::vector<Deleted> Unseen() const;
    // Whether any record was met in this split.
    bool AnySeen() const { return m_nSeen > 0; }
    // Whether a record lies at or below one of the folders or files given, letter case aside:
    // a selection whose every file was renamed is still the selection the sets recorded.
    bool RecordsBelow(const std::vector<std::wstring>& roots) const;
    // Records in force: the latest of each path that is not a deletion.
    int64_t Recorded() const { return m_nRecorded; }

    int64_t m_iNew = 0;
    int64_t m_iChanged = 0;
    int64_t m_iUnchanged = 0;

private:
    struct Record {
        uint64_t uHash;
        int64_t iSize;
        uint64_t uTime;       // the write time's digits as a number
        uint32_t uFolder;     // index into m_folders
        uint32_t uNameAt;     // the name's block in m_names (high 12 bits) and offset in it
        uint32_t uNameBytes;
        uint16_t uSet;        // the set that recorded it, 0 the first
        uint8_t bKind;        // kFile, kLink, kDeletion, kAnyKind
        mutable bool bSeen;
    };
    // A catalogue does not tell a link from a file: its records match either.
    enum { kFile = 0, kLink = 1, kDeletion = 2, kAnyKind = 3 };
    // A folder of records: its path's bytes (ending in a backslash) and the target folder its
    // files are restored in.
    struct Folder {
        std::string path;
        std::string target;  // UTF-8
    };

    bool AddCatalogue(const std::wstring& strFile, std::wstring& strWhy);
    // Checks the clocks of a set just read and makes its records those in force.
    bool Settle(const std::wstring& strSet, int64_t iWritten, size_t nBefore, std::wstring& strWhy);
    uint32_t FolderOf(const std::string& path, const std::wstring& target);
    void AddRecord(const std::wstring& strPath, const std::wstring& strTarget, int64_t iSize,
                   const std::wstring& strTime, uint8_t bKind, uint16_t uSet);
    const Record* Find(std::string_view a, std::string_view b) const;
    // Makes the table Find looks records up in.
    void IndexRecords();
    bool SamePath(const Record& r, std::string_view a, std::string_view b) const;
    std::string PathBytes(const Record& r) const;

    // Sorted by hash, one per path: the latest record. A deque grows without a second copy of
    // itself, which a chain of a million records would feel.
    std::deque<Record> m_records;
    // Open addressing by hash: the index of a record plus one in each used slot, at most half
    // of them used.
    std::vector<uint32_t> m_slots;
    std::vector<Folder> m_folders;
    std::unordered_multimap<uint64_t, uint32_t> m_folderIndex;  // hash of path and target -> folder
    uint32_t m_lastFolder = 0;
    std::wstring m_lastTarget;  // the last folder's target as it was given
    std::vector<std::string> m_names;
    uint32_t StoreName(std::string_view name);
    std::string_view NameOf(const Record& r) const;
    uint32_t m_nSets = 0;
    int64_t m_nRecorded = 0;
    int64_t m_nSeen = 0;
    int64_t m_iLastSetTime = 0;  // seconds, when the last set added was written
    std::unordered_set<std::string> m_newPaths;  // new paths judged in this split
};

// The list of deleted files a set keeps beside its media files, "Deleted.xml" in strFolder:
// written whole or not at all; removed (when there) before a split writes a set.
bool QvWriteDeletedList(const std::wstring& strFolder, const std::vector<QvSinceChain::Deleted>& deleted);
void QvRemoveDeletedList(const std::wstring& strFolder);

#endif
