#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tmb::test {

// Points HOME, the XDG folders, TEMBORA_MEDIA_ROOT and (unless kept) XDG_RUNTIME_DIR at a temporary
// folder living until the process ends, and puts a logging stub for each of `externalPrograms` first on
// PATH. Every test that builds the real controller or runs the program calls this first, so nothing
// touches the developer's own session or machine. Returns the private home folder.
QString usePrivateHome(bool keepRuntimeDir = false);

// Every external program the workstation can start (add one when it learns to). Each stub records its
// arguments and its parent's ("/bin/sh -c" lines) and runs nothing; python3's, started as the phone
// bridge, stays until stopped.
inline const QStringList externalPrograms = {
    QStringLiteral("pactl"),   QStringLiteral("amixer"),   QStringLiteral("systemctl"),
    QStringLiteral("wpctl"),   QStringLiteral("adb"),      QStringLiteral("ssh"),
    QStringLiteral("upnpc"),   QStringLiteral("curl"),     QStringLiteral("hostname"),
    QStringLiteral("openssl"), QStringLiteral("pkexec"),   QStringLiteral("unzip"),
    QStringLiteral("ffmpeg"),  QStringLiteral("xdg-open"), QStringLiteral("python3")};

// Points LV2_PATH (for hosts built afterwards) at a fresh folder of links to `bundles` ("mda.lv2" in
// Debian's folder, or a full path) plus core, atom, midi and urid; false when one is missing.
bool useLv2Bundles(const QStringList& bundles);

// Removes the stub of `program`, for a test that runs the real one against a private instance.
void useRealProgram(const QString& program);

// What the stub of `program` prints on its standard output and exits with.
void setStubReply(const QString& program, const QByteArray& standardOutput, int exitCode = 0);

struct StubCall {
    QStringList arguments;       // the program's name first
    QStringList parentArguments; // of the process that started it
};
// Every stub call so far, oldest first.
QList<StubCall> stubCalls();

// The private PipeWire session of the test script (TMB_PW_RUNTIME_DIR, TMB_PW_DBUS_ADDRESS) becomes
// XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS; false (with a reason) when none runs.
bool usePipeWireSession(QString* reason);

// The repository root (TMB_SOURCE_DIR set by CTest).
QString sourceDir();

} // namespace tmb::test
