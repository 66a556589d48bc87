#include "SoundFontPaths.h"

#include <QDir>
#include <QFileInfo>

#include <mutex>

namespace tmb {

namespace {

std::mutex foldersMutex;
QStringList overriddenFolders;

QStringList defaultFolders() {
    return {QString::fromLatin1(soundFontFolder), QStringLiteral("/usr/share/sounds/sf2")};
}

} // namespace

void setSoundFontSearchFolders(const QStringList& folders) {
    const std::lock_guard lock(foldersMutex);
    overriddenFolders = folders;
}

QStringList soundFontSearchFolders() {
    const std::lock_guard lock(foldersMutex);
    return overriddenFolders.isEmpty() ? defaultFolders() : overriddenFolders;
}

QString findSoundFontFile(const QString& fileName, const QStringList& folders) {
    QStringList candidates{fileName};
    if (fileName == QLatin1String("default.sf2")) candidates << QStringLiteral("default-GM.sf2");
    for (const QString& folder : folders) {
        for (const QString& name : candidates) {
            const QFileInfo file(QDir(folder).filePath(name));
            if (file.isFile()) return file.absoluteFilePath();
        }
    }
    return {};
}

QString resolveSoundFontPath(const QString& path) {
    const QFileInfo named(path);
    if (QDir::cleanPath(named.absolutePath()) != QLatin1String(soundFontFolder)) return path;
    const QString found = findSoundFontFile(named.fileName(), soundFontSearchFolders());
    return found.isEmpty() ? path : found;
}

} // namespace tmb
