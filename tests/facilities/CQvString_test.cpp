// CQvString: search, replace, tokens, case folding, slicing and map order.
#include "facilities/CQvString.h"

#include "facilities/CQvPathString.h"
#include "facilities/CQvPathText.h"

#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(CQvString, ConstructionAssignmentAndNull) {
    const wchar_t* none = nullptr;
    CQvString a(none);
    EXPECT_TRUE(a.IsEmpty());
    a = L"abc";
    CQvString b(a);
    a += L"d";
    a += L'e';
    EXPECT_EQ(L"abcde", a.str());
    EXPECT_EQ(L"abc", b.str());
    b = none;
    EXPECT_TRUE(b.IsEmpty());
    a = a.c_str() + 1;  // assigning from its own buffer
    EXPECT_EQ(L"bcde", a.str());
    CQvString moved(std::move(a));
    EXPECT_EQ(L"bcde", moved.str());
    moved.Empty();
    EXPECT_EQ(0, moved.GetLength());
}

// Copies share their text; every way of changing one must leave the others as they were.
TEST(CQvString, ChangingACopyLeavesTheOthersAsTheyWere) {
    struct Row {
        const char* label;
        const wchar_t* start;
        void (*change)(CQvPathString&);
        const wchar_t* after;
    };
    const Row rows[] = {
        {"append text", L"C:\\Dir", [](CQvPathString& s) { s += L"\\x"; }, L"C:\\Dir\\x"},
        {"append a character", L"C:\\Dir", [](CQvPathString& s) { s += L'!'; }, L"C:\\Dir!"},
        {"lower case", L"C:\\Dir", [](CQvPathString& s) { s.MakeLower(); }, L"c:\\dir"},
        {"lower case, nothing to lower", L"c:\\dir", [](CQvPathString& s) { s.MakeLower(); }, L"c:\\dir"},
        {"upper case", L"C:\\Dir", [](CQvPathString& s) { s.MakeUpper(); }, L"C:\\DIR"},
        {"replace", L"a.b.c", [](CQvPathString& s) { s.Replace(L".", L"--"); }, L"a--b--c"},
        {"format", L"old", [](CQvPathString& s) { s.Format(L"%s%d", L"n", 7); }, L"n7"},
        {"empty", L"text", [](CQvPathString& s) { s.Empty(); }, L""},
        {"assign", L"text", [](CQvPathString& s) { s = L"other"; }, L"other"},
        {"assign its own tail", L"text", [](CQvPathString& s) { s = s.c_str() + 2; }, L"xt"},
        {"append itself", L"ab", [](CQvPathString& s) { s += s.c_str(); }, L"abab"},
        {"remove the backslash", L"C:\\Dir\\", [](CQvPathString& s) { s.RemoveBackslash(); }, L"C:\\Dir"},
        {"add a backslash", L"C:\\Dir", [](CQvPathString& s) { s.AddBackslash(); }, L"C:\\Dir\\"},
        {"remove the name", L"C:\\Dir\\f.txt", [](CQvPathString& s) { s.RemoveFileSpec(); }, L"C:\\Dir"},
        {"remove the name down to the root", L"C:\\f", [](CQvPathString& s) { s.RemoveFileSpec(); }, L"C:\\"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const CQvPathString original(row.start);
        CQvPathString copy(original);
        CQvString assigned;
        assigned = copy;
        row.change(copy);
        EXPECT_EQ(row.after, copy.str());
        EXPECT_EQ(std::wcslen(row.after), static_cast<size_t>(copy.GetLength()));
        EXPECT_EQ(row.start, original.str());
        EXPECT_EQ(row.start, assigned.str());
        // The changed copy keeps growing on its own.
        for (int i = 0; i < 100; ++i) copy += L"0123456789";
        EXPECT_EQ(std::wcslen(row.after) + 1000, static_cast<size_t>(copy.GetLength()));
        EXPECT_EQ(row.start, original.str());
    }
}

TEST(CQvString, HoldsZerosWhenBuiltFromALength) {
    const std::wstring twin(L"a\0B", 3);
    const CQvString s(twin);
    EXPECT_EQ(3, s.GetLength());
    EXPECT_EQ(twin, s.str());
    EXPECT_TRUE(CQvString(L"a") < s);
    EXPECT_TRUE(s < CQvString(L"a\x01"));
    EXPECT_FALSE(s == CQvString(L"a"));
}

// The catalogue's form of a path gives back every character it was given, whatever its value.
TEST(CQvPathText, GivesBackEveryCharacterItWasGiven) {
    struct Row {
        std::wstring text;
        size_t bytes;  // what it takes, ASCII being one a character
    };
    std::vector<Row> rows = {
        {L"", 0},
        {L"C:\\Data\\a.txt", 13},
        {L"\u00E9\u00C4", 4},
        {L"\u4E2D\uFFFF", 6},
        {std::wstring(L"a\0B", 3), 3},
        {std::wstring(1, static_cast<wchar_t>(0xDC80)), 3},  // a lone surrogate
        {std::wstring(600, L'x') + L"\u00E9", 602},              // longer than most paths
    };
#if WCHAR_MAX > 0xFFFF
    rows.push_back({std::wstring(1, static_cast<wchar_t>(0x10FFFF)), 4});
    rows.push_back({std::wstring(1, static_cast<wchar_t>(0x7FFFFFFF)), 6});
    rows.push_back({std::wstring(1, static_cast<wchar_t>(-1)), 7});
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.text));
        const CQvPathText text(row.text);
        EXPECT_EQ(row.text, text.str());
        EXPECT_EQ(row.text, text.Wide().str());
        EXPECT_EQ(row.bytes, text.ByteCount());
        EXPECT_TRUE(text == std::wstring_view(row.text));
        EXPECT_FALSE(text == std::wstring_view(row.text + L"x"));
        EXPECT_EQ(row.text.empty(), text.IsEmpty());
        const CQvPathText copy(text);
        EXPECT_EQ(text.pieces().first.data(), copy.pieces().first.data()) << "a copy shares the bytes";
        if (row.text.find(L'\0') == std::wstring::npos) {
            EXPECT_EQ(L"[" + row.text + L"]", QvFormat(L"[%s]", copy)) << "formatted whole";
        }
    }
    const CQvPathText path(L"C:\\Data\\a.txt");
    EXPECT_EQ(L"<C:\\Da>", QvFormat(L"<%.5s>", path));
    EXPECT_EQ(CQvString(L"C:\\Data\\a.txt"), path.Wide());
    EXPECT_TRUE(CQvString(L"C:\\Data\\a.txt") == path);
    EXPECT_TRUE(path != CQvPathText(L"c:\\data\\a.txt")) << "letter case counts";
}

// Paths of every size made and dropped in any order, the way a catalogue fills and a
// distribution empties: each text stays whole, and none shares room with another.
TEST(CQvPathText, PathsMadeAndDroppedInAnyOrderKeepTheirTexts) {
    std::mt19937 rng(20261209);
    std::vector<std::wstring> want;
    std::vector<CQvPathText> held;
    auto make = [&](size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const size_t len = rng() % 700;  // past the longest block kept in slabs
            std::wstring text(len, L'a');
            for (wchar_t& c : text) c = static_cast<wchar_t>(L'a' + rng() % 26);
            if (len > 0 && rng() % 4 == 0) text[len / 2] = L'\u00E9';
            want.push_back(text);
            held.emplace_back(text);
        }
    };
    for (int round = 0; round < 3; ++round) {
        make(4000);
        for (size_t i = 0; i < held.size(); ++i)
            if (rng() % 2 == 0) {
                held[i] = CQvPathText();
                want[i].clear();
            }
        make(2000);
        for (size_t i = 0; i < held.size(); ++i) ASSERT_EQ(want[i], held[i].str()) << "path " << i;
        if (round == 1) {
            // Every path dropped, then made again from nothing.
            held.clear();
            want.clear();
        }
    }
}

TEST(CQvString, GetAtAndSlicesBeyondTheEnds) {
    const CQvString s(L"hello");
    EXPECT_EQ(L'h', s.GetAt(0));
    EXPECT_EQ(L'o', s.GetAt(4));
    EXPECT_EQ(0, s.GetAt(5));
    EXPECT_EQ(0, s.GetAt(-1));
    struct Row { const char* label; CQvString got; const wchar_t* expected; };
    const Row rows[] = {
        {"Left 2", s.Left(2), L"he"},   {"Left 0", s.Left(0), L""},
        {"Left 99", s.Left(99), L"hello"}, {"Left -1", s.Left(-1), L""},
        {"Right 2", s.Right(2), L"lo"}, {"Right 99", s.Right(99), L"hello"},
        {"Right -3", s.Right(-3), L""}, {"Mid 1,3", s.Mid(1, 3), L"ell"},
        {"Mid 3,99", s.Mid(3, 99), L"lo"}, {"Mid 9,1", s.Mid(9, 1), L""},
        {"Mid -2,2", s.Mid(-2, 2), L"he"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(std::wstring(r.expected), r.got.str());
    }
}

TEST(CQvString, FindFromAStartIndex) {
    const CQvString s(L"abcabcabc");
    struct Row { const char* label; const wchar_t* text; int start; bool found; int pos; };
    const Row rows[] = {
        {"first", L"bc", 0, true, 1},
        {"start on a hit", L"bc", 1, true, 1},
        {"start after a hit", L"bc", 2, true, 4},
        {"last one", L"abc", 6, true, 6},
        {"past the last", L"abc", 7, false, -1},
        {"start beyond length", L"a", 20, false, -1},
        {"negative start", L"a", -5, true, 0},
        {"absent", L"x", 0, false, -1},
        {"longer than string", L"abcabcabcabc", 0, false, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        int pos = -1;
        EXPECT_EQ(r.found, s.Find(r.text, pos, r.start) != FALSE);
        EXPECT_EQ(r.found ? r.pos : -1, pos) << "position is left alone when not found";
    }
    int pos = -1;
    EXPECT_FALSE(s.Find(nullptr, pos, 0));
}

TEST(CQvString, ReverseFindGivesTheLastOccurrence) {
    int pos = -1;
    EXPECT_TRUE(CQvString(L"C:\\a\\b.txt").ReverseFind(L'\\', pos));
    EXPECT_EQ(4, pos);
    EXPECT_TRUE(CQvString(L"\\").ReverseFind(L'\\', pos));
    EXPECT_EQ(0, pos);
    pos = -1;
    EXPECT_FALSE(CQvString(L"abc").ReverseFind(L'\\', pos));
    EXPECT_FALSE(CQvString().ReverseFind(L'a', pos));
    EXPECT_EQ(-1, pos);
}

TEST(CQvString, ReplaceEveryOccurrence) {
    struct Row { const char* label; const wchar_t* in; const wchar_t* from; const wchar_t* to; const wchar_t* out; int count; };
    const Row rows[] = {
        {"all occurrences", L"a.b.c", L".", L"\\", L"a\\b\\c", 2},
        {"cut a prefix", L"C:\\src\\dir\\f", L"C:\\src", L"", L"\\dir\\f", 1},
        {"overlapping-looking", L"aaaa", L"aa", L"b", L"bb", 2},
        {"odd overlap", L"aaa", L"aa", L"b", L"ba", 1},
        {"replacement contains pattern", L"ab", L"a", L"aa", L"aab", 1},
        {"grow", L"x-x", L"x", L"xyz", L"xyz-xyz", 2},
        {"no match", L"abc", L"z", L"y", L"abc", 0},
        {"case matters", L"ABC", L"b", L"x", L"ABC", 0},
        {"empty pattern does nothing", L"abc", L"", L"x", L"abc", 0},
        {"null new text removes", L"abcabc", L"b", nullptr, L"acac", 2},
        {"whole string", L"abc", L"abc", L"", L"", 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        CQvString s(r.in);
        EXPECT_EQ(r.count, s.Replace(r.from, r.to));
        EXPECT_EQ(std::wstring(r.out), s.str());
    }
}

TEST(CQvString, GetTokenCountsFromOne) {
    const CQvString s(L":\\dir\\big.bin|01022024101010|3");
    struct Row { const char* label; const wchar_t* delims; int index; bool found; const wchar_t* token; };
    const Row rows[] = {
        {"path", L"|", 1, true, L":\\dir\\big.bin"},
        {"stamp", L"|", 2, true, L"01022024101010"},
        {"count", L"|", 3, true, L"3"},
        {"beyond", L"|", 4, false, L""},
        {"zero index", L"|", 0, false, L""},
        {"negative index", L"|", -1, false, L""},
        {"several delimiters", L"|\\", 3, true, L"big.bin"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        CQvString tok(L"unchanged");
        EXPECT_EQ(r.found, s.GetToken(r.delims, tok, r.index) != FALSE);
        EXPECT_EQ(std::wstring(r.found ? r.token : L"unchanged"), tok.str());
    }
    CQvString tok;
    // Empty tokens between delimiters are skipped, as strtok does.
    EXPECT_TRUE(CQvString(L"||a||b|").GetToken(L"|", tok, 2));
    EXPECT_EQ(L"b", tok.str());
    EXPECT_FALSE(CQvString(L"||a||b|").GetToken(L"|", tok, 3));
    EXPECT_FALSE(CQvString(L"|||").GetToken(L"|", tok, 1));
    EXPECT_FALSE(CQvString().GetToken(L"|", tok, 1));
    EXPECT_TRUE(CQvString(L"whole").GetToken(L"|", tok, 1));
    EXPECT_EQ(L"whole", tok.str());
}

TEST(CQvString, CaseFoldingAndCompareNoCase) {
    CQvString s(L"C:\\Dir\\File\u00C9.TXT");
    s.MakeLower();
    EXPECT_EQ(L"c:\\dir\\file\u00e9.txt", s.str());
    s.MakeUpper();
    EXPECT_EQ(L"C:\\DIR\\FILE\u00C9.TXT", s.str());

    EXPECT_EQ(0, CQvString(L"Files").CompareNoCase(L"fILES"));
    EXPECT_EQ(0, CQvString().CompareNoCase(nullptr));
    EXPECT_LT(CQvString(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CQvString(L"abd").CompareNoCase(L"ABC"), 0);
    EXPECT_LT(CQvString(L"ab").CompareNoCase(L"ABC"), 0);
    EXPECT_GT(CQvString(L"abc").CompareNoCase(L"AB"), 0);
}

TEST(CQvString, FormatReplacesTheContent) {
    CQvString s(L"old");
    EXPECT_TRUE(s.Format(L"%s.%s.Part%d", L"C:\\big.bin", L"01022024101010", 2));
    EXPECT_EQ(L"C:\\big.bin.01022024101010.Part2", s.str());
    EXPECT_FALSE(s.Format(nullptr));
}

TEST(CQvString, MapOrderIsOrdinalWithCase) {
    std::map<CQvString, int> m;
    for (const wchar_t* k : {L"b", L"B", L"a", L"ab", L"A"}) m[CQvString(k)] = 1;
    std::vector<std::wstring> keys;
    for (const auto& kv : m) keys.push_back(kv.first.str());
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"a", L"ab", L"b"}), keys);
    EXPECT_TRUE(CQvString(L"a") < L"b");
    EXPECT_FALSE(CQvString(L"b") < L"a");
    EXPECT_TRUE(CQvString(L"x") == L"x");
    EXPECT_TRUE(CQvString(L"x") != L"X");
    EXPECT_TRUE(CQvString() == static_cast<const wchar_t*>(nullptr));
}

}  // namespace
