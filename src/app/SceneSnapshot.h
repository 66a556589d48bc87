#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QQuickItem;
class QQuickWindow;

namespace tmb {

class WorkstationController;

// Pictures of the running program, for the documentation and for checking the
// layout by eye. When TEMBORA_SNAPSHOT_DIR names a folder, the program waits for
// its first frame, then shows each view listed in TEMBORA_SNAPSHOT_MODES (mode
// numbers, comma-separated; by default every view) and writes "view-<mode>.png"
// for each. A view whose page scrolls is also taken scrolled to its end,
// "view-<mode>-end.png", so what lies below the window's edge can be checked too.
// Then, unless TEMBORA_SNAPSHOT_SCENES is "none", the window's other states on PLAY:
// "drawer-phone.png", "drawer-phone-onair.png" (recording: no QR code),
// "drawer-broadcast.png", the floating camera in each corner with its status card
// ("pip-status-<corner>.png") and with a phone's picture ("pip-phone-<corner>.png"),
// the docked camera bay with that picture ("bay-phone.png") and full-screen
// performance ("performance-fullscreen.png"). Then it quits.
// TEMBORA_SNAPSHOT_SIZE ("1180x740") resizes the window first.
class SceneSnapshot : public QObject {
    Q_OBJECT
public:
    // Returns nullptr when the variable is not set.
    static SceneSnapshot* startIfRequested(QQuickWindow* window, WorkstationController* controller);

private:
    struct Shot {
        QString name;
        std::function<void()> setUp;
        int mode = -1; // a view whose page is also taken scrolled to its end
    };

    SceneSnapshot(QQuickWindow* window, WorkstationController* controller, QString folder);
    void addSceneShots();
    void showNext();
    void capture(const QString& name);
    QQuickItem* scrollingPage(int mode) const;

    QQuickWindow* m_window;
    WorkstationController* m_controller;
    QString m_folder;
    QList<Shot> m_shots;
    bool m_ok = true;
};

} // namespace tmb
