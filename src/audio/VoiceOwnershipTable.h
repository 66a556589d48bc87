#pragma once

// Which voices each key started, so that its note-off releases exactly those,
// whatever transpose, octave, zone, slot or chord-memory settings are in force by
// then. Several keys may sound the same pitch on the same engine (chord memory, a
// layer, the arpeggiator): the engine's note-off is sent only when the last key
// holding that voice lets go.
//
// Threads: audio thread only (the event dispatch), or whoever renders offline.
// Fixed arrays; nothing allocates.

#include "audio/RealtimeConfig.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace tmb {

// Where a voice sounds: one engine, and for the SoundFont and the synths one slot.
enum class VoiceTarget : std::uint8_t {
    Sfz,
    SoundFontMain,
    SoundFontLayer,
    SoundFontSplit,
    SynthMain,
    SynthLayer,
    SynthSplit,
};
inline constexpr int voiceTargetCount = 7;

struct StartedVoice {
    VoiceTarget target = VoiceTarget::Sfz;
    std::uint8_t pitch = 0;    // sounding pitch, after transpose and offsets
    std::uint8_t velocity = 0; // velocity the engine received, after the touch curve
};

class VoiceOwnershipTable {
public:
    // Owners: keyboard keys 0-127, keys sent straight to the layer (128-255) and split
    // (256-383) channels, the arpeggiator, and the one-finger chord's tones (385-512).
    static constexpr int keyboardOwner(int key) { return key & 0x7F; }
    static constexpr int layerChannelOwner(int key) { return 128 + (key & 0x7F); }
    static constexpr int splitChannelOwner(int key) { return 256 + (key & 0x7F); }
    static constexpr int arpeggiatorOwner = 384;
    static constexpr int chordToneOwner(int key) { return 385 + (key & 0x7F); }
    static constexpr int ownerCount = 513;

    // Records that `owner` started (target, pitch). A re-strike of a voice the owner
    // already holds only updates its velocity. A full record first gives up its oldest
    // voice (released through releaseVoice unless another owner holds it too), so a
    // new voice is always recorded. False only for an owner outside the table.
    template <typename Release>
    bool add(int owner, VoiceTarget target, int pitch, int velocity, Release&& releaseVoice) noexcept {
        if (owner < 0 || owner >= ownerCount) return false;
        Record& record = m_records[owner];
        const auto p = static_cast<std::uint8_t>(pitch & 0x7F);
        for (std::uint8_t i = 0; i < record.count; ++i) {
            if (record.voices[i].target == target && record.voices[i].pitch == p) {
                record.voices[i].velocity = static_cast<std::uint8_t>(velocity & 0x7F);
                return true;
            }
        }
        if (record.count >= config::voicesPerKey) {
            forget(record.voices[0], releaseVoice);
            std::copy(record.voices.begin() + 1, record.voices.begin() + record.count, record.voices.begin());
            --record.count;
        }
        record.voices[record.count++] = {target, p, static_cast<std::uint8_t>(velocity & 0x7F)};
        ++m_owners[index(target)][p];
        return true;
    }

    // Forgets everything `owner` started and calls release(target, pitch) for each
    // voice that no other owner still holds.
    template <typename Release>
    void release(int owner, Release&& releaseVoice) noexcept {
        if (owner < 0 || owner >= ownerCount) return;
        Record& record = m_records[owner];
        for (std::uint8_t i = 0; i < record.count; ++i)
            forget(record.voices[i], releaseVoice);
        record.count = 0;
    }

    // Forgets every owner (after all engines were silenced).
    void clear() noexcept {
        for (Record& record : m_records)
            record.count = 0;
        for (auto& perTarget : m_owners)
            perTarget.fill(0);
    }

    std::span<const StartedVoice> voicesOf(int owner) const noexcept {
        if (owner < 0 || owner >= ownerCount) return {};
        return {m_records[owner].voices.data(), m_records[owner].count};
    }

    // How many owners hold (target, pitch).
    int ownersOf(VoiceTarget target, int pitch) const noexcept {
        return (pitch < 0 || pitch > 127) ? 0 : m_owners[index(target)][pitch];
    }

    // Distinct (target, pitch) voices that some owner still holds.
    int heldVoiceCount() const noexcept {
        int held = 0;
        for (const auto& perTarget : m_owners)
            for (std::uint16_t owners : perTarget)
                held += owners > 0 ? 1 : 0;
        return held;
    }

private:
    struct Record {
        std::array<StartedVoice, config::voicesPerKey> voices{};
        std::uint8_t count = 0;
    };
    static constexpr int index(VoiceTarget target) { return static_cast<int>(target); }

    // One owner lets go of `voice`; the last one releases it.
    template <typename Release>
    void forget(const StartedVoice& voice, Release& releaseVoice) noexcept {
        std::uint16_t& owners = m_owners[index(voice.target)][voice.pitch];
        if (owners > 0 && --owners == 0) releaseVoice(voice.target, static_cast<int>(voice.pitch));
    }

    std::array<Record, ownerCount> m_records{};
    std::array<std::array<std::uint16_t, 128>, voiceTargetCount> m_owners{};
};

} // namespace tmb
