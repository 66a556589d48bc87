// Interposes pthread_mutex_lock and forwards to the C library's own: inside a scope
// each lock is tried first, and one held elsewhere counts as a wait before it blocks.

#include "LockWaitCounter.h"

#include <dlfcn.h>
#include <pthread.h>

namespace {
using LockFunction = int (*)(pthread_mutex_t*);
LockFunction realLock() {
    static const auto real = reinterpret_cast<LockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return real;
}
[[maybe_unused]] const LockFunction resolvedBeforeMain = realLock();

__attribute__((tls_model("initial-exec"))) thread_local int t_depth = 0;
__attribute__((tls_model("initial-exec"))) thread_local std::size_t t_locks = 0, t_waits = 0;
} // namespace

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
    if (t_depth > 0) {
        ++t_locks;
        if (pthread_mutex_trylock(mutex) == 0) return 0;
        ++t_waits;
    }
    return realLock()(mutex);
}

namespace tmb::test {

LockWaitScope::LockWaitScope()
    : m_locks(t_locks)
    , m_waits(t_waits) {
    ++t_depth;
}
LockWaitScope::~LockWaitScope() {
    --t_depth;
}
std::size_t LockWaitScope::locks() const {
    return t_locks - m_locks;
}
std::size_t LockWaitScope::waits() const {
    return t_waits - m_waits;
}

} // namespace tmb::test
