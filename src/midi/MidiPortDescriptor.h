#pragma once

#include <QString>

#include <optional>

namespace tmb {

// One ALSA sequencer port as the MIDI settings view lists it.
struct MidiPortDescriptor {
    int clientId = -1;
    int portId = -1;
    QString clientName;
    QString portName;
    QString displayName;
    QString deviceFamily;
    bool isInput = false;
    bool isOutput = false;
    bool isControllerPort = false;
    bool isConnected = false;
    bool isIgnored = false;
    bool isSamsonGraphite49 = false;
    bool isBluetooth = false;
};

// Clients that are never listed: the sound server's own MIDI bridges ("PipeWire-...")
// and the kernel's "Midi Through" loopback.
bool isHiddenMidiClient(const QString& clientName);

// Describes one port from what the sequencer reports about it: trimmed names, display
// name, device family by keyword, input/output from the capability bits and the
// control-surface rule. Empty when the port is not listed (not exported, or neither
// readable nor writable by subscription). isConnected and isIgnored are left false.
std::optional<MidiPortDescriptor> describeMidiPort(int clientId, int portId, const QString& clientName,
                                                   const QString& portName, unsigned capability);

} // namespace tmb
