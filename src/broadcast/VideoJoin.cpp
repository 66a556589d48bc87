#include "broadcast/VideoJoin.h"

#include "broadcast/EncoderArguments.h"

#include <QFile>
#include <QFileInfo>

namespace tmb {

VideoJoin::VideoJoin(Paths paths, QObject* parent)
    : QObject(parent)
    , m_paths(std::move(paths)) {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        const QByteArray output = m_process.readAll().trimmed();
        const QString lastLine = QString::fromLocal8Bit(output.mid(output.lastIndexOf('\n') + 1)).left(90);
        const bool clean = status == QProcess::NormalExit && exitCode == 0;
        conclude(clean, lastLine.isEmpty() ? QStringLiteral("ffmpeg exit code %1").arg(exitCode) : lastLine);
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) conclude(false, m_process.errorString());
    });
}

void VideoJoin::start() {
    m_process.start(ffmpegProgram(), joinArguments(m_paths.video, m_paths.wav, m_paths.mp4));
    // ffmpeg reads commands from its input: it gets none.
    m_process.closeWriteChannel();
}

void VideoJoin::waitUntilFinished() {
    if (m_concluded) return;
    // A join is never killed: it ends by itself, as fast as the disk allows.
    while (!m_concluded && m_process.state() != QProcess::NotRunning)
        m_process.waitForFinished(-1);
}

void VideoJoin::conclude(bool exitedCleanly, const QString& reason) {
    if (m_concluded) return;
    m_concluded = true;
    Outcome outcome;
    outcome.paths = m_paths;
    outcome.joined = exitedCleanly && QFileInfo(m_paths.mp4).size() > minimumMp4Bytes;
    if (outcome.joined) {
        QFile::remove(m_paths.video);
    } else {
        outcome.reason = exitedCleanly ? QStringLiteral("the MP4 came out empty") : reason;
        QFile::remove(m_paths.mp4);
        outcome.keptVideo =
            QFile::rename(m_paths.video, m_paths.keptVideo) ? m_paths.keptVideo : m_paths.video;
    }
    Q_EMIT finished(outcome);
}

} // namespace tmb
