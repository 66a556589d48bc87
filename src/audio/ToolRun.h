#pragma once

// Outside tools run without holding up the window (GUI thread).

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <functional>

namespace tmb {

// Starts `program` and returns at once; `done` later gets its standard output, or
// nothing when it cannot start, crashes or outlives `timeoutMs` (it is then killed).
// The process is a child of `owner`; stopToolsOf(owner) ends it without an answer.
void runToolAsync(QObject* owner, const QString& program, const QStringList& arguments, int timeoutMs,
                  std::function<void(const QByteArray&)> done);

// Ends the tools runToolAsync started for `owner` that are still running, without
// calling their `done`: for an owner about to go.
void stopToolsOf(QObject* owner);

} // namespace tmb
