// CQvLog: lines written through QVSPLIT_LOG, scopes and results, escaping, capture, inactive path.
#include "facilities/CQvLog.h"

#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The part of a line from "[" on, without the free-form time stamp and indentation.
std::string Record(const std::string& line) {
    const size_t at = line.find('[');
    return at == std::string::npos ? line : line.substr(at);
}

// Spaces right before "[": the indentation by scope depth.
size_t Indent(const std::string& line) {
    size_t at = line.find('[');
    size_t n = 0;
    while (at > 0 && line[at - 1] == ' ') --at, ++n;
    return n;
}

void SetLogEnv(const char* value) {
#if defined(_WIN32)
    _putenv_s("QVSPLIT_LOG", value ? value : "");
#else
    if (value) setenv("QVSPLIT_LOG", value, 1);
    else unsetenv("QVSPLIT_LOG");
#endif
}

// The log reads QVSPLIT_LOG once, when it is first used; a test that sets it needs a process of
// its own, which CTest gives every test case.
bool SharesItsProcess() { return ::testing::UnitTest::GetInstance()->test_to_run_count() > 1; }

void WriteTypicalTrace() {
    CQvLog* log = CQvLog::GetInstance();
    log->EnterFunction(L"CQvX::Outer(LPCTSTR strPath=%s, DWORD dwSize=%d)", L"C:\\a", 5);
    log->EnterFunction(L"CQvX::Inner(void)");
    log->AddInfo(L"line one\nline two\rend");
    log->AddWarning(L"Path %s not exist", L"C:\\missing");
    log->AddError(L"size=%lld", 5000000000LL);
    log->ExitFunction();
    log->ExitFunction(5);
}

TEST(CQvLogEnv, WritesFormattedLinesToTheFileNamedByTheEnvironment) {
    if (SharesItsProcess()) GTEST_SKIP() << "needs a process of its own (run it under CTest)";
    qvtest::TempTree tree;
    tree.WriteFile("trace.log", "earlier line\n");
    SetLogEnv(tree.Native("trace.log").string().c_str());
    WriteTypicalTrace();
    CQvLog::GetInstance()->SetDestination(nullptr);  // closed, so the folder can be removed

    const std::vector<std::string> lines = ReadLines(tree.Native("trace.log"));
    ASSERT_EQ(8u, lines.size()) << tree.ReadFile("trace.log");
    EXPECT_EQ("earlier line", lines[0]) << "the log is appended, not truncated";
    const char* expected[] = {
        "[ENTER] CQvX::Outer(LPCTSTR strPath=C:\\a, DWORD dwSize=5)",
        "[ENTER] CQvX::Inner(void)",
        "[INFO] line one\\nline two\\rend",
        "[WARNING] Path C:\\missing not exist",
        "[ERROR] size=5000000000",
        "[EXIT] CQvX::Inner(void)",
        "[EXIT] CQvX::Outer(LPCTSTR strPath=C:\\a, DWORD dwSize=5) = 5",
    };
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i], Record(lines[i + 1]));
    }
    EXPECT_LT(Indent(lines[1]), Indent(lines[2])) << "inner scope is indented further";
    EXPECT_EQ(Indent(lines[2]), Indent(lines[6])) << "an EXIT lines up with its ENTER";
    EXPECT_EQ(Indent(lines[1]), Indent(lines[7]));
    EXPECT_LT(Indent(lines[2]), Indent(lines[3])) << "messages sit inside their scope";
}

TEST(CQvLogEnv, NonAsciiTextIsWrittenAsUtf8) {
    if (SharesItsProcess()) GTEST_SKIP() << "needs a process of its own (run it under CTest)";
    qvtest::TempTree tree;
    SetLogEnv(tree.Native("u.log").string().c_str());
    CQvLog::GetInstance()->AddInfo(L"%s", L"caf\u00e9 \u65e5");
    CQvLog::GetInstance()->SetDestination(nullptr);
    const std::vector<std::string> lines = ReadLines(tree.Native("u.log"));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("[INFO] caf\xc3\xa9 \xe6\x97\xa5", Record(lines[0]));
}

// The death-test child is a fresh copy of this program, so the variable is read anew there.
TEST(CQvLogDeathTest, DashSendsTheLogToStandardError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SetLogEnv("-");
    EXPECT_EXIT(
        {
            CQvLog::GetInstance()->AddError(L"to stderr %d", 7);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "\\[ERROR\\] to stderr 7");
    SetLogEnv(nullptr);
}

TEST(CQvLogDeathTest, UnsetOrEmptyVariableWritesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        SetLogEnv(value);
        EXPECT_EXIT(std::exit(CQvLog::GetInstance()->IsActive() ? 1 : 0), ::testing::ExitedWithCode(0), "");
    }
    SetLogEnv(nullptr);
}

TEST(CQvLog, CaptureRecordsLevelsAndUnescapedText) {
    CQvLog* log = CQvLog::GetInstance();
    log->StartCapture();
    log->EnterFunction(L"F(int a=%d)", 3);
    log->AddInfo(L"two\nlines");
    EXPECT_EQ(7, log->ExitFunction(7));
    const std::vector<QvLogRecord> got = log->StopCapture();
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ(QvLogLevel::Enter, got[0].level);
    EXPECT_EQ(L"F(int a=3)", got[0].text);
    EXPECT_EQ(QvLogLevel::Info, got[1].level);
    EXPECT_EQ(L"two\nlines", got[1].text);
    EXPECT_EQ(QvLogLevel::Exit, got[2].level);
    EXPECT_EQ(L"F(int a=3) = 7", got[2].text);
    EXPECT_TRUE(log->Captured().empty());
}

TEST(CQvLog, ExitFunctionHandsBackEveryResultKind) {
    qvtest::LogCapture cap;
    CQvLog* log = CQvLog::GetInstance();
    const wchar_t* text = L"result text";
    const wchar_t* none = nullptr;
    struct Row { const char* label; std::wstring expected; };
    log->EnterFunction(L"A");
    EXPECT_EQ(E_FAIL, log->ExitFunction(E_FAIL));
    log->EnterFunction(L"B");
    EXPECT_EQ(4000000000u, log->ExitFunction(static_cast<DWORD>(4000000000u)));
    log->EnterFunction(L"C");
    EXPECT_EQ(-5000000000LL, log->ExitFunction(static_cast<int64_t>(-5000000000LL)));
    log->EnterFunction(L"D");
    EXPECT_EQ(text, log->ExitFunction(text));
    log->EnterFunction(L"E");
    EXPECT_EQ(none, log->ExitFunction(none));
    const Row rows[] = {
        {"HRESULT", L"A = -2147467259"}, {"DWORD", L"B = 4000000000"}, {"int64", L"C = -5000000000"},
        {"string", L"D = result text"}, {"null string", L"E = (null)"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_TRUE(cap.Has(QvLogLevel::Exit, r.expected)) << cap.Dump();
    }
}

TEST(CQvLog, UnmatchedExitDoesNotCrash) {
    qvtest::LogCapture cap;
    CQvLog* log = CQvLog::GetInstance();
    log->ExitFunction();
    EXPECT_EQ(9, log->ExitFunction(9));
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L"")) << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L" = 9")) << cap.Dump();
    // A later scope still pairs correctly.
    log->EnterFunction(L"G");
    log->ExitFunction();
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L"G")) << cap.Dump();
}

// An argument that counts how often it is turned into a format argument.
struct CountingArg {
    static int conversions;
    operator const wchar_t*() const {
        ++conversions;
        return L"x";
    }
};
int CountingArg::conversions = 0;

TEST(CQvLog, InactiveLogDoesNoFormattingButKeepsScopes) {
    CQvLog* log = CQvLog::GetInstance();
    log->SetDestination(nullptr);
    ASSERT_FALSE(log->IsActive());
    const CountingArg arg;
    CountingArg::conversions = 0;
    for (int i = 0; i < 1000; ++i) {
        log->EnterFunction(L"F(%s)", arg);
        log->AddInfo(L"%s", arg);
        log->ExitFunction(i);
        log->ExitFunction();  // unmatched: must stay harmless when inactive too
    }
    EXPECT_EQ(0, CountingArg::conversions);

    // Scopes opened while inactive still pair with their exits once capture starts.
    log->EnterFunction(L"Outer(%s)", arg);
    qvtest::LogCapture cap;
    log->EnterFunction(L"Inner(%s)", arg);
    log->ExitFunction();
    log->ExitFunction(1);
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L"Inner(x)")) << cap.Dump();
    EXPECT_TRUE(cap.Has(QvLogLevel::Exit, L" = 1")) << cap.Dump();
    EXPECT_EQ(3u, cap.Records().size()) << cap.Dump();
}

TEST(CQvLog, LevelNames) {
    EXPECT_STREQ("ENTER", CQvLog::LevelName(QvLogLevel::Enter));
    EXPECT_STREQ("EXIT", CQvLog::LevelName(QvLogLevel::Exit));
    EXPECT_STREQ("ERROR", CQvLog::LevelName(QvLogLevel::Error));
    EXPECT_STREQ("WARNING", CQvLog::LevelName(QvLogLevel::Warning));
    EXPECT_STREQ("INFO", CQvLog::LevelName(QvLogLevel::Info));
}

TEST(CQvLog, SetDestinationSwitchesFilesAtRunTime) {
    qvtest::TempTree tree;
    CQvLog* log = CQvLog::GetInstance();
    const std::string first = tree.Native("one.log").string();
    const std::string second = tree.Native("two.log").string();
    log->SetDestination(first.c_str());
    log->AddInfo(L"first");
    log->SetDestination(second.c_str());
    log->AddInfo(L"second");
    log->SetDestination(nullptr);
    log->AddInfo(L"nowhere");
    ASSERT_EQ(1u, ReadLines(first).size());
    EXPECT_EQ("[INFO] first", Record(ReadLines(first)[0]));
    ASSERT_EQ(1u, ReadLines(second).size());
    EXPECT_EQ("[INFO] second", Record(ReadLines(second)[0]));
}

TEST(CQvLog, MinimumLevelKeepsOnlyWhatItAllows) {
    qvtest::TempTree tree;
    CQvLog* log = CQvLog::GetInstance();
    const struct {
        const char* level;
        std::vector<std::string> expected;
    } rows[] = {
        {"warning", {"[WARNING] Path C:\\missing not exist", "[ERROR] size=5000000000"}},
        {"error", {"[ERROR] size=5000000000"}},
        {"info", {"[INFO] line one\\nline two\\rend", "[WARNING] Path C:\\missing not exist",
                  "[ERROR] size=5000000000"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.level);
        const std::string file = tree.Native(std::string(row.level) + ".log").string();
        log->SetMinimumLevel(row.level);
        log->SetDestination(file.c_str());
        WriteTypicalTrace();
        log->SetDestination(nullptr);
        std::vector<std::string> records;
        for (const std::string& line : ReadLines(file)) records.push_back(Record(line));
        EXPECT_EQ(row.expected, records);
    }
    log->SetMinimumLevel(nullptr);
}

}  // namespace
