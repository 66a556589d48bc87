#include "SceneGraphChoice.h"

#include <QDir>

namespace tmb {

bool preferSoftwareSceneGraph(const QString& renderNodeFolder) {
    if (!qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") || !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND"))
        return false;
    const QString forced = qEnvironmentVariable("LIBGL_ALWAYS_SOFTWARE");
    if (forced == QLatin1String("1") || forced.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    return QDir(renderNodeFolder)
        .entryList({QStringLiteral("renderD*")}, QDir::System | QDir::Files)
        .isEmpty();
}

} // namespace tmb
