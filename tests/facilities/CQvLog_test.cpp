// CQvLog: lines written through QVSPLIT_LOG, scopes and results, escaping, capture, inactive
// path, when gathered lines reach the file, and the bound on its size.
#include "facilities/CQvLog.h"
#include "facilities/CQvPathText.h"

#include "platform/QvPlatform.h"
#include "support/QvTestSupport.h"

#include <QvSplit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

// The oracle for a line's record: the captured text, line breaks escaped, converted by the
// platform's own UTF-8 encoder.
std::string ExpectedRecord(const QvLogRecord& r) {
    std::wstring escaped;
    for (wchar_t c : r.text) {
        if (c == L'\n') escaped += L"\\n";
        else if (c == L'\r') escaped += L"\\r";
        else escaped += c;
    }
    return std::string("[") + CQvLog::LevelName(r.level) + "] " + qvp::WideToUtf8(escaped);
}

TEST(CQvLog, FileLinesMatchTheCapturedRecords) {
    qvtest::TempTree tree;
    CQvLog* log = CQvLog::GetInstance();
    const std::string file = tree.Native("same.log").string();
    const std::wstring longText(300000, L'x');  // longer than one write block
    std::wstring unpaired = L"lone ";
    unpaired += static_cast<wchar_t>(0xD800);
    unpaired += L" surrogate";
    const wchar_t* none = nullptr;
    const CQvPathText path(L"C:\\p\u00e9\r");
    // Characters just inside and just outside printable ASCII, each at every place of a
    // block of eight.
    std::wstring edges;
    for (const wchar_t c : {L' ', L'~', static_cast<wchar_t>(0x1F), static_cast<wchar_t>(0x7F),
                            static_cast<wchar_t>(0x80), static_cast<wchar_t>(0xFFFF), L'\t'})
        for (int at = 0; at < 8; ++at) edges += std::wstring(static_cast<size_t>(at), L'a') + c + L"bcdefghij";
    const struct {
        const char* label;
        std::function<void()> write;
    } rows[] = {
        {"characters at the edges of printable ASCII", [&] { log->AddInfo(L"%s", edges); }},
        {"signed result", [&] { log->EnterFunction(L"S"); log->ExitFunction(-5000000000LL); }},
        {"unsigned result", [&] { log->EnterFunction(L"U"); log->ExitFunction(18446744073709551615ULL); }},
        {"HRESULT result", [&] { log->EnterFunction(L"H"); log->ExitFunction(E_FAIL); }},
        {"string result with a line break", [&] { log->EnterFunction(L"W"); log->ExitFunction(L"a\nb"); }},
        {"null string result", [&] { log->EnterFunction(L"N"); log->ExitFunction(none); }},
        {"character result", [&] { log->EnterFunction(L"C"); log->ExitFunction(L'\u00e9'); }},
        {"no result", [&] { log->EnterFunction(L"V(%d)", 1); log->ExitFunction(); }},
        {"two-, three- and four-byte characters", [&] { log->AddInfo(L"\u00e9 \u65e5 \U0001F600 end"); }},
        {"lone surrogate", [&] { log->AddInfo(L"%s", unpaired); }},
        {"text longer than a write block", [&] { log->AddWarning(L"%s", longText); }},
        {"carriage return and line feed", [&] { log->AddError(L"one\r\ntwo"); }},
        {"entry text with every kind of conversion",
         [&] {
             log->EnterFunction(L"F(%s|%5d|%-4s|%.2s|%x|%lld|%c|%05.1f|%%|%s|%d|%s|%S|%.3s|%", L"a\nb", -42, L"ab",
                                L"\u00e9\u65e5\U0001F600", 255u, -5000000000LL, L'\u00e9', 2.5, none, L"x", 1,
                                "narrow \xc3\xa9", path);
             log->ExitFunction(0);
         }},
        {"format changed where it was",
         [&] {
             std::wstring format;
             format.reserve(32);  // one place for every text
             for (const wchar_t* changed : {L"A(%s) %d", L"B(%s) %d", L"B(%s)", L"B(%s) %d %%", L"B(%s) %*d"}) {
                 format.assign(changed);
                 log->EnterFunction(format.c_str(), L"x", 7);
             }
             for (int i = 0; i < 5; ++i) log->ExitFunction();
         }},
        {"entry text of a long argument", [&] { log->EnterFunction(L"L(%s)", longText); log->ExitFunction(); }},
        // Where wchar_t has 16 bits, the halves of one character in the format and the argument.
        {"pair split between the text and its argument",
         [&] {
             log->EnterFunction(L"P(\xD83D%s", L"\xDE00)");
             log->EnterFunction(L"Q(%s\xDE00)", L"\xD83D");
             log->EnterFunction(L"R(%s)", unpaired + L"\xD83D");
             log->ExitFunction();
             log->ExitFunction();
             log->ExitFunction();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        log->SetDestination(file.c_str());
        log->StartCapture();
        row.write();
        const std::vector<QvLogRecord> captured = log->StopCapture();
        log->SetDestination(nullptr);
        std::vector<std::string> lines = ReadLines(file);
        ASSERT_EQ(captured.size(), lines.size());
        for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(ExpectedRecord(captured[i]), Record(lines[i]));
        std::filesystem::remove(file);
        // Written again with nothing captured: the lines are made without the text as a whole.
        log->SetDestination(file.c_str());
        row.write();
        log->SetDestination(nullptr);
        lines = ReadLines(file);
        ASSERT_EQ(captured.size(), lines.size());
        for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(ExpectedRecord(captured[i]), Record(lines[i])) << "uncaptured";
        std::filesystem::remove(file);
    }
}

// "YYYY-MM-DD hh:mm:ss.mmm" of a moment, local time, as a line's stamp shows it.
std::string Stamp(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const long long ms = duration_cast<milliseconds>(at.time_since_epoch()).count();
    const std::time_t t = static_cast<std::time_t>(ms / 1000);
    char buf[32] = "";
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    char milli[8] = "";
    std::snprintf(milli, sizeof milli, ".%03d", static_cast<int>(ms % 1000));
    return std::string(buf) + milli;
}

TEST(CQvLog, LinesShowTheTimeStampThenTheIndentation) {
    using std::chrono::system_clock;
    qvtest::TempTree tree;
    CQvLog* log = CQvLog::GetInstance();
    const std::string file = tree.Native("stamp.log").string();
    // Lines as fast as they come, and some after short pauses: each shows a moment between the
    // clock readings just before and just after it was written, the stamp's clock being a
    // coarse one that may lag by a tick (some milliseconds; 16 on Windows).
    std::vector<std::pair<std::string, std::string>> between;
    log->SetDestination(file.c_str());
    const system_clock::time_point end = system_clock::now() + std::chrono::milliseconds(60);
    for (int n = 0; system_clock::now() < end; ++n) {
        if (n % 500 == 499) std::this_thread::sleep_for(std::chrono::microseconds(700));
        const system_clock::time_point before = system_clock::now();
        log->AddInfo(L"line %d", n);
        between.emplace_back(Stamp(before - std::chrono::milliseconds(20)), Stamp(system_clock::now()));
    }
    log->SetDestination(nullptr);
    const std::vector<std::string> lines = ReadLines(file);
    ASSERT_EQ(between.size(), lines.size());
    for (size_t n = 0; n < lines.size(); ++n) {
        ASSERT_LE(between[n].first, lines[n].substr(0, 23)) << "line " << n;
        ASSERT_GE(between[n].second, lines[n].substr(0, 23)) << "line " << n;
        if (n > 0) {
            ASSERT_LE(lines[n - 1].substr(0, 23), lines[n].substr(0, 23)) << "stamps go back at line " << n;
        }
    }
    for (const std::string& line : {lines.front(), lines.back()}) {
        SCOPED_TRACE(line);
        // "YYYY-MM-DD hh:mm:ss.mmm [INFO] ..."
        ASSERT_GT(line.size(), 24u);
        for (size_t i : {4, 7}) EXPECT_EQ('-', line[i]);
        for (size_t i : {13, 16}) EXPECT_EQ(':', line[i]);
        EXPECT_EQ('.', line[19]);
        EXPECT_EQ(' ', line[23]);
        for (size_t i : {0, 5, 8, 11, 14, 17, 20, 21, 22}) EXPECT_TRUE(line[i] >= '0' && line[i] <= '9');
    }
}

// Writes numbered lines of about 100 bytes into file; returns how many.
int WriteNumberedLines(const std::string& file, uint64_t bytes) {
    CQvLog* log = CQvLog::GetInstance();
    log->SetDestination(file.c_str());
    const std::wstring filler(60, L'f');
    int n = 0;
    for (uint64_t written = 0; written < bytes; written += 100) log->AddInfo(L"line %d %s", n++, filler);
    log->SetDestination(nullptr);
    return n;
}

// The numbers of the lines WriteNumberedLines wrote, in file order.
std::vector<int> LineNumbers(const std::filesystem::path& p) {
    std::vector<int> numbers;
    for (const std::string& line : ReadLines(p)) numbers.push_back(std::atoi(Record(line).c_str() + 12));
    return numbers;
}

TEST(CQvLog, FilePastItsBoundBecomesTheOlderOne) {
    const uint64_t kMiB = 1 << 20;
    const uint64_t kLongestLine = 200;
    CQvLog* log = CQvLog::GetInstance();
    const struct {
        const char* label;
        const char* maxMb;
        uint64_t earlier;  // bytes already in the file
        uint64_t written;
        bool rotates;
    } rows[] = {
        {"more than twice the bound", "1", 0, 5 * kMiB / 2, true},
        {"an existing file close to the bound", "1", kMiB - 50, kMiB / 2, true},
        {"within a larger bound", "2", 0, 3 * kMiB / 2, false},
        {"zero means the default", "0", 0, 3 * kMiB / 2, false},
        {"not a number means the default", "1x", 0, 3 * kMiB / 2, false},
        {"negative means the default", "-1", 0, 3 * kMiB / 2, false},
        {"three new files in one run", "1", 0, 7 * kMiB / 2, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        qvtest::TempTree tree;
        const std::filesystem::path file = tree.Native("bounded.log");
        const std::filesystem::path older = tree.Native("bounded.log.1");
        tree.WriteFile("bounded.log", std::string(row.earlier, 'e'));
        tree.WriteFile("bounded.log.1", "oldest\n");
        log->SetMaximumSize(row.maxMb);
        const int count = WriteNumberedLines(file.string(), row.written);
        log->SetMaximumSize(nullptr);

        EXPECT_EQ(2u, tree.List().size()) << "only the file and one older file";
        const std::vector<int> newer = LineNumbers(file);
        ASSERT_FALSE(newer.empty());
        EXPECT_EQ(count - 1, newer.back()) << "the last line is in the file";
        if (!row.rotates) {
            EXPECT_EQ("oldest\n", tree.ReadFile("bounded.log.1"));
            continue;
        }
        EXPECT_LE(std::filesystem::file_size(file), kMiB + kLongestLine);
        EXPECT_LE(std::filesystem::file_size(older), kMiB + kLongestLine);
        // No line lost where one file ends and the next begins, nor inside either.
        std::vector<int> all = row.earlier > 0 ? std::vector<int>() : LineNumbers(older);
        all.insert(all.end(), newer.begin(), newer.end());
        for (size_t i = 1; i < all.size(); ++i) ASSERT_EQ(all[i - 1] + 1, all[i]) << "at " << i;
        if (row.earlier > 0) {
            EXPECT_EQ(std::string(row.earlier, 'e'), tree.ReadFile("bounded.log.1"));
            EXPECT_EQ(0, newer.front()) << "the earlier content alone moved aside";
        }
    }
}

TEST(CQvLogEnv, MaximumSizeComesFromTheEnvironment) {
    if (SharesItsProcess()) GTEST_SKIP() << "needs a process of its own (run it under CTest)";
    qvtest::TempTree tree;
#if defined(_WIN32)
    _putenv_s("QVSPLIT_LOG_MAX_MB", "1");
#else
    setenv("QVSPLIT_LOG_MAX_MB", "1", 1);
#endif
    SetLogEnv(tree.Native("env.log").string().c_str());
    CQvLog::GetInstance()->AddInfo(L"created");
    const int count = WriteNumberedLines(tree.Native("env.log").string(), 3 << 20);
    ASSERT_TRUE(tree.Exists("env.log.1"));
    EXPECT_LE(std::filesystem::file_size(tree.Native("env.log")), (1u << 20) + 200);
    EXPECT_EQ(count - 1, LineNumbers(tree.Native("env.log")).back());
}

#if !defined(_WIN32)

// Runs write in a child process that logs to file and is then killed at once, as a crash
// would end it (or, with exits, ends through exit()). The parent's gathered lines are written
// out first, so the child starts with none.
void WriteInChildThenDie(const std::string& file, const std::function<void()>& write, bool exits) {
    CQvLog::GetInstance()->Flush();
    const pid_t pid = fork();
    if (pid == 0) {
        CQvLog::GetInstance()->SetDestination(file.c_str());
        write();
        if (exits) std::exit(0);
        kill(getpid(), SIGKILL);
        _exit(3);  // not reached
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    if (exits) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    }
}

// A log sent to a named pipe (what a shell's >(gzip > log.gz) gives) or to a device has no
// bound: the pipe stays where it is, nothing is moved aside, and the reader gets every line.
TEST(CQvLog, PipePastTheBoundIsNeitherMovedNorCut) {
    qvtest::TempTree tree;
    const std::string fifo = tree.Native("trace.pipe").string();
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::vector<int> received;
    std::thread reader([&] {
        std::ifstream in(fifo, std::ios::binary);
        for (std::string line; std::getline(in, line);) received.push_back(std::atoi(Record(line).c_str() + 12));
    });
    CQvLog::GetInstance()->SetMaximumSize("1");
    const int count = WriteNumberedLines(fifo, 3 << 20);
    CQvLog::GetInstance()->SetMaximumSize(nullptr);
    reader.join();

    struct stat st;
    ASSERT_EQ(0, lstat(fifo.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(1u, tree.List().size()) << "nothing moved aside";
    ASSERT_EQ(static_cast<size_t>(count), received.size());
    for (int i = 0; i < count; ++i) ASSERT_EQ(i, received[i]);
}

TEST(CQvLogKillTest, LinesReachTheFileAtEachFlushPoint) {
    CQvLog* log = CQvLog::GetInstance();
    const auto infos = [log] {
        for (int i = 0; i < 100; ++i) log->AddInfo(L"info %d", i);
    };
    const struct {
        const char* label;
        std::function<void()> write;
        bool exits;
        std::string last;  // the record of the last line the file must hold
        int infos = 100;   // "[INFO] info N" lines the file must begin with, in order
    } rows[] = {
        {"error line", [&] { infos(); log->AddError(L"the cause"); }, false, "[ERROR] the cause"},
        {"warning line", [&] { infos(); log->AddWarning(L"careful"); }, false, "[WARNING] careful"},
        {"interface operation returns",
         [&] {
             infos();
             std::unique_ptr<iCQvSplit> split(GetQvSplitInterface());
             split->SetSplitBigFile(FALSE, 700, nullptr);
         },
         false, "[EXIT] CQvSplit::SetSplitBigFile(BOOL bSplit,DWORD dwSplitSize=700,LPCTSTR lpszSplitFileList=(null)) = 0"},
        {"the second of the stamp changes",
         [&] {
             infos();
             std::this_thread::sleep_for(std::chrono::milliseconds(1100));
             log->AddInfo(L"a second later");
         },
         false, "[INFO] info 99"},
        {"process exit", [&] { infos(); }, true, "[INFO] info 99"},
        // Several blocks written out before the error, and the rest of a block with it.
        {"error line after many blocks",
         [&] {
             for (int i = 0; i < 30000; ++i) log->AddInfo(L"info %d", i);
             log->AddError(L"after blocks");
         },
         false, "[ERROR] after blocks", 30000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        qvtest::TempTree tree;
        const std::string file = tree.Native("crash.log").string();
        WriteInChildThenDie(file, row.write, row.exits);
        std::vector<std::string> records;
        for (const std::string& line : ReadLines(file)) records.push_back(Record(line));
        ASSERT_GE(records.size(), static_cast<size_t>(row.infos)) << tree.ReadFile("crash.log");
        for (int i = 0; i < row.infos; ++i) ASSERT_EQ("[INFO] info " + std::to_string(i), records[i]);
        EXPECT_NE(records.end(), std::find(records.begin(), records.end(), row.last)) << tree.ReadFile("crash.log");
    }
}

#endif

}  // namespace
