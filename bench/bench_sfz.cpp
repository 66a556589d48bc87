// SFZ piano: load time and memory of a generated 88-key, 4-layer instrument (352
// stereo 16-bit samples of 2 s), and the realtime factor for 32, 64 and 128
// sounding voices at 48 kHz in 256-frame blocks (seconds of audio rendered per
// second of CPU time of the rendering thread, pinned to one core).
//
// Usage: bench_sfz [--seconds S] [--dir DIR]
//   --dir keeps the generated instrument in DIR (and reuses it on the next run).

#include "BenchClock.h"
#include "engines/SfzPianoEngine.h"
#include "support/SfzFixtures.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using namespace tmb;
using namespace tmb::bench;

namespace {

constexpr int firstKey = 21;
constexpr int keyCount = 88;
constexpr int layerCount = 4;
constexpr int voiceCounts[] = {32, 64, 128};

// RssAnon and RssFile of this process, in MiB.
struct Rss {
    double anonMiB = 0;
    double fileMiB = 0;
};

Rss readRss() {
    Rss rss;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return rss;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2) continue;
        if (parts[0] == "RssAnon:") rss.anonMiB = parts[1].toDouble() / 1024.0;
        if (parts[0] == "RssFile:") rss.fileMiB = parts[1].toDouble() / 1024.0;
    }
    return rss;
}

QString sampleName(int key, int layer) {
    return QStringLiteral("k%1_v%2.wav").arg(key).arg(layer);
}

// Writes the samples (unless present) and the SFZ file; returns the SFZ path.
QString writeInstrument(const QDir& dir) {
    QByteArray sfz = "<global> ampeg_release=0.8\n";
    for (int k = 0; k < keyCount; ++k) {
        const int key = firstKey + k;
        for (int layer = 0; layer < layerCount; ++layer) {
            const QString name = sampleName(key, layer);
            if (!QFileInfo::exists(dir.filePath(name))) {
                test::TestTone tone;
                tone.frequency = 440.0 * std::exp2((key - 69) / 12.0);
                tone.amplitude = 0.2 + 0.2 * layer;
                tone.seconds = 2.0;
                tone.channels = 2;
                if (!test::writeTestWav(dir.filePath(name), tone)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(dir.filePath(name)));
                    std::exit(1);
                }
            }
            sfz += QStringLiteral("<region> sample=%1 key=%2 lovel=%3 hivel=%4\n")
                       .arg(name)
                       .arg(key)
                       .arg(layer * 32 + 1)
                       .arg(layer * 32 + 32)
                       .toUtf8();
        }
    }
    const QString path = dir.filePath(QStringLiteral("bench_piano.sfz"));
    if (!test::writeTestFile(path, sfz)) std::exit(1);
    return path;
}

// Asks the kernel to drop our sample files from the page cache (only these files).
void evictFromPageCache(const QDir& dir) {
    for (const QString& name : dir.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
        const int fd = ::open(QFile::encodeName(dir.filePath(name)).constData(), O_RDONLY);
        if (fd < 0) continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// Strikes `voices` notes: every key once, then again with other layers.
void strike(SfzPianoEngine& engine, int voices) {
    for (int i = 0; i < voices; ++i) {
        const int key = firstKey + i % keyCount;
        const int layer = (i / keyCount + i) % layerCount;
        engine.noteOn(key, layer * 32 + 16, 440.0f);
    }
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 1.5;
    QString keepDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc)
            keepDir = QString::fromLocal8Bit(argv[++i]);
    }
    // Voices last as long as their 2 s samples.
    seconds = std::clamp(seconds, 0.1, 1.8);

    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    sched_setaffinity(0, sizeof(one), &one);

    QTemporaryDir temporary;
    const QDir dir(keepDir.isEmpty() ? temporary.path() : keepDir);
    if (!keepDir.isEmpty()) QDir().mkpath(keepDir);
    const QString sfzPath = writeInstrument(dir);

    std::printf("SFZ piano: %d keys x %d layers = %d stereo 16-bit samples of 2 s at 48 kHz\n\n", keyCount,
                layerCount, keyCount * layerCount);
    {
        // Cold: a fresh engine each round with our sample files dropped from the page
        // cache first (mapped pages cannot be dropped, so no engine may hold them).
        // Warm: one engine replacing its instrument (the previous one is freed).
        auto engine = std::make_unique<SfzPianoEngine>();
        for (const bool cold : {true, false}) {
            for (int round = 0; round < 3; ++round) {
                if (cold) {
                    engine = std::make_unique<SfzPianoEngine>();
                    evictFromPageCache(dir);
                }
                const Rss before = readRss();
                QElapsedTimer timer;
                timer.start();
                QString error;
                if (!engine->loadSfzFile(sfzPath, &error)) {
                    std::fprintf(stderr, "%s\n", qPrintable(error));
                    return 1;
                }
                const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
                const Rss after = readRss();
                std::printf("load (%s page cache, round %d): %6.1f ms, %d regions; RssAnon %+6.0f KiB, "
                            "RssFile %+6.0f KiB\n",
                            cold ? "cold" : "warm", round + 1, ms, engine->loadedRegionCount(),
                            (after.anonMiB - before.anonMiB) * 1024, (after.fileMiB - before.fileMiB) * 1024);
            }
        }
        // Every sample played through once: the mapped pages now count as RssFile.
        const Rss before = readRss();
        std::vector<float> left(blockFrames), right(blockFrames);
        for (int i = 0; i < keyCount * layerCount; i += 128) {
            for (int v = i; v < std::min(i + 128, keyCount * layerCount); ++v)
                engine->noteOn(firstKey + v / layerCount, (v % layerCount) * 32 + 16, 440.0f);
            for (std::uint32_t f = 0; f < 2 * sampleRate; f += blockFrames)
                engine->renderStereo(left.data(), right.data(), blockFrames);
        }
        const Rss after = readRss();
        std::printf(
            "after playing every sample once: RssAnon %+.1f MiB, RssFile %+.1f MiB (total RssAnon %.1f, "
            "RssFile %.1f MiB)\n\n",
            after.anonMiB - before.anonMiB, after.fileMiB - before.fileMiB, after.anonMiB, after.fileMiB);
    }

    SfzPianoEngine engine;
    if (!engine.loadSfzFile(sfzPath)) return 1;
    std::vector<float> left(blockFrames), right(blockFrames);
    const auto blocks = static_cast<int>(seconds * sampleRate / blockFrames);
    std::printf(
        "realtime factor, 48 kHz, %u-frame blocks, %.1f s per run, best of 5 (string resonance %.2f):\n",
        blockFrames, seconds, static_cast<double>(engine.stringResonance));
    for (const int voices : voiceCounts) {
        double best = 0.0;
        for (int run = 0; run < 5; ++run) {
            engine.allNotesOff();
            for (int i = 0; i < 20; ++i)
                engine.renderStereo(left.data(), right.data(), blockFrames);
            strike(engine, voices);
            engine.renderStereo(left.data(), right.data(), blockFrames);
            if (engine.activeVoiceCount() != voices) {
                std::fprintf(stderr, "%d voices sounding, wanted %d\n", engine.activeVoiceCount(), voices);
                return 1;
            }
            const double start = threadCpuSeconds();
            for (int b = 0; b < blocks; ++b)
                engine.renderStereo(left.data(), right.data(), blockFrames);
            const double cpu = threadCpuSeconds() - start;
            if (engine.activeVoiceCount() != voices) {
                std::fprintf(stderr, "voices ended during the run (%d left)\n", engine.activeVoiceCount());
                return 1;
            }
            best = std::max(best, seconds / cpu);
        }
        std::printf("  %3d voices: %6.1fx realtime\n", voices, best);
    }
    return 0;
}
