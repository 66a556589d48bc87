#include "SceneSnapshot.h"

#include "app/WorkstationController.h"
#include "broadcast/PrivateRuntimeFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace tmb {

namespace {

// A stand-in for a phone's camera frame: a gradient with a caption, as the bridge
// would have stored it.
bool writePhonePicture(const QString& path) {
    QImage image(640, 448, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 640, 448);
    sky.setColorAt(0, QColor(0x2a, 0x5d, 0x8f));
    sky.setColorAt(1, QColor(0xe0, 0x9b, 0x4a));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::white);
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 40, QFont::Bold));
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("PHONE CAMERA"));
    painter.end();
    return image.save(path, "JPEG");
}

} // namespace

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
    QList<int> modes;
    for (const QString& mode : qEnvironmentVariable("TEMBORA_SNAPSHOT_MODES").split(u',', Qt::SkipEmptyParts))
        modes << mode.trimmed().toInt();
    if (modes.isEmpty()) modes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int mode : modes)
        m_shots.append({QStringLiteral("view-%1").arg(mode),
                        [this, mode] { m_controller->setCurrentMode(mode); }, mode});
    if (qEnvironmentVariable("TEMBORA_SNAPSHOT_SCENES") != QLatin1String("none")) addSceneShots();
    const QStringList size = qEnvironmentVariable("TEMBORA_SNAPSHOT_SIZE").split(u'x');
    if (size.size() == 2) window->resize(size[0].toInt(), size[1].toInt());
    // Start after the first frame, once bindings and layouts have settled.
    connect(
        window, &QQuickWindow::frameSwapped, this,
        [this] { QTimer::singleShot(800, this, &SceneSnapshot::showNext); }, Qt::SingleShotConnection);
}

void SceneSnapshot::addSceneShots() {
    WorkstationController* c = m_controller;
    QQuickWindow* window = m_window;
    m_shots.append({QStringLiteral("drawer-phone"), [c] {
                        c->setCurrentMode(0);
                        c->startPhoneBridgeServer(); // for its QR code
                        c->setPhoneDrawerOpen(true);
                    }});
    m_shots.append({QStringLiteral("drawer-phone-onair"), [c] {
                        c->startStudioRecord();
                    }});
    m_shots.append({QStringLiteral("drawer-broadcast"), [c] {
                        c->stopStudioTransport();
                        c->setPhoneDrawerOpen(false);
                        c->setBroadcastDrawerOpen(true);
                    }});
    for (int corner = 0; corner < 4; ++corner)
        m_shots.append({QStringLiteral("pip-status-%1").arg(corner), [c, window, corner] {
                            c->setBroadcastDrawerOpen(false);
                            c->setCameraEnabled(true);
                            window->setProperty("cameraFloating", true);
                            c->setCameraCorner(corner);
                        }});
    for (int corner = 0; corner < 4; ++corner)
        m_shots.append({QStringLiteral("pip-phone-%1").arg(corner), [c, corner] {
                            const QString frame =
                                privateRuntimeFolder() + QStringLiteral("/tmb_phone_cam.jpg");
                            if (corner == 0 && writePhonePicture(frame))
                                c->handlePhoneBridgeLine(QStringLiteral("CAM:snapshot|1"));
                            c->setCameraCorner(corner);
                        }});
    m_shots.append({QStringLiteral("bay-phone"), [window] {
                        window->setProperty("cameraFloating", false);
                    }});
    m_shots.append({QStringLiteral("performance-fullscreen"), [c] {
                        c->setCameraEnabled(false);
                        c->setFullScreenPerformance(true);
                    }});
}

void SceneSnapshot::showNext() {
    if (m_shots.isEmpty()) {
        QCoreApplication::exit(m_ok ? 0 : 1);
        return;
    }
    const Shot shot = m_shots.takeFirst();
    shot.setUp();
    // The phone bridge needs a moment for its QR code; everything else one frame or two.
    const int settle = shot.name == QLatin1String("drawer-phone") ? 3000 : 500;
    QTimer::singleShot(settle, this, [this, shot] {
        capture(shot.name);
        QQuickItem* page = shot.mode >= 0 ? scrollingPage(shot.mode) : nullptr;
        if (!page) {
            showNext();
            return;
        }
        page->setProperty("contentY", page->property("contentHeight").toReal() - page->height());
        QTimer::singleShot(300, this, [this, shot, page] {
            capture(shot.name + QStringLiteral("-end"));
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

void SceneSnapshot::capture(const QString& name) {
    const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
    const bool saved = m_window->grabWindow().save(path);
    m_ok = m_ok && saved;
    std::fprintf(stderr, "%s %s\n", saved ? "snapshot written:" : "snapshot failed:", qPrintable(path));
}

} // namespace tmb
