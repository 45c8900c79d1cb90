// printf-style formatting with the Windows meaning of every conversion, made type-safe.
//
// "%s" takes a wide string, "%c" a wide character, "%d"/"%u"/"%x" 32-bit integers (a wider
// argument is cut to its low 32 bits, as the Windows C library reads it), "%lld"/"%I64d"
// 64-bit integers, "%hu" 16-bit; flags, width, precision and "%%" as usual. An argument of the
// wrong kind, or a missing one, prints a marker instead of doing anything undefined.
#ifndef QVFORMAT_H
#define QVFORMAT_H

#include "QvSplit.h"

#include <string>
#include <type_traits>

class CQvPathText;

// One formatting argument, captured by kind.
class QVSPLIT_API QvFormatArg {
public:
    enum Kind { None, Signed, Unsigned, Float, WideString, WideChar, NarrowString, PathText, Pointer };

    QvFormatArg() : m_kind(None) {}
    QvFormatArg(short v) : m_kind(Signed) { m_i = v; }
    QvFormatArg(unsigned short v) : m_kind(Unsigned) { m_u = v; }
    QvFormatArg(int v) : m_kind(Signed) { m_i = v; }
    QvFormatArg(unsigned int v) : m_kind(Unsigned) { m_u = v; }
    QvFormatArg(long v) : m_kind(Signed) { m_i = v; }
    QvFormatArg(unsigned long v) : m_kind(Unsigned) { m_u = v; }
    QvFormatArg(long long v) : m_kind(Signed) { m_i = v; }
    QvFormatArg(unsigned long long v) : m_kind(Unsigned) { m_u = v; }
    QvFormatArg(double v) : m_kind(Float) { m_d = v; }
    QvFormatArg(wchar_t v) : m_kind(WideChar) { m_u = static_cast<unsigned long long>(v); }
    QvFormatArg(const wchar_t* v) : m_kind(WideString) { m_ws = v; }
    QvFormatArg(const std::wstring& v) : m_kind(WideString) { m_ws = v.c_str(); }
    QvFormatArg(const char* v) : m_kind(NarrowString) { m_s = v; }
    // Widened only when the text is formatted (a log line below the level never is).
    // A template, so that nothing else converts to it on the way.
    template <class T, typename std::enable_if<std::is_same<T, CQvPathText>::value, int>::type = 0>
    QvFormatArg(const T& v) : m_kind(PathText) { m_pt = &v; }
    QvFormatArg(const void* v) : m_kind(Pointer) { m_p = v; }

    Kind kind() const { return m_kind; }
    long long asSigned() const { return m_i; }
    unsigned long long asUnsigned() const { return m_u; }
    double asDouble() const { return m_d; }
    const wchar_t* asWide() const { return m_ws; }
    const char* asNarrow() const { return m_s; }
    const CQvPathText* asPathText() const { return m_pt; }
    const void* asPointer() const { return m_p; }

private:
    Kind m_kind;
    union {
        long long m_i;
        unsigned long long m_u;
        double m_d;
        const wchar_t* m_ws;
        const char* m_s;
        const CQvPathText* m_pt;
        const void* m_p;
    };
};

// Formats fmt with count arguments. When memory runs out it throws std::bad_alloc: a text cut
// short would pass for a whole one (a path naming another file, a part list entry that no
// longer says where the parts are).
QVSPLIT_API std::wstring QvFormatV(const wchar_t* fmt, const QvFormatArg* args, size_t count);
// The same, appended to out (whose memory a caller formatting many texts may keep).
QVSPLIT_API void QvFormatAppendV(std::wstring& out, const wchar_t* fmt, const QvFormatArg* args, size_t count);

// Takes a formatted text piece by piece (QvFormatToV), for a caller that turns it into
// something else on the way, such as the bytes of a log line, rather than keep it whole.
class QVSPLIT_API QvFormatOut {
public:
    virtual void Put(const wchar_t* text, size_t length) = 0;

protected:
    ~QvFormatOut() = default;
};
// The text QvFormatV makes, handed to out in pieces.
QVSPLIT_API void QvFormatToV(QvFormatOut& out, const wchar_t* fmt, const QvFormatArg* args, size_t count);

// The end of the conversion that begins at start (just after its "%") when it takes exactly
// one argument (no "*" width or precision, not "%%"); null otherwise.
QVSPLIT_API const wchar_t* QvFormatConversionEnd(const wchar_t* start);

// Formats fmt with the given arguments (any type QvFormatArg takes, CQvString included).
template <class... A>
std::wstring QvFormat(const wchar_t* fmt, const A&... args) {
    const QvFormatArg list[] = {QvFormatArg(args)..., QvFormatArg()};
    return QvFormatV(fmt, list, sizeof...(A));
}

#endif
