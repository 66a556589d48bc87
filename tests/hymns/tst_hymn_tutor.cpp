// The hymn tutor on a lesson of its own.

#include "hymns/HymnTutor.h"

#include <QTest>

#include <utility>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// Melody 67 64 62 60 72 65 67 60 (G7 C Dm7 C Am F G7 C), 16 beats; steps 4-7 start
// at beats 5, 8, 10 and 14.
const QByteArray lessonFile = R"({"lessons": [
    {"position": 0, "id": "first", "title": "First", "category": "C", "style": 5, "tempo": 90,
     "form": "compact", "tune": "original", "text": "original",
     "steps": [[67, 5, "", 1], [64, 1, "", 1], [62, 2, "", 1], [60, 1, "", 2], [72, 6, "", 3],
               [65, 4, "", 2], [67, 5, "", 4], [60, 1, "", 2]]},
    {"position": 1, "id": "empty", "title": "Empty", "category": "C", "style": 5,
     "form": "compact", "tune": "original", "text": "original", "steps": []}]})";

struct Rig {
    Rig() {
        catalog.addFromJson(lessonFile, HymnCatalog::Group::Academy);
        tutor.setEngagedByView(true);
    }
    HymnCatalog catalog;
    QStringList log; // "h55@62", "h55 off", "press 67", "release 67", "all"
    HymnTutor tutor{catalog,
                    {[this](int n, int v) { log << (v ? u"h%1@%2"_s.arg(n).arg(v) : u"h%1 off"_s.arg(n)); },
                     [this](int n, int v) { log << u"press %1@%2"_s.arg(n).arg(v); },
                     [this](int n) { log << u"release %1"_s.arg(n); },
                     [this] {
                         log << u"all"_s;
                         tutor.releaseSounding();
                     }}};
    QString take() { return std::exchange(log, {}).join(u", "_s); }
};

} // namespace

class HymnTutorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Target G4: any G is right; a wrong note from G3 up breaks the streak, lower is ignored.
    void checksNotesAgainstTheTarget() {
        const struct {
            int note, velocity;
            HymnTutor::Check result;
            int streak;
            const char* sounded;
        } cases[] = {
            {67, 80, HymnTutor::Check::Right, 2, "h43@62, h47@62, h50@62, h53@62"},
            {55, 50, HymnTutor::Check::Right, 2, "h43@42, h47@42, h50@42, h53@42"},
            {79, 127, HymnTutor::Check::Right, 2, "h43@95, h47@95, h50@95, h53@95"},
            {43, 80, HymnTutor::Check::Right, 2,
             "h47@62, h50@62, h53@62"}, // the played chord note is not doubled
            {54, 80, HymnTutor::Check::Ignored, 1, ""},
            {60, 80, HymnTutor::Check::Wrong, 0, ""},
            {68, 80, HymnTutor::Check::Wrong, 0, ""},
        };
        for (const auto& c : cases) {
            Rig rig;
            // One right note on step 7 (C) first: streak 1, and the step wraps to G4.
            for (int i = 0; i < 7; ++i)
                rig.tutor.stepForward();
            QCOMPARE(rig.tutor.checkNote(72, 80), HymnTutor::Check::Right);
            QCOMPARE(rig.tutor.stepIndex(), 0);
            rig.take();
            QCOMPARE(rig.tutor.checkNote(c.note, c.velocity), c.result);
            const bool right = c.result == HymnTutor::Check::Right;
            QCOMPARE(std::tuple(rig.tutor.streak(), rig.tutor.hits(), rig.tutor.stepIndex(),
                                rig.tutor.playheadBeats()),
                     std::tuple(c.streak, right ? 2 : 1, right ? 1 : 0, right ? 1.0 : 0.0));
            // A right note first ends the previous chord (C: 48 52 55, 72 not doubled).
            const QString before = u"h48 off, h52 off, h55 off"_s;
            QCOMPARE(rig.take(), right ? before + u", "_s + QString::fromUtf8(c.sounded) : QString());
        }
    }

    // Only wait mode checks notes, when the view or playing engages it; an empty lesson lights nothing.
    void checksOnlyWhenEngagedInWaitMode() {
        Rig rig;
        rig.tutor.setAutoHarmony(false);
        QVERIFY(rig.tutor.checkNote(67, 90) == HymnTutor::Check::Right && rig.take().isEmpty()); // no harmony
        rig.tutor.setEngagedByView(false);
        QCOMPARE(rig.tutor.checkNote(64, 90), HymnTutor::Check::Inactive);
        rig.tutor.setPlaying(true);
        QVERIFY(rig.tutor.isGuideMelodyKey(64) && rig.tutor.guideTarget() == 64);
        rig.tutor.setLearnMode(HymnTutor::playAlongBand);
        QVERIFY(rig.tutor.checkNote(64, 90) == HymnTutor::Check::Inactive && rig.tutor.guideTarget() == -1);
        QVERIFY(rig.tutor.selectLesson(1) && !rig.tutor.selectLesson(2) && !rig.tutor.selectLesson(-1));
        QVERIFY(rig.tutor.currentIndex() == 1 && !rig.tutor.isGuideMelodyKey(60) && !rig.tutor.stepForward());
    }

    // The keys lit are the step's melody note and its chord, as written.
    void guideKeysFollowTheStep() {
        Rig rig;
        auto keys = [&] {
            QStringList on;
            for (int n = 0; n < 128; ++n) {
                if (rig.tutor.isGuideMelodyKey(n)) on << u"m%1"_s.arg(n);
                if (rig.tutor.isGuideChordKey(n)) on << u"c%1"_s.arg(n);
            }
            return on.join(u' ');
        };
        QCOMPARE(keys(), u"c43 c47 c50 c53 m67"_s);
        rig.tutor.stepBackward(); // wraps to the last step
        QCOMPARE(std::tuple(rig.tutor.stepIndex(), rig.tutor.playheadBeats(), keys()),
                 std::tuple(7, 14.0, u"c48 c52 c55 m60"_s));
        rig.tutor.stepBackward();
        QCOMPARE(std::tuple(rig.tutor.playheadBeats(), keys()), std::tuple(10.0, u"c43 c47 c50 c53 m67"_s));
        rig.tutor.checkNote(67, 90);
        QCOMPARE(keys(), u"c48 c52 c55 m60"_s);
        QCOMPARE(rig.take(), u"all, all, h43@72, h47@72, h50@72, h53@72"_s);
        rig.tutor.restart();
        QCOMPARE(rig.take(), u"all, h43 off, h47 off, h50 off, h53 off"_s);
        QCOMPARE(rig.tutor.hits() + rig.tutor.streak() + rig.tutor.stepIndex(), 0);
    }

    // 10 s at 120 BPM in uneven ticks: the 16-beat lesson loops, each step in its tick.
    void playbackFollowsTheElapsedTime() {
        for (int mode : {HymnTutor::autoPlayDemo, HymnTutor::playAlongBand}) {
            Rig rig;
            rig.tutor.setAutoHarmony(false); // playback sounds the chords all the same
            rig.tutor.setLearnMode(mode);
            QCOMPARE(rig.tutor.advance(0.03, 120).moved, false); // not playing yet
            rig.tutor.setPlaying(true);
            rig.take();
            QStringList entered;
            int ticks = 0;
            for (double beats = 0.0; beats < 20.0 - 1e-9; ++ticks) {
                const double tick = std::min(ticks % 3 == 0 ? 0.0343 : 0.0289, (20.0 - beats) / 2.0);
                const int before = rig.tutor.stepIndex();
                const HymnTutor::Advance a = rig.tutor.advance(tick, 120);
                beats += tick * 2.0;
                if (a.entered && (rig.tutor.stepIndex() != before || ticks == 0))
                    entered << u"%1@%2"_s.arg(rig.tutor.stepIndex()).arg(std::floor(beats * 10) / 10);
                QCOMPARE(a.looped, beats >= 16.0 && beats - tick * 2.0 < 16.0);
            }
            QVERIFY(std::abs(rig.tutor.playheadBeats() - 4.0) < 1e-6); // 20 beats, one loop of 16
            QCOMPARE(entered.join(u' '), u"0@0 1@1 2@2 3@3 4@5 5@8 6@10 7@14 0@16 1@17 2@18 3@19"_s);
            const QString log = rig.take();
            QCOMPARE(log.count(u"press 67@102"_s), mode == HymnTutor::autoPlayDemo ? 3 : 0);
            QCOMPARE(log.count(u"h43@76"_s), 3); // G7 of steps 0, 6 and 0 again
            QCOMPARE(log.count(u"all"_s), 1);    // the loop
            rig.tutor.setPlaying(false);
            const QString stop = rig.take();
            QVERIFY(stop.startsWith(u"all"_s) && stop.contains(u"h48 off"_s));
            QCOMPARE(stop.contains(u"release 60"_s), mode == HymnTutor::autoPlayDemo);
        }
        // Wait mode and a stopped lesson do not move.
        Rig rig;
        rig.tutor.setPlaying(true);
        QCOMPARE(rig.tutor.advance(1.0, 120).moved, false);
        QCOMPARE(rig.tutor.playheadBeats(), 0.0);
    }
};

QTEST_GUILESS_MAIN(HymnTutorTest)
#include "tst_hymn_tutor.moc"
