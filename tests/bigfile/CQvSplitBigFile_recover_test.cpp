// Tests of rebuilding cut files from their parts and part list.
#include "bigfile/QvBigFileTestUtil.h"

#include <chrono>
#include <filesystem>

using qvbig::CutSetup;
using qvbig::kMB;
using qvtest::LogCapture;
using qvtest::TempTree;

namespace {

const char kStamp[] = "01022024101112";
const wchar_t kRecoverTrace[] = L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile) ";

// Writes the parts of rel (named with kStamp) holding the given contents.
void WriteParts(const TempTree& t, const std::string& rel, const std::vector<std::string>& parts) {
    for (size_t n = 0; n < parts.size(); ++n)
        t.WriteFile(rel + "." + kStamp + ".Part" + std::to_string(n + 1), parts[n]);
}

// The path of rel as part lists keep it: without the drive letter.
std::string At(const TempTree& t, const std::string& rel) {
    return qvtest::Narrow(t.DrivelessPath(rel));
}

std::string Part(const std::string& rel, int n) {
    return rel + "." + kStamp + ".Part" + std::to_string(n);
}

long Recover(WORD drive, const std::wstring& list) {
    return CQvSplitBigFile::GetInstance()->RecoverFiles(drive, list.c_str());
}

}  // namespace

TEST(CQvSplitBigFileRecoverTest, RebuildsACutFileByteForByteAndDeletesItsParts) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    const std::string original = qvbig::PatternBytes(5 * kMB / 2 + 3, 11);
    CutSetup s(t, "sub/Video.bin", original);
    // The parts keep the file's write time, for whoever joins them elsewhere.
    const auto written = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(t.Native("sub/Video.bin"), written);
    ASSERT_EQ(0L, s.Cut());
    ASSERT_FALSE(t.Exists("sub/Video.bin"));
    ASSERT_EQ(3u, t.List("sub").size());
    for (const std::string& part : t.List("sub")) {
        const auto kept = std::filesystem::last_write_time(t.Native("sub/" + part));
        EXPECT_LT(std::chrono::abs(kept - written), std::chrono::seconds(1)) << part;
    }
    LogCapture log;
    EXPECT_EQ(0L, Recover(t.Drive(), t.WinPath("parts.ini")));
    EXPECT_TRUE(log.Has(QvLogLevel::Enter, L"CQvSplitBigFile::RecoverFiles(LPCTSTR strSplitListFile=" +
                                               t.WinPath("parts.ini") + L")"));
    EXPECT_EQ(0u, log.Count(QvLogLevel::Error)) << log.Dump();
    EXPECT_EQ(original, t.ReadFile("sub/Video.bin"));
    EXPECT_LT(std::chrono::abs(std::filesystem::last_write_time(t.Native("sub/Video.bin")) - written), std::chrono::seconds(1));
    EXPECT_EQ((std::vector<std::string>{"Video.bin"}), t.List("sub"));
    // The list itself stays.
    EXPECT_EQ(1u, qvbig::ReadList(t.WinPath("parts.ini")).size());
}

TEST(CQvSplitBigFileRecoverTest, RebuildsOnTheDriveTheCallerNames) {
    TempTree e(L'E');
    WriteParts(e, "dir/f.bin", {"first-", "second", "-third"});
    e.WriteFile("list.ini", "[Files]\nFile0=" + At(e, "dir/f.bin") + "|" + kStamp + "|3\n");
    EXPECT_EQ(0L, Recover(e.Drive(), e.WinPath("list.ini")));
    EXPECT_EQ("first-second-third", e.ReadFile("dir/f.bin"));
    EXPECT_EQ((std::vector<std::string>{"f.bin"}), e.List("dir"));
}

TEST(CQvSplitBigFileRecoverTest, ListEndsAtTheFirstMissingKey) {
    TempTree t;
    WriteParts(t, "a.bin", {"A"});
    WriteParts(t, "c.bin", {"C"});
    t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "a.bin") + "|" + kStamp + "|1\nFile2=" + At(t, "c.bin") + "|" +
                                kStamp + "|1\n");
    EXPECT_EQ(0L, Recover(t.Drive(), t.WinPath("list.ini")));
    EXPECT_EQ("A", t.ReadFile("a.bin"));
    EXPECT_FALSE(t.Exists("c.bin"));
    EXPECT_TRUE(t.Exists(Part("c.bin", 1)));
}

TEST(CQvSplitBigFileRecoverTest, MalformedEntriesAreReportedAndSkipped) {
    struct Row {
        const char* label;
        std::string value;
    } rows[] = {
        {"two fields", std::string(":\\a.bin|") + kStamp},
        {"one field", ":\\a.bin"},
        {"no parts", std::string(":\\a.bin|") + kStamp + "|0"},
        {"count not a number", std::string(":\\a.bin|") + kStamp + "|x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree t;
        t.WriteFile("a.bin", "existing");
        WriteParts(t, "a.bin", {"part"});
        WriteParts(t, "b.bin", {"B1", "B2"});
        t.WriteFile("list.ini", "[Files]\nFile0=" + row.value + "\nFile1=" + At(t, "b.bin") + "|" + kStamp + "|2\n");
        LogCapture log;
        // The entry skipped is a file not joined: the call fails, naming how many.
        EXPECT_EQ(static_cast<long>(E_FAIL), Recover(t.Drive(), t.WinPath("list.ini")));
        EXPECT_TRUE(log.Has(QvLogLevel::Error, std::wstring(kRecoverTrace) + L"Invalid Key Value for File0 = " +
                                                   qvp::Utf8ToWide(row.value) + L" File Skip"))
            << log.Dump();
        EXPECT_TRUE(log.Has(QvLogLevel::Error, std::wstring(kRecoverTrace) + L"1 of the 2 files of " +
                                                   t.WinPath("list.ini") + L" were not joined"))
            << log.Dump();
        EXPECT_EQ("existing", t.ReadFile("a.bin"));
        EXPECT_TRUE(t.Exists(Part("a.bin", 1)));
        EXPECT_EQ("B1B2", t.ReadFile("b.bin"));
    }
}

TEST(CQvSplitBigFileRecoverTest, CountStopsAtTheFirstCharacterThatIsNotADigit) {
    TempTree t;
    WriteParts(t, "a.bin", {"1", "2"});
    t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "a.bin") + "|" + kStamp + "|2abc\n");
    EXPECT_EQ(0L, Recover(t.Drive(), t.WinPath("list.ini")));
    EXPECT_EQ("12", t.ReadFile("a.bin"));
}

TEST(CQvSplitBigFileRecoverTest, MissingOrDamagedPartLeavesExistingFileAndEveryPartAlone) {
    // A cut gives every piece but the last the same size, and the last no more; pieces that
    // differ would rebuild a short or mixed file. The damaged entry is reported and the next
    // one still rebuilt.
    struct Row {
        const char* label;
        std::vector<std::string> parts;
        int missing;  // part removed, 0 for none
        int damaged;  // part the error names
        const wchar_t* error;
        const char* count = "3";  // as the list records it
    } rows[] = {
        {"first part missing", {"11", "22", "3"}, 1, 1, L"Open file "},
        {"middle part missing", {"11", "22", "3"}, 2, 2, L"Open file "},
        {"last part missing", {"11", "22", "3"}, 3, 3, L"Open file "},
        {"middle part cut short", {"11", "2", "3"}, 0, 2, L"Part "},
        {"last part longer than the others", {"11", "22", "333"}, 0, 3, L"Part "},
        {"more parts on disk than the list records", {"11", "22", "3"}, 0, 3, L"Part ", "2"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree t;
        t.WriteFile("a.bin", "older file of that name");
        WriteParts(t, "a.bin", row.parts);
        WriteParts(t, "b.bin", {"B1", "B2"});
        if (row.missing) std::filesystem::remove(t.Native(Part("a.bin", row.missing)));
        t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "a.bin") + "|" + kStamp + "|" + row.count + "\nFile1=" + At(t, "b.bin") +
                                    "|" + kStamp + "|2\n");
        LogCapture log;
        EXPECT_EQ(static_cast<long>(E_FAIL), Recover(t.Drive(), t.WinPath("list.ini")));
        const std::wstring file = t.WinPath("a.bin");
        EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, std::wstring(kRecoverTrace) + row.error +
                                                             t.WinPath(Part("a.bin", row.damaged))))
            << log.Dump();
        EXPECT_TRUE(log.Has(QvLogLevel::Error, std::wstring(kRecoverTrace) + L"Recover file " + file +
                                                   L" FAILED, its parts are kept"));
        EXPECT_EQ("older file of that name", t.ReadFile("a.bin"));
        EXPECT_EQ(row.missing ? 2u : 3u, qvbig::PartFiles(t, "", "a.bin").size());
        EXPECT_EQ("B1B2", t.ReadFile("b.bin"));
    }
}

TEST(CQvSplitBigFileRecoverTest, RecoveringTwiceKeepsTheRebuiltFile) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    const std::string original = qvbig::PatternBytes(kMB + 77, 5);
    CutSetup s(t, "a.bin", original);
    ASSERT_EQ(0L, s.Cut());
    ASSERT_EQ(0L, Recover(t.Drive(), t.WinPath("parts.ini")));
    ASSERT_EQ(original, t.ReadFile("a.bin"));
    LogCapture log;
    // Its parts are gone: nothing is joined this time, and the call says so.
    EXPECT_EQ(static_cast<long>(E_FAIL), Recover(t.Drive(), t.WinPath("parts.ini")));
    EXPECT_EQ(original, t.ReadFile("a.bin"));
    EXPECT_TRUE(log.HasContaining(QvLogLevel::Error, L"Recover file " + t.WinPath("a.bin") + L" FAILED"));
}

TEST(CQvSplitBigFileRecoverTest, ExistingFileIsReplacedByTheCompleteRebuild) {
    TempTree t;
    t.WriteFile("a.bin", "a stale copy that is longer than the rebuilt file");
    WriteParts(t, "a.bin", {"new b", "ytes"});
    t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "a.bin") + "|" + kStamp + "|2\n");
    EXPECT_EQ(0L, Recover(t.Drive(), t.WinPath("list.ini")));
    EXPECT_EQ("new bytes", t.ReadFile("a.bin"));
    EXPECT_EQ((std::vector<std::string>{"a.bin", "list.ini"}), t.List());
}

#if !defined(_WIN32)
// Where names differing only in case are distinct files, recovery reads, writes and deletes
// only the names the list gives: a file or a part whose name differs in case is another file's.
TEST(CQvSplitBigFileRecoverTest, NamesDifferingOnlyInCaseBelongToOtherFiles) {
    struct Row {
        const char* label;
        std::vector<std::string> parts;  // of a.bin, the file the list records with two parts
        std::vector<int> twinParts;      // numbers of the parts of A.bin, with the same stamp
        const char* rebuilt;             // a.bin afterwards; nullptr: absent
    } rows[] = {
        {"rebuilt beside a file of that name in another case", {"new b", "ytes"}, {}, "new bytes"},
        {"parts only in another case are not its parts", {}, {1, 2}, nullptr},
        {"a part in another case beyond the count is not a part beyond it", {"11", "22"}, {3}, "1122"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        TempTree t;
        t.WriteFile("A.bin", "precious");
        WriteParts(t, "a.bin", row.parts);
        for (int n : row.twinParts) t.WriteFile(Part("A.bin", n), "twin");
        t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "a.bin") + "|" + kStamp + "|2\n");
        EXPECT_EQ(row.rebuilt ? 0L : static_cast<long>(E_FAIL), Recover(t.Drive(), t.WinPath("list.ini")));
        EXPECT_EQ("precious", t.ReadFile("A.bin"));
        EXPECT_EQ(t.Exists("a.bin"), row.rebuilt != nullptr);
        if (row.rebuilt) {
            EXPECT_EQ(row.rebuilt, t.ReadFile("a.bin"));
        }
        EXPECT_EQ(row.twinParts.size(), qvbig::PartFiles(t, "", "A.bin").size()) << "the other file's parts stay";
    }
}
#endif

TEST(CQvSplitBigFileRecoverTest, PartOfExactlyOneHundredMillionBytes) {
    TempTree t;
    t.WriteSparse(Part("big.bin", 1), 100000000ull);
    t.WriteFile(Part("big.bin", 2), "tail");
    t.WriteFile("list.ini", "[Files]\nFile0=" + At(t, "big.bin") + "|" + kStamp + "|2\n");
    qvp::ClearFaults();
    EXPECT_EQ(0L, Recover(t.Drive(), t.WinPath("list.ini")));
    ASSERT_EQ(100000004ull, std::filesystem::file_size(t.Native("big.bin")));
    const std::string bytes = t.ReadFile("big.bin");
    EXPECT_EQ(std::string(16, '\0'), bytes.substr(99999990, 10) + bytes.substr(0, 6));
    EXPECT_EQ("tail", bytes.substr(100000000));
    EXPECT_FALSE(t.Exists(Part("big.bin", 1)));
}

TEST(CQvSplitBigFileRecoverTest, NullOrUnreadableListIsRefused) {
    TempTree t;
    {
        LogCapture log;
        EXPECT_EQ(static_cast<long>(E_FAIL), CQvSplitBigFile::GetInstance()->RecoverFiles(t.Drive(), nullptr));
        EXPECT_TRUE(log.Has(QvLogLevel::Error, L"CQvSplitBigFile::RecoverFiles(...) strSplitListFile NULL"));
    }
    LogCapture log;
    const std::wstring list = t.WinPath("none.ini");
    EXPECT_EQ(static_cast<long>(E_INVALIDARG), Recover(t.Drive(), list));
    EXPECT_TRUE(log.Has(QvLogLevel::Error, std::wstring(kRecoverTrace) + L"Open split file list " + list +
                                               L" FAILED"))
        << log.Dump();
}

TEST(CQvSplitBigFileRecoverTest, RecoveryLeavesThePartListOfCurrentCutsAlone) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup a(t, "a.bin", "AAAA");
    ASSERT_EQ(0L, a.Cut());
    WriteParts(t, "other.bin", {"O"});
    t.WriteFile("other.ini", "[Files]\nFile0=" + At(t, "other.bin") + "|" + kStamp + "|1\n");
    ASSERT_EQ(0L, Recover(t.Drive(), t.WinPath("other.ini")));
    CutSetup b(t, "b.bin", "BBBB");
    ASSERT_EQ(0L, b.Cut());
    const std::vector<qvbig::ListEntry> list = qvbig::ReadList(t.WinPath("parts.ini"));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(t.DrivelessPath("a.bin"), list[0].path);
    EXPECT_EQ(t.DrivelessPath("b.bin"), list[1].path);
}
