// The output backends against a private PipeWire session's null sink (ALSA routed there by
// pipewire-alsa), recorded from its monitor; failed connects fall back; no server, no claim.

#include "audio/AudioEngine.h"
#include "audio/ThreadScheduler.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <pipewire/stream.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <sched.h>
#include <unistd.h>

using namespace tmb;
using namespace tmb::test;

namespace {

std::atomic<int> g_failingConnects{0}; // how many stream connects to refuse next

} // namespace

// This binary's pw_stream_connect: refuses while told to, otherwise PipeWire's own.
extern "C" int pw_stream_connect(pw_stream* stream, pw_direction direction, std::uint32_t target,
                                 pw_stream_flags flags, const spa_pod** params, std::uint32_t count) {
    if (g_failingConnects.fetch_sub(1) > 0) return -EIO;
    g_failingConnects = 0;
    using Connect =
        int (*)(pw_stream*, pw_direction, std::uint32_t, pw_stream_flags, const spa_pod**, std::uint32_t);
    static const auto real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "pw_stream_connect"));
    return real(stream, direction, target, flags, params, count);
}

namespace {

// Answers every realtime request with a fixed grant, as RTKit or the kernel would.
class ScriptedScheduler : public ThreadScheduler {
public:
    bool isRealtime(pthread_t) const override { return false; }
    bool makeRealtime(pthread_t thread, int) override {
        requested = thread;
        ++requests;
        return grant;
    }
    bool grant = false;
    std::atomic<int> requests{0};
    pthread_t requested{};
};

bool runsRealtime(pid_t tid) {
    const int policy = sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

// Threads of this process with the given name.
QList<pid_t> threadsNamed(const QByteArray& name) {
    QList<pid_t> found;
    for (const QString& tid :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name) found << tid.toInt();
    }
    return found;
}

} // namespace

class OutputBackendsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome(true);
        m_haveSession = usePipeWireSession(&m_reason);
    }

    void playsTheTestTone_data() {
        QTest::addColumn<QString>("backend");
        for (const char* backend : {"PipeWire", "ALSA"})
            QTest::newRow(backend) << QString::fromLatin1(backend);
    }
    void playsTheTestTone() {
        QFETCH(QString, backend);
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        AudioEngine engine;
        engine.effects.setEnabled(false); // the tone's own length, without the reverb tail
        if (backend == QLatin1String("PipeWire"))
            QVERIFY(engine.start(48000, 256));
        else
            QVERIFY(engine.restartWithSettings(backend, QStringLiteral("default"), 48000, 256));
        QCOMPARE(engine.backendName, backend);
        QVERIFY(engine.running);

        QTemporaryDir dir; // the null sink's monitor, recorded while the tone plays
        const QString wav = dir.filePath(QStringLiteral("capture.wav"));
        QProcess recorder;
        recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        recorder.start(QStringLiteral("pw-record"),
                       QStringList{"--target", "test_null", "-P", "{ stream.capture.sink=true }", "--rate",
                                   "48000", "--channels", "2", wav});
        QVERIFY2(recorder.waitForStarted(3000), "pw-record did not start");
        QTest::qWait(500); // until the recorder is linked to the monitor
        engine.triggerTestTone();
        QTest::qWait(1800);
        ::kill(static_cast<pid_t>(recorder.processId()), SIGINT); // SIGINT lets it finish the header
        if (!recorder.waitForFinished(3000)) recorder.kill();
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        StereoSignal captured;
        QVERIFY(readWav(wav, &captured));

        const long long onset = firstAbove(captured.left, 0.01f);
        QVERIFY2(onset >= 0, "no sound reached the sink");
        // Energy at C, E, G and between them in four 100 ms windows. A dropped block's phase jump
        // can cancel a note in one window (notes take the median) and splash energy between the
        // notes (purity is judged in the cleanest window).
        const double hz[] = {261.63, 329.63, 392.00, 300.0}, sr = captured.sampleRate;
        double at[4][4], level[3], purest = 1.0; // at[note][window]
        for (int k = 0; k < 16; ++k) {
            const auto from = static_cast<std::size_t>(onset + std::llround((0.1 + 0.1 * (k % 4)) * sr));
            at[k / 4][k % 4] =
                toneAmplitude(captured.left, sr, hz[k / 4], from, from + std::size_t(0.1 * sr));
        }
        for (int k = 0; k < 4; ++k)
            purest = std::min(purest, at[3][k] / std::max(at[0][k], 1e-9));
        for (int n = 0; n < 3; ++n) {
            std::sort(at[n], at[n] + 4);
            level[n] = (at[n][1] + at[n][2]) / 2;
        }
        QVERIFY2(
            level[0] > 0.04 && level[1] > 0.035 && level[2] > 0.03 && purest < 1.0 / 20,
            qPrintable(QStringLiteral("%1 %2 %3 %4").arg(level[0]).arg(level[1]).arg(level[2]).arg(purest)));
        // Gone by about 1.2 s after it began (0.9 s of tone plus latency).
        const double seconds = static_cast<double>(lastAbove(captured.left, 0.002f) - onset) / sr;
        QVERIFY2(seconds > 0.8 && seconds < 1.2, qPrintable(QString::number(seconds)));
        QVERIFY(!engine.takeBackendFailure());
        engine.stop();
        QVERIFY(!engine.running);
    }

    // Every start asks realtime for the rendering thread and publishes the answer (with the
    // system's scheduler, compared with the thread itself); a refusal never stops the sound.
    void asksForRealtimeAndPublishesTheAnswer_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("grant"); // -1: the system decides; 0 refused; 1 granted
        for (const char* backend : {"PipeWire", "ALSA"})
            for (int grant : {-1, 0, 1})
                QTest::addRow("%s, %d", backend, grant) << QString::fromLatin1(backend) << grant;
    }
    void asksForRealtimeAndPublishesTheAnswer() {
        QFETCH(QString, backend);
        QFETCH(int, grant);
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        AudioEngine engine;
        ScriptedScheduler scripted;
        scripted.grant = grant == 1;
        if (grant >= 0) engine.setThreadScheduler(&scripted);
        QVERIFY(engine.restartWithSettings(backend, QStringLiteral("default"), 48000, 256));
        QCOMPARE(engine.backendName, backend);

        const QList<pid_t> audioThreads = threadsNamed("tmb-audio");
        QCOMPARE(audioThreads.size(), 1);
        QVERIFY2(!runsRealtime(gettid()), "the GUI thread must never run realtime");
        if (grant >= 0) {
            QCOMPARE(scripted.requests.load(), 1);
            QVERIFY(!pthread_equal(scripted.requested, pthread_self()));
            QCOMPARE(engine.audioThreadRealtime(), grant == 1);
        } else {
            QCOMPARE(engine.audioThreadRealtime(), runsRealtime(audioThreads.front()));
        }
        const float initialLoad = engine.cpuLoadPercent.load();
        QTRY_VERIFY_WITH_TIMEOUT(engine.cpuLoadPercent.load() != initialLoad, 3000);
        QVERIFY(engine.running);

        engine.stop();
        QVERIFY(!engine.audioThreadRealtime());
        QVERIFY(threadsNamed("tmb-audio").isEmpty());
    }

    // A stream that cannot connect is a failed start: ALSA, not a silent PipeWire stream.
    void aStreamThatCannotConnectFallsBackToAlsa() {
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        AudioEngine engine;
        for (const int failing : {2, 0}) { // playback and microphone refused, then none
            g_failingConnects = failing;
            QVERIFY(engine.restartWithSettings(QStringLiteral("PipeWire"), QStringLiteral("default"), 48000,
                                               256));
            QCOMPARE(engine.backendName, failing ? QStringLiteral("ALSA") : QStringLiteral("PipeWire"));
        }
    }

    void withoutASoundServerNothingClaimsToPlay() {
        QTemporaryDir empty; // no daemon: PipeWire cannot connect, ALSA's default cannot open
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", empty.path().toUtf8());
        AudioEngine engine;
        const bool started = engine.start(48000, 256);
        qputenv("XDG_RUNTIME_DIR", saved);
        if (started && engine.backendName == QLatin1String("ALSA"))
            QSKIP("this machine's ALSA default device plays without PipeWire");
        QVERIFY(!started && !engine.running);
        QCOMPARE(engine.backendName + " / " + engine.outputDeviceLabel,
                 QStringLiteral("None / No audio output"));
    }

private:
    bool m_haveSession = false;
    QString m_reason;
};

QTEST_GUILESS_MAIN(OutputBackendsTest)
#include "tst_output_backends.moc"
