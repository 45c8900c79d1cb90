// The allocation model and the costs it gives.
#include "common/QvAllocation.h"

#include "catalog/QvCatalogWalk.h"
#include "facilities/CQvPathString.h"
#include "platform/QvPlatform.h"

#include <cwchar>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

std::mutex g_modelMutex;
bool g_bModelOn = false;
QvAllocationModel g_model = {};

// ISO 9660 level 3 stores a file in extents of at most 4 GiB less one block.
const int64_t kExtentBytes = (int64_t{1} << 32) - 2048;

QvAllocationModel Current(bool& bOn) {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    bOn = g_bModelOn;
    return g_model;
}

// The UTF-8 bytes and the UTF-16 units of a name, the units at most cchNameUnitsMax.
struct NameSize {
    int64_t iBytes = 0;
    int64_t iUnits = 0;
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
    return size;
}

int64_t NameCost(const QvAllocationModel& m, const std::wstring& name) {
    const NameSize size = SizeOfName(m, name);
    return m.cbPerEntry + size.iBytes * m.cbPerNameByte + size.iUnits * m.cbPerNameUnit;
}

int64_t FileCostWith(const QvAllocationModel& m, int64_t iSize, const std::wstring& name) {
    int64_t iData = iSize;
    if (m.cbBlock > 1) iData = (iSize + m.cbBlock - 1) / m.cbBlock * m.cbBlock;
    const int64_t iExtents = iSize <= kExtentBytes ? 1 : (iSize + kExtentBytes - 1) / kExtentBytes;
    return iData + iExtents * NameCost(m, name);
}

// What a link kept as a link adds beyond an empty file: its target.
int64_t LinkTargetCost(const QvAllocationModel& m, const CQvString& path) {
    return static_cast<int64_t>(qvp::GetLinkTargetLength(path)) * m.cbPerLinkTargetByte;
}

bool IsKeptLink(DWORD dwAttributes) {
    return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !qvp::IsFolderToEnter(dwAttributes);
}

int64_t FolderCostWith(const QvAllocationModel& m, const std::wstring& name) {
    const NameSize size = SizeOfName(m, name);
    return m.cbPerFolder + NameCost(m, name) + size.iBytes * m.cbPerFolderNameByte +
           size.iUnits * m.cbPerFolderNameUnit;
}

// The last component of a path, without a trailing backslash.
std::wstring LastName(const CQvString& path) {
    std::wstring s = path.str();
    while (!s.empty() && s.back() == L'\\') s.pop_back();
    const size_t slash = s.rfind(L'\\');
    return slash == std::wstring::npos ? s : s.substr(slash + 1);
}

// Bytes of everything below a folder kept whole: each file and each folder with its own tree.
// A folder that cannot be read counts nothing here; the walk that sized it reported it.
int64_t TreeCost(const QvAllocationModel& m, const CQvString& folder) {
    CQvPathString dir(folder);
    dir.AddBackslash();
    CQvString pattern(dir);
    pattern += L"*.*";
    WIN32_FIND_DATAW fd;
    HANDLE hFind = qvp::FindFirstFileW(pattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    QvFindCloser closeAtEnd(hFind);
    int64_t iCost = 0;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (qvp::IsFolderToEnter(fd.dwFileAttributes)) {
            CQvString sub(dir);
            sub += fd.cFileName;
            iCost += FolderCostWith(m, name) + TreeCost(m, sub);
        } else {
            const int64_t iSize = (static_cast<int64_t>(fd.nFileSizeHigh) << 32) + fd.nFileSizeLow;
            iCost += FileCostWith(m, iSize, name);
            if (m.cbPerLinkTargetByte != 0 && IsKeptLink(fd.dwFileAttributes)) {
                CQvString link(dir);
                link += fd.cFileName;
                iCost += LinkTargetCost(m, link);
            }
        }
    } while (qvp::FindNextFileW(hFind, &fd));
    return iCost;
}

// The trees measured in this split, by folder path as asked (with a trailing backslash): a
// folder kept whole is costed by the size checks, the distribution and each fit test, and
// listing its whole tree each time cost more than the rest of the split. Guarded by
// g_modelMutex, and dropped with the model.
std::unordered_map<std::wstring, int64_t> g_treeCosts;

int64_t CachedTreeCost(const QvAllocationModel& m, const CQvString& folder) {
    CQvPathString dir(folder);
    dir.AddBackslash();
    std::wstring key = dir.str();
    {
        std::lock_guard<std::mutex> lock(g_modelMutex);
        const auto found = g_treeCosts.find(key);
        if (found != g_treeCosts.end()) return found->second;
    }
    const int64_t iCost = TreeCost(m, folder);
    std::lock_guard<std::mutex> lock(g_modelMutex);
    try {
        g_treeCosts.emplace(std::move(key), iCost);
    } catch (const std::bad_alloc&) {
        // Measured again next time.
    }
    return iCost;
}


}  // namespace

extern "C" QVSPLIT_API void QvSetAllocationModel(const QvAllocationModel* pModel) {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    g_bModelOn = pModel != nullptr;
    g_model = pModel ? *pModel : QvAllocationModel{};
    g_treeCosts.clear();
}

namespace qvalloc {

bool On() {
    bool bOn = false;
    Current(bOn);
    return bOn;
}

int64_t EntryCost(const FileDesc& desc) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn) return desc.iFileSize;
    // A folder kept whole is restored as its target folder, which the folders of the medium
    // count (FolderSet): the entry itself is what lies below it.
    if (qvp::IsFolderToEnter(desc.dwAttributes)) return CachedTreeCost(m, desc.strFilePath);
    const int64_t iCost = FileCostWith(m, desc.iFileSize, LastName(desc.strFilePath));
    if (m.cbPerLinkTargetByte == 0 || !IsKeptLink(desc.dwAttributes)) return iCost;
    return iCost + LinkTargetCost(m, desc.strFilePath);
}

int64_t FileCost(int64_t iSize, const std::wstring& name) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    return bOn ? FileCostWith(m, iSize, name) : iSize;
}

int64_t FolderCost(const std::wstring& name) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    return bOn ? FolderCostWith(m, name) : 0;
}

int64_t MediumCost() {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    return bOn ? static_cast<int64_t>(m.cbPerMedium) : 0;
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
    return FolderCostWith(m, LastName(folder)) + CachedTreeCost(m, folder);
}

bool LinkTargetTooLong(DWORD dwAttributes, const CQvString& path) {
    bool bOn = false;
    const QvAllocationModel m = Current(bOn);
    if (!bOn || m.cchLinkTargetMax == 0 || !IsKeptLink(dwAttributes)) return false;
    return qvp::GetLinkTargetLength(path) > m.cchLinkTargetMax;
}

void ForgetTreeCosts() {
    std::lock_guard<std::mutex> lock(g_modelMutex);
    g_treeCosts.clear();
}

// Folders are told apart by their exact names: two whose names differ only in letter case are
// two folders of the image (its Rock Ridge and Joliet trees keep the case), each with its own
// records and extents.
int64_t FolderSet::CostOfNew(const CQvString& targetPath) const {
    if (!On()) return 0;
    std::wstring path = targetPath.str();
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    int64_t iCost = 0;
    // From the folder itself up: once one is held, so are all above it.
    while (!path.empty() && m_folders.count(path) == 0) {
        const size_t slash = path.rfind(L'\\');
        const size_t start = slash == std::wstring::npos ? 0 : slash + 1;
        if (start < path.size()) iCost += FolderCost(path.substr(start));
        if (slash == std::wstring::npos) break;
        path.resize(slash);
    }
    return iCost;
}

int64_t FolderSet::Add(const CQvString& targetPath) {
    if (!On()) return 0;
    const int64_t iCost = CostOfNew(targetPath);
    std::wstring path = targetPath.str();
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    while (!path.empty() && m_folders.insert(path).second) {
        const size_t slash = path.rfind(L'\\');
        if (slash == std::wstring::npos) break;
        path.resize(slash);
    }
    return iCost;
}

}  // namespace qvalloc
