#include "ToolRun.h"

#include <QProcess>
#include <QTimer>

namespace tmb {

namespace {
const QString toolObjectName = QStringLiteral("tmbAsyncTool");
}

void runToolAsync(QObject* owner, const QString& program, const QStringList& arguments, int timeoutMs,
                  std::function<void(const QByteArray&)> done) {
    auto* process = new QProcess(owner);
    process->setObjectName(toolObjectName);
    process->setStandardErrorFile(QProcess::nullDevice());
    auto* deadline = new QTimer(process);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, process, &QProcess::kill);
    // Exactly one answer, whichever comes first; the process goes with it.
    const auto answer = [process, done = std::move(done)](const QByteArray& output) {
        process->disconnect();
        process->deleteLater();
        done(output);
    };
    QObject::connect(
        process, &QProcess::finished, process, [process, answer](int, QProcess::ExitStatus status) {
            answer(status == QProcess::NormalExit ? process->readAllStandardOutput() : QByteArray());
        });
    QObject::connect(process, &QProcess::errorOccurred, process, [answer](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) answer({});
    });
    deadline->start(timeoutMs);
    process->start(program, arguments);
}

void stopToolsOf(QObject* owner) {
    for (QProcess* process : owner->findChildren<QProcess*>(toolObjectName, Qt::FindDirectChildrenOnly)) {
        process->disconnect();
        process->kill();
        process->waitForFinished(200);
        delete process;
    }
}

} // namespace tmb
