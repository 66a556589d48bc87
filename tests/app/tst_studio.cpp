// The studio through the controller: the take and its WAV, playback endings.

#include "app/WorkstationController.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

class StudioTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_home = usePrivateHome(); }

    void transportSavesTheTakeIntoTheMusicFolder_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("block");
        QTest::newRow("48 kHz / 256") << 48000 << 256;
        QTest::newRow("44.1 kHz / 64") << 44100 << 64;
        QTest::newRow("96 kHz / 1024") << 96000 << 1024;
    }
    void transportSavesTheTakeIntoTheMusicFolder() {
        QFETCH(int, rate);
        QFETCH(int, block);
        QDir music(m_home + u"/Music"_s);
        music.removeRecursively();
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        engine.prepareOffline(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(block));
        QSignalSpy studio(&c, &WorkstationController::studioStateChanged);
        c.stopStudioTransport();
        QCOMPARE(c.statusBanner(), u"Stopped • 0 MIDI notes recorded"_s);
        c.startStudioRecord();
        QCOMPARE(c.statusBanner(), u"RECORDING AUDIO (.WAV) + MIDI"_s);
        QVERIFY(c.property("studioRecording").toBool());
        QCOMPARE(studio.count(), 2);
        c.playTestTone();
        c.noteOn(60, 90);
        renderBlocks(engine, static_cast<std::uint64_t>(rate), static_cast<std::uint32_t>(block));
        c.noteOff(60);
        c.noteOn(64, 70); // still held when the take ends
        renderBlocks(engine, static_cast<std::uint64_t>(rate) / 2, static_cast<std::uint32_t>(block));
        c.stopStudioTransport();

        QVERIFY(!c.property("studioRecording").toBool());
        const QStringList saved = music.entryList({u"*.wav"_s});
        QCOMPARE(saved.size(), 1);
        QVERIFY(
            QRegularExpression(u"^Sandorik_Studio_Rec_\\d{8}_\\d{6}\\.wav$"_s).match(saved[0]).hasMatch());
        const QString path = music.filePath(saved[0]);
        QCOMPARE(c.property("lastRecordedWavPath").toString(), path);
        QCOMPARE(c.statusBanner(), u"SAVED RECORDING: %1 (2 MIDI notes)"_s.arg(path));
        StereoSignal wav;
        QVERIFY(readWav(path, &wav));
        QCOMPARE(wav.sampleRate, static_cast<double>(rate));
        // The whole take: one and a half seconds, in whole blocks.
        QVERIFY(qAbs(static_cast<double>(wav.left.size()) - 1.5 * rate) <= block);
        QVERIFY(peak(wav.left) > 0.05f);
        const QVariantList waveform = c.property("audioWaveform").toList();
        QVERIFY(waveform.size() == 100 && waveform.first().toFloat() > 0.05f);

        c.toggleStudioPlayPause();
        QVERIFY(c.property("studioPlaying").toBool());
        c.stopStudioTransport(); // playback only: no new file
        QCOMPARE(c.statusBanner(), u"Stopped • 2 MIDI notes recorded"_s);
        QCOMPARE(music.entryList({u"*.wav"_s}).size(), 1);
    }

    // An organ holds its notes until their note-offs: after each interruption, silence.
    void playbackLeavesNothingSounding_data() {
        QTest::addColumn<QString>("interruption");
        for (const char* row : {"pause", "stop", "loop wrap", "edit"})
            QTest::newRow(row) << QString::fromLatin1(row);
    }
    void playbackLeavesNothingSounding() {
        QFETCH(QString, interruption);
        WorkstationController c;
        AudioEngine& engine = c.audioEngine();
        engine.prepareOffline(44100, 128);
        engine.effects.setEnabled(false);
        engine.setSlotEngineType(0, SoundEngineType::SoundFont);
        QVERIFY(engine.fluidSynth.selectProgram(0, u"/usr/share/sounds/sf2/TimGM6mb.sf2"_s, 0, 16));
        const bool loop = interruption == u"loop wrap"_s;
        const double start = loop ? 15.2 : 0.5; // the loop runs over beats 0-16
        c.addPianoRollNote(60, start, 8);
        c.addPianoRollNote(67, start + 0.25, 8);
        c.setStudioLoopEnabled(loop);
        if (loop) engine.midiRecorder.seekPlayhead(15);
        c.toggleStudioPlayPause();
        const StereoSignal before = renderBlocks(engine, 44100, 128); // two beats at 120
        // Sounding before the interruption (for the loop: before the wrap at 0.5 s).
        QVERIFY(loop ? rms(before.left, 10000, 20000) > 0.01f : rms(before.left, 30000) > 0.01f);
        if (interruption == u"pause"_s) c.toggleStudioPlayPause();
        if (interruption == u"stop"_s) c.stopStudioTransport();
        if (interruption == u"edit"_s) c.transposeRecordedNotes(3);
        const StereoSignal after = renderBlocks(engine, 2 * 44100, 128);
        QVERIFY2(rms(after.left, 66150) < 1e-4f, qPrintable(QString::number(rms(after.left, 66150))));
    }

private:
    QString m_home;
};

QTEST_MAIN(StudioTest)
#include "tst_studio.moc"
