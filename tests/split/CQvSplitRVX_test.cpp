// Tests of the item-list split: media files written, their contents, counts and stop points.
#include "split/CQvSplit.h"
#include "split/QvSplitTestAccess.h"
#include "platform/QvPlatformTestUtil.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

const int64_t MB = 1048576;

QvRule MakeRule(const std::wstring& strSource, const std::wstring& strTarget, int iLocation) {
    QvRule rule;
    std::memset(&rule, 0, sizeof(rule));
    rule.bInclude = TRUE;
    std::wcsncpy(rule.szSourcePath, strSource.c_str(), QV_RULE_PATH_LEN - 1);
    std::wcsncpy(rule.szTargetPath, strTarget.c_str(), QV_RULE_PATH_LEN - 1);
    rule.iLocation = iLocation;
    return rule;
}

// Answers 1 (stop) on call number iStopAt, counting every call.
struct StopAfter {
    int iCalls = 0;
    int iStopAt = 0;
};

DWORD CALLBACK StopCallback(DWORD uCode, LPVOID, DWORD, LPVOID lpUserParam) {
    StopAfter* pStop = static_cast<StopAfter*>(lpUserParam);
    EXPECT_EQ(1u, uCode);
    return ++pStop->iCalls == pStop->iStopAt ? 1 : 0;
}

class SplitRVXTest : public ::testing::Test {
protected:
    SplitRVXTest() : m_split(new CQvSplit()) { t.MakeDir("out"); }

    DWORD Split(RuleVector& vtRules, DWORD dwSplitSize, int bSaveMedia = 1,
                SPLITCB lpCB = NULL, LPVOID lpUser = NULL) {
        const std::wstring strOut = t.WinPath("out");
        return m_split->SplitRVX(L"VOL1", vtRules, L"Disp", 3, dwSplitSize, bSaveMedia,
                                 strOut.c_str(), lpCB, lpUser);
    }

    // The media file of number n in the output folder, parsed.
    bool Load(int n, pugi::xml_document& doc) {
        const std::string name = "out/media" + std::to_string(n) + ".xml";
        return bool(doc.load_file(t.Native(name).c_str()));
    }

    static pugi::xml_node Info(const pugi::xml_document& doc) {
        return doc.child("Factory").child("Media").child("Info");
    }

    static std::vector<pugi::xml_node> Entries(const pugi::xml_document& doc) {
        std::vector<pugi::xml_node> entries;
        for (pugi::xml_node n : doc.child("Factory").children("FILE")) entries.push_back(n);
        return entries;
    }

    static std::string Value(pugi::xml_node entry, const char* name) {
        return entry.child(name).child_value();
    }

    std::string Win(const std::string& rel) const { return qvtest::Narrow(t.WinPath(rel)); }

    TempTree t;
    std::unique_ptr<CQvSplit> m_split;
};

TEST_F(SplitRVXTest, OnlyEveryMediumRulesWriteNoMedia) {
    t.WriteFile("a.txt", "a");
    t.WriteFile("b.txt", "b");
    const struct {
        const char* label;
        int iFirst, iSecond;
    } rows[] = {{"every", InAll, InAll}, {"first and last", InFirst, InLast},
                {"not first, not last", NotFirst, NotLast}, {"unknown value", 0, 9}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        RuleVector vtRules = {MakeRule(t.WinPath("a.txt"), L"", row.iFirst),
                              MakeRule(t.WinPath("b.txt"), L"", row.iSecond)};
        LogCapture logs;
        EXPECT_EQ(0u, Split(vtRules, 10));
        EXPECT_TRUE(t.List("out").empty());
        EXPECT_TRUE(logs.Has(QvLogLevel::Info, L"m_ItemsOnAnyMedia.size() = 0")) << logs.Dump();
        EXPECT_TRUE(logs.Has(QvLogLevel::Info, L"Rules All Media: " + t.WinPath("a.txt")));
    }
}

TEST_F(SplitRVXTest, EveryMediumItemsAndOneFolderPerMedium) {
    t.WriteSparse("common.bin", 100 * MB);
    for (int i = 1; i <= 3; ++i) t.WriteSparse("f" + std::to_string(i) + "/big.bin", 300 * MB);
    RuleVector vtRules = {MakeRule(t.WinPath("common.bin"), L"\\", InAll),
                          MakeRule(t.WinPath("f1"), L"", InAny),
                          MakeRule(t.WinPath("f2"), L"", InAny),
                          MakeRule(t.WinPath("f3"), L"", InAny)};
    ASSERT_EQ(3u, Split(vtRules, 700));
    EXPECT_EQ((std::vector<std::string>{"media1.xml", "media2.xml", "media3.xml"}),
              t.List("out"));
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        pugi::xml_document doc;
        ASSERT_TRUE(Load(n, doc));
        EXPECT_EQ(400 * MB, Info(doc).attribute("Media_Size").as_llong());
        EXPECT_EQ(2u, Info(doc).attribute("Media_NumberFiles").as_uint());
        const auto entries = Entries(doc);
        ASSERT_EQ(2u, entries.size());
        EXPECT_EQ(Win("common.bin"), Value(entries[0], "FullPath"));
        EXPECT_EQ(Win("f" + std::to_string(n)) + "\\*.*", Value(entries[1], "FullPath"));
        // The report gives each medium's figures as its file does.
        QvMediumReport m{};
        m.cbSize = sizeof m;
        ASSERT_TRUE(QvGetMedium(static_cast<DWORD>(n - 1), &m));
        EXPECT_EQ(static_cast<uint32_t>(n), m.dwNumber);
        EXPECT_EQ(2u, m.dwEntries);
        EXPECT_EQ(2u, m.dwFiles);
        EXPECT_EQ(static_cast<int64_t>(400 * MB), m.iFileBytes);
        EXPECT_EQ(-1, m.iImageBytes);
    }
    EXPECT_EQ(3 * 400 * MB, m_split->GetTotalSize());
    EXPECT_EQ(3u, QvGetMediaCount());
    // The every-medium file counts once in the bytes planned.
    EXPECT_EQ(static_cast<int64_t>(1000 * MB), QvGetPlannedBytes());
}

TEST_F(SplitRVXTest, ItemsThatCanNeverFitAreRefusedAtOnce) {
    // Files are tested like folders: neither may fill a medium to its size or beyond, and one
    // that cannot fit on an empty medium fails the split instead of overfilling a medium or
    // opening medium after medium.
    // An every-medium folder counts at its real size from the start. An every-medium item that
    // cannot fit would be on no medium, and is refused with its own SPLIT Error.
    struct Row {
        const char* label;
        const char* rel;
        uint64_t size;
        const char* everyRel;  // an every-medium item, or null
        uint64_t everySize;
        const wchar_t* everyError = nullptr;  // the error's text after the every-medium item's path
    } rows[] = {
        {"file of 50 MB on 10 MB", "huge.iso", 50 * MB, nullptr, 0},
        {"file of exactly 10 MB", "ten.bin", 10 * MB, nullptr, 0},
        {"folder of exactly 10 MB", "full/part.bin", 10 * MB, nullptr, 0},
        {"folder beside an every-medium folder", "five/part.bin", 5 * MB, "every/doc.bin", 5 * MB},
        {"every-medium file larger than a medium", "a1.txt", 1000, "setup.bin", 11 * MB,
         L" size=11534336 Size for \"all media\" 0 and SplitSize=10 -> 11"},
        {"every-medium file of exactly a medium", "a2.txt", 1000, "setup10.bin", 10 * MB,
         L" size=10485760 Size for \"all media\" 0 and SplitSize=10 -> 10"},
        {"every-medium folder larger than a medium", "a3.txt", 1000, "everybig/x.bin", 12 * MB,
         L" size=12582912 Size for \"all media\" 0 and SplitSize=10 -> 12"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        t.WriteSparse(row.rel, row.size);
        const std::string item = std::string(row.rel).substr(0, std::string(row.rel).find('/'));
        RuleVector vtRules = {MakeRule(t.WinPath(item), L"", InAny)};
        if (row.everyRel) {
            t.WriteSparse(row.everyRel, row.everySize);
            const std::string every = std::string(row.everyRel).substr(0, std::string(row.everyRel).find('/'));
            vtRules.push_back(MakeRule(t.WinPath(every), L"", InAll));
        }
        LogCapture logs;
        EXPECT_EQ(0u, Split(vtRules, 10));
        EXPECT_TRUE(logs.HasContaining(QvLogLevel::Error, L"SPLIT Error")) << logs.Dump();
        if (row.everyError) {
            const std::string every = std::string(row.everyRel).substr(0, std::string(row.everyRel).find('/'));
            EXPECT_TRUE(logs.Has(QvLogLevel::Error, L"CQvSplit::SplitRVX(...) SPLIT Error Item " +
                                                        t.WinPath(every) + row.everyError))
                << logs.Dump();
        }
        EXPECT_FALSE(t.Exists("out/media1.xml"));
        EXPECT_FALSE(t.Exists("out/media2.xml"));
        QvRefusal refusal{};
        refusal.cbSize = sizeof refusal;
        ASSERT_TRUE(QvGetRefusal(&refusal));
        EXPECT_EQ(static_cast<uint32_t>(QvRefusedItemNoRoom), refusal.dwCode);
        EXPECT_GE(refusal.iBytes, static_cast<int64_t>(10 * MB));
        EXPECT_EQ(static_cast<int64_t>(10 * MB), refusal.iLimit);
        EXPECT_EQ(0u, QvGetMediaCount());
    }
}

// Past the last medium the split makes, what is left is reported with its sizes; every medium
// written holds items.
TEST_F(SplitRVXTest, ItemsBeyondTheLastMediumAreReportedWithTheirSizes) {
    RuleVector vtRules;
    for (int i = 0; i < 120; ++i) {
        t.WriteSparse("items/f" + std::to_string(1000 + i), MB);
        vtRules.push_back(MakeRule(t.WinPath("items/f" + std::to_string(1000 + i)), L"", InAny));
    }
    EXPECT_EQ(101u, Split(vtRules, 2));
    for (int n = 1; n <= 100; ++n) {
        pugi::xml_document doc;
        ASSERT_TRUE(Load(n, doc)) << n;
        EXPECT_EQ(1u, Entries(doc).size()) << n;
    }
    EXPECT_FALSE(t.Exists("out/media101.xml"));
    ASSERT_EQ(20u, QvGetLeftOutCount());
    for (DWORD i = 0; i < 20; ++i) {
        LPCTSTR path = nullptr;
        int64_t size = 0;
        DWORD reason = 0;
        ASSERT_TRUE(QvGetLeftOut(i, &path, &size, &reason));
        EXPECT_EQ(MB, size);
        EXPECT_EQ(static_cast<DWORD>(QvLeftOutMediaLimit), reason);
        EXPECT_EQ(t.WinPath("items/f" + std::to_string(1100 + i)), std::wstring(path));
    }
}

TEST_F(SplitRVXTest, FilesFillAMediumOnlyBelowItsSize) {
    // Twelve files of 1 MB and one of 9 MB on 10 MB media: the first medium takes nine of
    // 1 MB (a tenth would fill it to its size), the second the other three (the 9 MB file
    // beside them would make 12 MB), the third the 9 MB file.
    for (int i = 1; i <= 12; ++i) t.WriteSparse("a" + std::to_string(i) + ".bin", MB);
    t.WriteSparse("big.bin", 9 * MB);
    RuleVector vtRules;
    for (int i = 1; i <= 12; ++i) vtRules.push_back(MakeRule(t.WinPath("a" + std::to_string(i) + ".bin"), L"", InAny));
    vtRules.push_back(MakeRule(t.WinPath("big.bin"), L"", InAny));
    ASSERT_EQ(3u, Split(vtRules, 10));
    for (DWORD n = 1; n <= 3; ++n) {
        pugi::xml_document doc;
        ASSERT_TRUE(Load(n, doc));
        EXPECT_LT(Info(doc).attribute("Media_Size").as_llong(), static_cast<long long>(10 * MB)) << n;
    }
    EXPECT_EQ(21 * MB, m_split->GetTotalSize());
}

TEST_F(SplitRVXTest, EstimateLeavesNoFileAndCountsEveryMediumItemsPerMedium) {
    t.WriteSparse("common.bin", 2 * MB);
    t.WriteSparse("d1/x.bin", 5 * MB);
    t.WriteSparse("d2/x.bin", 5 * MB);
    t.WriteSparse("d3/x.bin", 5 * MB);
    t.WriteFile("out/media2.xml", "stale");
    RuleVector vtRules = {MakeRule(t.WinPath("common.bin"), L"", InAll),
                          MakeRule(t.WinPath("d1"), L"", InAny),
                          MakeRule(t.WinPath("d2"), L"", InAny),
                          MakeRule(t.WinPath("d3"), L"", InAny)};
    EXPECT_EQ(3u, Split(vtRules, 10, 0));
    EXPECT_TRUE(t.List("out").empty());
    EXPECT_EQ(3 * 2 * MB + 15 * MB, m_split->GetTotalSize());
}

TEST_F(SplitRVXTest, NoOutputFolderWritesUnderCTemp) {
    TempTree c(L'C');
    c.MakeDir("Temp");
    t.WriteSparse("d1/x.bin", 6 * MB);
    t.WriteSparse("d2/x.bin", 6 * MB);
    RuleVector vtRules = {MakeRule(t.WinPath("d1"), L"", InAny),
                          MakeRule(t.WinPath("d2"), L"", InAny)};
#if defined(_WIN32)
    // There is no drive mapping on Windows: the files land in the real C:\Temp.
    std::filesystem::create_directories(L"C:\\Temp");
    EXPECT_EQ(2u, m_split->SplitRVX(L"V", vtRules, L"D", 3, 10, 1, NULL, NULL, NULL));
    for (const wchar_t* name : {L"C:\\Temp\\media1.xml", L"C:\\Temp\\media2.xml"})
        EXPECT_TRUE(std::filesystem::remove(name));
#else
    EXPECT_EQ(2u, m_split->SplitRVX(L"V", vtRules, L"D", 3, 10, 1, NULL, NULL, NULL));
    EXPECT_EQ((std::vector<std::string>{"media1.xml", "media2.xml"}), c.List("Temp"));
#endif
}

TEST_F(SplitRVXTest, CallbackStopsTheSplit) {
    t.WriteSparse("d1/x.bin", 6 * MB);
    t.WriteSparse("d2/x.bin", 6 * MB);
    // Calls: before d1 and d2 on medium 1, after medium 1, before d2 on medium 2, after it.
    const struct {
        int iStopAt;
        DWORD dwResult;
        std::vector<std::string> files;
    } rows[] = {{0, 2, {"media1.xml", "media2.xml"}},
                {1, 0, {}},
                {2, 0, {}},
                {3, 0, {"media1.xml"}},
                {4, 0, {"media1.xml"}},
                {5, 0, {"media1.xml", "media2.xml"}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.iStopAt);
        for (const std::string& name : t.List("out")) std::filesystem::remove(t.Native("out/" + name));
        RuleVector vtRules = {MakeRule(t.WinPath("d1"), L"", InAny),
                              MakeRule(t.WinPath("d2"), L"", InAny)};
        StopAfter stop;
        stop.iStopAt = row.iStopAt;
        LogCapture logs;
        EXPECT_EQ(row.dwResult, Split(vtRules, 10, 1, StopCallback, &stop));
        EXPECT_EQ(row.files, t.List("out"));
        EXPECT_EQ(row.iStopAt != 0,
                  logs.Has(QvLogLevel::Error, L"CQvSplit::SplitRVX(...) ABORT request"));
        EXPECT_EQ(row.iStopAt == 0 ? 5 : row.iStopAt, stop.iCalls);
    }
}

TEST_F(SplitRVXTest, MissingRulePathYieldsNoItem) {
    t.WriteFile("here.txt", "x");
    RuleVector vtRules = {MakeRule(t.WinPath("gone.txt"), L"", InAny),
                          MakeRule(t.WinPath("here.txt"), L"", InAny),
                          MakeRule(t.WinPath("nodir\\*.*"), L"", InAll)};
    LogCapture logs;
    ASSERT_EQ(1u, Split(vtRules, 10));
    EXPECT_TRUE(logs.Has(QvLogLevel::Info, L"Rules vector size = 3"));
    EXPECT_TRUE(logs.Has(QvLogLevel::Info, L"m_ItemsOnAnyMedia.size() = 1"));
    pugi::xml_document doc;
    ASSERT_TRUE(Load(1, doc));
    ASSERT_EQ(1u, Entries(doc).size());
    EXPECT_EQ(Win("here.txt"), Value(Entries(doc)[0], "FullPath"));

    RuleVector vtNone = {MakeRule(t.WinPath("gone.txt"), L"", InAny)};
    EXPECT_EQ(0u, Split(vtNone, 10));
}

TEST_F(SplitRVXTest, UnterminatedRulePathIsCutAtItsArray) {
    QvRule rule = MakeRule(L"", L"", InAny);
    for (wchar_t& ch : rule.szSourcePath) ch = L'x';
    for (wchar_t& ch : rule.szTargetPath) ch = L'y';
    RuleVector vtRules = {rule};
    EXPECT_EQ(0u, Split(vtRules, 10));
    EXPECT_TRUE(t.List("out").empty());
}

TEST_F(SplitRVXTest, WildcardSourcePathIsAFolderItem) {
    t.WriteFile("data/a.txt", "12345");
    t.WriteFile("data/sub/b.txt", "123");
    RuleVector vtRules = {MakeRule(t.WinPath("data\\*.*"), L"Backup\\", InAny)};
    LogCapture logs;
    ASSERT_EQ(1u, Split(vtRules, 10));
    EXPECT_TRUE(logs.Has(QvLogLevel::Info, L"Rules Any Media: " + t.WinPath("data")));
    pugi::xml_document doc;
    ASSERT_TRUE(Load(1, doc));
    EXPECT_EQ(8, Info(doc).attribute("Media_Size").as_llong());
    EXPECT_EQ(2u, Info(doc).attribute("Media_NumberFiles").as_uint());
    ASSERT_EQ(1u, Entries(doc).size());
    pugi::xml_node entry = Entries(doc)[0];
    EXPECT_EQ(Win("data") + "\\*.*", Value(entry, "FullPath"));
    EXPECT_EQ("data", Value(entry, "Name"));
    EXPECT_EQ("\\Backup", Value(entry, "TargetPath"));
    EXPECT_EQ("8", Value(entry, "FileSize"));
}

TEST_F(SplitRVXTest, ItemThatCannotFitOnAnEmptyMediumIsASplitError) {
    t.WriteSparse("common.bin", 3 * MB);
    t.WriteSparse("big/x.bin", 8 * MB);
    RuleVector vtRules = {MakeRule(t.WinPath("common.bin"), L"", InAll),
                          MakeRule(t.WinPath("big"), L"", InAny)};
    LogCapture logs;
    EXPECT_EQ(0u, Split(vtRules, 10));
    const std::wstring strExpected = L"CQvSplit::SplitRVX(...) SPLIT Error Item " +
                                     t.WinPath("big") +
                                     L" size=8388608 Size for \"all media\" 3145728 and "
                                     L"SplitSize=10 -> 11";
    EXPECT_TRUE(logs.Has(QvLogLevel::Error, strExpected)) << logs.Dump();
    EXPECT_TRUE(t.List("out").empty());
}

TEST_F(SplitRVXTest, MediaFileHoldsInfoAndBothEntryForms) {
    t.WriteFile("Data/report.txt", "hello");
    t.WriteFile("Data/README", "ab");
    t.WriteFile("Photos/p1.jpg", "1234");
    t.WriteFile("Photos/deep/p2.jpg", "123456");
    RuleVector vtRules = {MakeRule(t.WinPath("Data\\report.txt"), L"Data", InAny),
                          MakeRule(t.WinPath("Data\\README"), L"\\Docs\\", InAll),
                          MakeRule(t.WinPath("Photos\\"), L"\\", InAny)};
    const std::wstring strOut = t.WinPath("out") + L"\\";
    ASSERT_EQ(1u, m_split->SplitRVX(L"V", vtRules, L"Backup set", 12, 650, 1, strOut.c_str(),
                                    NULL, NULL));
    pugi::xml_document doc;
    ASSERT_TRUE(Load(1, doc));
    std::vector<std::string> names;
    for (pugi::xml_attribute a : Info(doc).attributes()) names.push_back(a.name());
    EXPECT_EQ((std::vector<std::string>{"DispFlag", "Type", "Split_Size", "Media_Size",
                                        "Media_NumberFiles"}), names);
    EXPECT_STREQ("Backup set", Info(doc).attribute("DispFlag").value());
    EXPECT_STREQ("0x000000012", Info(doc).attribute("Type").value());
    EXPECT_STREQ("650", Info(doc).attribute("Split_Size").value());
    EXPECT_STREQ("17", Info(doc).attribute("Media_Size").value());
    EXPECT_STREQ("4", Info(doc).attribute("Media_NumberFiles").value());

    const auto entries = Entries(doc);
    ASSERT_EQ(3u, entries.size());
    const struct {
        const char* label;
        size_t index;
        std::vector<std::pair<std::string, std::string>> values;
    } rows[] = {
        {"every-medium file without extension", 0,
         {{"FullPath", Win("Data\\README")}, {"Path", Win("Data") + "\\"},
          {"TargetPath", "\\Docs"}, {"Name", "README"}, {"Extension", ""},
          {"Attribute", "32"}, {"Exclusion", "0"}, {"WriteTime", "*"}, {"FileSize", "2"},
          {"CRC32", "0"}}},
        {"file", 1,
         {{"FullPath", Win("Data\\report.txt")}, {"Path", Win("Data") + "\\"},
          {"TargetPath", "\\Data"}, {"Name", "report.txt"}, {"Extension", ".txt"},
          {"Attribute", "32"}, {"Exclusion", "0"}, {"WriteTime", "*"}, {"FileSize", "5"},
          {"CRC32", "0"}}},
        {"folder", 2,
         {{"FullPath", Win("Photos") + "\\*.*"}, {"Path", Win("") + "\\"},
          {"TargetPath", ""}, {"Name", "Photos"}, {"Attribute", "16"}, {"Exclusion", "0"},
          {"WriteTime", "*"}, {"FileSize", "10"}}},
    };
    const char* wrapped[] = {"FullPath", "TargetPath", "Name"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<std::pair<std::string, std::string>> actual;
        for (pugi::xml_node v : entries[row.index].children()) {
            std::string text = v.child_value();
            if (std::string(v.name()) == "WriteTime") {
                EXPECT_EQ(14u, text.size());
                EXPECT_EQ(std::string::npos, text.find_first_not_of("0123456789"));
                text = "*";
            }
            actual.emplace_back(v.name(), text);
        }
        EXPECT_EQ(row.values, actual);
        for (const char* name : wrapped) {
            pugi::xml_node child = entries[row.index].child(name);
            if (*child.child_value()) {
                EXPECT_EQ(pugi::node_cdata, child.first_child().type()) << name;
            }
        }
    }
}

TEST_F(SplitRVXTest, LinkLoopInAFolderItemEnds) {
    t.WriteFile("loop/a/file.bin", std::string(1024, 'z'));
    std::error_code ec;
    std::filesystem::create_directory_symlink(t.Native("loop"), t.Native("loop/a/back"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
#if !defined(_WIN32)
    qvtest::EnvGuard env("QVSPLIT_FOLLOW_LINKS");
#endif
    const struct {
        const char* label;
        const char* follow;  // null: the default
        DWORD files;
    } rows[] = {
        {"the link is counted as an entry of its own", nullptr, 2},
#if !defined(_WIN32)
        {"followed, the loop is entered no further and counts as the link itself", "1", 2},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
#if !defined(_WIN32)
        if (row.follow)
            setenv("QVSPLIT_FOLLOW_LINKS", row.follow, 1);
        else
            unsetenv("QVSPLIT_FOLLOW_LINKS");
#endif
        int64_t iSize = 0;
        DWORD dwCount = 0;
        EXPECT_EQ(S_OK, QvSplitTestAccess::GetNumberFileAndSize(*m_split, t.WinPath("loop").c_str(),
                                                                iSize, dwCount));
        EXPECT_EQ(1024, iSize);
        EXPECT_EQ(row.files, dwCount);

        RuleVector vtRules = {MakeRule(t.WinPath("loop"), L"", InAny)};
        ASSERT_EQ(1u, Split(vtRules, 10));
        pugi::xml_document doc;
        ASSERT_TRUE(Load(1, doc));
        EXPECT_EQ(row.files, Info(doc).attribute("Media_NumberFiles").as_uint());
        EXPECT_EQ(1024, Info(doc).attribute("Media_Size").as_llong());
    }
}

TEST_F(SplitRVXTest, CountSkipsSystemVolumeInformationAndAddsToTotals) {
    t.WriteFile("vol/System Volume Information/x.dat", "1234");
    t.WriteFile("vol/keep.dat", "12");
    int64_t iSize = 5;
    DWORD dwCount = 1;
    QvSplitTestAccess::GetNumberFileAndSize(*m_split, (t.WinPath("vol") + L"\\").c_str(), iSize,
                                            dwCount);
    EXPECT_EQ(7, iSize);
    EXPECT_EQ(2u, dwCount);
    QvSplitTestAccess::GetNumberFileAndSize(
        *m_split, t.WinPath("vol\\System Volume Information\\").c_str(), iSize, dwCount);
    EXPECT_EQ(7, iSize);
    QvSplitTestAccess::GetNumberFileAndSize(*m_split, t.WinPath("none").c_str(), iSize, dwCount);
    EXPECT_EQ(2u, dwCount);
}

TEST_F(SplitRVXTest, MediumThatCannotBeCreatedStopsTheSplit) {
    t.WriteFile("a.txt", "a");
    IQvXml*& pXml = QvSplitTestAccess::Xml(*m_split);
    if (pXml) pXml->Close();
    pXml = NULL;
    RuleVector vtRules = {MakeRule(t.WinPath("a.txt"), L"", InAny)};
    LogCapture logs;
    EXPECT_EQ(0u, Split(vtRules, 10));
    const std::wstring strFile = t.WinPath("out\\media1.xml");
    EXPECT_TRUE(logs.Has(QvLogLevel::Error, L"CQvSplit::CreateNewMediaFile(LPCTSTR strFileName=" +
                                                strFile + L") Create XML media file FAILED"))
        << logs.Dump();
    EXPECT_TRUE(logs.HasContaining(QvLogLevel::Error, L"FAILED to create media file " + strFile));
    EXPECT_FALSE(logs.Has(QvLogLevel::Error, L"Error adding node FILE"));
    EXPECT_TRUE(t.List("out").empty());
}

TEST_F(SplitRVXTest, MediumThatCannotBeSavedStopsTheSplit) {
    t.WriteFile("a.txt", "a");
    RuleVector vtRules = {MakeRule(t.WinPath("a.txt"), L"", InAny)};
    LogCapture logs;
    const std::wstring strOut = t.WinPath("missing");
    EXPECT_EQ(0u, m_split->SplitRVX(L"V", vtRules, L"D", 3, 10, 1, strOut.c_str(), NULL, NULL));
    EXPECT_TRUE(logs.HasContaining(QvLogLevel::Error, L"FAILED to save media file " + strOut +
                                                          L"\\media1.xml"))
        << logs.Dump();
}

TEST_F(SplitRVXTest, ValueWithoutNodeIsRefused) {
    LogCapture logs;
    EXPECT_EQ(E_INVALIDARG, QvSplitTestAccess::AddValueToFileNode(*m_split, NULL, L"Name", L"x"));
    EXPECT_TRUE(logs.Has(QvLogLevel::Error, L"CQvSplit::AddValueToFileNode(...) pNode = NULL !"));
}

}  // namespace
