// The real program in the private PipeWire session: its output node, and an orderly end on a signal.

#include "support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace tmb;
using namespace Qt::StringLiterals;

namespace {

// The properties of the first node named `name` in pw-dump's output, or an empty object.
QJsonObject findNode(const QString& name) {
    QProcess dump;
    dump.start(u"pw-dump"_s, {});
    if (!dump.waitForFinished(5000)) return {};
    const QJsonArray objects = QJsonDocument::fromJson(dump.readAllStandardOutput()).array();
    for (const QJsonValue& object : objects) {
        const QJsonObject props = object[u"info"_s][u"props"_s].toObject();
        if (object[u"type"_s].toString() == QLatin1String("PipeWire:Interface:Node") &&
            props[u"node.name"_s].toString() == name)
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
        m_program = QString::fromUtf8(qgetenv("TMB_BINARY_DIR")) + u"/src/tembora"_s;
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
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        program.setProcessEnvironment(env);
        program.start(m_program, {});
        QVERIFY(program.waitForStarted(5000));

        QJsonObject node;
        QTRY_VERIFY_WITH_TIMEOUT(!(node = findNode(u"tembora"_s)).isEmpty(), 60000);
        QCOMPARE(node[u"node.description"_s].toString() + u'|' + node[u"media.role"_s].toString(),
                 u"Tembora Master Output|Music"_s);

        // The watcher is in place before the node appears; a signal during the scene's
        // load is read once the event loop runs.
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        QVERIFY(program.waitForFinished(60000));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        QTRY_VERIFY_WITH_TIMEOUT(findNode(u"tembora"_s).isEmpty(), 30000);
    }

private:
    QString m_program;
};

QTEST_GUILESS_MAIN(ProgramRunTest)
#include "tst_program_run.moc"
