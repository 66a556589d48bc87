#include "GeneralMidiPlayer.h"

#include "FluidSynthEngine.h"

#include <QFileInfo>

namespace tmb {

GeneralMidiPlayer::GeneralMidiPlayer(FluidSynthEngine& engine)
    : m_engine(engine) {}

bool GeneralMidiPlayer::loadFont(const QString& path, QString* error) {
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("SoundFont %1 does not exist").arg(path);
        return false;
    }
    if (m_engine.loadSoundFont(path) < 0) {
        *error = QStringLiteral("%1 is not a SoundFont that can be read").arg(path);
        return false;
    }
    m_font = path;
    m_bank.fill(0);
    for (int channel = 0; channel < FluidSynthEngine::channelCount; ++channel)
        if (channel != drumChannel) changeProgram(channel, 0);
    changeProgram(drumChannel, 0);
    return true;
}

void GeneralMidiPlayer::changeProgram(int channel, int program) {
    if (channel == drumChannel) {
        // Kits missing from the font fall back to the standard kit, as on a GM module.
        if (!m_engine.selectDrumKit(m_font, drumBank, program)) m_engine.selectDrumKit(m_font, drumBank, 0);
        return;
    }
    // A variation bank the font lacks falls back to the capital instrument in bank 0.
    const int bank = m_bank[static_cast<std::size_t>(channel)];
    if (!m_engine.selectProgram(channel, m_font, bank, program) && bank != 0)
        m_engine.selectProgram(channel, m_font, 0, program);
}

void GeneralMidiPlayer::handle(const MidiEvent& event) {
    const int channel = event.channel & 0x0F;
    const bool drums = channel == drumChannel;
    switch (event.status) {
    case MidiEvent::NoteOn:
        if (event.data2 > 0) {
            if (drums)
                m_engine.drumNoteOn(event.data1, event.data2);
            else
                m_engine.noteOn(channel, event.data1, event.data2);
            break;
        }
        [[fallthrough]]; // velocity 0 releases the note
    case MidiEvent::NoteOff:
        if (drums)
            m_engine.drumNoteOff(event.data1);
        else
            m_engine.noteOff(channel, event.data1);
        break;
    case MidiEvent::ControlChange:
        if (event.data1 == 0) {
            m_bank[static_cast<std::size_t>(channel)] = event.data2; // applies at the next program change
        } else if (event.data1 != 32) { // the font's banks are numbered by the MSB alone
            if (drums)
                m_engine.drumControlChange(event.data1, event.data2);
            else
                m_engine.controlChange(channel, event.data1, event.data2);
        }
        break;
    case MidiEvent::ProgramChange:
        if (!m_font.isEmpty()) changeProgram(channel, event.data1);
        break;
    case MidiEvent::PitchBend:
        if (!drums) m_engine.pitchBend(channel, event.pitchBend);
        break;
    case MidiEvent::Reset:
        m_engine.allNotesOff(-1);
        m_engine.drumControlChange(123, 0); // all notes off
        break;
    default: // pressure: not played by this module
        break;
    }
}

} // namespace tmb
