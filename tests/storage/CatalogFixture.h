#pragma once

// A throw-away world for the instrument catalogue: a home folder, a SoundFont
// folder standing in for the system one, a drum-kit bundle and a data folder,
// all inside one temporary folder.

#include "storage/CatalogLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

namespace tmb::test {

class CatalogFixture {
public:
    CatalogFixture()
        : m_root(QDir::tempPath() + QStringLiteral("/tmb-catalog-XXXXXX")) {
        for (const char* sub :
             {"home/Music", "home/Downloads", "home/.lv2/avldrums.lv2", "soundfonts", "data"})
            QDir(m_root.path()).mkpath(QString::fromLatin1(sub));
    }

    QString root() const { return m_root.path(); }
    QString home() const { return root() + QStringLiteral("/home"); }
    QString soundFonts() const { return root() + QStringLiteral("/soundfonts"); }
    QString data() const { return root() + QStringLiteral("/data"); }
    QString database() const { return data() + QStringLiteral("/catalog.db"); }

    // The standard locations moved into the temporary folder: home's Music and
    // Downloads, then the SoundFont folder are scanned.
    CatalogLocations locations() const {
        CatalogLocations locations = CatalogLocations::forHome(home());
        locations.dataDirectory = data();
        locations.soundFontFolders = {soundFonts()};
        locations.scanFolders = {home() + QStringLiteral("/Music"), home() + QStringLiteral("/Downloads"),
                                 soundFonts()};
        locations.drumKitFolders = {home() + QStringLiteral("/.lv2/avldrums.lv2")};
        return locations;
    }

    // Writes `size` bytes (a pattern, not an instrument: the catalogue never reads
    // the files it lists) and returns the absolute path.
    static QString writeFile(const QString& path, qint64 size = 64) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
        file.write(QByteArray(static_cast<int>(size), 'x'));
        return QFileInfo(path).absoluteFilePath();
    }

private:
    QTemporaryDir m_root;
};

// Number of rows of `table` in the database file, or -1 when it cannot be read.
inline int countRows(const QString& databasePath, const char* table) {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        const QByteArray sql = QByteArray("SELECT COUNT(*) FROM ") + table + ';';
        if (sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            rows = sqlite3_column_int(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace tmb::test
