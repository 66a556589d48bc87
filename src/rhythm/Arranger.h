#pragma once

// The backing band: on every new step of the drum sequencer it plays bass, rhythm
// chords, a harmony pad and a lead around the current chord degree, from the
// style's imported accompaniment notes or from the genre template numbered like
// the style. The chord degree comes from the player (setDegree) or from a
// four-bar progression loop. Every note goes out as a MidiEvent to the sink, on
// the band's SoundFont channels 3-6.
//
// A plain class: the controller drives it from its 8 ms step timer, the offline
// renderer after each rendered block. Whoever owns it calls it from one thread
// (the GUI thread in the program); it allocates only when a part's note list grows.

#include "midi/MidiEvent.h"

#include <QList>
#include <QString>

#include <array>
#include <functional>
#include <initializer_list>
#include <span>

namespace tmb {

class BeatSequencer;
namespace band {
struct Bar;
}

// One pitched part of the style band, on its own SoundFont channel.
struct StyleBandPart {
    int channel = 0;
    QList<int> soundingNotes;
    int remainingSteps = 0; // sequencer steps until its notes end; 0 = nothing pending
};

struct ArrangerState {
    enum Part { Bass = 0, Rhythm = 1, Harmony = 2, Lead = 3 };

    bool proArrangerEnabled = false;
    bool bandActive = false;  // the current style's band parts play
    int arrangerPlayMode = 0; // 0 full-band loop, 1 play with keyboard (lead silent)
    bool arrangerAutoFill = true;
    bool smartChordEnabled = false;
    int progressionIndex = 1; // chord progression loop, 0 = manual chords
    int progressionBar = 0;   // bars of the loop played, used mod 4
    int lastStep = -1;        // the last sequencer step the band played
    // The diatonic degree (1-6) the band plays and the keyboard names.
    int chordDegree = 1;
    int degreeSemitones = 0;
    bool degreeMinor = false;
    QString activeChordText = QStringLiteral("C (I)");
    // Bass on channel index 4, rhythm chords on 3, harmony pad on 6, lead on 5.
    std::array<StyleBandPart, 4> parts{{{4, {}, 0}, {3, {}, 0}, {6, {}, 0}, {5, {}, 0}}};
};

// The band's levels: the whole band and each group, as the mixer sets them.
struct BandLevels {
    float style = 0.85f;
    bool muted = false;
    float bass = 0.90f;
    float chord = 0.85f; // rhythm and harmony
    float lead = 0.85f;
    float part(ArrangerState::Part part) const;
};

// Chord progression loops 0-6; loop 0 leaves the chords to the player.
inline constexpr int progressionCount = 7;

class Arranger {
public:
    using EventSink = std::function<void(const MidiEvent&)>;
    // A progression loop moved to `degree`; the receiver must call setDegree (the
    // controller also names the chord). Without one the arranger calls it itself.
    using DegreeSink = std::function<void(int degree)>;

    explicit Arranger(EventSink events);

    ArrangerState& state() { return m_state; }
    const ArrangerState& state() const { return m_state; }
    void setDegreeSink(DegreeSink sink) { m_degreeSink = std::move(sink); }
    void setLevels(const BandLevels& levels) { m_levels = levels; }
    const BandLevels& levels() const { return m_levels; }
    // The global transposition; the band plays in the transposed key.
    void setTranspose(int semitones) { m_transpose = semitones; }

    // Stores the degree (clamped 1-6) with its root and quality.
    void setDegree(int degree);
    // 0 full band, anything above 0 play with keyboard. The lead's notes end first;
    // false when the mode did not change (then nothing happens).
    bool setPlayMode(int mode);
    // The loop starts again at its first bar; the next step seen is played.
    void restart();

    // The step timer: plays one arranger step whenever the playing sequencer shows
    // a new step (a late call skips steps, it does not catch up), while the band is
    // active or the pro arranger is on. When it finds the sequencer stopped after
    // playing (an Ending ran out), every band note ends.
    void followSequencer(BeatSequencer& sequencer);
    // One arranger step for sequencer step `step`: part lengths, the progression
    // (with its fill in the fourth bar), then the notes of bar position `step`.
    void advanceStep(int step, BeatSequencer& sequencer);

    // Note-offs for what one part, or every part, holds sounding.
    void releasePart(ArrangerState::Part part);
    void releaseAll();

    // Plays `notes` on a part: its earlier notes end, the velocity is scaled by the
    // levels and the notes clamped to the part's range; they last `length` steps.
    // Nothing at all happens to the lead while playing with the keyboard.
    void playPart(ArrangerState::Part part, std::initializer_list<int> notes, int velocity, int length);
    void playNotes(ArrangerState::Part part, std::span<const int> notes, int velocity, int length);

private:
    void endExpiredNotes();
    bool playImportedStep(const BeatSequencer& sequencer, const band::Bar& bar, int lead);

    EventSink m_events;
    DegreeSink m_degreeSink;
    ArrangerState m_state;
    BandLevels m_levels;
    int m_transpose = 0;
    bool m_sawPlaying = false;
};

} // namespace tmb
