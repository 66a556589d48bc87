#pragma once

#include <cstddef>

namespace tmb::test {

// Counts, on the calling thread while a scope is alive, every blocking mutex lock
// (pthread_mutex_lock: std::mutex, GLib's recursive mutexes, the libraries' own
// locks) and the waits among them: a lock that was held by another thread when
// asked for. Only binaries that link the lock counter have it; it replaces
// pthread_mutex_lock for the whole binary. try_lock is not counted: it never waits.
class LockWaitScope {
public:
    LockWaitScope();
    ~LockWaitScope();
    LockWaitScope(const LockWaitScope&) = delete;
    LockWaitScope& operator=(const LockWaitScope&) = delete;

    std::size_t locks() const;
    std::size_t waits() const;

private:
    std::size_t m_locks;
    std::size_t m_waits;
};

} // namespace tmb::test
