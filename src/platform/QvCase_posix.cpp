// Letter case of one character, from a fixed table, so name comparison never depends on locale.
#include "platform/QvPosixSupport.h"

namespace qvp {

namespace {

// count pairs: upper = upperFirst + k * stride, lower = lowerFirst + k * stride, k < count.
struct CaseRun {
    uint32_t upperFirst;
    uint32_t lowerFirst;
    uint32_t count;
    uint32_t stride;
};

// Simple one-to-one case pairs of Latin (ASCII, Latin-1, Extended-A), Greek and Cyrillic.
// Characters without a one-character partner (ß, ŉ, ĸ) and the Turkish dotted/dotless i stay
// unchanged. For lower case the first run holding a character wins, so Σ goes to σ, not ς.
const CaseRun kRuns[] = {
    {0x0041, 0x0061, 26, 1},  // A-Z
    {0x00C0, 0x00E0, 23, 1},  // À-Ö
    {0x00D8, 0x00F8, 7, 1},   // Ø-Þ
    {0x0178, 0x00FF, 1, 1},   // Ÿ ÿ
    {0x0100, 0x0101, 24, 2},  // Ā..į
    {0x0132, 0x0133, 3, 2},   // Ĳ..ķ
    {0x0139, 0x013A, 8, 2},   // Ĺ..ň
    {0x014A, 0x014B, 23, 2},  // Ŋ..ŷ
    {0x0179, 0x017A, 3, 2},   // Ź..ž
    {0x0370, 0x0371, 2, 2},   // Ͱ..ͳ
    {0x0376, 0x0377, 1, 1},   // Ͷ ͷ
    {0x0386, 0x03AC, 1, 1},   // Ά ά
    {0x0388, 0x03AD, 3, 1},   // Έ-Ί
    {0x038C, 0x03CC, 1, 1},   // Ό ό
    {0x038E, 0x03CD, 2, 1},   // Ύ Ώ
    {0x0391, 0x03B1, 17, 1},  // Α-Ρ
    {0x03A3, 0x03C3, 9, 1},   // Σ-Ϋ
    {0x03A3, 0x03C2, 1, 1},   // final sigma ς upper-cases to Σ
    {0x03D8, 0x03D9, 5, 2},   // Ϙ..ϡ
    {0x03E2, 0x03E3, 7, 2},   // Ϣ..ϯ
    {0x0410, 0x0430, 32, 1},  // А-Я
    {0x0400, 0x0450, 16, 1},  // Ѐ-Џ
    {0x0460, 0x0461, 17, 2},  // Ѡ..ҁ
    {0x048A, 0x048B, 27, 2},  // Ҋ..ҿ
    {0x04C0, 0x04CF, 1, 1},   // Ӏ ӏ
    {0x04C1, 0x04C2, 7, 2},   // Ӂ..ӎ
    {0x04D0, 0x04D1, 24, 2},  // Ӑ..ӿ
};

// Whether c lies in the run that starts at first; k receives its index.
bool InRun(uint32_t c, uint32_t first, const CaseRun& run, uint32_t& k) {
    if (c < first) return false;
    const uint32_t offset = c - first;
    if (offset % run.stride != 0) return false;
    k = offset / run.stride;
    return k < run.count;
}

// Every run lies below this; characters from here on have no partner in the table.
const uint32_t kTableEnd = 0x0500;

// The partners of the characters below kTableEnd, looked up once: a path may hold many
// letters outside ASCII, and each would otherwise search the runs.
struct CaseTables {
    uint16_t lower[kTableEnd];
    uint16_t upper[kTableEnd];
    CaseTables() {
        for (uint32_t c = 0; c < kTableEnd; ++c) {
            lower[c] = static_cast<uint16_t>(Search(c, true));
            upper[c] = static_cast<uint16_t>(Search(c, false));
        }
    }
    static uint32_t Search(uint32_t c, bool toLower) {
        for (const CaseRun& run : kRuns) {
            uint32_t k;
            if (toLower && InRun(c, run.upperFirst, run, k)) return run.lowerFirst + k * run.stride;
            if (!toLower && InRun(c, run.lowerFirst, run, k)) return run.upperFirst + k * run.stride;
        }
        return c;
    }
};

const CaseTables& Tables() {
    static const CaseTables tables;
    return tables;
}

}  // namespace

wchar_t ToUpperChar(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    if (u < 0x80) return (u >= 'a' && u <= 'z') ? static_cast<wchar_t>(u - 0x20) : c;
    return u < kTableEnd ? static_cast<wchar_t>(Tables().upper[u]) : c;
}

wchar_t ToLowerChar(wchar_t c) {
    const uint32_t u = static_cast<uint32_t>(c);
    if (u < 0x80) return (u >= 'A' && u <= 'Z') ? static_cast<wchar_t>(u + 0x20) : c;
    return u < kTableEnd ? static_cast<wchar_t>(Tables().lower[u]) : c;
}

}  // namespace qvp
