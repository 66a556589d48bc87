// Live broadcast and the studio's window video: stream keys and targets, the
// broadcast encoder with its audio pipe, window frames for both encoders, the MP4
// join of a take, the camera probe and the platform pages. The argument lists,
// key rules and files live in src/broadcast; this file drives them and reports.

#include "WorkstationController.h"

#include "app/UserManual.h"
#include "broadcast/CameraProbe.h"
#include "broadcast/EncoderArguments.h"
#include "broadcast/PrivateRuntimeFolder.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStandardPaths>

#include <iterator>
#include <unistd.h>

namespace tmb {

namespace {

constexpr int frameIntervalMs = 66;
// A lagging encoder misses frames rather than queueing them without limit.
constexpr qint64 maxEncoderBacklogBytes = 4 * 1024 * 1024;
constexpr qsizetype maxKeptErrorOutput = 8192;

QString clipboardText() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app ? QGuiApplication::clipboard()->text() : QString();
}

// The desktop's default application for a page, file or folder.
bool openExternally(const QString& target) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {target});
}

// The encoder's last message, for the banner.
QString lastLine(const QByteArray& output) {
    const QByteArray trimmed = output.trimmed();
    return QString::fromLocal8Bit(trimmed.mid(trimmed.lastIndexOf('\n') + 1)).trimmed().left(90);
}

} // namespace

void WorkstationController::initBroadcast() {
    m_broadcast.loadAndWriteBack();
    refreshCameraAvailability();
    connect(&m_broadcastProcess, &QProcess::readyReadStandardError, this, [this] {
        m_broadcastErrorOutput += m_broadcastProcess.readAllStandardError();
        if (m_broadcastErrorOutput.size() > maxKeptErrorOutput)
            m_broadcastErrorOutput = m_broadcastErrorOutput.right(maxKeptErrorOutput);
    });
    connect(&m_broadcastProcess, &QProcess::finished, this,
            &WorkstationController::onBroadcastEncoderFinished);
    connect(&m_cameraPowerProcess, &QProcess::finished, this, &WorkstationController::onCameraPowerFinished);
    connect(&m_frameCaptureTimer, &QTimer::timeout, this, &WorkstationController::captureAndPushWindowFrame);
}

QString WorkstationController::videosFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/Videos");
    QDir().mkpath(folder);
    return folder;
}

QString WorkstationController::temporaryVideoPath() {
    return videosFolder() + QStringLiteral("/.sandorik_temp_capture.mp4");
}

// ---------------------------------------------------------------- settings and keys

void WorkstationController::setBroadcastDrawerOpen(bool open) {
    if (open == m_broadcastDrawerOpen) return;
    m_broadcastDrawerOpen = open;
    notifyBroadcastState();
}

void WorkstationController::setStreamYoutubeEnabled(bool enabled) {
    m_broadcast.youtubeEnabled = enabled;
    notifyBroadcastState();
}

void WorkstationController::setStreamFacebookEnabled(bool enabled) {
    m_broadcast.facebookEnabled = enabled;
    notifyBroadcastState();
}

void WorkstationController::setStreamTiktokEnabled(bool enabled) {
    m_broadcast.tiktokEnabled = enabled;
    notifyBroadcastState();
}

void WorkstationController::setRecordBroadcastMp4(bool enabled) {
    m_broadcast.recordMp4 = enabled;
    notifyBroadcastState();
}

void WorkstationController::setStreamYoutubeKey(const QString& key) {
    bool wasUrl = false;
    const QString cleaned = sanitizeStreamKeyValue(key, &wasUrl);
    if (wasUrl) {
        m_broadcast.youtubeKey.clear();
        BroadcastSettings::store(BroadcastSettings::youtubeKeySetting, QString());
        m_broadcastStatusText = QStringLiteral(
            "⚠ Paste your YouTube STREAM KEY (xxxx-xxxx-xxxx-xxxx), NOT the rtmp:// Server URL!");
        setStatusBanner(QStringLiteral(
            "YouTube Tip: Copy the 'Default stream key' (click Copy icon at top of YouTube Studio video "
            "preview), NOT the rtmp:// Stream URL."));
        notifyBroadcastState();
        return;
    }
    if (cleaned != m_broadcast.youtubeKey) {
        m_broadcast.youtubeKey = cleaned;
        BroadcastSettings::store(BroadcastSettings::youtubeKeySetting, cleaned);
    }
    if (!cleaned.isEmpty()) {
        m_broadcast.youtubeEnabled = true;
        m_broadcastStatusText =
            QStringLiteral("✓ YOUTUBE KEY READY (%1 chars) • Click START STREAM / REC").arg(cleaned.size());
    }
    notifyBroadcastState();
}

namespace {

// Cleans a Facebook or TikTok key into `stored` (and the settings); a server
// address pasted instead of a key is refused with a hint.
void setPlatformKey(QString& stored, const char* setting, const QString& key, const QString& platform,
                    QString& statusText) {
    bool wasUrl = false;
    const QString cleaned = sanitizeStreamKeyValue(key, &wasUrl);
    if (wasUrl) statusText = QStringLiteral("⚠ Paste your %1 STREAM KEY, NOT the Server URL!").arg(platform);
    if (cleaned == stored) return;
    stored = cleaned;
    BroadcastSettings::store(setting, cleaned);
}

} // namespace

void WorkstationController::setStreamFacebookKey(const QString& key) {
    setPlatformKey(m_broadcast.facebookKey, BroadcastSettings::facebookKeySetting, key,
                   QStringLiteral("Facebook"), m_broadcastStatusText);
    notifyBroadcastState();
}

void WorkstationController::setStreamTiktokKey(const QString& key) {
    setPlatformKey(m_broadcast.tiktokKey, BroadcastSettings::tiktokKeySetting, key, QStringLiteral("TikTok"),
                   m_broadcastStatusText);
    notifyBroadcastState();
}

void WorkstationController::setStreamTiktokUrl(const QString& url) {
    m_broadcast.tiktokUrl = url.trimmed();
    BroadcastSettings::store(BroadcastSettings::tiktokUrlSetting, m_broadcast.tiktokUrl);
    notifyBroadcastState();
}

void WorkstationController::pasteYoutubeKeyFromClipboard() {
    const QString text = clipboardText();
    if (text.trimmed().isEmpty())
        setStatusBanner(QStringLiteral("⚠ Clipboard is empty • Copy Stream Key from YouTube Studio first"));
    else
        setStreamYoutubeKey(text);
}

void WorkstationController::pasteFacebookKeyFromClipboard() {
    const QString text = clipboardText();
    if (text.trimmed().isEmpty())
        setStatusBanner(QStringLiteral("⚠ Clipboard is empty • Copy Stream Key from YouTube Studio first"));
    else
        setStreamFacebookKey(text);
}

void WorkstationController::pasteTiktokKeyFromClipboard() {
    const QString text = clipboardText();
    if (text.trimmed().isEmpty())
        setStatusBanner(QStringLiteral("⚠ Clipboard is empty • Copy Stream Key from YouTube Studio first"));
    else
        setStreamTiktokKey(text);
}

void WorkstationController::setWatermarkEnabled(bool enabled) {
    m_broadcast.watermarkEnabled = enabled;
    BroadcastSettings::store(BroadcastSettings::watermarkEnabledSetting, enabled);
    notifyBroadcastState();
}

void WorkstationController::setWatermarkText(const QString& text) {
    m_broadcast.watermarkText = text;
    BroadcastSettings::store(BroadcastSettings::watermarkTextSetting, text);
    notifyBroadcastState();
}

void WorkstationController::setWatermarkSubtext(const QString& text) {
    m_broadcast.watermarkSubtext = text;
    BroadcastSettings::store(BroadcastSettings::watermarkSubtextSetting, text);
    notifyBroadcastState();
}

// ---------------------------------------------------------------- broadcast

QString WorkstationController::broadcastElapsedText() const {
    if (!m_broadcastActive || m_broadcastStartSeconds <= 0) return QStringLiteral("00:00");
    return formatElapsed(QDateTime::currentSecsSinceEpoch() - m_broadcastStartSeconds);
}

void WorkstationController::toggleLiveBroadcast() {
    if (m_broadcastActive) {
        stopLiveBroadcast();
        return;
    }
    if (m_broadcast.youtubeKey.isEmpty()) {
        const QString clipboard = clipboardText().trimmed();
        if (looksLikeYoutubeKey(clipboard)) setStreamYoutubeKey(clipboard);
    }
    m_broadcast.youtubeKey = sanitizeStreamKeyValue(m_broadcast.youtubeKey);
    m_broadcast.facebookKey = sanitizeStreamKeyValue(m_broadcast.facebookKey);
    m_broadcast.tiktokKey = sanitizeStreamKeyValue(m_broadcast.tiktokKey);
    if (m_broadcast.recordMp4 && !studioRecording()) startStudioRecord();

    const QList<StreamTarget> targets = m_broadcast.targets();
    m_broadcastActive = true;
    m_broadcastStartSeconds = QDateTime::currentSecsSinceEpoch();
    if (m_quickWindow && !m_frameCaptureTimer.isActive()) m_frameCaptureTimer.start(frameIntervalMs);

    if (targets.isEmpty()) {
        if (!studioRecording()) startStudioRecord();
        m_broadcastStatusText =
            QStringLiteral("● REC .MP4 + .WAV ACTIVE • Paste YouTube Key to also Stream Live!");
        setStatusBanner(QStringLiteral(
            "RECORDING HD .MP4 VIDEO + .WAV AUDIO TO ~/Videos • Copy your Stream Key (xxxx-xxxx-xxxx-xxxx) "
            "from YouTube Studio and click PASTE KEY to stream live simultaneously!"));
        notifyBroadcastState();
        return;
    }

    BroadcastInput input;
    const QString camera = CameraProbe::deviceFolder() + QStringLiteral("/video0");
    if (m_quickWindow)
        input.video = BroadcastInput::Video::Window;
    else if (!m_cameraEnabled && QFile::exists(camera))
        input.video = BroadcastInput::Video::Camera;
    else
        input.video = BroadcastInput::Video::Colour;
    input.cameraDevice = camera;
    input.sampleRate = static_cast<int>(m_audioEngine.sampleRate);
    m_audioPipe.release(m_audioEngine);
    if (m_audioPipe.open(privateRuntimeFolder())) {
        m_audioEngine.broadcastAudioFd.store(m_audioPipe.descriptor());
        input.audioPipe = m_audioPipe.path();
    }

    m_broadcastErrorOutput.clear();
    m_broadcastProcess.start(ffmpegProgram(), broadcastEncoderArguments(input, targets));
    const bool started = m_broadcastProcess.waitForStarted(1500);

    QStringList names;
    for (const StreamTarget& target : targets)
        names << target.name;
    const QString recording = studioRecording() ? QStringLiteral(" + REC .MP4/.WAV") : QString();
    if (started) {
        captureAndPushWindowFrame();
        m_broadcastStatusText = QStringLiteral("● ON AIR (PURE DIGITAL AUDIO) → %1%2")
                                    .arg(names.join(QStringLiteral(" + ")), recording);
        setStatusBanner(
            QStringLiteral("LIVE STREAMING + RECORDING (100% Direct Internal Digital Audio — Zero "
                           "External Room Noise): %1%2")
                .arg(names.join(QStringLiteral(" + ")), recording));
    } else {
        // No encoder reads the pipe.
        m_audioPipe.release(m_audioEngine);
        if (studioRecording()) {
            m_broadcastStatusText = QStringLiteral("⚠ RTMP ENCODER ERROR • Local .MP4/.WAV Recording Active");
            setStatusBanner(
                QStringLiteral("Local HD .MP4 + .WAV recording is active; RTMP encoder could not start."));
        } else {
            // Nothing runs: nothing may look as if it did.
            m_broadcastActive = false;
            m_frameCaptureTimer.stop();
            m_broadcastStatusText = QStringLiteral("⚠ RTMP ENCODER ERROR • Nothing is streamed or recorded");
            setStatusBanner(
                QStringLiteral("RTMP encoder could not start (%1).").arg(m_broadcastProcess.errorString()));
        }
    }
    notifyBroadcastState();
}

void WorkstationController::onBroadcastEncoderFinished(int exitCode, QProcess::ExitStatus status) {
    m_broadcastErrorOutput += m_broadcastProcess.readAllStandardError();
    if (!m_broadcastActive) return;
    // Nothing reads the pipe any more.
    m_audioPipe.release(m_audioEngine);
    if (status != QProcess::NormalExit || exitCode != 0) {
        const QString reason = lastLine(m_broadcastErrorOutput);
        if (studioRecording()) {
            m_broadcastStatusText =
                QStringLiteral("⚠ RTMP STREAM REJECTED (Check Stream Key) • REC .MP4 STILL ACTIVE!");
            setStatusBanner(
                QStringLiteral("RTMP Server disconnected (%1). Local HD .MP4 + .WAV recording is STILL "
                               "RUNNING! Check your YouTube/FB Stream Key.")
                    .arg(reason.isEmpty() ? QStringLiteral("Check Stream Key") : reason));
        } else {
            m_broadcastActive = false;
            m_frameCaptureTimer.stop();
            m_broadcastStatusText =
                QStringLiteral("⚠ RTMP STREAM FAILED • Verify Stream Key (xxxx-xxxx-xxxx-xxxx)");
            setStatusBanner(
                QStringLiteral(
                    "RTMP Stream failed (%1). Copy your Stream Key from YouTube Studio and click PASTE KEY.")
                    .arg(reason.isEmpty() ? QStringLiteral("Connection refused") : reason));
        }
    } else if (!studioRecording()) {
        m_broadcastActive = false;
        m_frameCaptureTimer.stop();
        m_broadcastStatusText =
            m_lastRecordedMp4Path.isEmpty()
                ? QStringLiteral("BROADCAST STOPPED • Ready")
                : QStringLiteral("SAVED .MP4: %1").arg(QFileInfo(m_lastRecordedMp4Path).fileName());
    }
    notifyBroadcastState();
}

void WorkstationController::stopLiveBroadcast() {
    m_broadcastActive = false;
    m_audioPipe.release(m_audioEngine);
    if (broadcastEncoderRunning()) {
        m_broadcastProcess.closeWriteChannel();
        if (!m_broadcastProcess.waitForFinished(2500)) stopProcess(m_broadcastProcess, 500, 200);
    }
    if (studioRecording()) {
        // The take's files name themselves once they are written.
        m_broadcastStatusText = QStringLiteral("BROADCAST STOPPED");
        stopStudioTransport();
        notifyBroadcastState();
        return;
    }
    m_frameCaptureTimer.stop();
    m_broadcastStatusText =
        m_lastRecordedMp4Path.isEmpty()
            ? QStringLiteral("BROADCAST STOPPED")
            : QStringLiteral("SAVED .MP4 → %1").arg(QFileInfo(m_lastRecordedMp4Path).fileName());
    setStatusBanner(m_broadcastStatusText);
    notifyBroadcastState();
}

void WorkstationController::captureAndPushWindowFrame() {
    if (!m_quickWindow) return;
    QElapsedTimer clock;
    clock.start();
    std::array<QProcess*, 2> fed{};
    std::size_t count = 0;
    for (QProcess* encoder : {&m_localVideoProcess, &m_broadcastProcess}) {
        if (encoder->state() != QProcess::Running) continue;
        if (encoder->bytesToWrite() < maxEncoderBacklogBytes)
            fed[count++] = encoder;
        else
            ++m_frameStats.dropped;
    }
    if (count == 0) return;
    const QImage frame = m_quickWindow->grabWindow()
                             .scaled(frameWidth, frameHeight, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                             .convertToFormat(QImage::Format_RGBA8888);
    if (frame.isNull()) return;
    const auto* bytes = reinterpret_cast<const char*>(frame.constBits());
    for (std::size_t i = 0; i < count; ++i)
        fed[i]->write(bytes, frame.sizeInBytes());
    ++m_frameStats.grabbed;
    const qint64 spent = clock.nsecsElapsed();
    m_frameStats.busyNs += spent;
    m_frameStats.slowestNs = std::max(m_frameStats.slowestNs, spent);
}

void WorkstationController::tickBroadcast() {
    if (m_broadcastActive) notifyBroadcastState(); // the elapsed time
    if (m_cameraEnabled && !m_hardwareCameraAvailable) refreshCameraAvailability();
}

// ---------------------------------------------------------------- studio video

bool WorkstationController::startLocalVideo() {
    if (!m_quickWindow) return false;
    if (m_localVideoProcess.state() == QProcess::NotRunning) {
        const QString video = temporaryVideoPath();
        QFile::remove(video); // a leftover of a take that never ended
        m_localVideoProcess.start(ffmpegProgram(), localVideoArguments(video));
        if (!m_localVideoProcess.waitForStarted(1500)) return false;
        m_takeHasVideo = true;
    }
    captureAndPushWindowFrame();
    if (!m_frameCaptureTimer.isActive()) m_frameCaptureTimer.start(frameIntervalMs);
    return true;
}

QString WorkstationController::finishLocalVideo() {
    if (!m_takeHasVideo) return {};
    m_takeHasVideo = false;
    if (m_localVideoProcess.state() != QProcess::NotRunning) {
        m_localVideoProcess.closeWriteChannel();
        if (!m_localVideoProcess.waitForFinished(3000)) stopProcess(m_localVideoProcess, 500, 200);
    }
    const QString video = temporaryVideoPath();
    if (QFileInfo(video).size() < 513) { // the encoder wrote no picture
        QFile::remove(video);
        return {};
    }
    return video;
}

void WorkstationController::startVideoJoin(const QString& video, const QString& wav, const QString& stamp) {
    // The video under a name of its own first: the next take begins by removing
    // the temporary one, and this join may outlast that.
    const QString own = videosFolder() + QStringLiteral("/.sandorik_capture_%1.mp4").arg(stamp);
    QFile::remove(own);
    VideoJoin::Paths paths;
    paths.video = QFile::rename(video, own) ? own : video;
    paths.wav = wav;
    paths.mp4 = videosFolder() + QStringLiteral("/Sandorik_Live_%1.mp4").arg(stamp);
    paths.keptVideo = QFileInfo(wav).path() + QLatin1Char('/') + QFileInfo(wav).completeBaseName() +
                      QStringLiteral("_video.mp4");
    m_broadcastStatusText = QStringLiteral("JOINING .MP4 (VIDEO + AUDIO)...");
    setStatusBanner(QStringLiteral("SAVED AUDIO: %1 • JOINING HD .MP4 VIDEO: %2 ...").arg(wav, paths.mp4));
    auto* join = new VideoJoin(paths, this);
    m_videoJoins.append(join);
    connect(join, &VideoJoin::finished, this, [this, join](const VideoJoin::Outcome& outcome) {
        m_videoJoins.removeOne(join);
        join->deleteLater();
        onVideoJoined(outcome);
    });
    join->start();
}

void WorkstationController::onVideoJoined(const VideoJoin::Outcome& outcome) {
    const QString name = QFileInfo(outcome.paths.mp4).fileName();
    if (outcome.joined) {
        m_lastRecordedMp4Path = outcome.paths.mp4;
        m_broadcastStatusText = broadcastEncoderRunning()
                                    ? QStringLiteral("● ON AIR (RTMP LIVE) • SAVED: %1").arg(name)
                                    : QStringLiteral("SAVED .MP4 → %1").arg(name);
        setStatusBanner(QStringLiteral("SAVED HD .MP4 VIDEO: %1  |  AUDIO: %2")
                            .arg(outcome.paths.mp4, outcome.paths.wav));
    } else {
        m_broadcastStatusText = QStringLiteral("⚠ MP4 JOIN FAILED • VIDEO AND .WAV KEPT");
        setStatusBanner(QStringLiteral("⚠ Could not join the MP4 (%1) • KEPT VIDEO: %2  |  AUDIO: %3")
                            .arg(outcome.reason, outcome.keptVideo, outcome.paths.wav));
    }
    notifyBroadcastState();
    Q_EMIT studioStateChanged();
}

// ---------------------------------------------------------------- camera

void WorkstationController::refreshCameraAvailability() {
    const CameraProbe probe = CameraProbe::run();
    if (probe.available == m_hardwareCameraAvailable && probe.message == m_cameraStatusMessage) return;
    m_hardwareCameraAvailable = probe.available;
    m_cameraStatusMessage = probe.message;
    notifyBroadcastState();
}

void WorkstationController::requestCameraPermissionAndPower() {
    refreshCameraAvailability();
    if (m_hardwareCameraAvailable) {
        setStatusBanner(QStringLiteral("Webcam Ready: ") + m_cameraStatusMessage);
        return;
    }
    if (m_cameraPowerProcess.state() != QProcess::NotRunning) return;
    setStatusBanner(QStringLiteral("Requesting OS Camera Power & Access Rights (Polkit)..."));
    m_cameraPowerProcess.start(pkexecProgram(), CameraProbe::powerOnArguments(::getuid()));
}

void WorkstationController::onCameraPowerFinished() {
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), QString::fromLatin1(soundServerUnmuteCommand)});
    refreshCameraAvailability();
    // A camera that was just powered on may take a moment to appear.
    QTimer::singleShot(1000, this, &WorkstationController::refreshCameraAvailability);
}

void WorkstationController::setCameraEnabled(bool enabled) {
    m_cameraEnabled = enabled;
    if (enabled) {
        refreshCameraAvailability();
        if (!m_hardwareCameraAvailable) requestCameraPermissionAndPower();
        setStatusBanner(QStringLiteral("LIVE CAMERA PiP ENABLED • Showing Webcam on Stage"));
    } else {
        setStatusBanner(QStringLiteral("LIVE CAMERA PiP HIDDEN"));
    }
    notifyBroadcastState();
}

void WorkstationController::setCameraCorner(int corner) {
    m_cameraCorner = std::clamp(corner, 0, 3);
    notifyBroadcastState();
}

void WorkstationController::cycleCameraCorner() {
    setCameraCorner((m_cameraCorner + 1) % 4);
}

void WorkstationController::setCameraMirror(bool mirrored) {
    m_cameraMirror = mirrored;
    notifyBroadcastState();
}

// ---------------------------------------------------------------- pages and files

void WorkstationController::openOneClickStreamPlatform(const QString& platform) {
    struct Page {
        const char* platform;
        const char* name;
        const char* url;
    };
    static constexpr Page pages[] = {
        {"youtube", "YouTube Live Studio", "https://www.youtube.com/live_dashboard"},
        {"facebook", "Facebook Live Producer", "https://www.facebook.com/live/producer"},
        {"tiktok", "TikTok Live Studio", "https://www.tiktok.com/live"},
        {"", "Restream Multi-Platform Web Studio (YouTube + FB + TikTok)", "https://studio.restream.io"},
    };
    const Page* page = &pages[std::size(pages) - 1];
    for (const Page& candidate : pages) {
        if (platform.compare(QLatin1String(candidate.platform), Qt::CaseInsensitive) == 0) {
            page = &candidate;
            break;
        }
    }
    // The page shares the window: it shows the watermark and the camera.
    m_broadcast.watermarkEnabled = true;
    BroadcastSettings::store(BroadcastSettings::watermarkEnabledSetting, true);
    m_cameraEnabled = true;
    refreshCameraAvailability();
    openExternally(QString::fromLatin1(page->url));
    const QString name = QString::fromUtf8(page->name);
    m_broadcastStatusText = QStringLiteral("OPENED %1 • Share Window + Audio to Go Live!").arg(name);
    setStatusBanner(QStringLiteral("1-Click Broadcast Ready: Opened %1 (Camera PiP & '%2' Watermark Armed)")
                        .arg(name, m_broadcast.watermarkText));
    notifyBroadcastState();
}

void WorkstationController::openLastRecordedVideo() {
    const bool haveVideo = !m_lastRecordedMp4Path.isEmpty() && QFile::exists(m_lastRecordedMp4Path);
    openExternally(haveVideo ? m_lastRecordedMp4Path : videosFolder());
}

void WorkstationController::openUserManualPdf() {
    QString error;
    const QString path = UserManual::locate(m_projectManager.dataDirectory(), &error);
    if (path.isEmpty())
        setStatusBanner(QStringLiteral("⚠ User manual unavailable: %1").arg(error));
    else if (!openExternally(path))
        setStatusBanner(
            QStringLiteral("⚠ No PDF viewer could be started (xdg-open) • Manual saved at %1").arg(path));
    else
        setStatusBanner(QStringLiteral("Opened User Manual & Sandorik License PDF: %1").arg(path));
}

} // namespace tmb
