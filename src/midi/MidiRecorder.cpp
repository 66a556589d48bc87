#include "MidiRecorder.h"

namespace tmb {

void MidiRecorder::prepare(float sampleRate) {
    m_sampleRate = sampleRate;
}
void MidiRecorder::recordMidiEvent(const MidiEvent&) {}
void MidiRecorder::processPlaybackBlock(std::uint32_t, float, EventSink) noexcept {}
void MidiRecorder::pushAudioStereoBlock(const float*, const float*, std::uint32_t) noexcept {}

} // namespace tmb
