#include "broadcast/PrivateRuntimeFolder.h"

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace tmb {

namespace {

bool isOwnClosedFolder(const QByteArray& path) {
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 0777) == 0700;
}

} // namespace

QString privateRuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/')) {
        const QByteArray path = runtime + "/tembora";
        if ((::mkdir(path.constData(), 0700) == 0 || errno == EEXIST) && isOwnClosedFolder(path))
            return QString::fromLocal8Bit(path);
    }
    // QTemporaryDir creates its folder like mkdtemp: a new name, mode 0700.
    static const QTemporaryDir fallback(QDir::tempPath() + QStringLiteral("/tembora-XXXXXX"));
    return fallback.isValid() ? fallback.path() : QString();
}

} // namespace tmb
