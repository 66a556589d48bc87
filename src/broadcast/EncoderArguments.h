#pragma once

// The ffmpeg command lines of broadcasting and studio capture, as argument lists
// (never shell text: keys, URLs and paths reach ffmpeg as single arguments), and
// the outside programs that run them.

#include "broadcast/BroadcastSettings.h"

#include <QStringList>

namespace tmb {

// "/usr/bin/ffmpeg" and "/usr/bin/pkexec", unless TEMBORA_FFMPEG or TEMBORA_PKEXEC names
// another program (tests point them at wrappers and stubs).
QString ffmpegProgram();
QString pkexecProgram();

// Frames are 960x540 RGBA, 15 a second.
inline constexpr int frameWidth = 960;
inline constexpr int frameHeight = 540;

struct BroadcastInput {
    enum class Video { Window, Camera, Colour };
    Video video = Video::Window;
    QString cameraDevice; // for Video::Camera
    QString audioPipe;    // empty: the desktop's monitor source instead
    int sampleRate = 48000;
};

// The live encoder: window frames on standard input (or the camera, or a plain
// colour), the program audio from the pipe, one FLV output per target.
QStringList broadcastEncoderArguments(const BroadcastInput& input, const QList<StreamTarget>& targets);
// The studio's window video: frames on standard input into an H.264 file.
QStringList localVideoArguments(const QString& videoPath);
// One take's video and WAV into an MP4.
QStringList joinArguments(const QString& videoPath, const QString& wavPath, const QString& mp4Path);

} // namespace tmb
