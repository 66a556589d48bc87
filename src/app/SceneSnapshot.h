#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QQuickItem;
class QQuickWindow;

namespace tmb {

class WorkstationController;

// Pictures of the running program, for the documentation and for checking the
// layout by eye. When TEMBORA_SNAPSHOT_DIR names a folder, the program waits for
// its first frame, then shows each view listed in TEMBORA_SNAPSHOT_MODES (mode
// numbers, comma-separated; by default every view) and writes "view-<mode>.png"
// for each, then quits. TEMBORA_SNAPSHOT_SIZE ("1180x740") resizes the window first.
// A view whose page scrolls is also taken scrolled to its end, "view-<mode>-end.png",
// so what lies below the window's edge can be checked too.
class SceneSnapshot : public QObject {
    Q_OBJECT
public:
    // Returns nullptr when the variable is not set.
    static SceneSnapshot* startIfRequested(QQuickWindow* window, WorkstationController* controller);

private:
    SceneSnapshot(QQuickWindow* window, WorkstationController* controller, QString folder);
    void showNext();
    void capture(int mode, const QString& suffix = QString());
    QQuickItem* scrollingPage(int mode) const;

    QQuickWindow* m_window;
    WorkstationController* m_controller;
    QString m_folder;
    QList<int> m_modes;
    bool m_ok = true;
};

} // namespace tmb
