// The pieces of broadcasting and of the phone bridge that need no controller: keys, targets,
// folder, audio pipe, camera; the bridge's line splitter and reader, peer table, microphone
// rates and links.

#include "../app/AppTestWorld.h"
#include "broadcast/BroadcastAudioPipe.h"
#include "broadcast/BroadcastSettings.h"
#include "broadcast/CameraProbe.h"
#include "broadcast/PrivateRuntimeFolder.h"
#include "phone/PhoneBridgeLines.h"
#include "phone/PhoneLinks.h"
#include "phone/PhoneMicResampler.h"
#include "phone/PhonePeers.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>

using namespace tmb;
using namespace Qt::StringLiterals;
using Kind = PhoneBridgeLine::Kind;

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

QByteArray pcm(const std::vector<qint16>& samples) {
    QByteArray bytes(2 * qsizetype(samples.size()), Qt::Uninitialized);
    for (std::size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(samples[i], bytes.data() + 2 * i);
    return bytes;
}

} // namespace

class BroadcastPartsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_home = test::usePrivateHome(); }

    // Pasted text: the key kept, whether it was a URL, whether a clipboard paste takes it.
    void pastedTextBecomesAKey() {
        const std::tuple<QString, QString, bool, bool> cases[] = {
            {u"  abcd-1234-efgh-5678 \n"_s, u"abcd-1234-efgh-5678"_s, false, true},
            {u"abcd-1234-efgh-5678-wxyz"_s, u"abcd-1234-efgh-5678-wxyz"_s, false, true},
            {u"abcd-1234-efgh"_s, u"abcd-1234-efgh"_s, false, false},
            {u"rtmp://a.rtmp.youtube.com/live2/abcd-1234"_s, u"abcd-1234"_s, false, true},
            {u"rtmps://live-api-s.facebook.com:443/rtmp/FB-77?backup"_s, u"FB-77"_s, false, false},
            {u"rtmp://x/live/a/live2/ k1 "_s, u"k1"_s, false, true}, // the last marker wins
            {u"rtmp://a.rtmp.youtube.com/live2"_s, {}, true, false},
            {u"HTTPS://studio.youtube.com"_s, {}, true, false},
            {u"rtmps://h:443/rtmp/"_s, {}, true, false},
            {u"rtmp://h/live2/http://evil"_s, {}, true, true},
            {u"   "_s, {}, false, false}};
        for (const auto& [text, key, wasUrl, clipboardKey] : cases) {
            bool url = !wasUrl;
            QCOMPARE(sanitizeStreamKeyValue(text, &url), key);
            QVERIFY2(url == wasUrl && looksLikeYoutubeKey(text.trimmed()) == clipboardKey, qPrintable(text));
        }
    }

    // One set of keys: each target needs its switch, its key and (TikTok) an rtmp address.
    void targetsFollowTheirSwitchesAndKeys() {
        qputenv("TEMBORA_YOUTUBE_INGEST", "rtmp://127.0.0.1:9");
        qputenv("TEMBORA_FACEBOOK_INGEST", "rtmp://127.0.0.1:8");
        BroadcastSettings settings;
        settings.youtubeKey = u"Y-1"_s;
        settings.facebookKey = u"F-2"_s;
        settings.tiktokKey = u"T-3"_s;
        settings.tiktokUrl = u"rtmps://push.example/live"_s; // the slash is added
        settings.youtubeEnabled = settings.facebookEnabled = settings.tiktokEnabled = true;
        const auto found = [&settings] {
            QStringList names;
            for (const StreamTarget& target : settings.targets())
                names << target.name + u' ' + target.url;
            return names;
        };
        const QString fb = u"Facebook Live rtmp://127.0.0.1:8/rtmp/F-2"_s;
        QCOMPARE(found(), (QStringList{u"YouTube Live rtmp://127.0.0.1:9/live2/Y-1"_s, fb,
                                       u"TikTok Live rtmps://push.example/live/T-3"_s}));
        settings.youtubeEnabled = false;
        settings.tiktokUrl = u"-f lavfi"_s;
        QCOMPARE(found(), QStringList{fb});
        settings.youtubeEnabled = true;
        settings.youtubeKey.clear(); // enabled without a key: nothing is sent
        QCOMPARE(found(), QStringList{fb});
    }

    void theFolderIsOursAlone_data() {
        QTest::addColumn<QString>("planted"); // what stands at $XDG_RUNTIME_DIR/tembora
        QTest::addColumn<bool>("used");
        QTest::newRow("nothing yet") << QString() << true;
        QTest::newRow("our closed folder") << u"folder 0700"_s << true;
        QTest::newRow("a folder others may enter") << u"folder 0755"_s << false;
        QTest::newRow("a link to elsewhere") << u"link"_s << false;
        QTest::newRow("no runtime folder") << u"unset"_s << false;
    }
    void theFolderIsOursAlone() {
        QFETCH(QString, planted);
        QFETCH(bool, used);
        QTemporaryDir runtime;
        const QString own = runtime.path() + u"/tembora"_s;
        if (planted.startsWith(u"folder"_s)) {
            QDir().mkpath(own);
            ::chmod(QFile::encodeName(own).constData(), planted.endsWith(u"0700"_s) ? 0700 : 0755);
        }
        if (planted == u"link"_s) QVERIFY(QFile::link(m_home, own));
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        if (planted == u"unset"_s)
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        const QString folder = privateRuntimeFolder();
        qputenv("XDG_RUNTIME_DIR", saved);
        QCOMPARE(folder == own, used);
        QVERIFY(!folder.isEmpty() && !folder.startsWith(m_home));
        QCOMPARE(modeOf(folder), mode_t{S_IFDIR | 0700});
    }

    void theAudioPipeIsPrivateAndNeverFollowsALink_data() {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("opens");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("a link to a file") << u"link"_s << true;
        QTest::newRow("an open pipe of others") << u"fifo"_s << true;
        QTest::newRow("a folder") << u"folder"_s << false;
    }
    void theAudioPipeIsPrivateAndNeverFollowsALink() {
        QFETCH(QString, planted);
        QFETCH(bool, opens);
        QTemporaryDir folder;
        const QString path = folder.path() + u"/tmb_broadcast_audio.fifo"_s;
        const QString victim = folder.path() + u"/victim.txt"_s;
        QVERIFY(test::writeTestFile(victim, "keep"));
        if (planted == u"link"_s) QVERIFY(QFile::link(victim, path));
        if (planted == u"fifo"_s) QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
        if (planted == u"folder"_s) QVERIFY(QDir().mkpath(path + u"/inside"_s));

        BroadcastAudioPipe pipe;
        QString error;
        QCOMPARE(pipe.open(folder.path(), &error), opens);
        QFile file(victim);
        QVERIFY(error.isEmpty() == opens && file.open(QIODevice::ReadOnly) && file.readAll() == "keep");
        if (!opens) return;
        QCOMPARE(pipe.path(), path);
        QCOMPARE(modeOf(path), mode_t{S_IFIFO | 0600});
        QCOMPARE(::write(pipe.descriptor(), "abcdefgh", 8), 8); // never blocks, nobody reads
    }

    // The block in progress may still write with the old descriptor: it is closed
    // only once a block has ended, and with audio stopped at once.
    void theDescriptorOutlivesTheBlockInProgress_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("rendering");
        QTest::newRow("audio rendering") << true << true;
        QTest::newRow("audio stalled") << true << false;
        QTest::newRow("audio stopped") << false << false;
    }
    void theDescriptorOutlivesTheBlockInProgress() {
        QFETCH(bool, running);
        QFETCH(bool, rendering);
        QTemporaryDir folder;
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        BroadcastAudioPipe pipe;
        QVERIFY(pipe.open(folder.path()));
        const int fd = pipe.descriptor();
        engine.broadcastAudioFd.store(fd);
        std::optional<test::BackendThread> backend;
        if (rendering) backend.emplace(engine, std::chrono::microseconds(5333), false);
        engine.running = running;
        QElapsedTimer clock;
        clock.start();
        pipe.release(engine);
        const qint64 waited = clock.elapsed();
        backend.reset();
        engine.running = false;
        QCOMPARE(engine.broadcastAudioFd.load(), -1);
        QVERIFY(!QFile::exists(folder.path() + u"/tmb_broadcast_audio.fifo"_s));
        // Stalled: kept open until the pipe object goes, after the engine stopped.
        QCOMPARE(::fcntl(fd, F_GETFD) != -1, running && !rendering);
        QVERIFY2(running && !rendering ? waited >= BroadcastAudioPipe::blockWaitMs : waited < 200,
                 qPrintable(QString::number(waited)));
    }

    // Video devices and the IdeaPad camera switch (empty: no such file) -> what the probe says.
    void theCameraProbeSaysWhatToDo() {
        const QString none = u"No Webcam Detected • Click 'Grant Camera Rights' or connect USB camera"_s;
        const std::tuple<QStringList, QString, QString> cases[] = {
            {{}, {}, none},
            {{u"video1"_s, u"video0"_s, u"vbi0"_s}, u"0"_s, u"Live Hardware Webcam Ready (/dev/video0)"_s},
            {{u"media0"_s},
             u"0\n"_s,
             u"Laptop Camera Power is OFF • Click 'Grant Camera Rights & Power On' or press Fn+Camera key"_s},
            {{}, u"1"_s, none}};
        for (const auto& [devices, power, message] : cases) {
            QTemporaryDir dev;
            for (const QString& name : devices)
                QVERIFY(test::writeTestFile(dev.filePath(name), "cam"));
            const QString powerFile = dev.filePath(u"camera_power"_s);
            if (!power.isEmpty()) QVERIFY(test::writeTestFile(powerFile, power.toUtf8()));
            qputenv("TEMBORA_CAMERA_DEVICE_DIR", dev.path().toUtf8());
            qputenv("TEMBORA_IDEAPAD_CAMERA_POWER", powerFile.toUtf8());
            const CameraProbe probe = CameraProbe::run();
            QCOMPARE(probe.message, message);
            QCOMPARE(probe.devicePath, message.startsWith(u"Live"_s) ? dev.filePath(u"video0"_s) : QString());
            QCOMPARE(probe.available, !probe.devicePath.isEmpty());
        }
        qunsetenv("TEMBORA_CAMERA_DEVICE_DIR");
        qunsetenv("TEMBORA_IDEAPAD_CAMERA_POWER");
    }

    // ------------------------------------------------------------ the phone bridge

    // What the controller's own test does not send: parts missing, bars inside a command.
    void linesAreReadByPrefix() {
        const std::tuple<QString, Kind, QString> cases[] = {
            // line, kind, id/ip/payload
            {u"ERR_HTTP:[Errno 98] in use"_s, Kind::HttpFailed, u"//[Errno 98] in use"_s},
            {u"CONN: P-AB12 | 10.0.0.5"_s, Kind::Connected, u"P-AB12/10.0.0.5/"_s},
            {u"CONN:|10.0.0.6"_s, Kind::Connected, u"/10.0.0.6/"_s},
            {u"CMD:P-3|10.0.0.7|STREAM:KEY:yt:a|b"_s, Kind::Command, u"P-3/10.0.0.7/STREAM:KEY:yt:a|b"_s}};
        for (const auto& [line, kind, fields] : cases) {
            const PhoneBridgeLine parsed = parsePhoneBridgeLine(line);
            QVERIFY2(parsed.kind == kind, qPrintable(line));
            QCOMPARE(parsed.id + u'/' + parsed.ip + u'/' + parsed.payload, fields);
        }
        for (const QString& line : {u"CONN:|"_s, u"CONN:P-1"_s, u"MIC:P-1|"_s, u"MIC:|AAEC"_s,
                                    u"CMD:P-3|10.0.0.7"_s, u"CMD:P-3|10.0.0.7|"_s, u"conn:P-1|1.2.3.4"_s})
            QVERIFY2(parsePhoneBridgeLine(line).kind == Kind::Ignored, qPrintable(line));
    }

    // Lines arrive in pieces; one longer than 64 KiB goes whole, whichever way it came.
    void splitterBoundsItsLines() {
        const QByteArray longLine(PhoneLineSplitter::maxLineBytes + 1, 'x');
        const QByteArray justFits(PhoneLineSplitter::maxLineBytes, 'y');
        struct Case {
            QList<QByteArray> chunks;
            QList<QByteArray> lines;
        };
        const Case cases[] = {
            {{"REA", "DY:8443\nCONN:a|b\r\n\n  \n"}, {"READY:8443", "CONN:a|b"}},
            {{longLine.left(40000), longLine.mid(40000), "\nREADY:2\n"}, {"READY:2"}},
            {{justFits.left(10), justFits.mid(10) + "\n"}, {justFits}},
        };
        for (const Case& c : cases) {
            PhoneLineSplitter splitter;
            QList<QByteArray> lines;
            for (const QByteArray& chunk : c.chunks)
                lines += splitter.feed(chunk);
            QCOMPARE(lines, c.lines);
            QVERIFY(splitter.pendingBytes() <= PhoneLineSplitter::maxLineBytes);
        }
    }

    void peersAreLabelledAndCountedWhileRecent() {
        qint64 now = 1'000'000;
        PhonePeers peers([&now] { return now; });
        QCOMPARE(peers.registerOrTouch(u" P-A "_s, u"10.0.0.5"_s), u"Phone #1"_s);
        QCOMPARE(peers.registerOrTouch({}, u"10.0.0.9"_s), u"Phone #2"_s); // known by its address
        QCOMPARE(peers.registerOrTouch({}, {}), u"Phone #1"_s);            // nothing to know it by
        QCOMPARE(peers.count(), 2);
        now += 10'000;
        QCOMPARE(peers.registerOrTouch(u"P-A"_s, u"10.0.0.6"_s), u"Phone #1"_s);
        QCOMPARE(peers.registerOrTouch(u"P-B"_s, u"10.0.0.7"_s), u"Phone #3"_s);
        now += PhonePeers::connectedWindowMs - 1; // P-A and P-B heard 24.999 s ago
        QCOMPARE(peers.recentText(), u"Phone #1 (10.0.0.6) • Phone #3 (10.0.0.7)"_s);
        peers.touch(u"P-B"_s);
        now += 1;
        QCOMPARE(peers.recent().size(), 1);
        QCOMPARE(peers.recent().first().ip, u"10.0.0.7"_s); // touched without an address
        now += PhonePeers::connectedWindowMs;
        QCOMPARE(peers.recentText(), u"1 Phone Connected"_s);

        // Made-up ids: the table forgets the silent and holds at most maxPeers.
        now += PhonePeers::forgetAfterMs;
        for (int i = 0; i < 2 * PhonePeers::maxPeers; ++i) {
            ++now;
            peers.registerOrTouch(u"X-%1"_s.arg(i), u"10.1.0.1"_s);
        }
        QCOMPARE(peers.count(), PhonePeers::maxPeers);
        QVERIFY(peers.all().contains(u"X-%1"_s.arg(2 * PhonePeers::maxPeers - 1)));
        QVERIFY(!peers.all().contains(u"X-0"_s) && !peers.all().contains(u"P-A"_s));
        QCOMPARE(peers.registerOrTouch(u"P-A"_s, {}), u"Phone #%1"_s.arg(4 + 2 * PhonePeers::maxPeers));
    }

    // At 48 kHz each sample gives the mean with the one before, then itself; the
    // last sample carries into the next packet. Other rates interpolate at their own
    // spacing, so a ramp stays a ramp with the rate's number of frames.
    void microphoneFollowsTheEngineRate() {
        PhoneMicResampler mic;
        mic.setOutputRate(48000);
        QCOMPARE(mic.convert(pcm({16384, -16384})), std::size_t(4));
        QCOMPARE(std::vector<float>(mic.frames(), mic.frames() + 8),
                 std::vector<float>({0.25f, 0.25f, 0.5f, 0.5f, 0.0f, 0.0f, -0.5f, -0.5f}));
        QCOMPARE(mic.convert(pcm({0}) + QByteArray(1, '\x7f')), std::size_t(2)); // odd byte ignored
        QCOMPARE(mic.frames()[0], -0.25f);

        for (const int rate : {44100, 96000, 22050}) {
            mic.setOutputRate(rate);
            std::size_t frames = 0;
            std::vector<float> out;
            for (int packet = 0; packet < 3; ++packet) { // a ramp of 0.1 s in three packets
                std::vector<qint16> part(800);
                for (int i = 0; i < 800; ++i)
                    part[i] = qint16(10 * (800 * packet + i));
                const std::size_t n = mic.convert(pcm(part));
                out.insert(out.end(), mic.frames(), mic.frames() + 2 * n);
                frames += n;
            }
            QVERIFY2(std::abs(double(frames) - 0.1 * rate) <= 1.0, qPrintable(QString::number(rate)));
            const double step = 10.0 / 32768 * 24000 / rate; // the ramp's rise per output frame
            for (std::size_t i = 8; i + 1 < frames; ++i)
                QVERIFY(std::abs(out[2 * i + 2] - out[2 * i] - step) < 1e-5 && out[2 * i] == out[2 * i + 1]);
        }
    }

    // Text from outside (the tunnel's output, what the user typed) before it becomes a link.
    void linksAndAddresses() {
        QCOMPARE(lanAddressFrom(u"169.254.3.4 fe80::1 192.168.1.20 10.0.0.2\n"_s), u"192.168.1.20"_s);
        const QStringList domains = {u"lhr.life"_s};
        QCOMPARE(tunnelUrlIn(u"https://lhr.life.evil.com https://xlhr.life https://a1-b.lhr.life"_s, domains),
                 u"https://a1-b.lhr.life"_s);
        const std::pair<QString, QString> hosts[] = {
            {u"  stage.example.org "_s, u"https://stage.example.org:8443"_s},
            {u"[2001:db8::1]"_s, u"https://[2001:db8::1]:8443"_s},
            {u"a.b/c?d=<script>"_s, {}},
            {u"host name"_s, {}},
        };
        for (const auto& [input, url] : hosts)
            QCOMPARE(customPublicHostUrl(input), url);
        const QString token = newPhoneAccessToken();
        QVERIFY(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(token).hasMatch() &&
                token != newPhoneAccessToken());
    }

private:
    QString m_home;
};

QTEST_GUILESS_MAIN(BroadcastPartsTest)
#include "tst_broadcast_parts.moc"
