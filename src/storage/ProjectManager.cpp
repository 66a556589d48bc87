// Lifecycle of ProjectManager: the data folder and the start-up order.

#include "ProjectManager.h"

#include <QDir>
#include <QStandardPaths>

namespace tmb {

ProjectManager::ProjectManager()
    : ProjectManager(CatalogLocations::standard()) {}

ProjectManager::ProjectManager(const CatalogLocations& locations)
    : m_locations(locations) {
    m_dataDirectory = m_locations.dataDirectory;
    if (m_dataDirectory.isEmpty())
        m_dataDirectory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (m_dataDirectory.isEmpty()) {
        const QString home = m_locations.home.isEmpty() ? QDir::homePath() : m_locations.home;
        m_dataDirectory = home + QStringLiteral("/.local/share/Tembora");
    }
    QDir().mkpath(m_dataDirectory);

    initializeCatalogDatabase();
    discoverAndIndexPresets();
    initDefaultRegistrations();
}

QString ProjectManager::autosavePath() const {
    return m_dataDirectory + QStringLiteral("/autosave_recovery.vks.json");
}

} // namespace tmb
