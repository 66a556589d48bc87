// The style band on the controller: the pro arranger switch, the play modes,
// progressions and auto-fill, style launches and family quick starts, and the
// 8 ms step timer. The band itself is the Arranger; this file keeps its levels
// and key in step with the mixer and the keyboard and tells the scene.

#include "WorkstationController.h"

#include <cmath>

namespace tmb {

namespace {

constexpr int lastBandStyle = 27; // styles 0-27 have a band of their own
constexpr int familyFlagships[] = {0, 4, 8, 12, 16, 20, 24};
const char* const defaultStyleName = "Mugithi Classic 1-Man Guitar";

} // namespace

const StylePattern* WorkstationController::catalogueStyle(int index) const {
    const auto& styles = beatSequencer().styles();
    return index >= 0 && index < static_cast<int>(styles.size()) ? &styles[static_cast<std::size_t>(index)]
                                                                 : nullptr;
}

QString WorkstationController::arrangerStyleName() const {
    const StylePattern* style = catalogueStyle(currentBeatStyleIndex());
    return style ? style->name : QString::fromLatin1(defaultStyleName);
}

QString WorkstationController::arrangerGenreFamily() const {
    const StylePattern* style = catalogueStyle(currentBeatStyleIndex());
    return style ? style->genre : QStringLiteral("Mugithi");
}

void WorkstationController::syncBand() {
    m_band.setLevels({m_styleVolume, m_styleMuted, m_styleBassVolume, m_styleChordVolume, m_styleLeadVolume});
    m_band.setTranspose(m_params.transposeSemitones);
}

void WorkstationController::onArrangerStepTick() {
    syncBand();
    m_band.followSequencer(beatSequencer());
}

void WorkstationController::advanceProArrangerStep(int step) {
    syncBand();
    m_band.advanceStep(step, beatSequencer());
}

void WorkstationController::setProArrangerEnabled(bool enabled) {
    if (enabled == m_arranger.proArrangerEnabled) return;
    m_arranger.proArrangerEnabled = enabled;
    m_arranger.bandActive = enabled;
    if (!enabled) {
        releaseActiveHymnAndArrangerNotes();
        notifyArrangerState();
        return;
    }
    applyBeatStyleInternal(currentBeatStyleIndex(), false);
    m_band.restart();
    if (!beatSequencer().isPlaying()) {
        beatSequencer().setPlaying(true);
        notifyBeatState();
    }
    notifyArrangerState();
}

void WorkstationController::setArrangerPlayMode(int mode) {
    if (!m_band.setPlayMode(mode)) return;
    sendStylePartVolume(ArrangerState::Lead); // the player's right hand is the lead now, or the band's again
    setStatusBanner(
        m_arranger.arrangerPlayMode == 1
            ? QStringLiteral("PLAY WITH KEYBOARD MODE: %1 (Drums + Bass + Rhythm + Harmony Backing "
                             "Your Live Keys)")
                  .arg(arrangerStyleName())
            : QStringLiteral("FULL-BAND SING-ALONG LOOP: %1 (Drums + Bass + Rhythm + Harmony + Lead "
                             "Auto-Looping)")
                  .arg(arrangerStyleName()));
    notifyArrangerState();
}

void WorkstationController::setArrangerAutoFill(bool enabled) {
    if (enabled == m_arranger.arrangerAutoFill) return;
    m_arranger.arrangerAutoFill = enabled;
    notifyArrangerState();
}

void WorkstationController::setArrangerProgressionIndex(int index) {
    m_arranger.progressionIndex = std::clamp(index, 0, progressionCount - 1);
    m_arranger.progressionBar = 0;
    notifyArrangerState();
}

void WorkstationController::launchStylePreset(int styleIndex, int playMode) {
    const StylePattern* style = catalogueStyle(styleIndex);
    if (style == nullptr) return;
    releaseActiveHymnAndArrangerNotes();
    m_band.setPlayMode(playMode > 0 ? 1 : 0);
    resetPerformanceModifiersToDefaults(false);
    // A drum style is applied too: the new style must not sound under the old one's
    // name. Its presets come along only when it is an imported style.
    const bool bandStyle = styleIndex <= lastBandStyle;
    applyBeatStyleInternal(styleIndex, bandStyle || style->isCustomSty);
    m_arranger.proArrangerEnabled = false;
    m_arranger.bandActive = bandStyle || style->isCustomSty;
    m_band.restart();
    beatSequencer().setPlaying(true);

    const QString name = style->name;
    const QString description = style->subDescription;
    const long tempo = std::lround(bpm());
    if (!m_arranger.bandActive)
        setStatusBanner(
            QStringLiteral("🥁 STUDIO DRUM BEAT: %1 (%2) • %3 BPM").arg(name, description).arg(tempo));
    else if (m_arranger.arrangerPlayMode == 1)
        setStatusBanner(QStringLiteral("🎹 PLAY WITH KEYBOARD: %1 (%2) • Backing Band Active for Your Keys!")
                            .arg(name, description));
    else
        setStatusBanner(
            QStringLiteral("🎤 SING-ALONG FULL-BAND LOOP: %1 (%2) • Playing Complete Loop on Its Own!")
                .arg(name, description));
    notifyWorkstation();
    notifyBeatState();
    notifyArrangerState();
}

void WorkstationController::triggerStyleQuickStart(int stylePresetIndex) {
    const bool family =
        stylePresetIndex >= 0 && stylePresetIndex < static_cast<int>(std::size(familyFlagships));
    launchStylePreset(family ? familyFlagships[stylePresetIndex]
                             : std::clamp(stylePresetIndex, 0, lastBandStyle),
                      m_arranger.arrangerPlayMode);
}

} // namespace tmb
