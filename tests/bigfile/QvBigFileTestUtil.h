// Helpers of the big-file tests: file contents, a map entry to cut, and reading a part list
// back independently of the recovery code.
#ifndef QVBIGFILETESTUTIL_H
#define QVBIGFILETESTUTIL_H

#include "bigfile/CQvSplitBigFile.h"
#include "bigfile/QvBigFileTestAccess.h"
#include "facilities/CQvIni.h"
#include "platform/QvFaults.h"
#include "rules/CQvPathRules.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace qvbig {

const uint64_t kMB = 1048576;

// Deterministic pseudo-random bytes.
inline std::string PatternBytes(size_t size, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 4) {
        const uint32_t word = gen();
        for (size_t k = 0; k < 4 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>((word >> (8 * k)) & 0xFF);
    }
    return bytes;
}

inline std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = qvp::ToLowerChar(c);
    return s;
}

// The singleton in its start state, faults off, cutting switched on with a fresh list.
inline void StartCutting(const qvtest::TempTree& tree, DWORD dwSplitSize,
                         const std::string& listRel = "parts.ini") {
    qvp::ClearFaults();
    QvBigFileTestAccess::Reset();
    ASSERT_EQ(0, CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, dwSplitSize,
                                                                tree.WinPath(listRel).c_str()));
}

// A file on disk, its rule, and a map holding its entry, as the catalogue hands it over.
struct CutSetup {
    CutSetup(const qvtest::TempTree& tree, const std::string& rel, const std::string& content,
             bool sparse = false, uint64_t sparseSize = 0)
        : strWinPath(tree.WinPath(rel)),
          rule(L"INCLUDE", L"Any", strWinPath.c_str(), L"Backup", L"1", -1, L"") {
        if (sparse)
            tree.WriteSparse(rel, sparseSize);
        else
            tree.WriteFile(rel, content);
        FileDesc fd;
        fd.pPathRules = &rule;
        fd.dwAttributes = FILE_ATTRIBUTE_ARCHIVE;
        fd.strFilePath = strWinPath.c_str();
        fd.strTargetPath = L"\\Backup";
        fd.iFileSize = static_cast<int64_t>(sparse ? sparseSize : content.size());
        strKey = Lower(strWinPath);
        map[CQvString(strKey)] = fd;
    }
    QvFileDescMapIter Iter() { return map.find(CQvString(strKey)); }
    long Cut() {
        QvFileDescMapIter it = Iter();
        return CQvSplitBigFile::GetInstance()->SplitFile(map, it);
    }

    std::wstring strWinPath;
    std::wstring strKey;
    CQvPathRules rule;
    QvFileDescMap map;
};

// One entry of a part list, split as recovery reads it.
struct ListEntry {
    std::wstring key;
    std::wstring path;  // the source path less its first character
    std::wstring stamp;
    std::wstring count;
    std::wstring value;
};

// The entries File0, File1, ... of a part list, up to the first missing key.
inline std::vector<ListEntry> ReadList(const std::wstring& winList) {
    std::vector<ListEntry> entries;
    CQvIni ini;
    if (!ini.Load(winList.c_str(), nullptr)) return entries;
    for (int i = 0;; ++i) {
        ListEntry e;
        e.key = L"File" + std::to_wstring(i);
        CQvString value;
        if (!ini.GetKeyValue(L"Files", e.key.c_str(), value)) break;
        e.value = value.str();
        const size_t last = e.value.rfind(L'|');
        const size_t mid = last == std::wstring::npos ? last : e.value.rfind(L'|', last - 1);
        if (mid != std::wstring::npos) {
            e.path = e.value.substr(0, mid);
            e.stamp = e.value.substr(mid + 1, last - mid - 1);
            e.count = e.value.substr(last + 1);
        }
        entries.push_back(e);
    }
    return entries;
}

// The bytes the part list rebuilds for the file at rel, read straight from the part files;
// nothing when the list does not name the file or one of its parts is missing.
inline std::optional<std::string> RebuildFromList(const qvtest::TempTree& tree,
                                                  const std::string& rel,
                                                  const std::string& listRel) {
    const std::wstring tail = tree.WinPath(rel).substr(1);
    for (const ListEntry& e : ReadList(tree.WinPath(listRel))) {
        if (e.path != tail) continue;
        std::string bytes;
        const unsigned count = static_cast<unsigned>(std::stoul(e.count));
        for (unsigned n = 1; n <= count; ++n) {
            const std::string part = rel + "." + qvtest::Narrow(e.stamp) + ".Part" + std::to_string(n);
            if (!tree.Exists(part)) return std::nullopt;
            bytes += tree.ReadFile(part);
        }
        return bytes;
    }
    return std::nullopt;
}

// Every byte of original is on disk: in the untouched source, or in parts the list rebuilds.
inline ::testing::AssertionResult BytesOnDisk(const qvtest::TempTree& tree, const std::string& rel,
                                              const std::string& listRel,
                                              const std::string& original) {
    if (tree.Exists(rel)) {
        if (tree.ReadFile(rel) == original) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << rel << " exists but differs from the original";
    }
    const std::optional<std::string> rebuilt = RebuildFromList(tree, rel, listRel);
    if (!rebuilt) return ::testing::AssertionFailure() << rel << " is gone and no list rebuilds it";
    if (*rebuilt != original)
        return ::testing::AssertionFailure() << "the parts of " << rel << " hold "
                                             << rebuilt->size() << " bytes that differ from the "
                                             << original.size() << " original bytes";
    return ::testing::AssertionSuccess();
}

// Names in a folder that look like parts of rel (rel's name followed by a dot).
inline std::vector<std::string> PartFiles(const qvtest::TempTree& tree, const std::string& dir,
                                          const std::string& name) {
    std::vector<std::string> parts;
    for (const std::string& f : tree.List(dir))
        if (f.size() > name.size() + 1 && f.compare(0, name.size() + 1, name + ".") == 0 &&
            f.find(".Part") != std::string::npos)
            parts.push_back(f);
    return parts;
}

}  // namespace qvbig

#endif
