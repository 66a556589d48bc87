#pragma once

// The one object the scene sees (context name "workstation"). It builds the
// engines and subsystems in order, wires them together and forwards the scene's
// reads, writes and calls; behaviour lives in the subsystem classes.
//
// Threads: everything here runs on the GUI thread, except the realtime MIDI
// callback and the control-mapped callback, which run on the MIDI input thread and
// only touch the audio engine's queue and the harmonizer, or post closures back to
// the GUI thread.

#include "app/Harmonizer.h"
#include "app/MeterThrottle.h"
#include "app/SfzInstrumentLoader.h"
#include "app/StyleBandState.h"
#include "audio/AudioEngine.h"
#include "broadcast/BroadcastAudioPipe.h"
#include "broadcast/BroadcastSettings.h"
#include "broadcast/VideoJoin.h"
#include "hymns/ChurchDenominations.h"
#include "hymns/HymnCatalog.h"
#include "hymns/HymnTutor.h"
#include "midi/MidiManager.h"
#include "phone/PhoneBridgeLines.h"
#include "phone/PhoneBridgeState.h"
#include "phone/PhoneLinks.h"
#include "phone/PhoneMicResampler.h"
#include "phone/PhonePeers.h"
#include "rhythm/StyleLibrary.h"
#include "storage/BackgroundProjectWriter.h"
#include "storage/ProjectManager.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QQuickWindow>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

namespace tmb {

class WorkstationController : public QObject {
    Q_OBJECT

    // ---- view and status
    Q_PROPERTY(int currentMode READ currentMode WRITE setCurrentMode NOTIFY currentModeChanged)
    Q_PROPERTY(bool fullScreenPerformance READ fullScreenPerformance WRITE setFullScreenPerformance NOTIFY
                   fullScreenPerformanceChanged)
    Q_PROPERTY(QString statusBanner READ statusBanner NOTIFY statusBannerChanged)

    // ---- presets, slots and drum kits
    Q_PROPERTY(bool loadingInstrument READ loadingInstrument NOTIFY loadingInstrumentChanged)
    Q_PROPERTY(QString mainPresetId READ mainPresetId NOTIFY activePresetsChanged)
    Q_PROPERTY(QString mainPresetName READ mainPresetName NOTIFY activePresetsChanged)
    Q_PROPERTY(QString mainPresetCategory READ mainPresetCategory NOTIFY activePresetsChanged)
    Q_PROPERTY(QString mainPresetEngineLabel READ mainPresetEngineLabel NOTIFY activePresetsChanged)
    Q_PROPERTY(QString layer2PresetId READ layer2PresetId NOTIFY activePresetsChanged)
    Q_PROPERTY(QString layer2PresetName READ layer2PresetName NOTIFY activePresetsChanged)
    Q_PROPERTY(QString splitPresetId READ splitPresetId NOTIFY activePresetsChanged)
    Q_PROPERTY(QString splitPresetName READ splitPresetName NOTIFY activePresetsChanged)
    Q_PROPERTY(QString currentDrumKitName READ currentDrumKitName NOTIFY drumKitChanged)
    Q_PROPERTY(QVariantList availableDrumKits READ availableDrumKits CONSTANT)

    // ---- meters
    Q_PROPERTY(int activeVoiceCount READ activeVoiceCount NOTIFY metersUpdated)
    Q_PROPERTY(int currentBeatStep READ currentBeatStep NOTIFY metersUpdated)
    Q_PROPERTY(float audioCpuLoad READ audioCpuLoad NOTIFY metersUpdated)
    Q_PROPERTY(bool masterClipped READ masterClipped NOTIFY metersUpdated)
    Q_PROPERTY(float micLevel READ micLevel NOTIFY metersUpdated)

    // ---- mixer channels and the style band
    Q_PROPERTY(float pianoVolume READ pianoVolume WRITE setPianoVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool pianoMuted READ pianoMuted WRITE setPianoMuted NOTIFY arrangerStateChanged)
    Q_PROPERTY(float layer2Volume READ layer2Volume WRITE setLayer2Volume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool layer2Muted READ layer2Muted WRITE setLayer2Muted NOTIFY arrangerStateChanged)
    Q_PROPERTY(
        float splitBassVolume READ splitBassVolume WRITE setSplitBassVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool splitBassMuted READ splitBassMuted WRITE setSplitBassMuted NOTIFY arrangerStateChanged)
    Q_PROPERTY(float beatsVolume READ beatsVolume WRITE setBeatsVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool beatsMuted READ beatsMuted WRITE setBeatsMuted NOTIFY arrangerStateChanged)
    Q_PROPERTY(float micVolume READ micVolume WRITE setMicVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool micMuted READ micMuted WRITE setMicMuted NOTIFY arrangerStateChanged)
    Q_PROPERTY(float masterVolume READ masterVolume WRITE setMasterVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(float styleVolume READ styleVolume WRITE setStyleVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(bool styleMuted READ styleMuted WRITE setStyleMuted NOTIFY arrangerStateChanged)
    Q_PROPERTY(
        float styleBassVolume READ styleBassVolume WRITE setStyleBassVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(
        float styleChordVolume READ styleChordVolume WRITE setStyleChordVolume NOTIFY arrangerStateChanged)
    Q_PROPERTY(
        float styleLeadVolume READ styleLeadVolume WRITE setStyleLeadVolume NOTIFY arrangerStateChanged)

    // ---- audio settings
    Q_PROPERTY(QString activeAudioBackend READ activeAudioBackend NOTIFY audioSettingsChanged)
    Q_PROPERTY(QString activeAudioDevice READ activeAudioDevice NOTIFY audioSettingsChanged)
    Q_PROPERTY(int audioSampleRate READ audioSampleRate NOTIFY audioSettingsChanged)
    Q_PROPERTY(int audioBufferFrames READ audioBufferFrames NOTIFY audioSettingsChanged)
    Q_PROPERTY(float audioLatencyMs READ audioLatencyMs NOTIFY audioSettingsChanged)
    Q_PROPERTY(bool audioThreadRealtime READ audioThreadRealtime NOTIFY audioSettingsChanged)
    Q_PROPERTY(bool bluetoothAudioWarning READ bluetoothAudioWarning NOTIFY audioSettingsChanged)
    Q_PROPERTY(QVariantList audioOutputs READ audioOutputs NOTIFY audioSettingsChanged)
    Q_PROPERTY(QVariantList audioInputs READ audioInputs NOTIFY audioSettingsChanged)
    Q_PROPERTY(QString activeInputDeviceId READ activeInputDeviceId NOTIFY audioSettingsChanged)
    Q_PROPERTY(QString activeInputDeviceName READ activeInputDeviceName NOTIFY audioSettingsChanged)

    // ---- microphone and the phone drawer
    Q_PROPERTY(bool micEnabled READ micEnabled WRITE setMicEnabled NOTIFY micStateChanged)
    Q_PROPERTY(
        bool micMonitorEnabled READ micMonitorEnabled WRITE setMicMonitorEnabled NOTIFY micStateChanged)
    Q_PROPERTY(bool phoneDrawerOpen READ phoneDrawerOpen WRITE setPhoneDrawerOpen NOTIFY phoneBridgeChanged)

    // ---- phone companion
    Q_PROPERTY(bool phoneBridgeRunning READ phoneBridgeRunning NOTIFY phoneBridgeChanged)
    Q_PROPERTY(bool phoneConnected READ phoneConnected NOTIFY phoneBridgeChanged)
    Q_PROPERTY(bool phoneMicActive READ phoneMicActive NOTIFY phoneBridgeChanged)
    Q_PROPERTY(bool phoneCamActive READ phoneCamActive NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneBridgeUrl READ phoneBridgeUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneUsbUrl READ phoneUsbUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phonePublicIpUrl READ phonePublicIpUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneRemoteTunnelUrl READ phoneRemoteTunnelUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(
        bool phoneUsePublicLink READ phoneUsePublicLink WRITE setPhoneUsePublicLink NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneQrCodeUrl READ phoneQrCodeUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneCameraFrameUrl READ phoneCameraFrameUrl NOTIFY phoneBridgeChanged)
    Q_PROPERTY(QString phoneStatusText READ phoneStatusText NOTIFY phoneBridgeChanged)

    // ---- LV2 host
    Q_PROPERTY(QVariantList lv2Plugins READ lv2Plugins NOTIFY lv2StateChanged)
    Q_PROPERTY(bool lv2Loaded READ lv2Loaded NOTIFY lv2StateChanged)
    Q_PROPERTY(bool lv2Bypassed READ lv2Bypassed WRITE setLv2Bypassed NOTIFY lv2StateChanged)
    Q_PROPERTY(QString activeLv2Name READ activeLv2Name NOTIFY lv2StateChanged)
    Q_PROPERTY(QString lv2StatusMessage READ lv2StatusMessage NOTIFY lv2StateChanged)

    // ---- MIDI devices and activity
    Q_PROPERTY(QVariantList midiPorts READ midiPorts NOTIFY midiDevicesChanged)
    Q_PROPERTY(bool samsonGraphiteConnected READ samsonGraphiteConnected NOTIFY midiDevicesChanged)
    Q_PROPERTY(QString primaryControllerName READ primaryControllerName NOTIFY midiDevicesChanged)
    Q_PROPERTY(QVariantList midiActivityLog READ midiActivityLog NOTIFY midiActivityChanged)
    Q_PROPERTY(QVariantList controllerMappings READ controllerMappings NOTIFY midiDevicesChanged)
    Q_PROPERTY(bool midiLearnActive READ midiLearnActive NOTIFY midiDevicesChanged)
    Q_PROPERTY(QString midiLearnTarget READ midiLearnTarget NOTIFY midiDevicesChanged)

    // ---- sound, transpose, touch and A/B comparison
    Q_PROPERTY(float brightness READ brightness WRITE setBrightness NOTIFY pianoParamsChanged)
    Q_PROPERTY(float damperResonance READ damperResonance WRITE setDamperResonance NOTIFY pianoParamsChanged)
    Q_PROPERTY(float stringResonance READ stringResonance WRITE setStringResonance NOTIFY pianoParamsChanged)
    Q_PROPERTY(float keyOffVolume READ keyOffVolume WRITE setKeyOffVolume NOTIFY pianoParamsChanged)
    Q_PROPERTY(
        float pedalNoiseVolume READ pedalNoiseVolume WRITE setPedalNoiseVolume NOTIFY pianoParamsChanged)
    Q_PROPERTY(float lidPosition READ lidPosition WRITE setLidPosition NOTIFY pianoParamsChanged)
    Q_PROPERTY(float reverbAmount READ reverbAmount WRITE setReverbAmount NOTIFY pianoParamsChanged)
    Q_PROPERTY(float reverbRoomSize READ reverbRoomSize WRITE setReverbRoomSize NOTIFY pianoParamsChanged)
    Q_PROPERTY(float chorusAmount READ chorusAmount WRITE setChorusAmount NOTIFY pianoParamsChanged)
    Q_PROPERTY(float delayAmount READ delayAmount WRITE setDelayAmount NOTIFY pianoParamsChanged)
    Q_PROPERTY(float driveAmount READ driveAmount WRITE setDriveAmount NOTIFY pianoParamsChanged)
    Q_PROPERTY(
        float compressorAmount READ compressorAmount WRITE setCompressorAmount NOTIFY pianoParamsChanged)
    Q_PROPERTY(float stereoWidth READ stereoWidth WRITE setStereoWidth NOTIFY pianoParamsChanged)
    Q_PROPERTY(float tuningHz READ tuningHz WRITE setTuningHz NOTIFY pianoParamsChanged)
    Q_PROPERTY(
        int transposeSemitones READ transposeSemitones WRITE setTransposeSemitones NOTIFY pianoParamsChanged)
    Q_PROPERTY(int octaveShift READ octaveShift WRITE setOctaveShift NOTIFY pianoParamsChanged)
    Q_PROPERTY(int touchCurve READ touchCurve WRITE setTouchCurve NOTIFY pianoParamsChanged)
    Q_PROPERTY(bool abSlotBActive READ abSlotBActive NOTIFY pianoParamsChanged)

    // ---- pedals and pads
    Q_PROPERTY(bool sustainPedal READ sustainPedal WRITE setSustainPedal NOTIFY pedalStateChanged)
    Q_PROPERTY(bool sostenutoPedal READ sostenutoPedal WRITE setSostenutoPedal NOTIFY pedalStateChanged)
    Q_PROPERTY(bool softPedal READ softPedal WRITE setSoftPedal NOTIFY pedalStateChanged)
    Q_PROPERTY(float continuousPedal READ continuousPedal WRITE setContinuousPedal NOTIFY pedalStateChanged)
    Q_PROPERTY(float expressionPedal READ expressionPedal WRITE setExpressionPedal NOTIFY pedalStateChanged)
    Q_PROPERTY(bool autoPedalEnabled READ autoPedalEnabled WRITE setAutoPedalEnabled NOTIFY pedalStateChanged)
    Q_PROPERTY(bool invertPedalPolarity READ invertPedalPolarity WRITE setInvertPedalPolarity NOTIFY
                   pedalStateChanged)
    Q_PROPERTY(bool sustainLatched READ sustainLatched WRITE setSustainLatched NOTIFY pedalStateChanged)
    Q_PROPERTY(int activePadIndex READ activePadIndex NOTIFY pedalStateChanged)

    // ---- keyboard and wheels
    Q_PROPERTY(int lastNotePlayed READ lastNotePlayed NOTIFY keyboardStateChanged)
    Q_PROPERTY(int lastVelocityPlayed READ lastVelocityPlayed NOTIFY keyboardStateChanged)
    Q_PROPERTY(float pitchBendValue READ pitchBendValue WRITE setPitchBendValue NOTIFY wheelsChanged)
    Q_PROPERTY(float modWheelValue READ modWheelValue WRITE setModWheelValue NOTIFY wheelsChanged)
    Q_PROPERTY(QString lastMidiControlText READ lastMidiControlText NOTIFY midiActivityChanged)

    // ---- zones, arpeggiator and chord memory
    Q_PROPERTY(bool layer2Enabled READ layer2Enabled WRITE setLayer2Enabled NOTIFY workstationChanged)
    Q_PROPERTY(bool splitEnabled READ splitEnabled WRITE setSplitEnabled NOTIFY workstationChanged)
    Q_PROPERTY(int splitKey READ splitKey WRITE setSplitKey NOTIFY workstationChanged)
    Q_PROPERTY(bool velocitySwitchEnabled READ velocitySwitchEnabled WRITE setVelocitySwitchEnabled NOTIFY
                   workstationChanged)
    Q_PROPERTY(
        int velocityThreshold READ velocityThreshold WRITE setVelocityThreshold NOTIFY workstationChanged)
    Q_PROPERTY(
        bool arpeggiatorEnabled READ arpeggiatorEnabled WRITE setArpeggiatorEnabled NOTIFY workstationChanged)
    Q_PROPERTY(int arpMode READ arpMode WRITE setArpMode NOTIFY workstationChanged)
    Q_PROPERTY(int arpOctaves READ arpOctaves WRITE setArpOctaves NOTIFY workstationChanged)
    Q_PROPERTY(
        bool chordMemoryEnabled READ chordMemoryEnabled WRITE setChordMemoryEnabled NOTIFY workstationChanged)
    Q_PROPERTY(
        int layer2OctaveOffset READ layer2OctaveOffset WRITE setLayer2OctaveOffset NOTIFY workstationChanged)
    Q_PROPERTY(
        int splitOctaveOffset READ splitOctaveOffset WRITE setSplitOctaveOffset NOTIFY workstationChanged)

    // ---- registrations
    Q_PROPERTY(QVariantList registrations READ registrations NOTIFY registrationsChanged)
    Q_PROPERTY(int activeRegistrationSlot READ activeRegistrationSlot NOTIFY registrationsChanged)

    // ---- beat sequencer and styles
    Q_PROPERTY(bool beatPlaying READ beatPlaying WRITE setBeatPlaying NOTIFY beatStateChanged)
    Q_PROPERTY(float bpm READ bpm WRITE setBpm NOTIFY beatStateChanged)
    Q_PROPERTY(float swing READ swing WRITE setSwing NOTIFY beatStateChanged)
    Q_PROPERTY(float humanize READ humanize WRITE setHumanize NOTIFY beatStateChanged)
    Q_PROPERTY(bool metronomeEnabled READ metronomeEnabled WRITE setMetronomeEnabled NOTIFY beatStateChanged)
    Q_PROPERTY(int beatSection READ beatSection WRITE setBeatSection NOTIFY beatStateChanged)
    Q_PROPERTY(int currentBeatStyleIndex READ currentBeatStyleIndex WRITE setCurrentBeatStyleIndex NOTIFY
                   beatStateChanged)
    Q_PROPERTY(int userStyCount READ userStyCount NOTIFY beatStateChanged)
    // Announced with the style library's changes: imported styles come and go.
    Q_PROPERTY(QVariantList beatStyles READ beatStyles NOTIFY beatStateChanged)
    Q_PROPERTY(QVariantList beatStepGrid READ beatStepGrid NOTIFY beatGridChanged)
    Q_PROPERTY(QString styStatusText READ styStatusText NOTIFY beatStateChanged)
    Q_PROPERTY(QString detectedFlashDiskPath READ detectedFlashDiskPath NOTIFY beatStateChanged)

    // ---- chords
    Q_PROPERTY(QString currentChordName READ currentChordName NOTIFY keyboardStateChanged)
    Q_PROPERTY(
        bool smartChordEnabled READ smartChordEnabled WRITE setSmartChordEnabled NOTIFY arrangerStateChanged)
    Q_PROPERTY(int arrangerChordDegree READ arrangerChordDegree WRITE setArrangerChordDegree NOTIFY
                   arrangerStateChanged)
    Q_PROPERTY(QString arrangerActiveChordText READ arrangerActiveChordText NOTIFY arrangerStateChanged)

    // ---- arranger
    Q_PROPERTY(bool proArrangerEnabled READ proArrangerEnabled WRITE setProArrangerEnabled NOTIFY
                   arrangerStateChanged)
    Q_PROPERTY(
        int arrangerPlayMode READ arrangerPlayMode WRITE setArrangerPlayMode NOTIFY arrangerStateChanged)
    Q_PROPERTY(
        bool arrangerAutoFill READ arrangerAutoFill WRITE setArrangerAutoFill NOTIFY arrangerStateChanged)
    Q_PROPERTY(int arrangerProgressionIndex READ arrangerProgressionIndex WRITE setArrangerProgressionIndex
                   NOTIFY arrangerStateChanged)
    Q_PROPERTY(QString arrangerStyleName READ arrangerStyleName NOTIFY arrangerStateChanged)
    Q_PROPERTY(QString arrangerGenreFamily READ arrangerGenreFamily NOTIFY arrangerStateChanged)

    // ---- harmonizer
    Q_PROPERTY(bool autoTuneEnabled READ autoTuneEnabled WRITE setAutoTuneEnabled NOTIFY autoTuneStateChanged)
    Q_PROPERTY(int autoTuneMode READ autoTuneMode WRITE setAutoTuneMode NOTIFY autoTuneStateChanged)
    Q_PROPERTY(QString autoTuneModeName READ autoTuneModeName NOTIFY autoTuneStateChanged)
    Q_PROPERTY(QString autoTuneStatusText READ autoTuneStatusText NOTIFY autoTuneStateChanged)
    Q_PROPERTY(int autoTuneCorrectedCount READ autoTuneCorrectedCount NOTIFY autoTuneStateChanged)

    // ---- studio recorder and piano roll
    Q_PROPERTY(double studioPlayheadBeats READ studioPlayheadBeats NOTIFY metersUpdated)
    Q_PROPERTY(bool studioRecording READ studioRecording NOTIFY studioStateChanged)
    Q_PROPERTY(bool studioPlaying READ studioPlaying NOTIFY studioStateChanged)
    Q_PROPERTY(
        bool studioLoopEnabled READ studioLoopEnabled WRITE setStudioLoopEnabled NOTIFY studioStateChanged)
    Q_PROPERTY(QVariantList audioWaveform READ audioWaveform NOTIFY studioStateChanged)
    Q_PROPERTY(QString lastRecordedWavPath READ lastRecordedWavPath NOTIFY studioStateChanged)
    Q_PROPERTY(QVariantList recordedNotes READ recordedNotes NOTIFY recordedNotesChanged)
    Q_PROPERTY(int recordedNoteCount READ recordedNoteCount NOTIFY recordedNotesChanged)
    Q_PROPERTY(bool canUndoMidi READ canUndoMidi NOTIFY recordedNotesChanged)
    Q_PROPERTY(bool canRedoMidi READ canRedoMidi NOTIFY recordedNotesChanged)

    // ---- hymn academy
    Q_PROPERTY(QVariantList hymnCatalog READ hymnCatalog CONSTANT)
    Q_PROPERTY(QVariantList churchDenominations READ churchDenominations CONSTANT)
    Q_PROPERTY(int currentHymnIndex READ currentHymnIndex WRITE setCurrentHymnIndex NOTIFY hymnStateChanged)
    Q_PROPERTY(QString currentHymnTitle READ currentHymnTitle NOTIFY hymnStateChanged)
    Q_PROPERTY(QString currentHymnCategory READ currentHymnCategory NOTIFY hymnStateChanged)
    Q_PROPERTY(QString currentHymnProgression READ currentHymnProgression NOTIFY hymnStateChanged)
    Q_PROPERTY(QString currentHymnTip READ currentHymnTip NOTIFY hymnStateChanged)
    Q_PROPERTY(int hymnLearnMode READ hymnLearnMode WRITE setHymnLearnMode NOTIFY hymnStateChanged)
    Q_PROPERTY(bool hymnPlaying READ hymnPlaying WRITE setHymnPlaying NOTIFY hymnStateChanged)
    Q_PROPERTY(bool hymnAutoHarmony READ hymnAutoHarmony WRITE setHymnAutoHarmony NOTIFY hymnStateChanged)
    Q_PROPERTY(int totalHymnSteps READ totalHymnSteps NOTIFY hymnStateChanged)
    Q_PROPERTY(QVariantList currentHymnSteps READ currentHymnSteps NOTIFY hymnStateChanged)
    Q_PROPERTY(QString currentHymnFullLyrics READ currentHymnFullLyrics NOTIFY hymnStateChanged)
    Q_PROPERTY(int selectedChurchIndex READ selectedChurchIndex WRITE selectChurchDenomination NOTIFY
                   hymnStateChanged)
    Q_PROPERTY(QString selectedChurchName READ selectedChurchName NOTIFY hymnStateChanged)
    Q_PROPERTY(QString selectedChurchPresetSummary READ selectedChurchPresetSummary NOTIFY hymnStateChanged)
    Q_PROPERTY(int currentHymnStepIndex READ currentHymnStepIndex NOTIFY hymnStepChanged)
    Q_PROPERTY(double hymnPlayheadBeats READ hymnPlayheadBeats NOTIFY hymnStepChanged)
    Q_PROPERTY(QString currentHymnLyric READ currentHymnLyric NOTIFY hymnStepChanged)
    Q_PROPERTY(QString currentHymnSolfa READ currentHymnSolfa NOTIFY hymnStepChanged)
    Q_PROPERTY(QString currentHymnTargetNoteName READ currentHymnTargetNoteName NOTIFY hymnStepChanged)
    Q_PROPERTY(QString currentHymnTargetChord READ currentHymnTargetChord NOTIFY hymnStepChanged)
    Q_PROPERTY(QString currentHymnFingerHint READ currentHymnFingerHint NOTIFY hymnStepChanged)
    Q_PROPERTY(int hymnScoreHits READ hymnScoreHits NOTIFY hymnStepChanged)
    Q_PROPERTY(int hymnStreak READ hymnStreak NOTIFY hymnStepChanged)

    // ---- broadcast, camera and watermark
    Q_PROPERTY(bool broadcastDrawerOpen READ broadcastDrawerOpen WRITE setBroadcastDrawerOpen NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(bool broadcastActive READ broadcastActive NOTIFY broadcastStateChanged)
    Q_PROPERTY(QString broadcastStatusText READ broadcastStatusText NOTIFY broadcastStateChanged)
    Q_PROPERTY(QString broadcastElapsedText READ broadcastElapsedText NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool streamYoutubeEnabled READ streamYoutubeEnabled WRITE setStreamYoutubeEnabled NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(
        QString streamYoutubeKey READ streamYoutubeKey WRITE setStreamYoutubeKey NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool streamFacebookEnabled READ streamFacebookEnabled WRITE setStreamFacebookEnabled NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(QString streamFacebookKey READ streamFacebookKey WRITE setStreamFacebookKey NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(bool streamTiktokEnabled READ streamTiktokEnabled WRITE setStreamTiktokEnabled NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(
        QString streamTiktokUrl READ streamTiktokUrl WRITE setStreamTiktokUrl NOTIFY broadcastStateChanged)
    Q_PROPERTY(
        QString streamTiktokKey READ streamTiktokKey WRITE setStreamTiktokKey NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool recordBroadcastMp4 READ recordBroadcastMp4 WRITE setRecordBroadcastMp4 NOTIFY
                   broadcastStateChanged)
    Q_PROPERTY(QString lastRecordedMp4Path READ lastRecordedMp4Path NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool cameraEnabled READ cameraEnabled WRITE setCameraEnabled NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool hardwareCameraAvailable READ hardwareCameraAvailable NOTIFY broadcastStateChanged)
    Q_PROPERTY(QString cameraStatusMessage READ cameraStatusMessage NOTIFY broadcastStateChanged)
    Q_PROPERTY(int cameraCorner READ cameraCorner WRITE setCameraCorner NOTIFY broadcastStateChanged)
    Q_PROPERTY(bool cameraMirror READ cameraMirror WRITE setCameraMirror NOTIFY broadcastStateChanged)
    Q_PROPERTY(
        bool watermarkEnabled READ watermarkEnabled WRITE setWatermarkEnabled NOTIFY broadcastStateChanged)
    Q_PROPERTY(QString watermarkText READ watermarkText WRITE setWatermarkText NOTIFY broadcastStateChanged)
    Q_PROPERTY(
        QString watermarkSubtext READ watermarkSubtext WRITE setWatermarkSubtext NOTIFY broadcastStateChanged)

public:
    using HymnLesson = tmb::HymnLesson;
    using HymnStep = tmb::HymnStep;

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
    int currentBeatStep() const { return std::max(m_audioEngine.beatSequencer.currentStep(), 0); }
    float audioCpuLoad() const { return m_audioEngine.cpuLoadPercent.load(); }
    bool masterClipped() const { return m_audioEngine.isMasterClipped(); }
    float micLevel() const { return m_audioEngine.channelPeakL(MixerChannelId::Mic); }

    // --- Presets, slots and drum kits (WorkstationControllerPresets.cpp)
    bool loadingInstrument() const { return m_loadingInstrument; }
    QString mainPresetId() const { return m_mainPresetId; }
    QString layer2PresetId() const { return m_layer2PresetId; }
    QString splitPresetId() const { return m_splitPresetId; }
    QString mainPresetName() const;
    QString mainPresetCategory() const;
    QString mainPresetEngineLabel() const;
    QString layer2PresetName() const;
    QString splitPresetName() const;
    QString currentDrumKitName() const { return m_currentDrumKitName; }
    QVariantList availableDrumKits() const { return m_availableDrumKits; }

    Q_INVOKABLE void selectPresetForSlot(int slotIndex, const QString& presetId);
    Q_INVOKABLE void resetToDefaultPiano();
    Q_INVOKABLE QVariantList queryPresets(const QString& category, const QString& searchText,
                                          bool favoritesOnly) const;
    Q_INVOKABLE void toggleFavoritePreset(const QString& presetId);
    // The main voice's previous (-1) or next (+1) preset of its category, in
    // catalogue order and wrapping; chosen as the user's choice.
    Q_INVOKABLE void stepMainPreset(int steps);
    // The catalogue's categories in catalogue order; re-read on presetsCatalogChanged.
    Q_INVOKABLE QStringList presetCategories() const { return m_projectManager.presetCategories(); }
    Q_INVOKABLE bool importInstrumentLibrary(const QString& filePath);
    Q_INVOKABLE void selectDrumKitByIndex(int index);
    // Registrations and projects: no reset of performance modifiers.
    void selectPresetForSlotInternal(int slot, const QString& presetId);
    // Puts a preset's sound into a slot; a sampled piano loads off the GUI thread
    // once one is playing.
    void applyPresetToEngine(int slot, const InstrumentPreset& preset);
    void initDrumKits();

    // --- Mixer (WorkstationControllerMixer.cpp)
    Q_INVOKABLE float channelVolume(int chIndex) const;
    Q_INVOKABLE void setChannelVolume(int chIndex, float vol01);
    Q_INVOKABLE float channelPan(int chIndex) const;
    Q_INVOKABLE void setChannelPan(int chIndex, float pan);
    Q_INVOKABLE bool isChannelMuted(int chIndex) const;
    Q_INVOKABLE void setChannelMuted(int chIndex, bool muted);
    Q_INVOKABLE bool isChannelSoloed(int chIndex) const;
    Q_INVOKABLE void setChannelSoloed(int chIndex, bool soloed);
    Q_INVOKABLE float channelPeakL(int chIndex) const;
    Q_INVOKABLE float channelPeakR(int chIndex) const;
    Q_INVOKABLE void resetMasterClipIndicator();
    Q_INVOKABLE void applyMixBalancePreset(int presetIndex);

    float pianoVolume() const { return channelVolume(0); }
    void setPianoVolume(float volume) { setNamedChannelVolume(MixerChannelId::Piano, volume); }
    bool pianoMuted() const { return isChannelMuted(0); }
    void setPianoMuted(bool muted) { setChannelMuted(0, muted); }
    float layer2Volume() const { return channelVolume(1); }
    void setLayer2Volume(float volume) { setNamedChannelVolume(MixerChannelId::Layer2, volume); }
    bool layer2Muted() const { return isChannelMuted(1); }
    void setLayer2Muted(bool muted) { setChannelMuted(1, muted); }
    float splitBassVolume() const { return channelVolume(2); }
    void setSplitBassVolume(float volume) { setNamedChannelVolume(MixerChannelId::SplitBass, volume); }
    bool splitBassMuted() const { return isChannelMuted(2); }
    void setSplitBassMuted(bool muted) { setChannelMuted(2, muted); }
    float beatsVolume() const { return channelVolume(3); }
    void setBeatsVolume(float volume) { setNamedChannelVolume(MixerChannelId::Beats, volume); }
    bool beatsMuted() const { return isChannelMuted(3); }
    void setBeatsMuted(bool muted) { setChannelMuted(3, muted); }
    float micVolume() const { return channelVolume(5); }
    void setMicVolume(float volume) { setNamedChannelVolume(MixerChannelId::Mic, volume); }
    bool micMuted() const { return isChannelMuted(5); }
    void setMicMuted(bool muted) { setChannelMuted(5, muted); }
    float masterVolume() const { return channelVolume(6); }
    void setMasterVolume(float volume) { setNamedChannelVolume(MixerChannelId::Master, volume); }

    float styleVolume() const { return m_styleVolume; }
    void setStyleVolume(float volume);
    bool styleMuted() const { return m_styleMuted; }
    void setStyleMuted(bool muted);
    float styleBassVolume() const { return m_styleBassVolume; }
    void setStyleBassVolume(float level);
    float styleChordVolume() const { return m_styleChordVolume; }
    void setStyleChordVolume(float level);
    float styleLeadVolume() const { return m_styleLeadVolume; }
    void setStyleLeadVolume(float level);

    // Puts the pedals, zones, arpeggiator, chord memory, smart chords, auto-tune and
    // a playing hymn back to plain manual playing; with `stopArranger` the arranger
    // stops too. Sounds, transpose, touch and the split point stay.
    void resetPerformanceModifiersToDefaults(bool stopArranger);
    // Note-off for every note the style band and the hymn demo hold sounding.
    void releaseActiveHymnAndArrangerNotes();

    QString activeAudioBackend() const { return m_audioEngine.backendName; }
    QString activeAudioDevice() const { return m_audioEngine.outputDeviceLabel; }
    int audioSampleRate() const { return static_cast<int>(m_audioEngine.sampleRate); }
    int audioBufferFrames() const { return static_cast<int>(m_audioEngine.blockFrames); }
    float audioLatencyMs() const { return m_audioEngine.latencyMs(); }
    bool audioThreadRealtime() const { return m_audioEngine.audioThreadRealtime(); }

    QVariantList midiPorts() const { return m_midiManager.portsAsVariantList(); }
    bool samsonGraphiteConnected() const { return m_midiManager.isSamsonGraphite49Connected(); }
    QString primaryControllerName() const { return m_midiManager.primaryControllerName(); }
    QVariantList midiActivityLog() const { return m_midiManager.activityLogAsVariantList(); }
    QVariantList controllerMappings() const { return m_midiManager.controllerMappingsAsVariantList(); }
    bool midiLearnActive() const { return m_midiManager.isMidiLearnActive(); }
    QString midiLearnTarget() const { return m_midiManager.midiLearnTarget(); }

    // --- Sound parameters (clamp, store in the active record, push, announce)
    float brightness() const { return m_params.brightness; }
    void setBrightness(float value);
    float damperResonance() const { return m_params.damperResonance; }
    void setDamperResonance(float value);
    float stringResonance() const { return m_params.stringResonance; }
    void setStringResonance(float value);
    float keyOffVolume() const { return m_params.keyOffVolume; }
    void setKeyOffVolume(float value);
    float pedalNoiseVolume() const { return m_params.pedalNoiseVolume; }
    void setPedalNoiseVolume(float value);
    float lidPosition() const { return m_params.lidPosition; }
    void setLidPosition(float value);
    float reverbAmount() const { return m_params.reverbAmount; }
    void setReverbAmount(float value);
    float reverbRoomSize() const { return m_params.reverbRoomSize; }
    void setReverbRoomSize(float value);
    float chorusAmount() const { return m_params.chorusAmount; }
    void setChorusAmount(float value);
    float delayAmount() const { return m_params.delayAmount; }
    void setDelayAmount(float value);
    float driveAmount() const { return m_params.driveAmount; }
    void setDriveAmount(float value);
    float compressorAmount() const { return m_params.compressorAmount; }
    void setCompressorAmount(float value);
    float stereoWidth() const { return m_params.stereoWidth; }
    void setStereoWidth(float value);
    float tuningHz() const { return m_params.tuningHz; }
    void setTuningHz(float value);

    // --- Keyboard performance (GUI thread)
    int transposeSemitones() const { return m_params.transposeSemitones; }
    void setTransposeSemitones(int semitones);
    int octaveShift() const { return m_params.octaveShift; }
    void setOctaveShift(int octaves);
    int touchCurve() const { return m_params.touchCurve; }
    void setTouchCurve(int curve);
    bool abSlotBActive() const { return m_abSlotBActive; }

    bool sustainPedal() const { return m_params.sustainPedal; }
    void setSustainPedal(bool down);
    bool sostenutoPedal() const { return m_params.sostenutoPedal; }
    void setSostenutoPedal(bool down);
    bool softPedal() const { return m_params.softPedal; }
    void setSoftPedal(bool down);
    float continuousPedal() const { return m_params.continuousPedal; }
    void setContinuousPedal(float position);
    float expressionPedal() const { return m_params.expressionPedal; }
    void setExpressionPedal(float position);
    bool autoPedalEnabled() const { return m_params.autoPedalEnabled; }
    void setAutoPedalEnabled(bool enabled);
    bool invertPedalPolarity() const { return m_params.invertPedalPolarity; }
    void setInvertPedalPolarity(bool inverted);
    bool sustainLatched() const { return m_sustainLatched; }
    void setSustainLatched(bool latched);
    int activePadIndex() const { return m_activePadIndex; }

    int lastNotePlayed() const { return m_lastNotePlayed; }
    int lastVelocityPlayed() const { return m_lastVelocityPlayed; }
    float pitchBendValue() const { return m_pitchBendValue; }
    void setPitchBendValue(float value);
    float modWheelValue() const { return m_modWheelValue; }
    void setModWheelValue(float value);
    QString lastMidiControlText() const { return m_lastMidiControlText; }

    bool layer2Enabled() const { return m_zones.layer2Enabled; }
    void setLayer2Enabled(bool enabled);
    bool splitEnabled() const { return m_zones.splitEnabled; }
    void setSplitEnabled(bool enabled);
    int splitKey() const { return m_zones.splitKey; }
    void setSplitKey(int key);
    bool velocitySwitchEnabled() const { return m_zones.velocitySwitchEnabled; }
    void setVelocitySwitchEnabled(bool enabled);
    int velocityThreshold() const { return m_zones.velocityThreshold; }
    void setVelocityThreshold(int threshold);
    bool arpeggiatorEnabled() const { return m_zones.arpeggiatorEnabled; }
    void setArpeggiatorEnabled(bool enabled);
    int arpMode() const { return m_zones.arpMode; }
    void setArpMode(int mode);
    int arpOctaves() const { return m_zones.arpOctaves; }
    void setArpOctaves(int octaves);
    bool chordMemoryEnabled() const { return m_zones.chordMemoryEnabled; }
    void setChordMemoryEnabled(bool enabled);
    int layer2OctaveOffset() const { return m_zones.layer2OctaveOffset; }
    void setLayer2OctaveOffset(int octaves);
    int splitOctaveOffset() const { return m_zones.splitOctaveOffset; }
    void setSplitOctaveOffset(int octaves);

    Q_INVOKABLE void noteOn(int note, int velocity);
    Q_INVOKABLE void noteOn(int note) { noteOn(note, 100); }
    Q_INVOKABLE void noteOff(int note);
    Q_INVOKABLE bool isKeyPressed(int note) const;
    Q_INVOKABLE void panicAllNotesOff();
    Q_INVOKABLE void toggleAbCompare();
    Q_INVOKABLE void triggerDrumPad(int midiNote, int velocity);
    Q_INVOKABLE void triggerDrumPad(int midiNote) { triggerDrumPad(midiNote, 110); }

    // The realtime MIDI callback: runs on the MIDI input thread. Notes go through the
    // harmonizer, everything else straight to the engine; controller state changes
    // in closures posted to the GUI thread.
    void handleRealtimeMidiEvent(const MidiEvent& event);

    // --- Beat sequencer and styles (WorkstationControllerRhythm.cpp)
    BeatSequencer& beatSequencer() { return m_audioEngine.beatSequencer; }
    const BeatSequencer& beatSequencer() const { return m_audioEngine.beatSequencer; }
    bool beatPlaying() const { return beatSequencer().isPlaying(); }
    void setBeatPlaying(bool playing);
    float bpm() const { return beatSequencer().bpm(); }
    void setBpm(float bpm);
    float swing() const { return beatSequencer().swing(); }
    void setSwing(float swing);
    float humanize() const { return beatSequencer().humanize(); }
    void setHumanize(float amount);
    bool metronomeEnabled() const { return beatSequencer().metronomeEnabled(); }
    void setMetronomeEnabled(bool enabled);
    int beatSection() const { return beatSequencer().section(); }
    void setBeatSection(int section);
    int currentBeatStyleIndex() const { return beatSequencer().selectedStyleIndex(); }
    // Drops the performance modifiers, then applies the style without its presets.
    void setCurrentBeatStyleIndex(int index);
    int userStyCount() const { return beatSequencer().customStyleCount(); }
    QVariantList beatStyles() const { return beatSequencer().stylesAsVariantList(); }
    QVariantList beatStepGrid() const { return beatSequencer().currentGridAsVariantList(); }
    Q_INVOKABLE void toggleBeatStep(int lane, int step);
    Q_INVOKABLE void triggerBeatFill();
    Q_INVOKABLE void tapTempo();
    // Selects the style and gives the SoundFont engine its kit, band programs, pans,
    // sends and part volumes (when the General MIDI font is there); with presets also
    // its layer and split instruments.
    void applyBeatStyleInternal(int index, bool withPresets);
    // The built-in styles, then the style library's (WorkstationControllerStyles.cpp).
    void initBundledAndSavedStyBeats();

    // --- Style library (WorkstationControllerStyles.cpp)
    QString styStatusText() const { return m_styleLibrary.statusText(); }
    QString detectedFlashDiskPath() const { return m_styleLibrary.detectedFlashDiskPath(); }
    // Imports launch the last style imported with the current play mode.
    Q_INVOKABLE bool importStyFile(const QString& fileUrlOrPath);
    Q_INVOKABLE int importStyFiles(const QVariantList& fileUrls);
    Q_INVOKABLE int importStyFolder(const QString& folderUrlOrPath);
    Q_INVOKABLE int scanUsbFlashDiskForSty();
    Q_INVOKABLE bool removeCustomStyStyle(int styleIndex);
    Q_INVOKABLE void clearAllCustomStyStyles();
    StyleLibrary& styleLibrary() { return m_styleLibrary; }

    // --- Chords (WorkstationControllerRhythm.cpp)
    QString currentChordName() const { return m_currentChordName; }
    bool smartChordEnabled() const { return m_arranger.smartChordEnabled; }
    void setSmartChordEnabled(bool enabled);
    int arrangerChordDegree() const { return m_arranger.chordDegree; }
    void setArrangerChordDegree(int degree) { triggerProChordDegree(degree); }
    QString arrangerActiveChordText() const { return m_arranger.activeChordText; }
    Q_INVOKABLE void triggerProChordDegree(int degree);
    // A one-finger chord key: picks the degree and, with smart chords on, sounds its
    // third and fifth for 360 ms.
    void triggerSmartChordForRoot(int note, int velocity);

    // --- Arranger (WorkstationControllerArranger.cpp)
    bool proArrangerEnabled() const { return m_arranger.proArrangerEnabled; }
    // On: the current style's band plays (re-applied without presets) and the beat
    // starts; off: the band stops.
    void setProArrangerEnabled(bool enabled);
    int arrangerPlayMode() const { return m_arranger.arrangerPlayMode; }
    // 0 the full band loops on its own, 1 the band backs the player, who is the lead.
    void setArrangerPlayMode(int mode);
    bool arrangerAutoFill() const { return m_arranger.arrangerAutoFill; }
    void setArrangerAutoFill(bool enabled);
    int arrangerProgressionIndex() const { return m_arranger.progressionIndex; }
    void setArrangerProgressionIndex(int index);
    QString arrangerStyleName() const;
    QString arrangerGenreFamily() const;
    // A whole band with its presets (styles 0-27 and imported ones) or a drum style
    // alone, playing at once.
    Q_INVOKABLE void launchStylePreset(int styleIndex, int playMode);
    Q_INVOKABLE void launchStylePreset(int styleIndex) { launchStylePreset(styleIndex, 0); }
    // 0-6: a genre family's flagship band; other numbers a band style 0-27.
    Q_INVOKABLE void triggerStyleQuickStart(int stylePresetIndex);
    // One band step for sequencer step `step` (what the 8 ms step timer runs).
    void advanceProArrangerStep(int step);

    // --- Harmonizer
    bool autoTuneEnabled() const { return m_harmonizer.isEnabled(); }
    void setAutoTuneEnabled(bool enabled);
    int autoTuneMode() const { return m_harmonizer.mode(); }
    void setAutoTuneMode(int mode);
    QString autoTuneModeName() const { return Harmonizer::modeName(m_harmonizer.mode()); }
    QString autoTuneStatusText() const { return m_autoTuneStatusText; }
    int autoTuneCorrectedCount() const { return m_autoTuneCorrectedCount; }
    Q_INVOKABLE void cycleAutoTuneMode();
    // Any thread except the audio thread: start and stop the voices of one played note.
    int processNoteOnWithAutoTune(int note, int velocity, unsigned char channel);
    void processNoteOffWithAutoTune(int note, unsigned char channel);
    // GUI thread: releases every harmonizer voice and the lights of their keys.
    void releaseAllAutoTuneVoices();
    Harmonizer& harmonizer() { return m_harmonizer; }

    // --- Studio (WorkstationControllerStudio.cpp)
    double studioPlayheadBeats() const { return m_audioEngine.midiRecorder.playheadBeats(); }
    bool studioRecording() const { return m_audioEngine.midiRecorder.isRecording(); }
    bool studioPlaying() const { return m_audioEngine.midiRecorder.isPlaying(); }
    bool studioLoopEnabled() const { return m_audioEngine.midiRecorder.isLoopEnabled(); }
    void setStudioLoopEnabled(bool enabled);
    QVariantList audioWaveform() const { return m_audioWaveform; }
    QString lastRecordedWavPath() const { return m_lastRecordedWavPath; }
    QVariantList recordedNotes() const { return m_audioEngine.midiRecorder.notesAsVariantList(); }
    int recordedNoteCount() const { return m_audioEngine.midiRecorder.noteCount(); }
    bool canUndoMidi() const { return m_audioEngine.midiRecorder.canUndo(); }
    bool canRedoMidi() const { return m_audioEngine.midiRecorder.canRedo(); }

    Q_INVOKABLE void startStudioRecord();
    Q_INVOKABLE void stopStudioTransport();
    Q_INVOKABLE void toggleStudioPlayPause();
    Q_INVOKABLE void addPianoRollNote(int pitch, double startBeats, double durationBeats, int velocity);
    Q_INVOKABLE void addPianoRollNote(int pitch, double startBeats, double durationBeats) {
        addPianoRollNote(pitch, startBeats, durationBeats, 100);
    }
    Q_INVOKABLE void moveResizePianoRollNote(int noteId, int newPitch, double newStart, double newDur);
    Q_INVOKABLE void deletePianoRollNote(int noteId);
    Q_INVOKABLE void clearRecordedNotes();
    Q_INVOKABLE void quantizeRecordedNotes(double gridBeats, float strength01);
    Q_INVOKABLE void quantizeRecordedNotes(double gridBeats) { quantizeRecordedNotes(gridBeats, 1.0f); }
    Q_INVOKABLE void transposeRecordedNotes(int semitones);
    Q_INVOKABLE void undoMidiEdit();
    Q_INVOKABLE void redoMidiEdit();
    Q_INVOKABLE bool exportMidiFile(const QString& filePath);
    Q_INVOKABLE bool importMidiFile(const QString& filePath);
    Q_INVOKABLE bool exportWavFile(const QString& filePath);
    // A "file://" URL from a file dialog as a local path; other text as it is.
    static QString localPathFromUrl(const QString& fileUrl);

    // --- Broadcast, studio video and camera (WorkstationControllerBroadcast.cpp)
    bool broadcastDrawerOpen() const { return m_broadcastDrawerOpen; }
    void setBroadcastDrawerOpen(bool open);
    bool broadcastActive() const { return m_broadcastActive; }
    QString broadcastStatusText() const { return m_broadcastStatusText; }
    // "mm:ss" since the broadcast started; "00:00" when none runs.
    QString broadcastElapsedText() const;
    bool streamYoutubeEnabled() const { return m_broadcast.youtubeEnabled; }
    void setStreamYoutubeEnabled(bool enabled);
    QString streamYoutubeKey() const { return m_broadcast.youtubeKey; }
    void setStreamYoutubeKey(const QString& key);
    bool streamFacebookEnabled() const { return m_broadcast.facebookEnabled; }
    void setStreamFacebookEnabled(bool enabled);
    QString streamFacebookKey() const { return m_broadcast.facebookKey; }
    void setStreamFacebookKey(const QString& key);
    bool streamTiktokEnabled() const { return m_broadcast.tiktokEnabled; }
    void setStreamTiktokEnabled(bool enabled);
    QString streamTiktokUrl() const { return m_broadcast.tiktokUrl; }
    void setStreamTiktokUrl(const QString& url);
    QString streamTiktokKey() const { return m_broadcast.tiktokKey; }
    void setStreamTiktokKey(const QString& key);
    bool recordBroadcastMp4() const { return m_broadcast.recordMp4; }
    void setRecordBroadcastMp4(bool enabled);
    QString lastRecordedMp4Path() const { return m_lastRecordedMp4Path; }
    bool cameraEnabled() const { return m_cameraEnabled; }
    void setCameraEnabled(bool enabled);
    bool hardwareCameraAvailable() const { return m_hardwareCameraAvailable; }
    QString cameraStatusMessage() const { return m_cameraStatusMessage; }
    int cameraCorner() const { return m_cameraCorner; }
    // 0 bottom-right, 1 bottom-left, 2 top-right, 3 top-left.
    void setCameraCorner(int corner);
    bool cameraMirror() const { return m_cameraMirror; }
    void setCameraMirror(bool mirrored);
    bool watermarkEnabled() const { return m_broadcast.watermarkEnabled; }
    void setWatermarkEnabled(bool enabled);
    QString watermarkText() const { return m_broadcast.watermarkText; }
    void setWatermarkText(const QString& text);
    QString watermarkSubtext() const { return m_broadcast.watermarkSubtext; }
    void setWatermarkSubtext(const QString& text);

    // Starts streaming to every target with a key (and the local recording when
    // asked for); while a broadcast runs, stops it.
    Q_INVOKABLE void toggleLiveBroadcast();
    Q_INVOKABLE void stopLiveBroadcast();
    Q_INVOKABLE void pasteYoutubeKeyFromClipboard();
    Q_INVOKABLE void pasteFacebookKeyFromClipboard();
    Q_INVOKABLE void pasteTiktokKeyFromClipboard();
    Q_INVOKABLE void cycleCameraCorner();
    Q_INVOKABLE void requestCameraPermissionAndPower();
    // "youtube", "facebook", "tiktok", anything else: a multi-platform studio page.
    Q_INVOKABLE void openOneClickStreamPlatform(const QString& platform);
    Q_INVOKABLE void openLastRecordedVideo();
    // The user manual and licence PDF in the desktop's viewer.
    Q_INVOKABLE void openUserManualPdf();
    void refreshCameraAvailability();
    // One window frame to each encoder that keeps up (the frame timer's tick).
    void captureAndPushWindowFrame();
    struct FrameCaptureStats {
        std::uint64_t grabbed = 0; // frames grabbed and written
        std::uint64_t dropped = 0; // frames an encoder missed because it lagged
        qint64 busyNs = 0;         // GUI-thread time spent grabbing and writing
        qint64 slowestNs = 0;      // the slowest single frame
    };
    const FrameCaptureStats& frameCaptureStats() const { return m_frameStats; }
    // Joins of studio takes still running (their MP4 is not written yet).
    int runningVideoJoins() const { return static_cast<int>(m_videoJoins.size()); }

    Q_INVOKABLE void playTestTone();
    Q_INVOKABLE bool applyAudioSettings(const QString& backend, const QString& deviceId, int sampleRate,
                                        int bufferFrames);
    Q_INVOKABLE void rescanMidiDevices();
    Q_INVOKABLE bool connectMidiPort(int clientId, int portId);
    Q_INVOKABLE bool disconnectMidiPort(int clientId, int portId);
    Q_INVOKABLE void ignoreMidiPort(int clientId, int portId, bool ignored);
    Q_INVOKABLE void clearMidiActivityLog();
    // Controller mappings and MIDI learn (WorkstationControllerMappings.cpp).
    Q_INVOKABLE void startMidiLearn(const QString& targetParam, const QString& friendlyName);
    Q_INVOKABLE void cancelMidiLearn();
    Q_INVOKABLE void resetSamsonProfile();
    // GUI thread: applies one mapped controller action and reports it.
    void handleMappedControllerAction(const QString& targetParameter, float value);

    // --- Audio devices and microphone (WorkstationControllerDevices.cpp)
    bool bluetoothAudioWarning() const { return m_audioEngine.bluetoothAudioWarning; }
    QVariantList audioOutputs() const { return m_audioEngine.audioOutputsAsVariantList(); }
    QVariantList audioInputs() const { return m_audioEngine.audioInputsAsVariantList(); }
    QString activeInputDeviceId() const { return m_audioEngine.inputDeviceId; }
    QString activeInputDeviceName() const { return m_audioEngine.inputDeviceLabel; }
    bool micEnabled() const { return m_audioEngine.micEnabled.load(); }
    void setMicEnabled(bool on);
    bool micMonitorEnabled() const { return m_audioEngine.micMonitorEnabled.load(); }
    void setMicMonitorEnabled(bool on);
    bool phoneDrawerOpen() const { return m_phoneDrawerOpen; }
    void setPhoneDrawerOpen(bool open);
    Q_INVOKABLE bool selectAudioInputDevice(const QString& inputDeviceId);
    Q_INVOKABLE void rescanAudioInputDevices();

    // --- LV2 host (WorkstationControllerDevices.cpp)
    QVariantList lv2Plugins() const { return m_audioEngine.lv2Host.pluginsAsVariantList(); }
    bool lv2Loaded() const { return m_audioEngine.lv2Host.isPluginActive(); }
    bool lv2Bypassed() const { return m_audioEngine.lv2Host.isBypassed(); }
    void setLv2Bypassed(bool bypassed);
    QString activeLv2Name() const { return m_audioEngine.lv2Host.loadedName(); }
    QString lv2StatusMessage() const { return m_audioEngine.lv2Host.statusMessage(); }
    Q_INVOKABLE bool loadLv2Plugin(const QString& uri);
    Q_INVOKABLE void unloadLv2Plugin();
    Q_INVOKABLE void rescanLv2Plugins();
    // Either argument may be a "file://" URL from a file dialog.
    Q_INVOKABLE bool configureDrumGizmo(const QString& drumkitXml, const QString& midimapXml);
    Q_INVOKABLE float lv2BusPeak(int busIndex) const { return m_audioEngine.lv2Host.busPeakLevel(busIndex); }

    // --- Hymn academy (WorkstationControllerHymns.cpp)
    QVariantList hymnCatalog() const { return m_hymnCatalog.asVariantList(); }
    QVariantList churchDenominations() const { return churchDenominationsAsVariantList(); }
    int currentHymnIndex() const { return m_hymnTutor.currentIndex(); }
    // Another lesson, from its first step, with its style and tempo.
    void setCurrentHymnIndex(int index);
    QString currentHymnTitle() const;
    QString currentHymnCategory() const;
    QString currentHymnProgression() const;
    QString currentHymnTip() const;
    // 0 the wait-for-you tutor, 1 the demo plays the melody, 2 the player plays with the band.
    int hymnLearnMode() const { return m_hymnTutor.learnMode(); }
    void setHymnLearnMode(int mode);
    bool hymnPlaying() const { return m_hymnTutor.playing(); }
    void setHymnPlaying(bool playing);
    bool hymnAutoHarmony() const { return m_hymnTutor.autoHarmony(); }
    void setHymnAutoHarmony(bool on);
    int totalHymnSteps() const { return m_hymnTutor.stepCount(); }
    // The steps in the keyboard's key.
    QVariantList currentHymnSteps() const;
    QString currentHymnFullLyrics() const;
    int selectedChurchIndex() const { return m_selectedChurchIndex; }
    // A congregation's sounds, zones, tone, style and tempo (the lesson stays).
    Q_INVOKABLE void selectChurchDenomination(int index);
    QString selectedChurchName() const;
    QString selectedChurchPresetSummary() const;
    int currentHymnStepIndex() const { return m_hymnTutor.stepIndex(); }
    double hymnPlayheadBeats() const { return m_hymnTutor.playheadBeats(); }
    QString currentHymnLyric() const;
    QString currentHymnSolfa() const;
    QString currentHymnFingerHint() const;
    // The target note and chord named in the keyboard's key.
    QString currentHymnTargetNoteName() const;
    QString currentHymnTargetChord() const;
    int hymnScoreHits() const { return m_hymnTutor.hits(); }
    int hymnStreak() const { return m_hymnTutor.streak(); }
    Q_INVOKABLE void restartHymnLesson();
    Q_INVOKABLE void stepHymnForward();
    Q_INVOKABLE void stepHymnBackward();
    // The four-voice choir's starting notes in the keyboard's key, one after another.
    Q_INVOKABLE void triggerChoirPitchPipe();
    // The keys to press now: the melody note (green) and its chord (amber), as written.
    Q_INVOKABLE bool isGuideMelodyKey(int midiNote) const { return m_hymnTutor.isGuideMelodyKey(midiNote); }
    Q_INVOKABLE bool isGuideChordKey(int midiNote) const { return m_hymnTutor.isGuideChordKey(midiNote); }
    // The 30 ms refresh tick while a lesson plays in mode 1 or 2: moves it on by the
    // time measured since the previous tick.
    void advanceHymnPlaybackTick();
    // Moves guided playback on by `seconds` of playing at the sequencer's tempo.
    void advanceHymnPlayback(double seconds);
    const HymnCatalog& hymnLessons() const { return m_hymnCatalog; }

    // --- Phone companion (WorkstationControllerPhone.cpp; the commands in
    // WorkstationControllerPhoneCommands.cpp)
    bool phoneBridgeRunning() const { return m_phone.running; }
    bool phoneConnected() const { return m_phone.connected; }
    bool phoneMicActive() const { return m_phone.micActive; }
    bool phoneCamActive() const { return m_phone.camActive; }
    QString phoneBridgeUrl() const { return m_phone.bridgeUrl; }
    QString phoneUsbUrl() const { return m_phone.usbUrl; }
    QString phonePublicIpUrl() const { return m_phone.publicIpUrl; }
    QString phoneRemoteTunnelUrl() const { return m_phone.remoteTunnelUrl; }
    bool phoneUsePublicLink() const { return m_phone.usePublicLink; }
    void setPhoneUsePublicLink(bool usePublic);
    QString phoneQrCodeUrl() const { return m_phone.qrCodeUrl; }
    QString phoneCameraFrameUrl() const { return m_phone.cameraFrameUrl; }
    QString phoneStatusText() const { return m_phone.statusText; }
    Q_INVOKABLE void startPhoneBridgeServer();
    Q_INVOKABLE void connectUsbAndroidPhoneAdb();
    Q_INVOKABLE void startPublicPhoneLink();
    Q_INVOKABLE void setCustomPublicHost(const QString& hostOrIp);
    Q_INVOKABLE void copyPhoneBridgeUrl();
    Q_INVOKABLE void copyPublicPhoneUrl();
    // The change record and the peers, as the state file shows them.
    const PhoneBridgeState& phoneState() const { return m_phone; }
    const PhonePeers& phonePeers() const { return m_phonePeers; }
    // Tests set the peers' clock (milliseconds since the epoch).
    void setPhoneClock(PhonePeers::Clock clock) { m_phonePeers.setClock(std::move(clock)); }
    // One complete line of the bridge's standard output.
    void handlePhoneBridgeLine(const QString& line);
    // Returns the phone's label.
    QString registerOrTouchPhonePeer(const QString& id, const QString& ip);
    // Touches the peer, names it the last actor with "📲 <label> → <summary>" and
    // counts the change in stateSeq.
    void recordPhoneAction(const QString& id, const QString& ip, const QString& summary);
    // Applies one phone command; returns its summary, empty when it has none.
    QString applyPhoneCommand(const QString& phoneId, const QString& ip, const QString& command);
    // The compact state object the phones poll, keys in their fixed order.
    QByteArray phoneStateJsonBytes() const;
    // Replaces the state file the bridge serves (atomically).
    void writePhoneStateJson();
    // The per-run secret every phone link carries ("/?k=<token>").
    QString phoneAccessToken() const { return m_phoneToken; }

    // --- Registrations and projects (WorkstationControllerProjects.cpp)
    QVariantList registrations() const { return m_projectManager.registrationsAsVariantList(); }
    int activeRegistrationSlot() const { return m_activeRegistrationSlot; }
    // Slots 0-7; other indices are ignored.
    Q_INVOKABLE void loadRegistration(int slotIndex);
    // A blank name keeps the slot's name.
    Q_INVOKABLE void saveCurrentToRegistration(int slotIndex, const QString& customName);
    // Either path may be a "file://" URL; a path ending in ".vks" is a bundle folder.
    Q_INVOKABLE bool saveProjectToFile(const QString& filePath, const QString& projectName);
    Q_INVOKABLE bool loadProjectFromFile(const QString& filePath);
    // The setup as a project would store it.
    ProjectContent currentProjectContent(const QString& projectName) const;
    // The 30 s timer's tick: a snapshot here, the save on a worker; skipped while
    // the previous one still runs. Never reports anything.
    void onAutosaveTick();
    BackgroundProjectWriter& autosaveWriter() { return m_autosaveWriter; }

    // Reached by tests and tools.
    AudioEngine& audioEngine() { return m_audioEngine; }
    MidiManager& midiManager() { return m_midiManager; }
    ProjectManager& projectManager() { return m_projectManager; }
    ArrangerState& arrangerState() { return m_arranger; }
    HymnPlaybackState& hymnPlayback() { return m_hymnTutor.sounding(); }

    // The shell line run 600 ms after start-up to unmute the sound server.
    static const char* const soundServerUnmuteCommand;

Q_SIGNALS:
    void currentModeChanged();
    void fullScreenPerformanceChanged();
    void statusBannerChanged();
    void loadingInstrumentChanged();
    void activePresetsChanged();
    void drumKitChanged();
    void presetsCatalogChanged();
    void metersUpdated();
    void audioSettingsChanged();
    void midiDevicesChanged();
    void midiActivityChanged();
    void lv2StateChanged();
    void micStateChanged();
    void phoneBridgeChanged();
    void pianoParamsChanged();
    void pedalStateChanged();
    void wheelsChanged();
    void keyboardStateChanged();
    void keyStateUpdated(int note, bool pressed, int velocity);
    void workstationChanged();
    void autoTuneStateChanged();
    void hymnStateChanged();
    void hymnStepChanged();
    void arrangerStateChanged();
    void beatStateChanged();
    void beatGridChanged();
    void studioStateChanged();
    void recordedNotesChanged();
    void broadcastStateChanged();
    void registrationsChanged();

private:
    void setStatusBanner(const QString& text);
    void onArrangerStepTick();
    void onUiRefreshTick();
    void runDeferredStart();
    void checkAudioBackendHealth();
    // One console line after each audio start, for logs and the soak benchmark.
    void reportAudioThreadPriority() const;
    bool isIdle() const;
    static void stopProcess(QProcess& process, int terminateWaitMs, int killWaitMs);

    // LV2 host and audio devices (WorkstationControllerDevices.cpp).
    void loadFirstDrumGizmo();
    void showLv2Result(bool ok, const QString& error);
    void notifyLv2State() { Q_EMIT lv2StateChanged(); }
    void notifyMicState() { Q_EMIT micStateChanged(); }
    void notifyPhoneBridge() { Q_EMIT phoneBridgeChanged(); }

    // Phone companion (WorkstationControllerPhone.cpp).
    // The text goes to phoneStatusText and the status banner; both are announced.
    void setPhoneStatus(const QString& text);
    // A phone takes the microphone: phone audio becomes the input, the microphone
    // is switched on; announces micStateChanged, audioSettingsChanged, phoneBridgeChanged.
    void activatePhoneMicrophone(const QString& phoneId);
    // A phone takes the camera: the picture-in-picture camera is switched on.
    void activatePhoneCamera(const QString& phoneId);
    void initPhoneBridge();
    void onPhoneBridgeOutput();
    void onPhoneBridgeFinished();
    // The hub is down (or its HTTPS side never came up): says why.
    void failPhoneHub(const QString& reason);
    void handlePhoneMicLine(const QString& phoneId, const QString& base64);
    void handlePhoneCameraLine(const QString& phoneId);
    void handlePhoneConnectLine(const QString& phoneId, const QString& ip);
    void onTunnelOutput();
    // Renders the QR code of `url` (with the access token) into the runtime folder.
    void regeneratePhoneQrCode(const QString& url);
    void launchPhoneBridgeScript();
    void whenPhoneAddressKnown(std::function<void()> then);
    void finishPublicPhoneLink(const QString& address);
    // UI tick: the state file every tenth tick while the bridge runs.
    void tickPhoneState();
    // A file of the bridge in the private runtime folder; empty without one.
    static QString phoneRuntimePath(const QString& name);
    // "file://<path>?t=<now>": the query makes the scene reload the picture.
    QString phoneFileUrlNow(const QString& name) const;

    // Performance path (WorkstationControllerPerformance.cpp).
    void initPerformancePath();
    void pushPianoParameters();
    void pushWorkstationState();
    void setSoundParameter(float PianoParameters::*field, float value, float low, float high);
    void setZoneFlag(bool WorkstationState::*field, bool value);
    void setZoneNumber(std::int32_t WorkstationState::*field, int value, int low, int high);
    void sendControllerEvent(const MidiEvent& event, bool record);
    void setKeyPressed(int note, bool pressed);
    // A key pressed on screen or by the hymn demo (`programKey`): its voices, lights,
    // the tutor's check (the player's keys only), the smart chord and the chord name.
    void pressKey(int note, int velocity, bool programKey);
    void releaseAllKeyFlags();
    // Clears the lights of voices a release of everything turned off.
    void releaseKeyLights(const Harmonizer::PitchSet& pitches);
    void lightPad(int index, int milliseconds);
    void setLastMidiControlText(const QString& text);
    void postToGui(std::function<void()> closure);
    void onHardwareNote(int note, int played, bool on, int velocity, int channel);
    void onHardwarePedal(int controller, int value);
    void onHardwareExpression(float value);
    void onHardwareModulation(float value);
    void onHardwareBend(float bend);
    void onHardwareProgramChange(int program);
    void onHardwareReset();
    void notifyPianoParams() { Q_EMIT pianoParamsChanged(); }
    void notifyPedalState() { Q_EMIT pedalStateChanged(); }
    void notifyWheels() { Q_EMIT wheelsChanged(); }
    void notifyKeyboardState() { Q_EMIT keyboardStateChanged(); }
    void notifyWorkstation() { Q_EMIT workstationChanged(); }
    void notifyMidiActivity() { Q_EMIT midiActivityChanged(); }
    void notifyAutoTuneState() { Q_EMIT autoTuneStateChanged(); }

    // Presets (WorkstationControllerPresets.cpp).
    std::optional<InstrumentPreset> lookupPreset(const QString& presetId) const;
    void loadMainSfzInstrument(const InstrumentPreset& preset);
    void onSfzLoadFinished(const SfzInstrumentLoader::Result& result);
    void showSfzLoadResult(bool ok, const QString& presetName, const QString& error);
    void setLoadingInstrument(bool loading);
    void notifyActivePresets() { Q_EMIT activePresetsChanged(); }
    void notifyDrumKit() { Q_EMIT drumKitChanged(); }
    void notifyPresetsCatalog() { Q_EMIT presetsCatalogChanged(); }

    // Mixer (WorkstationControllerMixer.cpp).
    void setNamedChannelVolume(MixerChannelId id, float volume);
    void sendStyleBandVolumes();
    void sendStylePartVolume(ArrangerState::Part part);
    int stylePartChannelVolume(ArrangerState::Part part) const;
    bool setStylePartLevel(float& stored, float level);
    void notifyArrangerState() { Q_EMIT arrangerStateChanged(); }
    void notifyMeters() { Q_EMIT metersUpdated(); }

    // Harmonizer display (WorkstationControllerHarmonizer.cpp).
    void showAutoTuneNote(int input, int lead, bool moved, int voiceCount);
    void setAutoTuneStatusText(const QString& text);

    // Studio (WorkstationControllerStudio.cpp).
    static constexpr int waveformPoints = 100;
    void notifyStudioState();
    void notifyRecordedNotes() { Q_EMIT recordedNotesChanged(); }
    // UI tick during a take: the piano roll follows the notes as they are played.
    void followStudioTake();

    // Registrations and projects (WorkstationControllerProjects.cpp).
    void notifyRegistrations() { Q_EMIT registrationsChanged(); }

    // Broadcast and studio video (WorkstationControllerBroadcast.cpp).
    void initBroadcast();
    void notifyBroadcastState() { Q_EMIT broadcastStateChanged(); }
    // UI tick: the elapsed time follows, and an enabled camera is looked for.
    void tickBroadcast();
    void onBroadcastEncoderFinished(int exitCode, QProcess::ExitStatus status);
    void onCameraPowerFinished();
    // Starts the take's window video; false when there is no window or no encoder.
    bool startLocalVideo();
    // Ends the take's window video; its temporary file, or empty when none is usable.
    QString finishLocalVideo();
    // Joins the take's video with its WAV in the background.
    void startVideoJoin(const QString& video, const QString& wav, const QString& stamp);
    void onVideoJoined(const VideoJoin::Outcome& outcome);
    static QString videosFolder();
    static QString musicFolder();
    static QString temporaryVideoPath();
    bool broadcastEncoderRunning() const { return m_broadcastProcess.state() != QProcess::NotRunning; }

    // Hymn academy (WorkstationControllerHymns.cpp).
    static constexpr int hymnsViewMode = 8;
    void initHymnAndStyleAcademy();
    void initTenziAndDenominationalHymns();
    // The tutor checks every note-on the player starts, as the harmonizer left it.
    void checkHymnTutorNoteInput(int note, int velocity);
    // Announce the hymn's state or step; the harmonizer learns the new guide target.
    void notifyHymnState();
    void notifyHymnStep();
    // A lesson or church style: its band sounds, and the tempo.
    void selectHymnStyle(int styleIndex, float tempo);
    // The tutor's notes: the harmony counted apart from the player's keys, and the
    // demo's key pressed like a played one but held apart from the player's.
    void soundHymnHarmony(int note, int velocity);
    void pressHymnDemoKey(int note, int velocity);
    void releaseHymnDemoKey(int note);
    void pressPitchPipeNote(int note, int velocity);
    void onPitchPipeTimer();
    void stopPitchPipe();

    // Rhythm and chords (WorkstationControllerRhythm.cpp).
    void updateChordDetection();
    // The smart-chord rule of a played note-on.
    void offerNoteToArranger(int playedNote, int velocity);
    void sendSmartChordTone(int note, int velocity);
    void showStyleDrumKit(const StylePattern& style, const QString& fontPath);

    // Arranger (WorkstationControllerArranger.cpp).
    const StylePattern* catalogueStyle(int index) const;
    // The band plays at the mixer's levels and in the keyboard's key.
    void syncBand();
    // Announces beat-state and grid changes the audio thread made by itself.
    void announceSequencerChanges();
    void notifyBeatState();
    void notifyBeatGrid();
    void finishStyleImport(int imported, bool announceGrid);

    // Collaborators, constructed in this order and destroyed in reverse.
    AudioEngine m_audioEngine;
    // Loads the main slot's sampled pianos into m_audioEngine.sfzPiano; stopped
    // before the audio engine stops.
    SfzInstrumentLoader m_sfzLoader;
    MidiManager m_midiManager;
    ProjectManager m_projectManager;
    StyleLibrary m_styleLibrary{m_audioEngine.beatSequencer, m_projectManager};
    QTimer m_uiRefreshTimer;
    QTimer m_arrangerStepTimer;
    QTimer m_autosaveTimer;
    BackgroundProjectWriter m_autosaveWriter;

    // View and status.
    int m_currentMode = 0;
    bool m_fullScreenPerformance = false;
    QString m_statusBanner = QStringLiteral("Ready");
    MeterThrottle m_meterThrottle;
    QPointer<QQuickWindow> m_quickWindow;

    // Performance state (GUI thread). The harmonizer is shared with the MIDI thread.
    PianoParameters m_params;  // the active sound
    PianoParameters m_paramsB; // the stored comparison sound
    bool m_abSlotBActive = false;
    WorkstationState m_zones;
    std::array<bool, 128> m_keyPressed{};
    int m_lastNotePlayed = 60;
    int m_lastVelocityPlayed = 100;
    QString m_lastMidiControlText = QStringLiteral("Ready • Manual Performance");
    float m_pitchBendValue = 0.0f;
    float m_modWheelValue = 0.0f;
    bool m_sustainLatched = false;
    int m_activePadIndex = -1;
    QTimer m_padLightTimer;
    // Read by the MIDI thread to record hardware pedals as heard.
    std::atomic<bool> m_pedalPolarityInverted{false};
    Harmonizer m_harmonizer;
    QString m_autoTuneStatusText = QStringLiteral("OFF • Manual Performance");
    int m_autoTuneCorrectedCount = 0;

    // Slot presets and drum kits.
    QString m_mainPresetId;
    QString m_layer2PresetId = QStringLiteral("synth_worship_pad");
    QString m_splitPresetId = QStringLiteral("gm_finger_bass");
    bool m_loadingInstrument = false;
    QString m_requestedSfzPath; // the latest SFZ file asked for while loading
    QString m_requestedSfzName; // its preset's name, for the banner
    QString m_currentDrumKitName = QStringLiteral("AVL Red Zeppelin Studio Kit");
    QVariantList m_availableDrumKits;
    int m_activeRegistrationSlot = 0;

    // Style band levels, and the arranger and hymn demo state they act on.
    float m_styleVolume = 0.85f;
    bool m_styleMuted = false;
    float m_styleBassVolume = 0.90f;
    float m_styleChordVolume = 0.85f;
    float m_styleLeadVolume = 0.85f;
    // The backing band; its notes go to the engine's queue.
    Arranger m_band{[this](const MidiEvent& event) {
        m_audioEngine.submitMidiEvent(event);
    }};
    ArrangerState& m_arranger = m_band.state();

    // Rhythm and chords.
    QString m_currentChordName = QStringLiteral("—");
    qint64 m_lastTapMs = 0; // wall clock; 0 = no tap yet
    int m_tapCount = 0;
    // What the scene was last told of the sequencer's transport.
    bool m_announcedBeatPlaying = false;
    int m_announcedBeatSection = -1;
    int m_announcedGridSection = -1;
    // Studio: the waveform of the take, summarised when the transport changes.
    QVariantList m_audioWaveform = QVariantList(waveformPoints, QVariant(0.0f));
    QString m_lastRecordedWavPath;
    int m_takeNoteCount = 0;

    // Hymn academy: the lessons, the tutor running one, the church preset, the clock
    // of guided playback and the pitch pipe's notes (as written) and progress.
    HymnCatalog m_hymnCatalog;
    HymnTutor m_hymnTutor{m_hymnCatalog,
                          {[this](int note, int velocity) { soundHymnHarmony(note, velocity); },
                           [this](int note, int velocity) { pressHymnDemoKey(note, velocity); },
                           [this](int note) { releaseHymnDemoKey(note); },
                           [this] {
                               releaseActiveHymnAndArrangerNotes();
                           }}};
    int m_selectedChurchIndex = 0;
    QElapsedTimer m_hymnClock;
    QTimer m_pitchPipeTimer;
    std::array<int, 4> m_pitchPipeNotes{};
    int m_pitchPipePressed = 0; // notes pressed so far

    // Broadcast, studio video and camera.
    BroadcastSettings m_broadcast;
    bool m_broadcastDrawerOpen = false;
    bool m_broadcastActive = false;
    QString m_broadcastStatusText = QStringLiteral("READY TO STREAM • YouTube / Facebook / TikTok / MP4");
    qint64 m_broadcastStartSeconds = 0; // since the epoch
    QByteArray m_broadcastErrorOutput;  // the encoder's latest messages
    QString m_lastRecordedMp4Path;
    bool m_cameraEnabled = false;
    bool m_hardwareCameraAvailable = false;
    bool m_cameraMirror = false;
    int m_cameraCorner = 0;
    QString m_cameraStatusMessage = QStringLiteral("Checking camera hardware...");
    bool m_takeHasVideo = false; // the local video encoder was started for this take
    FrameCaptureStats m_frameStats;
    BroadcastAudioPipe m_audioPipe;
    QList<VideoJoin*> m_videoJoins; // children of the controller

    // Capture, broadcast and phone processes.
    bool m_phoneDrawerOpen = false;
    QTimer m_frameCaptureTimer;
    QProcess m_localVideoProcess;
    QProcess m_broadcastProcess;
    QProcess m_cameraPowerProcess;
    QProcess m_phoneBridgeProcess;
    QProcess m_tunnelProcess;

    // Phone companion.
    PhoneBridgeState m_phone;
    PhonePeers m_phonePeers;
    QString m_phoneToken = newPhoneAccessToken();
    PhoneLineSplitter m_phoneLines;
    PhoneMicResampler m_phoneMic;
    bool m_phoneHubFailed = false; // this run's failure is already reported
    int m_phoneStateTicks = 0;
    QString m_phoneLanAddress = QStringLiteral("127.0.0.1");
    bool m_phoneAddressPending = false;  // "hostname -I" asked, the bridge starts on its answer
    bool m_publicAddressPending = false; // the echo services asked
    std::vector<std::function<void()>> m_afterPhoneAddress;
    QByteArray m_tunnelOutput; // the tunnel's latest output, for a link split across reads
};

} // namespace tmb
