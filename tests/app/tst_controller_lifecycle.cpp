// The controller's start-up, modes, meter pacing, a dying backend, and the published surface
// (each property's type, writability and signal, written out on purpose, not generated).

#include "AppTestWorld.h"
#include "app/WorkstationController.h"
#include "engines/EngineTestSupport.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QMetaProperty>
#include <QProcess>
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

const Expected surface[] = {
    {"currentModeChanged", QMetaType::Int, true, "currentMode"},
    {"fullScreenPerformanceChanged", QMetaType::Bool, true, "fullScreenPerformance"},
    {"statusBannerChanged", QMetaType::QString, false, "statusBanner"},
    {"loadingInstrumentChanged", QMetaType::Bool, false, "loadingInstrument"},
    {"activePresetsChanged", QMetaType::QString, false,
     "mainPresetId mainPresetName mainPresetCategory mainPresetEngineLabel layer2PresetId layer2PresetName "
     "splitPresetId splitPresetName"},
    {"drumKitChanged", QMetaType::QString, false, "currentDrumKitName"},
    {nullptr, QMetaType::QVariantList, false, "availableDrumKits"},
    {"pianoParamsChanged", QMetaType::Float, true,
     "brightness damperResonance stringResonance keyOffVolume pedalNoiseVolume lidPosition reverbAmount "
     "reverbRoomSize chorusAmount delayAmount driveAmount compressorAmount stereoWidth tuningHz"},
    {"pianoParamsChanged", QMetaType::Int, true, "transposeSemitones octaveShift touchCurve"},
    {"pianoParamsChanged", QMetaType::Bool, false, "abSlotBActive"},
    {"pedalStateChanged", QMetaType::Bool, true,
     "sustainPedal sostenutoPedal softPedal autoPedalEnabled sustainLatched"},
    {"pedalStateChanged", QMetaType::Int, false, "activePadIndex"},
    {"keyboardStateChanged", QMetaType::Int, false, "lastNotePlayed lastVelocityPlayed"},
    {"metersUpdated", QMetaType::Int, false, "activeVoiceCount"},
    {"metersUpdated", QMetaType::Float, false, "audioCpuLoad"},
    {"metersUpdated", QMetaType::Bool, false, "masterClipped"},
    {"wheelsChanged", QMetaType::Float, true, "pitchBendValue modWheelValue"},
    {"workstationChanged", QMetaType::Bool, true,
     "layer2Enabled splitEnabled velocitySwitchEnabled arpeggiatorEnabled chordMemoryEnabled"},
    {"workstationChanged", QMetaType::Int, true,
     "splitKey velocityThreshold arpMode arpOctaves layer2OctaveOffset splitOctaveOffset"},
    {"autoTuneStateChanged", QMetaType::Bool, true, "autoTuneEnabled"},
    {"autoTuneStateChanged", QMetaType::Int, true, "autoTuneMode"},
    {"autoTuneStateChanged", QMetaType::QString, false, "autoTuneModeName autoTuneStatusText"},
    {"arrangerStateChanged", QMetaType::Float, true,
     "styleVolume styleBassVolume styleChordVolume styleLeadVolume pianoVolume masterVolume"},
    {"arrangerStateChanged", QMetaType::Bool, true, "styleMuted"},
    {"audioSettingsChanged", QMetaType::QString, false, "activeAudioBackend activeAudioDevice"},
    {"audioSettingsChanged", QMetaType::Int, false, "audioSampleRate audioBufferFrames"},
    {"audioSettingsChanged", QMetaType::Float, false, "audioLatencyMs"},
    {"audioSettingsChanged", QMetaType::Bool, false, "audioThreadRealtime"},
    {"audioSettingsChanged", QMetaType::Bool, false, "bluetoothAudioWarning"},
    {"audioSettingsChanged", QMetaType::QVariantList, false, "audioOutputs audioInputs"},
    {"audioSettingsChanged", QMetaType::QString, false, "activeInputDeviceId activeInputDeviceName"},
    {"micStateChanged", QMetaType::Bool, true, "micEnabled micMonitorEnabled"},
    {"phoneBridgeChanged", QMetaType::Bool, true, "phoneDrawerOpen phoneUsePublicLink"},
    {"phoneBridgeChanged", QMetaType::Bool, false,
     "phoneBridgeRunning phoneConnected phoneMicActive phoneCamActive"},
    {"phoneBridgeChanged", QMetaType::QString, false,
     "phoneBridgeUrl phoneUsbUrl phonePublicIpUrl phoneRemoteTunnelUrl phoneQrCodeUrl phoneCameraFrameUrl "
     "phoneStatusText"},
    {"lv2StateChanged", QMetaType::QVariantList, false, "lv2Plugins"},
    {"lv2StateChanged", QMetaType::Bool, false, "lv2Loaded"},
    {"lv2StateChanged", QMetaType::Bool, true, "lv2Bypassed"},
    {"lv2StateChanged", QMetaType::QString, false, "activeLv2Name lv2StatusMessage"},
    {"midiDevicesChanged", QMetaType::QString, false, "primaryControllerName midiLearnTarget"},
    {"midiDevicesChanged", QMetaType::QVariantList, false, "controllerMappings"},
    {"midiDevicesChanged", QMetaType::Bool, false, "midiLearnActive"},
    {"midiActivityChanged", QMetaType::QVariantList, false, "midiActivityLog"},
    {"beatStateChanged", QMetaType::Bool, true, "beatPlaying metronomeEnabled"},
    {"beatStateChanged", QMetaType::Float, true, "bpm swing humanize"},
    {"beatStateChanged", QMetaType::Int, true, "beatSection currentBeatStyleIndex"},
    {"beatStateChanged", QMetaType::Int, false, "userStyCount"},
    {"beatStateChanged", QMetaType::QVariantList, false, "beatStyles"},
    {"beatStateChanged", QMetaType::QString, false, "styStatusText detectedFlashDiskPath"},
    {"beatGridChanged", QMetaType::QVariantList, false, "beatStepGrid"},
    {"registrationsChanged", QMetaType::QVariantList, false, "registrations"},
    {"registrationsChanged", QMetaType::Int, false, "activeRegistrationSlot"},
    {"keyboardStateChanged", QMetaType::QString, false, "currentChordName"},
    {"arrangerStateChanged", QMetaType::Bool, true, "smartChordEnabled"},
    {"arrangerStateChanged", QMetaType::Int, true, "arrangerChordDegree"},
    {"arrangerStateChanged", QMetaType::QString, false, "arrangerActiveChordText"},
    {"arrangerStateChanged", QMetaType::Bool, true, "proArrangerEnabled arrangerAutoFill"},
    {"arrangerStateChanged", QMetaType::Int, true, "arrangerPlayMode arrangerProgressionIndex"},
    {"arrangerStateChanged", QMetaType::QString, false, "arrangerStyleName arrangerGenreFamily"},
    {"metersUpdated", QMetaType::Double, false, "studioPlayheadBeats"},
    {"studioStateChanged", QMetaType::Bool, false, "studioRecording studioPlaying"},
    {"studioStateChanged", QMetaType::Bool, true, "studioLoopEnabled"},
    {"studioStateChanged", QMetaType::QVariantList, false, "audioWaveform"},
    {"studioStateChanged", QMetaType::QString, false, "lastRecordedWavPath"},
    {"recordedNotesChanged", QMetaType::QVariantList, false, "recordedNotes"},
    {"recordedNotesChanged", QMetaType::Int, false, "recordedNoteCount"},
    {"recordedNotesChanged", QMetaType::Bool, false, "canUndoMidi canRedoMidi"},
    {nullptr, QMetaType::QVariantList, false, "hymnCatalog churchDenominations"},
    {"hymnStateChanged", QMetaType::Int, true, "currentHymnIndex hymnLearnMode selectedChurchIndex"},
    {"hymnStateChanged", QMetaType::Bool, true, "hymnPlaying hymnAutoHarmony"},
    {"hymnStateChanged", QMetaType::Int, false, "totalHymnSteps"},
    {"hymnStateChanged", QMetaType::QVariantList, false, "currentHymnSteps"},
    {"hymnStateChanged", QMetaType::QString, false,
     "currentHymnTitle currentHymnCategory currentHymnProgression currentHymnTip currentHymnFullLyrics "
     "selectedChurchName selectedChurchPresetSummary"},
    {"hymnStepChanged", QMetaType::Int, false, "currentHymnStepIndex hymnScoreHits hymnStreak"},
    {"hymnStepChanged", QMetaType::Double, false, "hymnPlayheadBeats"},
    {"hymnStepChanged", QMetaType::QString, false,
     "currentHymnLyric currentHymnSolfa currentHymnTargetNoteName currentHymnTargetChord "
     "currentHymnFingerHint"},
    {"broadcastStateChanged", QMetaType::Bool, true,
     "broadcastDrawerOpen streamYoutubeEnabled streamFacebookEnabled streamTiktokEnabled recordBroadcastMp4 "
     "cameraEnabled cameraMirror watermarkEnabled"},
    {"broadcastStateChanged", QMetaType::Bool, false, "broadcastActive hardwareCameraAvailable"},
    {"broadcastStateChanged", QMetaType::QString, true,
     "streamYoutubeKey streamFacebookKey streamTiktokUrl streamTiktokKey watermarkText watermarkSubtext"},
    {"broadcastStateChanged", QMetaType::QString, false,
     "broadcastStatusText broadcastElapsedText lastRecordedMp4Path cameraStatusMessage"},
    {"broadcastStateChanged", QMetaType::Int, true, "cameraCorner"},
};

// Invokable operations the views call, with their argument counts.
const char operations[] =
    "noteOn/2 noteOn/1 noteOff/1 isKeyPressed/1 panicAllNotesOff/0 toggleAbCompare/0 triggerDrumPad/1 "
    "resetToDefaultPiano/0 queryPresets/3 selectPresetForSlot/2 toggleFavoritePreset/1 "
    "importInstrumentLibrary/1 channelVolume/1 setChannelVolume/2 channelPan/1 setChannelPan/2 "
    "isChannelMuted/1 setChannelMuted/2 isChannelSoloed/1 setChannelSoloed/2 channelPeakL/1 channelPeakR/1 "
    "resetMasterClipIndicator/0 applyMixBalancePreset/1 applyAudioSettings/4 playTestTone/0 "
    "cycleAutoTuneMode/0 toggleBeatStep/2 triggerBeatFill/0 tapTempo/0 triggerProChordDegree/1 "
    "stepMainPreset/1 presetCategories/0 launchStylePreset/2 launchStylePreset/1 triggerStyleQuickStart/1 "
    "startStudioRecord/0 stopStudioTransport/0 toggleStudioPlayPause/0 addPianoRollNote/4 "
    "addPianoRollNote/3 moveResizePianoRollNote/4 deletePianoRollNote/1 clearRecordedNotes/0 "
    "quantizeRecordedNotes/2 quantizeRecordedNotes/1 transposeRecordedNotes/1 undoMidiEdit/0 redoMidiEdit/0 "
    "exportMidiFile/1 importMidiFile/1 exportWavFile/1 restartHymnLesson/0 stepHymnForward/0 "
    "stepHymnBackward/0 "
    "triggerChoirPitchPipe/0 selectChurchDenomination/1 isGuideMelodyKey/1 isGuideChordKey/1 "
    "selectAudioInputDevice/1 rescanAudioInputDevices/0 loadLv2Plugin/1 unloadLv2Plugin/0 rescanLv2Plugins/0 "
    "configureDrumGizmo/2 lv2BusPeak/1 "
    "startPhoneBridgeServer/0 connectUsbAndroidPhoneAdb/0 startPublicPhoneLink/0 setCustomPublicHost/1 "
    "copyPhoneBridgeUrl/0 copyPublicPhoneUrl/0 "
    "startMidiLearn/2 cancelMidiLearn/0 resetSamsonProfile/0 "
    "cycleCameraCorner/0 requestCameraPermissionAndPower/0 "
    "openOneClickStreamPlatform/1 toggleLiveBroadcast/0 stopLiveBroadcast/0 openLastRecordedVideo/0 "
    "openUserManualPdf/0 "
    "pasteYoutubeKeyFromClipboard/0 pasteFacebookKeyFromClipboard/0 pasteTiktokKeyFromClipboard/0 "
    "importStyFile/1 importStyFiles/1 importStyFolder/1 scanUsbFlashDiskForSty/0 removeCustomStyStyle/1 "
    "clearAllCustomStyStyles/0";

} // namespace

class ControllerLifecycleTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void startsWithoutHardwareAndSaysSo() {
        WorkstationController controller;
        QCOMPARE(controller.statusBanner(), u"Ready"_s);
        QSignalSpy banner(&controller, &WorkstationController::statusBannerChanged);
        // A crashed session's autosave outlives the next start (kept aside, replacing an older copy).
        ProjectManager& projects = controller.projectManager();
        QVERIFY(test::writeTestFile(projects.previousSessionAutosavePath(), "older"));
        QVERIFY(test::writeTestFile(projects.autosavePath(), "crashed"));
        // The private runtime folder has no sound server and the machine no sequencer.
        const bool audio = controller.initialize();
        QVERIFY(!projects.hasRecoverableAutosave());
        QFile kept(projects.previousSessionAutosavePath());
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), "crashed");
        if (audio) QSKIP("an audio device plays on this machine without a sound server");
        QCOMPARE(controller.activeAudioBackend() + u'|' + controller.primaryControllerName(),
                 u"None|"_s + noMidi);
        QCOMPARE(controller.statusBanner(), u"Zero-Setup Ready • %1 • No audio output"_s.arg(noMidi));
        QVERIFY(banner.count() >= 1);

        controller.playTestTone();
        QCOMPARE(controller.statusBanner(), u"Playing Stereo Piano Chord Test Tone..."_s);
    }

    // Start-up loads the first DrumGizmo, which takes the longest blocks; LV2 banners.
    void startUpLoadsTheFirstDrumGizmo() {
        QVERIFY(test::useLv2Bundles({u"mda.lv2"_s, u"drumgizmo.lv2"_s}));
        WorkstationController controller;
        controller.initialize();
        QVERIFY(controller.lv2Loaded());
        QCOMPARE(controller.activeLv2Name(), u"DrumGizmo"_s);
        AudioEngine& engine = controller.audioEngine();
        engine.prepareOffline(48000, 4096);
        std::vector<float> out(2 * 4096);
        for (int block = 0; block < 4; ++block) {
            engine.lv2Host.sendMidiNoteOn(9, 36, 100);
            engine.processAudioCallback(out.data(), 4096);
        }
        QVERIFY(controller.lv2Loaded());

        QSignalSpy lv2(&controller, &WorkstationController::lv2StateChanged);
        QVERIFY(!controller.loadLv2Plugin(u"urn:x"_s));
        QCOMPARE(controller.statusBanner(), u"LV2 plugin not found: urn:x"_s);
        QVERIFY(controller.loadLv2Plugin(u"http://drobilla.net/plugins/mda/EPiano"_s));
        QCOMPARE(controller.statusBanner(), u"Loaded MDA ePiano (2 audio outputs)"_s);
        controller.setLv2Bypassed(true);
        QVERIFY(controller.lv2Bypassed());
        const QString kit = test::usePrivateHome() + u"/kit.xml"_s;
        QFile(kit).open(QIODevice::WriteOnly);
        QVERIFY(controller.configureDrumGizmo(QUrl::fromLocalFile(kit).toString(), QString()));
        QCOMPARE(controller.statusBanner(), u"Configured DrumGizmo kit: kit.xml"_s);
        controller.unloadLv2Plugin();
        QCOMPARE(controller.statusBanner(), u"Unloaded LV2 Plugin"_s);
        QCOMPARE(lv2.count(), 5);
        QVERIFY(!controller.lv2Loaded());
        test::useLv2Bundles({});
    }

    // The phone as microphone opens its drawer; the switch answers on the banner once.
    void microphoneSelectionAndSwitch() {
        WorkstationController c;
        QSignalSpy phone(&c, &WorkstationController::phoneBridgeChanged);
        QSignalSpy mic(&c, &WorkstationController::micStateChanged);
        QVERIFY(c.selectAudioInputDevice(u"phone_wireless_mic"_s));
        QVERIFY(c.phoneDrawerOpen());
        QVERIFY(phone.count() >= 1 && !c.phoneBridgeUrl().isEmpty()); // the bridge starts
        QCOMPARE(c.activeInputDeviceId(), u"phone_wireless_mic"_s);
        QCOMPARE(
            c.statusBanner(),
            u"🎙 MICROPHONE DEVICE SELECTED: 📱 Phone Wireless / USB Auxiliary Mic (Android & iPhone)"_s);
        c.setMicEnabled(true);
        c.setMicEnabled(true);
        QVERIFY(c.statusBanner().startsWith(u"MICROPHONE ACTIVE (📱 Phone Wireless"_s));
        c.setMicMonitorEnabled(true);
        QCOMPARE(mic.count(), 3);
        c.setMicEnabled(false);
        QCOMPARE(c.statusBanner(), u"MICROPHONE MUTED"_s);
        c.rescanAudioInputDevices();
        QCOMPARE(c.statusBanner(), u"Rescanned Microphone, USB & Phone Audio Input Devices"_s);
        QCOMPARE(c.audioInputs().last().toMap().value(u"isDefault"_s), QVariant(true));
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

        QSignalSpy fullScreen(&c, &WorkstationController::fullScreenPerformanceChanged);
        c.setFullScreenPerformance(true);
        c.setFullScreenPerformance(true);
        QVERIFY(fullScreen.count() == 1 && c.fullScreenPerformance());
    }

    // 600 ms after start-up one shell line unmutes the sound server and mixer (stubs only).
    void deferredStartRunsTheUnmuteLine() {
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
        controller.initialize();
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
    }

    void metersRefreshSlowlyWhenIdleFasterWhenSoundingFastestWithTheBeat() {
        WorkstationController controller;
        controller.initialize();
        controller.audioEngine().prepareOffline(48000, 256);
        test::BackendThread backend(controller.audioEngine(), std::chrono::microseconds(5333), false);
        QSignalSpy meters(&controller, &WorkstationController::metersUpdated);
        const auto countOver = [&meters](int ms) {
            return meters.clear(), QTest::qWait(ms), meters.count();
        };
        const auto idle = countOver(3000); // every 300 ms
        controller.playTestTone();         // sounds 0.9 s: every 60 ms
        const auto sounding = countOver(700);
        controller.setBeatPlaying(true); // the step light moves: every 30 ms
        QTest::qWait(100);
        const auto beat = countOver(700);
        controller.setBeatPlaying(false);
        TMB_VERIFY(idle >= 5 && idle <= 16 && sounding >= 6 && sounding <= 15 && beat >= 15, idle, sounding,
                   beat);
    }

    void aDyingAlsaOutputIsReported() {
        // A sound server of this test's own, so killing it disturbs nothing else.
        const QString script = test::sourceDir() + u"/scripts/pipewire-session.sh"_s;
        const QString state =
            QDir::temp().filePath(u"tmb-pw-dying-%1.env"_s.arg(QCoreApplication::applicationPid()));
        QProcess session;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"TMB_PW_STATE_FILE"_s, state);
        session.setProcessEnvironment(env);
        session.start(u"bash"_s, {script, u"start"_s});
        if (!session.waitForFinished(10000) || session.exitCode() != 0)
            QSKIP("a private PipeWire session cannot start here");
        QFile stateFile(state);
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const QString exports = QString::fromUtf8(stateFile.readAll());
        const QString runtime = exports.section(u"TMB_PW_RUNTIME_DIR="_s, 1).section(QLatin1Char(' '), 0, 0);
        QVERIFY(QFile::exists(runtime + u"/pipewire-0"_s));
        const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());

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
            QVERIFY(controller.statusBanner().endsWith(u"• No audio output"_s));
            QCOMPARE(controller.activeAudioBackend() + u'|' + controller.activeAudioDevice(),
                     u"None|No audio output"_s);
            QVERIFY(settings.count() >= 1 && !engine.running);
        }
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        session.start(u"bash"_s, {script, u"stop"_s});
        session.waitForFinished(10000);
    }

    // ------------------------------------------------------------ the published surface

    void propertiesHaveTheirTypesWritersAndSignals() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        for (const Expected& e : surface) {
            for (const QString& name : QString::fromLatin1(e.names).split(QLatin1Char(' '))) {
                const int index = meta.indexOfProperty(name.toLatin1());
                QVERIFY2(index >= 0, qPrintable(name));
                const QMetaProperty property = meta.property(index);
                QVERIFY2(property.metaType().id() == e.type,
                         qPrintable(u"%1 is %2"_s.arg(name, property.metaType().name())));
                QVERIFY2(property.isWritable() == e.writable, qPrintable(name));
                if (e.notify)
                    QVERIFY2(property.hasNotifySignal() && property.notifySignal().name() == e.notify,
                             qPrintable(name));
                else
                    QVERIFY2(property.isConstant() || !property.hasNotifySignal(), qPrintable(name));
            }
        }
    }

    void operationsAreInvokable() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        for (const QString& operation : QString::fromLatin1(operations).split(QLatin1Char(' '))) {
            const QByteArray name = operation.section(QLatin1Char('/'), 0, 0).toLatin1();
            const int arguments = operation.section(QLatin1Char('/'), 1).toInt();
            bool found = false;
            for (int i = meta.methodOffset(); i < meta.methodCount() && !found; ++i) {
                const QMetaMethod method = meta.method(i);
                found = method.methodType() == QMetaMethod::Method && method.name() == name &&
                        method.parameterCount() == arguments;
            }
            QVERIFY2(found, qPrintable(operation));
        }
        // The key signal carries the note, its state and the velocity.
        QVERIFY(meta.indexOfSignal("keyStateUpdated(int,bool,int)") >= 0);
    }
};

QTEST_GUILESS_MAIN(ControllerLifecycleTest)
#include "tst_controller_lifecycle.moc"
