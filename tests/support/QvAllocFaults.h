// Allocation-failure seam for tests: makes the nth allocation through operator new throw
// std::bad_alloc, counting from the moment it is armed.
#ifndef QVALLOCFAULTS_H
#define QVALLOCFAULTS_H

#include <cstddef>

namespace qvtest {

// From now on the nth allocation (1-based) fails; 0 disarms. Returns nothing; see Allocations.
void FailAllocation(size_t nth);
// Allocations counted since the last FailAllocation call.
size_t Allocations();

// Arms the seam for one scope and disarms it at the end, whatever happens.
class AllocationFault {
public:
    explicit AllocationFault(size_t nth) { FailAllocation(nth); }
    ~AllocationFault() { FailAllocation(0); }
    AllocationFault(const AllocationFault&) = delete;
    AllocationFault& operator=(const AllocationFault&) = delete;
};

}  // namespace qvtest

#endif
