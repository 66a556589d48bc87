#include "DrumKits.h"

#include "engines/SoundFontPaths.h"

#include <QFileInfo>
#include <QVariantMap>

namespace tmb {

namespace {

struct DrumKitCandidate {
    const char* name;
    const char* avlFileName; // null: a kit of the General MIDI font
    int bank;
    int program;
};

constexpr DrumKitCandidate candidates[] = {
    {"FluidR3 Standard Acoustic Kit", nullptr, 128, 0},
    {"FluidR3 Room Acoustic Kit", nullptr, 128, 8},
    {"FluidR3 Power Rock Kit", nullptr, 128, 16},
    {"FluidR3 Jazz Brush Kit", nullptr, 128, 40},
    {"AVL Red Zeppelin Studio Kit (SF2)", "Red_Zeppelin_4_LV2.sf2", 0, 0},
    {"AVL Black Pearl Studio Kit (SF2)", "Black_Pearl_4_LV2.sf2", 0, 0},
    {"AVL Blonde Bop Jazz Kit (SF2)", "Blonde_Bop_LV2.sf2", 0, 0},
    {"AVL Buskman's Holiday Kit (SF2)", "Buskmans_Holiday_LV2.sf2", 0, 0},
};

} // namespace

QVariantList findDrumKits(const CatalogLocations& locations) {
    const QString generalMidiFont = resolveSoundFontPath(QString::fromLatin1(gmSoundFontPath));
    QVariantList kits;
    for (const DrumKitCandidate& kit : candidates) {
        const QString path =
            kit.avlFileName ? locations.drumKitFile(QString::fromLatin1(kit.avlFileName)) : generalMidiFont;
        if (path.isEmpty() || !QFileInfo(path).isFile()) continue;
        QVariantMap map;
        map.insert(QStringLiteral("name"), QString::fromUtf8(kit.name));
        map.insert(QStringLiteral("path"), path);
        map.insert(QStringLiteral("bank"), kit.bank);
        map.insert(QStringLiteral("program"), kit.program);
        kits.append(map);
    }
    return kits;
}

} // namespace tmb
