#pragma once

// The one object the scene sees (context name "workstation"). It builds the
// engines and subsystems in order, wires them together and forwards the scene's
// reads, writes and calls; behaviour lives in the subsystem classes.
//
// Threads: everything here runs on the GUI thread, except the realtime MIDI
// callback and the control-mapped callback, which run on the MIDI input thread and
// only touch the audio engine's queue or post closures back to the GUI thread.

#include "app/MeterThrottle.h"
#include "audio/AudioEngine.h"
#include "midi/MidiManager.h"
#include "storage/ProjectManager.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QQuickWindow>
#include <QString>
#include <QTimer>
#include <QVariantList>

namespace tmb {

class WorkstationController : public QObject {
    Q_OBJECT

    // ---- view and status
    Q_PROPERTY(int currentMode READ currentMode WRITE setCurrentMode NOTIFY currentModeChanged)
    Q_PROPERTY(bool fullScreenPerformance READ fullScreenPerformance WRITE setFullScreenPerformance NOTIFY
                   fullScreenPerformanceChanged)
    Q_PROPERTY(QString statusBanner READ statusBanner NOTIFY statusBannerChanged)

    // ---- meters
    Q_PROPERTY(int activeVoiceCount READ activeVoiceCount NOTIFY metersUpdated)
    Q_PROPERTY(float audioCpuLoad READ audioCpuLoad NOTIFY metersUpdated)
    Q_PROPERTY(bool masterClipped READ masterClipped NOTIFY metersUpdated)

    // ---- audio settings
    Q_PROPERTY(QString activeAudioBackend READ activeAudioBackend NOTIFY audioSettingsChanged)
    Q_PROPERTY(QString activeAudioDevice READ activeAudioDevice NOTIFY audioSettingsChanged)
    Q_PROPERTY(int audioSampleRate READ audioSampleRate NOTIFY audioSettingsChanged)
    Q_PROPERTY(int audioBufferFrames READ audioBufferFrames NOTIFY audioSettingsChanged)
    Q_PROPERTY(float audioLatencyMs READ audioLatencyMs NOTIFY audioSettingsChanged)

    // ---- MIDI devices and activity
    Q_PROPERTY(QVariantList midiPorts READ midiPorts NOTIFY midiDevicesChanged)
    Q_PROPERTY(bool samsonGraphiteConnected READ samsonGraphiteConnected NOTIFY midiDevicesChanged)
    Q_PROPERTY(QString primaryControllerName READ primaryControllerName NOTIFY midiDevicesChanged)
    Q_PROPERTY(QVariantList midiActivityLog READ midiActivityLog NOTIFY midiActivityChanged)

public:
    explicit WorkstationController(QObject* parent = nullptr);
    ~WorkstationController() override;

    // Starts data, audio and MIDI; returns the audio engine's start result.
    bool initialize();
    void setQuickWindow(QQuickWindow* window) { m_quickWindow = window; }

    int currentMode() const { return m_currentMode; }
    void setCurrentMode(int mode);
    bool fullScreenPerformance() const { return m_fullScreenPerformance; }
    void setFullScreenPerformance(bool enabled);
    QString statusBanner() const { return m_statusBanner; }

    int activeVoiceCount() const { return m_audioEngine.activeVoiceCount(); }
    float audioCpuLoad() const { return m_audioEngine.cpuLoadPercent.load(); }
    bool masterClipped() const { return m_audioEngine.isMasterClipped(); }

    QString activeAudioBackend() const { return m_audioEngine.backendName; }
    QString activeAudioDevice() const { return m_audioEngine.outputDeviceLabel; }
    int audioSampleRate() const { return static_cast<int>(m_audioEngine.sampleRate); }
    int audioBufferFrames() const { return static_cast<int>(m_audioEngine.blockFrames); }
    float audioLatencyMs() const { return m_audioEngine.latencyMs(); }

    QVariantList midiPorts() const { return m_midiManager.portsAsVariantList(); }
    bool samsonGraphiteConnected() const { return m_midiManager.isSamsonGraphite49Connected(); }
    QString primaryControllerName() const { return m_midiManager.primaryControllerName(); }
    QVariantList midiActivityLog() const { return m_midiManager.activityLogAsVariantList(); }

    Q_INVOKABLE void playTestTone();
    Q_INVOKABLE void rescanMidiDevices();
    Q_INVOKABLE bool connectMidiPort(int clientId, int portId);
    Q_INVOKABLE bool disconnectMidiPort(int clientId, int portId);
    Q_INVOKABLE void ignoreMidiPort(int clientId, int portId, bool ignored);
    Q_INVOKABLE void clearMidiActivityLog();

    // Subsystems that arrive later keep these entry points.
    void resetPerformanceModifiersToDefaults(bool announce);
    void handleMappedControllerAction(const QString& targetParameter, float value);
    Q_INVOKABLE void startPhoneBridgeServer();
    Q_INVOKABLE void stopLiveBroadcast();

    // Reached by tests and tools.
    AudioEngine& audioEngine() { return m_audioEngine; }
    MidiManager& midiManager() { return m_midiManager; }
    ProjectManager& projectManager() { return m_projectManager; }

    // The shell line run 600 ms after start-up to unmute the sound server.
    static const char* const soundServerUnmuteCommand;

Q_SIGNALS:
    void currentModeChanged();
    void fullScreenPerformanceChanged();
    void statusBannerChanged();
    void metersUpdated();
    void audioSettingsChanged();
    void midiDevicesChanged();
    void midiActivityChanged();
    void lv2StateChanged();

private:
    void setStatusBanner(const QString& text);
    void onArrangerStepTick();
    void onUiRefreshTick();
    void onAutosaveTick();
    void runDeferredStart();
    void checkAudioBackendHealth();
    bool isIdle() const;
    static void stopProcess(QProcess& process, int terminateWaitMs, int killWaitMs);

    // Collaborators, constructed in this order and destroyed in reverse.
    AudioEngine m_audioEngine;
    MidiManager m_midiManager;
    ProjectManager m_projectManager;
    QTimer m_uiRefreshTimer;
    QTimer m_arrangerStepTimer;
    QTimer m_autosaveTimer;

    // View and status.
    int m_currentMode = 0;
    bool m_fullScreenPerformance = false;
    QString m_statusBanner = QStringLiteral("Ready");
    MeterThrottle m_meterThrottle;
    int m_lastArrangerStep = -1;
    QPointer<QQuickWindow> m_quickWindow;

    // Capture, broadcast and phone processes.
    QTimer m_frameCaptureTimer;
    QProcess m_localVideoProcess;
    QProcess m_broadcastProcess;
    QProcess m_cameraPowerProcess;
    QProcess m_phoneBridgeProcess;
    QProcess m_tunnelProcess;
};

} // namespace tmb
