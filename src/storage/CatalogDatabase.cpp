#include "CatalogDatabase.h"

#include <QtDebug>

#include <sqlite3.h>

namespace tmb {

namespace {

// cleared_builtin_favorites holds the built-in presets whose favourite mark the
// user removed: the built-in tables mark them again at every start otherwise.
// removed_sample_styles holds the sample style files the user removed, which
// start-up would write again otherwise. Databases written before either existed
// gain them here, empty.
constexpr char schemaScript[] = R"sql(
CREATE TABLE IF NOT EXISTS favorites (preset_id TEXT PRIMARY KEY);
CREATE TABLE IF NOT EXISTS imported_files (file_path TEXT PRIMARY KEY, added_at TEXT);
CREATE TABLE IF NOT EXISTS sty_beats_catalog (
    file_name TEXT PRIMARY KEY,
    style_name TEXT NOT NULL,
    genre_family TEXT NOT NULL,
    default_bpm REAL NOT NULL DEFAULT 120.0,
    steps_per_bar INTEGER NOT NULL DEFAULT 16,
    beats_per_bar INTEGER NOT NULL DEFAULT 4,
    main_preset_id TEXT,
    layer_preset_id TEXT,
    split_preset_id TEXT,
    bass_gm_prog INTEGER NOT NULL DEFAULT 33,
    rhythm_gm_prog INTEGER NOT NULL DEFAULT 27,
    harmony_gm_prog INTEGER NOT NULL DEFAULT 48,
    lead_gm_prog INTEGER NOT NULL DEFAULT 61,
    source_path TEXT,
    local_cache_path TEXT,
    file_size INTEGER NOT NULL DEFAULT 0,
    sty_blob BLOB,
    added_at TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS cleared_builtin_favorites (preset_id TEXT PRIMARY KEY);
CREATE TABLE IF NOT EXISTS removed_sample_styles (file_name TEXT PRIMARY KEY);
)sql";

// Another instance of the program may hold a write lock for a moment.
constexpr int busyTimeoutMs = 2000;

} // namespace

CatalogDatabase::~CatalogDatabase() {
    close();
}

bool CatalogDatabase::open(const QString& path) {
    close();
    sqlite3* db = nullptr;
    const int opened =
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (opened == SQLITE_OK) {
        sqlite3_busy_timeout(db, busyTimeoutMs);
        char* error = nullptr;
        if (sqlite3_exec(db, schemaScript, nullptr, nullptr, &error) == SQLITE_OK) {
            m_db = db;
            return true;
        }
        qWarning("Catalogue database %s unusable: %s", qPrintable(path), error ? error : "unknown error");
        sqlite3_free(error);
    } else {
        qWarning("Catalogue database %s cannot be opened: %s", qPrintable(path),
                 db ? sqlite3_errmsg(db) : "out of memory");
    }
    sqlite3_close(db);
    return false;
}

void CatalogDatabase::close() {
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
}

QStringList CatalogDatabase::selectTexts(const char* sql) const {
    QStringList texts;
    if (!m_db) return texts;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return texts;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        if (text) texts.append(QString::fromUtf8(text, sqlite3_column_bytes(statement, 0)));
    }
    sqlite3_finalize(statement);
    return texts;
}

bool CatalogDatabase::execute(const char* sql, std::initializer_list<QString> texts) {
    if (!m_db) return false;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return false;
    }
    int index = 1;
    for (const QString& text : texts) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(statement, index++, utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
    }
    const int stepped = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return stepped == SQLITE_DONE || stepped == SQLITE_ROW;
}

bool CatalogDatabase::executeInTransaction(
    std::initializer_list<std::pair<const char*, QString>> statements) {
    if (!execute("BEGIN;")) return false;
    for (const auto& [sql, text] : statements) {
        if (!execute(sql, {text})) {
            execute("ROLLBACK;");
            return false;
        }
    }
    if (execute("COMMIT;")) return true;
    execute("ROLLBACK;");
    return false;
}

} // namespace tmb
