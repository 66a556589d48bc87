#pragma once

#include <QString>

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

} // namespace tmb
