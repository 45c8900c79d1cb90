// Tests of the rules catalogue: element readers, rule sets handed out, reset and the counter.
#include "rules/CQvRulesFactory.h"

#include "rules/QvRulesTestAccess.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

using qvtest::LogCapture;
using qvtest::RulesDocument;
using qvtest::TempTree;

namespace {

class RulesFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        f = CQvRulesFactory::GetInstance();
        ASSERT_NE(nullptr, f);
        f->ResetRulesCatalog();
    }
    void TearDown() override {
        if (m_pRule) m_pRule->Release();
        if (m_pXml) m_pXml->Close();
        f->ResetRulesCatalog();
    }
    // Builds an in-memory document and returns its first rule element.
    IQvXmlNode* Node(const std::string& content) {
        t.WriteFile("node.xml", content);
        m_pXml = GetQvXmlInterface(XML_TYPE_LIBRARY);
        IQvXmlNode* root = nullptr;
        EXPECT_GE(m_pXml->Open(t.WinPath("node.xml").c_str()), 0);
        EXPECT_GE(m_pXml->GetRoot(&root), 0);
        EXPECT_GE(root->GetFirstChild(&m_pRule), 0);
        root->Release();
        return m_pRule;
    }
    long Add(const std::string& rel, const char* action, const char* location) {
        const std::string doc = RulesDocument(
            {{action, location, qvtest::Narrow(t.WinPath(rel)), "\\t", "1", "FALSE"}});
        IQvXmlNode* n = Node(doc);
        const long r = f->AddToCatalog(n);
        m_pRule->Release();
        m_pRule = nullptr;
        m_pXml->Close();
        m_pXml = nullptr;
        return r;
    }

    TempTree t;
    CQvRulesFactory* f = nullptr;
    IQvXml* m_pXml = nullptr;
    IQvXmlNode* m_pRule = nullptr;
};

typedef long (*Reader)(CQvRulesFactory*, IQvXmlNode*, CQvString&);

}  // namespace

TEST_F(RulesFactoryTest, GetInstanceReturnsOneObject) {
    LogCapture cap;
    EXPECT_EQ(f, CQvRulesFactory::GetInstance());
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvRulesFactory::GetInstance()"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L"CQvRulesFactory::GetInstance()")) << cap.Dump();
}

TEST_F(RulesFactoryTest, ReadersOnANullNodeFailWithTheirMessage) {
    const struct {
        const char* label;
        Reader read;
        const wchar_t* error;
    } rows[] = {
        {"Action", &QvRulesFactoryTestAccess::GetAction,
         L"CQvString CQvRulesFactory::GetAction(IQvXmlNode *pRuleNode,CQvString& strAction) "
         L"ERROR pRuleNode=NULL"},
        {"Location", &QvRulesFactoryTestAccess::GetLocation,
         L"CQvString CQvRulesFactory::GetLocation(...) ERROR pRuleNode=NULL"},
        {"RuleID", &QvRulesFactoryTestAccess::GetRuleID,
         L"CQvString CQvRulesFactory::GetRuleID(...) ERROR pRuleNode=NULL"},
        {"AllTogether", &QvRulesFactoryTestAccess::GetAllTogether,
         L"CQvString CQvRulesFactory::GetAllTogether(...) ERROR pRuleNode=NULL"},
        {"SourcePath", &QvRulesFactoryTestAccess::GetSourcePath,
         L"CQvString CQvRulesFactory::GetSourcePath(...) ERROR pRuleNode=NULL"},
        {"TargetPath", &QvRulesFactoryTestAccess::GetTargetPath,
         L"CQvString CQvRulesFactory::GetTargetPath(...) ERROR pRuleNode=NULL"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCapture cap;
        CQvString out(L"stale");
        EXPECT_EQ(E_FAIL, row.read(f, nullptr, out));
        EXPECT_TRUE(out.IsEmpty());
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, row.error)) << cap.Dump();
    }
}

TEST_F(RulesFactoryTest, ReadersTakeAttributesAndChildTexts) {
    IQvXmlNode* n = Node(
        "<RulesFile><Rule RuleID=\" 12\" Action=\"include\" AllTogether=\"\" Location=\"NotLast\">"
        "<targetpath>\\first</targetpath><SourcePath>T:\\one</SourcePath>"
        "<SOURCEPATH>T:\\two</SOURCEPATH><TargetPath>\\second</TargetPath></Rule></RulesFile>");
    const struct {
        const char* label;
        Reader read;
        const wchar_t* value;
    } rows[] = {
        {"Action", &QvRulesFactoryTestAccess::GetAction, L"include"},
        {"Location", &QvRulesFactoryTestAccess::GetLocation, L"NotLast"},
        {"RuleID", &QvRulesFactoryTestAccess::GetRuleID, L" 12"},
        {"empty AllTogether", &QvRulesFactoryTestAccess::GetAllTogether, L""},
        // Names compare ignoring case; the first matching child wins.
        {"SourcePath", &QvRulesFactoryTestAccess::GetSourcePath, L"T:\\one"},
        {"TargetPath", &QvRulesFactoryTestAccess::GetTargetPath, L"\\first"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCapture cap;
        CQvString out(L"stale");
        EXPECT_EQ(S_OK, row.read(f, n, out));
        EXPECT_EQ(std::wstring(row.value), out.str());
        EXPECT_EQ(0u, cap.Count(QvLogLevel::Error)) << cap.Dump();
    }
}

TEST_F(RulesFactoryTest, ChildReadersWithoutAMatchGiveEmptyText) {
    IQvXmlNode* n = Node("<RulesFile><Rule><Other>x</Other></Rule></RulesFile>");
    CQvString out(L"stale");
    EXPECT_EQ(S_OK, QvRulesFactoryTestAccess::GetSourcePath(f, n, out));
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_EQ(S_OK, QvRulesFactoryTestAccess::GetTargetPath(f, n, out));
    EXPECT_TRUE(out.IsEmpty());
}

TEST_F(RulesFactoryTest, AddToCatalogWithANullNode) {
    LogCapture cap;
    EXPECT_EQ(E_FAIL, f->AddToCatalog(nullptr));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvRulesFactory::ADdToCatalog(...) pRuleNode=NULL !"));
    EXPECT_TRUE(QvRulesFactoryTestAccess::Rules(f).empty());
}

TEST_F(RulesFactoryTest, IncludeAndExcludeRuleSets) {
    t.WriteFile("in.txt", "1");
    t.WriteFile("out.txt", "2");
    t.WriteFile("both.txt", "3");
    ASSERT_EQ(S_OK, Add("in.txt", "INCLUDE", "Any"));
    ASSERT_EQ(S_OK, Add("out.txt", "EXCLUDE", "First"));
    ASSERT_EQ(S_OK, Add("both.txt", "INCLUDE", "Any"));
    ASSERT_EQ(S_OK, Add("both.txt", "EXCLUDE", "Any"));

    QvRules include, exclude;
    include[CQvString(L"stale")] = nullptr;
    exclude[CQvString(L"stale")] = nullptr;
    f->GetIncludeRules(include);
    f->GetExcludeRules(exclude);
    auto keys = [](const QvRules& m) {
        std::vector<std::wstring> k;
        for (const auto& e : m) k.push_back(e.first.str());
        return k;
    };
    EXPECT_EQ((std::vector<std::wstring>{t.WinPath("both.txt"), t.WinPath("in.txt")}),
              keys(include));
    EXPECT_EQ((std::vector<std::wstring>{t.WinPath("both.txt"), t.WinPath("out.txt")}),
              keys(exclude));
    // The two sets share the catalogue's rule objects.
    EXPECT_EQ(include.at(CQvString(t.WinPath("both.txt"))),
              exclude.at(CQvString(t.WinPath("both.txt"))));
}

TEST_F(RulesFactoryTest, EmptyCatalogueEmptiesTheGivenMaps) {
    QvRules include, exclude;
    include[CQvString(L"x")] = nullptr;
    exclude[CQvString(L"y")] = nullptr;
    f->GetIncludeRules(include);
    f->GetExcludeRules(exclude);
    EXPECT_TRUE(include.empty());
    EXPECT_TRUE(exclude.empty());
}

TEST_F(RulesFactoryTest, ResetDeletesRulesAndKeepsTheGroupCounter) {
    t.WriteFile("a.txt", "1");
    const std::string doc = RulesDocument(
        {{"INCLUDE", "Any", qvtest::Narrow(t.WinPath("a.txt")), "", "1", "TRUE"}});
    IQvXmlNode* n = Node(doc);
    const int before = f->GetGroupIDCount();
    ASSERT_EQ(S_OK, f->AddToCatalog(n));
    EXPECT_EQ(before + 1, f->GetGroupIDCount());
    LogCapture cap;
    f->ResetRulesCatalog();
    EXPECT_TRUE(QvRulesFactoryTestAccess::Rules(f).empty());
    EXPECT_EQ(before + 1, f->GetGroupIDCount());
    // The rule held was destroyed.
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvPathRules::~CQvPathRules()")) << cap.Dump();
}

TEST_F(RulesFactoryTest, CatalogueCheckConstensyAlwaysFails) {
    LogCapture cap;
    EXPECT_EQ(E_FAIL, f->CheckConstensy());
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvRulesFactory::CheckConstensy(void)"));
}

TEST_F(RulesFactoryTest, IncludeAndExcludeOfTheSameLocationAreBothKept) {
    // Nothing checks a rule after a merge, so it is handed out in both sets.
    t.WriteFile("p.txt", "1");
    ASSERT_EQ(S_OK, Add("p.txt", "INCLUDE", "Any"));
    ASSERT_EQ(S_OK, Add("p.txt", "EXCLUDE", "Any"));
    CQvPathRules* r = QvRulesFactoryTestAccess::Rules(f).at(CQvString(t.WinPath("p.txt")));
    EXPECT_EQ(MediaDescriptEnumVector{InAny}, r->vtInclude);
    EXPECT_EQ(MediaDescriptEnumVector{InAny}, r->vtExclude);
    EXPECT_EQ(E_FAIL, r->CheckConstensy());
}
