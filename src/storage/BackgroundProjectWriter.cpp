#include "BackgroundProjectWriter.h"

#include <memory>

namespace tmb {

BackgroundProjectWriter::BackgroundProjectWriter() {
    m_pool.setMaxThreadCount(1);
}

BackgroundProjectWriter::~BackgroundProjectWriter() {
    m_pool.waitForDone();
}

bool BackgroundProjectWriter::start(const QString& path, ProjectContent content) {
    bool idle = false;
    if (!m_busy.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) return false;
    auto snapshot = std::make_shared<const ProjectContent>(std::move(content));
    m_pool.start([this, path, snapshot] {
        if (!ProjectDocument::save(path, *snapshot, nullptr)) m_failed.fetch_add(1);
        m_finished.fetch_add(1);
        m_busy.store(false, std::memory_order_release);
    });
    return true;
}

} // namespace tmb
