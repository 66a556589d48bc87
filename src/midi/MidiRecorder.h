#pragma once

// The studio track: records played notes (and pedal and controller moves) in beats
// together with the program output, lets the piano roll edit the notes with undo and
// redo, plays them back through the audio engine, and exchanges them with Standard
// MIDI Files and WAV files.
//
// Threads:
// - GUI thread: transport, editing, files, lists. MIDI input thread: recordMidiEvent.
//   Both take m_noteMutex, which guards the notes, control events, pending notes, the
//   id counter and both undo stacks.
// - Audio thread: processPlaybackBlock and pushAudioStereoBlock. It never takes a lock:
//   it plays a copy of the notes handed over through a triple buffer (published under
//   the note mutex after every change), reads the transport flags, playhead and loop
//   as atomics, and writes the audio into AudioCaptureBuffer's ring.
// - prepare runs while the audio thread is stopped.

#include "audio/FunctionRef.h"
#include "audio/TripleBuffer.h"
#include "midi/AudioCaptureBuffer.h"
#include "midi/MidiEvent.h"
#include "midi/PianoRollNote.h"

#include <QString>
#include <QVariantList>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tmb {

class MidiRecorder {
public:
    using EventSink = FunctionRef<void(const MidiEvent&)>;

    static constexpr int maxUndoSnapshots = 32;
    static constexpr double minEditedDurationBeats = 0.0625;
    // The drain thread empties the capture ring this often during a take.
    static constexpr int captureDrainIntervalMs = 20;

    MidiRecorder();
    ~MidiRecorder();
    MidiRecorder(const MidiRecorder&) = delete;
    MidiRecorder& operator=(const MidiRecorder&) = delete;

    void prepare(float sampleRate);
    float sampleRate() const noexcept { return m_sampleRate.load(std::memory_order_relaxed); }

    // --- Transport (GUI thread)
    bool isRecording() const noexcept { return m_recording.load(std::memory_order_relaxed); }
    bool isPlaying() const noexcept { return m_playing.load(std::memory_order_relaxed); }
    bool isLoopEnabled() const noexcept { return m_loopEnabled.load(std::memory_order_relaxed); }
    void setLoopEnabled(bool enabled) noexcept { m_loopEnabled.store(enabled, std::memory_order_relaxed); }
    // start >= 0, end >= start + 1.
    void setLoopBeats(double start, double end) noexcept;
    double loopStartBeats() const noexcept { return m_loopStart.load(std::memory_order_relaxed); }
    double loopEndBeats() const noexcept { return m_loopEnd.load(std::memory_order_relaxed); }
    double playheadBeats() const noexcept { return m_playhead.load(std::memory_order_relaxed); }

    // A take starts where the playhead stands; false when one already runs.
    bool startRecording();
    // Closes held notes at the playhead and moves the captured audio into memory.
    void stopRecording();
    // MIDI or GUI thread: takes one played event while recording. Pedal values arrive
    // as heard (a hardware pedal's polarity already applied); playback never inverts.
    void recordMidiEvent(const MidiEvent& event, int trackIndex = 0);
    void startPlayback() noexcept;
    void pausePlayback() noexcept;
    // Moves the playhead (at least 0); playback goes on from there.
    void seekPlayhead(double beats) noexcept;
    // Ends a take if one runs, stops and rewinds to 0.
    void stopPlayback();

    // --- Audio thread
    // Advances the playhead by `frames` at `tempoBpm` and sends the block's note
    // events; every note it started is released by its own note-off, at a loop wrap,
    // at pause, stop, any jump of the playhead, or when edited notes arrive.
    void processPlaybackBlock(std::uint32_t frames, float tempoBpm, EventSink sink) noexcept;
    void pushAudioStereoBlock(const float* left, const float* right, std::uint32_t frames) noexcept;

    // --- Captured audio (GUI thread)
    void drainAudioRingBufferToMemory() { m_audio.drain(); }
    std::uint64_t recordedAudioFrames() const { return m_audio.totalFrames(); }
    std::uint64_t droppedAudioFrames() const noexcept { return m_audio.droppedFrames(); }
    QVariantList audioWaveformSummary(int points);
    const AudioCaptureBuffer& capturedAudio() const noexcept { return m_audio; }

    // --- Editing (GUI thread; each change is undoable)
    std::uint32_t addNote(int pitch, double startBeats, double durationBeats, int velocity, int trackIndex);
    // velocity < 1 keeps the note's velocity.
    bool moveResizeNote(std::uint32_t id, int pitch, double startBeats, double durationBeats, int velocity);
    bool deleteNote(std::uint32_t id);
    void clearAllNotes();
    void quantizeNotes(double gridBeats, float strength);
    void transposeAllNotes(int semitones);
    bool undo();
    bool redo();
    bool canUndo() const;
    bool canRedo() const;

    std::vector<PianoRollNote> snapshotNotes() const;
    // Replaces the notes (project loading); the undo stacks stay as they are.
    void restoreNotes(const std::vector<PianoRollNote>& notes);
    std::vector<RecordedCcEvent> controlEvents() const;
    int noteCount() const;
    QVariantList notesAsVariantList() const;

    // --- Files (MidiRecorderFiles.cpp)
    bool exportStandardMidiFile(const QString& path, double bpm) const;
    // Replaces the notes with the file's (undoable). On failure the notes stay
    // untouched and `error` says why.
    bool importStandardMidiFile(const QString& path, double* outBpm, QString* error = nullptr);
    bool exportRecordedAudioWav(const QString& path, int sampleRate);

private:
    void pushUndoStateUnlocked();
    void publishNotesUnlocked();
    // Audio thread helpers.
    void sendWindow(double from, double to, EventSink sink) noexcept;
    void releaseSounding(EventSink sink) noexcept;

    std::atomic<float> m_sampleRate{48000.0f};
    std::atomic<bool> m_recording{false};
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_loopEnabled{false};
    std::atomic<double> m_loopStart{0.0};
    std::atomic<double> m_loopEnd{16.0};
    std::atomic<double> m_playhead{0.0};
    // Bumped by every pause, stop or jump of the playhead: the audio thread then
    // releases what it has sounding.
    std::atomic<std::uint32_t> m_transportEpoch{0};

    mutable std::mutex m_noteMutex;
    std::uint32_t m_nextId = 1;
    std::vector<PianoRollNote> m_notes; // insertion order
    std::vector<RecordedCcEvent> m_controlEvents;
    std::array<double, 128> m_pendingStart{};
    std::array<int, 128> m_pendingVelocity{};
    std::vector<std::vector<PianoRollNote>> m_undoStack;
    std::vector<std::vector<PianoRollNote>> m_redoStack;

    // The notes as the audio thread plays them.
    TripleBuffer<std::vector<PianoRollNote>> m_playbackNotes;
    // Audio thread only: note-ons sent per pitch and not yet released.
    std::array<std::uint16_t, 128> m_sounding{};
    std::uint32_t m_seenEpoch = 0;

    AudioCaptureBuffer m_audio;
};

} // namespace tmb
