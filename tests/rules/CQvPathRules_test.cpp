// Tests of one path rule: construction, merging, the consistency check and the error banner.
#include "rules/CQvPathRules.h"

#include "rules/QvRulesTestAccess.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

using qvtest::LogCapture;

namespace {

typedef MediaDescriptEnumVector Codes;

Codes C(std::initializer_list<int> v) {
    Codes out;
    for (int i : v) out.push_back(static_cast<MediaDescriptEnum>(i));
    return out;
}

}  // namespace

TEST(CQvPathRulesTest, LocationKeywordsIgnoreCaseAndUnknownTextGivesZero) {
    const struct {
        const wchar_t* text;
        int code;
    } rows[] = {
        {L"First", 1},    {L"first", 1},   {L"LAST", 2},    {L"All", 3},      {L"aNy", 4},
        {L"NotFirst", 5}, {L"notlast", 6}, {L"", 0},        {nullptr, 0},     {L"Middle", 0},
        {L"First ", 0},   {L"Not First", 0}, {L"4", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text ? qvtest::Narrow(row.text) : "(null)");
        EXPECT_EQ(row.code, static_cast<int>(CQvPathRules::LocationCode(row.text)));
    }
}

TEST(CQvPathRulesTest, ConstructorPutsTheLocationInOneList) {
    const struct {
        const wchar_t* action;
        const wchar_t* location;
        Codes include;
        Codes exclude;
        size_t targets;
    } rows[] = {
        {L"INCLUDE", L"Any", C({4}), C({}), 1},   {L"include", L"First", C({1}), C({}), 1},
        {L"Include", L"bogus", C({0}), C({}), 1}, {L"EXCLUDE", L"Any", C({}), C({4}), 0},
        {L"exclude", L"All", C({}), C({3}), 0},   {L"", L"Last", C({}), C({2}), 0},
        {nullptr, L"Last", C({}), C({2}), 0},     {L"INCLUDED", L"Any", C({}), C({4}), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qvtest::Narrow(row.action ? row.action : L"(null)") + " " +
                     qvtest::Narrow(row.location));
        CQvPathRules r(row.action, row.location, L"T:\\src", L"\\dst", L"7", -1, L"/R/Rule[1]");
        EXPECT_EQ(row.include, r.vtInclude);
        EXPECT_EQ(row.exclude, r.vtExclude);
        ASSERT_EQ(row.targets, r.vtTargetPath.size());
        if (row.targets) {
            EXPECT_EQ(std::wstring(L"\\dst"), r.vtTargetPath[0].str());
        }
    }
}

TEST(CQvPathRulesTest, RuleIdIsConvertedLikeWcstol) {
    const struct {
        const wchar_t* text;
        DWORD id;
    } rows[] = {
        {L"7", 7},       {L"  42", 42},  {L"+5", 5},   {L"12abc", 12},
        {L"abc", 0},     {L"", 0},       {nullptr, 0}, {L"-1", 0xFFFFFFFFu},
        {L"0x10", 0},    {L"007", 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text ? qvtest::Narrow(row.text) : "(null)");
        CQvPathRules r(L"INCLUDE", L"Any", L"T:\\a", L"", row.text, -1, L"");
        EXPECT_EQ(row.id, r.GetID());
    }
}

TEST(CQvPathRulesTest, AccessorsReturnWhatTheConstructorWasGiven) {
    CQvPathRules r(L"INCLUDE", L"Any", L"T:\\Data\\Projects\\", L"\\P", L"9", 3, L"x");
    EXPECT_EQ(3, r.GetAllTogetherGroup());
    EXPECT_EQ(9u, r.GetID());
    EXPECT_STREQ(L"T:\\Data\\Projects\\", r.GetPath());
}

TEST(CQvPathRulesTest, MergeTable) {
    struct Step {
        const wchar_t* action;
        const wchar_t* location;
        const wchar_t* target;
    };
    const struct {
        const char* label;
        Step first;
        std::vector<Step> merges;
        Codes include;
        std::vector<std::wstring> targets;
        Codes exclude;
    } rows[] = {
        {"include then exclude on one path", {L"INCLUDE", L"Any", L"\\a"},
         {{L"EXCLUDE", L"Any", L"\\x"}}, C({4}), {L"\\a"}, C({4})},
        {"duplicate is appended again", {L"INCLUDE", L"First", L"\\a"},
         {{L"INCLUDE", L"First", L"\\b"}}, C({1, 1}), {L"\\a", L"\\b"}, C({})},
        {"All blocks later includes", {L"INCLUDE", L"All", L"\\a"},
         {{L"INCLUDE", L"First", L"\\b"}, {L"include", L"Last", L"\\c"}}, C({3}), {L"\\a"},
         C({})},
        {"All include leaves excludes open", {L"INCLUDE", L"All", L"\\a"},
         {{L"EXCLUDE", L"First", L""}, {L"EXCLUDE", L"Last", L""}}, C({3}), {L"\\a"},
         C({1, 2})},
        {"no exclusion is dropped after an All exclusion", {L"EXCLUDE", L"All", L""},
         {{L"EXCLUDE", L"First", L""}, {L"INCLUDE", L"Any", L"\\i"}, {L"EXCLUDE", L"Any", L""}},
         C({4}), {L"\\i"}, C({3, 1, 4})},
        {"All merged after another code is appended", {L"INCLUDE", L"First", L"\\a"},
         {{L"INCLUDE", L"All", L"\\b"}, {L"INCLUDE", L"Last", L"\\c"}}, C({1, 3}),
         {L"\\a", L"\\b"}, C({})},
        {"an All include blocks later includes though an All exclusion takes it back",
         {L"EXCLUDE", L"All", L""},
         {{L"INCLUDE", L"All", L"\\a"}, {L"INCLUDE", L"First", L"\\b"}}, C({3}),
         {L"\\a"}, C({3})},
        {"an All exclusion after the blocked include keeps it blocked", {L"INCLUDE", L"All", L"\\a"},
         {{L"INCLUDE", L"First", L"\\b"}, {L"EXCLUDE", L"All", L""}}, C({3}), {L"\\a"}, C({3})},
        {"unknown location merges as zero", {L"INCLUDE", L"Any", L"\\a"},
         {{L"INCLUDE", L"", L"\\b"}}, C({4, 0}), {L"\\a", L"\\b"}, C({})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CQvPathRules r(row.first.action, row.first.location, L"T:\\p", row.first.target, L"1", 2,
                       L"");
        for (const Step& s : row.merges) {
            EXPECT_EQ(S_OK, r.MergeRule(s.action, s.location, L"T:\\other", s.target, L"99", L""));
        }
        EXPECT_EQ(row.include, r.vtInclude);
        EXPECT_EQ(row.exclude, r.vtExclude);
        std::vector<std::wstring> targets;
        for (const CQvString& t : r.vtTargetPath) targets.push_back(t.str());
        EXPECT_EQ(row.targets, targets);
        // A merge never changes the rule's own path, number or group.
        EXPECT_STREQ(L"T:\\p", r.GetPath());
        EXPECT_EQ(1u, r.GetID());
        EXPECT_EQ(2, r.GetAllTogetherGroup());
    }
}

TEST(CQvPathRulesTest, CheckConstensy) {
    const struct {
        const char* label;
        Codes include;
        Codes exclude;
        long result;
    } rows[] = {
        {"no location", C({}), C({}), E_FAIL},
        {"include only", C({4}), C({}), S_OK},
        {"exclude only", C({1}), C({}), S_OK},
        {"disjoint", C({1, 2}), C({4, 5}), S_OK},
        {"shared code", C({1, 4}), C({6, 4}), E_FAIL},
        {"unknown codes compared too", C({0}), C({0}), E_FAIL},
        {"All against First is no clash", C({3}), C({1}), S_OK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        CQvPathRules r(L"INCLUDE", L"Any", L"T:\\p", L"", L"1", -1, L"");
        r.vtInclude = row.include;
        r.vtExclude = row.exclude;
        EXPECT_EQ(row.result, r.CheckConstensy());
    }
}

TEST(CQvPathRulesTest, LogInvalidRuleWritesTheBannerInOrder) {
    const struct {
        int group;
        const wchar_t* groupLine;
    } rows[] = {
        {-1, L"CQvPathRules::LogInvalidRule(...) AllTogether      = FALSE"},
        {2, L"CQvPathRules::LogInvalidRule(...) AllTogether      = TRUE / GroupID=2"},
        {0, L"CQvPathRules::LogInvalidRule(...) AllTogether      = TRUE / GroupID=0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.group);
        CQvPathRules r(L"INCLUDE", L"Any", L"T:\\p", L"\\t", L"5", row.group, L"/x");
        LogCapture cap;
        r.LogInvalidRule(L"bad", L"act", L"Somewhere", L"T:\\src", L"\\tgt", L"55", L"/R/Rule[2]");
        const std::vector<std::wstring> expected = {
            L"*********** RULE NODE ERROR *****************",
            L"CQvPathRules::LogInvalidRule(...) bad",
            L"CQvPathRules::LogInvalidRule(...) Action           = act",
            L"CQvPathRules::LogInvalidRule(...) Location         = Somewhere",
            L"CQvPathRules::LogInvalidRule(...) SourcePath       = T:\\src",
            L"CQvPathRules::LogInvalidRule(...) TargetPath       = \\tgt",
            L"CQvPathRules::LogInvalidRule(...) ID               = 55",
            row.groupLine,
            L"CQvPathRules::LogInvalidRule(...) XPath            = /R/Rule[2]",
            L"**********************************************",
        };
        std::vector<std::wstring> got;
        for (const QvLogRecord& rec : cap.Records()) {
            EXPECT_EQ(QvLogLevel::Info, rec.level);
            got.push_back(rec.text);
        }
        EXPECT_EQ(expected, got) << cap.Dump();
    }
}

TEST(CQvPathRulesTest, EntryLinesRepeatTheArguments) {
    LogCapture cap;
    CQvPathRules r(L"INCLUDE", L"Any", L"T:\\s", L"\\t", L"3", 1, L"/RulesFile/Rule[1]");
    r.MergeRule(L"EXCLUDE", L"First", L"T:\\s", L"", L"4", L"/RulesFile/Rule[2]");
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter,
                        L"CQvPathRules(LPCTSTR strAction=INCLUDE,LPCTSTR strLocation=Any,"
                        L"LPCTSTR strSourcePath=T:\\s,LPCTSTR strTargetPath=\\t,LPCTSTR "
                        L"strRuleID=3,int iAllTogetherGroup=1, LPCTSTR "
                        L"strXPath=/RulesFile/Rule[1])"))
        << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter,
                        L"CQvPathRules::MergeRule(LPCTSTR strAction=EXCLUDE,LPCTSTR "
                        L"strLocation=First,LPCTSTR strSourcePath=T:\\s,LPCTSTR "
                        L"strTargetPath=,LPCTSTR strRuleID=4, LPCTSTR "
                        L"strXPath=/RulesFile/Rule[2])"))
        << cap.Dump();
}

TEST(CQvPathRulesTest, CopyKeepsEveryMember) {
    CQvPathRules r(L"INCLUDE", L"Any", L"T:\\s", L"\\t", L"3", 1, L"");
    r.MergeRule(L"EXCLUDE", L"First", L"T:\\s", L"", L"4", L"");
    CQvPathRules copy(r);
    CQvPathRules assigned(L"EXCLUDE", L"Last", L"T:\\z", L"", L"8", -1, L"");
    assigned = r;
    for (CQvPathRules* c : {&copy, &assigned}) {
        EXPECT_EQ(r.vtInclude, c->vtInclude);
        EXPECT_EQ(r.vtExclude, c->vtExclude);
        EXPECT_EQ(1u, c->vtTargetPath.size());
        EXPECT_EQ(1, QvPathRulesTestAccess::Group(*c));
        EXPECT_EQ(3u, QvPathRulesTestAccess::ID(*c));
        EXPECT_EQ(std::wstring(L"T:\\s"), QvPathRulesTestAccess::Path(*c));
    }
}
