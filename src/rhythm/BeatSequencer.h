#pragma once

// The drum machine behind every accompaniment: the style catalogue, a working copy
// of the selected style (its grid is what the user edits) and the transport: a
// 16th-note step clock with swing that turns the current section's velocities into
// drum hits, changes sections at bar starts, adds crashes and mixes a metronome click.
//
// Threads:
// - GUI thread: everything except processBlock. The catalogue and the working
//   copy's identity fields are GUI-only.
// - Audio thread: processBlock. What it reads (tempo, swing, humanize, metronome,
//   section, the working grid, lane notes and meter) are relaxed atomics the GUI
//   writes; a style change may mix old and new values for one block. The audio
//   thread itself writes the step, the playing flag and the section at bar starts
//   (Intro -> Verse A, the return from a Fill, the stop after an Ending).

#include "audio/FunctionRef.h"
#include "rhythm/StylePattern.h"

#include <QVariantList>

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace tmb {

class BeatSequencer {
public:
    using DrumHit = FunctionRef<void(int note, int velocity, bool toPlugin)>;

    static constexpr float minBpm = 40.0f;
    static constexpr float maxBpm = 240.0f;
    static constexpr int crashNote = 49;

    BeatSequencer();

    // --- Transport (GUI thread)
    void prepare(float sampleRate);
    // Starting when stopped sounds step 0 on the next processed sample; stopping goes
    // back to step 0. The section does not change.
    void setPlaying(bool playing);
    bool isPlaying() const noexcept { return m_playing.load(std::memory_order_relaxed); }
    void setBpm(float bpm);
    float bpm() const noexcept { return m_bpm.load(std::memory_order_relaxed); }
    void setSwing(float swing) { m_swing.store(swing, std::memory_order_relaxed); }
    float swing() const { return m_swing.load(std::memory_order_relaxed); }
    void setHumanize(float amount) { m_humanize.store(amount, std::memory_order_relaxed); }
    float humanize() const { return m_humanize.load(std::memory_order_relaxed); }
    void setMetronomeEnabled(bool on) { m_metronome.store(on, std::memory_order_relaxed); }
    bool metronomeEnabled() const { return m_metronome.load(std::memory_order_relaxed); }
    // Whether hits also go to a drum plug-in (the third argument of the hit callback).
    void setHitsToPlugin(bool on) { m_hitsToPlugin.store(on, std::memory_order_relaxed); }
    // The tempo from the spacing of the last four taps (milliseconds on any clock).
    void tapTempo(std::int64_t nowMs);

    // Clamped to 0-6; any section but Fill is also where a fill returns to. An
    // Ending chosen while a bar plays waits for the next bar start, plays one whole
    // bar and stops; chosen while stopped it is the one bar played.
    void setSection(int section);
    void triggerFill();
    // The section chosen (an Ending counts from the moment it is chosen).
    int section() const noexcept { return m_section.load(std::memory_order_relaxed); }
    // -1 until the first step of a start sounds.
    int currentStep() const noexcept { return m_step.load(std::memory_order_relaxed); }

    // --- Styles (GUI thread)
    void initBuiltinStyles();
    // Imported styles go after the built-in ones.
    void appendStyle(const StylePattern& style);
    // Reads a style file (see StyleFileReader.h) into the catalogue and selects it;
    // a file imported before is refreshed in place. Returns its index, or -1 with
    // "File not found: %1", "Cannot open .STY file: %1" or "Invalid or empty .STY
    // file: %1" in `error`.
    int importStyFile(const QString& path, QString* error = nullptr);
    const std::vector<StylePattern>& styles() const { return m_styles; }
    int selectedStyleIndex() const { return m_selected; }
    // The working copy of the selected style, with the user's grid edits.
    const StylePattern& currentStyle() const { return m_working; }
    // Copies the style into the working copy and takes its tempo; ignored for an
    // index outside the catalogue. Section and step stay.
    void selectStyle(int index);
    int customStyleCount() const;
    // False unless `index` is an imported style. The selection follows its style;
    // when the selected style itself goes, its neighbour is selected.
    bool removeCustomStyle(int index);
    void clearCustomStyles();

    // The working grid of the current section; lanes 0-7, steps 0-15.
    int stepVelocity(int lane, int step) const;
    void setStepVelocity(int lane, int step, int velocity);
    void toggleStep(int lane, int step);

    static int laneMidiNote(int lane);
    static QString laneName(int lane);
    static QString midiDrumNoteName(int note, int lane);

    QVariantList stylesAsVariantList() const;
    QVariantList currentGridAsVariantList() const;

    // --- Audio thread
    void processBlock(std::uint32_t frames, float* outLeft, float* outRight, DrumHit onHit) noexcept;

private:
    // The working grid, lane notes and meter as the audio thread reads them.
    struct LivePattern {
        std::array<std::array<std::array<std::atomic<std::uint8_t>, maxStepsPerBar>, drumLaneCount>,
                   songSectionCount>
            grid{};
        std::array<std::atomic<int>, drumLaneCount> laneNotes{};
        std::atomic<int> stepsPerBar{16};
        std::atomic<int> beatsPerBar{4};
    };

    void loadWorkingCopy(const StylePattern& style);
    void removeStylesWhere(bool (*remove)(const StylePattern&, int index, int target), int target);
    int clampedSection() const;

    // Audio thread helpers.
    double stepFrames(int step, int stepsPerBar, int beatsPerBar) const noexcept;
    bool startStep(int& step, bool restarted, DrumHit& onHit) noexcept;
    void renderClick(float* left, float* right, std::uint32_t from, std::uint32_t to) noexcept;

    // Settings (GUI writes, audio reads).
    std::atomic<float> m_sampleRate{48000.0f};
    std::atomic<float> m_bpm{112.0f};
    std::atomic<float> m_swing{0.08f};
    std::atomic<float> m_humanize{0.15f};
    std::atomic<bool> m_metronome{false};
    std::atomic<bool> m_hitsToPlugin{false};

    // Transport (both threads).
    std::atomic<bool> m_playing{false};
    std::atomic<int> m_step{0};
    std::atomic<int> m_section{static_cast<int>(SongSection::VerseA)};
    std::atomic<int> m_returnSection{static_cast<int>(SongSection::VerseA)};
    // An Ending chosen mid-bar: the bar finishes in `m_endingFrom` first.
    std::atomic<bool> m_endingPending{false};
    std::atomic<int> m_endingFrom{static_cast<int>(SongSection::VerseA)};

    LivePattern m_live;

    // Audio thread only.
    double m_sinceStep = 0.0; // frames since the current step began
    float m_clickAmplitude = 0.0f;
    float m_clickPhase = 0.0f;
    float m_clickFrequency = 980.0f;
    std::uint32_t m_random = 0x98765432u;

    // GUI thread only.
    std::vector<StylePattern> m_styles;
    int m_selected = 0;
    StylePattern m_working;
    std::array<std::int64_t, 4> m_taps{};
    int m_tapIndex = 0;
};

} // namespace tmb
