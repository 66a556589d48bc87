#pragma once

#include <cstddef>

namespace tmb::test {

// Counts, on the calling thread while a scope lives, every pthread_mutex_lock (std::mutex, GLib's, the
// libraries') and the waits among them (held by another thread), in binaries that link the counter.
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
