// Scanning files and directories: descriptions, target paths, write times, sizes, oversize
// files, wildcard rules, directories kept whole or split.
#include "catalog/QvCatalogTestAccess.h"
#include "common/QvSplitRun.h"
#include "platform/QvPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

using qvcat::IncludeRule;
using qvcat::Key;
using qvcat::Keys;
using qvcat::MapKey;
using qvcat::kMB;
using qvtest::TempTree;
typedef QvCatalogTestAccess A;

namespace {

class CatalogScanTest : public ::testing::Test {
protected:
    void SetUp() override { A::ResetAll(); }
    void TearDown() override { A::ResetAll(); }
};

std::wstring W(const CQvString& s) { return s.str(); }

}  // namespace

TEST_F(CatalogScanTest, TargetPathTable) {
    TempTree t;
    t.WriteFile("Data/Docs/Sub/a.txt", "x");
    struct Row {
        const char* label;
        std::string rulePath;  // relative to the tree; "\\" suffix kept
        std::wstring target;
        std::string entry;
        bool bDir;
        bool bLowerEntry;  // the entry path as a wildcard match reaches it
        std::wstring expected;
    } rows[] = {
        {"rule folder", "Data/Docs", L"Backup", "Data/Docs/Sub/a.txt", false, false, L"\\Backup\\Docs\\Sub"},
        {"rule folder with backslash", "Data/Docs\\", L"Backup", "Data/Docs/Sub/a.txt", false, false, L"\\Backup\\Sub"},
        {"rule names the file", "Data/Docs/Sub/a.txt", L"Backup", "Data/Docs/Sub/a.txt", false, false, L"\\Backup"},
        {"target with slashes", "Data/Docs", L"\\Backup\\", "Data/Docs/Sub/a.txt", false, false, L"\\Backup\\Docs\\Sub"},
        {"empty target", "Data/Docs", L"", "Data/Docs/Sub/a.txt", false, false, L"\\Docs\\Sub"},
        {"root target", "Data/Docs", L"\\", "Data/Docs/Sub/a.txt", false, false, L"\\Docs\\Sub"},
        {"nested target", "Data", L"B\\C", "Data/Docs/Sub/a.txt", false, false, L"\\B\\C\\Data\\Docs\\Sub"},
        {"directory entry", "Data/Docs", L"Backup", "Data/Docs/Sub", true, false, L"\\Backup\\Docs\\Sub"},
        {"directory entry, backslash", "Data/Docs", L"Backup", "Data/Docs/Sub\\", true, false, L"\\Backup\\Docs\\Sub"},
        {"wildcard match in lower case", "Data/Docs/Sub/*.txt", L"Backup", "Data/Docs/Sub/a.txt", false, true, L"\\Backup"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        auto rule = IncludeRule(t.WinPath(r.rulePath), r.target);
        CQvString entry(t.WinPath(r.entry));
        if (r.bLowerEntry) entry.MakeLower();
        FileDesc* d = r.bDir ? A::CreateDirDesc(rule.get(), entry, r.target.c_str())
                             : A::Cat()->CreateFileDesc(rule.get(), entry, r.target.c_str());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(W(d->strTargetPath), r.expected);
        EXPECT_EQ(W(d->strFilePath), entry.str());
        A::Cat()->DeleteFileDesc(d);
    }
}

TEST_F(CatalogScanTest, CreateFileDescFields) {
    TempTree t;
    t.WriteFile("d/f.bin", "12345");
    t.WriteFile("d/s/g.bin", "1234567");
    auto rule = IncludeRule(t.WinPath("d"), L"T");
    FileDesc* f = A::Cat()->CreateFileDesc(rule.get(), t.WinPath("d/f.bin").c_str(), L"T");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->iFileSize, 5);
    EXPECT_EQ(f->dwAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(f->dwCRC32, 0u);
    EXPECT_EQ(f->iAllTogetherGroup, -1);
    EXPECT_EQ(f->pPathRules, rule.get());
    EXPECT_EQ(f->strWriteTime.GetLength(), 14);
    A::Cat()->DeleteFileDesc(f);
    // A directory described as a file has size 0; as a directory, the files below it.
    FileDesc* asFile = A::Cat()->CreateFileDesc(rule.get(), t.WinPath("d").c_str(), L"T");
    FileDesc* asDir = A::CreateDirDesc(rule.get(), t.WinPath("d").c_str(), L"T");
    ASSERT_NE(asFile, nullptr);
    ASSERT_NE(asDir, nullptr);
    EXPECT_EQ(asFile->iFileSize, 0);
    EXPECT_EQ(asDir->iFileSize, 12);
    EXPECT_NE(asDir->dwAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    A::Cat()->DeleteFileDesc(asFile);
    A::Cat()->DeleteFileDesc(asDir);
}

TEST_F(CatalogScanTest, CreateFileDescNullArgumentsAndMissingPath) {
    TempTree t;
    t.WriteFile("f", "1");
    auto rule = IncludeRule(t.WinPath("f"));
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->CreateFileDesc(nullptr, nullptr, nullptr), nullptr);
    const std::wstring head = L"CQvFileDescCatalog::CreateFileDesc(CQvPathRules *pQvPathRules, "
                              L"LPCTSTR strFileName, LPCTSTR strTargetPath) ";
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, head + L"pQvPathRules=NULL !"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, head + L"strFileName=NULL !"));
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, head + L"strTargetPath=NULL !"));
    EXPECT_EQ(A::CreateDirDesc(rule.get(), t.WinPath("f").c_str(), nullptr), nullptr);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                        L"CQvFileDescCatalog::CreateDirDesc(CQvPathRules *pQvPathRules, LPCTSTR "
                        L"strFileName, LPCTSTR strTargetPath) strTargetPath=NULL !"));
    const size_t errors = cap.Count(QvLogLevel::Error);
    EXPECT_EQ(A::Cat()->CreateFileDesc(rule.get(), t.WinPath("missing").c_str(), L""), nullptr);
    EXPECT_EQ(cap.Count(QvLogLevel::Error), errors);  // silently
}

#if !defined(_WIN32)
TEST_F(CatalogScanTest, WriteTimeIsLocalTime) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "QVT-5:30", 1);  // five and a half hours east of UTC
    tzset();
    TempTree t;
    t.WriteFile("f.txt", "1");
    auto rule = IncludeRule(t.WinPath("f.txt"));
    FileDesc* f = A::Cat()->CreateFileDesc(rule.get(), t.WinPath("f.txt").c_str(), L"");
    ASSERT_NE(f, nullptr);
    WIN32_FILE_ATTRIBUTE_DATA data;
    std::memset(&data, 0, sizeof(data));
    ASSERT_TRUE(qvp::GetFileAttributesExW(t.WinPath("f.txt").c_str(), GetFileExInfoStandard, &data));
    const uint64_t ft = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                        data.ftLastWriteTime.dwLowDateTime;
    const std::time_t secs = static_cast<std::time_t>((ft - 116444736000000000ULL) / 10000000ULL);
    char local[32];
    char utc[32];
    std::strftime(local, sizeof(local), "%Y%m%d%H%M%S", std::localtime(&secs));
    std::strftime(utc, sizeof(utc), "%Y%m%d%H%M%S", std::gmtime(&secs));
    EXPECT_EQ(qvtest::Narrow(f->strWriteTime.str()), std::string(local));
    EXPECT_NE(std::string(local), std::string(utc));
    // Before 1900: the local time of 1970-01-01 00:00:00 UTC.
    const std::time_t epoch = 0;
    std::strftime(local, sizeof(local), "%Y%m%d%H%M%S", std::localtime(&epoch));
    const uint64_t year1800 = 6311347200ULL * 10000000ULL;  // 1800-01-01 after 1601-01-01
    EXPECT_EQ(qvtest::Narrow(A::LocalWriteTime(year1800).str()), std::string(local));
    EXPECT_EQ(qvtest::Narrow(A::LocalWriteTime(0).str()), std::string(local));
    A::Cat()->DeleteFileDesc(f);
    if (oldTz)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
#endif

TEST_F(CatalogScanTest, OversizeFilesWithSplittingOff) {
    TempTree t;
    t.WriteSparse("exact.bin", 2 * kMB);
    t.WriteSparse("under.bin", 2 * kMB - 1);
    t.WriteSparse("Image.WIM", 3 * kMB);
    t.WriteSparse("data.bin", 3 * kMB);
    A::SetSplitSize(2);
    struct Row {
        const char* name;
        bool bInserted;
        bool bWim;
    } rows[] = {{"exact.bin", false, false}, {"under.bin", true, false},
                {"Image.WIM", false, true}, {"data.bin", false, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        A::ClearWim();
        qvtest::LogCapture cap;
        auto rule = IncludeRule(t.WinPath(r.name));
        EXPECT_EQ(A::Cat()->AddFileToCatalog(rule.get(), t.WinPath(r.name).c_str()), S_OK);
        EXPECT_EQ(A::Map(InAny).count(MapKey(t, r.name)), r.bInserted ? 1u : 0u);
        EXPECT_EQ(A::WimTooBig() != 0, r.bWim);
        if (r.bWim) {
            EXPECT_TRUE(cap.Has(QvLogLevel::Error,
                                L"CQvFileDescCatalog::AddSingleFileToCatalog(...) WIM Size too Big " +
                                    t.WinPath(r.name) + L" (size=3145728)"))
                << cap.Dump();
        } else if (!r.bInserted) {
            EXPECT_TRUE(cap.HasContaining(QvLogLevel::Warning,
                                          L"CQvFileDescCatalog::AddSingleFileToCatalog(...) Skip Big "
                                          L"File " + t.WinPath(r.name) + L" (size="))
                << cap.Dump();
        } else {
            EXPECT_EQ(cap.Count(QvLogLevel::Warning) + cap.Count(QvLogLevel::Error), 0u);
        }
    }
}

TEST_F(CatalogScanTest, OversizeFilesWithSplittingOnAreInserted) {
    TempTree t;
    t.WriteSparse("Image.WIM", 3 * kMB);
    t.WriteSparse("data.bin", 3 * kMB);
    ASSERT_EQ(CQvSplitBigFile::GetInstance()->SetSplitBigFile(TRUE, 22, t.WinPath("list.ini").c_str()), 0);
    A::SetSplitSize(2);
    for (const char* name : {"Image.WIM", "data.bin"}) {
        auto rule = IncludeRule(t.WinPath(name));
        EXPECT_EQ(A::Cat()->AddFileToCatalog(rule.get(), t.WinPath(name).c_str()), S_OK);
        ASSERT_EQ(A::Map(InAny).count(MapKey(t, name)), 1u) << name;
        EXPECT_EQ(A::Map(InAny).at(MapKey(t, name)).iFileSize, static_cast<int64_t>(3 * kMB));
    }
    EXPECT_FALSE(A::WimTooBig());
}

TEST_F(CatalogScanTest, FileAbove4GiBHasItsFullSize) {
    TempTree t;
    const uint64_t size = 5ULL * 1024 * kMB + 7;
    t.WriteSparse("huge.bin", size);
    auto rule = IncludeRule(t.WinPath("huge.bin"));
    FileDesc* d = A::Cat()->CreateFileDesc(rule.get(), t.WinPath("huge.bin").c_str(), L"");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->iFileSize, static_cast<int64_t>(size));
    A::Cat()->DeleteFileDesc(d);
    EXPECT_EQ(A::DirSize(t.WinPath("").c_str()), static_cast<int64_t>(size));
}

TEST_F(CatalogScanTest, SeveralLocationsGiveOneEntryEachWithItsTarget) {
    TempTree t;
    t.WriteFile("d/f.txt", "1");
    auto rule = IncludeRule(t.WinPath("d"), L"One", L"First", 3);
    rule->vtInclude.push_back(InLast);
    rule->vtTargetPath.push_back(L"Two");
    rule->vtInclude.push_back(InAny);
    rule->vtTargetPath.push_back(L"Three");
    ASSERT_EQ(A::Cat()->AddFileToCatalog(rule.get(), t.WinPath("d/f.txt").c_str()), S_OK);
    const CQvString key = MapKey(t, "d/f.txt");
    EXPECT_EQ(W(A::Map(InFirst).at(key).strTargetPath), L"\\One\\d");
    EXPECT_EQ(W(A::Map(InLast).at(key).strTargetPath), L"\\Two\\d");
    EXPECT_EQ(W(A::Map(InAny).at(key).strTargetPath), L"\\Three\\d");
    EXPECT_EQ(A::Map(InFirst).at(key).iAllTogetherGroup, -1);
    EXPECT_EQ(A::Map(InAny).at(key).iAllTogetherGroup, 3);
}

// A match larger than a medium is left out as a file a rule names is: one file that cannot be
// planned does not refuse the whole split.
TEST_F(CatalogScanTest, WildcardRuleMatchesKeepTheirNamesWithoutGroupAndLeaveOutTheTooBig) {
    TempTree t;
    t.WriteSparse("W/Big.TXT", 5 * kMB);
    t.WriteFile("W/Small.txt", "1");
    t.WriteFile("W/other.log", "1");
    t.MakeDir("W/folder.txt");
    A::SetSplitSize(1);
    QvSplitRun::Current().leftOut.Clear();
    auto rule = IncludeRule(t.WinPath("W\\*.txt"), L"T", L"First", 7);
    rule->vtInclude.push_back(InAny);
    rule->vtTargetPath.push_back(L"T");
    ASSERT_EQ(A::Cat()->AddFileToCatalog(rule.get(), t.WinPath("W\\*.txt").c_str()), S_OK);
    const std::vector<std::string> expected = {Key(t, "W/Small.txt")};
    EXPECT_EQ(Keys(A::Map(InFirst)), expected);
    EXPECT_EQ(Keys(A::Map(InAny)), expected);
    const FileDesc& small = A::Map(InAny).at(MapKey(t, "W/Small.txt"));
    // The path keeps the name as listed, so it opens that very file.
    EXPECT_EQ(W(small.strFilePath), t.WinPath("W\\Small.txt"));
    EXPECT_EQ(small.iAllTogetherGroup, -1);
    EXPECT_EQ(W(small.strTargetPath), L"\\T");
    const auto& leftOut = QvSplitRun::Current().leftOut.Entries();
    ASSERT_EQ(leftOut.size(), 1u);
    EXPECT_EQ(leftOut[0].strPath, t.WinPath("W\\Big.TXT"));
    EXPECT_EQ(leftOut[0].dwReason, static_cast<DWORD>(QvLeftOutTooBig));
}

// "?" is a wildcard as "*" is: a rule a user writes as "log?.txt" selects what a listing
// matches, not nothing.
TEST_F(CatalogScanTest, QuestionMarkIsAPatternToo) {
    TempTree t;
    t.WriteFile("ab.txt", "1");
    t.WriteFile("abc.txt", "2");
    auto rule = IncludeRule(t.WinPath("a?.txt"));
    EXPECT_EQ(A::Cat()->AddFileToCatalog(rule.get(), t.WinPath("a?.txt").c_str()), S_OK);
    ASSERT_EQ(1u, A::Map(InAny).size());
    EXPECT_EQ(t.WinPath("ab.txt"), A::Map(InAny).begin()->second.strFilePath.str());
    qvtest::LogCapture cap;
    EXPECT_EQ(A::Cat()->AddFileToCatalog(nullptr, nullptr), E_INVALIDARG);
    EXPECT_TRUE(cap.HasContaining(QvLogLevel::Error, L"pQvPathRules=NULL !"));
}

TEST_F(CatalogScanTest, DirSizeCountsEverythingButSystemVolumeInformation) {
    TempTree t;
    t.WriteFile("d/a", "12");
    t.WriteFile("d/s/b", "345");
    t.WriteFile("d/.hidden", "6");
    t.WriteFile("d/System Volume Information/big", "1234567890");
    EXPECT_EQ(A::DirSize(t.WinPath("d").c_str()), 6);
    EXPECT_EQ(A::DirSize((t.WinPath("d") + L"\\").c_str()), 6);
    EXPECT_EQ(A::DirSize(t.WinPath("d/System Volume Information").c_str()), 0);
    EXPECT_EQ(A::DirSize(t.WinPath("missing").c_str()), 0);
    qvtest::LogCapture cap;
    EXPECT_EQ(A::DirSize(nullptr), 0);
    EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFileDescCatalog::DirSize(LPCTSTR pstrPath, __int64 "
                                           L"&iSize) pstrPath = NULL !"));
}

TEST_F(CatalogScanTest, DirectoryKeptWholeOnlyWhenItFitsAnEmptyMedium) {
    // A folder stays whole only below the split size in bytes, as the distribution places it;
    // a folder kept whole that no medium can take would fail the split.
    struct Row {
        const char* label;
        uint64_t size;
        bool bWhole;
        bool bBigListed;  // big.bin (size - 10 bytes) fits a medium on its own
    } rows[] = {{"one byte under the split size", 2 * kMB - 1, true, true},
                {"exactly the split size", 2 * kMB, false, true},
                {"half a megabyte more", 2 * kMB + kMB / 2, false, false},
                {"one megabyte more", 3 * kMB, false, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        A::ResetAll();
        TempTree t;
        t.WriteSparse("D/big.bin", r.size - 10);
        t.WriteFile("D/s/ten.bin", "0123456789");
        t.MakeDir("D/empty");
        auto rule = IncludeRule(t.WinPath("D"), L"B", L"Any", 4);
        ASSERT_EQ(A::Cat()->AddDirToCatalog(2, rule.get(), t.WinPath("D").c_str()), S_OK);
        if (r.bWhole) {
            ASSERT_EQ(Keys(A::Map(InAny)), std::vector<std::string>{Key(t, "D")});
            const FileDesc& d = A::Map(InAny).begin()->second;
            EXPECT_EQ(d.iFileSize, static_cast<int64_t>(r.size));
            EXPECT_EQ(d.iAllTogetherGroup, 4);
            EXPECT_EQ(W(d.strTargetPath), L"\\B\\D");
        } else {
            // Split: sub-directories keep the backslash they were reached with; an oversize
            // big.bin is, with splitting off, left out.
            std::vector<std::string> expected{Key(t, "D/empty") + "\\", Key(t, "D/s") + "\\"};
            if (r.bBigListed) expected.insert(expected.begin(), Key(t, "D/big.bin"));
            EXPECT_EQ(Keys(A::Map(InAny)), expected);
            EXPECT_EQ(A::Map(InAny).at(MapKey(t, "D/empty\\")).iFileSize, 0);
            EXPECT_EQ(A::Map(InAny).at(MapKey(t, "D/s\\")).iFileSize, 10);
            EXPECT_EQ(W(A::Map(InAny).at(MapKey(t, "D/s\\")).strTargetPath), L"\\B\\D\\s");
        }
    }
}

TEST_F(CatalogScanTest, SplitDirDescendsIntoOversizeSubdirectories) {
    TempTree t;
    t.WriteSparse("D/S/T/a.bin", kMB + kMB / 2);
    t.WriteSparse("D/S/T/b.bin", kMB + kMB / 2);
    t.WriteSparse("D/S/c.bin", kMB / 2);
    t.WriteFile("D/top.txt", "1");
    auto rule = IncludeRule(t.WinPath("D"));
    ASSERT_EQ(A::Cat()->AddDirToCatalog(2, rule.get(), t.WinPath("D").c_str()), S_OK);
    // D (3.5 MB) and S (3.5 MB) and T (3 MB) are oversize; the files of T fit one by one.
    EXPECT_EQ(Keys(A::Map(InAny)),
              (std::vector<std::string>{Key(t, "D/S/c.bin"), Key(t, "D/S/T/a.bin"),
                                        Key(t, "D/S/T/b.bin"), Key(t, "D/top.txt")}));
    qvtest::LogCapture cap;
    EXPECT_EQ(A::SplitDirToCatalog(2, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(cap.Count(QvLogLevel::Error), 2u);
    EXPECT_EQ(A::Cat()->AddDirToCatalog(2, nullptr, nullptr), E_FAIL);
}
