#pragma once

#include <QString>

namespace tmb::test {

// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and (unless told to
// keep it) XDG_RUNTIME_DIR at a fresh temporary folder that lives until the process
// ends. Every test that builds the real controller calls this first: start-up
// creates the catalogue, scans the home folder and runs sound-server commands,
// none of which may touch the developer's own session.
// Returns the private home folder.
QString usePrivateHome(bool keepRuntimeDir = false);

// The private PipeWire session started by the test script, if any: sets
// XDG_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS from TMB_PW_RUNTIME_DIR and
// TMB_PW_DBUS_ADDRESS. Returns false (with a reason) when no session runs.
bool usePipeWireSession(QString* reason);

// The repository root (TMB_SOURCE_DIR set by CTest).
QString sourceDir();

} // namespace tmb::test
