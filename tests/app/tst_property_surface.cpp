// The published surface the views rely on: each property's type, whether the
// scene may write it, and the signal that announces it. The table is written out
// here on purpose, from the interface description, not generated from the header.

#include "app/WorkstationController.h"
#include "support/TestEnvironment.h"

#include <QMetaProperty>
#include <QTest>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

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
    {"midiDevicesChanged", QMetaType::QString, false, "primaryControllerName"},
    {"midiActivityChanged", QMetaType::QVariantList, false, "midiActivityLog"},
};

// Invokable operations the views call, with their argument counts.
const char operations[] =
    "noteOn/2 noteOn/1 noteOff/1 isKeyPressed/1 panicAllNotesOff/0 toggleAbCompare/0 triggerDrumPad/1 "
    "resetToDefaultPiano/0 queryPresets/3 selectPresetForSlot/2 toggleFavoritePreset/1 "
    "importInstrumentLibrary/1 channelVolume/1 setChannelVolume/2 channelPan/1 setChannelPan/2 "
    "isChannelMuted/1 setChannelMuted/2 isChannelSoloed/1 setChannelSoloed/2 channelPeakL/1 channelPeakR/1 "
    "resetMasterClipIndicator/0 applyMixBalancePreset/1 applyAudioSettings/4 playTestTone/0 "
    "cycleAutoTuneMode/0";

} // namespace

class PropertySurfaceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { test::usePrivateHome(); }

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

QTEST_GUILESS_MAIN(PropertySurfaceTest)
#include "tst_property_surface.moc"
