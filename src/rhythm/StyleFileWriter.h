#pragma once

// Writing a style as a minimal SFF1 style file: one Standard MIDI File track with
// tempo, meter, the style's name, the four band programs and one bar of drums per
// section under the usual section markers, then an empty CASM chunk. Only the
// drums are written; the accompaniment steps, kit and presets are not.
// Pure function; any thread.

#include "rhythm/StylePattern.h"

#include <QByteArray>

namespace tmb {

QByteArray buildYamahaSff1StyBytes(const StylePattern& style);

} // namespace tmb
