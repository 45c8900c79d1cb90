// Tests of the UTF-8 conversion that keeps undecodable bytes, and of the letter-case table.
#include "platform/QvPlatform.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) out += std::string(1, digits[c >> 4]) + digits[c & 15] + " ";
    return out;
}

}  // namespace

TEST(QvUnicode, ValidUtf8DecodesToCodePoints) {
    EXPECT_EQ(qvp::Utf8ToWide("plain"), L"plain");
    EXPECT_EQ(qvp::Utf8ToWide("\xC3\xA9t\xC3\xA9"), L"\u00E9t\u00E9");
    EXPECT_EQ(qvp::Utf8ToWide("\xE2\x82\xAC"), L"\u20AC");
    const std::wstring clef = qvp::Utf8ToWide("\xF0\x9D\x84\x9E");
    if (sizeof(wchar_t) == 4) {
        ASSERT_EQ(clef.size(), 1u);
        EXPECT_EQ(static_cast<uint32_t>(clef[0]), 0x1D11Eu);
    } else {
        ASSERT_EQ(clef.size(), 2u);
        EXPECT_EQ(static_cast<uint32_t>(clef[0]), 0xD834u);
        EXPECT_EQ(static_cast<uint32_t>(clef[1]), 0xDD1Eu);
    }
    EXPECT_EQ(qvp::WideToUtf8(L"\u00E9t\u00E9 \u20AC"), "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
}

TEST(QvUnicode, EveryByteStringSurvivesARoundTrip) {
    const struct {
        const char* label;
        std::string bytes;
        size_t wideLength;  // how many characters it decodes to (UTF-32 hosts)
    } rows[] = {
        {"lone 0xFF", "\xFF", 1},
        {"lead byte without continuation", "\xC3(", 2},
        {"truncated three-byte sequence", "a\xE2\x82", 3},
        {"encoded surrogate", "\xED\xA0\x80", 3},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", 4},
        {"overlong slash", "\xC0\xAF", 2},
        {"stray continuation", "\x80x", 2},
        {"escape code point written as UTF-8", "\xED\xB3\xBF", 3},
        {"valid mixed with invalid", "\xC3\xA9\xFF\xF0\x9D\x84\x9E", 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        const std::wstring wide = qvp::Utf8ToWide(row.bytes);
        if (sizeof(wchar_t) == 4) {
            EXPECT_EQ(wide.size(), row.wideLength);
        }
        EXPECT_EQ(Hex(qvp::WideToUtf8(wide)), Hex(row.bytes));
    }
    EXPECT_EQ(static_cast<uint32_t>(qvp::Utf8ToWide("\xFF")[0]), 0xDCFFu);
}

TEST(QvUnicode, LoneSurrogatesBecomeReplacementCharacters) {
    std::wstring lone;
    lone += static_cast<wchar_t>(0xD800);
    lone += L'x';
    EXPECT_EQ(Hex(qvp::WideToUtf8(lone)), Hex("\xEF\xBF\xBDx"));
}

TEST(QvCase, UpperAndLowerTable) {
    const struct {
        const char* label;
        uint32_t c, upper, lower;
    } rows[] = {
        {"ASCII letter", 'a', 'A', 'a'},
        {"ASCII digit", '7', '7', '7'},
        {"e acute", 0x00E9, 0x00C9, 0x00E9},
        {"E acute", 0x00C9, 0x00C9, 0x00E9},
        {"sharp s has no single upper case", 0x00DF, 0x00DF, 0x00DF},
        {"y diaeresis goes to Latin Extended-A", 0x00FF, 0x0178, 0x00FF},
        {"Y diaeresis", 0x0178, 0x0178, 0x00FF},
        {"division sign", 0x00F7, 0x00F7, 0x00F7},
        {"multiplication sign", 0x00D7, 0x00D7, 0x00D7},
        {"a macron", 0x0101, 0x0100, 0x0101},
        {"l acute (odd upper run)", 0x013A, 0x0139, 0x013A},
        {"z caron", 0x017E, 0x017D, 0x017E},
        {"dotless i unchanged", 0x0131, 0x0131, 0x0131},
        {"dotted I unchanged", 0x0130, 0x0130, 0x0130},
        {"greek alpha", 0x03B1, 0x0391, 0x03B1},
        {"final sigma", 0x03C2, 0x03A3, 0x03C2},
        {"capital sigma lowers to medial sigma", 0x03A3, 0x03A3, 0x03C3},
        {"alpha with tonos", 0x03AC, 0x0386, 0x03AC},
        {"omega with tonos", 0x03CE, 0x038F, 0x03CE},
        {"cyrillic ya", 0x044F, 0x042F, 0x044F},
        {"cyrillic io", 0x0451, 0x0401, 0x0451},
        {"cyrillic palochka", 0x04CF, 0x04C0, 0x04CF},
        {"cyrillic zhe with breve", 0x04C2, 0x04C1, 0x04C2},
        {"CJK unchanged", 0x4E2D, 0x4E2D, 0x4E2D},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(static_cast<uint32_t>(qvp::ToLowerChar(static_cast<wchar_t>(row.c))), row.lower);
        const uint32_t upper = qvp::ToUpperChar(static_cast<wchar_t>(row.c));
        // Wine's case table leaves the final sigma as it is; Windows raises it to capital sigma.
        if (qvtest::UnderWine() && row.c == 0x03C2 && upper == row.c) continue;
        EXPECT_EQ(upper, row.upper);
    }
}

// Every case pair maps both ways, so comparing upper-cased names is an equivalence.
TEST(QvCase, PairsAreConsistent) {
    for (uint32_t c = 0; c < 0x0600; ++c) {
        const wchar_t w = static_cast<wchar_t>(c);
        const wchar_t up = qvp::ToUpperChar(w);
        if (up != w && c != 0x03C2) {
            EXPECT_EQ(static_cast<uint32_t>(qvp::ToLowerChar(up)), c) << std::hex << c;
        }
        const wchar_t low = qvp::ToLowerChar(w);
        if (low != w) {
            EXPECT_EQ(static_cast<uint32_t>(qvp::ToUpperChar(low)), c) << std::hex << c;
        }
        EXPECT_EQ(qvp::ToUpperChar(up), up) << std::hex << c;
    }
}
