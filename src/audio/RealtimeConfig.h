#pragma once

// Every fixed capacity of the realtime path lives here, so rings and scratch
// buffers are sized from one place.

#include <cstddef>
#include <cstdint>

namespace tmb::config {

// Largest block the audio callback renders; longer requests are cut to this.
inline constexpr std::uint32_t maxBlockFrames = 4096;
// Block sizes a user may choose for the backends.
inline constexpr std::uint32_t minBufferFrames = 64;
inline constexpr std::uint32_t maxBufferFrames = 1024;
inline constexpr std::uint32_t defaultSampleRate = 48000;
inline constexpr std::uint32_t defaultBufferFrames = 256;

// Realtime MIDI event queue: one slot always stays empty.
inline constexpr std::size_t midiQueueSlots = 2048;
// Microphone ring of interleaved samples.
inline constexpr std::size_t micRingSamples = 32768;
// Studio capture ring of stereo frames (a power of two): 21.8 s at 48 kHz, 10.9 s at
// 96 kHz, far longer than any pause of the thread that drains it.
inline constexpr std::size_t captureRingFrames = std::size_t{1} << 20;

inline constexpr int mixerChannelCount = 7;
// Voices of the SFZ piano; the voice search scans all of them.
inline constexpr std::size_t sfzVoiceCount = 128;
inline constexpr int keyboardSlotCount = 3;

// Keyboard zones one note sounds in at most: the main slot and the layer, or the split.
inline constexpr int zonesPerNote = 2;
// Notes one key plays with chord memory: the key, its major third and its fifth.
inline constexpr int chordMemoryNotes = 3;
// Voices (engine target and sounding pitch) one strike of a key starts at most.
inline constexpr int voicesPerStrike = zonesPerNote * chordMemoryNotes;
// Voices one key may hold at once: two strikes, so a key struck again under other
// settings (transpose, zones) while held keeps its first strike sounding; a further
// strike takes the place of the oldest voices.
inline constexpr int voicesPerKey = 2 * voicesPerStrike;
// Held notes the arpeggiator cycles through.
inline constexpr int arpeggiatorMaxNotes = 32;
// Harmonizer voices started for one input note: the lead and up to two harmony voices.
inline constexpr int harmonizerVoicesPerNote = 3;

// Keeps producer and consumer indices on separate cache lines.
inline constexpr std::size_t cacheLineBytes = 64;

} // namespace tmb::config
