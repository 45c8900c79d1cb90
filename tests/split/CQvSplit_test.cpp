// Tests of the split object: set-up from a rules file and from a rule vector, state, delegation.
#include "split/CQvSplit.h"

#include "bigfile/CQvSplitBigFile.h"
#include "catalog/CQvFileDescCatalog.h"
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"
#include "rules/QvRulesTestAccess.h"
#include "split/QvSplitTestAccess.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstring>
#include <memory>

using qvtest::LogCapture;
using qvtest::RulesDocument;
using qvtest::TempTree;
typedef QvSplitTestAccess A;

namespace {

const wchar_t kEstimateError[] =
    L"CQvSplit::EstimateSplit(void) Error Execute SetupSplit before estimation.";

DWORD CALLBACK CountingCallback(DWORD, LPVOID, DWORD, LPVOID lpUserParam) {
    ++*static_cast<int*>(lpUserParam);
    return 0;
}

QvRule MakeRule(int id, BOOL include, BOOL together, int location, const std::wstring& source,
                const std::wstring& target) {
    QvRule r;
    std::memset(&r, 0, sizeof r);
    r.iRuleID = id;
    r.bInclude = include;
    r.bAllTogether = together;
    r.iLocation = location;
    wcsncpy(r.szSourcePath, source.c_str(), QV_RULE_PATH_LEN - 1);
    wcsncpy(r.szTargetPath, target.c_str(), QV_RULE_PATH_LEN - 1);
    return r;
}

class SplitTest : public ::testing::Test {
protected:
    void SetUp() override {
        CQvRulesFactory::GetInstance()->ResetRulesCatalog();
        CQvFileDescCatalog::GetInstance()->ResetFileCatalog();
        CQvSplitBigFile::GetInstance()->SetSplitBigFile(FALSE, 0, nullptr);
        t.WriteFile("data/a.txt", "alpha");
        t.WriteFile("data/b.txt", "beta");
        t.MakeDir("out");
        m_split.reset(static_cast<CQvSplit*>(GetQvSplitInterface()));
        ASSERT_NE(nullptr, m_split);
    }
    void TearDown() override {
        m_split.reset();
        CQvRulesFactory::GetInstance()->ResetRulesCatalog();
    }
    std::wstring WriteRules(const std::string& name, const std::string& content) {
        t.WriteFile(name, content);
        return t.WinPath(name);
    }
    std::string P(const std::string& rel) const { return qvtest::Narrow(t.WinPath(rel)); }
    std::wstring GoodRules() {
        return WriteRules("rules.xml",
                          RulesDocument({{"INCLUDE", "Any", P("data/a.txt"), "\\A", "1", "FALSE"},
                                         {"INCLUDE", "Any", P("data/b.txt"), "\\B", "2", "TRUE"}}));
    }
    size_t RuleCount() const {
        return QvRulesFactoryTestAccess::Rules(CQvRulesFactory::GetInstance()).size();
    }

    TempTree t;
    std::unique_ptr<CQvSplit> m_split;
};

}  // namespace

TEST_F(SplitTest, FreshObjectState) {
    LogCapture cap;
    std::unique_ptr<iCQvSplit> split(GetQvSplitInterface());
    ASSERT_NE(nullptr, split);
    CQvSplit& s = *static_cast<CQvSplit*>(split.get());
    EXPECT_TRUE(cap.Has(QvLogLevel::Info, L"iCQvSplit *GetQvSplitInterface(void)"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvSplit::CQvSplit()"));
    EXPECT_EQ(0u, cap.Count(QvLogLevel::Error)) << cap.Dump();
    EXPECT_EQ(0, A::SetupDone(s));
    EXPECT_EQ(0u, A::SplitSize(s));
    EXPECT_EQ(nullptr, A::Callback(s));
    EXPECT_EQ(nullptr, A::UserParam(s));
    EXPECT_EQ(nullptr, A::FactoryNode(s));
    EXPECT_NE(nullptr, A::Xml(s));
    EXPECT_EQ(0, split->GetTotalSize());
    EXPECT_EQ(CQvRulesReader::GetInstance(), A::RulesReader(s));
    EXPECT_EQ(CQvFileDescCatalog::GetInstance(), A::Catalog(s));
    EXPECT_EQ(E_FAIL, A::ValidateSplitSize(s));
    split.reset();
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvSplit::~CQvSplit()"));
}

TEST_F(SplitTest, EstimateBeforeSetupFails) {
    LogCapture cap;
    EXPECT_EQ(0u, m_split->EstimateSplit());
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter, L"CQvSplit::EstimateSplit(void)"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, kEstimateError)) << cap.Dump();
}

TEST_F(SplitTest, SetupFromARulesFileStoresTheArguments) {
    const std::wstring rules = GoodRules();
    int calls = 0;
    LogCapture cap;
    EXPECT_EQ(1u, m_split->SetupSplit(L"VOL", rules.c_str(), L"DISP", 7, 650, 12, 1,
                                      t.WinPath("out").c_str(), &CountingCallback, &calls));
    CQvSplit& s = *m_split;
    EXPECT_EQ(1, A::SetupDone(s));
    EXPECT_EQ(650u, A::SplitSize(s));
    EXPECT_EQ(12u, A::FirstMediaFreeSpace(s));
    EXPECT_EQ(7u, A::Type(s));
    EXPECT_EQ(1u, A::OutputMethod(s));
    EXPECT_EQ(L"VOL", A::VolumeID(s));
    EXPECT_EQ(L"DISP", A::DispFlag(s));
    EXPECT_EQ(rules, A::RulesFilePath(s));
    // The folder is kept as given, without a backslash added.
    EXPECT_EQ(t.WinPath("out"), A::OutputDir(s));
    EXPECT_EQ(&CountingCallback, A::Callback(s));
    EXPECT_EQ(&calls, A::UserParam(s));
    EXPECT_EQ(2u, RuleCount());
    EXPECT_TRUE(cap.Has(
        QvLogLevel::Enter,
        L"CQvSplit::SetupSplit(LPCTSTR strVolumeID=VOL,LPCTSTR strRulesFilePath=" + rules +
            L",LPCTSTR strDispFlag=DISP, DWORD dwType=7, DWORD dwSplitSize=650, DWORD "
            L"dwFirstMediaFreeSpace=12, DWORD dwOutputMethod=1, LPCTSTR strOutputDir/* = NULL*/, "
            L"SPLITCB lpCB/* = NULL*/,LPVOID lpUserParam/* = NULL*/)"))
        << cap.Dump();
}

TEST_F(SplitTest, NullOutputFolderStoresTheDefault) {
    EXPECT_EQ(1u, m_split->SetupSplit(L"V", GoodRules().c_str(), L"D", 0, 100, 0, 0));
    EXPECT_EQ(L"C:\\Temp\\", A::OutputDir(*m_split));
}

TEST_F(SplitTest, MissingRulesFileFailsWithoutReading) {
    int calls = 0;
    LogCapture cap;
    const std::wstring missing = t.WinPath("none.xml");
    EXPECT_EQ(0u, m_split->SetupSplit(L"V", missing.c_str(), L"D", 0, 100, 0, 0, nullptr,
                                      &CountingCallback, &calls));
    EXPECT_FALSE(cap.HasContaining(QvLogLevel::Enter, L"CQvRulesReader::ReadRules"));
    EXPECT_EQ(0, A::SetupDone(*m_split));
    EXPECT_EQ(L"", A::RulesFilePath(*m_split));
    EXPECT_EQ(&CountingCallback, A::Callback(*m_split));
    EXPECT_EQ(0u, m_split->SetupSplit(L"V", nullptr, L"D", 0, 100, 0, 0));
    EXPECT_EQ(0u, m_split->EstimateSplit());
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, kEstimateError));
}

TEST_F(SplitTest, FailedSetupAfterAGoodOne) {
    ASSERT_EQ(1u, m_split->SetupSplit(L"V1", GoodRules().c_str(), L"D1", 1, 100, 5, 0,
                                      t.WinPath("out").c_str()));
    const std::wstring goodPath = A::RulesFilePath(*m_split);

    // A missing file changes only the callback, user parameter and split size.
    int calls = 0;
    EXPECT_EQ(0u, m_split->SetupSplit(L"V2", t.WinPath("none.xml").c_str(), L"D2", 2, 200, 6, 1,
                                      nullptr, &CountingCallback, &calls));
    EXPECT_EQ(1, A::SetupDone(*m_split));
    EXPECT_EQ(0u, A::SplitSize(*m_split));
    EXPECT_EQ(L"V1", A::VolumeID(*m_split));
    EXPECT_EQ(goodPath, A::RulesFilePath(*m_split));
    EXPECT_EQ(&calls, A::UserParam(*m_split));

    // A file the reader refuses comes after the texts and folder were replaced.
    const std::wstring bad = WriteRules("bad.xml", "<RulesFile>");
    EXPECT_EQ(0u, m_split->SetupSplit(L"V3", bad.c_str(), L"D3", 3, 300, 7, 1, nullptr));
    EXPECT_EQ(1, A::SetupDone(*m_split));
    EXPECT_EQ(0u, A::SplitSize(*m_split));
    EXPECT_EQ(L"V3", A::VolumeID(*m_split));
    EXPECT_EQ(L"D3", A::DispFlag(*m_split));
    EXPECT_EQ(bad, A::RulesFilePath(*m_split));
    EXPECT_EQ(L"C:\\Temp\\", A::OutputDir(*m_split));
    EXPECT_EQ(5u, A::FirstMediaFreeSpace(*m_split));
}

TEST_F(SplitTest, TwoSplitObjectsShareTheSingletons) {
    std::unique_ptr<iCQvSplit> other(GetQvSplitInterface());
    ASSERT_NE(nullptr, other);
    CQvSplit& o = *static_cast<CQvSplit*>(other.get());
    EXPECT_EQ(A::RulesReader(*m_split), A::RulesReader(o));
    EXPECT_EQ(A::Catalog(*m_split), A::Catalog(o));
    EXPECT_NE(A::Xml(*m_split), A::Xml(o));
    ASSERT_EQ(1u, m_split->SetupSplit(L"V", GoodRules().c_str(), L"D", 0, 100, 0, 0));
    // The other object was not set up, yet sees the rules the first one loaded.
    EXPECT_EQ(0, A::SetupDone(o));
    EXPECT_EQ(2u, RuleCount());
    const std::wstring more = WriteRules(
        "more.xml", RulesDocument({{"EXCLUDE", "First", P("data/a.txt"), "", "9", "FALSE"}}));
    ASSERT_EQ(1u, other->SetupSplit(L"V", more.c_str(), L"D", 0, 100, 0, 0));
    EXPECT_EQ(2u, RuleCount());
    CQvPathRules* a =
        QvRulesFactoryTestAccess::Rules(CQvRulesFactory::GetInstance()).at(CQvString(t.WinPath("data/a.txt")));
    EXPECT_EQ(MediaDescriptEnumVector{InFirst}, a->vtExclude);
    // Deleting one object leaves the shared rules in place.
    other.reset();
    EXPECT_EQ(2u, RuleCount());
}

TEST_F(SplitTest, CopiesOwnTheirXmlInterface) {
    ASSERT_EQ(1u, m_split->SetupSplit(L"V", GoodRules().c_str(), L"D", 0, 100, 0, 0));
    {
        CQvSplit copy(*m_split);
        EXPECT_EQ(L"V", A::VolumeID(copy));
        EXPECT_EQ(1, A::SetupDone(copy));
        EXPECT_NE(nullptr, A::Xml(copy));
        EXPECT_NE(A::Xml(*m_split), A::Xml(copy));
        std::unique_ptr<iCQvSplit> fresh(GetQvSplitInterface());
        CQvSplit& f = *static_cast<CQvSplit*>(fresh.get());
        IQvXml* own = A::Xml(f);
        f = copy;
        EXPECT_EQ(own, A::Xml(f));
        EXPECT_EQ(100u, A::SplitSize(f));
    }
    // The original's interface still works after the copies closed theirs.
    IQvXmlNode* root = nullptr;
    ASSERT_GE(A::Xml(*m_split)->Create(t.WinPath("x.xml").c_str(), L"X", &root), 0);
    root->Release();
}

TEST_F(SplitTest, SetSplitBigFileArgumentChecks) {
    LogCapture cap;
    EXPECT_EQ(S_OK, m_split->SetSplitBigFile(FALSE, 650, nullptr));
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter,
                        L"CQvSplit::SetSplitBigFile(BOOL bSplit,DWORD dwSplitSize=650,LPCTSTR "
                        L"lpszSplitFileList=(null))"))
        << cap.Dump();
    EXPECT_EQ(E_INVALIDARG, m_split->SetSplitBigFile(TRUE, 650, nullptr));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvSplit::SetSplitBigFile(...) lpszSplitFileList=NULL !"));
    const std::wstring list = t.WinPath("out/parts.ini");
    EXPECT_EQ(S_OK, m_split->SetSplitBigFile(TRUE, 650, list.c_str()));
    EXPECT_TRUE(t.Exists("out/parts.ini"));
    EXPECT_EQ(S_OK, m_split->SetSplitBigFile(FALSE, 650, nullptr));
}

TEST_F(SplitTest, RecoverFilesArgumentChecksWriteNoTrace) {
    const std::wstring missing = t.WinPath("none.ini");
    const struct {
        const char* label;
        const wchar_t* path;
        std::wstring error;
    } rows[] = {
        {"null path", nullptr, L"CQvSplit::RecoverFiles(...) strSplitListFile = NULL !"},
        {"missing list", missing.c_str(),
         L"CQvSplit::RecoverFiles(...) Split list not exist strSplitListFile = " + missing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCapture cap;
        EXPECT_EQ(E_INVALIDARG, m_split->RecoverFiles(L'T', row.path));
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, row.error)) << cap.Dump();
        EXPECT_EQ(0u, cap.Count(QvLogLevel::Enter));
        EXPECT_EQ(0u, cap.Count(QvLogLevel::Exit));
    }
}

// ---- The rule-vector form ----

namespace {

struct WrittenRule {
    std::string id, action, together, source, target;
    bool hasLocation;
    std::string location;
};

std::vector<WrittenRule> ReadWritten(const std::filesystem::path& file) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(file.c_str())) << file;
    EXPECT_STREQ("RulesFile", doc.document_element().name());
    std::vector<WrittenRule> out;
    for (pugi::xml_node n : doc.document_element().children()) {
        EXPECT_STREQ("Rule", n.name());
        pugi::xml_attribute loc = n.attribute("Location");
        out.push_back({n.attribute("RuleID").value(), n.attribute("Action").value(),
                       n.attribute("AllTogether").value(), n.child("SourcePath").text().get(),
                       n.child("TargetPath").text().get(), !loc.empty(), loc.value()});
    }
    return out;
}

}  // namespace

TEST_F(SplitTest, VectorFormWritesEveryRuleInOrder) {
    const struct {
        int location;
        const char* text;
    } rows[] = {{1, "First"}, {2, "Last"},    {3, "All"},     {4, "Any"}, {5, "NotFirst"},
                {6, "NotLast"}, {0, ""},      {7, ""},        {-3, ""}};
    RuleVector rules;
    int id = 100;
    for (const auto& row : rows) {
        rules.push_back(MakeRule(id, id % 2, id % 3 == 0, row.location,
                                 t.WinPath("data/a.txt"), L"\\T" + std::to_wstring(id)));
        ++id;
    }
    EXPECT_EQ(1u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0,
                                      t.WinPath("out").c_str()));
    const std::vector<WrittenRule> got = ReadWritten(t.Native("out/Rules.xml"));
    ASSERT_EQ(rules.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(rows[i].location);
        const QvRule& r = rules[i];
        EXPECT_EQ(std::to_string(r.iRuleID), got[i].id);
        EXPECT_EQ(r.bInclude ? "INCLUDE" : "EXCLUDE", got[i].action);
        EXPECT_EQ(r.bAllTogether ? "TRUE" : "FALSE", got[i].together);
        EXPECT_TRUE(got[i].hasLocation);
        EXPECT_EQ(rows[i].text, got[i].location);
        EXPECT_EQ(P("data/a.txt"), got[i].source);
        EXPECT_EQ("\\T" + std::to_string(r.iRuleID), got[i].target);
    }
    EXPECT_EQ(t.WinPath("out") + L"\\Rules.xml", A::RulesFilePath(*m_split));
    // Read back: one rule for the one path, the first element's number kept.
    ASSERT_EQ(1u, RuleCount());
}

TEST_F(SplitTest, VectorFormSpecificRule) {
    RuleVector rules{MakeRule(4, 0, 1, 5, t.WinPath("data/b.txt"), L"\\X")};
    EXPECT_EQ(1u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0,
                                      (t.WinPath("out") + L"\\").c_str()));
    const std::vector<WrittenRule> got = ReadWritten(t.Native("out/Rules.xml"));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("EXCLUDE", got[0].action);
    EXPECT_EQ("TRUE", got[0].together);
    EXPECT_EQ("NotFirst", got[0].location);
    // The folder with a trailing backslash gives the same file.
    EXPECT_EQ(t.WinPath("out") + L"\\Rules.xml", A::RulesFilePath(*m_split));
}

TEST_F(SplitTest, VectorFormFolderWithoutBackslashPutsTheFileInside) {
    RuleVector rules{MakeRule(1, 1, 0, 4, t.WinPath("data/a.txt"), L"\\A")};
    EXPECT_EQ(1u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0,
                                      t.WinPath("out").c_str()));
    EXPECT_TRUE(t.Exists("out/Rules.xml"));
    EXPECT_FALSE(t.Exists("outRules.xml"));
}

TEST_F(SplitTest, VectorFormEmptyVectorWritesNothing) {
    RuleVector rules;
    int calls = 0;
    LogCapture cap;
    EXPECT_EQ(0u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0, t.WinPath("out").c_str(),
                                      &CountingCallback, &calls));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvSplit::SetupSplit(...) FAILED RuleVector empty"))
        << cap.Dump();
    EXPECT_FALSE(t.Exists("out/Rules.xml"));
    EXPECT_EQ(&calls, A::UserParam(*m_split));
    EXPECT_EQ(0, A::SetupDone(*m_split));
}

TEST_F(SplitTest, VectorFormUnwritableFolderFailsToSave) {
    RuleVector rules{MakeRule(1, 1, 0, 4, t.WinPath("data/a.txt"), L"\\A")};
    LogCapture cap;
    const std::wstring folder = t.WinPath("no/such/folder");
    EXPECT_EQ(0u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0, folder.c_str()));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvSplit::SetupSplit(...) FAILED to save Xml file " +
                                               folder + L"\\Rules.xml"))
        << cap.Dump();
    EXPECT_EQ(0u, RuleCount());
    EXPECT_EQ(0, A::SetupDone(*m_split));
}

TEST_F(SplitTest, VectorFormPathsWithoutTerminatorAreBounded) {
    QvRule r = MakeRule(1, 1, 0, 4, L"", L"");
    for (wchar_t& c : r.szSourcePath) c = L'x';
    for (wchar_t& c : r.szTargetPath) c = L'y';
    RuleVector rules{r};
    EXPECT_EQ(1u, m_split->SetupSplit(L"V", rules, L"D", 0, 100, 0, 0, t.WinPath("out").c_str()));
    const std::vector<WrittenRule> got = ReadWritten(t.Native("out/Rules.xml"));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(std::string(QV_RULE_PATH_LEN - 1, 'x'), got[0].source);
    EXPECT_EQ(std::string(QV_RULE_PATH_LEN - 1, 'y'), got[0].target);
}

TEST_F(SplitTest, VectorFormEntryLine) {
    RuleVector rules{MakeRule(1, 1, 0, 4, t.WinPath("data/a.txt"), L"\\A")};
    LogCapture cap;
    m_split->SetupSplit(L"VOL", rules, L"DISP", 3, 650, 10, 1, t.WinPath("out").c_str());
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter,
                        L"CQvSplit::SetupSplit(LPCTSTR strVolumeID=VOL,RuleVector "
                        L"&vtRules,LPCTSTR strDispFlag=DISP, DWORD dwType=3, DWORD "
                        L"dwSplitSize=650, DWORD dwFirstMediaFreeSpace=10, DWORD "
                        L"dwOutputMethod=1, LPCTSTR strOutputDir/* = NULL*/, SPLITCB lpCB/* = "
                        L"NULL*/,LPVOID lpUserParam/* = NULL*/)"))
        << cap.Dump();
}

// ---- End to end ----

TEST_F(SplitTest, RulesFileSetsUpAndEstimatesATinySplit) {
    int calls = 0;
    ASSERT_EQ(1u, m_split->SetupSplit(L"V", GoodRules().c_str(), L"D", 0, 10, 0, 0,
                                      t.WinPath("out").c_str(), &CountingCallback, &calls));
    EXPECT_EQ(1u, m_split->EstimateSplit());
    EXPECT_TRUE(t.Exists("out/Media1.xml"));
    EXPECT_GT(calls, 0);
    // The split consumed the rules; a second estimate works on an empty rule set.
    EXPECT_EQ(0u, RuleCount());
}

TEST_F(SplitTest, RuleVectorSetsUpAndEstimatesATinySplit) {
    RuleVector rules{MakeRule(1, 1, 0, InAny, t.WinPath("data/a.txt"), L"\\A"),
                     MakeRule(2, 1, 1, InAny, t.WinPath("data/b.txt"), L"\\B")};
    int calls = 0;
    ASSERT_EQ(1u, m_split->SetupSplit(L"V", rules, L"D", 0, 10, 0, 0, t.WinPath("out").c_str(),
                                      &CountingCallback, &calls));
    EXPECT_EQ(2u, RuleCount());
    EXPECT_EQ(1u, m_split->EstimateSplit());
    EXPECT_TRUE(t.Exists("out/Media1.xml"));
    const std::string media = t.ReadFile("out/Media1.xml");
    EXPECT_NE(std::string::npos, media.find("a.txt")) << media;
    EXPECT_NE(std::string::npos, media.find("b.txt")) << media;
    // The callback handed to the vector form is the one the split calls.
    EXPECT_GT(calls, 0);
    EXPECT_EQ(0u, RuleCount());
}
