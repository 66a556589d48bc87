#pragma once

#include <QString>

namespace tmb {

// Whether the window should draw with Qt Quick's software renderer instead of
// OpenGL. Without a GPU render node OpenGL can only be software (Mesa's llvmpipe),
// which redraws the whole window for every meter tick and key light on the cores
// the audio thread needs; the software renderer repaints only what changed. A
// choice made in QT_QUICK_BACKEND or QSG_RHI_BACKEND always stands.
bool preferSoftwareSceneGraph(const QString& renderNodeFolder = QStringLiteral("/dev/dri"));

} // namespace tmb
