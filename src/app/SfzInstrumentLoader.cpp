#include "SfzInstrumentLoader.h"

#include "engines/SfzBank.h"
#include "engines/SfzPianoEngine.h"

#include <QFileInfo>

#include <memory>
#include <utility>

namespace tmb {

SfzInstrumentLoader::SfzInstrumentLoader(SfzPianoEngine& engine, Report report)
    : m_engine(engine)
    , m_report(std::move(report)) {}

SfzInstrumentLoader::~SfzInstrumentLoader() {
    shutdown();
}

std::uint64_t SfzInstrumentLoader::request(const QString& path) {
    std::uint64_t id = 0;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping) return 0;
        id = ++m_latestId;
        m_pending = Job{id, path};
        if (!m_worker.joinable()) m_worker = std::thread([this] { workerLoop(); });
    }
    m_wake.notify_one();
    return id;
}

SfzInstrumentLoader::Result SfzInstrumentLoader::loadNow(const QString& path) {
    std::uint64_t id = 0;
    {
        const std::lock_guard lock(m_mutex);
        id = ++m_latestId;
        m_pending.reset();
    }
    return runLoad(id, path, nullptr);
}

void SfzInstrumentLoader::cancel() {
    const std::lock_guard lock(m_mutex);
    ++m_latestId;
    m_pending.reset();
}

void SfzInstrumentLoader::shutdown() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        ++m_latestId;
        m_pending.reset();
    }
    m_wake.notify_one();
    if (m_worker.joinable()) m_worker.join();
}

std::uint64_t SfzInstrumentLoader::latestRequestId() const {
    const std::lock_guard lock(m_mutex);
    return m_latestId;
}

void SfzInstrumentLoader::workerLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_pending.has_value(); });
            if (m_stopping) return;
            job = std::move(*m_pending);
            m_pending.reset();
        }
        bool stale = false;
        const Result result = runLoad(job.id, job.path, &stale);
        if (!stale) m_report(result);
    }
}

SfzInstrumentLoader::Result SfzInstrumentLoader::runLoad(std::uint64_t id, const QString& path, bool* stale) {
    Result result;
    result.requestId = id;
    // Choosing the playing file again (say, while another one was loading) needs
    // no load: it only has to win over the one in between.
    std::shared_ptr<SfzBank> bank;
    const bool alreadyLoaded = m_engine.currentSfzPath() == QFileInfo(path).absoluteFilePath();
    if (!alreadyLoaded) bank = SfzBank::load(path, &result.error);

    const std::lock_guard lock(m_mutex);
    if (id != m_latestId) {
        if (stale) *stale = true;
        // The dropped bank is freed when `bank` goes out of scope, on this thread.
        return result;
    }
    result.ok = alreadyLoaded || bank != nullptr;
    if (bank) m_engine.install(std::move(bank));
    return result;
}

} // namespace tmb
