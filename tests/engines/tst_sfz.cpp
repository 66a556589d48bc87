// The SFZ piano: readers (hostile files too), load messages, playing, hand-overs (ASan, TSan).

#include "EngineTestSupport.h"
#include "audio/AudioEngine.h"
#include "engines/SfzBank.h"
#include "engines/SfzParser.h"
#include "engines/SfzPianoEngine.h"
#include "engines/SfzSampleData.h"
#include "support/AudioAnalysis.h"
#include "support/OfflineRender.h"
#include "support/SfzFixtures.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace tmb;
using namespace tmb::test;
using namespace std::chrono_literals;

namespace {

constexpr double rate = 48000.0;

std::size_t at(double seconds) {
    return static_cast<std::size_t>(seconds * rate);
}

double amplitudeDb(const std::vector<float>& s, double hz, double from, double to) {
    return 20.0 * std::log10(std::max(toneAmplitude(s, rate, hz, at(from), at(to)), 1e-12));
}

double pitchOf(const StereoSignal& s) {
    return dominantFrequency(s.left, rate, 100, 2000, at(0.05));
}

struct Piano : SfzPianoEngine {
    void playInto(StereoSignal& signal, double seconds) { // appends `seconds` of output
        const std::size_t frames = at(seconds), start = signal.left.size();
        signal.left.resize(start + frames, 0.0f);
        signal.right.resize(start + frames, 0.0f);
        for (std::size_t done = 0; done < frames; done += 256)
            renderStereo(signal.left.data() + start + done, signal.right.data() + start + done,
                         static_cast<std::uint32_t>(std::min<std::size_t>(256, frames - done)));
    }
    StereoSignal play(double seconds) {
        StereoSignal signal;
        return playInto(signal, seconds), signal;
    }
    StereoSignal strike(int note, double seconds, int velocity = 100) {
        noteOn(note, velocity, 440.0f);
        return play(seconds);
    }
    void hush() { // lets everything end before the next note
        allNotesOff();
        play(0.1);
    }
};

std::vector<SfzParsedRegion> parse(const QString& fileText) {
    return SfzParser::parseRegions(SfzParser::joinLines(fileText));
}

// Every field of a parsed region, in two groups.
auto keys(const SfzRegion& r) {
    return std::tuple(r.lokey, r.hikey, r.lovel, r.hivel, r.pitchKeycenter, r.onLocc64, r.onHicc64);
}
auto levels(const SfzRegion& r) {
    return std::tuple(r.pitchKeytrack, r.tune, r.volume, r.ampVeltrack, r.ampegRelease, r.rtDecay, r.lorand,
                      r.hirand);
}

QByteArray le16(quint16 v) {
    return QByteArray(1, char(v & 0xFF)) + char(v >> 8);
}
QByteArray le32(quint32 v) {
    return le16(quint16(v & 0xFFFF)) + le16(quint16(v >> 16));
}
// A chunk with its declared size (the real body length unless told otherwise).
QByteArray chunk(const char* id, const QByteArray& body, qint64 declared = -1) {
    QByteArray c = QByteArray(id, 4) + le32(quint32(declared < 0 ? body.size() : declared)) + body;
    return body.size() % 2 ? c + '\0' : c;
}
QByteArray fmt(quint16 tag, quint16 channels, quint32 rate, quint16 bits) {
    const quint16 align = quint16(channels * bits / 8);
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}
QByteArray riff(const QByteArray& chunks) {
    return "RIFF" + le32(quint32(4 + chunks.size())) + "WAVE" + chunks;
}
QByteArray pcm16Frames(int frames, int channels) {
    QByteArray data;
    for (int i = 0; i < frames * channels; ++i)
        data += le16(quint16(qint16(10000 * std::sin(i * 0.05))));
    return data;
}

SfzWavLayout layoutOf(const QByteArray& bytes) {
    return inspectWav(reinterpret_cast<const std::uint8_t*>(bytes.constData()), quint64(bytes.size()));
}

// The audio callback at about real time (5.3 ms blocks): a changing note until quiet, the left output kept.
struct AudioThread {
    explicit AudioThread(SfzPianoEngine& e)
        : engine(e) {}
    ~AudioThread() {
        stop = true;
        thread.join();
    }
    void run(const std::function<void(SfzPianoEngine&)>& task) {
        std::lock_guard lock(mutex);
        task(engine);
    }
    std::vector<float> capture(std::size_t frames) { // the next `frames` frames
        std::unique_lock lock(mutex);
        const std::size_t from = output.size();
        grown.wait(lock, [&] { return output.size() >= from + frames; });
        return {output.begin() + from, output.begin() + from + frames};
    }
    void loop() {
        for (int block = 0, note = -1; !stop; ++block, grown.notify_all(), std::this_thread::sleep_for(4ms)) {
            std::lock_guard lock(mutex);
            if (block % 8 == 0 && !quiet) {
                if (note >= 0) engine.noteOff(note, 0.5f);
                engine.noteOn(note = 40 + (block / 8) * 7 % 60, 90, 440.0f);
            }
            std::vector<float> right(256);
            output.resize(output.size() + 256);
            engine.renderStereo(output.data() + output.size() - 256, right.data(), 256);
        }
    }

    SfzPianoEngine& engine;
    std::atomic<bool> quiet{false}, stop{false};
    std::mutex mutex;
    std::condition_variable grown;
    std::vector<float> output;
    std::thread thread{&AudioThread::loop, this};
};

} // namespace

class SfzTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_instruments = 0;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Writes a sine sample once and returns its file name.
    QString sample(const QString& name, double hz, double seconds = 2.0,
                   WavEncoding encoding = WavEncoding::Pcm16, int sampleRate = 48000) {
        const TestTone tone{
            .frequency = hz, .seconds = seconds, .sampleRate = sampleRate, .encoding = encoding};
        if (!QFileInfo::exists(path(name)) && !writeTestWav(path(name), tone))
            qFatal("cannot write %s", qPrintable(name));
        return name;
    }
    // Writes the bytes (an SFZ text as a new instrument) and returns the path.
    QString file(const QString& name, const QByteArray& bytes) {
        if (!writeTestFile(path(name), bytes)) qFatal("cannot write %s", qPrintable(name));
        return path(name);
    }
    QString instrument(const QByteArray& sfz) {
        return file(QStringLiteral("i%1.sfz").arg(++m_instruments), sfz);
    }
    // A fresh engine playing the SFZ text.
    std::unique_ptr<Piano> engineWith(const QByteArray& sfz) {
        auto engine = std::make_unique<Piano>();
        QString error;
        if (!engine->loadSfzFile(instrument(sfz), &error))
            qFatal("cannot load instrument: %s", qPrintable(error));
        return engine;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const struct {
            const char* name;
            double hz, seconds;
        } tones[] = {{"c4", 261.63, 2.0},    {"long110", 110.0, 20.0}, {"a220", 220.0, 5.0},
                     {"a330", 330.0, 5.0},   {"a440", 440.0, 2.0},     {"r880", 880.0, 1.0},
                     {"p1320", 1320.0, 1.0}, {"p1760", 1760.0, 1.0},   {"k1000", 1000.0, 5.0},
                     {"short", 220.0, 0.05}};
        for (const auto& tone : tones)
            sample(QString::fromLatin1(tone.name) + u".wav"_qs, tone.hz, tone.seconds);
        // Long low strings and short notes, mapped (16-bit) and decoded (float, 24-bit).
        sample(u"low16.wav"_qs, 110.0, 40.0, WavEncoding::Pcm16, 8000);
        sample(u"lowf.wav"_qs, 110.0, 40.0, WavEncoding::Float32, 8000);
        sample(u"s880.wav"_qs, 880.0, 0.3);
        sample(u"s880_24.wav"_qs, 880.0, 0.3, WavEncoding::Pcm24);
    }

    void headersInheritAndResetState() {
        const auto regions = parse(uR"(
            <control> default_path=Piano\Samples\
            <global> volume=-6 ampeg_release=0.5 sample=ignored.wav
            <group> lovel=1 hivel=64 tune=10
            <region> sample=C4 soft.wav key=c#4
            <REGION> sample=b.wav lovel=20 trigger=RELEASE rt_decay=3
            <group> pitch_keytrack=0
            <region> sample=c.wav on_locc64=100 on_hicc64=127 lorand=0.5 hirand=1
            <region> volume=0
            <curve> lokey=99
            <global> tune=5
            <region> sample=d.wav
        )"_qs);
        QCOMPARE(regions.size(), std::size_t{4});
        // Values keep their spaces up to the next opcode; backslashes become slashes.
        QCOMPARE(regions[0].samplePath, u"Piano/Samples/C4 soft.wav"_qs);
        QCOMPARE(keys(regions[0].region), std::tuple(61, 61, 1, 64, 61, -1, -1));
        QCOMPARE(levels(regions[0].region), std::tuple(100.0f, 10.0f, -6.0f, 73.0f, 0.5f, 6.0f, 0.0f, 1.0f));
        QVERIFY(regions[0].region.trigger == SfzTrigger::Attack);
        QCOMPARE(keys(regions[1].region), std::tuple(0, 127, 20, 64, 60, -1, -1));
        QCOMPARE(levels(regions[1].region), std::tuple(100.0f, 10.0f, -6.0f, 73.0f, 0.5f, 3.0f, 0.0f, 1.0f));
        QVERIFY(regions[1].region.trigger == SfzTrigger::Release);
        // A new group starts again from the global state.
        QCOMPARE(keys(regions[2].region), std::tuple(0, 127, 1, 127, 60, 100, 127));
        QCOMPARE(levels(regions[2].region), std::tuple(0.0f, 0.0f, -6.0f, 73.0f, 0.5f, 6.0f, 0.5f, 1.0f));
        QVERIFY(regions[2].region.trigger == SfzTrigger::Pedal);
        // An unknown header ends the region; a new global resets the group, adds to global.
        QCOMPARE(keys(regions[3].region), std::tuple(0, 127, 1, 127, 60, -1, -1));
        QCOMPARE(levels(regions[3].region), std::tuple(100.0f, 5.0f, -6.0f, 73.0f, 0.5f, 6.0f, 0.0f, 1.0f));
        // A name never reaches back into the value before it; a value runs on over spaced words.
        QStringList scanned;
        SfzParser::forEachOpcode(u"a=1b=2 c=d e", [&](QStringView name, QStringView value) {
            scanned << name.toString() + u'=' + value.toString();
        });
        QCOMPARE(scanned, QStringList({u"a=1b"_qs, u"c=d e"_qs}));
    }

    // Hostile numbers and note names are held to their ranges; what cannot be read is the default.
    void hostileNumbersAndNoteNamesStayBounded() {
        // Text:key. Names and numbers are held to the keyboard; what cannot be read is 60.
        const QString cases = u"c#4:61 eb3:51 H2:60 200:127 -5:-1 C-1:0 G10:127 c:60 d#x:63 60.5:60 :60 "
                              "99999999999999999999999:127 a99999999999999999999:127"_qs;
        for (const QString& c : cases.split(u' '))
            QVERIFY2(SfzParser::parseNoteValue(c.section(u':', 0, -2)) == c.section(u':', -1).toInt(),
                     qPrintable(c));
        const auto regions = parse(uR"(<region> sample=a.wav volume=1e999 tune=nan pitch_keytrack=1e30
            ampeg_release=0 rt_decay=-5 lovel=300 hivel=abc amp_veltrack=inf lorand=0x10
            <region> sample=b.wav volume=100000 ampeg_release=1e9 on_locc64=99999999999999999999 hikey=-40)"_qs);
        QCOMPARE(regions.size(), std::size_t{2});
        QCOMPARE(keys(regions[0].region), std::tuple(0, 127, 127, 0, 60, -1, -1));
        QCOMPARE(levels(regions[0].region), std::tuple(1200.0f, 0.0f, 0.0f, 0.0f, 0.02f, 0.0f, 0.0f, 1.0f));
        QCOMPARE(keys(regions[1].region), std::tuple(0, -1, 1, 127, 60, INT_MAX, -1));
        QCOMPARE(levels(regions[1].region), std::tuple(100.0f, 0.0f, 48.0f, 73.0f, 100.0f, 6.0f, 0.0f, 1.0f));
        // Garbage text yields no region and no crash.
        QByteArray garbage(4096, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(garbage.data()), garbage.size() / 4);
        QVERIFY(parse(QString::fromUtf8(garbage) + u"<region"_qs).empty());
    }

    void wavLayoutWalksChunksSafelyAndBrokenFilesAreRefused() {
        const QByteArray format = chunk("fmt ", fmt(1, 2, 44100, 16)),
                         data = chunk("data", pcm16Frames(100, 2));
        const SfzWavLayout l = layoutOf(riff(chunk("LIST", "odd") + format + data));
        QVERIFY(l.usableInPlace());
        QCOMPARE(std::tuple(l.channels, l.sampleRate, l.dataBytes, l.dataOffset),
                 std::tuple(quint16(2), 44100u, quint64(400), quint64(12 + 12 + 24 + 8)));
        // A data chunk that claims more than the file holds (a truncated file).
        QVERIFY(layoutOf(riff(format + chunk("data", pcm16Frames(100, 2), 100000))).chunkOverrun);
        // Sizes near 2^32 must not wrap around the end of the file.
        for (quint32 size : {0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u}) {
            const SfzWavLayout wrapped = layoutOf(riff(chunk("junk", "ab", size) + format + data));
            QVERIFY(wrapped.chunkOverrun && !wrapped.usableInPlace());
        }
        // Not played in place: odd formats, order, sizes or empty data.
        for (const auto& [tag, channels, sampleRate, bits] : {std::tuple{1, 1, 48000, 24},
                                                              {3, 1, 48000, 32},
                                                              {0xFFFE, 1, 48000, 16},
                                                              {1, 0, 48000, 16},
                                                              {1, 1, 0, 16}})
            QVERIFY(
                !layoutOf(riff(chunk("fmt ", fmt(tag, channels, sampleRate, bits)) + data)).usableInPlace());
        for (const QByteArray& bytes :
             {riff(data + format), riff(data), riff(format + chunk("data", {})),
              riff(chunk("fmt ", fmt(1, 1, 48000, 16).left(14)) + data), riff(format + chunk("data", "ab"))})
            QVERIFY(!layoutOf(bytes).usableInPlace());
        // Every prefix of a good file is handled without reading past its end.
        const QByteArray good = riff(format + data);
        for (int length = 0; length <= good.size(); ++length)
            (void)layoutOf(good.left(length));
        QVERIFY(!layoutOf("RIFF").riffWave);
        // Chunk sizes that send libsndfile's own parser far past the end of the bytes.
        const QByteArray farSeek = QByteArray::fromHex("52494646b000000057415645") + "LIST" +
                                   QByteArray::fromHex("0300ffffffffffffffffffffffffffff");
        SfzSampleData decoded;
        QVERIFY(!decodeSfzSample(reinterpret_cast<const std::uint8_t*>(farSeek.constData()),
                                 quint64(farSeek.size()), &decoded));
        const std::pair<QString, QByteArray> refused[] = {
            {u"fortythree.wav"_qs, good.left(43)},
            {u"text.wav"_qs, QByteArray(500, 'x')},
            {u"riffonly.wav"_qs, riff(chunk("junk", QByteArray(40, 'j')))},
            {u"farseek.wav"_qs, farSeek + QByteArray(40, '\xff')}};
        for (const auto& [name, bytes] : refused)
            QVERIFY2(!readSfzSampleFile(file(name, bytes)), qPrintable(name));
        QVERIFY(!readSfzSampleFile(path(u"missing.wav"_qs)));
        // A directory or a FIFO is refused without blocking.
        QVERIFY(!readSfzSampleFile(m_dir.path()));
        QCOMPARE(::mkfifo(QFile::encodeName(path(u"fifo.wav"_qs)).constData(), 0600), 0);
        QVERIFY(!readSfzSampleFile(path(u"fifo.wav"_qs)));
    }

    void sampleFilesAreMappedOrDecoded() {
        const QString s16 = path(sample(u"s16.wav"_qs, 261.63, 0.2));
        const auto mapped = readSfzSampleFile(s16);
        QVERIFY(mapped && mapped->pcm16 != nullptr && mapped->pcmFloat.empty());
        QCOMPARE(std::tuple(mapped->mapLength, mapped->frames, mapped->sampleRate),
                 std::tuple(std::size_t(QFileInfo(s16).size()), quint64(9600), 48000u));
        for (const WavEncoding encoding : {WavEncoding::Pcm24, WavEncoding::Float32}) {
            const auto name =
                sample(encoding == WavEncoding::Pcm24 ? u"s24.wav"_qs : u"f32.wav"_qs, 261.63, 0.2, encoding);
            const auto decoded = readSfzSampleFile(path(name));
            QVERIFY2(decoded && decoded->pcm16 == nullptr && decoded->mapBase == nullptr, qPrintable(name));
            QCOMPARE(std::tuple(decoded->frames, decoded->channels), std::tuple(quint64(9600), 1u));
            // The same samples as the mapped file, within 16-bit resolution.
            for (std::uint64_t i = 0; i < decoded->frames; i += 97)
                QVERIFY(std::fabs(decoded->pcmFloat[i] - mapped->pcm16[i] / 32768.0f) < 1.0f / 16384);
        }
        // Unplayable float values come out as silence or within the headroom.
        const QByteArray hostileFloats =
            le32(0x7FC00000) + le32(0x7F800000) + le32(0xFF800000) + le32(0x7F7FFFFF) + le32(0x3F000000);
        const auto nan = readSfzSampleFile(
            file(u"nan.wav"_qs, riff(chunk("fmt ", fmt(3, 1, 48000, 32)) + chunk("data", hostileFloats))));
        QVERIFY(nan);
        QCOMPARE(nan->pcmFloat, (std::vector<float>{0.0f, 0.0f, 0.0f, 8.0f, 0.5f}));
        // Six channels decode to the first two.
        QVERIFY(writeTestWav(path(u"six.wav"_qs),
                             {.seconds = 0.1, .channels = 6, .encoding = WavEncoding::Float32}));
        const auto six = readSfzSampleFile(path(u"six.wav"_qs));
        QVERIFY(six && six->channels == 2u && six->pcmFloat.size() == std::size_t(4800 * 2));
    }

    void loadReportsItsMessagesAndKeepsThePreviousInstrument() {
        const QString good = instrument("<region> sample=c4.wav key=60\n<region> sample=missing.wav key=61\n"
                                        "<region> sample=c4.wav key=62\n"),
                      nothing = instrument("<region> sample=missing.wav\n<region> key=60\n");
        SfzPianoEngine engine;
        QString error;
        for (const QString& unreadable : {path(u"absent.sfz"_qs), m_dir.path()}) {
            QVERIFY(!engine.loadSfzFile(unreadable, &error));
            QCOMPARE(error, u"Cannot open SFZ file: "_qs + unreadable);
        }
        QVERIFY(engine.loadSfzFile(good, &error));
        QCOMPARE(engine.loadedRegionCount(), 2); // the missing sample drops only its region
        QVERIFY(!engine.loadSfzFile(nothing, &error));
        QCOMPARE(error, u"No valid playable regions found in "_qs + nothing);
        QVERIFY(!engine.loadSfzFile(nothing)); // no error string wanted
        QCOMPARE(engine.loadedRegionCount(), 2);
        QCOMPARE(engine.currentSfzPath(), QFileInfo(good).absoluteFilePath());
    }
    void pitchFollowsKeyByResampling() {
        auto engine = engineWith("<region> sample=c4.wav pitch_keycenter=60");
        QVERIFY(std::fabs(pitchOf(engine->strike(67, 0.5)) / 392.0 - 1.0) < 0.005);
        // Concert pitch, pitch bend (new notes only) and the file's own rate.
        engine->hush();
        engine->noteOn(60, 100, 466.0f);
        QVERIFY(std::fabs(pitchOf(engine->play(0.5)) / (261.63 * 466 / 440) - 1) < 0.005);
        engine->hush();
        engine->noteOn(60, 100, 440.0f);
        engine->setPitchBend(8191);
        const StereoSignal bent = engine->strike(72, 0.5);
        QVERIFY(amplitudeDb(bent.left, 261.63, 0.05, 0.5) > -20.0); // sounding note unchanged
        QVERIFY(amplitudeDb(bent.left, 523.25 * std::exp2(1.99976 / 12), 0.05, 0.5) > -20.0);
        QVERIFY(amplitudeDb(bent.left, 523.25, 0.05, 0.5) < -50.0);
        sample(u"c4_441.wav"_qs, 261.63, 2.0, WavEncoding::Pcm16, 44100);
        auto other = engineWith("<region> sample=c4_441.wav pitch_keycenter=60 tune=-100");
        QVERIFY(std::fabs(pitchOf(other->strike(61, 0.5)) / 261.63 - 1) < 0.005);
    }

    void velocityLayersLayeringAndRoundRobin() {
        auto engine = engineWith("<group> pitch_keycenter=60\n<region> sample=a220.wav lovel=1 hivel=42\n"
                                 "<region> sample=a330.wav lovel=43 hivel=84\n"
                                 "<region> sample=a440.wav lovel=85 hivel=127\n");
        const double layers[] = {220, 330, 440};
        const int velocities[] = {30, 60, 100};
        for (int i = 0; i < 3; ++i) {
            engine->hush();
            const StereoSignal out = engine->strike(60, 0.3, velocities[i]);
            QCOMPARE(engine->activeVoiceCount(), 1);
            for (int j = 0; j < 3; ++j) {
                const double db = amplitudeDb(out.left, layers[j], 0.05, 0.3);
                TMB_VERIFY(i == j ? db > -20 : db < -60, velocities[i], layers[j], db);
            }
        }
        // Random windows: exactly one of the two each time, both taken.
        auto robin = engineWith("<region> sample=a220.wav pitch_keycenter=60 lorand=0 hirand=0.5\n"
                                "<region> sample=a330.wav pitch_keycenter=60 lorand=0.5 hirand=1\n");
        int low = 0;
        for (int i = 0; i < 40; ++i, robin->hush()) {
            const StereoSignal out = robin->strike(60, 0.1);
            const bool a220 = amplitudeDb(out.left, 220, 0.02, 0.1) > -20;
            QVERIFY(robin->activeVoiceCount() == 1 && a220 != (amplitudeDb(out.left, 330, 0.02, 0.1) > -20));
            low += a220;
        }
        TMB_VERIFY(low >= 8 && low <= 32, low);
    }

    void releaseSampleLevelFollowsHoldTime() {
        // Level of the 880 Hz release sample just after holding `note` for `seconds`.
        auto releaseAfter = [&](double seconds, int note = 60) {
            auto engine =
                engineWith("<region> sample=long110.wav pitch_keycenter=60\n"
                           "<region> sample=r880.wav pitch_keycenter=60 trigger=release rt_decay=6\n"
                           "<region> sample=r880.wav pitch_keycenter=60 trigger=release rt_decay=1 "
                           "lokey=62 hikey=62\n");
            engine->strike(note, seconds);
            engine->noteOff(note, 0.5f);
            return amplitudeDb(engine->play(0.2).left, 880.0 * std::exp2((note - 60) / 12.0), 0.02, 0.2);
        };
        const double oneSecond = releaseAfter(1.0), tenSeconds = releaseAfter(10.0);
        QVERIFY(oneSecond > -30);
        TMB_VERIFY(std::fabs((oneSecond - tenSeconds) - 54.0) < 0.5, oneSecond - tenSeconds);
        // Below -68 dB it is not played; past 15 s none is considered at all.
        QVERIFY(releaseAfter(12.0) < tenSeconds - 30);
        QVERIFY(releaseAfter(14.0, 62) > oneSecond - 20);
        QVERIFY(releaseAfter(16.0, 62) < oneSecond - 80);
    }

    void sustainPedalHoldsAndReleasesSilently() {
        auto engine = engineWith("<region> sample=a220.wav pitch_keycenter=60\n"
                                 "<region> sample=r880.wav pitch_keycenter=60 trigger=release\n"
                                 "<region> sample=p1320.wav on_locc64=100 on_hicc64=127\n"
                                 "<region> sample=p1760.wav on_locc64=0 on_hicc64=10\n");
        StereoSignal out = engine->strike(60, 0.1);
        // Controller value 64 looks for the window holding 126.
        engine->setSustainPedal(true, 64, 0.5f);
        engine->setSustainPedal(true, 127, 0.5f); // repeated press: nothing new
        engine->noteOff(60, 0.5f);
        engine->playInto(out, 0.6);
        QCOMPARE(engine->activeVoiceCount(), 2); // the string and the pedal-down noise
        QVERIFY(amplitudeDb(out.left, 1320, 0.1, 0.3) > -30);
        QVERIFY(amplitudeDb(out.left, 880, 0.1, 0.7) < -80); // no release sample under the pedal
        // Only the slow hold decay of key 60 (-60 dB in 7.13 s) over 0.4 s.
        const double held = amplitudeDb(out.left, 220, 0.5, 0.7) - amplitudeDb(out.left, 220, 0.1, 0.3);
        TMB_VERIFY(std::fabs(held + 3.365) < 0.3, held);
        engine->setSustainPedal(false, 0, 0.5f);
        engine->playInto(out, 0.01);
        // The released string and the two noises: lifting never plays release samples.
        QCOMPARE(engine->activeVoiceCount(), 3);
        engine->playInto(out, 1.0);
        QVERIFY(amplitudeDb(out.left, 1760, 0.71, 0.9) > -30);
        QVERIFY(amplitudeDb(out.left, 220, 1.4, 1.7) < -70); // the string has been released
    }

    void sostenutoHoldsOnlyTheKeysDownWhenPressed() {
        auto engine = engineWith("<region> sample=a220.wav key=60\n<region> sample=a330.wav key=64\n");
        engine->noteOn(60, 100, 440.0f);
        engine->setSostenutoPedal(true);
        engine->noteOn(64, 100, 440.0f);
        engine->noteOff(60, 0.5f);
        engine->noteOff(64, 0.5f);
        StereoSignal out = engine->play(1.0);
        QVERIFY(amplitudeDb(out.left, 220, 0.8, 1.0) > -20 && amplitudeDb(out.left, 330, 0.8, 1.0) < -70);
        engine->setSostenutoPedal(false);
        QVERIFY(amplitudeDb(engine->play(1.0).left, 220, 0.8, 1.0) < -70);
        QCOMPARE(engine->activeVoiceCount(), 0);
        // Sostenuto lifted under the sustain pedal hands the string over; lifting that ends it.
        engine->noteOn(60, 100, 440.0f);
        engine->setSostenutoPedal(true);
        engine->noteOff(60, 0.5f);
        engine->setSustainPedal(true, 127, 0.0f);
        engine->setSostenutoPedal(false);
        QVERIFY(amplitudeDb(engine->play(1.0).left, 220, 0.8, 1.0) > -20);
        engine->setSustainPedal(false, 0, 0.0f);
        engine->play(1.0);
        QCOMPARE(engine->activeVoiceCount(), 0);
    }

    void the129thNoteStealsAVoice() {
        // Key 20 plays 1000 Hz; every other key plays 110 Hz. All 128 held, key 20 first.
        const auto filled = [&] {
            auto engine = engineWith("<region> sample=k1000.wav key=20 pitch_keytrack=0\n"
                                     "<region> sample=long110.wav lokey=0 hikey=19 pitch_keytrack=0\n"
                                     "<region> sample=long110.wav lokey=21 hikey=127 pitch_keytrack=0\n");
            engine->stringResonance = 0.0f;
            engine->noteOn(20, 100, 440.0f);
            for (int note = 0; note < 128; ++note)
                if (note != 20) engine->noteOn(note, 100, 440.0f);
            return engine;
        };
        // With all held the oldest (key 20, 50 dB above the 110 Hz crowd's leak) goes.
        auto engine = filled();
        const double present = amplitudeDb(engine->play(0.1).left, 1000, 0.02, 0.1);
        QCOMPARE(engine->activeVoiceCount(), 128);
        QVERIFY(present > -20);
        QVERIFY(amplitudeDb(engine->strike(50, 0.1).left, 1000, 0.02, 0.1) < present - 50);
        QCOMPARE(engine->activeVoiceCount(), 128);
        // A released voice goes before any held one: the quietest released one.
        engine = filled();
        engine->noteOff(90, 0.5f);
        engine->play(0.05);
        engine->noteOff(20, 0.5f); // released later, so louder than key 90
        QVERIFY(amplitudeDb(engine->strike(50, 0.1).left, 1000, 0.0, 0.05) > -30);
        engine->noteOn(51, 100, 440.0f); // now key 20 is the only released voice
        QVERIFY(amplitudeDb(engine->play(0.1).left, 1000, 0.02, 0.1) < present - 50);
        QCOMPARE(engine->activeVoiceCount(), 128);
    }

    // String resonance rings on under the pedal only when it is turned up.
    void resonanceOnlyWithItAndThePedalDown() {
        for (const float resonance : {0.0f, 1.0f}) {
            auto short60 = engineWith("<region> sample=short.wav pitch_keycenter=60");
            short60->stringResonance = resonance;
            short60->setSustainPedal(true, 127, 0.0f);
            const StereoSignal out = short60->strike(60, 0.3, 127);
            const float tail = rms(out.left, at(0.1), at(0.3)) + rms(out.right, at(0.1), at(0.3));
            QVERIFY(resonance > 0 ? tail > 1e-5f : tail == 0.0f);
        }
    }

    // A replaced instrument lives exactly as long as a voice reads it (ASan, TSan).
    void fiveSwitchesWhileAPedalledNoteFromTheFirstRings() {
        SfzPianoEngine engine;
        QVERIFY(engine.loadSfzFile(instrument("<group> key=33 pitch_keytrack=0\n"
                                              "<region> sample=low16.wav\n<region> sample=lowf.wav\n")));
        QStringList others;
        for (int i = 0; i < 5; ++i)
            others << instrument("<region> sample=s880.wav pitch_keycenter=60\n"
                                 "<region> sample=s880_24.wav trigger=release\n");
        AudioThread audio(engine);
        audio.run([](SfzPianoEngine& e) {
            e.noteOn(33, 110, 440.0f);
            e.setSustainPedal(true, 127, 0.0f);
            e.noteOff(33, 0.5f);
        });
        for (const QString& other : others) {
            QString error;
            QVERIFY2(engine.loadSfzFile(other, &error), qPrintable(error));
            QCOMPARE(engine.currentSfzPath(), other);
            QCOMPARE(engine.loadedRegionCount(), 2);
            std::this_thread::sleep_for(30ms); // notes play on each new instrument
        }
        // The in-between ones go; the first stays while its string rings under the pedal.
        QTRY_COMPARE_WITH_TIMEOUT(engine.retiredBankCount(), 1, 20000);
        const double ringing = toneAmplitude(audio.capture(12000), 48000, 110);
        TMB_VERIFY(ringing > 0.001, ringing);
        audio.run([](SfzPianoEngine& e) { e.setSustainPedal(false, 0, 0.0f); });
        QTRY_COMPARE_WITH_TIMEOUT(engine.retiredBankCount(), 0, 20000);
        // Listen again without the other notes, whose clicks would leak into 110 Hz.
        audio.quiet = true;
        audio.run([](SfzPianoEngine& e) { e.allNotesOff(); });
        audio.capture(4800);
        QVERIFY(toneAmplitude(audio.capture(12000), 48000, 110) < 1e-6);
        QCOMPARE(engine.currentSfzPath(), others.last());
    }
};

QTEST_GUILESS_MAIN(SfzTest)
#include "tst_sfz.moc"
