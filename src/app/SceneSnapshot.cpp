#include "SceneSnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace tmb {

SceneSnapshot* SceneSnapshot::startIfRequested(QQuickWindow* window) {
    const QString folder = qEnvironmentVariable("TEMBORA_SNAPSHOT_DIR");
    if (folder.isEmpty() || window == nullptr) return nullptr;
    return new SceneSnapshot(window, folder);
}

SceneSnapshot::SceneSnapshot(QQuickWindow* window, QString folder)
    : QObject(window)
    , m_window(window)
    , m_folder(std::move(folder)) {
    QDir().mkpath(m_folder);
    // Wait for the first frame, then give bindings and layouts a moment to settle.
    connect(
        window, &QQuickWindow::frameSwapped, this,
        [this] { QTimer::singleShot(700, this, &SceneSnapshot::capture); }, Qt::SingleShotConnection);
}

void SceneSnapshot::capture() {
    const QString path = QDir(m_folder).filePath(QStringLiteral("window.png"));
    const bool saved = m_window->grabWindow().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "snapshot written:" : "snapshot failed:", qPrintable(path));
    QCoreApplication::exit(saved ? 0 : 1);
}

} // namespace tmb
