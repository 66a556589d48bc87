#pragma once

// Realtime scheduling for the audio thread. A click on stage is a cycle the audio
// thread finished late, mostly because a normal-priority thread waited for a core
// while the window drew. The PipeWire data thread is usually made realtime by
// PipeWire's own module (directly, or through RTKit); where it was not, and for the
// ALSA fallback thread, the engine asks the kernel itself, which succeeds where
// RLIMIT_RTPRIO (or CAP_SYS_NICE) allows. Not getting it is never an error.
//
// Threads: any; the engine calls it from the GUI thread or from the data thread
// outside the render callback, never from inside it.

#include <pthread.h>

namespace tmb {

class ThreadScheduler {
public:
    // The priority PipeWire's own realtime threads use.
    static constexpr int audioPriority = 88;

    virtual ~ThreadScheduler() = default;

    // Whether `thread` already runs with a realtime policy.
    virtual bool isRealtime(pthread_t thread) const;
    // Asks for SCHED_FIFO at `priority`, lowered to RLIMIT_RTPRIO when that is the
    // limit; returns whether it was granted.
    virtual bool makeRealtime(pthread_t thread, int priority);

    // Realtime for `thread`: it already was, or it is granted now.
    bool request(pthread_t thread) { return isRealtime(thread) || makeRealtime(thread, audioPriority); }

    // The scheduler of the running system.
    static ThreadScheduler& system();
};

} // namespace tmb
