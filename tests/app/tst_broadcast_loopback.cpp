// Broadcasting with the real ffmpeg to RTMP listeners of the test's own on the loopback.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

// key=value lines of a media file's streams and duration.
QString probe(const QString& path) {
    QProcess ffprobe;
    ffprobe.start(u"/usr/bin/ffprobe"_s,
                  {u"-v"_s, u"error"_s, u"-show_entries"_s,
                   u"stream=codec_name,width,height,r_frame_rate,sample_rate,channels:format=duration"_s,
                   u"-of"_s, u"default=noprint_wrappers=1"_s, path});
    ffprobe.waitForFinished(20000);
    return QString::fromUtf8(ffprobe.readAllStandardOutput());
}

double seconds(const QString& probed) {
    return probed.section(u"duration="_s, 1).section(u'\n', 0, 0).toDouble();
}

// A loopback port nobody listens on.
quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool isListening(quint16 port) {
    QFile tcp(u"/proc/net/tcp"_s);
    return tcp.open(QIODevice::ReadOnly) &&
           tcp.readAll().contains(
               u":%1 00000000:0000 0A"_s.arg(uint{port}, 4, 16, QChar(u'0')).toUpper().toLatin1());
}

} // namespace

class BroadcastLoopbackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        m_home = usePrivateHome();
        m_haveSession = usePipeWireSession(&m_reason);
        useRealProgram(u"ffmpeg"_s);
        m_window.setColor(Qt::darkCyan);
        m_window.resize(640, 360);
        m_window.show();
    }
    void init() {
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
    }

    void twoPlatformsReceiveTheWindowAndTheProgramAudio() {
        QTemporaryDir received;
        std::array<QProcess, 2> listeners;
        std::array<quint16, 2> ports{};
        for (std::size_t i = 0; i < listeners.size(); ++i) {
            ports[i] = freePort();
            listeners[i].start(u"/usr/bin/ffmpeg"_s,
                               {u"-loglevel"_s, u"error"_s, u"-listen"_s, u"1"_s, u"-timeout"_s, u"20"_s,
                                u"-f"_s, u"flv"_s, u"-i"_s, u"rtmp://127.0.0.1:%1/live/key"_s.arg(ports[i]),
                                u"-c"_s, u"copy"_s, received.filePath(u"%1.flv"_s.arg(i))});
            QTRY_VERIFY_WITH_TIMEOUT(isListening(ports[i]), 10000);
        }
        // Facebook's rtmps:// address, pointed at a plain listener.
        qputenv("TEMBORA_FACEBOOK_INGEST", u"rtmp://127.0.0.1:%1"_s.arg(ports[0]).toUtf8());
        WorkstationController c;
        c.setQuickWindow(&m_window);
        QVERIFY(c.audioEngine().start(48000, 256));
        c.setStreamFacebookKey(u"fb-key"_s);
        c.setStreamFacebookEnabled(true);
        c.setStreamTiktokUrl(u"rtmp://127.0.0.1:%1/live"_s.arg(ports[1]));
        c.setStreamTiktokKey(u"tt-key"_s);
        c.setStreamTiktokEnabled(true);
        c.toggleLiveBroadcast();
        QCOMPARE(c.broadcastStatusText(),
                 u"● ON AIR (PURE DIGITAL AUDIO) → Facebook Live + TikTok Live + REC .MP4/.WAV"_s);
        const QString pipe = qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/tembora/tmb_broadcast_audio.fifo"_s;
        QVERIFY(QFile::exists(pipe));
        QTest::qWait(4000);
        c.playTestTone();
        QTest::qWait(6500);
        QVERIFY(c.broadcastStatusText().startsWith(u"● ON AIR"_s));
        QVERIFY(c.broadcastElapsedText() >= u"00:10"_s);
        c.toggleLiveBroadcast();
        QVERIFY(!QFile::exists(pipe));
        QTRY_VERIFY_WITH_TIMEOUT(c.statusBanner().startsWith(u"SAVED HD .MP4 VIDEO: "_s), 30000);
        c.audioEngine().stop();

        for (std::size_t i = 0; i < listeners.size(); ++i) {
            QVERIFY(listeners[i].state() == QProcess::NotRunning || listeners[i].waitForFinished(20000));
            const QString flv = probe(received.filePath(u"%1.flv"_s.arg(i)));
            for (const QString& entry :
                 {u"codec_name=h264"_s, u"width=960"_s, u"height=540"_s, u"r_frame_rate=15/1"_s,
                  u"codec_name=aac"_s, u"sample_rate=48000"_s, u"channels=2"_s})
                QVERIFY2(flv.contains(entry), qPrintable(flv));
            QVERIFY2(seconds(flv) >= 8.0, qPrintable(flv));
        }
        // The test tone's triad is in what the platform received.
        const QString decoded = received.filePath(u"audio.wav"_s);
        QCOMPARE(QProcess::execute(u"/usr/bin/ffmpeg"_s,
                                   {u"-v"_s, u"error"_s, u"-i"_s, received.filePath(u"1.flv"_s), decoded}),
                 0);
        StereoSignal audio;
        QVERIFY(readWav(decoded, &audio));
        const long long onset = firstAbove(audio.left, 0.05f);
        QVERIFY(onset > 48000);
        const auto from = static_cast<std::size_t>(onset) + 4800, to = from + 24000;
        const double off = toneAmplitude(audio.left, 48000, 300.0, from, to);
        for (const double hz : {261.63, 329.63, 392.0})
            QVERIFY(toneAmplitude(audio.left, 48000, hz, from, to) > 10 * off + 0.01);
    }

    // A join held up for seven seconds: the window goes on meanwhile and the video is
    // deleted only once the MP4 is complete; a video that cannot be joined is kept.
    void aSlowOrFailedJoinLosesNothing_data() {
        QTest::addColumn<bool>("corrupt");
        QTest::newRow("slow") << false;
        QTest::newRow("corrupt video") << true;
    }
    void aSlowOrFailedJoinLosesNothing() {
        QFETCH(bool, corrupt);
        // The join is the call with "+faststart"; its video is the sixth argument.
        const QString wrapper = m_home + u"/slow-ffmpeg"_s;
        QVERIFY(writeTestFile(wrapper,
                              "#!/bin/sh\ncase \"$*\" in *+faststart*) sleep 7; [ -n \"$CORRUPT\" ] && "
                              "head -c 4000 /dev/zero > \"$6\";; esac\nexec /usr/bin/ffmpeg \"$@\"\n"));
        QFile::setPermissions(wrapper, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("TEMBORA_FFMPEG", wrapper.toUtf8());
        qputenv("CORRUPT", corrupt ? "1" : "");
        QDir(m_home + u"/Videos"_s).removeRecursively();
        WorkstationController c;
        c.setQuickWindow(&m_window);
        QVERIFY(c.audioEngine().start(48000, 256));
        c.startStudioRecord();
        QVERIFY(
            c.statusBanner().startsWith(u"RECORDING VIDEO (.MP4) + AUDIO (.WAV) • Piano + Beats + Screen"_s));
        QTest::qWait(2500);
        c.stopStudioTransport();
        c.audioEngine().stop();
        qunsetenv("TEMBORA_FFMPEG");
        QVERIFY(c.statusBanner().contains(u"JOINING"_s));
        const QStringList videos =
            QDir(m_home + u"/Videos"_s).entryList({u".sandorik_capture_*"_s}, QDir::Hidden | QDir::Files);
        QCOMPARE(videos.size(), 1);

        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, worstGap = 0; // a join waited for would stall the window for seconds
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this,
                [&] { worstGap = std::max(worstGap, clock.elapsed() - last), last = clock.elapsed(); });
        ticker.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(c.runningVideoJoins() == 0, 30000);
        QVERIFY(clock.elapsed() > 5000 && worstGap < 1000);
        const QString wav = c.lastRecordedWavPath();
        QVERIFY(QFile::exists(wav));
        if (!corrupt) {
            QCOMPARE(c.statusBanner(),
                     u"SAVED HD .MP4 VIDEO: %1  |  AUDIO: %2"_s.arg(c.lastRecordedMp4Path(), wav));
            const QString mp4 = probe(c.lastRecordedMp4Path());
            QVERIFY2(mp4.contains(u"codec_name=h264"_s) && mp4.contains(u"codec_name=aac"_s) &&
                         seconds(mp4) >= 1.0,
                     qPrintable(mp4));
            QCOMPARE(QDir(m_home + u"/Videos"_s).entryList(QDir::Files | QDir::Hidden),
                     QStringList{QFileInfo(c.lastRecordedMp4Path()).fileName()}); // the video went
        } else {
            const QString kept = wav.chopped(4) + u"_video.mp4"_s;
            QVERIFY(QFile::exists(kept) &&
                    c.statusBanner().endsWith(u"KEPT VIDEO: %1  |  AUDIO: %2"_s.arg(kept, wav)));
            QCOMPARE(c.lastRecordedMp4Path(), QString());
            QCOMPARE(QDir(m_home + u"/Videos"_s).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
    }

private:
    QString m_home;
    QString m_reason;
    bool m_haveSession = false;
    QQuickWindow m_window;
};

QTEST_MAIN(BroadcastLoopbackTest)
#include "tst_broadcast_loopback.moc"
