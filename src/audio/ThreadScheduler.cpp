#include "ThreadScheduler.h"

#include <sched.h>
#include <sys/resource.h>

#include <algorithm>

namespace tmb {

bool ThreadScheduler::isRealtime(pthread_t thread) const {
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(thread, &policy, &param) != 0) return false;
    policy &= ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

bool ThreadScheduler::makeRealtime(pthread_t thread, int priority) {
    const int low = sched_get_priority_min(SCHED_FIFO);
    const int high = sched_get_priority_max(SCHED_FIFO);
    sched_param param{};
    param.sched_priority = std::clamp(priority, low, high);
    // Child processes (ffmpeg, the phone bridge) must not inherit realtime.
    if (pthread_setschedparam(thread, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0) return true;
    // Without privileges the soft RLIMIT_RTPRIO is the highest priority allowed.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return false;
    const int allowed = static_cast<int>(limit.rlim_cur);
    if (allowed < low || allowed >= param.sched_priority) return false;
    param.sched_priority = allowed;
    return pthread_setschedparam(thread, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

ThreadScheduler& ThreadScheduler::system() {
    static ThreadScheduler scheduler;
    return scheduler;
}

} // namespace tmb
