// The allocation model and the costs it gives.
#include "common/QvAllocation.h"

#include "catalog/QvTreeWalk.h"
#include "common/QvSplitRun.h"
#include "facilities/CQvPathString.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

std::mutex g_modelMutex;
// Set under the lock, read without it: without a model (the usual case) every file's cost is its
// size, asked for several times a file, and needs no copy of the model.
std::atomic<bool> g_bModelOn{false};
QvAllocationModel g_model = {};
uint64_t g_modelGeneration = 0;  // counts the models set, so a cost knows the one it was made under
// The caller's measure of its catalogue's rows, under g_modelMutex.
QvCatalogMeasureProc g_pfnMeasure = nullptr;
LPVOID g_pMeasureContext = nullptr;

// ISO 9660 level 3 stores a file in extents of at most 4 GiB less one block.
const int64_t kExtentBytes = (int64_t{1} << 32) - 2048;
// The longest name between the slashes of a link's target that a file system stores: a
// longer one names nothing, and Rock Ridge cannot hold it.
const DWORD kTargetNameMax = 255;
// The largest size a tar header's own size field holds: eleven octal digits.
const int64_t kHeaderSizeMax = (int64_t{1} << 33) - 1;

QvAllocationModel Current(bool& bOn) {
    if (!g_bModelOn.load(std::memory_order_acquire)) {
        bOn = false;
        return QvAllocationModel{};
    }
    std::lock_guard<std::mutex> lock(g_modelMutex);
    bOn = g_bModelOn.load(std::memory_order_relaxed);
    return g_model;
}

// The UTF-8 bytes and the UTF-16 units of a name, the units at most cchNameUnitsMax, and the
// bytes of its short name (the UTF-8 bytes, at most cchShortNameMax).
struct NameSize {
    int64_t iBytes = 0;
    int64_t iUnits = 0;
    int64_t iShort = 0;
};

NameSize SizeOfName(const QvAllocationModel& m, const std::wstring& name) {
    NameSize size;
    for (wchar_t c : name) {
        const uint32_t u = static_cast<uint32_t>(c);
        size.iUnits += u > 0xFFFF ? 2 : 1;  // wchar_t holds UTF-32 on POSIX, UTF-16 on Windows
        size.iBytes += u < 0x80 ? 1 : u < 0x800 ? 2 : (u >= 0xD800 && u < 0xE000) ? 2 : u < 0x10000 ? 3 : 4;
    }
    if (m.cchNameUnitsMax != 0 && size.iUnits > static_cast<int64_t>(m.cchNameUnitsMax))
        size.iUnits = m.cchNameUnitsMax;
    size.iShort = m.cchShortNameMax != 0 && size.iBytes > static_cast<int64_t>(m.cchShortNameMax) ? m.cchShortNameMax
                                                                                                  : size.iBytes;
    return size;
}

int64_t NameCost(const QvAllocationModel& m, const std::wstring& name) {
    const NameSize size = SizeOfName(m, name);
    return m.cbPerEntry + size.iBytes * m.cbPerNameByte + size.iUnits * m.cbPerNameUnit +
           size.iShort * m.cbPerShortNameByte;
}

// A file's data in whole blocks.
int64_t DataBytes(const QvAllocationModel& m, int64_t iSize) {
    return m.cbBlock > 1 ? (iSize + m.cbBlock - 1) / m.cbBlock * m.cbBlock : iSize;
}

int64_t FileCostWith(const QvAllocationModel& m, int64_t iSize, const std::wstring& name) {
    const int64_t iData = DataBytes(m, iSize);
    const int64_t iExtents = iSize <= kExtentBytes ? 1 : (iSize + kExtentBytes - 1) / kExtentBytes;
    return iData + iExtents * NameCost(m, name);
}

// A link's target as the model counts it, read once a split: the size checks, the left-out
// test and every fit test ask for it again, each time two looks at the link and a read.
QvSplitRun::LinkTarget LinkTargetOf(const CQvString& path) {
    {
        std::lock_guard<std::mutex> lock(g_modelMutex);
        const auto& known = QvSplitRun::Current().linkTargets;
        const auto found = known.find(path.str());
        if (found != known.end()) return found->second;
    }
    QvSplitRun::LinkTarget target{0, TRUE, 0};
    target.dwLength = qvp::GetLinkTargetLength(path, &target.bAscii, &target.dwLongestName);
    std::lock_guard<std::mutex> lock(g_modelMutex);
    try {
        QvSplitRun::Current().linkTargets.emplace(path.str(), target);
    } catch (const std::bad_alloc&) {
        // Read again next time.
    }
    return target;
}

// What a link kept as a link adds beyond an empty file: its target.
int64_t LinkTargetCost(const QvAllocationModel& m, const CQvString& path) {
    return static_cast<int64_t>(LinkTargetOf(path).dwLength) * m.cbPerLinkTargetByte;
}

bool IsKeptLink(DWORD dwAttributes) {
    return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !qvp::IsFolderToEnter(dwAttributes);
}

// The path of a target folder inside the medium, as the media are laid out: its names joined
// by '/', without a drive, empty names or ".". Only the header term needs it.
std::wstring MediumPathOf(const std::wstring& target) {
    std::wstring out;
    size_t pos = target.size() >= 2 && target[1] == L':' ? 2 : 0;
    while (pos <= target.size()) {
        size_t end = target.find_first_of(L"\\/", pos);
        if (end == std::wstring::npos) end = target.size();
        if (end > pos && !(end - pos == 1 && target[pos] == L'.')) {
            if (!out.empty()) out += L'/';
            out.append(target, pos, end - pos);
        }
        pos = end + 1;
    }
    return out;
}

std::wstring JoinMediumPath(const std::wstring& folder, const std::wstring& name) {
    return folder.empty() ? name : folder + L'/' + name;
}

// Whether an entry's own tar header holds its path: ASCII, and short enough or split at a '/'
// into a prefix and a name that fit their fields (the name one byte short of its field, so
// that a folder's trailing '/' always fits too).
bool HeaderHoldsPath(const QvAllocationModel& m, const std::wstring& path) {
    for (wchar_t c : path)
        if (static_cast<uint32_t>(c) >= 0x80) return false;
    const size_t len = path.size();
    if (len <= m.cchHeaderName) return true;
    const size_t slash = path.find(L'/', len - m.cchHeaderName);
    return slash != std::wstring::npos && slash > 0 && slash <= m.cchHeaderPrefix && slash + 1 < len;
}

// The extended header an entry at path needs beyond its own (0 when its own holds it all, and
// without the header term); link is the entry's host path when it is a link kept as a link.
// Each record of an extended header is "<length> <key>=<value>\n": beside its value, a path
// takes at most 12 bytes (a length of up to four digits), a link target 15, a size 32 in all.
const int64_t kPathRecordKey = 12;
const int64_t kLinkRecordKey = 15;
const int64_t kSizeRecord = 32;

int64_t ExtHeaderCost(const QvAllocationModel& m, const std::wstring& path, int64_t iSize, const CQvString* pLink) {
    if (m.cchHeaderName == 0) return 0;
    const bool bBig = iSize > kHeaderSizeMax;
    bool bNeeded = bBig;
    int64_t iBytes = 0, iKeys = bBig ? kSizeRecord : 0;
    if (!HeaderHoldsPath(m, path)) {
        bNeeded = true;
        iBytes += SizeOfName(m, path).iBytes;
        iKeys += kPathRecordKey;
    }
    if (pLink) {
        const QvSplitRun::LinkTarget target = LinkTargetOf(*pLink);
        const DWORD dwTarget = target.dwLength;
        if (!target.bAscii || dwTarget > m.cchHeaderName) {
            bNeeded = true;
            iBytes += dwTarget;
            iKeys += kLinkRecordKey;
        }
    }
    if (!bNeeded) return 0;
    return m.cbPerExtHeader + DataBytes(m, iBytes * m.cbPerExtHeaderByte + iKeys + m.cbExtHeaderRecords);
}

// A file, or a link kept as a link (link its host path), named name at path inside the medium.
int64_t EntryCostAt(const QvAllocationModel& m, int64_t iSize, const std::wstring& name, const std::wstring& path,
                    const CQvString* pLink) {
    int64_t iCost = FileCostWith(m, iSize, name) + ExtHeaderCost(m, path, iSize, pLink);
    if (pLink && m.cbPerLinkTargetByte != 0) iCost += LinkTargetCost(m, *pLink);
    return iCost;
}

// A folder stored as an entry of its own, named name at path inside the medium: a folder of
// the medium's folders, or under the header term a folder kept whole and each folder below it.
int64_t FolderEntryCost(const QvAllocationModel& m, const std::wstring& name, const std::wstring& path) {
    if (m.cchHeaderName != 0) return NameCost(m, name) + ExtHeaderCost(m, path + L'/', 0, nullptr);
    const NameSize size = SizeOfName(m, name);
    return m.cbPerFolder + NameCost(m, name) + size.iShort * m.cbPerFolderNameByte +
           size.iUnits * m.cbPerFolderNameUnit;
}

// A folder the medium's entries are restored under. Under the header term (a tar archive) it
// is no entry of its own: extracting makes it.
int64_t FolderCostWith(const QvAllocationModel& m, const std::wstring& name, const std::wstring& path) {
    if (m.cchHeaderName != 0) return m.cbPerFolder;
    return FolderEntryCost(m, name, path);
}

// What a folder kept whole adds as an entry beside what lies below it: under the header term
// its own header, since it is no folder of the medium's folders there.
int64_t KeptFolderEntryCost(const QvAllocationModel& m, const std::wstring& name, const std::wstring& path) {
    return m.cchHeaderName != 0 ? FolderEntryCost(m, name, path) : 0;
}

// The last component of a path, without a trailing backslash.
std::wstring LastName(const CQvString& path) {
    std::wstring s = path.str();
    while (!s.empty() && s.back() == L'\\') s.pop_back();
    const size_t slash = s.rfind(L'\\');
    return slash == std::wstring::npos ? s : s.substr(slash + 1);
}

// The stored bytes of the last name of a path as the catalogue keeps it, without a trailing
// backslash. They are never fewer than the name's UTF-8 bytes (SizeOfName).
std::string_view LastNameBytes(const CQvPathText& path) {
    const CQvPathText::Pieces pieces = path.pieces();
    // A path held in its folder's shared text has its name, and nothing else, as its own.
    if (!pieces.second.empty()) return pieces.second;
    const std::string_view bytes = pieces.first;
    size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\\') --end;
    const size_t slash = end == 0 ? std::string_view::npos : bytes.rfind('\\', end - 1);
    const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    return bytes.substr(start, end - start);
}

// The same as LastName for such a path: only the last name is made wide.
std::wstring LastName(const CQvPathText& path) {
    const std::string_view bytes = LastNameBytes(path);
    std::wstring name;
    name.reserve(bytes.size());
    const char* p = bytes.data();
    const char* const stop = p + bytes.size();
    while (p < stop) name.push_back(CQvPathText::Next(p));
    return name;
}

// Whether a name spills out of its record into its folder's continuation area.
bool NameSpills(const QvAllocationModel& m, const std::wstring& name) {
    return m.cchRecordNameBytes != 0 && SizeOfName(m, name).iBytes > static_cast<int64_t>(m.cchRecordNameBytes);
}

// The same for a link kept as a link, whose record also holds its target: each name of the
// target with two bytes beside it, counted as twice the target.
bool LinkSpills(const QvAllocationModel& m, const std::wstring& name, const CQvString& link) {
    if (m.cchRecordNameBytes == 0) return false;
    const int64_t iTarget = LinkTargetOf(link).dwLength;
    return SizeOfName(m, name).iBytes + 2 * iTarget + 2 > static_cast<int64_t>(m.cchRecordNameBytes);
}

// The walk of a folder kept whole: its size checks reported what cannot be listed.
QvWalkPolicy QuietWalk() {
    QvWalkPolicy policy;
    policy.bReport = false;
    return policy;
}

using qvalloc::TreeFacts;

TreeFacts CachedTreeFacts(const QvAllocationModel& m, const CQvString& folder, const std::wstring& path);

bool IsAsciiText(const std::wstring& s) {
    for (wchar_t c : s)
        if (static_cast<uint32_t>(c) >= 0x80) return false;
    return true;
}

// Under the header term a tree's cost depends on the path it is laid out at only through the
// extended headers its entries need. Its facts keep its longest paths, relative to the tree, so
// that its cost can be known to hold at another path (HoldsAt) without listing it again.
void NotePath(TreeFacts& facts, bool bAscii, int64_t iBytes, int64_t iTarget) {
    if (bAscii)
        facts.iAsciiPath = std::max(facts.iAsciiPath, iBytes);
    else
        facts.iOtherPath = std::max(facts.iOtherPath, iBytes + iTarget);
    facts.iAnyPath = std::max(facts.iAnyPath, iBytes + iTarget);
}

// The paths below a sub-folder of iPrefix bytes (its name and a slash), seen from its parent.
void NoteTree(TreeFacts& facts, bool bAscii, int64_t iPrefix, const TreeFacts& sub) {
    const auto below = [iPrefix](int64_t iPath) { return iPath < 0 ? int64_t{-1} : iPrefix + iPath; };
    if (bAscii) {
        facts.iAsciiPath = std::max(facts.iAsciiPath, below(sub.iAsciiPath));
        facts.iOtherPath = std::max(facts.iOtherPath, below(sub.iOtherPath));
    } else {
        facts.iOtherPath = std::max(facts.iOtherPath, below(sub.iAnyPath));
    }
    facts.iAnyPath = std::max(facts.iAnyPath, below(sub.iAnyPath));
}

// Whether a tree whose facts were counted at one path costs the same at path, as it does at
// any path where every entry keeps the same kind of header: an ASCII entry whose path fits its
// own header needs no extended one, and an extended header of one block stays one block.
// Counted with a path of the same kind (ASCII or not) where this held too.
bool HoldsAt(const QvAllocationModel& m, const std::wstring& path, const TreeFacts& facts) {
    if (m.cchHeaderName == 0) return true;
    const int64_t iPath = SizeOfName(m, path).iBytes + (path.empty() ? 0 : 1);
    const auto oneBlock = [&](int64_t iBelow) {
        const int64_t iRecords = (iPath + iBelow) * m.cbPerExtHeaderByte + kPathRecordKey + kLinkRecordKey +
                                 kSizeRecord + m.cbExtHeaderRecords;
        return iBelow < 0 || (m.cbBlock > 1 && iRecords <= static_cast<int64_t>(m.cbBlock));
    };
    if (!IsAsciiText(path)) return oneBlock(facts.iAnyPath);
    if (facts.iAsciiPath >= 0 && iPath + facts.iAsciiPath > static_cast<int64_t>(m.cchHeaderName)) return false;
    return oneBlock(facts.iOtherPath);
}

// What a file, or a link kept as a link (host: its path on disk), named name in a folder laid
// out at path, adds to the folder's facts; bContinued turns true when its name spills.
void CountFile(const QvAllocationModel& m, const std::wstring& path, const std::wstring& name, const CQvString& host,
               DWORD dwAttributes, int64_t iSize, TreeFacts& facts, bool& bContinued) {
    const bool bHeaders = m.cchHeaderName != 0;
    const bool bLink = IsKeptLink(dwAttributes);
    bContinued = bContinued || (bLink ? LinkSpills(m, name, host) : NameSpills(m, name));
    const std::wstring childPath = bHeaders ? JoinMediumPath(path, name) : std::wstring();
    facts.iCost += EntryCostAt(m, iSize, name, childPath, bLink ? &host : nullptr);
    if (bHeaders) NotePath(facts, IsAsciiText(name), SizeOfName(m, name).iBytes, bLink ? LinkTargetOf(host).dwLength : 0);
}

// The same for a sub-folder with the facts of its own tree (counted at path/name).
void CountFolder(const QvAllocationModel& m, const std::wstring& path, const std::wstring& name, const TreeFacts& sub,
                 TreeFacts& facts, bool& bContinued) {
    const bool bHeaders = m.cchHeaderName != 0;
    bContinued = bContinued || NameSpills(m, name);
    facts.iCost += FolderEntryCost(m, name, bHeaders ? JoinMediumPath(path, name) : std::wstring()) + sub.iCost;
    if (!bHeaders) return;
    const int64_t iPrefix = SizeOfName(m, name).iBytes + 1;
    NotePath(facts, IsAsciiText(name), iPrefix, 0);
    NoteTree(facts, IsAsciiText(name), iPrefix, sub);
}

// A folder's continuation area, once its entries are counted.
TreeFacts FinishCount(const QvAllocationModel& m, TreeFacts facts, bool bContinued) {
    if (bContinued && m.cbBlock > 1) facts.iCost += m.cbBlock;
    return facts;
}

// Bytes of everything below a folder kept whole, laid out at path inside the medium: each file
// and each folder with its own tree. A folder that cannot be read counts nothing here; the
// walk that sized it reported it.
TreeFacts TreeCost(const QvAllocationModel& m, const CQvString& folder, const std::wstring& path) {
    TreeFacts facts{0, -1, -1, -1};
    bool bContinued = false;  // a name of this folder spills: the folder has a continuation area
    QvWalkFolder(folder.str(), QuietWalk(), [&](const QvWalkEntry& entry) {
        const std::wstring name = entry.Name();
        const CQvString child(entry.strPath.c_str());
        if (entry.IsFolder()) {
            const std::wstring childPath = m.cchHeaderName != 0 ? JoinMediumPath(path, name) : std::wstring();
            CountFolder(m, path, name, CachedTreeFacts(m, child, childPath), facts, bContinued);
        } else {
            CountFile(m, path, name, child, entry.fd.dwFileAttributes, entry.Size(), facts, bContinued);
        }
        return true;
    });
    return FinishCount(m, facts, bContinued);
}

// The trees measured in this split (QvSplitRun::treeCosts), by folder path as asked (with a
// trailing backslash, and under the header term the path inside the medium after a line feed):
// a folder kept whole is costed by the size checks, the distribution and each fit test, and
// listing its whole tree each time cost more than the rest of the split. Guarded by
// g_modelMutex, and dropped with the model.
std::unordered_map<std::wstring, TreeFacts>& TreeCosts() { return QvSplitRun::Current().treeCosts; }

// The folders of the last target path costed on an empty medium: the files of a folder share
// their target text, so the size checks and the left-out test of each cost it once. Guarded by
// g_modelMutex, and dropped with the model.
struct EmptyMediumFolders {
    CQvString target;  // held, so that its text stays where it is
    int64_t iCost = 0;
};
EmptyMediumFolders g_emptyMediumFolders;

// The key of a tree's cost in TreeCosts().
std::wstring TreeCostKey(const QvAllocationModel& m, const CQvString& folder, const std::wstring& path) {
    CQvPathString dir(folder);
    dir.AddBackslash();
    std::wstring key = dir.str();
    if (m.cchHeaderName != 0) key += L'\n' + path;
    return key;
}

// The key of a tree's cost that holds at any path of the kind of path (ASCII or not) where
// HoldsAt holds; only under the header term.
std::wstring AnyPathKey(const CQvString& folder, const std::wstring& path) {
    CQvPathString dir(folder);
    dir.AddBackslash();
    return dir.str() + (IsAsciiText(path) ? L"\n\x1" : L"\n\x2");
}

// Keeps a tree's cost for the rest of the split while the model it was counted under (its
// generation) is the one in force.
void KeepTreeCost(std::wstring key, const TreeFacts& facts, uint64_t uGeneration) {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    if (uGeneration != g_modelGeneration) return;
    try {
        TreeCosts().emplace(std::move(key), facts);
    } catch (const std::bad_alloc&) {
        // Measured again next time.
    }
}

TreeFacts CachedTreeFacts(const QvAllocationModel& m, const CQvString& folder, const std::wstring& path) {
    std::wstring key = TreeCostKey(m, folder, path);
    std::wstring anyPathKey = m.cchHeaderName != 0 ? AnyPathKey(folder, path) : std::wstring();
    uint64_t uGeneration = 0;
    {
        std::lock_guard<std::mutex> lock(g_modelMutex);
        const auto& costs = TreeCosts();
        auto found = costs.find(key);
        if (found != costs.end()) return found->second;
        if (!anyPathKey.empty()) {
            found = costs.find(anyPathKey);
            if (found != costs.end() && HoldsAt(m, path, found->second)) return found->second;
        }
        uGeneration = g_modelGeneration;
    }
    const TreeFacts facts = TreeCost(m, folder, path);
    KeepTreeCost(std::move(key), facts, uGeneration);
    if (!anyPathKey.empty() && HoldsAt(m, path, facts)) KeepTreeCost(std::move(anyPathKey), facts, uGeneration);
    return facts;
}

int64_t CachedTreeCost(const QvAllocationModel& m, const CQvString& folder, const std::wstring& path) {
    return CachedTreeFacts(m, folder, path).iCost;
}

}  // namespace

extern "C" QVSPLIT_API void QvSetAllocationModel(const QvAllocationModel* pModel) {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    g_model = pModel ? *pModel : QvAllocationModel{};
    g_bModelOn.store(pModel != nullptr, std::memory_order_release);
    ++g_modelGeneration;
    TreeCosts().clear();
    g_emptyMediumFolders = EmptyMediumFolders();
}

extern "C" QVSPLIT_API void QvSetCatalogMeasure(QvCatalogMeasureProc pfnMeasure, LPVOID pContext) {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    g_pfnMeasure = pfnMeasure;
    g_pMeasureContext = pfnMeasure ? pContext : nullptr;
}

namespace qvalloc {

CatalogMeasure Measure() {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    return CatalogMeasure{g_pfnMeasure, g_pMeasureContext};
}

bool On() {
    bool bOn = false;
    Current(bOn);
    return bOn;
}

int64_t EntryCost(const FileDesc& desc) {
    if (!g_bModelOn.load(std::memory_order_acquire)) return desc.iFileSize;
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return desc.iFileSize;
    // A folder kept whole is restored as its target folder, which the folders of the medium
    // count (FolderSet): the entry itself is what lies below it.
    const std::wstring folder = m.cchHeaderName != 0 ? MediumPathOf(desc.strTargetPath.str()) : std::wstring();
    const std::wstring name = LastName(desc.strFilePath);
    if (qvp::IsFolderToEnter(desc.dwAttributes))
        return KeptFolderEntryCost(m, name, folder) + CachedTreeCost(m, desc.strFilePath, folder);
    const std::wstring path = m.cchHeaderName != 0 ? JoinMediumPath(folder, name) : std::wstring();
    if (!IsKeptLink(desc.dwAttributes)) return EntryCostAt(m, desc.iFileSize, name, path, nullptr);
    const CQvString link(desc.strFilePath);
    return EntryCostAt(m, desc.iFileSize, name, path, &link);
}

int64_t FileCost(int64_t iSize, const std::wstring& name, const CQvString& targetPath) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return iSize;
    const std::wstring path = m.cchHeaderName != 0 ? JoinMediumPath(MediumPathOf(targetPath.str()), name) : std::wstring();
    return EntryCostAt(m, iSize, name, path, nullptr);
}

int64_t MediumCost() {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    return bOn ? static_cast<int64_t>(m.cbPerMedium + QvSplitRun::Current().catalogRoom.cbRoom) : 0;
}

int64_t MediumCostWithoutCatalog() {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    return bOn ? static_cast<int64_t>(m.cbPerMedium) : 0;
}

QvAllocationModel Model(bool& bOn) { return Current(bOn); }

namespace {

// CatalogPathBytes of each ASCII character: 1, or what its escape takes.
struct AsciiCatalogBytes {
    uint8_t bytes[128];
    AsciiCatalogBytes() {
        for (int c = 0; c < 128; ++c) bytes[c] = c < 0x20 || c == 0x7F || c == '&' || c == '<' || c == '>' ? 6 : 1;
        for (const unsigned char c : {'\\', '/', '"'}) bytes[c] = 2;  // a separator escaped as Windows writes them, or a quote
    }
};
const AsciiCatalogBytes kAsciiCatalogBytes;

}  // namespace

int64_t CatalogPathBytes(std::wstring_view path) {
    int64_t n = 0;
    for (const wchar_t c : path) {
        const uint32_t u = static_cast<uint32_t>(c);
        if (u < 0x80) {
            n += kAsciiCatalogBytes.bytes[u];
        } else if ((u >= 0xF000 && u <= 0xF0FF) || u == 0x2028 || u == 0x2029) {
            n += 6;  // "\uf0ff": a character mapped from a byte a name cannot hold
        } else if (u <= 0x9F || u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
                   (u >= 0x2066 && u <= 0x2069)) {
            n += 6;  // "\u202E": a C1 control or a character that reorders text, shown so in the text
        } else if (u < 0x800) {
            n += 2;
        } else if (u < 0x10000) {
            n += 3;  // a surrogate half too: its pair's four bytes in six
        } else {
            n += 4;
        }
    }
    return n;
}

int64_t DecimalDigits(uint64_t value) {
    int64_t n = 1;
    for (; value >= 10; value /= 10) ++n;
    return n;
}

bool FitsEmptyMedium(int64_t iCost, const CQvString& targetPath, DWORD dwSplitSize) {
    const int64_t iLimit = static_cast<int64_t>(dwSplitSize) * 1048576;
    if (!On()) return iCost < iLimit;
    return iCost + MediumCost() + FolderSet().CostOfNew(targetPath) < iLimit;
}

int64_t FolderKeptWholeCost(const CQvString& folder, int64_t iBytes) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return iBytes;
    // Its target is not known here: its own path stands in for it.
    const std::wstring path = m.cchHeaderName != 0 ? MediumPathOf(folder.str()) : std::wstring();
    const std::wstring name = LastName(folder);
    return FolderCostWith(m, name, path) + KeptFolderEntryCost(m, name, path) + CachedTreeCost(m, folder, path);
}

bool LinkTargetTooLong(DWORD dwAttributes, const CQvString& path) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn || m.cchLinkTargetMax == 0 || !IsKeptLink(dwAttributes)) return false;
    const QvSplitRun::LinkTarget target = LinkTargetOf(path);
    return target.dwLength > m.cchLinkTargetMax || target.dwLongestName > kTargetNameMax;
}

TreeCostTally::TreeCostTally(const std::wstring& folder) {
    {
        std::lock_guard<std::mutex> lock(g_modelMutex);
        m_model = g_model;
        m_uGeneration = g_modelGeneration;
        m_bActive = g_bModelOn.load(std::memory_order_relaxed);
    }
    if (!m_bActive) return;
    m_folder = CQvString(folder.c_str());
    if (m_model.cchHeaderName != 0) m_path = MediumPathOf(folder);
}

// As TreeCost counts each entry of the folder it lists.
void TreeCostTally::AddFile(const std::wstring& name, const CQvString& path, DWORD dwAttributes, int64_t iSize) {
    if (m_bActive) CountFile(m_model, m_path, name, path, dwAttributes, iSize, m_facts, m_bContinued);
}

void TreeCostTally::AddFolder(const std::wstring& name, const TreeFacts& tree) {
    if (!m_bActive) return;
    if (tree.iCost < 0) {
        Drop();
        return;
    }
    CountFolder(m_model, m_path, name, tree, m_facts, m_bContinued);
}

TreeFacts TreeCostTally::Finish() {
    if (!m_bActive) return TreeFacts{-1, -1, -1, -1};
    const TreeFacts facts = FinishCount(m_model, m_facts, m_bContinued);
    KeepTreeCost(TreeCostKey(m_model, m_folder, m_path), facts, m_uGeneration);
    if (m_model.cchHeaderName != 0 && HoldsAt(m_model, m_path, facts))
        KeepTreeCost(AnyPathKey(m_folder, m_path), facts, m_uGeneration);
    return facts;
}

void ForgetTreeCosts() {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    TreeCosts().clear();
    QvSplitRun::Current().linkTargets.clear();
}

// Folders are told apart by their exact names: two whose names differ only in letter case are
// two folders of the image (its Rock Ridge and Joliet trees keep the case), each with its own
// records and extents.
// A folder whose entries' names (a folder's included) spill out of their records takes one
// block of continuation area: the first such name brings it, the bytes themselves are in each
// entry's cost. With bHold, the folders and areas are held.
int64_t FolderSet::Visit(const CQvString& targetPath, bool bEntrySpills, bool bHold) {
    // The files of a folder share one target text: once its folders are all held, the next
    // of them needs no look-up.
    if (!bEntrySpills && !m_lastHeld.IsEmpty() && targetPath.c_str() == m_lastHeld.c_str()) return 0;
    // A fit test that fails asks again for the next candidate, usually of the same folder,
    // until something is held.
    if (!bEntrySpills && !bHold && !m_lastAsked.IsEmpty() && targetPath.c_str() == m_lastAsked.c_str())
        return m_iLastAskedCost;
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return 0;
    const int64_t iBlock = m.cchRecordNameBytes != 0 && m.cbBlock > 1 ? m.cbBlock : 0;
    std::wstring path = targetPath.str();
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    int64_t iCost = 0;
    // Each folder is charged once in one visit: the entry's own folder, and the parents of the
    // new folders above it, are all different folders.
    const auto continueIn = [&](const std::wstring& folder) {
        if (iBlock == 0 || m_continued.count(folder) != 0) return;
        iCost += iBlock;
        if (bHold) m_continued.insert(folder);
    };
    if (bEntrySpills) continueIn(path);
    // From the folder itself up: once one is held, so are all above it.
    bool bAllHeld = !path.empty();
    while (!path.empty() && m_folders.count(path) == 0) {
        bAllHeld = false;
        const size_t slash = path.rfind(L'\\');
        const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
        if (start < path.size()) {
            // The model is at hand: no second look-up of it for each folder of a fit test.
            const std::wstring name = path.substr(start);
            iCost += FolderCostWith(m, name, m.cchHeaderName != 0 ? MediumPathOf(path) : std::wstring());
            if (NameSpills(m, name)) continueIn(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash));
        }
        if (bHold) m_folders.insert(path);
        if (slash == std::wstring::npos) break;
        path.resize(slash);
    }
    if (bAllHeld || bHold) m_lastHeld = targetPath;
    if (bHold) {
        m_lastAsked.Empty();
    } else if (!bEntrySpills) {
        m_lastAsked = targetPath;
        m_iLastAskedCost = iCost;
    }
    return iCost;
}

int64_t FolderSet::CostOfNew(const CQvString& targetPath) const {
    return const_cast<FolderSet*>(this)->Visit(targetPath, false, false);
}

int64_t FolderSet::CostOfNew(const FileDesc& desc) const {
    return const_cast<FolderSet*>(this)->Visit(desc.strTargetPath, EntrySpills(desc), false);
}

bool FolderSet::FitsIn(const FileDesc& desc, int64_t iRoom) const {
    // An entry's continuation block only adds to what its folders take.
    return CostOfNew(desc.strTargetPath) < iRoom && CostOfNew(desc) < iRoom;
}

int64_t FolderSet::Add(const CQvString& targetPath) { return Visit(targetPath, false, true); }

int64_t FolderSet::Add(const FileDesc& desc) {
    m_iLastShared = 0;
    int64_t iCost = Visit(desc.strTargetPath, EntrySpills(desc), true);
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn || (m.dwFlags & QvModelLinkedDataOnce) == 0 || desc.iFileSize <= 0 ||
        (desc.dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 || desc.dwLinks == 1)
        return iCost;
    const uint64_t id = qvp::GetHardLinkId(CQvString(desc.strFilePath));
    if (id == 0) return iCost;
    // Only an Add gives the data back: a fit test counts it, so that nothing placed on the
    // strength of sharing could overfill a medium should the name not be held after all.
    if (!m_linkedData.insert(id).second) {
        iCost -= DataBytes(m, desc.iFileSize);
        m_iLastShared = desc.iFileSize;
    }
    return iCost;
}

bool EntrySpills(const FileDesc& desc) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    // A folder kept whole is its target folder: its name is one of the folders'.
    if (!bOn || m.cchRecordNameBytes == 0 || qvp::IsFolderToEnter(desc.dwAttributes)) return false;
    const bool bLink = IsKeptLink(desc.dwAttributes);
    // Nearly every name is short enough to tell without making it wide.
    if (!bLink && LastNameBytes(desc.strFilePath).size() <= m.cchRecordNameBytes) return false;
    const std::wstring name = LastName(desc.strFilePath);
    if (!bLink) return NameSpills(m, name);
    return LinkSpills(m, name, CQvString(desc.strFilePath));
}

bool FitsEmptyMedium(int64_t iCost, const FileDesc& desc, DWORD dwSplitSize) {
    const int64_t iLimit = static_cast<int64_t>(dwSplitSize) * 1048576;
    if (!On()) return iCost < iLimit;
    return iCost + MediumCost() + CostOnEmptyMedium(desc) < iLimit;
}

int64_t CostOnEmptyMedium(const FileDesc& desc) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return 0;
    // On an empty medium the block of the entry's continuation area comes on top of its folders.
    const int64_t iSpill = m.cchRecordNameBytes != 0 && m.cbBlock > 1 && EntrySpills(desc) ? m.cbBlock : 0;
    {
        std::lock_guard<std::mutex> lock(g_modelMutex);
        if (!g_emptyMediumFolders.target.IsEmpty() && g_emptyMediumFolders.target.c_str() == desc.strTargetPath.c_str())
            return g_emptyMediumFolders.iCost + iSpill;
    }
    const int64_t iFolders = FolderSet().CostOfNew(desc.strTargetPath);
    std::lock_guard<std::mutex> lock(g_modelMutex);
    try {
        g_emptyMediumFolders.target = desc.strTargetPath;
        g_emptyMediumFolders.iCost = iFolders;
    } catch (const std::bad_alloc&) {
        g_emptyMediumFolders = EmptyMediumFolders();
    }
    return iFolders + iSpill;
}

}  // namespace qvalloc
