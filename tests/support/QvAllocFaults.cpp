// The allocation-failure seam: the test program's own operator new, counting when armed.
#include "support/QvAllocFaults.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<size_t> g_failAt{0};
std::atomic<size_t> g_count{0};

// The next block, or null when it is the one to fail (or the heap is out of memory).
void* TryAllocate(size_t size) noexcept {
    if (g_failAt.load(std::memory_order_relaxed) != 0 &&
        g_count.fetch_add(1, std::memory_order_relaxed) + 1 == g_failAt.load(std::memory_order_relaxed))
        return nullptr;
    return std::malloc(size ? size : 1);
}

void* Allocate(size_t size) {
    if (void* p = TryAllocate(size)) return p;
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
// Every form, so that no block comes from one allocator and goes back to another.
void* operator new(size_t size, const std::nothrow_t&) noexcept { return TryAllocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return TryAllocate(size); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
