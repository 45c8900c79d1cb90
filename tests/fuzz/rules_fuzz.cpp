// Fuzz target for the rules reader: any bytes as a rules file, read into the rules catalogue.
//
// Oracle beyond the sanitizers: every rule the catalogue holds afterwards has at least one
// location, and its target paths match its include locations one for one.
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path g_dir;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// A folder mapped to drive F, holding a few files that rules may name (F:\a.txt, F:\d\b.txt).
void MakeWorld() {
    g_dir = std::filesystem::temp_directory_path() /
            ("qvsplit-rules-fuzz-" + std::to_string(qvp::GetCurrentProcessId()));
    std::filesystem::create_directories(g_dir / "d");
    std::ofstream(g_dir / "a.txt") << "a";
    std::ofstream(g_dir / "d" / "b.txt") << "b";
    setenv("QVSPLIT_DRIVE_F", g_dir.c_str(), 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_dir.empty()) MakeWorld();
    {
        std::ofstream out(g_dir / "rules.xml", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CQvRulesReader* pReader = CQvRulesReader::GetInstance();
    CQvRulesFactory* pFactory = CQvRulesFactory::GetInstance();
    Check(pReader && pFactory);
    const long lResult = pReader->ReadRules(L"F:\\rules.xml");
    Check(lResult == S_OK || lResult == E_FAIL);
    QvRules include, exclude;
    pFactory->GetIncludeRules(include);
    pFactory->GetExcludeRules(exclude);
    for (const auto& entry : include) {
        Check(entry.second->vtInclude.size() == entry.second->vtTargetPath.size());
    }
    for (const auto& entry : exclude) Check(!entry.second->vtExclude.empty());
    pFactory->ResetRulesCatalog();
    return 0;
}
