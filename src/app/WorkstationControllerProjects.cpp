// Registrations, project files and the autosave: the controller gathers and applies
// the setup; the document itself is ProjectDocument's, the memories ProjectManager's.

#include "WorkstationController.h"

namespace tmb {

static_assert(ProjectDocument::minBpm == BeatSequencer::minBpm &&
                  ProjectDocument::maxBpm == BeatSequencer::maxBpm,
              "a loaded tempo keeps the sequencer's range");

// ---------------------------------------------------------------- registrations

void WorkstationController::loadRegistration(int slotIndex) {
    const RegistrationPreset* stored = m_projectManager.registration(slotIndex);
    if (!stored) return;
    const RegistrationPreset record = *stored;
    m_activeRegistrationSlot = slotIndex;
    resetPerformanceModifiersToDefaults(true);

    const QString RegistrationPreset::*ids[] = {&RegistrationPreset::mainPresetId,
                                                &RegistrationPreset::layer2PresetId,
                                                &RegistrationPreset::splitPresetId};
    for (int slot = 0; slot < 3; ++slot) {
        const std::optional<InstrumentPreset> preset = m_projectManager.presetWithId(record.*ids[slot]);
        if (!preset) continue;
        (slot == 0 ? m_mainPresetId : slot == 1 ? m_layer2PresetId : m_splitPresetId) = preset->id;
        applyPresetToEngine(slot, *preset);
        notifyActivePresets();
    }

    // The record's sound wins over what the main preset brought; the pedals stay
    // as the reset left them (a pedal held while saving is not pressed again).
    PianoParameters sound = record.piano;
    sound.sustainPedal = m_params.sustainPedal;
    sound.sostenutoPedal = m_params.sostenutoPedal;
    sound.softPedal = m_params.softPedal;
    sound.continuousPedal = m_params.continuousPedal;
    m_params = sound;
    m_zones = record.zones;
    pushPianoParameters();
    pushWorkstationState();

    // The style with its band sounds (not its presets), then the registration's tempo.
    applyBeatStyleInternal(record.beatStyleIndex, false);
    beatSequencer().setBpm(record.bpm);

    setStatusBanner(QStringLiteral("Loaded Registration: %1").arg(record.name));
    notifyPedalState();
    notifyPianoParams();
    notifyWorkstation();
    notifyBeatState();
    notifyBeatGrid();
    notifyRegistrations();
}

void WorkstationController::saveCurrentToRegistration(int slotIndex, const QString& customName) {
    const RegistrationPreset* stored = m_projectManager.registration(slotIndex);
    if (!stored) return;
    RegistrationPreset record = *stored;
    const QString name = customName.trimmed();
    if (!name.isEmpty()) record.name = name;
    record.mainPresetId = m_mainPresetId;
    record.layer2PresetId = m_layer2PresetId;
    record.splitPresetId = m_splitPresetId;
    record.piano = m_params;
    record.zones = m_zones;
    record.beatStyleIndex = currentBeatStyleIndex();
    record.bpm = bpm();
    m_projectManager.saveRegistration(slotIndex, record);
    m_activeRegistrationSlot = slotIndex;
    setStatusBanner(QStringLiteral("Saved Registration Slot %1: %2").arg(slotIndex + 1).arg(record.name));
    notifyRegistrations();
}

// ---------------------------------------------------------------- projects

ProjectContent WorkstationController::currentProjectContent(const QString& projectName) const {
    ProjectContent content;
    content.projectName = projectName;
    content.bpm = bpm();
    content.mainPresetId = m_mainPresetId;
    content.layer2PresetId = m_layer2PresetId;
    content.splitPresetId = m_splitPresetId;
    content.activeLv2Uri = m_audioEngine.lv2Host.loadedUri();
    content.piano = m_params;
    content.zones = m_zones;
    content.mappings = m_midiManager.mappings();
    content.notes = m_audioEngine.midiRecorder.snapshotNotes();
    m_projectManager.completeForSave(content);
    return content;
}

bool WorkstationController::saveProjectToFile(const QString& filePath, const QString& projectName) {
    const QString path = localPathFromUrl(filePath);
    QString error;
    const bool saved = m_projectManager.saveProject(path, currentProjectContent(projectName), &error);
    setStatusBanner(saved ? QStringLiteral("Saved Project: %1").arg(path) : error);
    return saved;
}

bool WorkstationController::loadProjectFromFile(const QString& filePath) {
    const QString path = localPathFromUrl(filePath);
    ProjectContent content;
    content.piano = m_params;
    content.zones = m_zones;
    content.mappings = m_midiManager.mappings();
    QStringList warnings;
    QString error;
    if (!m_projectManager.loadProject(path, content, warnings, &error)) {
        setStatusBanner(error);
        return false;
    }

    // Presets first: the reset they start with and the main preset's own sound
    // would otherwise undo what the file says.
    if (!content.mainPresetId.isEmpty() && m_projectManager.presetWithId(content.mainPresetId)) {
        resetPerformanceModifiersToDefaults(false);
        selectPresetForSlotInternal(0, content.mainPresetId);
    }
    for (int slot : {1, 2}) {
        const QString& id = slot == 1 ? content.layer2PresetId : content.splitPresetId;
        if (id.isEmpty()) continue;
        const std::optional<InstrumentPreset> preset = m_projectManager.presetWithId(id);
        if (!preset) continue;
        (slot == 1 ? m_layer2PresetId : m_splitPresetId) = preset->id;
        applyPresetToEngine(slot, *preset);
        notifyActivePresets();
    }

    // Only the stored keys: the pedals stay as they are.
    ProjectDocument::copyStoredFields(content.piano, m_params);
    ProjectDocument::copyStoredFields(content.zones, m_zones);
    pushPianoParameters();
    pushWorkstationState();
    m_midiManager.setMappings(content.mappings);
    m_audioEngine.midiRecorder.restoreNotes(content.notes);
    beatSequencer().setBpm(content.bpm);
    if (!content.activeLv2Uri.isEmpty()) loadLv2Plugin(content.activeLv2Uri);

    setStatusBanner(warnings.isEmpty() ? QStringLiteral("Loaded Project: %1").arg(content.projectName)
                                       : QStringLiteral("Loaded '%1' with warnings: %2")
                                             .arg(content.projectName, warnings.join(QStringLiteral("; "))));
    notifyPianoParams();
    notifyWorkstation();
    notifyRecordedNotes();
    notifyBeatState();
    Q_EMIT midiDevicesChanged();
    return true;
}

// ---------------------------------------------------------------- autosave

void WorkstationController::onAutosaveTick() {
    if (m_autosaveWriter.isBusy()) return;
    m_autosaveWriter.start(m_projectManager.autosavePath(),
                           currentProjectContent(QStringLiteral("Autosave Session")));
}

} // namespace tmb
