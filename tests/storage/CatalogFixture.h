#pragma once

// A throw-away world for the instrument catalogue in one temporary folder: home, a SoundFont
// folder for the system one, a drum-kit bundle and a data folder. Shared with the app tests.

#include "storage/CatalogLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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
    QString path(const QString& relative) const { return root() + QLatin1Char('/') + relative; }
    QString home() const { return path(QStringLiteral("home")); }
    QString soundFonts() const { return path(QStringLiteral("soundfonts")); }
    QString database() const { return path(QStringLiteral("data/catalog.db")); }
    QString file(const QString& relative, qint64 size = 64) const { return writeFile(path(relative), size); }

    // The standard locations moved into the root: Music, Downloads and the SoundFont folder scanned.
    CatalogLocations locations() const {
        CatalogLocations locations = CatalogLocations::forHome(home());
        locations.dataDirectory = path(QStringLiteral("data"));
        locations.soundFontFolders = {soundFonts()};
        locations.scanFolders = {home() + QStringLiteral("/Music"), home() + QStringLiteral("/Downloads"),
                                 soundFonts()};
        locations.drumKitFolders = {home() + QStringLiteral("/.lv2/avldrums.lv2")};
        return locations;
    }

    // Writes `size` bytes (the catalogue never reads what it lists); returns the absolute path.
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

} // namespace tmb::test
