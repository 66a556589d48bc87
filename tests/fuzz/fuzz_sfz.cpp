// libFuzzer target for the SFZ text parser and sample reader (the first byte picks
// which; README.md "Fuzzing" says how to run it, with -dict=tests/fuzz/sfz.dict). It traps
// on broken promises: bounded keys, finite bounded numbers, frames inside the bytes read.

#include "engines/SfzParser.h"
#include "engines/SfzSampleData.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

bool finiteWithin(float value, float low, float high) {
    return std::isfinite(value) && value >= low && value <= high;
}

void fuzzText(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const tmb::SfzParsedRegion& parsed : tmb::SfzParser::parseRegions(tmb::SfzParser::joinLines(text))) {
        const tmb::SfzRegion& r = parsed.region;
        require(!parsed.samplePath.isEmpty() && !parsed.samplePath.contains(u'\\'));
        require(r.lokey >= -1 && r.lokey <= 127 && r.hikey >= -1 && r.hikey <= 127);
        require(r.pitchKeycenter >= -1 && r.pitchKeycenter <= 127);
        require(r.lovel >= 0 && r.lovel <= 127 && r.hivel >= 0 && r.hivel <= 127);
        require(finiteWithin(r.pitchKeytrack, -1200, 1200) && finiteWithin(r.tune, -9600, 9600));
        require(finiteWithin(r.volume, -144, 48) && finiteWithin(r.ampegRelease, 0.02f, 100));
        require(finiteWithin(r.rtDecay, 0, 1000) && std::isfinite(r.ampVeltrack));
        require(std::isfinite(r.lorand) && std::isfinite(r.hirand));
        require(r.trigger == tmb::SfzTrigger::Attack || r.trigger == tmb::SfzTrigger::Release ||
                r.trigger == tmb::SfzTrigger::Pedal);
        require(r.sample == nullptr);
    }
    const int note = tmb::SfzParser::parseNoteValue(text);
    require(note >= -1 && note <= 127);
    require(std::isfinite(tmb::SfzParser::parseNumber(text)));
}

void fuzzSample(const std::uint8_t* data, std::size_t size) {
    const tmb::SfzWavLayout layout = tmb::inspectWav(data, size);
    if (layout.hasData) require(layout.dataOffset <= size && layout.dataBytes <= size - layout.dataOffset);
    tmb::SfzSampleData sample;
    if (!tmb::buildSfzSample(data, size, &sample)) return;
    require(sample.frames >= 1 && sample.channels >= 1 && sample.sampleRate >= 1);
    if (sample.pcm16 != nullptr) {
        require(layout.usableInPlace() && reinterpret_cast<std::uintptr_t>(sample.pcm16) % 2 == 0);
        const auto* begin = reinterpret_cast<const std::uint8_t*>(sample.pcm16);
        const std::uint64_t bytes = sample.frames * sample.channels * 2;
        require(begin >= data && static_cast<std::uint64_t>(begin - data) + bytes <= size);
        // The first and last values the renderer may read (ASan checks the reads).
        [[maybe_unused]] volatile std::int16_t edge = sample.pcm16[0];
        edge = sample.pcm16[sample.frames * sample.channels - 1];
    } else {
        require(sample.channels <= 2 && sample.frames <= tmb::sfzMaxDecodedFrames);
        require(sample.pcmFloat.size() == sample.frames * sample.channels);
        for (float value : sample.pcmFloat)
            require(finiteWithin(value, -8, 8));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
        // Aligned like a mapping, so the in-place path is reached.
        const std::vector<std::uint8_t> bytes(data + 1, data + size);
        fuzzSample(bytes.data(), bytes.size());
    } else {
        fuzzText(data + 1, size - 1);
    }
    return 0;
}
