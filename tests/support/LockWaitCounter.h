#pragma once

#include <cstddef>

namespace tmb::test {

// Counts, on the calling thread while a scope lives, every blocking mutex lock
// (pthread_mutex_lock: std::mutex, GLib's and the libraries' own locks) and the waits
// among them: locks another thread held when asked for. Binaries that link the lock
// counter replace pthread_mutex_lock; try_lock never waits and is not counted.
class LockWaitScope {
public:
    LockWaitScope();
    ~LockWaitScope();
    LockWaitScope(const LockWaitScope&) = delete;
    LockWaitScope& operator=(const LockWaitScope&) = delete;
    std::size_t locks() const;
    std::size_t waits() const;

private:
    std::size_t m_locks, m_waits;
};

} // namespace tmb::test
