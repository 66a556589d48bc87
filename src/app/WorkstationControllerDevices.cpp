// The LV2 plug-in host's controls, the audio devices and the microphone.

#include "WorkstationController.h"

namespace tmb {

// ---------------------------------------------------------------- devices and microphone

bool WorkstationController::selectAudioInputDevice(const QString& inputDeviceId) {
    const bool ok = m_audioEngine.setAudioInputDevice(inputDeviceId);
    if (m_audioEngine.inputDeviceId == QLatin1String("phone_wireless_mic")) {
        startPhoneBridgeServer();
        m_phoneDrawerOpen = true;
        notifyPhoneBridge();
    }
    setStatusBanner(
        QStringLiteral("🎙 MICROPHONE DEVICE SELECTED: %1").arg(m_audioEngine.inputDeviceLabel));
    Q_EMIT audioSettingsChanged();
    notifyMicState();
    return ok;
}

void WorkstationController::rescanAudioInputDevices() {
    m_audioEngine.enumerateAudioInputs();
    Q_EMIT audioSettingsChanged();
    setStatusBanner(QStringLiteral("Rescanned Microphone, USB & Phone Audio Input Devices"));
}

void WorkstationController::setMicEnabled(bool on) {
    if (m_audioEngine.micEnabled.load() == on) return;
    m_audioEngine.setMicEnabled(on);
    setStatusBanner(
        on ? QStringLiteral("MICROPHONE ACTIVE (%1) • Anti-Feedback Mode: Listening & Recording to "
                            ".MP4/.WAV (No Speaker Howl)")
                 .arg(m_audioEngine.inputDeviceLabel)
           : QStringLiteral("MICROPHONE MUTED"));
    notifyMicState();
    // Switching on may unmute the Mic channel and raise its level.
    notifyArrangerState();
}

void WorkstationController::setMicMonitorEnabled(bool on) {
    if (m_audioEngine.micMonitorEnabled.load() == on) return;
    m_audioEngine.micMonitorEnabled.store(on);
    notifyMicState();
}

void WorkstationController::setPhoneDrawerOpen(bool open) {
    if (m_phoneDrawerOpen == open) return;
    m_phoneDrawerOpen = open;
    notifyPhoneBridge();
}

// ---------------------------------------------------------------- LV2 host

void WorkstationController::loadFirstDrumGizmo() {
    for (const Lv2PluginInfo& plugin : m_audioEngine.lv2Host.scanPlugins()) {
        if (!plugin.isDrumGizmo) continue;
        m_audioEngine.lv2Host.loadPlugin(plugin.uri);
        return;
    }
}

void WorkstationController::showLv2Result(bool ok, const QString& error) {
    setStatusBanner(ok ? m_audioEngine.lv2Host.statusMessage() : error);
    notifyLv2State();
}

bool WorkstationController::loadLv2Plugin(const QString& uri) {
    QString error;
    const bool ok = m_audioEngine.lv2Host.loadPlugin(uri, &error);
    showLv2Result(ok, error);
    return ok;
}

void WorkstationController::unloadLv2Plugin() {
    m_audioEngine.lv2Host.unloadPlugin();
    setStatusBanner(QStringLiteral("Unloaded LV2 Plugin"));
    notifyLv2State();
}

void WorkstationController::rescanLv2Plugins() {
    m_audioEngine.lv2Host.scanPlugins();
    notifyLv2State();
}

void WorkstationController::setLv2Bypassed(bool bypassed) {
    m_audioEngine.lv2Host.setBypassed(bypassed);
    notifyLv2State();
}

bool WorkstationController::configureDrumGizmo(const QString& drumkitXml, const QString& midimapXml) {
    QString error;
    const bool ok = m_audioEngine.lv2Host.configureDrumGizmoKit(localPathFromUrl(drumkitXml),
                                                                localPathFromUrl(midimapXml), &error);
    showLv2Result(ok, error);
    return ok;
}

} // namespace tmb
