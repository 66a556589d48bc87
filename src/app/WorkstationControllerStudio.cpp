// The studio: the recorder's transport, the piano-roll edits, and the file
// exchange with its status texts. The recorder does the work; this file forwards,
// reports and announces.

#include "WorkstationController.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace tmb {

QString WorkstationController::musicFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/Music");
    QDir().mkpath(folder);
    return folder;
}

QString WorkstationController::localPathFromUrl(const QString& fileUrl) {
    if (fileUrl.startsWith(QLatin1String("file:"))) return QUrl(fileUrl).toLocalFile();
    return fileUrl;
}

void WorkstationController::notifyStudioState() {
    m_audioWaveform = m_audioEngine.midiRecorder.audioWaveformSummary(waveformPoints);
    Q_EMIT studioStateChanged();
}

void WorkstationController::followStudioTake() {
    if (!studioRecording()) return;
    const int count = recordedNoteCount();
    if (count == m_takeNoteCount) return;
    m_takeNoteCount = count;
    notifyRecordedNotes();
}

// ---------------------------------------------------------------- transport

void WorkstationController::startStudioRecord() {
    MidiRecorder& recorder = m_audioEngine.midiRecorder;
    if (!recorder.startRecording()) return;
    m_takeNoteCount = recorder.noteCount();
    if (!startLocalVideo())
        setStatusBanner(QStringLiteral("RECORDING AUDIO (.WAV) + MIDI"));
    else if (m_cameraEnabled || m_audioEngine.micEnabled.load())
        setStatusBanner(QStringLiteral(
            "RECORDING VIDEO (.MP4) + AUDIO (.WAV) • Piano + Beats + Camera PiP + Live Microphone..."));
    else
        setStatusBanner(
            QStringLiteral("RECORDING VIDEO (.MP4) + AUDIO (.WAV) • Piano + Beats + Screen (Click "
                           "MIC/CAM to include voice & face)..."));
    notifyStudioState();
    notifyRecordedNotes();
}

void WorkstationController::stopStudioTransport() {
    MidiRecorder& recorder = m_audioEngine.midiRecorder;
    const bool wasRecording = recorder.isRecording();
    recorder.stopPlayback();
    const bool broadcastWasActive = m_broadcastActive;
    if (!broadcastEncoderRunning()) {
        if (m_broadcastActive) m_broadcastStatusText = QStringLiteral("BROADCAST STOPPED");
        m_broadcastActive = false;
        m_frameCaptureTimer.stop();
    }
    const QString video = finishLocalVideo();

    const int notes = recorder.noteCount();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    // Only a take that just ended is saved: stopping playback writes no new file.
    const bool audioRecorded = wasRecording && recorder.recordedAudioFrames() > 0;
    const QString wavPath = musicFolder() + QStringLiteral("/Sandorik_Studio_Rec_%1.wav").arg(stamp);
    const bool wavSaved =
        audioRecorded && recorder.exportRecordedAudioWav(wavPath, static_cast<int>(m_audioEngine.sampleRate));
    if (wavSaved) m_lastRecordedWavPath = wavPath;

    if (wavSaved && !video.isEmpty()) {
        startVideoJoin(video, wavPath, stamp);
    } else if (!video.isEmpty()) {
        // A picture without sound: the video is the recording.
        const QString mp4 = videosFolder() + QStringLiteral("/Sandorik_Live_%1.mp4").arg(stamp);
        if (QFile::rename(video, mp4)) {
            m_lastRecordedMp4Path = mp4;
            m_broadcastStatusText = QStringLiteral("SAVED .MP4 → %1").arg(QFileInfo(mp4).fileName());
        }
        if (audioRecorded)
            setStatusBanner(QStringLiteral("⚠ Could not save the recording to %1 • SAVED HD .MP4 VIDEO: %2")
                                .arg(wavPath, m_lastRecordedMp4Path));
        else
            setStatusBanner(QStringLiteral("SAVED HD .MP4 VIDEO: %1").arg(m_lastRecordedMp4Path));
    } else if (wavSaved) {
        setStatusBanner(QStringLiteral("SAVED RECORDING: %1 (%2 MIDI notes)").arg(wavPath).arg(notes));
    } else if (audioRecorded) {
        setStatusBanner(QStringLiteral("⚠ Could not save the recording to %1 • %2 MIDI notes kept")
                            .arg(wavPath)
                            .arg(notes));
    } else {
        setStatusBanner(QStringLiteral("Stopped • %1 MIDI notes recorded").arg(notes));
    }
    notifyStudioState();
    if (wasRecording) notifyRecordedNotes();
    if (broadcastWasActive || !video.isEmpty()) notifyBroadcastState();
}

void WorkstationController::toggleStudioPlayPause() {
    MidiRecorder& recorder = m_audioEngine.midiRecorder;
    if (recorder.isPlaying())
        recorder.pausePlayback();
    else
        recorder.startPlayback();
    Q_EMIT studioStateChanged();
}

void WorkstationController::setStudioLoopEnabled(bool enabled) {
    m_audioEngine.midiRecorder.setLoopEnabled(enabled);
    Q_EMIT studioStateChanged();
}

// ---------------------------------------------------------------- piano roll

void WorkstationController::addPianoRollNote(int pitch, double startBeats, double durationBeats,
                                             int velocity) {
    m_audioEngine.midiRecorder.addNote(pitch, startBeats, durationBeats, velocity, 0);
    notifyRecordedNotes();
}

void WorkstationController::moveResizePianoRollNote(int noteId, int newPitch, double newStart,
                                                    double newDur) {
    if (noteId < 1) return;
    if (m_audioEngine.midiRecorder.moveResizeNote(static_cast<std::uint32_t>(noteId), newPitch, newStart,
                                                  newDur, 0))
        notifyRecordedNotes();
}

void WorkstationController::deletePianoRollNote(int noteId) {
    if (noteId < 1) return;
    if (m_audioEngine.midiRecorder.deleteNote(static_cast<std::uint32_t>(noteId))) notifyRecordedNotes();
}

void WorkstationController::clearRecordedNotes() {
    m_audioEngine.midiRecorder.clearAllNotes();
    notifyRecordedNotes();
}

void WorkstationController::quantizeRecordedNotes(double gridBeats, float strength01) {
    m_audioEngine.midiRecorder.quantizeNotes(gridBeats, strength01);
    notifyRecordedNotes();
}

void WorkstationController::transposeRecordedNotes(int semitones) {
    m_audioEngine.midiRecorder.transposeAllNotes(semitones);
    notifyRecordedNotes();
}

void WorkstationController::undoMidiEdit() {
    if (m_audioEngine.midiRecorder.undo()) notifyRecordedNotes();
}

void WorkstationController::redoMidiEdit() {
    if (m_audioEngine.midiRecorder.redo()) notifyRecordedNotes();
}

// ---------------------------------------------------------------- files

bool WorkstationController::exportMidiFile(const QString& filePath) {
    const QString path = localPathFromUrl(filePath);
    const bool ok =
        m_audioEngine.midiRecorder.exportStandardMidiFile(path, m_audioEngine.beatSequencer.bpm());
    setStatusBanner(ok ? QStringLiteral("Exported MIDI to %1").arg(path)
                       : QStringLiteral("Failed to export MIDI file"));
    return ok;
}

bool WorkstationController::importMidiFile(const QString& filePath) {
    double bpm = m_audioEngine.beatSequencer.bpm();
    if (!m_audioEngine.midiRecorder.importStandardMidiFile(localPathFromUrl(filePath), &bpm)) {
        setStatusBanner(QStringLiteral("Failed to import MIDI file"));
        return false;
    }
    m_audioEngine.beatSequencer.setBpm(static_cast<float>(bpm));
    setStatusBanner(QStringLiteral("Imported MIDI (%1 notes)").arg(recordedNoteCount()));
    notifyBeatState();
    notifyRecordedNotes();
    return true;
}

bool WorkstationController::exportWavFile(const QString& filePath) {
    const QString path = localPathFromUrl(filePath);
    MidiRecorder& recorder = m_audioEngine.midiRecorder;
    const bool ok = recorder.exportRecordedAudioWav(path, static_cast<int>(m_audioEngine.sampleRate));
    if (ok)
        setStatusBanner(QStringLiteral("Exported WAV Audio to %1").arg(path));
    else if (recorder.recordedAudioFrames() == 0)
        setStatusBanner(QStringLiteral("No recorded audio frames to export (Record first)"));
    else
        setStatusBanner(QStringLiteral("⚠ Could not write the WAV file %1").arg(path));
    return ok;
}

} // namespace tmb
