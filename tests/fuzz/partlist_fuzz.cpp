// Fuzz target for the part-list reader: any bytes as a part list, joined by recovery.
//
// Oracle beyond the sanitizers: recovery returns success, "list unreadable" or "not joined", and the one
// cut file of the world is either rebuilt whole (its parts then gone) or not touched at all
// (every part still there): a list never makes recovery write a short or mixed file.
#include "bigfile/CQvSplitBigFile.h"
#include "platform/QvPlatform.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path g_dir;
const char* const kParts[] = {"a.bin.01022024101112.Part1", "a.bin.01022024101112.Part2"};

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder mapped to drive F with the parts of F:\a.bin ("ab" + "c"), laid anew for each input.
void MakeWorld() {
    if (g_dir.empty()) {
        g_dir = fs::temp_directory_path() /
                ("qvsplit-partlist-fuzz-" + std::to_string(qvp::GetCurrentProcessId()));
        setenv("QVSPLIT_DRIVE_F", g_dir.c_str(), 1);
    }
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    fs::create_directories(g_dir);
    std::ofstream(g_dir / kParts[0], std::ios::binary) << "ab";
    std::ofstream(g_dir / kParts[1], std::ios::binary) << "c";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MakeWorld();
    {
        std::ofstream out(g_dir / "parts.ini", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CQvSplitBigFile* pSplitter = CQvSplitBigFile::GetInstance();
    Check(pSplitter != nullptr);
    const long lResult = pSplitter->RecoverFiles(L'F', L"F:\\parts.ini");
    // A list that names a file it cannot join says so.
    Check(lResult == 0 || lResult == E_INVALIDARG || lResult == E_FAIL);
    // Names are matched ignoring case, as on Windows: a list naming "A.BIN" joins the parts
    // of "a.bin" into a file of that spelling.
    fs::path rebuilt;
    for (const auto& entry : fs::directory_iterator(g_dir)) {
        std::string name = entry.path().filename().string();
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "a.bin") rebuilt = entry.path();
    }
    if (!rebuilt.empty()) {
        // Another file the list names may still fail: success is not promised here.
        Check(Read(rebuilt) == "abc");
        Check(!fs::exists(g_dir / kParts[0]) && !fs::exists(g_dir / kParts[1]));
    } else {
        Check(fs::exists(g_dir / kParts[0]) && fs::exists(g_dir / kParts[1]));
    }
    return 0;
}
