// The earlier sets a split follows, read from their media files, and the exports that add them
// and tell what a split found against them.
#include "common/QvSinceChain.h"

#include "common/QvSplitRun.h"
#include "facilities/CQvFile.h"
#include "facilities/CQvPathText.h"
#include "media/QvMediaEntries.h"
#include "platform/QvPlatform.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <new>
#include <pugixml.hpp>

namespace {

// Seconds a set may seem to have been written after now before the clocks are doubted: a set
// on a share is stamped by the share's clock.
const int64_t kClockSlack = 120;

uint64_t HashBytes(std::string_view a, std::string_view b) {
    uint64_t h = 14695981039346656037ull;
    for (std::string_view part : {a, b})
        for (unsigned char c : part) {
            h ^= c;
            h *= 1099511628211ull;
        }
    return h;
}

// A catalogue's count of bytes: digits alone, within a file's size; false for anything else,
// a number too large for one included.
bool SizeDigits(std::string_view s, int64_t& v) {
    v = 0;
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9' || v > (INT64_MAX - (c - '0')) / 10) return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

uint64_t TimeDigits(const wchar_t* s, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n && s[i] >= L'0' && s[i] <= L'9'; ++i) v = v * 10 + static_cast<uint64_t>(s[i] - L'0');
    return v;
}

// A path of a text catalogue line as the host names it. The line shows it as a terminal would:
// \\, \t, \n, \r, \xNN for a byte (a control character, or one that is not UTF-8), \uNNNN for
// a character that would act on the terminal or reorder the text. A backslash before anything
// else stands for what follows it.
std::string CatalogueHostPath(std::string_view shown) {
    const auto hex = [&shown](size_t at, size_t digits) {
        long value = 0;
        for (size_t k = 0; k < digits; ++k) {
            const char c = at + k < shown.size() ? shown[at + k] : '\0';
            const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return -1L;
            value = value * 16 + d;
        }
        return value;
    };
    std::string host;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\' || i + 1 == shown.size()) {
            host += shown[i];
            continue;
        }
        const char c = shown[++i];
        const long value = c == 'x' ? hex(i + 1, 2) : c == 'u' ? hex(i + 1, 4) : -1;
        if (value < 0) {
            host += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else if (c == 'x') {
            host += static_cast<char>(value);
            i += 2;
        } else {
            // Only characters below U+10000 are shown so: one to three bytes of UTF-8.
            if (value < 0x80) {
                host += static_cast<char>(value);
            } else if (value < 0x800) {
                host += static_cast<char>(0xC0 | (value >> 6));
                host += static_cast<char>(0x80 | (value & 0x3F));
            } else {
                host += static_cast<char>(0xE0 | (value >> 12));
                host += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
                host += static_cast<char>(0x80 | (value & 0x3F));
            }
            i += 4;
        }
    }
    return host;
}

// Seconds since 1970 of a file time.
int64_t UnixSeconds(const FILETIME& ft) {
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
}

std::wstring Decode(std::string_view bytes) {
    std::wstring out;
    CQvPathText::Pieces pieces{bytes, std::string_view()};
    for (CQvPathText::Reader r(pieces); !r.AtEnd();) out += r.Next();
    return out;
}

std::string Encode(const std::wstring& s) {
    std::string out;
    CQvPathText(std::wstring_view(s)).AppendBytesTo(out);
    return out;
}

bool IsMediaFileName(const std::wstring& name) {
    if (name == L"Last.xml") return true;
    if (name.size() <= 9 || name.compare(0, 5, L"Media") != 0 || name.compare(name.size() - 4, 4, L".xml") != 0)
        return false;
    for (size_t i = 5; i + 4 < name.size(); ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    return true;
}

// A link kept as a link, to a file or to a folder alike.
bool IsLink(DWORD dwAttributes) { return (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

std::string Narrow(const std::wstring& s) { return qvp::WideToUtf8(s); }

}  // namespace

QvSinceChain& QvSinceChain::Instance() {
    // Never destroyed: the exports may be called while other statics are torn down at exit.
    static QvSinceChain* chain = new QvSinceChain;
    return *chain;
}

void QvSinceChain::Clear() {
    *this = QvSinceChain();
}

uint32_t QvSinceChain::FolderOf(const std::string& path, const std::wstring& target) {
    // The entries of a folder come one after another.
    if (!m_folders.empty() && m_folders[m_lastFolder].path == path && m_lastTarget == target) return m_lastFolder;
    m_lastTarget = target;
    const std::string targetText = Narrow(target);
    const uint64_t h = HashBytes(path, targetText);
    for (auto range = m_folderIndex.equal_range(h); range.first != range.second; ++range.first) {
        const Folder& folder = m_folders[range.first->second];
        if (folder.path == path && folder.target == targetText) return m_lastFolder = range.first->second;
    }
    const uint32_t index = static_cast<uint32_t>(m_folders.size());
    m_folders.push_back(Folder{path, targetText});
    m_folderIndex.emplace(h, index);
    return m_lastFolder = index;
}

void QvSinceChain::AddRecord(const std::wstring& strPath, const std::wstring& strTarget, int64_t iSize,
                             const std::wstring& strTime, uint8_t bKind, uint16_t uSet) {
    const std::string bytes = Encode(strPath);
    const size_t slash = bytes.rfind('\\');
    const size_t cut = slash == std::string::npos ? 0 : slash + 1;
    Record r{};
    r.uHash = HashBytes(std::string_view(bytes).substr(0, cut), std::string_view(bytes).substr(cut));
    r.iSize = iSize;
    r.uTime = TimeDigits(strTime.c_str(), strTime.size());
    r.uFolder = FolderOf(bytes.substr(0, cut), strTarget);
    r.uNameAt = StoreName(std::string_view(bytes).substr(cut));
    r.uNameBytes = static_cast<uint32_t>(bytes.size() - cut);
    r.uSet = uSet;
    r.bKind = bKind;
    r.bSeen = false;
    m_records.push_back(r);
}

uint32_t QvSinceChain::StoreName(std::string_view name) {
    // Blocks of a fixed size, each filled before the next is made: no block is ever copied to
    // grow, and the room left unused is at most a name's per block.
    const size_t kBlock = size_t{1} << 18;
    if (m_names.empty() || m_names.back().size() + name.size() > m_names.back().capacity()) {
        m_names.emplace_back();
        m_names.back().reserve(std::max(kBlock, name.size()));
    }
    std::string& block = m_names.back();
    const uint32_t at = static_cast<uint32_t>(block.size());
    block.append(name);
    if (m_names.size() - 1 > 0xFFF) throw std::bad_alloc();  // beyond what an index can name
    return static_cast<uint32_t>((m_names.size() - 1) << 20) | at;
}

std::string_view QvSinceChain::NameOf(const Record& r) const {
    return std::string_view(m_names[r.uNameAt >> 20].data() + (r.uNameAt & 0xFFFFF), r.uNameBytes);
}

std::string QvSinceChain::PathBytes(const Record& r) const {
    return m_folders[r.uFolder].path + std::string(NameOf(r));
}

bool QvSinceChain::SamePath(const Record& r, std::string_view a, std::string_view b) const {
    std::string_view x[2] = {m_folders[r.uFolder].path, NameOf(r)};
    std::string_view y[2] = {a, b};
    if (x[0].size() + x[1].size() != y[0].size() + y[1].size()) return false;
    // The two texts in two pieces each, compared a run at a time.
    for (size_t i = 0, j = 0; i < 2 && j < 2;) {
        const size_t n = std::min(x[i].size(), y[j].size());
        if (x[i].compare(0, n, y[j], 0, n) != 0) return false;
        x[i].remove_prefix(n);
        y[j].remove_prefix(n);
        if (x[i].empty()) ++i;
        if (j < 2 && y[j].empty()) ++j;
    }
    return true;
}

const QvSinceChain::Record* QvSinceChain::Find(std::string_view a, std::string_view b) const {
    if (m_slots.empty()) return nullptr;
    const uint64_t h = HashBytes(a, b);
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = static_cast<size_t>(h) & mask; m_slots[slot]; slot = (slot + 1) & mask) {
        const Record& r = m_records[m_slots[slot] - 1];
        if (r.uHash == h && SamePath(r, a, b)) return &r;
    }
    return nullptr;
}

void QvSinceChain::IndexRecords() {
    size_t n = 1;
    while (n < 2 * m_records.size() + 1) n *= 2;
    std::vector<uint32_t>(n, 0).swap(m_slots);
    const size_t mask = n - 1;
    for (size_t i = 0; i < m_records.size(); ++i) {
        size_t slot = static_cast<size_t>(m_records[i].uHash) & mask;
        while (m_slots[slot]) slot = (slot + 1) & mask;
        m_slots[slot] = static_cast<uint32_t>(i + 1);
    }
}

bool QvSinceChain::Add(const std::wstring& strSet, std::wstring& strWhy) {
    std::wstring folder = strSet;
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    const std::wstring prefix = folder + L"\\";
    const DWORD dwAttributes = qvp::GetFileAttributesW(folder.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        strWhy = folder + L" does not exist: give the folder an earlier split wrote its media files to";
        return false;
    }
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) return AddCatalogue(folder, strWhy);
    std::vector<std::wstring> media;
    bool bDeletions = false;
    WIN32_FIND_DATAW fd;
    HANDLE h = qvp::FindFirstFileW((prefix + L"*.xml").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            if (IsMediaFileName(name)) media.push_back(name);
            if (name == L"Deleted.xml") bDeletions = true;
        } while (qvp::FindNextFileW(h, &fd));
        qvp::FindClose(h);
    }
    // A set of deletions alone has their list and no medium.
    if (media.empty() && !bDeletions) {
        strWhy = folder + L" holds no media files (Media1.xml, ...): it is not the folder of a set";
        return false;
    }
    if (m_nSets >= 0xFFFF) {
        strWhy = L"too many sets to follow";
        return false;
    }
    const uint16_t uSet = static_cast<uint16_t>(m_nSets);
    const size_t nBefore = m_records.size();
    int64_t iWritten = 0;
    const auto fail = [&](const std::wstring& why) {
        m_records.resize(nBefore);
        strWhy = why;
        return false;
    };
    try {
        for (const std::wstring& name : media) {
            const std::wstring path = prefix + name;
            WIN32_FILE_ATTRIBUTE_DATA data;
            std::memset(&data, 0, sizeof(data));
            if (qvp::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                iWritten = std::max(iWritten, UnixSeconds(data.ftLastWriteTime));
            std::wstring strFolderEntry;
            const bool bRead = QvScanMediaEntries(path, [&](const QvMediaEntry& e) {
                if ((e.dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLink(e.dwAttributes)) {
                    if (strFolderEntry.empty()) strFolderEntry = e.strSource;
                    return;
                }
                AddRecord(e.strSource, e.strTarget, e.iSize, e.strWriteTime, IsLink(e.dwAttributes) ? kLink : kFile, uSet);
            });
            if (!bRead) return fail(path + L" cannot be read as a media file");
            if (!strFolderEntry.empty())
                return fail(folder + L" keeps folders whole (" + strFolderEntry +
                            L"): its media files do not list the files in them, so no split can follow it; "
                            L"make the set it follows file by file");
        }
        if (bDeletions) {
            const std::wstring path = prefix + L"Deleted.xml";
            WIN32_FILE_ATTRIBUTE_DATA data;
            std::memset(&data, 0, sizeof(data));
            if (qvp::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                iWritten = std::max(iWritten, UnixSeconds(data.ftLastWriteTime));
            std::string bytes;
            pugi::xml_document doc;
            if (!CQvFile::ReadAll(path.c_str(), bytes) || !doc.load_buffer(bytes.data(), bytes.size()) ||
                !doc.child("Deleted"))
                return fail(path + L" cannot be read as a list of deleted files");
            for (pugi::xml_node f = doc.child("Deleted").child("FILE"); f; f = f.next_sibling("FILE"))
                AddRecord(qvp::Utf8ToWide(f.child("FullPath").child_value()),
                          qvp::Utf8ToWide(f.child("TargetPath").child_value()), 0, std::wstring(), kDeletion, uSet);
        }
    } catch (const std::bad_alloc&) {
        return fail(L"not enough memory to read " + folder);
    }
    return Settle(folder, iWritten, nBefore, strWhy);
}

bool QvSinceChain::Settle(const std::wstring& strSet, int64_t iWritten, size_t nBefore, std::wstring& strWhy) {
    const auto fail = [&](const std::wstring& why) {
        m_records.resize(nBefore);
        strWhy = why;
        return false;
    };
    const int64_t iNow = static_cast<int64_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    if (iWritten > iNow + kClockSlack)
        return fail(strSet + L" was written " + std::to_wstring(iWritten - iNow) +
                    L" seconds after the time this computer's clock gives now: a clock is wrong, and files changed "
                    L"since could be taken as unchanged; set the clock right first");
    if (m_nSets > 0 && iWritten < m_iLastSetTime)
        return fail(strSet + L" was written before the set given before it: give the sets oldest first");
    // Latest record first within a path, then one record a path: a record goes when one of the
    // same path, from this set or a later one, comes before it. Within one set a file outranks
    // its deletion: a path whose kind changed is deleted as the old kind and new as the other.
    std::sort(m_records.begin(), m_records.end(), [](const Record& a, const Record& b) {
        if (a.uHash != b.uHash) return a.uHash < b.uHash;
        if (a.uSet != b.uSet) return a.uSet > b.uSet;
        return (a.bKind == kDeletion) < (b.bKind == kDeletion);
    });
    size_t nKept = 0;
    for (size_t i = 0; i < m_records.size();) {
        size_t end = i;
        while (end < m_records.size() && m_records[end].uHash == m_records[i].uHash) ++end;
        const size_t runStart = nKept;
        if (end - i == 1) {
            m_records[nKept++] = m_records[i];
            i = end;
            continue;
        }
        for (size_t k = i; k < end; ++k) {
            const std::string path = PathBytes(m_records[k]);
            bool bShadowed = false;
            for (size_t j = runStart; j < nKept && !bShadowed; ++j) bShadowed = SamePath(m_records[j], path, std::string_view());
            if (!bShadowed) m_records[nKept++] = m_records[k];
        }
        i = end;
    }
    m_records.resize(nKept);
    m_records.shrink_to_fit();
    IndexRecords();
    m_nRecorded = 0;
    for (const Record& r : m_records)
        if (r.bKind != kDeletion) ++m_nRecorded;
    ++m_nSets;
    m_iLastSetTime = iWritten;
    return true;
}

// The text catalogue pack puts on every disc: a header line, then "medium TAB bytes TAB written
// TAB path" a line, the path as the host names it shown as on a terminal (CatalogueHostPath), a
// folder's ending in "/".
bool QvSinceChain::AddCatalogue(const std::wstring& strFile, std::wstring& strWhy) {
    static const char kHeader[] = "# QvSplit catalogue: medium<TAB>bytes<TAB>written<TAB>path";
    if (m_nSets >= 0xFFFF) {
        strWhy = L"too many sets to follow";
        return false;
    }
    const uint16_t uSet = static_cast<uint16_t>(m_nSets);
    const size_t nBefore = m_records.size();
    const auto fail = [&](const std::wstring& why) {
        m_records.resize(nBefore);
        strWhy = strFile + L" " + why;
        return false;
    };
    CQvFile file(strFile.c_str());
    if (!file.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
        return fail(L"cannot be read");
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    const int64_t iWritten = qvp::GetFileAttributesExW(strFile.c_str(), GetFileExInfoStandard, &data)
                                 ? UnixSeconds(data.ftLastWriteTime)
                                 : 0;
    std::string text;
    std::vector<char> piece(1 << 20);
    bool bHeader = false;
    try {
        for (bool bEnd = false; !bEnd;) {
            DWORD nRead = 0;
            if (!file.Read(piece.data(), static_cast<DWORD>(piece.size()), &nRead, nullptr)) return fail(L"cannot be read");
            bEnd = nRead == 0;
            text.append(piece.data(), nRead);
            size_t from = 0;
            for (size_t nl; (nl = text.find('\n', from)) != std::string::npos || (bEnd && from < text.size()); from = nl + 1) {
                if (nl == std::string::npos) nl = text.size();
                const std::string_view line(text.data() + from, nl - from);
                if (!bHeader) {
                    if (line.size() >= 2 && static_cast<unsigned char>(line[0]) == 0x1f && static_cast<unsigned char>(line[1]) == 0x8b)
                        return fail(L"is compressed (gzip): give it decompressed (gunzip -k), or to the qvsplit program "
                                    L"as it is");
                    if (line.substr(0, sizeof kHeader - 1) != kHeader)
                        return fail(L"is no catalogue a split can follow (its first line is not \"# QvSplit catalogue: "
                                    L"medium<TAB>bytes<TAB>written<TAB>path\"; a catalogue without write times "
                                    L"cannot tell what changed)");
                    bHeader = true;
                    continue;
                }
                // The checksums of a disc's own files may follow the list in lines of their
                // own, after a comment line.
                if (line.empty() || line[0] == '#' || line.substr(0, 7) == "sha256\t") continue;
                const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
                if (t1 == std::string_view::npos || t2 == std::string_view::npos || t3 == std::string_view::npos)
                    return fail(L"has a line that is not \"medium TAB bytes TAB written TAB path\"");
                const std::string_view written = line.substr(t2 + 1, t3 - t2 - 1);
                // The path's own tabs are escaped: a tab after it begins the checksum a disc
                // gives its own files.
                const size_t t4 = std::min(line.find('\t', t3 + 1), line.size());
                const std::string host = CatalogueHostPath(line.substr(t3 + 1, t4 - t3 - 1));
                if (line.substr(0, t1) == "deleted") {
                    AddRecord(qvp::HostPathToLibrary(host, false), std::wstring(), 0, std::wstring(), kDeletion, uSet);
                    continue;
                }
                if (!host.empty() && host.back() == '/')
                    return fail(L"lists a folder kept whole: its set was planned with folders kept whole, which no "
                                L"split can follow; make the set it follows file by file");
                if (written == "-")
                    return fail(L"lists files of folders kept whole without their write times; make the set it "
                                L"follows file by file");
                const std::wstring path = qvp::HostPathToLibrary(host, false);
                const std::wstring time(written.begin(), written.end());
                int64_t iSize = 0;
                if (!SizeDigits(line.substr(t1 + 1, t2 - t1 - 1), iSize))
                    return fail(L"has a line whose bytes are not a number of bytes");
                AddRecord(path, std::wstring(), iSize, time, kAnyKind, uSet);
            }
            text.erase(0, std::min(from, text.size()));
        }
    } catch (const std::bad_alloc&) {
        return fail(L"is too large to read into memory");
    }
    if (!bHeader) return fail(L"is empty");
    return Settle(strFile, iWritten, nBefore, strWhy);
}

void QvSinceChain::BeginSplit() {
    for (Record& r : m_records) r.bSeen = false;
    m_nSeen = 0;
    m_iNew = m_iChanged = m_iUnchanged = 0;
    m_newPaths.clear();
}

QvSinceChain::Verdict QvSinceChain::Judge(const FileDesc& desc, bool& bFirstTime) {
    const CQvPathText::Pieces pieces = desc.strFilePath.pieces();
    const Record* r = Find(pieces.first, pieces.second);
    const uint8_t bKind = IsLink(desc.dwAttributes) ? kLink : kFile;
    if (!r || r->bKind == kDeletion || (r->bKind != bKind && r->bKind != kAnyKind)) {
        // A record of another kind stays unseen: that file is deleted, this one new.
        std::string path(pieces.first);
        path.append(pieces.second);
        bFirstTime = m_newPaths.insert(std::move(path)).second;
        if (bFirstTime) ++m_iNew;
        return kNew;
    }
    bFirstTime = !r->bSeen;
    if (bFirstTime) {
        r->bSeen = true;
        ++m_nSeen;
    }
    const std::wstring_view time = desc.strWriteTime.view();
    const bool bSame = r->iSize == desc.iFileSize && r->uTime == TimeDigits(time.data(), time.size()) &&
                       !time.empty();
    if (bFirstTime) ++(bSame ? m_iUnchanged : m_iChanged);
    return bSame ? kUnchanged : kChanged;
}

void QvSinceChain::Present(const std::wstring& strPath, bool bFolder) {
    const std::string bytes = Encode(strPath);
    const size_t slash = bytes.rfind('\\');
    const size_t cut = slash == std::string::npos ? 0 : slash + 1;
    if (const Record* r = Find(std::string_view(bytes).substr(0, cut), std::string_view(bytes).substr(cut))) {
        if (!r->bSeen && r->bKind != kDeletion) ++m_nSeen;
        r->bSeen = true;
    }
    if (!bFolder) return;
    const std::string below = bytes + "\\";
    for (const Record& r : m_records) {
        const std::string& folder = m_folders[r.uFolder].path;
        if (r.bSeen || folder.compare(0, below.size(), below) != 0) continue;
        if (r.bKind != kDeletion) ++m_nSeen;
        r.bSeen = true;
    }
}

bool QvSinceChain::RecordsBelow(const std::vector<std::wstring>& roots) const {
    const auto lower = [](std::wstring text) {
        for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
        return text;
    };
    std::vector<std::wstring> keys;
    for (const std::wstring& root : roots) {
        std::wstring key = lower(root);
        while (!key.empty() && key.back() == L'\\') key.pop_back();
        keys.push_back(key + L'\\');
    }
    for (const Folder& folder : m_folders) {
        // A folder of records: below a root, or the folder a root file is in.
        const std::wstring path = lower(Decode(folder.path));
        for (const std::wstring& key : keys) {
            if (path.compare(0, key.size(), key) == 0) return true;
            const size_t slash = key.rfind(L'\\', key.size() - 2);
            if (slash != std::wstring::npos && path == key.substr(0, slash + 1)) return true;
        }
    }
    return false;
}

std::vector<QvSinceChain::Deleted> QvSinceChain::Unseen() const {
    std::vector<Deleted> out;
    for (const Record& r : m_records) {
        if (r.bSeen || r.bKind == kDeletion) continue;
        const Folder& folder = m_folders[r.uFolder];
        const std::string_view name = NameOf(r);
        out.push_back(Deleted{Decode(folder.path) + Decode(name), qvp::Utf8ToWide(folder.target), Decode(name)});
    }
    std::sort(out.begin(), out.end(), [](const Deleted& a, const Deleted& b) { return a.strPath < b.strPath; });
    return out;
}

namespace {

std::wstring DeletedListPath(const std::wstring& strFolder) {
    std::wstring path = strFolder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + L"Deleted.xml";
}

void AddText(pugi::xml_node parent, const char* name, const std::wstring& value) {
    parent.append_child(name).append_child(pugi::node_cdata).set_value(Narrow(value).c_str());
}

// pugixml's writer into a string.
struct StringSink : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

}  // namespace

bool QvWriteDeletedList(const std::wstring& strFolder, const std::vector<QvSinceChain::Deleted>& deleted) {
    try {
        pugi::xml_document doc;
        pugi::xml_node decl = doc.append_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
        pugi::xml_node root = doc.append_child("Deleted");
        root.append_attribute("Count") = static_cast<unsigned long long>(deleted.size());
        for (const QvSinceChain::Deleted& d : deleted) {
            pugi::xml_node file = root.append_child("FILE");
            AddText(file, "FullPath", d.strPath);
            AddText(file, "TargetPath", d.strTarget);
            AddText(file, "Name", d.strName);
        }
        StringSink sink;
        doc.save(sink, "  ", pugi::format_default, pugi::encoding_utf8);
        return CQvFile::WriteAtomically(DeletedListPath(strFolder).c_str(), sink.text.data(), sink.text.size()) != FALSE;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void QvRemoveDeletedList(const std::wstring& strFolder) { qvp::DeleteFileW(DeletedListPath(strFolder).c_str()); }

extern "C" QVSPLIT_API BOOL QvAddSinceSet(LPCTSTR pszSet, LPCTSTR* ppszWhy) {
    static std::wstring why;
    why.clear();
    if (ppszWhy) *ppszWhy = nullptr;
    bool bAdded = false;
    if (!pszSet || !*pszSet)
        why = L"no set given";
    else
        bAdded = QvSinceChain::Instance().Add(pszSet, why);
    if (!bAdded && ppszWhy) *ppszWhy = why.c_str();
    return bAdded ? TRUE : FALSE;
}

extern "C" QVSPLIT_API void QvClearSinceSets(void) { QvSinceChain::Instance().Clear(); }

extern "C" QVSPLIT_API BOOL QvGetChangeCounts(QvChangeCounts* pCounts) {
    if (!pCounts || pCounts->cbSize < sizeof(QvChangeCounts)) return FALSE;
    const QvChangeCounts& counts = QvSplitRun::Current().changes;
    *pCounts = counts;
    pCounts->cbSize = sizeof(QvChangeCounts);
    return TRUE;
}

extern "C" QVSPLIT_API LPCTSTR QvGetDeletedFile(DWORD dwIndex) {
    const auto& deleted = QvSplitRun::Current().deleted;
    return dwIndex < deleted.size() ? deleted[dwIndex].strPath.c_str() : nullptr;
}
