// Failure tests of cutting and recovery: every file operation failing in turn, and a cutting
// process killed midway. Whatever happens, every byte of the file must stay on disk.
#include "bigfile/QvBigFileTestUtil.h"
#include "support/QvAllocFaults.h"

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

// 3.5 parts of 1 MB: several parts, a short last one.
const size_t kFileSize = 7 * kMB / 2;
// One part and a short one: every allocation fails in turn, so each run is kept small.
const size_t kSmallFileSize = kMB + 4096;

// A kind of failure: the nth call of a file operation, or the nth allocation.
struct FaultKind {
    FaultOp op;
    const char* name;
    bool allocation;
    size_t fileSize;
};

const FaultKind kOps[] = {
    {FaultOp::Create, "create", false, kFileSize}, {FaultOp::Read, "read", false, kFileSize},
    {FaultOp::Write, "write", false, kFileSize},   {FaultOp::Flush, "flush", false, kFileSize},
    {FaultOp::Rename, "rename", false, kFileSize}, {FaultOp::Delete, "delete", false, kFileSize},
    {FaultOp::Create, "allocation", true, kSmallFileSize}};

// Entries of the map after a cut: the file's own and one per part.
size_t EntriesAfterCut(size_t fileSize) { return 1 + fileSize / kMB + 1; }

void StartCounting(const FaultKind& kind) {
    if (kind.allocation)
        qvtest::FailAllocation(static_cast<size_t>(-1));
    else
        qvp::ResetFaultCounters();
}

int CallsCounted(const FaultKind& kind) {
    if (!kind.allocation) return qvp::FaultCallCount(kind.op);
    const size_t n = qvtest::Allocations();
    qvtest::FailAllocation(0);
    return static_cast<int>(n);
}

void Inject(const FaultKind& kind, int n) {
    if (kind.allocation)
        qvtest::FailAllocation(static_cast<size_t>(n));
    else
        qvp::InjectFault(kind.op, n);
}

void ClearInjected() {
    qvtest::FailAllocation(0);
    qvp::ClearFaults();
}

const char kFile[] = "d/a.bin";
const char kList[] = "parts.ini";

long Recover(const TempTree& t) {
    return CQvSplitBigFile::GetInstance()->RecoverFiles(t.Drive(), t.WinPath(kList).c_str());
}

// The cut and the recovery with a fault armed just around the library's call: the test's own
// allocations (keys, paths) are made before, so that only the library meets the fault.
template <class Arm>
long CutArmed(CutSetup& s, Arm arm) {
    QvFileDescMapIter it = s.Iter();
    CQvSplitBigFile* splitter = CQvSplitBigFile::GetInstance();
    arm();
    return splitter->SplitFile(s.map, it);
}

template <class Arm>
long RecoverArmed(const TempTree& t, Arm arm) {
    const std::wstring list = t.WinPath(kList);
    const WORD drive = t.Drive();
    CQvSplitBigFile* splitter = CQvSplitBigFile::GetInstance();
    arm();
    return splitter->RecoverFiles(drive, list.c_str());
}

// Calls of the kind made by one fault-free cut.
int CountCutCalls(const FaultKind& kind, const std::string& original) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, kFile, original);
    const long result = CutArmed(s, [&] { StartCounting(kind); });
    const int calls = CallsCounted(kind);
    EXPECT_EQ(0L, result);
    return calls;
}

// Calls of the kind made by one fault-free recovery.
int CountRecoverCalls(const FaultKind& kind, const std::string& original) {
    TempTree t;
    qvbig::StartCutting(t, 21);
    CutSetup s(t, kFile, original);
    EXPECT_EQ(0L, s.Cut());
    const long result = RecoverArmed(t, [&] { StartCounting(kind); });
    const int calls = CallsCounted(kind);
    EXPECT_EQ(0L, result);
    return calls;
}

}  // namespace

TEST(CQvSplitBigFileFaultTest, CutFailingAtAnyCallKeepsEveryByteAndCanBeRepeated) {
    for (const auto& kind : kOps) {
        const std::string original = qvbig::PatternBytes(kind.fileSize, 21);
        const int calls = CountCutCalls(kind, original);
        EXPECT_GT(calls, 0) << kind.name;
        for (int n = 1; n <= calls; ++n) {
            SCOPED_TRACE(std::string(kind.name) + " call " + std::to_string(n) + " of " +
                         std::to_string(calls));
            TempTree t;
            qvbig::StartCutting(t, 21);
            CutSetup s(t, kFile, original);
            const long result = CutArmed(s, [&] { Inject(kind, n); });
            ClearInjected();
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
            EXPECT_EQ(EntriesAfterCut(kind.fileSize), s.map.size());
            ASSERT_EQ(0L, Recover(t));
            EXPECT_EQ(original, t.ReadFile(kFile));
        }
    }
}

TEST(CQvSplitBigFileFaultTest, RecoveryFailingAtAnyCallNeverLosesAByte) {
    for (bool olderFile : {false, true}) {
        for (const auto& kind : kOps) {
            const std::string original = qvbig::PatternBytes(kind.fileSize, 22);
            const int calls = CountRecoverCalls(kind, original);
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
                const long result = RecoverArmed(t, [&] { Inject(kind, n); });
                ClearInjected();
                // E_INVALIDARG: the list itself could not be read; E_FAIL: the file was not joined.
                EXPECT_TRUE(result == 0 || result == static_cast<long>(E_INVALIDARG) ||
                            result == static_cast<long>(E_FAIL))
                    << result;
                // The file is whole (and the call said so), or the older one is untouched and the
                // parts rebuild it.
                const std::string now = t.Exists(kFile) ? t.ReadFile(kFile) : std::string("<none>");
                if (now != original) {
                    EXPECT_NE(0L, result);
                    EXPECT_EQ(olderFile ? "older" : "<none>", now);
                    EXPECT_EQ(original, qvbig::RebuildFromList(t, kFile, kList).value_or("<parts missing>"));
                }
                // Once joined, the parts are gone and a second run joins nothing (out of memory
                // after the join, the first run may have failed all the same); not joined, the
                // second run joins it.
                const long second = Recover(t);
                if (result == 0) {
                    EXPECT_EQ(static_cast<long>(E_FAIL), second) << "second run";
                } else if (now != original) {
                    ASSERT_EQ(0L, second) << "second run";
                }
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
