// Wide-character string: value semantics, search, case folding and tokens.
#include "facilities/CQvString.h"

#include "platform/QvPlatform.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace {

// Case-folded character code, compared as an unsigned number so order is the same on every host.
uint32_t Folded(wchar_t c) { return static_cast<uint32_t>(qvp::ToLowerChar(c)); }

const wchar_t* OrEmpty(const wchar_t* psz) { return psz ? psz : L""; }

}  // namespace

CQvString::CQvString() {}

CQvString::CQvString(const wchar_t* psz) : m_str(OrEmpty(psz)) {}

CQvString::CQvString(const std::wstring& s) : m_str(s) {}

CQvString::CQvString(const CQvString& other) : m_str(other.m_str) {}

CQvString::CQvString(CQvString&& other) noexcept : m_str(std::move(other.m_str)) {}

CQvString::~CQvString() {}

CQvString& CQvString::operator=(const CQvString& other) {
    m_str = other.m_str;
    return *this;
}

CQvString& CQvString::operator=(CQvString&& other) noexcept {
    m_str = std::move(other.m_str);
    return *this;
}

CQvString& CQvString::operator=(const wchar_t* psz) {
    // assign() copes with psz pointing into our own buffer.
    m_str.assign(OrEmpty(psz));
    return *this;
}

BOOL CQvString::FormatV(const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    if (!fmt) return FALSE;
    m_str = QvFormatV(fmt, args, count);
    return TRUE;
}

CQvString& CQvString::operator+=(const wchar_t* psz) {
    m_str.append(OrEmpty(psz));
    return *this;
}

CQvString& CQvString::operator+=(wchar_t ch) {
    m_str.push_back(ch);
    return *this;
}

void CQvString::Empty() { m_str.clear(); }

BOOL CQvString::IsEmpty() const { return m_str.empty() ? TRUE : FALSE; }

int CQvString::GetLength() const { return static_cast<int>(m_str.size()); }

wchar_t CQvString::GetAt(int index) const {
    if (index < 0 || index >= GetLength()) return 0;
    return m_str[static_cast<size_t>(index)];
}

CQvString CQvString::Left(int count) const {
    if (count <= 0) return CQvString();
    return CQvString(m_str.substr(0, static_cast<size_t>(count)));
}

CQvString CQvString::Right(int count) const {
    if (count <= 0) return CQvString();
    const size_t n = std::min(static_cast<size_t>(count), m_str.size());
    return CQvString(m_str.substr(m_str.size() - n));
}

CQvString CQvString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count <= 0 || first >= GetLength()) return CQvString();
    return CQvString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

// ASCII, most of any path, is mapped here; other letters go to the platform's tables.
void CQvString::MakeLower() {
    for (wchar_t& c : m_str) {
        if (static_cast<uint32_t>(c) < 0x80)
            c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
        else
            c = qvp::ToLowerChar(c);
    }
}

void CQvString::MakeUpper() {
    for (wchar_t& c : m_str) {
        if (static_cast<uint32_t>(c) < 0x80)
            c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
        else
            c = qvp::ToUpperChar(c);
    }
}

BOOL CQvString::Find(const wchar_t* text, int& pos, int start) const {
    if (!text) return FALSE;
    if (start < 0) start = 0;
    if (start > GetLength()) return FALSE;
    const size_t at = m_str.find(text, static_cast<size_t>(start));
    if (at == std::wstring::npos) return FALSE;
    pos = static_cast<int>(at);
    return TRUE;
}

BOOL CQvString::ReverseFind(wchar_t ch, int& pos) const {
    const size_t at = m_str.rfind(ch);
    if (at == std::wstring::npos) return FALSE;
    pos = static_cast<int>(at);
    return TRUE;
}

int CQvString::CompareNoCase(const wchar_t* text) const {
    const wchar_t* a = m_str.c_str();
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
    const std::wstring from(oldText);
    const std::wstring to(OrEmpty(newText));
    std::wstring out;
    int replaced = 0;
    size_t at = 0;
    // Left to right without rescanning what was inserted, so "aaa" with "aa" -> "b" gives "ba".
    for (size_t hit; (hit = m_str.find(from, at)) != std::wstring::npos; at = hit + from.size()) {
        out.append(m_str, at, hit - at);
        out += to;
        ++replaced;
    }
    if (replaced == 0) return 0;
    out.append(m_str, at, std::wstring::npos);
    m_str.swap(out);
    return replaced;
}

BOOL CQvString::GetToken(const wchar_t* delims, CQvString& token, int index) const {
    if (index < 1) return FALSE;
    const std::wstring sep(OrEmpty(delims));
    size_t at = 0;
    for (int n = 1;; ++n) {
        const size_t begin = m_str.find_first_not_of(sep, at);
        if (begin == std::wstring::npos) return FALSE;
        const size_t end = m_str.find_first_of(sep, begin);
        if (n == index) {
            token = CQvString(m_str.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin));
            return TRUE;
        }
        if (end == std::wstring::npos) return FALSE;
        at = end;
    }
}

bool CQvString::operator<(const wchar_t* other) const { return m_str.compare(OrEmpty(other)) < 0; }

bool CQvString::operator==(const wchar_t* other) const { return m_str.compare(OrEmpty(other)) == 0; }
