#pragma once

#include <QObject>
#include <QString>

class QQuickWindow;

namespace tmb {

// Pictures of the running program for the documentation and for checking the
// layout by eye: when TEMBORA_SNAPSHOT_DIR names a folder, the window is grabbed
// once it has drawn and settled, written there as "window.png", and the program quits.
class SceneSnapshot : public QObject {
    Q_OBJECT
public:
    // Returns nullptr when the variable is not set.
    static SceneSnapshot* startIfRequested(QQuickWindow* window);

private:
    SceneSnapshot(QQuickWindow* window, QString folder);
    void capture();

    QQuickWindow* m_window;
    QString m_folder;
};

} // namespace tmb
