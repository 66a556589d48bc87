// The project document: what it writes (read back by Python's json), bundles, partial
// and hostile documents, and saves that fail part-way (no space, no folder) leaving the
// previous file whole and reporting failure.

#include "storage/ProjectDocument.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

ProjectContent customContent() {
    ProjectContent c;
    c.projectName = u"Evening Service"_s;
    c.bpm = 96.0f;
    c.mainPresetId = u"gm_seben_guitar"_s;
    c.splitPresetId = u"synth_sub_bass"_s;
    c.activeLv2Uri = u"urn:test:plugin"_s;
    c.piano.keyOffVolume = 0.8f;
    c.piano.tuningHz = 432.0f;
    c.piano.transposeSemitones = -3;
    c.zones.splitEnabled = true;
    c.zones.splitKey = 48;
    c.mappings = {{74, false, false, u"Knob"_s, u"fx.reverb"_s, 0.25f, 0.75f}};
    c.notes = {{4, 0, 62, 80, 1.0, 0.5}, {9, 0, 65, 90, 2.5, 1.25}};
    return c;
}

// The piano, zone, mapping and note fields, plus name and tempo, as one text.
QString text(const ProjectContent& c) {
    QStringList out{c.projectName, QString::number(c.bpm), c.mainPresetId, c.layer2PresetId, c.activeLv2Uri};
    for (float v : {c.piano.brightness, c.piano.keyOffVolume, c.piano.lidPosition, c.piano.reverbRoomSize,
                    c.piano.stereoWidth, c.piano.tuningHz})
        out << QString::number(v);
    for (int v : {c.piano.transposeSemitones, c.piano.octaveShift, c.piano.touchCurve, c.zones.splitKey,
                  c.zones.velocityThreshold, c.zones.arpOctaves, c.zones.splitOctaveOffset,
                  int(c.zones.splitEnabled)})
        out << QString::number(v);
    for (const auto& m : c.mappings)
        out << u"m%1:%2:%3"_s.arg(m.ccOrNote).arg(m.minValue).arg(m.maxValue);
    for (const auto& n : c.notes)
        out << u"n%1:%2:%3:%4:%5"_s.arg(n.id)
                   .arg(n.pitch)
                   .arg(n.velocity)
                   .arg(n.startBeats)
                   .arg(n.durationBeats);
    return out.join(u' ');
}

// Saves in a child whose files may not grow past `limit` bytes (a full disk).
bool saveWithFileSizeLimit(const QString& path, const ProjectContent& content, rlim_t limit) {
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{limit, limit};
        setrlimit(RLIMIT_FSIZE, &small);
        _exit(ProjectDocument::save(path, content, nullptr) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

class ProjectDocumentTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every key is written; a bundle gets its folders; the document reads back equal.
    void writesEveryKeyAndReadsBack() {
        QTemporaryDir dir;
        const QString bundle = dir.filePath(u"Mass.Vks"_s);
        QVERIFY(ProjectDocument::save(bundle, customContent(), nullptr));
        for (const char* sub : {"session", "midi", "audio", "presets", "recovery"})
            QVERIFY(QFileInfo(bundle + u'/' + QLatin1String(sub)).isDir());
        QProcess python;
        python.start(u"/usr/bin/python3"_s,
                     {u"-c"_s,
                      u"import json,sys; d=json.load(open(sys.argv[1])); "
                      "print(sorted(d), len(d['pianoParameters']), len(d['workstation']), "
                      "d['formatVersion'], d['application'], d['savedAt'][-1])"_s,
                      bundle + u"/project.json"_s});
        QVERIFY(python.waitForFinished());
        QCOMPARE(
            QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
            u"['activeLv2Uri', 'application', 'bpm', 'formatVersion', 'layer2PresetId', 'mainPresetId', "
            "'midiMappings', 'pianoParameters', 'projectName', 'recordedNotes', 'savedAt', 'splitPresetId', "
            "'workstation'] 17 11 1.0.0 Tembora Z"_s);
        ProjectContent read;
        QVERIFY(ProjectDocument::load(bundle, read, nullptr));
        QCOMPARE(text(read), text(customContent()));
    }

    // Partial and hostile documents: what is absent keeps or defaults as documented,
    // what is out of range is clamped, broken documents change nothing.
    void readsPartialAndHostileDocuments_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        const QString seeded = text(customContent());
        QTest::newRow("unterminated") << QByteArray("{") << false << seeded;
        QTest::newRow("array root") << QByteArray("[]") << false << seeded;
        QTest::newRow("empty") << QByteArray() << false << seeded;
        // No sections: sound, zones and mappings stay; name, tempo, ids default; notes go.
        QTest::newRow("bare")
            << QByteArray(R"({"pianoParameters":{},"midiMappings":[]})") << true
            << u"Untitled Session 112    0.55 0.8 1 0.72 1 432 -3 0 1 48 96 1 0 1 m74:0.25:0.75"_s;
        // A section present: its missing keys take defaults, wrong types too.
        QTest::newRow("partial sections")
            << QByteArray(R"({"bpm":"fast","pianoParameters":{"brightness":0.3,"touchCurve":2.5},
                 "workstation":{"arpOctaves":2,"splitEnabled":"yes"},"recordedNotes":{}})")
            << true << u"Untitled Session 112    0.3 0.5 1 0.72 1 440 0 0 1 54 96 2 0 0 m74:0.25:0.75"_s;
        QTest::newRow("out of range")
            << QByteArray(
                   R"({"bpm":1e300,"projectName":"X","pianoParameters":{"brightness":50,"keyOffVolume":-2,
                 "lidPosition":0,"reverbRoomSize":5,"stereoWidth":9,"tuningHz":1e300,"transposeSemitones":99,
                 "octaveShift":-1e20,"touchCurve":7},
                 "workstation":{"splitKey":500,"velocityThreshold":0,"arpOctaves":-4,"splitOctaveOffset":9},
                 "midiMappings":[{"ccOrNote":200},{"ccOrNote":-1},{"ccOrNote":"7"},5,
                                 {"ccOrNote":11,"minValue":-1e300,"maxValue":1e300},{"ccOrNote":12.5}],
                 "recordedNotes":[{"id":3,"pitch":300,"velocity":0,"startBeats":-4,"durationBeats":-1},
                                  {"id":3,"pitch":-5,"velocity":999,"durationBeats":1e300},
                                  {"id":-7},"note"]})")
            << true
            << u"X 240    1 0 0.1 0.98 1.6 466 12 -3 3 96 20 1 2 0 m11:0:1 n3:127:1:0:0.0625 "
               u"n4:0:127:0:1e+07 "
               "n5:60:100:0:0.5"_s;
    }
    void readsPartialAndHostileDocuments() {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        ProjectContent content = customContent();
        QString error;
        QCOMPARE(ProjectDocument::parse(json, content, &error), ok);
        QCOMPARE(text(content), expected);
        QCOMPARE(error.startsWith(u"Invalid project JSON: "_s), !ok);
    }

    // A save that cannot complete reports failure and leaves the previous file whole;
    // an oversized file is refused before parsing.
    void failedSavesKeepThePreviousFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.json"_s);
        ProjectContent big = customContent();
        big.notes.assign(2000, PianoRollNote{1, 0, 60, 100, 0.0, 1.0});
        QVERIFY(ProjectDocument::save(path, customContent(), nullptr));
        const auto contents = [&path] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray small = contents();
        QVERIFY(!saveWithFileSizeLimit(path, big, 64 * 1024));
        QCOMPARE(contents(), small);
        QVERIFY(saveWithFileSizeLimit(path, big, 4 * 1024 * 1024));
        const QByteArray large = contents();
        QVERIFY(large.size() > 64 * 1024);
        QVERIFY(!saveWithFileSizeLimit(path, customContent(), 256));
        QCOMPARE(contents(), large);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"p.json"_s});

        QString error;
        QVERIFY(!ProjectDocument::save(path + u"/x.vks"_s, customContent(), &error));
        QCOMPARE(error, u"Cannot write project file: %1/x.vks/project.json"_s.arg(path));
        QVERIFY(QFile::resize(path, ProjectDocument::maxFileBytes + 1));
        ProjectContent content = customContent();
        QVERIFY(!ProjectDocument::load(path, content, &error));
        QVERIFY(error.startsWith(u"Cannot open project file: "_s + path));
        QCOMPARE(text(content), text(customContent()));
    }
};

QTEST_GUILESS_MAIN(ProjectDocumentTest)
#include "tst_project_document.moc"
