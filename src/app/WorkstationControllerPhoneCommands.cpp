// The phone commands and the state object the phones poll. Every command acts
// through the controller's ordinary operations, so a change made from a phone is
// the same change made on screen; its summary is what the phones show as the last
// change. The text rules (arguments, labels, JSON) live in src/phone.

#include "WorkstationController.h"

#include "phone/CompactJsonObject.h"
#include "phone/PhoneCommandText.h"

#include <algorithm>
#include <cmath>

namespace tmb {

namespace {

constexpr int phoneStyleCount = 35; // the built-in styles the page steps through
constexpr int padVelocity = 115;
constexpr int crashPad = 49; // the page's crash pad also fills
// Steps are bounded before they are added (no overflow), widely enough that any
// step reaches the far end of its range.
constexpr int maxStep = 1000;

QString onOff(const char* what, bool on) {
    return QStringLiteral("%1 %2").arg(QLatin1String(what),
                                       on ? QStringLiteral("ON") : QStringLiteral("OFF"));
}

// "n + 1" of a received number, without overflow at the int limits.
QString oneBased(int n) {
    return QString::number(static_cast<qint64>(n) + 1);
}

// Balances of "MIX_PRESET:0" to "MIX_PRESET:3".
struct PhoneMixBalance {
    float piano, layer, style, lead, beats, mic;
    const char* summary;
};

constexpr PhoneMixBalance phoneMixBalances[] = {
    {0.92f, 0.65f, 0.75f, 0.65f, 0.72f, 1.0f, "Mix: Worship"},
    {0.88f, 0.55f, 0.92f, 0.95f, 0.95f, 1.0f, "Mix: Seben/Praise"},
    {0.78f, 0.50f, 0.62f, 0.55f, 0.65f, 1.0f, "Mix: Vocal Lead"},
    {1.0f, 0.72f, 0.45f, 0.35f, 0.58f, 0.95f, "Mix: Solo Keys"},
};

} // namespace

QString WorkstationController::applyPhoneCommand(const QString& phoneId, const QString& ip,
                                                 const QString& command) {
    Q_UNUSED(ip);
    using C = WorkstationController;
    using Run = QString (*)(C & c, const QString& phoneId, QStringView arg);
    // A row with `prefix` carries an argument after its text; the others match whole.
    // Rows are tried in order and the first match wins.
    struct Row {
        const char* text;
        bool prefix;
        Run run;
    };
    static const Row rows[] = {
        {"HELLO", false,
         [](C&, const QString&, QStringView) {
             return QString();
         }},

        // ---- phone microphone and camera
        {"MIC_START", false,
         [](C& c, const QString& id, QStringView) {
             c.activatePhoneMicrophone(id);
             c.setPhoneStatus(QStringLiteral("● PHONE WIRELESS MIC LIVE • Speaking/Singing from Phone!"));
             return QStringLiteral("Mic ON");
         }},
        {"MIC_STOP", false,
         [](C& c, const QString& id, QStringView) {
             // A phone that handed the microphone over does not stop its new owner.
             if (c.m_phone.micActive && !c.m_phone.activeMicPhoneId.isEmpty() &&
                 c.m_phone.activeMicPhoneId != id)
                 return QString();
             c.m_phone.micActive = false;
             c.setPhoneStatus(QStringLiteral("Phone Mic Paused • Phone Connected"));
             return QStringLiteral("Mic OFF");
         }},
        {"CAM_START", false,
         [](C& c, const QString& id, QStringView) {
             c.activatePhoneCamera(id);
             c.setPhoneStatus(QStringLiteral("● PHONE WIRELESS CAMERA LIVE • Streaming to PiP Stage View!"));
             c.notifyBroadcastState();
             return QStringLiteral("Cam ON");
         }},
        {"CAM_STOP", false,
         [](C& c, const QString& id, QStringView) {
             if (c.m_phone.camActive && !c.m_phone.activeCamPhoneId.isEmpty() &&
                 c.m_phone.activeCamPhoneId != id)
                 return QString();
             c.m_phone.camActive = false;
             c.notifyPhoneBridge();
             return QStringLiteral("Cam OFF");
         }},

        // ---- broadcast, picture-in-picture and watermark
        {"STREAM:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             const bool wasLive = c.broadcastActive();
             c.toggleLiveBroadcast();
             return wasLive ? QStringLiteral("Stream STOP") : QStringLiteral("GO LIVE");
         }},
        {"STREAM:YT_TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setStreamYoutubeEnabled(!c.streamYoutubeEnabled());
             return onOff("YouTube Target", c.streamYoutubeEnabled());
         }},
        {"STREAM:FB_TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setStreamFacebookEnabled(!c.streamFacebookEnabled());
             return onOff("Facebook Target", c.streamFacebookEnabled());
         }},
        {"STREAM:TT_TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setStreamTiktokEnabled(!c.streamTiktokEnabled());
             return onOff("TikTok Target", c.streamTiktokEnabled());
         }},
        {"STREAM:MP4_TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setRecordBroadcastMp4(!c.recordBroadcastMp4());
             return onOff("Auto-MP4", c.recordBroadcastMp4());
         }},
        {"STREAM:KEY:", true,
         [](C& c, const QString&, QStringView arg) {
             const qsizetype colon = arg.indexOf(u':');
             if (colon < 0) return QString();
             const QStringView platform = arg.left(colon);
             const QString key = arg.mid(colon + 1).trimmed().toString();
             // An empty key would erase the stored one.
             if (key.isEmpty()) return QString();
             // The setters clean the key and refuse a server address; only a key
             // that was kept enables its target and counts as saved.
             if (platform == u"yt") {
                 c.setStreamYoutubeKey(key);
                 if (c.streamYoutubeKey().isEmpty()) return QString();
                 c.setStreamYoutubeEnabled(true);
                 return QStringLiteral("Saved YouTube Stream Key");
             }
             if (platform == u"fb") {
                 c.setStreamFacebookKey(key);
                 if (c.streamFacebookKey().isEmpty()) return QString();
                 c.setStreamFacebookEnabled(true);
                 return QStringLiteral("Saved Facebook Stream Key");
             }
             if (platform == u"tt") {
                 c.setStreamTiktokKey(key);
                 if (c.streamTiktokKey().isEmpty()) return QString();
                 c.setStreamTiktokEnabled(true);
                 return QStringLiteral("Saved TikTok Stream Key");
             }
             return QString();
         }},
        {"PIP:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setCameraEnabled(!c.cameraEnabled());
             return onOff("PiP Cam", c.cameraEnabled());
         }},
        {"PIP:CORNER", false,
         [](C& c, const QString&, QStringView) {
             c.setCameraCorner(std::max((c.cameraCorner() + 1) % 4, 0));
             return QStringLiteral("Moved PiP Corner");
         }},
        {"PIP:MIRROR", false,
         [](C& c, const QString&, QStringView) {
             c.setCameraMirror(!c.cameraMirror());
             return onOff("Cam Mirror", c.cameraMirror());
         }},
        {"WM:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setWatermarkEnabled(!c.watermarkEnabled());
             return onOff("Watermark", c.watermarkEnabled());
         }},

        // ---- mixer balances and chords
        {"MIX_PRESET:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             // Other numbers (the page's "BEATS ONLY" sends 5) select no balance.
             if (n < 0 || n >= static_cast<int>(std::size(phoneMixBalances))) return QString();
             const PhoneMixBalance& mix = phoneMixBalances[n];
             c.setChannelVolume(static_cast<int>(MixerChannelId::Piano), mix.piano);
             c.setChannelVolume(static_cast<int>(MixerChannelId::Layer2), mix.layer);
             c.setStyleVolume(mix.style);
             c.setStyleLeadVolume(mix.lead);
             c.setChannelVolume(static_cast<int>(MixerChannelId::Beats), mix.beats);
             c.setChannelVolume(static_cast<int>(MixerChannelId::Mic), mix.mic);
             return QString::fromLatin1(mix.summary);
         }},
        {"CHORD:", true,
         [](C& c, const QString&, QStringView arg) {
             c.triggerProChordDegree(phone::parseInteger(arg));
             return QStringLiteral("Chord %1").arg(c.arrangerActiveChordText());
         }},

        // ---- beat, band and styles
        {"BEAT:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             const bool wasPlaying = c.beatPlaying();
             c.setBeatPlaying(!wasPlaying); // stopping releases the band's and the hymn's notes
             return wasPlaying ? QStringLiteral("Beat STOP") : QStringLiteral("Beat START");
         }},
        {"BEAT_SELECT:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             c.resetPerformanceModifiersToDefaults(true);
             c.applyBeatStyleInternal(n, false);
             if (const StylePattern* style = c.catalogueStyle(n)) c.setBpm(style->bpm);
             c.setBeatPlaying(true);
             return QStringLiteral("Beat: %1").arg(c.arrangerStyleName());
         }},
        {"PROBAND:", true,
         [](C& c, const QString&, QStringView arg) {
             const bool band = phone::parseInteger(arg) != 0;
             c.setProArrangerEnabled(band);
             if (band) {
                 c.setPhoneStatus(
                     QStringLiteral("🎸 BEAT + FULL STYLE BAND MODE • Playing Drums + Accompaniment Band"));
                 return QStringLiteral("Beat + Band Mode");
             }
             c.releaseActiveHymnAndArrangerNotes();
             c.setPhoneStatus(QStringLiteral(
                 "🥁 PURE DRUM BEAT MODE • Playing Studio Drums Only (No Automatic Band)"));
             return QStringLiteral("Drums Only Mode");
         }},
        {"KIT:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             c.selectDrumKitByIndex(n);
             return QStringLiteral("Kit #%1").arg(oneBased(n));
         }},
        {"FILL", false,
         [](C& c, const QString&, QStringView) {
             c.triggerBeatFill();
             return QStringLiteral("Drum Fill-In");
         }},
        {"STYLE:SELECT:", true,
         [](C& c, const QString&, QStringView arg) {
             c.launchStylePreset(phone::parseInteger(arg), c.arrangerPlayMode());
             return QStringLiteral("Style: %1").arg(c.arrangerStyleName());
         }},
        {"STYLE:PREV", false,
         [](C& c, const QString&, QStringView) {
             const int current = c.currentBeatStyleIndex();
             c.launchStylePreset(((current + phoneStyleCount - 1) % phoneStyleCount + phoneStyleCount) %
                                     phoneStyleCount,
                                 c.arrangerPlayMode());
             return QStringLiteral("Style: %1").arg(c.arrangerStyleName());
         }},
        {"STYLE:NEXT", false,
         [](C& c, const QString&, QStringView) {
             const int current = std::max(c.currentBeatStyleIndex(), -1);
             c.launchStylePreset((current + 1) % phoneStyleCount, c.arrangerPlayMode());
             return QStringLiteral("Style: %1").arg(c.arrangerStyleName());
         }},
        {"FAMILY:", true,
         [](C& c, const QString&, QStringView arg) {
             // The last family holds seven styles, the others four; a family that is
             // playing steps on to its next style.
             const qint64 first = phone::parseInteger(arg);
             const qint64 size = first >= 28 ? 7 : 4;
             const qint64 current = c.currentBeatStyleIndex();
             qint64 chosen = first;
             if (c.beatPlaying() && current >= first && current < first + size)
                 chosen = first + (current + 1 - first) % size;
             c.launchStylePreset(static_cast<int>(chosen), c.arrangerPlayMode());
             return QStringLiteral("Genre: %1").arg(c.arrangerStyleName());
         }},
        {"STYLE:", true,
         [](C& c, const QString&, QStringView arg) {
             c.launchStylePreset(phone::parseInteger(arg), c.arrangerPlayMode());
             return QStringLiteral("Style: %1").arg(c.arrangerStyleName());
         }},
        {"MODE:", true,
         [](C& c, const QString&, QStringView arg) {
             const int mode = phone::parseInteger(arg);
             c.setArrangerPlayMode(mode);
             if (!c.beatPlaying()) c.launchStylePreset(c.currentBeatStyleIndex(), mode);
             // Named after the mode the band now plays (every number above 0 is 1).
             return c.arrangerPlayMode() == 0 ? QStringLiteral("Sing-Along Mode")
                                              : QStringLiteral("Play-With-Keys Mode");
         }},
        {"SEC:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             c.setBeatSection(n);
             return QStringLiteral("Section #%1").arg(oneBased(n));
         }},
        {"PROG:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             c.setArrangerProgressionIndex(n); // clamps and restarts the progression
             return QStringLiteral("Prog #%1").arg(oneBased(n));
         }},

        // ---- tempo, metronome, key and octave
        {"TAP_TEMPO", false,
         [](C& c, const QString&, QStringView) {
             c.tapTempo();
             return QStringLiteral("Tap Tempo (%1 BPM)").arg(std::lround(c.bpm()));
         }},
        {"BPM:SET:", true,
         [](C& c, const QString&, QStringView arg) {
             const std::optional<double> tempo = phone::parseNumber(arg);
             if (!tempo) return QString();
             c.setBpm(static_cast<float>(
                 std::clamp(*tempo, double(BeatSequencer::minBpm), double(BeatSequencer::maxBpm))));
             return QStringLiteral("Tempo %1 BPM").arg(std::lround(c.bpm()));
         }},
        {"BPM:ADD:", true,
         [](C& c, const QString&, QStringView arg) {
             constexpr double low = 40.0, high = 220.0;
             const std::optional<double> step = phone::parseNumber(arg);
             if (!step) return QString();
             const double tempo = double(c.bpm()) + std::clamp(*step, -double(maxStep), double(maxStep));
             c.setBpm(static_cast<float>(std::clamp(tempo, low, high)));
             return QStringLiteral("Tempo %1 BPM").arg(std::lround(c.bpm()));
         }},
        {"METRO:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setMetronomeEnabled(!c.metronomeEnabled());
             return onOff("Metro", c.metronomeEnabled());
         }},
        {"KEY:ADD:", true,
         [](C& c, const QString&, QStringView arg) {
             const int step = std::clamp(phone::parseInteger(arg), -maxStep, maxStep);
             c.setTransposeSemitones(std::clamp(c.transposeSemitones() + step, -12, 12));
             return QStringLiteral("Key %1").arg(phone::signedNumber(c.transposeSemitones()));
         }},
        {"KEY:SET:", true,
         [](C& c, const QString&, QStringView arg) {
             c.setTransposeSemitones(phone::parseInteger(arg));
             return QStringLiteral("Key %1").arg(phone::signedNumber(c.transposeSemitones()));
         }},
        {"OCT:ADD:", true,
         [](C& c, const QString&, QStringView arg) {
             const int step = std::clamp(phone::parseInteger(arg), -maxStep, maxStep);
             c.setOctaveShift(std::clamp(c.octaveShift() + step, -2, 2));
             return QStringLiteral("Octave %1").arg(phone::signedNumber(c.octaveShift()));
         }},
        {"OCT:SET:", true,
         [](C& c, const QString&, QStringView arg) {
             c.setOctaveShift(phone::parseInteger(arg));
             return QStringLiteral("Octave %1").arg(phone::signedNumber(c.octaveShift()));
         }},

        // ---- registrations, pads and performance switches
        {"REG:", true,
         [](C& c, const QString&, QStringView arg) {
             const int n = phone::parseInteger(arg);
             c.loadRegistration(n);
             return QStringLiteral("Voice M%1").arg(oneBased(n));
         }},
        {"PAD:", true,
         [](C& c, const QString&, QStringView arg) {
             const int note = phone::parseInteger(arg);
             if (note == crashPad) c.triggerBeatFill();
             c.triggerDrumPad(note, padVelocity);
             return QStringLiteral("Drum Pad Hit");
         }},
        {"AUTOTUNE:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setAutoTuneEnabled(!c.autoTuneEnabled());
             return onOff("Auto-Tune", c.autoTuneEnabled());
         }},
        {"AUTOTUNE:CYCLE", false,
         [](C& c, const QString&, QStringView) {
             c.cycleAutoTuneMode(); // switches auto-tune on too
             return QStringLiteral("Vocal FX: %1").arg(c.autoTuneModeName());
         }},
        {"LAYER2:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setLayer2Enabled(!c.layer2Enabled());
             return onOff("Layer 2", c.layer2Enabled());
         }},
        {"SPLIT:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setSplitEnabled(!c.splitEnabled());
             return onOff("Split", c.splitEnabled());
         }},
        {"SUSTAIN:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setSustainLatched(!c.sustainLatched());
             return onOff("Sustain", c.sustainLatched());
         }},
        {"AUTOPEDAL:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             c.setAutoPedalEnabled(!c.autoPedalEnabled());
             return onOff("Auto-Pedal", c.autoPedalEnabled());
         }},
        {"REC:TOGGLE", false,
         [](C& c, const QString&, QStringView) {
             const bool wasRecording = c.studioRecording();
             wasRecording ? c.stopStudioTransport() : c.startStudioRecord();
             return wasRecording ? QStringLiteral("MP4/WAV Rec STOP") : QStringLiteral("MP4/WAV Rec START");
         }},
        {"PANIC", false,
         [](C& c, const QString&, QStringView) {
             c.panicAllNotesOff();
             return QStringLiteral("Panic All-Notes-Off");
         }},

        // ---- volumes: "VOL:<channel>:<percent>"
        {"VOL:", true,
         [](C& c, const QString&, QStringView arg) {
             struct Channel {
                 const char* name;
                 int mixerChannel; // -1: a style band level
                 void (C::*setBandLevel)(float);
                 const char* summary;
             };
             static const Channel channels[] = {
                 {"MIC:", static_cast<int>(MixerChannelId::Mic), nullptr, "Mic Vol %1%"},
                 {"BEATS:", static_cast<int>(MixerChannelId::Beats), nullptr, "Beats Vol %1%"},
                 {"STYLE:", -1, &C::setStyleVolume, "Band Vol %1%"},
                 {"LEAD:", -1, &C::setStyleLeadVolume, "Lead Vol %1%"},
                 {"PIANO:", static_cast<int>(MixerChannelId::Piano), nullptr, "Piano Vol %1%"},
                 {"LAYER:", static_cast<int>(MixerChannelId::Layer2), nullptr, "Layer Vol %1%"},
                 {"MASTER:", static_cast<int>(MixerChannelId::Master), nullptr, "Master Vol %1%"},
             };
             for (const Channel& channel : channels) {
                 const QLatin1StringView name(channel.name);
                 if (!arg.startsWith(name)) continue;
                 const std::optional<double> percent = phone::parseNumber(arg.mid(name.size()));
                 if (!percent) return QString();
                 const long long rounded = phone::roundedPercent(*percent);
                 const float volume = std::clamp(static_cast<float>(rounded) / 100.0f, 0.0f, 1.0f);
                 if (channel.setBandLevel)
                     (c.*channel.setBandLevel)(volume);
                 else
                     c.setChannelVolume(channel.mixerChannel, volume);
                 return QString::fromLatin1(channel.summary).arg(rounded);
             }
             return QString();
         }},
    };

    for (const Row& row : rows) {
        const QLatin1StringView text(row.text);
        if (row.prefix ? command.startsWith(text) : command == text)
            return row.run(*this, phoneId, QStringView(command).mid(text.size()));
    }
    return {};
}

// ---------------------------------------------------------------- the state object

QByteArray WorkstationController::phoneStateJsonBytes() const {
    auto percent = [](float volume) {
        return static_cast<int>(phone::roundedPercent(double(volume) * 100.0));
    };
    const QList<PhonePeerInfo> recent = m_phonePeers.recent();

    CompactJsonObject state;
    state.add("bpm", bpm());
    state.add("playing", beatPlaying());
    state.add("styleIdx", currentBeatStyleIndex());
    state.add("styleName", arrangerStyleName());
    state.add("genre", arrangerGenreFamily());
    state.add("section", beatSection());
    state.add("playMode", arrangerPlayMode());
    state.add("proBand", proArrangerEnabled());
    state.add("drumKitName", currentDrumKitName());
    state.add("progIdx", arrangerProgressionIndex());
    state.add("chord", arrangerActiveChordText());
    state.add("chordDeg", arrangerChordDegree());
    state.add("transpose", transposeSemitones());
    state.add("keyLabel", phone::keyLabel(transposeSemitones()));
    state.add("octave", octaveShift());
    state.add("regSlot", activeRegistrationSlot());
    state.add("autoTune", autoTuneEnabled());
    state.add("autoTuneMode", autoTuneModeName());
    state.add("layer2", layer2Enabled());
    state.add("split", splitEnabled());
    state.add("sustain", sustainLatched() || sustainPedal());
    state.add("autoPedal", autoPedalEnabled());
    state.add("metronome", metronomeEnabled());
    state.add("recording", studioRecording());
    state.add("volMic", percent(micVolume()));
    state.add("volBeats", percent(beatsVolume()));
    state.add("volStyle", percent(styleVolume()));
    state.add("volLead", percent(styleLeadVolume()));
    state.add("volPiano", percent(pianoVolume()));
    state.add("volLayer", percent(layer2Volume()));
    state.add("volMaster", percent(masterVolume()));
    state.add("broadcastActive", broadcastActive());
    state.add("broadcastStatus", broadcastStatusText());
    state.add("broadcastDuration", broadcastElapsedText());
    state.add("ytEnabled", streamYoutubeEnabled());
    state.add("fbEnabled", streamFacebookEnabled());
    state.add("ttEnabled", streamTiktokEnabled());
    state.add("mp4Enabled", recordBroadcastMp4());
    state.add("hasYtKey", !streamYoutubeKey().trimmed().isEmpty());
    state.add("hasFbKey", !streamFacebookKey().trimmed().isEmpty());
    state.add("hasTtKey", !streamTiktokKey().trimmed().isEmpty());
    state.add("pipEnabled", cameraEnabled());
    state.add("pipCorner", cameraCorner());
    state.add("pipCornerLabel", phone::pipCornerLabel(cameraCorner()));
    state.add("pipMirror", cameraMirror());
    state.add("wmEnabled", watermarkEnabled());
    state.add("micEnabled", micEnabled());
    state.add("connectedPhoneCount", std::max(static_cast<int>(recent.size()), m_phone.connected ? 1 : 0));
    state.add("connectedPhonesText", m_phonePeers.recentText());
    state.add("activeMicPhoneId", m_phone.activeMicPhoneId);
    state.add("activeCamPhoneId", m_phone.activeCamPhoneId);
    state.add("lastActorId", m_phone.lastActorId);
    state.add("lastChangeSummary", m_phone.lastChangeSummary);
    state.add("stateSeq", static_cast<long long>(m_phone.stateSeq));
    return state.bytes();
}

} // namespace tmb
