#pragma once

#include <QString>

namespace tmb {

// Owns the program's data folder; the instrument catalogue, registrations,
// projects and the autosave live here.
// Threads: GUI thread only.
class ProjectManager {
public:
    ProjectManager();

    // The writable data folder, created on construction.
    QString dataDirectory() const { return m_dataDirectory; }
    QString autosavePath() const;
    int presetCount() const { return 0; }

private:
    QString m_dataDirectory;
};

} // namespace tmb
