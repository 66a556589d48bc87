#include "MidiFileRenderer.h"

#include "audio/AudioEngine.h"
#include "audio/RealtimeConfig.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tmb {

namespace {

// The engine's queue keeps one slot empty.
constexpr std::size_t queueCapacity = config::midiQueueSlots - 1;

std::uint64_t secondsToFrames(double seconds, std::uint32_t rate) {
    if (!(seconds > 0.0)) return 0;
    return static_cast<std::uint64_t>(std::llround(seconds * rate));
}

} // namespace

MidiFileRenderer::MidiFileRenderer(const StandardMidiFile& file, const Options& options)
    : m_file(file)
    , m_options(options) {
    m_options.blockFrames = std::clamp<std::uint32_t>(m_options.blockFrames, 1, config::maxBlockFrames);
    m_totalFrames = secondsToFrames(file.durationSeconds(), m_options.sampleRate) +
                    secondsToFrames(m_options.tailSeconds, m_options.sampleRate);
}

std::uint64_t MidiFileRenderer::frameOf(const SmfChannelEvent& event) const noexcept {
    return secondsToFrames(event.seconds, m_options.sampleRate);
}

bool MidiFileRenderer::render(AudioEngine& engine, const BlockSink& sink) const {
    return render([&engine](const MidiEvent& event) { engine.submitMidiEvent(event); },
                  [&engine](float* out, std::uint32_t frames) { engine.processAudioCallback(out, frames); },
                  sink);
}

bool MidiFileRenderer::render(const Submit& submit, const Process& process, const BlockSink& sink) const {
    const std::vector<SmfChannelEvent>& events = m_file.events();
    std::vector<float> block(2 * std::size_t{m_options.blockFrames});
    std::size_t next = 0;
    std::uint64_t frame = 0;
    while (frame < m_totalFrames) {
        // Queue what is due now, as much as the engine's queue takes in one block.
        std::size_t queued = 0;
        while (next < events.size() && frameOf(events[next]) <= frame && queued < queueCapacity) {
            submit(events[next].toMidiEvent());
            ++next;
            ++queued;
        }
        // Render up to the next event's frame (at least one frame), or a whole block.
        std::uint64_t until = std::min(m_totalFrames, frame + m_options.blockFrames);
        if (next < events.size()) until = std::min(until, std::max(frameOf(events[next]), frame + 1));
        const auto frames = static_cast<std::uint32_t>(until - frame);
        process(block.data(), frames);
        if (!sink(block.data(), frames)) return false;
        frame = until;
    }
    return true;
}

} // namespace tmb
