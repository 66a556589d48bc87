// Controller mappings: the Samson Graphite 49 profile, MIDI learn and the check
// that turns control changes, note ons and fader pitch bends into actions.

#include "MidiManager.h"

#include <QVariantMap>

#include <algorithm>
#include <array>
#include <utility>

namespace tmb {

namespace {

const std::array<const char*, 7> kStripTargets = {
    "mixer.piano.volume", "mixer.layer2.volume", "mixer.split.volume", "mixer.beats.volume",
    "mixer.lv2.volume",   "mixer.aux.volume",    "mixer.master.volume"};
// Indexed by channel − 1.
const std::array<const char*, 7> kChVolumeTargets = {
    "mixer.layer2.volume", "mixer.split.volume",  "mixer.beats.volume", "mixer.lv2.volume",
    "mixer.aux.volume",    "mixer.master.volume", "mixer.master.volume"};
const std::array<const char*, 7> kChEncoderTargets = {
    "piano.lidPosition", "piano.damperResonance", "piano.stringResonance",
    "piano.reverb",      "piano.roomSize",        "piano.chorus",
    "piano.delay"};
const std::array<const char*, 12> kFallbackKnobs = {
    "piano.brightness",      "piano.lidPosition",  "piano.damperResonance",
    "piano.stringResonance", "piano.keyOffVolume", "piano.pedalNoiseVolume",
    "piano.reverb",          "piano.roomSize",     "piano.chorus",
    "piano.delay",           "piano.drive",        "piano.stereoWidth"};

// Controllers that never fall back to a knob: bank select, modulation, the pedals
// (sustain among them: its lifts would otherwise write the key-off volume) and the
// channel mode messages.
bool keepsOutOfFallback(int controller) {
    return controller == 0 || controller == 1 || controller == 32 || controller == 64 || controller == 66 ||
           controller == 67 || controller >= 120;
}

MidiControllerMapping cc(int number, const QString& name, const char* target, float lo = 0.0f,
                         float hi = 1.0f) {
    return {number, false, false, name.arg(number), QString::fromLatin1(target), lo, hi};
}

MidiControllerMapping note(int number, const QString& name, const char* target, bool fromControllerPort) {
    return {number, true, fromControllerPort, name.arg(number), QString::fromLatin1(target), 0.0f, 1.0f};
}

std::vector<MidiControllerMapping> samsonGraphite49Profile() {
    std::vector<MidiControllerMapping> m;
    m.push_back(cc(7, QStringLiteral("Master Fader S9 (CC %1)"), "mixer.master.volume"));
    const std::pair<int, const char*> faders[] = {{73, "S1"}, {75, "S2"}, {72, "S3"},  {76, "S4"},
                                                  {77, "S5"}, {78, "S6"}, {79, "S7/8"}};
    for (std::size_t i = 0; i < std::size(faders); ++i)
        m.push_back(cc(faders[i].first, QStringLiteral("Graphite Fader %1 (CC %2)").arg(faders[i].second),
                       kStripTargets[i]));
    for (int i = 0; i < 4; ++i)
        m.push_back(cc(12 + i, QStringLiteral("Fader S%1 Alt (CC %2)").arg(i + 1), kStripTargets[i]));
    for (int i = 0; i < 8; ++i)
        m.push_back(
            cc(20 + i, QStringLiteral("Fader S%1 Bank (CC %2)").arg(i + 1), kStripTargets[std::min(i, 6)]));
    m.push_back(cc(74, QStringLiteral("Encoder E1 Brightness (CC %1)"), "piano.brightness"));
    m.push_back(cc(71, QStringLiteral("Encoder E2 Resonance (CC %1)"), "piano.damperResonance"));
    m.push_back(cc(91, QStringLiteral("Encoder E3 Reverb (CC %1)"), "piano.reverb"));
    m.push_back(cc(93, QStringLiteral("Encoder E4 Chorus (CC %1)"), "piano.chorus"));
    m.push_back(cc(94, QStringLiteral("Encoder E5 Delay (CC %1)"), "piano.delay"));
    m.push_back(cc(10, QStringLiteral("Encoder E6 Stereo Width (CC %1)"), "piano.stereoWidth", 0.2f, 1.5f));
    m.push_back(cc(70, QStringLiteral("Encoder E7 Lid Pos (CC %1)"), "piano.lidPosition", 0.1f, 1.0f));
    m.push_back(cc(84, QStringLiteral("Encoder E8 Warmth (CC %1)"), "piano.drive"));
    // The four plain encoders and the eight alternates: brightness first, then the
    // channel encoder targets, with the lid and the room kept to their ranges.
    const float lo[8] = {0.0f, 0.1f, 0.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f};
    const float hi[8] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.98f, 1.0f, 1.0f};
    auto encoderTarget = [](int i) {
        return i == 0 ? "piano.brightness" : kChEncoderTargets[i - 1];
    };
    for (int i = 0; i < 4; ++i)
        m.push_back(
            cc(16 + i, QStringLiteral("Encoder E%1 (CC %2)").arg(i + 1), encoderTarget(i), lo[i], hi[i]));
    for (int i = 0; i < 8; ++i)
        m.push_back(
            cc(28 + i, QStringLiteral("Encoder E%1 Alt (CC %2)").arg(i + 1), encoderTarget(i), lo[i], hi[i]));
    m.push_back(cc(116, QStringLiteral("Graphite Transport Stop (CC %1)"), "transport.stop"));
    m.push_back(cc(117, QStringLiteral("Graphite Transport Play (CC %1)"), "transport.play"));
    m.push_back(cc(118, QStringLiteral("Graphite Transport Record (CC %1)"), "transport.record"));
    m.push_back(note(93, QStringLiteral("Mackie Stop (Note %1)"), "transport.stop", true));
    m.push_back(note(94, QStringLiteral("Mackie Play (Note %1)"), "transport.play", true));
    m.push_back(note(95, QStringLiteral("Mackie Record (Note %1)"), "transport.record", true));
    m.push_back(note(36, QStringLiteral("Graphite Pad P1 Kick (Note %1)"), "pad.kick", false));
    m.push_back(note(38, QStringLiteral("Graphite Pad P2 Snare (Note %1)"), "pad.snare", false));
    m.push_back(note(42, QStringLiteral("Graphite Pad P3 Hi-Hat (Note %1)"), "pad.hihat", false));
    m.push_back(note(49, QStringLiteral("Graphite Pad P4 Fill/Crash (Note %1)"), "pad.fill", false));
    return m;
}

} // namespace

void MidiManager::resetSamsonGraphite49DefaultProfile() {
    std::vector<MidiControllerMapping> profile = samsonGraphite49Profile();
    std::lock_guard lock(m_mutex);
    m_mappings = std::move(profile);
}

void MidiManager::setMappings(std::vector<MidiControllerMapping> mappings) {
    std::lock_guard lock(m_mutex);
    m_mappings = std::move(mappings);
}

std::vector<MidiControllerMapping> MidiManager::mappings() const {
    std::lock_guard lock(m_mutex);
    return m_mappings;
}

QVariantList MidiManager::controllerMappingsAsVariantList() const {
    QVariantList list;
    for (const MidiControllerMapping& m : mappings()) {
        QVariantMap map;
        map.insert(QStringLiteral("ccOrNote"), m.ccOrNote);
        map.insert(QStringLiteral("isNote"), m.isNote);
        map.insert(QStringLiteral("fromControllerPort"), m.fromControllerPort);
        map.insert(QStringLiteral("controlName"), m.controlName);
        map.insert(QStringLiteral("targetParameter"), m.targetParameter);
        map.insert(QStringLiteral("minValue"), m.minValue);
        map.insert(QStringLiteral("maxValue"), m.maxValue);
        list.push_back(map);
    }
    return list;
}

void MidiManager::startMidiLearn(const QString& targetParameter, const QString& friendlyName) {
    std::lock_guard lock(m_mutex);
    m_learnTarget = targetParameter;
    m_learnFriendlyName = friendlyName;
    m_learnActive.store(true);
}

QString MidiManager::midiLearnTarget() const {
    std::lock_guard lock(m_mutex);
    return m_learnFriendlyName;
}

void MidiManager::checkControllerMappings(const MidiEvent& e) {
    const bool controlChange = e.status == MidiEvent::ControlChange;
    const bool noteOn = e.status == MidiEvent::NoteOn && e.data2 > 0;

    // 1. Learn binds this control and does nothing else with it. A cancel that wins
    //    the race leaves the event to the steps below.
    if (m_learnActive.load() && (controlChange || (noteOn && e.fromControllerPort))) {
        QString label;
        QString target;
        bool learned = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_learnActive.exchange(false)) {
                learned = true;
                target = m_learnTarget;
                label = QStringLiteral("%1 (%2 %3)")
                            .arg(m_learnFriendlyName, noteOn ? QStringLiteral("Note") : QStringLiteral("CC"))
                            .arg(e.data1);
                auto it =
                    std::find_if(m_mappings.begin(), m_mappings.end(),
                                 [&](const MidiControllerMapping& m) { return m.targetParameter == target; });
                if (it == m_mappings.end())
                    it = m_mappings.insert(m_mappings.end(),
                                           MidiControllerMapping{0, false, false, {}, target});
                it->ccOrNote = e.data1;
                it->isNote = noteOn;
                it->fromControllerPort = e.fromControllerPort;
                it->controlName = label;
            }
        }
        if (learned) {
            Q_EMIT midiLearnCompleted(label, target);
            Q_EMIT devicesChanged();
            return;
        }
    }

    std::vector<std::pair<QString, float>> actions;
    auto add = [&](const char* target, float value) {
        actions.emplace_back(QString::fromLatin1(target), value);
    };

    // 2. Motorised faders and the per-channel volume and encoder controllers.
    if (e.status == MidiEvent::PitchBend && e.fromControllerPort) {
        add(kStripTargets[std::min<int>(e.channel, 6)],
            std::clamp((e.pitchBend + 8192) / 16383.0f, 0.0f, 1.0f));
    } else if (controlChange && e.channel >= 1 && (e.data1 == 7 || e.data1 == 10)) {
        const auto& table = e.data1 == 7 ? kChVolumeTargets : kChEncoderTargets;
        add(table[std::min<int>(e.channel, 7) - 1], e.data2 / 127.0f);
    }

    // 3. The mapping list, in order; every match counts.
    if (controlChange || noteOn) {
        std::lock_guard lock(m_mutex);
        for (const MidiControllerMapping& m : m_mappings) {
            if (m.ccOrNote != e.data1 || m.isNote != noteOn) continue;
            if (m.isNote && m.fromControllerPort != e.fromControllerPort && e.channel != 9) continue;
            const float value =
                m.isNote ? e.data2 / 127.0f : e.data2 / 127.0f * (m.maxValue - m.minValue) + m.minValue;
            actions.emplace_back(m.targetParameter, value);
        }
    }

    // 4. An unmapped controller still turns a sound knob.
    if (controlChange && actions.empty() && !keepsOutOfFallback(e.data1))
        add(e.data1 == 11 ? "mixer.piano.volume" : kFallbackKnobs[e.data1 % 12], e.data2 / 127.0f);

    // 5. Outside the lock, in order.
    for (const auto& [target, value] : actions) {
        sendControlMapped(target, value);
        Q_EMIT controllerMappedAction(target, value);
    }
}

} // namespace tmb
