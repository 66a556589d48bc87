// The controller's side of the phone bridge, outside programs and the bridge script stubbed
// (tst_phone_bridge.py and tst_phone_page.py run the real one).

#include "app/WorkstationController.h"
#include "broadcast/PrivateRuntimeFolder.h"
#include "support/AudioAnalysis.h"
#include "support/SfzFixtures.h"
#include "support/TestEnvironment.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQuickView>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <cmath>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

QString runtimeFile(const QString& name) {
    return qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/tembora/"_s + name;
}

// A phone's microphone packet: a sine of `hz` at 24000 Hz, from sample `first` on.
QString micPacket(int first, int count, double hz) {
    QByteArray bytes(2 * count, Qt::Uninitialized);
    for (int i = 0; i < count; ++i)
        qToLittleEndian<qint16>(qint16(12000 * std::sin(2 * M_PI * hz * (first + i) / 24000)),
                                bytes.data() + 2 * i);
    return QString::fromLatin1(bytes.toBase64());
}

QStringList callsOf(const QString& program, qsizetype skip = 0) {
    QStringList calls;
    const QList<test::StubCall> all = test::stubCalls();
    for (qsizetype i = skip; i < all.size(); ++i)
        if (all[i].arguments.value(0).endsWith(program)) calls.append(all[i].arguments.mid(1).join(u' '));
    return calls;
}

// A stand-in interpreter: records its environment's token and folders and its pid, prints
// `output`, stays or ends with `exitCode`.
void useBridgeStandIn(const QByteArray& output, int exitCode = -1) {
    const QString path = test::usePrivateHome() + u"/bridge-stand-in.sh"_s;
    const QByteArray end = exitCode < 0 ? "exec sleep 30\n" : "exit " + QByteArray::number(exitCode) + "\n";
    QVERIFY(test::writeTestFile(path, "#!/bin/sh\nprintf '%s|%s|%s' \"$TMB_PHONE_TOKEN\" "
                                      "\"$TMB_PHONE_RUNTIME_DIR\" \"$TMB_PHONE_DATA_DIR\" > \"$HOME/env\"\n"
                                      "echo $$ > \"$HOME/pid\"\nprintf '" +
                                          output + "'\n" + end));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("TEMBORA_PYTHON", path.toUtf8());
}

} // namespace

class PhoneControllerTest : public QObject {
    Q_OBJECT

    qint64 m_now = 1'700'000'000'000;

private Q_SLOTS:
    void init() {
        qputenv("TEMBORA_PYTHON", (test::usePrivateHome() + u"/stub-bin/python3"_s).toUtf8());
        test::setStubReply(u"hostname"_s, "127.0.0.1 169.254.3.4\n");
    }

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

        std::vector<float> out(2 * 512 * 24);
        for (int block = 0; block < 24; ++block)
            engine.processAudioCallback(out.data() + 2 * 512 * block, 512);
        const test::StereoSignal signal = test::deinterleave(out, rate);
        QVERIFY(std::abs(test::dominantFrequency(signal.left, rate, 200, 4000) - 1000.0) < 20.0);
        QVERIFY(std::abs(test::lastAbove(signal.left, 0.02f) - 0.2 * rate) < 0.01 * rate);

        c.handlePhoneBridgeLine(u"MIC:P-B|"_s + micPacket(0, 1200, 1000.0));
        engine.processAudioCallback(out.data(), 512);
        QCOMPARE(c.phoneState().micBlocks, 4);
        QVERIFY(
            test::peak(test::deinterleave(std::vector<float>(out.begin(), out.begin() + 1024), rate).left) <
            0.02f);
    }

    // Frames from the camera's owner only; the picture-in-picture shows them in its corner.
    void cameraFramesFromItsOwnerOnly() {
        WorkstationController c;
        c.setPhoneClock([this] { return m_now; });
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

        const QString scene = test::usePrivateHome() + u"/pip.qml"_s;
        QVERIFY(test::writeTestFile(scene, "import QtQuick\nimport \"qrc:/qml/components\"\n"
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
        const qsizetype before = test::stubCalls().size();
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
            QFile copy(script), original(test::sourceDir() + u"/src/phone/phone_bridge.py"_s);
            QVERIFY(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly) &&
                    copy.readAll() == original.readAll());
            QVERIFY(!c.phoneBridgeRunning()); // until it says READY
        }
        {
            test::setStubReply(u"hostname"_s, "127.0.0.1 169.254.3.4 10.1.2.3\n");
            useBridgeStandIn("QR_READY:x\\nREADY:8443\\n");
            WorkstationController c;
            c.startPhoneBridgeServer();
            QTRY_VERIFY(c.phoneBridgeRunning());
            QCOMPARE(c.phoneStatusText(),
                     u"Phone Hub Active • Scan QR or open https://10.1.2.3:8443 on your phone"_s);
            const QString home = test::usePrivateHome();
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
            test::setStubReply(u"adb"_s, attached ? "List of devices attached\nR58M\tdevice\n"
                                                  : "List of devices attached\n\n");
            const qsizetype before = test::stubCalls().size();
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
        test::setStubReply(u"curl"_s, "<html>rate limited</html>");
        {
            WorkstationController c;
            c.startPublicPhoneLink();
            QTRY_COMPARE_WITH_TIMEOUT(c.phonePublicIpUrl(), c.phoneBridgeUrl(), 10000);
        }
        test::setStubReply(u"curl"_s, "203.0.113.7\n");
        QFile curl(test::usePrivateHome() + u"/stub-bin/curl"_s);
        QVERIFY(curl.open(QIODevice::ReadWrite));
        const QByteArray stub = curl.readAll();
        QVERIFY(curl.seek(0) && curl.write(stub.left(stub.indexOf('\n') + 1) + "sleep 1\n" +
                                           stub.mid(stub.indexOf('\n') + 1)) > 0);
        curl.close();
        test::setStubReply(u"ssh"_s, "Connect to http://x.lhr.life or https://ab-12.lhr.life ok\n");
        test::setStubReply(u"hostname"_s, "10.1.2.3\n");
        const qsizetype before = test::stubCalls().size();
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
};

QTEST_MAIN(PhoneControllerTest)
#include "tst_phone_controller.moc"
