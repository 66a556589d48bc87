#pragma once

// The named pipe through which the audio thread hands the program output (32-bit
// float stereo) to the broadcast encoder.
//
// The pipe lives in the private runtime folder with mode 0600, so no other user can
// read or inject live audio. It is opened read-write (opening never waits for the
// encoder), non-blocking (a full pipe drops audio instead of stalling the audio
// thread) and without following links, and the descriptor is checked to be a FIFO:
// a link or file planted at its name is never written to.
//
// GUI thread only. The audio thread sees the descriptor through the engine's
// broadcastAudioFd.

#include <QString>

#include <vector>

namespace tmb {

class AudioEngine;

class BroadcastAudioPipe {
public:
    static constexpr const char* fileName = "tmb_broadcast_audio.fifo";
    // How long release() waits for the audio thread to finish a block.
    static constexpr int blockWaitMs = 500;

    BroadcastAudioPipe() = default;
    ~BroadcastAudioPipe();
    BroadcastAudioPipe(const BroadcastAudioPipe&) = delete;
    BroadcastAudioPipe& operator=(const BroadcastAudioPipe&) = delete;

    // Removes whatever stands at `folder`/fileName, creates the pipe and opens it.
    // False (with `error`) when that fails; nothing is left open then.
    bool open(const QString& folder, QString* error = nullptr);
    bool isOpen() const { return m_fd >= 0; }
    int descriptor() const { return m_fd; }
    QString path() const { return m_path; }

    // Takes the descriptor away from the engine, then closes it and removes the
    // pipe. While audio runs, the block in progress may still write with the old
    // number, so it is closed only once the engine has finished another block;
    // were that number closed and reused at once (by the WAV opened next), the
    // audio thread would write into that file. If no block ends within blockWaitMs
    // the descriptor stays open, harmless, until this object goes.
    void release(AudioEngine& engine);

private:
    int m_fd = -1;
    QString m_path;
    std::vector<int> m_parked; // descriptors the audio thread may still hold
};

} // namespace tmb
