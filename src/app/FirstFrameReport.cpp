#include "FirstFrameReport.h"

#include <QCoreApplication>
#include <QFile>
#include <QQuickWindow>

#include <cstdio>
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

} // namespace tmb
