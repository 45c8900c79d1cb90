// Windows-meaning printf formatting: conversions, flags, integer widths, wrong and missing arguments.
#include "facilities/QvFormat.h"

#include "facilities/CQvString.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct FormatCase {
    const char* label;
    const wchar_t* fmt;
    std::vector<QvFormatArg> args;
    const wchar_t* expected;
};

void RunCases(const std::vector<FormatCase>& cases) {
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring got = QvFormatV(c.fmt, c.args.data(), c.args.size());
        EXPECT_EQ(qvtest::Narrow(c.expected), qvtest::Narrow(got));
    }
}

TEST(QvFormat, IntegersTakeWindowsSizes) {
    const long long big = 5000000000LL;
    RunCases({
        {"plain d", L"%d", {42}, L"42"},
        {"zero d", L"%d", {0}, L"0"},
        {"i as d", L"%i", {-12}, L"-12"},
        {"llu max", L"%llu", {UINT64_MAX}, L"18446744073709551615"},
        {"plain s between texts", L"<%s|%s>", {L"a", L""}, L"<a|>"},
        {"negative d", L"%d", {-7}, L"-7"},
        {"i like d", L"%i", {-7}, L"-7"},
        {"64-bit cut to 32 for d", L"%d", {big}, L"705032704"},
        {"minus one as u", L"%u", {-1}, L"4294967295"},
        {"DWORD max as d", L"%d", {static_cast<uint32_t>(0xFFFFFFFFu)}, L"-1"},
        {"l is still 32 bits", L"%ld", {big}, L"705032704"},
        {"lld full", L"%lld", {big}, L"5000000000"},
        {"I64d full", L"%I64d", {-big}, L"-5000000000"},
        {"I64u of -1", L"%I64u", {-1LL}, L"18446744073709551615"},
        {"llu max", L"%llu", {static_cast<unsigned long long>(-1)}, L"18446744073709551615"},
        {"lld min", L"%lld", {static_cast<long long>(INT64_MIN)}, L"-9223372036854775808"},
        {"I32d cut", L"%I32d", {big}, L"705032704"},
        {"hu 16 bits", L"%hu", {70000}, L"4464"},
        {"hd negative", L"%hd", {65535}, L"-1"},
        {"hhd 8 bits", L"%hhd", {255}, L"-1"},
        {"WORD with 02hu", L"%02hu", {static_cast<uint16_t>(7)}, L"07"},
        {"x lower", L"%x", {255}, L"ff"},
        {"X upper", L"%X", {0xBEEF}, L"BEEF"},
        {"x of negative", L"%x", {-1}, L"ffffffff"},
        {"llx", L"%llx", {big}, L"12a05f200"},
        {"o", L"%o", {8}, L"10"},
        {"zu", L"%zu", {static_cast<size_t>(123)}, L"123"},
        {"jd", L"%jd", {big}, L"5000000000"},
    });
}

TEST(QvFormat, FlagsWidthAndPrecision) {
    RunCases({
        {"width", L"[%5d]", {42}, L"[   42]"},
        {"left", L"[%-5d]", {42}, L"[42   ]"},
        {"zero pad", L"[%05d]", {-42}, L"[-0042]"},
        {"plus", L"%+d", {5}, L"+5"},
        {"space", L"[% d]", {5}, L"[ 5]"},
        {"plus beats space", L"%+ d", {5}, L"+5"},
        {"precision digits", L"%.3d", {7}, L"007"},
        {"precision ignores zero flag", L"[%06.3d]", {7}, L"[   007]"},
        {"precision 0 of 0", L"[%.0d]", {0}, L"[]"},
        {"alt hex", L"%#x", {255}, L"0xff"},
        {"alt HEX", L"%#X", {255}, L"0XFF"},
        {"alt hex of 0", L"%#x", {0}, L"0"},
        {"alt octal", L"%#o", {8}, L"010"},
        {"zero pad after 0x", L"%#06x", {255}, L"0x00ff"},
        {"star width", L"[%*d]", {4, 7}, L"[   7]"},
        {"negative star width is left", L"[%*d]", {-4, 7}, L"[7   ]"},
        {"star precision", L"[%.*s]", {2, L"abcdef"}, L"[ab]"},
        {"0000000%d type text", L"0x0000000%d", {1}, L"0x00000001"},
        {"percent", L"100%%", {}, L"100%"},
        {"zero-padded 14-digit stamp", L"%02hu%02hu%04hu", {3, 9, 2024}, L"03092024"},
    });
}

TEST(QvFormat, StringsAndCharacters) {
    const wchar_t* nullWide = nullptr;
    const char* nullNarrow = nullptr;
    const std::wstring ws = L"w\u00e9";
    RunCases({
        {"wide s", L"<%s>", {L"abc"}, L"<abc>"},
        {"S also wide", L"<%S>", {L"abc"}, L"<abc>"},
        {"ls wide", L"<%ls>", {L"abc"}, L"<abc>"},
        {"null wide", L"<%s>", {nullWide}, L"<(null)>"},
        {"null narrow", L"<%s>", {nullNarrow}, L"<(null)>"},
        {"narrow is UTF-8", L"<%s>", {"caf\xc3\xa9"}, L"<caf\u00e9>"},
        {"std::wstring", L"<%s>", {ws}, L"<w\u00e9>"},
        {"width right", L"[%5s]", {L"ab"}, L"[   ab]"},
        {"width left", L"[%-5s]", {L"ab"}, L"[ab   ]"},
        {"precision cuts", L"[%.2s]", {L"abcdef"}, L"[ab]"},
        {"non-ASCII kept", L"%s", {L"\u65e5\u672c"}, L"\u65e5\u672c"},
        {"wide char", L"%c", {L'Z'}, L"Z"},
        {"C wide char", L"%C", {L'\u00e9'}, L"\u00e9"},
        {"drive from WORD", L"%c%s", {static_cast<uint16_t>(L'E'), L":\\x"}, L"E:\\x"},
        {"char width", L"[%3c]", {L'a'}, L"[  a]"},
    });
}

TEST(QvFormat, FloatsAndPointers) {
    const void* p = reinterpret_cast<const void*>(static_cast<uintptr_t>(0xABC));
    const std::wstring ptrText = std::wstring(sizeof(void*) * 2 - 3, L'0') + L"ABC";
    RunCases({
        {"f", L"%.2f", {3.14159}, L"3.14"},
        {"f width", L"[%8.3f]", {-1.5}, L"[  -1.500]"},
        {"e", L"%e", {12345.678}, L"1.234568e+04"},
        {"E", L"%.1E", {0.5}, L"5.0E-01"},
        {"g", L"%g", {0.0001}, L"0.0001"},
        {"G", L"%G", {1e20}, L"1E+20"},
        {"float from float", L"%.1f", {2.5f}, L"2.5"},
        {"pointer", L"%p", {p}, ptrText.c_str()},
    });
}

TEST(QvFormat, WrongOrMissingArgumentsPrintMarkers) {
    const void* p = nullptr;
    RunCases({
        {"string for d", L"%d", {L"text"}, L"(?)"},
        {"int for s", L"%s", {5}, L"(?)"},
        {"pointer for d", L"%d", {p}, L"(?)"},
        {"int for f", L"%f", {5}, L"(?)"},
        {"double for d", L"%d", {1.5}, L"(?)"},
        {"string for c", L"%c", {L"x"}, L"(?)"},
        {"no arguments", L"a%db%sc", {}, L"a(missing)b(missing)c"},
        {"too few", L"%d-%d", {1}, L"1-(missing)"},
        {"extra ignored", L"%d", {1, 2}, L"1"},
        {"n never writes", L"%n", {5}, L"(?)"},
        {"unknown conversion kept", L"%y %d", {3}, L"%y 3"},
        {"lone percent at end", L"50%", {}, L"50%"},
        {"flags at end", L"50%-0", {}, L"50%-0"},
        {"missing star width", L"[%*d]", {}, L"[(missing)]"},
    });
}

TEST(QvFormat, NullFormatAndNullArgumentArray) {
    EXPECT_EQ(L"", QvFormatV(nullptr, nullptr, 0));
    EXPECT_EQ(L"x=(missing)", QvFormatV(L"x=%d", nullptr, 3));
}

TEST(QvFormat, HugeWidthIsBounded) {
    const std::wstring s = QvFormat(L"%999999999999d", 1);
    EXPECT_LE(s.size(), 2u * 1024u * 1024u);
    EXPECT_EQ(L'1', s.back());
}

TEST(QvFormat, TemplateTakesStringClassesAndMixedTypes) {
    CQvString path(L"C:\\dir\\f.txt");
    const int64_t size = 5000000000LL;
    const uint32_t mb = 4768;
    EXPECT_EQ(L"C:\\dir\\f.txt size=5000000000 MB=4768",
              QvFormat(L"%s size=%lld MB=%d", path, size, mb));
}

// Where a conversion ends, for a caller that formats one conversion at a time: only those
// that take exactly one argument have an end.
TEST(QvFormat, ConversionEndCoversOneArgumentConversions) {
    const struct {
        const wchar_t* after;  // the text after "%"
        int length;            // of the conversion, or -1 when it has no end
    } rows[] = {
        {L"s rest", 1}, {L"-5.2lld)", 7}, {L"I64u", 4}, {L"#08x", 4}, {L".3s", 3}, {L"hhd", 3},
        {L"*d", -1}, {L"5.*s", -1}, {L"%", -1}, {L"", -1}, {L"q", -1}, {L"5", -1},
    };
    for (const auto& row : rows) {
        const wchar_t* end = QvFormatConversionEnd(row.after);
        EXPECT_EQ(row.length, end ? static_cast<int>(end - row.after) : -1) << row.after;
    }
}

}  // namespace
