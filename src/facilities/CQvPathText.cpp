// A path held as bytes: encoding, decoding and the shared block.
#include "facilities/CQvPathText.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

// The bytes one character takes: the UTF-8 pattern, carried on past four bytes so that every
// 32-bit value has a form (a lead of n ones, then n - 1 bytes of six bits each).
size_t EncodedSize(uint32_t v) {
    if (v < 0x80) return 1;
    if (v < 0x800) return 2;
    if (v < 0x10000) return 3;
    if (v < 0x200000) return 4;
    if (v < 0x4000000) return 5;
    if (v < 0x80000000u) return 6;
    return 7;
}

char* Encode(uint32_t v, char* out) {
    const size_t n = EncodedSize(v);
    if (n == 1) {
        *out++ = static_cast<char>(v);
        return out;
    }
    for (size_t k = n - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (v & 0x3F));
        v >>= 6;
    }
    out[0] = static_cast<char>((0xFF00u >> n) | v);
    return out + n;
}

// The blocks of paths come from slabs of their own, by size in steps of eight bytes, and not
// from the general heap. A catalogue makes a path and a map node for each file, one after the
// other: from one heap they alternate in memory, so the nodes freed when the distribution
// moves the entries out leave holes between live paths that no larger block can use, and the
// working list grew the heap by its own size again. Here the nodes lie together and their
// room is used again; a block also has no heap header of its own. The slabs are given back
// once no path is left.
class PathPool {
public:
    static PathPool& Instance() {
        // Never destroyed: paths held by other statics may be released after exit begins.
        static PathPool* pool = new PathPool;
        return *pool;
    }

    void* Get(size_t n) {
        const size_t cls = Class(n);
        if (cls >= kClasses) return ::operator new(n);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (FreeBlock* block = m_free[cls]) {
            m_free[cls] = block->next;
            ++m_live;
            return block;
        }
        const size_t size = cls * kStep;
        if (static_cast<size_t>(m_end - m_cur) < size) {
            // Should either allocation fail, nothing has changed.
            m_slabs.reserve(m_slabs.size() + 1);
            m_slabs.push_back(static_cast<char*>(::operator new(kSlabBytes)));
            m_cur = m_slabs.back();
            m_end = m_cur + kSlabBytes;
        }
        void* block = m_cur;
        m_cur += size;
        ++m_live;
        return block;
    }

    void Put(void* p, size_t n) noexcept {
        const size_t cls = Class(n);
        if (cls >= kClasses) {
            ::operator delete(p);
            return;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        FreeBlock* block = static_cast<FreeBlock*>(p);
        block->next = m_free[cls];
        m_free[cls] = block;
        if (--m_live > 0) return;
        for (char* slab : m_slabs) ::operator delete(slab);
        m_slabs.clear();
        m_cur = m_end = nullptr;
        for (FreeBlock*& head : m_free) head = nullptr;
    }

private:
    struct FreeBlock {
        FreeBlock* next;
    };
    static constexpr size_t kStep = 8;
    static constexpr size_t kClasses = 512 / kStep + 1;  // blocks of up to 512 bytes
    static constexpr size_t kSlabBytes = 64 * 1024;

    static size_t Class(size_t n) { return (n + kStep - 1) / kStep; }

    std::mutex m_mutex;
    FreeBlock* m_free[kClasses] = {};
    std::vector<char*> m_slabs;
    char* m_cur = nullptr;
    char* m_end = nullptr;
    size_t m_live = 0;
};

// The bytes s takes. Nearly every path is ASCII from start to end: that part is counted and
// copied in loops the compiler can vectorise.
size_t EncodedBytes(std::wstring_view s) {
    size_t plain = 0;
    while (plain < s.size() && static_cast<uint32_t>(s[plain]) < 0x80) ++plain;
    size_t bytes = plain;
    for (size_t i = plain; i < s.size(); ++i) bytes += EncodedSize(static_cast<uint32_t>(s[i]));
    return bytes;
}

// Writes the bytes of s and a zero behind them.
void EncodeText(std::wstring_view s, char* text) {
    size_t plain = 0;
    while (plain < s.size() && static_cast<uint32_t>(s[plain]) < 0x80) ++plain;
    for (size_t i = 0; i < plain; ++i) text[i] = static_cast<char>(s[i]);
    char* out = text + plain;
    for (size_t i = plain; i < s.size(); ++i) out = Encode(static_cast<uint32_t>(s[i]), out);
    *out = 0;
}

// A block: its header, for a path in a shared folder the folder's text, its bytes and a zero.
size_t BlockSize(size_t headerBytes, bool bShared, size_t bytes) {
    return headerBytes + (bShared ? sizeof(char*) : 0) + bytes + 1;
}

}  // namespace

CQvPathText::CQvPathText() : m_p(EmptyBytes()) {}

CQvPathText::CQvPathText(const CQvString& s) : m_p(Make(s.view())) {}

CQvPathText::CQvPathText(const wchar_t* psz) : m_p(Make(psz ? std::wstring_view(psz) : std::wstring_view())) {}

CQvPathText::CQvPathText(std::wstring_view s) : m_p(Make(s)) {}

CQvPathText::CQvPathText(const std::wstring& s) : m_p(Make(s)) {}

CQvPathText::CQvPathText(const CQvPathText& folder, std::wstring_view name) : m_p(nullptr) {
    const Pieces head = folder.pieces();
    // A folder's text never holds a zero (a twin's key does): the order of keys relies on it.
    const bool bShares = !head.first.empty() && head.second.empty() && head.first.back() == '\\' &&
                         head.first.find('\0') == std::string_view::npos && !name.empty() &&
                         name.find(L'\\') == std::wstring_view::npos;
    if (!bShares) {
        m_p = Make(folder.str() + std::wstring(name));
        return;
    }
    const size_t ownBytes = EncodedBytes(name);
    if (head.first.size() + ownBytes > kSizeMask) throw std::bad_alloc();
    void* raw = PathPool::Instance().Get(BlockSize(sizeof(Header), true, ownBytes));
    Header* block = new (raw) Header;
    block->refs.store(1, std::memory_order_relaxed);
    block->bytes = static_cast<uint32_t>(head.first.size() + ownBytes) | kShared;
    char* text = reinterpret_cast<char*>(block + 1);
    const char* shared = folder.m_p;
    folder.Head()->refs.fetch_add(1, std::memory_order_relaxed);
    std::memcpy(text, &shared, sizeof shared);
    EncodeText(name, text + sizeof shared);
    m_p = text;
}

CQvPathText::CQvPathText(const CQvPathText& other) noexcept : m_p(other.m_p) {
    Header* head = Head();
    if (head->refs.load(std::memory_order_relaxed) != kStatic)
        head->refs.fetch_add(1, std::memory_order_relaxed);
}

CQvPathText::CQvPathText(CQvPathText&& other) noexcept : m_p(other.m_p) { other.m_p = EmptyBytes(); }

CQvPathText::~CQvPathText() { Release(); }

CQvPathText& CQvPathText::operator=(const CQvPathText& other) noexcept {
    if (m_p != other.m_p) {
        CQvPathText copy(other);
        std::swap(m_p, copy.m_p);
    }
    return *this;
}

CQvPathText& CQvPathText::operator=(CQvPathText&& other) noexcept {
    std::swap(m_p, other.m_p);
    return *this;
}

char* CQvPathText::EmptyBytes() {
    struct Empty {
        Header head;
        char text[1];
    };
    static Empty empty = {{{kStatic}, 0}, {0}};
    return empty.text;
}

char* CQvPathText::Make(std::wstring_view s) {
    if (s.empty()) return EmptyBytes();
    const size_t bytes = EncodedBytes(s);
    if (bytes > kSizeMask) throw std::bad_alloc();
    void* raw = PathPool::Instance().Get(BlockSize(sizeof(Header), false, bytes));
    Header* head = new (raw) Header;
    head->refs.store(1, std::memory_order_relaxed);
    head->bytes = static_cast<uint32_t>(bytes);
    char* text = reinterpret_cast<char*>(head + 1);
    EncodeText(s, text);
    return text;
}

void CQvPathText::ReleaseBlock(char* text) noexcept {
    Header* head = reinterpret_cast<Header*>(text) - 1;
    if (head->refs.load(std::memory_order_relaxed) == kStatic) return;
    if (head->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    const bool bShared = (head->bytes & kShared) != 0;
    char* folder = nullptr;
    size_t ownBytes = head->bytes & kSizeMask;
    if (bShared) {
        std::memcpy(&folder, text, sizeof folder);
        ownBytes -= (reinterpret_cast<Header*>(folder) - 1)->bytes & kSizeMask;
    }
    const size_t size = BlockSize(sizeof(Header), bShared, ownBytes);
    head->~Header();
    PathPool::Instance().Put(head, size);
    if (folder) ReleaseBlock(folder);
}

void CQvPathText::Release() noexcept {
    ReleaseBlock(m_p);
    m_p = EmptyBytes();
}

bool CQvPathText::SameBytes(const CQvPathText& other) const {
    if (Bytes() != other.Bytes()) return false;
    const Pieces a = pieces();
    const Pieces b = other.pieces();
    if (a.first.size() == b.first.size()) return a.first == b.first && a.second == b.second;
    // Split at different places: compared byte by byte through both.
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = i < a.first.size() ? a.first[i] : a.second[i - a.first.size()];
        const char y = i < b.first.size() ? b.first[i] : b.second[i - b.first.size()];
        if (x != y) return false;
    }
    return true;
}

void CQvPathText::AppendBytesTo(std::string& out) const {
    const Pieces all = pieces();
    out.append(all.first.data(), all.first.size());
    out.append(all.second.data(), all.second.size());
}

wchar_t CQvPathText::NextOther(unsigned char lead, const char*& p) {
    size_t n = 1;
    while (n < 7 && (lead & (0x80u >> n))) ++n;
    uint32_t v = lead & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) v = (v << 6) | (static_cast<unsigned char>(*p++) & 0x3Fu);
    return static_cast<wchar_t>(v);
}

size_t CQvPathText::Decode(wchar_t* out) const {
    const Pieces all = pieces();
    wchar_t* o = out;
    for (const std::string_view piece : {all.first, all.second}) {
        const char* p = piece.data();
        const char* const end = p + piece.size();
        while (p < end && static_cast<unsigned char>(*p) < 0x80) *o++ = static_cast<wchar_t>(*p++);
        while (p < end) *o++ = Next(p);
    }
    return static_cast<size_t>(o - out);
}

CQvString CQvPathText::Wide() const {
    // Paths are short: decoded on the stack, copied once into the string's block.
    wchar_t buffer[512];
    if (Bytes() <= sizeof buffer / sizeof buffer[0]) return CQvString(std::wstring_view(buffer, Decode(buffer)));
    return CQvString(str());
}

std::wstring CQvPathText::str() const {
    // A character takes at least one byte: the byte count is room enough.
    std::wstring out(Bytes(), L'\0');
    out.resize(Decode(&out[0]));
    return out;
}

bool CQvPathText::operator==(std::wstring_view other) const {
    Reader r(pieces());
    for (wchar_t c : other)
        if (r.AtEnd() || r.Next() != c) return false;
    return r.AtEnd();
}
