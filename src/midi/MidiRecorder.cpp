#include "MidiRecorder.h"

#include <QVariantMap>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace tmb {

namespace {

constexpr double minRecordedDurationBeats = 0.1;
// A note still held when the take ends.
constexpr double minClosedDurationBeats = 0.125;

int clampPitch(int pitch) {
    return std::clamp(pitch, 0, 127);
}

} // namespace

MidiRecorder::MidiRecorder() {
    m_pendingStart.fill(-1.0);
}

MidiRecorder::~MidiRecorder() {
    m_audio.stopDraining();
}

void MidiRecorder::prepare(float sampleRate) {
    m_sampleRate.store(std::max(sampleRate, 8000.0f), std::memory_order_relaxed);
}

void MidiRecorder::setLoopBeats(double start, double end) noexcept {
    const double loopStart = std::max(start, 0.0);
    m_loopStart.store(loopStart, std::memory_order_relaxed);
    m_loopEnd.store(std::max(end, loopStart + 1.0), std::memory_order_relaxed);
}

// ---------------------------------------------------------------- recording

bool MidiRecorder::startRecording() {
    if (isRecording()) return false;
    {
        std::lock_guard lock(m_noteMutex);
        pushUndoStateUnlocked();
        m_pendingStart.fill(-1.0);
    }
    m_audio.clear();
    // Whatever playback left sounding is released before the take begins.
    m_transportEpoch.fetch_add(1, std::memory_order_release);
    m_recording.store(true, std::memory_order_release);
    m_playing.store(true, std::memory_order_release);
    m_audio.startDraining(std::chrono::milliseconds(captureDrainIntervalMs));
    return true;
}

void MidiRecorder::recordMidiEvent(const MidiEvent& event, int trackIndex) {
    if (!isRecording()) return;
    std::lock_guard lock(m_noteMutex);
    const double now = playheadBeats();
    const int pitch = std::min<int>(event.data1, 127);
    const bool noteOn = event.status == MidiEvent::NoteOn && event.data2 > 0;
    const bool noteOff =
        event.status == MidiEvent::NoteOff || (event.status == MidiEvent::NoteOn && event.data2 == 0);
    if (noteOn) {
        m_pendingStart[pitch] = now;
        m_pendingVelocity[pitch] = event.data2;
    } else if (noteOff) {
        if (m_pendingStart[pitch] < 0.0) return;
        const double start = m_pendingStart[pitch];
        m_notes.push_back(PianoRollNote{m_nextId++, trackIndex, pitch,
                                        std::clamp(m_pendingVelocity[pitch], 1, 127), start,
                                        std::max(now - start, minRecordedDurationBeats)});
        m_pendingStart[pitch] = -1.0;
    } else if (event.status == MidiEvent::ControlChange) {
        m_controlEvents.push_back(RecordedCcEvent{trackIndex, event.data1, event.data2, now});
    }
}

void MidiRecorder::stopRecording() {
    m_recording.store(false, std::memory_order_release);
    m_playing.store(false, std::memory_order_release);
    m_transportEpoch.fetch_add(1, std::memory_order_release);
    {
        std::lock_guard lock(m_noteMutex);
        const double now = playheadBeats();
        for (int pitch = 0; pitch < 128; ++pitch) {
            if (m_pendingStart[pitch] < 0.0) continue;
            const double start = m_pendingStart[pitch];
            m_notes.push_back(PianoRollNote{m_nextId++, 0, pitch,
                                            std::clamp(m_pendingVelocity[pitch], 1, 127), start,
                                            std::max(now - start, minClosedDurationBeats)});
            m_pendingStart[pitch] = -1.0;
        }
        publishNotesUnlocked();
    }
    m_audio.stopDraining();
}

// ---------------------------------------------------------------- playback transport

void MidiRecorder::startPlayback() noexcept {
    m_playing.store(true, std::memory_order_release);
}

void MidiRecorder::pausePlayback() noexcept {
    m_playing.store(false, std::memory_order_release);
    m_transportEpoch.fetch_add(1, std::memory_order_release);
}

void MidiRecorder::seekPlayhead(double beats) noexcept {
    m_playhead.store(std::max(beats, 0.0), std::memory_order_relaxed);
    m_transportEpoch.fetch_add(1, std::memory_order_release);
}

void MidiRecorder::stopPlayback() {
    if (isRecording()) stopRecording();
    m_playing.store(false, std::memory_order_release);
    m_playhead.store(0.0, std::memory_order_relaxed);
    m_transportEpoch.fetch_add(1, std::memory_order_release);
}

// ---------------------------------------------------------------- audio thread

void MidiRecorder::processPlaybackBlock(std::uint32_t frames, float tempoBpm, EventSink sink) noexcept {
    const std::uint32_t epoch = m_transportEpoch.load(std::memory_order_acquire);
    const bool recording = isRecording();
    if (epoch != m_seenEpoch || recording || !isPlaying()) {
        m_seenEpoch = epoch;
        releaseSounding(sink);
    }
    if (!isPlaying()) return;

    const double beatsPerFrame = std::clamp(static_cast<double>(tempoBpm), 30.0, 300.0) / 60.0 / sampleRate();
    double from = m_playhead.load(std::memory_order_relaxed);
    double to = from + frames * beatsPerFrame;
    // Notes edited while they sound may have moved or gone: their offs would never
    // come, so whatever sounds is released when a new copy of the notes arrives.
    if (!recording && m_playbackNotes.fetch()) releaseSounding(sink);

    const double loopStart = loopStartBeats();
    const double loopEnd = loopEndBeats();
    if (isLoopEnabled() && !recording && to >= loopEnd) {
        // Play up to the loop end, release what sounds, and go on from the loop start
        // in the same block, so a note right at the start is not skipped.
        sendWindow(from, std::min(to, loopEnd), sink);
        releaseSounding(sink);
        to = loopStart + std::fmod(to - loopStart, std::max(loopEnd - loopStart, 1.0));
        sendWindow(loopStart, to, sink);
    } else if (!recording) {
        sendWindow(from, to, sink);
    }
    // A playhead the GUI moved meanwhile (stop, rewind) wins over this block's advance.
    m_playhead.compare_exchange_strong(from, to, std::memory_order_relaxed);
}

void MidiRecorder::sendWindow(double from, double to, EventSink sink) noexcept {
    if (!(from < to)) return;
    for (const PianoRollNote& note : m_playbackNotes.current()) {
        const int pitch = clampPitch(note.pitch);
        if (from <= note.startBeats && note.startBeats < to) {
            sink(MidiEvent::noteOn(0, pitch, std::clamp(note.velocity, 1, 127)));
            ++m_sounding[pitch];
        }
        const double end = note.startBeats + note.durationBeats;
        if (from <= end && end < to && m_sounding[pitch] > 0) {
            sink(MidiEvent::noteOff(0, pitch));
            --m_sounding[pitch];
        }
    }
}

void MidiRecorder::releaseSounding(EventSink sink) noexcept {
    for (int pitch = 0; pitch < 128; ++pitch) {
        for (; m_sounding[pitch] > 0; --m_sounding[pitch])
            sink(MidiEvent::noteOff(0, pitch));
    }
}

void MidiRecorder::pushAudioStereoBlock(const float* left, const float* right,
                                        std::uint32_t frames) noexcept {
    if (!isRecording()) return;
    m_audio.push(left, right, frames);
}

QVariantList MidiRecorder::audioWaveformSummary(int points) {
    m_audio.drain();
    QVariantList list;
    for (float peak : m_audio.peakSummary(points))
        list.append(peak);
    return list;
}

// ---------------------------------------------------------------- editing

void MidiRecorder::pushUndoStateUnlocked() {
    m_undoStack.push_back(m_notes);
    if (m_undoStack.size() > static_cast<std::size_t>(maxUndoSnapshots))
        m_undoStack.erase(m_undoStack.begin());
    m_redoStack.clear();
}

void MidiRecorder::publishNotesUnlocked() {
    m_playbackNotes.publish(m_notes);
}

std::uint32_t MidiRecorder::addNote(int pitch, double startBeats, double durationBeats, int velocity,
                                    int trackIndex) {
    std::lock_guard lock(m_noteMutex);
    pushUndoStateUnlocked();
    const std::uint32_t id = m_nextId++;
    m_notes.push_back(PianoRollNote{id, trackIndex, clampPitch(pitch), std::clamp(velocity, 1, 127),
                                    std::max(startBeats, 0.0),
                                    std::max(durationBeats, minEditedDurationBeats)});
    publishNotesUnlocked();
    return id;
}

bool MidiRecorder::moveResizeNote(std::uint32_t id, int pitch, double startBeats, double durationBeats,
                                  int velocity) {
    std::lock_guard lock(m_noteMutex);
    const auto it = std::find_if(m_notes.begin(), m_notes.end(), [id](const auto& n) { return n.id == id; });
    if (it == m_notes.end()) return false;
    pushUndoStateUnlocked();
    PianoRollNote& note = m_notes[static_cast<std::size_t>(it - m_notes.begin())];
    note.pitch = clampPitch(pitch);
    note.startBeats = std::max(startBeats, 0.0);
    note.durationBeats = std::max(durationBeats, minEditedDurationBeats);
    if (velocity >= 1) note.velocity = std::min(velocity, 127);
    publishNotesUnlocked();
    return true;
}

bool MidiRecorder::deleteNote(std::uint32_t id) {
    std::lock_guard lock(m_noteMutex);
    const auto it = std::find_if(m_notes.begin(), m_notes.end(), [id](const auto& n) { return n.id == id; });
    if (it == m_notes.end()) return false;
    pushUndoStateUnlocked();
    m_notes.erase(it);
    publishNotesUnlocked();
    return true;
}

void MidiRecorder::clearAllNotes() {
    std::lock_guard lock(m_noteMutex);
    if (m_notes.empty()) return;
    pushUndoStateUnlocked();
    m_notes.clear();
    m_controlEvents.clear();
    publishNotesUnlocked();
}

void MidiRecorder::quantizeNotes(double gridBeats, float strength) {
    std::lock_guard lock(m_noteMutex);
    if (gridBeats <= 0.01 || m_notes.empty()) return;
    pushUndoStateUnlocked();
    const double amount = std::clamp(static_cast<double>(strength), 0.0, 1.0);
    for (PianoRollNote& note : m_notes) {
        const double targetStart = std::round(note.startBeats / gridBeats) * gridBeats;
        const double targetDuration =
            std::max(std::round(note.durationBeats / gridBeats) * gridBeats, gridBeats);
        note.startBeats += (targetStart - note.startBeats) * amount;
        note.durationBeats += (targetDuration - note.durationBeats) * amount;
    }
    publishNotesUnlocked();
}

void MidiRecorder::transposeAllNotes(int semitones) {
    std::lock_guard lock(m_noteMutex);
    if (semitones == 0 || m_notes.empty()) return;
    pushUndoStateUnlocked();
    for (PianoRollNote& note : m_notes)
        note.pitch = std::clamp(note.pitch + semitones, 0, 127);
    publishNotesUnlocked();
}

bool MidiRecorder::undo() {
    std::lock_guard lock(m_noteMutex);
    if (m_undoStack.empty()) return false;
    m_redoStack.push_back(std::move(m_notes));
    m_notes = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    publishNotesUnlocked();
    return true;
}

bool MidiRecorder::redo() {
    std::lock_guard lock(m_noteMutex);
    if (m_redoStack.empty()) return false;
    m_undoStack.push_back(std::move(m_notes));
    m_notes = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    publishNotesUnlocked();
    return true;
}

bool MidiRecorder::canUndo() const {
    std::lock_guard lock(m_noteMutex);
    return !m_undoStack.empty();
}

bool MidiRecorder::canRedo() const {
    std::lock_guard lock(m_noteMutex);
    return !m_redoStack.empty();
}

std::vector<PianoRollNote> MidiRecorder::snapshotNotes() const {
    std::lock_guard lock(m_noteMutex);
    return m_notes;
}

void MidiRecorder::restoreNotes(const std::vector<PianoRollNote>& notes) {
    std::lock_guard lock(m_noteMutex);
    m_notes = notes;
    std::uint32_t largest = 0;
    for (const PianoRollNote& note : m_notes)
        largest = std::max(largest, note.id);
    m_nextId = largest + 1;
    publishNotesUnlocked();
}

std::vector<RecordedCcEvent> MidiRecorder::controlEvents() const {
    std::lock_guard lock(m_noteMutex);
    return m_controlEvents;
}

int MidiRecorder::noteCount() const {
    std::lock_guard lock(m_noteMutex);
    return static_cast<int>(m_notes.size());
}

QVariantList MidiRecorder::notesAsVariantList() const {
    const std::vector<PianoRollNote> notes = snapshotNotes();
    QVariantList list;
    list.reserve(static_cast<qsizetype>(notes.size()));
    for (const PianoRollNote& note : notes) {
        list.append(QVariantMap{{QStringLiteral("id"), note.id},
                                {QStringLiteral("trackIndex"), note.trackIndex},
                                {QStringLiteral("pitch"), note.pitch},
                                {QStringLiteral("velocity"), note.velocity},
                                {QStringLiteral("startBeats"), note.startBeats},
                                {QStringLiteral("durationBeats"), note.durationBeats}});
    }
    return list;
}

} // namespace tmb
