#pragma once

#include <cstddef>

namespace tmb::test {

// Counts heap allocations (malloc, calloc, realloc, aligned allocations and every
// form of operator new) made by the calling thread while a scope is alive. Only
// binaries that link the allocation counter have it; it replaces the global allocator.
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
