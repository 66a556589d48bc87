#include "FirstFrameReport.h"

#include "app/WorkstationController.h"

#include <QCoreApplication>
#include <QFile>
#include <QQuickWindow>
#include <QTimer>

#include <chrono>
#include <ctime>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace tmb {

namespace {

// Milliseconds since this process started: /proc/self/stat field 22 (start time
// in clock ticks after boot) against /proc/uptime.
double millisecondsSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly)) return -1.0;
    // The command name (field 2) may hold spaces; fields after it follow the last ')'.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20) return -1.0;
    const double startTicks = fields[19].toDouble(); // field 22 overall
    const double uptimeSeconds = uptime.readAll().split(' ').value(0).toDouble();
    return (uptimeSeconds - startTicks / static_cast<double>(sysconf(_SC_CLK_TCK))) * 1000.0;
}

} // namespace

void reportFirstFrameIfRequested(QQuickWindow* window) {
    if (window == nullptr || qEnvironmentVariableIsEmpty("TEMBORA_REPORT_FIRST_FRAME")) return;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            std::printf("first frame after %.0f ms\n", millisecondsSinceProcessStart());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        },
        Qt::SingleShotConnection);
}

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double processCpuSeconds() {
    timespec spent{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spent);
    return static_cast<double>(spent.tv_sec) + static_cast<double>(spent.tv_nsec) * 1e-9;
}

void finish() {
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

// Shows the next mode of the list and times it to the end of the frame that shows it.
void showNextView(QQuickWindow* window, WorkstationController* controller,
                  std::shared_ptr<QList<int>> modes) {
    if (modes->isEmpty()) return finish();
    const int mode = modes->takeFirst();
    const Clock::time_point start = Clock::now();
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [=] {
            std::printf("view %d shown after %.1f ms\n", mode, millisecondsSince(start));
            QTimer::singleShot(300, window, [=] { showNextView(window, controller, modes); });
        },
        Qt::SingleShotConnection);
    controller->setCurrentMode(mode);
    window->update(); // a mode already shown still ends with a frame
}

void measureIdleCpu(QQuickWindow* window, int seconds) {
    auto frames = std::make_shared<int>(0);
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [frames] { ++*frames; });
    const double cpuAtStart = processCpuSeconds();
    const Clock::time_point start = Clock::now();
    QTimer::singleShot(seconds * 1000, window, [=] {
        const double wall = millisecondsSince(start) / 1000.0;
        std::printf("idle CPU %.1f %% of one core over %.0f s, %d frames\n",
                    100.0 * (processCpuSeconds() - cpuAtStart) / wall, wall, *frames);
        finish();
    });
}

} // namespace

void reportWindowFiguresIfRequested(QQuickWindow* window, WorkstationController* controller) {
    if (window == nullptr || controller == nullptr) return;
    const bool views = !qEnvironmentVariableIsEmpty("TEMBORA_REPORT_VIEW_SWITCH");
    const int idleSeconds = qEnvironmentVariableIntValue("TEMBORA_REPORT_IDLE_CPU");
    if (!views && idleSeconds <= 0) return;
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [=] {
            QTimer::singleShot(3000, window, [=] {
                if (idleSeconds > 0) return measureIdleCpu(window, idleSeconds);
                auto modes = std::make_shared<QList<int>>(QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 0});
                modes->append(QList<int>(*modes));
                showNextView(window, controller, modes);
            });
        },
        Qt::SingleShotConnection);
}

} // namespace tmb
