// Wide-character string: value semantics, search, case folding and tokens.
#include "facilities/CQvString.h"

#include "platform/QvPlatform.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <new>
#include <utility>

namespace {

// Case-folded character code, compared as an unsigned number so order is the same on every host.
uint32_t Folded(wchar_t c) { return static_cast<uint32_t>(qvp::ToLowerChar(c)); }

const wchar_t* OrEmpty(const wchar_t* psz) { return psz ? psz : L""; }

}  // namespace

namespace {

// The empty string of every CQvString that holds nothing: never counted, never freed.
struct EmptyBlock {
    QvStringBlock header;
    wchar_t text[1];
};
EmptyBlock g_empty = {{{QvStringBlock::kStatic}, 0, 0}, {0}};

wchar_t* EmptyText() { return g_empty.text; }

// A block for capacity characters holding the n characters from p; one reference.
wchar_t* NewBlock(const wchar_t* p, size_t n, size_t capacity) {
    if (capacity == 0) return EmptyText();
    if (capacity > 0x3FFFFFFFu) throw std::bad_alloc();
    void* raw = ::operator new(sizeof(QvStringBlock) + (capacity + 1) * sizeof(wchar_t));
    QvStringBlock* block = new (raw) QvStringBlock;
    block->refs.store(1, std::memory_order_relaxed);
    block->length = static_cast<uint32_t>(n);
    block->capacity = static_cast<uint32_t>(capacity);
    wchar_t* text = reinterpret_cast<wchar_t*>(block + 1);
    if (n) std::wmemcpy(text, p, n);
    text[n] = 0;
    return text;
}

}  // namespace

CQvString::CQvString() : m_psz(EmptyText()) {}

CQvString::CQvString(const wchar_t* psz) : m_psz(EmptyText()) {
    const wchar_t* p = OrEmpty(psz);
    const size_t n = std::wcslen(p);
    m_psz = NewBlock(p, n, n);
}

CQvString::CQvString(const std::wstring& s) : m_psz(NewBlock(s.data(), s.size(), s.size())) {}

CQvString::CQvString(std::wstring_view s) : m_psz(NewBlock(s.data(), s.size(), s.size())) {}

CQvString::CQvString(const CQvString& other) : m_psz(other.m_psz) {
    QvStringBlock* block = Block();
    if (block->refs.load(std::memory_order_relaxed) != QvStringBlock::kStatic)
        block->refs.fetch_add(1, std::memory_order_relaxed);
}

CQvString::CQvString(CQvString&& other) noexcept : m_psz(other.m_psz) { other.m_psz = EmptyText(); }

CQvString::~CQvString() { Release(); }

void CQvString::Release() noexcept {
    QvStringBlock* block = Block();
    if (block->refs.load(std::memory_order_relaxed) == QvStringBlock::kStatic) return;
    if (block->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        block->~QvStringBlock();
        ::operator delete(block);
    }
    m_psz = EmptyText();
}

CQvString& CQvString::operator=(const CQvString& other) {
    if (m_psz != other.m_psz) {
        CQvString copy(other);
        std::swap(m_psz, copy.m_psz);
    }
    return *this;
}

CQvString& CQvString::operator=(CQvString&& other) noexcept {
    std::swap(m_psz, other.m_psz);
    return *this;
}

CQvString& CQvString::operator=(const wchar_t* psz) {
    const wchar_t* p = OrEmpty(psz);
    Assign(p, std::wcslen(p));
    return *this;
}

void CQvString::Assign(const wchar_t* p, size_t n) {
    // A new block first: p may point into the old one.
    wchar_t* fresh = NewBlock(p, n, n);
    Release();
    m_psz = fresh;
}

void CQvString::Truncate(size_t n) {
    if (n >= Length()) return;
    if (n == 0) {
        Release();
        return;
    }
    Writable()[n] = 0;
    Block()->length = static_cast<uint32_t>(n);
}

void CQvString::Append(const wchar_t* p, size_t n) {
    if (n == 0) return;
    const size_t length = Length();
    QvStringBlock* block = Block();
    const bool own = block->refs.load(std::memory_order_relaxed) == 1;
    if (!own || length + n > block->capacity) {
        // Room to grow by half again, so appending in a loop stays linear.
        size_t capacity = length + n;
        if (own && length) capacity += capacity / 2;
        wchar_t* fresh = NewBlock(m_psz, length, capacity);
        // p may point into the old block: copy from it before letting it go.
        std::wmemcpy(fresh + length, p, n);
        fresh[length + n] = 0;
        reinterpret_cast<QvStringBlock*>(fresh)[-1].length = static_cast<uint32_t>(length + n);
        Release();
        m_psz = fresh;
        return;
    }
    std::wmemmove(m_psz + length, p, n);
    m_psz[length + n] = 0;
    block->length = static_cast<uint32_t>(length + n);
}

wchar_t* CQvString::Writable() {
    if (Block()->refs.load(std::memory_order_acquire) != 1) {
        wchar_t* fresh = NewBlock(m_psz, Length(), Length());
        Release();
        m_psz = fresh;
    }
    return m_psz;
}

BOOL CQvString::FormatV(const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    if (!fmt) return FALSE;
    const std::wstring text = QvFormatV(fmt, args, count);
    Assign(text.data(), text.size());
    return TRUE;
}

CQvString& CQvString::operator+=(const wchar_t* psz) {
    const wchar_t* p = OrEmpty(psz);
    Append(p, std::wcslen(p));
    return *this;
}

CQvString& CQvString::operator+=(wchar_t ch) {
    Append(&ch, 1);
    return *this;
}

void CQvString::Empty() { Release(); }

BOOL CQvString::IsEmpty() const { return Length() == 0 ? TRUE : FALSE; }

int CQvString::GetLength() const { return static_cast<int>(Length()); }

wchar_t CQvString::GetAt(int index) const {
    if (index < 0 || index >= GetLength()) return 0;
    return m_psz[static_cast<size_t>(index)];
}

CQvString CQvString::Left(int count) const {
    if (count <= 0) return CQvString();
    return CQvString(view().substr(0, static_cast<size_t>(count)));
}

CQvString CQvString::Right(int count) const {
    if (count <= 0) return CQvString();
    const size_t n = std::min(static_cast<size_t>(count), Length());
    return CQvString(view().substr(Length() - n));
}

CQvString CQvString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CQvString();
    return CQvString(view().substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

namespace {

wchar_t UpperChar(wchar_t c) {
    if (static_cast<uint32_t>(c) < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    return qvp::ToUpperChar(c);
}

}  // namespace

wchar_t CQvString::LowerOther(wchar_t c) { return qvp::ToLowerChar(c); }

// A text the mapping leaves as it is keeps sharing its block.
void CQvString::MapEach(wchar_t (*map)(wchar_t)) {
    const size_t n = Length();
    size_t i = 0;
    while (i < n && map(m_psz[i]) == m_psz[i]) ++i;
    if (i == n) return;
    wchar_t* text = Writable();
    for (; i < n; ++i) text[i] = map(text[i]);
}

// ASCII, most of any path, is mapped here; other letters go to the platform's tables.
void CQvString::MakeLower() { MapEach(&LowerChar); }

void CQvString::MakeUpper() { MapEach(&UpperChar); }

BOOL CQvString::Find(const wchar_t* text, int& pos, int start) const {
    if (!text) return FALSE;
    if (start < 0) start = 0;
    if (start > GetLength()) return FALSE;
    const size_t at = view().find(text, static_cast<size_t>(start));
    if (at == std::wstring_view::npos) return FALSE;
    pos = static_cast<int>(at);
    return TRUE;
}

BOOL CQvString::ReverseFind(wchar_t ch, int& pos) const {
    const size_t at = view().rfind(ch);
    if (at == std::wstring_view::npos) return FALSE;
    pos = static_cast<int>(at);
    return TRUE;
}

int CQvString::CompareNoCase(const wchar_t* text) const {
    const wchar_t* a = m_psz;
    const wchar_t* b = OrEmpty(text);
    for (;; ++a, ++b) {
        const uint32_t ca = Folded(*a);
        const uint32_t cb = Folded(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (ca == 0) return 0;
    }
}

int CQvString::Replace(const wchar_t* oldText, const wchar_t* newText) {
    // An empty pattern would match everywhere and never advance.
    if (!oldText || !*oldText) return 0;
    const std::wstring_view from(oldText);
    const std::wstring_view to(OrEmpty(newText));
    const std::wstring_view text = view();
    std::wstring out;
    int replaced = 0;
    size_t at = 0;
    // Left to right without rescanning what was inserted, so "aaa" with "aa" -> "b" gives "ba".
    for (size_t hit; (hit = text.find(from, at)) != std::wstring_view::npos; at = hit + from.size()) {
        out.append(text.substr(at, hit - at));
        out.append(to);
        ++replaced;
    }
    if (replaced == 0) return 0;
    out.append(text.substr(at));
    Assign(out.data(), out.size());
    return replaced;
}

BOOL CQvString::GetToken(const wchar_t* delims, CQvString& token, int index) const {
    if (index < 1) return FALSE;
    const std::wstring_view sep(OrEmpty(delims));
    const std::wstring_view text = view();
    size_t at = 0;
    for (int n = 1;; ++n) {
        const size_t begin = text.find_first_not_of(sep, at);
        if (begin == std::wstring_view::npos) return FALSE;
        const size_t end = text.find_first_of(sep, begin);
        if (n == index) {
            token = CQvString(text.substr(begin, end == std::wstring_view::npos ? std::wstring_view::npos : end - begin));
            return TRUE;
        }
        if (end == std::wstring_view::npos) return FALSE;
        at = end;
    }
}

bool CQvString::operator<(const wchar_t* other) const { return view() < std::wstring_view(OrEmpty(other)); }

bool CQvString::operator==(const wchar_t* other) const { return view() == std::wstring_view(OrEmpty(other)); }
