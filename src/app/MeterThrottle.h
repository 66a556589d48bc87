#pragma once

namespace tmb {

// Paces the meter signal: every UI tick while anything sounds, every tenth tick
// (about 300 ms) while the workstation is idle, so idle meters cost the scene little.
class MeterThrottle {
public:
    // Called once per UI refresh tick; returns whether this tick updates the meters.
    bool tick(bool idle) {
        if (idle && ++m_idleTicks <= 9) return false;
        m_idleTicks = 0;
        return true;
    }

private:
    int m_idleTicks = 0;
};

} // namespace tmb
