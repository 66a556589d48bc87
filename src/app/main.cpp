#include "app/ComputerKeyboard.h"
#include "app/FirstFrameReport.h"
#include "app/ObjectMapReport.h"
#include "app/SceneGraphChoice.h"
#include "app/SceneSnapshot.h"
#include "app/UnixSignalWatcher.h"
#include "app/WorkstationController.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>

#include <memory>

int main(int argc, char* argv[]) {
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tembora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tembora"));
    QApplication::setOrganizationName(QStringLiteral("Sandorik"));
    QApplication::setOrganizationDomain(QStringLiteral("sandorik.org"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tembora"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/icons/tembora.png")));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    if (tmb::preferSoftwareSceneGraph()) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);

    tmb::UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &tmb::UnixSignalWatcher::quitRequested, app.get(),
                     &QCoreApplication::quit);

    auto controller = std::make_unique<tmb::WorkstationController>();
    controller->initialize();
    // The computer keys play in the window whatever control has the focus.
    auto computerKeys = std::make_unique<tmb::ComputerKeyboard>(*controller);
    app->installEventFilter(computerKeys.get());

    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->rootContext()->setContextProperty(QStringLiteral("workstation"), controller.get());
    engine->load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));

    int result = -1;
    if (!engine->rootObjects().isEmpty()) {
        if (auto* window = qobject_cast<QQuickWindow*>(engine->rootObjects().constFirst())) {
            controller->setQuickWindow(window);
            tmb::SceneSnapshot::startIfRequested(window, controller.get());
            tmb::reportFirstFrameIfRequested(window);
            tmb::reportWindowFiguresIfRequested(window, controller.get());
            tmb::publishObjectMapIfRequested(window);
        }
        result = QApplication::exec();
    }

    engine.reset();
    computerKeys.reset();
    controller.reset();
    app.reset();
    return result;
}
