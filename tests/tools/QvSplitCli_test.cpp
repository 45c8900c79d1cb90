// Tests of the qvsplit program, run as a child process on real temporary trees.
#include "platform/QvPlatform.h"

#include <gtest/gtest.h>

#include "support/QvProgramTest.h"
#include "support/QvShownNames.h"
#include "support/QvTestProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const uint64_t MB = 1048576;
// Names Windows refuses and symbolic links exist on POSIX systems only.
#if defined(_WIN32)
const bool kPosix = false;
#else
const bool kPosix = true;
#endif

using qvtest::PathText;
using RunResult = qvtest::ProcessResult;


std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the program, not on a terminal, with an environment without any drive mapping
// that would move C: off "/" and with its own temporary folder.
class Child {
public:
    Child(const fs::path& program, const std::vector<std::string>& args, const fs::path& scratch,
          const std::string& tmpDir, const std::vector<std::string>& env = {}, int runAs = -1)
        : m_process(program, args, Setup(scratch, tmpDir, env, runAs)) {}

    bool Interrupt() { return m_process.Interrupt(); }

    RunResult Wait() {
        const RunResult r = m_process.Wait(std::chrono::seconds(120));
        if (r.timedOut) ADD_FAILURE() << "qvsplit did not end within 120 s";
        return r;
    }

private:
    static qvtest::ProcessSetup Setup(const fs::path& scratch, const std::string& tmpDir,
                                      const std::vector<std::string>& env, int runAs) {
        qvtest::ProcessSetup setup;
        setup.runAsUser = runAs;
        setup.scratch = scratch;
        setup.unset = {"QVSPLIT_DRIVE_C", "QVSPLIT_LOG", "QVSPLIT_LOG_LEVEL"};
        setup.env = {"TMPDIR=" + tmpDir, "TMP=" + tmpDir, "TEMP=" + tmpDir};
        setup.env.insert(setup.env.end(), env.begin(), env.end());
        return setup;
    }

    qvtest::ChildProcess m_process;
};

// A text as a JSON string holds it (paths on Windows hold backslashes).
std::string JsonEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// The data block of a report page: the JSON between its script element's tags.
std::string ReportData(const fs::path& page) {
    const std::string html = ReadText(page);
    const std::string open = "<script type=\"application/json\" id=\"qvsplit-data\">";
    const size_t from = html.find(open);
    if (from == std::string::npos) return std::string();
    const size_t to = html.find("</script>", from);
    return html.substr(from + open.size(), to == std::string::npos ? std::string::npos : to - from - open.size());
}

// Whether text is well-formed UTF-8 (no stray, overlong or surrogate sequence).
bool IsUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        unsigned long code = n == 1 ? c : c & (0x7Fu >> n);
        for (size_t k = 1; k < n; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d >> 6) != 2) return false;
            code = (code << 6) | (d & 0x3Fu);
        }
        const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

// The integer after "key": in a JSON text, or -1 when the key is missing.
long long JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::atoll(json.c_str() + at + key.size() + 3);
}

class QvSplitCliTest : public qvtest::ProgramTest {
protected:
    QvSplitCliTest() : ProgramTest("qvsplit-cli-test-") {}
    // The path as a rules file gives it to the library (drive C is / on POSIX).
    std::string Lib(const std::string& rel) const {
#if defined(_WIN32)
        std::string path = S(rel);
#else
        std::string path = "C:" + S(rel);
#endif
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }

    void Sparse(const std::string& rel, uint64_t size) const {
        fs::create_directories(P(rel).parent_path());
        { std::ofstream touch(P(rel), std::ios::binary); }
        fs::resize_file(P(rel), size);
    }

    // A tree of 25 files of 1 MB, a small one with a non-ASCII name and a 15 MB image.
    void MakeTree() const {
        for (int i = 1; i <= 25; ++i) Sparse("tree/docs/a" + std::to_string(i) + ".bin", MB);
        Write("tree/docs/Été report.txt", "hi\n");
        Sparse("tree/big.iso", 15 * MB);
    }

    Child Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) const {
        return Child(m_program, args, m_root / "scratch", S("tmp"), env, m_runAs);
    }
    RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) const {
        return Start(args, env).Wait();
    }

    std::vector<std::string> MediaFiles(const std::string& rel) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(P(rel), ec)) {
            const std::string name = e.path().filename().string();
            if (name.size() > 9 && (name.compare(0, 5, "Media") == 0 || name.compare(0, 5, "media") == 0))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    int m_runAs = -1;  // POSIX user id the program runs as (when the tests run as root)
};

TEST_F(QvSplitCliTest, UsageErrorsExitTwoWithAMessage) {
    MakeTree();
    Write("rules.xml", "<RulesFile/>");
    struct Row {
        const char* label;
        std::vector<std::string> args;
        const char* message;
    };
    const Row rows[] = {
        {"no command", {}, "no command"},
        {"unknown command", {"spilt"}, "unknown command"},
        {"help of an unknown command", {"help", "spilt"}, "unknown command"},
        {"version with more", {"--version", "split"}, "--version takes nothing"},
        {"unknown generated form", {"--generate", "html"}, "--generate takes"},
        {"option of a command given to another", {"show", "--estimate", S("out")}, "unknown option"},
        {"no --size", {"split", "--out", S("out"), S("tree")}, "--size is required"},
        {"size zero", {"split", "--size", "0", "--out", S("out"), S("tree")}, "--size takes"},
        {"no --out", {"split", "--size", "10", S("tree")}, "--out is required"},
        {"unknown option", {"split", "--size", "10", "--out", S("out"), "--bogus", S("tree")}, "unknown option"},
        {"option of another command", {"show", "--size", "10", S("out")}, "unknown option"},
        {"missing path", {"split", "--size", "10", "--out", S("out"), S("tree/nope")}, "no such file or folder"},
        {"paths and rules", {"split", "--size", "10", "--out", S("out"), "--rules", S("rules.xml"), S("tree")}, "either PATH"},
        {"neither paths nor rules", {"split", "--size", "10", "--out", S("out")}, "either PATH"},
        {"value missing", {"split", "--out", S("out"), S("tree"), "--size"}, "needs a value"},
        {"bad method", {"split", "--size", "10", "--method", "fast", "--out", S("out"), S("tree")}, "--method"},
        {"bad file system", {"split", "--size", "cd", "--fs", "fat", "--out", S("out"), S("tree")}, "--fs takes"},
        {"label with a space", {"split", "--size", "10", "--label", "my set", "--out", S("out"), S("tree")}, "--label takes"},
        {"label too long", {"split", "--size", "10", "--label", std::string(25, 'L'), "--out", S("out"), S("tree")}, "--label takes"},
        {"rvx without paths", {"rvx", "--size", "10", "--out", S("out")}, "PATH"},
        {"recover without list", {"recover"}, "--list is required"},
        {"show with two folders", {"show", S("a"), S("b")}, "wrong number"},
        {"cut without --yes off a terminal", {"split", "--size", "21", "--out", S("out"), "--cut-big", S("parts.ini"), S("tree")}, "--yes"},
        {"catalogue room with cutting", {"split", "--size", "21", "--catalog", "--yes", "--cut-big", S("parts.ini"), "--out", S("out"), S("tree")}, "cannot go with --cut-big"},
        {"report without a folder", {"report"}, "report takes one media folder"},
        {"report of two folders", {"report", S("a"), S("b")}, "report takes one media folder"},
        {"report option of another command", {"report", "--size", "10", S("out")}, "unknown option"},
        {"check of nothing", {"check"}, "check takes one or more"},
        {"restore without --to", {"restore", S("a.iso")}, "--to is required"},
        {"restore of nothing", {"restore", "--to", S("back")}, "restore takes one or more"},
        {"restore option of another command", {"restore", "--to", S("back"), "--force", S("a.iso")}, "unknown option"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const RunResult r = Run(row.args);
        EXPECT_EQ(2, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(row.message)) << r.err;
    }
    // Nothing was planned, and the refused cut changed no file.
    EXPECT_TRUE(MediaFiles("out").empty());
    EXPECT_EQ(15 * MB, fs::file_size(P("tree/big.iso")));
    EXPECT_FALSE(fs::exists(P("parts.ini")));
}

TEST_F(QvSplitCliTest, HelpOfEveryCommandExitsZero) {
    for (const char* command : {"split", "rvx", "recover", "show", "where", "verify", "pack", "demo", "report", "check", "restore"}) {
        SCOPED_TRACE(command);
        const RunResult r = Run({command, "--help"});
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, r.out.find(std::string("Usage: qvsplit ") + command)) << r.out;
        EXPECT_EQ(r.out, Run({"help", command}).out);
    }
    const RunResult overview = Run({"help"});
    EXPECT_EQ(0, overview.status);
    EXPECT_NE(std::string::npos, overview.out.find("Commands:")) << overview.out;
}

TEST_F(QvSplitCliTest, SummaryShowsEveryMediumTotalBoundAndLeftOutFiles) {
    MakeTree();
    const RunResult r = Run({"split", "--size", "10", "--out", S("out"), S("tree")});
    ASSERT_EQ(0, r.status) << r.err;
    const std::vector<std::string> media = MediaFiles("out");
    ASSERT_EQ(3u, media.size()) << r.out;  // 25 MB and 3 bytes on 10 MB media
    for (const std::string& name : media) EXPECT_NE(std::string::npos, r.out.find("\n" + name + " ")) << name << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find("total 25.0 MB on 3 media of 10 MB; lower bound 3 (difference 0)")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("LEFT OUT - on no medium (1):")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(S("tree/big.iso") + "  15.0 MB")) << r.out;
    // The left-out file is really on no medium.
    for (const std::string& name : media) EXPECT_EQ(std::string::npos, ReadText(P("out/" + name)).find("big.iso")) << name;
}

// Under a disc model a medium holds what its image holds: a file that fits a medium in bytes
// but not with the file system's structures is left out, and each medium shows its image.
TEST_F(QvSplitCliTest, DiscModelCountsTheImageNotTheBytes) {
    Sparse("tree/near.bin", MB - 64 * 1024);
    for (int i = 0; i < 40; ++i) Write("tree/small/f" + std::to_string(i) + ".txt", "x");
    Write("tree/other.txt", "y");
    // Links whose targets no ISO image can store (over 1,023 bytes, or a name in it over 255
    // bytes) are left out under a disc model; those just within stay. Tar stores them all.
    std::string longTarget;
    while (longTarget.size() < 1100) longTarget += std::string(49, 'y') + "/";
    struct Link {
        const char* name;
        std::string target;
        bool discStores;
    };
    const Link links[] = {
        {"far-link", longTarget.substr(0, 1100), false},
        {"target-1024", longTarget.substr(0, 1024), false},
        {"target-1023", longTarget.substr(0, 1023), true},
        {"name-256", "a/" + std::string(256, 'n'), false},
        {"name-255", "a/" + std::string(255, 'n') + "/b", true},
    };
    if (kPosix)
        for (const Link& link : links) fs::create_symlink(link.target, P(std::string("tree/small/") + link.name));
    struct Row {
        const char* fs;
        bool nearPlanned;
        const char* header;  // of the summary's table
        bool disc;
    };
    const Row rows[] = {
        {"none", true, "size    fill", false},
        {"iso", false, "size         image    fill", true},
        {"iso-udf", false, "size         image    fill", true},
        {"tar", true, "size         image    fill", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fs);
        const std::string out = std::string("out-") + row.fs;
        const RunResult r = Run({"split", "--size", "1", "--fs", row.fs, "--out", S(out), S("tree")});
        ASSERT_EQ(0, r.status) << r.err;
        std::string plans;
        for (const std::string& name : MediaFiles(out)) plans += ReadText(P(out + "/" + name));
        EXPECT_EQ(row.nearPlanned, plans.find("near.bin") != std::string::npos) << r.out;
        EXPECT_EQ(!row.nearPlanned, r.out.find(S("tree/near.bin") + "  0.9 MB  (larger than a medium") !=
                                        std::string::npos) << r.out;
        EXPECT_NE(std::string::npos, r.out.find(row.header)) << r.out;
        EXPECT_EQ(std::string::npos, r.out.find("OVER CAPACITY")) << r.out;
        EXPECT_NE(std::string::npos, plans.find("f39.txt"));
        for (const Link& link : links) {
            if (!kPosix) break;
            SCOPED_TRACE(link.name);
            const bool planned = !row.disc || link.discStores;
            EXPECT_EQ(planned, plans.find(link.name) != std::string::npos) << r.out;
            EXPECT_EQ(!planned, r.out.find(S(std::string("tree/small/") + link.name) +
                                           "  0.0 MB  (link target longer than the file system can store)") !=
                                    std::string::npos) << r.out;
        }
        if (!kPosix) continue;
        // An item-list item is placed whole: a folder holding such a link is left out whole.
        const std::string itemsOut = out + "-items";
        const RunResult items = Run({"rvx", "--size", "1", "--fs", row.fs, "--out", S(itemsOut), S("tree/small"), S("tree/other.txt")});
        ASSERT_EQ(0, items.status) << items.err;
        std::string itemPlans;
        for (const std::string& name : MediaFiles(itemsOut)) itemPlans += ReadText(P(itemsOut + "/" + name));
        EXPECT_NE(std::string::npos, itemPlans.find("other.txt"));
        EXPECT_EQ(!row.disc, itemPlans.find("small") != std::string::npos) << items.out;
        EXPECT_EQ(row.disc, items.out.find(S("tree/small") + "  0.0 MB  (link target longer than the file system can store)") !=
                                std::string::npos) << items.out;
    }
}

// A rule that selects nothing is shown, listed in the JSON and refused under --strict; a
// pattern in the last component of a path or an exclusion selects what it matches.
TEST_F(QvSplitCliTest, DroppedRulesAreShownAndPatternsSelect) {
    MakeTree();
    Write("rules.xml", "<RulesFile>\n"
                       "<Rule RuleID=\"1\" Action=\"INCLUDE\" Location=\"Any\"><SourcePath>" + Lib("tree/docs") +
                       "</SourcePath><TargetPath>\\r</TargetPath></Rule>\n"
                       "<Rule RuleID=\"2\" Action=\"INCLUDE\" Location=\"Any\"><SourcePath>" + Lib("tree/gone/*.txt") +
                       "</SourcePath><TargetPath>\\r</TargetPath></Rule>\n</RulesFile>\n");
    const std::string warning = "WARNING: rule 2 (" + S("tree/gone/*.txt") + ") selects nothing: path not found";
    const RunResult text = Run({"split", "--size", "10", "--out", S("out"), "--rules", S("rules.xml")});
    EXPECT_EQ(0, text.status) << text.err;
    EXPECT_NE(std::string::npos, text.out.find(warning)) << text.out;
    const RunResult json = Run({"split", "--json", "--size", "10", "--out", S("out"), "--rules", S("rules.xml")});
    EXPECT_NE(std::string::npos, json.out.find("\"dropped_rules\": [\n    {\"rule\": 2, \"path\": \"" +
                                               JsonEscaped(S("tree/gone/*.txt")) + "\", \"reason\": \"path not found\"}"))
        << json.out;
    const RunResult strict = Run({"split", "--strict", "--size", "10", "--out", S("strict"), "--rules", S("rules.xml")});
    EXPECT_EQ(1, strict.status);
    EXPECT_NE(std::string::npos, strict.err.find(warning)) << strict.err;
    EXPECT_TRUE(MediaFiles("strict").empty());
    EXPECT_FALSE(fs::exists(P("strict/qvsplit-plan.xml")));
    // The set keeps the dropped rule, and its report shows it.
    EXPECT_NE(std::string::npos, ReadText(P("out/qvsplit-plan.xml")).find("<DroppedRule Rule=\"2\" Reason=\"path not found\">"))
        << ReadText(P("out/qvsplit-plan.xml"));
    ASSERT_EQ(0, Run({"report", S("out")}).status);
    EXPECT_NE(std::string::npos, ReportData(P("out/qvsplit-report.html")).find(
                                     "\"dropped\": [\n{\"rule\": 2, \"path\": \"" + JsonEscaped(S("tree/gone/*.txt")) +
                                     "\", \"reason\": \"path not found\"}]"));

    const RunResult pattern = Run({"split", "--size", "10", "--out", S("pattern"), S("tree/docs/a1?.bin"),
                                   S("tree/docs"), "--exclude", S("tree/docs/*.bin")});
    ASSERT_EQ(0, pattern.status) << pattern.err;
    std::string plans;
    for (const std::string& name : MediaFiles("pattern")) plans += ReadText(P("pattern/" + name));
    EXPECT_NE(std::string::npos, plans.find("report.txt")) << plans;
    EXPECT_EQ(std::string::npos, plans.find("a1.bin")) << plans;
    EXPECT_EQ(std::string::npos, plans.find("a25.bin")) << plans;
}

// Paths given that are restored under one name are warned of, naming both, since what they
// hold would be restored over each other; the plan is made all the same.
TEST_F(QvSplitCliTest, PathsRestoredUnderOneNameAreWarnedOf) {
    Write("a/docs/r.txt", "a");
    Write("b/Docs/r.txt", "b");
    Write("one/x", "1");
    Write("two/x", "2");
    const std::string both = " are both restored as \\";
    const struct Row {
        const char* label;
        std::vector<std::string> args;  // the command and its paths
        std::string warning;            // empty: none
    } rows[] = {
        {"two folders", {"split", S("a/docs"), S("b/Docs")},
         S("a/docs") + " and " + S("b/Docs") + both + "Docs, the one over the other (a rules file, --rules"},
        {"two files", {"split", S("one/x"), "--last", S("two/x")}, S("one/x") + " and " + S("two/x") + both + "x, the one"},
        {"two item-list folders", {"rvx", S("a/docs"), S("b/Docs")}, S("a/docs") + " and " + S("b/Docs") + both + "Docs, the one over the other\n"},
        {"one path twice", {"split", S("a/docs"), S("a/docs")}, ""},
        {"a folder and one inside it", {"split", S("a"), S("a/docs")}, ""},
        {"names of their own", {"split", S("a/docs"), S("one/x")}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<std::string> args = row.args;
        const std::vector<std::string> options{"--quiet", "--size", "10", "--out", S(std::string("out-") + row.label)};
        args.insert(args.begin() + 1, options.begin(), options.end());
        const RunResult r = Run(args);
        EXPECT_EQ(0, r.status) << r.err;
        if (row.warning.empty())
            EXPECT_TRUE(r.err.empty()) << r.err;
        else
            EXPECT_NE(std::string::npos, r.err.find(row.warning)) << r.err;
    }
}

TEST_F(QvSplitCliTest, JsonSummaryCarriesCountBoundAndLeftOut) {
    MakeTree();
    // A name with a byte that is not UTF-8 is given with U+F000 plus the byte, so the JSON stays
    // valid UTF-8.
    if (kPosix) Sparse("tree/odd\xfe.iso", 12 * MB);
    const RunResult r = Run({"split", "--json", "--size", "10", "--out", S("out"), S("tree")});
    EXPECT_EQ(r.out, qvp::WideToUtf8(qvp::Utf8ToWide(r.out))) << "not valid UTF-8";
    if (kPosix) {
        EXPECT_NE(std::string::npos, r.out.find(JsonEscaped(S("tree/odd")) + "\xEF\x83\xBE.iso\", \"size\": 12582912"))
            << r.out;
    }
    ASSERT_EQ(0, r.status) << r.err;
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ('{', r.out.front());
    EXPECT_EQ("}\n", r.out.substr(r.out.size() - 2));
    EXPECT_EQ(3, JsonNumber(r.out, "media_count")) << r.out;
    EXPECT_EQ(3, JsonNumber(r.out, "lower_bound")) << r.out;
    EXPECT_EQ(0, JsonNumber(r.out, "difference")) << r.out;
    EXPECT_EQ(static_cast<long long>(25 * MB + 3), JsonNumber(r.out, "total_size")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("\"fill\": 90.00, \"over_capacity\": false}")) << r.out;
    const size_t leftOut = r.out.find("\"left_out\": [");
    ASSERT_NE(std::string::npos, leftOut) << r.out;
    const std::string tail = r.out.substr(leftOut);
    EXPECT_NE(std::string::npos, tail.find("{\"path\": \"" + JsonEscaped(S("tree/big.iso")) + "\", \"size\": 15728640")) << r.out;
    EXPECT_EQ(3u, MediaFiles("out").size());
}

TEST_F(QvSplitCliTest, LeftOutFilesAreListedWhateverTheLogSettings) {
    MakeTree();
    struct Row {
        const char* label;
        std::vector<std::string> env;
        bool logOption;       // --log FILE
        const char* onStderr; // text the trace must show on standard error
    };
    const Row rows[] = {
        {"no log", {}, false, nullptr},
        {"log on standard error", {"QVSPLIT_LOG=-"}, false, "[WARNING]"},
        {"log of errors only", {"QVSPLIT_LOG=" + S("env.log"), "QVSPLIT_LOG_LEVEL=error"}, false, nullptr},
        {"--log", {}, true, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::vector<std::string> args{"split", "--size", "10", "--out", S("out"), S("tree")};
        if (row.logOption) args.insert(args.end(), {"--log", S("opt.log")});
        const RunResult r = Run(args, row.env);
        ASSERT_EQ(0, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.out.find("LEFT OUT - on no medium (1):")) << r.out;
        EXPECT_NE(std::string::npos, r.out.find(S("tree/big.iso") + "  15.0 MB")) << r.out;
        if (row.onStderr) {
            EXPECT_NE(std::string::npos, r.err.find(row.onStderr)) << r.err;
        }
    }
    EXPECT_NE(std::string::npos, ReadText(P("opt.log")).find("big.iso"));
    // The list comes from the library's report, so a log that keeps only errors stays so.
    EXPECT_EQ(std::string::npos, ReadText(P("env.log")).find("[WARNING]"));
}

#if !defined(_WIN32)
TEST_F(QvSplitCliTest, EverythingLeftOutIsListedWithItsReasonAndShownAgain) {
    MakeTree();
    ASSERT_EQ(0, mkfifo(S("tree/pipe").c_str(), 0644));
    Write("tree/locked/secret.txt", "s");
    fs::create_directories(P("out"));
    if (geteuid() == 0) {
        // Root reads every folder: the program runs as nobody, for whom "locked" is closed.
        m_runAs = 65534;
        for (const char* dir : {"out", "tmp"}) fs::permissions(P(dir), fs::perms::all);
        fs::permissions(m_root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    }
    fs::permissions(P("tree/locked"), fs::perms::none);
    const RunResult r = Run({"split", "--size", "10", "--out", S("out"), S("tree")});
    const RunResult json = Run({"split", "--json", "--size", "10", "--out", S("out"), S("tree")});
    const RunResult show = Run({"show", S("out")});
    const RunResult verify = Run({"verify", S("out")});
    fs::permissions(P("tree/locked"), fs::perms::owner_all);
    ASSERT_EQ(0, r.status) << r.err;
    struct Row {
        const char* path;
        const char* text;  // as the summary lists it
        const char* json;  // size and reason in the JSON summary
    };
    const Row rows[] = {
        {"tree/big.iso", "  15.0 MB  (larger than a medium", "\"size\": 15728640, \"reason\": \"larger than a medium"},
        {"tree/locked", "  size unknown  (folder cannot be read", "\"size\": null, \"reason\": \"folder cannot be read"},
        {"tree/pipe", "  size unknown  (pipe, socket or device", "\"size\": null, \"reason\": \"pipe, socket or device"},
    };
    EXPECT_NE(std::string::npos, r.out.find("LEFT OUT - on no medium (3):")) << r.out;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_NE(std::string::npos, r.out.find(S(row.path) + row.text)) << r.out;
        EXPECT_NE(std::string::npos, show.out.find(S(row.path) + row.text)) << show.out;
        EXPECT_NE(std::string::npos, json.out.find("{\"path\": \"" + JsonEscaped(S(row.path)) + "\", " + row.json)) << json.out;
    }
    EXPECT_EQ(0, show.status) << show.err;
    EXPECT_EQ(0, verify.status) << verify.out;
    EXPECT_EQ(std::string::npos, r.out.find("secret.txt")) << r.out;
}
#endif

// Every refusal names its cause, in the text and as a JSON object with --json, and lists what
// was left out.
TEST_F(QvSplitCliTest, RefusedSplitExitsOneAndSaysWhy) {
    MakeTree();
    fs::create_directories(P("empty"));
    Sparse("only/big.bin", 2 * MB);
    const struct {
        const char* label;
        std::vector<std::string> selection;
        const char* size;
        const char* cause;    // in the text and as the JSON "reason"
        const char* leftOut;  // a path listed as left out, or null
    } rows[] = {
        // 25 MB that must all go on the first 10 MB medium cannot be planned.
        {"first medium overfull", {"--first", "tree/docs"}, "10", "first medium does not fit", nullptr},
        {"an empty folder", {"empty"}, "1", "nothing was selected", nullptr},
        {"only a file larger than a medium", {"only"}, "1", "everything selected is left out", "only/big.bin"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        // A set of an earlier split stands in the folder: the refused one takes it away whole.
        ASSERT_EQ(0, Run({"split", "--quiet", "--size", "10", "--out", S("out"), S("tree")}).status);
        ASSERT_TRUE(fs::exists(P("out/qvsplit-plan.xml")));
        std::vector<std::string> args{"split", "--size", row.size, "--out", S("out")};
        for (const std::string& a : row.selection) args.push_back(a.compare(0, 2, "--") == 0 ? a : S(a));
        const RunResult r = Run(args);
        EXPECT_EQ(1, r.status) << r.out;
        EXPECT_NE(std::string::npos, r.err.find("the split was refused: ")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find(row.cause)) << r.err;
        EXPECT_EQ(std::string::npos, r.err.find("no error message")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        // Nothing that describes a plan stays behind a refusal.
        EXPECT_TRUE(MediaFiles("out").empty());
        EXPECT_FALSE(fs::exists(P("out/qvsplit-plan.xml")));
        args.push_back("--json");
        const RunResult json = Run(args);
        EXPECT_EQ(1, json.status);
        ASSERT_FALSE(json.out.empty()) << json.err;
        EXPECT_EQ(0u, json.out.find("{\n  \"error\": \"the split was refused\",\n  \"reason\": \"")) << json.out;
        EXPECT_NE(std::string::npos, json.out.find(row.cause)) << json.out;
        EXPECT_EQ("}\n", json.out.substr(json.out.size() - 2));
        if (row.leftOut) {
            EXPECT_NE(std::string::npos, r.err.find("LEFT OUT - on no medium (1):\n  " + S(row.leftOut))) << r.err;
            EXPECT_NE(std::string::npos, json.out.find("{\"path\": \"" + JsonEscaped(S(row.leftOut)) + "\", \"size\": ")) << json.out;
        } else {
            EXPECT_NE(std::string::npos, json.out.find("\"left_out\": []")) << json.out;
        }
    }
}

TEST_F(QvSplitCliTest, InterruptCancelsTheSplitWithStatusThree) {
#if defined(_WIN32)
    GTEST_SKIP() << "Ctrl-C cannot be sent to one child process alone on Windows";
#endif
    // A tree of empty files takes long enough to scan that the signal lands mid-split; a
    // machine too fast for it gets a bigger tree before the test gives up.
    int made = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int target = attempt == 0 ? 20000 : 60000;
        for (; made < target; ++made) {
            const fs::path dir = P("many/d" + std::to_string(made / 1000));
            if (made % 1000 == 0) fs::create_directories(dir);
            std::ofstream touch(dir / ("f" + std::to_string(made)));
        }
        Child child = Start({"split", "--quiet", "--method", "files", "--size", "700", "--out", S("out"), S("many")});
        // The output folder appears only after the Ctrl-C handler is in place.
        for (int i = 0; i < 2000 && !fs::exists(P("out")); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(child.Interrupt());
        const RunResult r = child.Wait();
        if (r.status == 0) {
            fs::remove_all(P("out"));
            continue;  // finished before the signal arrived
        }
        EXPECT_EQ(3, r.status) << "signal " << r.signal << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find("cancelled")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        // A stopped split keeps no media set that show or verify would take for a whole one.
        EXPECT_TRUE(MediaFiles("out").empty());
        EXPECT_FALSE(fs::exists(P("out/qvsplit-incomplete")));
        EXPECT_FALSE(fs::exists(P("out/qvsplit-plan.xml")));
        return;
    }
    GTEST_SKIP() << "the split of " << made << " files finished before the signal arrived";
}

TEST_F(QvSplitCliTest, RvxEstimateKeepsNoFileAndMatchesTheRealSplit) {
    // Four folders of 6 MB as whole items: three fit on a 20 MB medium, the fourth goes on a second.
    std::vector<std::string> items;
    for (int f = 1; f <= 4; ++f) {
        for (int i = 0; i < 6; ++i) Sparse("items/f" + std::to_string(f) + "/x" + std::to_string(i) + ".bin", MB);
        items.push_back(S("items/f" + std::to_string(f)));
    }
    std::vector<std::string> args{"rvx", "--size", "20", "--out", S("est"), "--estimate", "--json"};
    args.insert(args.end(), items.begin(), items.end());
    const RunResult estimate = Run(args);
    ASSERT_EQ(0, estimate.status) << estimate.err;
    EXPECT_EQ(static_cast<long long>(24 * MB), JsonNumber(estimate.out, "total_size")) << estimate.out;
    EXPECT_EQ(2, JsonNumber(estimate.out, "media_count")) << estimate.out;
    EXPECT_TRUE(MediaFiles("est").empty());

    args = {"rvx", "--size", "20", "--out", S("real")};
    args.insert(args.end(), items.begin(), items.end());
    const RunResult real = Run(args);
    ASSERT_EQ(0, real.status) << real.err;
    EXPECT_EQ((std::vector<std::string>{"media1.xml", "media2.xml"}), MediaFiles("real"));
    EXPECT_NE(std::string::npos, real.out.find("total 24.0 MB on 2 media of 20 MB; lower bound 2")) << real.out;

    args = {"rvx", "--size", "20", "--out", S("est"), "--estimate"};
    args.insert(args.end(), items.begin(), items.end());
    const RunResult text = Run(args);
    ASSERT_EQ(0, text.status) << text.err;
    EXPECT_EQ("2 media, 24.0 MB in all\n", text.out);

    // An item larger than a medium is refused with the library's reason, an every-medium one
    // too (it would be on no medium), in the text and in the JSON.
    Sparse("items/huge/h.bin", 30 * MB);
    const std::vector<std::vector<std::string>> refused = {
        {"rvx", "--size", "20", "--out", S("est"), "--estimate", S("items/huge")},
        {"rvx", "--size", "20", "--out", S("est"), "--estimate", S("items/f1"), "--all", S("items/huge")},
        {"rvx", "--size", "20", "--out", S("real"), S("items/f1"), "--all", S("items/huge")},
    };
    for (std::vector<std::string> huge : refused) {
        SCOPED_TRACE(huge.back());
        const RunResult r = Run(huge);
        EXPECT_EQ(1, r.status);
        EXPECT_NE(std::string::npos, r.err.find("does not fit")) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("SPLIT Error Item " + Lib("items/huge") + " size=")) << r.err;
        huge.push_back("--json");
        const RunResult json = Run(huge);
        EXPECT_EQ(1, json.status);
        EXPECT_NE(std::string::npos, json.out.find("\"error\": \"the item-list split failed\"")) << json.out;
        EXPECT_NE(std::string::npos, json.out.find("\"message\": \"CQvSplit::SplitRVX(...) SPLIT Error Item ")) << json.out;
    }
    EXPECT_TRUE(MediaFiles("real").empty());
}

// Folder items that hold files of the same name are each restored into a folder of their own
// name: poured into one folder, one file would overwrite the other.
TEST_F(QvSplitCliTest, RvxFolderItemsAreRestoredUnderTheirOwnNames) {
    Write("items/d1/a.txt", "one");
    Write("items/d2/a.txt", "two");
    Write("items/b.txt", "three");
    const RunResult r = Run({"rvx", "--quiet", "--size", "10", "--out", S("out"), S("items/d1"), S("items/d2"),
                             S("items/b.txt")});
    ASSERT_EQ(0, r.status) << r.err;
    const std::string medium = ReadText(P("out/media1.xml"));
    EXPECT_NE(std::string::npos, medium.find("<TargetPath><![CDATA[\\d1]]></TargetPath>")) << medium;
    EXPECT_NE(std::string::npos, medium.find("<TargetPath><![CDATA[\\d2]]></TargetPath>")) << medium;
    // A file item keeps its name where it is restored.
    EXPECT_NE(std::string::npos, medium.find("<TargetPath><![CDATA[]]></TargetPath>")) << medium;
    const RunResult pack = Run({"pack", "--quiet", "--format", "list", "--to", S("lists"), S("out")});
    ASSERT_EQ(0, pack.status) << pack.err;
    const std::string list = ReadText(P("lists/media1.list"));
    EXPECT_NE(std::string::npos, list.find("/d1=")) << list;
    EXPECT_NE(std::string::npos, list.find("/d2=")) << list;
}

TEST_F(QvSplitCliTest, ItemListMediaStayBelowTheirSizeAndAnOverfullOneIsFlagged) {
    // Twelve files of 1 MB and one of 15 MB on 20 MB media: single files are tested like
    // folders, so 27 MB cannot land on one medium.
    std::vector<std::string> args{"rvx", "--size", "20", "--out", S("out")};
    for (int i = 1; i <= 12; ++i) {
        Sparse("items/a" + std::to_string(i) + ".bin", MB);
        args.push_back(S("items/a" + std::to_string(i) + ".bin"));
    }
    Sparse("items/big.iso", 15 * MB);
    args.push_back(S("items/big.iso"));
    const RunResult r = Run(args);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(2u, MediaFiles("out").size()) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("OVER CAPACITY")) << r.out;

    // A set planned beyond a medium's size (here edited by hand) is flagged by show.
    std::string medium = ReadText(P("out/media1.xml"));
    const size_t at = medium.find("Media_Size=\"");
    ASSERT_NE(std::string::npos, at);
    medium.replace(at, medium.find('"', at + 12) - at + 1, "Media_Size=\"" + std::to_string(21 * MB) + "\"");
    Write("out/media1.xml", medium);
    const RunResult show = Run({"show", S("out")});
    EXPECT_NE(std::string::npos, show.out.find("OVER CAPACITY: media1.xml")) << show.out;
    const RunResult json = Run({"show", "--json", S("out")});
    EXPECT_NE(std::string::npos, json.out.find("\"over_capacity\": true")) << json.out;
}

TEST_F(QvSplitCliTest, CutFileIsRecoveredByteForByte) {
    const std::string original = Pattern(22 * MB + 12345);
    Write("tree/data/big.dat", original);
    Write("tree/data/small.txt", "small\n");
    // The part list separates its fields with "|"; a name holding one is still cut and joined.
    if (kPosix) Sparse("tree/data/odd|name.dat", 21 * MB + 7);
    // A small file whose name differs only in case is another file: the join never writes it.
    if (kPosix) Write("tree/data/BIG.DAT", "precious\n");
    const RunResult cut = Run({"split", "--yes", "--quiet", "--size", "21", "--cut-big", S("parts.ini"), "--out", S("out"), S("tree")});
    ASSERT_EQ(0, cut.status) << cut.err;
    EXPECT_NE(std::string::npos, cut.err.find("DELETES")) << cut.err;  // the warning comes first
    EXPECT_FALSE(fs::exists(P("tree/data/big.dat")));
    ASSERT_TRUE(fs::exists(P("parts.ini")));
    EXPECT_NE(std::string::npos, ReadText(P("parts.ini")).find("big.dat|")) << ReadText(P("parts.ini"));

    // Parts of 1 MB (21 - 20), named after the file, and every byte in them.
    size_t parts = 0;
    uint64_t bytes = 0;
    for (const auto& e : fs::directory_iterator(P("tree/data"))) {
        const std::string name = e.path().filename().string();
        if (name.rfind("big.dat.", 0) != 0 || name.find(".Part") == std::string::npos) continue;
        ++parts;
        bytes += fs::file_size(e.path());
        EXPECT_LE(fs::file_size(e.path()), MB) << name;
    }
    EXPECT_EQ(23u, parts);
    EXPECT_EQ(original.size(), bytes);
    // The media list the parts, not the cut file.
    std::string media;
    for (const std::string& name : MediaFiles("out")) media += ReadText(P("out/" + name));
    EXPECT_NE(std::string::npos, media.find(".Part23")) << media.substr(0, 2000);

    const RunResult recover = Run({"recover", "--list", S("parts.ini")});
    ASSERT_EQ(0, recover.status) << recover.err;
    ASSERT_TRUE(fs::exists(P("tree/data/big.dat")));
    EXPECT_TRUE(ReadText(P("tree/data/big.dat")) == original) << "rebuilt file differs from the original";
    if (kPosix) {
        EXPECT_EQ(21 * MB + 7, fs::file_size(P("tree/data/odd|name.dat")));
        EXPECT_EQ("precious\n", ReadText(P("tree/data/BIG.DAT")));
    }
    EXPECT_EQ("small\n", ReadText(P("tree/data/small.txt")));
    for (const auto& e : fs::directory_iterator(P("tree/data")))
        EXPECT_EQ(std::string::npos, e.path().filename().string().find(".Part")) << e.path();

    const RunResult missing = Run({"recover", "--list", S("nope.ini")});
    EXPECT_EQ(2, missing.status);
}

TEST_F(QvSplitCliTest, RefusedCutChangesNoFileAndAListWithPartsIsKept) {
    // Three files a 21 MB medium cannot hold whole; 22 MB that must all go on the first medium
    // make the split fail the size check, which runs before anything is cut.
    Sparse("tree/big/a.bin", 21 * MB + 1);
    Sparse("tree/big/b.bin", 21 * MB);
    Sparse("tree/big/c.bin", 50 * MB);
    for (int i = 0; i < 22; ++i) Sparse("first/f" + std::to_string(i) + ".bin", MB);
    const RunResult refused = Run({"split", "--yes", "--quiet", "--size", "21", "--cut-big", S("parts.ini"),
                                   "--out", S("out"), "--first", S("first"), S("tree")});
    EXPECT_EQ(1, refused.status) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("first medium does not fit")) << refused.err;
    EXPECT_EQ((std::vector<std::string>{"a.bin", "b.bin", "c.bin"}), [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(P("tree/big"))) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }());
    EXPECT_EQ(21 * MB + 1, fs::file_size(P("tree/big/a.bin")));
    EXPECT_EQ(std::string::npos, ReadText(P("parts.ini")).find("File0")) << ReadText(P("parts.ini"));
    EXPECT_TRUE(MediaFiles("out").empty());

    // Without the first-medium files the three are cut; a second split may not start a new
    // list over the one that records them.
    const RunResult cut = Run({"split", "--yes", "--quiet", "--size", "21", "--cut-big", S("parts.ini"),
                               "--out", S("out"), S("tree")});
    ASSERT_EQ(0, cut.status) << cut.err;
    const std::string list = ReadText(P("parts.ini"));
    EXPECT_NE(std::string::npos, list.find("File2=")) << list;
    const RunResult again = Run({"split", "--yes", "--quiet", "--size", "21", "--cut-big", S("parts.ini"),
                                 "--out", S("out2"), S("tree")});
    EXPECT_EQ(1, again.status) << again.err;
    EXPECT_NE(std::string::npos, again.err.find("still records")) << again.err;
    EXPECT_EQ(list, ReadText(P("parts.ini")));
    EXPECT_EQ(std::string::npos, again.err.find("DELETES")) << "refused before the warning and the question";
}

TEST_F(QvSplitCliTest, ShowAndWhereReadAMediaSetBack) {
    MakeTree();
    if (kPosix) std::ofstream(P("tree/docs/we*ird\\name.txt")) << "x";
    const RunResult split = Run({"split", "--quiet", "--size", "10", "--out", S("out"), S("tree")});
    ASSERT_EQ(0, split.status) << split.err;

    const RunResult show = Run({"show", S("out")});
    ASSERT_EQ(0, show.status) << show.err;
    EXPECT_NE(std::string::npos, show.out.find("total 25.0 MB on 3 media of 10 MB; lower bound 3")) << show.out;
    // The split's own summary has the same table, and the left-out list besides.
    EXPECT_EQ(0u, split.out.find(show.out)) << split.out << "\n--\n" << show.out;

    const RunResult showJson = Run({"show", "--json", S("out")});
    ASSERT_EQ(0, showJson.status);
    EXPECT_EQ(3, JsonNumber(showJson.out, "media_count")) << showJson.out;

    struct Row {
        const char* text;
        int status;
        const char* expected;  // a path the answer must hold, relative to the test folder
        const char* shown;     // how the answer shows its name, when not as it is
    };
    const Row rows[] = {
        {"a7.bin", 0, "tree/docs/a7.bin", nullptr},
        {"A7.BIN", 0, "tree/docs/a7.bin", nullptr},
        {"Été report", 0, "tree/docs/Été report.txt", nullptr},
        // The real name, not the one Windows would take, its backslash doubled as names are shown.
        {"we*ird", kPosix ? 0 : 1, kPosix ? "tree/docs/we*ird\\name.txt" : nullptr, "tree/docs/we*ird\\\\name.txt"},
        {"big.iso", 1, nullptr, nullptr},  // left out: on no medium
        {"zzz", 1, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const RunResult where = Run({"where", S("out"), row.text});
        EXPECT_EQ(row.status, where.status) << where.out;
        if (!row.expected) {
            EXPECT_TRUE(where.out.empty()) << where.out;
            EXPECT_NE(std::string::npos, where.err.find(std::string(" lists a path containing ") + row.text)) << where.err;
            continue;
        }
        EXPECT_NE(std::string::npos, where.out.find(S(row.shown ? row.shown : row.expected))) << where.out;
        const std::string medium = where.out.substr(0, where.out.find("  "));
        // The media file holds the name as the library lists it (refused characters mapped).
        const std::string listed = qvp::WideToUtf8(qvp::HostNameToWide(fs::u8path(row.expected).filename().u8string()));
        EXPECT_NE(std::string::npos, ReadText(P("out/" + medium)).find(listed));
    }

    const RunResult none = Run({"show", S("tree")});
    EXPECT_EQ(1, none.status);
    EXPECT_NE(std::string::npos, none.err.find("no media files")) << none.err;

    // A split killed while writing leaves its marker: the set is refused as incomplete.
    Write("out/qvsplit-incomplete", "");
    for (const char* command : {"show", "verify"}) {
        const RunResult killed = Run({command, S("out")});
        EXPECT_EQ(1, killed.status) << command;
        EXPECT_NE(std::string::npos, killed.err.find("incomplete")) << killed.err;
    }
}

// A name can hold what a terminal acts on (colours, a cleared screen, a changed title), bytes
// that are not text, or characters that reorder what is read. Every command shows each name in
// one visible form, and nothing any of them prints acts on the terminal.
TEST_F(QvSplitCliTest, NamesThatCouldFoolTheReaderAreShownVisiblyByEveryCommand) {
    if (!kPosix) GTEST_SKIP() << "Windows allows no control character in a name";
    const std::vector<qvtest::ShownName>& names = qvtest::ShownNames();
    fs::create_directories(P("tree/odd"));
    for (const qvtest::ShownName& n : names) std::ofstream(P("tree/odd") / fs::u8path(n.name)) << "x";
#if !defined(_WIN32)
    // Left out, as a pipe is: listed by its name.
    ASSERT_EQ(0, mkfifo((P("tree/odd") / "pipe\x1B[2J").c_str(), 0600));
#endif
    const std::string odd = S("tree/odd") + "/";
    std::vector<std::pair<std::string, std::string>> printed;  // every output, labelled
    const auto run = [&](const std::string& label, const std::vector<std::string>& args) {
        const RunResult r = Run(args);
        printed.emplace_back(label + " (standard output)", r.out);
        printed.emplace_back(label + " (standard error)", r.err);
        return r;
    };

    const RunResult split = run("split", {"split", "--size", "10", "--out", S("out"), S("tree")});
    ASSERT_EQ(0, split.status) << split.err;
    EXPECT_NE(std::string::npos, split.out.find("\n  " + odd + "pipe\\x1B[2J  ")) << split.out;
    const RunResult show = run("show", {"show", S("out")});
    EXPECT_NE(std::string::npos, show.out.find("\n  " + odd + "pipe\\x1B[2J  ")) << show.out;
    const RunResult showJson = run("show --json", {"show", "--json", S("out")});
    EXPECT_NE(std::string::npos, showJson.out.find("\"path\": \"" + JsonEscaped(odd) + "pipe\\u001b[2J\"")) << showJson.out;

    const RunResult where = run("where", {"where", S("out"), "odd"});
    const RunResult whereJson = run("where --json", {"where", "--json", S("out"), "odd"});
    EXPECT_EQ(0, where.status);
    for (const qvtest::ShownName& n : names) {
        SCOPED_TRACE(n.label);
        EXPECT_NE(std::string::npos, where.out.find("Media1.xml  " + odd + n.shown + "\n")) << where.out;
        EXPECT_NE(std::string::npos, whereJson.out.find("\"path\": \"" + JsonEscaped(odd) + n.inJson + "\"")) << whereJson.out;
    }
    // One line a name: a newline in a name cannot make a line of its own.
    EXPECT_EQ(names.size(), static_cast<size_t>(std::count(where.out.begin(), where.out.end(), '\n'))) << where.out;
    // A name is found by the form it is shown in too, letter case aside ("\x": six names shown
    // with a byte so, and one whose own name holds it).
    struct Search {
        const char* text;
        size_t found;
    };
    const Search searches[] = {{"rlo\\u202etxt", 1}, {"\\X1b[31M", 1}, {"\\x", 7}, {"back\\\\slash", 1}, {"\\u202F", 0}};
    for (const Search& search : searches) {
        SCOPED_TRACE(search.text);
        const RunResult r = run(std::string("where ") + search.text, {"where", S("out"), search.text});
        EXPECT_EQ(search.found, static_cast<size_t>(std::count(r.out.begin(), r.out.end(), '\n'))) << r.out;
        EXPECT_EQ(search.found ? 0 : 1, r.status);
    }

    // where PATH SET... names the path as given; an error quotes a path given as it is shown.
    const qvtest::ShownName& del = names[2];
    const RunResult chain = run("where PATH SET", {"where", odd + del.name, S("out")});
    EXPECT_EQ(odd + del.shown + ": " + S("out") + " Media1.xml\n", chain.out);
    const RunResult missing = run("split of a missing path", {"split", "--size", "10", "--out", S("out2"), S("tree/no\x1B]0;title\x07")});
    EXPECT_EQ(2, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("qvsplit: " + S("tree") + "/no\\x1B]0;title\\x07: no such file or folder")) << missing.err;
    // The library's own words name a rules file it cannot read as the host names it.
    Write("rules\x1B[8m.xml", "<RulesFile><Rule");
    const RunResult rules = run("split of a broken rules file", {"split", "--size", "10", "--out", S("out4"), "--rules", S("rules\x1B[8m.xml")});
    EXPECT_EQ(1, rules.status);
    EXPECT_NE(std::string::npos, rules.err.find("rules\\x1B[8m.xml")) << rules.err;
    fs::create_directories(P("tree/a/x\xE2\x80\xAE"));
    fs::create_directories(P("tree/b/x\xE2\x80\xAE"));
    std::ofstream(P("tree/a/x\xE2\x80\xAE/f")) << "a";
    std::ofstream(P("tree/b/x\xE2\x80\xAE/f")) << "b";
    const RunResult twice = run("split of two paths of one name", {"split", "--quiet", "--size", "10", "--out", S("out3"),
                                                                    S("tree/a/x\xE2\x80\xAE"), S("tree/b/x\xE2\x80\xAE")});
    EXPECT_NE(std::string::npos, twice.err.find(S("tree/a") + "/x\\u202E and " + S("tree/b") + "/x\\u202E are both restored as \\x\\u202E,"))
        << twice.err;

    // verify names what changed: a name gone, a name grown.
    const qvtest::ShownName& rlo = names[9];
    const qvtest::ShownName& ctl = names[0];
    fs::remove(P("tree/odd") / fs::u8path(rlo.name));
    std::ofstream(P("tree/odd") / fs::u8path(ctl.name)) << "grown";
    const RunResult verify = run("verify", {"verify", S("out")});
    EXPECT_EQ(1, verify.status);
    EXPECT_NE(std::string::npos, verify.out.find("missing: " + odd + rlo.shown + "\n")) << verify.out;
    EXPECT_NE(std::string::npos, verify.out.find("size changed: " + odd + ctl.shown + " (1 -> 5 bytes)\n")) << verify.out;
    const RunResult verifyJson = run("verify --json", {"verify", "--json", S("out")});
    EXPECT_NE(std::string::npos, verifyJson.out.find("\"missing: " + JsonEscaped(odd) + rlo.inJson + "\"")) << verifyJson.out;

    for (const auto& output : printed) {
        SCOPED_TRACE(output.first);
        EXPECT_EQ("", qvtest::FirstHiddenCharacter(output.second, false));
    }
}

// A media file is read a run of entries at a time, never whole: whatever its layout, however
// large, every entry counts once, and one cut short is refused rather than read in part.
TEST_F(QvSplitCliTest, MediaFilesAreReadRunByRunWhateverTheirLayout) {
    const auto entry = [](const std::string& path, long long size) {
        return "  <FILE>\n    <FullPath><![CDATA[" + path + "]]></FullPath>\n    <TargetPath><![CDATA[\\d]]></TargetPath>\n"
               "    <Extension />\n    <Attribute>32</Attribute>\n    <WriteTime>20260101120000</WriteTime>\n"
               "    <FileSize>" + std::to_string(size) + "</FileSize>\n  </FILE>\n";
    };
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Factory>\n  <Media>\n"
                             "    <Info DispFlag=\"a>b\" Split_Size=\"10\" Media_Size=\"9\" />\n  </Media>\n";
    std::string many = head;
    long long manyBytes = 0;
    for (int i = 0; i < 8000; ++i) {
        many += entry("C:\\d\\a rather long folder name to fill the run\\file " + std::to_string(i) + " needle.bin", i);
        manyBytes += i;
    }
    many += "</Factory>\n";
    const std::string markup =
        "<!-- <FILE><FullPath>C:\\ghost</FullPath><FileSize>1000</FileSize></FILE> -->\n" + head +
        "  <!-- between <FILE> and </Factory> -->\n" + entry("C:\\d\\one > </FILE> needle", 10) +
        // A value holding "]]>" is written as two sections; a value may also be escaped text.
        entry("C:\\d\\two ]]]]><![CDATA[> needle", 20) +
        "  <FILE><FullPath>C:\\d\\three &amp; needle</FullPath><FileSize>30</FileSize><Attribute>32</Attribute></FILE>\n"
        "  <?pi <FILE> ?>\n</Factory>\n";
    struct Row {
        const char* name;
        std::string text;
        int status;
        long long entries, bytes;
        const char* found;  // a name where finds, or the error
    };
    const Row rows[] = {
        {"markup", markup, 0, 3, 60, "two ]]> needle"},
        {"larger than a run", many, 0, 8000, manyBytes, "file 7999 needle.bin"},
        {"cut short", many.substr(0, many.size() / 2), 1, 0, 0, "ends before its root element"},
        {"cut at a bracket", head + entry("C:\\d\\x", 5) + "<", 1, 0, 0, "ends before its root element"},
        {"not a media file", "<Other>" + entry("C:\\d\\x", 5) + "</Other>", 0, 0, 0, nullptr},
        // An entry listed again (as on every medium) counts once in the total, not in the entries.
        {"listed twice", head + entry("C:\\d\\x needle", 5) + entry("C:\\d\\y", 7) + entry("C:\\d\\x needle", 5) + "</Factory>\n",
         0, 3, 12, "x needle"},
        {"empty", "", 1, 0, 0, "No document element"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = std::string("read-") + row.name;
        Write(dir + "/Media1.xml", row.text);
        const RunResult show = Run({"show", "--json", S(dir)});
        EXPECT_EQ(row.status, show.status) << show.err;
        if (row.status) {
            EXPECT_NE(std::string::npos, show.err.find(row.found)) << show.err;
            continue;
        }
        EXPECT_EQ(row.entries, JsonNumber(show.out, "entries")) << show.out;
        EXPECT_EQ(row.bytes, JsonNumber(show.out, "total_size")) << show.out;
        if (!row.found) continue;
        const RunResult where = Run({"where", S(dir), row.found});
        EXPECT_EQ(0, where.status) << where.err;
        EXPECT_NE(std::string::npos, where.out.find(row.found)) << where.out;
        EXPECT_EQ(std::string::npos, where.out.find("ghost")) << where.out;
    }
}

// The commands read a set a medium at a time: a media file that cannot be read, after others
// that could, still fails the command before it prints or writes anything.
TEST_F(QvSplitCliTest, AMediaFileThatCannotBeReadStopsEveryCommandBeforeItsAnswer) {
    MakeTree();
    const RunResult split = Run({"split", "--quiet", "--size", "10", "--out", S("out"), S("tree")});
    ASSERT_EQ(0, split.status) << split.err;
    const std::string second = ReadText(P("out/Media2.xml"));
    Write("out/Media2.xml", second.substr(0, second.size() / 2));
    struct Row {
        std::vector<std::string> args;
        const char* written;  // what the command would have written, relative to the test folder
    };
    const Row rows[] = {
        {{"show", S("out")}, nullptr},
        {{"where", S("out"), "a"}, nullptr},
        {{"where", "--json", S("out"), "a"}, nullptr},
        {{"verify", S("out")}, nullptr},
        {{"report", "--out", S("page.html"), S("out")}, "page.html"},
        {{"pack", "--format", "list", "--to", S("packed"), S("out")}, "packed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        const RunResult r = Run(row.args);
        EXPECT_EQ(1, r.status) << r.out;
        EXPECT_NE(std::string::npos, r.err.find("Media2.xml")) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        if (row.written) {
            EXPECT_FALSE(fs::exists(P(row.written))) << row.written;
        }
    }
}

// The report page holds every medium's figures, what was left out and how the plan was made,
// and a hostile name only as text inside its JSON block: nothing in it can end the block, and
// the page stays valid UTF-8 whatever bytes the names hold.
TEST_F(QvSplitCliTest, ReportShowsTheSetWithEveryNameAsText) {
    MakeTree();
    struct Row {
        const char* label;
        std::string name;    // a file in tree/odd (a "/" makes a folder of what stands before it)
        std::string inData;  // how the JSON block holds it
        bool posixOnly;  // Windows allows no <, >, " or control character in a name
    };
    const Row rows[] = {
        {"script element", "<script>alert(1)</script>", "\"script\\u003e\"", true},
        {"script opening as a folder", "<script>alert(1)</script>", "\\u003cscript\\u003ealert(1)\\u003c\"", true},
        {"element with a handler", "<img src=x onerror=alert(2)>", "\"\\u003cimg src=x onerror=alert(2)\\u003e\"", true},
        {"quote and ampersand", "q\"uo&te", "\"q\\\"uo\\u0026te\"", true},
        {"ampersand and apostrophe", "a&b'c", "\"a\\u0026b'c\"", false},
        {"control character", "ctl\x01name", "\"ctl\\u0001name\"", true},
        {"byte not UTF-8", "bad\xE9" "byte", "\"bad\xEF\x83\xA9" "byte\"", true},
        {"line separator", "sep\xE2\x80\xA8x", "\"sep\\u2028x\"", false},
        {"right-to-left override", "rlo\xE2\x80\xAEtxt", "\"rlo\\u202etxt\"", false},
        {"C1 control", "c1\xC2\x9B" "2J", "\"c1\\u009b2J\"", true},
    };
    for (const Row& row : rows) {
        if (row.posixOnly && !kPosix) continue;
        const std::string name = row.name;
        const size_t slash = name.find('/');
        if (slash != std::string::npos) fs::create_directories(P("tree/odd/" + name.substr(0, slash)));
        fs::create_directories(P("tree/odd"));
        std::ofstream(P("tree/odd") / fs::u8path(name)) << "x";
    }
    const RunResult split = Run({"split", "--quiet", "--size", "10", "--out", S("out"), S("tree")});
    ASSERT_EQ(0, split.status) << split.err;
    const RunResult r = Run({"report", S("out")});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ("report written to " + S("out/qvsplit-report.html") + "\n", r.out);
    const std::string html = ReadText(P("out/qvsplit-report.html"));
    const std::string data = ReportData(P("out/qvsplit-report.html"));
    ASSERT_FALSE(data.empty()) << html.substr(0, 2000);
    EXPECT_TRUE(IsUtf8(html));
    // Only the page's own two script elements, and no name's markup anywhere.
    size_t scripts = 0;
    for (size_t at = html.find("<script"); at != std::string::npos; at = html.find("<script", at + 1)) ++scripts;
    EXPECT_EQ(2u, scripts);
    EXPECT_EQ(std::string::npos, html.find("<script>alert"));
    EXPECT_EQ(std::string::npos, html.find("<img"));
    EXPECT_EQ(std::string::npos, data.find('<'));
    EXPECT_EQ(std::string::npos, html.find("\xE2\x80\xA8"));  // would end a line of script
    EXPECT_EQ(std::string::npos, html.find("\xE2\x80\xAE"));  // would reorder the text after it
    EXPECT_EQ(std::string::npos, html.find("\xC2\x9B"));
    for (const Row& row : rows) {
        if (row.posixOnly && !kPosix) continue;
        SCOPED_TRACE(row.label);
        EXPECT_NE(std::string::npos, data.find(row.inData)) << data;
    }
    // Each medium with its figures as the media files give them, the set's totals, what was
    // left out, and the command line the split was made with.
    const RunResult show = Run({"show", "--json", S("out")});
    ASSERT_EQ(0, show.status);
    for (const std::string& m : MediaFiles("out")) EXPECT_NE(std::string::npos, data.find("{\"name\": \"" + m + "\", \"number\": ")) << m;
    EXPECT_NE(std::string::npos, data.find("\"capacity\": " + std::to_string(10 * MB) + ", \"size\": "));
    EXPECT_NE(std::string::npos, data.find("\"total\": " + std::to_string(JsonNumber(show.out, "total_size")) + ", "));
    EXPECT_NE(std::string::npos, data.find("\"lowerBound\": 3,"));
    EXPECT_NE(std::string::npos, data.find("{\"path\": \"" + JsonEscaped(S("tree/big.iso")) + "\", \"size\": " +
                                           std::to_string(15 * MB) + ", \"reason\": \"larger than a medium"));
    EXPECT_NE(std::string::npos, data.find("\"command\": [\"split\", \"--quiet\", \"--size\", \"10\", \"--out\", \"" +
                                           JsonEscaped(S("out")) + "\", \"" + JsonEscaped(S("tree")) + "\"]"));
    const size_t a7 = data.find("\"a7.bin\"," + std::to_string(MB) + ",0,");
    ASSERT_NE(std::string::npos, a7);
    // Its row ends in its write time, as its media file gives it.
    std::string written;
    for (const std::string& m : MediaFiles("out")) {
        const std::string xml = ReadText(P("out/" + m));
        const size_t name = xml.find("<Name><![CDATA[a7.bin]]></Name>");
        if (name != std::string::npos) written = xml.substr(xml.find("<WriteTime>", name) + 11, 14);
    }
    ASSERT_EQ(14u, written.size());
    const size_t rowEnd = data.find(']', a7);
    EXPECT_EQ("," + written, data.substr(data.rfind(',', rowEnd), rowEnd - data.rfind(',', rowEnd))) << data.substr(a7, 80);

    // --out names another file; the media folder is left as it was.
    const RunResult elsewhere = Run({"report", "--quiet", "--out", S("page.html"), S("out")});
    ASSERT_EQ(0, elsewhere.status) << elsewhere.err;
    EXPECT_TRUE(elsewhere.out.empty());
    // The same page but for the minute it was made in, which may have turned meanwhile.
    const auto withoutMinute = [](std::string text) {
        const size_t at = text.find("\"generated\": \"");
        if (at != std::string::npos) text.erase(at, text.find('"', at + 14) - at);
        return text;
    };
    EXPECT_EQ(withoutMinute(data), withoutMinute(ReportData(P("page.html"))));
}

// The record of how a plan was made sits beside the media like the left-out list: show, where,
// verify and pack read the set as before, and a later split replaces it with its own.
TEST_F(QvSplitCliTest, SplitKeepsHowThePlanWasMadeBesideTheMedia) {
    MakeTree();
    ASSERT_EQ(0, Run({"split", "--quiet", "--size", "10", "--first-free", "1", "--out", S("out"), S("tree")}).status);
    const std::string record = ReadText(P("out/qvsplit-plan.xml"));
    EXPECT_NE(std::string::npos, record.find("FileSystem=\"none\" SizeMB=\"10\" CapacityBytes=\"" + std::to_string(10 * MB) + "\""))
        << record;
    EXPECT_NE(std::string::npos, record.find("<Argument>--first-free</Argument>\n    <Argument>1</Argument>")) << record;
    ASSERT_EQ(0, Run({"report", "--quiet", S("out")}).status);
    for (const char* command : {"show", "verify"}) {
        SCOPED_TRACE(command);
        const RunResult r = Run({command, S("out")});
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(std::string::npos, r.out.find("plan.xml")) << r.out;
        EXPECT_EQ(std::string::npos, r.out.find("report.html")) << r.out;
    }
    const RunResult where = Run({"where", S("out"), "plan.xml"});
    EXPECT_EQ(1, where.status) << where.out;
    const RunResult list = Run({"pack", "--format", "list", "--to", S("lists"), S("out")});
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("packed 3 media")) << list.out;

    // The next split into the folder takes away the report and record of the last one.
    ASSERT_EQ(0, Run({"split", "--quiet", "--size", "cd", "--out", S("out"), S("tree/docs")}).status);
    EXPECT_FALSE(fs::exists(P("out/qvsplit-report.html")));
    const std::string second = ReadText(P("out/qvsplit-plan.xml"));
    EXPECT_NE(std::string::npos, second.find("FileSystem=\"iso\" SizeMB=\"703\" CapacityBytes=\"737280000\"")) << second;
    EXPECT_EQ(std::string::npos, second.find("--first-free")) << second;
}

TEST_F(QvSplitCliTest, VerifyPassesOnAnUnchangedSetAndCatchesChanges) {
    struct Row {
        const char* label;
        const char* method;
        void (*change)(const fs::path& root);
        const char* report;  // nullptr: nothing changed
        bool posixOnly;      // links and names Windows refuses
    };
    const Row rows[] = {
        {"unchanged, files", "files", nullptr, nullptr, false},
        {"unchanged, whole folders", "dirs", nullptr, nullptr, false},
        {"grown", "files", [](const fs::path& root) { std::ofstream(root / "tree/docs/a3.bin", std::ios::app) << "x"; }, "size changed: ", false},
        {"removed", "files", [](const fs::path& root) { fs::remove(root / "tree/docs/a4.bin"); }, "missing: ", false},
        {"rewritten, same size", "files",
         [](const fs::path& root) {
             const fs::path f = root / "tree/docs/a5.bin";
             fs::last_write_time(f, fs::last_write_time(f) - std::chrono::hours(48));
         },
         "modified: ", false},
        {"added to a whole folder", "dirs",
         [](const fs::path& root) { std::ofstream(root / "tree/sub/new.txt") << "new"; }, "folder changed: ", false},
        {"link removed", "files", [](const fs::path& root) { fs::remove(root / "tree/alias"); }, "missing: ", true},
        {"name with a refused character removed", "dirs",
         [](const fs::path& root) { fs::remove(root / "tree/odd?.txt"); }, "missing: ", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        std::error_code ec;
        fs::remove_all(P("tree"), ec);
        fs::remove_all(P("out"), ec);
        MakeTree();
        for (int i = 0; i < 5; ++i) Sparse("tree/sub/s" + std::to_string(i) + ".dat", 100000);
        // Links are planned as themselves and checked as such: a linked folder, a dangling link.
        if (row.posixOnly && !kPosix) continue;
        if (kPosix) {
            fs::create_directory_symlink("sub", P("tree/alias"));
            fs::create_symlink("nowhere", P("tree/dangling"));
            std::ofstream(P("tree/odd?.txt")) << "odd";
        }
        const RunResult split = Run({"split", "--quiet", "--method", row.method, "--size", "10", "--out", S("out"), S("tree")});
        ASSERT_EQ(0, split.status) << split.err;
        if (row.change) row.change(m_root);
        const RunResult verify = Run({"verify", S("out")});
        if (!row.report) {
            EXPECT_EQ(0, verify.status) << verify.out;
            EXPECT_NE(std::string::npos, verify.out.find("the media set matches the disk")) << verify.out;
            continue;
        }
        EXPECT_EQ(1, verify.status) << verify.out;
        EXPECT_NE(std::string::npos, verify.out.find(row.report)) << verify.out;
        EXPECT_NE(std::string::npos, verify.out.find("changes since the plan")) << verify.out;
    }
}

TEST_F(QvSplitCliTest, SameTreeGivesByteIdenticalMediaFiles) {
    MakeTree();
    for (int i = 0; i < 40; ++i)
        Sparse("tree/Mixed Case/Sub " + std::to_string(i % 4) + "/Ünï " + std::to_string(i) + ".dat", (i * 37 % 11 + 1) * 300000);
    for (const char* method : {"files", "dirs"}) {
        SCOPED_TRACE(method);
        // The second folder holds what a killed split leaves: the temporary files of its media
        // go, what is not one of them stays.
        const std::string two = std::string(method) + "two";
        const std::vector<std::string> stale{"Media2.xml.~4242.7.tmp", "Last.xml.~4242.8.tmp", "Media12.xml.~4242.9.spool.tmp"};
        const std::vector<std::string> kept{"Media2.xml.~4242.tmp", "Media2.xml.bak", "notes.~1.2.tmp"};
        for (const std::string& name : stale) Write(two + "/" + name, "partial");
        for (const std::string& name : kept) Write(two + "/" + name, "mine");
        for (const char* out : {"one", "two"}) {
            const RunResult r = Run({"split", "--quiet", "--method", method, "--size", "10", "--out", S(std::string(method) + out), S("tree")});
            ASSERT_EQ(0, r.status) << r.err;
        }
        for (const std::string& name : stale) EXPECT_FALSE(fs::exists(P(two + "/" + name))) << name;
        for (const std::string& name : kept) {
            EXPECT_TRUE(fs::exists(P(two + "/" + name))) << name;
            fs::remove(P(two + "/" + name));
        }
        const std::vector<std::string> one = MediaFiles(std::string(method) + "one");
        ASSERT_FALSE(one.empty());
        EXPECT_EQ(one, MediaFiles(std::string(method) + "two"));
        for (const std::string& name : one) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(ReadText(P(std::string(method) + "one/" + name)) == ReadText(P(std::string(method) + "two/" + name)));
        }
    }
}

TEST_F(QvSplitCliTest, DemoRunsToTheEndOnItsOwnSampleTree) {
    const RunResult r = Run({"demo", "--quiet"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Media1.xml")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("lower bound")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("holiday.mkv")) << r.out;  // larger than a medium
    EXPECT_NE(std::string::npos, r.out.find("Media files: " + S("tmp"))) << r.out;
}

}  // namespace

// A set that follows an earlier one plans what is new or changed, lists what is gone, and says
// so; a chain answers where a path's latest copy is; sets it cannot follow are refused before
// anything is written.
TEST_F(QvSplitCliTest, SetsSinceEarlierSetsPlanTheChangesAndRefuseWhatCannotBeFollowed) {
    Write("t/a.txt", "one");
    Write("t/b.txt", "two");
    Write("t/sub/c.txt", "three");
    Write("other/z.txt", "zed");
    const auto stamp = [this](const std::string& rel, int hoursBack) {
        fs::last_write_time(P(rel), fs::file_time_type::clock::now() - std::chrono::hours(hoursBack));
    };
    for (const char* rel : {"t/a.txt", "t/b.txt", "t/sub/c.txt"}) stamp(rel, 3);
    ASSERT_EQ(0, Run({"split", "--quiet", "--size", "10", "--out", S("set1"), S("t")}).status);
    // The set was written an hour before the next one, whatever this machine's speed.
    for (const std::string& name : MediaFiles("set1")) stamp("set1/" + name, 1);

    Write("t/a.txt", "one more");  // changed
    fs::remove(P("t/b.txt"));       // deleted
    // Another name, in letter case only: deleted and new. Through a third name, so that a file
    // system that ignores case takes the new spelling too.
    fs::rename(P("t/sub/c.txt"), P("t/sub/c.tmp"));
    fs::rename(P("t/sub/c.tmp"), P("t/sub/C.txt"));
    Write("t/d.txt", "new");        // new
    const RunResult second = Run({"split", "--quiet", "--json", "--size", "10", "--since", S("set1"), "--out", S("set2"), S("t")});
    ASSERT_EQ(0, second.status) << second.err;
    EXPECT_EQ(2, JsonNumber(second.out, "new")) << second.out;
    EXPECT_EQ(1, JsonNumber(second.out, "changed"));
    EXPECT_EQ(0, JsonNumber(second.out, "unchanged"));
    EXPECT_EQ(2, JsonNumber(second.out, "deleted"));
    const std::string media = ReadText(P("set2/Media1.xml"));
    for (const char* planned : {"t/a.txt", "t/sub/C.txt", "t/d.txt"}) EXPECT_NE(std::string::npos, media.find(Lib(planned))) << planned;
    const std::string deleted = ReadText(P("set2/Deleted.xml"));
    for (const char* gone : {"t/b.txt", "t/sub/c.txt"}) EXPECT_NE(std::string::npos, deleted.find(Lib(gone))) << deleted;
    EXPECT_EQ(std::string::npos, deleted.find(Lib("t/a.txt")));
    const RunResult show = Run({"show", S("set2")});
    EXPECT_NE(std::string::npos, show.out.find("2 new, 1 changed, 0 unchanged (not planned), 2 deleted")) << show.out;

    struct WhereRow {
        const char* path;
        int status;
        const char* answer;
    };
    const WhereRow whereRows[] = {
        {"t/a.txt", 0, "set2 Media1.xml"},
        {"t/b.txt", 0, "deleted in"},
        {"t/sub/c.txt", 0, "deleted in"},
        {"t/nothing.txt", 1, nullptr},
    };
    for (const WhereRow& row : whereRows) {
        SCOPED_TRACE(row.path);
        const RunResult where = Run({"where", S(row.path), S("set1"), S("set2")});
        EXPECT_EQ(row.status, where.status) << where.err;
        if (row.answer) {
            EXPECT_NE(std::string::npos, where.out.find(row.answer)) << where.out;
        }
    }

    // Nothing new since the chain: said, exit 0, no folder made.
    const RunResult same = Run({"split", "--quiet", "--size", "10", "--since", S("set1"), "--since", S("set2"), "--out", S("set3"), S("t")});
    EXPECT_EQ(0, same.status) << same.err;
    EXPECT_NE(std::string::npos, same.out.find("nothing changed since")) << same.out;
    EXPECT_FALSE(fs::exists(P("set3")));

    // Sets that cannot be followed.
    fs::create_directories(P("broken"));
    fs::copy_file(P("set1/Media1.xml"), P("broken/Media1.xml"));
    fs::resize_file(P("broken/Media1.xml"), 40);
    fs::create_directories(P("future"));
    fs::copy_file(P("set1/Media1.xml"), P("future/Media1.xml"));
    fs::last_write_time(P("future/Media1.xml"), fs::file_time_type::clock::now() + std::chrono::hours(24));
    fs::create_directories(P("killed"));
    fs::copy_file(P("set1/Media1.xml"), P("killed/Media1.xml"));
    Write("killed/qvsplit-incomplete", "");
    Write("short.txt.gz", std::string("\x1f\x8b\x08\x00\x00\x00", 6));
    Write("huge.txt", "# QvSplit catalogue: medium<TAB>bytes<TAB>written<TAB>path\n1\t99999999999999999999\t20240101000000\t/x\n");
    ASSERT_EQ(0, Run({"split", "--quiet", "--method", "dirs", "--size", "10", "--out", S("whole"), S("t")}).status);
    struct Row {
        const char* label;
        std::vector<std::string> args;  // after split --size 10 --out bad
        int status;
        const char* message;
    };
    const Row rows[] = {
        {"no media files", {"--since", S("t"), S("t")}, 1, "holds no media files"},
        {"a media file cut short", {"--since", S("broken"), S("t")}, 1, "cannot be read as a media file"},
        {"folders kept whole", {"--since", S("whole"), S("t")}, 1, "keeps folders whole"},
        {"newest first", {"--since", S("set2"), "--since", S("set1"), S("t")}, 1, "oldest first"},
        {"written in the future", {"--since", S("future"), S("t")}, 1, "clock"},
        {"a split killed while writing it", {"--since", S("killed"), S("t")}, 1, "incomplete"},
        {"another selection", {"--since", S("set1"), S("other")}, 1, "sets of other files"},
        {"a compressed catalogue cut short", {"--since", S("short.txt.gz"), S("t")}, 1, "the compressed catalogue"},
        {"a catalogue's size beyond any file", {"--since", S("huge.txt"), S("t")}, 1, "bytes are not a number of bytes"},
        {"with folders kept whole", {"--method", "dirs", "--since", S("set1"), S("t")}, 2, "file by file"},
        {"into the set it follows", {"--since", S("bad"), S("t")}, 2, "both a set to follow and --out"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        if (row.status == 2) fs::create_directories(P("bad"));
        std::vector<std::string> args = {"split", "--quiet", "--size", "10", "--out", S("bad")};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = Run(args);
        EXPECT_EQ(row.status, r.status) << r.out;
        EXPECT_NE(std::string::npos, r.err.find(row.message)) << r.err;
        EXPECT_TRUE(MediaFiles("bad").empty());
        EXPECT_FALSE(fs::exists(P("bad/Rules.xml")));
        std::error_code ec;
        fs::remove_all(P("bad"), ec);
    }
}
