// A tone into a virtual source of the private PipeWire session (with pipewire-pulse) reaches
// the Mic meter, the take, and the speakers only while monitoring, at 0.75 of the level.

#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/SfzFixtures.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

int run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(15000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode()
                                                                                          : -1;
}

QString outputPorts() {
    QProcess list;
    list.start(u"pw-link"_s, {u"-o"_s});
    list.waitForFinished(5000);
    return QString::fromUtf8(list.readAllStandardOutput());
}

// The peak of what the null sink plays for about 2.5 s. Peaks, not the tone's
// mean amplitude: a loaded machine may drop capture blocks.
double speakerTone(const QString& wav) {
    QFile::remove(wav);
    QProcess record;
    record.start(u"pw-record"_s,
                 {u"--target"_s, u"test_null"_s, u"-P"_s, u"{ stream.capture.sink=true }"_s, wav});
    QTest::qWait(2500);
    record.terminate();
    record.waitForFinished(5000);
    StereoSignal signal;
    if (!readWav(wav, &signal) || signal.left.size() < 12000) return -1.0;
    return peak(signal.left, signal.left.size() / 3);
}

} // namespace

class MicrophoneLoopbackTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        usePrivateHome(true);
        m_haveSession = usePipeWireSession(&m_reason);
        if (m_haveSession && !QFile::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + u"/pulse/native"_s)) {
            m_haveSession = false;
            m_reason = u"pipewire-pulse does not run in the private session (pw_session_start --pulse)"_s;
        }
        useRealProgram(u"pactl"_s);
        useRealProgram(u"wpctl"_s);
    }

    void toneReachesMeterRecordingAndMonitoredSpeakers() {
        if (!m_haveSession) QSKIP(qPrintable(m_reason));
        QCOMPARE(run(u"pw-cli"_s,
                     {u"create-node"_s, u"adapter"_s,
                      u"{ factory.name=support.null-audio-sink node.name=test_mic "
                      "media.class=Audio/Source/Virtual object.linger=true audio.position=[FL FR] }"_s}),
                 0);
        const QString tone = m_folder.filePath(u"tone.wav"_s); // 600 Hz, 40 s
        QVERIFY(writeTestWav(tone, {.frequency = 600.0, .amplitude = 0.275, .seconds = 40.0, .channels = 2}));
        QProcess player;
        player.setProcessChannelMode(QProcess::ForwardedChannels);
        player.start(u"pw-play"_s, {u"--target"_s, u"0"_s, u"-P"_s, u"{ node.name=tone_src }"_s, tone});
        QTRY_VERIFY_WITH_TIMEOUT(outputPorts().contains(u"tone_src:output_FR"_s), 15000);
        QTest::qWait(500); // linked before its format is settled, the stream drops the link
        QCOMPARE(run(u"pw-link"_s, {u"tone_src:output_FL"_s, u"test_mic:input_FL"_s}), 0);
        QCOMPARE(run(u"pw-link"_s, {u"tone_src:output_FR"_s, u"test_mic:input_FR"_s}), 0);

        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        QVERIFY(engine.start(48000, 256));
        QVERIFY(c.selectAudioInputDevice(u"test_mic"_s));
        const QVariantList inputs = c.audioInputs(); // as the real pactl lists them
        QVERIFY(std::any_of(inputs.cbegin(), inputs.cend(), [](const QVariant& entry) {
            return entry.toMap().value(u"id"_s) == u"test_mic"_s &&
                   entry.toMap().value(u"isDefault"_s).toBool();
        }));
        c.setMicEnabled(true);
        QTRY_VERIFY_WITH_TIMEOUT(engine.channelPeakL(MixerChannelId::Mic) > 0.1f, 5000);

        // The capture stream targets the chosen source.
        QProcess dump;
        dump.start(u"pw-dump"_s, QStringList());
        QVERIFY(dump.waitForFinished(10000));
        QString target;
        for (const QJsonValue& object : QJsonDocument::fromJson(dump.readAllStandardOutput()).array()) {
            const QJsonObject props = object[u"info"_s][u"props"_s].toObject();
            if (props[u"node.name"_s].toString() == u"tembora_mic"_s)
                target = props[u"target.object"_s].toString();
        }
        QCOMPARE(target, u"test_mic"_s);

        const double quiet = speakerTone(m_folder.filePath(u"off.wav"_s));
        c.startStudioRecord();
        QTest::qWait(3000);
        c.stopStudioTransport();
        StereoSignal program;
        QVERIFY(readWav(c.property("lastRecordedWavPath").toString(), &program));
        const double recorded = peak(program.right, program.right.size() / 3);
        c.setMicMonitorEnabled(true);
        const double monitored = speakerTone(m_folder.filePath(u"on.wav"_s));
        engine.stop();
        player.kill();
        player.waitForFinished(5000);
        qInfo("tone: recorded %.4f, speakers %.4f off, %.4f monitored", recorded, quiet, monitored);
        QVERIFY(recorded > 0.1);
        QVERIFY(quiet >= 0.0 && quiet < 0.01 * recorded);
        QVERIFY(std::abs(monitored / recorded - 0.75) < 0.08);
    }

private:
    QTemporaryDir m_folder;
    bool m_haveSession = false;
    QString m_reason;
};

QTEST_MAIN(MicrophoneLoopbackTest)
#include "tst_microphone_loopback.moc"
