// Device lists from recorded wpctl and pactl listings (stubs), the input selection's pactl calls,
// the capture chunk checks, the microphone conditioning and switch.

#include "audio/AudioEngine.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <fcntl.h>
#include <numbers>
#include <sys/stat.h>
#include <unistd.h>

using namespace tmb;
using namespace tmb::test;

namespace {

const QByteArray wpctlStatus = R"(PipeWire 'pipewire-0' [0.3.65, root@host, cookie:1]
Audio
 ├─ Devices:
 │      42. Built-in Audio                      [alsa]
 ├─ Sinks:
 │      48. Built-in Audio Analog Stereo        [vol: 0.40]
 │  *   50. WH-1000XM4 Headset                  [vol: 1.00]
 │      51. Kitchen Bluetooth Speaker           [vol: 1.00]
 ├─ Sources:
 │  *   49. Built-in Audio Analog Stereo        [vol: 1.00]
 │      52. Monitor of Built-in                 [vol: 1.00]
 ├─ Filters:
 │      60. Echo-Cancel Sink                    [vol: 1.00]
 └─ Streams:
        70. Firefox
Video
 ├─ Sources:
 │      80. Webcam                              [v4l2]
)";

const QByteArray pactlSources = R"(Source #49
	State: SUSPENDED
	Name: alsa_output.pci-0000_00_1f.3.analog-stereo.monitor
	Description: Monitor of Built-in Audio Analog Stereo
Source #53
	Name: alsa_input.usb-Shure_MV7-00.mono-fallback
	Description: Shure MV7
Source #54
	Name: bluez_input.AA_BB
	Description: Bluetooth Headset Mic
Source #55
	Name: virtual_nameless
)";

// Replaces the stub of `tool` by `script` (sh), returning the stub's text.
QByteArray replaceStub(const QString& tool, const QByteArray& script) {
    QFile stub(usePrivateHome() + "/stub-bin/" + tool);
    QByteArray old;
    if (stub.open(QIODevice::ReadOnly)) old = stub.readAll();
    stub.close();
    if (stub.open(QIODevice::WriteOnly | QIODevice::Truncate)) stub.write(script);
    return old;
}

QStringList ids(const QVariantList& list) {
    QStringList out;
    for (const QVariant& e : list)
        out << e.toMap().value("id").toString();
    return out;
}

QStringList ids(const QList<AudioDeviceEntry>& list) {
    QStringList out;
    for (const AudioDeviceEntry& e : list)
        out << e.id + (e.isDefault ? "*" : "") + (e.isBluetooth ? "~" : "");
    return out;
}

// Interleaved stereo sine: amplitude `left` on the left, `right` on the right.
std::vector<float> stereoSine(float left, float right, std::size_t frames, double hz = 1000.0) {
    std::vector<float> out(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto s = static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * double(i) / 48000.0));
        out[2 * i] = left * s;
        out[2 * i + 1] = right * s;
    }
    return out;
}

float micPeakAfterBlock(AudioEngine& engine) {
    std::vector<float> out(2 * 1024);
    engine.processAudioCallback(out.data(), 1024);
    return engine.channelPeakL(MixerChannelId::Mic) + engine.channelPeakR(MixerChannelId::Mic);
}

} // namespace

class AudioDevicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { usePrivateHome(); }

    void outputsFromWpctl_data() {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("warning");
        QTest::newRow("headset is the default")
            << wpctlStatus << 0 << QStringList{"default*", "48", "50*~", "51~", "alsa:default"} << true;
        QByteArray speakerDefault = wpctlStatus;
        speakerDefault.replace("│      48.", "│  *   48.").replace("│  *   50.", "│      50.");
        QTest::newRow("a Bluetooth sink, not the default")
            << speakerDefault << 0 << QStringList{"default*", "48*", "50~", "51~", "alsa:default"} << false;
        QTest::newRow("no wpctl") << QByteArray() << 127 << QStringList{"default*", "alsa:default"} << false;
    }
    void outputsFromWpctl() {
        QFETCH(QByteArray, status);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QFETCH(bool, warning);
        setStubReply("wpctl", status, exitCode);
        AudioEngine engine;
        engine.bluetoothAudioWarning = !warning;
        QCOMPARE(ids(engine.enumerateAudioOutputs()), expected);
        QCOMPARE(engine.bluetoothAudioWarning, warning);
        if (warning) QCOMPARE(engine.outputDeviceLabel, QStringLiteral("WH-1000XM4 Headset (PipeWire)"));
    }

    void inputsFromPactlOrWpctl() {
        setStubReply("wpctl", wpctlStatus);
        setStubReply("pactl", pactlSources);
        AudioEngine engine;
        const QList<AudioDeviceEntry> inputs = engine.enumerateAudioInputs();
        QCOMPARE(ids(inputs), (QStringList{"default", "alsa_input.usb-Shure_MV7-00.mono-fallback*",
                                           "bluez_input.AA_BB~", "virtual_nameless", "phone_wireless_mic"}));
        QCOMPARE(inputs[3].name, QStringLiteral("virtual_nameless"));
        QCOMPARE(engine.inputDeviceLabel, QStringLiteral("Shure MV7"));
        engine.inputDeviceId = QStringLiteral("bluez_input.AA_BB");
        engine.enumerateAudioInputs();
        QCOMPARE(engine.inputDeviceLabel, QStringLiteral("Bluetooth Headset Mic"));
        engine.inputDeviceId = QStringLiteral("phone_wireless_mic");
        const QVariantList shown = engine.audioInputsAsVariantList();
        QVERIFY(shown.last().toMap().value("isDefault").toBool() &&
                !shown[2].toMap().value("isDefault").toBool());

        setStubReply("pactl", "", 1); // no pactl sources: wpctl's, monitors and video left out
        engine.inputDeviceId = QStringLiteral("default");
        QCOMPARE(ids(engine.enumerateAudioInputs()), (QStringList{"default", "49*", "phone_wireless_mic"}));
        QCOMPARE(engine.inputDeviceLabel, QStringLiteral("Built-in Audio Analog Stereo"));
    }

    // A slow wpctl: the lists, labels and warning arrive when it answers, from the
    // event loop (only a free loop runs the timer that lets it answer).
    void slowListingArrivesLater() {
        const QString fifo = usePrivateHome() + "/wpctl.fifo";
        setStubReply("pactl", pactlSources);
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
        const QByteArray stub = replaceStub("wpctl", "#!/bin/sh\nexec cat " + fifo.toUtf8() + "\n");
        AudioEngine engine;
        bool listed = false;
        engine.listDevicesInBackground([&] { listed = true; });
        QTimer::singleShot(300, [&] {
            const int fd = ::open(qPrintable(fifo), O_WRONLY);
            QVERIFY(fd >= 0 && ::write(fd, wpctlStatus.data(), wpctlStatus.size()) == wpctlStatus.size());
            ::close(fd);
        });
        QVERIFY(!listed && engine.audioOutputsAsVariantList().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(listed, 1100);
        QFile::remove(fifo);
        replaceStub("wpctl", stub);
        QCOMPARE(ids(engine.audioOutputsAsVariantList()),
                 (QStringList{"default", "48", "50", "51", "alsa:default"}));
        QCOMPARE(engine.outputDeviceLabel, QStringLiteral("WH-1000XM4 Headset (PipeWire)"));
        QCOMPARE(engine.audioInputsAsVariantList().size(), 5);

        // Hung tools: killed, they list nothing; a newer listing supersedes the older
        // (answered once).
        const QByteArray stubs[2] = {replaceStub("wpctl", "#!/bin/sh\nexec sleep 30\n"),
                                     replaceStub("pactl", "#!/bin/sh\nexec sleep 30\n")};
        int count = 0;
        engine.listDevicesInBackground([&] { count += 10; });
        engine.listDevicesInBackground([&] { ++count; });
        QTRY_COMPARE_WITH_TIMEOUT(count, 1, 2500);
        QTest::qWait(300);
        replaceStub("wpctl", stubs[0]);
        replaceStub("pactl", stubs[1]);
        QCOMPARE(count, 1);
        QCOMPARE(ids(engine.audioOutputsAsVariantList()), (QStringList{"default", "alsa:default"}));
        QCOMPARE(ids(engine.audioInputsAsVariantList()), (QStringList{"default", "phone_wireless_mic"}));
    }

    void selectingAnInputRunsPactl_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("calls");
        const QString usb = "alsa_input.usb-Shure_MV7-00.mono-fallback";
        QTest::newRow("a source") << " " + usb + " " << usb
                                  << QStringList{"pactl set-default-source " + usb,
                                                 "pactl set-source-mute " + usb + " 0",
                                                 "pactl set-source-volume " + usb + " 75%"};
        QTest::newRow("phone") << "phone_wireless_mic"
                               << "phone_wireless_mic" << QStringList{};
        QTest::newRow("empty is default") << "  "
                                          << "default" << QStringList{};
    }
    void selectingAnInputRunsPactl() {
        QFETCH(QString, chosen);
        QFETCH(QString, stored);
        QFETCH(QStringList, calls);
        setStubReply("pactl", pactlSources);
        AudioEngine engine;
        const qsizetype before = stubCalls().size();
        QVERIFY(engine.setAudioInputDevice(chosen));
        QCOMPARE(engine.inputDeviceId, stored);
        QStringList run;
        for (const StubCall& call : stubCalls().mid(before))
            if (call.arguments.value(1) != "list") run << call.arguments.join(' ');
        QCOMPARE(run, calls);
        if (stored.startsWith("alsa")) QCOMPARE(engine.inputDeviceLabel, QStringLiteral("Shure MV7"));
    }

    // Only whole, in-bounds chunks reach the ring; mono is widened to both sides;
    // nothing is taken while the phone is the microphone.
    void captureChunks_data() {
        QTest::addColumn<quint32>("offset");
        QTest::addColumn<quint32>("size");
        QTest::addColumn<int>("stride");
        QTest::addColumn<bool>("phone");
        QTest::addColumn<double>("leftOverRight"); // 0: nothing arrives
        QTest::newRow("stereo") << 0u << 8192u << 8 << false << 3.0;
        QTest::newRow("stereo at an offset") << 64u << 8192u << 8 << false << 3.0;
        QTest::newRow("mono") << 0u << 4096u << 4 << false << 1.0;
        QTest::newRow("past the plane") << 64u << 16384u << 8 << false << 0.0;
        QTest::newRow("offset outside") << 16384u << 8u << 8 << false << 0.0;
        QTest::newRow("empty") << 0u << 0u << 8 << false << 0.0;
        QTest::newRow("phone selected") << 0u << 8192u << 8 << true << 0.0;
    }
    void captureChunks() {
        QFETCH(quint32, offset);
        QFETCH(quint32, size);
        QFETCH(int, stride);
        QFETCH(bool, phone);
        QFETCH(double, leftOverRight);
        std::vector<float> plane = stereoSine(0.3f, 0.1f, 2048); // 16384 bytes
        if (stride == 4) {
            const std::vector<float> both = stereoSine(0.3f, 0.3f, 2048);
            for (std::size_t i = 0; i < 2048; ++i)
                plane[i] = both[2 * i];
            plane[7] = NAN; // widened as silence
        }
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        engine.setMicEnabled(true);
        setStubReply("pactl", "");
        if (phone) engine.setAudioInputDevice("phone_wireless_mic");
        engine.handleCaptureChunk(plane.data(), 16384, offset, size, stride);
        std::vector<float> out(2 * 512);
        engine.processAudioCallback(out.data(), 512);
        const float left = engine.channelPeakL(MixerChannelId::Mic),
                    right = engine.channelPeakR(MixerChannelId::Mic);
        QVERIFY2(leftOverRight == 0.0
                     ? left + right == 0.0f
                     : std::isfinite(left) && std::fabs(left / right - leftOverRight) < 0.1 * leftOverRight,
                 qPrintable(QString("%1 %2").arg(left).arg(right)));
    }

    // The gate opens within a few hundred samples and closes over thousands; a
    // quiet level keeps it near level / 0.0085 x 0.12; DC decays; the limiter holds.
    void conditioning() {
        MicConditioner mic;
        std::vector<float> loud = stereoSine(0.3f, 0.2f, 300), out(2 * 48000);
        mic.process(loud.data(), out.data(), 300);
        QVERIFY2(mic.gateGain() > 0.95f, qPrintable(QString::number(mic.gateGain())));
        const float open = mic.gateGain();
        std::vector<float> silence(2 * 300, 0.0f);
        mic.process(silence.data(), out.data(), 300);
        QVERIFY(std::fabs(mic.gateGain() - open * std::pow(0.998f, 300.0f)) < 0.03f);

        MicConditioner quiet;
        std::vector<float> whisper = stereoSine(0.004f, 0.001f, 48000);
        quiet.process(whisper.data(), out.data(), 48000);
        const float settled = quiet.gateGain();
        QVERIFY2(settled > 0.01f && settled < 0.004f / 0.0085f * 0.12f + 1e-4f,
                 qPrintable(QString::number(settled)));

        MicConditioner dc;
        std::vector<float> offset(2 * 48000, 0.5f);
        offset[2 * 10] = NAN;
        offset[2 * 11 + 1] = INFINITY;
        dc.process(offset.data(), out.data(), 48000);
        QVERIFY(std::isfinite(peak(out)) && peak(out) > 0.05f);
        QVERIFY(peak(out, 2 * 47000) < 1e-3f);

        MicConditioner limit;
        std::vector<float> hot = stereoSine(1.0f, -1.0f, 4800);
        limit.process(hot.data(), out.data(), 4800);
        QCOMPARE(peak(out, 0, 2 * 4800), 0.95f);
    }

    void microphoneSwitch() {
        AudioEngine engine;
        engine.prepareOffline(48000, 256);
        engine.setChannelMuted(MixerChannelId::Mic, true);
        engine.setChannelVolume(MixerChannelId::Mic, 0.05f);
        std::vector<float> tone = stereoSine(0.3f, 0.3f, 1024);
        engine.pushMicSamples(tone.data(), 1024); // off: nothing is taken
        engine.setMicEnabled(true);
        QVERIFY(!engine.isChannelMuted(MixerChannelId::Mic));
        QCOMPARE(engine.channelVolume(MixerChannelId::Mic), 0.85f);
        QCOMPARE(micPeakAfterBlock(engine), 0.0f);
        engine.setChannelVolume(MixerChannelId::Mic, 0.5f);
        engine.setMicEnabled(true);
        QCOMPARE(engine.channelVolume(MixerChannelId::Mic), 0.5f);

        // Off drops what waits and zeroes the meter.
        engine.pushMicSamples(tone.data(), 1024);
        engine.setMicEnabled(false);
        QCOMPARE(engine.channelPeakL(MixerChannelId::Mic), 0.0f);
        QCOMPARE(micPeakAfterBlock(engine), 0.0f);
        engine.setMicEnabled(true);
        QCOMPARE(micPeakAfterBlock(engine), 0.0f);
    }
};

QTEST_GUILESS_MAIN(AudioDevicesTest)
#include "tst_audio_devices.moc"
