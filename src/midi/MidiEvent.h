#pragma once

#include <cstdint>

namespace tmb {

// One MIDI message as it travels from the input thread (or any producer) to the
// audio thread. Plain value, 32 bytes, copied freely.
struct MidiEvent {
    static constexpr std::uint8_t NoteOff = 0x80;
    static constexpr std::uint8_t NoteOn = 0x90;
    static constexpr std::uint8_t ControlChange = 0xB0;
    static constexpr std::uint8_t ProgramChange = 0xC0;
    static constexpr std::uint8_t ChannelPressure = 0xD0;
    static constexpr std::uint8_t PitchBend = 0xE0;
    // Status of the reset event: a device went away, release every note.
    static constexpr std::uint8_t Reset = 0xFF;

    std::uint8_t status = NoteOff; // status byte with the channel bits cleared
    std::uint8_t channel = 0;      // 0-15
    std::uint8_t data1 = 0;        // note, controller, program or pressure
    std::uint8_t data2 = 0;        // velocity or controller value
    std::int16_t pitchBend = 0;    // -8192..8191, 0 = centre
    std::int32_t sourceClient = -1;
    std::int32_t sourcePort = -1;
    bool fromControllerPort = false;
    // A note the program adds on the keyboard channel (a one-finger chord's tones,
    // the hymn's harmony and pitch pipe): the engine counts it apart from the keys,
    // so its release never cuts a key held at the same pitch.
    bool chordTone = false;
    std::uint64_t timestampUs = 0; // steady clock; 0 for synthesised events

    static MidiEvent reset() {
        MidiEvent e;
        e.status = Reset;
        return e;
    }
    static MidiEvent noteOn(int channel, int note, int velocity) {
        MidiEvent e;
        e.status = velocity > 0 ? NoteOn : NoteOff;
        e.channel = static_cast<std::uint8_t>(channel & 0x0F);
        e.data1 = static_cast<std::uint8_t>(note & 0x7F);
        e.data2 = velocity > 0 ? static_cast<std::uint8_t>(velocity & 0x7F) : 0;
        return e;
    }
    static MidiEvent noteOff(int channel, int note) {
        MidiEvent e;
        e.channel = static_cast<std::uint8_t>(channel & 0x0F);
        e.data1 = static_cast<std::uint8_t>(note & 0x7F);
        return e;
    }
    static MidiEvent controlChange(int channel, int controller, int value) {
        MidiEvent e;
        e.status = ControlChange;
        e.channel = static_cast<std::uint8_t>(channel & 0x0F);
        e.data1 = static_cast<std::uint8_t>(controller & 0x7F);
        e.data2 = static_cast<std::uint8_t>(value & 0x7F);
        return e;
    }
    static MidiEvent pitchBendEvent(int channel, int value) {
        MidiEvent e;
        e.status = PitchBend;
        e.channel = static_cast<std::uint8_t>(channel & 0x0F);
        e.pitchBend = static_cast<std::int16_t>(value < -8192 ? -8192 : (value > 8191 ? 8191 : value));
        return e;
    }
};
static_assert(sizeof(MidiEvent) == 32, "the realtime queue copies 32-byte records");

} // namespace tmb
