#pragma once

// The phone microphone's audio (signed 16-bit little-endian mono at 24000 Hz) as
// the interleaved stereo floats the engine's microphone input takes, at the
// engine's rate, by linear interpolation. The last sample carries over from one
// packet to the next, so packet edges do not click. GUI thread.

#include <QByteArray>

#include <vector>

namespace tmb {

class PhoneMicResampler {
public:
    static constexpr int phoneRate = 24000;

    // A new rate starts over from silence.
    void setOutputRate(int sampleRate);
    int outputRate() const { return m_outputRate; }
    // Converts one packet (a trailing odd byte is ignored); the frames stay valid
    // until the next call. Returns the frame count.
    std::size_t convert(const QByteArray& pcm);
    const float* frames() const { return m_out.data(); }

private:
    int m_outputRate = 48000;
    double m_step = 0.5;  // input samples per output frame
    double m_phase = 0.5; // position of the next frame after the previous sample
    float m_previous = 0.0f;
    std::vector<float> m_out;
};

} // namespace tmb
