#include "ProjectManager.h"

#include <QDir>
#include <QStandardPaths>

namespace tmb {

ProjectManager::ProjectManager() {
    m_dataDirectory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (m_dataDirectory.isEmpty())
        m_dataDirectory = QDir::homePath() + QStringLiteral("/.local/share/Tembora");
    QDir().mkpath(m_dataDirectory);
}

QString ProjectManager::autosavePath() const {
    return m_dataDirectory + QStringLiteral("/autosave_recovery.vks.json");
}

} // namespace tmb
