// Throughput of cutting a big file into parts and rebuilding it, beside cp, split and cat.
//
// Usage: bigfile_bench [DIR] [SIZE_MB] [ROUNDS]   (defaults: /tmp, 2048, 1)
// Every job writes its output to disk and flushes it before its clock stops, as the cut and
// the recovery do: cp + sync of the copy is the floor both are measured against.
#include "bigfile/CQvSplitBigFile.h"
#include "platform/QvPlatform.h"
#include "rules/CQvPathRules.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs a shell command and returns its wall time in seconds (negative when it failed).
double TimeShell(const std::string& cmd) {
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    return rc == 0 ? d.count() : -1.0;
}

template <class F>
double TimeCall(F job) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = job();
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - start;
    return ok ? d.count() : -1.0;
}

void Report(const char* what, double seconds, double mib, double floorSeconds) {
    if (seconds < 0) {
        std::printf("%-34s FAILED\n", what);
        return;
    }
    std::printf("%-34s %8.2f s %9.1f MiB/s   %.2fx cp+sync\n", what, seconds, mib / seconds,
                floorSeconds / seconds);
}

// Cuts dir/src.bin at split size 700 through the library, as the catalogue would.
bool CutWithLibrary(const std::string& dir) {
    CQvSplitBigFile* splitter = CQvSplitBigFile::GetInstance();
    if (splitter->SetSplitBigFile(TRUE, 700, L"B:\\parts.ini") != 0) return false;
    CQvPathRules rule(L"INCLUDE", L"Any", L"B:\\src.bin", L"Bench", L"1", -1, L"");
    FileDesc fd;
    fd.pPathRules = &rule;
    fd.strFilePath = L"B:\\src.bin";
    fd.strTargetPath = L"\\Bench";
    fd.iFileSize = static_cast<int64_t>(fs::file_size(dir + "/src.bin"));
    QvFileDescMap map;
    map[CQvString(L"b:\\src.bin")] = fd;
    QvFileDescMapIter it = map.begin();
    return splitter->SplitFile(map, it) == 0;
}

bool RecoverWithLibrary(const std::string& dir) {
    if (CQvSplitBigFile::GetInstance()->RecoverFiles(L'B', L"B:\\parts.ini") != 0) return false;
    return fs::exists(dir + "/src.bin");
}

void RunRound(const std::string& dir, double mib) {
    const std::string d = "'" + dir + "'";
    const double cp = TimeShell("cp " + d + "/src.bin " + d + "/copy.bin && sync " + d + "/copy.bin");
    Report("cp + sync (floor)", cp, mib, cp);
    const double split = TimeShell("cd " + d + " && split -b 680M src.bin sp. && sync sp.*");
    Report("split -b 680M + sync", split, mib, cp);
    const double cat = TimeShell("cd " + d + " && cat sp.* > joined.bin && sync joined.bin");
    Report("cat parts + sync", cat, mib, cp);
    std::system(("rm -f " + d + "/sp.* " + d + "/joined.bin").c_str());
    const double cut = TimeCall([&] { return CutWithLibrary(dir); });
    Report("QvSplit cut (split size 700)", cut, mib, cp);
    const double rec = TimeCall([&] { return RecoverWithLibrary(dir); });
    Report("QvSplit recover", rec, mib, cp);
    const bool same = std::system(("cmp -s " + d + "/src.bin " + d + "/copy.bin").c_str()) == 0;
    std::printf("rebuilt file identical to the original: %s\n", same ? "yes" : "NO");
    std::system(("rm -f " + d + "/copy.bin " + d + "/parts.ini").c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = argc > 1 ? argv[1] : "/tmp";
    const long sizeMB = argc > 2 ? std::atol(argv[2]) : 2048;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 1;
    const std::string dir = base + "/qvsplit-bigfile-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    setenv("QVSPLIT_DRIVE_B", dir.c_str(), 1);
    std::printf("file: %ld MiB of random data in %s\n", sizeMB, dir.c_str());
    const std::string make = "head -c " + std::to_string(sizeMB) + "M /dev/urandom > '" + dir +
                             "/src.bin' && sync '" + dir + "/src.bin'";
    if (std::system(make.c_str()) != 0) {
        std::printf("cannot create the test file\n");
        return 1;
    }
    for (int r = 1; r <= rounds; ++r) {
        std::printf("-- round %d\n", r);
        RunRound(dir, static_cast<double>(sizeMB));
    }
    fs::remove_all(dir);
    return 0;
}
