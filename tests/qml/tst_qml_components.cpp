// Runs the tst_*.qml cases in this folder against the real controller.

#include "app/ComputerKeyboard.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QtQuickTest>

#include <memory>

// Published as "controllerInput": a hardware control moved, as the MIDI input
// thread hands it to the mapping check.
class ControllerInput : public QObject {
    Q_OBJECT
public:
    tmb::WorkstationController* controller = nullptr;
    Q_INVOKABLE void controlChange(int number, int value) {
        controller->midiManager().checkControllerMappings(tmb::MidiEvent::controlChange(0, number, value));
    }
};

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
        m_computerKeys.reset();
        m_controller = std::make_unique<tmb::WorkstationController>();
        m_controller->initBundledAndSavedStyBeats();
        m_controller->beatSequencer().selectStyle(0);
        engine->rootContext()->setContextProperty(QStringLiteral("workstation"), m_controller.get());
        m_input.controller = m_controller.get();
        engine->rootContext()->setContextProperty(QStringLiteral("controllerInput"), &m_input);
        // The computer keys reach the controller as in the program.
        m_computerKeys = std::make_unique<tmb::ComputerKeyboard>(*m_controller);
        QCoreApplication::instance()->installEventFilter(m_computerKeys.get());
    }
    void cleanupTestCase() {
        m_computerKeys.reset();
        m_controller.reset();
    }

private:
    std::unique_ptr<tmb::WorkstationController> m_controller;
    std::unique_ptr<tmb::ComputerKeyboard> m_computerKeys;
    ControllerInput m_input;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml_components, Setup)
#include "tst_qml_components.moc"
