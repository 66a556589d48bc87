// The real program played as a musician would (Xvfb, the private PipeWire session, xdotool via
// scripts/window-driver.sh), judged by what the sink plays; every wait is for a shown state or a sound.

#include "support/AudioAnalysis.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstring>
#include <numbers>

using namespace tmb;
using namespace tmb::test;
using namespace Qt::StringLiterals;

namespace {

constexpr double rate = 48000.0;

// One recording of the sink, and the frame at which the driver began to play.
struct Heard {
    StereoSignal signal;
    std::size_t playedFrom = 0;
};

double cents(double from, double to) {
    return 1200.0 * std::log2(to / from);
}

// The first 5 ms after the driver began to play clearly above what sounded before; -1: none.
long long onset(const Heard& h) {
    const auto& x = h.signal.left;
    const std::size_t window = 240, before = std::min<std::size_t>(h.playedFrom, 4800);
    const float floorLevel = rms(x, h.playedFrom - before, h.playedFrom);
    const float threshold = std::max(0.004f, 3.0f * floorLevel);
    for (std::size_t i = h.playedFrom; i + window <= x.size(); i += window)
        if (rms(x, i, i + window) > threshold) return static_cast<long long>(i);
    return -1;
}

// The pitch over 1.2 s from 0.1 s after the onset: the FFT peak refined by the median phase
// rate of the signal demodulated there in 20 ms steps (a dropped block is one outlier).
double pitch(const Heard& h, double lowHz, double highHz) {
    const long long start = onset(h);
    if (start < 0) return 0.0;
    const auto& x = h.signal.left;
    const auto begin = static_cast<std::size_t>(start) + 4800, end = begin + 57600;
    const double coarse = dominantFrequency(x, rate, lowHz, highHz, begin, begin + 32768);
    if (coarse <= 0.0 || end > x.size()) return 0.0;
    const auto period = static_cast<std::size_t>(std::lround(rate / coarse)), step = std::size_t{960};
    std::vector<std::complex<double>> sums{0.0};
    for (std::size_t i = begin; i < end; ++i)
        sums.push_back(sums.back() +
                       static_cast<double>(x[i]) *
                           std::polar(1.0, -2.0 * std::numbers::pi * coarse * static_cast<double>(i) / rate));
    std::vector<double> rates;
    for (std::size_t k = step; k + period < sums.size(); k += step) {
        const std::complex<double> now = sums[k + period] - sums[k],
                                   before = sums[k - step + period] - sums[k - step];
        rates.push_back(coarse +
                        std::arg(now / before) * rate / (2.0 * std::numbers::pi * static_cast<double>(step)));
    }
    if (rates.empty()) return 0.0;
    std::nth_element(rates.begin(), rates.begin() + rates.size() / 2, rates.end());
    return rates[rates.size() / 2]; // the median
}

// Amplitude at `hz` over 1.28 s from 0.1 s after the onset.
double amplitude(const Heard& h, double hz) {
    const long long start = onset(h);
    if (start < 0) return 0.0;
    const auto begin = static_cast<std::size_t>(start + std::llround(0.1 * rate));
    return toneAmplitude(h.signal.left, rate, hz, begin, begin + 61440);
}

} // namespace

class PlayedByHandTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        m_state.setAutoRemove(qEnvironmentVariableIsEmpty("TMB_KEEP_RECORDINGS"));
        usePrivateHome(true);
        QString reason;
        if (!usePipeWireSession(&reason)) QSKIP(qPrintable(reason));
        for (const QString& tool : {u"Xvfb"_s, u"xdotool"_s, u"pw-record"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(tool + u" is not installed"_s));
        const QString program = QString::fromUtf8(qgetenv("TMB_BINARY_DIR")) + u"/src/tembora"_s;
        qputenv("TEMBORA_OBJECT_MAP", m_state.filePath(u"objects.txt"_s).toUtf8());
        const int started = drive({u"start"_s, program}, 60000);
        if (started == 77) QSKIP("no X server can start here");
        m_started = started == 0;
        QVERIFY2(m_started, "the program did not start in its window");
        QVERIFY2(waitForState(u"abButton"_s, u"0"_s), "the window shows no controls");
    }

    void cleanupTestCase() {
        if (m_started) drive({u"stop"_s});
        if (!m_state.autoRemove()) qInfo("recordings kept in %s", qPrintable(m_state.path()));
    }

    // The concert pitch moves the SoundFont voice and the synth pad layered on it (chorus off).
    // The keys are played after clicks on controls, which must not take them.
    void concertPitchMovesTheSoundFontAndTheSynthLayer() {
        const QStringList heldKey{u"hold"_s, u"q"_s, u"1.5"_s};
        QVERIFY(clickObject(u"knob_CHORUS"_s, {}, u"doubleclick"_s) &&
                waitForState(u"knob_CHORUS"_s, u"0"_s));
        QVERIFY(clickObject(u"railButton_M4"_s));
        if (objectState(u"layerSwitch"_s) != u"1"_s) QVERIFY(clickObject(u"layerSwitch"_s, u"1"_s));
        QVERIFY(clickObject(u"railButton_M8"_s) && clickObject(u"mute_1"_s, u"1"_s));
        const Heard mainAt440 = record(heldKey);
        QVERIFY(clickObject(u"mute_1"_s, u"0"_s));
        const Heard bothAt440 = record(heldKey);
        QVERIFY(clickObject(u"railButton_M1"_s));
        // 150 px turn the dial from 415 to 466 Hz: 15 px up from 440 Hz is 445.1 Hz. On a busy
        // machine the window may not have taken the first drag at all (still 440): drag again then.
        QVERIFY(waitForState(u"knob_TUNING"_s, u"440"_s));
        for (int attempt = 0; attempt < 2 && objectState(u"knob_TUNING"_s) == u"440"_s; ++attempt) {
            const QRect knob = objectRect(u"knob_TUNING"_s);
            QCOMPARE(drive({u"drag"_s, QString::number(knob.center().x()), QString::number(knob.y() + 28),
                            u"-15"_s}),
                     0);
            waitForState(u"knob_TUNING"_s, u"445.1"_s, 5000);
        }
        QCOMPARE(objectState(u"knob_TUNING"_s), u"445.1"_s);
        const Heard bothAt445 = record(heldKey);
        QVERIFY(clickObject(u"railButton_M8"_s) && clickObject(u"mute_1"_s, u"1"_s));
        const Heard mainAt445 = record(heldKey);

        const double main440 = pitch(mainAt440, 250, 275), mainTuned = pitch(mainAt445, 250, 280);
        const double pad440 = pitch(bothAt440, 122, 138), padTuned = pitch(bothAt445, 122, 140);
        const QString heard =
            u"main %1 -> %2 Hz, pad %3 -> %4 Hz"_s.arg(main440).arg(mainTuned).arg(pad440).arg(padTuned);
        qInfo("%s", qPrintable(heard));
        QVERIFY2(amplitude(bothAt440, pad440) > 10 * amplitude(mainAt440, pad440),
                 qPrintable(u"the synth layer does not sound: "_s + heard));
        const double target = cents(440.0, 445.1);
        QVERIFY2(std::abs(cents(pad440, padTuned) - target) < 5,
                 qPrintable(u"the pad is not at 445.1 Hz: "_s + heard));
        QVERIFY2(std::abs(cents(main440, mainTuned) - target) < 5,
                 qPrintable(u"the SoundFont voice is not at 445.1 Hz: "_s + heard));
    }

private:
    QTemporaryDir m_state;
    bool m_started = false;
    int m_recordings = 0;

    // Runs the driver; its exit code, or -1 when it did not finish.
    int drive(QStringList args, int timeoutMs = 20000) {
        args.insert(1, m_state.path());
        QProcess driver;
        driver.setProcessChannelMode(QProcess::ForwardedChannels);
        driver.start(u"bash"_s, QStringList{sourceDir() + u"/scripts/window-driver.sh"_s} + args);
        if (!driver.waitForFinished(timeoutMs) || driver.exitStatus() != QProcess::NormalExit) return -1;
        return driver.exitCode();
    }

    // The object map's line for a visible item: name x y width height state.
    QList<QByteArray> objectLine(const QString& name) {
        QFile map(m_state.filePath(u"objects.txt"_s));
        if (!map.open(QIODevice::ReadOnly)) return {};
        for (const QByteArray& line : map.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() == 6 && fields[0] == name.toUtf8()) return fields;
        }
        return {};
    }
    QString objectState(const QString& name) { return QString::fromUtf8(objectLine(name).value(5)); }
    // Waits until the item shows and, when `state` is given, is in that state.
    bool waitForState(const QString& name, const QString& state = {}, int timeoutMs = 10000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            const QList<QByteArray> fields = objectLine(name);
            if (!fields.isEmpty() && (state.isEmpty() || fields[5] == state.toUtf8())) return true;
            QTest::qWait(50);
        }
        qWarning("%s never showed%s", qPrintable(name),
                 qPrintable(state.isEmpty() ? QString() : u" as "_s + state));
        return false;
    }
    QRect objectRect(const QString& name) {
        if (!waitForState(name)) return {};
        const QList<QByteArray> f = objectLine(name);
        return f.isEmpty() ? QRect() : QRect(f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4].toInt());
    }

    // Clicks an item; with `state`, waits until the item shows it.
    bool clickObject(const QString& name, const QString& state = {}, const QString& how = u"click"_s) {
        const QRect r = objectRect(name);
        if (!r.isValid() ||
            drive({how, QString::number(r.center().x()), QString::number(r.center().y())}) != 0)
            return false;
        return state.isEmpty() || waitForState(name, state);
    }

    // Frames pw-record has written so far, and the RMS of the last 0.1 s of them.
    qint64 framesWritten(const QString& wav, float* tailLevel) {
        QFile file(wav);
        if (!file.open(QIODevice::ReadOnly)) return -1;
        const QByteArray bytes = file.readAll();
        const qsizetype data = bytes.indexOf("data", 12);
        if (data < 0) return -1;
        const qint64 frames = (bytes.size() - data - 8) / 4; // 16-bit stereo
        const qint64 tail = std::min<qint64>(frames, 4800);
        double sum = 0.0;
        for (qint64 i = frames - tail; i < frames; ++i) {
            qint16 left = 0;
            std::memcpy(&left, bytes.constData() + data + 8 + i * 4, sizeof left);
            sum += (left / 32768.0) * (left / 32768.0);
        }
        *tailLevel = tail > 0 ? static_cast<float>(std::sqrt(sum / static_cast<double>(tail))) : 1.0f;
        return frames;
    }

    // What the sink plays while the driver runs `play` (from silence to 0.4 s after it).
    Heard record(const QStringList& play) {
        const QString wav = m_state.filePath(u"heard-%1.wav"_s.arg(++m_recordings));
        QProcess recorder;
        recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        recorder.start(u"pw-record"_s,
                       {u"--target"_s, u"test_null"_s, u"-P"_s, u"{ stream.capture.sink=true }"_s,
                        u"--rate"_s, u"48000"_s, u"--channels"_s, u"2"_s, u"--format"_s, u"s16"_s, wav});
        Heard heard;
        if (!recorder.waitForStarted(3000)) return heard;
        float tail = 1.0f;
        qint64 frames = -1;
        for (QDeadlineTimer ready(8000); !ready.hasExpired(); QTest::qWait(50)) {
            frames = framesWritten(wav, &tail);
            if (frames >= 0.3 * rate && tail < 0.003f) break;
        }
        if (tail >= 0.003f)
            qWarning("the sink did not fall quiet (%.4f) before %s", tail, qPrintable(play.join(' ')));
        heard.playedFrom = static_cast<std::size_t>(std::max<qint64>(frames, 0));
        if (drive(play) != 0) qWarning("the driver failed to play %s", qPrintable(play.join(u' ')));
        const qint64 played = framesWritten(wav, &tail);
        for (QDeadlineTimer after(5000);
             !after.hasExpired() && framesWritten(wav, &tail) < played + 0.4 * rate;)
            QTest::qWait(50);
        ::kill(static_cast<pid_t>(recorder.processId()), SIGINT); // SIGINT completes the header
        if (!recorder.waitForFinished(3000)) recorder.kill();
        readWav(wav, &heard.signal);
        return heard;
    }
};

QTEST_GUILESS_MAIN(PlayedByHandTest)
#include "tst_played_by_hand.moc"
