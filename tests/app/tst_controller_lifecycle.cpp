// The controller's start-up, view mode, status banner, meter pacing and the report
// of an audio backend that dies while playing.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace tmb;

namespace {

const QString noMidi = QStringLiteral("No Hardware MIDI Connected (On-Screen & Computer Keys Active)");

} // namespace

class ControllerLifecycleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void startsWithoutHardwareAndSaysSo() {
        WorkstationController controller;
        QCOMPARE(controller.statusBanner(), QStringLiteral("Ready"));
        QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);
        // The private runtime folder has no sound server and the machine no sequencer.
        const bool audio = controller.initialize();
        if (audio) QSKIP("an audio device plays on this machine without a sound server");
        QCOMPARE(controller.activeAudioBackend(), QStringLiteral("None"));
        QCOMPARE(controller.primaryControllerName(), noMidi);
        QCOMPARE(controller.statusBanner(),
                 QStringLiteral("Zero-Setup Ready • %1 • No audio output").arg(noMidi));
        QVERIFY(banner.count() >= 1);

        controller.playTestTone();
        QCOMPARE(controller.statusBanner(), QStringLiteral("Playing Stereo Piano Chord Test Tone..."));
    }

    void currentModeChangesOnlyOnNewValues() {
        WorkstationController controller;
        QSignalSpy mode(&controller, &WorkstationController::currentModeChanged);
        controller.setCurrentMode(0);
        QCOMPARE(mode.count(), 0);
        controller.setCurrentMode(8);
        QCOMPARE(mode.count(), 1);
        QCOMPARE(controller.currentMode(), 8);
        controller.setCurrentMode(3);
        controller.setCurrentMode(3);
        QCOMPARE(mode.count(), 2);

        QSignalSpy fullScreen(&controller, &WorkstationController::fullScreenPerformanceChanged);
        controller.setFullScreenPerformance(true);
        controller.setFullScreenPerformance(true);
        QCOMPARE(fullScreen.count(), 1);
        QVERIFY(controller.fullScreenPerformance());
    }

    void metersRefreshSlowlyWhenIdleAndFastWhenSounding() {
        WorkstationController controller;
        controller.initialize();
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 256);
        // Blocks in real time, as a backend renders them, without any device.
        test::BackendThread backend(engine, std::chrono::microseconds(5333), false);

        QSignalSpy meters(&controller, &WorkstationController::metersUpdated);
        QTest::qWait(3000);
        const auto idleCount = meters.count(); // about 10 (every 300 ms)
        QVERIFY2(idleCount >= 5 && idleCount <= 16, qPrintable(QString::number(idleCount)));

        meters.clear();
        controller.playTestTone();
        QTest::qWait(700);                         // the tone sounds for 0.9 s
        const auto soundingCount = meters.count(); // about 23 (every 30 ms)
        QVERIFY2(soundingCount >= 12, qPrintable(QString::number(soundingCount)));
    }

    void aDyingAlsaOutputIsReported() {
        // A sound server of this test's own, so killing it disturbs nothing else.
        const QString script = test::sourceDir() + QStringLiteral("/scripts/pipewire-session.sh");
        const QString state = QDir::temp().filePath(
            QStringLiteral("tmb-pw-dying-%1.env").arg(QCoreApplication::applicationPid()));
        QProcess session;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMB_PW_STATE_FILE"), state);
        session.setProcessEnvironment(env);
        session.start(QStringLiteral("bash"), {script, QStringLiteral("start")});
        if (!session.waitForFinished(10000) || session.exitCode() != 0)
            QSKIP("a private PipeWire session cannot start here");
        QFile stateFile(state);
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const QString exports = QString::fromUtf8(stateFile.readAll());
        const QString runtime =
            exports.section(QStringLiteral("TMB_PW_RUNTIME_DIR="), 1).section(QLatin1Char(' '), 0, 0);
        QVERIFY(QFile::exists(runtime + QStringLiteral("/pipewire-0")));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

        {
            WorkstationController controller;
            AudioEngine& engine = controller.audioEngine();
            QVERIFY(
                engine.restartWithSettings(QStringLiteral("ALSA"), QStringLiteral("default"), 48000, 256));
            QCOMPARE(controller.activeAudioBackend(), QStringLiteral("ALSA"));
            controller.initialize(); // timers; audio restarts on PipeWire here
            QVERIFY(
                engine.restartWithSettings(QStringLiteral("ALSA"), QStringLiteral("default"), 48000, 256));
            QSignalSpy settings(&controller, &WorkstationController::audioSettingsChanged);

            QFile pidFile(runtime + QStringLiteral("/pipewire.pid"));
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            QProcess::execute(QStringLiteral("kill"), {QString::fromLatin1(pidFile.readAll().trimmed())});

            QTRY_VERIFY_WITH_TIMEOUT(
                controller.statusBanner().startsWith(QStringLiteral("⚠ Audio output stopped")), 8000);
            QVERIFY(controller.statusBanner().endsWith(QStringLiteral("• No audio output")));
            QCOMPARE(controller.activeAudioBackend(), QStringLiteral("None"));
            QCOMPARE(controller.activeAudioDevice(), QStringLiteral("No audio output"));
            QVERIFY(settings.count() >= 1);
            QVERIFY(!engine.running);
        }
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        session.start(QStringLiteral("bash"), {script, QStringLiteral("stop")});
        session.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(ControllerLifecycleTest)
#include "tst_controller_lifecycle.moc"
