#pragma once

// Plays a Standard MIDI File through the audio engine's own block callback with no
// device: the offline renderer behind `tembora-render`, and a test harness.
//
// Timing: every event is queued with submitMidiEvent right before the block that
// starts at its frame, round(time x sample rate); blocks are cut short at event
// frames, so events take effect on the exact frame, whatever the block size. The
// queue holds 2047 events; more events at one frame spill over to the next frame,
// one frame later each 2047 events.
//
// Threads: one thread does everything: it is the engine's audio thread for the
// duration of render(), so the engine must be prepared with prepareOffline and no
// backend may run.

#include "midi/StandardMidiFile.h"

#include <cstdint>
#include <functional>

namespace tmb {

class AudioEngine;

class MidiFileRenderer {
public:
    struct Options {
        std::uint32_t sampleRate = 48000;
        std::uint32_t blockFrames = 256;
        // Rendered after the file's last event so releases and reverb finish.
        double tailSeconds = 2.0;
    };

    // The two operations the renderer needs from an engine: queue an event, and
    // render the next block of interleaved stereo into `out`.
    using Submit = std::function<void(const MidiEvent&)>;
    using Process = std::function<void(float* out, std::uint32_t frames)>;
    // Receives each rendered block; returning false stops the render.
    using BlockSink = std::function<bool(const float* interleaved, std::uint32_t frames)>;

    MidiFileRenderer(const StandardMidiFile& file, const Options& options);

    // Frames the whole render produces: the file, then the tail.
    std::uint64_t totalFrames() const noexcept { return m_totalFrames; }
    // The frame an event is queued before.
    std::uint64_t frameOf(const SmfChannelEvent& event) const noexcept;

    // Renders through the engine (prepared offline at the same rate). Returns false
    // when the sink stopped the render.
    bool render(AudioEngine& engine, const BlockSink& sink) const;
    bool render(const Submit& submit, const Process& process, const BlockSink& sink) const;

private:
    const StandardMidiFile& m_file;
    Options m_options;
    std::uint64_t m_totalFrames = 0;
};

} // namespace tmb
