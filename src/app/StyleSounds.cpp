#include "StyleSounds.h"

#include <algorithm>

namespace tmb {

namespace {

constexpr int volumeController = 7;
constexpr int panController = 10;
constexpr int reverbSendController = 91;
constexpr int chorusSendController = 93;

// Channels 3-6 in order: rhythm, bass, lead, harmony, with their pan and sends.
struct BandChannel {
    int channel;
    int pan;
    int reverb;
    int chorus;
};
constexpr BandChannel bandChannels[4] = {{3, 44, 44, 22}, {4, 64, 14, 0}, {5, 74, 58, 28}, {6, 86, 54, 34}};

} // namespace

bool applyStyleSounds(FluidSynthEngine& synth, const StylePattern& style, const QString& fontPath,
                      const StyleBandLevels& levels) {
    const bool kit = synth.selectDrumKit(fontPath, 128, std::clamp(style.drumKitProgram, 0, 127));
    const int programs[4] = {style.rhythmGmProg, style.bassGmProg, style.leadGmProg, style.harmonyGmProg};
    for (std::size_t i = 0; i < 4; ++i) {
        const BandChannel& band = bandChannels[i];
        synth.selectProgram(band.channel, fontPath, 0, std::clamp(programs[i], 0, 127));
        synth.postControlChange(band.channel, panController, band.pan);
        synth.postControlChange(band.channel, reverbSendController, band.reverb);
        synth.postControlChange(band.channel, chorusSendController, band.chorus);
        synth.postControlChange(band.channel, volumeController, std::clamp(levels[i], 0, 127));
    }
    return kit;
}

} // namespace tmb
