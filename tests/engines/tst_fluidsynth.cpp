// The SoundFont engine rendered and measured, the General MIDI font lookup and module.

#include "EngineTestSupport.h"
#include "engines/FluidSynthEngine.h"
#include "engines/GeneralMidiPlayer.h"
#include "engines/SoundFontPaths.h"
#include "support/AudioAnalysis.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace tmb;
using test::StereoSignal;

namespace {

const QString timidityFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
constexpr int flute = 73;

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

// What one note sounded like for `seconds` (channel -1: the drum synthesizer); then it ends.
StereoSignal playNote(FluidSynthEngine& engine, int channel, int key, double seconds = 1.0) {
    const Part part = channel < 0 ? Part::Drums : Part::Melodic;
    channel < 0 ? engine.drumNoteOn(key, 100) : engine.noteOn(channel, key, 100);
    StereoSignal out = render(engine, seconds, part);
    channel < 0 ? engine.drumNoteOff(key) : engine.noteOff(channel, key);
    render(engine, 2.0, part);
    return out;
}

double pitchOf(const StereoSignal& s) {
    return test::dominantFrequency(s.left, s.sampleRate, 100.0, 2000.0, s.left.size() / 4);
}

bool near(double value, double target, double fraction) {
    return std::fabs(value - target) <= target * fraction;
}

// Level 1.5-2 s into a held note against its first half second (flute keeps it).
float sustainRatio(const StereoSignal& s) {
    const auto rate = static_cast<std::size_t>(s.sampleRate);
    return test::rms(s.left, 3 * rate / 2, 2 * rate) /
           std::max(test::rms(s.left, rate / 10, rate / 2), 1e-9f);
}

float meanDifference(const StereoSignal& a, const StereoSignal& b) {
    double sum = 0.0;
    for (std::size_t i = 0; i < a.left.size(); ++i)
        sum += std::fabs(a.left[i] - b.left[i]);
    return static_cast<float>(sum / static_cast<double>(a.left.size()));
}

MidiEvent programChange(int channel, int program) {
    MidiEvent e = MidiEvent::controlChange(channel, program, 0);
    e.status = MidiEvent::ProgramChange;
    return e;
}

} // namespace

class FluidSynthTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (!QFile::exists(timidityFont)) QSKIP("timgm6mb-soundfont is not installed");
    }

    // Built at 48 kHz, later rates come through prepare, as an audio restart does.
    void fluteSitsAt440HzAtEveryRateAndBends() {
        FluidSynthEngine engine;
        QVERIFY(engine.selectProgram(0, timidityFont, 0, flute));
        for (float rate : {44100.0f, 48000.0f, 96000.0f, 44100.0f}) {
            engine.prepare(rate);
            QCOMPARE(engine.sampleRate(), rate);
            const double pitch = pitchOf(playNote(engine, 0, 69));
            TMB_VERIFY(near(pitch, 440.0, 0.01), pitch, "Hz at", rate);
        }
        // Bend covers two semitones both ways, held at the bottom beyond it.
        QVERIFY(engine.selectProgram(2, timidityFont, 0, flute));
        const auto bent = [&](int value) {
            engine.pitchBend(2, value);
            return pitchOf(playNote(engine, 2, 69));
        };
        const double up = bent(8191), down = bent(-8192), held = bent(-100000), centre = bent(0);
        TMB_VERIFY(near(up, 440.0 * std::pow(2.0, 8191.0 / 8192.0 * 2.0 / 12.0), 0.01) &&
                       near(down, 440.0 * std::pow(2.0, -2.0 / 12.0), 0.01) && near(held, down, 0.005) &&
                       near(centre, 440.0, 0.01),
                   up, down, held, centre);
        // The drum synthesizer follows the rate too (a melodic kit on it plays pitches).
        QVERIFY(engine.selectDrumKit(timidityFont, 0, flute));
        engine.prepare(96000.0f);
        QVERIFY(near(pitchOf(playNote(engine, -1, 69)), 440.0, 0.01));
    }

    // Concert pitch retunes melodic channels but no kit: neither the default drum channel's (bank
    // -1: only channel 0 is chosen) nor one chosen for another channel, tuned before it or after.
    void kitsKeepTheFontsTuning() {
        const auto hit = [](float tuningHz, int channel, int bank, bool tuneFirst) {
            FluidSynthEngine engine;
            if (tuneFirst) engine.setTuning(tuningHz);
            engine.selectProgram(bank < 0 ? 0 : channel, timidityFont, std::max(bank, 0), 0);
            if (!tuneFirst) engine.setTuning(tuningHz);
            return playNote(engine, channel, 38, 0.3);
        };
        for (const auto& [channel, bank, tuneFirst] :
             {std::tuple{9, -1, false}, {5, 128, true}, {5, 128, false}})
            QCOMPARE(
                meanDifference(hit(415.0f, channel, bank, tuneFirst), hit(440.0f, channel, bank, tuneFirst)),
                0.0f);
        QVERIFY(meanDifference(hit(415.0f, 5, 0, true), hit(440.0f, 5, 0, true)) > 1e-4f);
    }

    void oneFontIsLoadedOncePerSynthesizer() {
        FluidSynthEngine engine;
        const int id = engine.loadSoundFont(timidityFont);
        QVERIFY(id >= 0 && engine.selectProgram(3, timidityFont, 0, 33) &&
                engine.loadSoundFont(timidityFont) == id);
        QVERIFY(!engine.selectProgram(16, timidityFont, 0, 0) &&
                !engine.selectProgram(-1, timidityFont, 0, 0));
        // Missing, and a file that starts like a SoundFont and is not one.
        QTemporaryDir dir;
        const QString notAFont = dir.filePath(u"broken.sf2"_qs);
        QFile file(notAFont);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("RIFF\x10\x00\x00\x00sfbkLIST garbage") > 0);
        file.close();
        for (const QString& bad : {u"/nonexistent/font.sf2"_qs, notAFont})
            QVERIFY(engine.loadSoundFont(bad) == -1 && !engine.selectProgram(0, bad, 0, 0) &&
                    engine.enumeratePresets(bad).isEmpty());
        // The listing: the font's presets, melodic synth only.
        const QList<Sf2PresetInfo> presets = engine.enumeratePresets(timidityFont);
        QVERIFY(presets.size() == 136 && presets.first().path == timidityFont &&
                presets.first().sfontId == id);
        FluidSynthEngine drumsOnly;
        QVERIFY(drumsOnly.selectDrumKit(timidityFont, 128, 0) &&
                drumsOnly.enumeratePresets(timidityFont).isEmpty());
    }

    // All notes off (all channels, or one: the other sounds on) lifts the pedal; huge blocks render nothing.
    void allNotesOffLiftsThePedalAndHugeBlocksRenderNothing() {
        FluidSynthEngine engine;
        for (const auto& [offs, keyUp] : {std::pair{QList<int>{-1}, true}, {QList<int>{0, 5}, false}}) {
            for (int channel : {0, 5}) {
                QVERIFY(engine.selectProgram(channel, timidityFont, 0, flute));
                engine.controlChange(channel, 64, 127);
                engine.noteOn(channel, 72, 100);
                if (keyUp) engine.noteOff(channel, 72);
            }
            for (int channel : offs) { // held by the pedal, or on the other channel
                QVERIFY(test::rms(render(engine, 0.5).left) > 1e-3f);
                engine.allNotesOff(channel);
                render(engine, 2.0);
            }
            QCOMPARE(engine.activeVoiceCount(), 0);
        }
        QVERIFY(engine.selectDrumKit(timidityFont, 128, 0));
        engine.noteOn(0, 69, 100);
        engine.drumNoteOn(38, 100);
        std::vector<float> left(8192, 0.0f), right(8192, 0.0f);
        engine.renderBlock(left.data(), right.data(), 8192);
        engine.renderDrumBlock(left.data(), right.data(), 8192);
        QCOMPARE(test::peak(left), 0.0f);
        engine.renderBlock(left.data(), right.data(), 4096);
        QVERIFY(test::peak(left) > 0.0f);
    }

    void generalMidiNamesFindTheInstalledFiles() {
        QTemporaryDir named, debian;
        setSoundFontSearchFolders({named.path(), debian.path()});
        const QString gm = QString::fromLatin1(gmSoundFontPath),
                      fallback = QString::fromLatin1(defaultSoundFontPath);
        // Found nowhere: the name comes back as it was.
        QVERIFY(resolveSoundFontPath(gm) == gm && resolveSoundFontPath(fallback) == fallback);
        // Debian's folder, with "default-GM.sf2" standing for "default.sf2".
        const QString debianGm = debian.filePath(u"FluidR3_GM.sf2"_qs),
                      debianDefault = debian.filePath(u"default-GM.sf2"_qs);
        QVERIFY(QFile::link(timidityFont, debianGm) && QFile::link(timidityFont, debianDefault));
        QCOMPARE(resolveSoundFontPath(gm), debianGm);
        QCOMPARE(resolveSoundFontPath(fallback), debianDefault);
        // The named folder wins when it has the file; other folders are left alone.
        QVERIFY(QFile::link(timidityFont, named.filePath(u"default.sf2"_qs)));
        QCOMPARE(resolveSoundFontPath(fallback), named.filePath(u"default.sf2"_qs));
        QCOMPARE(resolveSoundFontPath(timidityFont), timidityFont);
        const QString elsewhere = u"/usr/share/soundfonts/sub/FluidR3_GM.sf2"_qs;
        QCOMPARE(resolveSoundFontPath(elsewhere), elsewhere);
        // The engine takes the names the workstation uses.
        FluidSynthEngine engine;
        QVERIFY(engine.selectProgram(0, gm, 0, flute) && engine.selectDrumKit(gm, 128, 0));
        QCOMPARE(engine.loadSoundFont(gm), engine.loadSoundFont(debianGm));
        setSoundFontSearchFolders({}); // back to the system folders
    }

    // The module behind the offline renderer's General MIDI mode.
    void generalMidiPlayerFollowsTheMessages() {
        FluidSynthEngine engine;
        GeneralMidiPlayer player(engine);
        const auto send = [&](std::initializer_list<MidiEvent> events) {
            for (const MidiEvent& e : events)
                player.handle(e);
        };
        send({programChange(0, 5), MidiEvent::noteOn(0, 60, 100)}); // without a font: nothing
        QCOMPARE(test::peak(render(engine, 0.2).left), 0.0f);
        QString error;
        QVERIFY(player.loadFont(timidityFont, &error));
        // Channel 10 plays the kit on the drum synthesizer, never the melodic one.
        player.handle(MidiEvent::noteOn(9, 36, 120));
        QCOMPARE(test::peak(render(engine, 0.5).left), 0.0f);
        QVERIFY(test::peak(render(engine, 0.5, Part::Drums).left) > 0.05f);
        // A missing variation bank falls back to bank 0; channels keep their own programs.
        send({programChange(3, flute), MidiEvent::controlChange(3, 0, 8), MidiEvent::controlChange(3, 32, 0),
              programChange(3, 0), programChange(4, flute)});
        QVERIFY(sustainRatio(playNote(engine, 3, 69, 2.0)) < 0.5f &&
                sustainRatio(playNote(engine, 4, 69, 2.0)) > 0.6f);
        send({MidiEvent::noteOn(4, 69, 100), MidiEvent::reset()});
        render(engine, 2.0);
        render(engine, 2.0, Part::Drums);
        QCOMPARE(engine.activeVoiceCount(), 0);
        // The 808 kit sounds unlike the standard one; a kit the font lacks is the standard kit.
        const auto kit = [&](int program) {
            player.handle(programChange(9, program));
            return playNote(engine, -1, 36, 0.7);
        };
        const StereoSignal standard = kit(0), eightOhEight = kit(25), missing = kit(99);
        const float difference = meanDifference(standard, eightOhEight),
                    same = meanDifference(standard, missing);
        TMB_VERIFY(difference > 1.0f / 33600 && same < 1e-3f * difference, same, difference);
        // Controllers and bend reach their channel: volume 0 silences channel 2 only.
        send({programChange(1, flute), MidiEvent::controlChange(1, 7, 0), MidiEvent::noteOn(1, 69, 100)});
        QVERIFY(test::peak(render(engine, 0.5).left) < 1e-4f);
        player.handle(MidiEvent::controlChange(1, 7, 100));
        QVERIFY(test::peak(render(engine, 0.5).left) > 0.01f);
        player.handle(MidiEvent::pitchBendEvent(1, 8191)); // up a whole tone
        QVERIFY(std::fabs(test::dominantFrequency(render(engine, 1.0).left, 48000, 300, 700, 12000) -
                          493.88) < 5.0);
        send({MidiEvent::controlChange(9, 7, 0), MidiEvent::noteOn(9, 38, 127)}); // drum volume on channel 10
        QVERIFY(test::peak(render(engine, 0.3, Part::Drums).left) < 1e-4f);
    }
};

QTEST_GUILESS_MAIN(FluidSynthTest)
#include "tst_fluidsynth.moc"
