// The studio track's file exchange: the notes as a Standard MIDI File (single track,
// 480 ticks per quarter), a Standard MIDI File back into the notes, and the captured
// audio as a 16-bit stereo WAV. Every file is written beside its target and renamed
// over it, so a failed write never leaves half a file under the user's name.

#include "MidiRecorder.h"

#include "midi/StandardMidiFile.h"

#include <QFile>
#include <QSaveFile>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace tmb {

namespace {

constexpr int exportTicksPerQuarter = 480;
// The largest tick a four-byte variable-length delta can reach from 0.
constexpr double maxExportTick = 0x0FFFFFFF;
constexpr double minExportGateBeats = 0.05;

struct ExportEvent {
    std::uint32_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

std::uint32_t ticksOf(double beats) {
    if (!(beats > 0.0)) return 0; // negative and NaN
    return static_cast<std::uint32_t>(std::min(std::trunc(beats * exportTicksPerQuarter), maxExportTick));
}

void appendVarLen(QByteArray& out, std::uint32_t value) {
    std::array<char, 5> bytes{};
    int count = 0;
    bytes[count++] = static_cast<char>(value & 0x7F);
    while ((value >>= 7) != 0)
        bytes[count++] = static_cast<char>((value & 0x7F) | 0x80);
    while (count > 0)
        out.append(bytes[--count]);
}

void appendBe32(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

QByteArray encodeNotes(const std::vector<PianoRollNote>& notes, double bpm) {
    std::vector<ExportEvent> events;
    events.reserve(2 * notes.size());
    for (const PianoRollNote& note : notes) {
        const std::uint32_t on = ticksOf(note.startBeats);
        const std::uint32_t gate = ticksOf(std::max(note.durationBeats, minExportGateBeats));
        const auto pitch = static_cast<std::uint8_t>(note.pitch & 0x7F);
        events.push_back({on, MidiEvent::NoteOn, pitch, static_cast<std::uint8_t>(note.velocity & 0x7F)});
        events.push_back({on + gate, MidiEvent::NoteOff, pitch, 0});
    }
    // Offs before ons at one tick, so back-to-back notes of one pitch stay apart.
    std::stable_sort(events.begin(), events.end(), [](const ExportEvent& a, const ExportEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.status < b.status;
    });

    const double tempoBpm = std::isfinite(bpm) ? std::clamp(bpm, 30.0, 300.0) : 120.0;
    const auto tempo = static_cast<std::uint32_t>(std::trunc(60000000.0 / tempoBpm));
    QByteArray track;
    track.append("\x00\xFF\x51\x03", 4);
    track.append(static_cast<char>((tempo >> 16) & 0xFF));
    track.append(static_cast<char>((tempo >> 8) & 0xFF));
    track.append(static_cast<char>(tempo & 0xFF));
    std::uint32_t previous = 0;
    for (const ExportEvent& event : events) {
        appendVarLen(track, event.tick - previous);
        previous = event.tick;
        track.append(static_cast<char>(event.status));
        track.append(static_cast<char>(event.data1));
        track.append(static_cast<char>(event.data2));
    }
    track.append("\x00\xFF\x2F\x00", 4);

    QByteArray file("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xE0", 14);
    file.append("MTrk", 4);
    appendBe32(file, static_cast<std::uint32_t>(track.size()));
    file.append(track);
    return file;
}

// The notes of a parsed file: channels merged, each track timed from its own start,
// ids from 1; a note still held when its track ends is dropped.
std::vector<PianoRollNote> notesOf(const StandardMidiFile& smf) {
    const double ticksPerBeat = smf.ticksPerQuarter();
    std::vector<std::array<double, 128>> pendingStart(smf.tracks().size());
    std::vector<std::array<int, 128>> pendingVelocity(smf.tracks().size());
    for (auto& starts : pendingStart)
        starts.fill(-1.0);
    std::vector<PianoRollNote> notes;
    for (const SmfChannelEvent& event : smf.events()) {
        if (event.status != MidiEvent::NoteOn && event.status != MidiEvent::NoteOff) continue;
        const double beats = static_cast<double>(event.tick) / ticksPerBeat;
        double& start = pendingStart[event.track][event.data1];
        if (event.status == MidiEvent::NoteOn && event.data2 > 0) {
            start = beats;
            pendingVelocity[event.track][event.data1] = event.data2;
        } else if (start >= 0.0) {
            notes.push_back(PianoRollNote{static_cast<std::uint32_t>(notes.size() + 1), 0, event.data1,
                                          pendingVelocity[event.track][event.data1], start,
                                          std::max(beats - start, MidiRecorder::minEditedDurationBeats)});
            start = -1.0;
        }
    }
    return notes;
}

// The tempo set last in file order (track by track), if any.
bool lastTempoOf(const StandardMidiFile& smf, double* bpm) {
    const SmfMetaEvent* last = nullptr;
    // Meta events come ordered by tick; within one track that is file order.
    for (const SmfMetaEvent& meta : smf.metaEvents()) {
        if (meta.type != SmfMetaEvent::Tempo || meta.data.size() != 3) continue;
        const auto* p = reinterpret_cast<const std::uint8_t*>(meta.data.constData());
        if ((p[0] | p[1] | p[2]) == 0) continue;
        if (last == nullptr || meta.track >= last->track) last = &meta;
    }
    if (last == nullptr) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(last->data.constData());
    *bpm = 60000000.0 / ((std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]);
    return true;
}

} // namespace

bool MidiRecorder::exportStandardMidiFile(const QString& path, double bpm) const {
    const QByteArray bytes = encodeNotes(snapshotNotes(), bpm);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool MidiRecorder::importStandardMidiFile(const QString& path, double* outBpm, QString* error) {
    StandardMidiFile smf;
    QString why;
    if (!smf.load(path, &why)) {
        if (error) *error = why;
        return false;
    }
    if (smf.ticksPerQuarter() == 0) {
        if (error) *error = QStringLiteral("MIDI files timed in SMPTE frames are not supported");
        return false;
    }
    if (smf.tracks().empty()) {
        if (error) *error = QStringLiteral("The MIDI file holds no track");
        return false;
    }
    std::vector<PianoRollNote> notes = notesOf(smf);
    double bpm = 0.0;
    if (outBpm && lastTempoOf(smf, &bpm)) *outBpm = bpm;

    std::lock_guard lock(m_noteMutex);
    pushUndoStateUnlocked();
    m_notes = std::move(notes);
    m_nextId = static_cast<std::uint32_t>(m_notes.size() + 1);
    publishNotesUnlocked();
    return true;
}

bool MidiRecorder::exportRecordedAudioWav(const QString& path, int sampleRate) {
    m_audio.drain();
    if (m_audio.storedFrames() == 0) return false;

    const QByteArray target = QFile::encodeName(path);
    const QByteArray partial = target + ".part";
    SF_INFO info{};
    info.samplerate = std::max(sampleRate, 8000);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(partial.constData(), SFM_WRITE, &info);
    if (file == nullptr) return false;
    // Converted here rather than by the library: full scale is ±32767, and a stray
    // sample past ±1 is clipped instead of wrapping around.
    std::vector<short> pcm(2 * AudioCaptureBuffer::chunkFrames);
    const bool written = m_audio.readStored([file, &pcm](const float* data, std::size_t frames) {
        for (std::size_t i = 0; i < 2 * frames; ++i)
            pcm[i] = static_cast<short>(std::lrint(std::clamp(data[i], -1.0f, 1.0f) * 32767.0f));
        return sf_writef_short(file, pcm.data(), static_cast<sf_count_t>(frames)) ==
               static_cast<sf_count_t>(frames);
    });
    const bool closed = sf_close(file) == 0;
    if (!written || !closed || std::rename(partial.constData(), target.constData()) != 0) {
        std::remove(partial.constData());
        return false;
    }
    return true;
}

} // namespace tmb
