#include "SfzPianoEngine.h"

#include "audio/DenormalGuard.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace tmb {

namespace {

constexpr float releasedEndLevel = 0.00015f;
constexpr float brightAttackSeconds = 0.018f;
// Release and pedal voices fade by this factor per sample while they sound.
constexpr float noiseHoldDecay = 0.99999f;
// C2, G2, C3, E3, G3, C4: the strings that ring in sympathy.
constexpr double resonatorHz[6] = {65.41, 98.0, 130.81, 164.81, 196.0, 261.63};
constexpr auto reclaimPollInterval = std::chrono::milliseconds(200);

// Per-sample factor that takes a level down by 60 dB in `seconds`.
float sixtyDbFactor(double seconds, double sampleRate) {
    return static_cast<float>(std::pow(0.001, 1.0 / (seconds * sampleRate)));
}

float keyPosition(int note) {
    return std::clamp(static_cast<float>(note - 60) / 58.0f, -0.38f, 0.38f);
}

void setKeyPans(SfzVoice& voice, int note) {
    const float p = keyPosition(note);
    voice.panL = std::min(std::sqrt(1.0f - p), 1.15f);
    voice.panR = std::min(std::sqrt(1.0f + p), 1.15f);
}

bool inKeyAndVelocity(const SfzRegion& region, int note, int velocity) {
    return note >= region.lokey && note <= region.hikey && velocity >= region.lovel &&
           velocity <= region.hivel;
}

bool hasFrames(const SfzRegion& region) {
    return region.sample && region.sample->frames >= 1;
}

// Frames k = 0, 1, ... (at most `limit`) whose read position position + k * increment
// still has a following frame to interpolate with.
std::uint32_t framesBeforeSampleEnd(double position, double increment, std::uint64_t sampleFrames,
                                    std::uint32_t limit) {
    const double last = static_cast<double>(sampleFrames - 1);
    if (!(position < last)) return 0;
    const double estimate = std::ceil((last - position) / increment);
    auto n = estimate >= static_cast<double>(limit) ? limit : static_cast<std::uint32_t>(estimate);
    while (n > 0 && position + static_cast<double>(n - 1) * increment >= last)
        --n;
    while (n < limit && position + static_cast<double>(n) * increment < last)
        ++n;
    return n;
}

// Frames a released voice still sounds before its level falls below the end level.
std::uint32_t framesBeforeSilence(float level, float decay, std::uint32_t limit) {
    if (!(level >= releasedEndLevel)) return 0;
    if (!(decay < 1.0f)) return limit;
    if (!(decay > 0.0f)) return 0;
    const double frames = std::floor(std::log(releasedEndLevel / static_cast<double>(level)) /
                                     std::log(static_cast<double>(decay)));
    return frames >= static_cast<double>(limit) ? limit : static_cast<std::uint32_t>(std::max(frames, 0.0));
}

// Voices render four at a time, one per lane: their envelope and tone-filter
// recurrences, which cannot be vectorised along time, run side by side across the
// lanes in one SIMD register (the compiler's generic vectors: SSE2 on x86-64,
// NEON on ARM, no target-specific code).
constexpr std::size_t laneCount = 4;
using LaneFloats = float __attribute__((vector_size(laneCount * sizeof(float))));

LaneFloats loadLanes(const float* p) noexcept {
    LaneFloats v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

void storeLanes(float* p, LaneFloats v) noexcept {
    std::memcpy(p, &v, sizeof(v));
}

// Interpolated sample values of one voice for frames [0, n), in the sample's own
// units (the 16-bit scale is folded into the voice's gain), written every laneCount
// floats (its lane of the lane-interleaved input). Channels is 1, 2, or 0 for more
// than two (the first two are read). The read position runs in 32.32 fixed point
// from the block's first frame, and the index is held to the last frame pair, so
// rounding can never read past the sample.
template <typename Sample, int Channels>
void interpolateVoice(const Sample* __restrict data, std::int64_t stride, std::uint64_t frames,
                      double position, double increment, std::uint32_t n, float* __restrict inL,
                      float* __restrict inR) noexcept {
    if (n == 0) return;
    constexpr double fixedOne = 4294967296.0;
    const auto base = static_cast<std::int64_t>(position);
    const Sample* first = data + base * stride;
    const auto lastIndex = static_cast<std::int64_t>(frames) - 2 - base;
    const std::int64_t step = Channels == 0 ? stride : Channels;
    // Positions in a block stay below 2^31 frames past its start (samples are shorter).
    auto offset = static_cast<std::uint64_t>((position - static_cast<double>(base)) * fixedOne);
    const auto advance = static_cast<std::uint64_t>(std::min(increment, 2147483648.0) * fixedOne);
    for (std::uint32_t k = 0; k < n; ++k) {
        const auto index = std::min(static_cast<std::int64_t>(offset >> 32), lastIndex);
        const float fraction =
            static_cast<float>(static_cast<std::int32_t>((offset >> 8) & 0xFFFFFFu)) * (1.0f / 16777216.0f);
        offset += advance;
        const Sample* frame = first + index * step;
        const auto a = static_cast<float>(frame[0]);
        const auto b = static_cast<float>(frame[step]);
        const float x = a + (b - a) * fraction;
        inL[k * laneCount] = x;
        if constexpr (Channels != 1) {
            const auto c = static_cast<float>(frame[1]);
            const auto d = static_cast<float>(frame[step + 1]);
            inR[k * laneCount] = c + (d - c) * fraction;
        } else {
            inR[k * laneCount] = x;
        }
    }
}

// Per-lane state of the voices of one group. Unused lanes have zero gain and level.
struct LaneVoices {
    std::array<float, laneCount> level{};
    std::array<float, laneCount> decay{};
    std::array<float, laneCount> coeff{};
    std::array<float, laneCount> stateL{};
    std::array<float, laneCount> stateR{};
    std::array<float, laneCount> gainL{};
    std::array<float, laneCount> gainR{};
};

// Envelope, one-pole tone filter, gain and pan of all four lanes over frames
// [from, to), added into the lane-interleaved mix.
void filterLanes(LaneVoices& v, const float* __restrict inL, const float* __restrict inR,
                 float* __restrict mixL, float* __restrict mixR, std::uint32_t from,
                 std::uint32_t to) noexcept {
    LaneFloats level = loadLanes(v.level.data());
    LaneFloats stateL = loadLanes(v.stateL.data());
    LaneFloats stateR = loadLanes(v.stateR.data());
    const LaneFloats decay = loadLanes(v.decay.data());
    const LaneFloats coeff = loadLanes(v.coeff.data());
    const LaneFloats gainL = loadLanes(v.gainL.data());
    const LaneFloats gainR = loadLanes(v.gainR.data());
    for (std::uint32_t k = from; k < to; ++k) {
        const std::size_t i = std::size_t{k} * laneCount;
        level *= decay;
        stateL += (loadLanes(inL + i) - stateL) * coeff;
        stateR += (loadLanes(inR + i) - stateR) * coeff;
        storeLanes(mixL + i, loadLanes(mixL + i) + stateL * gainL * level);
        storeLanes(mixR + i, loadLanes(mixR + i) + stateR * gainR * level);
    }
    storeLanes(v.level.data(), level);
    storeLanes(v.stateL.data(), stateL);
    storeLanes(v.stateR.data(), stateR);
}

// The same for one lane alone (a voice that outlasts others of its group in a block).
void filterLane(LaneVoices& v, std::size_t l, const float* __restrict inL, const float* __restrict inR,
                float* __restrict mixL, float* __restrict mixR, std::uint32_t from,
                std::uint32_t to) noexcept {
    float level = v.level[l];
    float stateL = v.stateL[l];
    float stateR = v.stateR[l];
    for (std::uint32_t k = from; k < to; ++k) {
        const std::size_t i = std::size_t{k} * laneCount + l;
        level *= v.decay[l];
        stateL += (inL[i] - stateL) * v.coeff[l];
        stateR += (inR[i] - stateR) * v.coeff[l];
        mixL[i] += stateL * v.gainL[l] * level;
        mixR[i] += stateR * v.gainR[l] * level;
    }
    v.level[l] = level;
    v.stateL[l] = stateL;
    v.stateR[l] = stateR;
}

} // namespace

// Announces the bank the audio thread reads during one call.
class SfzPianoEngine::BankUse {
public:
    explicit BankUse(SfzPianoEngine& engine) noexcept
        : m_engine(engine)
        , m_bank(engine.enterBank()) {}
    ~BankUse() { m_engine.leaveBank(); }
    BankUse(const BankUse&) = delete;
    BankUse& operator=(const BankUse&) = delete;
    SfzBank* bank() const noexcept { return m_bank; }

private:
    SfzPianoEngine& m_engine;
    SfzBank* m_bank;
};

SfzPianoEngine::SfzPianoEngine() {
    m_mixLeft.assign(config::maxBlockFrames, 0.0f);
    m_mixRight.assign(config::maxBlockFrames, 0.0f);
    m_laneInputLeft.assign(std::size_t{config::maxBlockFrames} * laneCount, 0.0f);
    m_laneInputRight.assign(std::size_t{config::maxBlockFrames} * laneCount, 0.0f);
    m_laneMixLeft.assign(std::size_t{config::maxBlockFrames} * laneCount, 0.0f);
    m_laneMixRight.assign(std::size_t{config::maxBlockFrames} * laneCount, 0.0f);
    prepare(48000.0f);
}

SfzPianoEngine::~SfzPianoEngine() {
    {
        std::lock_guard lock(m_installMutex);
        m_stopReclaimer = true;
    }
    m_reclaimWake.release();
    if (m_reclaimer.joinable()) m_reclaimer.join();
    // The audio thread has stopped (the owner stops it first): voices no longer
    // read the banks released with the members.
}

void SfzPianoEngine::prepare(float sampleRate) {
    m_sampleRate = sampleRate >= 8000.0f ? std::min(sampleRate, 768000.0f) : 8000.0f;
    for (std::size_t i = 0; i < m_resonators.size(); ++i) {
        Resonator& r = m_resonators[i];
        const auto length = static_cast<std::size_t>(static_cast<double>(m_sampleRate) / resonatorHz[i]);
        r.line.assign(std::max<std::size_t>(32, length), 0.0f);
        r.index = 0;
        r.state = 0.0f;
    }
}

// ---------------------------------------------------------------- loading (non-audio threads)

bool SfzPianoEngine::loadSfzFile(const QString& path, QString* error) {
    std::shared_ptr<SfzBank> bank = SfzBank::load(path, error);
    if (!bank) return false;
    install(std::move(bank));
    return true;
}

void SfzPianoEngine::install(std::shared_ptr<SfzBank> bank) {
    {
        std::lock_guard lock(m_installMutex);
        if (m_currentBank) {
            if (!m_reclaimer.joinable()) m_reclaimer = std::thread([this] { reclaimerLoop(); });
            m_retiredBanks.push_back(std::move(m_currentBank));
        }
        m_currentBank = std::move(bank);
        m_activeBank.store(m_currentBank.get());
    }
    reclaimRetiredBanks();
}

void SfzPianoEngine::reclaimRetiredBanks() {
    std::vector<std::shared_ptr<SfzBank>> unused;
    {
        std::lock_guard lock(m_installMutex);
        auto stillHeld = [this](const std::shared_ptr<SfzBank>& bank) {
            // The bank the audio thread announced may gain voices until it leaves it;
            // otherwise a retired bank gains none, so a zero count stays zero.
            if (m_bankInUse.load() == bank.get()) return true;
            return bank->voiceCount.load(std::memory_order_acquire) != 0;
        };
        const auto split = std::stable_partition(m_retiredBanks.begin(), m_retiredBanks.end(), stillHeld);
        std::move(split, m_retiredBanks.end(), std::back_inserter(unused));
        m_retiredBanks.erase(split, m_retiredBanks.end());
    }
    // Unmapping happens here, outside the lock the GUI thread reads under.
    unused.clear();
}

void SfzPianoEngine::reclaimerLoop() {
    for (;;) {
        bool idle = false;
        {
            std::lock_guard lock(m_installMutex);
            if (m_stopReclaimer) return;
            idle = m_retiredBanks.empty();
        }
        // Woken when a replaced bank's last voice ends; the poll also catches a bank
        // that was announced in use while the last pass looked at it.
        if (idle)
            m_reclaimWake.acquire();
        else
            (void)m_reclaimWake.try_acquire_for(reclaimPollInterval);
        {
            std::lock_guard lock(m_installMutex);
            if (m_stopReclaimer) return;
        }
        reclaimRetiredBanks();
    }
}

QString SfzPianoEngine::currentSfzPath() const {
    std::lock_guard lock(m_installMutex);
    return m_currentBank ? m_currentBank->path : QString();
}

int SfzPianoEngine::loadedRegionCount() const {
    std::lock_guard lock(m_installMutex);
    return m_currentBank ? static_cast<int>(m_currentBank->regions.size()) : 0;
}

int SfzPianoEngine::retiredBankCount() const {
    std::lock_guard lock(m_installMutex);
    return static_cast<int>(m_retiredBanks.size());
}

// ---------------------------------------------------------------- audio thread

SfzBank* SfzPianoEngine::enterBank() noexcept {
    // Announce, then check the announcement was in time: an installer that swapped
    // the bank before seeing it would otherwise be free to release it.
    SfzBank* bank = m_activeBank.load();
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_bankInUse.store(bank);
        SfzBank* now = m_activeBank.load();
        if (now == bank) return bank;
        bank = now;
    }
    m_bankInUse.store(nullptr);
    return nullptr;
}

void SfzPianoEngine::leaveBank() noexcept {
    m_bankInUse.store(nullptr);
}

float SfzPianoEngine::nextRandom() noexcept {
    m_rngState = m_rngState * 1664525u + 1013904223u;
    return static_cast<float>(m_rngState & 0xFFFFFFu) / 16777216.0f;
}

SfzVoice& SfzPianoEngine::allocateVoice() noexcept {
    for (SfzVoice& voice : m_voices)
        if (!voice.active) return voice;
    // Steal the quietest released voice, else the oldest.
    SfzVoice* victim = nullptr;
    for (SfzVoice& voice : m_voices)
        if (voice.released && (victim == nullptr || voice.level < victim->level)) victim = &voice;
    if (victim == nullptr) {
        victim = &m_voices[0];
        for (SfzVoice& voice : m_voices)
            if (voice.age < victim->age) victim = &voice;
    }
    endVoice(*victim);
    return *victim;
}

void SfzPianoEngine::endVoice(SfzVoice& voice) noexcept {
    if (!voice.active) return;
    voice.active = false;
    SfzBank* bank = voice.bank;
    voice.bank = nullptr;
    voice.sampleData = nullptr;
    if (bank != nullptr && bank->voiceCount.fetch_sub(1, std::memory_order_acq_rel) == 1 &&
        bank != m_activeBank.load())
        m_reclaimWake.release();
}

void SfzPianoEngine::startVoice(SfzVoice& voice, SfzBank* bank, const SfzRegion& region,
                                SfzVoiceKind kind) noexcept {
    bank->voiceCount.fetch_add(1, std::memory_order_relaxed);
    voice = SfzVoice{};
    voice.active = true;
    voice.kind = kind;
    voice.bank = bank;
    voice.sampleData = region.sample.get();
    voice.age = ++m_voiceCounter;
}

void SfzPianoEngine::noteOn(int note, int velocity, float tuningHz) noexcept {
    if (note < 0 || note > 127) return;
    if (velocity < 1) {
        noteOff(note, 0.5f);
        return;
    }
    velocity = std::min(velocity, 127);
    BankUse use(*this);
    SfzBank* bank = use.bank();
    if (bank == nullptr) return;

    m_keyHeld[note] = true;
    if (softPedal) velocity = velocity * 78 < 200 ? 1 : velocity * 78 / 100;
    // A re-strike damps the released strings of the same key within milliseconds.
    for (SfzVoice& voice : m_voices)
        if (voice.active && voice.kind == SfzVoiceKind::Attack && voice.note == note && voice.released)
            voice.releaseDecay = 0.992f;

    const float random = nextRandom();
    const double tuning =
        std::isfinite(tuningHz) ? std::clamp(static_cast<double>(tuningHz), 415.0, 466.0) : 440.0;
    const double tuningSemitones = 12.0 * std::log2(tuning / 440.0);
    const float v = static_cast<float>(velocity) / 127.0f;
    const float keyScale = note < 48   ? 1.22f + 0.16f * std::min(static_cast<float>(48 - note) / 27.0f, 1.0f)
                           : note > 72 ? 1.22f + 0.22f * std::min(static_cast<float>(note - 72) / 36.0f, 1.0f)
                                       : 1.22f;
    const float toneCoeff = std::clamp(0.32f + 0.66f * std::pow(v, 0.62f) + (note > 68 ? 0.14f : 0.0f) -
                                           (softPedal ? 0.14f : 0.0f),
                                       0.24f, 0.995f);
    const double holdSeconds = std::clamp(22.0 * std::pow(0.5, (note - 21) / 24.0), 3.0, 24.0);
    const float holdDecay = sixtyDbFactor(holdSeconds, m_sampleRate);
    const double releaseKeyFactor = note < 45 ? 1.3 : note <= 84 ? 1.0 : 0.75;

    for (const SfzRegion& region : bank->regions) {
        if (region.trigger != SfzTrigger::Attack || !inKeyAndVelocity(region, note, velocity) ||
            random < region.lorand || random > region.hirand || !hasFrames(region))
            continue;
        const double semitones = region.tune / 100.0 +
                                 (note - region.pitchKeycenter) * region.pitchKeytrack / 100.0 +
                                 tuningSemitones + m_pitchBendSemitones;
        const double increment = std::exp2(semitones / 12.0) * region.sample->sampleRate / m_sampleRate;
        if (!(increment > 0.0 && std::isfinite(increment))) continue;

        const float t = std::clamp(region.ampVeltrack / 100.0f, 0.0f, 1.0f);
        const int width = region.hivel - region.lovel;
        float velocityGain = 0.0f;
        if (width >= 1 && width <= 24) {
            const float q = std::clamp(
                static_cast<float>(velocity - region.lovel) / static_cast<float>(width), 0.0f, 1.0f);
            velocityGain = (0.84f + 0.16f * q) * (1.0f - 0.42f * t + 0.42f * t * std::pow(v, 0.52f));
        } else {
            velocityGain = 1.0f - t + t * std::pow(v, 0.68f);
        }
        const double releaseSeconds = std::max(0.45 * region.ampegRelease * releaseKeyFactor, 0.08);

        SfzVoice& voice = allocateVoice();
        startVoice(voice, bank, region, SfzVoiceKind::Attack);
        voice.note = note;
        voice.velocity = velocity;
        voice.increment = increment;
        voice.gain = std::pow(10.0f, region.volume / 20.0f) * velocityGain * keyScale * 3.45f *
                     (softPedal ? 0.8f : 1.0f);
        setKeyPans(voice, note);
        voice.toneCoeff = toneCoeff;
        voice.holdDecay = holdDecay;
        voice.releaseDecay = sixtyDbFactor(releaseSeconds, m_sampleRate);
    }
}

void SfzPianoEngine::noteOff(int note, float keyOffVolume) noexcept {
    if (note < 0 || note > 127) return;
    m_keyHeld[note] = false;
    BankUse use(*this);
    for (SfzVoice& voice : m_voices) {
        if (!voice.active || voice.kind != SfzVoiceKind::Attack || voice.note != note) continue;
        if (m_sustainDown) {
            voice.sustained = true;
            continue;
        }
        if (voice.sostenutoHeld || voice.released) continue;
        voice.released = true;
        if (use.bank() != nullptr && keyOffVolume > 0.01f)
            triggerReleaseSample(use.bank(), note, voice.velocity, voice.framesPlayed, keyOffVolume);
    }
}

void SfzPianoEngine::triggerReleaseSample(SfzBank* bank, int note, int velocity, std::uint64_t framesHeld,
                                          float keyOffVolume) noexcept {
    const double heldSeconds = static_cast<double>(framesHeld) / m_sampleRate;
    if (heldSeconds > 15.0) return;
    for (const SfzRegion& region : bank->regions) {
        if (region.trigger != SfzTrigger::Release || !inKeyAndVelocity(region, note, velocity) ||
            !hasFrames(region))
            continue;
        // Unpitched noise (key thumps) fades more slowly with the hold time.
        const bool unpitched = std::fabs(region.pitchKeytrack) < 1.0f;
        const double attenuation = (unpitched ? region.rtDecay / 4.0 : region.rtDecay) * heldSeconds;
        const double levelDb = region.volume - attenuation;
        if (levelDb < -68.0) continue;
        const double semitones =
            (note - region.pitchKeycenter) * region.pitchKeytrack / 100.0 + region.tune / 100.0;
        const double increment = std::exp2(semitones / 12.0) * region.sample->sampleRate / m_sampleRate;
        if (!(increment > 0.0 && std::isfinite(increment))) continue;

        SfzVoice& voice = allocateVoice();
        startVoice(voice, bank, region, SfzVoiceKind::Release);
        voice.note = note;
        voice.velocity = velocity;
        voice.increment = increment;
        voice.gain = static_cast<float>(std::pow(10.0, levelDb / 20.0)) *
                     (0.35f + 0.65f * static_cast<float>(velocity) / 127.0f) * keyOffVolume *
                     (unpitched ? 9.5f : 1.65f);
        setKeyPans(voice, note);
        voice.toneCoeff = 0.92f;
        voice.holdDecay = noiseHoldDecay;
        voice.releaseDecay = sixtyDbFactor(0.65, m_sampleRate);
    }
}

void SfzPianoEngine::triggerPedalSample(int controllerValue, float volume) noexcept {
    if (!(volume > 0.01f)) return;
    BankUse use(*this);
    SfzBank* bank = use.bank();
    if (bank == nullptr) return;
    const float random = nextRandom();
    for (const SfzRegion& region : bank->regions) {
        if (region.trigger != SfzTrigger::Pedal || controllerValue < region.onLocc64 ||
            controllerValue > region.onHicc64 || random < region.lorand || random > region.hirand ||
            !hasFrames(region))
            continue;
        SfzVoice& voice = allocateVoice();
        startVoice(voice, bank, region, SfzVoiceKind::Pedal);
        voice.note = -1;
        voice.velocity = 80;
        voice.increment = static_cast<double>(region.sample->sampleRate) / m_sampleRate;
        voice.gain = std::pow(10.0f, region.volume / 20.0f) * volume * 2.2f;
        voice.panL = 1.0f;
        voice.panR = 1.0f;
        voice.toneCoeff = 0.9f;
        voice.holdDecay = noiseHoldDecay;
        voice.releaseDecay = 0.9995f;
        return;
    }
}

void SfzPianoEngine::releaseVoice(SfzVoice& voice) noexcept {
    voice.released = true;
}

void SfzPianoEngine::setSustainPedal(bool down, int controllerValue, float pedalNoiseVolume) noexcept {
    if (down) {
        if (!m_sustainDown) {
            triggerPedalSample(std::max(controllerValue, 126), pedalNoiseVolume);
            m_sustainDown = true;
        }
        return;
    }
    if (m_sustainDown) {
        triggerPedalSample(0, pedalNoiseVolume);
        m_sustainDown = false;
    }
    // Lifting releases the sustained strings silently (no release samples).
    for (SfzVoice& voice : m_voices) {
        if (!voice.active || !voice.sustained) continue;
        voice.sustained = false;
        const bool keyHeld = voice.note >= 0 && voice.note <= 127 && m_keyHeld[voice.note];
        if (!keyHeld && !voice.sostenutoHeld) releaseVoice(voice);
    }
}

void SfzPianoEngine::setSostenutoPedal(bool down) noexcept {
    if (down) {
        if (!m_sostenutoDown) {
            for (SfzVoice& voice : m_voices)
                if (voice.active && voice.kind == SfzVoiceKind::Attack && !voice.released &&
                    voice.note >= 0 && m_keyHeld[voice.note])
                    voice.sostenutoHeld = true;
            m_sostenutoDown = true;
        }
        return;
    }
    m_sostenutoDown = false;
    for (SfzVoice& voice : m_voices) {
        if (!voice.active || !voice.sostenutoHeld) continue;
        voice.sostenutoHeld = false;
        if (voice.note >= 0 && m_keyHeld[voice.note]) continue;
        // With the sustain pedal down the string passes to it, so lifting that
        // pedal later releases it.
        if (m_sustainDown)
            voice.sustained = true;
        else
            releaseVoice(voice);
    }
}

void SfzPianoEngine::setPitchBend(std::int16_t value) noexcept {
    m_pitchBendSemitones = static_cast<float>(value) / 8192.0f * 2.0f;
}

void SfzPianoEngine::allNotesOff() noexcept {
    m_sustainDown = false;
    m_sostenutoDown = false;
    m_keyHeld.fill(false);
    for (SfzVoice& voice : m_voices) {
        if (!voice.active) continue;
        voice.released = true;
        voice.sustained = false;
        voice.sostenutoHeld = false;
        voice.releaseDecay = 0.99f;
    }
}

void SfzPianoEngine::renderStereo(float* left, float* right, std::uint32_t frames) noexcept {
    if (left == nullptr || right == nullptr || frames == 0) return;
    DenormalGuard denormals;
    std::uint32_t active = 0;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(frames - done, config::maxBlockFrames);
        float* mixL = m_mixLeft.data();
        float* mixR = m_mixRight.data();
        std::fill_n(mixL, n, 0.0f);
        std::fill_n(mixR, n, 0.0f);
        active = renderVoices(mixL, mixR, n);
        if (stringResonance > 0.01f && (m_sustainDown || active >= 2))
            renderResonance(mixL, mixR, n, stringResonance * (m_sustainDown ? 0.045f : 0.02f));
        for (std::uint32_t k = 0; k < n; ++k) {
            left[done + k] += mixL[k];
            right[done + k] += mixR[k];
        }
        done += n;
    }
    m_lastActiveVoiceCount.store(active, std::memory_order_relaxed);
}

std::uint32_t SfzPianoEngine::renderVoices(float* left, float* right, std::uint32_t frames) noexcept {
    const std::size_t laneFrames = std::size_t{frames} * laneCount;
    std::fill_n(m_laneMixLeft.data(), laneFrames, 0.0f);
    std::fill_n(m_laneMixRight.data(), laneFrames, 0.0f);
    std::array<SfzVoice*, laneCount> group{};
    std::array<std::uint32_t, laneCount> groupFrames{};
    std::size_t filled = 0;
    std::uint32_t stillActive = 0;
    for (SfzVoice& voice : m_voices) {
        if (!voice.active) continue;
        const SfzSampleData& sample = *voice.sampleData;
        if (sample.frames < 2) {
            endVoice(voice);
            continue;
        }
        std::uint32_t n = framesBeforeSampleEnd(voice.position, voice.increment, sample.frames, frames);
        if (voice.released) n = std::min(n, framesBeforeSilence(voice.level, voice.releaseDecay, frames));
        float* inL = m_laneInputLeft.data() + filled;
        float* inR = m_laneInputRight.data() + filled;
        const auto stride = static_cast<std::int64_t>(sample.channels);
        const double p = voice.position;
        const double inc = voice.increment;
        if (sample.pcm16 != nullptr) {
            const std::int16_t* data = sample.pcm16;
            if (stride == 1)
                interpolateVoice<std::int16_t, 1>(data, 1, sample.frames, p, inc, n, inL, inR);
            else if (stride == 2)
                interpolateVoice<std::int16_t, 2>(data, 2, sample.frames, p, inc, n, inL, inR);
            else
                interpolateVoice<std::int16_t, 0>(data, stride, sample.frames, p, inc, n, inL, inR);
        } else {
            const float* data = sample.pcmFloat.data();
            if (stride == 1)
                interpolateVoice<float, 1>(data, 1, sample.frames, p, inc, n, inL, inR);
            else
                interpolateVoice<float, 2>(data, 2, sample.frames, p, inc, n, inL, inR);
        }
        group[filled] = &voice;
        groupFrames[filled] = n;
        if (++filled == laneCount) {
            stillActive += renderGroup(group.data(), groupFrames.data(), filled, frames);
            filled = 0;
        }
    }
    if (filled > 0) stillActive += renderGroup(group.data(), groupFrames.data(), filled, frames);

    const float* mixL = m_laneMixLeft.data();
    const float* mixR = m_laneMixRight.data();
    for (std::uint32_t k = 0; k < frames; ++k) {
        const std::size_t i = std::size_t{k} * laneCount;
        left[k] += (mixL[i] + mixL[i + 1]) + (mixL[i + 2] + mixL[i + 3]);
        right[k] += (mixR[i] + mixR[i + 1]) + (mixR[i + 2] + mixR[i + 3]);
    }
    return stillActive;
}

std::uint32_t SfzPianoEngine::renderGroup(SfzVoice* const* voices, const std::uint32_t* voiceFrames,
                                          std::size_t count, std::uint32_t frames) noexcept {
    const auto brightFrames = static_cast<std::uint64_t>(brightAttackSeconds * m_sampleRate);
    LaneVoices lanes;
    std::uint32_t common = frames;
    for (std::size_t l = 0; l < count; ++l) {
        const SfzVoice& voice = *voices[l];
        lanes.level[l] = voice.level;
        lanes.decay[l] = voice.released ? voice.releaseDecay : voice.holdDecay;
        // A brighter attack for the first 18 ms.
        lanes.coeff[l] =
            voice.framesPlayed < brightFrames ? std::min(voice.toneCoeff + 0.16f, 1.0f) : voice.toneCoeff;
        lanes.stateL[l] = voice.toneStateL;
        lanes.stateR[l] = voice.toneStateR;
        // Lanes carry 16-bit samples unscaled; their tone states stay in those units.
        const float scale = voice.sampleData->pcm16 != nullptr ? 1.0f / 32768.0f : 1.0f;
        lanes.gainL[l] = voice.gain * voice.panL * scale;
        lanes.gainR[l] = voice.gain * voice.panR * scale;
        common = std::min(common, voiceFrames[l]);
    }
    const float* inL = m_laneInputLeft.data();
    const float* inR = m_laneInputRight.data();
    float* mixL = m_laneMixLeft.data();
    float* mixR = m_laneMixRight.data();
    filterLanes(lanes, inL, inR, mixL, mixR, 0, common);
    // Voices that end within the block stop there; the others finish it alone.
    for (std::size_t l = 0; l < count; ++l)
        if (voiceFrames[l] > common) filterLane(lanes, l, inL, inR, mixL, mixR, common, voiceFrames[l]);

    std::uint32_t stillActive = 0;
    for (std::size_t l = 0; l < count; ++l) {
        SfzVoice& voice = *voices[l];
        voice.position += static_cast<double>(voiceFrames[l]) * voice.increment;
        voice.level = lanes.level[l];
        voice.toneStateL = lanes.stateL[l];
        voice.toneStateR = lanes.stateR[l];
        voice.framesPlayed += frames;
        if (voiceFrames[l] < frames) {
            endVoice(voice);
        } else {
            ++stillActive;
        }
    }
    return stillActive;
}

void SfzPianoEngine::renderResonance(float* left, float* right, std::uint32_t frames, float amount) noexcept {
    for (std::uint32_t k = 0; k < frames; ++k) {
        const float input = (left[k] + right[k]) * 0.015f;
        float y[6];
        for (std::size_t i = 0; i < m_resonators.size(); ++i) {
            Resonator& r = m_resonators[i];
            y[i] = r.line[r.index];
            r.state = r.state * 0.35f + y[i] * 0.65f;
            r.line[r.index] = r.state * 0.982f + input;
            if (++r.index == r.line.size()) r.index = 0;
        }
        left[k] += (y[0] + y[2] + y[4]) * amount;
        right[k] += (y[1] + y[3] + y[5]) * amount;
    }
}

} // namespace tmb
