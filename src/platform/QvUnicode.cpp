// UTF-8 <-> wchar_t conversion, and host file names <-> Windows names (same code on every host).
#include "platform/QvPlatform.h"

#include <type_traits>

namespace qvp {

namespace {

// A byte that is not part of valid UTF-8 decodes to U+F000 + byte (only 0x80..0xFF occur), a
// private-use character: lone surrogates, as some systems use, are not allowed in XML 1.0.
const uint32_t kEscapeBase = 0xF000;
const uint32_t kReplacement = 0xFFFD;

bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }
bool IsEscapeRange(uint32_t cp) { return cp >= kEscapeBase && cp <= kEscapeBase + 0xFF; }

// The characters Windows refuses in a name; '/' is absent, as no host name can hold it.
bool IsForbiddenInName(uint32_t c) {
    if (c >= 0x01 && c < 0x20) return true;
    switch (c) {
    case '\\': case '*': case '?': case ':': case '"': case '<': case '>': case '|': return true;
    default: return false;
    }
}

// Whether the name character U+F000 + b stands for the host byte b.
bool IsNameEscape(uint32_t cp) {
    if (!IsEscapeRange(cp)) return false;
    const uint32_t b = cp - kEscapeBase;
    return b >= 0x80 || IsForbiddenInName(b);
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at s[i] (n bytes in all); returns its length, or 0
// when the bytes there are not valid UTF-8 (overlong forms, surrogates and values past
// U+10FFFF are refused).
size_t DecodeOne(const char* s, size_t n, size_t i, uint32_t& cp) {
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + len > n) return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if (!IsContinuation(b)) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
    return len;
}

// Writes one code point as UTF-16 (where wchar_t is 16 bits) or UTF-32; returns the units.
size_t PutCodePoint(wchar_t* out, uint32_t cp) {
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        cp -= 0x10000;
        out[0] = static_cast<wchar_t>(0xD800 + (cp >> 10));
        out[1] = static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        return 2;
    }
    out[0] = static_cast<wchar_t>(cp);
    return 1;
}

// Writes one code point as UTF-8; returns the bytes written (at most 4).
size_t PutUtf8(char* out, uint32_t cp) {
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

// Reads one code point from s[i]; joins UTF-16 surrogate pairs where wchar_t is 16 bits.
size_t ReadWide(const wchar_t* s, size_t n, size_t i, uint32_t& cp) {
    cp = static_cast<uint32_t>(s[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n) {
        const uint32_t lo = static_cast<uint32_t>(s[i + 1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            return 2;
        }
    }
    return 1;
}

// Length of the run of ASCII characters at the start, found eight at a time while it lasts.
template <class C>
size_t AsciiPrefix(const C* s, size_t n) {
    typedef typename std::make_unsigned<C>::type U;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        U any = 0;
        for (size_t k = 0; k < 8; ++k) any |= static_cast<U>(s[i + k]);
        if (any >= 0x80) break;
    }
    while (i < n && static_cast<U>(s[i]) < 0x80) ++i;
    return i;
}

// Length of the run at the start that a name keeps as it is: ASCII other than the characters
// Windows refuses in names.
template <class C>
size_t PlainNamePrefix(const C* s, size_t n) {
    typedef typename std::make_unsigned<C>::type U;
    size_t i = 0;
    while (i < n && static_cast<U>(s[i]) < 0x80 && !IsForbiddenInName(static_cast<U>(s[i]))) ++i;
    return i;
}

// UTF-8 to wide; as a host name (asName) when the characters Windows refuses are mapped too.
std::wstring Decode(const char* s, size_t n, bool asName) {
    // Every byte gives at most one unit, except four-byte forms (two units from four bytes).
    const size_t plain = asName ? PlainNamePrefix(s, n) : AsciiPrefix(s, n);
    std::wstring out(n, L'\0');
    wchar_t* o = &out[0];
    for (size_t i = 0; i < plain; ++i) o[i] = static_cast<wchar_t>(s[i]);
    if (plain == n) return out;
    size_t used = plain;
    for (size_t i = plain; i < n;) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            o[used++] = static_cast<wchar_t>(asName && IsForbiddenInName(b) ? kEscapeBase + b : b);
            ++i;
            continue;
        }
        uint32_t cp;
        const size_t len = DecodeOne(s, n, i, cp);
        if (len == 0) {
            used += PutCodePoint(o + used, kEscapeBase + b);
            ++i;
        } else if (asName && IsNameEscape(cp)) {
            // A name already holding a character of the mapping lists it byte by byte, so it
            // cannot collide with the name whose refused character maps to it.
            for (size_t k = 0; k < len; ++k)
                o[used++] = static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(s[i + k]));
            i += len;
        } else {
            used += PutCodePoint(o + used, cp);
            i += len;
        }
    }
    out.resize(used);
    return out;
}

// Wide to UTF-8; as a host name (asName) when the mapped characters go back to their bytes.
// Wide to UTF-8, appended to out; as a host name (asName) when the mapped characters go back
// to the bytes they stand for.
void EncodeInto(const wchar_t* s, size_t n, bool asName, std::string& out) {
    // The plain start is copied in a loop the compiler can vectorise; the rest, if any, is
    // encoded character by character into room for the worst case.
    const size_t plain = asName ? PlainNamePrefix(s, n) : AsciiPrefix(s, n);
    const size_t start = out.size();
    out.resize(start + (plain == n ? n : plain + (n - plain) * 4));
    char* o = &out[start];
    for (size_t i = 0; i < plain; ++i) o[i] = static_cast<char>(s[i]);
    if (plain == n) return;
    size_t used = plain;
    for (size_t i = plain; i < n;) {
        const uint32_t c = static_cast<uint32_t>(s[i]);
        if (c < 0x80) {
            o[used++] = static_cast<char>(c);
            ++i;
            continue;
        }
        uint32_t cp;
        i += ReadWide(s, n, i, cp);
        if (asName && IsNameEscape(cp))
            o[used++] = static_cast<char>(cp - kEscapeBase);
        else if (IsSurrogate(cp) || cp > 0x10FFFF)
            used += PutUtf8(o + used, kReplacement);  // a lone surrogate has no UTF-8 form
        else
            used += PutUtf8(o + used, cp);
    }
    out.resize(start + used);
}

std::string Encode(const wchar_t* s, size_t n, bool asName) {
    std::string out;
    EncodeInto(s, n, asName, out);
    return out;
}

}  // namespace

// Both directions size the result for the worst case first and shrink it at the end: paths are
// converted for every file of a tree, and appending byte by byte cost more than the rest of a
// listing. A run of ASCII, by far the most common text, is copied without decoding.
std::string WideToUtf8(const wchar_t* s, size_t n) { return Encode(s, n, false); }

void AppendUtf8(const wchar_t* s, size_t n, std::string& out) { EncodeInto(s, n, false, out); }

std::wstring Utf8ToWide(const char* s, size_t n) { return Decode(s, n, false); }

std::string WideToUtf8(const std::wstring& s) { return WideToUtf8(s.data(), s.size()); }

std::wstring Utf8ToWide(const std::string& s) { return Utf8ToWide(s.data(), s.size()); }

// Host names map into Windows names as Cygwin and WSL map them: U+F000 + the refused byte.
std::wstring HostNameToWide(const char* s, size_t n) { return Decode(s, n, true); }

std::string WideToHostName(const wchar_t* s, size_t n) { return Encode(s, n, true); }

void AppendHostName(const wchar_t* s, size_t n, std::string& out) { EncodeInto(s, n, true, out); }

std::wstring HostNameToWide(const std::string& s) { return HostNameToWide(s.data(), s.size()); }

std::string WideToHostName(const std::wstring& s) { return WideToHostName(s.data(), s.size()); }

}  // namespace qvp
