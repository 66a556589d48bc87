// Reading SFZ instruments: the text reader (headers, opcodes, note names, what is
// not supported), the sample reader (in-place 16-bit WAV, decoded formats, broken
// and hostile files) and the load messages.

#include "engines/SfzBank.h"
#include "engines/SfzParser.h"
#include "engines/SfzPianoEngine.h"
#include "engines/SfzSampleData.h"
#include "support/SfzFixtures.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <sys/stat.h>

using namespace tmb;
using namespace tmb::test;

namespace {

using Pairs = QList<QPair<QString, QString>>;

Pairs scannedPairs(const QString& body) {
    Pairs pairs;
    SfzParser::forEachOpcode(QStringView(body), [&](QStringView name, QStringView value) {
        pairs.append({name.toString(), value.toString()});
    });
    return pairs;
}

// The definition the scanner must agree with, as a regular expression.
Pairs regexPairs(const QString& body) {
    static const QRegularExpression pattern(
        QStringLiteral(R"(([A-Za-z0-9_]+)=([^\s=]+(?:\s+(?![A-Za-z0-9_]+=)[^\s=]+)*))"));
    Pairs pairs;
    for (auto it = pattern.globalMatch(body); it.hasNext();) {
        const auto match = it.next();
        pairs.append({match.captured(1), match.captured(2)});
    }
    return pairs;
}

std::vector<SfzParsedRegion> parse(const QString& fileText) {
    return SfzParser::parseRegions(SfzParser::joinLines(fileText));
}

QByteArray le16(quint16 v) {
    QByteArray bytes;
    bytes.append(char(v & 0xFF));
    bytes.append(char(v >> 8));
    return bytes;
}
QByteArray le32(quint32 v) {
    return le16(quint16(v & 0xFFFF)) + le16(quint16(v >> 16));
}

// A chunk with its declared size (the real body length unless told otherwise).
QByteArray chunk(const char* id, const QByteArray& body, qint64 declared = -1) {
    QByteArray c = QByteArray(id, 4) + le32(quint32(declared < 0 ? body.size() : declared)) + body;
    if (body.size() % 2) c.append('\0');
    return c;
}

QByteArray fmtBody(quint16 tag, quint16 channels, quint32 rate, quint16 bits) {
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

} // namespace

class SfzFilesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void writeSine(const QString& name, WavEncoding encoding = WavEncoding::Pcm16) {
        TestTone tone;
        tone.seconds = 0.2;
        tone.encoding = encoding;
        QVERIFY(writeTestWav(path(name), tone));
    }

private Q_SLOTS:
    void noteNamesAndKeyNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("note");
        QTest::newRow("sharp") << "c#4" << 61;
        QTest::newRow("flat") << "eb3" << 51;
        QTest::newRow("not a note letter") << "H2" << 60;
        QTest::newRow("integer above range") << "200" << 127;
        QTest::newRow("integer below range") << "-5" << -1;
        QTest::newRow("lowest") << "C-1" << 0;
        QTest::newRow("octave too high") << "G10" << 127;
        QTest::newRow("missing octave") << "c" << 60;
        QTest::newRow("unreadable octave") << "d#x" << 63;
        QTest::newRow("enormous integer") << "99999999999999999999999" << 127;
        QTest::newRow("enormous octave") << "a99999999999999999999" << 127;
        QTest::newRow("decimal is not an integer") << "60.5" << 60;
        QTest::newRow("empty") << "" << 60;
    }
    void noteNamesAndKeyNumbers() {
        QFETCH(QString, text);
        QFETCH(int, note);
        QCOMPARE(SfzParser::parseNoteValue(text), note);
    }

    void opcodeScannerMatchesItsDefinition() {
        const QStringList bodies = {
            u" sample=Samples\\C4 soft.wav volume=-3 "_qs,
            u"a=1 b=2 c d=e=f g= h=x  y"_qs,
            u"==a= b==c x.y=z k=v.w=u"_qs,
            u"lokey=60hikey=62 key=\tc#4\t\tpitch_keycenter=c4"_qs,
            u"nothing here at all"_qs,
        };
        for (const QString& body : bodies)
            QCOMPARE(scannedPairs(body), regexPairs(body));
        // Random bodies from the characters that matter to the grammar.
        const QString alphabet = u"ab_1= \t.=x9\\<"_qs;
        QRandomGenerator random(1234);
        for (int round = 0; round < 3000; ++round) {
            QString body;
            const int length = int(random.bounded(40));
            for (int i = 0; i < length; ++i)
                body.append(alphabet[int(random.bounded(int(alphabet.size())))]);
            QCOMPARE(scannedPairs(body), regexPairs(body));
        }
    }

    void valuesKeepSpacesUpToTheNextOpcode() {
        const auto regions = parse(u"<region> sample=Samples\\C4 soft.wav volume=-3"_qs);
        QCOMPARE(regions.size(), std::size_t{1});
        QCOMPARE(regions[0].samplePath, u"Samples/C4 soft.wav"_qs);
        QCOMPARE(regions[0].region.volume, -3.0f);
    }

    void headersInheritAndResetState() {
        const auto regions = parse(uR"(
            <control> default_path=Piano\Samples\
            <global> volume=-6 ampeg_release=0.5 sample=ignored.wav
            <group> lovel=1 hivel=64 tune=10
            <region> sample=a.wav key=c#4
            <REGION> sample=b.wav lovel=20 trigger=RELEASE rt_decay=3
            <group> pitch_keytrack=0
            <region> sample=c.wav on_locc64=100 on_hicc64=127 lorand=0.5 hirand=1
            <region> volume=0
            <curve> lokey=99
            <global> tune=5
            <region> sample=d.wav
        )"_qs);
        QCOMPARE(regions.size(), std::size_t{4});
        const SfzRegion& a = regions[0].region;
        QCOMPARE(regions[0].samplePath, u"Piano/Samples/a.wav"_qs);
        QCOMPARE(a.lokey, 61);
        QCOMPARE(a.hikey, 61);
        QCOMPARE(a.pitchKeycenter, 61);
        QCOMPARE(a.lovel, 1);
        QCOMPARE(a.hivel, 64);
        QCOMPARE(a.tune, 10.0f);
        QCOMPARE(a.volume, -6.0f);
        QCOMPARE(a.ampegRelease, 0.5f);
        QVERIFY(a.trigger == SfzTrigger::Attack);
        const SfzRegion& b = regions[1].region;
        QCOMPARE(b.lovel, 20);
        QVERIFY(b.trigger == SfzTrigger::Release);
        QCOMPARE(b.rtDecay, 3.0f);
        // A new group starts again from the global state.
        const SfzRegion& c = regions[2].region;
        QCOMPARE(c.lovel, 1);
        QCOMPARE(c.hivel, 127);
        QCOMPARE(c.tune, 0.0f);
        QCOMPARE(c.pitchKeytrack, 0.0f);
        QVERIFY(c.trigger == SfzTrigger::Pedal);
        QCOMPARE(c.onLocc64, 100);
        QCOMPARE(c.onHicc64, 127);
        QCOMPARE(c.lorand, 0.5f);
        // The unknown header ends the region before it; a new global resets the group.
        const SfzRegion& d = regions[3].region;
        QCOMPARE(d.lokey, 0);
        QCOMPARE(d.tune, 5.0f);
        QCOMPARE(d.volume, -6.0f);
        QCOMPARE(d.pitchKeytrack, 100.0f);
    }

    void directivesAndBlockCommentsAreNotSupported() {
        // Neither is expanded: a directive line is dropped, commented text is
        // skipped, and a macro name stays an unreadable key (60).
        const auto regions = parse(uR"(
            #define $KEY 40
            #include "more.sfz"
            /* <region> sample=commented.wav
               lokey=1 */ <region> sample=a.wav key=$KEY // hikey=1
            <region> sample=b.wav /* volume=-20 */ volume=-1
        )"_qs);
        QCOMPARE(regions.size(), std::size_t{2});
        QCOMPARE(regions[0].samplePath, u"a.wav"_qs);
        QCOMPARE(regions[0].region.lokey, 60);
        QCOMPARE(regions[0].region.hikey, 60);
        QCOMPARE(regions[1].region.volume, -1.0f);
    }

    void hostileNumbersStayBounded() {
        const auto regions = parse(uR"(<region> sample=a.wav volume=1e999 tune=nan pitch_keytrack=1e30
            ampeg_release=0 rt_decay=-5 lovel=300 hivel=abc amp_veltrack=inf lorand=0x10
            <region> sample=b.wav volume=100000 ampeg_release=1e9 on_locc64=99999999999999999999 hikey=-40)"_qs);
        QCOMPARE(regions.size(), std::size_t{2});
        const SfzRegion& a = regions[0].region;
        QCOMPARE(a.volume, 0.0f);
        QCOMPARE(a.tune, 0.0f);
        QCOMPARE(a.pitchKeytrack, 1200.0f);
        QCOMPARE(a.ampegRelease, 0.02f);
        QCOMPARE(a.rtDecay, 0.0f);
        QCOMPARE(a.lovel, 127);
        QCOMPARE(a.hivel, 0);
        QCOMPARE(a.ampVeltrack, 0.0f);
        QCOMPARE(a.lorand, 0.0f);
        const SfzRegion& b = regions[1].region;
        QCOMPARE(b.volume, 48.0f);
        QCOMPARE(b.ampegRelease, 100.0f);
        QCOMPARE(b.onLocc64, INT_MAX);
        QCOMPARE(b.hikey, -1);
        // Garbage text yields no region and no crash.
        QByteArray garbage(4096, '\0');
        QRandomGenerator random(7);
        for (char& c : garbage)
            c = char(random.bounded(256));
        QVERIFY(parse(QString::fromUtf8(garbage) + u"<region"_qs).empty());
    }

    void wavLayoutWalksChunksSafely() {
        const QByteArray fmt = chunk("fmt ", fmtBody(1, 2, 44100, 16));
        const QByteArray data = chunk("data", pcm16Frames(100, 2));
        {
            const SfzWavLayout l = layoutOf(riff(chunk("LIST", "odd") + fmt + data));
            QVERIFY(l.usableInPlace());
            QCOMPARE(l.channels, quint16(2));
            QCOMPARE(l.sampleRate, 44100u);
            QCOMPARE(l.dataBytes, quint64(400));
            QCOMPARE(l.dataOffset, quint64(12 + 12 + 24 + 8));
        }
        // A data chunk that claims more than the file holds (a truncated file).
        QVERIFY(layoutOf(riff(fmt + chunk("data", pcm16Frames(100, 2), 100000))).chunkOverrun);
        // Sizes near 2^32 must not wrap around the end of the file.
        for (quint32 size : {0xFFFFFFFFu, 0xFFFFFFF8u, 0x80000000u}) {
            const SfzWavLayout l = layoutOf(riff(chunk("junk", "ab", size) + fmt + data));
            QVERIFY(l.chunkOverrun);
            QVERIFY(!l.usableInPlace());
        }
        // Format after data, no format, 24-bit, float and extensible are not played in place.
        QVERIFY(!layoutOf(riff(data + fmt)).usableInPlace());
        QVERIFY(!layoutOf(riff(data)).usableInPlace());
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(1, 1, 48000, 24)) + data)).usableInPlace());
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(3, 1, 48000, 32)) + data)).usableInPlace());
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(0xFFFE, 1, 48000, 16)) + data)).usableInPlace());
        // Zero channels, zero rate, a short format chunk, an empty or sub-frame data chunk.
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(1, 0, 48000, 16)) + data)).usableInPlace());
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(1, 1, 0, 16)) + data)).usableInPlace());
        QVERIFY(!layoutOf(riff(chunk("fmt ", fmtBody(1, 1, 48000, 16).left(14)) + data)).usableInPlace());
        QVERIFY(!layoutOf(riff(fmt + chunk("data", {}))).usableInPlace());
        QVERIFY(!layoutOf(riff(fmt + chunk("data", "ab"))).usableInPlace());
        // Every prefix of a good file is handled without reading past its end.
        const QByteArray good = riff(fmt + data);
        for (int length = 0; length <= good.size(); ++length)
            (void)layoutOf(good.left(length));
        QVERIFY(!layoutOf("RIFF").riffWave);
    }

    void sampleFilesAreMappedOrDecoded() {
        writeSine(u"s16.wav"_qs);
        writeSine(u"s24.wav"_qs, WavEncoding::Pcm24);
        writeSine(u"f32.wav"_qs, WavEncoding::Float32);
        const auto s16 = readSfzSampleFile(path(u"s16.wav"_qs));
        QVERIFY(s16 && s16->pcm16 != nullptr && s16->pcmFloat.empty());
        QCOMPARE(s16->mapLength, std::size_t(QFileInfo(path(u"s16.wav"_qs)).size()));
        QCOMPARE(s16->frames, quint64(9600));
        QCOMPARE(s16->sampleRate, 48000u);
        for (const QString& name : {u"s24.wav"_qs, u"f32.wav"_qs}) {
            const auto decoded = readSfzSampleFile(path(name));
            QVERIFY2(decoded && decoded->pcm16 == nullptr && decoded->mapBase == nullptr, qPrintable(name));
            QCOMPARE(decoded->frames, quint64(9600));
            QCOMPARE(decoded->channels, 1u);
            // The same samples as the mapped file, within 16-bit resolution.
            for (std::uint64_t i = 0; i < decoded->frames; i += 97)
                QVERIFY(std::fabs(decoded->pcmFloat[i] - s16->pcm16[i] / 32768.0f) < 1.0f / 16384);
        }
        // Values a float file may hold that no one can play come out as silence or
        // within the headroom.
        const QByteArray hostileFloats =
            le32(0x7FC00000) + le32(0x7F800000) + le32(0xFF800000) + le32(0x7F7FFFFF) + le32(0x3F000000);
        QVERIFY(writeTestFile(path(u"nan.wav"_qs),
                              riff(chunk("fmt ", fmtBody(3, 1, 48000, 32)) + chunk("data", hostileFloats))));
        const auto nan = readSfzSampleFile(path(u"nan.wav"_qs));
        QVERIFY(nan);
        QCOMPARE(nan->pcmFloat, (std::vector<float>{0.0f, 0.0f, 0.0f, 8.0f, 0.5f}));
        // Six channels decode to the first two.
        TestTone surround;
        surround.seconds = 0.1;
        surround.channels = 6;
        surround.encoding = WavEncoding::Float32;
        QVERIFY(writeTestWav(path(u"six.wav"_qs), surround));
        const auto six = readSfzSampleFile(path(u"six.wav"_qs));
        QVERIFY(six);
        QCOMPARE(six->channels, 2u);
        QCOMPARE(six->pcmFloat.size(), std::size_t(4800 * 2));
    }

    void brokenSampleFilesAreNotUsed() {
        const QByteArray good =
            riff(chunk("fmt ", fmtBody(1, 1, 48000, 16)) + chunk("data", pcm16Frames(400, 1)));
        QVERIFY(writeTestFile(path(u"fortythree.wav"_qs), good.left(43)));
        QVERIFY(writeTestFile(path(u"text.wav"_qs), QByteArray(500, 'x')));
        QVERIFY(writeTestFile(path(u"riffonly.wav"_qs), riff(chunk("junk", QByteArray(40, 'j')))));
        for (const QString& name :
             {u"fortythree.wav"_qs, u"text.wav"_qs, u"riffonly.wav"_qs, u"missing.wav"_qs})
            QVERIFY2(!readSfzSampleFile(path(name)), qPrintable(name));
        // A data length that wraps past the end: never in place; libsndfile may
        // recover the two frames that are really there.
        QVERIFY(writeTestFile(path(u"wrapping.wav"_qs), riff(chunk("fmt ", fmtBody(1, 1, 48000, 16)) +
                                                             chunk("data", "abcd", 0xFFFFFFFF))));
        const auto wrapping = readSfzSampleFile(path(u"wrapping.wav"_qs));
        QVERIFY(!wrapping || (wrapping->pcm16 == nullptr && wrapping->frames <= 2));
        // Chunk sizes that send libsndfile's own parser far past the end of the bytes.
        const QByteArray farSeek = QByteArray::fromHex("52494646b000000057415645") + "LIST" +
                                   QByteArray::fromHex("0300ffffffffffffffffffffffffffff");
        SfzSampleData decoded;
        QVERIFY(!decodeSfzSample(reinterpret_cast<const std::uint8_t*>(farSeek.constData()),
                                 quint64(farSeek.size()), &decoded));
        QVERIFY(writeTestFile(path(u"farseek.wav"_qs), farSeek + QByteArray(40, '\xff')));
        QVERIFY(!readSfzSampleFile(path(u"farseek.wav"_qs)));
        // A truncated file is not played in place; what libsndfile recovers may play.
        QVERIFY(writeTestFile(path(u"truncated.wav"_qs), good.left(good.size() / 2)));
        const auto truncated = readSfzSampleFile(path(u"truncated.wav"_qs));
        QVERIFY(!truncated || (truncated->pcm16 == nullptr && truncated->frames < 400));
        // A directory or a FIFO is refused without blocking.
        QVERIFY(!readSfzSampleFile(m_dir.path()));
        QCOMPARE(::mkfifo(QFile::encodeName(path(u"fifo.wav"_qs)).constData(), 0600), 0);
        QVERIFY(!readSfzSampleFile(path(u"fifo.wav"_qs)));
    }

    void loadReportsItsMessagesAndKeepsThePreviousInstrument() {
        writeSine(u"piano.wav"_qs);
        QVERIFY(writeTestFile(path(u"good.sfz"_qs), "<region> sample=piano.wav key=60\n"
                                                    "<region> sample=missing.wav key=61\n"
                                                    "<region> sample=piano.wav key=62\n"));
        QVERIFY(writeTestFile(path(u"nothing.sfz"_qs), "<region> sample=missing.wav\n<region> key=60\n"));
        SfzPianoEngine engine;
        QString error;
        QVERIFY(!engine.loadSfzFile(path(u"absent.sfz"_qs), &error));
        QCOMPARE(error, u"Cannot open SFZ file: "_qs + path(u"absent.sfz"_qs));
        QVERIFY(!engine.loadSfzFile(m_dir.path(), &error));
        QCOMPARE(error, u"Cannot open SFZ file: "_qs + m_dir.path());

        QVERIFY(engine.loadSfzFile(path(u"good.sfz"_qs), &error));
        QCOMPARE(engine.loadedRegionCount(), 2); // the missing sample drops only its region
        QCOMPARE(engine.currentSfzPath(), QFileInfo(path(u"good.sfz"_qs)).absoluteFilePath());

        error.clear();
        QVERIFY(!engine.loadSfzFile(path(u"nothing.sfz"_qs), &error));
        QCOMPARE(error, u"No valid playable regions found in "_qs + path(u"nothing.sfz"_qs));
        QVERIFY(!engine.loadSfzFile(path(u"nothing.sfz"_qs))); // no error string wanted
        QCOMPARE(engine.loadedRegionCount(), 2);
        QCOMPARE(engine.currentSfzPath(), QFileInfo(path(u"good.sfz"_qs)).absoluteFilePath());
    }

    void bankSharesSamplesAndCountsMappedBytes() {
        writeSine(u"one.wav"_qs);
        writeSine(u"two.wav"_qs, WavEncoding::Float32);
        QVERIFY(writeTestFile(
            path(u"shared.sfz"_qs),
            "<control> default_path=./\n<region> sample=one.wav\n<region> sample=./one.wav lokey=5\n"
            "<region> sample=two.wav\n"));
        QString error;
        const auto bank = SfzBank::load(path(u"shared.sfz"_qs), &error);
        QVERIFY2(bank, qPrintable(error));
        QCOMPARE(bank->name, u"shared"_qs);
        QCOMPARE(bank->regions.size(), std::size_t{3});
        QCOMPARE(bank->regions[0].sample.get(), bank->regions[1].sample.get());
        // Only the in-place sample stays mapped.
        QCOMPARE(bank->mappedBytes, quint64(QFileInfo(path(u"one.wav"_qs)).size()));
    }
};

QTEST_GUILESS_MAIN(SfzFilesTest)
#include "tst_sfz_files.moc"
