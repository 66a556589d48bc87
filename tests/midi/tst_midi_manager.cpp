// The MIDI input manager without a sequencer: ports, start-up failure, event decoding.

#include "midi/MidiManager.h"

#include <alsa/asoundlib.h>

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <tuple>
#include <vector>

using namespace tmb;

namespace {

constexpr unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr std::uint64_t t0 = 10'000'000;

MidiPortDescriptor listed(int client, int port, const char* clientName, const char* portName,
                          bool connected) {
    MidiPortDescriptor d = *describeMidiPort(client, port, clientName, portName, readable);
    d.isConnected = connected;
    return d;
}

// Records what reaches the realtime callback, the mapping check and the control-mapped callback.
class ProbedManager : public MidiManager {
public:
    ProbedManager() {
        setRtMidiCallback([this](const MidiEvent& e) { played.push_back(e); });
        setControlMappedCallback([this](const QString& target, float v) { mapped.emplace_back(target, v); });
        replacePortList({listed(20, 0, "Stage Keys", "Stage Keys MIDI 1", true),
                         listed(20, 1, "Stage Keys", "MIDI 2", true),
                         listed(24, 0, "SAMSON Graphite 49", "Graphite 49 MIDI 1", true),
                         listed(24, 1, "SAMSON Graphite 49", "Graphite 49 DAW", true),
                         listed(30, 0, "Idle Box", "Idle", false)});
    }
    void checkControllerMappings(const MidiEvent& e) override { offered.push_back(e); }
    void feed(const snd_seq_event_t& ev, std::uint64_t at) { handleAlsaEvent(&ev, at); }
    QStringList log() const {
        QStringList lines;
        for (const QVariant& v : activityLogAsVariantList())
            lines << v.toString();
        return lines;
    }
    std::vector<MidiEvent> played, offered;
    std::vector<std::pair<QString, float>> mapped;
};

snd_seq_event_t fromPort(int client, int port, snd_seq_event_type_t type) {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    ev.type = type;
    ev.source = {static_cast<unsigned char>(client), static_cast<unsigned char>(port)};
    return ev;
}
snd_seq_event_t note(int client, int port, bool on, int key, int velocity, int channel = 0) {
    snd_seq_event_t ev = fromPort(client, port, on ? SND_SEQ_EVENT_NOTEON : SND_SEQ_EVENT_NOTEOFF);
    snd_seq_ev_set_noteon(&ev, channel, key, velocity);
    ev.type = on ? SND_SEQ_EVENT_NOTEON : SND_SEQ_EVENT_NOTEOFF;
    return ev;
}
snd_seq_event_t control(int client, int port, snd_seq_event_type_t type, int param, int value) {
    snd_seq_event_t ev = fromPort(client, port, type);
    ev.data.control.param = static_cast<unsigned>(param);
    ev.data.control.value = value;
    return ev;
}
snd_seq_event_t sysex(std::vector<unsigned char>& bytes) {
    snd_seq_event_t ev = fromPort(20, 0, SND_SEQ_EVENT_SYSEX);
    snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(bytes.size()), bytes.data());
    return ev;
}
snd_seq_event_t announcement(snd_seq_event_type_t type, int client, int port) {
    snd_seq_event_t ev = fromPort(SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE, type);
    ev.data.addr = {static_cast<unsigned char>(client), static_cast<unsigned char>(port)};
    return ev;
}

} // namespace

class MidiManagerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Samson and Bluetooth devices by any of their names; hidden ports and clients; controller ports.
    void devicesCapabilitiesAndControllerPorts() {
        QVERIFY(describeMidiPort(20, 0, "Yamaha hub", "graphite 49", readable)->isSamsonGraphite49);
        QVERIFY(describeMidiPort(20, 0, "nRF", "BLE-MIDI", readable)->isBluetooth);
        QVERIFY(!describeMidiPort(20, 0, "USB MIDI Cable", "MIDI 1", readable)->isBluetooth); // not "ble"
        QVERIFY(!describeMidiPort(20, 0, "Kbd", "p", readable | SND_SEQ_PORT_CAP_NO_EXPORT));
        QVERIFY(!describeMidiPort(20, 0, "Kbd", "p", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE));
        const auto in = describeMidiPort(20, 0, "  Kbd ", " MIDI 1  ", readable);
        QVERIFY(in->isInput && !in->isOutput && !in->isControllerPort);
        QVERIFY(describeMidiPort(20, 1, "Kbd", "Synth", writable)->isOutput);
        QCOMPARE(describeMidiPort(9, 3, " A%2 ", "B%1", readable)->displayName,
                 QStringLiteral("A%2 \u2014 B%1 [9:3]"));

        QVERIFY(describeMidiPort(20, 0, "Kbd", "Kbd daw out", readable)->isControllerPort);
        QVERIFY(describeMidiPort(20, 1, "Kbd", "MACKIE Control", readable)->isControllerPort);
        QVERIFY(!describeMidiPort(20, 1, "DAW Kbd", "MIDI 2", readable)->isControllerPort);
        QVERIFY(describeMidiPort(20, 2, "Kbd", "MIDI 3", readable)->isControllerPort);

        QVERIFY(isHiddenMidiClient("pipewire-RT-Event") && isHiddenMidiClient("midi through"));
        QVERIFY(!isHiddenMidiClient("Midi Through Box") && !isHiddenMidiClient("My PipeWire-Keys"));
    }

    void startFailsCleanlyWithoutASequencer() {
        if (QFile::exists("/dev/snd/seq")) QSKIP("this machine has an ALSA sequencer");
        MidiManager m;
        m.replacePortList({listed(24, 0, "CH345", "MIDI 1", false)});
        QSignalSpy changed(&m, &MidiManager::devicesChanged);
        QVERIFY(!m.start() && !m.isRunning());
        m.scanAndAutoConnect();
        QVERIFY(!m.connectPort(24, 0) && !m.disconnectPort(24, 0));
        QCOMPARE(changed.count(), 0);
        m.stop();
    }

    // A copy on the device's second port within 2 ms is dropped.
    void notesDuplicatesAndNoteOffs() {
        ProbedManager m;
        m.feed(note(20, 0, true, 60, 90), t0);
        m.feed(note(20, 1, true, 60, 90), t0 + 1999); // the device's copy
        QCOMPARE(m.played.size(), 1u);
        m.feed(note(20, 1, true, 60, 90), t0 + 2000); // a second strike
        m.feed(note(20, 1, true, 60, 90), t0 + 2100); // same port again: never a copy
        QCOMPARE(m.played.size(), 3u);
        m.feed(control(20, 0, SND_SEQ_EVENT_CONTROLLER, 7, 64), t0 + 5000);
        m.feed(control(20, 1, SND_SEQ_EVENT_CONTROLLER, 7, 64), t0 + 5500);
        QCOMPARE(m.played.size(), 4u);
        QCOMPARE(m.played.back().timestampUs, t0 + 5000);

        // Velocity 0 is a note off; only note ons go to the mappings; offs lose their velocity.
        m.played.clear();
        m.offered.clear();
        m.feed(note(20, 0, true, 61, 0, 2), t0 + 20'000);
        QVERIFY(m.played.at(0).status == MidiEvent::NoteOff && m.played.at(0).channel == 2);
        QVERIFY(m.log().at(0).endsWith("| Ch 3 | NoteOff: 61 (C#4)  val=0"));
        QCOMPARE(m.offered.size(), 1u);
        m.feed(note(20, 0, false, 61, 64), t0 + 30'000);
        QCOMPARE(m.played.at(1).data2, 0);
        QCOMPARE(m.offered.size(), 1u);

        // Program change and aftertouch play but reach no mapping; the log keeps its latest lines.
        m.feed(control(20, 0, SND_SEQ_EVENT_PGMCHANGE, 0, 5), t0 + 40'000);
        m.feed(control(20, 0, SND_SEQ_EVENT_CHANPRESS, 0, 77), t0 + 40'000);
        QVERIFY(m.played.size() == 4 && m.played[2].data1 == 5 && m.played[3].data1 == 77 &&
                m.played.back().status == MidiEvent::ChannelPressure && m.offered.size() == 1u);
        for (int i = 0; i < 100; ++i)
            m.feed(note(20, 0, true, i, 1 + i), t0 + 100'000 + i * 10'000);
        QCOMPARE(m.log().size(), MidiManager::maxActivityLogLines);
        QVERIFY(m.log().first().endsWith("NoteOn: 99 (D#7)  val=100"));
        m.clearActivityLog();
        QVERIFY(m.log().isEmpty());
    }

    // The DAW port's notes and bend go to the mappings only, its CC plays too; a bend while a fader
    // is touched, or soon after, moves the fader; later it plays.
    void controlSurfacePortsAndFaderTouch() {
        ProbedManager m;
        m.feed(note(24, 1, true, 36, 100), t0);
        m.feed(note(24, 1, false, 36, 0), t0 + 10'000);
        m.feed(control(24, 1, SND_SEQ_EVENT_PITCHBEND, 0, 1200), t0 + 20'000);
        m.feed(control(24, 1, SND_SEQ_EVENT_CONTROLLER, 1, 40), t0 + 30'000);
        QVERIFY(m.played.size() == 1 && m.played[0].status == MidiEvent::ControlChange);
        QVERIFY(m.offered.size() == 3 && m.offered[1].pitchBend == 1200);
        ProbedManager f;
        const auto bend = control(20, 0, SND_SEQ_EVENT_PITCHBEND, 0, -300);
        f.feed(note(24, 0, true, 104, 127), t0);
        f.feed(bend, t0 + 5'000'000); // touched, however long
        f.feed(note(24, 0, false, 104, 0), t0 + 6'000'000);
        f.feed(bend, t0 + 6'400'000);
        QVERIFY(f.played.empty() && f.offered.size() == 2 && f.offered[1].fromControllerPort);
        f.feed(bend, t0 + 6'600'000);
        f.feed(control(20, 0, SND_SEQ_EVENT_PITCHBEND, 0, 20000), t0 + 7'000'000);
        f.feed(note(20, 0, true, 104, 80), t0 + 8'000'000); // on an ordinary keyboard 104 is a note
        QCOMPARE(f.played.size(), 3u);
        QVERIFY(f.played[0].pitchBend == -300 && f.played[1].pitchBend == 8191 && f.played[2].data1 == 104);
    }

    // Master volume and MMC transport; unknown, short or broken messages map nothing.
    void systemExclusiveMasterVolumeAndTransport() {
        ProbedManager m;
        std::vector<std::vector<unsigned char>> messages{
            {0xF0, 0x7F, 0x10, 0x04, 0x01, 0x00, 0x64, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x02, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x03, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x09, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x06, 0xF7},
            {0xF0, 0x7F, 0x7F, 0x06, 0x44, 0xF7},       // locate: no action
            {0xF0, 0x7F, 0x7F, 0x06, 0x02},             // too short
            {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7},       // not real-time
            {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0xF7}, // volume without its MSB
            {0x7F, 0x7F, 0x7F, 0x06, 0x02, 0xF7}};      // no F0
        for (auto& bytes : messages)
            m.feed(sysex(bytes), t0);
        snd_seq_event_t missing = sysex(messages[0]);
        missing.data.ext.ptr = nullptr;
        m.feed(missing, t0);
        QStringList mapped;
        for (const auto& [target, value] : m.mapped)
            mapped << QStringLiteral("%1=%2").arg(target).arg(value);
        QCOMPARE(mapped.join(u' '), QStringLiteral("mixer.master.volume=%1 transport.stop=1 transport.play=1 "
                                                   "transport.play=1 transport.play=1 transport.record=1")
                                        .arg(100.0f / 127.0f));
    }

    void resetOnlyWhenAConnectedSourceGoesAway() {
        ProbedManager m;
        const std::vector<std::tuple<snd_seq_event_type_t, int, int, std::size_t>> cases{
            {SND_SEQ_EVENT_CLIENT_EXIT, 99, 0, 0}, // another program quits
            {SND_SEQ_EVENT_CLIENT_EXIT, 30, 0, 0}, // listed but not connected
            {SND_SEQ_EVENT_PORT_EXIT, 20, 5, 0},   // a port we never listened to
            {SND_SEQ_EVENT_PORT_START, 20, 0, 0},  {SND_SEQ_EVENT_CLIENT_START, 20, 0, 0},
            {SND_SEQ_EVENT_PORT_EXIT, 24, 1, 1},   // the controller's DAW port leaves
            {SND_SEQ_EVENT_CLIENT_EXIT, 20, 0, 2}, // the keyboard is unplugged
        };
        for (auto [type, client, port, resets] : cases) {
            m.feed(announcement(type, client, port), t0);
            QCOMPARE(m.played.size(), resets);
        }
        QVERIFY(std::all_of(m.played.begin(), m.played.end(),
                            [](auto& e) { return e.status == MidiEvent::Reset; }));
        QVERIFY(m.log().isEmpty());
        QCoreApplication::processEvents(); // the queued rescans run, without a sequencer harmlessly

        // An unsubscription counts only when it fed this program's own input port.
        auto unsubscribed = fromPort(0, 1, SND_SEQ_EVENT_PORT_UNSUBSCRIBED);
        unsubscribed.data.connect = {{20, 0}, {128, 0}};
        QVERIFY(MidiManager::announcementRemovesSource(unsubscribed, {}, 128, 0));
        QVERIFY(!MidiManager::announcementRemovesSource(unsubscribed, {}, 129, 0));
        QVERIFY(!MidiManager::announcementRemovesSource(unsubscribed, {}, 128, 1));
        m.feed(unsubscribed, t0); // not started: no own port
        QCOMPARE(m.played.size(), 2u);
    }
};

QTEST_GUILESS_MAIN(MidiManagerTest)
#include "tst_midi_manager.moc"
