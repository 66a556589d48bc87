#pragma once

#include <QString>
#include <QStringList>

namespace tmb {

// Every place the instrument catalogue looks at. The program uses standard();
// tests point the fields at temporary folders, so that the catalogue can be
// checked with and without a General MIDI font on a machine that has one.
// Threads: GUI thread.
struct CatalogLocations {
    QString home;          // the user's home folder
    QString dataDirectory; // holds "catalog.db"; empty: the standard data folder
    // Where the General MIDI font is looked for, in order. The program refers to it
    // as "/usr/share/soundfonts/FluidR3_GM.sf2" (else "default.sf2"); Debian
    // installs it in "/usr/share/sounds/sf2" (with "default-GM.sf2").
    QStringList soundFontFolders;
    // Searched recursively for SFZ and SoundFont files, in this order.
    QStringList scanFolders;
    // AVL drum-kit bundle folders, the home folder's first.
    QStringList drumKitFolders;
    // The local sample libraries listed ahead of everything else when present.
    QString concertGrandSfz;
    QString studioGrandSfz;
    QString electricGrandSf2;

    // Locations under `home` plus the system folders.
    static CatalogLocations forHome(const QString& home);
    // forHome(the current home folder), or what setStandard() installed.
    static CatalogLocations standard();
    // Replaces what standard() returns, for tests that build the whole controller;
    // clearStandard() goes back to the real folders.
    static void setStandard(const CatalogLocations& locations);
    static void clearStandard();

    // The General MIDI font: "FluidR3_GM.sf2" in any SoundFont folder, else
    // "default.sf2" or "default-GM.sf2"; empty when there is none.
    QString generalMidiSoundFont() const;
    // The first existing file of that name in the drum-kit folders, else empty.
    QString drumKitFile(const QString& fileName) const;
};

// The SoundFont files of the AVL drum kits. They hold drum kits, not melodic
// instruments, so the catalogue never lists them.
inline const QStringList& avlDrumKitFileNames() {
    static const QStringList names{
        QStringLiteral("Red_Zeppelin_4_LV2.sf2"), QStringLiteral("Black_Pearl_4_LV2.sf2"),
        QStringLiteral("Blonde_Bop_LV2.sf2"), QStringLiteral("Buskmans_Holiday_LV2.sf2")};
    return names;
}

} // namespace tmb
