// Runs the tst_*.qml cases in this folder against the real controller.

#include "app/ComputerKeyboard.h"
#include "app/WorkstationController.h"
#include "rhythm/StyleFileWriter.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QUrl>
#include <QtQuickTest>

#include <memory>

// Published as "controllerInput": a hardware control moved, as the MIDI thread hands it on.
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
        const QString home = tmb::test::usePrivateHome();
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        // No camera, whatever the machine has.
        qputenv("TEMBORA_CAMERA_DEVICE_DIR", home.toUtf8());
        qputenv("TEMBORA_IDEAPAD_CAMERA_POWER", (home + QStringLiteral("/no-switch")).toUtf8());
        // Style files to add by hand, and a flash disk of three.
        const std::vector<tmb::StylePattern> styles = tmb::builtinStyles();
        for (int i = 0; i < 2; ++i)
            m_styleFiles << QUrl::fromLocalFile(
                writeStyle(home + QStringLiteral("/Downloads/Added %1.sty").arg(i), styles[size_t(i + 2)]));
        m_flashDisk = qEnvironmentVariable("TEMBORA_MEDIA_ROOT") + QStringLiteral("/media/") +
                      qEnvironmentVariable("USER", QStringLiteral("musician")) + QStringLiteral("/STICK");
        for (int i = 0; i < 3; ++i)
            writeStyle(m_flashDisk + QStringLiteral("/Stick %1.sty").arg(i), styles[size_t(i + 6)]);
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
        engine->rootContext()->setContextProperty(QStringLiteral("testStyleFiles"), m_styleFiles);
        engine->rootContext()->setContextProperty(QStringLiteral("testFlashDisk"), m_flashDisk);
        engine->rootContext()->setContextProperty(QStringLiteral("testHome"), QDir::homePath());
        m_computerKeys = std::make_unique<tmb::ComputerKeyboard>(*m_controller);
        QCoreApplication::instance()->installEventFilter(m_computerKeys.get());
    }
    void cleanupTestCase() {
        m_computerKeys.reset();
        m_controller.reset();
    }

private:
    static QString writeStyle(const QString& path, const tmb::StylePattern& style) {
        QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
        QFile file(path);
        const QByteArray bytes = tmb::buildYamahaSff1StyBytes(style);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    QVariantList m_styleFiles;
    QString m_flashDisk;
    std::unique_ptr<tmb::WorkstationController> m_controller;
    std::unique_ptr<tmb::ComputerKeyboard> m_computerKeys;
    ControllerInput m_input;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml_components, Setup)
#include "tst_qml_components.moc"
