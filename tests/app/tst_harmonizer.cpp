// The note auto-tune harmonizer: its snapping and harmony rules, the ownership of
// voices between keys and channels, what is recorded, and concurrent use from the
// GUI and MIDI threads (this test also runs under ThreadSanitizer).

#include "app/Harmonizer.h"

#include <QTest>

#include <array>
#include <random>
#include <thread>

using namespace tmb;

namespace {

// Collects what the harmonizer sends: "on 0:60@99", "off 0:57", with a trailing "*"
// on events that are recorded.
class Sink {
public:
    Harmonizer::VoiceSink function() {
        return [this](const MidiEvent& event, bool record) {
            const bool on = event.status == MidiEvent::NoteOn;
            QString text =
                on ? QStringLiteral("on %1:%2@%3").arg(event.channel).arg(event.data1).arg(event.data2)
                   : QStringLiteral("off %1:%2").arg(event.channel).arg(event.data1);
            if (record) text += QLatin1Char('*');
            events << text;
            sounding[event.channel][event.data1] = on;
        };
    }
    QStringList take() {
        QStringList taken = events;
        events.clear();
        return taken;
    }
    int soundingCount() const {
        int count = 0;
        for (const auto& channel : sounding)
            for (bool on : channel)
                count += on ? 1 : 0;
        return count;
    }

    QStringList events;
    std::array<std::array<bool, 128>, 16> sounding{};
};

QString planText(const Harmonizer::VoicePlan& plan) {
    QStringList parts;
    for (int i = 0; i < plan.count; ++i)
        parts << QStringLiteral("%1@%2").arg(plan.voices[i].pitch).arg(plan.voices[i].velocity);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class HarmonizerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rulesOfEveryMode_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("degree");
        QTest::addColumn<bool>("minor");
        QTest::addColumn<int>("guide");
        QTest::addColumn<int>("note");
        QTest::addColumn<int>("velocity");
        QTest::addColumn<QString>("voices");
        // Lead velocity 70 + s and harmony velocities per mode, s = velocity x 38 / 127.
        QTest::newRow("duet, degree I") << 0 << 1 << false << -1 << 61 << 100 << "60@99 57@83";
        QTest::newRow("duet, degree ii") << 0 << 2 << true << -1 << 61 << 100 << "62@99 59@83";
        QTest::newRow("duet below middle C") << 0 << 1 << false << -1 << 59 << 100 << "59@99";
        QTest::newRow("minor degree flattens") << 0 << 6 << true << -1 << 63 << 1 << "62@70 59@54";
        QTest::newRow("major degree sharpens") << 0 << 5 << false << -1 << 63 << 127 << "64@108 60@92";
        QTest::newRow("IV snaps F# down") << 0 << 4 << false << -1 << 66 << 100 << "65@99 62@83";
        QTest::newRow("vi snaps Ab up") << 2 << 6 << true << -1 << 68 << 100 << "69@99 60@89";
        QTest::newRow("sixth from 57") << 2 << 1 << false << -1 << 57 << 100 << "57@99 48@89";
        QTest::newRow("gospel, high") << 1 << 1 << false << -1 << 64 << 100 << "64@99 60@84 57@80";
        QTest::newRow("gospel, octave below") << 1 << 1 << false << -1 << 50 << 100 << "50@99 38@91";
        QTest::newRow("gospel, 58 alone") << 1 << 1 << false << -1 << 58 << 100 << "58@99";
        QTest::newRow("gospel, 59 alone") << 1 << 1 << false << -1 << 59 << 100 << "59@99";
        QTest::newRow("gospel, 30 alone") << 1 << 1 << false << -1 << 30 << 100 << "30@99";
        QTest::newRow("neo-soul, 86 alone") << 3 << 1 << false << -1 << 86 << 100 << "86@99";
        QTest::newRow("neo-soul, fifth and ninth")
            << 3 << 1 << false << -1 << 60 << 100 << "60@99 67@79 74@75";
        QTest::newRow("pentatonic, B4 to C5") << 4 << 1 << false << -1 << 71 << 100 << "72@99 60@77";
        QTest::newRow("snap stays on the piano") << 4 << 1 << false << -1 << 119 << 100 << "108@99 96@77";
        QTest::newRow("hymn guide takes 66 to 64") << 0 << 1 << false << 64 << 66 << 100 << "64@99 60@83";
        QTest::newRow("hymn guide ignores 67") << 0 << 1 << false << 64 << 67 << 100 << "67@99 64@83";
        QTest::newRow("out-of-range mode reads 0") << 9 << 1 << false << -1 << 61 << 100 << "60@99 57@83";
    }
    void rulesOfEveryMode() {
        QFETCH(int, mode);
        QFETCH(int, degree);
        QFETCH(bool, minor);
        QFETCH(int, guide);
        QFETCH(int, note);
        QFETCH(int, velocity);
        QFETCH(QString, voices);
        QCOMPARE(planText(Harmonizer::plan(note, velocity, mode, degree, minor, guide)), voices);
    }

    void diatonicSteps() {
        QCOMPARE(Harmonizer::diatonicStepDown(64, 2), 60);
        QCOMPARE(Harmonizer::diatonicStepDown(60, 2), 57);
        QCOMPARE(Harmonizer::diatonicStepDown(61, 2), 57);
        QCOMPARE(Harmonizer::diatonicStepDown(72, 5), 64);
        QCOMPARE(Harmonizer::diatonicStepDown(21, 5), 21); // stays on the piano
    }

    void modeNames() {
        QCOMPARE(Harmonizer::modeName(0), QStringLiteral("Yamaha P.A.T. + Duet"));
        QCOMPARE(Harmonizer::modeName(1), QStringLiteral("Gospel Quartet Voicer"));
        QCOMPARE(Harmonizer::modeName(2), QStringLiteral("Seben / Rhumba 6ths"));
        QCOMPARE(Harmonizer::modeName(3), QStringLiteral("Neo-Soul 9th Sweetener"));
        QCOMPARE(Harmonizer::modeName(4), QStringLiteral("Pentatonic Solo Lock"));
        QCOMPARE(Harmonizer::modeName(-1), Harmonizer::modeName(0));
    }

    void offPassesTheNoteThrough() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        const Harmonizer::NoteOnResult result = harmonizer.noteOn(61, 100, 0);
        QCOMPARE(result.leadPitch, 61);
        QVERIFY(!result.moved);
        QVERIFY(!result.harmonized);
        QCOMPARE(sink.take(), QStringList{"on 0:61@100*"});
        // Clamped input.
        QCOMPARE(harmonizer.noteOn(200, 0, 0).leadPitch, 127);
        QCOMPARE(sink.take(), QStringList{"on 0:127@1*"});
        // A second note-on of a held key lets go of its voice first, unrecorded.
        harmonizer.noteOn(61, 90, 0);
        QCOMPARE(sink.take(), (QStringList{"off 0:61", "on 0:61@90*"}));
        harmonizer.noteOff(61, 0);
        QCOMPARE(sink.take(), QStringList{"off 0:61*"});
    }

    void releasingOneKeyKeepsAPitchAnotherKeyHolds() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        harmonizer.setEnabled(true);
        harmonizer.noteOn(60, 100, 0); // 60 + duet 57
        harmonizer.noteOn(64, 100, 0); // 64 + duet 60
        sink.take();
        const Harmonizer::Released released = harmonizer.noteOff(64, 0);
        QCOMPARE(sink.take(), QStringList{"off 0:64*"});
        QCOMPARE(released.count, 1);
        QCOMPARE(released.pitches[0], 64);
        QVERIFY(sink.sounding[0][60]);
        harmonizer.noteOff(60, 0);
        QCOMPARE(sink.take(), (QStringList{"off 0:60*", "off 0:57*"}));
        QCOMPARE(harmonizer.heldVoiceCount(), 0);

        // The same pitches on another channel are separate voices.
        harmonizer.noteOn(60, 100, 0);
        harmonizer.noteOn(60, 100, 1);
        sink.take();
        harmonizer.noteOff(60, 1);
        QCOMPARE(sink.take(), (QStringList{"off 1:60*", "off 1:57*"}));
        QVERIFY(sink.sounding[0][60]);
    }

    void strayNoteOffSendsOneNoteOffUnlessThePitchIsHeld() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        harmonizer.noteOff(70, 2);
        QCOMPARE(sink.take(), QStringList{"off 2:70*"});

        harmonizer.setEnabled(true);
        harmonizer.noteOn(60, 100, 0); // holds 57 as its duet voice
        sink.take();
        const Harmonizer::Released released = harmonizer.noteOff(57, 0);
        QCOMPARE(released.count, 0);
        QCOMPARE(sink.take(), QStringList{});
        QVERIFY(sink.sounding[0][57]);
    }

    void releaseAllUsesEachVoicesChannelAndIsNotRecorded() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        harmonizer.setEnabled(true);
        harmonizer.noteOn(60, 100, 3);
        harmonizer.noteOn(64, 100, 0);
        sink.take();
        harmonizer.releaseAll();
        QCOMPARE(sink.take(), (QStringList{"off 0:64", "off 0:60", "off 3:60", "off 3:57"}));
        QCOMPARE(sink.soundingCount(), 0);
    }

    void changingTheRuleSilencesTheHeldChord() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        QVERIFY(harmonizer.setEnabled(true));
        QVERIFY(!harmonizer.setEnabled(true));
        harmonizer.noteOn(60, 100, 0);
        harmonizer.noteOn(64, 100, 0);
        harmonizer.noteOn(67, 100, 0);
        QVERIFY(sink.soundingCount() > 3);
        QVERIFY(!harmonizer.setMode(0)); // unchanged: nothing happens
        QVERIFY(sink.soundingCount() > 3);
        QVERIFY(harmonizer.setMode(3));
        QCOMPARE(sink.soundingCount(), 0);
        QCOMPARE(harmonizer.heldVoiceCount(), 0);
        QVERIFY(harmonizer.setMode(7)); // clamped to the last mode
        QCOMPARE(harmonizer.mode(), 4);

        harmonizer.noteOn(60, 100, 0);
        QVERIFY(harmonizer.setEnabled(false));
        QCOMPARE(sink.soundingCount(), 0);
        // Keys released after the switch find nothing left to release.
        sink.take();
        harmonizer.noteOff(60, 0);
        QCOMPARE(sink.take(), QStringList{"off 0:60*"});
    }

    void guideTargetIsPublishedWhole() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        harmonizer.setEnabled(true);
        harmonizer.setGuideTarget(64);
        QCOMPARE(harmonizer.noteOn(66, 100, 0).leadPitch, 64);
        harmonizer.setGuideTarget(500);
        QCOMPARE(harmonizer.guideTarget(), -1);
        harmonizer.setChordDegree(2, true);
        QCOMPARE(harmonizer.noteOn(61, 100, 0).leadPitch, 62);
    }

    // GUI and MIDI threads play overlapping keys while the GUI switches modes and
    // guide targets; at the end, releasing every key leaves nothing sounding.
    void concurrentKeysLeaveNothingSounding() {
        Sink sink;
        Harmonizer harmonizer(sink.function());
        harmonizer.setEnabled(true);
        std::atomic<bool> stop{false};
        auto player = [&](unsigned seed, int channel) {
            std::mt19937 random(seed);
            std::array<bool, 128> down{};
            for (int i = 0; i < 20000; ++i) {
                const int note = 55 + static_cast<int>(random() % 20);
                if (down[note])
                    harmonizer.noteOff(note, channel);
                else
                    harmonizer.noteOn(note, 1 + static_cast<int>(random() % 127), channel);
                down[note] = !down[note];
            }
            for (int note = 0; note < 128; ++note)
                if (down[note]) harmonizer.noteOff(note, channel);
        };
        std::thread midi(player, 1u, 0);
        std::thread midi2(player, 2u, 5);
        std::thread gui([&] {
            int i = 0;
            while (!stop.load()) {
                harmonizer.setGuideTarget(i % 3 == 0 ? 60 + i % 12 : -1);
                harmonizer.setChordDegree(1 + i % 6, i % 2 == 0);
                if (i % 50 == 0) harmonizer.setMode(i / 50 % 5);
                ++i;
                std::this_thread::yield();
            }
        });
        player(3u, 0);
        midi.join();
        midi2.join();
        stop = true;
        gui.join();
        QCOMPARE(harmonizer.heldVoiceCount(), 0);
        QCOMPARE(sink.soundingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(HarmonizerTest)
#include "tst_harmonizer.moc"
