#pragma once

// Runs one hymn lesson against the player: the wait-for-you tutor that checks each
// note, counts hits and the streak and moves on; guided playback that walks the
// steps at the band's tempo (the demo plays the melody, the play-along band leaves
// it to the player) with the step's chord under it; and the guide keys.
//
// Everything is in the lesson's written key of C: the guide keys, the note the
// player must press and the notes the tutor sounds. The engine moves what sounds
// into the keyboard's key, exactly as it does for the player's own keys.
// GUI thread.

#include "hymns/HymnCatalog.h"

#include <QList>

#include <functional>

namespace tmb {

// The notes the hymn holds sounding.
struct HymnPlaybackState {
    bool hymnPlaying = false;
    int guideNote = -1;      // the demo's pressed key, -1 when none
    QList<int> harmonyNotes; // chord notes sounding under the melody
};

class HymnTutor {
public:
    static constexpr int waitForYou = 0;
    static constexpr int autoPlayDemo = 1;
    static constexpr int playAlongBand = 2;

    // How the tutor's notes reach the keyboard. Notes are as written.
    struct Keyboard {
        std::function<void(int note, int velocity)> soundHarmony; // velocity 0 ends the note
        std::function<void(int note, int velocity)> pressDemoKey;
        std::function<void(int note)> releaseDemoKey;
        // Every hymn and band note ends; the tutor's own through releaseSounding().
        std::function<void()> releaseAll;
    };

    HymnTutor(const HymnCatalog& catalog, Keyboard keyboard);

    const HymnLesson* lesson() const { return m_catalog.lesson(m_index); }
    // The current step (its index clamped into the lesson), or nullptr without steps.
    const HymnStep* step() const;
    int stepCount() const;

    int currentIndex() const { return m_index; }
    int learnMode() const { return m_learnMode; }
    bool playing() const { return m_sounding.hymnPlaying; }
    bool autoHarmony() const { return m_autoHarmony; }
    int stepIndex() const { return m_stepIndex; }
    double playheadBeats() const { return m_playhead; }
    int hits() const { return m_hits; }
    int streak() const { return m_streak; }
    HymnPlaybackState& sounding() { return m_sounding; }

    // Each returns false when nothing changed. All but the harmony switch end every
    // hymn and band note first.
    bool selectLesson(int index); // outside the catalogue: ignored
    bool setLearnMode(int mode);  // clamped to 0..2
    bool setPlaying(bool playing);
    bool setAutoHarmony(bool on);
    void restart();
    bool stepForward();
    bool stepBackward();

    // The HYMNS view engages the tutor as playing does.
    void setEngagedByView(bool shown) { m_engagedByView = shown; }
    bool engaged() const { return m_sounding.hymnPlaying || m_engagedByView; }

    enum class Check {
        Inactive, // no lesson, another learn mode, or not engaged
        Ignored,  // a wrong note below G3: the left hand accompanying
        Wrong,
        Right,
    };
    // A note-on of the player, as the harmonizer left it.
    Check checkNote(int note, int velocity);

    struct Advance {
        bool moved = false;   // the playhead moved
        bool entered = false; // a step began
        bool looped = false;  // the lesson ended and started over
    };
    // Guided playback: `seconds` more of playing at `bpm`. Modes 1 and 2 only.
    Advance advance(double seconds, double bpm);

    bool isGuideMelodyKey(int note) const;
    bool isGuideChordKey(int note) const;
    // The melody note the harmonizer snaps nearby notes to: the current step's while
    // a lesson plays in learn mode 0, else -1.
    int guideTarget() const;

    // The tutor's own notes end: the demo key and the harmony.
    void releaseSounding();

private:
    bool hasSteps() const { return stepCount() > 0; }
    void resetProgress();
    void enterStep(int index);
    void silenceHarmony();

    const HymnCatalog& m_catalog;
    Keyboard m_keyboard;
    int m_index = 0;
    int m_learnMode = waitForYou;
    bool m_autoHarmony = true;
    bool m_engagedByView = false;
    int m_stepIndex = 0;
    double m_playhead = 0.0;
    int m_hits = 0;
    int m_streak = 0;
    HymnPlaybackState m_sounding;
};

} // namespace tmb
