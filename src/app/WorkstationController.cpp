// Lifecycle of the controller: construction order, start-up, timers, the status
// banner, the view mode and the orderly shutdown.

#include "WorkstationController.h"

#include "audio/ToolRun.h"
#include "engines/SoundFontPaths.h"

#include <alsa/asoundlib.h>

#include <QMetaObject>
#include <QSignalBlocker>

#include <algorithm>

namespace tmb {

const char* const WorkstationController::soundServerUnmuteCommand =
    "if pactl list short sink-inputs 2>/dev/null | grep -q '4294967295'; then systemctl --user restart "
    "wireplumber; "
    "sleep 0.8; fi; pactl set-sink-mute @DEFAULT_SINK@ 0 2>/dev/null || true; pactl set-source-mute "
    "@DEFAULT_SOURCE@ 0 2>/dev/null || true; pactl set-source-volume @DEFAULT_SOURCE@ 75% 2>/dev/null || "
    "true; "
    "amixer -c 0 sset 'Master' unmute 2>/dev/null || true; amixer -c 0 sset 'Speaker' 100% unmute "
    "2>/dev/null || "
    "true; amixer -c 0 sset 'Headphone' 100% unmute 2>/dev/null || true";

WorkstationController::WorkstationController(QObject* parent)
    : QObject(parent)
    , m_sfzLoader(m_audioEngine.sfzPiano,
                  [this](const SfzInstrumentLoader::Result& result) {
                      // From the loader thread; dropped with the controller if it is gone.
                      QMetaObject::invokeMethod(
                          this, [this, result] { onSfzLoadFinished(result); }, Qt::QueuedConnection);
                  })
    , m_harmonizer([this](const MidiEvent& event, bool record) {
        // Every voice goes to the engine; the played ones also into a recording.
        m_audioEngine.submitMidiEvent(event);
        if (record && m_audioEngine.midiRecorder.isRecording())
            m_audioEngine.midiRecorder.recordMidiEvent(event);
    }) {
    initPerformancePath();
    initHymnAndStyleAcademy();

    // Signals from the MIDI manager. midiActivityReceived comes from the input
    // thread; the queued connection brings it here.
    connect(&m_midiManager, &MidiManager::devicesChanged, this, &WorkstationController::midiDevicesChanged);
    connect(
        &m_midiManager, &MidiManager::midiActivityReceived, this,
        [this](const QString&, int, int, int) { Q_EMIT midiActivityChanged(); }, Qt::QueuedConnection);
    connect(&m_midiManager, &MidiManager::midiLearnCompleted, this,
            [this](const QString& controlName, const QString& targetParameter) {
                setStatusBanner(
                    QStringLiteral("MIDI Learn Mapped: %1 -> %2").arg(controlName, targetParameter));
                Q_EMIT midiDevicesChanged();
            });

    // The realtime callback runs on the MIDI input thread.
    m_midiManager.setRtMidiCallback([this](const MidiEvent& event) { handleRealtimeMidiEvent(event); });
    m_midiManager.setControlMappedCallback([this](const QString& targetParameter, float value) {
        QMetaObject::invokeMethod(
            this, [this, targetParameter, value] { handleMappedControllerAction(targetParameter, value); },
            Qt::QueuedConnection);
    });

    initBroadcast();
    initPhoneBridge();

    // A progression's chords are named as the pads name them.
    m_band.setDegreeSink([this](int degree) { triggerProChordDegree(degree); });
    m_arrangerStepTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_arrangerStepTimer, &QTimer::timeout, this, &WorkstationController::onArrangerStepTick);
    connect(&m_uiRefreshTimer, &QTimer::timeout, this, &WorkstationController::onUiRefreshTick);
    connect(&m_autosaveTimer, &QTimer::timeout, this, &WorkstationController::onAutosaveTick);
    m_pitchPipeTimer.setSingleShot(true);
    connect(&m_pitchPipeTimer, &QTimer::timeout, this, &WorkstationController::onPitchPipeTimer);
}

WorkstationController::~WorkstationController() {
    // The shutdown's own changes are announced to nobody: listeners may be gone already.
    const QSignalBlocker quiet(this);
    stopLiveBroadcast();
    // Their ends are expected now, not failures to report.
    QObject::disconnect(&m_tunnelProcess, nullptr, this, nullptr);
    QObject::disconnect(&m_phoneBridgeProcess, nullptr, this, nullptr);
    stopToolsOf(this);
    stopProcess(m_tunnelProcess, 300, 150);
    stopProcess(m_phoneBridgeProcess, 400, 200);
    m_arrangerStepTimer.stop();
    m_uiRefreshTimer.stop();
    m_autosaveTimer.stop();
    m_midiManager.stop();
    // A sampled piano still loading is dropped; its thread ends before the engine stops.
    m_sfzLoader.shutdown();
    m_audioEngine.stop();
    // A take still joining is finished, never killed: its video is deleted only
    // once its MP4 is complete.
    for (VideoJoin* join : QList<VideoJoin*>(m_videoJoins))
        join->waitUntilFinished();
    // Members are destroyed in reverse order of construction.
}

void WorkstationController::stopProcess(QProcess& process, int terminateWaitMs, int killWaitMs) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(terminateWaitMs)) {
        process.kill();
        process.waitForFinished(killWaitMs);
    }
}

bool WorkstationController::initialize() {
    initDrumKits();
    initBundledAndSavedStyBeats();
    beatSequencer().selectStyle(0);
    // Loaded before audio starts: the host's buffers already hold the longest block.
    loadFirstDrumGizmo();

    const bool audioStarted = m_audioEngine.start(config::defaultSampleRate, config::defaultBufferFrames);
    reportAudioThreadPriority();
    Q_EMIT audioSettingsChanged();
    // wpctl and pactl may take a second on a busy machine: the first frame does not wait.
    m_audioEngine.listDevicesInBackground([this] { Q_EMIT audioSettingsChanged(); });

    QTimer::singleShot(600, this, &WorkstationController::runDeferredStart);

    // The start-up instruments: the General MIDI piano under the main slot's
    // SoundFont channel, the first drum kit, then the slot presets.
    m_audioEngine.fluidSynth.selectProgram(0, resolveSoundFontPath(QString::fromLatin1(gmSoundFontPath)), 0,
                                           0);
    if (!m_availableDrumKits.isEmpty()) selectDrumKitByIndex(0);
    if (const std::optional<InstrumentPreset> first = m_projectManager.firstPreset()) {
        m_mainPresetId = first->id;
        applyPresetToEngine(0, *first);
        notifyActivePresets();
    }
    // A missing start-up preset leaves its slot without an instrument.
    if (const auto layer = m_projectManager.presetWithId(QStringLiteral("synth_worship_pad"))) {
        applyPresetToEngine(1, *layer);
        notifyActivePresets();
    }
    if (const auto split = m_projectManager.presetWithId(QStringLiteral("gm_finger_bass"))) {
        applyPresetToEngine(2, *split);
        notifyActivePresets();
    }

    // The session starts on the manual damper.
    m_params.autoPedalEnabled = false;
    pushPianoParameters();

    m_midiManager.start();

    if (m_midiManager.isSamsonGraphite49Connected()) {
        setStatusBanner(QStringLiteral("Zero-Setup Ready • SAMSON Graphite 49 + %1 Instruments Loaded")
                            .arg(m_projectManager.presetCount()));
    } else {
        setStatusBanner(QStringLiteral("Zero-Setup Ready • %1 • %2")
                            .arg(m_midiManager.primaryControllerName(), activeAudioDevice()));
    }
    Q_EMIT lv2StateChanged();

    m_arrangerStepTimer.start(8);
    m_uiRefreshTimer.start(30);
    m_projectManager.keepPreviousSessionAutosave();
    m_autosaveTimer.start(30000);
    return audioStarted;
}

void WorkstationController::runDeferredStart() {
    QProcess::startDetached(QStringLiteral("/bin/sh"),
                            {QStringLiteral("-c"), QString::fromLatin1(soundServerUnmuteCommand)});
    startPhoneBridgeServer();
}

void WorkstationController::setCurrentMode(int mode) {
    mode = std::clamp(mode, 0, 9); // the ten views
    if (mode == m_currentMode) return;
    const bool hymnsViewChanges = (mode == hymnsViewMode) != (m_currentMode == hymnsViewMode);
    m_currentMode = mode;
    if (mode == 3) resetPerformanceModifiersToDefaults(true);
    // The HYMNS view engages the tutor: its guide keys light and it checks notes.
    m_hymnTutor.setEngagedByView(mode == hymnsViewMode);
    Q_EMIT currentModeChanged();
    if (hymnsViewChanges) notifyHymnStep();
}

void WorkstationController::setFullScreenPerformance(bool enabled) {
    if (enabled == m_fullScreenPerformance) return;
    m_fullScreenPerformance = enabled;
    Q_EMIT fullScreenPerformanceChanged();
}

void WorkstationController::setStatusBanner(const QString& text) {
    m_statusBanner = text;
    Q_EMIT statusBannerChanged();
}

// ---------------------------------------------------------------- timers

bool WorkstationController::isIdle() const {
    const AudioEngine& engine = m_audioEngine;
    return engine.activeVoiceCount() < 1 && !engine.beatSequencer.isPlaying() &&
           !engine.midiRecorder.isRecording() && !engine.midiRecorder.isPlaying() &&
           !engine.micEnabled.load() && engine.channelPeakL(MixerChannelId::Master) <= 0.001f &&
           engine.channelPeakR(MixerChannelId::Master) <= 0.001f;
}

void WorkstationController::onUiRefreshTick() {
    const int learnMode = m_hymnTutor.learnMode();
    if (m_hymnTutor.playing() &&
        (learnMode == HymnTutor::autoPlayDemo || learnMode == HymnTutor::playAlongBand))
        advanceHymnPlaybackTick();
    checkAudioBackendHealth();
    announceSequencerChanges();
    followStudioTake();
    tickBroadcast();
    tickPhoneState();
    using Pace = MeterThrottle::Pace;
    const Pace pace = m_audioEngine.beatSequencer.isPlaying() ? Pace::BeatPlaying
                      : isIdle()                              ? Pace::Idle
                                                              : Pace::Sounding;
    if (m_meterThrottle.tick(pace)) Q_EMIT metersUpdated();
}

void WorkstationController::checkAudioBackendHealth() {
    int errorCode = 0;
    if (!m_audioEngine.takeBackendFailure(&errorCode)) return;
    setStatusBanner(QStringLiteral("⚠ Audio output stopped: %1 • No audio output")
                        .arg(QString::fromLocal8Bit(snd_strerror(errorCode))));
    Q_EMIT audioSettingsChanged();
}

// ---------------------------------------------------------------- forwarders

void WorkstationController::playTestTone() {
    m_audioEngine.triggerTestTone();
    setStatusBanner(QStringLiteral("Playing Stereo Piano Chord Test Tone..."));
}

bool WorkstationController::applyAudioSettings(const QString& backend, const QString& deviceId,
                                               int sampleRate, int bufferFrames) {
    const bool started = m_audioEngine.restartWithSettings(
        backend, deviceId, static_cast<std::uint32_t>(std::max(sampleRate, 0)),
        static_cast<std::uint32_t>(std::max(bufferFrames, 0)));
    if (started) {
        setStatusBanner(QStringLiteral("Audio Active: %1 (%2 Hz, %3 frames, %4 ms)")
                            .arg(m_audioEngine.backendName)
                            .arg(m_audioEngine.sampleRate)
                            .arg(m_audioEngine.blockFrames)
                            .arg(QString::number(m_audioEngine.latencyMs(), 'f', 1)));
    } else {
        // Nothing plays: say so rather than claim a fallback.
        setStatusBanner(QStringLiteral("Audio restart failed • No audio output"));
    }
    reportAudioThreadPriority();
    Q_EMIT audioSettingsChanged();
    return started;
}

void WorkstationController::reportAudioThreadPriority() const {
    if (!m_audioEngine.running) return;
    qInfo("Audio thread: %s", m_audioEngine.audioThreadRealtime() ? "realtime" : "normal priority");
}

void WorkstationController::rescanMidiDevices() {
    m_midiManager.scanAndAutoConnect();
    Q_EMIT midiDevicesChanged();
}

bool WorkstationController::connectMidiPort(int clientId, int portId) {
    return m_midiManager.connectPort(clientId, portId);
}

bool WorkstationController::disconnectMidiPort(int clientId, int portId) {
    return m_midiManager.disconnectPort(clientId, portId);
}

void WorkstationController::ignoreMidiPort(int clientId, int portId, bool ignored) {
    m_midiManager.setPortIgnored(clientId, portId, ignored);
}

void WorkstationController::clearMidiActivityLog() {
    m_midiManager.clearActivityLog();
    Q_EMIT midiActivityChanged();
}

} // namespace tmb
