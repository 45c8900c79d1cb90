// CQvFile: transfers, 64-bit sizes, whole-file reads and atomic replacement under injected faults.
#include "facilities/CQvFile.h"

#include "facilities/CQvCommits.h"

#include "platform/QvFaults.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BOOL OpenForRead(CQvFile& f) {
    return f.Open(GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL OpenForWrite(CQvFile& f) {
    return f.Open(QV_FILE_ALL_ACCESS, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Clears injected faults even when an assertion leaves the test early.
struct FaultGuard {
    ~FaultGuard() { qvp::ClearFaults(); }
};

TEST(CQvFile, WriteThenReadRoundTrip) {
    qvtest::TempTree tree;
    const std::wstring path = tree.WinPath("dir\\data.bin");
    tree.MakeDir("dir");
    std::string payload;
    for (int i = 0; i < 300000; ++i) payload += static_cast<char>(i * 7);
    {
        CQvFile out(path.c_str());
        ASSERT_TRUE(OpenForWrite(out));
        DWORD written = 0;
        ASSERT_TRUE(out.Write(payload.data(), 10, &written, nullptr));
        EXPECT_EQ(10u, written);
        ASSERT_TRUE(out.Write(payload.data() + 10, 5, nullptr, nullptr)) << "null count pointer is allowed";
        ASSERT_TRUE(out.WriteAll(payload.data() + 15, payload.size() - 15));
        EXPECT_TRUE(out.Flush());
        EXPECT_EQ(static_cast<int64_t>(payload.size()), out.GetFileSize());
    }  // the destructor closes
    EXPECT_EQ(payload, tree.ReadFile("dir/data.bin"));

    CQvFile in;
    ASSERT_TRUE(in.Attach(path.c_str()));
    EXPECT_EQ(path, std::wstring(in.GetPath()));
    ASSERT_TRUE(OpenForRead(in));
    std::string back;
    std::vector<char> buf(65536);
    for (;;) {
        DWORD got = 12345;
        ASSERT_TRUE(in.Read(buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr));
        if (got == 0) break;  // end of file
        back.append(buf.data(), got);
    }
    EXPECT_EQ(payload, back);
    EXPECT_TRUE(in.Close());
    EXPECT_FALSE(in.IsOpen());
}

TEST(CQvFile, OperationsFailWithoutAnOpenFile) {
    qvtest::TempTree tree;
    CQvFile f;
    char buf[4];
    DWORD n = 99;
    EXPECT_FALSE(f.Attach(nullptr));
    EXPECT_FALSE(f.Attach(L""));
    EXPECT_FALSE(OpenForRead(f)) << "nothing attached";
    EXPECT_FALSE(f.Read(buf, 4, &n, nullptr));
    EXPECT_EQ(0u, n);
    EXPECT_FALSE(f.Write(buf, 4, nullptr, nullptr));
    EXPECT_FALSE(f.Flush());
    EXPECT_EQ(-1, f.GetFileSize());
    ASSERT_TRUE(f.Attach(tree.WinPath("missing.bin").c_str()));
    EXPECT_FALSE(OpenForRead(f));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), qvp::GetLastError());
}

TEST(CQvFile, SizeOfASparseFileBeyondFourGigabytes) {
    qvtest::TempTree tree;
    const uint64_t size = (5ULL << 30) + 123;
    tree.WriteSparse("big.bin", size);
    CQvFile f(tree.WinPath("big.bin").c_str());
    ASSERT_TRUE(OpenForRead(f));
    EXPECT_EQ(static_cast<int64_t>(size), f.GetFileSize());
}

TEST(CQvFile, ReadAllReadsTheWholeFile) {
    qvtest::TempTree tree;
    std::string content(3 * 1024 * 1024 + 17, 'x');
    content[0] = '\0';
    content.back() = 'z';
    tree.WriteFile("all.bin", content);
    tree.WriteFile("empty.bin", "");
    std::string got = "stale";
    ASSERT_TRUE(CQvFile::ReadAll(tree.WinPath("all.bin").c_str(), got));
    EXPECT_EQ(content, got);
    ASSERT_TRUE(CQvFile::ReadAll(tree.WinPath("empty.bin").c_str(), got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(CQvFile::ReadAll(tree.WinPath("none.bin").c_str(), got));
}

TEST(CQvFile, ReadAllFailsOnAReadError) {
    qvtest::TempTree tree;
    FaultGuard guard;
    tree.WriteFile("a.bin", "abc");
    std::string got;
    qvp::InjectFault(qvp::FaultOp::Read, 1);
    EXPECT_FALSE(CQvFile::ReadAll(tree.WinPath("a.bin").c_str(), got));
    EXPECT_TRUE(got.empty());
}

TEST(CQvFile, WriteAtomicallyReplacesTheFile) {
    qvtest::TempTree tree;
    tree.WriteFile("list.ini", "old content that is longer than the new one");
    const std::string fresh = "new";
    ASSERT_TRUE(CQvFile::WriteAtomically(tree.WinPath("list.ini").c_str(), fresh.data(), fresh.size()));
    EXPECT_EQ(fresh, tree.ReadFile("list.ini"));
    EXPECT_EQ(std::vector<std::string>{"list.ini"}, tree.List()) << "no temporary file is left";
    // A target that did not exist yet, and an empty content.
    ASSERT_TRUE(CQvFile::WriteAtomically(tree.WinPath("new.ini").c_str(), nullptr, 0));
    EXPECT_TRUE(tree.Exists("new.ini"));
    EXPECT_EQ("", tree.ReadFile("new.ini"));
}

TEST(CQvFile, WriteAtomicallyKeepsTheOldFileWhenAStepFails) {
    struct Row { const char* label; qvp::FaultOp op; };
    const Row rows[] = {
        {"create of the temporary file", qvp::FaultOp::Create},
        {"write", qvp::FaultOp::Write},
        {"flush", qvp::FaultOp::Flush},
        {"rename over the target", qvp::FaultOp::Rename},
    };
    const std::string old = "[Files]\r\nFile0=:\\a.bin|01012024000000|2\r\n";
    const std::string fresh = "[Files]\r\n";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        qvtest::TempTree tree;
        FaultGuard guard;
        qvtest::LogCapture cap;
        tree.WriteFile("list.ini", old);
        qvp::InjectFault(r.op, 1, ERROR_DISK_FULL);
        EXPECT_FALSE(CQvFile::WriteAtomically(tree.WinPath("list.ini").c_str(), fresh.data(), fresh.size()));
        EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), qvp::GetLastError()) << "the cause survives the clean-up";
        qvp::ClearFaults();
        EXPECT_EQ(old, tree.ReadFile("list.ini"));
        EXPECT_EQ(std::vector<std::string>{"list.ini"}, tree.List()) << "no temporary file is left";
        EXPECT_TRUE(cap.HasContaining(QvLogLevel::Error, L"CQvFile::WriteAtomically")) << cap.Dump();
    }
}

// Files handed to commits are put in place in order; the first that cannot be stops the rest,
// which keep their old content, and no temporary file is left either way.
TEST(CQvFile, CommitsPutFilesInPlaceInOrderUpToTheFirstFailure) {
    struct Row { const char* label; qvp::FaultOp op; int nth; int firstKept; };
    const Row rows[] = {
        {"no failure", qvp::FaultOp::Rename, 0, 5},
        {"the first rename", qvp::FaultOp::Rename, 1, 0},
        {"the third flush", qvp::FaultOp::Flush, 3, 2},
        {"the last rename", qvp::FaultOp::Rename, 5, 4},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        qvtest::TempTree tree;
        FaultGuard guard;
        qvtest::LogCapture cap;
        std::vector<std::wstring> paths;
        for (int i = 0; i < 5; ++i) {
            const std::string name = "Media" + std::to_string(i + 1) + ".xml";
            tree.WriteFile(name, "old");
            paths.push_back(tree.WinPath(name));
        }
        if (r.nth) qvp::InjectFault(r.op, r.nth, ERROR_DISK_FULL);
        {
            CQvCommits commits;
            for (size_t i = 0; i < paths.size(); ++i) {
                const std::string fresh = "new " + std::to_string(i + 1);
                CQvFile::WriteAtomicallyWith(
                    paths[i].c_str(), [&](CQvFile& f) { return f.WriteAll(fresh.data(), fresh.size()) != FALSE; },
                    &commits);
            }
            const bool all = r.firstKept == 5;
            EXPECT_EQ(all, commits.Finish());
            if (!all) {
                EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), qvp::GetLastError());
                EXPECT_EQ(paths[static_cast<size_t>(r.firstKept)], std::wstring(commits.Failed()));
                EXPECT_TRUE(cap.Has(QvLogLevel::Error, L"CQvFile::WriteAtomically(...) Write of " +
                                                           paths[static_cast<size_t>(r.firstKept)] +
                                                           L" FAILED error=112, kept the old file"))
                    << cap.Dump();
            }
        }
        qvp::ClearFaults();
        for (int i = 0; i < 5; ++i) {
            const std::string name = "Media" + std::to_string(i + 1) + ".xml";
            EXPECT_EQ(i < r.firstKept ? "new " + std::to_string(i + 1) : "old", tree.ReadFile(name)) << name;
        }
        EXPECT_EQ(5u, tree.List().size()) << "no temporary file is left";
    }
}

TEST(CQvFile, WriteAtomicallyRejectsBadArguments) {
    EXPECT_FALSE(CQvFile::WriteAtomically(nullptr, "x", 1));
    EXPECT_FALSE(CQvFile::WriteAtomically(L"", "x", 1));
    qvtest::TempTree tree;
    EXPECT_FALSE(CQvFile::WriteAtomically(tree.WinPath("a.bin").c_str(), nullptr, 5));
    EXPECT_FALSE(tree.Exists("a.bin"));
    // A folder that does not exist cannot take the temporary file.
    EXPECT_FALSE(CQvFile::WriteAtomically(tree.WinPath("no\\dir\\a.bin").c_str(), "x", 1));
}

}  // namespace
