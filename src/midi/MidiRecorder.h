#pragma once

#include "audio/FunctionRef.h"
#include "midi/MidiEvent.h"

#include <atomic>
#include <cstdint>

namespace tmb {

// Records MIDI and the program output, plays recorded notes back.
// Threads: transport and editing on the GUI thread (and MIDI thread for
// recordMidiEvent); processPlaybackBlock and pushAudioStereoBlock on the audio thread.
// Placeholder until the recorder lands: never records or plays.
class MidiRecorder {
public:
    using EventSink = FunctionRef<void(const MidiEvent&)>;

    MidiRecorder() = default;

    void prepare(float sampleRate);
    bool isRecording() const noexcept { return m_recording.load(std::memory_order_relaxed); }
    bool isPlaying() const noexcept { return m_playing.load(std::memory_order_relaxed); }
    // MIDI or GUI thread: takes one played event while recording. Pedal values arrive
    // as heard (a hardware pedal's polarity already applied); playback never inverts.
    void recordMidiEvent(const MidiEvent& event);
    void processPlaybackBlock(std::uint32_t frames, float tempoBpm, EventSink sink) noexcept;
    void pushAudioStereoBlock(const float* left, const float* right, std::uint32_t frames) noexcept;

private:
    float m_sampleRate = 48000.0f;
    std::atomic<bool> m_recording{false};
    std::atomic<bool> m_playing{false};
};

} // namespace tmb
