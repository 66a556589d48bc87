#pragma once

#include <QString>

namespace tmb {

// The program's private folder for pipes and sockets: "$XDG_RUNTIME_DIR/tembora",
// created with mode 0700 and used only when it is a real folder (not a link) that
// belongs to us and nobody else may enter. Otherwise a fresh temporary folder of
// our own (mode 0700), made once and removed when the program ends. Empty only
// when not even that can be made. GUI thread.
QString privateRuntimeFolder();

} // namespace tmb
