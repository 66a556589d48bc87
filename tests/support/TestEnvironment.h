#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tmb::test {

// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, the removable-media
// root TEMBORA_MEDIA_ROOT and (unless told to keep it) XDG_RUNTIME_DIR at a fresh
// temporary folder that lives until the process
// ends, and puts a logging stub for each of `externalPrograms` first on PATH. Every
// test that builds the real controller or runs the program calls this first:
// start-up creates the catalogue, scans the home folder and runs sound-server
// commands, none of which may touch the developer's own session or machine.
// Returns the private home folder.
QString usePrivateHome(bool keepRuntimeDir = false);

// Every external program the workstation can start. Each stub records its argument
// vector and its parent's (the shell line of a "/bin/sh -c" call) and runs nothing.
// Add a program here when the workstation learns to start it. python3 is the phone
// bridge's interpreter: its stub, started as the bridge, stays until stopped; a test
// that runs the real bridge asks for the real interpreter.
inline const QStringList externalPrograms = {
    QStringLiteral("pactl"),   QStringLiteral("amixer"),   QStringLiteral("systemctl"),
    QStringLiteral("wpctl"),   QStringLiteral("adb"),      QStringLiteral("ssh"),
    QStringLiteral("upnpc"),   QStringLiteral("curl"),     QStringLiteral("hostname"),
    QStringLiteral("openssl"), QStringLiteral("pkexec"),   QStringLiteral("unzip"),
    QStringLiteral("ffmpeg"),  QStringLiteral("xdg-open"), QStringLiteral("python3")};

// Points LV2_PATH at a fresh folder of links to Debian's LV2 bundles `bundles`
// (e.g. "mda.lv2", or a full path to one elsewhere) plus the core, atom, midi and urid descriptions;
// usePrivateHome starts with none. Takes effect for LV2 hosts constructed afterwards. False when a bundle is
// not installed.
bool useLv2Bundles(const QStringList& bundles);

// Removes the stub of `program`, for a test that runs the real one against a
// private instance (ffmpeg writing to a listener of the test's own, say).
void useRealProgram(const QString& program);

// What the stub of `program` prints on its standard output and exits with.
void setStubReply(const QString& program, const QByteArray& standardOutput, int exitCode = 0);

struct StubCall {
    QStringList arguments;       // the program's name first
    QStringList parentArguments; // of the process that started it
};
// Every stub call so far, oldest first.
QList<StubCall> stubCalls();

// The private PipeWire session started by the test script, if any: sets
// XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS from TMB_PW_RUNTIME_DIR and
// TMB_PW_DBUS_ADDRESS. Returns false (with a reason) when no session runs.
bool usePipeWireSession(QString* reason);

// The repository root (TMB_SOURCE_DIR set by CTest).
QString sourceDir();

} // namespace tmb::test
