#pragma once

// The program's only source of hardware MIDI: an ALSA sequencer client "Tembora"
// whose input thread turns sequencer events into MidiEvent records.
//
// Threads:
// - GUI thread: construction, start/stop, scans, connect/disconnect/ignore, lists,
//   learn and profile edits. devicesChanged is emitted here, and also by a learn
//   that completes on the input thread.
// - MIDI input thread: handleAlsaEvent (decoding, duplicate and fader-touch state,
//   the realtime and control-mapped callbacks, the mapping check, the activity log,
//   midiActivityReceived, controllerMappedAction and midiLearnCompleted). Rescans it
//   asks for are queued to the GUI thread.
// One mutex guards the port list, mappings, activity log and learn strings; it is
// never held while a callback runs or a signal is emitted. The callbacks are
// installed before start and never change while the input thread runs.

#include "midi/MidiControllerMapping.h"
#include "midi/MidiEvent.h"
#include "midi/MidiPortDescriptor.h"

#include <QObject>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <cstdint>
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

    static constexpr int maxActivityLogLines = 80;
    // A copy of the last accepted event from another port of the same client within
    // this time is dropped.
    static constexpr std::uint64_t duplicateWindowUs = 2000;
    // A pitch bend this soon after a fader-touch note is a fader move, not a bend.
    static constexpr std::uint64_t faderTouchHoldUs = 500000;

    explicit MidiManager(QObject* parent = nullptr);
    ~MidiManager() override;

    // GUI thread. False (and nothing running) when the sequencer cannot be opened.
    bool start();
    void stop();
    bool isRunning() const { return m_running.load(); }

    void setRtMidiCallback(RtMidiCallback callback);
    void setControlMappedCallback(ControlMappedCallback callback);

    void scanAndAutoConnect();
    bool connectPort(int client, int port);
    bool disconnectPort(int client, int port);
    void setPortIgnored(int client, int port, bool ignored);
    // Swaps in a whole new port list and emits devicesChanged: the last step of a
    // scan, and the way tests stand in for one where there is no sequencer.
    void replacePortList(std::vector<MidiPortDescriptor> ports);

    QVariantList portsAsVariantList() const;
    QVariantList activityLogAsVariantList() const;
    void clearActivityLog();
    bool isSamsonGraphite49Connected() const;
    QString primaryControllerName() const;
    int connectedInputCount() const;

    // Controller mappings (GUI thread). The list starts as the Samson Graphite 49
    // profile; setMappings replaces it whole (project load).
    void resetSamsonGraphite49DefaultProfile();
    void setMappings(std::vector<MidiControllerMapping> mappings);
    std::vector<MidiControllerMapping> mappings() const;
    QVariantList controllerMappingsAsVariantList() const;

    // MIDI learn (GUI thread): the next control moved is bound to targetParameter.
    void startMidiLearn(const QString& targetParameter, const QString& friendlyName);
    void cancelMidiLearn() { m_learnActive.store(false); }
    bool isMidiLearnActive() const { return m_learnActive.load(); }
    QString midiLearnTarget() const; // the friendly name

    // Input thread: learn, the direct fader and channel actions, the mapping list and
    // the fallback knobs; each action goes to the control-mapped callback and to
    // controllerMappedAction. Virtual so tests can see exactly what reaches it.
    virtual void checkControllerMappings(const MidiEvent& event);

    // Decodes one sequencer event that arrived at arrivalUs (steady clock, µs) exactly
    // as the input thread does; public so the decoding can be driven without a sequencer.
    void handleAlsaEvent(const snd_seq_event_t* event, std::uint64_t arrivalUs);

    // Whether a client-exit, port-exit or unsubscription announcement takes away a
    // source this program listens to: a connected port in `ports`, or a subscription
    // into this program's input port (ownClient:ownInputPort). False for any other event.
    static bool announcementRemovesSource(const snd_seq_event_t& event,
                                          const std::vector<MidiPortDescriptor>& ports, int ownClient,
                                          int ownInputPort);

    static std::uint64_t steadyNowUs();

Q_SIGNALS:
    void devicesChanged();
    void midiActivityReceived(QString summary, int channel, int data1, int data2);
    void midiLearnCompleted(QString controlName, QString targetParameter);
    void controllerMappedAction(QString targetParameter, float normalizedValue);

private:
    struct SourceInfo {
        QString label;
        bool isControllerPort = false;
        bool isSamson = false;
    };

    void midiInputThreadLoop();
    void closeSequencer();
    int subscribe(int client, int port);
    SourceInfo lookUpSource(int client, int port) const;
    bool isDuplicate(const MidiEvent& event) const;
    bool withinFaderTouch(std::uint64_t nowUs) const;
    void handleNote(MidiEvent event, const SourceInfo& source, bool noteOn);
    void handleSystemExclusive(const snd_seq_event_t* event, const QString& sourceLabel);
    void sendRealtime(const MidiEvent& event);
    void sendControlMapped(const QString& targetParameter, float value);
    void appendActivityLog(const QString& source, const QString& type, int channel, int data1, int data2);

    snd_seq_t* m_seq = nullptr;
    int m_ownClient = -1;
    int m_inputPort = -1;
    int m_outputPort = -1;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    RtMidiCallback m_rtCallback;
    ControlMappedCallback m_controlMappedCallback;

    mutable std::mutex m_mutex;
    std::vector<MidiPortDescriptor> m_ports;
    QStringList m_activityLog;
    std::vector<MidiControllerMapping> m_mappings;
    QString m_learnTarget;
    QString m_learnFriendlyName;
    // Written by the GUI thread, read and cleared by the input thread.
    std::atomic<bool> m_learnActive{false};

    // Input thread only.
    MidiEvent m_lastAccepted;
    bool m_faderTouchActive = false;
    std::uint64_t m_lastTouchUs = 0;
};

} // namespace tmb
