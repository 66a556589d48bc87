#include "DspEffectsChain.h"

#include "DenormalGuard.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tmb {

namespace {

constexpr float twoPi = 2.0f * std::numbers::pi_v<float>;
// Freeverb-style tunings at 44.1 kHz; the right side runs 23 samples longer so the
// two reverb tails decorrelate.
constexpr int combTunings[] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr int allPassTunings[] = {556, 441, 341, 225};
constexpr int stereoSpread = 23;

constexpr float outputLift = 1.24f;
constexpr float softClipKnee = 0.96f;
// Largest float below 1.0: the clipper's output never reaches full scale.
constexpr float belowFullScale = 0.99999994f;
// 2π × 0.65 Hz: the chorus sweep.
constexpr float chorusLfoOmega = 4.08407f;
// Q of a Butterworth section: the tone low-pass has alpha = sin(w0) / 1.414.
constexpr float lowPassQ = 0.70711f;

// std::clamp, except that NaN becomes the lower bound instead of poisoning a
// feedback line for good.
float clampParam(float value, float low, float high) noexcept {
    if (!(value >= low)) return low;
    return std::min(value, high);
}

} // namespace

DspEffectsChain::DspEffectsChain() {
    prepare(48000.0f, 4096);
}

void DspEffectsChain::prepare(float sampleRate, std::uint32_t) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
    const float sr = m_sampleRate;

    m_chorusLeft.assign(static_cast<std::size_t>(sr * 0.1f) + 16, 0.0f);
    m_chorusRight.assign(m_chorusLeft.size(), 0.0f);
    m_chorusIndex = 0;
    m_chorusPhase = 0.0f;
    m_delayLeft.assign(static_cast<std::size_t>(sr * 2.0f) + 16, 0.0f);
    m_delayRight.assign(m_delayLeft.size(), 0.0f);
    m_delayIndex = 0;

    const float scale = sr / 44100.0f;
    for (int k = 0; k < combCount; ++k) {
        const auto left = std::max<std::size_t>(64, static_cast<std::size_t>(combTunings[k] * scale));
        const auto right =
            std::max<std::size_t>(64, static_cast<std::size_t>((combTunings[k] + stereoSpread) * scale));
        m_combsLeft[k] = Comb{};
        m_combsLeft[k].line.assign(left, 0.0f);
        m_combsRight[k] = Comb{};
        m_combsRight[k].line.assign(right, 0.0f);
    }
    for (int k = 0; k < allPassCount; ++k) {
        const auto left = std::max<std::size_t>(32, static_cast<std::size_t>(allPassTunings[k] * scale));
        const auto right =
            std::max<std::size_t>(32, static_cast<std::size_t>((allPassTunings[k] + stereoSpread) * scale));
        m_allPassLeft[k] = AllPass{};
        m_allPassLeft[k].line.assign(left, 0.0f);
        m_allPassRight[k] = AllPass{};
        m_allPassRight[k].line.assign(right, 0.0f);
    }

    // The default tone curve: what setEqGains(0, 0, 0, 0.55, 1.0) gives.
    for (BiquadState* section : {&m_lowShelf, &m_midPeak, &m_highShelf, &m_lowPass})
        *section = BiquadState{};
    m_lowShelf.setLowShelf(sr, 110.0f, 0.0f);
    m_midPeak.setPeaking(sr, std::min(1100.0f, 0.45f * sr), 0.9f, 0.0f);
    m_highShelf.setHighShelf(sr, 4200.0f, 0.45f);
    m_lowPass.setLowPass(sr, std::min(11187.407f, 0.48f * sr), lowPassQ);

    m_compressorEnvelope = 0.0f;
    applyReverbSettings();
}

void DspEffectsChain::setEqGains(float lowDb, float midDb, float highDb, float brightness,
                                 float lid) noexcept {
    const float sr = m_sampleRate;
    brightness = clampParam(brightness, 0.0f, 1.0f);
    lid = clampParam(lid, 0.0f, 1.0f);
    m_lowShelf.setLowShelf(sr, 110.0f, clampParam(lowDb, -15.0f, 15.0f));
    m_midPeak.setPeaking(sr, std::min(1100.0f, 0.45f * sr), 0.9f, clampParam(midDb, -15.0f, 15.0f));
    m_highShelf.setHighShelf(
        sr, 4200.0f,
        clampParam((brightness - 0.5f) * 9.0f + clampParam(highDb, -15.0f, 15.0f), -15.0f, 15.0f));
    const float x = std::clamp(0.35f * lid + 0.65f * brightness, 0.05f, 1.0f);
    m_lowPass.setLowPass(sr, std::max(200.0f, 1800.0f + 17500.0f * std::pow(x, 1.8f)), lowPassQ);
}

void DspEffectsChain::setReverb(float amount, float roomSize, float damperResonance) noexcept {
    m_reverbAmount = clampParam(amount, 0.0f, 1.0f);
    m_roomSize = clampParam(roomSize, 0.1f, 0.98f);
    m_damperResonance = clampParam(damperResonance, 0.0f, 1.0f);
    applyReverbSettings();
}

void DspEffectsChain::applyReverbSettings() noexcept {
    m_reverbAmount = clampParam(m_reverbAmount, 0.0f, 1.0f);
    m_roomSize = clampParam(m_roomSize, 0.1f, 0.98f);
    m_damperResonance = clampParam(m_damperResonance, 0.0f, 1.0f);
    const float feedback = 0.7f + 0.25f * m_roomSize;
    for (auto* combs : {&m_combsLeft, &m_combsRight}) {
        for (Comb& comb : *combs) {
            comb.damp1 = 0.22f;
            comb.damp2 = 0.78f;
            comb.feedback = feedback;
        }
    }
}

void DspEffectsChain::setChorus(float amount) noexcept {
    m_chorusAmount = clampParam(amount, 0.0f, 1.0f);
}

void DspEffectsChain::setDelay(float amount, float timeSeconds, float feedback) noexcept {
    m_delayAmount = clampParam(amount, 0.0f, 1.0f);
    m_delayTime = clampParam(timeSeconds, 0.04f, 1.8f);
    m_delayFeedback = clampParam(feedback, 0.0f, 0.85f);
}

void DspEffectsChain::setDriveAndCompressor(float drive, float compressor) noexcept {
    m_driveAmount = clampParam(drive, 0.0f, 1.0f);
    m_compressorAmount = clampParam(compressor, 0.0f, 1.0f);
}

void DspEffectsChain::setStereoWidth(float width) noexcept {
    m_stereoWidth = clampParam(width, 0.0f, 1.8f);
}

float DspEffectsChain::softClip(float x) noexcept {
    const float magnitude = std::fabs(x);
    if (!(magnitude > softClipKnee)) return x;
    constexpr float headroom = 1.0f - softClipKnee;
    const float shaped = softClipKnee + headroom * std::tanh((magnitude - softClipKnee) / headroom);
    return std::copysign(std::min(shaped, belowFullScale), x);
}

void DspEffectsChain::runReverb(float& left, float& right, float mix) noexcept {
    const float input = (left + right) * 0.015f;
    float sums[2] = {0.0f, 0.0f};
    std::array<Comb, combCount>* sides[2] = {&m_combsLeft, &m_combsRight};
    for (int side = 0; side < 2; ++side) {
        for (Comb& comb : *sides[side]) {
            float& cell = comb.line[comb.index];
            const float y = cell;
            comb.store = comb.store * comb.damp1 + y * comb.damp2;
            cell = comb.store * comb.feedback + input;
            if (++comb.index == comb.line.size()) comb.index = 0;
            sums[side] += y;
        }
    }
    for (int k = 0; k < allPassCount; ++k) {
        AllPass* pair[2] = {&m_allPassLeft[k], &m_allPassRight[k]};
        for (int side = 0; side < 2; ++side) {
            AllPass& pass = *pair[side];
            float& cell = pass.line[pass.index];
            const float buffered = cell;
            const float out = buffered - sums[side];
            cell = sums[side] + buffered * pass.feedback;
            if (++pass.index == pass.line.size()) pass.index = 0;
            sums[side] = out;
        }
    }
    left = left * (1.0f - 0.25f * mix) + 1.4f * mix * sums[0];
    right = right * (1.0f - 0.25f * mix) + 1.4f * mix * sums[1];
}

void DspEffectsChain::processStereoBlock(float* left, float* right, std::uint32_t frames,
                                         bool sustainDown) noexcept {
    if (frames == 0 || left == nullptr || right == nullptr || !isEnabled()) return;
    const DenormalGuard denormals;
    const float sr = m_sampleRate;

    const std::size_t delayLength = m_delayLeft.size();
    const std::size_t delayTaps = std::min<std::size_t>(
        delayLength - 4, std::max<std::size_t>(16, static_cast<std::size_t>(m_delayTime * sr)));
    const float reverbMix =
        std::clamp(m_reverbAmount + (sustainDown ? 0.14f * m_damperResonance : 0.0f), 0.0f, 0.95f);
    const float lfoStep = chorusLfoOmega / sr;

    const bool drive = m_driveAmount > 0.005f;
    const float driveK = 1.0f + 3.0f * m_driveAmount;
    const float driveNorm = 1.0f / std::tanh(driveK);
    const float chorus = m_chorusAmount;
    const bool chorusOn = chorus > 0.005f && !m_chorusLeft.empty();
    const float delay = m_delayAmount;
    const bool delayOn = delay > 0.005f && delayLength > 16;
    const bool reverbOn = reverbMix > 0.005f;
    const bool widthOn = std::fabs(m_stereoWidth - 1.0f) > 0.01f;
    const float compressor = m_compressorAmount;
    const bool compressorOn = compressor > 0.01f;

    for (std::uint32_t i = 0; i < frames; ++i) {
        float l = left[i];
        float r = right[i];

        l = m_highShelf.processLeft(m_midPeak.processLeft(m_lowShelf.processLeft(m_lowPass.processLeft(l))));
        r = m_highShelf.processRight(
            m_midPeak.processRight(m_lowShelf.processRight(m_lowPass.processRight(r))));

        if (drive) {
            l = std::tanh(driveK * l) * driveNorm;
            r = std::tanh(driveK * r) * driveNorm;
        }

        if (chorusOn) {
            const std::size_t length = m_chorusLeft.size();
            const auto write = static_cast<std::size_t>(m_chorusIndex);
            m_chorusLeft[write] = l;
            m_chorusRight[write] = r;
            const auto backL = static_cast<std::size_t>((0.012f + 0.004f * std::sin(m_chorusPhase)) * sr);
            const auto backR = static_cast<std::size_t>((0.013f + 0.004f * std::cos(m_chorusPhase)) * sr);
            const float tapL = m_chorusLeft[(write + length - backL) % length];
            const float tapR = m_chorusRight[(write + length - backR) % length];
            m_chorusPhase += lfoStep;
            if (m_chorusPhase > twoPi) m_chorusPhase -= twoPi;
            m_chorusIndex = (write + 1) % length;
            l = l * (1.0f - 0.35f * chorus) + 0.55f * chorus * tapL;
            r = r * (1.0f - 0.35f * chorus) + 0.55f * chorus * tapR;
        }

        if (delayOn) {
            const auto write = static_cast<std::size_t>(m_delayIndex);
            const std::size_t read = (write + delayLength - delayTaps) % delayLength;
            const float tapL = m_delayLeft[read];
            const float tapR = m_delayRight[read];
            m_delayLeft[write] = l + m_delayFeedback * tapR;
            m_delayRight[write] = r + m_delayFeedback * tapL;
            m_delayIndex = (write + 1) % delayLength;
            l += 0.5f * delay * tapL;
            r += 0.5f * delay * tapR;
        }

        if (reverbOn) runReverb(l, r, reverbMix);

        if (widthOn) {
            const float mid = (l + r) * 0.5f;
            const float side = (l - r) * 0.5f * m_stereoWidth;
            l = mid + side;
            r = mid - side;
        }

        l *= outputLift;
        r *= outputLift;

        const float peak = std::max(std::fabs(l), std::fabs(r));
        m_compressorEnvelope +=
            (peak - m_compressorEnvelope) * (peak > m_compressorEnvelope ? 0.008f : 0.0005f);
        if (compressorOn && m_compressorEnvelope > 0.58f) {
            const float gain =
                (1.0f + 0.32f * compressor) / (1.0f + (m_compressorEnvelope - 0.58f) * compressor * 1.15f);
            l *= gain;
            r *= gain;
        }

        left[i] = softClip(l);
        right[i] = softClip(r);
    }
}

} // namespace tmb
