#pragma once

// A private world for controller tests of presets and the mixer: the catalogue's
// folders (home, SoundFont folder, drum-kit bundle, data) inside one temporary
// folder, the SoundFont name resolver pointed at the same SoundFont folder, and
// optionally a General MIDI font there: a link, named as FluidR3, to the small
// TimGM6mb font, so loads take a fraction of a second.

#include "../storage/CatalogFixture.h"
#include "engines/SoundFontPaths.h"
#include "support/SfzFixtures.h"

#include <QFile>

#include <cmath>

namespace tmb::test {

inline const QString smallGeneralMidiFont = QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");

class PresetWorld {
public:
    explicit PresetWorld(bool withGeneralMidiFont) {
        if (withGeneralMidiFont) {
            if (!QFile::exists(smallGeneralMidiFont)) qFatal("the TimGM6mb font is not installed");
            QFile::link(smallGeneralMidiFont, soundFonts() + QStringLiteral("/FluidR3_GM.sf2"));
        }
        CatalogLocations::setStandard(fixture.locations());
        setSoundFontSearchFolders({soundFonts()});
    }
    ~PresetWorld() {
        CatalogLocations::clearStandard();
        setSoundFontSearchFolders({});
    }
    PresetWorld(const PresetWorld&) = delete;
    PresetWorld& operator=(const PresetWorld&) = delete;

    QString music() const { return fixture.home() + QStringLiteral("/Music"); }
    QString soundFonts() const { return fixture.soundFonts(); }
    QString drumKits() const { return fixture.home() + QStringLiteral("/.lv2/avldrums.lv2"); }

    // Writes "<name>.sfz" into the Music folder (found by the catalogue as
    // "auto_<name>"): `regions` velocity layers, each its own 24-bit sample of a
    // `frequency` sine keyed at note 60. 24-bit samples are decoded when loaded, so
    // more regions and longer samples make a slower load.
    QString writeInstrument(const QString& name, double frequency, int regions = 1, double seconds = 1.0) {
        const QString folder = music() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        QByteArray sfz;
        for (int i = 0; i < regions; ++i) {
            const QString sample = QStringLiteral("%1_%2.wav").arg(name).arg(i);
            TestTone tone;
            tone.frequency = frequency;
            tone.seconds = seconds;
            tone.amplitude = 0.4;
            tone.encoding = WavEncoding::Pcm24;
            if (!writeTestWav(folder + QLatin1Char('/') + sample, tone)) qFatal("cannot write a sample");
            const int low = 1 + i * 127 / regions;
            const int high = (i + 1) * 127 / regions;
            sfz += QStringLiteral("<region> sample=%1 pitch_keycenter=60 lovel=%2 hivel=%3\n")
                       .arg(sample)
                       .arg(low)
                       .arg(high)
                       .toUtf8();
        }
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".sfz");
        if (!writeTestFile(path, sfz)) qFatal("cannot write an instrument");
        return path;
    }

    CatalogFixture fixture;
};

} // namespace tmb::test
