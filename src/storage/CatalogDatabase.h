#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>

struct sqlite3;

namespace tmb {

// The SQLite file "catalog.db": favourites, imported instrument files and the
// style library. A thin owner of the connection; when opening fails it stays
// closed and every call is a silent no-op, so the catalogue falls back to memory.
// Threads: GUI thread only.
class CatalogDatabase {
public:
    CatalogDatabase() = default;
    ~CatalogDatabase();
    CatalogDatabase(const CatalogDatabase&) = delete;
    CatalogDatabase& operator=(const CatalogDatabase&) = delete;

    // Opens (creating if needed) the file and makes sure every table exists.
    // A file that is not a database, or cannot be opened or written, leaves the
    // connection closed and returns false; the file itself is left untouched.
    bool open(const QString& path);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    // The first column of every row of `sql` whose value is not NULL.
    QStringList selectTexts(const char* sql) const;
    // Runs one statement with its `?` parameters bound to `texts` in order.
    bool execute(const char* sql, std::initializer_list<QString> texts = {});
    // Several statements, all or none.
    bool executeInTransaction(std::initializer_list<std::pair<const char*, QString>> statements);

    // The open connection (or null), for the style-library table.
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

} // namespace tmb
