// The LV2 plug-in host's controls, the audio devices and the microphone.

#include "WorkstationController.h"

namespace tmb {

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
