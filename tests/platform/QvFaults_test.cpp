// Tests of the fault-injection seam: the chosen call of an operation fails, the others do not.
#include "platform/QvFaults.h"

#include "platform/QvPlatformTestUtil.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

using qvtest::TempTree;

namespace {

class QvFaultsTest : public ::testing::Test {
protected:
    void SetUp() override { qvp::ClearFaults(); }
    void TearDown() override { qvp::ClearFaults(); }

    HANDLE Create(const std::string& rel, DWORD disposition = CREATE_ALWAYS) {
        return qvp::CreateFileW(m_tree.WinPath(rel).c_str(), QV_FILE_ALL_ACCESS, 0, nullptr, disposition, 0, nullptr);
    }

    TempTree m_tree;
};

}  // namespace

TEST_F(QvFaultsTest, NthWriteFailsWithTheChosenCode) {
    HANDLE h = Create("w.bin");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    qvp::InjectFault(qvp::FaultOp::Write, 2, ERROR_DISK_FULL);
    DWORD written = 0;
    EXPECT_TRUE(qvp::WriteFile(h, "one", 3, &written, nullptr));
    EXPECT_FALSE(qvp::WriteFile(h, "two", 3, &written, nullptr));
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(qvp::WriteFile(h, "six", 3, &written, nullptr)) << "only the nth call fails";
    EXPECT_EQ(qvp::FaultCallCount(qvp::FaultOp::Write), 3);
    EXPECT_EQ(qvp::FaultCallCount(qvp::FaultOp::Read), 0);
    qvp::CloseHandle(h);
    EXPECT_EQ(m_tree.ReadFile("w.bin"), "onesix") << "the failed write wrote nothing";
}

TEST_F(QvFaultsTest, CountersResetAndClear) {
    HANDLE h = Create("c.bin");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    qvp::InjectFault(qvp::FaultOp::Write, 2);
    EXPECT_TRUE(qvp::WriteFile(h, "a", 1, &written, nullptr));
    qvp::ResetFaultCounters();
    EXPECT_EQ(qvp::FaultCallCount(qvp::FaultOp::Write), 0);
    EXPECT_TRUE(qvp::WriteFile(h, "b", 1, &written, nullptr)) << "counting starts again";
    EXPECT_FALSE(qvp::WriteFile(h, "c", 1, &written, nullptr));
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_WRITE_FAULT)) << "the default code";
    qvp::InjectFault(qvp::FaultOp::Write, 1);
    qvp::ClearFaults();
    EXPECT_TRUE(qvp::WriteFile(h, "d", 1, &written, nullptr));
    EXPECT_EQ(qvp::FaultCallCount(qvp::FaultOp::Write), 1);
    qvp::InjectFault(qvp::FaultOp::Write, 0);
    EXPECT_TRUE(qvp::WriteFile(h, "e", 1, &written, nullptr)) << "0 switches the fault off";
    qvp::CloseHandle(h);
    EXPECT_EQ(m_tree.ReadFile("c.bin"), "abde");
}

TEST_F(QvFaultsTest, EveryOperationKindCanFail) {
    m_tree.WriteFile("src.txt", "data");
    m_tree.WriteFile("del.txt", "data");
    qvp::InjectFault(qvp::FaultOp::Create, 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Create("new.txt", CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(m_tree.Exists("new.txt"));

    qvp::InjectFault(qvp::FaultOp::Rename, 1);
    EXPECT_FALSE(qvp::MoveFileW(m_tree.WinPath("src.txt").c_str(), m_tree.WinPath("moved.txt").c_str()));
    EXPECT_TRUE(m_tree.Exists("src.txt"));
    qvp::InjectFault(qvp::FaultOp::Rename, 1);
    EXPECT_FALSE(qvp::MoveFileExW(m_tree.WinPath("src.txt").c_str(), m_tree.WinPath("moved.txt").c_str(),
                                  MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(m_tree.Exists("moved.txt"));

    qvp::InjectFault(qvp::FaultOp::Delete, 1);
    EXPECT_FALSE(qvp::DeleteFileW(m_tree.WinPath("del.txt").c_str()));
    EXPECT_TRUE(m_tree.Exists("del.txt"));

    HANDLE h = Create("src.txt", OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    qvp::InjectFault(qvp::FaultOp::Read, 1, ERROR_READ_FAULT);
    char buf[8];
    DWORD got = 77;
    EXPECT_FALSE(qvp::ReadFile(h, buf, sizeof(buf), &got, nullptr));
    EXPECT_EQ(qvp::GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
    EXPECT_EQ(got, 0u);
    qvp::InjectFault(qvp::FaultOp::Flush, 1);
    EXPECT_FALSE(qvp::FlushFileBuffers(h));
    EXPECT_TRUE(qvp::FlushFileBuffers(h));
    qvp::CloseHandle(h);
}
