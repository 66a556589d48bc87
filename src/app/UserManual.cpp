#include "UserManual.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace tmb::UserManual {

QString locate(const QString& dataFolder, QString* error) {
    const QString installed = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("doc/tembora/") + QLatin1String(fileName));
    if (!installed.isEmpty()) return installed;

    const QString copy = dataFolder + QLatin1Char('/') + QLatin1String(fileName);
    if (QFile::exists(copy)) return copy;
    QFile resource(QString::fromLatin1(resourcePath));
    if (!resource.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("the manual is missing from this build");
        return {};
    }
    QDir().mkpath(dataFolder);
    QSaveFile out(copy);
    if (!out.open(QIODevice::WriteOnly) || out.write(resource.readAll()) != resource.size() ||
        !out.commit()) {
        if (error) *error = QStringLiteral("cannot write %1").arg(copy);
        return {};
    }
    return copy;
}

} // namespace tmb::UserManual
