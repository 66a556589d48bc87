#pragma once

namespace tmb {

// Paces the meter signal, which also moves the beat grid's playing step. Each
// update redraws the meters; with software OpenGL every redraw is a whole frame.
class MeterThrottle {
public:
    enum class Pace {
        Idle,        // every tenth UI tick (about 300 ms)
        Sounding,    // every second tick (about 60 ms, as fast as the eye follows a peak meter)
        BeatPlaying, // every tick (30 ms), so the playing step keeps up with fast 16ths
    };

    // Called once per UI refresh tick; returns whether this tick updates the meters.
    bool tick(Pace pace) {
        const int interval = pace == Pace::Idle ? 10 : pace == Pace::Sounding ? 2 : 1;
        if (++m_ticks < interval) return false;
        m_ticks = 0;
        return true;
    }

private:
    int m_ticks = 0;
};

} // namespace tmb
