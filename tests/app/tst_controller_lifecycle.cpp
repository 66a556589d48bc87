// The controller's start-up, view mode, status banner, meter pacing and the report
// of an audio backend that dies while playing.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

const QString noMidi = u"No Hardware MIDI Connected (On-Screen & Computer Keys Active)"_s;

} // namespace

class ControllerLifecycleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void startsWithoutHardwareAndSaysSo() {
        WorkstationController controller;
        QCOMPARE(controller.statusBanner(), u"Ready"_s);
        QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);
        // The private runtime folder has no sound server and the machine no sequencer.
        const bool audio = controller.initialize();
        if (audio) QSKIP("an audio device plays on this machine without a sound server");
        QCOMPARE(controller.activeAudioBackend(), u"None"_s);
        QCOMPARE(controller.primaryControllerName(), noMidi);
        QCOMPARE(controller.statusBanner(), u"Zero-Setup Ready • %1 • No audio output"_s.arg(noMidi));
        QVERIFY(banner.count() >= 1);

        controller.playTestTone();
        QCOMPARE(controller.statusBanner(), u"Playing Stereo Piano Chord Test Tone..."_s);
    }

    // A mode is announced only when it changes. Entering the drums view (3) resets the
    // performance modifiers before it is announced: the view reads them when it appears.
    void currentModeChangesOnlyOnNewValues() {
        WorkstationController c;
        c.setLayer2Enabled(true);
        c.arrangerState().proArrangerEnabled = true;
        QStringList announced; // mode, layer and arranger at each announcement
        connect(&c, &WorkstationController::currentModeChanged, this, [&] {
            announced << u"%1 %2 %3"_s.arg(c.currentMode())
                             .arg(c.layer2Enabled())
                             .arg(c.arrangerState().proArrangerEnabled);
        });
        c.setCurrentMode(0);
        c.setCurrentMode(8);
        c.setCurrentMode(3);
        c.setLayer2Enabled(true);
        c.setCurrentMode(3); // unchanged: nothing announced, nothing reset
        QCOMPARE(announced, QStringList({"8 1 1", "3 0 0"}));
        QVERIFY(c.layer2Enabled());

        QSignalSpy fullScreen(&c, &WorkstationController::fullScreenPerformanceChanged);
        c.setFullScreenPerformance(true);
        c.setFullScreenPerformance(true);
        QCOMPARE(fullScreen.count(), 1);
        QVERIFY(c.fullScreenPerformance());
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
        const QString script = test::sourceDir() + u"/scripts/pipewire-session.sh"_s;
        const QString state =
            QDir::temp().filePath(u"tmb-pw-dying-%1.env"_s.arg(QCoreApplication::applicationPid()));
        QProcess session;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TMB_PW_STATE_FILE"_s, state);
        session.setProcessEnvironment(env);
        session.start(u"bash"_s, {script, u"start"_s});
        if (!session.waitForFinished(10000) || session.exitCode() != 0)
            QSKIP("a private PipeWire session cannot start here");
        QFile stateFile(state);
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const QString exports = QString::fromUtf8(stateFile.readAll());
        const QString runtime = exports.section(u"TMB_PW_RUNTIME_DIR="_s, 1).section(QLatin1Char(' '), 0, 0);
        QVERIFY(QFile::exists(runtime + u"/pipewire-0"_s));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

        {
            WorkstationController controller;
            AudioEngine& engine = controller.audioEngine();
            QVERIFY(engine.restartWithSettings(u"ALSA"_s, u"default"_s, 48000, 256));
            QCOMPARE(controller.activeAudioBackend(), u"ALSA"_s);
            controller.initialize(); // timers; audio restarts on PipeWire here
            QVERIFY(engine.restartWithSettings(u"ALSA"_s, u"default"_s, 48000, 256));
            QSignalSpy settings(&controller, &WorkstationController::audioSettingsChanged);

            QFile pidFile(runtime + u"/pipewire.pid"_s);
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            QProcess::execute(u"kill"_s, {QString::fromLatin1(pidFile.readAll().trimmed())});

            QTRY_VERIFY_WITH_TIMEOUT(controller.statusBanner().startsWith(u"⚠ Audio output stopped"_s), 8000);
            QVERIFY(controller.statusBanner().endsWith(u"• No audio output"_s));
            QCOMPARE(controller.activeAudioBackend(), u"None"_s);
            QCOMPARE(controller.activeAudioDevice(), u"No audio output"_s);
            QVERIFY(settings.count() >= 1);
            QVERIFY(!engine.running);
        }
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        session.start(u"bash"_s, {script, u"stop"_s});
        session.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(ControllerLifecycleTest)
#include "tst_controller_lifecycle.moc"
