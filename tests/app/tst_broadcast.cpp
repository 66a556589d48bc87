// Broadcasting through the controller with the outside programs stubbed.

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

const QString onAir = u"● ON AIR (PURE DIGITAL AUDIO) → "_s;

QVariant stored(const char* key) {
    return QSettings(u"Sandorik"_s, u"Tembora"_s).value(QLatin1String(key));
}

// The arguments of the latest stub call of `program`.
QStringList lastCall(const QString& program) {
    const QList<StubCall> calls = stubCalls();
    for (auto call = calls.crbegin(); call != calls.crend(); ++call)
        if (call->arguments.value(0) == program) return call->arguments.mid(1);
    return {};
}

} // namespace

class BroadcastTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        m_home = usePrivateHome();
        // The ffmpeg stub, then $STUB_ERR on the error output, $STUB_SLEEP seconds
        // without reading the input and the exit code $STUB_EXIT.
        const QString ffmpeg = m_home + u"/scripted-ffmpeg"_s;
        QVERIFY(writeTestFile(ffmpeg, "#!/bin/sh\n\"$TEMBORA_STUB\" \"$@\"\n"
                                      "[ -n \"$STUB_ERR\" ] && printf '%s\\n' \"$STUB_ERR\" >&2\n"
                                      "sleep \"${STUB_SLEEP:-0}\"\nexit \"${STUB_EXIT:-0}\"\n"));
        QFile::setPermissions(ffmpeg, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("TEMBORA_STUB", qgetenv("TEMBORA_FFMPEG"));
        qputenv("TEMBORA_FFMPEG", ffmpeg.toUtf8());
        m_cameras = m_home + u"/dev"_s;
        QDir().mkpath(m_cameras);
        qputenv("TEMBORA_CAMERA_DEVICE_DIR", m_cameras.toUtf8());
        qputenv("TEMBORA_IDEAPAD_CAMERA_POWER", (m_home + u"/no-switch"_s).toUtf8());
        m_window.resize(640, 360);
        m_window.show();
    }
    void init() {
        QSettings(u"Sandorik"_s, u"Tembora"_s).clear();
        for (const char* name : {"STUB_ERR", "STUB_SLEEP", "STUB_EXIT"})
            qunsetenv(name);
        QGuiApplication::clipboard()->clear();
    }

    void storedSettingsAreReadCleanedAndWrittenBack() {
        {
            WorkstationController fresh;
            QCOMPARE(props(fresh, "watermarkText streamYoutubeEnabled recordBroadcastMp4"),
                     u"Sandorik false true"_s);
            QCOMPARE(stored(BroadcastSettings::watermarkSubtextSetting).toString(),
                     BroadcastSettings::defaultWatermarkSubtext);
        }
        QSettings(u"Sandorik"_s, u"Tembora"_s)
            .setValue(QLatin1String(BroadcastSettings::facebookKeySetting),
                      u" rtmps://live-api-s.facebook.com:443/rtmp/FB-1?backup "_s);
        WorkstationController c;
        QCOMPARE(props(c, "streamFacebookKey streamFacebookEnabled streamYoutubeEnabled streamTiktokEnabled"),
                 u"FB-1 true false false"_s);
        QCOMPARE(stored(BroadcastSettings::facebookKeySetting).toString(), u"FB-1"_s);
    }

    // Stream keys and addresses are stored cleaned; a server address is no key.
    void settersStoreWhatTheySet() {
        WorkstationController c;
        const std::tuple<const char*, const char*, QString, QString> setters[] = {
            {"watermarkEnabled", BroadcastSettings::watermarkEnabledSetting, u"true"_s, u"true"_s},
            {"watermarkText", BroadcastSettings::watermarkTextSetting, u"St. Paul's"_s, u"St. Paul's"_s},
            {"watermarkSubtext", BroadcastSettings::watermarkSubtextSetting, u"10:00"_s, u"10:00"_s},
            {"streamFacebookKey", BroadcastSettings::facebookKeySetting, u"FB-2"_s, u"FB-2"_s},
            {"streamTiktokUrl", BroadcastSettings::tiktokUrlSetting, u" rtmp://p/app "_s, u"rtmp://p/app"_s},
            {"streamTiktokKey", BroadcastSettings::tiktokKeySetting, u"rtmp://p/app/live/TT-9"_s, u"TT-9"_s},
            {"streamYoutubeKey",
             BroadcastSettings::youtubeKeySetting,
             u"rtmp://a.rtmp.youtube.com/live2"_s,
             {}}};
        for (const auto& [property, key, value, kept] : setters) {
            QVERIFY(c.setProperty(property, value));
            QCOMPARE(stored(key).toString() + u'|' + c.property(property).toString(), kept + u'|' + kept);
        }
        QVERIFY(c.broadcastStatusText().startsWith(u"⚠ Paste your YouTube STREAM KEY"_s));
        c.setCameraCorner(7);
        c.cycleCameraCorner();
        QCOMPARE(c.cameraCorner(), 0);
        // A good key on the clipboard turns its target on; an empty clipboard changes nothing.
        QGuiApplication::clipboard()->setText(u"rtmp://a.rtmp.youtube.com/live2/abcd-1234-efgh-5678"_s);
        c.pasteYoutubeKeyFromClipboard();
        QCOMPARE(props(c, "streamYoutubeKey streamYoutubeEnabled"), u"abcd-1234-efgh-5678 true"_s);
        QGuiApplication::clipboard()->clear();
        c.pasteTiktokKeyFromClipboard();
        QCOMPARE(c.statusBanner(), u"⚠ Clipboard is empty • Copy Stream Key from YouTube Studio first"_s);
        QCOMPARE(c.streamTiktokKey(), u"TT-9"_s);
    }

    void theEncoderEndRulesSetTheTexts_data() {
        QTest::addColumn<bool>("record");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("banner");
        QTest::newRow("refused alone")
            << false << 1 << u"⚠ RTMP STREAM FAILED • Verify Stream Key (xxxx-xxxx-xxxx-xxxx)"_s
            << u"RTMP Stream failed (rtmp://x: Connection refused). Copy"_s;
        QTest::newRow("refused while recording")
            << true << 1 << u"⚠ RTMP STREAM REJECTED (Check Stream Key) • REC .MP4 STILL ACTIVE!"_s
            << u"RTMP Server disconnected (rtmp://x: Connection refused). Local"_s;
        QTest::newRow("ends normally")
            << false << 0 << u"BROADCAST STOPPED • Ready"_s << u"LIVE STREAMING + RECORDING (100% Direct"_s;
    }
    void theEncoderEndRulesSetTheTexts() {
        QFETCH(bool, record);
        QFETCH(int, exitCode);
        QFETCH(QString, status);
        QFETCH(QString, banner);
        qputenv("STUB_ERR", "Input #0, lavfi\n  rtmp://x: Connection refused  ");
        qputenv("STUB_EXIT", QByteArray::number(exitCode));
        qputenv("STUB_SLEEP", "1");
        WorkstationController c;
        c.audioEngine().prepareOffline(44100, 128);
        c.setRecordBroadcastMp4(record);
        c.setStreamTiktokUrl(u"rtmp://127.0.0.1:1/live"_s);
        c.setStreamTiktokKey(u"k-1"_s);
        c.setStreamTiktokEnabled(true);
        const qsizetype calls = stubCalls().size();
        c.toggleLiveBroadcast();
        QCOMPARE(c.broadcastStatusText(),
                 onAir + u"TikTok Live"_s + (record ? u" + REC .MP4/.WAV"_s : QString()));
        QTRY_COMPARE(stubCalls().size(), calls + 1);
        const QStringList args = lastCall(u"ffmpeg"_s);
        const QString pipe = args.value(args.indexOf(u"f32le"_s) + 6);
        QCOMPARE(args.value(args.indexOf(u"f32le"_s) + 2), u"44100"_s);
        QCOMPARE(pipe, m_home + u"/runtime/tembora/tmb_broadcast_audio.fifo"_s);
        QVERIFY(QFile::exists(pipe));
        QCOMPARE(args.value(args.indexOf(u"-i"_s) - 1), u"lavfi"_s); // no window, no camera

        QTRY_COMPARE_WITH_TIMEOUT(c.broadcastStatusText(), status, 5000);
        QVERIFY2(c.statusBanner().startsWith(banner), qPrintable(c.statusBanner()));
        QCOMPARE(c.broadcastActive(), record); // the take goes on, and with it the broadcast
        QCOMPARE(c.studioRecording(), record);
        QVERIFY(!QFile::exists(pipe));
        c.stopLiveBroadcast();
        QVERIFY(!c.broadcastActive() && !c.studioRecording());
    }

    void withoutTargetsOnlyTheTakeIsRecorded() {
        QGuiApplication::clipboard()->setText(u"not a key"_s);
        WorkstationController c;
        c.audioEngine().prepareOffline(48000, 256);
        c.setRecordBroadcastMp4(false);
        const qsizetype calls = stubCalls().size();
        c.toggleLiveBroadcast();
        QCOMPARE(c.broadcastStatusText(),
                 u"● REC .MP4 + .WAV ACTIVE • Paste YouTube Key to also Stream Live!"_s);
        QVERIFY(c.broadcastActive() && c.studioRecording());
        QCOMPARE(stubCalls().size(), calls);
        renderBlocks(c.audioEngine(), 4800, 256);
        c.toggleLiveBroadcast();
        QVERIFY(!c.broadcastActive() && !c.studioRecording() &&
                c.statusBanner().startsWith(u"SAVED RECORDING: "_s));
        QCOMPARE(c.broadcastStatusText(), u"BROADCAST STOPPED"_s);

        // A key on the clipboard is taken when none is set; an encoder that cannot
        // start leaves nothing looking as if it ran.
        QGuiApplication::clipboard()->setText(u" abcd-1234-efgh-5678 "_s);
        const QByteArray ffmpeg = qgetenv("TEMBORA_FFMPEG");
        qputenv("TEMBORA_FFMPEG", "/nonexistent/ffmpeg");
        c.toggleLiveBroadcast();
        qputenv("TEMBORA_FFMPEG", ffmpeg);
        QCOMPARE(c.streamYoutubeKey(), u"abcd-1234-efgh-5678"_s);
        QCOMPARE(c.broadcastStatusText(), u"⚠ RTMP ENCODER ERROR • Nothing is streamed or recorded"_s);
        QVERIFY(!c.broadcastActive() && c.audioEngine().broadcastAudioFd.load() == -1);
    }

    // Frames are about 2 MB: an encoder that does not read gets two, then misses
    // frames instead of queueing them.
    void aLaggingEncoderMissesFrames() {
        qputenv("STUB_SLEEP", "3");
        WorkstationController c;
        c.setQuickWindow(&m_window);
        c.setRecordBroadcastMp4(false);
        c.setStreamYoutubeKey(u"yt"_s);
        const qsizetype calls = stubCalls().size();
        c.toggleLiveBroadcast(); // pushes the first frame
        for (int i = 0; i < 4; ++i)
            c.captureAndPushWindowFrame();
        QCOMPARE(std::pair(c.frameCaptureStats().grabbed, c.frameCaptureStats().dropped),
                 std::pair(std::uint64_t{3}, std::uint64_t{2}));
        QTRY_COMPARE(stubCalls().size(), calls + 1);
        const QStringList args = lastCall(u"ffmpeg"_s);
        QCOMPARE(args.value(args.indexOf(u"rawvideo"_s) + 6), u"-"_s);
        c.stopLiveBroadcast();
    }

    void theCameraIsProbedAndPoweredOn() {
        QFile::remove(m_cameras + u"/video0"_s);
        WorkstationController c;
        QCOMPARE(c.cameraStatusMessage(),
                 u"No Webcam Detected • Click 'Grant Camera Rights' or connect USB camera"_s);
        c.setCameraEnabled(true);
        QCOMPARE(c.statusBanner(), u"LIVE CAMERA PiP ENABLED • Showing Webcam on Stage"_s);
        QTRY_VERIFY(!lastCall(u"pkexec"_s).isEmpty());
        const QStringList args = lastCall(u"pkexec"_s); // the user id an argument, not in the script
        QCOMPARE(args.mid(0, 2) + args.mid(3),
                 QStringList({u"/bin/sh"_s, u"-c"_s, u"sh"_s, QString::number(::getuid())}));
        QVERIFY(args[2].contains(u"modprobe uvcvideo"_s) && args[2].contains(u"u:$1:rw"_s));
        // The finish handler un-mutes, then looks for the camera now and after 1 s.
        QTRY_VERIFY(lastCall(u"amixer"_s).contains(u"Headphone"_s));
        QVERIFY(writeTestFile(m_cameras + u"/video0"_s, "cam") && !c.hardwareCameraAvailable());
        QTRY_VERIFY_WITH_TIMEOUT(c.hardwareCameraAvailable(), 2000);
        c.requestCameraPermissionAndPower();
        QCOMPARE(c.statusBanner(), u"Webcam Ready: Live Hardware Webcam Ready (/dev/video0)"_s);
        QFile::remove(m_cameras + u"/video0"_s);
    }

    void platformPagesOpenInTheBrowser() {
        WorkstationController c;
        c.openOneClickStreamPlatform(u"myspace"_s); // unknown: the multi-platform page
        QVERIFY(c.broadcastStatusText().startsWith(u"OPENED Restream Multi-Platform"_s));
        QTRY_VERIFY(lastCall(u"xdg-open"_s).value(0).contains(u"restream"_s));
        QVERIFY(c.watermarkEnabled() && c.cameraEnabled() &&
                stored(BroadcastSettings::watermarkEnabledSetting).toBool());
        c.openLastRecordedVideo();
        QTRY_COMPARE(lastCall(u"xdg-open"_s), QStringList{m_home + u"/Videos"_s});
    }

    // The manual is copied out of the resources once; an installed copy wins.
    void userManualOpensAsPdf() {
        const QString installedDirs = m_home + u"/installed"_s;
        qputenv("XDG_DATA_DIRS", installedDirs.toUtf8());
        WorkstationController c;
        const QString copy = c.projectManager().dataDirectory() + u"/Tembora_User_Manual.pdf"_s;
        QFile::remove(copy);
        c.openUserManualPdf();
        QTRY_COMPARE(lastCall(u"xdg-open"_s), QStringList{copy});
        QFile pdf(copy);
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.size() > 2000 && pdf.read(5) == "%PDF-");
        pdf.close();
        QVERIFY(writeTestFile(copy, "%PDF-1.4 older manual"));
        c.openUserManualPdf();
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.readAll(), "%PDF-1.4 older manual"); // not copied again
        const QString installed = installedDirs + u"/doc/tembora/Tembora_User_Manual.pdf"_s;
        QVERIFY(writeTestFile(installed, "%PDF-1.4 packaged"));
        c.openUserManualPdf();
        QTRY_COMPARE(lastCall(u"xdg-open"_s), QStringList{installed});
        qunsetenv("XDG_DATA_DIRS");
    }

private:
    QString m_home;
    QString m_cameras;
    QQuickWindow m_window;
};

QTEST_MAIN(BroadcastTest)
#include "tst_broadcast.moc"
