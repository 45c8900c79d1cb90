// Benchmark of the media distribution: synthetic catalogue entries spread over 700 MB media
// and written as media description files; prints time, peak memory and the scaling ratio.
#include "media/CQvMediaFactory.h"
#include "platform/QvPlatform.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <filesystem>
#include <string>
#include <utility>

namespace {

const int64_t kMB = 1048576;
const DWORD kSplitMB = 700;
const int kGroups = 100;

// Deterministic 64-bit generator, so every run distributes the same catalogue.
struct Lcg {
    uint64_t state;
    uint64_t Next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 11;
    }
    double Unit() { return static_cast<double>(Next()) / static_cast<double>(1ULL << 53); }
};

// Log-uniform size between lo and hi bytes: many small files, some of hundreds of megabytes.
int64_t SizeBetween(Lcg& rng, double lo, double hi) {
    return static_cast<int64_t>(std::exp(std::log(lo) + rng.Unit() * (std::log(hi) - std::log(lo))));
}

struct Catalogue {
    QvFileDescMap all, any, first, last, notFirst, notLast;
    int64_t total = 0;
};

void Put(Catalogue& cat, QvFileDescMap& map, int index, int64_t size, int group) {
    wchar_t path[64];
    swprintf(path, 64, L"C:\\Data\\Dir%03d\\file%07d.bin", index % 997, index);
    FileDesc desc;
    desc.strFilePath = path;
    desc.strTargetPath = L"\\Data";
    desc.strWriteTime = L"20240101120000";
    desc.dwAttributes = 0x20;
    desc.iFileSize = size;
    desc.iAllTogetherGroup = group;
    std::wstring key(path);
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
    map[CQvString(key)] = std::move(desc);
    cat.total += size;
}

// Size of one entry. The typical profile follows real file systems (nine files in ten below
// 1 MB, one in a hundred of 50 to 400 MB); the wide profile spreads sizes evenly on a log
// scale from 4 KB to 400 MB, which makes about ten times as many media.
bool g_bWide = false;

int64_t EntrySize(Lcg& rng) {
    if (g_bWide) return SizeBetween(rng, 4096, 400.0 * kMB);
    const uint64_t band = rng.Next() % 100;
    if (band < 90) return SizeBetween(rng, 4096, 1.0 * kMB);
    if (band < 99) return SizeBetween(rng, 1.0 * kMB, 50.0 * kMB);
    return SizeBetween(rng, 50.0 * kMB, 400.0 * kMB);
}

// Mostly any-medium entries; a few fixed, not-first and not-last ones; one entry in a hundred
// belongs to one of a hundred small AllTogether groups.
Catalogue Generate(int count) {
    Catalogue cat;
    Lcg rng{42};
    for (int i = 0; i < count; ++i) {
        const uint64_t kind = rng.Next() % 100;
        if (i < 2) {
            Put(cat, cat.all, i, 1024, -1);
        } else if (i < 12) {
            Put(cat, cat.first, i, SizeBetween(rng, 4096, 20.0 * kMB), -1);
        } else if (i < 22) {
            Put(cat, cat.last, i, SizeBetween(rng, 4096, 20.0 * kMB), -1);
        } else if (kind == 0) {
            Put(cat, cat.any, i, SizeBetween(rng, 4096, 4.0 * kMB),
                static_cast<int>(rng.Next() % kGroups));
        } else if (kind <= 2) {
            Put(cat, cat.notFirst, i, EntrySize(rng), -1);
        } else if (kind <= 4) {
            Put(cat, cat.notLast, i, EntrySize(rng), -1);
        } else {
            Put(cat, cat.any, i, EntrySize(rng), -1);
        }
    }
    return cat;
}

// Processor seconds (user and system) used so far; on a shared machine the wall clock also
// counts time the process waited for a processor.
double CpuSeconds() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Distributes and writes one catalogue of count entries; returns the seconds it took.
double RunOnce(int count, const std::filesystem::path& root) {
    Catalogue cat = Generate(count);
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    CQvMediaFactory* factory = CQvMediaFactory::GetInstance();
    factory->m_iTotalSize = cat.total;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    const DWORD media = factory->CreateMediaFiles(
        L"B:\\", L"bench", 3, kSplitMB, 0, kGroups, std::move(cat.all), std::move(cat.any),
        std::move(cat.first), std::move(cat.last), std::move(cat.notFirst),
        std::move(cat.notLast));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    std::printf("%8d entries: %6u media in %7.2f s wall, %7.2f s processor (total %lld MB)\n",
                count, media, seconds, cpu, static_cast<long long>(cat.total / kMB));
    std::filesystem::remove_all(root);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    // media_bench [entries] [folder] [wide]
    const int big = argc > 1 ? std::atoi(argv[1]) : 1000000;
    g_bWide = argc > 3 && std::string(argv[3]) == "wide";
    // Every media file is saved atomically with a flush to disk, so on a real disk the figures
    // measure the disk's flush latency; a memory-backed folder measures the library itself.
    std::filesystem::path base = argc > 2 && std::string(argv[2]) != "-"
                                     ? std::filesystem::path(argv[2])
                                          : std::filesystem::temp_directory_path();
    if ((argc <= 2 || std::string(argv[2]) == "-") && std::filesystem::is_directory("/dev/shm"))
        base = "/dev/shm";
    const std::filesystem::path root =
        base / ("qvsplit-media-bench-" + std::to_string(qvp::GetCurrentProcessId()));
    std::printf("writing into %s\n", root.c_str());
    // Drive B of the library's Windows paths is the benchmark's folder.
    setenv("QVSPLIT_DRIVE_B", root.c_str(), 1);
    const double quarter = RunOnce(big / 4, root);
    const double full = RunOnce(big, root);
    std::printf("ratio %d/%d entries: %.2f (4 is linear)\n", big, big / 4, full / quarter);
    std::printf("peak memory: %ld MB\n", PeakKilobytes() / 1024);
    return 0;
}
