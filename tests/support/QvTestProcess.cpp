// Host-independent parts of the child-process helper.
#include "support/QvTestProcess.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace qvtest {

fs::path OwnProgramPath();  // the running test program, from the host's file

// The whole of an output file of a child.
std::string ReadOutputFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path BuildDir() {
    const char* dir = std::getenv("QVSPLIT_TEST_BINARY_DIR");
    if (dir && *dir) return fs::u8path(dir);
    const fs::path self = OwnProgramPath();
    return self.empty() ? fs::path() : self.parent_path().parent_path();
}

fs::path MakeTempFolder(const std::string& prefix) {
    std::random_device rd;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return fs::path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = base / fs::u8path(prefix + std::to_string(rd() % 1000000000u));
        if (fs::create_directory(dir, ec)) return dir;
    }
    return fs::path();
}

std::string PathText(const fs::path& p) {
    fs::path preferred = p;
    preferred.make_preferred();
    return preferred.u8string();
}

}  // namespace qvtest
