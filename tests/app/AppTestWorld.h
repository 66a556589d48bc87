#pragma once

// Shared by the controller tests: PresetWorld (a private catalogue, optionally with TimGM6mb
// linked as the GM font), props (several properties at once) and BackendThread.

#include "../storage/CatalogFixture.h"
#include "audio/AudioEngine.h"
#include "engines/SoundFontPaths.h"
#include "support/SfzFixtures.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

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

    // Writes Music/<name>/<name>.sfz ("auto_<name>"): `regions` velocity layers of 24-bit sines
    // keyed at 60 (more and longer samples load more slowly).
    QString writeInstrument(const QString& name, double frequency, int regions = 1, double seconds = 1.0) {
        const QString folder = music() + QLatin1Char('/') + name;
        QByteArray sfz;
        for (int i = 0; i < regions; ++i) {
            const QString sample = QStringLiteral("%1_%2.wav").arg(name).arg(i);
            const TestTone tone{
                .frequency = frequency, .amplitude = 0.4, .seconds = seconds, .encoding = WavEncoding::Pcm24};
            if (!writeTestWav(folder + QLatin1Char('/') + sample, tone)) qFatal("cannot write a sample");
            sfz += QStringLiteral("<region> sample=%1 pitch_keycenter=60 lovel=%2 hivel=%3\n")
                       .arg(sample)
                       .arg(1 + i * 127 / regions)
                       .arg((i + 1) * 127 / regions)
                       .toUtf8();
        }
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".sfz");
        if (!writeTestFile(path, sfz)) qFatal("cannot write an instrument");
        return path;
    }

    CatalogFixture fixture;
};

// The space-separated properties `names` of `object`, space-separated ("0.55 true 3").
inline QString props(const QObject& object, const char* names) {
    QStringList values;
    for (const QString& name : QString::fromLatin1(names).split(QLatin1Char(' '))) {
        const QVariant value = object.property(name.toLatin1());
        values << (value.typeId() == QMetaType::Float ? QString::number(value.toFloat()) : value.toString());
    }
    return values.join(QLatin1Char(' '));
}

class BackendThread {
public:
    // A 256-frame block every `period`; with `holdKey`, key 60 struck every 40 blocks.
    BackendThread(AudioEngine& engine, std::chrono::microseconds period, bool holdKey)
        : m_thread([this, &engine, period, holdKey] {
            std::vector<float> out(512);
            for (int block = 0; m_running.load(); ++block) {
                if (holdKey && block % 40 == 0) engine.submitMidiEvent(MidiEvent::noteOn(0, 60, 100));
                engine.processAudioCallback(out.data(), 256);
                std::this_thread::sleep_for(period);
            }
        }) {}
    ~BackendThread() { stop(); }
    void stop() {
        m_running = false;
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

} // namespace tmb::test
