// Copying between two open files: the bytes, the positions, the end of the source, and which
// side a failure is reported on, for the system's copy and the buffered one alike.
#include "platform/QvFaults.h"

#include "platform/QvPlatformTestUtil.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using qvtest::TempTree;

namespace {

typedef BOOL (*CopyFn)(HANDLE, HANDLE, uint64_t, void*, DWORD, uint64_t*, qvp::CopyFailure*);

struct Way {
    const char* name;
    CopyFn copy;
};

const Way kWays[] = {{"system copy", qvp::CopyFileData},
                     {"buffered copy", qvp::CopyFileDataThroughBuffer}};

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 13) % 26);
    return s;
}

class QvCopyTest : public ::testing::Test {
protected:
    void SetUp() override { qvp::ClearFaults(); }
    void TearDown() override { qvp::ClearFaults(); }

    HANDLE Open(const std::string& rel, DWORD access, DWORD disposition) {
        return qvp::CreateFileW(m_tree.WinPath(rel).c_str(), access, 0, nullptr, disposition, 0,
                                nullptr);
    }

    TempTree m_tree;
};

}  // namespace

TEST_F(QvCopyTest, CopiesTheAskedBytesFromBothPositionsOn) {
    const DWORD kBuffer = 16;
    struct Row {
        size_t source;  // bytes in the source
        size_t skip;    // bytes read off the source before the copy
        uint64_t ask;   // bytes asked for
        size_t expect;  // bytes copied
    };
    const Row rows[] = {
        {0, 0, 100, 0},     {1, 0, 100, 1},     {15, 0, 100, 15},   {16, 0, 100, 16},
        {17, 0, 100, 17},   {55, 0, 100, 55},   {55, 0, 55, 55},    {55, 0, 20, 20},
        {55, 10, 20, 20},   {55, 50, 20, 5},    {55, 0, 0, 0},      {100, 3, UINT64_MAX, 97},
    };
    char buffer[kBuffer];
    for (const Way& way : kWays) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(way.name) + ", source " + std::to_string(row.source) +
                         ", skip " + std::to_string(row.skip) + ", ask " + std::to_string(row.ask));
            const std::string data = Pattern(row.source);
            m_tree.WriteFile("src.bin", data);
            HANDLE from = Open("src.bin", GENERIC_READ, OPEN_EXISTING);
            HANDLE to = Open("dst.bin", GENERIC_WRITE, CREATE_ALWAYS);
            ASSERT_NE(from, INVALID_HANDLE_VALUE);
            ASSERT_NE(to, INVALID_HANDLE_VALUE);
            DWORD got = 0;
            std::string head(row.skip, '\0');
            if (row.skip) {
                ASSERT_TRUE(qvp::ReadFile(from, &head[0], static_cast<DWORD>(row.skip), &got, nullptr));
            }
            ASSERT_TRUE(qvp::WriteFile(to, "<", 1, &got, nullptr));
            uint64_t copied = 99;
            qvp::CopyFailure failure = qvp::CopyFailure::Read;
            EXPECT_TRUE(way.copy(from, to, row.ask, buffer, kBuffer, &copied, &failure));
            EXPECT_EQ(copied, row.expect);
            EXPECT_EQ(failure, qvp::CopyFailure::None);
            // Both positions moved on by what was copied.
            ASSERT_TRUE(qvp::WriteFile(to, ">", 1, &got, nullptr));
            char next = 0;
            ASSERT_TRUE(qvp::ReadFile(from, &next, 1, &got, nullptr));
            const size_t at = row.skip + row.expect;
            EXPECT_EQ(got, at < data.size() ? 1u : 0u);
            if (got) {
                EXPECT_EQ(next, data[at]);
            }
            qvp::CloseHandle(from);
            qvp::CloseHandle(to);
            EXPECT_EQ(m_tree.ReadFile("dst.bin"), "<" + data.substr(row.skip, row.expect) + ">");
        }
    }
}

TEST_F(QvCopyTest, FailuresNameTheSideThatFailed) {
    const DWORD kBuffer = 8;
    char buffer[kBuffer];
    struct Row {
        const char* name;
        qvp::FaultOp op;  // the injected fault, or Count_ for none
        DWORD access;     // how the target is opened
        qvp::CopyFailure side;
        DWORD error;
    };
    const Row rows[] = {
        {"first read fails", qvp::FaultOp::Read, GENERIC_WRITE, qvp::CopyFailure::Read,
         ERROR_WRITE_FAULT},
        {"first write fails", qvp::FaultOp::Write, GENERIC_WRITE, qvp::CopyFailure::Write,
         ERROR_WRITE_FAULT},
        {"target not open for writing", qvp::FaultOp::Count_, GENERIC_READ, qvp::CopyFailure::Write,
         ERROR_ACCESS_DENIED},
    };
    for (const Way& way : kWays) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(way.name) + ": " + row.name);
            m_tree.WriteFile("src.bin", Pattern(40));
            m_tree.WriteFile("dst.bin", "");
            HANDLE from = Open("src.bin", GENERIC_READ, OPEN_EXISTING);
            HANDLE to = Open("dst.bin", row.access, OPEN_EXISTING);
            ASSERT_NE(from, INVALID_HANDLE_VALUE);
            ASSERT_NE(to, INVALID_HANDLE_VALUE);
            if (row.op != qvp::FaultOp::Count_) qvp::InjectFault(row.op, 1);
            uint64_t copied = 99;
            qvp::CopyFailure failure = qvp::CopyFailure::None;
            EXPECT_FALSE(way.copy(from, to, 40, buffer, kBuffer, &copied, &failure));
            EXPECT_EQ(failure, row.side);
            EXPECT_EQ(qvp::GetLastError(), row.error);
            EXPECT_EQ(copied, 0u);
            qvp::ClearFaults();
            qvp::CloseHandle(from);
            qvp::CloseHandle(to);
            EXPECT_EQ(m_tree.ReadFile("dst.bin"), "") << "nothing written";
        }
    }
}

TEST_F(QvCopyTest, ALaterFailureKeepsWhatWasCopiedBefore) {
    // Each step of the buffered copy is one read and one write; the third write fails.
    const DWORD kBuffer = 8;
    char buffer[kBuffer];
    m_tree.WriteFile("src.bin", Pattern(40));
    HANDLE from = Open("src.bin", GENERIC_READ, OPEN_EXISTING);
    HANDLE to = Open("dst.bin", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(from, INVALID_HANDLE_VALUE);
    ASSERT_NE(to, INVALID_HANDLE_VALUE);
    qvp::InjectFault(qvp::FaultOp::Write, 3);
    uint64_t copied = 0;
    qvp::CopyFailure failure = qvp::CopyFailure::None;
    EXPECT_FALSE(qvp::CopyFileDataThroughBuffer(from, to, 40, buffer, kBuffer, &copied, &failure));
    EXPECT_EQ(failure, qvp::CopyFailure::Write);
    EXPECT_EQ(copied, 16u);
    qvp::ClearFaults();
    qvp::CloseHandle(from);
    qvp::CloseHandle(to);
    EXPECT_EQ(m_tree.ReadFile("dst.bin"), Pattern(40).substr(0, 16));
}
