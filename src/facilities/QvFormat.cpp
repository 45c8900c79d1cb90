// printf-style formatting that reads every conversion as the Windows C library does, on any host.
#include "facilities/QvFormat.h"

#include "facilities/CQvPathText.h"

#include "platform/QvPlatform.h"

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <new>
#include <string>

namespace {

// Upper bound for widths and precisions, so a stray "%999999999d" cannot exhaust memory.
const int kMaxWidth = 1 << 20;

const wchar_t kWrongKind[] = L"(?)";
const wchar_t kMissing[] = L"(missing)";

// One parsed conversion: "%[flags][width][.precision][length]conv".
struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // -1: none given
    int bits = 32;       // integer size the length modifier selects
    wchar_t conv = 0;
};

// Walks the argument list; running out yields None arguments instead of reading past the end.
class ArgCursor {
public:
    ArgCursor(const QvFormatArg* args, size_t count) : m_args(args), m_count(args ? count : 0) {}
    bool Next(QvFormatArg& arg) {
        if (m_next >= m_count) return false;
        arg = m_args[m_next++];
        return true;
    }

private:
    const QvFormatArg* m_args;
    size_t m_count;
    size_t m_next = 0;
};

int ClampWidth(long long v) {
    if (v > kMaxWidth) return kMaxWidth;
    if (v < -kMaxWidth) return -kMaxWidth;
    return static_cast<int>(v);
}

bool IsIntegerKind(const QvFormatArg& a) {
    return a.kind() == QvFormatArg::Signed || a.kind() == QvFormatArg::Unsigned ||
           a.kind() == QvFormatArg::WideChar;
}

// A "*" width or precision: the next argument, which must be an integer (otherwise 0).
long long StarValue(ArgCursor& cur) {
    QvFormatArg a;
    if (!cur.Next(a) || !IsIntegerKind(a)) return 0;
    return static_cast<long long>(static_cast<int>(a.asUnsigned()));
}

void ParseFlags(const wchar_t*& p, Spec& s) {
    for (;; ++p) {
        switch (*p) {
            case L'-': s.left = true; break;
            case L'+': s.plus = true; break;
            case L' ': s.space = true; break;
            case L'#': s.alt = true; break;
            case L'0': s.zero = true; break;
            default: return;
        }
    }
}

int ParseNumber(const wchar_t*& p) {
    long long v = 0;
    while (*p >= L'0' && *p <= L'9') {
        if (v <= kMaxWidth) v = v * 10 + (*p - L'0');
        ++p;
    }
    return ClampWidth(v);
}

void ParseWidthAndPrecision(const wchar_t*& p, Spec& s, ArgCursor& cur) {
    if (*p == L'*') {
        ++p;
        const int w = ClampWidth(StarValue(cur));
        if (w < 0) s.left = true;
        s.width = w < 0 ? -w : w;
    } else {
        s.width = ParseNumber(p);
    }
    if (*p != L'.') return;
    ++p;
    if (*p == L'*') {
        ++p;
        const int prec = ClampWidth(StarValue(cur));
        s.precision = prec < 0 ? -1 : prec;  // a negative "*" precision counts as none
    } else {
        s.precision = ParseNumber(p);
    }
}

bool Starts(const wchar_t* p, const wchar_t* text) {
    for (; *text; ++p, ++text)
        if (*p != *text) return false;
    return true;
}

// Length modifiers; "l" stays 32 bits because long is 32 bits on Windows.
void ParseLength(const wchar_t*& p, Spec& s) {
    const int ptrBits = static_cast<int>(sizeof(void*) * 8);
    if (Starts(p, L"I64")) { s.bits = 64; p += 3; }
    else if (Starts(p, L"I32")) { s.bits = 32; p += 3; }
    else if (Starts(p, L"ll")) { s.bits = 64; p += 2; }
    else if (Starts(p, L"hh")) { s.bits = 8; p += 2; }
    else if (*p == L'h') { s.bits = 16; ++p; }
    else if (*p == L'l' || *p == L'w') { s.bits = 32; ++p; }
    else if (*p == L'L' || *p == L'j') { s.bits = 64; ++p; }
    else if (*p == L'I' || *p == L'z' || *p == L't') { s.bits = ptrBits; ++p; }
}

template <class Out>
void Pad(Out& out, int count, wchar_t ch) {
    if (count > 0) out.append(static_cast<size_t>(count), ch);
}

// Places body (with its sign or prefix) in the field, honouring "-" and the zero flag.
template <class Out>
void EmitField(Out& out, const Spec& s, const std::wstring& prefix,
               const std::wstring& body, bool zeroPad) {
    const int len = static_cast<int>(prefix.size() + body.size());
    const int fill = s.width - len;
    if (s.left) {
        out += prefix;
        out += body;
        Pad(out, fill, L' ');
    } else if (zeroPad) {
        out += prefix;
        Pad(out, fill, L'0');
        out += body;
    } else {
        Pad(out, fill, L' ');
        out += prefix;
        out += body;
    }
}

unsigned long long LowBits(unsigned long long v, int bits) {
    return bits >= 64 ? v : (v & ((1ULL << bits) - 1));
}

std::wstring Digits(unsigned long long v, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::wstring d;
    do {
        d.insert(d.begin(), static_cast<wchar_t>(set[v % base]));
        v /= base;
    } while (v);
    return d;
}

// Whether the field is the value alone: no width, no precision.
bool Plain(const Spec& s) { return s.width == 0 && s.precision < 0; }

// Decimal digits of v, with a leading "-" when negative, appended in one piece.
template <class Out>
void AppendDecimal(Out& out, unsigned long long v, bool negative) {
    wchar_t buf[24];
    wchar_t* end = buf + 24;
    wchar_t* p = end;
    do {
        *--p = static_cast<wchar_t>(L'0' + v % 10);
        v /= 10;
    } while (v);
    if (negative) *--p = L'-';
    out.append(p, end);
}

template <class Out>
void FormatInteger(Out& out, const Spec& s, const QvFormatArg& a) {
    const unsigned long long raw = LowBits(a.asUnsigned(), s.bits);
    const bool isSigned = s.conv == L'd' || s.conv == L'i';
    bool negative = false;
    unsigned long long mag = raw;
    if (isSigned && s.bits < 64 && (raw >> (s.bits - 1)) & 1) {
        negative = true;
        mag = (1ULL << s.bits) - raw;
    } else if (isSigned && s.bits >= 64 && static_cast<long long>(raw) < 0) {
        negative = true;
        mag = 0 - raw;
    }
    // A decimal without flags, width or precision, nearly every number of a trace.
    if (Plain(s) && s.conv != L'x' && s.conv != L'X' && s.conv != L'o' && !s.plus && !s.space) {
        AppendDecimal(out, mag, negative);
        return;
    }
    const unsigned base = (s.conv == L'x' || s.conv == L'X') ? 16 : (s.conv == L'o' ? 8 : 10);
    std::wstring body = (s.precision == 0 && mag == 0) ? std::wstring() : Digits(mag, base, s.conv == L'X');
    if (s.precision > static_cast<int>(body.size()))
        body.insert(0, static_cast<size_t>(s.precision) - body.size(), L'0');
    std::wstring prefix;
    if (negative) prefix = L"-";
    else if (isSigned && s.plus) prefix = L"+";
    else if (isSigned && s.space) prefix = L" ";
    if (s.alt && mag != 0 && base == 16) prefix += (s.conv == L'X') ? L"0X" : L"0x";
    if (s.alt && base == 8 && (body.empty() || body[0] != L'0')) body.insert(0, 1, L'0');
    EmitField(out, s, prefix, body, s.zero && s.precision < 0);
}

template <class Out>
void FormatFloat(Out& out, const Spec& s, double v) {
    std::string fmt = "%";
    if (s.left) fmt += '-';
    if (s.plus) fmt += '+';
    if (s.space) fmt += ' ';
    if (s.alt) fmt += '#';
    if (s.zero) fmt += '0';
    fmt += std::to_string(s.width);
    if (s.precision >= 0) fmt += "." + std::to_string(s.precision);
    fmt += static_cast<char>(s.conv);
    const int n = std::snprintf(nullptr, 0, fmt.c_str(), v);
    if (n < 0) {
        out += kWrongKind;
        return;
    }
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&buf[0], buf.size(), fmt.c_str(), v);
    out.append(buf.begin(), buf.begin() + n);
}

template <class Out>
void FormatString(Out& out, const Spec& s, const QvFormatArg& a) {
    // The common case, a text as it is, goes straight into the output.
    if (Plain(s) && a.kind() == QvFormatArg::WideString && a.asWide()) {
        out += a.asWide();
        return;
    }
    std::wstring body;
    if (a.kind() == QvFormatArg::WideString) {
        body = a.asWide() ? a.asWide() : L"(null)";
    } else if (a.kind() == QvFormatArg::NarrowString) {
        body = a.asNarrow() ? qvp::Utf8ToWide(a.asNarrow()) : L"(null)";
    } else if (a.kind() == QvFormatArg::PathText) {
        body = a.asPathText()->str();
    } else {
        out += kWrongKind;
        return;
    }
    if (s.precision >= 0 && static_cast<size_t>(s.precision) < body.size()) body.resize(static_cast<size_t>(s.precision));
    EmitField(out, s, std::wstring(), body, s.zero);
}

template <class Out>
void FormatChar(Out& out, const Spec& s, const QvFormatArg& a) {
    if (!IsIntegerKind(a)) {
        out += kWrongKind;
        return;
    }
    EmitField(out, s, std::wstring(), std::wstring(1, static_cast<wchar_t>(a.asUnsigned())), s.zero);
}

// "%p": the address in upper-case hex, as wide as a pointer, as Windows prints it.
template <class Out>
void FormatPointer(Out& out, const Spec& s, const QvFormatArg& a) {
    const void* ptr = nullptr;
    switch (a.kind()) {
        case QvFormatArg::Pointer: ptr = a.asPointer(); break;
        case QvFormatArg::WideString: ptr = a.asWide(); break;
        case QvFormatArg::NarrowString: ptr = a.asNarrow(); break;
        default: out += kWrongKind; return;
    }
    std::wstring body = Digits(reinterpret_cast<uintptr_t>(ptr), 16, true);
    body.insert(0, sizeof(void*) * 2 - body.size(), L'0');
    EmitField(out, s, std::wstring(), body, false);
}

bool IsFloatConv(wchar_t c) {
    return c == L'e' || c == L'E' || c == L'f' || c == L'F' || c == L'g' || c == L'G' ||
           c == L'a' || c == L'A';
}

// The conversions that take an argument; any other letter is printed as it stands.
bool IsKnownConv(wchar_t c) {
    return c == L'd' || c == L'i' || c == L'u' || c == L'x' || c == L'X' || c == L'o' || c == L'c' ||
           c == L'C' || c == L's' || c == L'S' || c == L'p' || c == L'n' || IsFloatConv(c);
}

// Formats one argument by its conversion; false when the conversion is not one we know.
template <class Out>
bool FormatOne(Out& out, const Spec& s, ArgCursor& cur) {
    const wchar_t c = s.conv;
    if (!IsKnownConv(c)) return false;
    QvFormatArg a;
    if (!cur.Next(a)) {
        out += kMissing;
        return true;
    }
    if (c == L's' || c == L'S') FormatString(out, s, a);
    else if (c == L'c' || c == L'C') FormatChar(out, s, a);
    else if (c == L'p') FormatPointer(out, s, a);
    else if (c == L'n') out += kWrongKind;  // writing through an argument is never done
    else if (IsFloatConv(c)) {
        if (a.kind() == QvFormatArg::Float) FormatFloat(out, s, a.asDouble());
        else out += kWrongKind;
    } else if (IsIntegerKind(a)) FormatInteger(out, s, a);
    else out += kWrongKind;
    return true;
}

// Handles the conversion starting at p (just after "%"); returns where the text goes on.
template <class Out>
const wchar_t* FormatConversion(Out& out, const wchar_t* start, ArgCursor& cur) {
    const wchar_t* p = start;
    if (*p == L'%') {
        out += L'%';
        return p + 1;
    }
    Spec s;
    if (*p == L's' || *p == L'd') {
        // "%s" or "%d" alone, most conversions of a trace: nothing to parse.
        s.conv = *p;
        FormatOne(out, s, cur);
        return p + 1;
    }
    ParseFlags(p, s);
    ParseWidthAndPrecision(p, s, cur);
    ParseLength(p, s);
    s.conv = *p;
    if (s.conv == 0) {
        // A lone "%" (perhaps with flags) at the end is kept as text.
        out += L'%';
        out.append(start, p);
        return p;
    }
    if (!FormatOne(out, s, cur)) {
        out += L'%';
        out.append(start, p + 1);
    }
    return p + 1;
}

// Pieces of a text to a QvFormatOut, through the members of std::wstring the formatting uses.
class PieceOut {
public:
    explicit PieceOut(QvFormatOut& out) : m_out(out) {}
    void append(const wchar_t* begin, const wchar_t* end) {
        if (end > begin) m_out.Put(begin, static_cast<size_t>(end - begin));
    }
    void append(size_t count, wchar_t ch) {
        wchar_t run[64];
        std::wmemset(run, ch, 64);
        for (; count > 64; count -= 64) m_out.Put(run, 64);
        if (count > 0) m_out.Put(run, count);
    }
    // Narrow text (a formatted floating-point number): ASCII.
    void append(std::string::const_iterator begin, std::string::const_iterator end) {
        const std::wstring wide(begin, end);
        m_out.Put(wide.data(), wide.size());
    }
    PieceOut& operator+=(wchar_t ch) {
        m_out.Put(&ch, 1);
        return *this;
    }
    PieceOut& operator+=(const wchar_t* text) {
        m_out.Put(text, std::wcslen(text));
        return *this;
    }
    PieceOut& operator+=(const std::wstring& text) {
        m_out.Put(text.data(), text.size());
        return *this;
    }

private:
    QvFormatOut& m_out;
};

template <class Out>
void FormatAll(Out& out, const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    if (!fmt) return;
    ArgCursor cur(args, count);
    const wchar_t* p = fmt;
    while (*p) {
        // Formats are long texts with a few conversions: the C library finds the next one.
        const wchar_t* pct = std::wcschr(p, L'%');
        if (!pct) pct = p + std::wcslen(p);
        out.append(p, pct);
        if (!*pct) break;
        p = FormatConversion(out, pct + 1, cur);
    }
}

}  // namespace

void QvFormatAppendV(std::wstring& out, const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    FormatAll(out, fmt, args, count);
}

const wchar_t* QvFormatConversionEnd(const wchar_t* start) {
    if (!start) return nullptr;
    // The conversion is read as FormatConversion reads it, with no arguments to take.
    Spec s;
    ArgCursor none(nullptr, 0);
    const wchar_t* p = start;
    ParseFlags(p, s);
    const wchar_t* const width = p;
    ParseWidthAndPrecision(p, s, none);
    // A "*" width or precision takes an argument of its own.
    if (std::wmemchr(width, L'*', static_cast<size_t>(p - width))) return nullptr;
    ParseLength(p, s);
    return IsKnownConv(*p) ? p + 1 : nullptr;
}

void QvFormatToV(QvFormatOut& out, const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    PieceOut pieces(out);
    FormatAll(pieces, fmt, args, count);
}

std::wstring QvFormatV(const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    std::wstring out;
    // Room for a path or two beside the format, so the text is rarely moved while it grows.
    out.reserve(128);
    QvFormatAppendV(out, fmt, args, count);
    return out;
}
