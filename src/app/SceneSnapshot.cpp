#include "SceneSnapshot.h"

#include "app/WorkstationController.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace tmb {

SceneSnapshot* SceneSnapshot::startIfRequested(QQuickWindow* window, WorkstationController* controller) {
    const QString folder = qEnvironmentVariable("TEMBORA_SNAPSHOT_DIR");
    if (folder.isEmpty() || window == nullptr || controller == nullptr) return nullptr;
    return new SceneSnapshot(window, controller, folder);
}

SceneSnapshot::SceneSnapshot(QQuickWindow* window, WorkstationController* controller, QString folder)
    : QObject(window)
    , m_window(window)
    , m_controller(controller)
    , m_folder(std::move(folder)) {
    QDir().mkpath(m_folder);
    const QString modes = qEnvironmentVariable("TEMBORA_SNAPSHOT_MODES");
    for (const QString& mode : modes.split(QLatin1Char(','), Qt::SkipEmptyParts))
        m_modes << mode.trimmed().toInt();
    if (m_modes.isEmpty()) m_modes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const QStringList size = qEnvironmentVariable("TEMBORA_SNAPSHOT_SIZE").split(QLatin1Char('x'));
    if (size.size() == 2) window->resize(size[0].toInt(), size[1].toInt());
    // Start after the first frame, once bindings and layouts have settled.
    connect(
        window, &QQuickWindow::frameSwapped, this,
        [this] { QTimer::singleShot(800, this, &SceneSnapshot::showNext); }, Qt::SingleShotConnection);
}

void SceneSnapshot::showNext() {
    if (m_modes.isEmpty()) {
        QCoreApplication::exit(m_ok ? 0 : 1);
        return;
    }
    const int mode = m_modes.takeFirst();
    m_controller->setCurrentMode(mode);
    QTimer::singleShot(500, this, [this, mode] {
        capture(mode);
        QQuickItem* page = scrollingPage(mode);
        if (!page) {
            showNext();
            return;
        }
        page->setProperty("contentY", page->property("contentHeight").toReal() - page->height());
        QTimer::singleShot(300, this, [this, mode, page] {
            capture(mode, QStringLiteral("-end"));
            page->setProperty("contentY", 0);
            showNext();
        });
    });
}

QQuickItem* SceneSnapshot::scrollingPage(int mode) const {
    auto* view = m_window->findChild<QQuickItem*>(QStringLiteral("view_%1").arg(mode));
    QList<QQuickItem*> queue{view};
    while (!queue.isEmpty()) { // breadth first: the page before the lists on it
        QQuickItem* item = queue.takeFirst();
        if (!item || !item->isVisible()) continue;
        if (item->inherits("QQuickFlickable") &&
            item->property("contentHeight").toReal() > item->height() + 1.0)
            return item;
        queue << item->childItems();
    }
    return nullptr;
}

void SceneSnapshot::capture(int mode, const QString& suffix) {
    const QString path = QDir(m_folder).filePath(QStringLiteral("view-%1%2.png").arg(mode).arg(suffix));
    const bool saved = m_window->grabWindow().save(path);
    m_ok = m_ok && saved;
    std::fprintf(stderr, "%s %s\n", saved ? "snapshot written:" : "snapshot failed:", qPrintable(path));
}

} // namespace tmb
