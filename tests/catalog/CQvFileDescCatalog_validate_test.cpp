// Building the catalogue with both output methods, sizing it, and the nine size checks.
#include "catalog/QvCatalogTestAccess.h"
#include "media/CQvMediaFactory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstring>

using qvcat::FileRule;
using qvcat::Key;
using qvcat::Keys;
using qvcat::LoadRules;
using qvcat::MapKey;
using qvcat::kMB;
using qvtest::TempTree;
typedef QvCatalogTestAccess A;
typedef std::vector<std::string> Names;

namespace {

class CatalogValidateTest : public ::testing::Test {
protected:
    void SetUp() override { A::ResetAll(); }
    void TearDown() override { A::ResetAll(); }
};

int g_calls = 0;
DWORD CALLBACK CountCalls(DWORD code, LPVOID, DWORD, LPVOID) {
    if (code == 1) ++g_calls;
    return 0;
}
DWORD CALLBACK Stop(DWORD, LPVOID, DWORD, LPVOID) { return 1; }

// A tree used by both output methods.
void MakeMixedTree(const TempTree& t) {
    t.WriteFile("R/top.txt", "1");
    t.WriteFile("R/Keep/a.txt", "22");
    t.WriteFile("R/Keep/Deep/b.txt", "333");
    t.WriteFile("R/Ex/c.txt", "4444");
    t.WriteFile("R/Mixed/x.tmp", "55555");
    t.WriteFile("R/Mixed/y.txt", "666666");
    t.WriteFile("R/Mixed/Sub/z.txt", "7777777");
    t.WriteFile("R/Inner/i.txt", "88888888");
    t.WriteFile("R/Inner/More/j.txt", "999999999");
}

std::vector<FileRule> MixedRules(const TempTree& t) {
    return {{L"INCLUDE", L"Any", t.WinPath("R"), L"Back", false},
            {L"INCLUDE", L"First", t.WinPath("R/Inner"), L"In", false},
            {L"EXCLUDE", L"Any", t.WinPath("R/Ex"), L"", false},
            {L"EXCLUDE", L"Any", t.WinPath("R/Mixed/x.tmp"), L"", false}};
}

}  // namespace

TEST_F(CatalogValidateTest, MethodZeroTakesFilesOneByOne) {
    TempTree t;
    MakeMixedTree(t);
    ASSERT_EQ(LoadRules(t, MixedRules(t)), S_OK);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, 0), S_OK);
    // Inner's files go on the first medium only: not also as any-medium entries.
    EXPECT_EQ(Keys(A::Map(InAny)),
              (Names{Key(t, "R/Keep/a.txt"), Key(t, "R/Keep/Deep/b.txt"),
                     Key(t, "R/Mixed/Sub/z.txt"), Key(t, "R/Mixed/y.txt"), Key(t, "R/top.txt")}));
    EXPECT_EQ(Keys(A::Map(InFirst)), (Names{Key(t, "R/Inner/i.txt"), Key(t, "R/Inner/More/j.txt")}));
    EXPECT_EQ(CQvMediaFactory::GetInstance()->m_iTotalSize, 1 + 2 + 3 + 6 + 7 + 8 + 9);
}

TEST_F(CatalogValidateTest, MethodOneKeepsDirectoriesWholeAroundNestedRules) {
    TempTree t;
    MakeMixedTree(t);
    ASSERT_EQ(LoadRules(t, MixedRules(t)), S_OK);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, 1), S_OK);
    // R is walked around every other rule: Ex is left out, Mixed is walked (x.tmp then
    // removed), Keep is one entry; Inner, which the first-medium rule reaches into, is walked
    // too, and what that rule puts on the first medium is no any-medium entry as well.
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "R/Keep"), Key(t, "R/Mixed/Sub"),
                                          Key(t, "R/Mixed/y.txt"), Key(t, "R/top.txt")}));
    EXPECT_EQ(A::Map(InAny).at(MapKey(t, "R/Keep")).iFileSize, 5);
    EXPECT_EQ(qvtest::Narrow(A::Map(InAny).at(MapKey(t, "R/Keep")).strTargetPath.str()),
              "\\Back\\R\\Keep");
    // The rule for Inner has no exclusion reaching in: its children are added one level down.
    EXPECT_EQ(Keys(A::Map(InFirst)), (Names{Key(t, "R/Inner/i.txt"), Key(t, "R/Inner/More")}));
    EXPECT_EQ(CQvMediaFactory::GetInstance()->m_iTotalSize, 1 + 5 + 6 + 7 + 8 + 9);
}

TEST_F(CatalogValidateTest, MethodOneSplitsOversizeDirectoriesAndNestedIncludes) {
    TempTree t;
    t.WriteSparse("R/Big/a.bin", 3 * kMB);
    t.WriteSparse("R/Big/b.bin", 3 * kMB);
    t.WriteFile("R/Small/c.txt", "1");
    t.WriteFile("R/Sub/Own/d.txt", "2");
    t.WriteFile("R/Sub/e.txt", "3");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R"), L"", false},
                            {L"INCLUDE", L"Last", t.WinPath("R/Sub/Own"), L"", false}}),
              S_OK);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(5, 0, 1), S_OK);
    EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "R/Big/a.bin"), Key(t, "R/Big/b.bin"),
                                          Key(t, "R/Small"), Key(t, "R/Sub/e.txt")}));
    EXPECT_EQ(Keys(A::Map(InLast)), Names{Key(t, "R/Sub/Own/d.txt")});
    // The same tree file by file.
    A::ResetAll();
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R"), L"", false},
                            {L"INCLUDE", L"Last", t.WinPath("R/Sub/Own"), L"", false}}),
              S_OK);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(5, 0, 0), S_OK);
    EXPECT_EQ(A::Map(InAny).size(), 4u);
    EXPECT_EQ(A::Map(InAny).count(MapKey(t, "R/Small/c.txt")), 1u);
}

TEST_F(CatalogValidateTest, ExclusionFromOneLocationKeepsTheOthers) {
    for (DWORD method : {0u, 1u}) {
        SCOPED_TRACE(method);
        A::ResetAll();
        TempTree t;
        t.WriteFile("R/a.txt", "1");
        t.WriteFile("R/Ex/b.txt", "2");
        t.WriteFile("R/Ex/s/c.txt", "3");
        ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"First", t.WinPath("R"), L"", false},
                                {L"INCLUDE", L"Last", t.WinPath("R"), L"", false},
                                {L"EXCLUDE", L"Last", t.WinPath("R/Ex"), L"", false}}),
                  S_OK);
        EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, method), S_OK);
        EXPECT_EQ(Keys(A::Map(InLast)), Names{Key(t, "R/a.txt")});
        EXPECT_EQ(A::Map(InFirst).count(MapKey(t, "R/Ex/b.txt")), 1u);
        EXPECT_EQ(A::Map(InFirst).count(MapKey(t, "R/Ex/s/c.txt")), 1u);
    }
}

TEST_F(CatalogValidateTest, FileRuleBesideAnExcludedFolderOfLongerNameStays) {
    // The excluded folder f.txt.d contains the text of f.txt, but excludes nothing of it:
    // both methods keep f.txt, while an exclusion of f.txt itself still takes it out.
    TempTree t;
    t.WriteFile("R/f.txt", "1");
    t.WriteFile("R/g.txt", "2");
    t.WriteFile("R/f.txt.d/h", "3");
    for (DWORD method : {0u, 1u}) {
        SCOPED_TRACE(method);
        A::ResetAll();
        ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R/f.txt"), L"", false},
                                {L"INCLUDE", L"Any", t.WinPath("R/g.txt"), L"", false},
                                {L"EXCLUDE", L"Any", t.WinPath("R/f.txt.d"), L"", false}}),
                  S_OK);
        EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, method), S_OK);
        EXPECT_EQ(Keys(A::Map(InAny)), (Names{Key(t, "R/f.txt"), Key(t, "R/g.txt")}));
        A::ResetAll();
        ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R/f.txt"), L"", false},
                                {L"INCLUDE", L"Any", t.WinPath("R/g.txt"), L"", false},
                                {L"EXCLUDE", L"Any", t.WinPath("R/f.txt"), L"", false}}),
                  S_OK);
        EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, method), S_OK);
        EXPECT_EQ(Keys(A::Map(InAny)), Names{Key(t, "R/g.txt")});
    }
}

TEST_F(CatalogValidateTest, NineChecksEachWithItsMessage) {
    struct Part {
        const char* rel;
        uint64_t size;
        const wchar_t* location;
        bool bGroup;
        bool bWildcard;  // added through a pattern, so no size test keeps it out
    };
    struct Row {
        const char* label;
        std::vector<Part> parts;
        DWORD dwFree;
        std::wstring message;
    };
    const std::wstring p = L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=10)FAILED -> ";
    const Row rows[] = {
        {"1 big file", {{"c/big.bin", 11 * kMB, L"Any", false, true}}, 0, p + L"iSizeBigFile=11"},
        {"2 first", {{"c/f1", 6 * kMB, L"First", false, false}, {"c/f2", 5 * kMB, L"First", false, false}}, 0,
         p + L"iSizeFirst=11"},
        {"3 first+all", {{"c/a", 3 * kMB, L"All", false, false}, {"c/f", 8 * kMB, L"First", false, false}}, 0,
         p + L"(iSizeAll+iSizeFirst) > dwSplitSize"},
        {"4 big+all", {{"c/a", 3 * kMB, L"All", false, false}, {"c/y", 8 * kMB, L"Any", false, false}}, 0,
         p + L"(iSizeAll+iSizeBigFile) > dwSplitSize"},
        {"5 first+free", {{"c/f", 4 * kMB, L"First", false, false}}, 7,
         p + L"iSizeFirst+dwFirstMediaFreeSpaceSize=11"},
        {"6 last", {{"c/l1", 6 * kMB, L"Last", false, false}, {"c/l2", 5 * kMB, L"Last", false, false}}, 0,
         p + L"iSizeLast=11"},
        {"7 last+all", {{"c/a", 3 * kMB, L"All", false, false}, {"c/l", 8 * kMB, L"Last", false, false}}, 0,
         p + L"(iSizeAll+iSizeLast) > dwSplitSize"},
        {"8 group", {{"g/g1", 6 * kMB, L"Any", true, false}, {"g/g2", 5 * kMB, L"Any", true, false}}, 0,
         p + L"iSizeGroup=11"},
        {"9 group+all", {{"c/a", 3 * kMB, L"All", false, false}, {"g/g", 7 * kMB, L"Any", true, false}}, 0,
         p + L"(iSizeAll+iSizeGroup) > dwSplitSize"},
        // What is taken whole onto one medium fits when it fills it exactly.
        {"first at exactly the split size", {{"c/f1", 6 * kMB, L"First", false, false},
                                             {"c/f2", 4 * kMB, L"First", false, false}}, 0, L""},
        {"first+all+free at exactly the split size", {{"c/a", 2 * kMB, L"All", false, false},
                                                      {"c/f", 3 * kMB, L"First", false, false}}, 5, L""},
        {"2 first one byte over", {{"c/f1", 6 * kMB, L"First", false, false},
                                   {"c/f2", 4 * kMB + 1, L"First", false, false}}, 0, p + L"iSizeFirst=10"},
        // The figure is the set the trace's information line names, every-medium files in it.
        {"2 first half a megabyte over, beside every-medium files",
         {{"c/a", 943718, L"All", false, false}, {"c/f1", 5 * kMB + kMB / 4, L"First", false, false},
          {"c/f2", 5 * kMB + kMB / 4, L"First", false, false}}, 0, p + L"iSizeFirst=11"},
        {"6 last half a megabyte over, beside every-medium files",
         {{"c/a", 943718, L"All", false, false}, {"c/l1", 5 * kMB + kMB / 4, L"Last", false, false},
          {"c/l2", 5 * kMB + kMB / 4, L"Last", false, false}}, 0, p + L"iSizeLast=11"},
        // What first-fit places fits only while the medium stays below its size.
        {"8 group of exactly the split size", {{"g/g1", 6 * kMB, L"Any", true, false},
                                               {"g/g2", 4 * kMB, L"Any", true, false}}, 0, p + L"iSizeGroup=10"},
        {"4 any file filling the rest exactly", {{"c/a", 3 * kMB, L"All", false, false},
                                                 {"c/y", 7 * kMB, L"Any", false, false}}, 0,
         p + L"(iSizeAll+iSizeBigFile) > dwSplitSize"},
        // Every-medium files count once, and never as the biggest file placed beside them.
        {"every-medium file with a small one", {{"c/a", 5 * kMB, L"All", false, false},
                                                {"c/y", 4 * kMB, L"Any", false, false}}, 0, L""},
        // Not-first entries never share the first medium, not-last ones never the last.
        {"not-first beside a full first medium", {{"c/f", 9 * kMB, L"First", false, false},
                                                  {"c/n1", 6 * kMB, L"NotFirst", false, false},
                                                  {"c/n2", 6 * kMB, L"NotFirst", false, false}}, 0, L""},
        {"not-last beside a full last medium", {{"c/l", 9 * kMB, L"Last", false, false},
                                                {"c/n1", 6 * kMB, L"NotLast", false, false},
                                                {"c/n2", 6 * kMB, L"NotLast", false, false}}, 0, L""},
        {"all pass", {{"c/a", 2 * kMB, L"All", false, false}, {"c/f", 3 * kMB, L"First", false, false},
                      {"g/g", 4 * kMB, L"Any", true, false}}, 4, L""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        A::ResetAll();
        TempTree t;
        std::vector<FileRule> rules;
        bool bGroupRule = false;
        for (const Part& part : r.parts) {
            t.WriteSparse(part.rel, part.size);
            if (part.bGroup) {
                if (!bGroupRule) rules.push_back({L"INCLUDE", L"Any", t.WinPath("g"), L"", true});
                bGroupRule = true;
            } else {
                const std::wstring path = part.bWildcard ? t.WinPath("c\\*.bin") : t.WinPath(part.rel);
                rules.push_back({L"INCLUDE", part.location, path, L"", false});
            }
        }
        // A rules file cannot name a pattern (the reader drops paths that do not exist), so
        // the pattern's matches are put in first and the build is skipped (method 2).
        DWORD method = 0;
        if (!rules.empty() && rules[0].source.find(L'*') != std::wstring::npos) {
            auto pattern = qvcat::IncludeRule(rules[0].source);
            ASSERT_EQ(A::Cat()->AddFileToCatalog(pattern.get(), rules[0].source.c_str()), S_OK);
            method = 2;
        } else {
            ASSERT_EQ(LoadRules(t, rules), S_OK);
        }
        qvtest::LogCapture cap;
        const long result = A::Cat()->ValidateSplitSize(10, r.dwFree, method);
        if (r.message.empty()) {
            EXPECT_EQ(result, S_OK) << cap.Dump();
            EXPECT_EQ(cap.Count(QvLogLevel::Error), 0u) << cap.Dump();
        } else {
            EXPECT_EQ(result, E_FAIL);
            EXPECT_TRUE(cap.Has(QvLogLevel::Error, r.message)) << cap.Dump();
            EXPECT_EQ(cap.Count(QvLogLevel::Error), 1u) << cap.Dump();
        }
    }
}

TEST_F(CatalogValidateTest, SizesAreComparedInBytesAndLoggedInMegabytes) {
    TempTree t;
    t.WriteSparse("f.bin", 7 * kMB + kMB / 2);
    t.WriteSparse("a.bin", kMB * 9 / 10);
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"First", t.WinPath("f.bin"), L"", false},
                            {L"INCLUDE", L"All", t.WinPath("a.bin"), L"", false}}),
              S_OK);
    qvtest::LogCapture cap;
    // First: 7.5 + 0.9 = 8.4 MB, the every-medium file counted once: it fits 9 MB but not
    // 8 MB, although the megabytes truncated one by one (7 + 0) would have passed at 8.
    EXPECT_EQ(A::Cat()->ValidateSplitSize(10, 0, 0), S_OK) << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Info,
                        L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=10MB) "
                        L"iSizeBigFile=7MB iSizeFirst=8MB iSizeLast=0MB iSizeGroup=0MB "
                        L"iSizeAll=0MB"))
        << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Info, L"CQvFileDescCatalog::ValidateSplitSize(...) "
                                          L"iSizeBigFile=7MB FileName= " +
                                              t.WinPath("f.bin")))
        << cap.Dump();
    EXPECT_EQ(A::Cat()->ValidateSplitSize(9, 0, 0), S_OK) << cap.Dump();
    EXPECT_EQ(A::Cat()->ValidateSplitSize(8, 0, 0), E_FAIL) << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::ValidateSplitSize(DWORD "
                                           L"dwSplitSize=8)FAILED -> (iSizeAll+iSizeFirst) > dwSplitSize"))
        << cap.Dump();
}

TEST_F(CatalogValidateTest, GroupSizeIsTheLargestGroup) {
    TempTree t;
    t.WriteSparse("g1/a", 3 * kMB);
    t.WriteSparse("g2/b", 2 * kMB);
    t.WriteSparse("g2/c", 3 * kMB);
    t.WriteSparse("free/d", 4 * kMB);
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("g1"), L"", true},
                            {L"INCLUDE", L"Any", t.WinPath("g2"), L"", true},
                            {L"INCLUDE", L"Any", t.WinPath("free"), L"", false}}),
              S_OK);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->ValidateSplitSize(100, 0, 0), S_OK);
    EXPECT_TRUE(cap.HasContaining(QvLogLevel::Info, L"iSizeGroup=5MB iSizeAll=0MB")) << cap.Dump();
    int64_t sizes[5];
    EXPECT_EQ(A::CheckSize(100, sizes), static_cast<int64_t>(12 * kMB));
    EXPECT_EQ(sizes[3], static_cast<int64_t>(5 * kMB));
    EXPECT_EQ(sizes[0], static_cast<int64_t>(4 * kMB));
}

TEST_F(CatalogValidateTest, BiggestFileIsSearchedInsideDirectoryEntries) {
    TempTree t;
    t.WriteSparse("R/D/s/huge.bin", 6 * kMB);
    t.WriteSparse("R/D/s/small.bin", 1 * kMB);
    t.WriteSparse("R/e.bin", 2 * kMB);
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R"), L"", false}}), S_OK);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->ValidateSplitSize(8, 0, 1), S_OK);
    // With no other include rule, the child keeps the backslash it was formed with.
    ASSERT_EQ(A::Map(InAny).count(MapKey(t, "R/D\\")), 1u);
    EXPECT_EQ(qvtest::Narrow(A::BigFileName().str()), "huge.bin");
    EXPECT_TRUE(cap.HasContaining(QvLogLevel::Info, L"iSizeBigFile=6MB FileName= huge.bin"))
        << cap.Dump();
}

// The biggest file below directory entries, as the size walks of the same validation found it:
// the first of equal sizes in listing order wins, and files in a folder the size walk skips
// ("System Volume Information") still count.
TEST_F(CatalogValidateTest, BiggestFileBelowDirectoryEntriesFollowsListingOrder) {
    struct Row {
        const char* name;
        std::vector<std::pair<const char*, int64_t>> files;  // below R, sizes in MB
        const char* biggest;
        int64_t biggestMb;
    };
    const Row rows[] = {
        {"ties go to the first listed", {{"A/P/x.bin", 3}, {"A/Q/y.bin", 3}}, "x.bin", 3},
        {"ties across entries too", {{"A/x.bin", 3}, {"B/y.bin", 3}}, "x.bin", 3},
        {"a deeper bigger file", {{"A/x.bin", 3}, {"A/Z/deep.bin", 4}, {"A/zz.bin", 4}}, "deep.bin", 4},
        {"a later bigger file", {{"A/P/x.bin", 2}, {"A/Q/y.bin", 5}}, "y.bin", 5},
        {"files hidden from the size walk",
         {{"A/x.bin", 1}, {"A/System Volume Information/big.bin", 5}, {"A/y.bin", 2}},
         "big.bin", 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        A::ResetAll();
        TempTree t;
        for (const auto& f : row.files) t.WriteSparse(std::string("R/") + f.first, f.second * kMB);
        ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R"), L"", false}}), S_OK);
        qvtest::LogCapture cap;
        EXPECT_EQ(A::Cat()->ValidateSplitSize(8, 0, 1), S_OK);
        EXPECT_EQ(qvtest::Narrow(A::BigFileName().str()), row.biggest);
        const std::wstring expected = L"iSizeBigFile=" + std::to_wstring(row.biggestMb) +
                                      L"MB FileName= " + std::wstring(row.biggest, row.biggest + std::strlen(row.biggest));
        EXPECT_TRUE(cap.HasContaining(QvLogLevel::Info, expected)) << cap.Dump();
    }
}

TEST_F(CatalogValidateTest, WimRefusalFailsBeforeSizing) {
    TempTree t;
    t.WriteSparse("img/Boot.Wim", 11 * kMB);
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("img"), L"", false}}), S_OK);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->ValidateSplitSize(10, 0, 0), E_FAIL);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                        L"CQvFileDescCatalog::ValidateSplitSize(DWORD dwSplitSize=10)FAILED WIM "
                        L"size too big"));
    EXPECT_FALSE(cap.HasContaining(QvLogLevel::Enter, L"CQvFileDescCatalog::CheckSize("));
    // The next build starts with the flag cleared.
    A::ResetAll();
    EXPECT_EQ(A::Cat()->ValidateSplitSize(10, 0, 0), S_OK);
}

TEST_F(CatalogValidateTest, EmptyCatalogPassesAndCallsBackOnce) {
    g_calls = 0;
    A::SetCallback(CountCalls, nullptr);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(700, 0, 0), S_OK);
    EXPECT_EQ(g_calls, 1);
    A::SetCallback(Stop, nullptr);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->ValidateSplitSize(700, 0, 2), E_ABORT);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request"));
}

TEST_F(CatalogValidateTest, MethodTwoBuildsNothing) {
    TempTree t;
    t.WriteFile("R/a", "1");
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("R"), L"", false}}), S_OK);
    EXPECT_EQ(A::Cat()->ValidateSplitSize(10, 0, 2), S_OK);
    EXPECT_TRUE(A::Map(InAny).empty());
}

// A split the size checks refuse cuts nothing: they run first with every file that would be
// cut counted as its parts, so a refused split leaves every source file as it was.
TEST_F(CatalogValidateTest, RefusedSplitCutsNothing) {
    struct Row {
        const char* label;
        const wchar_t* location;  // of huge.dat, which the rule for "w" also puts on any medium
        int iLocation;
        const wchar_t* message;
    } rows[] = {
        {"first medium: 26 MB in parts", L"First", InFirst, L"FAILED -> iSizeFirst=26"},
        {"every medium, a file in two maps", L"All", InAll, L"FAILED -> (iSizeAll+iSizeFirst) > dwSplitSize"},
        {"last medium", L"Last", InLast, L"FAILED -> iSizeLast=26"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        A::ResetAll();
        TempTree t;
        t.WriteSparse("w/huge.dat", 26 * kMB);
        t.WriteSparse("w/small.txt", 1 * kMB);
        ASSERT_EQ(CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, 25, t.WinPath("list.ini").c_str()), 0);
        ASSERT_EQ(LoadRules(t, {{L"INCLUDE", row.location, t.WinPath("w/huge.dat"), L"", false},
                                {L"INCLUDE", L"Any", t.WinPath("w"), L"", false}}),
                  S_OK);
        qvtest::LogCapture cap;
        EXPECT_EQ(A::Cat()->ValidateSplitSize(25, 0, 0), E_FAIL);
        EXPECT_TRUE(cap.HasContaining(QvLogLevel::Error, row.message)) << cap.Dump();
        EXPECT_FALSE(cap.HasContaining(QvLogLevel::Enter, L"CQvSplitBigFile::SplitFile("));
        EXPECT_EQ((std::vector<std::string>{"huge.dat", "small.txt"}), t.List("w"));
        EXPECT_EQ(26 * kMB, std::filesystem::file_size(t.Native("w/huge.dat")));
        EXPECT_EQ(std::string::npos, t.ReadFile("list.ini").find("File0")) << t.ReadFile("list.ini");
        // Kept in the map of its own location, and not also as an any-medium entry.
        EXPECT_EQ(A::Map(row.iLocation).count(MapKey(t, "w/huge.dat")), 1u);
        EXPECT_EQ(A::Map(InAny).count(MapKey(t, "w/huge.dat")), 0u);
    }
}

TEST_F(CatalogValidateTest, CutFilesCountByTheirParts) {
    TempTree t;
    t.WriteSparse("w/huge.dat", 26 * kMB);
    t.WriteSparse("w/small.txt", 1 * kMB);
    ASSERT_EQ(CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, 25, t.WinPath("list.ini").c_str()), 0);
    ASSERT_EQ(LoadRules(t, {{L"INCLUDE", L"Any", t.WinPath("w"), L"", false}}), S_OK);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->ValidateSplitSize(25, 0, 0), S_OK) << cap.Dump();
    // The cut file's 5 MB pieces stand in for it in its map and are what counts.
    EXPECT_EQ(A::Map(InAny).count(MapKey(t, "w/huge.dat")), 0u);
    EXPECT_EQ(A::Map(InAny).size(), 7u);
    EXPECT_FALSE(t.Exists("w/huge.dat"));
    EXPECT_TRUE(cap.HasContaining(QvLogLevel::Info, L"iSizeBigFile=5MB")) << cap.Dump();
    EXPECT_EQ(CQvMediaFactory::GetInstance()->m_iTotalSize, static_cast<int64_t>(27 * kMB));
}
