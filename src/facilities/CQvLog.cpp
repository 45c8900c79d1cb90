// The process-wide trace log: scopes, levels, UTF-8 lines gathered and written out in blocks.
#include "facilities/CQvLog.h"

#include "platform/QvPlatform.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

// Deeper scopes are not indented further, so a runaway recursion cannot make huge lines.
const size_t kMaxIndent = 32;

// Gathered lines are written out once they fill this much: one write per few thousand lines
// instead of one per line, which is what made a full trace cost five times the split itself.
const size_t kBlockBytes = 256 * 1024;

// Longest text before a record's own: time stamp, space, indentation, "[WARNING] ".
const size_t kMaxHead = 24 + 2 * kMaxIndent + 12;

// Most UTF-8 bytes one wchar_t unit becomes, escaped line breaks (2) included.
const size_t kMaxBytesPerUnit = 4;

// A bound beyond this many MiB is refused as a typing error (it would overflow nothing, but
// no log is meant to reach 16 TiB).
const unsigned long long kMaxMegabytes = 1ULL << 24;

FILE* AsFile(void* p) { return static_cast<FILE*>(p); }

// Writes one code point as UTF-8; returns the end.
char* PutUtf8(char* o, uint32_t cp) {
    if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    return o;
}

// One character of a record at s[i] (a UTF-16 pair where wchar_t has 16 bits); returns the
// end of what it wrote, and moves i past what it read.
char* PutEscapedChar(char* o, const wchar_t* s, size_t n, size_t& i) {
    uint32_t cp = static_cast<uint32_t>(s[i++]);
    if (cp < 0x80) {
        if (cp == '\n' || cp == '\r') {
            *o++ = '\\';
            *o++ = cp == '\n' ? 'n' : 'r';
        } else {
            *o++ = static_cast<char>(cp);
        }
        return o;
    }
    if (sizeof(wchar_t) == 2 && cp >= 0xD800 && cp <= 0xDBFF && i < n) {
        const uint32_t lo = static_cast<uint32_t>(s[i]) & 0xFFFF;
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    return PutUtf8(o, cp);
}

// Narrows the 8 characters at s to o when all are printable ASCII; false (nothing written)
// otherwise. With SSE2 the check and the narrowing take a few instructions for all eight.
bool PutPlainEight(char* o, const wchar_t* s) {
#if defined(__SSE2__) || defined(_M_X64)
    if constexpr (sizeof(wchar_t) == 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4));
        // Compared as signed: a value past 0x7FFFFFFF is negative, so outside as well.
        const __m128i lo = _mm_set1_epi32(0x20);
        const __m128i hi = _mm_set1_epi32(0x7E);
        const __m128i outside = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi32(a, lo), _mm_cmpgt_epi32(a, hi)),
                                             _mm_or_si128(_mm_cmplt_epi32(b, lo), _mm_cmpgt_epi32(b, hi)));
        if (_mm_movemask_epi8(outside) != 0) return false;
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), bytes);
        return true;
    } else {
        // 16-bit units, compared as signed: one past 0x7FFF is negative, so outside as well.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i outside =
            _mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(0x20)), _mm_cmpgt_epi16(v, _mm_set1_epi16(0x7E)));
        if (_mm_movemask_epi8(outside) != 0) return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, _mm_setzero_si128()));
        return true;
    }
#else
    bool plain = true;
    for (size_t k = 0; k < 8; ++k) plain &= static_cast<uint32_t>(s[k]) - 0x20u < 0x5Fu;
    if (!plain) return false;
    for (size_t k = 0; k < 8; ++k) o[k] = static_cast<char>(s[k]);
    return true;
#endif
}

// The text of a record as its line shows it, in one pass: UTF-8 by the rules of
// qvp::WideToUtf8 (UTF-16 pairs joined, a lone surrogate or a value past U+10FFFF written as
// U+FFFD), and line breaks as the two characters \n, \r so one record stays one line. o has
// room for kMaxBytesPerUnit bytes a unit; returns the end.
char* PutEscapedUtf8(char* o, const wchar_t* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        // Printable ASCII, nearly all of a trace, is narrowed eight characters at a time; a
        // block holding anything else goes one by one.
        for (; i + 8 <= n && PutPlainEight(o, s + i); i += 8) o += 8;
        // The last few after plain blocks: the last eight narrowed again, over the end of
        // what the blocks wrote (one byte a character there).
        if (i < n && i >= 8 && n - i < 8 && PutPlainEight(o - (8 - (n - i)), s + n - 8)) return o + (n - i);
        const size_t stop = std::min(i + 8, n);
        while (i < stop) o = PutEscapedChar(o, s, n, i);
    }
    return o;
}

// Room for bytes more after the first used bytes of storage, which only grows (so the
// room is not filled with zeros on every use, as resizing a string to it would).
char* RoomAfter(std::string& storage, size_t used, size_t bytes) {
    if (storage.size() < used + bytes) storage.resize(std::max(used + bytes, 2 * storage.size()));
    return &storage[used];
}

// Whether a character is the first or the second half of a UTF-16 pair.
bool IsHalfOfPair(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    return sizeof(wchar_t) == 2 && u >= 0xD800 && u <= 0xDFFF;
}

bool IsHighSurrogate(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    return sizeof(wchar_t) == 2 && u >= 0xD800 && u <= 0xDBFF;
}

// A formatted text turned into the bytes of its line as it comes (PutEscapedUtf8), appended
// after the first used bytes of storage. A UTF-16 pair that two pieces share is joined as in
// one text.
class EscapedOut : public QvFormatOut {
public:
    EscapedOut(std::string& storage, size_t& used) : m_storage(storage), m_used(used) {}
    void Put(const wchar_t* s, size_t n) override {
        if (n == 0) return;
        char* const at = RoomAfter(m_storage, m_used, (n + 1) * kMaxBytesPerUnit);
        char* o = at;
        size_t i = 0;
        if (m_pending != 0) {
            const wchar_t pair[2] = {m_pending, s[0]};
            size_t used = 0;
            o = PutEscapedChar(o, pair, 2, used);
            i = used - 1;
            m_pending = 0;
        }
        if (n > i && IsHighSurrogate(s[n - 1])) m_pending = s[--n];
        if (n > i) o = PutEscapedUtf8(o, s + i, n - i);
        m_used += static_cast<size_t>(o - at);
    }
    // Writes out a pair's first half that no second half followed.
    void Finish() {
        if (m_pending == 0) return;
        const wchar_t last[1] = {m_pending};
        m_pending = 0;
        size_t i = 0;
        char* const at = RoomAfter(m_storage, m_used, kMaxBytesPerUnit);
        m_used += static_cast<size_t>(PutEscapedChar(at, last, 1, i) - at);
    }

    // Bytes already escaped, after what came before (a pair's first half left open ends
    // there, alone).
    void PutBytes(const char* bytes, size_t n) {
        Finish();
        std::memcpy(RoomAfter(m_storage, m_used, n), bytes, n);
        m_used += n;
    }

private:
    std::string& m_storage;
    size_t& m_used;
    wchar_t m_pending = 0;
};


}  // namespace

// An entry format taken apart once: the bytes of its texts between conversions, escaped, and
// each conversion on its own, so that the next line of the same format copies its texts
// instead of converting them again. Kept by where the format is, and used only while the
// text there is still the same.
struct CQvLog::CompiledFormat {
    const wchar_t* where = nullptr;
    std::wstring source;
    bool usable = false;  // false: a conversion with "*", or "%%", or a lone "%"; not taken apart
    std::string bytes;    // the texts' bytes, one after another
    struct Piece {
        size_t bytes;             // of text before the conversion
        std::wstring conversion;  // empty for the text after the last one
        bool plainText;           // "%s" or "%S" alone
    };
    std::vector<Piece> pieces;

    void Compile(const wchar_t* fmt) {
        where = fmt;
        source = fmt;
        usable = false;
        bytes.clear();
        pieces.clear();
        size_t used = 0;
        EscapedOut out(bytes, used);
        const wchar_t* p = fmt;
        for (;;) {
            const wchar_t* pct = std::wcschr(p, L'%');
            const wchar_t* end = pct ? pct : p + std::wcslen(p);
            // A pair's halves at the edge of a text could belong with an argument's.
            if (end > p && (IsHalfOfPair(*p) || IsHalfOfPair(end[-1]))) return;
            const size_t before = used;
            out.Put(p, static_cast<size_t>(end - p));
            if (!pct) {
                pieces.push_back(Piece{used - before, std::wstring(), false});
                bytes.resize(used);
                usable = true;
                return;
            }
            const wchar_t* const convEnd = QvFormatConversionEnd(pct + 1);
            if (!convEnd) return;
            const bool plainText = convEnd == pct + 2 && (pct[1] == L's' || pct[1] == L'S');
            pieces.push_back(Piece{used - before, std::wstring(pct, convEnd), plainText});
            p = convEnd;
        }
    }

    // The text of the format with its arguments, into out: the texts' bytes as they are,
    // each conversion formatted on its own.
    void FormatInto(EscapedOut& out, const QvFormatArg* args, size_t count) const {
        size_t at = 0;
        size_t next = 0;
        for (const Piece& piece : pieces) {
            out.PutBytes(bytes.data() + at, piece.bytes);
            at += piece.bytes;
            if (piece.conversion.empty()) break;
            if (piece.plainText && next < count && args[next].kind() == QvFormatArg::WideString && args[next].asWide()) {
                // A text as it is, most arguments of a trace.
                out.Put(args[next].asWide(), std::wcslen(args[next].asWide()));
            } else {
                // Past the last argument, the conversion shows that one is missing.
                QvFormatToV(out, piece.conversion.c_str(), args + next, next < count ? 1 : 0);
            }
            if (next < count) ++next;
        }
    }
};

namespace {

// The result of ExitFunction as it follows " = " in the EXIT line.
std::wstring ResultText(const QvFormatArg& result) {
    switch (result.kind()) {
        case QvFormatArg::Signed: return QvFormatV(L"%lld", &result, 1);
        case QvFormatArg::Unsigned: return QvFormatV(L"%llu", &result, 1);
        case QvFormatArg::Float: return QvFormatV(L"%g", &result, 1);
        case QvFormatArg::WideChar: return QvFormatV(L"%c", &result, 1);
        case QvFormatArg::Pointer: return QvFormatV(L"%p", &result, 1);
        case QvFormatArg::WideString:
        case QvFormatArg::NarrowString:
        case QvFormatArg::PathText: return QvFormatV(L"%s", &result, 1);
        case QvFormatArg::None: break;
    }
    return std::wstring();
}

}  // namespace

CQvLog* CQvLog::GetInstance() {
    // Deliberately never destroyed: static destructors of other singletons may still log.
    static CQvLog* const instance = new CQvLog();
    return instance;
}

CQvLog::CQvLog() {
    SetMinimumLevel(std::getenv("QVSPLIT_LOG_LEVEL"));
    SetMaximumSize(std::getenv("QVSPLIT_LOG_MAX_MB"));
    SetDestination(std::getenv("QVSPLIT_LOG"));
    std::atexit(&CQvLog::FlushAtExit);
}

void CQvLog::FlushAtExit() {
    CQvLog* log = GetInstance();
    log->Flush();
    // Static destructors that run after this still log; nothing would write their lines out.
    log->m_exiting = true;
}

void CQvLog::SetMinimumLevel(const char* name) {
    const std::string level = name ? name : "";
    m_minRank = level == "error" ? 3 : level == "warning" ? 2 : level == "info" ? 1 : 0;
    UpdateActive();
}

void CQvLog::SetMaximumSize(const char* megabytes) {
    unsigned long long mb = kDefaultMaxMegabytes;
    if (megabytes && *megabytes >= '0' && *megabytes <= '9') {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(megabytes, &end, 10);
        if (*end == '\0' && v > 0 && v <= kMaxMegabytes) mb = v;
    }
    m_maxBytes = static_cast<uint64_t>(mb) << 20;
}

CQvLog::~CQvLog() { SetDestination(nullptr); }

void CQvLog::SetDestination(const char* path) {
    Flush();
    if (m_out && m_ownsOut) std::fclose(AsFile(m_out));
    m_out = nullptr;
    m_ownsOut = false;
    m_path.clear();
    m_fileBytes = 0;
    if (path && path[0] == '-' && path[1] == '\0') {
        m_out = stderr;
    } else if (path && *path) {
        try {
            m_path = path;
        } catch (const std::bad_alloc&) {
            path = nullptr;  // no log rather than one that could not be bounded
        }
        // Appended in binary so the bytes are exactly the UTF-8 we produce on every host.
        if (path) m_out = std::fopen(path, "ab");
        m_ownsOut = m_out != nullptr;
        if (m_out) {
            // Lines are gathered here already; a second buffer in the C library would only
            // copy them once more.
            std::setvbuf(AsFile(m_out), nullptr, _IONBF, 0);
            // Only a regular file is bounded: moving a device such as /dev/null or a named
            // pipe aside would take it from everyone else (as root, /dev/null would become a
            // plain file), and it holds nothing that grows anyway.
            if (!qvp::IsRegularFileStream(AsFile(m_out))) {
                m_path.clear();
                UpdateActive();
                return;
            }
            // A size that cannot be told (past 2 GiB where long has 32 bits) counts as past
            // the bound, so the first line begins a new file.
            const long size = std::fseek(AsFile(m_out), 0, SEEK_END) == 0 ? std::ftell(AsFile(m_out)) : -1;
            m_fileBytes = size >= 0 ? static_cast<uint64_t>(size) : m_maxBytes;
        }
    }
    UpdateActive();
}

void CQvLog::UpdateActive() {
    m_active = m_out != nullptr || m_capturing;
    m_traceActive = m_capturing || (m_out != nullptr && m_minRank == 0);
}

void CQvLog::PushScope(const wchar_t* fmt, const QvFormatArg* args, size_t count) {
    try {
        if (!fmt) {
            // Inactive: only the depth is kept, so a later EXIT still pairs with its scope.
            m_scopes.emplace_back();
            return;
        }
        Scope scope;
        if (!m_capturing) {
            // A written line needs only the bytes: the text is formatted straight into them.
            const size_t before = m_scopeUsed;
            try {
                EscapedOut out(m_scopeBytes, m_scopeUsed);
                if (const CompiledFormat* compiled = Compiled(fmt)) {
                    compiled->FormatInto(out, args, count);
                } else {
                    QvFormatToV(out, fmt, args, count);
                }
                out.Finish();
            } catch (const std::bad_alloc&) {
                m_scopeUsed = before;
                throw;
            }
            scope.encoded = m_scopeUsed - before;
        } else {
            // A capture keeps each scope's text for its EXIT record.
            QvFormatAppendV(scope.text, fmt, args, count);
            if (Writes(QvLogLevel::Enter)) {
                const size_t before = m_scopeUsed;
                EscapedOut out(m_scopeBytes, m_scopeUsed);
                out.Put(scope.text.data(), scope.text.size());
                out.Finish();
                scope.encoded = m_scopeUsed - before;
            }
        }
        Write(QvLogLevel::Enter, scope.text, nullptr, scope.encoded);
        try {
            m_scopes.push_back(std::move(scope));
        } catch (const std::bad_alloc&) {
            // The bytes belong to no scope now; left behind, later EXIT lines would take the
            // wrong ones.
            if (scope.encoded != kNotEncoded) m_scopeUsed -= scope.encoded;
            throw;
        }
    } catch (const std::bad_alloc&) {
        // Logging must never fail its caller.
    }
}

// The format taken apart, from the last time it was met here or now; null when it cannot be
// (the text is then formatted as a whole).
const CQvLog::CompiledFormat* CQvLog::Compiled(const wchar_t* fmt) {
    if (m_compiled.empty()) m_compiled.resize(kCompiledFormats);
    std::unique_ptr<CompiledFormat>& slot = m_compiled[(reinterpret_cast<uintptr_t>(fmt) >> 3) % kCompiledFormats];
    if (!slot) slot.reset(new CompiledFormat);
    // The same place may hold another text by now (a format made at run time).
    if (slot->where != fmt || std::wcsncmp(slot->source.c_str(), fmt, slot->source.size() + 1) != 0) slot->Compile(fmt);
    return slot->usable ? slot.get() : nullptr;
}

void CQvLog::ExitFunction() { PopScope(nullptr); }

void CQvLog::PopScope(const QvFormatArg* result) {
    try {
        // An unmatched exit logs an empty scope text rather than popping nothing.
        Scope scope;
        if (!m_scopes.empty()) {
            scope = std::move(m_scopes.back());
            m_scopes.pop_back();
        }
        if (m_traceActive) Write(QvLogLevel::Exit, scope.text, result, scope.encoded);
        if (scope.encoded != kNotEncoded) m_scopeUsed -= scope.encoded;
    } catch (const std::bad_alloc&) {
    }
}

void CQvLog::UnwindTo(size_t depth) {
    while (m_scopes.size() > depth) {
        if (m_scopes.back().encoded != kNotEncoded) m_scopeUsed -= m_scopes.back().encoded;
        m_scopes.pop_back();
    }
}

void CQvLog::KeepError(const std::wstring& text) {
    try {
        if (!text.empty()) m_errors.push_back(text);
    } catch (const std::bad_alloc&) {
    }
}

void CQvLog::Write(QvLogLevel level, const std::wstring& text, const QvFormatArg* result, size_t encoded) {
    if (!IsActive()) return;
    try {
        if (m_capturing) {
            std::wstring full = text;
            if (result) {
                full += L" = ";
                full += ResultText(*result);
            }
            m_captured.push_back(QvLogRecord{level, std::move(full)});
        }
        if (!Writes(level)) return;
        WriteLine(level, text, result, encoded);
    } catch (const std::bad_alloc&) {
    }
}

// "TIME STAMP  [LEVEL] TEXT = RESULT", the text of an EXIT line joined with its result here
// rather than in a string of its own. A scope's text is copied from the bytes its ENTER line
// took (the last encoded of the m_scopeUsed bytes of m_scopeBytes) when there are any.
void CQvLog::WriteLine(QvLogLevel level, const std::wstring& text, const QvFormatArg* result, size_t encoded) {
    const size_t start = AppendTimeStamp();
    try {
        // Indentation and "[LEVEL] " are copied at their longest, in a few fixed-size moves,
        // and the line then goes on where they really end.
        static const char kSpaces[2 * kMaxIndent + 1] = "                                                                ";
        static const char kHeads[5][12] = {"[ENTER] ", "[EXIT] ", "[ERROR] ", "[WARNING] ", "[INFO] "};
        static const unsigned char kHeadLengths[5] = {8, 7, 8, 10, 7};
        static_assert(static_cast<int>(QvLogLevel::Enter) == 0 && static_cast<int>(QvLogLevel::Info) == 4,
                      "the heads follow the order of the levels");
        const size_t indent = std::min(m_scopes.size(), kMaxIndent) * 2;
        const size_t head = static_cast<size_t>(level);
        const size_t textBytes = encoded != kNotEncoded ? encoded : text.size() * kMaxBytesPerUnit;
        char* o = Reserve(2 * kMaxIndent + sizeof kHeads[0] + textBytes + 1);
        std::memcpy(o, kSpaces, 2 * kMaxIndent);
        o += indent;
        std::memcpy(o, kHeads[head], sizeof kHeads[0]);
        o += kHeadLengths[head];
        if (encoded != kNotEncoded) {
            std::memcpy(o, m_scopeBytes.data() + m_scopeUsed - encoded, encoded);
            o += encoded;
        } else {
            o = PutEscapedUtf8(o, text.data(), text.size());
        }
        m_used = static_cast<size_t>(o - &m_buffer[0]);
        if (result) AppendResult(*result);
        *Reserve(1) = '\n';
        ++m_used;
    } catch (const std::bad_alloc&) {
        m_used = start;  // no part of a line is left for the next one to follow
        throw;
    }
    // Warnings and errors are what a crash must not take with it.
    FinishLine(start, level == QvLogLevel::Error || level == QvLogLevel::Warning);
}

// Room for bytes more after the gathered ones; the buffer only grows here, so a line is never
// split between two writes.
char* CQvLog::Reserve(size_t bytes) {
    if (m_buffer.size() < m_used + bytes) m_buffer.resize(std::max(m_used + bytes, kBlockBytes + kMaxHead));
    return &m_buffer[m_used];
}

// "YYYY-MM-DD hh:mm:ss.mmm " in local time. The date and time are formatted once a second;
// a new second also writes out what was gathered in the last, so a crash loses at most about
// a second of lines. Returns where the line begins in the buffer.
size_t CQvLog::AppendTimeStamp() {
    const long long ms = NowMilliseconds();
    const long long secs = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (ms != m_stampMs) {
        if (secs != m_stampSecond) {
            Flush();
            m_stampSecond = secs;
            char buf[32] = "";
            const std::time_t t = static_cast<std::time_t>(secs);
            // No other thread of the library asks for the local time, so its shared result is safe here.
            if (const std::tm* tmv = std::localtime(&t)) std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", tmv);
            m_stampLen = static_cast<size_t>(std::snprintf(m_stamp, sizeof m_stamp, "%s.000 ", buf));
        }
        m_stampMs = ms;
        const int milli = static_cast<int>(ms - secs * 1000);
        char* const digits = m_stamp + m_stampLen - 4;
        digits[0] = static_cast<char>('0' + milli / 100);
        digits[1] = static_cast<char>('0' + milli / 10 % 10);
        digits[2] = static_cast<char>('0' + milli % 10);
    }
    const size_t start = m_used;
    std::memcpy(Reserve(m_stampLen), m_stamp, m_stampLen);
    m_used += m_stampLen;
    return start;
}

// The millisecond of the system clock now, from the platform's coarse clock: a trace writes a
// line every few hundred nanoseconds, and a precise reading for each took a fifth of what the
// trace costs.
long long CQvLog::NowMilliseconds() { return qvp::CoarseMillisecondsNow(); }

// " = RESULT" of an EXIT line; integers, the common results, without a formatted string.
void CQvLog::AppendResult(const QvFormatArg& result) {
    if (result.kind() == QvFormatArg::Signed || result.kind() == QvFormatArg::Unsigned) {
        char* o = Reserve(3 + 24);
        std::memcpy(o, " = ", 3);
        o += 3;
        const std::to_chars_result r = result.kind() == QvFormatArg::Signed
                                           ? std::to_chars(o, o + 24, result.asSigned())
                                           : std::to_chars(o, o + 24, result.asUnsigned());
        m_used = static_cast<size_t>(r.ptr - &m_buffer[0]);
        return;
    }
    const std::wstring text = ResultText(result);
    char* o = Reserve(3 + text.size() * kMaxBytesPerUnit);
    std::memcpy(o, " = ", 3);
    o = PutEscapedUtf8(o + 3, text.data(), text.size());
    m_used = static_cast<size_t>(o - &m_buffer[0]);
}

// The line from start to the end of the buffer is complete: it begins a new file when it
// would take this one past its bound, and is written out now when it must be.
void CQvLog::FinishLine(size_t start, bool flushNow) {
    const size_t line = m_used - start;
    if (!m_path.empty() && m_fileBytes > 0 && m_fileBytes + line > m_maxBytes) {
        WriteBuffered(start);
        Rotate();
    }
    m_fileBytes += line;
    if (flushNow || m_exiting || m_used >= kBlockBytes) WriteBuffered(m_used);
}

void CQvLog::Flush() {
    if (m_used > 0) WriteBuffered(m_used);
}

// Writes out the first bytes gathered and keeps the rest for later.
void CQvLog::WriteBuffered(size_t bytes) {
    if (m_out && bytes > 0) {
        std::fwrite(m_buffer.data(), 1, bytes, AsFile(m_out));
        std::fflush(AsFile(m_out));
    }
    std::memmove(&m_buffer[0], m_buffer.data() + bytes, m_used - bytes);
    m_used -= bytes;
}

// FILE becomes FILE.1, replacing an older one, and a new FILE is begun: at most twice the
// bound is ever on disk.
void CQvLog::Rotate() {
    std::fclose(AsFile(m_out));
    const std::string older = m_path + ".1";
    std::remove(older.c_str());
    // Where the file cannot be moved aside (open elsewhere, on Windows) it is begun anew
    // rather than left to grow past its bound.
    const bool moved = std::rename(m_path.c_str(), older.c_str()) == 0;
    m_out = std::fopen(m_path.c_str(), moved ? "ab" : "wb");
    if (m_out) std::setvbuf(AsFile(m_out), nullptr, _IONBF, 0);
    m_ownsOut = m_out != nullptr;
    m_fileBytes = 0;
    UpdateActive();
}

void CQvLog::StartCapture() {
    m_captured.clear();
    m_capturing = true;
    UpdateActive();
}

std::vector<QvLogRecord> CQvLog::StopCapture() {
    std::vector<QvLogRecord> records;
    records.swap(m_captured);
    m_capturing = false;
    UpdateActive();
    return records;
}

const char* CQvLog::LevelName(QvLogLevel level) {
    switch (level) {
        case QvLogLevel::Enter: return "ENTER";
        case QvLogLevel::Exit: return "EXIT";
        case QvLogLevel::Error: return "ERROR";
        case QvLogLevel::Warning: return "WARNING";
        case QvLogLevel::Info: return "INFO";
    }
    return "INFO";
}
