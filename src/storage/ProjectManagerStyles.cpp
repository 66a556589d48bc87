// The style library table of ProjectManager: imported style files with their
// bytes and derived settings, and the sample files the user removed.

#include "ProjectManager.h"

#include <sqlite3.h>

namespace tmb {

namespace {

constexpr char insertSql[] =
    "INSERT OR REPLACE INTO sty_beats_catalog (  file_name, style_name, genre_family, default_bpm, "
    "steps_per_bar, beats_per_bar,  main_preset_id, layer_preset_id, split_preset_id,  bass_gm_prog, "
    "rhythm_gm_prog, harmony_gm_prog, lead_gm_prog,  source_path, local_cache_path, file_size, sty_blob, "
    "added_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);";

constexpr char selectSql[] =
    "SELECT file_name, style_name, genre_family, default_bpm, steps_per_bar, beats_per_bar,       "
    "main_preset_id, layer_preset_id, split_preset_id,       bass_gm_prog, rhythm_gm_prog, "
    "harmony_gm_prog, lead_gm_prog,       source_path, local_cache_path, file_size, sty_blob, added_at "
    "FROM sty_beats_catalog ORDER BY file_name ASC;";

void bindText(sqlite3_stmt* statement, int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(statement, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

bool bindAndStep(sqlite3_stmt* statement, const StyDatabaseRecord& r) {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    bindText(statement, 1, r.fileName);
    bindText(statement, 2, r.styleName);
    bindText(statement, 3, r.genreFamily.isEmpty() ? QStringLiteral("💾 USB STY") : r.genreFamily);
    sqlite3_bind_double(statement, 4, r.defaultBpm);
    const int ints[] = {r.stepsPerBar, r.beatsPerBar};
    for (int i = 0; i < 2; ++i)
        sqlite3_bind_int(statement, 5 + i, ints[i]);
    bindText(statement, 7, r.mainPresetId);
    bindText(statement, 8, r.layerPresetId);
    bindText(statement, 9, r.splitPresetId);
    const int programs[] = {r.bassGmProg, r.rhythmGmProg, r.harmonyGmProg, r.leadGmProg};
    for (int i = 0; i < 4; ++i)
        sqlite3_bind_int(statement, 10 + i, programs[i]);
    bindText(statement, 14, r.sourcePath);
    bindText(statement, 15, r.localCachePath);
    sqlite3_bind_int64(statement, 16, r.fileSize);
    if (r.styBlob.isEmpty())
        sqlite3_bind_null(statement, 17);
    else
        sqlite3_bind_blob64(statement, 17, r.styBlob.constData(),
                            static_cast<sqlite3_uint64>(r.styBlob.size()), SQLITE_TRANSIENT);
    bindText(statement, 18, r.addedAt);
    return sqlite3_step(statement) == SQLITE_DONE;
}

QString columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

} // namespace

bool ProjectManager::saveStyBeatsBatchToDatabase(const std::vector<StyDatabaseRecord>& records) {
    sqlite3* db = m_database.handle();
    if (!db) return false;
    if (records.empty()) return true;
    if (!m_database.execute("BEGIN TRANSACTION;")) return false;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, insertSql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        m_database.execute("ROLLBACK;");
        return false;
    }
    bool stored = true;
    for (const StyDatabaseRecord& record : records)
        if (!record.fileName.isEmpty()) stored = bindAndStep(statement, record) && stored;
    sqlite3_finalize(statement);
    if (m_database.execute("COMMIT;")) return stored;
    m_database.execute("ROLLBACK;");
    return false;
}

bool ProjectManager::saveStyBeatToDatabase(const StyDatabaseRecord& record) {
    return saveStyBeatsBatchToDatabase({record});
}

std::vector<StyDatabaseRecord> ProjectManager::loadStyBeatsFromDatabase() const {
    std::vector<StyDatabaseRecord> records;
    sqlite3* db = m_database.handle();
    sqlite3_stmt* statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, selectSql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return records;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        StyDatabaseRecord r;
        r.fileName = columnText(statement, 0);
        r.styleName = columnText(statement, 1);
        r.genreFamily = columnText(statement, 2);
        r.defaultBpm = sqlite3_column_double(statement, 3);
        r.stepsPerBar = sqlite3_column_int(statement, 4);
        r.beatsPerBar = sqlite3_column_int(statement, 5);
        r.mainPresetId = columnText(statement, 6);
        r.layerPresetId = columnText(statement, 7);
        r.splitPresetId = columnText(statement, 8);
        r.bassGmProg = sqlite3_column_int(statement, 9);
        r.rhythmGmProg = sqlite3_column_int(statement, 10);
        r.harmonyGmProg = sqlite3_column_int(statement, 11);
        r.leadGmProg = sqlite3_column_int(statement, 12);
        r.sourcePath = columnText(statement, 13);
        r.localCachePath = columnText(statement, 14);
        r.fileSize = sqlite3_column_int64(statement, 15);
        const void* blob = sqlite3_column_blob(statement, 16);
        if (blob) r.styBlob = QByteArray(static_cast<const char*>(blob), sqlite3_column_bytes(statement, 16));
        r.addedAt = columnText(statement, 17);
        records.push_back(std::move(r));
    }
    sqlite3_finalize(statement);
    return records;
}

bool ProjectManager::removeStyBeatFromDatabase(const QString& fileName) {
    return m_database.execute("DELETE FROM sty_beats_catalog WHERE file_name = ?;", {fileName});
}

bool ProjectManager::clearAllStyBeatsFromDatabase() {
    return m_database.execute("DELETE FROM sty_beats_catalog;");
}

int ProjectManager::styBeatDatabaseCount() const {
    const QStringList count = m_database.selectTexts("SELECT COUNT(*) FROM sty_beats_catalog;");
    return count.isEmpty() ? 0 : count.first().toInt();
}

QSet<QString> ProjectManager::removedSampleStyles() const {
    const QStringList names = m_database.selectTexts("SELECT file_name FROM removed_sample_styles;");
    return QSet<QString>(names.begin(), names.end());
}

void ProjectManager::rememberRemovedSampleStyles(const QStringList& fileNames) {
    for (const QString& name : fileNames)
        m_database.execute("INSERT OR REPLACE INTO removed_sample_styles (file_name) VALUES (?);", {name});
}

} // namespace tmb
