#include "broadcast/EncoderArguments.h"

namespace tmb {

namespace {

QString programFrom(const char* variable, const char* fallback) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}

QStringList rawFramesFromStandardInput() {
    return {QStringLiteral("-use_wallclock_as_timestamps"),
            QStringLiteral("1"),
            QStringLiteral("-thread_queue_size"),
            QStringLiteral("512"),
            QStringLiteral("-f"),
            QStringLiteral("rawvideo"),
            QStringLiteral("-pix_fmt"),
            QStringLiteral("rgba"),
            QStringLiteral("-s"),
            QStringLiteral("%1x%2").arg(frameWidth).arg(frameHeight),
            QStringLiteral("-i"),
            QStringLiteral("-")};
}

} // namespace

QString ffmpegProgram() {
    return programFrom("TEMBORA_FFMPEG", "/usr/bin/ffmpeg");
}

QString pkexecProgram() {
    return programFrom("TEMBORA_PKEXEC", "/usr/bin/pkexec");
}

QStringList broadcastEncoderArguments(const BroadcastInput& input, const QList<StreamTarget>& targets) {
    QStringList args{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("warning")};
    switch (input.video) {
    case BroadcastInput::Video::Window:
        args << rawFramesFromStandardInput();
        break;
    case BroadcastInput::Video::Camera:
        args << QStringLiteral("-thread_queue_size") << QStringLiteral("512") << QStringLiteral("-f")
             << QStringLiteral("v4l2") << QStringLiteral("-framerate") << QStringLiteral("15")
             << QStringLiteral("-video_size") << QStringLiteral("960x540") << QStringLiteral("-i")
             << input.cameraDevice;
        break;
    case BroadcastInput::Video::Colour:
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("color=c=0x0F172A:s=960x540:r=15");
        break;
    }
    if (!input.audioPipe.isEmpty()) {
        args << QStringLiteral("-thread_queue_size") << QStringLiteral("1024") << QStringLiteral("-f")
             << QStringLiteral("f32le") << QStringLiteral("-ar")
             << QString::number(input.sampleRate > 0 ? input.sampleRate : 48000) << QStringLiteral("-ac")
             << QStringLiteral("2") << QStringLiteral("-i") << input.audioPipe;
    } else {
        args << QStringLiteral("-thread_queue_size") << QStringLiteral("512") << QStringLiteral("-f")
             << QStringLiteral("pulse") << QStringLiteral("-i") << QStringLiteral("@DEFAULT_MONITOR@");
    }
    args << QStringLiteral("-shortest");
    for (const StreamTarget& target : targets) {
        args << QStringLiteral("-map") << QStringLiteral("0:v:0") << QStringLiteral("-map")
             << QStringLiteral("1:a:0") << QStringLiteral("-vf") << QStringLiteral("fps=15,format=yuv420p")
             << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
             << QStringLiteral("ultrafast") << QStringLiteral("-tune") << QStringLiteral("zerolatency")
             << QStringLiteral("-b:v") << QStringLiteral("2500k") << QStringLiteral("-maxrate")
             << QStringLiteral("2500k") << QStringLiteral("-bufsize") << QStringLiteral("5000k")
             << QStringLiteral("-r") << QStringLiteral("15") << QStringLiteral("-g") << QStringLiteral("30")
             << QStringLiteral("-keyint_min") << QStringLiteral("30") << QStringLiteral("-c:a")
             << QStringLiteral("aac") << QStringLiteral("-b:a") << QStringLiteral("160k")
             << QStringLiteral("-ar") << QStringLiteral("48000") << QStringLiteral("-ac")
             << QStringLiteral("2") << QStringLiteral("-flvflags") << QStringLiteral("no_duration_filesize")
             << QStringLiteral("-f") << QStringLiteral("flv") << target.url;
    }
    return args;
}

QStringList localVideoArguments(const QString& videoPath) {
    QStringList args{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("error")};
    args << rawFramesFromStandardInput() << QStringLiteral("-vf") << QStringLiteral("fps=15,format=yuv420p")
         << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset")
         << QStringLiteral("ultrafast") << QStringLiteral("-r") << QStringLiteral("15")
         << QStringLiteral("-g") << QStringLiteral("30") << videoPath;
    return args;
}

QStringList joinArguments(const QString& videoPath, const QString& wavPath, const QString& mp4Path) {
    return {QStringLiteral("-y"),        QStringLiteral("-hide_banner"),
            QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-i"),        videoPath,
            QStringLiteral("-i"),        wavPath,
            QStringLiteral("-c:v"),      QStringLiteral("copy"),
            QStringLiteral("-c:a"),      QStringLiteral("aac"),
            QStringLiteral("-b:a"),      QStringLiteral("192k"),
            QStringLiteral("-movflags"), QStringLiteral("+faststart"),
            QStringLiteral("-shortest"), mp4Path};
}

} // namespace tmb
