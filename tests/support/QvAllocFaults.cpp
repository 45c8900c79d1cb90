// The allocation-failure seam: the test program's own operator new, counting when armed.
#include "support/QvAllocFaults.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_failAt{0};
std::atomic<size_t> g_count{0};

void* Allocate(size_t size) {
    if (g_failAt.load(std::memory_order_relaxed) != 0 &&
        g_count.fetch_add(1, std::memory_order_relaxed) + 1 == g_failAt.load(std::memory_order_relaxed))
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace qvtest {

void FailAllocation(size_t nth) {
    g_count = 0;
    g_failAt = nth;
}

size_t Allocations() { return g_count; }

}  // namespace qvtest

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
