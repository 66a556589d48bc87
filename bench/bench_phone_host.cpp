// The workstation's side of bench/phone_load.py: the real controller runs the real
// phone bridge (the caller sets HOME, XDG_RUNTIME_DIR and the ports) while a 10 ms
// timer on the GUI thread records how late it fires. Prints "TOKEN <token>" once the
// bridge is ready; on a line "STOP" on standard input prints one line of JSON (timer
// gaps and the controller's counters) and exits.

#include "app/WorkstationController.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

using namespace tmb;

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    WorkstationController controller;
    controller.audioEngine().prepareOffline(48000, 256);

    std::vector<double> gaps;
    QJsonArray lateAt; // seconds since the first tick of the gaps over 100 ms
    QElapsedTimer clock, since;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (clock.isValid()) gaps.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (!gaps.empty() && gaps.back() > 100.0) lateAt.append(double(since.elapsed()) / 1000.0);
        if (!since.isValid()) since.start();
        clock.start();
    });

    QObject::connect(&controller, &WorkstationController::phoneBridgeChanged, [&] {
        if (!controller.phoneBridgeRunning() || ticker.isActive()) return;
        ticker.start(10);
        std::printf("TOKEN %s\n", qPrintable(controller.phoneAccessToken()));
        std::fflush(stdout);
    });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got > 0 && !std::string_view(buffer, std::size_t(got)).starts_with("STOP")) return;
        std::sort(gaps.begin(), gaps.end());
        const auto quantile = [&gaps](double q) {
            return gaps.empty() ? 0.0 : gaps[std::min(gaps.size() - 1, std::size_t(q * double(gaps.size())))];
        };
        const PhoneBridgeState& state = controller.phoneState();
        QJsonObject figures{
            {"ticks", qint64(gaps.size())},
            {"gapP50Ms", quantile(0.5)},
            {"gapP99Ms", quantile(0.99)},
            {"gapMaxMs", gaps.empty() ? 0.0 : gaps.back()},
            {"gapsOver100Ms", qint64(gaps.end() - std::upper_bound(gaps.begin(), gaps.end(), 100.0))},
            {"stateSeq", state.stateSeq},
            {"cameraFrames", state.cameraFrames},
            {"micBlocks", state.micBlocks},
            {"peers", controller.phonePeers().count()},
            {"lateAtS", lateAt}};
        std::printf("%s\n", QJsonDocument(figures).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        app.quit();
    });

    controller.startPhoneBridgeServer();
    return app.exec();
}
