// Names as the program shows them, and the filter on its standard output and error.
#include "system/QvCliShown.h"

#include <cstdint>
#include <iostream>
#include <streambuf>

namespace {

// What a form keeps as it is: a name in a list read back doubles its backslashes; a name on
// the screen does too, but on Windows, where a backslash separates folders and no name holds
// one; a message keeps them; the program's output keeps its own line ends and tabs too.
enum class Mode { kName, kShownName, kText, kLines };

#if defined(_WIN32)
const bool kBackslashSeparates = true;
#else
const bool kBackslashSeparates = false;
#endif

// The length of the well-formed UTF-8 sequence that begins at text[i] (no overlong form, no
// surrogate, nothing beyond U+10FFFF), its code point in code; 0 when none begins there.
size_t SequenceAt(std::string_view text, size_t i, uint32_t& code) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    code = n == 1 ? c : c & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d >> 6) != 2) return 0;
        code = (code << 6) | (d & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

// C1 controls, and the characters that reorder text or end a line without looking like it:
// the Arabic letter mark, the left-to-right and right-to-left marks, the embeddings and
// overrides, the isolates, the line and paragraph separators.
bool HidesText(uint32_t code) {
    return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) || code == 0x2028 || code == 0x2029;
}

void AppendHex(std::string& out, char kind, uint32_t value, int digits) {
    static const char kDigits[] = "0123456789ABCDEF";
    out += '\\';
    out += kind;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kDigits[(value >> shift) & 0xF];
}

// One ASCII character in the form mode gives it.
void AppendAscii(std::string& out, char c, Mode mode) {
    switch (c) {
        case '\\':
            out += mode == Mode::kName || (mode == Mode::kShownName && !kBackslashSeparates) ? "\\\\" : "\\";
            return;
        case '\t': out += mode == Mode::kLines ? "\t" : "\\t"; return;
        case '\n': out += mode == Mode::kLines ? "\n" : "\\n"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        AppendHex(out, 'x', static_cast<unsigned char>(c), 2);
    else
        out += c;
}

// A character the library's paths carry for one a Windows name cannot hold (U+F000 + its byte:
// a control character, one of \ * ? : " < > |, or a byte that is not UTF-8), as the host names it.
void AppendMapped(std::string& out, unsigned char byte, Mode mode) {
    if (byte < 0x80)
        AppendAscii(out, static_cast<char>(byte), mode);
    else
        AppendHex(out, 'x', byte, 2);
}

std::string Show(std::string_view text, Mode mode) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t n = SequenceAt(text, i, code);
        if (n == 0) {
            AppendHex(out, 'x', static_cast<unsigned char>(text[i]), 2);
            ++i;
        } else if (n == 1) {
            AppendAscii(out, text[i], mode);
            ++i;
        } else {
            if (HidesText(code))
                AppendHex(out, 'u', code, 4);
            else if (mode == Mode::kText && code >= 0xF000 && code <= 0xF0FF)
                AppendMapped(out, static_cast<unsigned char>(code & 0xFF), mode);
            else
                out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

// The number of bytes at the end of text that begin a UTF-8 sequence still incomplete: held
// back by the filter until the rest arrives.
size_t IncompleteTail(std::string_view text) {
    for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
        if ((c >> 6) == 2) continue;  // a continuation byte: its lead is further back
        const size_t n = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        return n > back ? back : 0;
    }
    return 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The value of digits hex digits at text[at], or -1.
long HexRun(std::string_view text, size_t at, size_t digits) {
    if (at + digits > text.size()) return -1;
    long value = 0;
    for (size_t k = 0; k < digits; ++k) {
        const int d = HexValue(text[at + k]);
        if (d < 0) return -1;
        value = value * 16 + d;
    }
    return value;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string QvCliShown(std::string_view name) { return Show(name, Mode::kShownName); }

std::string QvCliShownInList(std::string_view name) { return Show(name, Mode::kName); }

std::string QvCliShownMessage(std::string_view text) { return Show(text, Mode::kText); }

bool QvCliUnshown(std::string_view shown, std::string& name) {
    name.clear();
    name.reserve(shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            name += shown[i];
            continue;
        }
        if (++i == shown.size()) return false;
        long value = -1;
        switch (shown[i]) {
            case '\\': name += '\\'; continue;
            case 't': name += '\t'; continue;
            case 'n': name += '\n'; continue;
            case 'r': name += '\r'; continue;
            case 'x':
                if ((value = HexRun(shown, i + 1, 2)) < 0) return false;
                name += static_cast<char>(value);
                i += 2;
                continue;
            case 'u':
                // Only characters below U+10000 are ever written so.
                if ((value = HexRun(shown, i + 1, 4)) < 0 || (value >= 0xD800 && value <= 0xDFFF)) return false;
                AppendUtf8(name, static_cast<uint32_t>(value));
                i += 4;
                continue;
            default: return false;
        }
    }
    return true;
}

// A stream buffer that passes what is written to it on to another, shown as Mode::kLines
// shows it. It holds what it has not passed on until a line ends or the stream is flushed.
class QvCliShownOutput::Buffer : public std::streambuf {
public:
    explicit Buffer(std::streambuf* to) : m_to(to) {}
    ~Buffer() override { Forward(true); }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        m_pending += traits_type::to_char_type(c);
        if (c == '\n') Forward(false);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        m_pending.append(s, static_cast<size_t>(n));
        if (m_pending.size() >= 4096 || std::string_view(s, static_cast<size_t>(n)).find('\n') != std::string_view::npos)
            Forward(false);
        return n;
    }
    int sync() override {
        Forward(false);
        return m_to->pubsync();
    }

private:
    void Forward(bool all) {
        const size_t ready = m_pending.size() - (all ? 0 : IncompleteTail(m_pending));
        if (ready == 0) return;
        const std::string shown = Show(std::string_view(m_pending).substr(0, ready), Mode::kLines);
        m_to->sputn(shown.data(), static_cast<std::streamsize>(shown.size()));
        m_pending.erase(0, ready);
    }

    std::streambuf* m_to;
    std::string m_pending;
};

QvCliShownOutput::QvCliShownOutput()
    : m_out(new Buffer(std::cout.rdbuf())), m_err(new Buffer(std::cerr.rdbuf())),
      m_oldOut(std::cout.rdbuf(m_out.get())), m_oldErr(std::cerr.rdbuf(m_err.get())) {}

QvCliShownOutput::~QvCliShownOutput() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(m_oldOut);
    std::cerr.rdbuf(m_oldErr);
    m_out.reset();
    m_err.reset();
    std::cout.flush();
    std::cerr.flush();
}
