// Tests of the rules reader: what a rules file on disk turns into, and how bad files fail.
#include "rules/CQvRulesReader.h"

#include "common/QvSplitRun.h"
#include "rules/QvRulesTestAccess.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

using qvtest::LogCapture;
using qvtest::RulesDocument;
using qvtest::RuleText;
using qvtest::TempTree;

namespace {

class RulesReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pFactory = CQvRulesFactory::GetInstance();
        m_pReader = CQvRulesReader::GetInstance();
        ASSERT_NE(nullptr, m_pFactory);
        ASSERT_NE(nullptr, m_pReader);
        m_pFactory->ResetRulesCatalog();
        t.MakeDir("data/sub");
        t.WriteFile("data/a.txt", "a");
        t.WriteFile("data/b.txt", "bb");
    }
    void TearDown() override { m_pFactory->ResetRulesCatalog(); }

    long Read(const std::string& content, const std::string& name = "rules.xml") {
        t.WriteFile(name, content);
        return m_pReader->ReadRules(t.WinPath(name).c_str());
    }
    std::string P(const std::string& rel) const { return qvtest::Narrow(t.WinPath(rel)); }
    const QvRules& Rules() const { return QvRulesFactoryTestAccess::Rules(m_pFactory); }

    TempTree t;
    CQvRulesFactory* m_pFactory = nullptr;
    CQvRulesReader* m_pReader = nullptr;
};

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace

TEST_F(RulesReaderTest, ReaderUsesTheCatalogueSingleton) {
    EXPECT_EQ(m_pFactory, QvRulesReaderTestAccess::Factory(m_pReader));
    EXPECT_EQ(m_pReader, CQvRulesReader::GetInstance());
}

TEST_F(RulesReaderTest, AValidFileFillsTheCatalogue) {
    LogCapture cap;
    const std::string doc = RulesDocument({
        {"INCLUDE", "Any", P("data/a.txt"), "\\A", "7", "FALSE"},
        {"EXCLUDE", "First", P("data/sub"), "", "8", "FALSE"},
    });
    EXPECT_EQ(S_OK, Read(doc));
    ASSERT_EQ(2u, Rules().size());
    CQvPathRules* a = Rules().at(CQvString(t.WinPath("data/a.txt")));
    EXPECT_EQ(MediaDescriptEnumVector{InAny}, a->vtInclude);
    EXPECT_EQ(7u, a->GetID());
    EXPECT_EQ(std::wstring(L"\\A"), a->vtTargetPath.at(0).str());
    CQvPathRules* sub = Rules().at(CQvString(t.WinPath("data/sub")));
    EXPECT_EQ(MediaDescriptEnumVector{InFirst}, sub->vtExclude);
    const std::wstring path = t.WinPath("rules.xml");
    EXPECT_TRUE(cap.Has(QvLogLevel::Enter,
                        L"CQvRulesReader::ReadRules(LPCTSTR strRulesFilePath=" + path + L")"));
    EXPECT_EQ(0u, cap.Count(QvLogLevel::Error)) << cap.Dump();
}

TEST_F(RulesReaderTest, FailureTable) {
    const std::string valid =
        RulesDocument({{"INCLUDE", "Any", P("data/a.txt"), "\\A", "1", "FALSE"}});
    const std::wstring path = t.WinPath("rules.xml");
    const std::wstring openFailed =
        L"CQvRulesReader::ReadRules(...) Open XML rules file " + path + L" FAILED";
    const std::wstring noRule = L"CQvRulesReader::ReadRules(...) Get first rule node FAILED";
    const struct {
        const char* label;
        std::string content;
        std::wstring error;
    } rows[] = {
        {"malformed", "<RulesFile><Rule Action=\"INCLUDE\"></RulesFile>", openFailed},
        {"empty file", "", openFailed},
        {"truncated", valid.substr(0, valid.size() / 2), openFailed},
        {"not XML", std::string("\x01\x02\x03garbage\xff", 11), openFailed},
        {"two roots", "<A/><B/>", openFailed},
        {"root without children", "<RulesFile/>", noRule},
        {"root with only text", "<RulesFile>no rules here</RulesFile>", noRule},
        {"root with only a comment", "<RulesFile><!-- none --></RulesFile>", noRule},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        LogCapture cap;
        EXPECT_EQ(E_FAIL, Read(row.content));
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, row.error)) << cap.Dump();
        EXPECT_TRUE(Rules().empty());
    }
}

TEST_F(RulesReaderTest, MissingFileFailsToOpen) {
    LogCapture cap;
    const std::wstring path = t.WinPath("nothing.xml");
    EXPECT_EQ(E_FAIL, m_pReader->ReadRules(path.c_str()));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                        L"CQvRulesReader::ReadRules(...) Open XML rules file " + path + L" FAILED"));
    EXPECT_TRUE(Rules().empty());
}

TEST_F(RulesReaderTest, Utf16FileWithByteOrderMarkIsRead) {
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
        "<RulesFile><Rule RuleID=\"3\" Action=\"INCLUDE\" AllTogether=\"FALSE\" Location=\"Last\">"
        "<SourcePath>" + P("data/b.txt") + "</SourcePath><TargetPath>\\B</TargetPath></Rule>"
        "</RulesFile>";
    EXPECT_EQ(S_OK, Read(Utf16Le(doc)));
    ASSERT_EQ(1u, Rules().size());
    EXPECT_EQ(MediaDescriptEnumVector{InLast}, Rules().begin()->second->vtInclude);
}

TEST_F(RulesReaderTest, AnyChildOfTheRootIsARuleAndUnknownPartsAreIgnored) {
    LogCapture cap;
    std::string doc = "<Whatever>\n";
    doc += qvtest::RuleElement({"INCLUDE", "Any", P("data/a.txt"), "\\A", "1", "FALSE"}, "Item");
    doc += "<Rule Action=\"INCLUDE\" Location=\"First\" Colour=\"blue\" RuleID=\"2\" "
           "AllTogether=\"FALSE\"><Note>hello</Note><SourcePath>" + P("data/b.txt") +
           "</SourcePath><Extra><SourcePath>T:\\nowhere</SourcePath></Extra></Rule>\n";
    doc += "</Whatever>\n";
    EXPECT_EQ(S_OK, Read(doc));
    ASSERT_EQ(2u, Rules().size()) << cap.Dump();
    EXPECT_EQ(1u, Rules().count(CQvString(t.WinPath("data/a.txt"))));
    EXPECT_EQ(1u, Rules().count(CQvString(t.WinPath("data/b.txt"))));
}

// A pattern stands when its folder exists; what names nothing is skipped, logged and reported
// with the rule's number and the reason.
TEST_F(RulesReaderTest, SourcePathsThatNameNothingAreSkippedWithAWarning) {
    const struct {
        const char* label;
        std::string source;
        DWORD reason;
    } rows[] = {
        {"missing path", P("data/none.txt"), QvRuleNotFound},
        {"wildcard in a missing folder", P("nodir/*.txt"), QvRuleNotFound},
        {"no SourcePath", "", QvRuleEmptyPath},
        {"question mark in a missing folder", P("nodir/?.txt"), QvRuleNotFound},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        m_pFactory->ResetRulesCatalog();
        QvSplitRun::Current().droppedRules.Clear();
        const int groupsBefore = m_pFactory->GetGroupIDCount();
        LogCapture cap;
        const std::string doc = RulesDocument({
            {"INCLUDE", "Any", row.source, "\\x", "1", "TRUE"},
            {"INCLUDE", "Any", P("data/a.txt"), "\\A", "2", "FALSE"},
        });
        EXPECT_EQ(S_OK, Read(doc));
        const std::wstring warning = L"CQvRulesFactory::ADdToCatalog(...) Path " +
                                     qvp::Utf8ToWide(row.source) + L" not exist";
        EXPECT_TRUE(cap.Has(QvLogLevel::Warning, warning)) << cap.Dump();
        ASSERT_EQ(1u, QvSplitRun::Current().droppedRules.Rules().size());
        EXPECT_EQ(1, QvSplitRun::Current().droppedRules.Rules()[0].iRuleID);
        EXPECT_EQ(qvp::Utf8ToWide(row.source), QvSplitRun::Current().droppedRules.Rules()[0].strPath);
        EXPECT_EQ(row.reason, QvSplitRun::Current().droppedRules.Rules()[0].dwReason);
        // The skipped element takes no group number; the following element is still read.
        EXPECT_EQ(groupsBefore, m_pFactory->GetGroupIDCount());
        ASSERT_EQ(1u, Rules().size());
        EXPECT_EQ(1u, Rules().count(CQvString(t.WinPath("data/a.txt"))));
    }
}

// A pattern in the last component of a path whose folder exists is a rule like any other,
// whether it matches anything or not; an include that adds nothing to a path already on every
// medium is reported, whatever a pattern excludes from it (an exclusion from every medium takes
// the path off that list, not onto the media the blocked include named).
TEST_F(RulesReaderTest, PatternsInAnExistingFolderAreRules) {
    const struct {
        const char* label;
        std::string source;
        const char* location;  // of the exclusion
        bool bDropped;         // the include of rule 3
    } rows[] = {
        {"star", P("data/*.txt"), "Any", true},
        {"question mark", P("data/?.txt"), "Any", true},
        {"matching nothing", P("data/*.none"), "Any", true},
        {"star off every medium", P("data/*.TXT"), "All", true},
        {"question mark off every medium", P("data/?.txt"), "All", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        m_pFactory->ResetRulesCatalog();
        QvSplitRun::Current().droppedRules.Clear();
        EXPECT_EQ(S_OK, Read(RulesDocument({{"EXCLUDE", row.location, row.source, "\\x", "1", "FALSE"},
                                            {"INCLUDE", "All", P("data/a.txt"), "\\A", "2", "FALSE"},
                                            {"INCLUDE", "Any", P("data/a.txt"), "\\A", "3", "FALSE"}})));
        EXPECT_EQ(1u, Rules().count(CQvString(qvp::Utf8ToWide(row.source))));
        ASSERT_EQ(row.bDropped ? 1u : 0u, QvSplitRun::Current().droppedRules.Rules().size());
        if (!row.bDropped) continue;
        EXPECT_EQ(3, QvSplitRun::Current().droppedRules.Rules()[0].iRuleID);
        EXPECT_EQ(static_cast<DWORD>(QvRuleAlreadyEverywhere), QvSplitRun::Current().droppedRules.Rules()[0].dwReason);
    }
    QvSplitRun::Current().droppedRules.Clear();
}

TEST_F(RulesReaderTest, DuplicateSourcePathsMergeAndVariantsStaySeparate) {
    const int base = m_pFactory->GetGroupIDCount();
    const std::string a = P("data/a.txt");
    std::string upper = a;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    LogCapture cap;
    const std::string doc = RulesDocument({
        {"INCLUDE", "Any", a, "\\one", "1", "TRUE"},
        {"EXCLUDE", "First", a, "", "2", "TRUE"},
        {"INCLUDE", "Last", a, "\\two", "3", "TRUE"},
        {"INCLUDE", "Any", upper, "\\up", "4", "FALSE"},
        {"INCLUDE", "Any", P("data/sub") + "\\", "\\s1", "5", "FALSE"},
        {"INCLUDE", "Any", P("data/sub"), "\\s2", "6", "FALSE"},
    });
    EXPECT_EQ(S_OK, Read(doc)) << cap.Dump();
    ASSERT_EQ(4u, Rules().size());
    CQvPathRules* r = Rules().at(CQvString(qvp::Utf8ToWide(a)));
    EXPECT_EQ((MediaDescriptEnumVector{InAny, InLast}), r->vtInclude);
    EXPECT_EQ(MediaDescriptEnumVector{InFirst}, r->vtExclude);
    EXPECT_EQ(2u, r->vtTargetPath.size());
    EXPECT_EQ(1u, r->GetID());
    // Merged elements take no group number.
    EXPECT_EQ(base, r->GetAllTogetherGroup());
    EXPECT_EQ(base + 1, m_pFactory->GetGroupIDCount());
    EXPECT_EQ(1u, Rules().count(CQvString(qvp::Utf8ToWide(upper))));
    EXPECT_EQ(1u, Rules().count(CQvString(t.WinPath("data/sub") + L"\\")));
    EXPECT_EQ(1u, Rules().count(CQvString(t.WinPath("data/sub"))));
    // The merged element's number appears only in the log.
    EXPECT_TRUE(cap.HasContaining(QvLogLevel::Enter, L"LPCTSTR strRuleID=3,")) << cap.Dump();
}

TEST_F(RulesReaderTest, GroupNumbersAcrossReadsInOneProcess) {
    const int base = m_pFactory->GetGroupIDCount();
    t.WriteFile("data/c.txt", "c");
    EXPECT_EQ(S_OK, Read(RulesDocument({
                        {"INCLUDE", "Any", P("data/a.txt"), "", "1", "TRUE"},
                        {"INCLUDE", "Any", P("data/b.txt"), "", "2", "false"},
                        {"INCLUDE", "Any", P("data/c.txt"), "", "3", "True"},
                    })));
    EXPECT_EQ(base, Rules().at(CQvString(t.WinPath("data/a.txt")))->GetAllTogetherGroup());
    EXPECT_EQ(-1, Rules().at(CQvString(t.WinPath("data/b.txt")))->GetAllTogetherGroup());
    EXPECT_EQ(base + 1, Rules().at(CQvString(t.WinPath("data/c.txt")))->GetAllTogetherGroup());
    EXPECT_EQ(base + 2, m_pFactory->GetGroupIDCount());
    // Resetting the catalogue keeps the counter: the next read goes on counting.
    m_pFactory->ResetRulesCatalog();
    EXPECT_EQ(base + 2, m_pFactory->GetGroupIDCount());
    EXPECT_EQ(S_OK, Read(RulesDocument({{"INCLUDE", "Any", P("data/a.txt"), "", "1", "TRUE"}})));
    EXPECT_EQ(base + 2, Rules().at(CQvString(t.WinPath("data/a.txt")))->GetAllTogetherGroup());
    EXPECT_EQ(base + 3, m_pFactory->GetGroupIDCount());
}

TEST_F(RulesReaderTest, ASecondReadMergesIntoRulesAlreadyHeld) {
    EXPECT_EQ(S_OK, Read(RulesDocument({{"INCLUDE", "First", P("data/a.txt"), "\\1", "1", ""}})));
    EXPECT_EQ(S_OK, Read(RulesDocument({{"INCLUDE", "Last", P("data/a.txt"), "\\2", "2", ""},
                                        {"INCLUDE", "Any", P("data/b.txt"), "\\3", "3", ""}}),
                         "second.xml"));
    ASSERT_EQ(2u, Rules().size());
    EXPECT_EQ((MediaDescriptEnumVector{InFirst, InLast}),
              Rules().at(CQvString(t.WinPath("data/a.txt")))->vtInclude);
}

TEST_F(RulesReaderTest, ThousandsOfRules) {
    const int kFiles = 1500;
    std::vector<RuleText> rules;
    for (int i = 0; i < kFiles; ++i) {
        const std::string rel = "many/f" + std::to_string(i) + ".txt";
        t.WriteFile(rel, "x");
        rules.push_back({i % 2 ? "INCLUDE" : "EXCLUDE", "Any", P(rel), "\\m", std::to_string(i),
                         "FALSE"});
    }
    // And as many again for one path, all merged into a single rule.
    for (int i = 0; i < kFiles; ++i) {
        rules.push_back({"INCLUDE", i % 2 ? "First" : "Last", P("data/a.txt"), "\\a",
                         std::to_string(i), "FALSE"});
    }
    EXPECT_EQ(S_OK, Read(RulesDocument(rules)));
    ASSERT_EQ(static_cast<size_t>(kFiles + 1), Rules().size());
    EXPECT_EQ(static_cast<size_t>(kFiles),
              Rules().at(CQvString(t.WinPath("data/a.txt")))->vtInclude.size());
    QvRules include, exclude;
    m_pFactory->GetIncludeRules(include);
    m_pFactory->GetExcludeRules(exclude);
    EXPECT_EQ(static_cast<size_t>(kFiles / 2 + 1), include.size());
    EXPECT_EQ(static_cast<size_t>(kFiles / 2), exclude.size());
}

TEST_F(RulesReaderTest, MissingAttributesAreLoggedAndCountAsEmptyText) {
    LogCapture cap;
    std::string doc = "<RulesFile><Rule><SourcePath>" + P("data/a.txt") +
                      "</SourcePath></Rule></RulesFile>";
    EXPECT_EQ(S_OK, Read(doc));
    for (const wchar_t* msg : {L"CQvRulesFactory::GetAction(...) GetAttribute Action FAILED",
                               L"CQvRulesFactory::GetLocation(...) GetAttribute Location FAILED",
                               L"CQvRulesFactory::GetRuleID(...) GetAttribute RuleID FAILED",
                               L"CQvRulesFactory::GetAllTogether(...) GetAttribute AllTogether "
                               L"FAILED"}) {
        EXPECT_TRUE(cap.Has(QvLogLevel::Error, msg)) << qvtest::Narrow(msg) << cap.Dump();
    }
    ASSERT_EQ(1u, Rules().size());
    CQvPathRules* r = Rules().begin()->second;
    // No action: an exclude rule; no location keyword: code 0; no number: 0; no group.
    EXPECT_EQ(MediaDescriptEnumVector{static_cast<MediaDescriptEnum>(0)}, r->vtExclude);
    EXPECT_TRUE(r->vtInclude.empty());
    EXPECT_EQ(0u, r->GetID());
    EXPECT_EQ(-1, r->GetAllTogetherGroup());
}
