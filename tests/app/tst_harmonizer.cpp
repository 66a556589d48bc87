// The note auto-tune harmonizer: its snapping and harmony rules, the ownership of
// voices between keys and channels, what is recorded, and concurrent use from the
// GUI and MIDI threads (this test also runs under ThreadSanitizer).

#include "app/Harmonizer.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <random>
#include <thread>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// A harmonizer and what it sends: "on 0:60@99", "off 0:57", with a trailing "*" on
// events that are recorded.
class Rig {
public:
    explicit Rig(bool enabled) { harmonizer.setEnabled(enabled); }
    QStringList take() { return std::exchange(events, {}); }
    int soundingCount() const {
        int count = 0;
        for (const auto& channel : sounding)
            count += static_cast<int>(std::count(channel.begin(), channel.end(), true));
        return count;
    }

    QStringList events;
    std::array<std::array<bool, 128>, 16> sounding{};
    Harmonizer harmonizer{[this](const MidiEvent& event, bool record) {
        const bool on = event.status == MidiEvent::NoteOn;
        QString text = on ? u"on %1:%2@%3"_s.arg(event.channel).arg(event.data1).arg(event.data2)
                          : u"off %1:%2"_s.arg(event.channel).arg(event.data1);
        events << (record ? text + QLatin1Char('*') : text);
        sounding[event.channel][event.data1] = on;
    }};
};

} // namespace

class HarmonizerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rulesOfEveryMode() {
        // Name, "mode degree minor guide note velocity", and the voices planned. Lead
        // velocity 70 + s and harmony velocities per mode, s = velocity x 38 / 127.
        const char* rules[][3] = {{"duet, degree I", "0 1 0 -1 61 100", "60@99 57@83"},
                                  {"duet, degree ii", "0 2 1 -1 61 100", "62@99 59@83"},
                                  {"duet below middle C", "0 1 0 -1 59 100", "59@99"},
                                  {"minor degree flattens", "0 6 1 -1 63 1", "62@70 59@54"},
                                  {"major degree sharpens", "0 5 0 -1 63 127", "64@108 60@92"},
                                  {"IV snaps F# down", "0 4 0 -1 66 100", "65@99 62@83"},
                                  {"vi snaps Ab up", "2 6 1 -1 68 100", "69@99 60@89"},
                                  {"sixth from 57", "2 1 0 -1 57 100", "57@99 48@89"},
                                  {"gospel, high", "1 1 0 -1 64 100", "64@99 60@84 57@80"},
                                  {"gospel, octave below", "1 1 0 -1 50 100", "50@99 38@91"},
                                  {"gospel, 58 alone", "1 1 0 -1 58 100", "58@99"},
                                  {"gospel, 59 alone", "1 1 0 -1 59 100", "59@99"},
                                  {"gospel, 30 alone", "1 1 0 -1 30 100", "30@99"},
                                  {"neo-soul, 86 alone", "3 1 0 -1 86 100", "86@99"},
                                  {"neo-soul, fifth and ninth", "3 1 0 -1 60 100", "60@99 67@79 74@75"},
                                  {"pentatonic, B4 to C5", "4 1 0 -1 71 100", "72@99 60@77"},
                                  {"snap stays on the piano", "4 1 0 -1 119 100", "108@99 96@77"},
                                  {"hymn guide takes 66 to 64", "0 1 0 64 66 100", "64@99 60@83"},
                                  {"hymn guide ignores 67", "0 1 0 64 67 100", "67@99 64@83"},
                                  {"out-of-range mode reads 0", "9 1 0 -1 61 100", "60@99 57@83"}};
        for (const auto& [name, input, voices] : rules) {
            const QStringList in = QString::fromLatin1(input).split(QLatin1Char(' '));
            const Harmonizer::VoicePlan plan =
                Harmonizer::plan(in[4].toInt(), in[5].toInt(), in[0].toInt(), in[1].toInt(),
                                 in[2] == QLatin1String("1"), in[3].toInt());
            QStringList planned;
            for (int i = 0; i < plan.count; ++i)
                planned << u"%1@%2"_s.arg(plan.voices[i].pitch).arg(plan.voices[i].velocity);
            QVERIFY2(planned.join(QLatin1Char(' ')) == QLatin1String(voices),
                     qPrintable(u"%1: %2"_s.arg(QLatin1String(name), planned.join(QLatin1Char(' ')))));
        }
    }

    void diatonicStepsAndModeNames() {
        QCOMPARE(Harmonizer::diatonicStepDown(64, 2), 60);
        QCOMPARE(Harmonizer::diatonicStepDown(60, 2), 57);
        QCOMPARE(Harmonizer::diatonicStepDown(61, 2), 57);
        QCOMPARE(Harmonizer::diatonicStepDown(72, 5), 64);
        QCOMPARE(Harmonizer::diatonicStepDown(21, 5), 21); // stays on the piano
        QStringList names;
        for (int mode = -1; mode <= 4; ++mode)
            names << Harmonizer::modeName(mode);
        QCOMPARE(names,
                 QStringList({"Yamaha P.A.T. + Duet", "Yamaha P.A.T. + Duet", "Gospel Quartet Voicer",
                              "Seben / Rhumba 6ths", "Neo-Soul 9th Sweetener", "Pentatonic Solo Lock"}));
    }

    void offPassesTheNoteThrough() {
        Rig rig(false);
        Harmonizer& h = rig.harmonizer;
        const Harmonizer::NoteOnResult result = h.noteOn(61, 100, 0);
        QVERIFY(result.leadPitch == 61 && !result.moved && !result.harmonized);
        QCOMPARE(rig.take(), QStringList{"on 0:61@100*"});
        QCOMPARE(h.noteOn(200, 0, 0).leadPitch, 127); // clamped
        QCOMPARE(rig.take(), QStringList{"on 0:127@1*"});
        // A second note-on of a held key lets go of its voice first, unrecorded.
        h.noteOn(61, 90, 0);
        QCOMPARE(rig.take(), (QStringList{"off 0:61", "on 0:61@90*"}));
        h.noteOff(61, 0);
        // A stray note-off sends one note-off.
        h.noteOff(70, 2);
        QCOMPARE(rig.take(), (QStringList{"off 0:61*", "off 2:70*"}));
    }

    // Keys own their voices: a pitch two keys share sounds until both let go, the same
    // pitch on another channel is a separate voice, and a stray note-off of a pitch
    // another key holds sends nothing.
    void releasingOneKeyKeepsAPitchAnotherKeyHolds() {
        Rig rig(true);
        Harmonizer& h = rig.harmonizer;
        h.noteOn(60, 100, 0); // 60 + duet 57
        h.noteOn(64, 100, 0); // 64 + duet 60
        rig.take();
        const Harmonizer::Released released = h.noteOff(64, 0);
        QCOMPARE(rig.take(), QStringList{"off 0:64*"});
        QVERIFY(released.count == 1 && released.pitches[0] == 64);
        QVERIFY(rig.sounding[0][60]);
        QCOMPARE(h.noteOff(57, 0).count, 0); // 57 belongs to the held C4
        QCOMPARE(rig.take(), QStringList{});
        QVERIFY(rig.sounding[0][57]);
        h.noteOff(60, 0);
        QCOMPARE(rig.take(), (QStringList{"off 0:60*", "off 0:57*"}));
        QCOMPARE(h.heldVoiceCount(), 0);

        h.noteOn(60, 100, 0);
        h.noteOn(60, 100, 1);
        rig.take();
        h.noteOff(60, 1);
        QCOMPARE(rig.take(), (QStringList{"off 1:60*", "off 1:57*"}));
        QVERIFY(rig.sounding[0][60]);

        // Release-all uses each voice's own channel and is not recorded.
        Rig all(true);
        all.harmonizer.noteOn(60, 100, 3);
        all.harmonizer.noteOn(64, 100, 0);
        all.take();
        all.harmonizer.releaseAll();
        QCOMPARE(all.take(), (QStringList{"off 0:64", "off 0:60", "off 3:60", "off 3:57"}));
        QCOMPARE(all.soundingCount(), 0);
    }

    void changingTheRuleSilencesTheHeldChord() {
        Rig rig(false);
        Harmonizer& h = rig.harmonizer;
        QVERIFY(h.setEnabled(true));
        QVERIFY(!h.setEnabled(true));
        for (int note : {60, 64, 67})
            h.noteOn(note, 100, 0);
        QVERIFY(rig.soundingCount() > 3);
        QVERIFY(!h.setMode(0)); // unchanged: nothing happens
        QVERIFY(rig.soundingCount() > 3);
        QVERIFY(h.setMode(3));
        QCOMPARE(rig.soundingCount(), 0);
        QCOMPARE(h.heldVoiceCount(), 0);
        QVERIFY(h.setMode(7)); // clamped to the last mode
        QCOMPARE(h.mode(), 4);

        h.noteOn(60, 100, 0);
        QVERIFY(h.setEnabled(false));
        QCOMPARE(rig.soundingCount(), 0);
        // Keys released after the switch find nothing left to release.
        rig.take();
        h.noteOff(60, 0);
        QCOMPARE(rig.take(), QStringList{"off 0:60*"});
    }

    void guideTargetIsPublishedWhole() {
        Rig rig(true);
        Harmonizer& h = rig.harmonizer;
        h.setGuideTarget(64);
        QCOMPARE(h.noteOn(66, 100, 0).leadPitch, 64);
        h.setGuideTarget(500);
        QCOMPARE(h.guideTarget(), -1);
        h.setChordDegree(2, true);
        QCOMPARE(h.noteOn(61, 100, 0).leadPitch, 62);
    }

    // GUI and MIDI threads play overlapping keys while the GUI switches modes and
    // guide targets; at the end, releasing every key leaves nothing sounding.
    void concurrentKeysLeaveNothingSounding() {
        Rig rig(true);
        Harmonizer& h = rig.harmonizer;
        std::atomic<bool> stop{false};
        auto player = [&](unsigned seed, int channel) {
            std::mt19937 random(seed);
            std::array<bool, 128> down{};
            for (int i = 0; i < 20000; ++i) {
                const int note = 55 + static_cast<int>(random() % 20);
                if (down[note])
                    h.noteOff(note, channel);
                else
                    h.noteOn(note, 1 + static_cast<int>(random() % 127), channel);
                down[note] = !down[note];
            }
            for (int note = 0; note < 128; ++note)
                if (down[note]) h.noteOff(note, channel);
        };
        std::thread midi(player, 1u, 0);
        std::thread midi2(player, 2u, 5);
        std::thread gui([&] {
            for (int i = 0; !stop.load(); ++i) {
                h.setGuideTarget(i % 3 == 0 ? 60 + i % 12 : -1);
                h.setChordDegree(1 + i % 6, i % 2 == 0);
                if (i % 50 == 0) h.setMode(i / 50 % 5);
                std::this_thread::yield();
            }
        });
        player(3u, 0);
        midi.join();
        midi2.join();
        stop = true;
        gui.join();
        QCOMPARE(h.heldVoiceCount(), 0);
        QCOMPARE(rig.soundingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(HarmonizerTest)
#include "tst_harmonizer.moc"
