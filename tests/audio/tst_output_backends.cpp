// The real output backends against a private PipeWire session with a null sink:
// the test tone is played through PipeWire and through the ALSA fallback (which
// pipewire-alsa routes into the same session), recorded from the sink's monitor
// and checked for the triad and its fade. Without any sound server the engine
// must say that nothing plays.

#include "audio/AudioEngine.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace tmb;
using namespace tmb::test;

namespace {

// Records the null sink's monitor with pw-record while `play` runs.
bool recordSink(const QString& wavPath, const std::function<void()>& play, QString* error) {
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.start(QStringLiteral("pw-record"),
                   {QStringLiteral("--target"), QStringLiteral("test_null"), QStringLiteral("-P"),
                    QStringLiteral("{ stream.capture.sink=true }"), QStringLiteral("--rate"),
                    QStringLiteral("48000"), QStringLiteral("--channels"), QStringLiteral("2"), wavPath});
    if (!recorder.waitForStarted(3000)) {
        *error = QStringLiteral("pw-record did not start");
        return false;
    }
    QTest::qWait(500); // until the recorder is linked to the monitor
    play();
    QTest::qWait(1800);
    ::kill(static_cast<pid_t>(recorder.processId()), SIGINT); // SIGINT lets it finish the header
    if (!recorder.waitForFinished(3000)) {
        recorder.kill();
        *error = QStringLiteral("pw-record did not stop");
        return false;
    }
    return true;
}

void verifyTriadWithFade(const StereoSignal& captured) {
    const long long onset = firstAbove(captured.left, 0.01f);
    QVERIFY2(onset >= 0, "no sound reached the sink");
    const auto start = static_cast<std::size_t>(onset);
    const double sr = captured.sampleRate;
    // Energy at the three notes during the full-level part.
    const std::size_t from = start + static_cast<std::size_t>(0.1 * sr);
    const std::size_t to = start + static_cast<std::size_t>(0.5 * sr);
    const double c = toneAmplitude(captured.left, sr, 261.63, from, to);
    const double e = toneAmplitude(captured.left, sr, 329.63, from, to);
    const double g = toneAmplitude(captured.left, sr, 392.00, from, to);
    const double between = toneAmplitude(captured.left, sr, 300.0, from, to);
    QVERIFY2(c > 0.05 && e > 0.04 && g > 0.035, qPrintable(QStringLiteral("%1 %2 %3").arg(c).arg(e).arg(g)));
    QVERIFY(between < c / 20);
    // Gone by about 1.2 s after it began (0.9 s of tone plus latency).
    const long long end = lastAbove(captured.left, 0.002f);
    const double seconds = static_cast<double>(end - onset) / sr;
    QVERIFY2(seconds > 0.8 && seconds < 1.2, qPrintable(QString::number(seconds)));
}

} // namespace

class OutputBackendsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome(true);
        QString reason;
        m_haveSession = usePipeWireSession(&reason);
        m_reason = reason;
    }

    void pipeWirePlaysTheTestTone() {
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        AudioEngine engine;
        engine.effects.setEnabled(false); // the tone's own length, without the reverb tail
        QVERIFY(engine.start(48000, 256));
        QCOMPARE(engine.backendName, QStringLiteral("PipeWire"));
        QVERIFY(engine.running);
        QTemporaryDir dir;
        QString error;
        const QString wav = dir.filePath(QStringLiteral("pipewire.wav"));
        QVERIFY2(recordSink(
                     wav, [&] { engine.triggerTestTone(); }, &error),
                 qPrintable(error));
        StereoSignal captured;
        QVERIFY(readWav(wav, &captured));
        verifyTriadWithFade(captured);
        engine.stop();
        QVERIFY(!engine.running);
    }

    void alsaFallbackPlaysTheTestTone() {
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        AudioEngine engine;
        engine.effects.setEnabled(false); // the tone's own length, without the reverb tail
        QVERIFY(engine.restartWithSettings(QStringLiteral("ALSA"), QStringLiteral("default"), 48000, 256));
        QCOMPARE(engine.backendName, QStringLiteral("ALSA"));
        QTemporaryDir dir;
        QString error;
        const QString wav = dir.filePath(QStringLiteral("alsa.wav"));
        QVERIFY2(recordSink(
                     wav, [&] { engine.triggerTestTone(); }, &error),
                 qPrintable(error));
        StereoSignal captured;
        QVERIFY(readWav(wav, &captured));
        verifyTriadWithFade(captured);
        QVERIFY(!engine.takeBackendFailure());
    }

    void withoutASoundServerNothingClaimsToPlay() {
        // A runtime folder with no daemon: PipeWire cannot connect and ALSA's
        // default device (routed to PipeWire) cannot open.
        QTemporaryDir empty;
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", empty.path().toUtf8());
        AudioEngine engine;
        const bool started = engine.start(48000, 256);
        qputenv("XDG_RUNTIME_DIR", saved);
        if (started && engine.backendName == QLatin1String("ALSA"))
            QSKIP("this machine's ALSA default device plays without PipeWire");
        QVERIFY(!started);
        QVERIFY(!engine.running);
        QCOMPARE(engine.backendName, QStringLiteral("None"));
        QCOMPARE(engine.outputDeviceLabel, QStringLiteral("No audio output"));
    }

private:
    bool m_haveSession = false;
    QString m_reason;
};

QTEST_GUILESS_MAIN(OutputBackendsTest)
#include "tst_output_backends.moc"
