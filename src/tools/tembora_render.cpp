// tembora-render: renders a Standard MIDI File through the workstation's audio
// engine, offline and with no sound device, into a WAV file.

#include "app/SlotSound.h"
#include "audio/AudioEngine.h"
#include "audio/MidiFileRenderer.h"
#include "engines/GeneralMidiPlayer.h"
#include "midi/StandardMidiFile.h"
#include "storage/ProjectManager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSaveFile>
#include <QStandardPaths>

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

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

With --sf2 the engine plays the file as a General MIDI sound module: every
channel through the SoundFont, with the file's own bank and program changes,
channel 10 through the SoundFont's drum kits. The master effects (tone, reverb,
compressor, soft clip) follow in both modes unless --fx off.

Exit status: 0 done; 1 the output could not be written; 2 bad input or options
(missing file, not a MIDI file, a track cut short, an SFZ instrument that cannot
be loaded, an unknown preset id, an unknown option).)";

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
};

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
        const QStringList inputs = m_parser.positionalArguments();
        if (inputs.size() != 1) {
            *error = inputs.isEmpty() ? QStringLiteral("no input file given (see --help)")
                                      : QStringLiteral("more than one input file given");
            return false;
        }
        settings->inputPath = inputs.constFirst();
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

    StandardMidiFile file;
    if (!file.load(settings.inputPath, &error)) return fail(ExitBadInput, error);
    if (file.isTruncated())
        return fail(ExitBadInput,
                    QStringLiteral("%1 is cut short (%2)").arg(settings.inputPath, file.truncationReason()));
    if (file.durationSeconds() > maxSongSeconds)
        return fail(ExitBadInput, QStringLiteral("%1 lasts %2 s; at most %3 s can be rendered")
                                      .arg(settings.inputPath)
                                      .arg(file.durationSeconds(), 0, 'f', 0)
                                      .arg(maxSongSeconds));

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
    const bool generalMidi = !settings.soundFontPath.isEmpty();
    if (generalMidi && !player.loadFont(settings.soundFontPath, &error)) return fail(ExitBadInput, error);
    engine.prepareOffline(settings.render.sampleRate, settings.render.blockFrames);
    engine.effects.setEnabled(settings.effects);

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

    const MidiFileRenderer renderer(file, settings.render);
    const auto sink = [wav](const float* interleaved, std::uint32_t frames) {
        return sf_writef_float(wav, interleaved, frames) == static_cast<sf_count_t>(frames);
    };
    // As a General MIDI module the events bypass the keyboard's zones: this thread
    // renders, so it hands them to the SoundFont engine itself, right before the
    // block that starts at their frame.
    const bool rendered = generalMidi
                              ? renderer.render([&player](const MidiEvent& event) { player.handle(event); },
                                                [&engine](float* out, std::uint32_t frames) {
                                                    engine.processAudioCallback(out, frames);
                                                },
                                                sink)
                              : renderer.render(engine, sink);
    const QString writeError = QString::fromLocal8Bit(sf_strerror(wav));
    sf_close(wav);
    if (!rendered || !output.commit())
        return fail(ExitOutputFailed,
                    QStringLiteral("cannot write %1: %2")
                        .arg(settings.outputPath, rendered ? output.errorString() : writeError));

    const double taken = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double audio = static_cast<double>(renderer.totalFrames()) / settings.render.sampleRate;
    std::printf("Rendered %.3f s of audio in %.3f s (%.1fx realtime)\n", audio, taken,
                audio / std::max(taken, 1e-9));
    return ExitOk;
}
