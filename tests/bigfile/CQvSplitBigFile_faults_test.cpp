// Failure tests of cutting and recovery: every file operation failing in turn, and a cutting
// process killed midway. Whatever happens, every byte of the file must stay on disk.
#include "bigfile/QvBigFileTestUtil.h"

#include <chrono>
#include <fstream>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using qvbig::CutSetup;
using qvbig::kMB;
using qvp::FaultOp;
using qvtest::TempTree;

namespace {

const struct {
    FaultOp op;
    const char* name;
} kOps[] = {{FaultOp::Create, "create"}, {FaultOp::Read, "read"},     {FaultOp::Write, "write"},
            {FaultOp::Flush, "flush"},   {FaultOp::Rename, "rename"}, {FaultOp::Delete, "delete"}};

const char kFile[] = "d/a.bin";
const char kList[] = "parts.ini";
// 3.5 parts of 1 MB: several parts, a short last one.
const size_t kFileSize = 7 * kMB / 2;

long Recover(const TempTree& t) {
    return CQvSplitBigFile::GetInstance()->RecoverFiles(t.Drive(), t.WinPath(kList).c_str());
}

// Calls of op made by one fault-free cut.
int CountCutCalls(FaultOp op, const std::string& original) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, kFile, original);
    qvp::ResetFaultCounters();
    EXPECT_EQ(0L, s.Cut());
    return qvp::FaultCallCount(op);
}

// Calls of op made by one fault-free recovery.
int CountRecoverCalls(FaultOp op, const std::string& original) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, kFile, original);
    EXPECT_EQ(0L, s.Cut());
    qvp::ResetFaultCounters();
    EXPECT_EQ(0L, Recover(t));
    return qvp::FaultCallCount(op);
}

}  // namespace

TEST(CQvSplitBigFileFaultTest, CutFailingAtAnyCallKeepsEveryByteAndCanBeRepeated) {
    const std::string original = qvbig::PatternBytes(kFileSize, 21);
    for (const auto& kind : kOps) {
        const int calls = CountCutCalls(kind.op, original);
        EXPECT_GT(calls, 0) << kind.name;
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(std::string(kind.name) + " call " + std::to_string(n) + " of " +
                         std::to_string(calls));
            TempTree t;
            qvbig::StartCutting(t, 21);
            CutSetup s(t, kFile, original);
            qvp::InjectFault(kind.op, n);
            const long result = s.Cut();
            qvp::ClearFaults();
            ASSERT_TRUE(qvbig::BytesOnDisk(t, kFile, kList, original));
            if (result != 0) {
                // Nothing of the failed cut is left for the split to use.
                EXPECT_EQ(static_cast<long>(E_FAIL), result);
                EXPECT_EQ(1u, s.map.size());
                EXPECT_TRUE(qvbig::ReadList(t.WinPath(kList)).empty());
                if (kind.op != FaultOp::Delete) {
                    EXPECT_TRUE(qvbig::PartFiles(t, "d", "a.bin").empty());
                }
                ASSERT_EQ(0L, s.Cut()) << "second run";
            } else {
                EXPECT_FALSE(t.Exists(kFile));
            }
            EXPECT_EQ(5u, s.map.size());
            ASSERT_EQ(0L, Recover(t));
            EXPECT_EQ(original, t.ReadFile(kFile));
        }
    }
}

TEST(CQvSplitBigFileFaultTest, RecoveryFailingAtAnyCallNeverLosesAByte) {
    const std::string original = qvbig::PatternBytes(kFileSize, 22);
    for (bool olderFile : {false, true}) {
        for (const auto& kind : kOps) {
            const int calls = CountRecoverCalls(kind.op, original);
            if (kind.op != FaultOp::Flush) {
                EXPECT_GT(calls, 0) << kind.name;
            }
            for (int n = 1; n <= calls; ++n) {
                SCOPED_TRACE(std::string(kind.name) + " call " + std::to_string(n) + " of " +
                             std::to_string(calls) + (olderFile ? ", older file in place" : ""));
                TempTree t;
                qvbig::StartCutting(t, 21);
                CutSetup s(t, kFile, original);
                ASSERT_EQ(0L, s.Cut());
                if (olderFile) t.WriteFile(kFile, "older");
                qvp::InjectFault(kind.op, n);
                const long result = Recover(t);
                qvp::ClearFaults();
                // E_INVALIDARG: the list itself could not be read.
                EXPECT_TRUE(result == 0 || result == static_cast<long>(E_INVALIDARG)) << result;
                // The file is whole, or the older one is untouched and the parts rebuild it.
                const std::string now = t.Exists(kFile) ? t.ReadFile(kFile) : std::string("<none>");
                if (now != original) {
                    EXPECT_EQ(olderFile ? "older" : "<none>", now);
                    EXPECT_EQ(original, qvbig::RebuildFromList(t, kFile, kList).value_or("<parts missing>"));
                }
                ASSERT_EQ(0L, Recover(t)) << "second run";
                EXPECT_EQ(original, t.ReadFile(kFile));
            }
        }
    }
}

#if !defined(_WIN32)

namespace {

// When the parent kills the cutting child.
struct KillPoint {
    const char* label;
    int partSeen;       // kill once a part of this number exists (0: not used)
    bool listWritten;   // kill once the list names the file
    int delayMs;        // otherwise kill after this long
};

bool PartExists(const TempTree& t, int n) {
    const std::string suffix = ".Part" + std::to_string(n);
    for (const std::string& name : t.List("d"))
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    return false;
}

bool KillPointReached(const TempTree& t, const KillPoint& k,
                      std::chrono::steady_clock::time_point start) {
    if (k.partSeen > 0) return PartExists(t, k.partSeen);
    if (k.listWritten) return !qvbig::ReadList(t.WinPath(kList)).empty();
    return std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(k.delayMs);
}

// Runs the cut in a child process and kills it at k (or lets it end); true when it was killed.
bool CutInChildAndKill(const TempTree& t, CutSetup& s, const KillPoint& k) {
    const pid_t pid = fork();
    if (pid == 0) _exit(s.Cut() == 0 ? 0 : 1);
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (!KillPointReached(t, k, start)) {
        if (waitpid(pid, &status, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
}

}  // namespace

TEST(CQvSplitBigFileKillTest, KilledCutLeavesTheSourceOrAListThatRebuildsIt) {
    // 32 parts of 1 MB and the empty 33rd: the cut runs long enough to be hit midway.
    const std::string original = qvbig::PatternBytes(32 * kMB, 64);
    std::mt19937 random(2024);
    std::vector<KillPoint> points = {
        {"part 1 created", 1, false, 0},
        {"part 16 created", 16, false, 0},
        {"empty last part created", 33, false, 0},
        {"list stored", 0, true, 0},
    };
    for (int i = 0; i < 3; ++i)
        points.push_back({"seeded delay", 0, false, static_cast<int>(random() % 300)});
    int killed = 0;
    for (const KillPoint& k : points) {
        SCOPED_TRACE(std::string(k.label) + " " + std::to_string(k.delayMs) + " ms");
        TempTree t;
        qvbig::StartCutting(t, 21);
        CutSetup s(t, kFile, original);
        killed += CutInChildAndKill(t, s, k) ? 1 : 0;
        ASSERT_TRUE(qvbig::BytesOnDisk(t, kFile, kList, original));
        ASSERT_EQ(0L, CQvSplitBigFile::GetInstance()->RecoverFiles(t.Drive(), t.WinPath(kList).c_str()));
        EXPECT_EQ(original, t.ReadFile(kFile));
    }
    EXPECT_GT(killed, 0);
}

#endif
