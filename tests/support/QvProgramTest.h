// The base of tests that run the qvsplit program: its path, and a temporary root (with the
// "scratch" and "tmp" folders a child process works in) made for each test and removed after.
#ifndef QVPROGRAMTEST_H
#define QVPROGRAMTEST_H

#include "support/QvTestProcess.h"
#include "support/QvTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace qvtest {

// The program under test, or an empty path when the build has none.
inline std::filesystem::path ProgramPath() {
    const std::filesystem::path dir = BuildDir();
    if (dir.empty()) return std::filesystem::path();
#if defined(_WIN32)
    const std::filesystem::path program = dir / "qvsplit.exe";
#else
    const std::filesystem::path program = dir / "qvsplit";
#endif
    std::error_code ec;
    return std::filesystem::is_regular_file(program, ec) ? program : std::filesystem::path();
}

class ProgramTest : public ::testing::Test {
protected:
    explicit ProgramTest(const char* rootPrefix) : m_rootPrefix(rootPrefix) {}

    void SetUp() override {
        m_program = ProgramPath();
        if (m_program.empty()) GTEST_SKIP() << "qvsplit not built (QVSPLIT_TEST_BINARY_DIR unset or no program there)";
        m_root = MakeTempFolder(m_rootPrefix);
        ASSERT_FALSE(m_root.empty());
        std::filesystem::create_directories(m_root / "scratch");
        std::filesystem::create_directories(m_root / "tmp");
    }

    void TearDown() override {
        std::error_code ec;
        if (!m_root.empty()) std::filesystem::remove_all(m_root, ec);
    }

    std::filesystem::path P(const std::string& rel) const {
        return (m_root / std::filesystem::u8path(rel)).make_preferred();
    }
    std::string S(const std::string& rel) const { return PathText(P(rel)); }

    void Write(const std::string& rel, const std::string& content) const {
        std::filesystem::create_directories(P(rel).parent_path());
        std::ofstream out(P(rel), std::ios::binary);
        out << content;
    }

    // Bytes that differ from offset to offset, so a part out of order would show.
    static std::string Pattern(size_t size) {
        std::string data(size, '\0');
        uint32_t x = 2463534242u;
        for (size_t i = 0; i < size; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            data[i] = static_cast<char>(x);
        }
        return data;
    }

    std::filesystem::path m_program;
    std::filesystem::path m_root;

private:
    const char* m_rootPrefix;
};

}  // namespace qvtest

#endif
