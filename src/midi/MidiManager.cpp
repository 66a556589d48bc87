#include "MidiManager.h"

namespace tmb {

MidiManager::MidiManager(QObject* parent)
    : QObject(parent) {
    resetSamsonGraphite49DefaultProfile();
}

MidiManager::~MidiManager() {
    stop();
}

bool MidiManager::start() {
    return false;
}
void MidiManager::stop() {}
void MidiManager::setRtMidiCallback(RtMidiCallback callback) {
    m_rtCallback = std::move(callback);
}
void MidiManager::setControlMappedCallback(ControlMappedCallback callback) {
    m_controlMappedCallback = std::move(callback);
}
void MidiManager::scanAndAutoConnect() {}
bool MidiManager::connectPort(int, int) {
    return false;
}
bool MidiManager::disconnectPort(int, int) {
    return false;
}
void MidiManager::setPortIgnored(int, int, bool) {}
QVariantList MidiManager::portsAsVariantList() const {
    return {};
}
QVariantList MidiManager::activityLogAsVariantList() const {
    return {};
}
void MidiManager::clearActivityLog() {}
bool MidiManager::isSamsonGraphite49Connected() const {
    return false;
}
QString MidiManager::primaryControllerName() const {
    return QStringLiteral("No Hardware MIDI Connected (On-Screen & Computer Keys Active)");
}
int MidiManager::connectedInputCount() const {
    return 0;
}
void MidiManager::resetSamsonGraphite49DefaultProfile() {}
void MidiManager::checkControllerMappings(const MidiEvent&) {}
void MidiManager::handleAlsaEvent(const snd_seq_event_t*) {}
void MidiManager::midiInputThreadLoop() {}
void MidiManager::appendActivityLog(const QString&, const QString&, int, int, int) {}

} // namespace tmb
