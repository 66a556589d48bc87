#pragma once

// Joins one take's window video and its WAV into an MP4 in an ffmpeg child process,
// so the window keeps running however long the take was (a take joins at about
// 40x its length). The video is deleted only once the MP4 is known good (exit code
// 0 and more than 1000 bytes); otherwise it is kept beside the WAV under a visible
// name, and a broken MP4 is removed. GUI thread.

#include <QObject>
#include <QProcess>
#include <QString>

namespace tmb {

class VideoJoin : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 minimumMp4Bytes = 1000;

    struct Paths {
        QString video; // the take's video, already under a name of its own
        QString wav;
        QString mp4;       // what the join writes
        QString keptVideo; // where the video goes if the join fails
    };
    struct Outcome {
        bool joined = false;
        Paths paths;
        QString keptVideo; // set when the join failed and the video was kept
        QString reason;    // why it failed
    };

    explicit VideoJoin(Paths paths, QObject* parent = nullptr);
    // Starts ffmpeg; finished() follows, also when it cannot start.
    void start();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // Blocks until the join has ended and finished() was emitted (program exit).
    void waitUntilFinished();

Q_SIGNALS:
    void finished(const tmb::VideoJoin::Outcome& outcome);

private:
    void conclude(bool exitedCleanly, const QString& reason);

    Paths m_paths;
    QProcess m_process;
    bool m_concluded = false;
};

} // namespace tmb
