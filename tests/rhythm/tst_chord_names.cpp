// Chord names: the rules and tie-breaks, spelling, one-finger degrees, and every template
// chord in every inversion against npm's tonal (installed on first use; skipped without it).

#include "rhythm/ChordNames.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// Mask and lowest note of MIDI notes, as the keyboard's held keys give them.
QString nameOf(const QList<int>& notes) {
    std::uint16_t mask = 0;
    int lowest = 128;
    for (int note : notes) {
        mask = static_cast<std::uint16_t>(mask | (1u << (note % 12)));
        lowest = std::min(lowest, note);
    }
    return recognizeChord(mask, notes.isEmpty() ? 0 : lowest);
}

QList<int> ints(const QString& text) {
    QList<int> out;
    for (const QString& n : text.split(u' ', Qt::SkipEmptyParts))
        out << n.toInt();
    return out;
}

// tonal's Chord.detect for each set of note names in `input`, run with node; empty
// with `skip` set when tonal cannot be installed or node fails.
QByteArray detectWithTonal(const QByteArray& input, QString* skip) {
    const QString prefix = qEnvironmentVariable("TMB_BINARY_DIR") + u"/tonal-oracle"_s;
    QProcess run;
    if (!QFileInfo::exists(prefix + u"/node_modules/tonal/package.json"_s)) {
        QDir().mkpath(prefix);
        run.start(u"npm"_s,
                  {u"install"_s, u"--prefix"_s, prefix, u"--no-audit"_s, u"--no-fund"_s, u"tonal"_s});
        if (!run.waitForFinished(180000) || run.exitCode() != 0) {
            *skip = u"tonal could not be installed from the npm registry: "_s +
                    run.readAllStandardError().left(300);
            run.kill();
            return {};
        }
    }
    run.setWorkingDirectory(prefix);
    run.start(u"node"_s, {u"--input-type=module"_s, u"-e"_s, uR"(import { Chord } from "tonal";
        let input = "";
        process.stdin.on("data", (d) => (input += d));
        process.stdin.on("end", () => console.log(JSON.stringify(JSON.parse(input).map((n) => Chord.detect(n)))));)"_s});
    run.write(input);
    run.closeWriteChannel();
    if (!run.waitForFinished(60000) || run.exitCode() != 0) {
        *skip = u"node failed: "_s + run.readAllStandardError().left(300);
        return {};
    }
    return run.readAllStandardOutput();
}

// tonal's spelling made ours: "CM" -> "C", "Cm/ma7" -> "Cm(maj7)", "CMadd9" -> "Cadd9".
QString normalised(QString symbol) {
    static const QRegularExpression major(u"^([A-G][#b]?)M(?=/|$)"_s);
    return symbol.replace(u"m/ma7"_s, u"m(maj7)"_s).replace(u"Madd9"_s, u"add9"_s).replace(major, u"\\1"_s);
}

} // namespace

class ChordNamesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void heldNotesAreNamed() {
        for (const char* row :
             {"=—", "60=C4", "0=C-1", "49 61 73=C#3", "36 52 67 72 76=C", "64 67 72=C/E", "57 60 64 67=C6/A",
              "53 57 60 62=Dm7/F", "52 56 60=Caug/E", "53 58 60=Fsus4", "59 62 65 67=G7/B", "57 60 64 66=Am6",
              "55 60 62=Csus2/G", "69 72 76 80=Am(maj7)", "46 51 53 55=Ebadd9/Bb",
              "60 64 67 71 74=C polychord", "43 50=G polychord", "47 50 53 56=B polychord"}) {
            const QStringList parts = QString::fromUtf8(row).split(u'=');
            QCOMPARE(nameOf(ints(parts[0])), parts[1]);
        }
    }

    void spellingTransposingAndOneFingerDegrees() {
        QCOMPARE(midiNoteToDisplayName(61) + midiNoteToDisplayName(70) + midiNoteToDisplayName(127),
                 u"C#4Bb4G9"_s);
        for (const char* row :
             {"Bb7 2 C7", "F#m -1 Fm", "G/B 2 A/B", "N.C. 3 N.C.", "Ebmaj7 0 Ebmaj7", "bb7 2 C7", "E -13 Eb",
              "Ab 25 A", " 5 ", "Cdim 6 F#dim"}) { // symbol, semitones, result
            const QStringList c = QString::fromLatin1(row).split(u' ');
            QCOMPARE(transposeChordSymbol(c[0], c[1].toInt()), c[2]);
        }
        const int expected[12] = {1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6, 5}; // C C# D ... B, in two octaves
        for (int note = 36; note < 60; ++note)
            QCOMPARE(smartChordDegreeForNote(note), expected[note % 12]);
        QVERIFY(chordDegree(0).degree == 1 && chordDegree(9).semitones == 9);
        QVERIFY(chordDegree(9).minor && chordDegree(2).minor && !chordDegree(5).minor);
        QCOMPARE(QString::fromLatin1(chordDegree(3).roman), u"iii"_s);
    }

    // Every template chord on every root with each tone in the bass (552 sets): one of tonal's names.
    void everyInversionAgreesWithTonal() {
        QJsonArray sets;
        QStringList ours;
        for (int root = 0; root < 12; ++root) {
            for (const QString& chord :
                 u"0 4 7|0 3 7|0 3 6|0 4 8|0 5 7|0 2 7|0 4 7 11|0 4 7 10|0 3 7 10|0 3 7 11|"
                 u"0 2 4 7|0 4 7 9|0 3 7 9"_s.split(u'|')) {
                const QList<int> intervals = ints(chord);
                for (int bassTone : intervals) {
                    // The bass in octave 3, the other tones above it.
                    QList<int> notes{48 + (root + bassTone) % 12};
                    QJsonArray names{pitchClassName(notes.constFirst())};
                    for (int interval : intervals) {
                        if (interval == bassTone) continue;
                        int note = 48 + (root + interval) % 12;
                        note += note <= notes.constFirst() ? 12 : 0;
                        notes << note;
                        names.append(pitchClassName(note));
                    }
                    sets.append(names);
                    ours << nameOf(notes);
                }
            }
        }
        QString skip;
        const QByteArray output = detectWithTonal(QJsonDocument(sets).toJson(QJsonDocument::Compact), &skip);
        if (output.isEmpty()) QSKIP(qPrintable(skip));
        const QJsonArray detected = QJsonDocument::fromJson(output).array();
        QCOMPARE(detected.size(), 552);
        QStringList disagreements;
        for (int i = 0; i < 552; ++i) {
            QStringList candidates;
            for (const QJsonValue& symbol : detected[i].toArray())
                candidates << normalised(symbol.toString());
            if (!candidates.contains(ours[i]))
                disagreements << u"%1 -> %2, tonal: %3"_s.arg(sets[i].toVariant().toStringList().join(u' '),
                                                              ours[i], candidates.join(u','));
        }
        QVERIFY2(disagreements.isEmpty(), qPrintable(disagreements.mid(0, 10).join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(ChordNamesTest)
#include "tst_chord_names.moc"
