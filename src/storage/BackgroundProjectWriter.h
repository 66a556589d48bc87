#pragma once

#include "storage/ProjectDocument.h"

#include <QString>
#include <QThreadPool>

#include <atomic>

namespace tmb {

// Saves projects on a worker thread, one at a time, so that building and writing a
// large document never holds up the GUI thread (the autosave runs beside the
// arranger's 8 ms timer). The caller hands over a finished snapshot; the worker
// shares nothing else with it.
class BackgroundProjectWriter {
public:
    BackgroundProjectWriter();
    // Waits for a save in flight: a file is never left half-replaced at exit.
    ~BackgroundProjectWriter();
    BackgroundProjectWriter(const BackgroundProjectWriter&) = delete;
    BackgroundProjectWriter& operator=(const BackgroundProjectWriter&) = delete;

    // GUI thread. Starts saving `content` to `path`; false, and nothing started,
    // while the previous save still runs.
    bool start(const QString& path, ProjectContent content);
    bool isBusy() const { return m_busy.load(std::memory_order_acquire); }
    void waitForIdle() { m_pool.waitForDone(); }
    // Saves finished so far and how many of them failed.
    int finishedSaves() const { return m_finished.load(); }
    int failedSaves() const { return m_failed.load(); }

private:
    QThreadPool m_pool;
    std::atomic<bool> m_busy{false};
    std::atomic<int> m_finished{0};
    std::atomic<int> m_failed{0};
};

} // namespace tmb
