// The phone bridge's parts: line splitter and reader, peer table, microphone rates, links.

#include "phone/PhoneBridgeLines.h"
#include "phone/PhoneLinks.h"
#include "phone/PhoneMicResampler.h"
#include "phone/PhonePeers.h"

#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace tmb;
using namespace Qt::StringLiterals;
using Kind = PhoneBridgeLine::Kind;

namespace {

QByteArray pcm(const std::vector<qint16>& samples) {
    QByteArray bytes(2 * qsizetype(samples.size()), Qt::Uninitialized);
    for (std::size_t i = 0; i < samples.size(); ++i)
        qToLittleEndian<qint16>(samples[i], bytes.data() + 2 * i);
    return bytes;
}

} // namespace

class PhonePartsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What the controller's own test does not send: parts missing, bars inside a command.
    void linesAreReadByPrefix() {
        const std::tuple<QString, Kind, QString> cases[] = {
            // line, kind, id/ip/payload
            {u"ERR_HTTP:[Errno 98] in use"_s, Kind::HttpFailed, u"//[Errno 98] in use"_s},
            {u"CONN: P-AB12 | 10.0.0.5"_s, Kind::Connected, u"P-AB12/10.0.0.5/"_s},
            {u"CONN:|10.0.0.6"_s, Kind::Connected, u"/10.0.0.6/"_s},
            {u"CMD:P-3|10.0.0.7|STREAM:KEY:yt:a|b"_s, Kind::Command, u"P-3/10.0.0.7/STREAM:KEY:yt:a|b"_s}};
        for (const auto& [line, kind, fields] : cases) {
            const PhoneBridgeLine parsed = parsePhoneBridgeLine(line);
            QVERIFY2(parsed.kind == kind, qPrintable(line));
            QCOMPARE(parsed.id + u'/' + parsed.ip + u'/' + parsed.payload, fields);
        }
        for (const QString& line : {u"CONN:|"_s, u"CONN:P-1"_s, u"MIC:P-1|"_s, u"MIC:|AAEC"_s,
                                    u"CMD:P-3|10.0.0.7"_s, u"CMD:P-3|10.0.0.7|"_s, u"conn:P-1|1.2.3.4"_s})
            QVERIFY2(parsePhoneBridgeLine(line).kind == Kind::Ignored, qPrintable(line));
    }

    // Lines arrive in pieces; one longer than 64 KiB goes whole, whichever way it came.
    void splitterBoundsItsLines() {
        const QByteArray longLine(PhoneLineSplitter::maxLineBytes + 1, 'x');
        const QByteArray justFits(PhoneLineSplitter::maxLineBytes, 'y');
        struct Case {
            QList<QByteArray> chunks;
            QList<QByteArray> lines;
        };
        const Case cases[] = {
            {{"REA", "DY:8443\nCONN:a|b\r\n\n  \n"}, {"READY:8443", "CONN:a|b"}},
            {{longLine.left(40000), longLine.mid(40000), "\nREADY:2\n"}, {"READY:2"}},
            {{justFits.left(10), justFits.mid(10) + "\n"}, {justFits}},
        };
        for (const Case& c : cases) {
            PhoneLineSplitter splitter;
            QList<QByteArray> lines;
            for (const QByteArray& chunk : c.chunks)
                lines += splitter.feed(chunk);
            QCOMPARE(lines, c.lines);
            QVERIFY(splitter.pendingBytes() <= PhoneLineSplitter::maxLineBytes);
        }
    }

    void peersAreLabelledAndCountedWhileRecent() {
        qint64 now = 1'000'000;
        PhonePeers peers([&now] { return now; });
        QCOMPARE(peers.registerOrTouch(u" P-A "_s, u"10.0.0.5"_s), u"Phone #1"_s);
        QCOMPARE(peers.registerOrTouch({}, u"10.0.0.9"_s), u"Phone #2"_s); // known by its address
        QCOMPARE(peers.registerOrTouch({}, {}), u"Phone #1"_s);            // nothing to know it by
        QCOMPARE(peers.count(), 2);
        now += 10'000;
        QCOMPARE(peers.registerOrTouch(u"P-A"_s, u"10.0.0.6"_s), u"Phone #1"_s);
        QCOMPARE(peers.registerOrTouch(u"P-B"_s, u"10.0.0.7"_s), u"Phone #3"_s);
        now += PhonePeers::connectedWindowMs - 1; // P-A and P-B heard 24.999 s ago
        QCOMPARE(peers.recentText(), u"Phone #1 (10.0.0.6) • Phone #3 (10.0.0.7)"_s);
        peers.touch(u"P-B"_s);
        now += 1;
        QCOMPARE(peers.recent().size(), 1);
        QCOMPARE(peers.recent().first().ip, u"10.0.0.7"_s); // touched without an address
        now += PhonePeers::connectedWindowMs;
        QCOMPARE(peers.recentText(), u"1 Phone Connected"_s);

        // Made-up ids: the table forgets the silent and holds at most maxPeers.
        now += PhonePeers::forgetAfterMs;
        for (int i = 0; i < 2 * PhonePeers::maxPeers; ++i) {
            ++now;
            peers.registerOrTouch(u"X-%1"_s.arg(i), u"10.1.0.1"_s);
        }
        QCOMPARE(peers.count(), PhonePeers::maxPeers);
        QVERIFY(peers.all().contains(u"X-%1"_s.arg(2 * PhonePeers::maxPeers - 1)));
        QVERIFY(!peers.all().contains(u"X-0"_s) && !peers.all().contains(u"P-A"_s));
        QCOMPARE(peers.registerOrTouch(u"P-A"_s, {}), u"Phone #%1"_s.arg(4 + 2 * PhonePeers::maxPeers));
    }

    // At 48 kHz each sample gives the mean with the one before, then itself; the
    // last sample carries into the next packet. Other rates interpolate at their own
    // spacing, so a ramp stays a ramp with the rate's number of frames.
    void microphoneFollowsTheEngineRate() {
        PhoneMicResampler mic;
        mic.setOutputRate(48000);
        QCOMPARE(mic.convert(pcm({16384, -16384})), std::size_t(4));
        QCOMPARE(std::vector<float>(mic.frames(), mic.frames() + 8),
                 std::vector<float>({0.25f, 0.25f, 0.5f, 0.5f, 0.0f, 0.0f, -0.5f, -0.5f}));
        QCOMPARE(mic.convert(pcm({0}) + QByteArray(1, '\x7f')), std::size_t(2)); // odd byte ignored
        QCOMPARE(mic.frames()[0], -0.25f);

        for (const int rate : {44100, 96000, 22050}) {
            mic.setOutputRate(rate);
            std::size_t frames = 0;
            std::vector<float> out;
            for (int packet = 0; packet < 3; ++packet) { // a ramp of 0.1 s in three packets
                std::vector<qint16> part(800);
                for (int i = 0; i < 800; ++i)
                    part[i] = qint16(10 * (800 * packet + i));
                const std::size_t n = mic.convert(pcm(part));
                out.insert(out.end(), mic.frames(), mic.frames() + 2 * n);
                frames += n;
            }
            QVERIFY2(std::abs(double(frames) - 0.1 * rate) <= 1.0, qPrintable(QString::number(rate)));
            const double step = 10.0 / 32768 * 24000 / rate; // the ramp's rise per output frame
            for (std::size_t i = 8; i + 1 < frames; ++i)
                QVERIFY(std::abs(out[2 * i + 2] - out[2 * i] - step) < 1e-5 && out[2 * i] == out[2 * i + 1]);
        }
    }

    // Text from outside (the tunnel's output, what the user typed) before it becomes a link.
    void linksAndAddresses() {
        QCOMPARE(lanAddressFrom(u"169.254.3.4 fe80::1 192.168.1.20 10.0.0.2\n"_s), u"192.168.1.20"_s);
        const QStringList domains = {u"lhr.life"_s};
        QCOMPARE(tunnelUrlIn(u"https://lhr.life.evil.com https://xlhr.life https://a1-b.lhr.life"_s, domains),
                 u"https://a1-b.lhr.life"_s);
        const std::pair<QString, QString> hosts[] = {
            {u"  stage.example.org "_s, u"https://stage.example.org:8443"_s},
            {u"[2001:db8::1]"_s, u"https://[2001:db8::1]:8443"_s},
            {u"a.b/c?d=<script>"_s, {}},
            {u"host name"_s, {}},
        };
        for (const auto& [input, url] : hosts)
            QCOMPARE(customPublicHostUrl(input), url);
        const QString token = newPhoneAccessToken();
        QVERIFY(QRegularExpression(u"^[0-9a-f]{32}$"_s).match(token).hasMatch() &&
                token != newPhoneAccessToken());
    }
};

QTEST_GUILESS_MAIN(PhonePartsTest)
#include "tst_phone_parts.moc"
