// Value semantics of the records: every field copied, strings and containers deeply, the rule
// pointer shallowly.
#include "QvRecords.h"

#include <cstdint>
#include <cstring>
#include <utility>

FileDesc::FileDesc()
    : pPathRules(nullptr),
      dwAttributes(0),
      dwCRC32(0),
      iAllTogetherGroup(-1),
      dwFileCount(0),
      iFileSize(0),
      dwLinks(0) {}

FileDesc::FileDesc(const FileDesc& other) = default;
FileDesc::FileDesc(FileDesc&& other) noexcept = default;
FileDesc::~FileDesc() = default;

const FileDesc& FileDesc::operator=(const FileDesc& other) {
    if (this != &other) {
        pPathRules = other.pPathRules;
        dwAttributes = other.dwAttributes;
        dwCRC32 = other.dwCRC32;
        iAllTogetherGroup = other.iAllTogetherGroup;
        dwFileCount = other.dwFileCount;
        strWriteTime = other.strWriteTime;
        strFilePath = other.strFilePath;
        strTargetPath = other.strTargetPath;
        iFileSize = other.iFileSize;
        dwLinks = other.dwLinks;
    }
    return *this;
}

FileDesc& FileDesc::operator=(FileDesc&& other) noexcept = default;

GroupFileDesc::GroupFileDesc() : iGroupSize(0) {}
GroupFileDesc::GroupFileDesc(const GroupFileDesc& other) = default;
GroupFileDesc::GroupFileDesc(GroupFileDesc&& other) noexcept = default;
GroupFileDesc::~GroupFileDesc() = default;
GroupFileDesc& GroupFileDesc::operator=(const GroupFileDesc& other) = default;
GroupFileDesc& GroupFileDesc::operator=(GroupFileDesc&& other) noexcept = default;

MediaDesc::MediaDesc() : dwMediaNumber(0), dwMediaSize(0), dwFileCount(0), dwFreeSpace(0) {}
MediaDesc::MediaDesc(const MediaDesc& other) = default;
MediaDesc::~MediaDesc() = default;
MediaDesc& MediaDesc::operator=(const MediaDesc& other) = default;

namespace {

// The characters of a wide text, one after another.
struct WideChars {
    const wchar_t* p;
    const wchar_t* end;
    explicit WideChars(std::wstring_view s) : p(s.data()), end(s.data() + s.size()) {}
    bool AtEnd() const { return p == end; }
    wchar_t Next() { return *p++; }
};

typedef CQvPathText::Reader PathChars;

// The byte at offset i of a path's pieces; the zero behind the last one at its end.
unsigned char ByteAt(const CQvPathText::Pieces& s, size_t i) {
    if (i < s.first.size()) return static_cast<unsigned char>(s.first[i]);
    i -= s.first.size();
    return i < s.second.size() ? static_cast<unsigned char>(s.second[i]) : 0;
}

// The bytes of the piece offset i is in, from there to that piece's end.
std::string_view RestOfPiece(const CQvPathText::Pieces& s, size_t i) {
    if (i < s.first.size()) return s.first.substr(i);
    i -= s.first.size();
    return i < s.second.size() ? s.second.substr(i) : std::string_view();
}

// How many bytes x and y have alike from their starts, in steps of eight, stopping before a
// step that holds a zero (a zero changes how the rest compares: Less deals with it).
size_t SameStart(std::string_view x, std::string_view y) {
    const size_t n = x.size() < y.size() ? x.size() : y.size();
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= n; i += sizeof(uint64_t)) {
        uint64_t wx, wy;
        std::memcpy(&wx, x.data() + i, sizeof wx);
        std::memcpy(&wy, y.data() + i, sizeof wy);
        if (wx != wy) break;
        if ((wx - 0x0101010101010101ull) & ~wx & 0x8080808080808080ull) break;
    }
    return i;
}

// Whether a sorts before b, from their current characters on.
template <class A, class B>
bool Less(A a, B b) {
    bool exact = false;
    while (!a.AtEnd() && !b.AtEnd()) {
        const wchar_t x = a.Next();
        const wchar_t y = b.Next();
        if (x == y) {
            // A path never holds a zero: behind one comes a twin's exact spelling (see
            // QvFileDescKeys.h), which tells twins apart by their letter case.
            exact = exact || x == 0;
            continue;
        }
        if (exact) return x < y;
        const wchar_t cx = CQvString::LowerChar(x);
        const wchar_t cy = CQvString::LowerChar(y);
        if (cx != cy) return cx < cy;
    }
    return a.AtEnd() && !b.AtEnd();
}

}  // namespace

bool QvPathLess::operator()(const CQvPathText& a, const CQvPathText& b) const {
    const CQvPathText::Pieces x = a.pieces();
    const CQvPathText::Pieces y = b.pieces();
    // Paths of one folder share its bytes (and a folder's path holds no zero): they compare
    // from behind it.
    size_t i = 0;
    if (!x.second.empty() && !y.second.empty() && x.first.data() == y.first.data()) i = x.first.size();
    // Keys of one folder share a long start: skip it eight bytes at a time, piece by piece,
    // then go back to the first byte of the character the difference is in.
    for (;;) {
        const std::string_view rx = RestOfPiece(x, i);
        const std::string_view ry = RestOfPiece(y, i);
        const size_t k = SameStart(rx, ry);
        i += k;
        if (k == 0 || k < rx.size() || k < ry.size()) break;
    }
    while (i > 0 && (ByteAt(x, i) & 0xC0) == 0x80) --i;
    return Less(PathChars(x, i), PathChars(y, i));
}

bool QvPathLess::operator()(const CQvPathText& a, std::wstring_view b) const {
    return Less(PathChars(a.pieces()), WideChars(b));
}

bool QvPathLess::operator()(std::wstring_view a, const CQvPathText& b) const {
    return Less(WideChars(a), PathChars(b.pieces()));
}
