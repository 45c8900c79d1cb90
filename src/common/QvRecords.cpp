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

// The characters of a CQvPathText's bytes, from a character's first byte on.
struct PathChars {
    const char* p;
    const char* end;
    PathChars(std::string_view s, size_t from) : p(s.data() + from), end(s.data() + s.size()) {}
    bool AtEnd() const { return p == end; }
    wchar_t Next() { return CQvPathText::Next(p); }
};

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
    const std::string_view x = a.bytes();
    const std::string_view y = b.bytes();
    const size_t n = x.size() < y.size() ? x.size() : y.size();
    // Keys of one folder share a long start: skip it eight bytes at a time, then go back to
    // the first byte of the character the difference is in.
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= n; i += sizeof(uint64_t)) {
        uint64_t wx, wy;
        std::memcpy(&wx, x.data() + i, sizeof wx);
        std::memcpy(&wy, y.data() + i, sizeof wy);
        if (wx != wy) break;
        // A zero changes how the rest compares: Less deals with it.
        if ((wx - 0x0101010101010101ull) & ~wx & 0x8080808080808080ull) break;
    }
    while (i > 0 && (static_cast<unsigned char>(x.data()[i]) & 0xC0) == 0x80) --i;
    return Less(PathChars(x, i), PathChars(y, i));
}

bool QvPathLess::operator()(const CQvPathText& a, std::wstring_view b) const {
    return Less(PathChars(a.bytes(), 0), WideChars(b));
}

bool QvPathLess::operator()(std::wstring_view a, const CQvPathText& b) const {
    return Less(WideChars(a), PathChars(b.bytes(), 0));
}
