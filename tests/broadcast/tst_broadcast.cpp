// Broadcasting through the controller with the outside programs stubbed; phone commands
// (one table: summary, properties left, change counter), the state the phones poll, and
// reads of the published file while commands stream; the controller's side of the phone
// bridge, the bridge script stubbed (tst_phone_bridge.py and tst_phone_page.py run the real one).

#include "app/AppTestWorld.h"
#include "app/WorkstationController.h"
#include "broadcast/PrivateRuntimeFolder.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlContext>
#include <QQuickView>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include <unistd.h>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

const QString onAir = u"● ON AIR (PURE DIGITAL AUDIO) → "_s;

QVariant stored(const char* key) {
    return QSettings(u"Sandorik"_s, u"Tembora"_s).value(QLatin1String(key));
}

QString runtimeFile(const QString& name) {
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/tembora/"_s + name;
}

// The arguments of the latest stub call of `program`.
QStringList lastCall(const QString& program) {
    const QList<StubCall> calls = stubCalls();
    for (auto call = calls.crbegin(); call != calls.crend(); ++call)
        if (call->arguments.value(0) == program) return call->arguments.mid(1);
    return {};
}

// The stub calls of `program` from call `skip` on, each one's arguments joined by spaces.
QStringList callsOf(const QString& program, qsizetype skip = 0) {
    QStringList calls;
    const QList<StubCall> all = stubCalls();
    for (qsizetype i = skip; i < all.size(); ++i)
        if (all[i].arguments.value(0) == program) calls.append(all[i].arguments.mid(1).join(u' '));
    return calls;
}

// A phone's microphone packet: a sine of `hz` at 24000 Hz, from sample `first` on.
QString micPacket(int first, int count, double hz) {
    QByteArray bytes(2 * count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        qToLittleEndian<qint16>(qint16(12000 * std::sin(2 * M_PI * hz * (first + i) / 24000)),
                                bytes.data() + 2 * i);
    return QString::fromLatin1(bytes.toBase64());
}

// A stand-in interpreter: records its environment's token and folders and its pid, prints
// `output`, stays or ends with `exitCode`.
void useBridgeStandIn(const QByteArray& output, int exitCode = -1) {
    const QString path = usePrivateHome() + u"/bridge-stand-in.sh"_s;
    const QByteArray end = exitCode < 0 ? "exec sleep 30\n" : "exit " + QByteArray::number(exitCode) + "\n";
    QVERIFY(writeTestFile(path, "#!/bin/sh\nprintf '%s|%s|%s' \"$TMB_PHONE_TOKEN\" "
                                "\"$TMB_PHONE_RUNTIME_DIR\" \"$TMB_PHONE_DATA_DIR\" > \"$HOME/env\"\n"
                                "echo $$ > \"$HOME/pid\"\nprintf '" +
                                    output + "'\n" + end));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TEMBORA_PYTHON", path.toUtf8());
}

struct Rig {
    Rig()
        : world(false)
        , controller(std::make_unique<WorkstationController>()) {
        controller->audioEngine().prepareOffline(48000, 256);
        controller->initDrumKits();
        controller->initBundledAndSavedStyBeats();
        controller->beatSequencer().selectStyle(0);
    }
    WorkstationController& c() { return *controller; }
    // One "CMD:" line as the bridge prints it.
    void send(const QString& command, const QString& id = u"P-A"_s) {
        c().handlePhoneBridgeLine(u"CMD:%1|10.0.0.5|%2"_s.arg(id, command));
    }
    QJsonObject state() const { return QJsonDocument::fromJson(controller->phoneStateJsonBytes()).object(); }

    PresetWorld world;
    std::unique_ptr<WorkstationController> controller;
};

// The keys at the top level of `json`, in order (an escaped quote follows a backslash).
QStringList topLevelKeys(const QByteArray& json) {
    QStringList keys;
    static const QRegularExpression key(uR"re([{,]"(\w+)":)re"_s);
    for (auto it = key.globalMatch(QString::fromUtf8(json)); it.hasNext();)
        keys << it.next().captured(1);
    return keys;
}

// Command | summary (none: nothing recorded) | properties | their values [| phone].
// "@n" in a summary is the name of style n. Each row runs on what the rows above left.
const char* const commandTable = R"(
HELLO | | transposeSemitones | 0
KEY:SET:10 | Key +10 | transposeSemitones | 10
KEY:ADD:5 | Key +12 | transposeSemitones | 12
KEY:ADD:-2147483648 | Key -12 | transposeSemitones | -12
KEY:ADD:99999999999999999999 | Key +12 | transposeSemitones | 12
KEY:SET:abc | Key +0 | transposeSemitones | 0
KEY:ADD:-1 | Key -1 | transposeSemitones | -1
OCT:SET:-3 | Octave -3 | octaveShift | -3
OCT:ADD:2147483647 | Octave +2 | octaveShift | 2
BPM:SET:60 | Tempo 60 BPM | bpm | 60
BPM:ADD:-50 | Tempo 40 BPM | bpm | 40
BPM:ADD:nan | | bpm | 40
BPM:SET:inf | | bpm | 40
BPM:ADD:1e308 | Tempo 220 BPM | bpm | 220
BPM:SET:96.6 | Tempo 97 BPM | bpm | 96.6
TAP_TEMPO | Tap Tempo (97 BPM) | bpm | 96.6
METRO:TOGGLE | Metro ON | metronomeEnabled | true
VOL:PIANO:150 | Piano Vol 150% | pianoVolume | 1
VOL:LAYER:33.5 | Layer Vol 34% | layer2Volume | 0.34
VOL:BEATS:-0.5 | Beats Vol -1% | beatsVolume | 0
VOL:STYLE:61 | Band Vol 61% | styleVolume | 0.61
VOL:MASTER:88 | Master Vol 88% | masterVolume | 0.88
VOL:MASTER:nan | | masterVolume | 0.88
VOL:MASTER:1e400 | | masterVolume | 0.88
VOL:MASTER:1e300 | Master Vol 1000000% | masterVolume | 1
VOL:MASTER: | Master Vol 0% | masterVolume | 0
VOL:BASS:50 | | pianoVolume layer2Volume | 1 0.34
MIX_PRESET:3 | Mix: Solo Keys | pianoVolume layer2Volume styleVolume styleLeadVolume beatsVolume micVolume | 1 0.72 0.45 0.35 0.58 0.95
MIX_PRESET:5 | | pianoVolume layer2Volume styleVolume styleLeadVolume beatsVolume micVolume | 1 0.72 0.45 0.35 0.58 0.95
LAYER2:TOGGLE | Layer 2 ON | layer2Enabled splitEnabled | true false
SPLIT:TOGGLE | Split ON | layer2Enabled splitEnabled | true true
SUSTAIN:TOGGLE | Sustain ON | sustainLatched sustainPedal | true true
AUTOPEDAL:TOGGLE | Auto-Pedal ON | autoPedalEnabled | true
AUTOTUNE:TOGGLE | Auto-Tune ON | autoTuneEnabled autoTuneMode | true 0
AUTOTUNE:TOGGLE | Auto-Tune OFF | autoTuneEnabled | false
AUTOTUNE:CYCLE | Vocal FX: Gospel Quartet Voicer | autoTuneEnabled autoTuneMode | true 1
PAD:38 | Drum Pad Hit | activePadIndex | 1
PANIC | Panic All-Notes-Off | sustainLatched | true
CHORD:4 | Chord E (IV) | arrangerChordDegree | 4
CHORD:99 | Chord Abm (vi) | arrangerChordDegree | 6
PROG:9 | Prog #10 | arrangerProgressionIndex | 6
PROG:-3 | Prog #-2 | arrangerProgressionIndex | 0
SEC:3 | Section #4 | beatSection | 3
SEC:2147483647 | Section #2147483648 | beatSection | 6
KIT:9999 | Kit #10000 | currentDrumKitName | AVL Red Zeppelin Studio Kit
REG:2 | Voice M3 | activeRegistrationSlot | 2
REG:99 | Voice M100 | activeRegistrationSlot | 2
BEAT:TOGGLE | Beat START | beatPlaying | true
BEAT:TOGGLE | Beat STOP | beatPlaying | false
BEAT_SELECT:30 | Beat: @30 | currentBeatStyleIndex beatPlaying layer2Enabled sustainLatched | 30 true false false
FAMILY:28 | Genre: @31 | currentBeatStyleIndex | 31
FAMILY:28 | Genre: @32 | currentBeatStyleIndex | 32
FAMILY:0 | Genre: @0 | currentBeatStyleIndex | 0
STYLE:SELECT:0 | Style: @0 | currentBeatStyleIndex | 0
STYLE:PREV | Style: @34 | currentBeatStyleIndex | 34
STYLE:NEXT | Style: @0 | currentBeatStyleIndex | 0
STYLE:5 | Style: @5 | currentBeatStyleIndex | 5
STYLE:2147483647 | Style: @5 | currentBeatStyleIndex | 5
MODE:1 | Play-With-Keys Mode | arrangerPlayMode | 1
MODE: | Sing-Along Mode | arrangerPlayMode | 0
BEAT:TOGGLE | Beat STOP | beatPlaying | false
FAMILY:28 | Genre: @28 | currentBeatStyleIndex beatPlaying | 28 true
BEAT:TOGGLE | Beat STOP | beatPlaying | false
MODE:1 | Play-With-Keys Mode | arrangerPlayMode beatPlaying | 1 true
PROBAND:1 | Beat + Band Mode | proArrangerEnabled statusBanner | true 🎸 BEAT + FULL STYLE BAND MODE • Playing Drums + Accompaniment Band
PROBAND:0 | Drums Only Mode | proArrangerEnabled phoneStatusText | false 🥁 PURE DRUM BEAT MODE • Playing Studio Drums Only (No Automatic Band)
FILL | Drum Fill-In | beatSection | 5
SEC:1 | Section #2 | beatSection | 1
PAD:49 | Drum Pad Hit | beatSection activePadIndex | 5 3
STREAM:YT_TOGGLE | YouTube Target ON | streamYoutubeEnabled | true
STREAM:FB_TOGGLE | Facebook Target ON | streamFacebookEnabled | true
STREAM:TT_TOGGLE | TikTok Target ON | streamTiktokEnabled | true
STREAM:MP4_TOGGLE | Auto-MP4 OFF | recordBroadcastMp4 | false
STREAM:KEY:yt:abcd-efgh-ijkl-mnop | Saved YouTube Stream Key | streamYoutubeKey streamYoutubeEnabled | abcd-efgh-ijkl-mnop true
STREAM:KEY:xx:key | | streamYoutubeKey | abcd-efgh-ijkl-mnop
STREAM:KEY:yt:rtmp://a.rtmp.youtube.com/live2/ | | streamYoutubeKey |
PIP:CORNER | Moved PiP Corner | cameraCorner | 1
REC:TOGGLE | MP4/WAV Rec START | studioRecording | true
REC:TOGGLE | MP4/WAV Rec STOP | studioRecording | false
STREAM:TOGGLE | GO LIVE | broadcastActive | true
STREAM:TOGGLE | Stream STOP | broadcastActive | false
MIC_START | Mic ON | phoneMicActive micEnabled activeInputDeviceId statusBanner | true true phone_wireless_mic ● PHONE WIRELESS MIC LIVE • Speaking/Singing from Phone!
MIC_STOP | | phoneMicActive | true | P-B
MIC_STOP | Mic OFF | phoneMicActive statusBanner | false Phone Mic Paused • Phone Connected
CAM_START | Cam ON | phoneCamActive cameraEnabled phoneStatusText | true true ● PHONE WIRELESS CAMERA LIVE • Streaming to PiP Stage View! | P-B
CAM_STOP | | phoneCamActive | true
CAM_STOP | Cam OFF | phoneCamActive cameraEnabled | false true | P-B
PIP:TOGGLE | PiP Cam OFF | cameraEnabled | false
hello | | cameraEnabled | false
VOL: | | masterVolume | 0
 | | pianoVolume | 1
)";

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
        qputenv("TEMBORA_CAMERA_DEVICE_DIR", (m_home + u"/no-cameras"_s).toUtf8());
        qputenv("TEMBORA_IDEAPAD_CAMERA_POWER", (m_home + u"/no-switch"_s).toUtf8());
        m_window.resize(640, 360);
        m_window.show();
    }
    void init() {
        QSettings(u"Sandorik"_s, u"Tembora"_s).clear();
        for (const char* name : {"STUB_ERR", "STUB_SLEEP", "STUB_EXIT"})
            qunsetenv(name);
        QGuiApplication::clipboard()->clear();
        qputenv("TEMBORA_PYTHON", (m_home + u"/stub-bin/python3"_s).toUtf8());
        setStubReply(u"hostname"_s, "127.0.0.1 169.254.3.4\n");
    }

    // Stored settings are read, cleaned and written back; stream keys and addresses are stored
    // cleaned, and a server address is no key.
    void settingsAreStoredCleaned() {
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
        const std::tuple<const char*, const char*, QString, QString> setters[] = {
            {"watermarkEnabled", BroadcastSettings::watermarkEnabledSetting, u"true"_s, u"true"_s},
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
        // An empty clipboard changes nothing (tst_broadcast_camera.qml pastes a key).
        c.pasteTiktokKeyFromClipboard();
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
        QCOMPARE(pipe, runtimeFile(u"tmb_broadcast_audio.fifo"_s));
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

    // The platform page and the recordings open in the browser; powering the camera on runs
    // pkexec with the user id an argument, not in the script. The manual is copied out of the
    // resources once; an installed copy wins.
    void outsideProgramsGetArgumentLists() {
        WorkstationController c;
        c.openOneClickStreamPlatform(u"myspace"_s); // unknown: the multi-platform page
        QVERIFY(c.broadcastStatusText().startsWith(u"OPENED Restream Multi-Platform"_s));
        QTRY_VERIFY(lastCall(u"xdg-open"_s).value(0).contains(u"restream"_s));
        QVERIFY(c.watermarkEnabled() && c.cameraEnabled() &&
                stored(BroadcastSettings::watermarkEnabledSetting).toBool());
        c.openLastRecordedVideo();
        QTRY_COMPARE(lastCall(u"xdg-open"_s), QStringList{m_home + u"/Videos"_s});
        c.setCameraEnabled(true);
        QTRY_VERIFY(!lastCall(u"pkexec"_s).isEmpty());
        const QStringList args = lastCall(u"pkexec"_s);
        QCOMPARE(args.mid(0, 2) + args.mid(3),
                 QStringList({u"/bin/sh"_s, u"-c"_s, u"sh"_s, QString::number(::getuid())}));
        QVERIFY(args[2].contains(u"modprobe uvcvideo"_s) && args[2].contains(u"u:$1:rw"_s));

        const QString installedDirs = m_home + u"/installed"_s;
        qputenv("XDG_DATA_DIRS", installedDirs.toUtf8());
        const QString copy = c.projectManager().dataDirectory() + u"/Tembora_User_Manual.pdf"_s;
        QFile::remove(copy);
        const qsizetype before = stubCalls().size();
        c.openUserManualPdf();
        QTRY_COMPARE(callsOf(u"xdg-open"_s, before), QStringList{copy});
        QFile pdf(copy);
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.size() > 2000 && pdf.read(5) == "%PDF-");
        pdf.close();
        QVERIFY(writeTestFile(copy, "%PDF-1.4 older manual"));
        c.openUserManualPdf();
        QTRY_COMPARE(callsOf(u"xdg-open"_s, before).size(), 2); // logged before the next call starts
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.readAll(), "%PDF-1.4 older manual"); // not copied again
        const QString installed = installedDirs + u"/doc/tembora/Tembora_User_Manual.pdf"_s;
        QVERIFY(writeTestFile(installed, "%PDF-1.4 packaged"));
        c.openUserManualPdf();
        QTRY_COMPARE(callsOf(u"xdg-open"_s, before), (QStringList{copy, copy, installed}));
        qunsetenv("XDG_DATA_DIRS");
    }

    // ------------------------------------------------------------ phone commands

    void commandsActThroughTheControllerAndSummarise() {
        Rig rig;
        WorkstationController& c = rig.c();
        QVERIFY(!c.watermarkEnabled());
        static const QRegularExpression styleRef(u"@(\\d+)"_s);
        for (const QString& text : QString::fromUtf8(commandTable).split(u'\n', Qt::SkipEmptyParts)) {
            QStringList cells = text.split(u'|');
            for (QString& cell : cells)
                cell = cell.trimmed();
            const QString id = cells.value(4, u"P-A"_s);
            QString expected = cells[1];
            for (auto match = styleRef.match(expected); match.hasMatch(); match = styleRef.match(expected))
                expected.replace(match.capturedStart(), match.capturedLength(),
                                 c.beatSequencer().styles()[match.captured(1).toUInt()].name);
            const qint64 seq = c.phoneState().stateSeq;
            rig.send(cells[0], id);
            const qint64 moved = c.phoneState().stateSeq - seq;
            const QString recorded = moved ? c.phoneState().lastChangeSummary : QString();
            if (!expected.isEmpty())
                expected = u"📲 Phone #%1 → %2"_s.arg(id == u"P-A"_s ? 1 : 2).arg(expected);
            QCOMPARE(u"%1 → %2 | %3 | seq +%4"_s.arg(cells[0], recorded, props(c, qPrintable(cells[2])))
                         .arg(moved),
                     u"%1 → %2 | %3 | seq +%4"_s.arg(cells[0], expected, cells[3])
                         .arg(expected.isEmpty() ? 0 : 1));
        }
    }

    // The state the phones poll: its keys in order, its values following the workstation, and
    // a phone's text kept text.
    void theStateThePhonesPoll() {
        Rig rig;
        WorkstationController& c = rig.c();
        const QStringList expected =
            uR"(bpm playing styleIdx styleName genre section playMode proBand drumKitName progIdx chord
            chordDeg transpose keyLabel octave regSlot autoTune autoTuneMode layer2 split sustain autoPedal
            metronome recording volMic volBeats volStyle volLead volPiano volLayer volMaster broadcastActive
            broadcastStatus broadcastDuration ytEnabled fbEnabled ttEnabled mp4Enabled hasYtKey hasFbKey
            hasTtKey pipEnabled pipCorner pipCornerLabel pipMirror wmEnabled micEnabled connectedPhoneCount
            connectedPhonesText activeMicPhoneId activeCamPhoneId lastActorId lastChangeSummary stateSeq)"_s
                .split(QRegularExpression(u"\\s+"_s));
        QCOMPARE(topLevelKeys(c.phoneStateJsonBytes()), expected);
        const auto shown = [&rig](const char* keys) {
            const QJsonObject state = rig.state();
            QStringList values;
            for (const QString& key : QString::fromLatin1(keys).split(u' '))
                values << state.value(key).toVariant().toString();
            return values.join(u' ');
        };
        QCOMPARE(shown("chord connectedPhonesText"), u"C (I) 1 Phone Connected"_s);

        c.loadRegistration(3);
        // Every channel its own level; halves round away from zero.
        c.setMicVolume(0.125f);
        c.setBeatsVolume(0.625f);
        c.setStyleVolume(0.31f);
        c.setStyleLeadVolume(0.42f);
        c.setPianoVolume(0.53f);
        c.setLayer2Volume(0.64f);
        c.setMasterVolume(0.875f);
        c.setBpm(96.5f);
        c.setSustainPedal(true);
        c.setCameraCorner(2);
        c.setTransposeSemitones(-2);
        c.setStreamFacebookKey(u"  FB-2  "_s);
        QCOMPARE(shown("volMic volBeats volStyle volLead volPiano volLayer volMaster"),
                 u"13 63 31 42 53 64 88"_s);
        QCOMPARE(shown("bpm sustain keyLabel pipCorner pipCornerLabel hasYtKey hasFbKey regSlot"),
                 u"96.5 true Bb (-2) 2 TR false true 3"_s);
        c.setTransposeSemitones(0);
        c.setCameraCorner(3);
        c.setSustainPedal(false);
        c.setStyleVolume(0.0f);
        QCOMPARE(shown("keyLabel pipCornerLabel sustain volStyle volMic"), u"C (+0) TL false 0 13"_s);

        // A phone's self-chosen id reaches every other phone: it stays text.
        const QString hostile = u"P\"<img src=x onerror=alert(1)>\\\n\t\u0001\u007f,\"bpm\":1 — Ŵ 🎹"_s;
        c.recordPhoneAction(hostile, u"10.0.0.5"_s, u"Metro ON"_s);
        const QByteArray json = c.phoneStateJsonBytes();
        QJsonParseError error;
        const QJsonObject state = QJsonDocument::fromJson(json, &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(state.value(u"lastActorId"_s).toString(), hostile);
        QCOMPARE(topLevelKeys(json), expected);
        QCOMPARE(state.value(u"stateSeq"_s).toInteger(), 1);
    }

    // The published file is replaced whole: a poll while commands stream never reads "{}" or half.
    void publishedStateIsNeverTornWhileCommandsStream() {
        Rig rig;
        WorkstationController& c = rig.c();
        const QString path = runtimeFile(u"tmb_phone_state.json"_s);
        c.writePhoneStateJson();
        std::atomic<int> reads{0};
        std::atomic<bool> stop{false}, torn{false};
        QByteArray bad; // what the reader saw when it failed
        std::thread reader([&] {
            for (; reads < 2000 && !stop; ++reads) {
                QFile file(path);
                const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                if (!QJsonDocument::fromJson(bytes).object().contains(u"stateSeq"_s)) {
                    bad = bytes.isEmpty() ? QByteArrayLiteral("(missing)") : bytes;
                    torn = true;
                    return;
                }
            }
        });
        const QStringList commands = {u"BPM:ADD:1"_s, u"VOL:PIANO:40"_s, u"LAYER2:TOGGLE"_s, u"KEY:ADD:1"_s};
        for (int i = 0; reads < 2000 && !torn && i < 200000; ++i)
            rig.send(commands[i % commands.size()]);
        stop = true;
        reader.join();
        QCOMPARE(bad, QByteArray());
        QCOMPARE(reads.load(), 2000);
        QVERIFY(c.phoneState().stateSeq > 0);
    }

    // ------------------------------------------------------------ the bridge and its links

    void connectionsBannersAndFailureLines() {
        WorkstationController c;
        c.setPhoneClock([this] { return m_now; });
        QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
        c.handlePhoneBridgeLine(u"CONN:P-A|10.0.0.5"_s);
        QVERIFY(c.phoneConnected());
        QCOMPARE(c.statusBanner(),
                 u"● PHONE CONNECTED (10.0.0.5) • Live Stage Remote, Stream, Mic & Camera Active!"_s);
        QCOMPARE(c.phoneStatusText(), c.statusBanner());
        QVERIFY(QFile::exists(runtimeFile(u"tmb_phone_state.json"_s)));
        c.handlePhoneBridgeLine(u"CONN:P-A|10.0.0.5"_s);
        QCOMPARE(banner.count(), 1); // a known phone again: no new banner
        c.handlePhoneBridgeLine(u"CONN:P-B|10.0.0.8"_s);
        QCOMPARE(c.statusBanner(), u"● 2 PHONES CONNECTED • Smart Multi-Phone Live Sync Active!"_s);

        m_now += 5;
        c.handlePhoneBridgeLine(u"QR_READY:/elsewhere/qr.png"_s);
        QCOMPARE(c.phoneQrCodeUrl(), u"file://"_s + runtimeFile(u"tmb_phone_qr.png?t=%1"_s.arg(m_now)));

        c.handlePhoneBridgeLine(u"READY:8443"_s);
        QVERIFY(c.phoneBridgeRunning() &&
                c.phoneStatusText().startsWith(u"Phone Hub Active • Scan QR or open "_s));
        // Plain HTTP failing leaves the bridge up; HTTPS failing ends it.
        for (const QString& error :
             {u"ERR_HTTP:[Errno 98] Address already in use"_s, u"ERR_HTTPS:no certificate"_s}) {
            c.handlePhoneBridgeLine(error);
            QCOMPARE(c.phoneBridgeRunning(), error.startsWith(u"ERR_HTTP:"_s));
            QCOMPARE(c.statusBanner(), u"⚠ Phone Hub failed: "_s + error.section(u':', 1));
        }

        QSignalSpy bridge(&c, &WorkstationController::phoneBridgeChanged);
        c.handlePhoneBridgeLine(u"CMD:P-B|10.0.0.8|HELLO"_s);
        QVERIFY(bridge.count() == 1 && c.phoneState().stateSeq == 0);
    }

    // 1 kHz from the phone stays 1 kHz for 0.2 s at the engine's rate; a second phone is not heard.
    void microphoneAtTheEngineRate_data() {
        QTest::addColumn<int>("rate");
        QTest::newRow("48000") << 48000;
        QTest::newRow("44100") << 44100;
    }
    void microphoneAtTheEngineRate() {
        QFETCH(int, rate);
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        engine.prepareOffline(rate, 512);
        c.setMicMonitorEnabled(true);
        QSignalSpy mic(&c, &WorkstationController::micStateChanged);
        for (int first = 0; first < 4800; first += 1200)
            c.handlePhoneBridgeLine(u"MIC:P-A|"_s + micPacket(first, 1200, 1000.0));
        QVERIFY(mic.count() == 1 && c.phoneMicActive() && c.micEnabled() && c.phoneState().micBlocks == 4);
        QCOMPARE(c.phoneState().activeMicPhoneId + c.activeInputDeviceId(), u"P-Aphone_wireless_mic"_s);

        const StereoSignal signal = renderBlocks(engine, 512 * 24, 512);
        QVERIFY(std::abs(dominantFrequency(signal.left, rate, 200, 4000) - 1000.0) < 20.0);
        QVERIFY(std::abs(lastAbove(signal.left, 0.02f) - 0.2 * rate) < 0.01 * rate);

        c.handlePhoneBridgeLine(u"MIC:P-B|"_s + micPacket(0, 1200, 1000.0));
        QCOMPARE(c.phoneState().micBlocks, 4);
        QVERIFY(peak(renderBlocks(engine, 512, 512).left) < 0.02f);
    }

    // Frames from the camera's owner only; the picture-in-picture shows them in its corner.
    void cameraFramesFromItsOwnerOnly() {
        WorkstationController c;
        QImage red(64, 48, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(privateRuntimeFolder() + u"/tmb_phone_cam.jpg"_s, "JPG"));
        c.handlePhoneBridgeLine(u"CAM:P-A|1"_s);
        QVERIFY(c.phoneCamActive() && c.cameraEnabled());
        QCOMPARE(c.phoneCameraFrameUrl(), u"file://"_s + runtimeFile(u"tmb_phone_cam.jpg?f=1"_s));
        c.handlePhoneBridgeLine(u"CAM:P-B|1"_s);
        QCOMPARE(c.phoneState().activeCamPhoneId, u"P-A"_s);
        c.handlePhoneBridgeLine(u"CAM:P-A|2"_s); // within the same millisecond: still a new picture
        QVERIFY(c.phoneCameraFrameUrl().endsWith(u"?f=2"_s) && c.phoneState().cameraFrames == 2);

        const QString scene = usePrivateHome() + u"/pip.qml"_s;
        QVERIFY(writeTestFile(scene, "import QtQuick\nimport \"qrc:/qml/components\"\n"
                                     "Item { width: 600; height: 400; CameraPip {} }\n"));
        QQuickView view;
        view.rootContext()->setContextProperty(u"workstation"_s, &c);
        view.setSource(QUrl::fromLocalFile(scene));
        view.show();
        const auto isRed = [&view](int x, int y) {
            const QColor pixel = view.grabWindow().pixelColor(x, y);
            return pixel.red() > 200 && pixel.green() < 60 && pixel.blue() < 60;
        };
        c.setCameraCorner(2); // 280x196, 16 px in: the centre of the top right corner's box
        QTRY_VERIFY(isRed(444, 114));
        QVERIFY(!isRed(156, 286));
    }

    // The script from our private folder, the token and folders in the environment only; every
    // end is reported.
    void bridgeStartAndItsEnds() {
        const qsizetype before = stubCalls().size();
        {
            WorkstationController c;
            c.startPhoneBridgeServer();
            QTRY_COMPARE_WITH_TIMEOUT(c.phoneBridgeUrl(), u"https://127.0.0.1:8443"_s, 10000);
            QCOMPARE(c.phoneUsbUrl(), u"http://localhost:8088"_s);
            const QString script = runtimeFile(u"tmb_phone_bridge.py"_s);
            QTRY_COMPARE(callsOf(u"python3"_s, before),
                         QStringList{u"-u %1 https://127.0.0.1:8443"_s.arg(script)});
            QCOMPARE(QFile::permissions(script), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadUser | QFileDevice::WriteUser);
            QFile copy(script), original(sourceDir() + u"/src/phone/phone_bridge.py"_s);
            QVERIFY(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly) &&
                    copy.readAll() == original.readAll());
            QVERIFY(!c.phoneBridgeRunning()); // until it says READY
        }
        {
            setStubReply(u"hostname"_s, "127.0.0.1 169.254.3.4 10.1.2.3\n");
            useBridgeStandIn("QR_READY:x\\nREADY:8443\\n");
            WorkstationController c;
            c.startPhoneBridgeServer();
            QTRY_VERIFY(c.phoneBridgeRunning());
            QCOMPARE(c.phoneStatusText(),
                     u"Phone Hub Active • Scan QR or open https://10.1.2.3:8443 on your phone"_s);
            const QString home = usePrivateHome();
            QFile env(home + u"/env"_s), pid(home + u"/pid"_s);
            QVERIFY(env.open(QIODevice::ReadOnly) && pid.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(env.readAll()),
                     u"%1|%2/runtime/tembora|%3"_s.arg(c.phoneAccessToken(), home,
                                                       c.projectManager().dataDirectory()));
            QVERIFY(QProcess::execute(u"kill"_s,
                                      {u"-KILL"_s, QString::fromLatin1(pid.readAll().trimmed())}) == 0);
            QTRY_COMPARE(c.phoneStatusText(), u"⚠ Phone Hub failed: the bridge was killed"_s);
            QVERIFY(!c.phoneBridgeRunning());
        }
        const std::pair<QByteArray, QString> ends[] = {
            {"ERR_HTTPS:[Errno 98] Address already in use\\n", u"[Errno 98] Address already in use"_s},
            {"Traceback\\n", u"the bridge stopped (exit code 3)"_s}};
        for (const auto& [output, reason] : ends) {
            useBridgeStandIn(output, 3);
            WorkstationController c;
            c.startPhoneBridgeServer();
            QTRY_COMPARE(c.statusBanner(), u"⚠ Phone Hub failed: "_s + reason);
            QVERIFY(!c.phoneBridgeRunning());
        }
        qputenv("TEMBORA_PYTHON", "/nonexistent/python3");
        WorkstationController c;
        c.startPhoneBridgeServer();
        QTRY_VERIFY(c.phoneStatusText().startsWith(u"⚠ Phone Hub failed: "_s));
        QVERIFY(!c.phoneBridgeRunning());
    }

    void usbPhoneThroughAdb() {
        for (const bool attached : {false, true}) {
            setStubReply(u"adb"_s, attached ? "List of devices attached\nR58M\tdevice\n"
                                            : "List of devices attached\n\n");
            const qsizetype before = stubCalls().size();
            WorkstationController c;
            c.connectUsbAndroidPhoneAdb();
            QCOMPARE(
                c.statusBanner(),
                attached
                    ? u"✓ USB Phone Tunneled (http://localhost:8088) • Opened Studio Mic/Cam/Pad on Phone!"_s
                    : u"⚠ No USB Android Phone detected via ADB • Enable USB Debugging or scan the Wi-Fi QR Code!"_s);
            const QStringList tunnel = {
                u"reverse tcp:8088 tcp:8088"_s, u"reverse tcp:8443 tcp:8443"_s,
                u"shell am start -a android.intent.action.VIEW -d http://localhost:8088/?k="_s +
                    c.phoneAccessToken()};
            QTRY_COMPARE(callsOf(u"adb"_s, before),
                         QStringList{u"devices"_s} + (attached ? tunnel : QStringList()));
        }
    }

    // The public address is checked (a slow echo service does not hold up the window); the
    // tunnel's link is read from its output; the QR child's link (with the token) goes on stdin.
    void publicAndCustomLinks() {
        setStubReply(u"curl"_s, "<html>rate limited</html>");
        {
            WorkstationController c;
            c.startPublicPhoneLink();
            QTRY_COMPARE_WITH_TIMEOUT(c.phonePublicIpUrl(), c.phoneBridgeUrl(), 10000);
        }
        setStubReply(u"curl"_s, "203.0.113.7\n");
        QFile curl(usePrivateHome() + u"/stub-bin/curl"_s);
        QVERIFY(curl.open(QIODevice::ReadWrite));
        const QByteArray stub = curl.readAll();
        QVERIFY(curl.seek(0) && curl.write(stub.left(stub.indexOf('\n') + 1) + "sleep 1\n" +
                                           stub.mid(stub.indexOf('\n') + 1)) > 0);
        curl.close();
        setStubReply(u"ssh"_s, "Connect to http://x.lhr.life or https://ab-12.lhr.life ok\n");
        setStubReply(u"hostname"_s, "10.1.2.3\n");
        const qsizetype before = stubCalls().size();
        WorkstationController c;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);
        c.startPublicPhoneLink();
        QTRY_COMPARE_WITH_TIMEOUT(c.phonePublicIpUrl(), u"https://203.0.113.7:8443"_s, 10000);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks))); // the window kept running meanwhile
        QTRY_COMPARE(c.phoneRemoteTunnelUrl(), u"https://ab-12.lhr.life"_s);
        QCOMPARE(c.statusBanner(),
                 u"🌐 GLOBAL PUBLIC LINK LIVE: https://ab-12.lhr.life (Works on Any Network / 4G / "
                 u"Remote Location!)"_s);
        QTRY_COMPARE(callsOf(u"upnpc"_s, before), QStringList{u"-e Tembora -a 10.1.2.3 8443 8443 TCP"_s});
        QVERIFY(callsOf(u"ssh"_s, before).value(0).endsWith(u"-R 80:localhost:8088 nokey@localhost.run"_s));
        const QStringList qr = callsOf(u"python3"_s, before).filter(u"-c "_s);
        QVERIFY(!qr.isEmpty() && !qr.join(u' ').contains(c.phoneAccessToken()));

        c.setCustomPublicHost(u" https://stage.example.org:9443/ "_s);
        QCOMPARE(c.phonePublicIpUrl(), u"https://stage.example.org:9443"_s);
        QVERIFY(c.phoneUsePublicLink());

        c.copyPublicPhoneUrl();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 u"https://ab-12.lhr.life/?k="_s + c.phoneAccessToken());
        c.copyPhoneBridgeUrl();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"https://10.1.2.3:8443/?k="_s + c.phoneAccessToken());
    }

private:
    QString m_home;
    QQuickWindow m_window;
    qint64 m_now = 1'700'000'000'000;
};

QTEST_MAIN(BroadcastTest)
#include "tst_broadcast.moc"
