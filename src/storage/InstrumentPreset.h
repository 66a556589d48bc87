#pragma once

#include <QString>

#include <QtGlobal>

namespace tmb {

// One playable instrument of the catalogue. The catalogue is rebuilt at every
// start, so this is a plain value: nothing here is stored except through the
// favourite and import lists of ProjectManager.
struct InstrumentPreset {
    QString id; // stable key: "gm_church_organ", "auto_<name>", "user_<name>"
    QString name;
    QString category;    // top-level group, e.g. "Pianos & Keyboards"
    QString subcategory; // e.g. "Concert Grand"
    QString manufacturerStyle;
    int engineType = 1; // SoundEngineType: 0 SFZ sampler, 1 SoundFont, 2 built-in synth
    QString filePath;   // SFZ or SF2 file; empty for synth patches
    int bank = 0;
    int program = 0;
    int synthPatch = 0;
    // Piano parameters applied when the preset goes into the main slot.
    float brightness = 0.55f;
    float reverbAmount = 0.28f;
    float chorusAmount = 0.0f;
    QString licenseInfo = QStringLiteral("Bundled / Open");
    qint64 sizeBytes = 0;
    bool isFavorite = false;
    bool missingFile = false; // an imported entry whose file is gone
};

} // namespace tmb
