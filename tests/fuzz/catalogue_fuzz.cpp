// Fuzz target for the text catalogue reader: any bytes as a disc's QVSPLIT-CATALOG.txt, followed
// by a split (--since).
//
// Oracle beyond the sanitizers: a catalogue is taken only when its first line is the catalogue's
// header, and one refused always says why.
#include "QvSplit.h"
#include "platform/QvPlatform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;


fs::path g_dir;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_dir.empty()) {
        g_dir = fs::temp_directory_path() / ("qvsplit-catalogue-fuzz-" + std::to_string(qvp::GetCurrentProcessId()));
        fs::create_directories(g_dir);
        setenv("QVSPLIT_DRIVE_F", g_dir.c_str(), 1);
    }
    {
        std::ofstream out(g_dir / "QVSPLIT-CATALOG.txt", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    QvClearSinceSets();
    LPCTSTR why = nullptr;
    const BOOL taken = QvAddSinceSet(L"F:\\QVSPLIT-CATALOG.txt", &why);
    if (taken) {
        // The header as the writer spells it, "<TAB>" standing for each tab.
        const std::string header = "# QvSplit catalogue: medium<TAB>bytes<TAB>written<TAB>path";
        Check(size >= header.size() && std::memcmp(data, header.data(), header.size()) == 0);
    } else {
        Check(why != nullptr && why[0] != L'\0');
    }
    QvClearSinceSets();
    return 0;
}
