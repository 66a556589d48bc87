#include "broadcast/BroadcastAudioPipe.h"

#include "audio/AudioEngine.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tmb {

BroadcastAudioPipe::~BroadcastAudioPipe() {
    // Only destroyed once the engine is stopped: nothing writes any more.
    for (const int fd : m_parked)
        ::close(fd);
    if (m_fd >= 0) {
        ::close(m_fd);
        QFile::remove(m_path);
    }
}

bool BroadcastAudioPipe::open(const QString& folder, QString* error) {
    const auto fail = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (m_fd >= 0) return fail(QStringLiteral("the audio pipe is already open"));
    if (folder.isEmpty()) return fail(QStringLiteral("no private folder for the audio pipe"));
    const QString path = folder + QLatin1Char('/') + QLatin1String(fileName);
    const QByteArray native = QFile::encodeName(path);
    // unlink removes a planted link itself, never what it points to.
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        return fail(
            QStringLiteral("cannot remove %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    if (::mkfifo(native.constData(), 0600) != 0)
        return fail(
            QStringLiteral("cannot create %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    const int fd = ::open(native.constData(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno))));
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return fail(QStringLiteral("%1 is not our pipe").arg(path));
    }
    // The mode asked of mkfifo passes the umask; make sure it is exactly ours.
    ::fchmod(fd, 0600);
    m_fd = fd;
    m_path = path;
    return true;
}

void BroadcastAudioPipe::release(AudioEngine& engine) {
    engine.broadcastAudioFd.store(-1);
    if (m_fd < 0) return;
    bool blockEnded = true;
    if (engine.running) {
        // A block counts its frames just before it writes them out, so the first
        // count seen to change may be the block still writing with the old number;
        // the block that changes it next began after that one had ended.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(blockWaitMs);
        std::uint64_t seen = engine.renderedFrames();
        for (int advances = 0; advances < 2 && blockEnded;) {
            if (engine.renderedFrames() != seen) {
                seen = engine.renderedFrames();
                ++advances;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                blockEnded = false;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    if (blockEnded)
        ::close(m_fd);
    else
        m_parked.push_back(m_fd);
    m_fd = -1;
    QFile::remove(m_path);
}

} // namespace tmb
