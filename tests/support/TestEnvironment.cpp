#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

namespace tmb::test {

QString usePrivateHome(bool keepRuntimeDir) {
    static std::unique_ptr<QTemporaryDir> home;
    if (!home) {
        home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tmb-home-XXXXXX"));
        const QString root = home->path();
        for (const char* sub : {"data", "config", "cache", "runtime"})
            QDir(root).mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("HOME", root.toUtf8());
        qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toUtf8());
        if (!keepRuntimeDir) {
            qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qunsetenv("PULSE_SERVER");
        }
    }
    return home->path();
}

bool usePipeWireSession(QString* reason) {
    const QByteArray runtime = qgetenv("TMB_PW_RUNTIME_DIR");
    const QByteArray bus = qgetenv("TMB_PW_DBUS_ADDRESS");
    if (runtime.isEmpty() || !QFile::exists(QString::fromUtf8(runtime) + QStringLiteral("/pipewire-0"))) {
        if (reason)
            *reason = QStringLiteral("no private PipeWire session is running (start it with "
                                     "scripts/pipewire-session.sh; ./tembora.sh test does)");
        return false;
    }
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    return true;
}

QString sourceDir() {
    const QByteArray dir = qgetenv("TMB_SOURCE_DIR");
    return dir.isEmpty() ? QDir::currentPath() : QString::fromUtf8(dir);
}

} // namespace tmb::test
