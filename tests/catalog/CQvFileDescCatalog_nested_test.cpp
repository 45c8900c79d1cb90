// Directories other rules reach into, and the removal of excluded entries.
#include "catalog/QvCatalogTestAccess.h"

#include <gtest/gtest.h>

using qvcat::FileRule;
using qvcat::Key;
using qvcat::Keys;
using qvcat::LoadRules;
using qvcat::MapKey;
using qvcat::RuleOf;
using qvtest::TempTree;
typedef QvCatalogTestAccess A;
typedef std::vector<std::string> Names;

namespace {

class CatalogNestedTest : public ::testing::Test {
protected:
    void SetUp() override { A::ResetAll(); }
    void TearDown() override { A::ResetAll(); }
};

int g_calls = 0;
DWORD CALLBACK StopAlways(DWORD, LPVOID, DWORD, LPVOID) { return 1; }
DWORD CALLBACK StopFromSecondCall(DWORD, LPVOID, DWORD, LPVOID) { return ++g_calls >= 2 ? 1 : 0; }

}  // namespace

TEST_F(CatalogNestedTest, ExcludedDirectoryIsLeftOutAndItsParentsWalked) {
    TempTree t;
    t.WriteFile("A/f1", "1");
    t.WriteFile("A/B/f2", "2");
    t.WriteFile("A/B/Ex/x", "3");
    t.WriteFile("A/B/Other/y", "4");
    t.WriteFile("A/C/z", "5");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("A"), L"", false},
                            {L"EXCLUDE", L"Any", t.WinPath("A/B/Ex"), L"", false}}),
              S_OK);
    CQvPathRules* r = RuleOf(t.WinPath("A"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(A::SplitExcludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    // Directory entries reached after a comparison have no trailing backslash.
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "A/B/f2"), Key(t, "A/B/Other"), Key(t, "A/C"),
                                          Key(t, "A/f1")}));
}

TEST_F(CatalogNestedTest, IncludeRuleInsideIsWalkedAround) {
    TempTree t;
    t.WriteFile("A/f1", "1");
    t.WriteFile("A/B/f2", "2");
    t.WriteFile("A/B/C/g", "3");
    t.WriteFile("A/B/C/D/h", "4");
    t.WriteFile("A/E/k", "5");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("A"), L"", false},
                            {L"INCLUDE", L"First", t.WinPath("A/B/C"), L"", false}}),
              S_OK);
    CQvPathRules* r = RuleOf(t.WinPath("A"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "A/B/C/D"), Key(t, "A/B/C/g"), Key(t, "A/B/f2"),
                                          Key(t, "A/E"), Key(t, "A/f1")}));
    EXPECT_TRUE(A::Map(InFirst).empty());
}

TEST_F(CatalogNestedTest, SiblingWithAShorterNameIsWalkedToo) {
    TempTree t;
    t.WriteFile("A/B/x", "1");
    t.WriteFile("A/B/sub/y", "2");
    t.WriteFile("A/B2/Ex/z", "3");
    t.WriteFile("A/B2/w", "4");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("A"), L"", false},
                            {L"EXCLUDE", L"Any", t.WinPath("A/B2/Ex"), L"", false}}),
              S_OK);
    CQvPathRules* r = RuleOf(t.WinPath("A"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(A::SplitExcludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "A/B2/w"), Key(t, "A/B/sub"), Key(t, "A/B/x")}));
}

TEST_F(CatalogNestedTest, ExcludedFileMakesTheWalkDescendIntoItsFolder) {
    TempTree t;
    t.WriteFile("A/B/x.tmp", "1");
    t.WriteFile("A/B/keep.txt", "2");
    t.WriteFile("A/B/sub/y", "3");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("A"), L"", false},
                            {L"EXCLUDE", L"Any", t.WinPath("A/B/x.tmp"), L"", false}}),
              S_OK);
    CQvPathRules* r = RuleOf(t.WinPath("A"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(A::SplitExcludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    // B's other contents stay; the file itself goes when the exclusion is applied.
    EXPECT_EQ(Keys(A::Map(InAny)),
              (Names{Key(t, "A/B/keep.txt"), Key(t, "A/B/sub"), Key(t, "A/B/x.tmp")}));
}

TEST_F(CatalogNestedTest, WalksStopOnRequestAndFailOnUnlistableFolders) {
    TempTree t;
    t.WriteFile("A/f", "1");
    t.WriteFile("A/B/g", "2");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("A"), L"", false},
                            {L"INCLUDE", L"First", t.WinPath("A/B/g"), L"", false}}),
              S_OK);
    CQvPathRules* r = RuleOf(t.WinPath("A"));
    ASSERT_NE(r, nullptr);
    {
        qvtest::LogCapture cap;
        A::SetCallback(StopAlways, nullptr);
        EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("A").c_str(), 100), E_ABORT);
        EXPECT_EQ(A::SplitExcludeDir(r, t.WinPath("A").c_str(), 100), E_ABORT);
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::SplitIncludeDir(...) ABORT request")) << cap.Dump();
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::SplitExcludeDir(...) ABORT request"));
        EXPECT_TRUE(A::Map(InAny).empty());
    }
    // A stop at the nested walk of B ends every walk: the top level does not go on to A/f,
    // and later walks stop at once until the catalogue starts afresh.
    A::Cat()->ResetFileCatalog();
    g_calls = 0;
    A::SetCallback(StopFromSecondCall, nullptr);
    EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    EXPECT_TRUE(A::Map(InAny).empty()) << Keys(A::Map(InAny)).size();
    A::SetCallback(nullptr, nullptr);
    EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("A").c_str(), 100), E_ABORT);
    A::Cat()->ResetFileCatalog();
    EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("A").c_str(), 100), S_OK);
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "A/B/g"), Key(t, "A/f")}));
    A::SetCallback(nullptr, nullptr);
    EXPECT_EQ(A::SplitIncludeDir(r, t.WinPath("missing").c_str(), 100), E_FAIL);
    EXPECT_EQ(A::SplitExcludeDir(r, t.WinPath("missing").c_str(), 100), E_FAIL);
}

TEST_F(CatalogNestedTest, RemovalsTouchOnlyTheirLocations) {
    TempTree t;
    t.WriteFile("d/a.txt", "1");
    t.WriteFile("d/b.txt", "2");
    t.WriteFile("d/c.log", "3");
    auto rule = qvcat::IncludeRule(t.WinPath("d"), L"", L"First");
    for (MediaDescriptEnum loc : {InLast, InAll}) {
        rule->vtInclude.push_back(loc);
        rule->vtTargetPath.push_back(L"");
    }
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    CQvString upper(t.WinPath("d/a.txt"));
    upper.MakeUpper();
    EXPECT_EQ(A::DeleteSingle(upper, {InAll, InLast}), S_OK);
    EXPECT_EQ(A::Map(InFirst).count(MapKey(t, "d/a.txt")), 1u);
    EXPECT_EQ(A::Map(InAll).count(MapKey(t, "d/a.txt")), 0u);
    EXPECT_EQ(A::Map(InLast).count(MapKey(t, "d/a.txt")), 0u);
    EXPECT_EQ(A::DeleteFiles(t.WinPath("d/*.TXT").c_str(), {InFirst, InLast}), S_OK);
    EXPECT_EQ(Keys(A::Map(InFirst)), Names{Key(t, "d/c.log")});
    EXPECT_EQ(Keys(A::Map(InLast)), Names{Key(t, "d/c.log")});
    EXPECT_EQ(Keys(A::Map(InAll)), (Names{Key(t, "d/b.txt"), Key(t, "d/c.log")}));
    EXPECT_EQ(A::DeleteSingle(t.WinPath("nowhere").c_str(), {InAll}), S_OK);
    EXPECT_EQ(A::DeleteSingle(t.WinPath("d/c.log").c_str(), {static_cast<MediaDescriptEnum>(7)}), S_OK);
    EXPECT_EQ(A::Map(InAll).size(), 2u);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::DeleteSingle(nullptr, {InAll}), E_INVALIDARG);
    EXPECT_EQ(A::DeleteFiles(nullptr, {InAll}), E_INVALIDARG);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                        L"CQvFileDescCatalog::DeleteSingleFileFromCatalog(LPCTSTR strFilePath, "
                        L"MediaDescriptEnumVector vtExclude) strFilePath=NULL !"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                        L"CQvFileDescCatalog::DeleteFilesFromCatalog(LPCTSTR strFilePath, "
                        L"MediaDescriptEnumVector vtExclude) strFilePath=NULL !"));
}
