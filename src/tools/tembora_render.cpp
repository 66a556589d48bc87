// tembora-render: renders a Standard MIDI File, or a drum style, through the
// workstation's audio engine, offline and with no sound device, into a WAV file;
// or names the chords a MIDI file holds.

#include "app/SlotSound.h"
#include "app/StyleBandState.h"
#include "app/StyleSounds.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"
#include "engines/GeneralMidiPlayer.h"
#include "engines/SoundFontPaths.h"
#include "midi/StandardMidiFile.h"
#include "rhythm/Arranger.h"
#include "rhythm/ChordNames.h"
#include "storage/ProjectManager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>

using namespace tmb;

namespace {

enum ExitCode { ExitOk = 0, ExitOutputFailed = 1, ExitBadInput = 2 };

// Longer songs are refused: a hostile file could otherwise ask for days of audio.
constexpr double maxSongSeconds = 3600.0;

const char* const description =
    R"(Renders a Standard MIDI File (format 0 or 1) through Tembora's audio engine,
offline, with no sound device, and writes a 16-bit stereo WAV file.

File channels reach the engine as played notes do: channel 1 (and 8, 9, 11-16)
plays the keyboard's main zone, channel 2 the layer, channel 3 the split,
channels 4-7 the accompaniment parts and channel 10 the drums. The built-in
synth plays all three keyboard zones, unless --sfz gives the main zone a sampled
instrument or --main, --layer and --split give the zones presets of Tembora's
instrument catalogue (the ids its preset browser lists, e.g. gm_church_organ,
synth_worship_pad, auto_<file name> for an instrument found in ~/Music). Every
event lands on its exact sample frame.
Prints one line: seconds of audio rendered, seconds taken, realtime factor.

With --style N there is no input file: the built-in drum style N (0-34) plays
from frame 0 with its kit from the General MIDI SoundFont (or the --sf2 font):
one Intro bar, --bars Verse A bars, one Ending bar, then the tail. --tempo,
--swing, --humanize and --click set the sequencer as the DRUMS view does.

With --arranger the style's band plays too, as the PRESETS view launches it
(a drum style 28-34 gets the pro arranger's band), and --style may name a style
file (.sty) to import. Without IN.mid the band loops on its own through the
Intro, --bars Verse A bars and the Ending, following the style's chord
progression (or --progression P: 0 none, 1-6 the loops). With IN.mid the band
backs the file: it starts in Verse A at the file's first tempo (or --tempo),
every note of the file but channel 10's is played as a key, a note-on at A3 (57)
or below chooses the chord as the keyboard's one-finger chord does (with
--smart-chord every note does, and its third and fifth sound), and after the
last note the Ending plays. After every block the band plays the sequencer's new
step; its notes sound from the next block.

--events FILE writes one tab-separated line per note event an engine received:
time (seconds of the first frame of the block that received it), source (file,
drums, band for the arranger's channels 3-6, smart for one-finger chord tones),
channel index, on or off, note and velocity.

With --chords no audio is rendered: each time the chord held in IN.mid changes,
a line "seconds<TAB>name" is printed, named as the keyboard's chord display names
it (every channel but 10, notes below --below only).

With --sf2 the engine plays the file as a General MIDI sound module: every
channel through the SoundFont, with the file's own bank and program changes,
channel 10 through the SoundFont's drum kits. The master effects (tone, reverb,
compressor, soft clip) follow in both modes unless --fx off.

Exit status: 0 done; 1 the output could not be written; 2 bad input or options
(missing file, not a MIDI file, a track cut short, an SFZ instrument that cannot
be loaded, an unknown preset id, no SoundFont for a style's kit, an unknown
option).)";

constexpr int styleCount = 35;

struct RenderSettings {
    QString inputPath;
    QString outputPath;
    MidiFileRenderer::Options render;
    int synthModel = 0;
    QString soundFontPath; // General MIDI player mode when set
    bool effects = true;
    QString sfzPath; // empty: the built-in synth plays the main zone
    // Catalogue presets of the main, layer and split zones; empty: the built-in synth.
    std::array<QString, config::keyboardSlotCount> presetIds;
    // Style mode when 0 or more, or when a style file is given.
    int style = -1;
    QString styleFile;
    bool arranger = false;
    std::optional<int> progression;
    bool smartChord = false;
    std::optional<float> tempo;
    int bars = 4;
    float swing = 0.08f;
    float humanize = 0.15f;
    bool click = false;
    QString eventsPath;
    bool chords = false;
    int chordsBelow = 128;
};

// A number option within [low, high] (clamped when `clamp`, else refused).
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, double low, double high,
                bool clamp, double* value, QString* error) {
    bool ok = false;
    const double v = parser.value(option).toDouble(&ok);
    if (ok && std::isfinite(v) && (clamp || (v >= low && v <= high))) {
        *value = std::clamp(v, low, high);
        return true;
    }
    *error = QStringLiteral("--%1 must be a number%2, not \"%3\"")
                 .arg(option.names().constFirst(),
                      clamp ? QString() : QStringLiteral(" from %1 to %2").arg(low).arg(high),
                      parser.value(option));
    return false;
}

// Every option is declared in the constructor and read in read(): adding one
// touches only this class and RenderSettings.
class RenderCommandLine {
public:
    RenderCommandLine() {
        m_parser.setApplicationDescription(QString::fromLatin1(description));
        m_parser.addPositionalArgument(QStringLiteral("IN.mid"),
                                       QStringLiteral("The Standard MIDI File to render."));
        m_parser.addOption(m_output);
        m_parser.addOption(m_rate);
        m_parser.addOption(m_block);
        m_parser.addOption(m_tail);
        m_parser.addOption(m_synthModel);
        m_parser.addOption(m_soundFont);
        m_parser.addOption(m_effects);
        m_parser.addOption(m_sfz);
        for (const QCommandLineOption& option : m_presets)
            m_parser.addOption(option);
        for (const QCommandLineOption* option :
             {&m_style, &m_tempo, &m_bars, &m_swing, &m_humanize, &m_click, &m_events, &m_chords, &m_below,
              &m_arranger, &m_progression, &m_smartChord})
            m_parser.addOption(*option);
        m_parser.addHelpOption();
    }

    QString helpText() const {
        // The usage line names the program, not the path it was started by.
        QString text = m_parser.helpText();
        return text.replace(QCoreApplication::arguments().constFirst(), QCoreApplication::applicationName());
    }
    bool helpRequested() const { return m_parser.isSet(QStringLiteral("help")); }

    bool read(const QStringList& arguments, RenderSettings* settings, QString* error) {
        if (!m_parser.parse(arguments)) {
            *error = m_parser.errorText();
            return false;
        }
        if (helpRequested()) return true;
        if (!readModes(settings, error)) return false;
        const QStringList inputs = m_parser.positionalArguments();
        if (settings->arranger && inputs.size() == 1) {
            settings->inputPath = inputs.constFirst();
            if (m_parser.isSet(m_bars)) {
                *error = QStringLiteral(
                    "--bars plays without an input file: with IN.mid the file sets the length");
                return false;
            }
        } else if (settings->style >= 0 || !settings->styleFile.isEmpty()) {
            if (!inputs.isEmpty()) {
                *error = QStringLiteral("--style plays without an input file");
                return false;
            }
        } else if (inputs.size() != 1) {
            *error = inputs.isEmpty() ? QStringLiteral("no input file given (see --help)")
                                      : QStringLiteral("more than one input file given");
            return false;
        } else {
            settings->inputPath = inputs.constFirst();
        }
        if (settings->chords) return true; // prints names; renders nothing
        settings->outputPath = m_parser.value(m_output);
        if (settings->outputPath.isEmpty()) {
            *error = QStringLiteral("no output file given: use -o OUT.wav");
            return false;
        }

        bool ok = false;
        const uint rate = m_parser.value(m_rate).toUInt(&ok);
        if (!ok || (rate != 44100 && rate != 48000 && rate != 96000)) {
            *error = QStringLiteral("--rate must be 44100, 48000 or 96000, not \"%1\"")
                         .arg(m_parser.value(m_rate));
            return false;
        }
        settings->render.sampleRate = rate;

        const uint block = m_parser.value(m_block).toUInt(&ok);
        if (!ok || block < 16 || block > config::maxBlockFrames) {
            *error = QStringLiteral("--block must be a whole number from 16 to %1, not \"%2\"")
                         .arg(config::maxBlockFrames)
                         .arg(m_parser.value(m_block));
            return false;
        }
        settings->render.blockFrames = block;

        const double tail = m_parser.value(m_tail).toDouble(&ok);
        if (!ok || !(tail >= 0.0 && tail <= 60.0)) {
            *error = QStringLiteral("--tail must be between 0 and 60 seconds, not \"%1\"")
                         .arg(m_parser.value(m_tail));
            return false;
        }
        settings->render.tailSeconds = tail;

        const uint model = m_parser.value(m_synthModel).toUInt(&ok);
        if (!ok || model > 7) {
            *error = QStringLiteral("--synth-model must be a whole number from 0 to 7, not \"%1\"")
                         .arg(m_parser.value(m_synthModel));
            return false;
        }
        settings->synthModel = static_cast<int>(model);

        settings->soundFontPath = m_parser.value(m_soundFont);
        const QString effects = m_parser.value(m_effects);
        if (effects != QLatin1String("on") && effects != QLatin1String("off")) {
            *error = QStringLiteral("--fx must be on or off, not \"%1\"").arg(effects);
            return false;
        }
        settings->effects = effects == QLatin1String("on");
        settings->sfzPath = m_parser.value(m_sfz);
        // As a General MIDI module the file's events bypass the keyboard zones.
        if (!settings->sfzPath.isEmpty() && !settings->soundFontPath.isEmpty()) {
            *error = QStringLiteral("--sfz and --sf2 cannot be used together");
            return false;
        }
        for (int slot = 0; slot < config::keyboardSlotCount; ++slot)
            settings->presetIds[static_cast<std::size_t>(slot)] = m_parser.value(m_presets[slot]);
        if (!settings->presetIds[0].isEmpty() && !settings->sfzPath.isEmpty()) {
            *error = QStringLiteral("--main and --sfz cannot be used together");
            return false;
        }
        for (int slot = 0; slot < config::keyboardSlotCount; ++slot) {
            if (settings->presetIds[static_cast<std::size_t>(slot)].isEmpty() ||
                settings->soundFontPath.isEmpty())
                continue;
            *error =
                QStringLiteral("--%1 and --sf2 cannot be used together").arg(m_presets[slot].names().first());
            return false;
        }
        return true;
    }

private:
    // --style and its sequencer settings, --events, --chords and --below.
    bool readModes(RenderSettings* settings, QString* error) {
        settings->chords = m_parser.isSet(m_chords);
        settings->eventsPath = m_parser.value(m_events);
        double v = 0.0;
        if (m_parser.isSet(m_below)) {
            if (!settings->chords) {
                *error = QStringLiteral("--below needs --chords");
                return false;
            }
            if (!readNumber(m_parser, m_below, 0, 128, false, &v, error)) return false;
            settings->chordsBelow = static_cast<int>(v);
        }
        settings->arranger = m_parser.isSet(m_arranger);
        settings->smartChord = m_parser.isSet(m_smartChord);
        if (!settings->arranger && (m_parser.isSet(m_progression) || settings->smartChord)) {
            *error = QStringLiteral("--%1 needs --arranger")
                         .arg(m_parser.isSet(m_progression) ? QStringLiteral("progression")
                                                            : QStringLiteral("smart-chord"));
            return false;
        }
        if (settings->arranger && !m_parser.isSet(m_style)) {
            *error = QStringLiteral("--arranger needs --style N|FILE.sty");
            return false;
        }
        if (m_parser.isSet(m_progression)) {
            if (!readNumber(m_parser, m_progression, 0, progressionCount - 1, false, &v, error)) return false;
            settings->progression = static_cast<int>(v);
        }
        if (settings->chords && (m_parser.isSet(m_style) || !settings->eventsPath.isEmpty())) {
            *error = QStringLiteral("--chords renders nothing: it cannot be used with --style or --events");
            return false;
        }
        if (!m_parser.isSet(m_style)) {
            for (const QCommandLineOption* option : {&m_tempo, &m_bars, &m_swing, &m_humanize, &m_click}) {
                if (!m_parser.isSet(*option)) continue;
                *error = QStringLiteral("--%1 needs --style").arg(option->names().constFirst());
                return false;
            }
            return true;
        }
        bool ok = false;
        settings->style = m_parser.value(m_style).toInt(&ok);
        if (!ok && settings->arranger) {
            settings->styleFile = m_parser.value(m_style); // a style file to import
            settings->style = -1;
        } else if (!ok || settings->style < 0 || settings->style >= styleCount) {
            *error = QStringLiteral("--style must be a whole number from 0 to %1, not \"%2\"")
                         .arg(styleCount - 1)
                         .arg(m_parser.value(m_style));
            return false;
        }
        if (m_parser.isSet(m_tempo)) {
            if (!readNumber(m_parser, m_tempo, 40, 240, true, &v, error)) return false;
            settings->tempo = static_cast<float>(v);
        }
        if (!readNumber(m_parser, m_swing, 0, 0.75, true, &v, error)) return false;
        settings->swing = static_cast<float>(v);
        if (!readNumber(m_parser, m_humanize, 0, 1, true, &v, error)) return false;
        settings->humanize = static_cast<float>(v);
        const uint bars = m_parser.value(m_bars).toUInt(&ok);
        if (!ok || bars > 1000) {
            *error = QStringLiteral("--bars must be a whole number from 0 to 1000, not \"%1\"")
                         .arg(m_parser.value(m_bars));
            return false;
        }
        settings->bars = static_cast<int>(bars);
        settings->click = m_parser.isSet(m_click);
        return true;
    }

    QCommandLineParser m_parser;
    const QCommandLineOption m_output{
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Write the WAV to <file> (required; replaced atomically)."),
        QStringLiteral("file")};
    const QCommandLineOption m_rate{
        QStringLiteral("rate"), QStringLiteral("Sample rate in Hz: 44100, 48000 or 96000 (default 48000)."),
        QStringLiteral("hz"), QStringLiteral("48000")};
    const QCommandLineOption m_block{
        QStringLiteral("block"),
        QStringLiteral("Largest block the engine renders at once, 16-4096 frames (default 256). "
                       "Blocks are also cut at event times, so timing does not depend on it."),
        QStringLiteral("frames"), QStringLiteral("256")};
    const QCommandLineOption m_tail{
        QStringLiteral("tail"),
        QStringLiteral(
            "Seconds rendered after the last event so notes and reverb die away, 0-60 (default 2)."),
        QStringLiteral("seconds"), QStringLiteral("2")};
    const QCommandLineOption m_synthModel{
        QStringLiteral("synth-model"),
        QStringLiteral("Voice model of the built-in synth (default 0): 0 slow pad, 1 electric piano, "
                       "2 drawbar organ, 3 additive, 4 short saw, 5 saw, 6 slow saw, 7 additive bell."),
        QStringLiteral("n"), QStringLiteral("0")};
    const QCommandLineOption m_soundFont{
        QStringLiteral("sf2"),
        QStringLiteral("Play the file as a General MIDI module through the SoundFont <file>: every channel "
                       "with its own bank and program changes, channel 10 on the drum kits."),
        QStringLiteral("file")};
    const QCommandLineOption m_effects{QStringLiteral("fx"),
                                       QStringLiteral("The master effects chain: on or off (default on)."),
                                       QStringLiteral("on|off"), QStringLiteral("on")};
    const QCommandLineOption m_sfz{
        QStringLiteral("sfz"),
        QStringLiteral("Play the main zone with the SFZ instrument <file> (the layer and split stay on "
                       "the built-in synth)."),
        QStringLiteral("file")};
    const QCommandLineOption m_presets[config::keyboardSlotCount] = {
        {QStringLiteral("main"), QStringLiteral("Play the main zone with the catalogue preset <id>."),
         QStringLiteral("id")},
        {QStringLiteral("layer"),
         QStringLiteral("Play the layer (channel 2) with the catalogue preset <id>."), QStringLiteral("id")},
        {QStringLiteral("split"),
         QStringLiteral("Play the split (channel 3) with the catalogue preset <id>."), QStringLiteral("id")}};
    const QCommandLineOption m_style{
        QStringLiteral("style"),
        QStringLiteral(
            "Play the built-in drum style <n> (0-34) instead of a file: Intro, Verse A bars, Ending."),
        QStringLiteral("n")};
    const QCommandLineOption m_tempo{
        QStringLiteral("tempo"), QStringLiteral("Tempo of the style, 40-240 BPM (default the style's own)."),
        QStringLiteral("bpm")};
    const QCommandLineOption m_bars{
        QStringLiteral("bars"), QStringLiteral("Verse A bars between the Intro and the Ending (default 4)."),
        QStringLiteral("k"), QStringLiteral("4")};
    const QCommandLineOption m_swing{QStringLiteral("swing"), QStringLiteral("Swing, 0-0.75 (default 0.08)."),
                                     QStringLiteral("x"), QStringLiteral("0.08")};
    const QCommandLineOption m_humanize{QStringLiteral("humanize"),
                                        QStringLiteral("Velocity humanize, 0-1 (default 0.15)."),
                                        QStringLiteral("x"), QStringLiteral("0.15")};
    const QCommandLineOption m_click{QStringLiteral("click"), QStringLiteral("Sound the metronome click.")};
    const QCommandLineOption m_events{
        QStringLiteral("events"),
        QStringLiteral("Write every note event an engine received to <file> (tab-separated)."),
        QStringLiteral("file")};
    const QCommandLineOption m_chords{QStringLiteral("chords"),
                                      QStringLiteral("Print the chords of IN.mid as they change; no audio.")};
    const QCommandLineOption m_arranger{
        QStringLiteral("arranger"),
        QStringLiteral("With --style, the style's band plays too (over IN.mid when one is given).")};
    const QCommandLineOption m_progression{
        QStringLiteral("progression"),
        QStringLiteral(
            "With --arranger, the chord progression loop <p>: 0 none, 1-6 (default the style's own, "
            "0 with IN.mid)."),
        QStringLiteral("p")};
    const QCommandLineOption m_smartChord{
        QStringLiteral("smart-chord"),
        QStringLiteral("With --arranger and IN.mid, every note chooses the chord and sounds its third and "
                       "fifth for 360 ms.")};
    const QCommandLineOption m_below{
        QStringLiteral("below"), QStringLiteral("With --chords, count only notes below <n> (default 128)."),
        QStringLiteral("n")};
};

// Tembora's own catalogue: its data folder holds the favourites and the imported
// instruments, so the ids are the ones the program shows.
CatalogLocations temboraCatalogLocations() {
    CatalogLocations locations = CatalogLocations::standard();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty()) locations.dataDirectory = data + QStringLiteral("/Sandorik/Tembora");
    return locations;
}

// Puts the chosen catalogue presets into the keyboard zones, as the program does
// when they are chosen, except that a sampled piano loads at once.
bool applyPresets(AudioEngine& engine, const RenderSettings& settings, QString* error) {
    const bool any = std::any_of(settings.presetIds.cbegin(), settings.presetIds.cend(),
                                 [](const QString& id) { return !id.isEmpty(); });
    if (!any) return true;
    const ProjectManager catalogue(temboraCatalogLocations());
    for (int slot = 0; slot < config::keyboardSlotCount; ++slot) {
        const QString& id = settings.presetIds[static_cast<std::size_t>(slot)];
        if (id.isEmpty()) continue;
        const std::optional<InstrumentPreset> preset = findSlotPreset(catalogue, id);
        if (!preset) {
            *error = QStringLiteral("no instrument preset has the id \"%1\"").arg(id);
            return false;
        }
        if (!applySlotSound(engine, slot, *preset)) {
            *error = QStringLiteral("%1: program %2 of bank %3 in %4 cannot be played")
                         .arg(id)
                         .arg(preset->program)
                         .arg(preset->bank)
                         .arg(preset->filePath);
            return false;
        }
        if (slot != 0) continue;
        PianoParameters params;
        params.brightness = preset->brightness;
        params.reverbAmount = preset->reverbAmount;
        params.chorusAmount = preset->chorusAmount;
        engine.updatePianoParameters(params);
        if (presetEngineType(*preset) == SoundEngineType::Sfz &&
            !engine.sfzPiano.loadSfzFile(preset->filePath, error))
            return false;
    }
    return true;
}

int fail(int code, const QString& message) {
    std::fprintf(stderr, "tembora-render: %s\n", qPrintable(message));
    return code;
}

// Collects the note events the engine's sources receive, stamped with the start of
// the block they arrived in.
class EventLog : public AudioEngine::NoteObserver {
public:
    // With `bandChannels`, events on channels 3-6 are the arranger's.
    EventLog(double sampleRate, bool bandChannels)
        : m_rate(sampleRate)
        , m_bandChannels(bandChannels) {
        m_text = "time\tsource\tchannel\ttype\tnote\tvelocity\n";
    }
    void setBlockStart(std::uint64_t frame) { m_blockStart = frame; }
    void noteEvent(AudioEngine::NoteSource source, int channel, bool on, int note,
                   int velocity) noexcept override {
        char line[96];
        const char* name = "file";
        if (source == AudioEngine::NoteSource::Drums) name = "drums";
        if (source == AudioEngine::NoteSource::ChordTones) name = "smart";
        if (m_bandChannels && source == AudioEngine::NoteSource::Events && channel >= 3 && channel <= 6)
            name = "band";
        std::snprintf(line, sizeof line, "%.6f\t%s\t%d\t%s\t%d\t%d\n",
                      static_cast<double>(m_blockStart) / m_rate, name, channel, on ? "on" : "off", note,
                      velocity);
        m_text += line;
    }
    bool write(const QString& path, QString* error) const {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(m_text) == m_text.size() && file.commit())
            return true;
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }

private:
    double m_rate;
    bool m_bandChannels;
    std::uint64_t m_blockStart = 0;
    QByteArray m_text;
};

// Prints "seconds<TAB>name" whenever the chord the file holds changes. The events of
// one tick act together, as the keyboard's key flags do; channel 10 is drums.
void printChords(const StandardMidiFile& file, int below) {
    std::array<bool, 128> held{};
    QString shown = QStringLiteral("—");
    const std::vector<SmfChannelEvent>& events = file.events();
    for (std::size_t i = 0; i < events.size();) {
        const std::uint64_t tick = events[i].tick;
        const double seconds = events[i].seconds;
        for (; i < events.size() && events[i].tick == tick; ++i) {
            const SmfChannelEvent& e = events[i];
            const bool note = e.status == MidiEvent::NoteOn || e.status == MidiEvent::NoteOff;
            if (!note || e.channel == 9 || e.data1 >= below) continue;
            held[e.data1] = e.status == MidiEvent::NoteOn && e.data2 > 0;
        }
        std::uint16_t mask = 0;
        int lowest = -1;
        for (int n = 127; n >= 0; --n) {
            if (!held[static_cast<std::size_t>(n)]) continue;
            mask = static_cast<std::uint16_t>(mask | (1u << (n % 12)));
            lowest = n;
        }
        const QString name = recognizeChord(mask, std::max(lowest, 0));
        if (name == shown) continue;
        shown = name;
        std::printf("%.3f\t%s\n", seconds, name.toUtf8().constData());
    }
}

// Plays the style as the DRUMS view does from the Intro: one Intro bar, `bars`
// Verse A bars and the Ending (asked for during the last Verse A bar), then the tail.
bool renderStyle(AudioEngine& engine, const RenderSettings& settings, Arranger* band, EventLog* log,
                 const MidiFileRenderer::BlockSink& sink, std::uint64_t* frames) {
    BeatSequencer& sequencer = engine.beatSequencer;
    sequencer.setSection(static_cast<int>(SongSection::Intro));
    sequencer.setPlaying(true);
    const std::uint32_t block = settings.render.blockFrames;
    const auto tail =
        static_cast<std::uint64_t>(std::llround(settings.render.tailSeconds * settings.render.sampleRate));
    const auto longest = static_cast<std::uint64_t>(maxSongSeconds * settings.render.sampleRate);
    std::vector<float> out(2 * std::size_t{block});
    std::uint64_t frame = 0;
    std::uint64_t stoppedAt = 0;
    int verseBars = 0;
    bool endingAsked = false;
    int lastStep = -1;
    while (!(stoppedAt > 0 && frame >= stoppedAt + tail) && frame < longest) {
        // The tail ends exactly `tail` frames after the block the sequencer stopped in.
        const auto frames = static_cast<std::uint32_t>(
            stoppedAt > 0 ? std::min<std::uint64_t>(block, stoppedAt + tail - frame) : block);
        if (log) log->setBlockStart(frame);
        engine.processAudioCallback(out.data(), frames);
        if (!sink(out.data(), frames)) return false;
        frame += frames;
        // A block is shorter than any bar, so it starts at most one.
        const int step = sequencer.currentStep();
        if (step < lastStep && sequencer.section() == static_cast<int>(SongSection::VerseA)) ++verseBars;
        lastStep = step;
        if (!endingAsked && verseBars >= settings.bars) {
            sequencer.setSection(static_cast<int>(SongSection::Ending));
            endingAsked = true;
        }
        // As the step timer does; after the bar was counted, so its fill cannot hide it.
        if (band) band->followSequencer(sequencer);
        if (stoppedAt == 0 && !sequencer.isPlaying()) stoppedAt = frame;
    }
    *frames = frame;
    return true;
}

// Starts the band as the PRESETS view launches a style: its own band for styles
// 0-27 and imported ones, the pro arranger's for a drum style, so a band always
// plays; the full band without a file, the band backing the player with one.
void launchBand(Arranger& band, const BeatSequencer& sequencer, const RenderSettings& settings,
                bool keyboardMode) {
    const StylePattern& style = sequencer.currentStyle();
    ArrangerState& state = band.state();
    band.setPlayMode(keyboardMode ? 1 : 0);
    state.bandActive = true;
    state.proArrangerEnabled = sequencer.selectedStyleIndex() > 27 && !style.isCustomSty;
    state.progressionIndex = settings.progression.value_or(
        keyboardMode ? 0 : std::clamp(style.defaultProgIdx, 0, progressionCount - 1));
    band.restart();
}

// The band backing IN.mid, block by block as the program runs live: the file's
// notes that fall in the block are played as keys (a low one choosing the chord),
// the block is rendered, then the band plays the sequencer's new step, heard from
// the next block. After the file's last event the Ending plays, then the tail.
bool renderBandOverFile(AudioEngine& engine, const StandardMidiFile& file, const RenderSettings& settings,
                        Arranger& band, EventLog* log, const MidiFileRenderer::BlockSink& sink,
                        std::uint64_t* frames) {
    constexpr double chordToneSeconds = 0.36;
    BeatSequencer& sequencer = engine.beatSequencer;
    sequencer.setSection(static_cast<int>(SongSection::VerseA));
    sequencer.setPlaying(true);
    const double rate = settings.render.sampleRate;
    const std::uint32_t block = settings.render.blockFrames;
    const auto tail = static_cast<std::uint64_t>(std::llround(settings.render.tailSeconds * rate));
    const auto longest = static_cast<std::uint64_t>(maxSongSeconds * rate);
    const std::vector<SmfChannelEvent>& events = file.events();
    struct ChordTone {
        std::uint64_t endFrame;
        int note;
    };
    std::vector<ChordTone> chordTones;
    auto sendChordTone = [&engine](int note, int velocity) {
        MidiEvent event = MidiEvent::noteOn(0, note, velocity);
        event.chordTone = true;
        engine.submitMidiEvent(event);
    };
    std::vector<float> out(2 * std::size_t{block});
    std::size_t next = 0;
    std::uint64_t frame = 0;
    std::uint64_t stoppedAt = 0;
    bool endingAsked = false;
    while (!(stoppedAt > 0 && frame >= stoppedAt + tail) && frame < longest) {
        const auto frames = static_cast<std::uint32_t>(
            stoppedAt > 0 ? std::min<std::uint64_t>(block, stoppedAt + tail - frame) : block);
        const std::uint64_t end = frame + frames;
        for (; next < events.size() &&
               static_cast<std::uint64_t>(std::llround(events[next].seconds * rate)) < end;
             ++next) {
            const SmfChannelEvent& e = events[next];
            if ((e.status != MidiEvent::NoteOn && e.status != MidiEvent::NoteOff) || e.channel == 9) continue;
            const bool on = e.status == MidiEvent::NoteOn && e.data2 > 0;
            engine.submitMidiEvent(on ? MidiEvent::noteOn(0, e.data1, e.data2)
                                      : MidiEvent::noteOff(0, e.data1));
            // The keyboard's one-finger chord: keys up to A3 choose the chord.
            if (!on || (!settings.smartChord && e.data1 > 57)) continue;
            const int degree = smartChordDegreeForNote(e.data1);
            band.setDegree(degree);
            if (!settings.smartChord) continue;
            const int third = std::clamp(e.data1 + (chordDegree(degree).minor ? 3 : 4), 0, 127);
            const int fifth = std::clamp(e.data1 + 7, 0, 127);
            sendChordTone(third, std::max(e.data2 - 14, 40));
            sendChordTone(fifth, std::max(e.data2 - 16, 40));
            const auto endFrame = frame + static_cast<std::uint64_t>(chordToneSeconds * rate);
            chordTones.push_back({endFrame, third});
            chordTones.push_back({endFrame, fifth});
        }
        std::erase_if(chordTones, [&](const ChordTone& tone) {
            if (tone.endFrame >= end) return false;
            sendChordTone(tone.note, 0);
            return true;
        });
        if (!endingAsked && next >= events.size() && chordTones.empty()) {
            sequencer.setSection(static_cast<int>(SongSection::Ending));
            endingAsked = true;
        }
        if (log) log->setBlockStart(frame);
        engine.processAudioCallback(out.data(), frames);
        if (!sink(out.data(), frames)) return false;
        frame = end;
        band.followSequencer(sequencer); // as the step timer does
        if (stoppedAt == 0 && !sequencer.isPlaying()) stoppedAt = frame;
    }
    *frames = frame;
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tembora-render"));

    RenderCommandLine commandLine;
    RenderSettings settings;
    QString error;
    if (!commandLine.read(QCoreApplication::arguments(), &settings, &error)) return fail(ExitBadInput, error);
    if (commandLine.helpRequested()) {
        std::fputs(qPrintable(commandLine.helpText()), stdout);
        return ExitOk;
    }

    const bool styleMode = settings.style >= 0 || !settings.styleFile.isEmpty();
    StandardMidiFile file;
    if (!settings.inputPath.isEmpty()) {
        if (!file.load(settings.inputPath, &error)) return fail(ExitBadInput, error);
        if (file.isTruncated())
            return fail(
                ExitBadInput,
                QStringLiteral("%1 is cut short (%2)").arg(settings.inputPath, file.truncationReason()));
        if (file.durationSeconds() > maxSongSeconds)
            return fail(ExitBadInput, QStringLiteral("%1 lasts %2 s; at most %3 s can be rendered")
                                          .arg(settings.inputPath)
                                          .arg(file.durationSeconds(), 0, 'f', 0)
                                          .arg(maxSongSeconds));
        if (settings.chords) {
            printChords(file, settings.chordsBelow);
            return ExitOk;
        }
    }

    const auto started = std::chrono::steady_clock::now();
    AudioEngine engine;
    // The built-in synth plays every keyboard zone that has no instrument file.
    for (int slot = 0; slot < config::keyboardSlotCount; ++slot) {
        engine.setSlotEngineType(slot, SoundEngineType::Synth);
        engine.synths[static_cast<std::size_t>(slot)].setVoiceModel(settings.synthModel);
    }
    if (!settings.sfzPath.isEmpty()) {
        if (!engine.sfzPiano.loadSfzFile(settings.sfzPath, &error)) return fail(ExitBadInput, error);
        engine.setSlotEngineType(0, SoundEngineType::Sfz);
    }
    if (!applyPresets(engine, settings, &error)) return fail(ExitBadInput, error);
    GeneralMidiPlayer player(engine.fluidSynth);
    std::optional<Arranger> band;
    const bool generalMidi = !styleMode && !settings.soundFontPath.isEmpty();
    if (generalMidi && !player.loadFont(settings.soundFontPath, &error)) return fail(ExitBadInput, error);
    if (styleMode) {
        // The style as the DRUMS view chooses it, its kit from the General MIDI font.
        const QString font = settings.soundFontPath.isEmpty()
                                 ? resolveSoundFontPath(QString::fromLatin1(gmSoundFontPath))
                                 : settings.soundFontPath;
        if (!QFileInfo(font).isFile())
            return fail(ExitBadInput,
                        QStringLiteral("no SoundFont for the drum kit: %1 does not exist (use --sf2 FILE)")
                            .arg(font));
        BeatSequencer& sequencer = engine.beatSequencer;
        sequencer.initBuiltinStyles();
        if (!settings.styleFile.isEmpty()) {
            settings.style = sequencer.importStyFile(settings.styleFile, &error);
            if (settings.style < 0) return fail(ExitBadInput, error);
        }
        sequencer.selectStyle(settings.style);
        const StylePattern& style = sequencer.currentStyle();
        // Playing along with a file, the player is the lead: its channel is silent.
        const bool keyboardMode = settings.arranger && !settings.inputPath.isEmpty();
        const int chords = styleBandChannelVolume(0.85f, 0.85f, false);
        if (!applyStyleSounds(engine.fluidSynth, style, font,
                              {chords, styleBandChannelVolume(0.85f, 0.90f, false),
                               styleBandChannelVolume(0.85f, 0.85f, keyboardMode), chords}))
            return fail(ExitBadInput,
                        QStringLiteral("%1 has no drum kit %2").arg(font).arg(style.drumKitProgram));
        if (settings.arranger)
            launchBand(band.emplace([&engine](const MidiEvent& e) { engine.submitMidiEvent(e); }), sequencer,
                       settings, keyboardMode);
        if (keyboardMode && !file.tempoMap().empty())
            sequencer.setBpm(60'000'000.0f /
                             static_cast<float>(file.tempoMap().front().microsecondsPerQuarter));
        if (settings.tempo) sequencer.setBpm(*settings.tempo);
        sequencer.setSwing(settings.swing);
        sequencer.setHumanize(settings.humanize);
        sequencer.setMetronomeEnabled(settings.click);
    }
    engine.prepareOffline(settings.render.sampleRate, settings.render.blockFrames);
    engine.effects.setEnabled(settings.effects);
    std::optional<EventLog> log;
    if (!settings.eventsPath.isEmpty()) {
        log.emplace(settings.render.sampleRate, settings.arranger);
        engine.setNoteObserver(&*log);
    }

    QSaveFile output(settings.outputPath);
    if (!output.open(QIODevice::WriteOnly))
        return fail(ExitOutputFailed,
                    QStringLiteral("cannot write %1: %2").arg(settings.outputPath, output.errorString()));
    SF_INFO info{};
    info.samplerate = static_cast<int>(settings.render.sampleRate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* wav = sf_open_fd(output.handle(), SFM_WRITE, &info, SF_FALSE);
    if (wav == nullptr)
        return fail(ExitOutputFailed,
                    QStringLiteral("cannot write %1: %2").arg(settings.outputPath, sf_strerror(nullptr)));
    // Peaks past full scale are clipped rather than wrapped.
    sf_command(wav, SFC_SET_CLIPPING, nullptr, SF_TRUE);

    const auto sink = [wav](const float* interleaved, std::uint32_t frames) {
        return sf_writef_float(wav, interleaved, frames) == static_cast<sf_count_t>(frames);
    };
    std::uint64_t totalFrames = 0;
    bool rendered = false;
    if (band && !settings.inputPath.isEmpty()) {
        rendered =
            renderBandOverFile(engine, file, settings, *band, log ? &*log : nullptr, sink, &totalFrames);
    } else if (styleMode) {
        rendered =
            renderStyle(engine, settings, band ? &*band : nullptr, log ? &*log : nullptr, sink, &totalFrames);
    } else {
        const MidiFileRenderer renderer(file, settings.render);
        totalFrames = renderer.totalFrames();
        // As a General MIDI module the events bypass the keyboard's zones: this thread
        // renders, so it hands them to the SoundFont engine itself, right before the
        // block that starts at their frame.
        std::uint64_t blockStart = 0;
        const auto submit = [&](const MidiEvent& event) {
            if (!generalMidi) {
                engine.submitMidiEvent(event);
                return;
            }
            const bool note = event.status == MidiEvent::NoteOn || event.status == MidiEvent::NoteOff;
            if (log) log->setBlockStart(blockStart);
            if (log && note)
                log->noteEvent(AudioEngine::NoteSource::Events, event.channel,
                               event.status == MidiEvent::NoteOn && event.data2 > 0, event.data1,
                               event.status == MidiEvent::NoteOn ? event.data2 : 0);
            player.handle(event);
        };
        const auto process = [&](float* out, std::uint32_t frames) {
            if (log) log->setBlockStart(blockStart);
            engine.processAudioCallback(out, frames);
            blockStart += frames;
        };
        rendered = renderer.render(submit, process, sink);
    }
    const QString writeError = QString::fromLocal8Bit(sf_strerror(wav));
    sf_close(wav);
    if (!rendered || !output.commit())
        return fail(ExitOutputFailed,
                    QStringLiteral("cannot write %1: %2")
                        .arg(settings.outputPath, rendered ? output.errorString() : writeError));
    if (log && !log->write(settings.eventsPath, &error)) return fail(ExitOutputFailed, error);

    const double taken = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double audio = static_cast<double>(totalFrames) / settings.render.sampleRate;
    std::printf("Rendered %.3f s of audio in %.3f s (%.1fx realtime)\n", audio, taken,
                audio / std::max(taken, 1e-9));
    return ExitOk;
}
