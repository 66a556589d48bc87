// Projects, the autosave file and the eight registration memories.

#include "ProjectManager.h"

#include <QFile>

#include <cstdio>

namespace tmb {

namespace {

struct FactoryRegistration {
    const char* name;
    const char* setListCategory;
    const char* main;
    const char* layer;
    const char* split;
    bool layerOn;
    bool splitOn;
    float brightness;
    float reverb;
    float chorus;
    int style;
    float bpm;
};

const FactoryRegistration factoryRegistrations[] = {
    {"1. Flagship C5 Concert Grand", "Concert & Hymns", "gm_acoustic_grand", "synth_worship_pad",
     "gm_finger_bass", false, false, 0.58f, 0.28f, 0.00f, 24, 74.0f},
    {"2. Worship Grand + Warm Pad", "Worship & Hymns", "gm_acoustic_grand", "synth_worship_pad",
     "synth_sub_bass", true, false, 0.55f, 0.45f, 0.25f, 24, 74.0f},
    {"3. Lingala Seben Climax (1-4-1-5)", "Lingala & Seben", "gm_seben_guitar", "gm_brass_section",
     "gm_finger_bass", false, true, 0.74f, 0.24f, 0.30f, 8, 128.0f},
    {"4. Mugithi Folk-Praise Groove", "Kenyan Mugithi", "gm_country_steel", "gm_mugithi_accordion",
     "gm_finger_bass", false, false, 0.68f, 0.22f, 0.20f, 0, 118.0f},
    {"5. Congolese Rhumba O.K. Flow", "African Rhumba", "gm_rhumba_nylon", "gm_brass_section",
     "gm_finger_bass", false, true, 0.58f, 0.34f, 0.25f, 4, 94.0f},
    {"6. Zanduvi Roots Reggae", "SA Roots Reggae", "gm_brass_section", "synth_gospel_organ", "synth_sub_bass",
     true, false, 0.66f, 0.32f, 0.35f, 16, 78.0f},
    {"7. Kenyan Classic Twist (60s)", "Twist & Benga", "gm_seben_guitar", "gm_perc_organ", "gm_finger_bass",
     false, false, 0.68f, 0.24f, 0.25f, 20, 126.0f},
    {"8. Country Dunmere Train Beat", "Country Gospel", "gm_country_steel", "gm_bright_piano",
     "gm_acoustic_bass", false, false, 0.70f, 0.26f, 0.15f, 12, 116.0f},
};

} // namespace

// ---------------------------------------------------------------- projects

void ProjectManager::completeForSave(ProjectContent& content) const {
    content.mainPresetFilePath.reset();
    if (const std::optional<InstrumentPreset> main = presetWithId(content.mainPresetId))
        content.mainPresetFilePath = main->filePath;
}

bool ProjectManager::saveProject(const QString& path, ProjectContent content, QString* error) const {
    completeForSave(content);
    return ProjectDocument::save(path, content, error);
}

bool ProjectManager::loadProject(const QString& path, ProjectContent& content, QStringList& warnings,
                                 QString* error) const {
    warnings.clear();
    if (!ProjectDocument::load(path, content, error)) return false;
    const QString samples = content.mainPresetFilePath.value_or(QString());
    if (!samples.isEmpty() && !QFile::exists(samples))
        warnings << QStringLiteral("Missing sample library file: %1").arg(samples);
    if (const std::optional<InstrumentPreset> main = presetWithId(content.mainPresetId)) {
        if (main->missingFile)
            warnings
                << QStringLiteral("Preset '%1' has missing sample data on disk.").arg(content.mainPresetId);
    } else if (!content.mainPresetId.isEmpty()) {
        warnings << QStringLiteral("Referenced instrument preset '%1' is not installed.")
                        .arg(content.mainPresetId);
    }
    return true;
}

bool ProjectManager::hasRecoverableAutosave() const {
    return QFile::exists(autosavePath());
}

void ProjectManager::clearRecoverableAutosave() const {
    QFile::remove(autosavePath());
}

QString ProjectManager::previousSessionAutosavePath() const {
    return m_dataDirectory + QStringLiteral("/autosave_previous_session.vks.json");
}

bool ProjectManager::keepPreviousSessionAutosave() const {
    if (!hasRecoverableAutosave()) return false;
    // rename(2) replaces an older kept copy in one step.
    return std::rename(QFile::encodeName(autosavePath()).constData(),
                       QFile::encodeName(previousSessionAutosavePath()).constData()) == 0;
}

// ---------------------------------------------------------------- registrations

void ProjectManager::initDefaultRegistrations() {
    m_registrations.clear();
    int slot = 0;
    for (const FactoryRegistration& row : factoryRegistrations) {
        RegistrationPreset r;
        r.slot = slot++;
        r.name = QString::fromUtf8(row.name);
        r.setListCategory = QString::fromUtf8(row.setListCategory);
        r.mainPresetId = QString::fromLatin1(row.main);
        r.layer2PresetId = QString::fromLatin1(row.layer);
        r.splitPresetId = QString::fromLatin1(row.split);
        r.zones.layer2Enabled = row.layerOn;
        r.zones.splitEnabled = row.splitOn;
        r.piano.brightness = row.brightness;
        r.piano.reverbAmount = row.reverb;
        r.piano.chorusAmount = row.chorus;
        r.beatStyleIndex = row.style;
        r.bpm = row.bpm;
        m_registrations.push_back(r);
    }
}

const RegistrationPreset* ProjectManager::registration(int index) const {
    if (index < 0 || index >= registrationCount()) return nullptr;
    return &m_registrations[static_cast<std::size_t>(index)];
}

void ProjectManager::saveRegistration(int index, const RegistrationPreset& record) {
    if (index < 0 || index >= registrationCount()) return;
    RegistrationPreset& stored = m_registrations[static_cast<std::size_t>(index)];
    stored = record;
    stored.slot = index;
}

QVariantList ProjectManager::registrationsAsVariantList() const {
    QVariantList list;
    for (const RegistrationPreset& r : m_registrations)
        list.append(QVariantMap{{QStringLiteral("slot"), r.slot},
                                {QStringLiteral("name"), r.name},
                                {QStringLiteral("setListCategory"), r.setListCategory},
                                {QStringLiteral("mainPresetId"), r.mainPresetId},
                                {QStringLiteral("layer2PresetId"), r.layer2PresetId},
                                {QStringLiteral("splitPresetId"), r.splitPresetId},
                                {QStringLiteral("layer2Enabled"), r.zones.layer2Enabled},
                                {QStringLiteral("splitEnabled"), r.zones.splitEnabled},
                                {QStringLiteral("bpm"), r.bpm}});
    return list;
}

} // namespace tmb
