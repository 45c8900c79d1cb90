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
      iFileSize(0) {}

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

bool QvPathLess::operator()(const CQvString& a, const CQvString& b) const {
    const std::wstring_view x = a.view();
    const std::wstring_view y = b.view();
    const size_t n = x.size() < y.size() ? x.size() : y.size();
    // Keys of one folder share a long start: skip it eight bytes at a time.
    const size_t kStep = sizeof(uint64_t) / sizeof(wchar_t);
    size_t i = 0;
    for (; i + kStep <= n; i += kStep) {
        uint64_t wx, wy;
        std::memcpy(&wx, x.data() + i, sizeof wx);
        std::memcpy(&wy, y.data() + i, sizeof wy);
        if (wx != wy) break;
        // A zero changes how the rest compares: the loop below deals with it.
        bool zero = false;
        for (size_t k = 0; k < kStep; ++k) zero = zero || x[i + k] == 0;
        if (zero) break;
    }
    for (; i < n; ++i) {
        if (x[i] == y[i]) {
            // A path never holds a zero: behind one comes a twin's exact spelling (see
            // QvFileDescKeys.h), which tells twins apart by their letter case.
            if (x[i] == 0) return x.substr(i) < y.substr(i);
            continue;
        }
        const wchar_t cx = CQvString::LowerChar(x[i]);
        const wchar_t cy = CQvString::LowerChar(y[i]);
        if (cx != cy) return cx < cy;
    }
    return x.size() < y.size();
}
