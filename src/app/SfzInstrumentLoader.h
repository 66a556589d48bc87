#pragma once

// Loads the main slot's SFZ instruments one at a time, the latest request winning.
//
// A single worker thread (started with the first request) loads the requests in
// turn. A request replaced before its load starts is never loaded; one replaced
// while it loads is dropped instead of installed. So the instrument that ends up
// playing is always the last one asked for, whatever order separate loads would
// have finished in. The staleness check and the install happen under the lock
// that request() and cancel() take as well: once either returns, no older load
// can still be installed.
//
// Threads:
// - GUI thread: request, loadNow, cancel, shutdown, latestRequestId.
// - Worker thread: the loads, and the report function, which runs once for every
//   request that was still the latest when its load ended (after the install).
// The engine's audio thread is never involved; the engine's own hand-over keeps
// the old instrument sounding until the new one is installed.

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace tmb {

class SfzPianoEngine;

class SfzInstrumentLoader {
public:
    struct Result {
        std::uint64_t requestId = 0;
        bool ok = false; // installed, or the engine already held this file
        QString error;   // the engine's message when the load failed
    };
    using Report = std::function<void(const Result&)>;

    SfzInstrumentLoader(SfzPianoEngine& engine, Report report);
    ~SfzInstrumentLoader();
    SfzInstrumentLoader(const SfzInstrumentLoader&) = delete;
    SfzInstrumentLoader& operator=(const SfzInstrumentLoader&) = delete;

    // Queues a load for the worker, replacing a queued one. Returns the request's
    // id, or 0 after shutdown.
    std::uint64_t request(const QString& path);
    // Loads on the calling thread and returns the result (no report). Queued and
    // running requests become stale.
    Result loadNow(const QString& path);
    // Drops the queued request and makes a running one stale: nothing asked for
    // before this call is installed or reported afterwards.
    void cancel();
    // Cancels and waits for the worker to end (a running load finishes first and
    // is dropped). No report runs after it returns; later requests are ignored.
    void shutdown();

    std::uint64_t latestRequestId() const;

private:
    struct Job {
        std::uint64_t id = 0;
        QString path;
    };

    void workerLoop();
    // Loads `path` for request `id` and installs it if `id` is still the latest.
    // `stale` (when given) is set when the result was dropped.
    Result runLoad(std::uint64_t id, const QString& path, bool* stale);

    SfzPianoEngine& m_engine;
    Report m_report;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_latestId = 0; // under m_mutex
    std::optional<Job> m_pending; // under m_mutex
    bool m_stopping = false;      // under m_mutex
    std::thread m_worker;         // started by the first request (GUI thread)
};

} // namespace tmb
