// Instrument presets in the three keyboard slots, the sampled piano's loads, the
// catalogue's scene operations and the drum kits.

#include "WorkstationController.h"

#include "app/DrumKits.h"
#include "app/SlotSound.h"

#include <QFileInfo>
#include <QUrl>

namespace tmb {

std::optional<InstrumentPreset> WorkstationController::lookupPreset(const QString& presetId) const {
    return findSlotPreset(m_projectManager, presetId);
}

// ---------------------------------------------------------------- slots

void WorkstationController::applyPresetToEngine(int slot, const InstrumentPreset& preset) {
    if (slot < 0 || slot >= config::keyboardSlotCount) return;
    const SoundEngineType engine = presetEngineType(preset);
    if (slot == 0) {
        m_params.brightness = preset.brightness;
        m_params.reverbAmount = preset.reverbAmount;
        m_params.chorusAmount = preset.chorusAmount;
        pushPianoParameters();
        notifyPianoParams();
        // The latest choice wins: a sampled piano still loading for this slot is
        // no longer wanted.
        if (engine != SoundEngineType::Sfz && m_loadingInstrument) {
            m_sfzLoader.cancel();
            setLoadingInstrument(false);
        }
    }
    // A SoundFont program that cannot be selected leaves the channel's sound, unreported.
    applySlotSound(m_audioEngine, slot, preset);
    // Only the main slot plays sampled pianos.
    if (engine == SoundEngineType::Sfz && slot == 0) loadMainSfzInstrument(preset);
}

void WorkstationController::loadMainSfzInstrument(const InstrumentPreset& preset) {
    const QString wanted = QFileInfo(preset.filePath).absoluteFilePath();
    // Compared with the latest file asked for, so choosing the playing piano again
    // while another one loads takes that load back.
    const QString latest = m_loadingInstrument ? m_requestedSfzPath : m_audioEngine.sfzPiano.currentSfzPath();
    if (wanted == latest) return;

    m_requestedSfzPath = wanted;
    m_requestedSfzName = preset.name;
    if (!m_loadingInstrument && m_audioEngine.sfzPiano.currentSfzPath().isEmpty()) {
        // Nothing would sound meanwhile: load at once.
        const SfzInstrumentLoader::Result result = m_sfzLoader.loadNow(wanted);
        showSfzLoadResult(result.ok, preset.name, result.error);
        return;
    }
    m_sfzLoader.request(wanted);
    setLoadingInstrument(true);
}

void WorkstationController::onSfzLoadFinished(const SfzInstrumentLoader::Result& result) {
    // A newer choice is on its way; its own result ends the loading.
    if (result.requestId != m_sfzLoader.latestRequestId()) return;
    setLoadingInstrument(false);
    showSfzLoadResult(result.ok, m_requestedSfzName, result.error);
}

void WorkstationController::showSfzLoadResult(bool ok, const QString& presetName, const QString& error) {
    if (ok)
        setStatusBanner(QStringLiteral("Loaded %1 (%2 regions)")
                            .arg(presetName)
                            .arg(m_audioEngine.sfzPiano.loadedRegionCount()));
    else
        setStatusBanner(QStringLiteral("SFZ Warning: %1").arg(error));
}

void WorkstationController::setLoadingInstrument(bool loading) {
    if (loading == m_loadingInstrument) return;
    m_loadingInstrument = loading;
    Q_EMIT loadingInstrumentChanged();
}

void WorkstationController::selectPresetForSlotInternal(int slot, const QString& presetId) {
    if (slot < 0 || slot >= config::keyboardSlotCount) return;
    const std::optional<InstrumentPreset> preset = lookupPreset(presetId);
    if (!preset) return;
    (slot == 0 ? m_mainPresetId : slot == 1 ? m_layer2PresetId : m_splitPresetId) = preset->id;
    applyPresetToEngine(slot, *preset);
    notifyActivePresets();
}

void WorkstationController::selectPresetForSlot(int slotIndex, const QString& presetId) {
    if (slotIndex == 0) resetPerformanceModifiersToDefaults(false);
    selectPresetForSlotInternal(slotIndex, presetId);
}

void WorkstationController::stepMainPreset(int steps) {
    const std::optional<InstrumentPreset> current = m_projectManager.presetWithId(m_mainPresetId);
    if (!current) return;
    QStringList ids; // the category in catalogue order
    for (const InstrumentPreset& preset : m_projectManager.presets())
        if (preset.category == current->category) ids << preset.id;
    const qsizetype count = ids.size();
    const qsizetype next = ((ids.indexOf(current->id) + steps) % count + count) % count;
    selectPresetForSlot(0, ids.at(next));
}

void WorkstationController::resetToDefaultPiano() {
    resetPerformanceModifiersToDefaults(true);
    m_params = PianoParameters{};
    m_abSlotBActive = false;
    pushPianoParameters();
    if (const std::optional<InstrumentPreset> first = m_projectManager.firstPreset()) {
        m_mainPresetId = first->id;
        applyPresetToEngine(0, *first);
        notifyActivePresets();
    }
    notifyPianoParams();
    notifyPedalState();
}

// ---------------------------------------------------------------- display

QString WorkstationController::mainPresetName() const {
    const auto preset = lookupPreset(m_mainPresetId);
    return preset ? preset->name : QStringLiteral("Concert Grand Piano");
}

QString WorkstationController::layer2PresetName() const {
    const auto preset = lookupPreset(m_layer2PresetId);
    return preset ? preset->name : QStringLiteral("Montage Warm Worship Pad");
}

QString WorkstationController::splitPresetName() const {
    const auto preset = lookupPreset(m_splitPresetId);
    return preset ? preset->name : QStringLiteral("Electric Fingered Bass");
}

QString WorkstationController::mainPresetCategory() const {
    const auto preset = lookupPreset(m_mainPresetId);
    return preset ? preset->category + QStringLiteral(" • ") + preset->manufacturerStyle
                  : QStringLiteral("Pianos & Keyboards");
}

QString WorkstationController::mainPresetEngineLabel() const {
    const auto preset = lookupPreset(m_mainPresetId);
    if (!preset) return QStringLiteral("SFZ Engine");
    switch (preset->engineType) {
    case 0:
        return QStringLiteral("16-Layer SFZ + Resonance");
    case 1:
        return QStringLiteral("FluidSynth SF2 Engine");
    default:
        return QStringLiteral("Native Physical / Hybrid Synth");
    }
}

// ---------------------------------------------------------------- catalogue

QVariantList WorkstationController::queryPresets(const QString& category, const QString& searchText,
                                                 bool favoritesOnly) const {
    return m_projectManager.presetsAsVariantList(category, searchText, favoritesOnly);
}

void WorkstationController::toggleFavoritePreset(const QString& presetId) {
    m_projectManager.toggleFavorite(presetId);
    notifyPresetsCatalog();
}

bool WorkstationController::importInstrumentLibrary(const QString& filePath) {
    const QString path =
        filePath.startsWith(QLatin1String("file://")) ? QUrl(filePath).toLocalFile() : filePath;
    QString message;
    const bool imported = m_projectManager.importInstrumentFile(path, &message);
    setStatusBanner(message);
    if (imported) notifyPresetsCatalog();
    return imported;
}

// ---------------------------------------------------------------- drum kits

void WorkstationController::initDrumKits() {
    m_availableDrumKits = findDrumKits(m_projectManager.catalogLocations());
}

void WorkstationController::selectDrumKitByIndex(int index) {
    if (index < 0 || index >= m_availableDrumKits.size()) return;
    const QVariantMap kit = m_availableDrumKits.at(index).toMap();
    if (!m_audioEngine.fluidSynth.selectDrumKit(kit.value(QStringLiteral("path")).toString(),
                                                kit.value(QStringLiteral("bank")).toInt(),
                                                kit.value(QStringLiteral("program")).toInt()))
        return;
    m_currentDrumKitName = kit.value(QStringLiteral("name")).toString();
    notifyDrumKit();
}

} // namespace tmb
