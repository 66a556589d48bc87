// Times the style library: importing a folder of generated style files (copies of
// the writer's output for the built-in styles, under distinct names), then the
// start-up rebuild over the stored styles. Prints figures; never fails.
//
//   bench_style_library [import count, default 4500] [stored count, default 1000]

#include "rhythm/StyleFileWriter.h"
#include "rhythm/StyleLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <memory>

using namespace tmb;

namespace {

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A world of its own under `root`: data folder, user style folder, no media.
struct Run {
    BeatSequencer sequencer;
    std::unique_ptr<ProjectManager> projects;
    std::unique_ptr<StyleLibrary> library;

    explicit Run(const QString& root) {
        sequencer.initBuiltinStyles();
        CatalogLocations locations = CatalogLocations::forHome(root + QStringLiteral("/home"));
        locations.dataDirectory = root + QStringLiteral("/data");
        locations.soundFontFolders = locations.scanFolders = {};
        projects = std::make_unique<ProjectManager>(locations);
        StyleLibraryOptions options;
        options.userFolder = root + QStringLiteral("/UserStyles");
        options.mediaRoot = root + QStringLiteral("/media");
        library = std::make_unique<StyleLibrary>(sequencer, *projects, options);
    }
};

void generate(const QString& folder, int count) {
    QDir().mkpath(folder);
    const std::vector<StylePattern> styles = builtinStyles();
    for (int i = 0; i < count; ++i) {
        const StylePattern& style = styles[static_cast<std::size_t>(i) % styles.size()];
        QFile file(QStringLiteral("%1/%2 %3.sty").arg(folder, style.id).arg(i));
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(file.fileName()));
        file.write(buildYamahaSff1StyBytes(style));
    }
}

template <typename Work>
void timed(const char* label, Work work) {
    QElapsedTimer wall;
    const double cpu = processCpuMs();
    wall.start();
    const int result = work();
    std::printf("%-42s %8.0f ms wall %8.0f ms cpu  (%d)\n", label, static_cast<double>(wall.elapsed()),
                processCpuMs() - cpu, result);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int importCount = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4500;
    const int storedCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    QTemporaryDir root;

    const QString importRoot = root.filePath(QStringLiteral("import"));
    generate(importRoot + QStringLiteral("/files"), importCount);
    {
        Run run(importRoot);
        run.library->rebuildAtStartup();
        timed("import folder (styles imported)",
              [&] { return run.library->importFolder(importRoot + QStringLiteral("/files")); });
    }

    const QString startRoot = root.filePath(QStringLiteral("start"));
    generate(startRoot + QStringLiteral("/files"), storedCount);
    {
        Run first(startRoot);
        first.library->rebuildAtStartup();
        first.library->importFolder(startRoot + QStringLiteral("/files"));
    }
    Run next(startRoot);
    timed("start-up rebuild (imported styles)", [&] {
        next.library->rebuildAtStartup();
        return next.sequencer.customStyleCount();
    });
    return 0;
}
