// Fault injection: counts calls of each file operation and fails the chosen one.
#include "platform/QvFaults.h"

#include <mutex>

namespace qvp {

namespace {

struct FaultSlot {
    int calls = 0;     // calls counted since the last reset
    int nth = 0;       // the call that fails, 1-based; 0: none
    DWORD code = ERROR_WRITE_FAULT;
};

const size_t kOps = static_cast<size_t>(FaultOp::Count_);

// Operations may run on worker threads, so the slots are guarded.
std::mutex g_faultMutex;
FaultSlot g_slots[kOps];

bool ValidOp(FaultOp op) { return static_cast<size_t>(op) < kOps; }

}  // namespace

void InjectFault(FaultOp op, int nth, DWORD errorCode) {
    if (!ValidOp(op)) return;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    FaultSlot& slot = g_slots[static_cast<size_t>(op)];
    slot.calls = 0;
    slot.nth = nth > 0 ? nth : 0;
    slot.code = errorCode;
}

void ClearFaults() {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    for (FaultSlot& slot : g_slots) slot = FaultSlot();
}

int FaultCallCount(FaultOp op) {
    if (!ValidOp(op)) return 0;
    std::lock_guard<std::mutex> lock(g_faultMutex);
    return g_slots[static_cast<size_t>(op)].calls;
}

void ResetFaultCounters() {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    for (FaultSlot& slot : g_slots) slot.calls = 0;
}

bool FaultShouldFail(FaultOp op) {
    if (!ValidOp(op)) return false;
    DWORD code;
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        FaultSlot& slot = g_slots[static_cast<size_t>(op)];
        ++slot.calls;
        if (slot.nth == 0 || slot.calls != slot.nth) return false;
        code = slot.code;
    }
    SetLastError(code);
    return true;
}

}  // namespace qvp
