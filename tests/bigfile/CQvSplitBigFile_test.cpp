// Tests of switching cutting on and off and of cutting files into parts with a part list.
#include "bigfile/QvBigFileTestUtil.h"

#include "catalog/CQvFileDescCatalog.h"

#include <ctime>

using qvbig::CutSetup;
using qvbig::kMB;
using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

const wchar_t kSplitFileTrace[] =
    L"CQvSplitBigFile::SplitFile(QvFileDescMap &mapFileDesc, QvFileDescMapIter &iter)";

// Sizes of the parts of rel named by the only list entry, in order.
std::vector<uint64_t> PartSizes(const TempTree& t, const std::string& rel,
                                const std::vector<qvbig::ListEntry>& list) {
    std::vector<uint64_t> sizes;
    if (list.size() != 1) return sizes;
    const unsigned count = static_cast<unsigned>(std::stoul(list[0].count));
    for (unsigned n = 1; n <= count; ++n)
        sizes.push_back(std::filesystem::file_size(
            t.Native(rel + "." + qvtest::Narrow(list[0].stamp) + ".Part" + std::to_string(n))));
    return sizes;
}

}  // namespace

TEST(CQvSplitBigFileTest, SingletonUsesTheCatalogueAndStartsOff) {
    QvBigFileTestAccess::Reset();
    CQvSplitBigFile* p = CQvSplitBigFile::GetInstance();
    EXPECT_EQ(p, CQvSplitBigFile::GetInstance());
    EXPECT_EQ(CQvFileDescCatalog::GetInstance(), QvBigFileTestAccess::Catalog());
    EXPECT_EQ(0, p->IsSplitBigFileOn());
}

TEST(CQvSplitBigFileTest, SwitchingOnStartsAnEmptyListAndOffKeepsIt) {
    TempTree t;
    t.WriteFile("parts.ini", "[Files]\nFile0=:\\old|01012020000000|2\n");
    qvbig::StartCutting(t, 700);
    CQvSplitBigFile* p = CQvSplitBigFile::GetInstance();
    EXPECT_EQ(1, p->IsSplitBigFileOn());
    EXPECT_EQ(680u, QvBigFileTestAccess::PartSize());
    EXPECT_TRUE(qvbig::ReadList(t.WinPath("parts.ini")).empty()) << t.ReadFile("parts.ini");

    CutSetup s(t, "a.bin", qvbig::PatternBytes(1000, 1));
    ASSERT_EQ(0L, p->SetSplitBigFile(TRUE, 21, t.WinPath("parts.ini").c_str()));
    ASSERT_EQ(0L, s.Cut());
    ASSERT_EQ(0L, p->SetSplitBigFile(FALSE, 0, nullptr));
    EXPECT_EQ(0, p->IsSplitBigFileOn());
    const std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(L"File0", list[0].key);
}

// A part list is the only record of how to join the files it names: a new one never replaces
// it while one of those files still has parts on disk.
TEST(CQvSplitBigFileTest, ANewListNeverReplacesOneWhosePartsAreOnDisk) {
    TempTree t;
    const std::string stamp = "01022024101112";
    const std::string list = "[Files]\nFile0=" + qvtest::Narrow(t.DrivelessPath("a.bin")) + "|" + stamp + "|2\n";
    struct Row {
        const char* label;
        const char* oldList;  // where the existing list lies; the new one is "parts.ini"
        bool partOnDisk;
        long result;
    } rows[] = {
        {"a part still on disk", "parts.ini", true, E_FAIL},
        {"parts joined or gone", "parts.ini", false, 0L},
#if !defined(_WIN32)
        // Where names differing in case are distinct files, such a list is another list, which
        // the new one neither replaces nor is refused for.
        {"a list whose name differs only in case, a part on disk", "Parts.INI", true, 0L},
        {"a list whose name differs only in case, parts gone", "Parts.INI", false, 0L},
#endif
    };
    CQvSplitBigFile* p = CQvSplitBigFile::GetInstance();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_EQ(0L, p->SetSplitBigFile(FALSE, 0, nullptr));
        for (const char* name : {"parts.ini", "Parts.INI"}) std::filesystem::remove(t.Native(name));
        t.WriteFile(row.oldList, list);
        if (row.partOnDisk) t.WriteFile("a.bin." + stamp + ".Part1", "x");
        else std::filesystem::remove(t.Native("a.bin." + stamp + ".Part1"));
        LogCapture log;
        EXPECT_EQ(row.result, p->SetSplitBigFile(TRUE, 700, t.WinPath("parts.ini").c_str()));
        if (row.result != 0L) {
            EXPECT_EQ(list, t.ReadFile("parts.ini"));
            EXPECT_EQ(0, p->IsSplitBigFileOn());
            EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, L"still records " + t.WinPath("a.bin"))) << log.Dump();
        } else {
            EXPECT_TRUE(qvbig::ReadList(t.WinPath("parts.ini")).empty()) << t.ReadFile("parts.ini");
        }
        if (std::string(row.oldList) != "parts.ini") {
            EXPECT_EQ(list, t.ReadFile(row.oldList));
        }
    }
}

// A file whose entry spells its name in another case (a rule written so) is cut under the name
// the disk gives it: its parts, its list entry and its deletion all reach that one file.
TEST(CQvSplitBigFileTest, CutTakesTheNameTheFileHasOnDisk) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    const std::string original = qvbig::PatternBytes(kMB + 5, 3);
    CutSetup s(t, "Video.BIN", original);
    s.Iter()->second.strFilePath = t.WinPath("video.bin").c_str();
    ASSERT_EQ(0L, s.Cut());
    const std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(t.DrivelessPath("Video.BIN"), list[0].path);
    EXPECT_FALSE(t.Exists("Video.BIN"));
    EXPECT_EQ(std::optional<std::string>(original), qvbig::RebuildFromList(t, "Video.BIN", "parts.ini"));
}

TEST(CQvSplitBigFileTest, SwitchingOnRefusesNullPathsAndSizesWithoutRoomForAPart) {
    TempTree t;
    struct Row {
        const char* label;
        DWORD size;
        bool nullPath;
        const wchar_t* error;
    } rows[] = {
        {"null path", 700, true, L"CQvSplitBigFile::SetSplitBigFile(...) lpszSplitFileList = NULL !"},
        {"size 0", 0, false, L"dwSplitSize=0 too small"},
        {"size 1", 1, false, L"dwSplitSize=1 too small"},
        {"size 20", 20, false, L"dwSplitSize=20 too small"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        QvBigFileTestAccess::Reset();
        LogCapture log;
        const std::wstring list = t.WinPath("refused.ini");
        EXPECT_EQ(static_cast<long>(E_FAIL), CQvSplitBigFile::GetInstance()->SetSplitBigFile(
                                                 TRUE, row.size, row.nullPath ? nullptr : list.c_str()));
        EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, row.error)) << log.Dump();
        EXPECT_EQ(0, CQvSplitBigFile::GetInstance()->IsSplitBigFileOn());
        EXPECT_FALSE(t.Exists("refused.ini"));
    }
    // 21 MB is the smallest size that leaves a part (of 1 MB).
    qvbig::StartCutting(t, 21);
    EXPECT_EQ(1u, QvBigFileTestAccess::PartSize());
}

TEST(CQvSplitBigFileTest, SwitchingOnReportsAListThatCannotBeCreated) {
    TempTree t;
    QvBigFileTestAccess::Reset();
    LogCapture log;
    const std::wstring list = t.WinPath("missing\\dir\\parts.ini");
    EXPECT_EQ(static_cast<long>(E_FAIL),
              CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, 700, list.c_str()));
    EXPECT_TRUE(log.Has(QvLogLevel::Error,
                        L"CQvSplitBigFile::SetSplitBigFile(...) Can not create file " + list))
        << log.Dump();
    EXPECT_EQ(0, CQvSplitBigFile::GetInstance()->IsSplitBigFileOn());
}

TEST(CQvSplitBigFileTest, CutsIntoPartsOfThePartSizeWithTheLastShorterOrEmpty) {
    struct Row {
        const char* label;
        uint64_t size;
        std::vector<uint64_t> parts;
    } rows[] = {
        {"empty file", 0, {0}},
        {"one byte", 1, {1}},
        {"one part exactly", kMB, {kMB, 0}},
        {"one part and a byte", kMB + 1, {kMB, 1}},
        {"two and a half parts", 5 * kMB / 2, {kMB, kMB, kMB / 2}},
        {"three parts exactly", 3 * kMB, {kMB, kMB, kMB, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree t;
        qvbig::StartCutting(t, 21);
        const std::string original = qvbig::PatternBytes(row.size, 7);
        CutSetup s(t, "dir/Big File.bin", original);
        ASSERT_EQ(0L, s.Cut());
        EXPECT_FALSE(t.Exists("dir/Big File.bin"));
        const std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
        ASSERT_EQ(1u, list.size());
        EXPECT_EQ(std::to_wstring(row.parts.size()), list[0].count);
        EXPECT_EQ(row.parts, PartSizes(t, "dir/Big File.bin", list));
        EXPECT_TRUE(qvbig::BytesOnDisk(t, "dir/Big File.bin", "parts.ini", original));
        EXPECT_EQ(row.parts.size(), qvbig::PartFiles(t, "dir", "Big File.bin").size());
        // The cut entry stays for the catalogue to erase; every part joins it.
        EXPECT_EQ(row.parts.size() + 1, s.map.size());
    }
}

TEST(CQvSplitBigFileTest, PartEntriesCarryTheCutFilesRuleAndTargetUnderLowerCaseKeys) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, "Data/Movie.MKV", qvbig::PatternBytes(kMB + 10, 3));
    s.map.begin()->second.strTargetPath = L"\\Backup\\Somewhere\\Else";
    ASSERT_EQ(0L, s.Cut());
    const qvbig::ListEntry e = qvbig::ReadList(t.WinPath("parts.ini")).at(0);
    ASSERT_NE(s.Iter(), s.map.end());
    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        const std::wstring part = s.strWinPath + L"." + e.stamp + L".Part" + std::to_wstring(n);
        const auto it = s.map.find(CQvString(qvbig::Lower(part)));
        ASSERT_NE(it, s.map.end());
        EXPECT_EQ(part, it->second.strFilePath.str());
        EXPECT_EQ(L"\\Backup\\Somewhere\\Else", it->second.strTargetPath.str());
        EXPECT_EQ(&s.rule, it->second.pPathRules);
        EXPECT_EQ(n == 1 ? static_cast<int64_t>(kMB) : 10, it->second.iFileSize);
    }
}

TEST(CQvSplitBigFileTest, ListValueDropsTheDriveLetterAndStampIsUtcDate) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, "a.bin", qvbig::PatternBytes(100, 3));
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(0L, s.Cut());
    const std::time_t after = std::time(nullptr);
    const qvbig::ListEntry e = qvbig::ReadList(t.WinPath("parts.ini")).at(0);
    EXPECT_EQ(s.strWinPath.substr(1) + L"|" + e.stamp + L"|1", e.value);
    EXPECT_EQ(t.DrivelessPath("a.bin"), e.path);
    ASSERT_EQ(14u, e.stamp.size());
    // DDMMYYYYhhmmss of the current UTC time.
    bool matched = false;
    for (std::time_t when : {before, after}) {
        const std::tm utc = *std::gmtime(&when);
        wchar_t text[32];
        std::swprintf(text, 32, L"%02d%02d%04d%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1,
                      utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
        matched = matched || e.stamp == text;
    }
    EXPECT_TRUE(matched) << qvtest::Narrow(e.stamp);
}

TEST(CQvSplitBigFileTest, NetworkPathKeepsOneBackslashInTheListValue) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    ASSERT_EQ(0L, QvBigFileTestAccess::RecordCut(L"\\\\server\\share\\big.iso", L"01022024101112", 3));
    const qvbig::ListEntry e = qvbig::ReadList(t.WinPath("parts.ini")).at(0);
    EXPECT_EQ(L"\\server\\share\\big.iso|01022024101112|3", e.value);
}

TEST(CQvSplitBigFileTest, EntriesAreNumberedFromFile0PerList) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup a(t, "a.bin", qvbig::PatternBytes(10, 1));
    CutSetup b(t, "b.bin", qvbig::PatternBytes(20, 2));
    ASSERT_EQ(0L, a.Cut());
    ASSERT_EQ(0L, b.Cut());
    std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(t.DrivelessPath("a.bin"), list[0].path);
    EXPECT_EQ(t.DrivelessPath("b.bin"), list[1].path);
    EXPECT_EQ(2, QvBigFileTestAccess::FileCount());

    // A new list starts again at File0.
    ASSERT_EQ(0L, CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, 21, t.WinPath("second.ini").c_str()));
    CutSetup c(t, "c.bin", qvbig::PatternBytes(30, 3));
    ASSERT_EQ(0L, c.Cut());
    list = qvbig::ReadList(t.WinPath("second.ini"));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(t.DrivelessPath("c.bin"), list[0].path);
    EXPECT_EQ(2u, qvbig::ReadList(t.WinPath("parts.ini")).size());
}

TEST(CQvSplitBigFileTest, SourceThatCannotBeOpenedChangesNothing) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup missing(t, "gone.bin", "x");
    std::filesystem::remove(t.Native("gone.bin"));
    CutSetup dir(t, "d/x.bin", "x");
    dir.map.begin()->second.strFilePath = t.WinPath("d").c_str();
    const std::string listBefore = t.ReadFile("parts.ini");
    LogCapture log;
    EXPECT_EQ(static_cast<long>(E_FAIL), missing.Cut());
    EXPECT_EQ(static_cast<long>(E_FAIL), dir.Cut());
    EXPECT_EQ(0u, log.Count(QvLogLevel::Error)) << log.Dump();
    EXPECT_TRUE(log.Has(QvLogLevel::Enter, kSplitFileTrace));
    EXPECT_EQ((std::vector<std::string>{"d", "parts.ini"}), t.List());
    EXPECT_EQ((std::vector<std::string>{"x.bin"}), t.List("d"));
    EXPECT_EQ(listBefore, t.ReadFile("parts.ini"));
    EXPECT_EQ(1u, missing.map.size());
    EXPECT_EQ(0, QvBigFileTestAccess::FileCount());
}

TEST(CQvSplitBigFileTest, FailedDescriptionRemovesThePartsAndKeepsTheSource) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    const std::string original = qvbig::PatternBytes(3 * kMB, 9);
    CutSetup s(t, "a.bin", original);
    s.map.begin()->second.pPathRules = nullptr;
    LogCapture log;
    EXPECT_EQ(static_cast<long>(E_FAIL), s.Cut());
    EXPECT_TRUE(log.Has(QvLogLevel::Error, L"CQvSplitBigFile::SplitFile(...) CreateFileDesc error return NULL"))
        << log.Dump();
    EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, L"Cut of file " + s.strWinPath + L" FAILED"));
    EXPECT_EQ(original, t.ReadFile("a.bin"));
    EXPECT_TRUE(qvbig::PartFiles(t, "", "a.bin").empty());
    EXPECT_EQ(1u, s.map.size());
    EXPECT_TRUE(qvbig::ReadList(t.WinPath("parts.ini")).empty());
}

TEST(CQvSplitBigFileTest, ListThatCannotBeStoredUndoesTheCut) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, "a.bin", qvbig::PatternBytes(100, 9));
    // A folder in the list's place makes every store fail, after the parts entered the map.
    std::filesystem::remove(t.Native("parts.ini"));
    std::filesystem::create_directory(t.Native("parts.ini"));
    EXPECT_EQ(static_cast<long>(E_FAIL), s.Cut());
    EXPECT_EQ(1u, s.map.size());
    EXPECT_TRUE(t.Exists("a.bin"));
    EXPECT_TRUE(qvbig::PartFiles(t, "", "a.bin").empty());
}

TEST(CQvSplitBigFileTest, ReadOnlySourceIsCutAndDeleted) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    const std::string original = qvbig::PatternBytes(kMB + 5, 4);
    CutSetup s(t, "ro.bin", original);
    ASSERT_TRUE(qvp::SetFileAttributesW(s.strWinPath.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(0L, s.Cut());
    EXPECT_FALSE(t.Exists("ro.bin"));
    EXPECT_TRUE(qvbig::BytesOnDisk(t, "ro.bin", "parts.ini", original));
}

// 1,500,000,000 bytes at split size 700: two parts of 680 MB and the rest.
TEST(CQvSplitBigFileTest, SparseFileOfOnePointFiveGigabytesGivesThreeParts) {
    TempTree t;
    qvbig::StartCutting(t, 700);
    CutSetup s(t, "huge.img", "", true, 1500000000ull);
    ASSERT_EQ(0L, s.Cut());
    EXPECT_FALSE(t.Exists("huge.img"));
    const std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(L"3", list[0].count);
    EXPECT_EQ(L'3', list[0].value.back());
    EXPECT_EQ((std::vector<uint64_t>{713031680ull, 713031680ull, 73936640ull}),
              PartSizes(t, "huge.img", list));
    EXPECT_EQ(4u, s.map.size());
}
