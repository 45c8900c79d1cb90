// UTF-8 <-> wchar_t conversion that keeps bytes which are not UTF-8 (same code on every host).
#include "platform/QvPlatform.h"

namespace qvp {

namespace {

// Bytes that are not part of valid UTF-8 decode to U+DC00 + byte (only 0x80..0xFF occur).
const uint32_t kEscapeBase = 0xDC00;
const uint32_t kReplacement = 0xFFFD;

bool IsEscape(uint32_t cp) { return cp >= 0xDC80 && cp <= 0xDCFF; }
bool IsSurrogate(uint32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }
bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Decodes one well-formed UTF-8 sequence at s[i]; returns its length, or 0 when the bytes there
// are not valid UTF-8 (overlong forms, surrogates and values past U+10FFFF are refused).
size_t DecodeOne(const std::string& s, size_t i, uint32_t& cp) {
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
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const unsigned char b = static_cast<unsigned char>(s[i + k]);
        if (!IsContinuation(b)) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || IsSurrogate(cp)) return 0;
    return len;
}

void AppendCodePoint(std::wstring& out, uint32_t cp) {
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads one code point from s[i]; joins UTF-16 surrogate pairs where wchar_t is 16 bits.
size_t ReadWide(const std::wstring& s, size_t i, uint32_t& cp) {
    cp = static_cast<uint32_t>(s[i]);
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size()) {
        const uint32_t lo = static_cast<uint32_t>(s[i + 1]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            return 2;
        }
    }
    return 1;
}

}  // namespace

std::string WideToUtf8(const std::wstring& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        i += ReadWide(s, i, cp);
        if (IsEscape(cp))
            out += static_cast<char>(cp - kEscapeBase);
        else if (IsSurrogate(cp) || cp > 0x10FFFF)
            AppendUtf8(out, kReplacement);  // a lone surrogate has no UTF-8 form
        else
            AppendUtf8(out, cp);
    }
    return out;
}

std::wstring Utf8ToWide(const std::string& s) {
    std::wstring out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        const size_t len = DecodeOne(s, i, cp);
        if (len == 0) {
            AppendCodePoint(out, kEscapeBase + static_cast<unsigned char>(s[i]));
            ++i;
        } else {
            AppendCodePoint(out, cp);
            i += len;
        }
    }
    return out;
}

}  // namespace qvp
