#include "CatalogLocations.h"

#include "engines/SoundFontPaths.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace tmb {

namespace {

std::optional<CatalogLocations>& standardOverride() {
    static std::optional<CatalogLocations> locations;
    return locations;
}

QString firstFileIn(const QStringList& folders, const QStringList& names) {
    for (const QString& folder : folders) {
        for (const QString& name : names) {
            const QFileInfo file(QDir(folder).filePath(name));
            if (file.isFile()) return file.absoluteFilePath();
        }
    }
    return {};
}

} // namespace

CatalogLocations CatalogLocations::forHome(const QString& home) {
    CatalogLocations locations;
    locations.home = home;
    locations.soundFontFolders = soundFontSearchFolders();
    locations.scanFolders = {home + QStringLiteral("/Music"), home + QStringLiteral("/Downloads")};
    locations.scanFolders += locations.soundFontFolders;
    locations.drumKitFolders = {home + QStringLiteral("/.lv2/avldrums.lv2"),
                                QStringLiteral("/usr/lib/lv2/avldrums.lv2"),
                                QStringLiteral("/usr/local/lib/lv2/avldrums.lv2")};
    locations.concertGrandSfz =
        home + QStringLiteral("/Music/SalamanderGrandPianoV3/SalamanderGrandPianoV3_C5_16Layer.sfz");
    locations.studioGrandSfz =
        home + QStringLiteral("/Documents/SalamanderGrandPianoV3Retuned/SalamanderGrandPianoV3Retuned.sfz");
    locations.electricGrandSf2 = home + QStringLiteral("/Music/CP80/CP80_Electric_Grand.sf2");
    return locations;
}

CatalogLocations CatalogLocations::standard() {
    if (standardOverride()) return *standardOverride();
    return forHome(QDir::homePath());
}

void CatalogLocations::setStandard(const CatalogLocations& locations) {
    standardOverride() = locations;
}

void CatalogLocations::clearStandard() {
    standardOverride().reset();
}

QString CatalogLocations::generalMidiSoundFont() const {
    const QString font = findSoundFontFile(QStringLiteral("FluidR3_GM.sf2"), soundFontFolders);
    return font.isEmpty() ? findSoundFontFile(QStringLiteral("default.sf2"), soundFontFolders) : font;
}

QString CatalogLocations::drumKitFile(const QString& fileName) const {
    return firstFileIn(drumKitFolders, {fileName});
}

} // namespace tmb
