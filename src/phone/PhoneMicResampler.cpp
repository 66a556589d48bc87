#include "phone/PhoneMicResampler.h"

#include <QtEndian>

#include <cmath>

namespace tmb {

void PhoneMicResampler::setOutputRate(int sampleRate) {
    m_outputRate = sampleRate > 0 ? sampleRate : 48000;
    m_step = double(phoneRate) / m_outputRate;
    m_phase = m_step;
    m_previous = 0.0f;
}

std::size_t PhoneMicResampler::convert(const QByteArray& pcm) {
    const qsizetype samples = pcm.size() / 2;
    m_out.resize(2 * (std::size_t(std::ceil(samples / m_step)) + 2));
    const auto* bytes = reinterpret_cast<const uchar*>(pcm.constData());
    std::size_t frames = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        const float sample = qFromLittleEndian<qint16>(bytes + 2 * i) / 32768.0f;
        // Frames fall at m_phase, m_phase + m_step, ... between the previous sample
        // (0) and this one (1); at 48000 Hz: their mean, then the sample itself.
        while (m_phase <= 1.0) {
            const float value = m_previous + float(m_phase) * (sample - m_previous);
            m_out[2 * frames] = value;
            m_out[2 * frames + 1] = value;
            ++frames;
            m_phase += m_step;
        }
        m_phase -= 1.0;
        m_previous = sample;
    }
    return frames;
}

} // namespace tmb
