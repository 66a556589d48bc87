#pragma once

// The program's only source of hardware MIDI: an ALSA sequencer client "Tembora"
// whose input thread turns sequencer events into MidiEvent records.
//
// Threads:
// - GUI thread: construction, start/stop, scans, connect/disconnect/ignore, lists,
//   learn and profile edits. Signals other than midiActivityReceived are emitted here.
// - MIDI input thread: event decoding, the realtime and control-mapped callbacks, the
//   mapping check, the activity log and midiActivityReceived.
// One mutex guards the port list, mappings, activity log and learn strings; it is
// never held while a callback runs or a signal is emitted.

#include "midi/MidiEvent.h"
#include "midi/MidiPortDescriptor.h"

#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_seq_event snd_seq_event_t;

namespace tmb {

class MidiManager : public QObject {
    Q_OBJECT
public:
    using RtMidiCallback = std::function<void(const MidiEvent&)>;
    using ControlMappedCallback = std::function<void(const QString& targetParameter, float value)>;

    explicit MidiManager(QObject* parent = nullptr);
    ~MidiManager() override;

    bool start();
    void stop();
    bool isRunning() const { return m_running.load(); }

    void setRtMidiCallback(RtMidiCallback callback);
    void setControlMappedCallback(ControlMappedCallback callback);

    void scanAndAutoConnect();
    bool connectPort(int client, int port);
    bool disconnectPort(int client, int port);
    void setPortIgnored(int client, int port, bool ignored);

    QVariantList portsAsVariantList() const;
    QVariantList activityLogAsVariantList() const;
    void clearActivityLog();
    bool isSamsonGraphite49Connected() const;
    QString primaryControllerName() const;
    int connectedInputCount() const;

    // Controller mappings and MIDI learn arrive with their own feature; the
    // default profile and the mapping check are in place so callers need not change.
    void resetSamsonGraphite49DefaultProfile();
    void checkControllerMappings(const MidiEvent& event);

    // Decodes one sequencer event exactly as the input thread does. Public so the
    // decoding can be exercised without a sequencer.
    void handleAlsaEvent(const snd_seq_event_t* event);

Q_SIGNALS:
    void devicesChanged();
    void midiActivityReceived(QString summary, int channel, int data1, int data2);
    void midiLearnCompleted(QString controlName, QString targetParameter);
    void controllerMappedAction(QString targetParameter, float normalizedValue);

private:
    void midiInputThreadLoop();
    void appendActivityLog(const QString& source, const QString& type, int channel, int data1, int data2);

    snd_seq_t* m_seq = nullptr;
    int m_inputPort = -1;
    int m_outputPort = -1;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    RtMidiCallback m_rtCallback;
    ControlMappedCallback m_controlMappedCallback;

    mutable std::mutex m_mutex;
    std::vector<MidiPortDescriptor> m_ports;
    QStringList m_activityLog;

    // Input thread only.
    MidiEvent m_lastAccepted;
    bool m_faderTouchActive = false;
    std::uint64_t m_lastTouchUs = 0;
};

} // namespace tmb
