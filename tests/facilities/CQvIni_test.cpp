// CQvIni: store/load round trip, tolerant parsing, case-insensitive names, refused content.
#include "facilities/CQvIni.h"

#include "platform/QvFaults.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Value(const CQvIni& ini, const wchar_t* section, const wchar_t* key) {
    CQvString v;
    if (!ini.GetKeyValue(section, key, v)) return L"<absent>";
    return v.str();
}

TEST(CQvIni, StoreWritesCrLfTextThatLoadReadsBack) {
    qvtest::TempTree tree;
    CQvIni ini;
    ASSERT_TRUE(ini.AddSection(L"Files"));
    ASSERT_TRUE(ini.AddKey(L"Files", L"File0", L":\\data\\big.bin|01022024101010|3"));
    ASSERT_TRUE(ini.AddKey(L"Files", L"File1", L":\\caf\u00e9\\x=y.bin|01022024101011|12"));
    ASSERT_TRUE(ini.AddKey(L"Other", L"Key", L""));
    const std::wstring path = tree.WinPath("parts.ini");
    ASSERT_TRUE(ini.Store(path.c_str(), 1));
    EXPECT_EQ("[Files]\r\n"
              "File0=:\\data\\big.bin|01022024101010|3\r\n"
              "File1=:\\caf\xc3\xa9\\x=y.bin|01022024101011|12\r\n"
              "\r\n"
              "[Other]\r\n"
              "Key=\r\n",
              tree.ReadFile("parts.ini"));

    CQvIni back;
    ASSERT_TRUE(back.Load(path.c_str(), nullptr));
    EXPECT_EQ(L":\\data\\big.bin|01022024101010|3", Value(back, L"Files", L"File0"));
    EXPECT_EQ(L":\\caf\u00e9\\x=y.bin|01022024101011|12", Value(back, L"Files", L"File1"));
    EXPECT_EQ(L"", Value(back, L"Other", L"Key"));
    EXPECT_EQ(L"<absent>", Value(back, L"Files", L"File2"));
}

TEST(CQvIni, LoadToleratesBomCrLfJunkAndComments) {
    qvtest::TempTree tree;
    tree.WriteFile("in.ini",
                   "\xEF\xBB\xBF"
                   "orphan=before any section\r\n"
                   "; comment\r\n"
                   "# another comment\n"
                   "just junk\r\n"
                   "[Files]\r\n"
                   "  File0 = a=b|c  \r\n"
                   "[broken section\r\n"
                   "File1=after junk\n"
                   "\r\n"
                   "=no key\r\n"
                   "[ Second ]\n"
                   "K=last line without newline");
    CQvIni ini;
    ASSERT_TRUE(ini.Load(tree.WinPath("in.ini").c_str(), nullptr));
    struct Row { const wchar_t* section; const wchar_t* key; const wchar_t* value; };
    const Row rows[] = {
        {L"Files", L"File0", L" a=b|c  "},  // everything after the first "=", as written
        {L"Files", L"File1", L"after junk"},
        {L"Second", L"K", L"last line without newline"},
        {L"Files", L"orphan", L"<absent>"},
        {L"Files", L"", L"<absent>"},
        {L"broken section", L"File1", L"<absent>"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(qvtest::Narrow(std::wstring(r.section) + L"/" + r.key));
        EXPECT_EQ(std::wstring(r.value), Value(ini, r.section, r.key));
    }
}

TEST(CQvIni, NamesIgnoreLetterCase) {
    CQvIni ini;
    ASSERT_TRUE(ini.AddKey(L"Files", L"File0", L"one"));
    ASSERT_TRUE(ini.AddSection(L"FILES")) << "an existing section is not an error";
    ASSERT_TRUE(ini.AddKey(L"files", L"FILE0", L"two"));
    EXPECT_EQ(L"two", Value(ini, L"fIlEs", L"file0"));
    qvtest::TempTree tree;
    ASSERT_TRUE(ini.Store(tree.WinPath("c.ini").c_str(), 1));
    EXPECT_EQ("[Files]\r\nFile0=two\r\n", tree.ReadFile("c.ini")) << "one section, one key, first spelling";
}

TEST(CQvIni, MissingSectionKeyOrFile) {
    qvtest::TempTree tree;
    CQvIni ini;
    CQvString v(L"unchanged");
    EXPECT_FALSE(ini.GetKeyValue(L"Files", L"File0", v));
    ASSERT_TRUE(ini.AddSection(L"Files"));
    EXPECT_FALSE(ini.GetKeyValue(L"Files", L"File0", v));
    EXPECT_FALSE(ini.GetKeyValue(L"Other", L"File0", v));
    EXPECT_FALSE(ini.GetKeyValue(nullptr, L"File0", v));
    EXPECT_EQ(L"unchanged", v.str());

    EXPECT_FALSE(ini.Load(tree.WinPath("absent.ini").c_str(), nullptr));
    EXPECT_FALSE(ini.Load(nullptr, nullptr));
    EXPECT_TRUE(ini.GetKeyValue(L"Files", L"File0", v) == FALSE && ini.AddKey(L"Files", L"K", L"v"))
        << "a failed load leaves the document usable";
}

TEST(CQvIni, LoadReplacesTheDocumentAndAcceptsEmptyFiles) {
    qvtest::TempTree tree;
    tree.WriteFile("empty.ini", "");
    tree.WriteFile("nosection.ini", "File0=x\r\nFile1=y\r\n");
    CQvIni ini;
    ASSERT_TRUE(ini.AddKey(L"Files", L"File0", L"old"));
    ASSERT_TRUE(ini.Load(tree.WinPath("empty.ini").c_str(), nullptr));
    EXPECT_EQ(L"<absent>", Value(ini, L"Files", L"File0"));
    ASSERT_TRUE(ini.AddSection(L"Files")) << "the part list starts from an empty file";
    ASSERT_TRUE(ini.Load(tree.WinPath("nosection.ini").c_str(), nullptr));
    EXPECT_EQ(L"<absent>", Value(ini, L"Files", L"File0"));
    ASSERT_TRUE(ini.Store(tree.WinPath("out.ini").c_str(), 1));
    EXPECT_EQ("", tree.ReadFile("out.ini"));
}

TEST(CQvIni, RefusesNamesAndValuesThatWouldNotReadBack) {
    CQvIni ini;
    struct Row { const char* label; const wchar_t* section; const wchar_t* key; const wchar_t* value; };
    const Row rows[] = {
        {"newline in value", L"Files", L"File0", L"a\nb"},
        {"carriage return in value", L"Files", L"File0", L"a\r"},
        {"equals in key", L"Files", L"a=b", L"v"},
        {"bracket key", L"Files", L"[x", L"v"},
        {"comment key", L"Files", L";x", L"v"},
        {"empty key", L"Files", L"", L"v"},
        {"blank around key", L"Files", L" k", L"v"},
        {"bracket in section", L"Fi]les", L"k", L"v"},
        {"empty section", L"", L"k", L"v"},
        {"null value", L"Files", L"k", nullptr},
        {"null key", L"Files", nullptr, L"v"},
        {"null section", nullptr, L"k", L"v"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_FALSE(ini.AddKey(r.section, r.key, r.value));
    }
    EXPECT_FALSE(ini.AddSection(L"a\nb"));
    qvtest::TempTree tree;
    ASSERT_TRUE(ini.Store(tree.WinPath("r.ini").c_str(), 1));
    EXPECT_EQ("", tree.ReadFile("r.ini")) << "nothing refused reached the document";
}

TEST(CQvIni, FailedStoreKeepsTheOldList) {
    qvtest::TempTree tree;
    tree.WriteFile("parts.ini", "[Files]\r\nFile0=:\\a|01012024000000|2\r\n");
    CQvIni ini;
    ASSERT_TRUE(ini.Load(tree.WinPath("parts.ini").c_str(), nullptr));
    ASSERT_TRUE(ini.AddKey(L"Files", L"File1", L":\\b|01012024000000|3"));
    qvp::InjectFault(qvp::FaultOp::Write, 1);
    EXPECT_FALSE(ini.Store(tree.WinPath("parts.ini").c_str(), 1));
    qvp::ClearFaults();
    EXPECT_EQ("[Files]\r\nFile0=:\\a|01012024000000|2\r\n", tree.ReadFile("parts.ini"));
    ASSERT_TRUE(ini.Store(tree.WinPath("parts.ini").c_str(), 1));
    CQvIni back;
    ASSERT_TRUE(back.Load(tree.WinPath("parts.ini").c_str(), nullptr));
    EXPECT_EQ(L":\\b|01012024000000|3", Value(back, L"Files", L"File1"));
}

}  // namespace
