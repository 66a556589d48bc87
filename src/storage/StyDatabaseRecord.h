#pragma once

#include <QByteArray>
#include <QString>

namespace tmb {

// One row of the style library table "sty_beats_catalog", fields in column order.
struct StyDatabaseRecord {
    QString fileName; // key: the name of the copy in the user style folder
    QString styleName;
    QString genreFamily;
    double defaultBpm = 120.0;
    int stepsPerBar = 16;
    int beatsPerBar = 4;
    QString mainPresetId;
    QString layerPresetId;
    QString splitPresetId;
    int bassGmProg = 33;
    int rhythmGmProg = 27;
    int harmonyGmProg = 48;
    int leadGmProg = 61;
    QString sourcePath;
    QString localCachePath;
    qint64 fileSize = 0;
    QByteArray styBlob;
    QString addedAt; // UTC, ISO 8601
};

} // namespace tmb
