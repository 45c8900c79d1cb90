// End-to-end splits: rules files on real temporary trees through the split interface, with the
// media files read back.
#include "catalog/QvCatalogTestAccess.h"
#include "media/QvMediaTestUtil.h"
#include "platform/QvFaults.h"
#include "support/QvAllocFaults.h"

#include "QvSplit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <cwchar>
#include <memory>
#include <new>
#include <stdexcept>

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace qvmediatest;
using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

struct RuleSpec {
    std::string source;  // relative to the tree
    const char* location;
    bool together;
    bool include;
    const char* target = "\\restore";
};

// An item list of one item for any medium.
RuleVector OneItem(const std::wstring& path) {
    QvRule item{};
    item.iLocation = InAny;
    item.bInclude = TRUE;
    std::wcsncpy(item.szSourcePath, path.c_str(), QV_RULE_PATH_LEN - 1);
    return RuleVector{item};
}

// Writes rules.xml into the tree and returns its Windows path.
std::wstring WriteRules(const TempTree& tree, const std::vector<RuleSpec>& rules) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RulesFile>\n";
    int id = 1;
    for (const RuleSpec& r : rules) {
        text += "  <Rule RuleID=\"" + std::to_string(id++) + "\" Action=\"" +
                (r.include ? "INCLUDE" : "EXCLUDE") + "\" Location=\"" + r.location +
                "\" AllTogether=\"" + (r.together ? "TRUE" : "FALSE") + "\">\n";
        text += "    <SourcePath>" + qvtest::Narrow(tree.WinPath(r.source)) + "</SourcePath>\n";
        text += std::string("    <TargetPath>") + r.target + "</TargetPath>\n  </Rule>\n";
    }
    text += "</RulesFile>\n";
    tree.WriteFile("rules.xml", text);
    return tree.WinPath("rules.xml");
}

struct Job {
    DWORD dwSplitSize = 700;
    DWORD dwFreeSpace = 0;
    DWORD dwOutputMethod = 0;
    const wchar_t* strOutputDir = NULL;
    SPLITCB lpCB = NULL;
    LPVOID lpUserParam = NULL;
    std::wstring strPartList;  // cut files larger than a medium, recorded here
};

// SetupSplit then EstimateSplit on a fresh split object; the number of media.
DWORD RunSplit(const std::wstring& rulesPath, const Job& job) {
    std::unique_ptr<iCQvSplit> split(GetQvSplitInterface());
    if (!split) return 0;
    if (!job.strPartList.empty() && split->SetSplitBigFile(TRUE, job.dwSplitSize, job.strPartList.c_str()) != 0)
        return 0;
    if (split->SetupSplit(L"VOL", rulesPath.c_str(), L"Disp", 3, job.dwSplitSize,
                          job.dwFreeSpace, job.dwOutputMethod, job.strOutputDir, job.lpCB,
                          job.lpUserParam) != 1)
        return 0;
    return split->EstimateSplit();
}

std::string Win(const TempTree& tree, const std::string& rel) {
    return qvtest::Narrow(tree.WinPath(rel));
}

// Every FullPath of media 1..count, by medium number.
std::vector<Medium> ReadSet(const TempTree& tree, const std::string& dir, DWORD count) {
    std::vector<Medium> media;
    for (DWORD i = 1; i <= count; ++i)
        media.push_back(ReadMedium(tree, dir + "/Media" + std::to_string(i) + ".xml"));
    return media;
}

int CountOn(const std::vector<Medium>& media, const std::string& path) {
    int n = 0;
    for (const Medium& m : media) n += m.Holds(path) ? 1 : 0;
    return n;
}

// The media the library reports are the media files it wrote, figure by figure, and its
// planned bytes count each FullPath once.
void ExpectReportOfMediaFiles(const TempTree& tree, const std::string& dir, DWORD count) {
    ASSERT_EQ(count, QvGetMediaCount());
    std::map<std::string, long long> distinct;
    for (DWORD i = 0; i < count; ++i) {
        SCOPED_TRACE("medium " + std::to_string(i + 1));
        const Medium file = ReadMedium(tree, dir + "/Media" + std::to_string(i + 1) + ".xml");
        ASSERT_TRUE(file.loaded);
        QvMediumReport r{};
        r.cbSize = sizeof r;
        ASSERT_TRUE(QvGetMedium(i, &r));
        EXPECT_EQ(i + 1, r.dwNumber);
        EXPECT_EQ(file.entries.size(), r.dwEntries);
        EXPECT_EQ(file.FileCount(), r.dwFiles);
        EXPECT_EQ(file.Size(), r.iFileBytes);
        EXPECT_EQ(file.info.count("Image_Size") ? std::stoll(file.info.at("Image_Size")) : -1, r.iImageBytes);
        for (const Entry& e : file.entries) distinct[e.text.at("FullPath")] = std::stoll(e.text.at("FileSize"));
    }
    QvMediumReport past{};
    past.cbSize = sizeof past;
    EXPECT_FALSE(QvGetMedium(count, &past));
    long long planned = 0;
    for (const auto& d : distinct) planned += d.second;
    EXPECT_EQ(planned, QvGetPlannedBytes());
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { QvCatalogTestAccess::ResetAll(); }
    void TearDown() override { QvCatalogTestAccess::ResetAll(); }
};

}  // namespace

TEST_F(EndToEnd, OneMediumFromAFolderWithOrWithoutTrailingBackslash) {
    for (const bool slash : {false, true}) {
        SCOPED_TRACE(slash ? "with backslash" : "without backslash");
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        tree.WriteFile("data/a.txt", "aaaa");
        tree.WriteFile("data/sub/b.txt", "bb");
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out") + (slash ? L"\\" : L"");
        Job job;
        job.strOutputDir = out.c_str();
        job.dwFreeSpace = 10;
        ASSERT_EQ(1u, RunSplit(rules, job));
        EXPECT_EQ(std::vector<std::string>{"Media1.xml"}, tree.List("out"));
        const Medium m = ReadMedium(tree, "out/Media1.xml");
        EXPECT_EQ((std::vector<std::string>{Win(tree, "data/a.txt"), Win(tree, "data/sub/b.txt")}),
                  m.FullPaths());
        EXPECT_EQ(0u, m.entries[0].text.at("TargetPath").find("\\restore"));
        EXPECT_EQ(10 * MB + 6, m.Size());
        EXPECT_EQ(2, m.FileCount());
    }
}

TEST_F(EndToEnd, EveryLocationKindLandsWhereItMust) {
    TempTree tree;
    tree.WriteSparse("data/first/f.bin", 100 * MB);
    tree.WriteSparse("data/last/l.bin", 100 * MB);
    tree.WriteSparse("data/all/a.bin", 10 * MB);
    for (int i = 0; i < 2; ++i) {
        tree.WriteSparse("data/nf/" + std::to_string(i) + ".bin", 200 * MB);
        tree.WriteSparse("data/nl/" + std::to_string(i) + ".bin", 200 * MB);
    }
    for (int i = 0; i < 6; ++i) tree.WriteSparse("data/any/" + std::to_string(i) + ".bin", 200 * MB);
    tree.MakeDir("out");
    const std::wstring rules = WriteRules(tree, {{"data/first", "First", false, true},
                                                 {"data/last", "Last", false, true},
                                                 {"data/all", "All", false, true},
                                                 {"data/nf", "NotFirst", false, true},
                                                 {"data/nl", "NotLast", false, true},
                                                 {"data/any", "Any", false, true}});
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.strOutputDir = out.c_str();
    const DWORD count = RunSplit(rules, job);
    ASSERT_GE(count, 3u);
    EXPECT_EQ(count, tree.List("out").size());
    const std::vector<Medium> media = ReadSet(tree, "out", count);
    EXPECT_EQ(static_cast<int>(count), CountOn(media, Win(tree, "data/all/a.bin")));
    EXPECT_TRUE(media.front().Holds(Win(tree, "data/first/f.bin")));
    EXPECT_EQ(1, CountOn(media, Win(tree, "data/first/f.bin")));
    EXPECT_TRUE(media.back().Holds(Win(tree, "data/last/l.bin")));
    EXPECT_EQ(1, CountOn(media, Win(tree, "data/last/l.bin")));
    for (int i = 0; i < 2; ++i) {
        const std::string nf = Win(tree, "data/nf/" + std::to_string(i) + ".bin");
        const std::string nl = Win(tree, "data/nl/" + std::to_string(i) + ".bin");
        EXPECT_EQ(1, CountOn(media, nf));
        EXPECT_EQ(1, CountOn(media, nl));
        EXPECT_FALSE(media.front().Holds(nf));
        EXPECT_FALSE(media.back().Holds(nl));
    }
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(1, CountOn(media, Win(tree, "data/any/" + std::to_string(i) + ".bin")));
    for (const Medium& m : media) EXPECT_LE(m.Size(), 700 * MB);
    // The last medium is written second and numbered last; the every-medium file counts once.
    ExpectReportOfMediaFiles(tree, "out", count);
}

// Rules of one path are merged: each include adds its location and folder, until one puts the
// path on every medium. A file is then planned once for each folder of a medium its placements
// restore it in; placements under one folder that meet on a medium are one entry there, and a
// rule for a file is preferred to a folder's rule for any medium. One medium holds it all, in
// both methods.
TEST_F(EndToEnd, SeveralRulesOfOnePathPlaceEachOfTheirFolders) {
    struct Row {
        const char* label;
        std::vector<RuleSpec> rules;
        std::vector<std::string> entries;  // name and folder on the medium, sorted
    };
    const Row rows[] = {
        {"first and last under their folders; an include after All adds nothing, though All is excluded",
         {{"m/m1", "First", false, true, "F"},
          {"m/m1", "Last", false, true, "L"},
          {"mg/p1.txt", "All", false, true, "A1"},
          {"mg/p1.txt", "First", false, true, "B1"},
          {"mg/p1.txt", "All", false, false, ""},
          {"mg/p2.txt", "Any", false, true, "Y"}},
         {"p2.txt \\Y", "w.txt \\F\\m1", "w.txt \\L\\m1", "x.txt \\F\\m1", "x.txt \\L\\m1",
          "y.txt \\F\\m1", "y.txt \\L\\m1", "z.txt \\F\\m1", "z.txt \\L\\m1"}},
        {"first, last and every medium, one file excluded at each",
         {{"m/m1", "First", false, true, "F"},
          {"m/m1", "Last", false, true, "L"},
          {"m/m1", "All", false, true, "A"},
          {"m/m1/x.txt", "First", false, false, ""},
          {"m/m1/y.txt", "Last", false, false, ""},
          {"m/m1/z.txt", "All", false, false, ""}},
         {"w.txt \\A\\m1", "w.txt \\F\\m1", "w.txt \\L\\m1", "x.txt \\A\\m1", "x.txt \\L\\m1",
          "y.txt \\A\\m1", "y.txt \\F\\m1", "z.txt \\F\\m1", "z.txt \\L\\m1"}},
        {"first and last under one folder (in another letter case) are one entry",
         {{"m/m1", "First", false, true, "F"}, {"m/m1", "Last", false, true, "f"}},
         {"w.txt \\F\\m1", "x.txt \\F\\m1", "y.txt \\F\\m1", "z.txt \\F\\m1"}},
        {"a folder for any medium and a file of it for the last: the file's rule",
         {{"m", "Any", false, true, "Q"}, {"m/m1/x.txt", "Last", false, true, "X"}},
         {"w.txt \\Q\\m\\m1", "x.txt \\X", "y.txt \\Q\\m\\m1", "z.txt \\Q\\m\\m1"}},
    };
    for (const Row& row : rows) {
        for (DWORD method : {0u, 1u}) {
            SCOPED_TRACE(std::string(row.label) + (method ? " (folders kept whole)" : " (file by file)"));
            QvCatalogTestAccess::ResetAll();
            TempTree tree;
            for (const char* name : {"w", "x", "y", "z"}) tree.WriteFile(std::string("m/m1/") + name + ".txt", "12345");
            tree.WriteFile("mg/p1.txt", "1");
            tree.WriteFile("mg/p2.txt", "2");
            tree.MakeDir("out");
            const std::wstring rules = WriteRules(tree, row.rules);
            const std::wstring out = tree.WinPath("out");
            Job job;
            job.strOutputDir = out.c_str();
            job.dwOutputMethod = method;
            ASSERT_EQ(1u, RunSplit(rules, job));
            // A folder kept whole stands for the files it holds, restored under its folder.
            const std::string root = qvtest::Narrow(tree.WinPath()) + "\\";
            const std::vector<Medium> media = ReadSet(tree, "out", 1);
            std::vector<std::string> entries;
            for (const Entry& e : media.front().entries) {
                if ((std::stoul(e.text.at("Attribute")) & 0x10) == 0) {
                    entries.push_back(e.text.at("Name") + " " + e.text.at("TargetPath"));
                    continue;
                }
                std::string rel = e.text.at("FullPath").substr(root.size());
                std::replace(rel.begin(), rel.end(), '\\', '/');
                for (const std::string& name : tree.List(rel)) entries.push_back(name + " " + e.text.at("TargetPath"));
            }
            std::sort(entries.begin(), entries.end());
            EXPECT_EQ(row.entries, entries);
        }
    }
}

// Rules by pattern select what their last component matches, including and excluding, in both
// methods: the files of one folder by extension, a folder less its files of one extension.
TEST_F(EndToEnd, PatternRulesSelectWhatTheyMatch) {
    struct Row {
        const char* label;
        std::vector<RuleSpec> rules;
        std::vector<std::string> planned;      // every entry planned, in path order
        std::vector<std::string> dirsPlanned;  // the same with folders kept whole, when different
    };
    const std::vector<Row> rows = {
        {"three rules: some .gz of one folder, a folder without its .gz",
         {{"apt/*.gz", "Any", false, true}, {"bash", "Any", false, true}, {"bash/*.gz", "Any", false, false}},
         // A pattern matches the entries of its own folder, as a listing does: bash/doc keeps y.gz.
         {"apt/a.gz", "apt/b.gz", "apt/long.gz", "bash/NOTES", "bash/copyright", "bash/doc/y.gz"},
         {"apt/a.gz", "apt/b.gz", "apt/long.gz", "bash/NOTES", "bash/copyright", "bash/doc/*.*"}},
        {"question mark", {{"apt/?.gz", "Any", false, true}}, {"apt/a.gz", "apt/b.gz"}, {}},
        {"pattern matching nothing beside a plain rule", {{"apt/*.zip", "Any", false, true}, {"bash/NOTES", "Any", false, true}},
         {"bash/NOTES"}, {}},
        {"pattern under a missing folder is dropped", {{"gone/*.gz", "Any", false, true}, {"apt/copyright", "Any", false, true}},
         {"apt/copyright"}, {}},
    };
    for (const DWORD method : {0u, 1u}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.label) + (method ? ", folders kept whole" : ", file by file"));
            QvCatalogTestAccess::ResetAll();
            TempTree tree;
            for (const char* f : {"apt/a.gz", "apt/b.gz", "apt/long.gz", "apt/copyright", "bash/x.gz",
                                  "bash/NOTES", "bash/copyright", "bash/doc/y.gz"})
                tree.WriteFile(f, f);
            tree.MakeDir("out");
            const std::wstring rulesPath = WriteRules(tree, row.rules);
            const std::wstring out = tree.WinPath("out");
            Job job;
            job.strOutputDir = out.c_str();
            job.dwOutputMethod = method;
            LogCapture log;
            ASSERT_EQ(1u, RunSplit(rulesPath, job)) << log.Dump();
            std::vector<std::string> planned;
            for (const std::string& full : ReadSet(tree, "out", 1)[0].FullPaths()) {
                std::string rel = full.substr(Win(tree, "").size() + 1);
                std::replace(rel.begin(), rel.end(), '\\', '/');
                planned.push_back(rel);
            }
            std::sort(planned.begin(), planned.end());
            EXPECT_EQ(method == 1 && !row.dirsPlanned.empty() ? row.dirsPlanned : row.planned, planned);
        }
    }
}

TEST_F(EndToEnd, GroupsStayTogetherInSizeOrder) {
    TempTree tree;
    for (int i = 0; i < 3; ++i) tree.WriteSparse("data/g1/" + std::to_string(i) + ".bin", 150 * MB);
    for (int i = 0; i < 2; ++i) tree.WriteSparse("data/g2/" + std::to_string(i) + ".bin", 300 * MB);
    for (int i = 0; i < 4; ++i) tree.WriteSparse("data/s/" + std::to_string(i) + ".bin", 100 * MB);
    tree.MakeDir("out");
    const std::wstring rules = WriteRules(tree, {{"data/g1", "Any", true, true},
                                                 {"data/g2", "Any", true, true},
                                                 {"data/s", "Any", false, true}});
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.strOutputDir = out.c_str();
    const DWORD count = RunSplit(rules, job);
    ASSERT_GE(count, 2u);
    const std::vector<Medium> media = ReadSet(tree, "out", count);
    // The larger group (600 MB) is offered first and opens the first medium.
    const Medium& first = media.front();
    ASSERT_GE(first.entries.size(), 2u);
    EXPECT_EQ(Win(tree, "data/g2/0.bin"), first.FullPaths()[0]);
    EXPECT_EQ(Win(tree, "data/g2/1.bin"), first.FullPaths()[1]);
    // The 450 MB group is written whole on one medium, in order.
    int holders = 0;
    for (const Medium& m : media) {
        const std::vector<std::string> paths = m.FullPaths();
        auto it = std::find(paths.begin(), paths.end(), Win(tree, "data/g1/0.bin"));
        if (it == paths.end()) continue;
        ++holders;
        ASSERT_LE(std::distance(it, paths.end()), 3 + 4);
        EXPECT_EQ(Win(tree, "data/g1/1.bin"), *(it + 1));
        EXPECT_EQ(Win(tree, "data/g1/2.bin"), *(it + 2));
    }
    EXPECT_EQ(1, holders);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(1, CountOn(media, Win(tree, "data/s/" + std::to_string(i) + ".bin")));
}

TEST_F(EndToEnd, DirectoryEntriesCarryTheirFileCounts) {
    TempTree tree;
    tree.WriteFile("data/photos/a.jpg", "12345");
    tree.WriteFile("data/photos/b.jpg", "123");
    tree.WriteFile("data/photos/2020/c.jpg", "1");
    tree.MakeDir("out");
    const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.strOutputDir = out.c_str();
    job.dwOutputMethod = 1;
    ASSERT_EQ(1u, RunSplit(rules, job));
    const Medium m = ReadMedium(tree, "out/Media1.xml");
    // The folders below the rule's folder are kept whole: one directory entry.
    ASSERT_EQ(1u, m.entries.size());
    const Entry& e = m.entries[0];
    EXPECT_EQ(Win(tree, "data/photos") + "\\*.*", e.text.at("FullPath"));
    EXPECT_EQ("photos", e.text.at("Name"));
    EXPECT_EQ(0u, e.text.count("CRC32"));
    EXPECT_EQ("9", e.text.at("FileSize"));
    EXPECT_EQ(3, m.FileCount());
    ExpectReportOfMediaFiles(tree, "out", 1);
}

#if !defined(_WIN32)
// A linked folder inside the selection is one entry, not its contents a second time, and names
// Windows refuses land in well-formed media files under their mapped names.
TEST_F(EndToEnd, LinksAndNamesWindowsRefusesArePlannedOnce) {
    for (const DWORD method : {0u, 1u}) {
        SCOPED_TRACE(method == 0 ? "files one by one" : "folders kept whole");
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        tree.WriteFile("data/real/x.bin", "0123456789");
        ASSERT_EQ(symlink("real", tree.Native("data/alias").c_str()), 0);
        const std::string dir = tree.Root().string() + "/data/";
        std::ofstream(dir + "a*b", std::ios::binary) << "ab";
        std::ofstream(dir + "x\\y", std::ios::binary) << "xy";
        std::ofstream(dir + "ctl\x01", std::ios::binary) << "c";
        // Names that differ only in letter case: three files, three entries.
        for (const char* twin : {"Twin.txt", "twin.txt", "TWIN.TXT"})
            std::ofstream(dir + twin, std::ios::binary) << twin;
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out");
        Job job;
        job.strOutputDir = out.c_str();
        job.dwOutputMethod = method;
        ASSERT_EQ(1u, RunSplit(rules, job));
        const Medium m = ReadMedium(tree, "out/Media1.xml");
        ASSERT_TRUE(m.loaded) << "the media file is well-formed XML";
        EXPECT_EQ(10 + 2 + 2 + 1 + 3 * 8, m.Size()) << "the linked folder's file counts once";
        EXPECT_EQ(8, m.FileCount());
        const std::string data = Win(tree, "data") + "\\";
        EXPECT_TRUE(m.Holds(data + "alias")) << "the link itself is an entry";
        EXPECT_TRUE(m.Holds(data + "a\xEF\x80\xAA" "b"));
        EXPECT_TRUE(m.Holds(data + "x\xEF\x81\x9C" "y"));
        EXPECT_TRUE(m.Holds(data + "ctl\xEF\x80\x81"));
        for (const char* twin : {"Twin.txt", "twin.txt", "TWIN.TXT"}) EXPECT_TRUE(m.Holds(data + twin)) << twin;
        for (const std::string& path : m.FullPaths()) EXPECT_EQ(path.find("alias\\"), std::string::npos) << path;
    }
}
#endif

TEST_F(EndToEnd, NullFolderWritesToTempOfDriveC) {
#if defined(_WIN32)
    GTEST_SKIP() << "drive C cannot be mapped to a temporary folder on Windows, and the test must not "
                    "write to the machine's C:\\Temp";
#endif
    TempTree drive(L'C');
    drive.MakeDir("Temp");
    TempTree tree;
    tree.WriteFile("data/a.txt", "a");
    const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
    ASSERT_EQ(1u, RunSplit(rules, Job()));
    EXPECT_EQ(std::vector<std::string>{"Media1.xml"}, drive.List("Temp"));
    EXPECT_TRUE(ReadMedium(drive, "Temp/Media1.xml").Holds(Win(tree, "data/a.txt")));
}

TEST_F(EndToEnd, CallbackStops) {
    struct Row {
        const char* label;
        size_t abortAt;  // 0: last call
        DWORD expected;
        bool filesLeft;
        const wchar_t* message;
    };
    const Row rows[] = {
        // A stop while the catalogue walks the folders fails the split like one at the end of
        // the validation: no folder is dropped from a split that carries on.
        {"catalogue walk", 1, 0, false, L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request"},
        {"validation", 2, 0, false, L"CQvFileDescCatalog::ValidateSplitSize(...) ABORT request"},
        {"start of writing", 3, static_cast<DWORD>(E_ABORT), false,
         L"CQvMediaFactory::CreateMediaFiles(...) ABORT request"},
        {"first medium", 4, 0, false, L"CQvMediaFactory::MakeFirstMedia(...) ABORT request"},
        {"end of writing", 0, 0, true, L"CQvMediaFactory::CreateMediaFiles(...) ABORT request"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        for (int i = 0; i < 4; ++i) tree.WriteSparse("data/" + std::to_string(i) + ".bin", 300 * MB);
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out");
        Script probe;
        Job job;
        job.strOutputDir = out.c_str();
        job.lpCB = ScriptCB;
        job.lpUserParam = &probe;
        ASSERT_EQ(2u, RunSplit(rules, job));
        QvCatalogTestAccess::ResetAll();
        TempTree run(L'U');
        run.MakeDir("out");
        const std::wstring out2 = run.WinPath("out");
        Script script;
        script.abortAt = row.abortAt != 0 ? row.abortAt : probe.codes.size();
        job.strOutputDir = out2.c_str();
        job.lpUserParam = &script;
        LogCapture capture;
        EXPECT_EQ(row.expected, RunSplit(rules, job));
        EXPECT_TRUE(capture.Has(QvLogLevel::Error, row.message)) << capture.Dump();
        EXPECT_EQ(row.filesLeft ? 2u : 0u, run.List("out").size());
    }
}

// What the progress function is told of media saved: their files are in place under their names
// when it is called, and a stop keeps each one it was told of.
struct SavedProbe {
    const TempTree* pTree = nullptr;
    DWORD dwStopAt = 0;  // stop when this many media are said to be saved; 0: never
    DWORD dwMostSaid = 0;
    std::vector<std::string> faults;
};

std::vector<std::string> MediaFilesIn(const TempTree& tree) {
    std::vector<std::string> names;
    for (const std::string& name : tree.List("out"))
        if (name == "Last.xml" || (name.rfind("Media", 0) == 0 && name.size() > 9 &&
                                   name.compare(name.size() - 4, 4, ".xml") == 0))
            names.push_back(name);
    return names;
}

DWORD CALLBACK SavedProbeCB(DWORD uCode, LPVOID, DWORD, LPVOID lpUserParam) {
    SavedProbe* probe = static_cast<SavedProbe*>(lpUserParam);
    const DWORD dwSaid = QvGetMediaCount();
    const size_t nFiles = MediaFilesIn(*probe->pTree).size();
    if (nFiles < dwSaid)
        probe->faults.push_back("code " + std::to_string(uCode) + ": " + std::to_string(dwSaid) +
                                " media said saved, " + std::to_string(nFiles) + " in the folder");
    probe->dwMostSaid = std::max(probe->dwMostSaid, dwSaid);
    return probe->dwStopAt != 0 && dwSaid >= probe->dwStopAt ? 1 : 0;
}

// Media are put in place behind the writer, so the count may lag behind the writing, but never
// runs ahead of the folder; a stop keeps the media handed on before it.
TEST_F(EndToEnd, MediaSaidSavedAreInTheFolder) {
    const struct {
        const char* label;
        DWORD dwStopAt;
    } rows[] = {{"to the end", 0}, {"stopped once one is saved", 1}, {"stopped once two are saved", 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        for (int i = 0; i < 15; ++i) tree.WriteSparse("data/" + std::to_string(i) + ".bin", 100 * MB);
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out");
        SavedProbe probe;
        probe.pTree = &tree;
        probe.dwStopAt = row.dwStopAt;
        Job job;
        job.strOutputDir = out.c_str();
        job.lpCB = SavedProbeCB;
        job.lpUserParam = &probe;
        const DWORD count = RunSplit(rules, job);
        EXPECT_EQ(std::vector<std::string>(), probe.faults);
        EXPECT_GE(MediaFilesIn(tree).size(), probe.dwMostSaid);
        if (row.dwStopAt == 0) {
            EXPECT_EQ(3u, count);
            // Told at the end of writing: the whole set.
            EXPECT_EQ(3u, probe.dwMostSaid);
            EXPECT_EQ(3u, MediaFilesIn(tree).size());
        } else {
            EXPECT_EQ(0u, count);
            EXPECT_GE(probe.dwMostSaid, row.dwStopAt);
        }
    }
}

TEST_F(EndToEnd, TwoSplitsInARowAndRepeatableBytes) {
    TempTree tree;
    for (int i = 0; i < 5; ++i) tree.WriteSparse("data/" + std::to_string(i) + ".bin", 250 * MB);
    tree.WriteFile("data/small.txt", "x");
    tree.MakeDir("one");
    tree.MakeDir("two");
    const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
    Job job;
    const std::wstring one = tree.WinPath("one"), two = tree.WinPath("two");
    job.strOutputDir = one.c_str();
    const DWORD first = RunSplit(rules, job);
    ASSERT_GE(first, 2u);
    job.strOutputDir = two.c_str();
    EXPECT_EQ(first, RunSplit(rules, job));
    EXPECT_EQ(tree.List("one"), tree.List("two"));
    for (const std::string& name : tree.List("one")) {
        SCOPED_TRACE(name);
        const std::string bytes = tree.ReadFile("one/" + name);
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == tree.ReadFile("two/" + name));
    }
}

// A setup starts a run: what it reports (the rules it dropped, what was left out) is read back
// after the split made of it, and the next setup or item-list split reports only its own.
TEST_F(EndToEnd, EachRunReportsOnlyItsOwnDroppedRulesAndLeftOut) {
    TempTree tree;
    tree.WriteSparse("data/a.bin", MB);
    tree.WriteSparse("data/big.bin", 3 * MB);
    tree.MakeDir("out");
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.dwSplitSize = 2;
    job.strOutputDir = out.c_str();
    struct Step {
        const char* label;
        bool missingRule;  // a second rule names a path that does not exist
        bool itemList;     // an item-list split of data/a.bin instead of a split
        DWORD dropped;
        DWORD leftOut;     // data/big.bin is larger than a medium
    };
    const Step steps[] = {
        {"a rule that selects nothing", true, false, 1, 1},
        {"the next setup has none", false, false, 0, 1},
        {"dropped again", true, false, 1, 1},
        {"an item-list split drops no rule", false, true, 0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        QvCatalogTestAccess::ResetAll();
        if (step.itemList) {
            std::unique_ptr<iCQvSplit> split(GetQvSplitInterface());
            RuleVector items = OneItem(tree.WinPath("data/a.bin"));
            EXPECT_EQ(1u, split->SplitRVX(L"V", items, L"D", 0, 2, 1, out.c_str(), NULL, NULL));
        } else {
            std::vector<RuleSpec> rules{{"data", "Any", false, true}};
            if (step.missingRule) rules.push_back({"missing", "Any", false, true});
            EXPECT_GE(RunSplit(WriteRules(tree, rules), job), 1u);
        }
        ASSERT_EQ(step.dropped, QvGetDroppedRuleCount());
        if (step.dropped != 0) {
            int32_t id = 0;
            LPCTSTR path = nullptr;
            DWORD reason = 0;
            ASSERT_TRUE(QvGetDroppedRule(0, &id, &path, &reason));
            EXPECT_EQ(2, id);
            EXPECT_EQ(static_cast<DWORD>(QvRuleNotFound), reason);
        }
        EXPECT_EQ(step.leftOut, QvGetLeftOutCount());
    }
}

// What a split leaves out, why it fails and what it made come back through the exported
// report functions, whether or not a log is written.
TEST_F(EndToEnd, ReportOfLeftOutEntriesAndErrors) {
    struct Row {
        const char* label;
        DWORD method;
        DWORD split;
        std::vector<std::pair<std::string, DWORD>> leftOut;  // path below the tree, reason
        const wchar_t* firstError;                           // part of QvGetErrorText(0)
        const char* selected = "data";                       // what the any-medium rule names
        const char* firstLocation = nullptr;                 // where a rule for "first" puts it
        DWORD refusal = QvRefusedNone;                       // what QvGetRefusal reports
        int64_t refusedBytes = -1;
    };
    // A split that plans nothing says why, even when no check failed.
    const int64_t firstBytes = 2 * MB + 1;
    const Row rows[] = {
        {"files, one too big", 0, 2, {{"data/big.bin", QvLeftOutTooBig}}, nullptr},
        {"whole folders, one too big", 1, 2, {{"data/big.bin", QvLeftOutTooBig}}, nullptr},
        {"everything fits", 0, 10, {}, nullptr},
        {"with the every-medium files", 0, 10, {}, nullptr, "data", "All"},
        {"first medium overfull", 0, 2, {{"data/big.bin", QvLeftOutTooBig}}, L"FAILED -> iSizeFirst=", "data",
         "First", QvRefusedFirstSet, firstBytes},
        {"every-medium files overfill the first medium", 0, 2, {{"data/big.bin", QvLeftOutTooBig}},
         L"FAILED -> (iSizeAll+iSizeFirst)", "data", "All", QvRefusedFirstWithAll, firstBytes},
        {"an empty folder", 0, 2, {}, L"FAILED nothing to split: the selection holds no file", "empty", nullptr,
         QvRefusedNothingSelected},
        {"only a file larger than a medium", 0, 2, {{"data/big.bin", QvLeftOutTooBig}},
         L"FAILED nothing to split: every entry of the selection is left out (1)", "data/big.bin", nullptr,
         QvRefusedAllLeftOut},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        tree.WriteSparse("data/big.bin", 3 * MB);
        tree.WriteSparse("data/sub/a.bin", MB);
        tree.WriteSparse("first/f.bin", MB + MB / 2 + 1);  // 2 MB and a byte with g.bin
        tree.WriteSparse("first/g.bin", MB / 2);
        tree.MakeDir("out");
        tree.MakeDir("empty");
        std::vector<RuleSpec> rules{{row.selected, "Any", false, true}};
        if (row.firstLocation) rules.push_back({"first", row.firstLocation, false, true});
        const std::wstring out = tree.WinPath("out");
        Job job;
        job.dwSplitSize = row.split;
        job.dwOutputMethod = row.method;
        job.strOutputDir = out.c_str();
        const DWORD media = RunSplit(WriteRules(tree, rules), job);
        EXPECT_EQ(row.firstError == nullptr, media != 0);
        ASSERT_EQ(row.leftOut.size(), QvGetLeftOutCount());
        for (DWORD i = 0; i < row.leftOut.size(); ++i) {
            LPCTSTR path = nullptr;
            int64_t size = 0;
            DWORD reason = 0;
            ASSERT_TRUE(QvGetLeftOut(i, &path, &size, &reason));
            EXPECT_EQ(tree.WinPath(row.leftOut[i].first), std::wstring(path));
            EXPECT_EQ(row.leftOut[i].second, reason);
        }
        EXPECT_FALSE(QvGetLeftOut(static_cast<DWORD>(row.leftOut.size()), nullptr, nullptr, nullptr));
        if (row.firstError) {
            ASSERT_NE(nullptr, QvGetErrorText(0));
            EXPECT_NE(std::wstring::npos, std::wstring(QvGetErrorText(0)).find(row.firstError)) << qvtest::Narrow(QvGetErrorText(0));
        } else {
            EXPECT_EQ(nullptr, QvGetErrorText(0)) << qvtest::Narrow(QvGetErrorText(0));
        }
        QvRefusal refusal{};
        refusal.cbSize = sizeof refusal;
        ASSERT_EQ(row.refusal != QvRefusedNone, QvGetRefusal(&refusal) != FALSE);
        if (row.refusal != QvRefusedNone) {
            EXPECT_EQ(row.refusal, refusal.dwCode);
            EXPECT_EQ(row.refusedBytes, refusal.iBytes);
            EXPECT_EQ(row.refusedBytes < 0 ? -1 : static_cast<int64_t>(row.split) * MB, refusal.iLimit);
            ASSERT_NE(nullptr, refusal.pszMessage);
            EXPECT_NE(std::wstring::npos, std::wstring(refusal.pszMessage).find(row.firstError));
        }
        ExpectReportOfMediaFiles(tree, "out", media);
    }
}

// A folder kept whole is measured by the size checks, counted on its medium and, planned for
// a file system, costed by the distribution and every fit test: its tree is listed once in
// the whole split all the same, and under tar once more only where the cost under its target
// may differ.
TEST_F(EndToEnd, FoldersKeptWholeAreListedOncePerSplit) {
    const QvAllocationModel iso = {2048, 33, 1, 0, 0, 2048, 400 * 1024, 2, 4, 2, 1024, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const QvAllocationModel tar = {512, 512, 0, 0, 0, 0, 1024, 0, 0, 0, 0, 100, 155, 512, 1, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // Room kept for a catalogue of the set: its rows are counted from what the walk kept.
    QvAllocationModel isoCatalog = iso;
    isoCatalog.cbCatalogFixed = 40000;
    isoCatalog.cbCatalogPerEntry = 16;
    isoCatalog.cbCatalogPerPathByte = 1;
    isoCatalog.cbCatalogPerFolder = 8;
    isoCatalog.cbCatalogPerMedium = 256;
    const int folders = 6;  // data, a, a/x, a/y, b, b/z
    // "data/a/x/1" and "data/b/4" and this make 94 to 96 bytes, 8 more under the target.
    const std::string longName = std::string(82, 'n') + ".bin";
    const struct {
        const char* label;
        const QvAllocationModel* model;
        std::string leaf;  // the name of each file, beside its number
        int listings;
    } rows[] = {
        {"no model", nullptr, ".bin", folders},
        // The cost is counted while the folder is measured.
        {"iso", &iso, ".bin", folders},
        {"iso, room for a catalogue", &isoCatalog, ".bin", folders},
        // A tar entry's cost depends on the path it is restored at. It is counted under the
        // folder's own path while the folder is measured (the size checks ask for that), and
        // holds under its target (the distribution), where every header keeps its kind.
        {"tar", &tar, ".bin", folders},
        {"tar, a non-ASCII name needing an extended header of one block anywhere", &tar, "\xc3\xa9.bin", folders},
        // Its paths fit a tar header under the folder's own path ("data/..."), not under its
        // target ("restore/data/..."): each folder is listed again for its target.
        {"tar, names that fit their header under one path only", &tar, longName, folders + 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree tree;
        for (const char* file : {"data/a/x/1", "data/a/x/2", "data/a/y/3", "data/b/4", "data/b/z/5"})
            tree.WriteSparse(file + row.leaf, MB / 2);
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out");
        QvSetAllocationModel(row.model);
        Job job;
        job.dwSplitSize = 2;
        job.dwOutputMethod = 1;
        job.strOutputDir = out.c_str();
        qvp::ResetFaultCounters();
        EXPECT_GE(RunSplit(rules, job), 2u);
        EXPECT_EQ(qvp::FaultCallCount(qvp::FaultOp::List), row.listings);
        QvSetAllocationModel(nullptr);
    }
}

// Room for a caller's catalogue is kept on every medium when the model asks for it, and given
// up, said why, where it would refuse the split or while files are cut; required, it stays.
TEST_F(EndToEnd, CatalogueRoomIsKeptOrSaysWhyNot) {
    QvAllocationModel asked{};
    asked.cbCatalogFixed = 50000;
    asked.cbCatalogPerEntry = 1000;
    QvAllocationModel tooBig = asked;
    tooBig.cbCatalogFixed = 23 * MB;  // more than a medium
    QvAllocationModel required = tooBig;
    required.dwCatalogFlags = QvCatalogRoomRequired;
    const struct {
        const char* label;
        const QvAllocationModel* model;
        bool cut;
        bool made;
        DWORD dropped;
        bool room;
    } rows[] = {
        {"no model", nullptr, false, true, QvCatalogRoomKept, false},
        {"kept", &asked, false, true, QvCatalogRoomKept, true},
        {"would refuse", &tooBig, false, true, QvCatalogRoomRefused, false},
        {"required", &required, false, false, QvCatalogRoomKept, true},
        {"files cut", &asked, true, true, QvCatalogRoomCutting, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        for (const char* file : {"data/a.bin", "data/b.bin", "data/sub/c.bin"}) tree.WriteSparse(file, 5 * MB);
        tree.WriteSparse("data/big.bin", 30 * MB);
        tree.MakeDir("out");
        QvSetAllocationModel(row.model);
        Job job;
        job.dwSplitSize = 22;  // cutting needs more than its reserve
        const std::wstring out = tree.WinPath("out");
        job.strOutputDir = out.c_str();
        if (row.cut) job.strPartList = tree.WinPath("parts.ini");
        const DWORD media = RunSplit(WriteRules(tree, {{"data", "Any", false, true}}), job);
        QvSetAllocationModel(nullptr);
        EXPECT_EQ(row.made, media != 0 && (media & 0x80000000u) == 0) << media;
        QvCatalogRoom room{};
        room.cbSize = sizeof room - 1;
        EXPECT_FALSE(QvGetCatalogRoom(&room));
        room.cbSize = sizeof room;
        ASSERT_TRUE(QvGetCatalogRoom(&room));
        EXPECT_EQ(row.dropped, room.dwDropped);
        if (!row.room) {
            EXPECT_EQ(0u, room.cbRoom);
            continue;
        }
        // At least the fixed bytes and a row for each file; big.bin is left out, and a row of
        // the left-out list counts nothing here.
        EXPECT_GE(room.cbRoom, row.model->cbCatalogFixed + 3 * 1000);
        EXPECT_LT(room.cbRoom, row.model->cbCatalogFixed + 3 * 1000 + 4 * 1000);
        if (!row.made) continue;
        EXPECT_GE(room.dwMediaBound, media);
        // Each medium gives the room up: no medium holds more than its size less the room.
        for (DWORD i = 0; i < QvGetMediaCount(); ++i) {
            QvMediumReport m{};
            m.cbSize = sizeof m;
            ASSERT_TRUE(QvGetMedium(i, &m));
            EXPECT_LE(m.iImageBytes, static_cast<int64_t>(22 * MB));
            EXPECT_GE(m.iImageBytes, static_cast<int64_t>(room.cbRoom));
        }
    }
}

// The files a split cut come back through the report, by full path, and only those of that
// split.
TEST_F(EndToEnd, ReportOfTheFilesCut) {
    TempTree tree;
    tree.WriteSparse("data/big.bin", 23 * MB);
    tree.WriteSparse("data/sub/huge.bin", 30 * MB);
    tree.WriteSparse("data/small.bin", MB);
    tree.MakeDir("out");
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.dwSplitSize = 22;
    job.strOutputDir = out.c_str();
    job.strPartList = tree.WinPath("parts.ini");
    ASSERT_GE(RunSplit(WriteRules(tree, {{"data", "Any", false, true}}), job), 3u);
    std::vector<std::wstring> cut;
    for (DWORD i = 0; i < QvGetCutFileCount(); ++i) cut.push_back(QvGetCutFile(i));
    std::sort(cut.begin(), cut.end());
    EXPECT_EQ((std::vector<std::wstring>{tree.WinPath("data/big.bin"), tree.WinPath("data/sub/huge.bin")}), cut);
    EXPECT_EQ(nullptr, QvGetCutFile(QvGetCutFileCount()));

    // A split that cuts nothing reports nothing cut.
    job.strPartList.clear();
    QvCatalogTestAccess::ResetAll();
    ASSERT_EQ(1u, RunSplit(WriteRules(tree, {{"data/small.bin", "Any", false, true}}), job));
    EXPECT_EQ(0u, QvGetCutFileCount());
}

// The media files of one split are never planned by the next one into the same folder, nor is
// a folder that holds them kept whole.
TEST_F(EndToEnd, OutputFolderInsideTheSelectionIsNeverPlanned) {
    for (const DWORD method : {0u, 1u}) {
        SCOPED_TRACE(method == 0 ? "files" : "whole folders");
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        tree.WriteFile("data/a.txt", "aaaa");
        tree.WriteFile("data/backup/old.txt", "old");
        tree.MakeDir("data/backup/media");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("data/backup/media");
        Job job;
        job.dwOutputMethod = method;
        job.strOutputDir = out.c_str();
        for (int run = 0; run < 2; ++run) {
            SCOPED_TRACE(run);
            QvCatalogTestAccess::ResetAll();
            ASSERT_EQ(1u, RunSplit(rules, job));
            const Medium m = ReadMedium(tree, "data/backup/media/Media1.xml");
            for (const std::string& path : m.FullPaths()) {
                EXPECT_EQ(std::string::npos, path.find("media")) << path;
                EXPECT_EQ(std::string::npos, path.find("backup\\*.*")) << path;
            }
            EXPECT_TRUE(m.Holds(Win(tree, "data/backup/old.txt")));
            EXPECT_EQ(7, m.Size());
        }
    }
}

namespace {

int g_throwKind = 0;

DWORD CALLBACK ThrowingCB(DWORD, LPVOID, DWORD, LPVOID) {
    if (g_throwKind == 1) throw std::runtime_error("boom");
    if (g_throwKind == 2) throw std::bad_alloc();
    throw 42;
}

}  // namespace

// No exception crosses the interface: one thrown by the caller's own callback comes back as
// the operation's failure value, logged, and the next split runs as if nothing happened.
TEST_F(EndToEnd, AnExceptionNeverLeavesTheInterface) {
    struct Row {
        const char* label;
        int kind;
        const wchar_t* error;
    } rows[] = {
        {"standard exception", 1, L"CQvSplit::EstimateSplit(void) FAILED: exception boom"},
        {"out of memory", 2, L"CQvSplit::EstimateSplit(void) FAILED: out of memory"},
        {"anything else", 3, L"CQvSplit::EstimateSplit(void) FAILED: unknown exception"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QvCatalogTestAccess::ResetAll();
        TempTree tree;
        tree.WriteFile("data/a.txt", "aaaa");
        tree.MakeDir("out");
        const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
        const std::wstring out = tree.WinPath("out");
        Job job;
        job.strOutputDir = out.c_str();
        job.lpCB = ThrowingCB;
        g_throwKind = row.kind;
        LogCapture log;
        DWORD media = 1;
        EXPECT_NO_THROW(media = RunSplit(rules, job));
        EXPECT_EQ(0u, media);
        EXPECT_TRUE(log.Has(QvLogLevel::Error, row.error)) << log.Dump();
        job.lpCB = NULL;
        EXPECT_EQ(1u, RunSplit(rules, job));

        std::unique_ptr<iCQvSplit> split(GetQvSplitInterface());
        RuleVector items = OneItem(tree.WinPath("data"));
        EXPECT_NO_THROW(media = split->SplitRVX(L"V", items, L"D", 0, 700, 1, out.c_str(), ThrowingCB, NULL));
        EXPECT_EQ(0u, media);
    }
}

// Every allocation of a small split may fail: the split then fails cleanly (no exception, no
// crash, no leak, the failure value), leaves the source files as they were, and the next one
// works.
TEST_F(EndToEnd, AFailedAllocationAnywhereFailsTheSplitCleanly) {
    TempTree tree;
    tree.WriteFile("data/a.txt", "aaaa");
    tree.WriteFile("data/sub/b.txt", "bb");
    tree.WriteSparse("data/c.bin", 2 * MB);
    tree.MakeDir("out");
    const std::wstring rules = WriteRules(tree, {{"data", "Any", false, true}});
    const std::wstring out = tree.WinPath("out");
    Job job;
    job.strOutputDir = out.c_str();
    size_t total = 0;
    {
        qvtest::AllocationFault count(static_cast<size_t>(-1));
        LogCapture log;
        ASSERT_EQ(1u, RunSplit(rules, job)) << log.Dump();
        total = qvtest::Allocations();
    }
    ASSERT_GT(total, 10u);
    auto emptyOut = [&] {
        std::error_code ec;
        for (const std::string& name : tree.List("out")) std::filesystem::remove(tree.Native("out/" + name), ec);
    };
    for (size_t k = 1; k <= total; ++k) {
        SCOPED_TRACE(k);
        QvCatalogTestAccess::ResetAll();
        emptyOut();
        DWORD media = 7;
        {
            qvtest::AllocationFault fault(k);
            EXPECT_NO_THROW(media = RunSplit(rules, job));
        }
        EXPECT_TRUE(media == 0 || media == 1) << media;
        EXPECT_EQ("aaaa", tree.ReadFile("data/a.txt"));
        EXPECT_EQ("bb", tree.ReadFile("data/sub/b.txt"));
    }
    QvCatalogTestAccess::ResetAll();
    emptyOut();
    LogCapture after;
    EXPECT_EQ(1u, RunSplit(rules, job)) << after.Dump();
}
