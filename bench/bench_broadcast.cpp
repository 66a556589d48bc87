// What broadcasting costs the window: the real scene streams to an RTMP listener
// of our own on the loopback while the take is recorded (window video + WAV), audio
// running. Prints the GUI-thread time per pushed frame (grab, scale, convert,
// write), frames pushed and missed, and the worst lateness of an 8 ms precise timer
// beside the arranger's; then the time to join a 10-minute take into an MP4.
//
// Run under a display, in a PipeWire session (scripts/pipewire-session.sh):
//   xvfb-run -a build-release/bench/bench_broadcast [--seconds S] [--skip-join]
//   QT_QUICK_BACKEND=software xvfb-run -a build-release/bench/bench_broadcast ...

#include "app/WorkstationController.h"
#include "broadcast/VideoJoin.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace tmb;

namespace {

void waitMs(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

bool run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

void streamWhileRecording(int seconds) {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QTemporaryDir received;
    QProcess listener;
    listener.start(QStringLiteral("/usr/bin/ffmpeg"),
                   {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-listen"),
                    QStringLiteral("1"), QStringLiteral("-timeout"), QStringLiteral("30"),
                    QStringLiteral("-f"), QStringLiteral("flv"), QStringLiteral("-i"),
                    QStringLiteral("rtmp://127.0.0.1:%1/live/key").arg(port), QStringLiteral("-c"),
                    QStringLiteral("copy"), received.filePath(QStringLiteral("out.flv"))});
    waitMs(1500);
    qputenv("TEMBORA_YOUTUBE_INGEST", QStringLiteral("rtmp://127.0.0.1:%1").arg(port).toUtf8());

    // Audio only, not the whole start-up: that would also run the sound-server tools.
    WorkstationController controller;
    controller.audioEngine().start(48000, 256);
    QQmlApplicationEngine scene;
    scene.rootContext()->setContextProperty(QStringLiteral("workstation"), &controller);
    scene.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));
    auto* window =
        scene.rootObjects().isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(scene.rootObjects()[0]);
    if (!window) {
        std::fprintf(stderr, "the scene did not load\n");
        return;
    }
    controller.setQuickWindow(window);
    waitMs(1500);
    controller.setStreamYoutubeKey(QStringLiteral("bench-key"));
    controller.toggleLiveBroadcast();
    std::printf("%s (%dx%d window, %s)\n", qPrintable(controller.broadcastStatusText()), window->width(),
                window->height(),
                qPrintable(window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software
                               ? QStringLiteral("software scene graph")
                               : QStringLiteral("OpenGL")));

    // Per-frame GUI time: the capture statistics, read between frames.
    std::vector<double> frameMs;
    std::uint64_t seenFrames = controller.frameCaptureStats().grabbed;
    qint64 seenNs = controller.frameCaptureStats().busyNs;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const auto& stats = controller.frameCaptureStats();
        if (stats.grabbed == seenFrames) return;
        frameMs.push_back(static_cast<double>(stats.busyNs - seenNs) / 1e6 /
                          static_cast<double>(stats.grabbed - seenFrames));
        seenFrames = stats.grabbed;
        seenNs = stats.busyNs;
    });
    sampler.start(2);
    // An 8 ms precise timer like the arranger's: how late does it fire?
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, worstLateMs = 0;
    QTimer arrangerLike;
    arrangerLike.setTimerType(Qt::PreciseTimer);
    QObject::connect(&arrangerLike, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (lastTick > 0) worstLateMs = std::max(worstLateMs, now - lastTick - 8);
        lastTick = now;
    });
    arrangerLike.start(8);
    waitMs(seconds * 1000);
    arrangerLike.stop();
    sampler.stop();

    const auto stats = controller.frameCaptureStats();
    std::printf("frames pushed %llu, missed by a lagging encoder %llu (%.1f per second)\n",
                static_cast<unsigned long long>(stats.grabbed),
                static_cast<unsigned long long>(stats.dropped), static_cast<double>(stats.grabbed) / seconds);
    std::printf("GUI time per frame: median %.2f ms, 90th percentile %.2f ms, slowest %.2f ms\n",
                percentile(frameMs, 0.5), percentile(frameMs, 0.9),
                static_cast<double>(stats.slowestNs) / 1e6);
    std::printf("8 ms timer: worst lateness %lld ms\n", static_cast<long long>(worstLateMs));
    QElapsedTimer stopping;
    stopping.start();
    controller.toggleLiveBroadcast();
    std::printf("stop (encoders finish, WAV written, join started): %lld ms\n",
                static_cast<long long>(stopping.elapsed()));
    while (controller.runningVideoJoins() > 0)
        waitMs(100);
    std::printf("%s\n", qPrintable(controller.statusBanner()));
    listener.waitForFinished(10000);
}

void joinTenMinutes() {
    QTemporaryDir folder;
    const QString video = folder.filePath(QStringLiteral("video.mp4"));
    const QString wav = folder.filePath(QStringLiteral("take.wav"));
    std::printf("writing a 10-minute 960x540 video and WAV...\n");
    std::fflush(stdout);
    if (!run(QStringLiteral("/usr/bin/ffmpeg"),
             {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
              QStringLiteral("lavfi"), QStringLiteral("-i"), QStringLiteral("testsrc=size=960x540:rate=15"),
              QStringLiteral("-t"), QStringLiteral("600"), QStringLiteral("-vf"),
              QStringLiteral("format=yuv420p"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
              QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-g"),
              QStringLiteral("30"), video}) ||
        !run(QStringLiteral("/usr/bin/ffmpeg"),
             {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
              QStringLiteral("lavfi"), QStringLiteral("-i"),
              QStringLiteral("sine=frequency=440:sample_rate=48000"), QStringLiteral("-t"),
              QStringLiteral("600"), QStringLiteral("-ac"), QStringLiteral("2"), wav})) {
        std::fprintf(stderr, "cannot write the take\n");
        return;
    }
    VideoJoin join({video, wav, folder.filePath(QStringLiteral("joined.mp4")),
                    folder.filePath(QStringLiteral("kept.mp4"))});
    bool joined = false, done = false;
    QObject::connect(&join, &VideoJoin::finished, [&](const VideoJoin::Outcome& outcome) {
        joined = outcome.joined;
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    join.start();
    while (!done)
        waitMs(20);
    std::printf("join of a 10-minute take: %.2f s (%s)\n", static_cast<double>(clock.elapsed()) / 1000.0,
                joined ? "MP4 complete" : "failed");
}

} // namespace

int main(int argc, char* argv[]) {
    // The take, the settings and the catalogue go to a home of the benchmark's own.
    QTemporaryDir home;
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, home.path().toUtf8());
    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    const QStringList args = QCoreApplication::arguments();
    const int index = static_cast<int>(args.indexOf(QStringLiteral("--seconds")));
    const int seconds = index > 0 ? args.value(index + 1).toInt() : 60;
    streamWhileRecording(std::max(seconds, 5));
    if (!args.contains(QStringLiteral("--skip-join"))) joinTenMinutes();
    return 0;
}
