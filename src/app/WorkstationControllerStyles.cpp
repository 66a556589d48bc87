// The style library as the scene drives it: imports of files, folders, archives
// and flash disks, removal and clearing. The library keeps the sequencer, the user
// style folder and the catalogue table in step; this file announces the results.

#include "WorkstationController.h"

#include <QUrl>

namespace tmb {

void WorkstationController::initBundledAndSavedStyBeats() {
    beatSequencer().initBuiltinStyles();
    m_styleLibrary.rebuildAtStartup();
}

// Launches what an import added and shows the library's status line.
void WorkstationController::finishStyleImport(int imported, bool announceGrid) {
    if (imported > 0 && m_styleLibrary.lastImportedIndex() >= 0)
        launchStylePreset(m_styleLibrary.lastImportedIndex(), m_arranger.arrangerPlayMode);
    setStatusBanner(m_styleLibrary.statusText());
    notifyBeatState();
    if (announceGrid) {
        notifyBeatGrid();
        notifyArrangerState();
    }
}

bool WorkstationController::importStyFile(const QString& fileUrlOrPath) {
    return importStyFiles({fileUrlOrPath}) > 0;
}

int WorkstationController::importStyFiles(const QVariantList& fileUrls) {
    QStringList paths;
    for (const QVariant& entry : fileUrls) {
        const QUrl url = entry.toUrl();
        paths << (entry.typeId() == QMetaType::QUrl && url.isLocalFile() ? url.toLocalFile()
                                                                         : entry.toString());
    }
    const int imported = m_styleLibrary.importFiles(paths);
    finishStyleImport(imported, true);
    return imported;
}

int WorkstationController::importStyFolder(const QString& folderUrlOrPath) {
    const int imported = m_styleLibrary.importFolder(folderUrlOrPath);
    finishStyleImport(imported, imported > 0);
    return imported;
}

int WorkstationController::scanUsbFlashDiskForSty() {
    const int imported = m_styleLibrary.scanUsbFlashDisk();
    finishStyleImport(imported, imported > 0);
    return imported;
}

bool WorkstationController::removeCustomStyStyle(int styleIndex) {
    if (!m_styleLibrary.removeStyle(styleIndex)) return false;
    setStatusBanner(m_styleLibrary.statusText());
    notifyBeatState();
    notifyBeatGrid();
    notifyArrangerState();
    return true;
}

void WorkstationController::clearAllCustomStyStyles() {
    m_styleLibrary.clearAll();
    setStatusBanner(m_styleLibrary.statusText());
    notifyBeatState();
    notifyBeatGrid();
    notifyArrangerState();
}

} // namespace tmb
