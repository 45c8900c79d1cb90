// Tests of the media file writer: entry forms, the Info attributes, counters and file counts.
#include "media/QvMediaTestUtil.h"

#include <gtest/gtest.h>

using namespace qvmediatest;
using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

const std::vector<std::string> kFileForm = {"FullPath",  "Path",      "TargetPath", "Name",
                                            "Extension", "Attribute", "Exclusion",  "WriteTime",
                                            "FileSize",  "CRC32"};
const std::vector<std::string> kDirForm = {"FullPath",  "Path",      "TargetPath", "Name",
                                           "Attribute", "Exclusion", "WriteTime",  "FileSize"};

// Writes the entries as the only medium of a split and reads it back.
Medium WriteOne(const TempTree& tree, const std::vector<FileDesc>& entries, Options run = Options()) {
    Maps maps;
    for (const FileDesc& e : entries) Put(maps.any, e);
    EXPECT_EQ(1u, Split(tree.WinPath(), maps, run));
    return ReadMedium(tree, "Media1.xml");
}

}  // namespace

TEST(CQvMediaFactoryWriter, FileFormHasEveryValueInOrder) {
    TempTree tree;
    FileDesc desc = File(L"C:\\Data\\report.txt", 1234);
    desc.strTargetPath = L"\\Data";
    const Medium medium = WriteOne(tree, {desc});
    ASSERT_TRUE(medium.loaded);
    ASSERT_EQ(1u, medium.entries.size());
    const Entry& e = medium.entries[0];
    EXPECT_EQ(kFileForm, e.names);
    EXPECT_EQ("C:\\Data\\report.txt", e.text.at("FullPath"));
    EXPECT_EQ("C:\\Data\\", e.text.at("Path"));
    EXPECT_EQ("\\Data", e.text.at("TargetPath"));
    EXPECT_EQ("report.txt", e.text.at("Name"));
    EXPECT_EQ(".txt", e.text.at("Extension"));
    EXPECT_EQ("32", e.text.at("Attribute"));
    EXPECT_EQ("0", e.text.at("Exclusion"));
    EXPECT_EQ("20240102030405", e.text.at("WriteTime"));
    EXPECT_EQ("1234", e.text.at("FileSize"));
    EXPECT_EQ("0", e.text.at("CRC32"));
    for (const char* wrapped : {"FullPath", "Path", "TargetPath", "Name"})
        EXPECT_TRUE(e.cdata.at(wrapped)) << wrapped;
    for (const char* plain : {"Extension", "Attribute", "FileSize", "CRC32"})
        EXPECT_FALSE(e.cdata.at(plain)) << plain;
}

TEST(CQvMediaFactoryWriter, FileFormPathAndNameEdgeCases) {
    struct Row {
        const wchar_t* path;
        const char* folder;
        const char* name;
        const char* extension;
    };
    const Row rows[] = {
        // The folder part is what comes before the name, however often the name recurs.
        {L"C:\\logs\\logs", "C:\\logs\\", "logs", ""},
        {L"C:\\build-x\\build", "C:\\build-x\\", "build", ""},
        {L"C:\\C", "C:\\", "C", ""},
        {L"C:\\Data\\README", "C:\\Data\\", "README", ""},
        {L"C:\\a.b\\c.tar.gz", "C:\\a.b\\", "c.tar.gz", ".gz"},
        {L"D:\\x\\y\\z.dat", "D:\\x\\y\\", "z.dat", ".dat"},
        // A separator doubled belongs to the folder; a dot followed by a backslash or a space
        // begins no extension.
        {L"C:\\x\\\\y.z", "C:\\x\\\\", "y.z", ".z"},
        {L"C:\\x/y z.q\\w", "C:\\x/y z.q\\", "w", ""},
        {L"C:\\d.e\\a b.c d", "C:\\d.e\\", "a b.c d", ""},
        {L"C:\\x\\y.z\\\\", "C:\\x\\", "y.z\\\\", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(qvtest::Narrow(row.path));
        TempTree tree;
        const Medium medium = WriteOne(tree, {File(row.path, 10)});
        ASSERT_EQ(1u, medium.entries.size());
        const Entry& e = medium.entries[0];
        EXPECT_EQ(row.folder, e.text.at("Path"));
        EXPECT_EQ(row.name, e.text.at("Name"));
        EXPECT_EQ(row.extension, e.text.at("Extension"));
    }
}

// An entry is written straight as text unless a value needs escaping; then it is written as
// nodes. Both ways give the same bytes, and a traced run has a line for every value either way.
TEST(CQvMediaFactoryWriter, EntriesAreTheSameBytesWithOrWithoutTheTrace) {
    // Entries with a target and write time of their own, between entries that share theirs.
    const auto own = [](FileDesc desc, const wchar_t* target, const wchar_t* time) {
        desc.strTargetPath = target;
        desc.strWriteTime = time;
        return desc;
    };
    const std::vector<FileDesc> entries = {
        File(L"C:\\Data\\plain.txt", 1),
        File(L"C:\\Data\\a&b<c>.t&t", 2),
        File(L"C:\\Data\\x]]>y.b]]>n", 3),
        File(L"C:\\Data\\quo\"te's.t'x", 4),
        File(L"C:\\Data\\ctl\x01name.\x02", 5),
        File(L"C:\\D\u00e9j\u00e0\\\u65e5\u672c.\u00e9", 6),
        File(std::wstring(L"C:\\Data\\lone") + static_cast<wchar_t>(0xD800) + L".txt", 7),
        File(L"C:\\Data\\noext", 8),
        File(L"C:\\Data\\.hidden", 9),
        File(L"C:\\Data.d\\sub/mixed:name", 12),
        File(L"C:\\Data\\ends in.", 13),
        File(L"C:\\Data\\two words.a b", 14),
        File(L"C:\\Data\\mapped\xF03A\U0001F600.\u00e9t\u00e9", 15),
        File(L"C:\\Data\\\U0010FFFF\u2028.x", 16),
        File(L"C:rel.txt", 17),
        own(File(L"C:\\Data\\own target.txt", 18), L"\\Back]]>up", L"20250607080910"),
        own(File(L"C:\\Data\\own again.txt", 21), L"\\Back]]>up", L"20250607080910"),
        File(L"C:\\Data\\after.txt", 19),
        own(File(L"C:\\Data\\other.txt", 20), L"\\Other", L"20250607080911"),
        Dir(L"C:\\Data\\Photos &]]> <1>\\", 10),
        Dir(L"\\Data", 11),
    };
    TempTree drive(L'C');
    std::string text, tracedText;
    {
        TempTree plain;  // one tree at a time: each takes the same drive letter
        WriteOne(plain, entries);
        text = plain.ReadFile("Media1.xml");
    }
    {
        LogCapture capture;
        TempTree traced;
        WriteOne(traced, entries);
        tracedText = traced.ReadFile("Media1.xml");
        size_t nValueLines = 0;
        for (const QvLogRecord& record : capture.Records())
            if (record.level == QvLogLevel::Enter && record.text.find(L"::AddValueToFileNode(") != std::wstring::npos)
                ++nValueLines;
        EXPECT_EQ(19u * 10 + 2 * 8, nValueLines) << "ten values a file, eight a folder";
        EXPECT_TRUE(capture.HasContaining(QvLogLevel::Enter, L"strValue=Name, LPCTSTR strValueText=<![CDATA[plain.txt]]>)"));
        EXPECT_TRUE(capture.HasContaining(QvLogLevel::Enter, L"strValue=Extension, LPCTSTR strValueText=.t&t)"));
    }
    EXPECT_EQ(text, tracedText);
    EXPECT_NE(std::string::npos, text.find("<Name><![CDATA[plain.txt]]></Name>")) << text;
    EXPECT_NE(std::string::npos, text.find("<Extension>.t&amp;t</Extension>")) << text;
    EXPECT_NE(std::string::npos, text.find("<Extension />")) << text;
    // Each entry has its own target and time, whatever the entry before it had.
    const auto entryOf = [&text](const std::string& name) {
        const size_t at = text.find("[CDATA[" + name + "]]></Name>");
        const size_t begin = text.rfind("<FILE>", at), end = text.find("</FILE>", at);
        return at == std::string::npos ? std::string() : text.substr(begin, end - begin);
    };
    const std::string ownTarget = entryOf("own target.txt"), after = entryOf("after.txt"), other = entryOf("other.txt");
    EXPECT_NE(std::string::npos, ownTarget.find("<WriteTime>20250607080910</WriteTime>")) << ownTarget;
    EXPECT_EQ(std::string::npos, ownTarget.find("Backup")) << ownTarget;
    const auto targetOf = [](const std::string& entry) {
        const size_t begin = entry.find("<TargetPath>"), end = entry.find("</TargetPath>");
        return begin == std::string::npos || end == std::string::npos ? std::string() : entry.substr(begin, end - begin);
    };
    EXPECT_FALSE(targetOf(ownTarget).empty()) << ownTarget;
    EXPECT_EQ(targetOf(ownTarget), targetOf(entryOf("own again.txt")));
    EXPECT_NE(std::string::npos, after.find("<TargetPath><![CDATA[\\Backup]]></TargetPath>")) << after;
    EXPECT_NE(std::string::npos, after.find("<WriteTime>20240102030405</WriteTime>")) << after;
    EXPECT_NE(std::string::npos, other.find("<TargetPath><![CDATA[\\Other]]></TargetPath>")) << other;
    EXPECT_NE(std::string::npos, other.find("<WriteTime>20250607080911</WriteTime>")) << other;
}

TEST(CQvMediaFactoryWriter, DirectoryFormEdgeCases) {
    struct Row {
        const wchar_t* path;
        const char* fullPath;
        const char* folder;
        const char* name;
    };
    const Row rows[] = {
        {L"C:\\Data\\Photos\\", "C:\\Data\\Photos\\*.*", "C:\\Data\\", "Photos"},
        {L"C:\\Data\\Photos", "C:\\Data\\Photos\\*.*", "C:\\Data\\", "Photos"},
        {L"C:\\Data\\", "C:\\Data\\*.*", "C:\\", "Data"},
        {L"C:\\", "C:\\*.*", "C:\\", ""},
        {L"\\Data", "\\Data\\*.*", "\\Data", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(qvtest::Narrow(row.path));
#if defined(_WIN32)
        // Drive C cannot be mapped to an empty folder on Windows; counting the real "C:\" would
        // walk the whole disk.
        if (std::wstring(row.path) == L"C:\\") continue;
#endif
        // Drive C is an empty temporary folder here, so counting "C:\" stays inside the test.
        TempTree drive(L'C');
        TempTree tree;
        const Medium medium = WriteOne(tree, {Dir(row.path, 5 * MB)});
        ASSERT_EQ(1u, medium.entries.size());
        const Entry& e = medium.entries[0];
        EXPECT_EQ(kDirForm, e.names);
        EXPECT_EQ(row.fullPath, e.text.at("FullPath"));
        EXPECT_EQ(row.folder, e.text.at("Path"));
        EXPECT_EQ(row.name, e.text.at("Name"));
        EXPECT_EQ("16", e.text.at("Attribute"));
        EXPECT_EQ("5242880", e.text.at("FileSize"));
        EXPECT_TRUE(e.cdata.at("FullPath"));
        EXPECT_FALSE(e.cdata.at("Path"));
        EXPECT_TRUE(e.cdata.at("Name"));
        EXPECT_EQ(0, medium.FileCount());
        EXPECT_EQ(5 * MB, medium.Size());
    }
}

TEST(CQvMediaFactoryWriter, InfoAttributesAndTypeFormatting) {
    struct Row {
        DWORD type;
        const char* text;
    };
    const Row rows[] = {{0, "0x00000000"}, {3, "0x00000003"}, {12, "0x000000012"},
                        {255, "0x0000000255"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        TempTree tree;
        Options run;
        run.dwType = row.type;
        run.strDispFlag = L"Weekly <full>";
        const Medium medium =
            WriteOne(tree, {File(L"C:\\a.txt", 3 * MB), File(L"C:\\b.txt", 2 * MB + 7)}, run);
        ASSERT_TRUE(medium.loaded);
        EXPECT_EQ((std::vector<std::string>{"Media", "FILE", "FILE"}), medium.rootChildren);
        EXPECT_EQ((std::vector<std::string>{"DispFlag", "Type", "Split_Size", "Media_Size",
                                            "Media_NumberFiles"}),
                  medium.infoOrder);
        EXPECT_EQ("Weekly <full>", medium.info.at("DispFlag"));
        EXPECT_EQ(row.text, medium.info.at("Type"));
        EXPECT_EQ("700", medium.info.at("Split_Size"));
        EXPECT_EQ(5 * MB + 7, medium.Size());
        EXPECT_EQ(2, medium.FileCount());
    }
}

TEST(CQvMediaFactoryWriter, DirectoryEntriesCountTheirFilesOnDisk) {
    TempTree data(L'D');
    data.WriteFile("Photos/a.jpg", "a");
    data.WriteFile("Photos/.hidden", "h");
    data.WriteFile("Photos/2023/b.jpg", "b");
    data.WriteFile("Photos/2023/deep/c.jpg", "c");
    data.MakeDir("Photos/empty");
    data.WriteFile("Photos/System Volume Information/x.dat", "x");
    data.WriteFile("Other/d.txt", "d");
    TempTree tree;
    const Medium medium =
        WriteOne(tree, {Dir(data.WinPath("Photos") + L"\\", 4), File(L"C:\\f.txt", 1),
                        Dir(data.WinPath("Photos/empty"), 0)});
    ASSERT_EQ(3u, medium.entries.size());
    // Four files below Photos (hidden included, System Volume Information not), one plain
    // file, nothing for the empty folder; folders themselves never count.
    EXPECT_EQ(5, medium.FileCount());
    EXPECT_EQ(5, medium.Size());
}

TEST(CQvMediaFactoryWriter, GetDirFileCountCountsRecursively) {
    TempTree data(L'D');
    data.WriteFile("A/1", "1");
    data.WriteFile("A/B/2", "2");
    data.WriteFile("A/B/C/3", "3");
    data.WriteFile("A/System Volume Information/4", "4");
    struct Row {
        std::string rel;
        bool slash;
        DWORD expected;
    };
    const Row rows[] = {{"A", false, 3}, {"A", true, 3}, {"A/B", false, 2},
                        {"A/System Volume Information", false, 0}, {"missing", false, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rel);
        QvMediaTestAccess::SetMediaFileCount(10);
        const std::wstring path = data.WinPath(row.rel) + (row.slash ? L"\\" : L"");
        EXPECT_EQ(S_OK, QvMediaTestAccess::GetDirFileCount(path.c_str()));
        EXPECT_EQ(10 + row.expected, QvMediaTestAccess::MediaFileCount());
    }
}

TEST(CQvMediaFactoryWriter, AbortInFileCountOnlyCutsTheCountShort) {
    TempTree data(L'D');
    data.WriteFile("P/1", "1");
    data.WriteFile("P/Q/2", "2");
    data.WriteFile("P/Q/3", "3");
    TempTree tree;
    Script script;
    // Calls: code 0, MakeOneMedia, the group fill finds nothing (no groups: no call), the
    // single-entry fill takes the directory (call 3), then the count of P (4) and P\Q (5).
    script.abortAt = 5;
    CQvMediaFactory::GetInstance()->SetMediaFactoryCB(ScriptCB, &script);
    LogCapture capture;
    Maps maps;
    Put(maps.any, Dir(data.WinPath("P"), 3));
    EXPECT_EQ(1u, Split(tree.WinPath(), maps));
    CQvMediaFactory::GetInstance()->SetMediaFactoryCB(NULL, NULL);
    ASSERT_GE(script.codes.size(), 5u);
    EXPECT_TRUE(capture.Has(QvLogLevel::Error, L"CQvMediaFactory::GetDirFileCount(...) ABORT request"))
        << capture.Dump();
    const Medium medium = ReadMedium(tree, "Media1.xml");
    ASSERT_EQ(1u, medium.entries.size());
    EXPECT_EQ(1, medium.FileCount());  // P\1 was counted before P\Q was cut short
}

TEST(CQvMediaFactoryWriter, ValueAndFileFailures) {
    LogCapture capture;
    EXPECT_EQ(E_INVALIDARG, QvMediaTestAccess::AddValueToFileNode(NULL, L"Name", L"x"));
    EXPECT_TRUE(capture.Has(QvLogLevel::Error,
                            L"CQvMediaFactory::AddValueToFileNode(...) pNode = NULL !"));
    IQvXml* xml = GetQvXmlInterface(XML_TYPE_LIBRARY);
    ASSERT_NE(nullptr, xml);
    QvMediaTestAccess::Xml() = xml;
    // A document cannot be bound to an empty path.
    EXPECT_EQ(E_FAIL, QvMediaTestAccess::CreateNewMediaFile(L"", L"d", L"0x00000003", 700));
    EXPECT_TRUE(capture.Has(QvLogLevel::Error,
                            L"CQvMediaFactory::CreateNewMediaFile(LPCTSTR strFileName=) Create "
                            L"XML media file FAILED"))
        << capture.Dump();
    // Without a root element there is nothing to add the entry to.
    FileDesc desc = File(L"C:\\a.txt", 5);
    EXPECT_EQ(E_FAIL, QvMediaTestAccess::AddFileToMedia(&desc));
    EXPECT_EQ(E_FAIL, QvMediaTestAccess::AddFileToMedia(NULL));
    TempTree tree;
    const std::wstring path = tree.WinPath("m.xml");
    ASSERT_EQ(S_OK, QvMediaTestAccess::CreateNewMediaFile(path.c_str(), L"d", L"t", 700));
    EXPECT_EQ(0, QvMediaTestAccess::MediaSize());
    EXPECT_EQ(S_OK, QvMediaTestAccess::AddFileToMedia(&desc));
    EXPECT_EQ(5, QvMediaTestAccess::MediaSize());
    EXPECT_EQ(1u, QvMediaTestAccess::MediaFileCount());
    // A new file starts its counters again.
    ASSERT_EQ(S_OK, QvMediaTestAccess::CreateNewMediaFile(path.c_str(), L"d", L"t", 700));
    EXPECT_EQ(0, QvMediaTestAccess::MediaSize());
    EXPECT_EQ(0u, QvMediaTestAccess::MediaFileCount());
    QvMediaTestAccess::Xml() = NULL;
    xml->Close();
}
