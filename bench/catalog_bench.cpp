// Measures building the file catalogue for a large generated tree, file by file (output method
// 0) and keeping directories whole (method 1), against a plain `find` over the same tree.
//
// Usage: catalog_bench [ROOT]   (ROOT is created and filled once, then reused)
#include "catalog/CQvFileDescCatalog.h"
#include "media/CQvMediaFactory.h"
#include "rules/CQvRulesFactory.h"
#include "rules/CQvRulesReader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int kTopDirs = 40;
const int kSubDirs = 50;
const int kFilesPerDir = 100;  // 40 x 50 x 100 = 200,000 files in 2,040 folders
const long kFileCount = static_cast<long>(kTopDirs) * kSubDirs * kFilesPerDir;

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

long PeakKiB() {
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;  // KiB on Linux
}

long CurrentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool MakeTree(const std::string& root) {
    const std::string marker = root + "/.complete";
    if (access(marker.c_str(), F_OK) == 0) return true;
    std::printf("generating %ld files under %s ...\n", kFileCount, root.c_str());
    mkdir(root.c_str(), 0755);
    const std::string tree = root + "/Tree";
    mkdir(tree.c_str(), 0755);
    char path[512];
    for (int d = 0; d < kTopDirs; ++d) {
        std::snprintf(path, sizeof(path), "%s/Dir%02d", tree.c_str(), d);
        mkdir(path, 0755);
        for (int s = 0; s < kSubDirs; ++s) {
            std::snprintf(path, sizeof(path), "%s/Dir%02d/SubFolder%03d", tree.c_str(), d, s);
            mkdir(path, 0755);
            for (int f = 0; f < kFilesPerDir; ++f) {
                std::snprintf(path, sizeof(path), "%s/Dir%02d/SubFolder%03d/File_%03d.Dat",
                              tree.c_str(), d, s, f);
                const int fd = open(path, O_CREAT | O_WRONLY | O_TRUNC, 0644);
                if (fd < 0) return false;
                // Sparse sizes, so directory totals mean something without using the disk.
                if (ftruncate(fd, static_cast<off_t>((f % 7) * 4096)) != 0) return false;
                close(fd);
            }
        }
    }
    const int fd = open(marker.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0) close(fd);
    return true;
}

bool WriteRules(const std::string& root) {
    const std::string file = root + "/rules.xml";
    FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return false;
    std::fprintf(f,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RulesFile>\n"
                 "<Rule RuleID=\"1\" Action=\"INCLUDE\" AllTogether=\"FALSE\" Location=\"Any\">"
                 "<SourcePath>B:\\Tree</SourcePath><TargetPath>\\Backup</TargetPath></Rule>\n"
                 "<Rule RuleID=\"2\" Action=\"EXCLUDE\" AllTogether=\"FALSE\" Location=\"Any\">"
                 "<SourcePath>B:\\Tree\\Dir07\\SubFolder003</SourcePath><TargetPath></TargetPath>"
                 "</Rule>\n</RulesFile>\n");
    std::fclose(f);
    return true;
}

// Builds the catalogue once with one output method; returns seconds, or -1 on failure.
double BuildOnce(DWORD dwMethod) {
    CQvFileDescCatalog* pCatalog = CQvFileDescCatalog::GetInstance();
    CQvRulesFactory::GetInstance()->ResetRulesCatalog();
    pCatalog->ResetFileCatalog();
    if (CQvRulesReader::GetInstance()->ReadRules(L"B:\\rules.xml") < 0) return -1;
    const double t0 = Now();
    const long result = pCatalog->ValidateSplitSize(700, 0, dwMethod);
    const double t1 = Now();
    if (result < 0) std::printf("  (ValidateSplitSize returned 0x%lx)\n", result);
    return t1 - t0;
}

double TimeFind(const std::string& root) {
    const std::string cmd = "find '" + root + "/Tree' -type f -printf '%s\\n' >/dev/null";
    const double t0 = Now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return Now() - t0;
}

double Best(double a, double b) { return a < b ? a : b; }

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    if (argc > 1) {
        root = argv[1];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        root = std::string(tmp ? tmp : "/tmp") + "/qvsplit-catalog-bench";
    }
    if (!MakeTree(root) || !WriteRules(root)) {
        std::fprintf(stderr, "cannot prepare the tree under %s\n", root.c_str());
        return 1;
    }
    setenv("QVSPLIT_DRIVE_B", root.c_str(), 1);
    TimeFind(root);  // warms the cache for everyone
    const double tFind = Best(TimeFind(root), TimeFind(root));

    const long baseKiB = CurrentKiB();
    const double t0a = BuildOnce(0);
    const int64_t total0 = CQvMediaFactory::GetInstance()->m_iTotalSize;
    const long peak0 = PeakKiB();
    const double t0 = Best(t0a, BuildOnce(0));
    const double t1 = Best(BuildOnce(1), BuildOnce(1));
    const int64_t total1 = CQvMediaFactory::GetInstance()->m_iTotalSize;
    CQvFileDescCatalog::GetInstance()->ResetFileCatalog();

    std::printf("tree: %ld files in %d folders under %s\n", kFileCount,
                kTopDirs * kSubDirs + kTopDirs + 1, root.c_str());
    std::printf("find -printf %%s      : %8.3f s  %10.0f files/s\n", tFind, kFileCount / tFind);
    std::printf("method 0 (files)     : %8.3f s  %10.0f files/s  ratio to find %.2f (target <= 3)\n",
                t0, kFileCount / t0, t0 / tFind);
    std::printf("method 1 (dirs whole): %8.3f s  %10.0f files/s  ratio to find %.2f (target <= 4)\n",
                t1, kFileCount / t1, t1 / tFind);
    std::printf("catalogue totals     : method 0 %lld bytes, method 1 %lld bytes\n",
                static_cast<long long>(total0), static_cast<long long>(total1));
    std::printf("peak memory          : %ld KiB (before build %ld KiB): %.0f bytes per file "
                "(target < 1024)\n",
                peak0, baseKiB, (peak0 - baseKiB) * 1024.0 / kFileCount);
    return 0;
}
