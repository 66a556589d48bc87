#include "SynthEngine.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tmb {

namespace {

constexpr float twoPi = 2.0f * std::numbers::pi_v<float>;
constexpr double cycleToPhase = 4294967296.0; // 2^32: one cycle of a 32-bit phase
constexpr float lfoHz = 5.4f;
constexpr float dcBlockerHz = 5.0f;
// Filter coefficients are tuned at this rate and converted, so every rate sounds alike.
constexpr float filterReferenceRate = 48000.0f;
// Phase step limit (cycles per sample): keeps the 32-bit conversions in range; notes
// this high are far above anything the keyboard plays.
constexpr float maxStep = 0.48f;
// Largest pitch deviation of the vibrato, for the partial limit at half the sample rate.
constexpr float maxVibratoDepth = 0.012f + 0.008f;

enum Waveform { SawStack, ElectricPiano, Organ, Additive, AdditiveBell };

struct VoiceModelShape {
    float attack;  // seconds
    float decay;   // seconds
    float release; // seconds
    float sustain; // level 0..1
    Waveform waveform;
};

constexpr VoiceModelShape voiceModels[8] = {
    {0.38f, 1.2f, 1.4f, 0.85f, SawStack},        // slow pad
    {0.003f, 1.6f, 0.55f, 0.18f, ElectricPiano}, // FM electric piano
    {0.004f, 0.05f, 0.08f, 0.95f, Organ},        // drawbar organ
    {0.004f, 1.8f, 0.65f, 0.12f, Additive},      // additive
    {0.004f, 0.35f, 0.18f, 0.55f, SawStack},     // short saw
    {0.045f, 0.5f, 0.45f, 0.8f, SawStack},       // saw
    {0.28f, 0.9f, 1.1f, 0.88f, SawStack},        // slow saw
    {0.002f, 0.42f, 0.32f, 0.0f, AdditiveBell},  // additive with bell partial
};

// Organ partials as multiples of the sub-octave phase (ratios 0.5, 1.5, 1, 2, 3, 4, 5,
// 6, 8 of the fundamental): every partial keeps a continuous phase of its own.
constexpr std::uint32_t drawbarMultiples[SynthEngine::drawbarCount] = {1, 3, 2, 4, 6, 8, 10, 12, 16};

// One cycle of sine with linear interpolation. 1024 points keep the error below
// 5e-6 of full scale (about -106 dB).
class SineTable {
public:
    static constexpr int bits = 10;
    static constexpr std::uint32_t size = 1u << bits;

    SineTable() {
        for (std::uint32_t i = 0; i < size; ++i) {
            const double a = std::sin(2.0 * std::numbers::pi * i / size);
            const double b = std::sin(2.0 * std::numbers::pi * (i + 1) / size);
            m_points[i] = {static_cast<float>(a), static_cast<float>(b - a)};
        }
    }

    float operator()(std::uint32_t phase) const noexcept {
        constexpr int fractionBits = 32 - bits;
        constexpr float fractionScale = 1.0f / static_cast<float>(1u << fractionBits);
        const Point& p = m_points[phase >> fractionBits];
        const float fraction = static_cast<float>(phase & ((1u << fractionBits) - 1)) * fractionScale;
        return p.value + fraction * p.slope;
    }

private:
    struct Point {
        float value;
        float slope;
    };
    Point m_points[size];
};

const SineTable sineTable;

template <bool Exact>
inline float sine(std::uint32_t phase) noexcept {
    if constexpr (Exact)
        return static_cast<float>(
            std::sin(static_cast<double>(phase) * (2.0 * std::numbers::pi / cycleToPhase)));
    else
        return sineTable(phase);
}

// Cycles (any sign, |cycles| < 2^31) to a 32-bit phase, wrapping.
inline std::uint32_t toPhase(float cycles) noexcept {
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(static_cast<double>(cycles) * cycleToPhase));
}

// Clamps to 0..1; NaN becomes 0.
inline float unitRange(float x) noexcept {
    return std::fmin(std::fmax(x, 0.0f), 1.0f);
}

inline float sawOf(std::uint32_t phase) noexcept {
    return static_cast<float>(phase) * static_cast<float>(2.0 / cycleToPhase) - 1.0f;
}

} // namespace

struct SynthEngine::BlockSetup {
    Waveform waveform;
    float attackStep;
    float decayFactor;
    float releaseFactor;
    float sustain;
    float bendRatio;
    bool steadyPitch; // no vibrato in this block
};

void SynthEngine::prepare(float sampleRate) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
}

void SynthEngine::setDrawbar(int index, float level) noexcept {
    if (index < 0 || index >= drawbarCount) return;
    m_drawbars[index] = unitRange(level);
}

void SynthEngine::setVoiceModel(int model) noexcept {
    m_voiceModel.store(static_cast<std::uint32_t>(std::max(model, 0)), std::memory_order_relaxed);
}

// ---------------------------------------------------------------- notes and controllers

void SynthEngine::releaseVoice(SynthVoice& voice) noexcept {
    voice.sustained = false;
    voice.stage = SynthVoice::Release;
}

void SynthEngine::noteOn(int note, int velocity, float tuningHz) noexcept {
    if (note < 0 || note > 127) return;
    if (velocity < 1) {
        noteOff(note);
        return;
    }
    m_keyDown[note] = true;

    const auto key = static_cast<std::uint32_t>(note);
    SynthVoice* chosen = nullptr;
    for (SynthVoice& v : m_voices)
        if (v.active && v.note == key) {
            chosen = &v;
            break;
        }
    if (chosen == nullptr)
        for (SynthVoice& v : m_voices)
            if (!v.active) {
                chosen = &v;
                break;
            }
    if (chosen == nullptr) {
        chosen = &m_voices[0];
        for (SynthVoice& v : m_voices)
            if (v.age < chosen->age) chosen = &v;
    }

    // Phases, level and filter carry on, so a retriggered or stolen voice starts its
    // attack from where it is, without a click.
    const float tuning = std::isfinite(tuningHz) && tuningHz > 0.0f ? tuningHz : 440.0f;
    SynthVoice& v = *chosen;
    v.active = true;
    v.sustained = false;
    v.note = key;
    v.velocityGain = std::clamp(static_cast<float>(velocity) / 127.0f, 0.05f, 1.0f);
    v.frequency = tuning * std::exp2(static_cast<float>(note - 69) / 12.0f);
    v.stage = SynthVoice::Attack;
    v.age = ++m_voiceCounter;
}

void SynthEngine::noteOff(int note) noexcept {
    if (note < 0 || note > 127) return;
    m_keyDown[note] = false;
    for (SynthVoice& v : m_voices) {
        if (!v.active || v.note != static_cast<std::uint32_t>(note)) continue;
        if (m_sustainDown)
            v.sustained = true;
        else
            releaseVoice(v);
    }
}

void SynthEngine::setSustainPedal(bool down) noexcept {
    m_sustainDown = down;
    if (down) return;
    for (SynthVoice& v : m_voices) {
        if (!v.active || !v.sustained) continue;
        v.sustained = false;
        if (!m_keyDown[v.note]) releaseVoice(v);
    }
}

void SynthEngine::setPitchBend(std::int16_t value) noexcept {
    const int clamped = std::clamp(static_cast<int>(value), -8192, 8191);
    m_pitchBendSemitones = static_cast<float>(clamped) / 8192.0f * 2.0f;
}

void SynthEngine::allNotesOff() noexcept {
    m_sustainDown = false;
    m_keyDown.fill(false);
    for (SynthVoice& v : m_voices)
        if (v.active) releaseVoice(v);
}

int SynthEngine::activeVoiceCount() const noexcept {
    return static_cast<int>(
        std::count_if(m_voices.begin(), m_voices.end(), [](const SynthVoice& v) { return v.active; }));
}

int SynthEngine::voicesOnNote(int note) const noexcept {
    return static_cast<int>(std::count_if(m_voices.begin(), m_voices.end(), [note](const SynthVoice& v) {
        return v.active && static_cast<int>(v.note) == note;
    }));
}

// ---------------------------------------------------------------- rendering

void SynthEngine::renderAdding(float* left, float* right, std::uint32_t frames) noexcept {
    if (left == nullptr || right == nullptr) return;
    while (frames > 0) {
        const std::uint32_t chunk = std::min(frames, config::maxBlockFrames);
        renderChunk(left, right, chunk);
        left += chunk;
        right += chunk;
        frames -= chunk;
    }
    m_publishedVoices.store(activeVoiceCount(), std::memory_order_relaxed);
}

void SynthEngine::renderChunk(float* left, float* right, std::uint32_t frames) noexcept {
    const std::uint32_t model = voiceModel();
    const VoiceModelShape shape =
        model < 8 ? voiceModels[model] : VoiceModelShape{m_attackTime, 0.6f, m_releaseTime, 0.7f, SawStack};
    const float sr = m_sampleRate;
    const float vibratoDepth = 0.012f * unitRange(modWheel) + 0.008f * unitRange(aftertouch);
    const BlockSetup setup{
        shape.waveform,
        1.0f / std::max(1.0f, shape.attack * sr),
        std::pow(0.01f, 1.0f / std::max(1.0f, shape.decay * sr)),
        std::pow(0.001f, 1.0f / std::max(1.0f, shape.release * sr)),
        shape.sustain,
        std::exp2(m_pitchBendSemitones / 12.0f),
        vibratoDepth == 0.0f,
    };

    const float lfoStep = twoPi * lfoHz / sr;
    const bool sounding =
        std::any_of(m_voices.begin(), m_voices.end(), [](const SynthVoice& v) { return v.active; });
    const bool dcSettled = m_dcIn[0] == 0.0f && m_dcIn[1] == 0.0f && m_dcOut[0] == 0.0f && m_dcOut[1] == 0.0f;
    if (!sounding && dcSettled) {
        // Nothing to render; keep the LFO running so the organ's motion stays continuous.
        m_lfoPhase = std::fmod(m_lfoPhase + lfoStep * static_cast<float>(frames), twoPi);
        return;
    }

    for (std::uint32_t i = 0; i < frames; ++i) {
        m_lfoPhase += lfoStep;
        if (m_lfoPhase > twoPi) m_lfoPhase -= twoPi;
        const float lfo = std::sin(m_lfoPhase);
        m_vibrato[i] = 1.0f + vibratoDepth * lfo;
        if (setup.waveform == Organ) {
            m_rotaryLeft[i] = 0.75f + 0.25f * lfo;
            m_rotaryRight[i] = 0.75f + 0.25f * std::cos(m_lfoPhase);
        }
    }

    std::fill_n(m_mixLeft.data(), frames, 0.0f);
    std::fill_n(m_mixRight.data(), frames, 0.0f);
    for (SynthVoice& v : m_voices) {
        if (!v.active) continue;
        if (m_referenceSines)
            renderVoice<true>(v, setup, frames);
        else
            renderVoice<false>(v, setup, frames);
    }

    // A one-pole high-pass at 5 Hz keeps any offset of the waveforms out of the mix.
    const float pole = std::exp(-twoPi * dcBlockerHz / sr);
    const float* mix[2] = {m_mixLeft.data(), m_mixRight.data()};
    float* out[2] = {left, right};
    for (int side = 0; side < 2; ++side) {
        float in1 = m_dcIn[side];
        float out1 = m_dcOut[side];
        for (std::uint32_t i = 0; i < frames; ++i) {
            const float x = mix[side][i];
            out1 = x - in1 + pole * out1;
            in1 = x;
            out[side][i] += out1;
        }
        // Once silent, settle to exact zeros so idle blocks skip the filter.
        if (!sounding && std::fabs(out1) < 1e-7f && std::fabs(in1) < 1e-7f) in1 = out1 = 0.0f;
        m_dcIn[side] = in1;
        m_dcOut[side] = out1;
    }
}

template <bool Exact>
void SynthEngine::renderVoice(SynthVoice& voice, const BlockSetup& setup, std::uint32_t frames) noexcept {
    switch (setup.waveform) {
    case SawStack:
        renderVoiceAs<Exact, SawStack>(voice, setup, frames);
        break;
    case ElectricPiano:
        renderVoiceAs<Exact, ElectricPiano>(voice, setup, frames);
        break;
    case Organ:
        renderVoiceAs<Exact, Organ>(voice, setup, frames);
        break;
    case Additive:
        renderVoiceAs<Exact, Additive>(voice, setup, frames);
        break;
    case AdditiveBell:
        renderVoiceAs<Exact, AdditiveBell>(voice, setup, frames);
        break;
    }
}

template <bool Exact, int W>
void SynthEngine::renderVoiceAs(SynthVoice& voice, const BlockSetup& setup, std::uint32_t frames) noexcept {
    const float velocity = voice.velocityGain;
    const float baseStep = std::clamp(setup.bendRatio * voice.frequency / m_sampleRate, 0.0f, maxStep);
    // Partials that could reach half the sample rate are left out: they would fold back
    // as inharmonic tones.
    const float stepLimit = 0.5f / (baseStep * (1.0f + maxVibratoDepth));
    const auto audible = [stepLimit](float ratio) {
        return ratio < stepLimit ? 1.0f : 0.0f;
    };

    float organGain[drawbarCount] = {};
    if constexpr (W == Organ)
        for (int k = 0; k < drawbarCount; ++k)
            organGain[k] = 0.09f * m_drawbars[k] * audible(0.5f * static_cast<float>(drawbarMultiples[k]));
    const float secondGain = audible(2.0f * 1.0045f);
    const float thirdGain = audible(3.0f * 0.9955f);
    const float bellGain = audible(6.2f);

    // The ladder's coefficient is set for 48 kHz and converted to this rate.
    const float g48 = std::clamp(0.06f + 0.45f * m_cutoff + 0.15f * velocity, 0.03f, 0.75f);
    const float g = 1.0f - std::pow(1.0f - g48, filterReferenceRate / m_sampleRate);
    const float k = m_resonance;
    const float voiceGain = (0.65f * velocity + 0.35f) * 1.48f;

    float level = voice.envelopeLevel;
    SynthVoice::Stage stage = voice.stage;
    float aL = voice.filter[0], bL = voice.filter[1], aR = voice.filter[2], bR = voice.filter[3];
    std::uint32_t p1 = voice.phase1, p2 = voice.phase2, p3 = voice.phase3, sub = voice.subPhase;
    std::uint32_t bell = voice.bellPhase;

    std::uint32_t step1 = 0, step2 = 0, step3 = 0, stepSub = 0, stepBell = 0;
    const auto setSteps = [&](float step) {
        step1 = toPhase(step);
        step2 = toPhase(step * 1.0045f);
        step3 = toPhase(step * 0.9955f);
        stepSub = toPhase(step * 0.5f);
        if constexpr (W == AdditiveBell) {
            const float bellCycles = 6.2f * step;
            stepBell = toPhase(bellCycles - std::floor(bellCycles));
        }
    };
    if (setup.steadyPitch) setSteps(baseStep);

    bool ended = false;
    for (std::uint32_t i = 0; i < frames; ++i) {
        switch (stage) {
        case SynthVoice::Attack:
            level += setup.attackStep;
            if (level >= 1.0f) {
                level = 1.0f;
                stage = SynthVoice::Decay;
            }
            break;
        case SynthVoice::Decay:
            level = (level - setup.sustain) * setup.decayFactor + setup.sustain;
            if (std::fabs(level - setup.sustain) < 0.001f) {
                level = setup.sustain;
                if (setup.sustain <= 0.001f)
                    ended = true;
                else
                    stage = SynthVoice::Sustain;
            }
            break;
        case SynthVoice::Sustain:
            break;
        case SynthVoice::Release:
            level *= setup.releaseFactor;
            if (level < 0.0003f) ended = true;
            break;
        case SynthVoice::Idle:
            ended = true;
            break;
        }
        if (ended) break;

        if (!setup.steadyPitch) setSteps(baseStep * m_vibrato[i]);
        p1 += step1;
        p2 += step2;
        p3 += step3;
        sub += stepSub;

        float xL = 0.0f, xR = 0.0f;
        if constexpr (W == ElectricPiano) {
            const float m1 = level * level * 0.45f * sine<Exact>(7u * p1);
            const float m2 = level * velocity * 2.2f * sine<Exact>(p2);
            xL = 0.3f * sine<Exact>(p1 + toPhase((m2 + m1) * (1.0f / twoPi)));
            xR = 0.3f * sine<Exact>(p3 + toPhase((m2 - m1) * (1.0f / twoPi)));
        } else if constexpr (W == Organ) {
            float s = 0.0f;
            for (int d = 0; d < drawbarCount; ++d)
                s += organGain[d] * sine<Exact>(sub * drawbarMultiples[d]);
            xL = s * m_rotaryLeft[i];
            xR = s * m_rotaryRight[i];
        } else if constexpr (W == Additive || W == AdditiveBell) {
            const float base = sine<Exact>(p1);
            float bellTone = 0.0f;
            if constexpr (W == AdditiveBell) {
                bell += stepBell;
                bellTone = bellGain * 0.22f * level * level * sine<Exact>(bell);
            }
            xL = 0.28f * (base + secondGain * 0.35f * level * sine<Exact>(2u * p2) + bellTone);
            xR = 0.28f * (base + thirdGain * 0.14f * level * level * sine<Exact>(3u * p3) + bellTone);
        } else {
            // Two detuned saws around a centre saw, over a sine one octave down.
            const float saw1 = 0.45f * sawOf(p1);
            const float subTone = 0.35f * sine<Exact>(sub);
            xL = 0.22f * (0.45f * sawOf(p2) + saw1 + subTone);
            xR = 0.22f * (0.45f * sawOf(p3) + saw1 + subTone);
        }

        const float tL = ((aL - bL) * k + (xL - aL)) * g;
        aL += tL;
        bL += (aL - bL) * g;
        const float tR = ((aR - bR) * k + (xR - aR)) * g;
        aR += tR;
        bR += (aR - bR) * g;

        const float gain = voiceGain * level;
        m_mixLeft[i] += bL * gain;
        m_mixRight[i] += bR * gain;
    }

    if (ended) {
        level = 0.0f;
        stage = SynthVoice::Idle;
        voice.active = false;
        voice.sustained = false;
    }
    voice.envelopeLevel = level;
    voice.stage = stage;
    voice.filter = {aL, bL, aR, bR};
    voice.phase1 = p1;
    voice.phase2 = p2;
    voice.phase3 = p3;
    voice.subPhase = sub;
    voice.bellPhase = bell;
}

} // namespace tmb
