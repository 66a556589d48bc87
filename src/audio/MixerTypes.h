#pragma once

#include <atomic>

namespace tmb {

// The seven fixed mixer channels; the scene and the controller use the numbers directly.
enum class MixerChannelId : int {
    Piano = 0,     // SFZ piano, slot-0 synth, SoundFont melodic channels, test tone
    Layer2 = 1,    // slot-1 synth
    SplitBass = 2, // slot-2 synth
    Beats = 3,     // beat sequencer and SoundFont drum synth
    Lv2Bus = 4,    // LV2 plug-in output
    Mic = 5,       // microphone input
    Master = 6,    // master bus: volume and mute only
};

inline constexpr bool isValidMixerChannel(int id) {
    return id >= 0 && id <= static_cast<int>(MixerChannelId::Master);
}
inline constexpr bool isValidMixerChannel(MixerChannelId id) {
    return isValidMixerChannel(static_cast<int>(id));
}

// Engine of a keyboard slot (0 main, 1 layer, 2 split).
enum class SoundEngineType : int { Sfz = 0, SoundFont = 1, Synth = 2 };

// One channel strip. The GUI thread writes, the audio thread reads and writes the
// peaks; every field is its own lock-free atomic so neither side ever waits.
struct MixerChannelState {
    std::atomic<float> volume{1.0f};
    std::atomic<float> pan{0.0f};
    std::atomic<bool> muted{false};
    std::atomic<bool> soloed{false};
    std::atomic<float> peakL{0.0f};
    std::atomic<float> peakR{0.0f};
    std::atomic<bool> clipped{false};
};
static_assert(std::atomic<float>::is_always_lock_free);

} // namespace tmb
