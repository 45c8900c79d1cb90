// Catalogue basics: location maps, the substring test, whole-rule adding and removing, walks.
#include "catalog/QvCatalogTestAccess.h"
#include "platform/QvPlatformTestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

using qvcat::IncludeRule;
using qvcat::Key;
using qvcat::Keys;
using qvtest::TempTree;
typedef QvCatalogTestAccess A;

namespace {

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override { A::ResetAll(); }
    void TearDown() override { A::ResetAll(); }
};

size_t TotalEntries() {
    size_t n = 0;
    for (int loc = 1; loc <= 6; ++loc) n += A::Map(loc).size();
    return n;
}

}  // namespace

TEST_F(CatalogTest, MapOfSelectsOneMapPerLocationAndNoneOutside) {
    std::set<QvFileDescMap*> seen;
    for (int loc = 1; loc <= 6; ++loc) {
        ASSERT_NE(A::MapOf(loc), nullptr) << loc;
        seen.insert(A::MapOf(loc));
    }
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_EQ(A::MapOf(0), nullptr);
    EXPECT_EQ(A::MapOf(7), nullptr);
    EXPECT_EQ(A::MapOf(-1), nullptr);
}

TEST_F(CatalogTest, FindIsCaseInsensitiveSubstringTest) {
    struct Row {
        const wchar_t* text;
        const wchar_t* what;
        int expected;
    } rows[] = {
        {L"C:\\Data\\Sub", L"c:\\data", 1},
        {L"c:\\data", L"C:\\Data\\Sub", 0},
        {L"c:\\data\\b2\\x", L"C:\\DATA\\B", 1},  // a sibling with a longer name matches too
        {L"c:\\data", L"d:\\data", 0},
        {L"abc", L"", 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(qvtest::Narrow(r.text) + " / " + qvtest::Narrow(r.what));
        EXPECT_EQ(A::Find(r.text, r.what) != 0, r.expected != 0);
    }
}

TEST_F(CatalogTest, ResetEmptiesEveryMap) {
    TempTree t;
    t.WriteFile("f.txt", "x");
    auto rule = IncludeRule(t.WinPath("f.txt"), L"T", L"First");
    for (int loc : {InLast, InAll, InAny, NotFirst, NotLast}) {
        rule->vtInclude.push_back(static_cast<MediaDescriptEnum>(loc));
        rule->vtTargetPath.push_back(L"T");
    }
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    EXPECT_EQ(TotalEntries(), 6u);
    A::Cat()->ResetFileCatalog();
    EXPECT_EQ(TotalEntries(), 0u);
}

TEST_F(CatalogTest, DeleteFileDescAcceptsNullAndFrees) {
    qvtest::LogCapture cap;
    A::Cat()->DeleteFileDesc(nullptr);
    A::Cat()->DeleteFileDesc(new FileDesc());
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvFileDescCatalog::DeleteFileDesc(FileDesc *pFileDesc)"));
}

TEST_F(CatalogTest, NullRulesAreRefusedWithTheirMessages) {
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->AddToMediaCatalog(nullptr), E_FAIL);
    EXPECT_EQ(A::Cat()->DeleteFromMediaCatalog(nullptr), E_INVALIDARG);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::AddToMediaCatalog(CQvPathRules "
                                           L"*pqvPathRules) pqvPathRules=NULL !"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::DeleteFromMediaCatalog("
                                           L"CQvPathRules *pqvPathRules) pqvPathRules=NULL !"));
}

TEST_F(CatalogTest, EmptyDirectoryAddsNothing) {
    TempTree t;
    t.MakeDir("empty");
    auto rule = IncludeRule(t.WinPath("empty"));
    EXPECT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    EXPECT_EQ(TotalEntries(), 0u);
}

TEST_F(CatalogTest, DirectoryRuleGivesOneEntryPerFileKeyedByLowerCasePath) {
    TempTree t;
    t.WriteFile("Top/A.txt", "1");
    t.WriteFile("Top/Sub/B.TXT", "22");
    t.WriteFile("Top/Sub/Deep/C.txt", "333");
    auto rule = IncludeRule(t.WinPath("Top"), L"Back");
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    const std::vector<std::string> expected = {Key(t, "Top/A.txt"), Key(t, "Top/Sub/B.TXT"),
                                               Key(t, "Top/Sub/Deep/C.txt")};
    EXPECT_EQ(Keys(A::Map(InAny)), expected);
    const FileDesc& c = A::Map(InAny).at(qvcat::MapKey(t, "Top/Sub/Deep/C.txt"));
    EXPECT_EQ(c.strFilePath, CQvString(t.WinPath("Top/Sub/Deep/C.txt")));
    EXPECT_EQ(c.strTargetPath, CQvString(L"\\Back\\Top\\Sub\\Deep"));
    EXPECT_EQ(c.iFileSize, 3);
    EXPECT_EQ(c.pPathRules, rule.get());
    EXPECT_EQ(TotalEntries(), 3u);
}

TEST_F(CatalogTest, AddingTheSameRuleTwiceKeepsExistingEntries) {
    TempTree t;
    t.WriteFile("d/a.txt", "1");
    auto rule = IncludeRule(t.WinPath("d"), L"First");
    auto other = IncludeRule(t.WinPath("d"), L"Second");
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    t.WriteFile("d/a.txt", "grown");
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(other.get()), S_OK);
    ASSERT_EQ(A::Map(InAny).size(), 1u);
    const FileDesc& e = A::Map(InAny).begin()->second;
    EXPECT_EQ(e.iFileSize, 1);
    EXPECT_EQ(e.pPathRules, rule.get());
    EXPECT_EQ(e.strTargetPath, CQvString(L"\\First\\d"));
}

TEST_F(CatalogTest, MissingPathIsAFileThatFails) {
    TempTree t;
    auto rule = IncludeRule(t.WinPath("nothing.txt"));
    EXPECT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), E_FAIL);
    auto exclude = IncludeRule(t.WinPath("nothing.txt"));
    exclude->vtExclude = {InAny};
    EXPECT_EQ(A::Cat()->DeleteFromMediaCatalog(exclude.get()), S_OK);
}

TEST_F(CatalogTest, ExcludedDirectoryLeavesOnlyItsOwnLocations) {
    TempTree t;
    t.WriteFile("d/keep.txt", "1");
    t.WriteFile("d/ex/a.txt", "2");
    t.WriteFile("d/ex/sub/b.txt", "3");
    auto rule = IncludeRule(t.WinPath("d"), L"", L"First");
    rule->vtInclude.push_back(InLast);
    rule->vtTargetPath.push_back(L"");
    rule->vtInclude.push_back(InAll);
    rule->vtTargetPath.push_back(L"");
    ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
    // Different letter case from the include rule: keys are lower-cased, so it still matches.
    CQvString exPath(t.WinPath("d/ex"));
    exPath.MakeUpper();
    auto exclude = IncludeRule(exPath.str());
    exclude->vtInclude.clear();
    exclude->vtTargetPath.clear();
    exclude->vtExclude = {InAll, InLast};
    ASSERT_EQ(A::Cat()->DeleteFromMediaCatalog(exclude.get()), S_OK);
    EXPECT_EQ(A::Map(InFirst).size(), 3u);
    EXPECT_EQ(Keys(A::Map(InLast)), std::vector<std::string>{Key(t, "d/keep.txt")});
    EXPECT_EQ(Keys(A::Map(InAll)), std::vector<std::string>{Key(t, "d/keep.txt")});
}

TEST_F(CatalogTest, ParseDirectoryRemovesEveryFileBelow) {
    TempTree t;
    t.WriteFile("d/a.txt", "1");
    t.WriteFile("d/s/b.txt", "2");
    t.WriteFile("other.txt", "3");
    auto rule = IncludeRule(t.WinPath(""));
    A::ParseDirectory(rule.get(), t.WinPath("").c_str(), 1);
    ASSERT_EQ(A::Map(InAny).size(), 3u);
    auto exclude = IncludeRule(t.WinPath("d"));
    exclude->vtExclude = {InAny};
    A::ParseDirectory(exclude.get(), t.WinPath("d").c_str(), 0);
    EXPECT_EQ(Keys(A::Map(InAny)), std::vector<std::string>{Key(t, "other.txt")});
}

#if !defined(_WIN32)
TEST_F(CatalogTest, WalksEndOnALinkToAnAncestor) {
    TempTree t;
    t.WriteFile("a/x.txt", "1");
    t.WriteFile("a/b/y.txt", "22");
    std::filesystem::create_directory_symlink(t.Native("a"), t.Native("a/b/loop"));
    auto rule = IncludeRule(t.WinPath("a"));
    qvtest::EnvGuard env("QVSPLIT_FOLLOW_LINKS");
    const struct {
        const char* label;
        const char* follow;
        std::vector<std::string> keys;
    } rows[] = {
        {"by default the link is an entry of its own", "0", {Key(t, "a/b/loop"), Key(t, "a/b/y.txt"), Key(t, "a/x.txt")}},
        {"followed, the loop is not entered again but kept as the link itself", "1",
         {Key(t, "a/b/loop"), Key(t, "a/b/y.txt"), Key(t, "a/x.txt")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        setenv("QVSPLIT_FOLLOW_LINKS", row.follow, 1);
        A::ResetAll();
        ASSERT_EQ(A::Cat()->AddToMediaCatalog(rule.get()), S_OK);
        EXPECT_EQ(Keys(A::Map(InAny)), row.keys);
        EXPECT_EQ(A::DirSize(t.WinPath("a").c_str()), 3);
        A::Cat()->ResetFileCatalog();
        EXPECT_EQ(A::SplitDirToCatalog(1, rule.get(), t.WinPath("a").c_str()), S_OK);
        EXPECT_EQ(Keys(A::Map(InAny)), (std::vector<std::string>{Key(t, "a/b") + "\\", Key(t, "a/x.txt")}));
    }
}
#endif
