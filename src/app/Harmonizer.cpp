#include "Harmonizer.h"

#include <algorithm>
#include <cstdlib>

namespace tmb {

namespace {

constexpr std::array<int, 12> gospelTable{0, 2, 2, 3, 4, 5, 6, 7, 9, 9, 10, 11};
constexpr std::array<int, 12> pentatonicTable{0, 2, 2, 3, 4, 4, 7, 7, 9, 9, 9, 12};
constexpr std::array<int, 7> majorScale{0, 2, 4, 5, 7, 9, 11};

// Snapped and stepped pitches stay inside the 88 keys.
int clampToPiano(int note) {
    return std::clamp(note, 21, 108);
}

} // namespace

Harmonizer::Harmonizer(VoiceSink sink)
    : m_sink(std::move(sink)) {}

QString Harmonizer::modeName(int mode) {
    switch (mode) {
    case 1:
        return QStringLiteral("Gospel Quartet Voicer");
    case 2:
        return QStringLiteral("Seben / Rhumba 6ths");
    case 3:
        return QStringLiteral("Neo-Soul 9th Sweetener");
    case 4:
        return QStringLiteral("Pentatonic Solo Lock");
    default:
        return QStringLiteral("Yamaha P.A.T. + Duet");
    }
}

int Harmonizer::snap(int note, int mode, int chordDegree, bool minorDegree) {
    const int base = 12 * (note / 12);
    int p = note % 12;
    if (mode == 1) return clampToPiano(base + gospelTable[p]);
    if (mode == 4) return clampToPiano(base + pentatonicTable[p]);
    // Key snap: the black keys move to the neighbour that fits the current chord.
    switch (p) {
    case 1:
        p = chordDegree == 1 ? 0 : 2;
        break;
    case 3:
        p = minorDegree ? 2 : 4;
        break;
    case 6:
        p = chordDegree == 4 ? 5 : 7;
        break;
    case 8:
        p = chordDegree == 6 ? 9 : 7;
        break;
    case 10:
        p = chordDegree == 4 ? 9 : 11;
        break;
    default:
        break;
    }
    return clampToPiano(base + p);
}

int Harmonizer::diatonicStepDown(int note, int steps) {
    const int pitchClass = note % 12;
    int degree = 0;
    for (int d = 1; d < 7; ++d) // strictly nearer only: a tie keeps the lower degree
        if (std::abs(majorScale[d] - pitchClass) < std::abs(majorScale[degree] - pitchClass)) degree = d;
    int octave = note / 12;
    degree -= steps;
    while (degree < 0) {
        degree += 7;
        --octave;
    }
    return clampToPiano(12 * octave + majorScale[degree]);
}

Harmonizer::VoicePlan Harmonizer::plan(int note, int velocity, int mode, int chordDegree, bool minorDegree,
                                       int guideTarget) {
    note = std::clamp(note, 0, 127);
    velocity = std::clamp(velocity, 1, 127);
    if (mode < 1 || mode > 4) mode = 0;

    // A note within two semitones of the hymn's melody note is taken to mean it.
    const bool guided = guideTarget >= 0 && guideTarget <= 127 && std::abs(note - guideTarget) <= 2;
    const int lead = guided ? guideTarget : snap(note, mode, chordDegree, minorDegree);
    const int s = (velocity * 38) / 127;

    VoicePlan result;
    auto add = [&result](int pitch, int v) {
        result.voices[result.count++] = {pitch, v};
    };
    add(lead, 70 + s);
    switch (mode) {
    case 0:
        if (lead >= 60) add(diatonicStepDown(lead, 2), 54 + s);
        break;
    case 1:
        if (lead >= 60) {
            add(diatonicStepDown(lead, 2), 55 + s);
            add(diatonicStepDown(lead, 4), 51 + s);
        } else if (lead >= 36 && lead <= 57) {
            add(lead - 12, 62 + s);
        }
        break;
    case 2:
        if (lead >= 57) add(diatonicStepDown(lead, 5), 60 + s);
        break;
    case 3:
        if (lead >= 53 && lead <= 84) {
            add(lead + 7, 50 + s);
            add(lead + 14, 46 + s);
        }
        break;
    case 4:
        if (lead >= 67) add(lead - 12, 48 + s);
        break;
    default:
        break;
    }
    for (int i = 0; i < result.count; ++i) {
        result.voices[i].pitch = std::clamp(result.voices[i].pitch, 0, 127);
        result.voices[i].velocity = std::clamp(result.voices[i].velocity, 1, 127);
    }
    return result;
}

void Harmonizer::send(const MidiEvent& event, bool record) {
    if (m_sink) m_sink(event, record);
}

bool Harmonizer::dropOwner(int channel, int pitch) {
    std::uint16_t& owners = m_owners[channel][pitch];
    if (owners == 0) return false;
    return --owners == 0;
}

Harmonizer::NoteOnResult Harmonizer::noteOn(int note, int velocity, int channel, bool programKey) {
    note = std::clamp(note, 0, 127);
    velocity = std::clamp(velocity, 1, 127);
    channel &= 0x0F;

    NoteOnResult result;
    result.harmonized = isEnabled();
    VoicePlan voices;
    if (result.harmonized) {
        const int degree = m_chordDegree.load(std::memory_order_acquire);
        voices = plan(note, velocity, mode(), degree >> 1, (degree & 1) != 0, guideTarget());
    } else {
        voices.voices[0] = {note, velocity};
        voices.count = 1;
    }

    const std::lock_guard lock(m_mutex);
    // A second note-on of the same key first lets go of its previous voices.
    VoiceList& list = m_lists[programKey ? 1 : 0][channel][note];
    for (std::uint8_t i = 0; i < list.count; ++i)
        if (dropOwner(channel, list.pitches[i])) send(MidiEvent::noteOff(channel, list.pitches[i]), false);
    list.count = 0;
    for (int i = 0; i < voices.count; ++i) {
        const Voice& voice = voices.voices[i];
        list.pitches[list.count++] = static_cast<std::uint8_t>(voice.pitch);
        ++m_owners[channel][voice.pitch];
        send(MidiEvent::noteOn(channel, voice.pitch, voice.velocity), true);
    }
    result.leadPitch = voices.voices[0].pitch;
    result.moved = result.leadPitch != note;
    result.voiceCount = voices.count;
    return result;
}

Harmonizer::Released Harmonizer::noteOff(int note, int channel, bool programKey) {
    note = std::clamp(note, 0, 127);
    channel &= 0x0F;
    Released released;

    const std::lock_guard lock(m_mutex);
    VoiceList& list = m_lists[programKey ? 1 : 0][channel][note];
    if (list.count == 0) {
        // A key that started nothing here (pressed before start-up, say) still gets
        // its note-off, unless another key holds that pitch and would be cut.
        if (m_owners[channel][note] == 0) {
            send(MidiEvent::noteOff(channel, note), true);
            released.pitches[released.count++] = note;
        }
        return released;
    }
    for (std::uint8_t i = 0; i < list.count; ++i) {
        const int pitch = list.pitches[i];
        if (!dropOwner(channel, pitch)) continue;
        send(MidiEvent::noteOff(channel, pitch), true);
        released.pitches[released.count++] = pitch;
    }
    list.count = 0;
    return released;
}

Harmonizer::PitchSet Harmonizer::releaseAll() {
    PitchSet released;
    const std::lock_guard lock(m_mutex);
    for (int owner = 0; owner < 2; ++owner) {
        for (int channel = 0; channel < 16; ++channel) {
            for (VoiceList& list : m_lists[owner][channel]) {
                // Each voice goes off on the channel it was started on.
                for (std::uint8_t i = 0; i < list.count; ++i) {
                    if (!dropOwner(channel, list.pitches[i])) continue;
                    send(MidiEvent::noteOff(channel, list.pitches[i]), false);
                    released.set(list.pitches[i]);
                }
                list.count = 0;
            }
        }
    }
    return released;
}

bool Harmonizer::setEnabled(bool on, PitchSet* released) {
    if (m_enabled.exchange(on, std::memory_order_acq_rel) == on) return false;
    const PitchSet voices = releaseAll();
    if (released) *released = voices;
    return true;
}

bool Harmonizer::setMode(int mode, PitchSet* released) {
    mode = std::clamp(mode, 0, modeCount - 1);
    if (m_mode.exchange(mode, std::memory_order_acq_rel) == mode) return false;
    const PitchSet voices = releaseAll();
    if (released) *released = voices;
    return true;
}

void Harmonizer::setChordDegree(int degree, bool minor) {
    m_chordDegree.store((std::clamp(degree, 1, 6) << 1) | (minor ? 1 : 0), std::memory_order_release);
}

void Harmonizer::setGuideTarget(int note) {
    m_guideTarget.store(note >= 0 && note <= 127 ? note : -1, std::memory_order_release);
}

int Harmonizer::heldVoiceCount() const {
    const std::lock_guard lock(m_mutex);
    int held = 0;
    for (const auto& channel : m_owners)
        for (std::uint16_t owners : channel)
            held += owners > 0 ? 1 : 0;
    return held;
}

} // namespace tmb
