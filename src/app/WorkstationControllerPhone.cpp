// The phone bridge: its child process and line protocol, the peers, the links
// (LAN, USB, public, tunnel), the QR code and the state file the phones poll.

#include "WorkstationController.h"

#include "broadcast/PrivateRuntimeFolder.h"

#include <QSaveFile>

namespace tmb {

namespace {

const QString phoneMicDeviceId = QStringLiteral("phone_wireless_mic");

} // namespace

void WorkstationController::setPhoneStatus(const QString& text) {
    m_phone.statusText = text;
    notifyPhoneBridge();
    setStatusBanner(text);
}

QString WorkstationController::registerOrTouchPhonePeer(const QString& id, const QString& ip) {
    return m_phonePeers.registerOrTouch(id, ip);
}

void WorkstationController::recordPhoneAction(const QString& id, const QString& ip, const QString& summary) {
    const QString label = registerOrTouchPhonePeer(id, ip);
    m_phone.lastActorId = id;
    m_phone.lastChangeSummary = QStringLiteral("📲 %1 → %2").arg(label, summary);
    ++m_phone.stateSeq;
}

void WorkstationController::activatePhoneMicrophone(const QString& phoneId) {
    m_phone.micActive = true;
    m_phone.activeMicPhoneId = phoneId;
    if (m_audioEngine.inputDeviceId != phoneMicDeviceId) m_audioEngine.setAudioInputDevice(phoneMicDeviceId);
    if (!m_audioEngine.micEnabled.load()) {
        m_audioEngine.setMicEnabled(true);
        notifyArrangerState(); // the Mic channel may have been unmuted and raised
    }
    notifyMicState();
    Q_EMIT audioSettingsChanged();
    notifyPhoneBridge();
}

void WorkstationController::activatePhoneCamera(const QString& phoneId) {
    m_phone.camActive = true;
    m_phone.activeCamPhoneId = phoneId;
    if (!m_cameraEnabled) {
        // The phone is the camera: no local camera is powered or asked for.
        m_cameraEnabled = true;
        notifyBroadcastState();
    }
}

void WorkstationController::setPhoneUsePublicLink(bool usePublic) {
    if (m_phone.usePublicLink == usePublic) return;
    m_phone.usePublicLink = usePublic;
    notifyPhoneBridge();
}

void WorkstationController::writePhoneStateJson() {
    const QString folder = privateRuntimeFolder();
    if (folder.isEmpty()) return;
    // QSaveFile writes beside the target and renames over it: a reader sees the old
    // file or the new one, never a missing or half-written one.
    QSaveFile file(folder + QStringLiteral("/tmb_phone_state.json"));
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(phoneStateJsonBytes());
    file.commit();
}

void WorkstationController::handlePhoneBridgeLine(const QString&) {}
void WorkstationController::startPhoneBridgeServer() {}
void WorkstationController::connectUsbAndroidPhoneAdb() {}
void WorkstationController::startPublicPhoneLink() {}
void WorkstationController::setCustomPublicHost(const QString&) {}
void WorkstationController::copyPhoneBridgeUrl() {}
void WorkstationController::copyPublicPhoneUrl() {}

} // namespace tmb
