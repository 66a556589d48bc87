// The controller's start-up, modes, a dying backend, and the published surface (each
// property's type, writability and signal, written out on purpose, not generated).

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QMetaProperty>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

const QString noMidi = u"No Hardware MIDI Connected (On-Screen & Computer Keys Active)"_s;

// Properties that share their signal, type and writability; a null signal: constant.
struct Expected {
    const char* notify;
    QMetaType::Type type;
    bool writable;
    const char* names;
};
constexpr QMetaType::Type Int = QMetaType::Int, Bool = QMetaType::Bool, Float = QMetaType::Float,
                          Double = QMetaType::Double, Str = QMetaType::QString,
                          List = QMetaType::QVariantList;
constexpr bool RW = true, RO = false;

const Expected surface[] = {
    {"currentModeChanged", Int, RW, "currentMode"},
    {"fullScreenPerformanceChanged", Bool, RW, "fullScreenPerformance"},
    {"statusBannerChanged", Str, RO, "statusBanner"},
    {"loadingInstrumentChanged", Bool, RO, "loadingInstrument"},
    {"activePresetsChanged", Str, RO,
     "mainPresetId mainPresetName mainPresetCategory mainPresetEngineLabel layer2PresetId layer2PresetName "
     "splitPresetId splitPresetName"},
    {"drumKitChanged", Str, RO, "currentDrumKitName"},
    {nullptr, List, RO, "availableDrumKits hymnCatalog churchDenominations"},
    {"beatStateChanged", List, RO, "beatStyles"}, // not constant: imported styles join and leave it
    {"pianoParamsChanged", Float, RW,
     "brightness damperResonance stringResonance keyOffVolume pedalNoiseVolume lidPosition reverbAmount "
     "reverbRoomSize chorusAmount delayAmount driveAmount compressorAmount stereoWidth tuningHz"},
    {"pianoParamsChanged", Int, RW, "transposeSemitones octaveShift touchCurve"},
    {"pianoParamsChanged", Bool, RO, "abSlotBActive"},
    {"pedalStateChanged", Bool, RW,
     "sustainPedal sostenutoPedal softPedal autoPedalEnabled invertPedalPolarity sustainLatched"},
    {"pedalStateChanged", Float, RW, "continuousPedal expressionPedal"},
    {"pedalStateChanged", Int, RO, "activePadIndex"},
    {"keyboardStateChanged", Str, RO, "currentChordName"},
    {"keyboardStateChanged", Int, RO, "lastNotePlayed lastVelocityPlayed"},
    {"metersUpdated", Int, RO, "activeVoiceCount currentBeatStep"},
    {"metersUpdated", Double, RO, "studioPlayheadBeats"},
    {"metersUpdated", Float, RO, "audioCpuLoad micLevel"},
    {"metersUpdated", Bool, RO, "masterClipped"},
    {"wheelsChanged", Float, RW, "pitchBendValue modWheelValue"},
    {"midiActivityChanged", Str, RO, "lastMidiControlText"},
    {"midiActivityChanged", List, RO, "midiActivityLog"},
    {"workstationChanged", Bool, RW,
     "layer2Enabled splitEnabled velocitySwitchEnabled arpeggiatorEnabled chordMemoryEnabled"},
    {"workstationChanged", Int, RW,
     "splitKey velocityThreshold arpMode arpOctaves layer2OctaveOffset splitOctaveOffset"},
    {"registrationsChanged", List, RO, "registrations"},
    {"registrationsChanged", Int, RO, "activeRegistrationSlot"},
    {"beatStateChanged", Bool, RW, "beatPlaying metronomeEnabled"},
    {"beatStateChanged", Float, RW, "bpm swing humanize"},
    {"beatStateChanged", Int, RW, "beatSection currentBeatStyleIndex"},
    {"beatStateChanged", Int, RO, "userStyCount"},
    {"beatStateChanged", Str, RO, "detectedFlashDiskPath styStatusText"},
    {"beatGridChanged", List, RO, "beatStepGrid"},
    {"lv2StateChanged", List, RO, "lv2Plugins"},
    {"lv2StateChanged", Bool, RO, "lv2Loaded"},
    {"lv2StateChanged", Bool, RW, "lv2Bypassed"},
    {"lv2StateChanged", Str, RO, "activeLv2Name lv2StatusMessage"},
    {"studioStateChanged", Bool, RO, "studioRecording studioPlaying"},
    {"studioStateChanged", Bool, RW, "studioLoopEnabled"},
    {"studioStateChanged", List, RO, "audioWaveform"},
    {"studioStateChanged", Str, RO, "lastRecordedWavPath"},
    {"recordedNotesChanged", List, RO, "recordedNotes"},
    {"recordedNotesChanged", Int, RO, "recordedNoteCount"},
    {"recordedNotesChanged", Bool, RO, "canUndoMidi canRedoMidi"},
    {"audioSettingsChanged", Str, RO,
     "activeAudioBackend activeAudioDevice activeInputDeviceId activeInputDeviceName"},
    {"audioSettingsChanged", Int, RO, "audioSampleRate audioBufferFrames"},
    {"audioSettingsChanged", Float, RO, "audioLatencyMs"},
    {"audioSettingsChanged", Bool, RO, "bluetoothAudioWarning"},
    {"audioSettingsChanged", List, RO, "audioOutputs audioInputs"},
    {"midiDevicesChanged", List, RO, "midiPorts controllerMappings"},
    {"midiDevicesChanged", Bool, RO, "samsonGraphiteConnected midiLearnActive"},
    {"midiDevicesChanged", Str, RO, "primaryControllerName midiLearnTarget"},
    {"hymnStateChanged", Int, RW, "currentHymnIndex hymnLearnMode selectedChurchIndex"},
    {"hymnStateChanged", Str, RO,
     "currentHymnTitle currentHymnCategory currentHymnProgression currentHymnTip currentHymnFullLyrics "
     "selectedChurchName selectedChurchPresetSummary"},
    {"hymnStateChanged", Bool, RW, "hymnPlaying hymnAutoHarmony"},
    {"hymnStateChanged", Int, RO, "totalHymnSteps"},
    {"hymnStateChanged", List, RO, "currentHymnSteps"},
    {"hymnStepChanged", Int, RO, "currentHymnStepIndex hymnScoreHits hymnStreak"},
    {"hymnStepChanged", Double, RO, "hymnPlayheadBeats"},
    {"hymnStepChanged", Str, RO,
     "currentHymnLyric currentHymnSolfa currentHymnTargetNoteName currentHymnTargetChord "
     "currentHymnFingerHint"},
    {"arrangerStateChanged", Bool, RW,
     "proArrangerEnabled arrangerAutoFill smartChordEnabled beatsMuted styleMuted pianoMuted layer2Muted "
     "splitBassMuted micMuted"},
    {"arrangerStateChanged", Int, RW, "arrangerPlayMode arrangerChordDegree arrangerProgressionIndex"},
    {"arrangerStateChanged", Str, RO, "arrangerActiveChordText arrangerStyleName arrangerGenreFamily"},
    {"arrangerStateChanged", Float, RW,
     "beatsVolume styleVolume styleBassVolume styleChordVolume styleLeadVolume pianoVolume layer2Volume "
     "splitBassVolume micVolume masterVolume"},
    {"autoTuneStateChanged", Bool, RW, "autoTuneEnabled"},
    {"autoTuneStateChanged", Int, RW, "autoTuneMode"},
    {"autoTuneStateChanged", Str, RO, "autoTuneModeName autoTuneStatusText"},
    {"autoTuneStateChanged", Int, RO, "autoTuneCorrectedCount"},
    {"broadcastStateChanged", Bool, RW,
     "cameraEnabled cameraMirror watermarkEnabled broadcastDrawerOpen streamYoutubeEnabled "
     "streamFacebookEnabled streamTiktokEnabled recordBroadcastMp4"},
    {"broadcastStateChanged", Bool, RO, "hardwareCameraAvailable broadcastActive"},
    {"broadcastStateChanged", Str, RO,
     "cameraStatusMessage broadcastStatusText broadcastElapsedText lastRecordedMp4Path"},
    {"broadcastStateChanged", Str, RW,
     "watermarkText watermarkSubtext streamYoutubeKey streamFacebookKey streamTiktokUrl streamTiktokKey"},
    {"broadcastStateChanged", Int, RW, "cameraCorner"},
    {"micStateChanged", Bool, RW, "micEnabled micMonitorEnabled"},
    {"phoneBridgeChanged", Bool, RW, "phoneDrawerOpen phoneUsePublicLink"},
    {"phoneBridgeChanged", Bool, RO, "phoneBridgeRunning phoneConnected phoneMicActive phoneCamActive"},
    {"phoneBridgeChanged", Str, RO,
     "phoneBridgeUrl phoneUsbUrl phonePublicIpUrl phoneRemoteTunnelUrl phoneQrCodeUrl phoneCameraFrameUrl "
     "phoneStatusText"},
};

// The writers of the writable properties above, each "set" and the property's name but one.
// clang-format off
#define TMB_WRITERS(X)                                                                                            \
    X(setCurrentMode) X(setFullScreenPerformance) X(setBrightness) X(setDamperResonance) X(setStringResonance) \
    X(setKeyOffVolume) X(setPedalNoiseVolume) X(setLidPosition) X(setReverbAmount) X(setReverbRoomSize)        \
    X(setChorusAmount) X(setDelayAmount) X(setDriveAmount) X(setCompressorAmount) X(setStereoWidth)            \
    X(setTuningHz) X(setTransposeSemitones) X(setOctaveShift) X(setTouchCurve) X(setSustainPedal)              \
    X(setSostenutoPedal) X(setSoftPedal) X(setContinuousPedal) X(setExpressionPedal) X(setAutoPedalEnabled)    \
    X(setInvertPedalPolarity) X(setSustainLatched) X(setPitchBendValue) X(setModWheelValue)                    \
    X(setLayer2Enabled) X(setSplitEnabled) X(setSplitKey) X(setVelocitySwitchEnabled) X(setVelocityThreshold)  \
    X(setArpeggiatorEnabled) X(setArpMode) X(setArpOctaves) X(setChordMemoryEnabled) X(setLayer2OctaveOffset)  \
    X(setSplitOctaveOffset) X(setBeatPlaying) X(setBpm) X(setSwing) X(setHumanize) X(setMetronomeEnabled)      \
    X(setBeatSection) X(setCurrentBeatStyleIndex) X(setLv2Bypassed) X(setStudioLoopEnabled)                    \
    X(setCurrentHymnIndex) X(setHymnLearnMode) X(setHymnPlaying) X(setHymnAutoHarmony)                          \
    X(selectChurchDenomination) X(setProArrangerEnabled) X(setArrangerPlayMode) X(setArrangerAutoFill)         \
    X(setSmartChordEnabled) X(setArrangerChordDegree) X(setArrangerProgressionIndex) X(setBeatsVolume)          \
    X(setBeatsMuted) X(setStyleVolume) X(setStyleMuted) X(setStyleBassVolume) X(setStyleChordVolume)           \
    X(setStyleLeadVolume) X(setPianoVolume) X(setPianoMuted) X(setLayer2Volume) X(setLayer2Muted)              \
    X(setSplitBassVolume) X(setSplitBassMuted) X(setMicVolume) X(setMicMuted) X(setMasterVolume)               \
    X(setAutoTuneEnabled) X(setAutoTuneMode) X(setCameraEnabled) X(setCameraCorner) X(setCameraMirror)          \
    X(setWatermarkEnabled) X(setWatermarkText) X(setWatermarkSubtext) X(setBroadcastDrawerOpen)                 \
    X(setStreamYoutubeEnabled) X(setStreamYoutubeKey) X(setStreamFacebookEnabled) X(setStreamFacebookKey)      \
    X(setStreamTiktokEnabled) X(setStreamTiktokUrl) X(setStreamTiktokKey) X(setRecordBroadcastMp4)             \
    X(setMicEnabled) X(setMicMonitorEnabled) X(setPhoneDrawerOpen) X(setPhoneUsePublicLink)
// clang-format on
#define TMB_WRITER_EXISTS(writer)                                                                            \
    static_assert(std::is_member_function_pointer_v<decltype(&WorkstationController::writer)>);
#define TMB_WRITER_NAME(writer) #writer " "
TMB_WRITERS(TMB_WRITER_EXISTS)
const char writers[] = TMB_WRITERS(TMB_WRITER_NAME);

const char signalSignatures[] =
    "currentModeChanged() fullScreenPerformanceChanged() statusBannerChanged() loadingInstrumentChanged() "
    "activePresetsChanged() drumKitChanged() pianoParamsChanged() pedalStateChanged() wheelsChanged() "
    "keyboardStateChanged() keyStateUpdated(int,bool,int) workstationChanged() registrationsChanged() "
    "beatStateChanged() beatGridChanged() lv2StateChanged() studioStateChanged() recordedNotesChanged() "
    "audioSettingsChanged() midiDevicesChanged() midiActivityChanged() metersUpdated() "
    "presetsCatalogChanged() "
    "hymnStateChanged() hymnStepChanged() arrangerStateChanged() autoTuneStateChanged() "
    "broadcastStateChanged() "
    "micStateChanged() phoneBridgeChanged()";

// Invokable operations by result, each overload that omits an argument listed after the full one.
const std::pair<const char*, const char*> operations[] = {
    {"void",
     "applyMixBalancePreset(int) cycleAutoTuneMode() rescanAudioInputDevices() startPhoneBridgeServer() "
     "connectUsbAndroidPhoneAdb() copyPhoneBridgeUrl() startPublicPhoneLink() setCustomPublicHost(QString) "
     "copyPublicPhoneUrl() cycleCameraCorner() requestCameraPermissionAndPower() "
     "openOneClickStreamPlatform(QString) toggleLiveBroadcast() stopLiveBroadcast() "
     "openLastRecordedVideo() openUserManualPdf() pasteYoutubeKeyFromClipboard() "
     "pasteFacebookKeyFromClipboard() pasteTiktokKeyFromClipboard() noteOn(int,int) noteOn(int) "
     "noteOff(int) panicAllNotesOff() toggleAbCompare() resetToDefaultPiano() "
     "selectPresetForSlot(int,QString) toggleFavoritePreset(QString) selectDrumKitByIndex(int) "
     "loadRegistration(int) saveCurrentToRegistration(int,QString) toggleBeatStep(int,int) "
     "triggerBeatFill() tapTempo() triggerDrumPad(int,int) triggerDrumPad(int) unloadLv2Plugin() "
     "rescanLv2Plugins() startStudioRecord() stopStudioTransport() toggleStudioPlayPause() "
     "addPianoRollNote(int,double,double,int) addPianoRollNote(int,double,double) "
     "moveResizePianoRollNote(int,int,double,double) deletePianoRollNote(int) clearRecordedNotes() "
     "quantizeRecordedNotes(double,float) quantizeRecordedNotes(double) transposeRecordedNotes(int) "
     "undoMidiEdit() redoMidiEdit() setChannelVolume(int,float) setChannelPan(int,float) "
     "setChannelMuted(int,bool) setChannelSoloed(int,bool) resetMasterClipIndicator() rescanMidiDevices() "
     "ignoreMidiPort(int,int,bool) startMidiLearn(QString,QString) cancelMidiLearn() resetSamsonProfile() "
     "clearMidiActivityLog() playTestTone() restartHymnLesson() stepHymnForward() stepHymnBackward() "
     "triggerChoirPitchPipe() selectChurchDenomination(int) triggerProChordDegree(int) "
     "triggerStyleQuickStart(int) launchStylePreset(int,int) launchStylePreset(int) "
     "clearAllCustomStyStyles()"},
    {"bool",
     "selectAudioInputDevice(QString) isKeyPressed(int) importInstrumentLibrary(QString) "
     "loadLv2Plugin(QString) configureDrumGizmo(QString,QString) exportMidiFile(QString) "
     "importMidiFile(QString) exportWavFile(QString) isChannelMuted(int) isChannelSoloed(int) "
     "connectMidiPort(int,int) disconnectMidiPort(int,int) applyAudioSettings(QString,QString,int,int) "
     "saveProjectToFile(QString,QString) loadProjectFromFile(QString) isGuideMelodyKey(int) "
     "isGuideChordKey(int) importStyFile(QString) removeCustomStyStyle(int)"},
    {"float", "lv2BusPeak(int) channelVolume(int) channelPan(int) channelPeakL(int) channelPeakR(int)"},
    {"int", "importStyFiles(QVariantList) importStyFolder(QString) scanUsbFlashDiskForSty()"},
    {"QVariantList", "queryPresets(QString,QString,bool)"},
};

// Published beyond the list above, each for a reason.
const std::pair<const char*, const char*> extras[] = {
    {"audioThreadRealtime", "SYSTEM's \"Audio thread: realtime\" line"},
    {"stepMainPreset(int)", "the top bar's previous and next preset buttons"},
    {"presetCategories()", "the categories SOUNDS offers"},
};

} // namespace

class ControllerLifecycleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    // Start-up without a sound server or sequencer says so. A crashed session's autosave
    // outlives it (kept aside, replacing an older copy). 600 ms later one shell line
    // unmutes the sound server and mixer (stubs only). An omitted play mode is 0
    // whatever the arranger played before.
    void startsWithoutHardwareAndSaysSo() {
        const QString line =
            u"if pactl list short sink-inputs 2>/dev/null | grep -q '4294967295'; then systemctl --user "
            "restart wireplumber; sleep 0.8; fi; pactl set-sink-mute @DEFAULT_SINK@ 0 2>/dev/null || true; "
            "pactl set-source-mute @DEFAULT_SOURCE@ 0 2>/dev/null || true; pactl set-source-volume "
            "@DEFAULT_SOURCE@ 75% 2>/dev/null || true; amixer -c 0 sset 'Master' unmute 2>/dev/null || true; "
            "amixer -c 0 sset 'Speaker' 100% unmute 2>/dev/null || true; amixer -c 0 sset 'Headphone' 100% "
            "unmute 2>/dev/null || true"_s;
        // A stream stuck on an invalid node: the line restarts the session manager.
        test::setStubReply(u"pactl"_s, "41\t57\t4294967295\tPipeWire\ts16le 2ch 48000Hz\n");
        const qsizetype before = test::stubCalls().size();
        WorkstationController controller;
        QCOMPARE(controller.statusBanner(), u"Ready"_s);
        ProjectManager& projects = controller.projectManager();
        QVERIFY(test::writeTestFile(projects.previousSessionAutosavePath(), "older"));
        QVERIFY(test::writeTestFile(projects.autosavePath(), "crashed"));
        // The private runtime folder has no sound server and the machine no sequencer.
        const bool audio = controller.initialize();
        const QString banner = controller.statusBanner();
        QVERIFY(!projects.hasRecoverableAutosave());
        QFile kept(projects.previousSessionAutosavePath());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), "crashed");
        const auto commands = [&] {
            QStringList run;
            for (const test::StubCall& call : test::stubCalls().mid(before)) {
                const QString args = call.arguments.join(QLatin1Char(' '));
                if (args == u"wpctl status"_s || args == u"pactl list sources"_s)
                    continue; // audio start's lists
                if (args == u"hostname -I"_s || args.startsWith(u"python3 -u "_s))
                    continue; // the phone bridge, started with the line
                run << args;
                if (call.parentArguments != QStringList({u"/bin/sh"_s, u"-c"_s, line}))
                    run << u"started by: "_s + call.parentArguments.join(QLatin1Char(' '));
            }
            return run;
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            commands(),
            QStringList(
                {u"pactl list short sink-inputs"_s, u"systemctl --user restart wireplumber"_s,
                 u"pactl set-sink-mute @DEFAULT_SINK@ 0"_s, u"pactl set-source-mute @DEFAULT_SOURCE@ 0"_s,
                 u"pactl set-source-volume @DEFAULT_SOURCE@ 75%"_s, u"amixer -c 0 sset Master unmute"_s,
                 u"amixer -c 0 sset Speaker 100% unmute"_s, u"amixer -c 0 sset Headphone 100% unmute"_s}),
            8000);
        test::setStubReply(u"pactl"_s, {});
        controller.setArrangerPlayMode(1);
        controller.launchStylePreset(3);
        QCOMPARE(u"%1 %2"_s.arg(controller.currentBeatStyleIndex()).arg(controller.arrangerPlayMode()),
                 u"3 0"_s);
        controller.launchStylePreset(3, 1);
        QCOMPARE(controller.arrangerPlayMode(), 1);
        if (audio) QSKIP("an audio device plays on this machine without a sound server");
        QCOMPARE(controller.activeAudioBackend() + u'|' + controller.primaryControllerName(),
                 u"None|"_s + noMidi);
        QCOMPARE(banner, u"Zero-Setup Ready • %1 • No audio output"_s.arg(noMidi));
    }

    // Start-up loads the first DrumGizmo; another plug-in replaces it, its buses sound.
    void startUpLoadsTheFirstDrumGizmo() {
        QVERIFY(test::useLv2Bundles({u"mda.lv2"_s, u"drumgizmo.lv2"_s}));
        WorkstationController controller;
        controller.initialize();
        QCOMPARE(controller.activeLv2Name(), u"DrumGizmo"_s);
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 4096);
        std::vector<float> out(2 * 4096);
        QVERIFY(controller.loadLv2Plugin(u"http://drobilla.net/plugins/mda/EPiano"_s));
        QCOMPARE(controller.statusBanner(), u"Loaded MDA ePiano (2 audio outputs)"_s);
        for (int block = 0; block < 4; ++block) {
            engine.lv2Host.sendMidiNoteOn(0, 60 + block, 100);
            engine.processAudioCallback(out.data(), 4096);
        }
        // Its two buses sound; none is past the sixteenth.
        QVERIFY(controller.lv2BusPeak(0) > 0.0f && controller.lv2BusPeak(1) > 0.0f);
        QCOMPARE(controller.lv2BusPeak(16) + controller.lv2BusPeak(-1), 0.0f);
        controller.unloadLv2Plugin();
        QVERIFY(!controller.lv2Loaded());
        test::useLv2Bundles({});
    }

    // The phone as microphone opens its drawer and starts the bridge.
    void microphoneSelectionAndSwitch() {
        WorkstationController c;
        QVERIFY(c.selectAudioInputDevice(u"phone_wireless_mic"_s));
        QVERIFY(c.phoneDrawerOpen() && !c.phoneBridgeUrl().isEmpty());
        QCOMPARE(c.activeInputDeviceId(), u"phone_wireless_mic"_s);
        QSignalSpy mic(&c, &WorkstationController::micStateChanged);
        c.setMicEnabled(true);
        c.setMicEnabled(true);
        QCOMPARE(mic.count(), 1);
    }

    // A mode is announced only when it changes; entering DRUMS (3) first resets the modifiers.
    void currentModeChangesOnlyOnNewValues() {
        WorkstationController c;
        c.setLayer2Enabled(true);
        c.arrangerState().proArrangerEnabled = true;
        QStringList announced; // mode, layer and arranger at each announcement
        connect(&c, &WorkstationController::currentModeChanged, this, [&] {
            announced << u"%1 %2 %3"_s.arg(c.currentMode())
                             .arg(c.layer2Enabled())
                             .arg(c.arrangerState().proArrangerEnabled);
        });
        c.setCurrentMode(0);
        c.setCurrentMode(8);
        c.setCurrentMode(3);
        c.setLayer2Enabled(true);
        c.setCurrentMode(3); // unchanged: nothing announced, nothing reset
        QCOMPARE(announced, QStringList({"8 1 1", "3 0 0"}));
        QVERIFY(c.layer2Enabled());
        // Only the ten views exist: anything else is the nearest of them.
        announced.clear();
        for (int mode : {12, 9, -1, 0, 10})
            c.setCurrentMode(mode);
        QCOMPARE(announced, QStringList({"9 1 0", "0 1 0", "9 1 0"}));
    }

    void aDyingAlsaOutputIsReported() {
        // A sound server of this test's own, so killing it disturbs nothing else.
        const auto session = [](const QString& command) {
            QProcess bash;
            bash.setWorkingDirectory(test::sourceDir());
            bash.start(u"bash"_s, {u"-c"_s, u"source scripts/pipewire-session.sh && "_s + command});
            const bool done = bash.waitForFinished(10000) && bash.exitCode() == 0;
            return done ? QString::fromUtf8(bash.readAllStandardOutput()).trimmed() : QString();
        };
        const QString runtime = session(u"pw_session_start >/dev/null && echo $TMB_PW_RUNTIME_DIR"_s);
        if (runtime.isEmpty()) QSKIP("a private PipeWire session cannot start here");
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        const auto stop = qScopeGuard([&] { // also after a failed check: nothing of it stays behind
            qputenv("XDG_RUNTIME_DIR", savedRuntime);
            session(u"TMB_PW_RUNTIME_DIR="_s + runtime + u" pw_session_stop"_s);
        });

        {
            WorkstationController controller;
            AudioEngine& engine = controller.audioEngine();
            QVERIFY(engine.restartWithSettings(u"ALSA"_s, u"default"_s, 48000, 256));
            QCOMPARE(controller.activeAudioBackend(), u"ALSA"_s);
            controller.initialize(); // timers; audio restarts on PipeWire here
            QVERIFY(engine.restartWithSettings(u"ALSA"_s, u"default"_s, 48000, 256));
            QSignalSpy settings(&controller, &WorkstationController::audioSettingsChanged);

            QFile pidFile(runtime + u"/pipewire.pid"_s);
            QVERIFY(pidFile.open(QIODevice::ReadOnly));
            QProcess::execute(u"kill"_s, {QString::fromLatin1(pidFile.readAll().trimmed())});

            QTRY_VERIFY_WITH_TIMEOUT(controller.statusBanner().startsWith(u"⚠ Audio output stopped"_s), 8000);
            QCOMPARE(controller.activeAudioBackend() + u'|' + controller.activeAudioDevice(),
                     u"None|No audio output"_s);
            QVERIFY(settings.count() >= 1 && !engine.running);
        }
    }

    // ------------------------------------------------------------ the published surface

    void propertiesHaveTheirTypesWritersAndSignals() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        QStringList listed, writable;
        for (const Expected& e : surface) {
            for (const QString& name : QString::fromLatin1(e.names).split(QLatin1Char(' '))) {
                listed << name;
                const int index = meta.indexOfProperty(name.toLatin1());
                QVERIFY2(index >= 0, qPrintable(name));
                const QMetaProperty property = meta.property(index);
                QVERIFY2(property.metaType().id() == e.type,
                         qPrintable(u"%1 is %2"_s.arg(name, property.metaType().name())));
                QVERIFY2(property.isWritable() == e.writable, qPrintable(name));
                if (e.writable)
                    writable << (name == u"selectedChurchIndex"_s
                                     ? u"selectChurchDenomination"_s
                                     : u"set"_s + name[0].toUpper() + name.mid(1));
                if (e.notify)
                    QVERIFY2(property.hasNotifySignal() && property.notifySignal().name() == e.notify,
                             qPrintable(name));
                else
                    QVERIFY2(property.isConstant() && !property.hasNotifySignal(), qPrintable(name));
            }
        }
        QCOMPARE(listed.size(), 200);
        QStringList named = QString::fromLatin1(writers).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        named.sort();
        writable.sort();
        QCOMPARE(writable, named);
        // The reverse: whatever else the class publishes is on the list of extras.
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            const QString name = QString::fromLatin1(meta.property(i).name());
            QVERIFY2(listed.contains(name) || isExtra(name), qPrintable(name));
        }
    }

    void signalsAndOperationsHaveTheirSignatures() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        QStringList listed = QString::fromLatin1(signalSignatures).split(QLatin1Char(' '));
        QCOMPARE(listed.size(), 30);
        for (const QString& signal : listed)
            QVERIFY2(meta.indexOfSignal(signal.toLatin1()) >= 0, qPrintable(signal));
        for (const auto& [result, signatures] : operations) {
            for (const QString& signature : QString::fromLatin1(signatures).split(QLatin1Char(' '))) {
                listed << signature;
                const int index = meta.indexOfMethod(signature.toLatin1());
                QVERIFY2(index >= 0, qPrintable(signature));
                QVERIFY2(meta.method(index).methodType() == QMetaMethod::Method, qPrintable(signature));
                QVERIFY2(qstrcmp(meta.method(index).typeName(), result) == 0, qPrintable(signature));
            }
        }
        QCOMPARE(listed.size(), 30 + 100);
        for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
            const QString signature = QString::fromLatin1(meta.method(i).methodSignature());
            QVERIFY2(listed.contains(signature) || isExtra(signature), qPrintable(signature));
        }
    }

private:
    static bool isExtra(const QString& name) {
        return std::any_of(std::begin(extras), std::end(extras),
                           [&](const auto& extra) { return name == QLatin1String(extra.first); });
    }
};

QTEST_GUILESS_MAIN(ControllerLifecycleTest)
#include "tst_controller_lifecycle.moc"
