// Tests of the XML document facility: writing and reading files on a real disk, encodings,
// malformed input, CDATA, navigation, node lifetime and atomic saves.
#include "facilities/QvXml.h"

#include "facilities/QvXmlRegistry.h"
#include "platform/QvFaults.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <climits>
#include <memory>
#include <string>
#include <vector>

using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

struct Releaser {
    template <class T>
    void operator()(T* p) const {
        if (p) p->Release();
    }
};
using Node = std::unique_ptr<IQvXmlNode, Releaser>;
using Attr = std::unique_ptr<IQvXmlAttribute, Releaser>;

// A document interface closed at the end of the scope.
struct Doc {
    IQvXml* p = GetQvXmlInterface(XML_TYPE_LIBRARY);
    ~Doc() {
        if (p) p->Close();
    }
    IQvXml* operator->() const { return p; }
};

// Text of an OLE string, which is freed; "<null>" marks a failure.
std::wstring Take(BSTR text) {
    if (!text) return L"<null>";
    std::wstring s(text);
    qvp::SysFreeString(text);
    return s;
}

Node Child(IQvXmlNode* parent, const wchar_t* name) {
    IQvXmlNode* raw = nullptr;
    EXPECT_GE(parent->AddChild(name, &raw), 0) << qvtest::Narrow(name);
    return Node(raw);
}

Node Root(IQvXml* doc) {
    IQvXmlNode* raw = nullptr;
    EXPECT_GE(doc->GetRoot(&raw), 0);
    return Node(raw);
}

Node Select(IQvXml* doc, const wchar_t* path) {
    IQvXmlNode* raw = nullptr;
    doc->SelectNode(path, &raw);
    return Node(raw);
}

void SetAttr(IQvXmlNode* node, const wchar_t* name, const wchar_t* value) {
    IQvXmlAttribute* raw = nullptr;
    ASSERT_GE(node->AddAttribute(name, &raw), 0);
    Attr attr(raw);
    ASSERT_GE(attr->SetStringValue(value), 0);
}

std::wstring GetAttr(IQvXmlNode* node, const wchar_t* name) {
    IQvXmlAttribute* raw = nullptr;
    if (node->GetAttribute(name, &raw) < 0) return L"<missing>";
    Attr attr(raw);
    return Take(attr->GetStringValue());
}

// Writes a document holding one element "v" with text, and reads the text back from disk.
std::wstring RoundTripText(const TempTree& tree, const std::wstring& text) {
    const std::wstring path = tree.WinPath("t.xml");
    {
        Doc doc;
        IQvXmlNode* raw = nullptr;
        EXPECT_GE(doc->Create(path.c_str(), L"r", &raw), 0);
        Node root(raw);
        Node v = Child(root.get(), L"v");
        EXPECT_GE(v->SetText(text.c_str()), 0);
        EXPECT_GE(doc->Save(0), 0);
    }
    Doc doc;
    EXPECT_GE(doc->Open(path.c_str()), 0);
    Node v = Select(doc.p, L"/r/v");
    return v ? Take(v->GetText()) : L"<no node>";
}

std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        bytes += bigEndian ? hi : lo;
        bytes += bigEndian ? lo : hi;
    }
    return bytes;
}

}  // namespace

TEST(QvXml, FactoryKnowsOnlyTheLibraryType) {
    for (int type : {0, 1, 3, -2}) EXPECT_EQ(GetQvXmlInterface(type), nullptr) << type;
    IQvXml* doc = GetQvXmlInterface(2);
    ASSERT_NE(doc, nullptr);
    doc->Close();
}

TEST(QvXml, WrittenDocumentReadsBackWhole) {
    TempTree tree;
    const std::wstring path = tree.WinPath("out/Media1.xml");
    tree.MakeDir("out");
    {
        Doc doc;
        IQvXmlNode* raw = nullptr;
        ASSERT_GE(doc->Create(path.c_str(), L"Factory", &raw), 0);
        Node root(raw);
        Node media = Child(root.get(), L"Media");
        Node info = Child(media.get(), L"Info");
        SetAttr(info.get(), L"DispFlag", L"a \"quoted\" & <odd> value");
        SetAttr(info.get(), L"Type", L"two\nlines\tand\rreturn");
        IQvXmlAttribute* a = nullptr;
        ASSERT_GE(info->AddAttribute(L"Split_Size", &a), 0);
        EXPECT_GE(a->SetIntValue(-650), 0);
        a->Release();
        ASSERT_GE(info->AddAttribute(L"Media_Size", &a), 0);
        EXPECT_GE(a->SetInt64Value(INT64_C(5000000000)), 0);
        a->Release();
        Node file = Child(root.get(), L"FILE");
        Node name = Child(file.get(), L"Name");
        EXPECT_GE(name->SetText(L"x < y & z"), 0);
        ASSERT_GE(doc->Save(0), 0);
    }
    Doc doc;
    ASSERT_GE(doc->Open(path.c_str()), 0);
    Node root = Root(doc.p);
    EXPECT_EQ(Take(root->GetName()), L"Factory");
    EXPECT_EQ(root->GetChildCount(), 2);
    Node info = Select(doc.p, L"/Factory/Media/Info");
    ASSERT_TRUE(info);
    EXPECT_EQ(GetAttr(info.get(), L"DispFlag"), L"a \"quoted\" & <odd> value");
    EXPECT_EQ(GetAttr(info.get(), L"Type"), L"two\nlines\tand\rreturn");
    EXPECT_EQ(GetAttr(info.get(), L"Split_Size"), L"-650");
    EXPECT_EQ(GetAttr(info.get(), L"Media_Size"), L"5000000000");
    Node name = Select(doc.p, L"/Factory/FILE/Name");
    ASSERT_TRUE(name);
    EXPECT_EQ(Take(name->GetText()), L"x < y & z");
    const std::string raw = tree.ReadFile("out/Media1.xml");
    EXPECT_EQ(raw.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << raw;
    EXPECT_NE(raw.find("\n  <Media>"), std::string::npos) << "indented:\n" << raw;
}

TEST(QvXml, IntegerAttributesReadBackAsDecimal) {
    TempTree tree;
    const std::wstring path = tree.WinPath("n.xml");
    const std::vector<std::pair<int64_t, std::wstring>> rows = {
        {0, L"0"}, {INT32_MAX, L"2147483647"}, {INT32_MIN, L"-2147483648"},
        {INT64_MAX, L"9223372036854775807"}, {INT64_MIN, L"-9223372036854775808"}};
    {
        Doc doc;
        IQvXmlNode* raw = nullptr;
        ASSERT_GE(doc->Create(path.c_str(), L"r", &raw), 0);
        Node root(raw);
        for (size_t i = 0; i < rows.size(); ++i) {
            IQvXmlAttribute* a = nullptr;
            ASSERT_GE(root->AddAttribute((L"a" + std::to_wstring(i)).c_str(), &a), 0);
            const int64_t v = rows[i].first;
            const bool fits = v >= INT32_MIN && v <= INT32_MAX;
            EXPECT_GE(fits ? a->SetIntValue(static_cast<int32_t>(v)) : a->SetInt64Value(v), 0);
            a->Release();
        }
        ASSERT_GE(doc->Save(0), 0);
    }
    Doc doc;
    ASSERT_GE(doc->Open(path.c_str()), 0);
    Node root = Root(doc.p);
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(qvtest::Narrow(rows[i].second));
        EXPECT_EQ(GetAttr(root.get(), (L"a" + std::to_wstring(i)).c_str()), rows[i].second);
    }
}

TEST(QvXml, WrappedTextIsWrittenAsRealCdataSection) {
    TempTree tree;
    EXPECT_EQ(RoundTripText(tree, L"<![CDATA[C:\\Data\\report.txt]]>"), L"C:\\Data\\report.txt");
    const std::string raw = tree.ReadFile("t.xml");
    EXPECT_NE(raw.find("<v><![CDATA[C:\\Data\\report.txt]]></v>"), std::string::npos) << raw;
    // Any standard reader sees the bare value, not escaped markup.
    pugi::xml_document other;
    ASSERT_TRUE(other.load_file(tree.Native("t.xml").c_str()));
    pugi::xml_node v = other.child("r").child("v");
    EXPECT_EQ(v.first_child().type(), pugi::node_cdata);
    EXPECT_STREQ(v.child_value(), "C:\\Data\\report.txt");
}

TEST(QvXml, CharacterDataRoundTrips) {
    struct Row {
        const char* label;
        std::wstring written, read;
    } rows[] = {
        {"cdata holding the end marker", L"<![CDATA[a]]>b]]>", L"a]]>b"},
        {"cdata of only end markers", L"<![CDATA[]]>]]>]]>", L"]]>]]>"},
        {"empty cdata", L"<![CDATA[]]>", L""},
        {"cdata with markup", L"<![CDATA[<x>&amp;</x>]]>", L"<x>&amp;</x>"},
        {"unfinished wrapper stays text", L"<![CDATA[abc", L"<![CDATA[abc"},
        {"plain text with markup", L"a <b> & \"c\" ]]> d", L"a <b> & \"c\" ]]> d"},
        {"surrounding blanks", L"  x  ", L"  x  "},
        {"empty text", L"", L""},
        {"non-ASCII", L"Gr\u00FC\u00DFe \u65E5\u672C \u2603 \U0001F600", L"Gr\u00FC\u00DFe \u65E5\u672C \u2603 \U0001F600"},
        {"non-ASCII in cdata", L"<![CDATA[\u00E9t\u00E9]]>", L"\u00E9t\u00E9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree tree;
        EXPECT_EQ(RoundTripText(tree, row.written), row.read);
    }
}

TEST(QvXml, SetTextReplacesAndEmptyTextIsNotNull) {
    Doc doc;
    TempTree tree;
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(tree.WinPath("a.xml").c_str(), L"r", &raw), 0);
    Node root(raw);
    EXPECT_EQ(Take(root->GetText()), L"");
    Node child = Child(root.get(), L"c");
    EXPECT_GE(root->SetText(L"one"), 0);
    EXPECT_GE(root->SetText(L"<![CDATA[two]]>"), 0);
    EXPECT_EQ(Take(root->GetText()), L"two");
    EXPECT_EQ(root->GetChildCount(), 1) << "setting text keeps child elements";
    EXPECT_GE(root->SetText(L""), 0);
    EXPECT_EQ(Take(root->GetText()), L"");
    EXPECT_LT(root->SetText(nullptr), 0);
}

TEST(QvXml, ReadsUtf16AndUtf8WithByteOrderMark) {
    const std::u16string xml = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                               u"<RulesFile><Rule Action=\"INCLUDE\"><SourcePath>D:\\Daten\\\u00DCber "
                               u"\u65E5\u672C</SourcePath></Rule></RulesFile>";
    const std::string utf8 = "\xEF\xBB\xBF<RulesFile><Rule Action=\"INCLUDE\"><SourcePath>"
                             "D:\\Daten\\\xC3\x9C" "ber \xE6\x97\xA5\xE6\x9C\xAC</SourcePath>"
                             "</Rule></RulesFile>";
    const std::pair<const char*, std::string> rows[] = {
        {"UTF-16 LE", Utf16(xml, false)}, {"UTF-16 BE", Utf16(xml, true)}, {"UTF-8", utf8}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        TempTree tree;
        tree.WriteFile("rules.xml", row.second);
        Doc doc;
        ASSERT_GE(doc->Open(tree.WinPath("rules.xml").c_str()), 0);
        Node source = Select(doc.p, L"/RulesFile/Rule/SourcePath");
        ASSERT_TRUE(source);
        EXPECT_EQ(Take(source->GetText()), L"D:\\Daten\\\u00DCber \u65E5\u672C");
        Node rule = Select(doc.p, L"/RulesFile/Rule");
        EXPECT_EQ(GetAttr(rule.get(), L"Action"), L"INCLUDE");
    }
}

TEST(QvXml, BadFilesFailWithALogLine) {
    const std::pair<const char*, std::string> rows[] = {
        {"empty", ""},
        {"blank", " \n\t"},
        {"truncated", "<?xml version=\"1.0\"?><Factory><Media><Info a=\"1\""},
        {"unclosed", "<a><b></b>"},
        {"mismatched", "<a></b>"},
        {"not xml", "hello world"},
        {"two roots", "<a/><b/>"},
        {"bad attribute", "<a x=1/>"},
        {"text only declaration", "<?xml version=\"1.0\"?>"},
        {"bom only", "\xFF\xFE"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        TempTree tree;
        tree.WriteFile("bad.xml", row.second);
        const std::wstring path = tree.WinPath("bad.xml");
        LogCapture log;
        Doc doc;
        EXPECT_LT(doc->Open(path.c_str()), 0);
        EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, path)) << log.Dump();
        IQvXmlNode* root = nullptr;
        EXPECT_LT(doc->GetRoot(&root), 0);
        EXPECT_EQ(root, nullptr);
    }
}

TEST(QvXml, ParseErrorNamesDescriptionAndOffset) {
    TempTree tree;
    tree.WriteFile("bad.xml", "<a></b>");
    LogCapture log;
    Doc doc;
    EXPECT_LT(doc->Open(tree.WinPath("bad.xml").c_str()), 0);
    EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, L"Start-end tags mismatch at offset 5"))
        << log.Dump();
}

TEST(QvXml, MissingFileFailsWithALogLine) {
    TempTree tree;
    const std::wstring path = tree.WinPath("nowhere/none.xml");
    LogCapture log;
    Doc doc;
    EXPECT_LT(doc->Open(path.c_str()), 0);
    EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, path)) << log.Dump();
    EXPECT_LT(doc->Open(nullptr), 0);
}

TEST(QvXml, DeeplyNestedDocumentsAreSafe) {
    const int depth = 100000;
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<a>";
        close += "</a>";
    }
    TempTree tree;
    tree.WriteFile("deep.xml", open + "x" + close);
    tree.WriteFile("unclosed.xml", open);
    Doc doc;
    EXPECT_LT(doc->Open(tree.WinPath("unclosed.xml").c_str()), 0);
    ASSERT_GE(doc->Open(tree.WinPath("deep.xml").c_str()), 0);
    Node at = Root(doc.p);
    for (int level = 1; level < depth; ++level) {
        IQvXmlNode* raw = nullptr;
        ASSERT_GE(at->GetFirstChild(&raw), 0) << level;
        at.reset(raw);
    }
    EXPECT_EQ(Take(at->GetText()), L"x");
    EXPECT_EQ(Take(at->GetXPath()).size(), 2u + (depth - 1) * 5u);  // "/a" then "/a[1]"s
    // Written back without indentation, it reads again.
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(tree.WinPath("deep2.xml").c_str(), L"a", &raw), 0);
    Node n(raw);
    for (int level = 1; level < depth; ++level) n = Child(n.get(), L"a");
    ASSERT_GE(doc->Save(0), 0);
    EXPECT_LT(tree.ReadFile("deep2.xml").size(), 10u * depth);
    EXPECT_GE(doc->Open(tree.WinPath("deep2.xml").c_str()), 0);
}

TEST(QvXml, LargeDocumentsWalkInOrder) {
    const int count = 200000;
    TempTree tree;
    Doc doc;
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(tree.WinPath("big.xml").c_str(), L"RulesFile", &raw), 0);
    Node root(raw);
    for (int i = 0; i < count; ++i) {
        Node rule = Child(root.get(), L"Rule");
        SetAttr(rule.get(), L"RuleID", std::to_wstring(i).c_str());
    }
    ASSERT_GE(doc->Save(0), 0);
    ASSERT_GE(doc->Open(tree.WinPath("big.xml").c_str()), 0);
    root = Root(doc.p);
    EXPECT_EQ(root->GetChildCount(), count);
    int seen = 0;
    IQvXmlNode* child = nullptr;
    for (long hr = root->GetFirstChild(&child); hr >= 0; hr = root->GetNextChild(&child)) {
        Node rule(child);
        if (seen % 997 == 0 || seen == count - 1) {
            EXPECT_EQ(GetAttr(rule.get(), L"RuleID"), std::to_wstring(seen));
            EXPECT_EQ(Take(rule->GetXPath()), L"/RulesFile/Rule[" + std::to_wstring(seen + 1) + L"]");
        }
        ++seen;
    }
    EXPECT_EQ(seen, count);
}

TEST(QvXml, SelectNodeFindsAbsolutePaths) {
    TempTree tree;
    tree.WriteFile("m.xml",
                   "<Factory><Media><Info Type=\"t\"/></Media><FILE><Name>one</Name></FILE>"
                   "<FILE><Name>two</Name></FILE></Factory>");
    Doc doc;
    ASSERT_GE(doc->Open(tree.WinPath("m.xml").c_str()), 0);
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"/Factory", L"Factory"},     {L"/Factory/Media/Info", L"Info"},
        {L"/Factory/FILE/Name", L"Name"}, {L"/Factory[1]/FILE[2]/Name[1]", L"Name"},
        {L"/Factory/Media/Nope", nullptr}, {L"/Other", nullptr},
        {L"/Factory/FILE[3]", nullptr}, {L"/Factory/FILE[0]", nullptr},
        {L"/Factory/FILE[x]", nullptr}, {L"/factory", nullptr},
        {L"Factory/Media", nullptr},   {L"/", nullptr},
        {L"/Factory//Info", nullptr},  {L"/Factory/Media/", nullptr},
        {L"", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qvtest::Narrow(row.first));
        IQvXmlNode* raw = nullptr;
        const long hr = doc->SelectNode(row.first, &raw);
        Node node(raw);
        if (row.second) {
            ASSERT_GE(hr, 0);
            EXPECT_EQ(Take(node->GetName()), row.second);
        } else {
            EXPECT_LT(hr, 0);
            EXPECT_EQ(raw, nullptr);
        }
    }
    Node second = Select(doc.p, L"/Factory/FILE[2]/Name");
    ASSERT_TRUE(second);
    EXPECT_EQ(Take(second->GetText()), L"two");
    Doc empty;
    IQvXmlNode* raw = nullptr;
    EXPECT_LT(empty->SelectNode(L"/Factory", &raw), 0);
}

TEST(QvXml, ChildWalkSkipsNonElementsAndKeepsItsPlace) {
    TempTree tree;
    tree.WriteFile("w.xml", "<r>text<a/><!-- c --><b>in</b><?pi x?><![CDATA[d]]><c/></r>");
    Doc doc;
    ASSERT_GE(doc->Open(tree.WinPath("w.xml").c_str()), 0);
    Node root = Root(doc.p);
    IQvXmlNode* raw = nullptr;
    EXPECT_LT(root->GetNextChild(&raw), 0) << "no walk started";
    EXPECT_EQ(raw, nullptr);
    std::wstring names;
    for (long hr = root->GetFirstChild(&raw); hr >= 0; hr = root->GetNextChild(&raw)) {
        Node child(raw);
        names += Take(child->GetName());
    }
    EXPECT_EQ(names, L"abc");
    EXPECT_LT(root->GetNextChild(&raw), 0) << "still none left";
    // A second node object on the same element walks on its own.
    Node other = Root(doc.p);
    ASSERT_GE(other->GetFirstChild(&raw), 0);
    Node a(raw);
    ASSERT_GE(root->GetFirstChild(&raw), 0);
    Node a2(raw);
    ASSERT_GE(root->GetNextChild(&raw), 0);
    Node b(raw);
    ASSERT_GE(other->GetNextChild(&raw), 0);
    Node b2(raw);
    EXPECT_EQ(Take(b2->GetName()), L"b");
    EXPECT_LT(a->GetFirstChild(&raw), 0) << "a has no children";
    EXPECT_EQ(Take(root->GetText()), L"textd");
}

TEST(QvXml, GetChildAtHonoursItsBounds) {
    TempTree tree;
    tree.WriteFile("c.xml", "<r> <a/>x<b/><c/> </r>");
    Doc doc;
    ASSERT_GE(doc->Open(tree.WinPath("c.xml").c_str()), 0);
    Node root = Root(doc.p);
    ASSERT_EQ(root->GetChildCount(), 3);
    const std::pair<int, const wchar_t*> rows[] = {{0, L"a"}, {2, L"c"}, {1, L"b"}, {0, L"a"},
                                                   {3, nullptr}, {-1, nullptr}, {INT_MAX, nullptr},
                                                   {2, L"c"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        IQvXmlNode* raw = nullptr;
        const long hr = root->GetChildAt(row.first, &raw);
        Node child(raw);
        if (row.second) {
            ASSERT_GE(hr, 0);
            EXPECT_EQ(Take(child->GetName()), row.second);
        } else {
            EXPECT_LT(hr, 0);
            EXPECT_EQ(raw, nullptr);
        }
    }
}

TEST(QvXml, XPathCountsSameNamedSiblings) {
    TempTree tree;
    tree.WriteFile("x.xml", "<RulesFile><Rule/><Other/><Rule><SourcePath/><SourcePath/></Rule></RulesFile>");
    Doc doc;
    ASSERT_GE(doc->Open(tree.WinPath("x.xml").c_str()), 0);
    Node root = Root(doc.p);
    EXPECT_EQ(Take(root->GetXPath()), L"/RulesFile");
    const std::pair<int, const wchar_t*> rows[] = {
        {0, L"/RulesFile/Rule[1]"}, {1, L"/RulesFile/Other[1]"}, {2, L"/RulesFile/Rule[2]"}};
    for (const auto& row : rows) {
        IQvXmlNode* raw = nullptr;
        ASSERT_GE(root->GetChildAt(row.first, &raw), 0);
        Node child(raw);
        EXPECT_EQ(Take(child->GetXPath()), row.second);
    }
    Node deep = Select(doc.p, L"/RulesFile/Rule[2]/SourcePath[2]");
    ASSERT_TRUE(deep);
    EXPECT_EQ(Take(deep->GetXPath()), L"/RulesFile/Rule[2]/SourcePath[2]");
    // Asked again out of order, positions stay right.
    Node first = Select(doc.p, L"/RulesFile/Rule[2]/SourcePath[1]");
    EXPECT_EQ(Take(first->GetXPath()), L"/RulesFile/Rule[2]/SourcePath[1]");
    EXPECT_EQ(Take(deep->GetXPath()), L"/RulesFile/Rule[2]/SourcePath[2]");
}

TEST(QvXml, AttributesMatchNamesExactly) {
    TempTree tree;
    tree.WriteFile("a.xml", "<r Action=\"INCLUDE\" empty=\"\"/>");
    Doc doc;
    ASSERT_GE(doc->Open(tree.WinPath("a.xml").c_str()), 0);
    Node root = Root(doc.p);
    EXPECT_EQ(GetAttr(root.get(), L"Action"), L"INCLUDE");
    EXPECT_EQ(GetAttr(root.get(), L"action"), L"<missing>");
    EXPECT_EQ(GetAttr(root.get(), L"Act"), L"<missing>");
    EXPECT_EQ(GetAttr(root.get(), L"empty"), L"");
    // Adding an existing name hands back that attribute rather than a duplicate.
    SetAttr(root.get(), L"Action", L"EXCLUDE");
    EXPECT_EQ(GetAttr(root.get(), L"Action"), L"EXCLUDE");
    IQvXmlAttribute* raw = nullptr;
    EXPECT_LT(root->GetAttribute(nullptr, &raw), 0);
    EXPECT_LT(root->GetAttribute(L"Action", nullptr), 0);
}

TEST(QvXml, InvalidNamesAreRefused) {
    TempTree tree;
    Doc doc;
    IQvXmlNode* raw = nullptr;
    EXPECT_LT(doc->Create(tree.WinPath("n.xml").c_str(), L"bad name", &raw), 0);
    EXPECT_LT(doc->Create(tree.WinPath("n.xml").c_str(), L"", &raw), 0);
    EXPECT_LT(doc->Create(nullptr, L"r", &raw), 0);
    ASSERT_GE(doc->Create(tree.WinPath("n.xml").c_str(), L"r", &raw), 0);
    Node root(raw);
    for (const wchar_t* name : {L"", L"a b", L"a<b", L"1st", L"a/b", L"a=b", L"-x"}) {
        SCOPED_TRACE(qvtest::Narrow(name));
        IQvXmlNode* child = reinterpret_cast<IQvXmlNode*>(1);
        EXPECT_LT(root->AddChild(name, &child), 0);
        EXPECT_EQ(child, nullptr);
        IQvXmlAttribute* attr = nullptr;
        EXPECT_LT(root->AddAttribute(name, &attr), 0);
        EXPECT_EQ(attr, nullptr);
    }
    EXPECT_EQ(root->GetChildCount(), 0);
    Node ok = Child(root.get(), L"x:y.z-\u00E9");
    EXPECT_TRUE(ok);
}

TEST(QvXml, NodesOutliveTheirDocument) {
    TempTree tree;
    IQvXml* doc = GetQvXmlInterface(2);
    ASSERT_NE(doc, nullptr);
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(tree.WinPath("first.xml").c_str(), L"first", &raw), 0);
    Node first(raw);
    Node kept = Child(first.get(), L"kept");
    ASSERT_GE(doc->Create(tree.WinPath("second.xml").c_str(), L"second", &raw), 0);
    Node second(raw);
    // The replaced document's nodes still work, and none of it reaches the new file.
    EXPECT_GE(kept->SetText(L"old"), 0);
    ASSERT_GE(doc->Save(0), 0);
    EXPECT_EQ(tree.ReadFile("second.xml").find("kept"), std::string::npos);
    EXPECT_FALSE(tree.Exists("first.xml"));
    doc->Close();
    Node late = Child(second.get(), L"late");
    EXPECT_GE(late->SetText(L"<![CDATA[v]]>"), 0);
    EXPECT_EQ(Take(late->GetText()), L"v");
    EXPECT_EQ(Take(late->GetXPath()), L"/second/late[1]");
    EXPECT_EQ(Take(kept->GetText()), L"old");
    IQvXmlAttribute* a = nullptr;
    ASSERT_GE(late->AddAttribute(L"n", &a), 0);
    second.reset();
    late.reset();
    EXPECT_GE(a->SetIntValue(3), 0);
    EXPECT_EQ(Take(a->GetStringValue()), L"3");
    a->Release();
}

TEST(QvXml, FailedSaveKeepsTheOldFile) {
    TempTree tree;
    const std::wstring path = tree.WinPath("Media1.xml");
    Doc doc;
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(path.c_str(), L"Factory", &raw), 0);
    Node root(raw);
    Node first = Child(root.get(), L"First");
    ASSERT_GE(doc->Save(0), 0);
    const std::string before = tree.ReadFile("Media1.xml");
    ASSERT_NE(before.find("<First />"), std::string::npos) << before;
    Node second = Child(root.get(), L"Second");
    {
        LogCapture log;
        qvp::InjectFault(qvp::FaultOp::Write, 1);
        EXPECT_LT(doc->Save(0), 0);
        qvp::ClearFaults();
        EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, path)) << log.Dump();
    }
    EXPECT_EQ(tree.ReadFile("Media1.xml"), before);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"Media1.xml"}) << "no temporary file left";
    // A document of several megabytes reaches the disk in pieces; a failure after the first
    // piece keeps the old file too.
    for (int i = 0; i < 50000; ++i) {
        Node entry = Child(root.get(), L"Entry");
        SetAttr(entry.get(), L"Path", L"C:\\some\\rather\\long\\folder\\name\\for\\each\\entry");
    }
    {
        LogCapture log;
        qvp::InjectFault(qvp::FaultOp::Write, 2);
        EXPECT_LT(doc->Save(0), 0);
        EXPECT_EQ(2, qvp::FaultCallCount(qvp::FaultOp::Write)) << "the text is written in pieces";
        qvp::ClearFaults();
    }
    EXPECT_EQ(tree.ReadFile("Media1.xml"), before);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"Media1.xml"}) << "no temporary file left";
    ASSERT_GE(doc->Save(0), 0);
    EXPECT_NE(tree.ReadFile("Media1.xml").find("<Second />"), std::string::npos);
    EXPECT_GT(tree.ReadFile("Media1.xml").size(), 3000000u);
}

TEST(QvXml, SaveWithoutADocumentFails) {
    LogCapture log;
    Doc doc;
    EXPECT_LT(doc->Save(0), 0);
    EXPECT_EQ(log.Count(QvLogLevel::Error), 1u) << log.Dump();
    IQvXmlNode* raw = nullptr;
    EXPECT_LT(doc->GetRoot(&raw), 0);
    EXPECT_LT(doc->GetRoot(nullptr), 0);
}

TEST(QvXml, NonAsciiNamesAndValuesRoundTrip) {
    TempTree tree;
    const std::wstring text = L"\u00C4rger \u00FCber \u0416\u0443\u043A \U0001F4BE";
    const std::wstring path = tree.WinPath(u8"d\u00E9j\u00E0/\u00FCbersicht.xml");
    tree.MakeDir(u8"d\u00E9j\u00E0");
    {
        Doc doc;
        IQvXmlNode* raw = nullptr;
        ASSERT_GE(doc->Create(path.c_str(), L"\u00C9l\u00E9ment", &raw), 0);
        Node root(raw);
        SetAttr(root.get(), L"n\u00E4me", text.c_str());
        EXPECT_GE(root->SetText(text.c_str()), 0);
        ASSERT_GE(doc->Save(0), 0);
    }
    const std::string raw = tree.ReadFile(u8"d\u00E9j\u00E0/\u00FCbersicht.xml");
    EXPECT_NE(raw.find("\xC3\x84rger \xC3\xBC" "ber"), std::string::npos) << "UTF-8 bytes";
    Doc doc;
    ASSERT_GE(doc->Open(path.c_str()), 0);
    Node root = Root(doc.p);
    EXPECT_EQ(Take(root->GetName()), L"\u00C9l\u00E9ment");
    EXPECT_EQ(Take(root->GetText()), text);
    EXPECT_EQ(GetAttr(root.get(), L"n\u00E4me"), text);
}

TEST(QvXml, OpenReplacesACreatedDocument) {
    TempTree tree;
    tree.WriteFile("in.xml", "<In><x/></In>");
    Doc doc;
    IQvXmlNode* raw = nullptr;
    ASSERT_GE(doc->Create(tree.WinPath("out.xml").c_str(), L"Out", &raw), 0);
    Node out(raw);
    ASSERT_GE(doc->Open(tree.WinPath("in.xml").c_str()), 0);
    EXPECT_EQ(Take(Root(doc.p)->GetName()), L"In");
    EXPECT_EQ(Take(out->GetName()), L"Out");
}

TEST(QvXml, UnclosedInterfacesStayReachable) {
    const size_t before = CQvXmlRegistry::GetInstance().Count();
    IQvXml* dropped = GetQvXmlInterface(2);
    ASSERT_NE(dropped, nullptr);
    TempTree tree;
    tree.WriteFile("r.xml", "<r/>");
    ASSERT_GE(dropped->Open(tree.WinPath("r.xml").c_str()), 0);
    EXPECT_EQ(CQvXmlRegistry::GetInstance().Count(), before + 1);
    // Not closed on purpose: the leak checker of the sanitizer build must stay quiet, and the
    // interface is freed at exit.
    IQvXml* closed = GetQvXmlInterface(2);
    closed->Close();
    EXPECT_EQ(CQvXmlRegistry::GetInstance().Count(), before + 1);
}

// A document of many entries written one entry at a time: the file is byte for byte the one
// the whole document in memory gives, whatever the texts, and nothing is left beside it.
TEST(QvXml, SpooledChildrenGiveTheFileOfTheWholeDocument) {
    const std::vector<std::wstring> texts = {
        L"<![CDATA[C:\\Data\\a]]>b.txt]]>", L"<![CDATA[]]>", L"", L"a <b> & \"c\" ' ]]> d",
        L"tab\tline\nreturn\r", L"ctl\x01\x1f", L"<![CDATA[ctl\x01]]>", L"mapped \xF0FE byte",
        L"Gr\u00FC\u00DFe \u65E5\u672C \U0001F600", L"  blanks  "};
    const struct {
        const char* label;
        bool heldFirst;  // a child the root keeps, as the media files keep their Info
        size_t count;    // children: the first two rows stay in memory, the last goes to a file
    } rows[] = {{"beside a child kept in memory", true, 3000},
                {"every child written out", false, 3000},
                {"more than memory keeps", true, 30000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree tree;
        for (const bool spool : {false, true}) {
            const std::wstring path = tree.WinPath(spool ? "spooled.xml" : "whole.xml");
            Doc doc;
            IQvXmlNode* raw = nullptr;
            ASSERT_GE(doc->Create(path.c_str(), L"Factory", &raw), 0);
            Node root(raw);
            if (row.heldFirst) {
                Node info = Child(Child(root.get(), L"Media").get(), L"Info");
                SetAttr(info.get(), L"DispFlag", L"a\"b<c>&\td");
            }
            for (size_t i = 0; i < row.count; ++i) {
                Node file = Child(root.get(), L"FILE");
                for (const wchar_t* name : {L"FullPath", L"Path", L"Name"})
                    ASSERT_GE(Child(file.get(), name)->SetText(texts[(i + std::wcslen(name)) % texts.size()].c_str()), 0);
                if (spool) {
                    EXPECT_EQ(doc->SpoolChild(file.get()), 0);
                }
            }
            if (row.heldFirst) SetAttr(Select(doc.p, L"/Factory/Media/Info").get(), L"Media_Size", L"7");
            ASSERT_GE(doc->Save(0), 0);
        }
        EXPECT_EQ(tree.ReadFile("spooled.xml"), tree.ReadFile("whole.xml"));
        EXPECT_EQ(tree.List(""), (std::vector<std::string>{"spooled.xml", "whole.xml"}));
    }
}

TEST(QvXml, SpoolingRefusesWhatIsNoChildOfTheRootAndKeepsAChildItCannotWrite) {
    TempTree tree;
    Doc doc;
    IQvXmlNode* raw = nullptr;
    const std::wstring path = tree.WinPath("missing\\x.xml");
    ASSERT_GE(doc->Create(path.c_str(), L"r", &raw), 0);
    Node root(raw);
    Node a = Child(root.get(), L"a");
    Node deep = Child(a.get(), L"deep");
    EXPECT_EQ(doc->SpoolChild(deep.get()), E_INVALIDARG);
    EXPECT_EQ(doc->SpoolChild(root.get()), E_INVALIDARG);
    EXPECT_EQ(doc->SpoolChild(nullptr), E_INVALIDARG);
    // No folder to write beside: the child stays in the document.
    EXPECT_EQ(doc->SpoolChild(a.get()), 1);
    EXPECT_EQ(root->GetChildCount(), 1);
    EXPECT_LT(doc->Save(0), 0);
}
