// Builds the instrument catalogue over a generated tree of instrument files and
// times the rebuild and the preset browser's queries. Prints figures; never fails.
//
//   bench_preset_catalog [file count, default 10000]

#include "storage/ProjectManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

using namespace tmb;

namespace {

// A small SoundFont-shaped file: the RIFF "sfbk" frame with empty INFO, sdta and
// pdta lists, padded to 2 KiB. The catalogue reads names and sizes only.
QByteArray smallSoundFont() {
    auto chunk = [](const char* id, const QByteArray& body) {
        QByteArray bytes(id, 4);
        quint32 size = qToLittleEndian<quint32>(static_cast<quint32>(body.size()));
        bytes.append(reinterpret_cast<const char*>(&size), 4);
        return bytes + body;
    };
    const QByteArray lists = chunk("LIST", QByteArray("INFO")) + chunk("LIST", QByteArray("sdta")) +
                             chunk("LIST", QByteArray("pdta")) + QByteArray(2048, '\0');
    return chunk("RIFF", QByteArray("sfbk") + lists);
}

const QByteArray sfzText = "<group> ampeg_release=0.5\n<region> sample=piano.wav lokey=0 hikey=127\n";

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Wall-clock and CPU time of one run of `work`. The machine these run on is
// shared: the CPU time shows what the code costs when the wall clock is crowded.
struct Timing {
    double wallMs;
    double cpuMs;
};

Timing timeOnce(const std::function<void()>& work) {
    QElapsedTimer timer;
    const double cpuStart = threadCpuMs();
    timer.start();
    work();
    return {static_cast<double>(timer.nsecsElapsed()) / 1e6, threadCpuMs() - cpuStart};
}

Timing median(int runs, const std::function<void()>& work) {
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const Timing timing = timeOnce(work);
        wall.push_back(timing.wallMs);
        cpu.push_back(timing.cpuMs);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int fileCount = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/tmb-bench-catalog-XXXXXX"));
    const QString home = root.path() + QStringLiteral("/home");

    // Half SFZ text files in the music folder, half SoundFonts in the downloads
    // folder, 100 to a folder; one name in ten repeats a name in another folder.
    const QByteArray soundFont = smallSoundFont();
    for (int n = 0; n < fileCount; ++n) {
        const bool sfz = n % 2 == 0;
        const QString folder =
            home +
            (sfz ? QStringLiteral("/Music/Library %1") : QStringLiteral("/Downloads/Fonts %1")).arg(n / 200);
        if (n % 200 < 2) QDir().mkpath(folder);
        const int nameNumber = n % 10 == 9 ? n - 9 : n;
        writeFile(folder + QStringLiteral("/Instrument %1.%2").arg(nameNumber).arg(sfz ? "sfz" : "sf2"),
                  sfz ? sfzText : soundFont);
    }

    CatalogLocations locations = CatalogLocations::forHome(home);
    locations.dataDirectory = root.path() + QStringLiteral("/data");
    // The machine's own SoundFont folders stay: the GM font and its programs are
    // part of a real catalogue.

    std::unique_ptr<ProjectManager> built;
    const Timing firstBuild = timeOnce([&] { built = std::make_unique<ProjectManager>(locations); });
    ProjectManager& manager = *built;
    const int presets = manager.presetCount();
    for (int i = 0; i < 40; ++i)
        manager.toggleFavorite(manager.presets()[static_cast<size_t>(i * 97 % presets)].id);

    const Timing rebuild = median(5, [&] { manager.discoverAndIndexPresets(); });
    int textHits = 0;
    int favoriteHits = 0;
    int allHits = 0;
    const Timing text = median(50, [&] {
        textHits =
            static_cast<int>(manager.presetsAsVariantList(QString(), QStringLiteral("organ"), false).size());
    });
    const Timing favorites = median(50, [&] {
        favoriteHits = static_cast<int>(manager.presetsAsVariantList(QString(), QString(), true).size());
    });
    const Timing empty = median(50, [&] {
        allHits =
            static_cast<int>(manager.presetsAsVariantList(QStringLiteral("All"), QString(), false).size());
    });

    std::printf("instrument files generated  %d\n", fileCount);
    std::printf("catalogue presets           %d\n", presets);
    std::printf("                                   wall ms    cpu ms\n");
    const auto row = [](const char* what, const Timing& timing, int hits) {
        std::printf("%-32s %9.2f %9.2f", what, timing.wallMs, timing.cpuMs);
        if (hits >= 0) std::printf("   (%d presets)", hits);
        std::printf("\n");
    };
    row("first build (new catalog.db)", firstBuild, -1);
    row("rebuild, median of 5", rebuild, -1);
    row("text search \"organ\", median 50", text, textHits);
    row("favourites only, median of 50", favorites, favoriteHits);
    row("empty search, median of 50", empty, allHits);
    return 0;
}
