#pragma once

// Plays MIDI channel messages the way a General MIDI sound module does, on the
// SoundFont engine: channels 1-9 and 11-16 on the melodic synthesizer with the
// messages' own bank selects (controller 0) and program changes, channel 10 on the
// drum synthesizer with its kits from bank 128.
//
// Threads: one thread that both handles the messages and renders (the offline
// renderer). A program change chooses a preset from the font loaded by loadFont, so
// it reads no file, but it takes the engine's control lock: this is not for the live
// audio thread.

#include "midi/MidiEvent.h"

#include <QString>

#include <array>

namespace tmb {

class FluidSynthEngine;

class GeneralMidiPlayer {
public:
    explicit GeneralMidiPlayer(FluidSynthEngine& engine);

    // Loads the SoundFont into both synthesizers and puts every channel in its
    // General MIDI start state: bank 0 program 0 on the melodic channels, the
    // standard kit on channel 10. False, with a message, when the file is missing
    // or is not a SoundFont.
    bool loadFont(const QString& path, QString* error);

    void handle(const MidiEvent& event);

private:
    static constexpr int drumChannel = 9;
    static constexpr int drumBank = 128;

    void changeProgram(int channel, int program);

    FluidSynthEngine& m_engine;
    QString m_font;
    std::array<int, 16> m_bank{}; // last bank select (controller 0) per channel
};

} // namespace tmb
