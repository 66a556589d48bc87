#pragma once

// The note auto-tune harmonizer. Every played note passes through it, and it alone
// starts and stops the voices that sound for that note. Off, a note passes through
// unchanged; on, the note is pulled onto a scale (or onto the hymn guide note),
// harmony voices are added by the mode's rule and the velocity is sweetened.
//
// Ownership: each (channel, input note) holds the voices it started, and each
// (channel, pitch) counts the input notes that hold it. A voice's note-off is sent
// only when its last holder lets go, so releasing one key never cuts a pitch that
// another held key still sounds (C4 keeps ringing when E4, whose duet voice is C4,
// is released). Keys the program presses itself (the hymn demo) hold their voices
// apart from the player's keys, so the demo pressing or letting go of a note never
// cuts the same key held by the player.
//
// Threads: noteOn, noteOff and releaseAll run on the GUI thread (on-screen keys) and
// the MIDI input thread (hardware keys); the voice lists are guarded by one mutex,
// and voice events go to the sink while it is held, so a note-on and the note-off
// that follows it always reach the sink in that order. The mode, the switch, the
// chord degree and the hymn guide target are atomics: the GUI thread writes them,
// the note functions read them. Nothing here allocates.

#include "audio/RealtimeConfig.h"
#include "midi/MidiEvent.h"

#include <QString>

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tmb {

class Harmonizer {
public:
    static constexpr int modeCount = 5;

    // Receives every voice event. `record` is false for the note-offs that only
    // make room (a retrigger, releaseAll): a recording keeps the played voices.
    using VoiceSink = std::function<void(const MidiEvent& event, bool record)>;

    struct Voice {
        int pitch = 0;
        int velocity = 0;
    };
    // The voices a note-on sounds, lead first.
    struct VoicePlan {
        std::array<Voice, config::harmonizerVoicesPerNote> voices{};
        int count = 0;
    };
    struct NoteOnResult {
        int leadPitch = 0;       // the note the keyboard now sounds as its lead voice
        bool moved = false;      // the lead differs from the played note
        int voiceCount = 0;      // voices started
        bool harmonized = false; // the harmonizer was on
    };
    // Pitches whose note-off was sent by a release of everything, on any channel.
    using PitchSet = std::bitset<128>;
    // Voices whose note-off was sent.
    struct Released {
        std::array<int, config::harmonizerVoicesPerNote> pitches{};
        int count = 0;
    };

    explicit Harmonizer(VoiceSink sink);

    // Any thread except the audio thread. `programKey`: a key the program presses.
    NoteOnResult noteOn(int note, int velocity, int channel, bool programKey = false);
    Released noteOff(int note, int channel, bool programKey = false);
    PitchSet releaseAll();

    // GUI thread. Each returns whether the value changed; a change releases every
    // voice, so no voice of the old rule survives, and reports them in `released`.
    bool setEnabled(bool on, PitchSet* released = nullptr);
    bool setMode(int mode, PitchSet* released = nullptr);
    bool isEnabled() const { return m_enabled.load(std::memory_order_acquire); }
    int mode() const { return m_mode.load(std::memory_order_acquire); }

    // GUI thread: the arranger's chord degree (1-6) and whether its chord is minor.
    void setChordDegree(int degree, bool minor);
    // GUI thread: the melody note of the current hymn step while a hymn plays in
    // guide mode, or -1. Published as one word so the MIDI thread reads it whole.
    void setGuideTarget(int note);
    int guideTarget() const { return m_guideTarget.load(std::memory_order_acquire); }

    // Distinct (channel, pitch) voices held (tests and diagnostics).
    int heldVoiceCount() const;

    // The rules, free of state.
    static QString modeName(int mode);
    static VoicePlan plan(int note, int velocity, int mode, int chordDegree, bool minorDegree,
                          int guideTarget);
    static int snap(int note, int mode, int chordDegree, bool minorDegree);
    // Down `steps` degrees of the major scale from the degree nearest to the note.
    static int diatonicStepDown(int note, int steps);

private:
    struct VoiceList {
        std::array<std::uint8_t, config::harmonizerVoicesPerNote> pitches{};
        std::uint8_t count = 0;
    };

    // Under the mutex: drops one holder of (channel, pitch); true when it was the last.
    bool dropOwner(int channel, int pitch);
    void send(const MidiEvent& event, bool record);

    VoiceSink m_sink;
    std::atomic<bool> m_enabled{false};
    std::atomic<int> m_mode{0};
    std::atomic<int> m_chordDegree{1 << 1}; // degree << 1 | minor
    std::atomic<int> m_guideTarget{-1};

    mutable std::mutex m_mutex;
    // [player 0 | program 1][channel][input note]
    std::array<std::array<std::array<VoiceList, 128>, 16>, 2> m_lists{};
    std::array<std::array<std::uint16_t, 128>, 16> m_owners{};
};

} // namespace tmb
