// Counts the heap a whole split takes, per file of the tree: every operator new of the
// library and of the XML library is counted, so the figure is the same kind of number on a
// 64-bit Linux build and on a 32-bit Windows build (run under Wine), where the resident size
// of the process would mostly measure Wine.
//
// Usage: split_memory_bench TREE OUT_DIR FILES [MB]
//   TREE and OUT_DIR as the library takes them: Windows paths in ASCII ("C:\tmp\tree" on
//   Linux, where drive C is "/"; "Z:\tmp\tree" under Wine). Splits TREE file by file (method 0) into media
//   of MB megabytes (default 700) and prints the media and the peak of the heap, in all and
//   per file (FILES: the number of files in the tree, as the caller counted them).
#include "QvSplit.h"

#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>
#include <string>

namespace {

// Live and peak bytes: as asked for, and as a heap would take them (its header and rounding).
std::atomic<long long> g_live{0}, g_peak{0}, g_heapLive{0}, g_heapPeak{0}, g_count{0};

// The bytes a typical heap of this build takes for a block of n bytes: glibc on 64-bit hosts
// (8-byte header, 16-byte steps, 32 bytes at least), the Windows heap on 32-bit ones (8-byte
// header, 8-byte steps).
long long HeapBytes(size_t n) {
    if (sizeof(void*) == 8) {
        const long long chunk = static_cast<long long>((n + 8 + 15) & ~static_cast<size_t>(15));
        return chunk < 32 ? 32 : chunk;
    }
    return static_cast<long long>((n + 8 + 7) & ~static_cast<size_t>(7));
}

void Raise(std::atomic<long long>& peak, long long now) {
    long long seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {}
}

// Every block carries its size in front, so the release knows what it gave back.
const size_t kFront = 16;

void* Take(size_t n) {
    void* raw = std::malloc(n + kFront);
    if (!raw) return nullptr;
    *static_cast<size_t*>(raw) = n;
    Raise(g_peak, g_live += static_cast<long long>(n));
    Raise(g_heapPeak, g_heapLive += HeapBytes(n));
    ++g_count;
    return static_cast<char*>(raw) + kFront;
}

void Give(void* p) {
    if (!p) return;
    void* raw = static_cast<char*>(p) - kFront;
    const size_t n = *static_cast<size_t*>(raw);
    g_live -= static_cast<long long>(n);
    g_heapLive -= HeapBytes(n);
    std::free(raw);
}

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// ASCII to wide characters (the paths this takes are ASCII).
std::wstring Wide(const char* s) {
    std::wstring w;
    for (; *s; ++s) w += static_cast<wchar_t>(static_cast<unsigned char>(*s));
    return w;
}

}  // namespace

void* operator new(size_t n) {
    if (void* p = Take(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Take(n ? n : 1); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Take(n ? n : 1); }
void operator delete(void* p) noexcept { Give(p); }
void operator delete[](void* p) noexcept { Give(p); }
void operator delete(void* p, size_t) noexcept { Give(p); }
void operator delete[](void* p, size_t) noexcept { Give(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Give(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Give(p); }

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: split_memory_bench TREE OUT_DIR FILES [MB]\n");
        return 2;
    }
    pugi::set_memory_management_functions(Take, Give);
    const long long files = std::atoll(argv[3]);
    const DWORD dwMb = argc > 4 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)) : 700;

    RuleVector rules(1);
    QvRule& rule = rules[0];
    rule.bAllTogether = FALSE;
    rule.bInclude = TRUE;
    rule.iRuleID = 1;
    std::wcsncpy(rule.szSourcePath, Wide(argv[1]).c_str(), QV_RULE_PATH_LEN - 1);
    rule.szSourcePath[QV_RULE_PATH_LEN - 1] = 0;
    std::wcscpy(rule.szTargetPath, L"\\");
    rule.iLocation = InAny;
    std::wstring out = Wide(argv[2]);
    if (out.empty() || out.back() != L'\\') out += L'\\';

    iCQvSplit* split = GetQvSplitInterface();
    const long long before = g_live.load(), heapBefore = g_heapLive.load();
    g_peak = before;
    g_heapPeak = heapBefore;
    const double t0 = Now();
    DWORD media = 0;
    if (split->SetupSplit(L"VOL1", rules, L"Backup", 0, dwMb, 0, 0, out.c_str()))
        media = split->EstimateSplit();
    const double t1 = Now();
    if (media == 0) {
        std::fprintf(stderr, "split_memory_bench: the split failed\n");
        return 1;
    }
    const long long peak = g_peak.load() - before;
    const long long heapPeak = g_heapPeak.load() - heapBefore;
    std::printf("build: %d-bit, wchar_t %d bytes\n", static_cast<int>(sizeof(void*) * 8),
                static_cast<int>(sizeof(wchar_t)));
    std::printf("media: %lu, %.2f s, %lld allocations\n", static_cast<unsigned long>(media),
                t1 - t0, g_count.load());
    std::printf("peak heap: %lld bytes asked for, %lld bytes with the heap's own overhead\n",
                peak, heapPeak);
    if (files > 0)
        std::printf("per file (%lld files): %.0f bytes asked for, %.0f bytes with overhead\n",
                    files, static_cast<double>(peak) / files, static_cast<double>(heapPeak) / files);
    return 0;
}
