// File names that could fool a reader of the program's output, each with the form the program
// must show it in, and a check that a text holds nothing a terminal would act on or hide.
#ifndef QVSHOWNNAMES_H
#define QVSHOWNNAMES_H

#include <string>
#include <vector>

namespace qvtest {

struct ShownName {
    const char* label;
    std::string name;    // the name's bytes on the disk
    std::string shown;   // on a terminal and in the text catalogue
    std::string inJson;  // inside a JSON string (a byte that is not UTF-8 as U+F000 + byte)
};

// POSIX names all: Windows allows no control character in a name.
inline const std::vector<ShownName>& ShownNames() {
    static const std::vector<ShownName> names = {
        {"C0 controls and a colour sequence", "ctl\x01\x02\x1B[31mred", "ctl\\x01\\x02\\x1B[31mred",
         "ctl\\u0001\\u0002\\u001b[31mred"},
        {"a sequence that clears the screen", "cls\x1B" "c", "cls\\x1B" "c", "cls\\u001b" "c"},
        {"DEL", "del\x7F" "x", "del\\x7F" "x", "del\\u007f" "x"},
        {"tab, newline and carriage return", "t\tn\nr\r.txt", "t\\tn\\nr\\r.txt", "t\\tn\\nr\\r.txt"},
        {"C1 control NEL", "nel\xC2\x85x", "nel\\u0085x", "nel\\u0085x"},
        {"C1 control CSI", "csi\xC2\x9B" "2J", "csi\\u009B2J", "csi\\u009b2J"},
        {"byte that is not UTF-8", "bad\xE9" "byte", "bad\\xE9byte", "bad\xEF\x83\xA9" "byte"},
        {"UTF-8 sequence cut short", "cut\xE2\x80", "cut\\xE2\\x80", "cut\xEF\x83\xA2\xEF\x82\x80"},
        {"overlong slash", "over\xC0\xAF", "over\\xC0\\xAF", "over\xEF\x83\x80\xEF\x82\xAF"},
        {"right-to-left override", "rlo\xE2\x80\xAEtxt.exe", "rlo\\u202Etxt.exe", "rlo\\u202etxt.exe"},
        {"left-to-right isolate", "lri\xE2\x81\xA6x", "lri\\u2066x", "lri\\u2066x"},
        {"right-to-left mark", "rlm\xE2\x80\x8Fx", "rlm\\u200Fx", "rlm\\u200fx"},
        {"line separator", "ls\xE2\x80\xA8x", "ls\\u2028x", "ls\\u2028x"},
        {"backslash", "back\\slash", "back\\\\slash", "back\\\\slash"},
        {"backslash that looks like a shown byte", "lit\\x1B", "lit\\\\x1B", "lit\\\\x1B"},
        {"plain Unicode stays as it is", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC", "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC",
         "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC"},
    };
    return names;
}

// A description of the first thing in text that a terminal would act on or that would hide or
// reorder text: a control character but newline (and tab, where allowTab), DEL, a C1 control, a
// byte that is not well-formed UTF-8, a bidirectional control or a line or paragraph separator.
// Empty when there is none.
inline std::string FirstHiddenCharacter(const std::string& text, bool allowTab = true) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        const std::string at = " at byte " + std::to_string(i) + " of: " + text.substr(i < 40 ? 0 : i - 40, 80);
        if (n == 0 || i + n > text.size()) return "a byte that is not UTF-8" + at;
        unsigned long code = n == 1 ? c : c & (0x7Fu >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d >> 6) != 2) return "a byte that is not UTF-8" + at;
            code = (code << 6) | (d & 0x3Fu);
        }
        const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return "an ill-formed sequence" + at;
        if ((code < 0x20 && code != '\n' && !(allowTab && code == '\t')) || (code >= 0x7F && code <= 0x9F))
            return "control character " + std::to_string(code) + at;
        if (code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
            (code >= 0x2066 && code <= 0x2069) || code == 0x2028 || code == 0x2029)
            return "a character that reorders or hides text, " + std::to_string(code) + at;
        i += n;
    }
    return std::string();
}

}  // namespace qvtest

#endif
