#include "MidiPortDescriptor.h"

#include <alsa/asoundlib.h>

#include <array>
#include <initializer_list>

namespace tmb {

namespace {

struct FamilyRule {
    std::initializer_list<const char*> keywords;
    const char* family;
    bool samson;
    bool bluetooth;
};

// Searched in order; the first rule with a matching keyword names the family.
const std::array<FamilyRule, 8> familyRules{{
    {{"graphite 49", "samson"}, "Samson Graphite 49", true, false},
    {{"bluez", "bluetooth", "ble"}, "Bluetooth MIDI", false, true},
    {{"yamaha", "montage", "modx", "clavinova"}, "Yamaha Keyboard", false, false},
    {{"roland", "fantom", "juno"}, "Roland Keyboard", false, false},
    {{"korg", "kronos", "nanokey"}, "Korg Controller", false, false},
    {{"m-audio", "keystation", "oxygen"}, "M-Audio Controller", false, false},
    {{"arturia", "keylab", "minilab"}, "Arturia Controller", false, false},
    {{"novation", "launchkey", "launchpad"}, "Novation Controller", false, false},
}};

// "ble" (Bluetooth Low Energy) must stand as a word of its own: as a plain substring
// it would turn every "USB MIDI Cable" or "Portable Grand" into a Bluetooth device.
bool containsKeyword(const QString& text, const QString& keyword) {
    if (keyword != QLatin1String("ble")) return text.contains(keyword);
    for (qsizetype at = text.indexOf(keyword); at >= 0; at = text.indexOf(keyword, at + 1)) {
        const qsizetype end = at + keyword.size();
        const bool startsWord = at == 0 || !text.at(at - 1).isLetter();
        const bool endsWord = end == text.size() || !text.at(end).isLetter();
        if (startsWord && endsWord) return true;
    }
    return false;
}

bool hasBoth(unsigned capability, unsigned bits) {
    return (capability & bits) == bits;
}

} // namespace

bool isHiddenMidiClient(const QString& clientName) {
    const QString name = clientName.trimmed();
    return name.startsWith(QLatin1String("PipeWire-"), Qt::CaseInsensitive) ||
           name.compare(QLatin1String("Midi Through"), Qt::CaseInsensitive) == 0;
}

std::optional<MidiPortDescriptor> describeMidiPort(int clientId, int portId, const QString& clientName,
                                                   const QString& portName, unsigned capability) {
    if (capability & SND_SEQ_PORT_CAP_NO_EXPORT) return std::nullopt;
    const bool readable = hasBoth(capability, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
    const bool writable = hasBoth(capability, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    if (!readable && !writable) return std::nullopt;

    MidiPortDescriptor port;
    port.clientId = clientId;
    port.portId = portId;
    port.clientName = clientName.trimmed();
    port.portName = portName.trimmed();
    port.displayName =
        QStringLiteral("%1 \u2014 %2 [%3:%4]")
            .arg(port.clientName, port.portName, QString::number(clientId), QString::number(portId));
    port.isInput = readable;
    port.isOutput = writable;

    port.deviceFamily = QStringLiteral("Generic USB MIDI");
    const QString haystack = (port.clientName + QLatin1Char(' ') + port.portName).toLower();
    for (const FamilyRule& rule : familyRules) {
        bool matched = false;
        for (const char* keyword : rule.keywords)
            matched = matched || containsKeyword(haystack, QLatin1String(keyword));
        if (matched) {
            port.deviceFamily = QLatin1String(rule.family);
            port.isSamsonGraphite49 = rule.samson;
            port.isBluetooth = rule.bluetooth;
            break;
        }
    }

    // Controllers expose their DAW/Mackie control surface on port 0 or 1 by name, and
    // put every further port (2 and up) to control use.
    port.isControllerPort = portId >= 2 ||
                            port.portName.contains(QLatin1String("DAW"), Qt::CaseInsensitive) ||
                            port.portName.contains(QLatin1String("Mackie"), Qt::CaseInsensitive);
    return port;
}

} // namespace tmb
