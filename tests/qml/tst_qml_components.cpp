// Runs the tst_*.qml cases in this folder against the real controller.

#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

#include <memory>

class Setup : public QObject {
    Q_OBJECT
public:
    Setup() {
        tmb::test::usePrivateHome();
        QQuickStyle::setStyle(QStringLiteral("Basic"));
    }

public Q_SLOTS:
    void qmlEngineAvailable(QQmlEngine* engine) {
        // Not initialised: no device opens; notes only reach the engine's queue.
        m_controller = std::make_unique<tmb::WorkstationController>();
        m_controller->initBundledAndSavedStyBeats();
        m_controller->beatSequencer().selectStyle(0);
        engine->rootContext()->setContextProperty(QStringLiteral("workstation"), m_controller.get());
    }
    void cleanupTestCase() { m_controller.reset(); }

private:
    std::unique_ptr<tmb::WorkstationController> m_controller;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml_components, Setup)
#include "tst_qml_components.moc"
