// A phone drives the real workstation: headless Chromium opens the link the
// workstation copies, picks a beat, nudges the tempo, pulls the piano fader down and
// sings into its (fake) microphone and films, and the controller follows; a second
// phone takes the camera over. Without the link's token the same page is refused.

#include "../app/AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTest>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

class PhoneBrowserTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome();
        useRealProgram(u"python3"_s);
        useRealProgram(u"openssl"_s);
        qputenv("TMB_PHONE_HTTPS_BIND", "127.0.0.1");
        setStubReply(u"hostname"_s, "127.0.0.1 169.254.3.4\n");
    }

    void aPhoneWithTheCopiedLinkDrivesTheWorkstation() {
        PresetWorld world(false); // the style catalogue
        WorkstationController controller;
        controller.audioEngine().prepareOffline(48000, 256);
        controller.initDrumKits();
        controller.initBundledAndSavedStyBeats();
        BackendThread backend(controller.audioEngine(), std::chrono::milliseconds(5), false);
        controller.startPhoneBridgeServer();
        QTRY_VERIFY_WITH_TIMEOUT(controller.property("phoneBridgeRunning").toBool(), 60000);
        controller.copyPhoneBridgeUrl();
        const QString link = QGuiApplication::clipboard()->text();
        QVERIFY2(link.startsWith(u"https://127.0.0.1:8443/?k="_s), qPrintable(link));

        // Without the token, or with another one, nothing is served.
        QNetworkAccessManager network;
        for (const QString& url :
             {u"http://127.0.0.1:8088/"_s, u"http://127.0.0.1:8088/?k=0123456789abcdef0123456789abcdef"_s}) {
            std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(QUrl(url))));
            QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);
        }

        QProcess phone;
        phone.start(u"/usr/bin/python3"_s, {sourceDir() + u"/tests/phone/drive_phone_page.py"_s, link});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += phone.readAllStandardOutput()).contains("DRIVEN"), 120000);
        // The taps reach the controller after "DRIVEN" (slowly under sanitizers): wait for them.
        constexpr int tapsArrive = 90000;
        QTRY_COMPARE_WITH_TIMEOUT(controller.property("arrangerStyleName").toString(),
                                  u"Jazz Swing Quartet"_s, tapsArrive);
        QTRY_COMPARE_WITH_TIMEOUT(controller.property("bpm").toFloat(), 133.0f,
                                  tapsArrive); // style 31 at 128, then +5
        QTRY_COMPARE_WITH_TIMEOUT(controller.property("pianoVolume").toFloat(), 0.30f, tapsArrive);
        QTRY_VERIFY_WITH_TIMEOUT(controller.property("phoneMicActive").toBool(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(controller.property("micLevel").toFloat() > 0.01f, 30000);

        // Its fake camera's JPEGs change the frame URL; a second phone takes the camera over.
        const QString first = QString::fromLatin1(said.mid(said.indexOf("DRIVEN ") + 7).split('\n').first());
        QTRY_COMPARE_WITH_TIMEOUT(controller.phoneState().activeCamPhoneId, first, 30000);
        const QString frameUrl = controller.phoneCameraFrameUrl();
        QTRY_VERIFY_WITH_TIMEOUT(controller.phoneCameraFrameUrl() != frameUrl, tapsArrive);
        phone.write("\n");
        QTRY_VERIFY_WITH_TIMEOUT((said += phone.readAllStandardOutput()).contains("SECOND "), 120000);
        const QString second = QString::fromLatin1(said.mid(said.indexOf("SECOND ") + 7).split('\n').first());
        QVERIFY(!second.isEmpty() && second != first);
        QTRY_COMPARE_WITH_TIMEOUT(controller.phoneState().activeCamPhoneId, second, 30000);
        const qint64 frames = controller.phoneState().cameraFrames;
        QTRY_VERIFY_WITH_TIMEOUT(controller.phoneState().cameraFrames > frames + 3, tapsArrive);
        QVERIFY(controller.phoneCamActive());
        phone.closeWriteChannel();
        QVERIFY(phone.waitForFinished(30000));
    }
};

QTEST_MAIN(PhoneBrowserTest)
#include "tst_phone_browser.moc"
