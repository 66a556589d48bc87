// tembora-render, run as a user runs it: the WAV it writes, its one line of
// output, and its answers to bad input and bad options.

#include "../midi/SmfBytes.h"
#include "support/AudioAnalysis.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace tmb::test;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runRender(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral(TMB_RENDER_EXE), arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Two notes a second apart at 120 BPM, then the end of the track at 2.5 s.
QByteArray twoNoteSong() {
    return header(0, 1, 480) +
           track(midiMessage(0, 0x90, 69, 100) + midiMessage(480, 0x80, 69, 0) +
                 midiMessage(480, 0x90, 72, 100) + midiMessage(480, 0x80, 72, 0) + endOfTrack(960));
}

} // namespace

class TemboraRenderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesAStereoWavOfTheSongAndItsTail_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("tail");
        QTest::addColumn<double>("seconds");
        QTest::newRow("defaults") << 48000 << QString() << QString() << 4.5;
        QTest::newRow("44100, block 100") << 44100 << QStringLiteral("100") << QStringLiteral("0") << 2.5;
        QTest::newRow("96000, block 4096")
            << 96000 << QStringLiteral("4096") << QStringLiteral("0.25") << 2.75;
    }

    void writesAStereoWavOfTheSongAndItsTail() {
        QFETCH(int, rate);
        QFETCH(QString, block);
        QFETCH(QString, tail);
        QFETCH(double, seconds);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("song.mid"));
        const QString wav = dir.filePath(QStringLiteral("song.wav"));
        QVERIFY(writeFile(in, twoNoteSong()));
        QStringList arguments = {in, QStringLiteral("-o"), wav};
        if (rate != 48000) arguments << QStringLiteral("--rate") << QString::number(rate);
        if (!block.isEmpty()) arguments << QStringLiteral("--block") << block;
        if (!tail.isEmpty()) arguments << QStringLiteral("--tail") << tail;

        const Run run = runRender(arguments);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY(run.err.isEmpty());
        static const QRegularExpression line(QStringLiteral(
            R"(^Rendered (\d+\.\d{3}) s of audio in (\d+\.\d{3}) s \((\d+\.\d)x realtime\)\n$)"));
        const QRegularExpressionMatch match = line.match(run.out);
        QVERIFY2(match.hasMatch(), qPrintable(run.out));
        QCOMPARE(match.captured(1).toDouble(), seconds);
        const double taken = match.captured(2).toDouble();
        if (taken >= 0.05) // the factor is only meaningful to its printed precision
            QVERIFY(std::abs(match.captured(3).toDouble() - seconds / taken) <=
                    0.05 + 0.01 * seconds / taken);

        StereoSignal signal;
        int channels = 0;
        QVERIFY(readWav(wav, &signal, &channels));
        QCOMPARE(channels, 2);
        QCOMPARE(signal.sampleRate, double(rate));
        QCOMPARE(signal.left.size(), std::size_t(std::llround(seconds * rate)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
    }

    void refusesBadInputWithOneLineAndExitCodeTwo_data() {
        QTest::addColumn<QByteArray>("input"); // empty: no input file at all
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");

        const QStringList out = {QStringLiteral("-o"), QStringLiteral("OUT")};
        const QByteArray song = twoNoteSong();
        QTest::newRow("missing file") << QByteArray() << out << "no such file";
        QTest::newRow("not a MIDI file") << QByteArray("hello, world\n") << out << "Not a Standard MIDI File";
        QTest::newRow("truncated track") << song.left(song.size() - 6) << out << "is cut short (track 1: ";
        QTest::newRow("tracks missing")
            << (header(1, 2, 96) + track(endOfTrack())) << out << "declares 2 tracks but holds 1";
        QTest::newRow("format 2") << (header(2, 1, 96) + track(endOfTrack())) << out << "format 2";
        QTest::newRow("days long") << (header(0, 1, 1) + track(midiMessage(0x0FFFFFFF, 0x90, 60, 1))) << out
                                   << "at most 3600 s";
        QTest::newRow("rate 22050") << song << (out + QStringList{"--rate", "22050"}) << "--rate must be";
        QTest::newRow("block 0") << song << (out + QStringList{"--block", "0"}) << "--block must be";
        QTest::newRow("block 8192") << song << (out + QStringList{"--block", "8192"}) << "--block must be";
        QTest::newRow("tail -1") << song << (out + QStringList{"--tail", "-1"}) << "--tail must be";
        QTest::newRow("no output") << song << QStringList() << "no output file given";
        QTest::newRow("unknown option") << song << (out + QStringList{"--loud"}) << "Unknown option 'loud'";
        QTest::newRow("two inputs") << song << (out + QStringList{"second.mid"}) << "more than one input";
    }

    void refusesBadInputWithOneLineAndExitCodeTwo() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, options);
        QFETCH(QString, message);

        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        if (!input.isEmpty()) QVERIFY(writeFile(in, input));
        // An existing output file stays as it was.
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        QVERIFY(writeFile(wav, "previous take"));
        options.replaceInStrings(QStringLiteral("OUT"), wav);

        const Run run = runRender(QStringList{in} + options);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith(QStringLiteral("tembora-render: ")) &&
                     run.err.count(QLatin1Char('\n')) == 1 && run.err.endsWith(QLatin1Char('\n')),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QFile previous(wav);
        QVERIFY(previous.open(QIODevice::ReadOnly));
        QCOMPARE(previous.readAll(), QByteArray("previous take"));
    }

    void anUnwritableOutputExitsWithOne() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.mid"));
        QVERIFY(writeFile(in, twoNoteSong()));
        const Run run =
            runRender({in, QStringLiteral("-o"), dir.filePath(QStringLiteral("no/such/folder/out.wav"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("tembora-render: cannot write ")), qPrintable(run.err));
    }

    void helpExplainsEveryOption() {
        const Run run = runRender({QStringLiteral("--help")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(QStringLiteral("Usage: tembora-render [options] IN.mid")));
        for (const char* text :
             {"-o, --output <file>", "--rate <hz>", "44100, 48000 or 96000", "--block <frames>",
              "--tail <seconds>", "Exit status", "channel 10 the drums"})
            QVERIFY2(run.out.contains(QLatin1String(text)), text);
    }
};

QTEST_GUILESS_MAIN(TemboraRenderTest)
#include "tst_tembora_render.moc"
