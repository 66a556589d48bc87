// The General MIDI module behind `tembora-render --sf2`: program and bank changes
// from the messages, channel 10 on the drum kits, controllers, bend and reset.

#include "engines/FluidSynthEngine.h"
#include "engines/GeneralMidiPlayer.h"
#include "support/AudioAnalysis.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace tmb;
using test::StereoSignal;

namespace {

const QString font = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

enum class Part { Melodic, Drums };

StereoSignal render(FluidSynthEngine& engine, double seconds, Part part = Part::Melodic) {
    StereoSignal out;
    out.sampleRate = engine.sampleRate();
    const auto frames = static_cast<std::size_t>(seconds * out.sampleRate);
    out.left.assign(frames, 0.0f);
    out.right.assign(frames, 0.0f);
    for (std::size_t done = 0; done < frames; done += 256) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(256, frames - done));
        if (part == Part::Melodic)
            engine.renderBlock(out.left.data() + done, out.right.data() + done, n);
        else
            engine.renderDrumBlock(out.left.data() + done, out.right.data() + done, n);
    }
    return out;
}

MidiEvent programChange(int channel, int program) {
    MidiEvent e;
    e.status = MidiEvent::ProgramChange;
    e.channel = static_cast<std::uint8_t>(channel);
    e.data1 = static_cast<std::uint8_t>(program);
    return e;
}

// Level still present 1.5-2 s into a held note against its first half second:
// sustained instruments (flute) keep it, struck ones (piano, kit) lose it.
float sustainRatio(const StereoSignal& s) {
    const auto rate = static_cast<std::size_t>(s.sampleRate);
    return test::rms(s.left, 3 * rate / 2, 2 * rate) /
           std::max(test::rms(s.left, rate / 10, rate / 2), 1e-9f);
}

} // namespace

class GeneralMidiPlayerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!QFile::exists(font)) QSKIP("timgm6mb-soundfont is not installed");
    }

    void startsWithPianoAndTheStandardKit() {
        FluidSynthEngine engine;
        GeneralMidiPlayer player(engine);
        QString error;
        QVERIFY(player.loadFont(font, &error));
        // Every melodic channel has piano: A4 at 440 Hz, decaying.
        for (int channel : {0, 5, 15}) {
            player.handle(MidiEvent::noteOn(channel, 69, 100));
            const StereoSignal note = render(engine, 2.0);
            player.handle(MidiEvent::noteOff(channel, 69));
            render(engine, 2.0);
            QVERIFY(std::fabs(test::dominantFrequency(note.left, 48000, 200, 1000, 4800) - 440.0) < 4.4);
            QVERIFY(sustainRatio(note) < 0.5f);
        }
        // Channel 10 plays the kit on the drum synthesizer, never the melodic one.
        player.handle(MidiEvent::noteOn(9, 36, 120));
        const StereoSignal melodic = render(engine, 0.5);
        QCOMPARE(test::peak(melodic.left), 0.0f);
        player.handle(MidiEvent::noteOn(9, 38, 120));
        QVERIFY(test::peak(render(engine, 0.5, Part::Drums).left) > 0.05f);
    }

    void programAndBankChangesComeFromTheMessages() {
        FluidSynthEngine engine;
        GeneralMidiPlayer player(engine);
        QString error;
        QVERIFY(player.loadFont(font, &error));

        player.handle(programChange(3, 73)); // flute
        player.handle(MidiEvent::noteOn(3, 69, 100));
        const StereoSignal flute = render(engine, 2.0);
        player.handle(MidiEvent::noteOff(3, 69));
        render(engine, 1.0);
        QVERIFY(sustainRatio(flute) > 0.6f);

        // A variation bank this font lacks falls back to bank 0 of the program.
        player.handle(MidiEvent::controlChange(3, 0, 8));
        player.handle(MidiEvent::controlChange(3, 32, 0));
        player.handle(programChange(3, 0));
        player.handle(MidiEvent::noteOn(3, 69, 100));
        const StereoSignal piano = render(engine, 2.0);
        player.handle(MidiEvent::noteOff(3, 69));
        render(engine, 2.0);
        QVERIFY(sustainRatio(piano) < 0.5f);

        // Channels keep their own programs: 4 gets the flute, 3 keeps the piano.
        player.handle(programChange(4, 73));
        player.handle(MidiEvent::noteOn(4, 69, 100));
        QVERIFY(sustainRatio(render(engine, 2.0)) > 0.6f);
        player.handle(MidiEvent::reset());
        render(engine, 2.0);
        QCOMPARE(engine.activeVoiceCount(), 0);

        // A kit change on channel 10: the 808 kit sounds unlike the standard one;
        // a kit the font lacks falls back to the standard kit.
        const auto kit = [&](int program) {
            player.handle(programChange(9, program));
            player.handle(MidiEvent::noteOn(9, 36, 120));
            StereoSignal s = render(engine, 0.7, Part::Drums);
            render(engine, 2.0, Part::Drums);
            return s;
        };
        const StereoSignal standard = kit(0);
        const StereoSignal eightOhEight = kit(25);
        const StereoSignal missing = kit(99);
        double difference = 0.0;
        double same = 0.0;
        for (std::size_t i = 0; i < standard.left.size(); ++i) {
            difference += std::fabs(standard.left[i] - eightOhEight.left[i]);
            same += std::fabs(standard.left[i] - missing.left[i]);
        }
        QVERIFY(difference > 1.0);
        QVERIFY2(same < 1e-3 * difference, qPrintable(QStringLiteral("%1 %2").arg(same).arg(difference)));
    }

    void controllersAndBendReachTheirChannel() {
        FluidSynthEngine engine;
        GeneralMidiPlayer player(engine);
        QString error;
        QVERIFY(player.loadFont(font, &error));
        player.handle(programChange(1, 73));
        // Volume 0 silences channel 2 only.
        player.handle(MidiEvent::controlChange(1, 7, 0));
        player.handle(MidiEvent::noteOn(1, 69, 100));
        QVERIFY(test::peak(render(engine, 0.5).left) < 1e-4f);
        player.handle(MidiEvent::controlChange(1, 7, 100));
        QVERIFY(test::peak(render(engine, 0.5).left) > 0.01f);
        // Bend up a whole tone.
        player.handle(MidiEvent::pitchBendEvent(1, 8191));
        const StereoSignal bent = render(engine, 1.0);
        QVERIFY(std::fabs(test::dominantFrequency(bent.left, 48000, 300, 700, 12000) - 493.88) < 5.0);
        // Drum volume on channel 10.
        player.handle(MidiEvent::controlChange(9, 7, 0));
        player.handle(MidiEvent::noteOn(9, 38, 127));
        QVERIFY(test::peak(render(engine, 0.3, Part::Drums).left) < 1e-4f);
    }

    void refusesWhatIsNotASoundFont() {
        FluidSynthEngine engine;
        GeneralMidiPlayer player(engine);
        QString error;
        QVERIFY(!player.loadFont(QStringLiteral("/nonexistent/gm.sf2"), &error));
        QVERIFY(error.contains(QLatin1String("does not exist")));
        QTemporaryDir dir;
        const QString junk = dir.filePath(QStringLiteral("junk.sf2"));
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
        QVERIFY(!player.loadFont(junk, &error));
        QVERIFY(error.contains(QLatin1String("not a SoundFont")));
        // Without a font, messages do nothing.
        player.handle(programChange(0, 5));
        player.handle(MidiEvent::noteOn(0, 60, 100));
        QCOMPARE(test::peak(render(engine, 0.2).left), 0.0f);
    }
};

QTEST_GUILESS_MAIN(GeneralMidiPlayerTest)
#include "tst_general_midi_player.moc"
