// The published surface the views rely on: each property's type, whether the
// scene may write it, and the signal that announces it. The table is written out
// here on purpose, from the interface description, not generated from the header.

#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QMetaProperty>
#include <QTest>

using namespace tmb;

namespace {

struct Expected {
    const char* name;
    QMetaType::Type type;
    bool writable;
    const char* notify; // nullptr: constant
};

const Expected surface[] = {
    {"currentMode", QMetaType::Int, true, "currentModeChanged"},
    {"fullScreenPerformance", QMetaType::Bool, true, "fullScreenPerformanceChanged"},
    {"statusBanner", QMetaType::QString, false, "statusBannerChanged"},
    {"loadingInstrument", QMetaType::Bool, false, "loadingInstrumentChanged"},
    {"mainPresetId", QMetaType::QString, false, "activePresetsChanged"},
    {"mainPresetName", QMetaType::QString, false, "activePresetsChanged"},
    {"mainPresetCategory", QMetaType::QString, false, "activePresetsChanged"},
    {"mainPresetEngineLabel", QMetaType::QString, false, "activePresetsChanged"},
    {"layer2PresetId", QMetaType::QString, false, "activePresetsChanged"},
    {"layer2PresetName", QMetaType::QString, false, "activePresetsChanged"},
    {"splitPresetId", QMetaType::QString, false, "activePresetsChanged"},
    {"splitPresetName", QMetaType::QString, false, "activePresetsChanged"},
    {"currentDrumKitName", QMetaType::QString, false, "drumKitChanged"},
    {"availableDrumKits", QMetaType::QVariantList, false, nullptr},
    {"brightness", QMetaType::Float, true, "pianoParamsChanged"},
    {"damperResonance", QMetaType::Float, true, "pianoParamsChanged"},
    {"stringResonance", QMetaType::Float, true, "pianoParamsChanged"},
    {"keyOffVolume", QMetaType::Float, true, "pianoParamsChanged"},
    {"pedalNoiseVolume", QMetaType::Float, true, "pianoParamsChanged"},
    {"lidPosition", QMetaType::Float, true, "pianoParamsChanged"},
    {"reverbAmount", QMetaType::Float, true, "pianoParamsChanged"},
    {"reverbRoomSize", QMetaType::Float, true, "pianoParamsChanged"},
    {"chorusAmount", QMetaType::Float, true, "pianoParamsChanged"},
    {"delayAmount", QMetaType::Float, true, "pianoParamsChanged"},
    {"driveAmount", QMetaType::Float, true, "pianoParamsChanged"},
    {"compressorAmount", QMetaType::Float, true, "pianoParamsChanged"},
    {"stereoWidth", QMetaType::Float, true, "pianoParamsChanged"},
    {"tuningHz", QMetaType::Float, true, "pianoParamsChanged"},
    {"transposeSemitones", QMetaType::Int, true, "pianoParamsChanged"},
    {"octaveShift", QMetaType::Int, true, "pianoParamsChanged"},
    {"touchCurve", QMetaType::Int, true, "pianoParamsChanged"},
    {"abSlotBActive", QMetaType::Bool, false, "pianoParamsChanged"},
    {"sustainPedal", QMetaType::Bool, true, "pedalStateChanged"},
    {"sostenutoPedal", QMetaType::Bool, true, "pedalStateChanged"},
    {"softPedal", QMetaType::Bool, true, "pedalStateChanged"},
    {"autoPedalEnabled", QMetaType::Bool, true, "pedalStateChanged"},
    {"sustainLatched", QMetaType::Bool, true, "pedalStateChanged"},
    {"activePadIndex", QMetaType::Int, false, "pedalStateChanged"},
    {"lastNotePlayed", QMetaType::Int, false, "keyboardStateChanged"},
    {"lastVelocityPlayed", QMetaType::Int, false, "keyboardStateChanged"},
    {"activeVoiceCount", QMetaType::Int, false, "metersUpdated"},
    {"audioCpuLoad", QMetaType::Float, false, "metersUpdated"},
    {"masterClipped", QMetaType::Bool, false, "metersUpdated"},
    {"pitchBendValue", QMetaType::Float, true, "wheelsChanged"},
    {"modWheelValue", QMetaType::Float, true, "wheelsChanged"},
    {"layer2Enabled", QMetaType::Bool, true, "workstationChanged"},
    {"splitEnabled", QMetaType::Bool, true, "workstationChanged"},
    {"splitKey", QMetaType::Int, true, "workstationChanged"},
    {"velocitySwitchEnabled", QMetaType::Bool, true, "workstationChanged"},
    {"velocityThreshold", QMetaType::Int, true, "workstationChanged"},
    {"arpeggiatorEnabled", QMetaType::Bool, true, "workstationChanged"},
    {"arpMode", QMetaType::Int, true, "workstationChanged"},
    {"arpOctaves", QMetaType::Int, true, "workstationChanged"},
    {"chordMemoryEnabled", QMetaType::Bool, true, "workstationChanged"},
    {"layer2OctaveOffset", QMetaType::Int, true, "workstationChanged"},
    {"splitOctaveOffset", QMetaType::Int, true, "workstationChanged"},
    {"autoTuneEnabled", QMetaType::Bool, true, "autoTuneStateChanged"},
    {"autoTuneMode", QMetaType::Int, true, "autoTuneStateChanged"},
    {"autoTuneModeName", QMetaType::QString, false, "autoTuneStateChanged"},
    {"autoTuneStatusText", QMetaType::QString, false, "autoTuneStateChanged"},
    {"styleVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"styleMuted", QMetaType::Bool, true, "arrangerStateChanged"},
    {"styleBassVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"styleChordVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"styleLeadVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"pianoVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"masterVolume", QMetaType::Float, true, "arrangerStateChanged"},
    {"activeAudioBackend", QMetaType::QString, false, "audioSettingsChanged"},
    {"activeAudioDevice", QMetaType::QString, false, "audioSettingsChanged"},
    {"audioSampleRate", QMetaType::Int, false, "audioSettingsChanged"},
    {"audioBufferFrames", QMetaType::Int, false, "audioSettingsChanged"},
    {"audioLatencyMs", QMetaType::Float, false, "audioSettingsChanged"},
    {"primaryControllerName", QMetaType::QString, false, "midiDevicesChanged"},
    {"midiActivityLog", QMetaType::QVariantList, false, "midiActivityChanged"},
};

// Invokable operations the views call, with their argument counts.
const std::pair<const char*, int> operations[] = {
    {"noteOn", 2},
    {"noteOn", 1},
    {"noteOff", 1},
    {"isKeyPressed", 1},
    {"panicAllNotesOff", 0},
    {"toggleAbCompare", 0},
    {"triggerDrumPad", 1},
    {"resetToDefaultPiano", 0},
    {"queryPresets", 3},
    {"selectPresetForSlot", 2},
    {"toggleFavoritePreset", 1},
    {"importInstrumentLibrary", 1},
    {"channelVolume", 1},
    {"setChannelVolume", 2},
    {"channelPan", 1},
    {"setChannelPan", 2},
    {"isChannelMuted", 1},
    {"setChannelMuted", 2},
    {"isChannelSoloed", 1},
    {"setChannelSoloed", 2},
    {"channelPeakL", 1},
    {"channelPeakR", 1},
    {"resetMasterClipIndicator", 0},
    {"applyMixBalancePreset", 1},
    {"applyAudioSettings", 4},
    {"playTestTone", 0},
    {"cycleAutoTuneMode", 0},
};

} // namespace

class PropertySurfaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

    void propertiesHaveTheirTypesWritersAndSignals() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        for (const Expected& e : surface) {
            const int index = meta.indexOfProperty(e.name);
            QVERIFY2(index >= 0, e.name);
            const QMetaProperty property = meta.property(index);
            QVERIFY2(property.metaType().id() == e.type,
                     qPrintable(QStringLiteral("%1 is %2").arg(e.name, property.metaType().name())));
            QVERIFY2(property.isWritable() == e.writable, e.name);
            if (e.notify) {
                QVERIFY2(property.hasNotifySignal(), e.name);
                QCOMPARE(property.notifySignal().name(), QByteArray(e.notify));
            } else {
                QVERIFY2(property.isConstant() || !property.hasNotifySignal(), e.name);
            }
        }
    }

    void operationsAreInvokable() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        for (const auto& [name, arguments] : operations) {
            bool found = false;
            for (int i = meta.methodOffset(); i < meta.methodCount() && !found; ++i) {
                const QMetaMethod method = meta.method(i);
                found = method.methodType() == QMetaMethod::Method && method.name() == name &&
                        method.parameterCount() == arguments;
            }
            QVERIFY2(found, qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(name)).arg(arguments)));
        }
    }

    void keyStateSignalCarriesNoteStateAndVelocity() {
        const QMetaObject& meta = WorkstationController::staticMetaObject;
        const int index = meta.indexOfSignal("keyStateUpdated(int,bool,int)");
        QVERIFY(index >= 0);
    }
};

QTEST_GUILESS_MAIN(PropertySurfaceTest)
#include "tst_property_surface.moc"
