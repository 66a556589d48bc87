#pragma once

#include <QObject>

class QSocketNotifier;

namespace tmb {

// Turns SIGTERM and SIGINT into a quit of the event loop, so the orderly teardown
// runs (audio node removed, MIDI client closed) instead of the process dying mid-block.
// The handler only writes one byte to a socket; the rest happens on the GUI thread.
class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void quitRequested(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace tmb
