// Replaces the global allocator of the binary that links it: malloc and friends (which operator new
// calls) are interposed here and forwarded to glibc's own entry points.

#include "AllocationCounter.h"

#include <cerrno>
#include <cstdlib>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {
// Plain zero-initialised TLS: safe to touch from inside the allocator.
__attribute__((tls_model("initial-exec"))) thread_local int t_depth = 0;
__attribute__((tls_model("initial-exec"))) thread_local std::size_t t_count = 0;
__attribute__((tls_model("initial-exec"))) thread_local std::size_t t_largest = 0;

inline void noteAllocation(std::size_t bytes) {
    if (t_depth > 0) {
        ++t_count;
        if (bytes > t_largest) t_largest = bytes;
    }
}
} // namespace

extern "C" {

void* malloc(std::size_t size) {
    noteAllocation(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    noteAllocation(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
    noteAllocation(size);
    return __libc_realloc(pointer, size);
}

void free(void* pointer) {
    __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size) {
    noteAllocation(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    noteAllocation(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    noteAllocation(size);
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

} // extern "C"

namespace tmb::test {

AllocationScope::AllocationScope()
    : m_start(t_count) {
    if (t_depth == 0) t_largest = 0;
    ++t_depth;
}

AllocationScope::~AllocationScope() {
    --t_depth;
}

std::size_t AllocationScope::count() const {
    return t_count - m_start;
}

std::size_t AllocationScope::largestBytes() const {
    return t_largest;
}

} // namespace tmb::test
