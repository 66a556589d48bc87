#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace tmb::test {

namespace {

std::unique_ptr<QTemporaryDir> g_home;

QString stubFolder() {
    return g_home->path() + QStringLiteral("/stub-bin");
}
QString stubLog() {
    return g_home->path() + QStringLiteral("/stub-calls.log");
}

// One record a call: the arguments, then the parent's command line, each field ended
// by US (\037), the two parts by GS (\035), the record by RS (\036) and a newline.
// Built whole and written with one append, so concurrent calls do not interleave.
void writeStub(const QString& program) {
    const QString dir = stubFolder();
    const QString script = QStringLiteral(R"(#!/bin/sh
# Logging stub put on PATH by the test environment: records the call, runs nothing.
us=$(printf '\037')
record="%1$us"
for arg do record="$record$arg$us"; done
parent=$(tr '\000' '\037' < /proc/$PPID/cmdline 2>/dev/null)
printf '%s\035%s\036\n' "$record" "$parent" >> '%2'
[ -e '%3/%1.stdout' ] && cat '%3/%1.stdout'
%4exit $(cat '%3/%1.status' 2>/dev/null || echo 0)
)")
                               .arg(program, stubLog(), dir,
                                    // The phone bridge ("python3 -u <script>") serves until
                                    // the workstation stops it or goes, as the real one does.
                                    program == QLatin1String("python3")
                                        ? QStringLiteral("[ \"$1\" = -u ] && while kill -0 $PPID "
                                                         "2>/dev/null; do sleep 0.2; done\n")
                                        : QString());
    QFile file(dir + QLatin1Char('/') + program);
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0)
        qFatal("cannot write the stub of %s", qPrintable(program));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

struct ProgramVariable {
    const char* program;
    const char* variable;
};
constexpr ProgramVariable programVariables[] = {{"ffmpeg", "TEMBORA_FFMPEG"},
                                                {"pkexec", "TEMBORA_PKEXEC"},
                                                {"python3", "TEMBORA_PYTHON"},
                                                {"ssh", "TEMBORA_SSH"}};

} // namespace

QString usePrivateHome(bool keepRuntimeDir) {
    if (!g_home) {
        g_home = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tmb-home-XXXXXX"));
        const QString root = g_home->path();
        for (const char* sub : {"data", "config", "cache", "runtime", "stub-bin"})
            QDir(root).mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(root + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("HOME", root.toUtf8());
        qputenv("XDG_DATA_HOME", (root + QStringLiteral("/data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/cache")).toUtf8());
        // Removable drives are looked for below this folder, never in the real /media.
        qputenv("TEMBORA_MEDIA_ROOT", (root + QStringLiteral("/media")).toUtf8());
        if (!keepRuntimeDir) {
            qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
            qunsetenv("PULSE_SERVER");
        }
        for (const QString& program : externalPrograms)
            writeStub(program);
        // No plug-in of the machine's own: tests that want some name them.
        useLv2Bundles({});
        qputenv("PATH", (stubFolder() + QLatin1Char(':')).toUtf8() + qgetenv("PATH"));
        // Programs the workstation starts by their full path reach the stubs through these.
        for (const auto& [program, variable] : programVariables)
            qputenv(variable, (stubFolder() + QLatin1Char('/') + QLatin1String(program)).toUtf8());
    }
    return g_home->path();
}

bool useLv2Bundles(const QStringList& bundles) {
    static int folders = 0;
    const QString folder = g_home->path() + QStringLiteral("/lv2-%1").arg(folders++);
    QDir().mkpath(folder);
    bool all = true;
    for (const QString& bundle : QStringList{QStringLiteral("core.lv2"), QStringLiteral("atom.lv2"),
                                             QStringLiteral("midi.lv2"), QStringLiteral("urid.lv2")} +
                                     bundles) {
        const QString path = QDir::isAbsolutePath(bundle) ? bundle : QStringLiteral("/usr/lib/lv2/") + bundle;
        all = QFileInfo(path).isDir() &&
              QFile::link(path, folder + QLatin1Char('/') + QFileInfo(path).fileName()) && all;
    }
    qputenv("LV2_PATH", folder.toUtf8());
    return all;
}

void useRealProgram(const QString& program) {
    if (!g_home) qFatal("useRealProgram before usePrivateHome");
    QFile::remove(stubFolder() + QLatin1Char('/') + program);
    for (const auto& [name, variable] : programVariables)
        if (program == QLatin1String(name)) qunsetenv(variable);
}

void setStubReply(const QString& program, const QByteArray& standardOutput, int exitCode) {
    if (!g_home) qFatal("setStubReply before usePrivateHome");
    const QString base = stubFolder() + QLatin1Char('/') + program;
    QFile out(base + QStringLiteral(".stdout")), status(base + QStringLiteral(".status"));
    if (!out.open(QIODevice::WriteOnly) || out.write(standardOutput) < 0 ||
        !status.open(QIODevice::WriteOnly) || status.write(QByteArray::number(exitCode)) < 0)
        qFatal("cannot write the reply of %s", qPrintable(program));
}

QList<StubCall> stubCalls() {
    QList<StubCall> calls;
    QFile log(g_home ? stubLog() : QString());
    if (!log.open(QIODevice::ReadOnly)) return calls;
    const auto fields = [](const QString& part) {
        QStringList list = part.split(QChar(0x1F));
        list.removeLast(); // each field ends with a separator
        return list;
    };
    for (const QString& record :
         QString::fromUtf8(log.readAll()).split(QStringLiteral("\x1E\n"), Qt::SkipEmptyParts)) {
        const qsizetype split = record.indexOf(QChar(0x1D));
        calls.append({fields(record.left(split)), fields(record.mid(split + 1))});
    }
    return calls;
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
