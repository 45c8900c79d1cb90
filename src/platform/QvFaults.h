// Fault injection for tests: makes the Nth call of one kind of file operation fail.
#ifndef QVFAULTS_H
#define QVFAULTS_H

#include "QvPlatform.h"

namespace qvp {

// Kinds of operation that can be made to fail.
enum class FaultOp {
    Create,  // CreateFileW, whatever the disposition
    Read,    // ReadFile
    Write,   // WriteFile
    Flush,   // FlushFileBuffers
    Rename,  // MoveFileW and MoveFileExW
    Delete,  // DeleteFileW
    List,    // FindFirstFileW: a folder listed (or a name looked up)
    Count_
};

// From now on, the nth call (1-based) of op fails with errorCode; 0 switches it off.
// Counting starts again at each call.
void InjectFault(FaultOp op, int nth, DWORD errorCode = ERROR_WRITE_FAULT);
// Switches every injected fault off and zeroes the counters.
void ClearFaults();
// Calls of op made since the last InjectFault/ClearFaults/ResetFaultCounters.
int FaultCallCount(FaultOp op);
void ResetFaultCounters();

// Used by the platform implementations: counts one call of op and says whether it must fail
// (the last error is then already set).
bool FaultShouldFail(FaultOp op);

}  // namespace qvp

#endif
