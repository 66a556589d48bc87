// tembora-render as a General MIDI player (--sf2) and with the master effects
// switched (--fx), run as a user runs it.

#include "../midi/SmfBytes.h"
#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace tmb::test;

namespace {

const QString timidityFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
const QString fluidFont = QStringLiteral("/usr/share/sounds/sf2/FluidR3_GM.sf2");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runRender(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TMB_RENDER_EXE), arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// At 120 BPM and 480 ticks a beat, 960 ticks a second. Channel 1 switches to the
// flute and holds A4 for a second; channel 2 asks for a variation bank the font
// lacks (falling back to its piano) and plays A3; channel 10 plays a kick and a
// snare at 1.5 and 2.0 s; the file ends at 2.5 s.
QByteArray generalMidiSong() {
    const QByteArray events =
        midiMessage(0, 0xC0, 73) + midiMessage(0, 0xB1, 0, 8) + midiMessage(0, 0xC1, 0) +
        midiMessage(0, 0x90, 69, 100) + midiMessage(0, 0x91, 57, 90) + midiMessage(960, 0x80, 69, 0) +
        midiMessage(0, 0x81, 57, 0) + midiMessage(480, 0x99, 36, 120) + midiMessage(240, 0x89, 36, 0) +
        midiMessage(240, 0x99, 38, 120) + midiMessage(240, 0x89, 38, 0) + endOfTrack(240);
    return header(0, 1, 480) + track(events);
}

std::size_t at(double seconds) {
    return static_cast<std::size_t>(seconds * 48000.0);
}

} // namespace

class TemboraRenderGeneralMidiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!QFile::exists(timidityFont)) QSKIP("timgm6mb-soundfont is not installed");
    }

    void playsEveryChannelThroughTheSoundFont() {
        QTemporaryDir dir;
        const QString midi = dir.filePath(QStringLiteral("gm.mid"));
        const QString wav = dir.filePath(QStringLiteral("gm.wav"));
        QVERIFY(writeFile(midi, generalMidiSong()));
        const Run run = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--sf2"), timidityFont,
                                   QStringLiteral("--fx"), QStringLiteral("off"), QStringLiteral("--tail"),
                                   QStringLiteral("1")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.out.startsWith(QLatin1String("Rendered 3.500 s of audio")));
        StereoSignal s;
        QVERIFY(readWav(wav, &s));
        QCOMPARE(s.left.size(), at(3.5));
        // The flute's A4 and the piano's A3 from the file's own program changes.
        QVERIFY(std::fabs(dominantFrequency(s.left, 48000, 300, 600, at(0.2), at(0.9)) - 440.0) < 4.4);
        QVERIFY(std::fabs(dominantFrequency(s.left, 48000, 100, 300, at(0.2), at(0.9)) - 220.0) < 2.2);
        QVERIFY(toneAmplitude(s.left, 48000, 220.0, at(0.2), at(0.9)) > 0.002);
        // Only the drums sound after the notes have died away, from 1.5 s on.
        const float before = rms(s.left, at(1.3), at(1.5));
        const float kick = rms(s.left, at(1.5), at(1.6));
        QVERIFY2(kick > 0.02f && kick > 5.0f * before,
                 qPrintable(QStringLiteral("%1 %2").arg(kick).arg(before)));
        QVERIFY(rms(s.left, at(2.0), at(2.1)) > 0.02f);
    }

    void effectsSwitchOnAndOff() {
        QTemporaryDir dir;
        const QString midi = dir.filePath(QStringLiteral("gm.mid"));
        QVERIFY(writeFile(midi, generalMidiSong()));
        StereoSignal dry;
        StereoSignal wet;
        for (auto [fx, signal] : {std::pair{"off", &dry}, std::pair{"on", &wet}}) {
            const QString wav = dir.filePath(QStringLiteral("%1.wav").arg(QLatin1String(fx)));
            const Run run = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--sf2"), timidityFont,
                                       QStringLiteral("--fx"), QLatin1String(fx)});
            QVERIFY2(run.exitCode == 0, qPrintable(run.err));
            QVERIFY(readWav(wav, signal));
        }
        QCOMPARE(wet.left.size(), dry.left.size());
        // The lift and the reverb: louder while playing, and a tail after the snare.
        QVERIFY(rms(wet.left, at(0.2), at(0.9)) > 1.1f * rms(dry.left, at(0.2), at(0.9)));
        const float dryTail = rms(dry.left, at(3.0), at(3.5));
        const float wetTail = rms(wet.left, at(3.0), at(3.5));
        QVERIFY2(wetTail > 1e-4f && wetTail > 10.0f * dryTail,
                 qPrintable(QStringLiteral("%1 %2").arg(wetTail).arg(dryTail)));
        // The soft clip keeps every sample inside full scale.
        QVERIFY(peak(wet.left) < 1.0f && peak(wet.right) < 1.0f);
    }

    void refusesBadSoundFontsAndSwitches() {
        QTemporaryDir dir;
        const QString midi = dir.filePath(QStringLiteral("gm.mid"));
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        QVERIFY(writeFile(midi, generalMidiSong()));
        const QString junk = dir.filePath(QStringLiteral("junk.sf2"));
        QVERIFY(writeFile(junk, QByteArray("RIFF\x04\x00\x00\x00sfbk") + QByteArray(100, '\0')));

        const Run missing = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--sf2"),
                                       dir.filePath(QStringLiteral("none.sf2"))});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(missing.err.contains(QLatin1String("does not exist")));
        const Run notAFont = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--sf2"), junk});
        QCOMPARE(notAFont.exitCode, 2);
        QVERIFY(notAFont.err.contains(QLatin1String("not a SoundFont")));
        const Run badSwitch =
            runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--fx"), QStringLiteral("1")});
        QCOMPARE(badSwitch.exitCode, 2);
        QVERIFY(badSwitch.err.contains(QLatin1String("--fx must be on or off")));
        QVERIFY(!QFile::exists(wav)); // nothing written on refusal

        const Run help = runRender({QStringLiteral("--help")});
        QVERIFY(help.out.contains(QLatin1String("--sf2 <file>")) &&
                help.out.contains(QLatin1String("--fx <on|off>")));
    }

    void rendersTheBenchmarkSongWithTheGeneralMidiFont() {
        if (!QFile::exists(fluidFont)) QSKIP("fluid-soundfont-gm is not installed");
        QTemporaryDir dir;
        const QString midi = dir.filePath(QStringLiteral("song.mid"));
        const QString wav = dir.filePath(QStringLiteral("song.wav"));
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {sourceDir() + QStringLiteral("/bench/gm_song.py"), midi, QStringLiteral("8")});
        QVERIFY2(python.waitForFinished(60000) && python.exitCode() == 0,
                 python.readAllStandardError().constData());
        const Run run = runRender({midi, QStringLiteral("-o"), wav, QStringLiteral("--sf2"), fluidFont});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        StereoSignal s;
        QVERIFY(readWav(wav, &s));
        // Chords, melody, bass and drums all through: a full, never clipping mix
        // (16-bit output: full scale reads 32767/32768).
        QVERIFY(rms(s.left, at(1.0), at(7.0)) > 0.05f);
        QVERIFY(peak(s.left) < 1.0f && peak(s.right) < 1.0f);
        // The bass line's C2 (65.4 Hz) and the kick.
        QVERIFY(toneAmplitude(s.left, 48000, 65.41, at(0.0), at(0.45)) > 0.005);
    }
};

QTEST_GUILESS_MAIN(TemboraRenderGeneralMidiTest)
#include "tst_tembora_render_gm.moc"
