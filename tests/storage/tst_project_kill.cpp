// A program saving a 20,000-note project in a loop, killed at random moments: the file is
// either not there yet or complete.

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class ProjectKillTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedSaveNeverLeavesABrokenFile() {
        const QString helper =
            QString::fromUtf8(qgetenv("TMB_BINARY_DIR")) + u"/tests/storage/project_save_loop"_s;
        QTemporaryDir dir;
        const QString path = dir.filePath(u"session.json"_s);
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        int complete = 0;
        for (int round = 0; round < 20; ++round) {
            QProcess loop;
            loop.start(helper, {path});
            QVERIFY2(loop.waitForStarted(), qPrintable(helper));
            // Every other round waits for one finished save: on a slow machine too kills land mid-save.
            if (round % 2 == 1) QVERIFY(loop.waitForReadyRead(30000));
            QTest::qWait(static_cast<int>(random.bounded(300)));
            loop.kill(); // SIGKILL
            QVERIFY(loop.waitForFinished());
            QCOMPARE(loop.exitStatus(), QProcess::CrashExit);
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

QTEST_GUILESS_MAIN(ProjectKillTest)
#include "tst_project_kill.moc"
