// The project document: partial and hostile documents; saves failing part-way (no space, no
// folder, killed) leave the previous file whole and report failure.

#include "storage/ProjectDocument.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

ProjectContent seeded() {
    ProjectContent c;
    c.projectName = u"Evening"_s;
    c.mainPresetId = u"gm_seben_guitar"_s;
    c.piano.keyOffVolume = 0.8f;
    c.piano.transposeSemitones = -3;
    c.zones.splitKey = 48;
    c.zones.splitEnabled = true;
    c.mappings = {{74, false, false, u"Knob"_s, u"fx.reverb"_s, 0.25f, 0.75f}};
    c.notes = {{4, 0, 62, 80, 1.0, 0.5}};
    return c;
}

QString text(const ProjectContent& c) {
    QStringList out{c.projectName, QString::number(c.bpm), c.mainPresetId};
    for (const double value :
         {double(c.piano.brightness), double(c.piano.keyOffVolume), double(c.piano.transposeSemitones),
          double(c.piano.touchCurve), double(c.zones.splitKey), double(c.zones.arpOctaves),
          double(c.zones.splitEnabled)})
        out << QString::number(value);
    for (const auto& m : c.mappings)
        out << u"m%1:%2:%3"_s.arg(m.ccOrNote).arg(m.minValue).arg(m.maxValue);
    for (const auto& n : c.notes)
        out << u"n%1:%2:%3:"_s.arg(n.id).arg(n.pitch).arg(n.velocity) +
                   u"%1:%2"_s.arg(n.startBeats).arg(n.durationBeats);
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
    // What is absent keeps or defaults as documented; hostile values are clamped or
    // dropped; a broken document changes nothing.
    void readsPartialAndHostileDocuments_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected"); // empty: the read fails
        QTest::newRow("unterminated") << QByteArray("{") << QString();
        QTest::newRow("array root") << QByteArray("[]") << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        // Sections absent or empty: sound, zones and mappings stay; notes go.
        QTest::newRow("bare") << QByteArray(R"({"pianoParameters":{},"midiMappings":[]})")
                              << u"Untitled Session 112  0.55 0.8 -3 1 48 1 1 m74:0.25:0.75"_s;
        // A section present: its missing or wrongly typed keys take defaults.
        QTest::newRow("partial sections")
            << QByteArray(
                   R"({"bpm":"fast","mainPresetId":7,"pianoParameters":{"brightness":0.3,"touchCurve":2.5},
                 "workstation":{"arpOctaves":2,"splitEnabled":"yes"},"recordedNotes":{}})")
            << u"Untitled Session 112  0.3 0.5 0 1 54 2 0 m74:0.25:0.75"_s;
        QTest::newRow("hostile")
            << QByteArray(R"({"bpm":1e300,"projectName":"X","mainPresetId":"a",
                 "midiMappings":[{"ccOrNote":200},{"ccOrNote":-1},{"ccOrNote":"7"},5,
                                 {"ccOrNote":11,"minValue":-1e300,"maxValue":1e300},{"ccOrNote":12.5}],
                 "recordedNotes":[{"id":3,"pitch":300,"velocity":0,"startBeats":-4,"durationBeats":-1},
                                  {"id":3,"pitch":-5,"velocity":999,"durationBeats":1e300},{"id":-7},"n"]})")
            << u"X 240 a 0.55 0.8 -3 1 48 1 1 m11:0:1 n3:127:1:0:0.0625 n4:0:127:0:1e+07 n5:60:100:0:0.5"_s;
    }
    void readsPartialAndHostileDocuments() {
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        ProjectContent content = seeded();
        QString error;
        QCOMPARE(ProjectDocument::parse(json, content, &error), !expected.isEmpty());
        QCOMPARE(text(content), expected.isEmpty() ? text(seeded()) : expected);
        QCOMPARE(error.startsWith(u"Invalid project JSON: "_s), expected.isEmpty());
    }

    // A save that cannot complete reports failure and leaves the previous file whole;
    // oversized files and pipes are refused unread.
    void failedSavesKeepThePreviousFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.json"_s);
        const auto contents = [&path] {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        ProjectContent big = seeded();
        big.notes.assign(2000, PianoRollNote{1, 0, 60, 100, 0.0, 1.0});
        QVERIFY(ProjectDocument::save(path, seeded(), nullptr));
        const QByteArray small = contents();
        QVERIFY(!saveWithFileSizeLimit(path, big, 64 * 1024));
        QCOMPARE(contents(), small);
        QVERIFY(saveWithFileSizeLimit(path, big, 4 * 1024 * 1024));
        const QByteArray large = contents();
        QVERIFY(!saveWithFileSizeLimit(path, seeded(), 256));
        QCOMPARE(contents(), large);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"p.json"_s});

        QString error;
        QVERIFY(!ProjectDocument::save(path + u"/x.vks"_s, seeded(), &error));
        QCOMPARE(error, u"Cannot write project file: %1/x.vks/project.json"_s.arg(path));
        const QString pipe = dir.filePath(u"pipe.json"_s);
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(QFile::resize(path, ProjectDocument::maxFileBytes + 1));
        for (const QString& refused : {path, pipe}) {
            ProjectContent content = seeded();
            QVERIFY(!ProjectDocument::load(refused, content, &error));
            QVERIFY(error.startsWith(u"Cannot open project file: "_s + refused));
            QCOMPARE(text(content), text(seeded()));
        }
    }

    // A child saving a 20,000-note project over and over, killed at moments spread over 0.3 s:
    // the file is either not there yet or complete.
    void killedSaveNeverLeavesABrokenFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"session.json"_s);
        ProjectContent content;
        content.projectName = u"Kill Test"_s;
        for (std::uint32_t i = 0; i < 20000; ++i)
            content.notes.push_back({i + 1, 0, 36 + static_cast<int>(i % 60), 90, i * 0.25, 0.25});
        int complete = 0;
        for (int round = 0; round < 20; ++round) {
            int saves[2];
            QCOMPARE(pipe(saves), 0);
            const pid_t child = fork();
            if (child == 0) {
                while (ProjectDocument::save(path, content, nullptr))
                    if (write(saves[1], "s", 1) != 1) break;
                _exit(1);
            }
            close(saves[1]);
            // Every other round waits for one finished save: on a slow machine too kills land mid-save.
            char saved = 0;
            if (round % 2 == 1) QCOMPARE(read(saves[0], &saved, 1), ssize_t{1});
            usleep(static_cast<useconds_t>(15000 * round));
            kill(child, SIGKILL);
            int status = 0;
            waitpid(child, &status, 0);
            close(saves[0]);
            QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            QFile file(path);
            if (!file.exists()) continue;
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
            QVERIFY(root[u"projectName"_s] == u"Kill Test"_s &&
                    root[u"recordedNotes"_s].toArray().size() == 20000);
            ++complete;
        }
        QVERIFY(complete >= 10);
    }
};

QTEST_GUILESS_MAIN(ProjectDocumentTest)
#include "tst_project_document.moc"
