// Controller mappings: actions per event, MIDI learn, what the controller does, the hop;
// the computer keys through the key filter: one note per hold whatever auto-repeat sends.

#include "AppTestWorld.h"
#include "app/ComputerKeyboard.h"
#include "app/WorkstationController.h"
#include "midi/MidiManager.h"
#include "support/TestEnvironment.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QQuickWindow>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// "cc 1 73 127", "note 0 36 100", "bend 2 -8192"; a trailing '*' on the kind marks
// a control-surface port.
MidiEvent ev(const char* text) {
    const QStringList f = QString::fromLatin1(text).split(u' ');
    const int channel = f[1].toInt(), a = f[2].toInt(), b = f.value(3).toInt();
    MidiEvent e = f[0].startsWith(u"cc")     ? MidiEvent::controlChange(channel, a, b)
                  : f[0].startsWith(u"note") ? MidiEvent::noteOn(channel, a, b)
                                             : MidiEvent::pitchBendEvent(channel, a);
    e.fromControllerPort = f[0].endsWith(u'*');
    return e;
}

// Every action an event yields, as "target=value"; the signal must carry the same
// actions as the callback.
QString actionsOf(MidiManager& m, const char* event) {
    QStringList fromCallback, fromSignal;
    m.setControlMappedCallback(
        [&](const QString& t, float v) { fromCallback << u"%1=%2"_s.arg(t).arg(v, 0, 'g', 3); });
    QSignalSpy spy(&m, &MidiManager::controllerMappedAction);
    m.checkControllerMappings(ev(event));
    for (const QList<QVariant>& args : spy)
        fromSignal << u"%1=%2"_s.arg(args[0].toString()).arg(args[1].toFloat(), 0, 'g', 3);
    return fromSignal == fromCallback ? fromCallback.join(u' ') : u"signal differs"_s;
}

struct EventCase {
    const char* event;
    const char* actions;
};
// clang-format off
const EventCase kEventCases[] = {
    {"cc 1 73 127", "mixer.piano.volume=1"}, {"cc 0 70 0", "piano.lidPosition=0.1"},
    {"cc 0 33 127", "piano.roomSize=0.98"}, {"cc 0 10 64", "piano.stereoWidth=0.855"},
    {"cc 1 10 64", "piano.lidPosition=0.504 piano.stereoWidth=0.855"},
    {"cc 9 10 127", "piano.delay=1 piano.stereoWidth=1.5"}, {"cc 0 7 127", "mixer.master.volume=1"},
    {"cc 3 7 0", "mixer.beats.volume=0 mixer.master.volume=0"},
    {"cc 15 7 127", "mixer.master.volume=1 mixer.master.volume=1"},
    {"cc 0 64 127", ""}, // the sustain pedal turns no knob
    {"cc 2 11 127", "mixer.piano.volume=1"}, {"cc 0 2 127", "piano.damperResonance=1"},
    {"cc 5 48 0", "piano.brightness=0"}, {"cc 0 119 127", "piano.stereoWidth=1"},
    {"cc 0 117 127", "transport.play=1"}, {"cc 0 117 0", "transport.play=0"},
    {"note 0 36 127", "pad.kick=1"}, // a keyboard's lowest C fires the kick too
    {"note* 0 36 127", ""}, {"note* 9 49 127", "pad.fill=1"}, {"note 0 36 0", ""},
    {"note* 0 94 127", "transport.play=1"}, {"note 3 94 127", ""}, {"note 9 94 64", "transport.play=0.504"},
    {"bend* 0 8191", "mixer.piano.volume=1"}, {"bend* 2 -8192", "mixer.split.volume=0"},
    {"bend* 12 0", "mixer.master.volume=0.5"}, {"bend 0 8191", ""},
};
// clang-format on

// One controller in turn: the action, the properties it leaves ("ch4": the LV2 strip's
// volume) and the text shown and announced. A transport button acts only when pressed
// (above 0.5): its release does nothing at all (""). An unknown target changes nothing
// but announces the last text again.
struct ActionCase {
    const char* target;
    float value;
    const char* properties;
    const char* expected;
    const char* text;
};
const ActionCase kActionCases[] = {
    {"transport.play", 0.5f, "beatPlaying studioRecording", "false false", ""},
    {"mixer.master.volume", 0.5f, "masterVolume", "0.5", "Master Fader S9 → 50%"},
    {"mixer.lv2.volume", 0.75f, "ch4", "0.75", "Fader S5 (DrumGizmo LV2) → 75%"},
    {"piano.lidPosition", 0.0f, "lidPosition", "0.1", "Knob E2 (Grand Lid) → 0%"},
    {"piano.reverb", 0.77f, "reverbAmount", "0.77", "Knob E5 (Hall Reverb) → 77%"},
    {"piano.roomSize", 1.0f, "reverbRoomSize", "0.98", "Knob E6 (Room Size) → 100%"},
    {"pad.snare", 100 / 127.0f, "activePadIndex", "1", "Pad P2 (Snare) • Vel 100"},
    {"pad.hihat", 1 / 127.0f, "activePadIndex", "2", "Pad P3 (Hi-Hat) • Vel 1"},
    {"pad.fill", 1.0f, "", "", "Pad P4 (Drum Fill Triggered)"},
    {"transport.play", 1.0f, "beatPlaying studioRecording", "true false", "Transport PLAY → PLAYING"},
    {"transport.play", 0.9f, "beatPlaying studioRecording", "false false", "Transport PLAY → PAUSED"},
    {"transport.play", 1.0f, "beatPlaying studioRecording", "true false", "Transport PLAY → PLAYING"},
    {"transport.stop", 0.0f, "beatPlaying studioRecording", "true false", ""},
    {"transport.stop", 1.0f, "beatPlaying studioRecording", "false false", "Transport STOP"},
    {"transport.record", 1.0f, "beatPlaying studioRecording", "false true", "Transport RECORD → REC ON"},
    {"transport.record", 0.2f, "beatPlaying studioRecording", "false true", ""},
    {"transport.stop", 1.0f, "beatPlaying studioRecording", "false false", "Transport STOP"},
    {"transport.record", 1.0f, "beatPlaying studioRecording", "false true", "Transport RECORD → REC ON"},
    {"transport.record", 1.0f, "beatPlaying studioRecording", "false false", "Transport RECORD → STOPPED"},
    {"mixer.unknown", 0.1f, "masterVolume", "0.5", "Transport RECORD → STOPPED"},
};

} // namespace

class ControllerMappingsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        test::usePrivateHome();
        m_controller = std::make_unique<WorkstationController>();
        m_keys = std::make_unique<ComputerKeyboard>(*m_controller);
        qApp->installEventFilter(m_keys.get());
        // Each key lighting and going dark (its released voice reports it once more).
        connect(m_controller.get(), &WorkstationController::keyStateUpdated, this,
                [this](int note, bool pressed, int velocity) {
                    if (pressed) {
                        m_log << u"on %1 %2"_s.arg(note).arg(velocity);
                        m_lit.insert(note);
                    } else if (m_lit.remove(note)) {
                        m_log << u"off %1"_s.arg(note);
                    }
                });
        connect(m_controller.get(), &WorkstationController::pedalStateChanged, this,
                [this] { m_log << u"sustain %1"_s.arg(m_controller->sustainPedal()); });
    }
    void cleanup() {
        m_keys->releaseAll();
        m_log.clear();
    }
    void cleanupTestCase() {
        m_keys.reset();
        m_controller.reset();
    }

    // Events, each with its key ('~' Space; a trailing '^': Ctrl held): P press, p flagged
    // repeat press, R release, r flagged repeat release; _ a pause longer than the grace
    // time (the notes still held are logged), F the window loses the focus (key-ups go
    // elsewhere: everything is let go), D the rest goes to a dialog window (one with a
    // parent window: it keeps its keys). Then the log once everything settled.
    void heldKeysSoundOnce_data() {
        QTest::addColumn<QString>("events");
        QTest::addColumn<QString>("expected");
        const QString once = u"on 48 106|off 48"_s;
        QTest::newRow("tap") << u"PZ RZ"_s << once;
        QTest::newRow("x11 flagged pairs") << u"PZ rZ pZ rZ pZ rZ pZ rZ pZ RZ"_s << once;
        QTest::newRow("x11 pairs the platform did not flag") << u"PZ RZ PZ RZ PZ rZ pZ RZ"_s << once;
        QTest::newRow("wayland flagged presses") << u"PZ pZ pZ pZ pZ pZ RZ"_s << once;
        QTest::newRow("presses without releases") << u"PZ PZ PZ RZ"_s << once;
        QTest::newRow("a real second strike") << u"PZ RZ _ PZ RZ"_s << once + u"|"_s + once;
        QTest::newRow("repeat of a key never seen down") << u"pZ pZ rZ"_s << QString();
        QTest::newRow("shifted digit on its own key") << u"P@ R@"_s << u"on 61 106|off 61"_s;
        QTest::newRow("top key") << u"PI pI RI"_s << u"on 72 106|off 72"_s;
        QTest::newRow("space holds the pedal") << u"P~ r~ p~ R~ P~ p~ p~ R~"_s << u"sustain 1|sustain 0"_s;
        QTest::newRow("not a musical key") << u"PL RL"_s << QString();
        // The comma and Q both play C4: it sounds until the last of them goes up.
        QTest::newRow("keys sharing a note") << u"P,^ PQ R, _ RQ"_s << u"on 60 74|on 60 106|held 60|off 60"_s;
        QTest::newRow("focus lost") << u"PE P~ F"_s << u"on 64 106|sustain 1|off 64|sustain 0"_s;
        QTest::newRow("a dialog keeps its keys") << u"D PE RE"_s << QString();
    }
    void heldKeysSoundOnce() {
        QFETCH(QString, events);
        QFETCH(QString, expected);
        QQuickWindow window, dialog;
        dialog.setTransientParent(&window);
        QWindow* target = &window;
        for (const QString& event : events.split(u' ')) {
            if (event == u"_"_s) {
                QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
                for (int note : std::as_const(m_lit))
                    if (m_controller->isKeyPressed(note)) m_log << u"held %1"_s.arg(note);
            } else if (event == u"F"_s) {
                QFocusEvent focusOut(QEvent::FocusOut);
                QCoreApplication::sendEvent(target, &focusOut);
            } else if (event == u"D"_s) {
                target = &dialog;
            } else {
                const int key = event[1] == u'~' ? int(Qt::Key_Space) : event[1].unicode();
                QKeyEvent keyEvent(event[0].toUpper() == u'P' ? QEvent::KeyPress : QEvent::KeyRelease, key,
                                   event.endsWith(u'^') ? Qt::ControlModifier : Qt::NoModifier, QString(),
                                   event[0].isLower());
                QCoreApplication::sendEvent(target, &keyEvent);
            }
        }
        QTest::qWait(3 * ComputerKeyboard::releaseGraceMs);
        QCOMPARE(m_log.join(u'|'), expected);
        QVERIFY(m_lit.isEmpty() && !m_controller->sustainPedal());
    }

    void eventsYieldActions() {
        QStringList wrong;
        for (const EventCase& c : kEventCases) {
            MidiManager m;
            const QString got = actionsOf(m, c.event);
            if (got != QLatin1String(c.actions)) wrong << u"%1 gave '%2'"_s.arg(c.event, got);
        }
        // Bank select, modulation, the pedals and the mode messages never fall back.
        MidiManager unmapped;
        unmapped.setMappings({});
        for (int cc : {0, 1, 32, 64, 66, 67, 120, 127})
            if (!actionsOf(unmapped, qPrintable(u"cc %1 %2 90"_s.arg(cc % 3).arg(cc))).isEmpty())
                wrong << QString::number(cc);
        QCOMPARE(wrong.join(u'\n'), QString());
    }

    void learnRewritesOrAppendsAndConsumesItsEvent() {
        MidiManager m;
        QSignalSpy learned(&m, &MidiManager::midiLearnCompleted);
        // A row that exists is rewritten in place: the CC row of transport.play.
        m.startMidiLearn(u"transport.play"_s, u"Play Button"_s);
        QCOMPARE(actionsOf(m, "bend* 0 100"), u"mixer.piano.volume=0.506"_s); // not learnable
        QCOMPARE(actionsOf(m, "note 0 60 90"), QString());                    // nor is a keyboard note
        QCOMPARE(actionsOf(m, "cc 4 117 127"), QString());
        QVERIFY(!m.isMidiLearnActive());
        QCOMPARE(learned.takeFirst(), (QList<QVariant>{u"Play Button (CC 117)"_s, u"transport.play"_s}));
        QCOMPARE(m.mappings().size(), 50u);
        QCOMPARE(m.mappings()[41].controlName, u"Play Button (CC 117)"_s);
        QCOMPARE(actionsOf(m, "cc 0 117 127"), u"transport.play=1"_s);
        // A new target is appended, here from a surface note, with the full range.
        m.startMidiLearn(u"mixer.style.volume"_s, u"Style"_s);
        QCOMPARE(actionsOf(m, "note* 2 60 100"), QString());
        QVERIFY((m.mappings().back() ==
                 MidiControllerMapping{60, true, true, u"Style (Note 60)"_s, u"mixer.style.volume"_s, 0, 1}));
        // A pad row moved to a free controller no longer fires from the keyboard's note.
        m.startMidiLearn(u"pad.kick"_s, u"Kick"_s);
        QCOMPARE(actionsOf(m, "cc 0 102 5"), QString());
        QCOMPARE(actionsOf(m, "note 0 36 127") + actionsOf(m, "cc 0 102 127"), u"pad.kick=1"_s);
        QCOMPARE(m.mappings().size(), 51u);
        // A cancelled learn leaves the next control to its mapping.
        m.startMidiLearn(u"piano.drive"_s, u"Warmth"_s);
        m.cancelMidiLearn();
        QCOMPARE(actionsOf(m, "cc 0 73 127"), u"mixer.piano.volume=1"_s);
        QCOMPARE(learned.size(), 2);
    }

    void controllerAppliesAndReportsActions() {
        WorkstationController c;
        for (const ActionCase& a : kActionCases) {
            const QString text = *a.text ? QString::fromUtf8(a.text) : c.lastMidiControlText();
            QSignalSpy banner(&c, &WorkstationController::statusBannerChanged);
            QSignalSpy activity(&c, &WorkstationController::midiActivityChanged);
            c.handleMappedControllerAction(QString::fromLatin1(a.target), a.value);
            const QString left = qstrcmp(a.properties, "ch4") == 0 ? QString::number(c.channelVolume(4))
                                                                   : test::props(c, a.properties);
            QCOMPARE(u"%1 %2 %3"_s.arg(a.target, left, c.lastMidiControlText()),
                     u"%1 %2 %3"_s.arg(a.target, a.expected, text));
            QCOMPARE(u"%1 %2"_s.arg(banner.size() > 0).arg(activity.size() > 0),
                     *a.text ? u"1 1"_s : u"0 0"_s);
            if (*a.text) QCOMPARE(c.statusBanner(), text);
        }
    }

    // From the MIDI thread through the queued hop: the sustain pedal turns no knob,
    // learn and reset report themselves.
    void hardwareReachesTheControllerAfterTheHop() {
        WorkstationController c;
        auto fromMidiThread = [&](const char* event) {
            std::thread midi([&] { c.midiManager().checkControllerMappings(ev(event)); });
            midi.join();
            QCoreApplication::processEvents();
        };
        c.setKeyOffVolume(0.35f);
        fromMidiThread("cc 0 7 64");
        for (const char* pedal : {"cc 0 64 127", "cc 0 64 0", "cc 1 64 90", "cc 1 64 0"})
            fromMidiThread(pedal);
        QCOMPARE(c.keyOffVolume(), 0.35f);
        QCOMPARE(c.lastMidiControlText(), u"Master Fader S9 → 50%"_s);

        c.startMidiLearn(u"transport.play"_s, u"Play Button"_s);
        QVERIFY(c.midiLearnActive() && c.midiLearnTarget() == u"Play Button"_s);
        fromMidiThread("cc 0 117 127");
        QCOMPARE(c.statusBanner(), u"MIDI Learn Mapped: Play Button (CC 117) -> transport.play"_s);
        QVERIFY(!c.midiLearnActive() && !c.beatPlaying());
        c.startMidiLearn(u"piano.drive"_s, u"Warmth"_s);
        c.cancelMidiLearn();
        QVERIFY(!c.midiLearnActive());
        c.resetSamsonProfile();
        QCOMPARE(c.controllerMappings().at(41).toMap().value(u"controlName"_s),
                 u"Graphite Transport Play (CC 117)"_s);
    }

private:
    std::unique_ptr<WorkstationController> m_controller;
    std::unique_ptr<ComputerKeyboard> m_keys;
    QStringList m_log;
    QSet<int> m_lit;
};

QTEST_MAIN(ControllerMappingsTest)
#include "tst_controller_mappings.moc"
