// Allocated sizes: what entries, folders and media take under the allocation model a caller
// set. Without a model every cost is the plain byte size and folders and media cost nothing,
// so the split behaves exactly as it does on bytes.
#ifndef QVALLOCATION_H
#define QVALLOCATION_H

#include "QvSplit.h"
#include "common/QvRecords.h"
#include "common/QvSplitRun.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>

namespace qvalloc {

// Whether a model is set.
bool On();

// Bytes an entry takes on a medium: a file's blocks and entry, a folder kept whole everything
// below it (the folder itself is its target folder, counted with the medium's folders);
// without a model, its byte size.
int64_t EntryCost(const FileDesc& desc);
// Bytes of a file of iSize bytes whose name is name, restored under targetPath.
int64_t FileCost(int64_t iSize, const std::wstring& name, const CQvString& targetPath);
// Fixed bytes of every medium, the room kept for the caller's catalogue included.
int64_t MediumCost();
// The same without that room.
int64_t MediumCostWithoutCatalog();
// The model set (bOn false: none).
QvAllocationModel Model(bool& bOn);
// The caller's measure of its catalogue's rows (QvSetCatalogMeasure); pfn null: none.
struct CatalogMeasure {
    QvCatalogMeasureProc pfn = nullptr;
    LPVOID pContext = nullptr;
};
CatalogMeasure Measure();
// The bytes a catalogue counts for a path (see QvAllocationModel): at most what it takes as a
// JSON string, whatever the host's separator and escapes.
int64_t CatalogPathBytes(std::wstring_view path);
// The decimal digits of a number.
int64_t DecimalDigits(uint64_t value);
// Whether an entry costing iCost, restored under targetPath, fits on an empty medium of
// dwSplitSize megabytes with the folders it needs (without a model: iCost bytes below it).
bool FitsEmptyMedium(int64_t iCost, const CQvString& targetPath, DWORD dwSplitSize);
// What a folder kept whole takes (itself and its whole tree); without a model, iBytes.
int64_t FolderKeptWholeCost(const CQvString& folder, int64_t iBytes);
// Whether an entry is a link kept as a link whose target the model's file system cannot store.
bool LinkTargetTooLong(DWORD dwAttributes, const CQvString& path);
// Forgets the trees measured and the link targets read so far: a folder kept whole is listed
// once per split, a link read once, and the next split reads them again.
void ForgetTreeCosts();

// The folders a medium holds so far: the folders its entries are restored under, with their
// parents.
class FolderSet {
public:
    void Clear() {
        m_folders.clear();
        m_continued.clear();
        m_linkedData.clear();
        m_lastHeld.Empty();
        m_lastAsked.Empty();
    }
    // Bytes that the folders of targetPath not held yet would add (0 without a model).
    int64_t CostOfNew(const CQvString& targetPath) const;
    // The same for an entry restored under its target path: its folders, and the block of
    // its folder's continuation area when its name is the first there to need one.
    int64_t CostOfNew(const FileDesc& desc) const;
    // Whether CostOfNew(desc) stays below iRoom; most entries of a folder that does not fit
    // are told so without looking at their names.
    bool FitsIn(const FileDesc& desc, int64_t iRoom) const;
    // Holds them; returns the bytes they added. An entry whose data the medium holds already
    // under another name (a hard link, when the model stores such data once) gives those
    // bytes back: the result is then below 0.
    int64_t Add(const CQvString& targetPath);
    int64_t Add(const FileDesc& desc);
    // The file bytes of the last entry added whose data the medium held already (0: none).
    int64_t LastShared() const { return m_iLastShared; }

private:
    int64_t Visit(const CQvString& targetPath, bool bEntrySpills, bool bHold);

    std::unordered_set<std::wstring> m_folders;    // exact paths, without the trailing "\"
    std::unordered_set<std::wstring> m_continued;  // folders with a continuation area ("" the root)
    std::unordered_set<uint64_t> m_linkedData;     // hard-linked files whose data is held
    CQvString m_lastHeld;  // a target path whose folders are all held, shared with its entries
    CQvString m_lastAsked;  // the target path asked about last, while nothing was held since,
    int64_t m_iLastAskedCost = 0;  // and what its folders would add
    int64_t m_iLastShared = 0;
};

// What a folder kept whole takes under the model, with the longest paths below it that tell
// whether that holds under another path (iCost -1: not counted).
using TreeFacts = QvSplitRun::TreeCost;

// The cost of a folder kept whole, counted by a walk that lists the folder anyway, so that it
// is not listed once more for its cost. Under the header term it is counted at the folder's
// own path, as the size checks ask for it.
class TreeCostTally {
public:
    explicit TreeCostTally(const std::wstring& folder);
    // A file or link of the folder, and a folder of it with the facts of its own tree (a cost
    // of -1 when that is not known, which leaves this one uncounted too).
    void AddFile(const std::wstring& name, const CQvString& path, DWORD dwAttributes, int64_t iSize);
    void AddFolder(const std::wstring& name, const TreeFacts& tree);
    // Something of the folder was not listed: its cost is not counted.
    void Drop() { m_bActive = false; }
    // The folder's facts, kept for the split's later questions; a cost of -1 when not counted.
    TreeFacts Finish();

private:
    QvAllocationModel m_model;
    uint64_t m_uGeneration = 0;
    bool m_bActive = false;
    bool m_bContinued = false;
    CQvString m_folder;
    std::wstring m_path;  // the folder's own path inside the medium, under the header term
    TreeFacts m_facts{0, -1, -1, -1};
};

// Whether an entry restored as desc describes takes bytes in its folder's continuation area.
bool EntrySpills(const FileDesc& desc);
// FolderSet().CostOfNew(desc): what an entry's folders and continuation area take on an empty
// medium (0 without a model).
int64_t CostOnEmptyMedium(const FileDesc& desc);
// Whether an entry of iCost bytes fits an empty medium of dwSplitSize megabytes with the
// folders it needs (without a model: iCost bytes below it).
bool FitsEmptyMedium(int64_t iCost, const FileDesc& desc, DWORD dwSplitSize);

}  // namespace qvalloc

#endif
