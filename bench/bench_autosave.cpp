// GUI-thread time of one autosave (the snapshot of the session; the document is built
// and written on the worker) with 1,000 and 10,000 recorded notes, beside the time the
// whole save takes when done in one go on the calling thread. Prints figures; never fails.
//
//   bench_autosave [runs, default 20]

#include "app/WorkstationController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tmb;

namespace {

struct Figures {
    double medianMs;
    double maxMs;
};

Figures summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

double elapsedMs(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    // The controller's catalogue and autosave go to a folder of our own.
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8());
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    WorkstationController controller;
    std::printf(
        "notes   gui-thread autosave ms (median / max)   whole save on one thread ms (median / max)\n");
    for (const int count : {1000, 10000}) {
        std::vector<PianoRollNote> notes;
        for (int i = 0; i < count; ++i)
            notes.push_back({static_cast<std::uint32_t>(i + 1), 0, 36 + i % 60, 90, i * 0.25, 0.25});
        controller.audioEngine().midiRecorder.restoreNotes(notes);

        std::vector<double> gui;
        std::vector<double> whole;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            controller.onAutosaveTick();
            gui.push_back(elapsedMs(timer));
            controller.autosaveWriter().waitForIdle();

            timer.restart();
            ProjectContent content = controller.currentProjectContent(QStringLiteral("Bench"));
            ProjectDocument::save(controller.projectManager().autosavePath(), content, nullptr);
            whole.push_back(elapsedMs(timer));
        }
        const Figures g = summarise(gui);
        const Figures w = summarise(whole);
        std::printf("%6d  %8.2f / %-8.2f                     %8.2f / %-8.2f\n", count, g.medianMs, g.maxMs,
                    w.medianMs, w.maxMs);
    }
    return 0;
}
