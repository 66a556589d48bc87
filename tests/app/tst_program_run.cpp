// Runs the real program against the private PipeWire session: its output node
// appears with the right name, description and role, and SIGTERM or SIGINT end it
// through the orderly teardown within a second or two, taking the node with it.

#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace tmb;

namespace {

// The properties of the first node named `name` in pw-dump's output, or an empty object.
QJsonObject findNode(const QString& name) {
    QProcess dump;
    dump.start(QStringLiteral("pw-dump"), {});
    if (!dump.waitForFinished(5000)) return {};
    const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
    for (const QJsonValue& object : objects) {
        const QJsonObject props = object[QStringLiteral("info")][QStringLiteral("props")].toObject();
        if (object[QStringLiteral("type")].toString() == QLatin1String("PipeWire:Interface:Node") &&
            props[QStringLiteral("node.name")].toString() == name)
            return props;
    }
    return {};
}

} // namespace

class ProgramRunTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        test::usePrivateHome(true);
        QString reason;
        if (!test::usePipeWireSession(&reason)) QSKIP(qPrintable(reason));
        m_program = QString::fromUtf8(qgetenv("TMB_BINARY_DIR")) + QStringLiteral("/src/tembora");
        QVERIFY2(QFile::exists(m_program), qPrintable(m_program));
    }

    void outputNodeAppearsAndSignalsEndTheProgram_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void outputNodeAppearsAndSignalsEndTheProgram() {
        QFETCH(int, signalNumber);
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(env);
        program.start(m_program, {});
        QVERIFY(program.waitForStarted(5000));

        QJsonObject node;
        QElapsedTimer clock;
        clock.start();
        while (node.isEmpty() && clock.elapsed() < 8000) {
            QTest::qWait(200);
            node = findNode(QStringLiteral("tembora"));
        }
        QVERIFY2(!node.isEmpty(), "no node named tembora appeared");
        QCOMPARE(node[QStringLiteral("node.description")].toString(),
                 QStringLiteral("Tembora Master Output"));
        QCOMPARE(node[QStringLiteral("media.role")].toString(), QStringLiteral("Music"));

        clock.restart();
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY(program.waitForFinished(3000));
        const qint64 quitMs = clock.elapsed();
        QVERIFY2(quitMs < 2000, qPrintable(QString::number(quitMs)));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(findNode(QStringLiteral("tembora")).isEmpty(), 3000);
    }

private:
    QString m_program;
};

QTEST_GUILESS_MAIN(ProgramRunTest)
#include "tst_program_run.moc"
