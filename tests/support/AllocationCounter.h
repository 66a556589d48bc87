#pragma once

#include <cstddef>

namespace tmb::test {

// Counts the heap allocations (malloc and friends, every operator new) of the calling thread while a
// scope lives, in binaries that link the counter (it replaces the global allocator).
class AllocationScope {
public:
    AllocationScope();
    ~AllocationScope();
    AllocationScope(const AllocationScope&) = delete;
    AllocationScope& operator=(const AllocationScope&) = delete;

    std::size_t count() const;
    // Size of the largest single allocation counted since the outermost scope began.
    std::size_t largestBytes() const;

private:
    std::size_t m_start;
};

} // namespace tmb::test
