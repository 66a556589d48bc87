#include "SlotSound.h"

#include "storage/BuiltinPresets.h"
#include "storage/ProjectManager.h"

namespace tmb {

SoundEngineType presetEngineType(const InstrumentPreset& preset) {
    switch (preset.engineType) {
    case 0:
        return SoundEngineType::Sfz;
    case 1:
        return SoundEngineType::SoundFont;
    default:
        return SoundEngineType::Synth;
    }
}

std::optional<InstrumentPreset> findSlotPreset(const ProjectManager& catalogue, const QString& presetId) {
    std::optional<InstrumentPreset> found = catalogue.findPresetById(presetId);
    if (!found) return std::nullopt;
    const QString translated = translateLegacyPresetId(presetId);
    const bool grandStandIn =
        translated == QLatin1String("sfz_salamander_c5") && found->id == QLatin1String("gm_acoustic_grand");
    if (found->id == presetId || found->id == translated || grandStandIn) return found;
    return std::nullopt;
}

bool applySlotSound(AudioEngine& engine, int slot, const InstrumentPreset& preset) {
    if (slot < 0 || slot >= config::keyboardSlotCount) return false;
    const SoundEngineType type = presetEngineType(preset);
    engine.setSlotEngineType(slot, type);
    switch (type) {
    case SoundEngineType::SoundFont:
        return engine.fluidSynth.selectProgram(slot, preset.filePath, preset.bank, preset.program);
    case SoundEngineType::Synth:
        engine.synths[static_cast<std::size_t>(slot)].setVoiceModel(preset.synthPatch);
        return true;
    case SoundEngineType::Sfz:
        return true;
    }
    return true;
}

} // namespace tmb
