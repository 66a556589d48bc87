// Opening the sequencer, scanning and connecting ports, the input thread and the
// decoding of sequencer events into MidiEvent records.

#include "MidiManager.h"

#include <alsa/asoundlib.h>

#include <QMetaObject>
#include <QTime>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

namespace tmb {

namespace {

// Subscribing to a port we already listen to reports EBUSY: still a connection.
bool subscriptionHolds(int result) {
    return result >= 0 || result == -EBUSY;
}

// Notes 104-112 of a control surface say that a motorised fader is being touched.
bool isFaderTouchNote(int note) {
    return note >= 104 && note <= 112;
}

std::uint8_t data7(int value) {
    return static_cast<std::uint8_t>(value & 0x7F);
}

} // namespace

MidiManager::MidiManager(QObject* parent)
    : QObject(parent) {
    resetSamsonGraphite49DefaultProfile();
}

MidiManager::~MidiManager() {
    stop();
}

std::uint64_t MidiManager::steadyNowUs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

// ---- Lifecycle ----

bool MidiManager::start() {
    if (m_running.load()) return true;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0 || !seq) return false;
    m_seq = seq;
    snd_seq_set_client_name(m_seq, "Tembora");
    m_ownClient = snd_seq_client_id(m_seq);
    const unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
    m_inputPort = snd_seq_create_simple_port(m_seq, "MIDI In",
                                             SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
    m_outputPort = snd_seq_create_simple_port(m_seq, "MIDI Out",
                                              SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, type);
    if (m_inputPort < 0) {
        // Without an input port nothing could ever arrive: report the failure.
        closeSequencer();
        return false;
    }
    // Client and port arrivals and departures come in as events on the input port.
    snd_seq_connect_from(m_seq, m_inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    scanAndAutoConnect();
    m_running.store(true);
    m_thread = std::thread(&MidiManager::midiInputThreadLoop, this);
    return true;
}

void MidiManager::stop() {
    m_running.store(false);
    if (m_thread.joinable()) m_thread.join();
    closeSequencer();
}

void MidiManager::closeSequencer() {
    if (!m_seq) return;
    snd_seq_close(m_seq);
    m_seq = nullptr;
    m_ownClient = -1;
    m_inputPort = -1;
    m_outputPort = -1;
    // Closing drops every subscription; a later start must connect again.
    std::lock_guard lock(m_mutex);
    for (MidiPortDescriptor& port : m_ports)
        port.isConnected = false;
}

void MidiManager::setRtMidiCallback(RtMidiCallback callback) {
    m_rtCallback = std::move(callback);
}

void MidiManager::setControlMappedCallback(ControlMappedCallback callback) {
    m_controlMappedCallback = std::move(callback);
}

// ---- Ports ----

int MidiManager::subscribe(int client, int port) {
    return snd_seq_connect_from(m_seq, m_inputPort, client, port);
}

void MidiManager::scanAndAutoConnect() {
    if (!m_seq) return;
    std::vector<MidiPortDescriptor> found;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);

    const int ownClient = snd_seq_client_id(m_seq);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(m_seq, clientInfo) >= 0) {
        const int client = snd_seq_client_info_get_client(clientInfo);
        if (client == SND_SEQ_CLIENT_SYSTEM || client == ownClient) continue;
        const QString clientName = QString::fromUtf8(snd_seq_client_info_get_name(clientInfo)).trimmed();
        if (isHiddenMidiClient(clientName)) continue;
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
            const int portId = snd_seq_port_info_get_port(portInfo);
            std::optional<MidiPortDescriptor> port = describeMidiPort(
                client, portId, clientName, QString::fromUtf8(snd_seq_port_info_get_name(portInfo)),
                snd_seq_port_info_get_capability(portInfo));
            if (!port) continue;
            {
                std::lock_guard lock(m_mutex);
                for (const MidiPortDescriptor& previous : m_ports) {
                    if (previous.clientId == client && previous.portId == portId) {
                        port->isConnected = previous.isConnected;
                        port->isIgnored = previous.isIgnored;
                        break;
                    }
                }
            }
            if (port->isInput && !port->isIgnored && !port->isConnected &&
                subscriptionHolds(subscribe(client, portId)))
                port->isConnected = true;
            found.push_back(std::move(*port));
        }
    }
    replacePortList(std::move(found));
}

void MidiManager::replacePortList(std::vector<MidiPortDescriptor> ports) {
    {
        std::lock_guard lock(m_mutex);
        m_ports.swap(ports);
    }
    Q_EMIT devicesChanged();
}

bool MidiManager::connectPort(int client, int port) {
    if (!m_seq) return false;
    const bool connected = subscriptionHolds(subscribe(client, port));
    if (connected) {
        std::lock_guard lock(m_mutex);
        for (MidiPortDescriptor& d : m_ports) {
            if (d.clientId == client && d.portId == port) {
                d.isConnected = true;
                d.isIgnored = false;
            }
        }
    }
    Q_EMIT devicesChanged();
    return connected;
}

bool MidiManager::disconnectPort(int client, int port) {
    if (!m_seq) return false;
    snd_seq_disconnect_from(m_seq, m_inputPort, client, port);
    {
        std::lock_guard lock(m_mutex);
        for (MidiPortDescriptor& d : m_ports) {
            if (d.clientId == client && d.portId == port) d.isConnected = false;
        }
    }
    sendRealtime(MidiEvent::reset());
    Q_EMIT devicesChanged();
    return true;
}

void MidiManager::setPortIgnored(int client, int port, bool ignored) {
    if (ignored) disconnectPort(client, port);
    {
        std::lock_guard lock(m_mutex);
        for (MidiPortDescriptor& d : m_ports) {
            if (d.clientId == client && d.portId == port) d.isIgnored = ignored;
        }
    }
    if (!ignored) connectPort(client, port);
    Q_EMIT devicesChanged();
}

QVariantList MidiManager::portsAsVariantList() const {
    std::lock_guard lock(m_mutex);
    QVariantList list;
    list.reserve(static_cast<qsizetype>(m_ports.size()));
    for (const MidiPortDescriptor& d : m_ports) {
        QVariantMap map;
        map.insert(QStringLiteral("clientId"), d.clientId);
        map.insert(QStringLiteral("portId"), d.portId);
        map.insert(QStringLiteral("clientName"), d.clientName);
        map.insert(QStringLiteral("portName"), d.portName);
        map.insert(QStringLiteral("displayName"), d.displayName);
        map.insert(QStringLiteral("deviceFamily"), d.deviceFamily);
        map.insert(QStringLiteral("isInput"), d.isInput);
        map.insert(QStringLiteral("isOutput"), d.isOutput);
        map.insert(QStringLiteral("isControllerPort"), d.isControllerPort);
        map.insert(QStringLiteral("isConnected"), d.isConnected);
        map.insert(QStringLiteral("isIgnored"), d.isIgnored);
        map.insert(QStringLiteral("isSamsonGraphite49"), d.isSamsonGraphite49);
        map.insert(QStringLiteral("isBluetooth"), d.isBluetooth);
        list.append(map);
    }
    return list;
}

QVariantList MidiManager::activityLogAsVariantList() const {
    std::lock_guard lock(m_mutex);
    QVariantList list;
    list.reserve(m_activityLog.size());
    for (const QString& line : m_activityLog)
        list.append(line);
    return list;
}

void MidiManager::clearActivityLog() {
    std::lock_guard lock(m_mutex);
    m_activityLog.clear();
}

bool MidiManager::isSamsonGraphite49Connected() const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_ports.begin(), m_ports.end(),
                       [](const MidiPortDescriptor& d) { return d.isSamsonGraphite49 && d.isConnected; });
}

QString MidiManager::primaryControllerName() const {
    if (isSamsonGraphite49Connected()) return QStringLiteral("SAMSON Graphite 49 (Active Profile)");
    std::lock_guard lock(m_mutex);
    for (const MidiPortDescriptor& d : m_ports) {
        if (d.isConnected && d.isInput) return d.clientName;
    }
    return QStringLiteral("No Hardware MIDI Connected (On-Screen & Computer Keys Active)");
}

int MidiManager::connectedInputCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_ports.begin(), m_ports.end(), [](const MidiPortDescriptor& d) {
        return d.isConnected && d.isInput;
    }));
}

// ---- Input thread ----

void MidiManager::midiInputThreadLoop() {
    const int slotCount = std::max(1, snd_seq_poll_descriptors_count(m_seq, POLLIN));
    std::vector<pollfd> fds(static_cast<std::size_t>(slotCount));
    while (m_running.load()) {
        const int used =
            snd_seq_poll_descriptors(m_seq, fds.data(), static_cast<unsigned>(slotCount), POLLIN);
        if (poll(fds.data(), static_cast<nfds_t>(std::max(used, 0)), 100) <= 0) continue;
        snd_seq_event_t* event = nullptr;
        while (m_running.load() && snd_seq_event_input(m_seq, &event) >= 0 && event) {
            handleAlsaEvent(event, steadyNowUs());
            event = nullptr;
        }
    }
}

bool MidiManager::announcementRemovesSource(const snd_seq_event_t& event,
                                            const std::vector<MidiPortDescriptor>& ports, int ownClient,
                                            int ownInputPort) {
    switch (event.type) {
    case SND_SEQ_EVENT_CLIENT_EXIT:
        return std::any_of(ports.begin(), ports.end(), [&](const MidiPortDescriptor& d) {
            return d.isConnected && d.clientId == event.data.addr.client;
        });
    case SND_SEQ_EVENT_PORT_EXIT:
        return std::any_of(ports.begin(), ports.end(), [&](const MidiPortDescriptor& d) {
            return d.isConnected && d.clientId == event.data.addr.client && d.portId == event.data.addr.port;
        });
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
        // Only a subscription that fed our own input port; other programs' wiring is theirs.
        return ownClient >= 0 && event.data.connect.dest.client == ownClient &&
               event.data.connect.dest.port == ownInputPort;
    default:
        return false;
    }
}

MidiManager::SourceInfo MidiManager::lookUpSource(int client, int port) const {
    SourceInfo source;
    source.label = QStringLiteral("%1:%2").arg(client).arg(port);
    std::lock_guard lock(m_mutex);
    for (const MidiPortDescriptor& d : m_ports) {
        if (d.clientId == client && d.portId == port) {
            source.label = d.portName;
            source.isControllerPort = d.isControllerPort;
            source.isSamson = d.isSamsonGraphite49;
            break;
        }
    }
    return source;
}

bool MidiManager::isDuplicate(const MidiEvent& e) const {
    const MidiEvent& last = m_lastAccepted;
    return e.sourceClient >= 0 && e.sourceClient == last.sourceClient && e.sourcePort != last.sourcePort &&
           e.status == last.status && e.channel == last.channel && e.data1 == last.data1 &&
           e.data2 == last.data2 && e.timestampUs >= last.timestampUs &&
           e.timestampUs - last.timestampUs < duplicateWindowUs;
}

bool MidiManager::withinFaderTouch(std::uint64_t nowUs) const {
    return m_lastTouchUs != 0 && nowUs >= m_lastTouchUs && nowUs - m_lastTouchUs <= faderTouchHoldUs;
}

void MidiManager::sendRealtime(const MidiEvent& event) {
    if (m_rtCallback) m_rtCallback(event);
}

void MidiManager::sendControlMapped(const QString& targetParameter, float value) {
    if (m_controlMappedCallback) m_controlMappedCallback(targetParameter, value);
}

void MidiManager::handleAlsaEvent(const snd_seq_event_t* ev, std::uint64_t arrivalUs) {
    if (!ev) return;

    switch (ev->type) {
    case SND_SEQ_EVENT_CLIENT_EXIT:
    case SND_SEQ_EVENT_PORT_EXIT:
    case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
    case SND_SEQ_EVENT_CLIENT_START:
    case SND_SEQ_EVENT_PORT_START: {
        bool releaseNotes = false;
        {
            std::lock_guard lock(m_mutex);
            releaseNotes = announcementRemovesSource(*ev, m_ports, m_ownClient, m_inputPort);
        }
        if (releaseNotes) sendRealtime(MidiEvent::reset());
        // Scans touch the sequencer and the port list owner: always on the GUI thread.
        QMetaObject::invokeMethod(
            this, [this] { scanAndAutoConnect(); }, Qt::QueuedConnection);
        return;
    }
    default:
        break;
    }

    MidiEvent e;
    e.sourceClient = ev->source.client;
    e.sourcePort = ev->source.port;
    e.timestampUs = arrivalUs;
    const SourceInfo source = lookUpSource(e.sourceClient, e.sourcePort);
    e.fromControllerPort = source.isControllerPort;

    switch (ev->type) {
    case SND_SEQ_EVENT_NOTEON:
    case SND_SEQ_EVENT_NOTEOFF: {
        const bool noteOn = ev->type == SND_SEQ_EVENT_NOTEON && (ev->data.note.velocity & 0x7F) != 0;
        e.status = noteOn ? MidiEvent::NoteOn : MidiEvent::NoteOff;
        e.channel = static_cast<std::uint8_t>(ev->data.note.channel & 0x0F);
        e.data1 = data7(ev->data.note.note);
        e.data2 = noteOn ? data7(ev->data.note.velocity) : 0;
        if (isDuplicate(e)) return;
        m_lastAccepted = e;
        if (isFaderTouchNote(e.data1) && (e.fromControllerPort || source.isSamson)) {
            m_faderTouchActive = noteOn;
            m_lastTouchUs = arrivalUs;
            return;
        }
        if (!e.fromControllerPort) sendRealtime(e);
        // Note offs from the sender (not note ons with velocity 0) skip the mappings.
        if (ev->type == SND_SEQ_EVENT_NOTEON) checkControllerMappings(e);
        appendActivityLog(source.label, noteOn ? QStringLiteral("NoteOn") : QStringLiteral("NoteOff"),
                          e.channel + 1, e.data1, e.data2);
        return;
    }
    case SND_SEQ_EVENT_CONTROLLER:
        e.status = MidiEvent::ControlChange;
        e.channel = static_cast<std::uint8_t>(ev->data.control.channel & 0x0F);
        e.data1 = data7(static_cast<int>(ev->data.control.param));
        e.data2 = data7(ev->data.control.value);
        if (isDuplicate(e)) return;
        m_lastAccepted = e;
        sendRealtime(e);
        checkControllerMappings(e);
        appendActivityLog(source.label, QStringLiteral("CC %1").arg(e.data1), e.channel + 1, e.data1,
                          e.data2);
        return;
    case SND_SEQ_EVENT_PGMCHANGE:
    case SND_SEQ_EVENT_CHANPRESS:
        e.status =
            ev->type == SND_SEQ_EVENT_PGMCHANGE ? MidiEvent::ProgramChange : MidiEvent::ChannelPressure;
        e.channel = static_cast<std::uint8_t>(ev->data.control.channel & 0x0F);
        e.data1 = data7(ev->data.control.value);
        sendRealtime(e);
        appendActivityLog(source.label,
                          ev->type == SND_SEQ_EVENT_PGMCHANGE ? QStringLiteral("ProgramChange")
                                                              : QStringLiteral("Aftertouch"),
                          e.channel + 1, e.data1, 0);
        return;
    case SND_SEQ_EVENT_PITCHBEND:
        e.status = MidiEvent::PitchBend;
        e.channel = static_cast<std::uint8_t>(ev->data.control.channel & 0x0F);
        e.pitchBend = static_cast<std::int16_t>(std::clamp(ev->data.control.value, -8192, 8191));
        // A motorised fader sends its position as pitch bend while it is touched.
        if (e.fromControllerPort || m_faderTouchActive || withinFaderTouch(arrivalUs)) {
            e.fromControllerPort = true;
            checkControllerMappings(e);
            return;
        }
        if (m_rtCallback) {
            m_rtCallback(e);
            appendActivityLog(source.label, QStringLiteral("PitchBend"), e.channel + 1, e.pitchBend, 0);
        }
        return;
    case SND_SEQ_EVENT_SYSEX:
        handleSystemExclusive(ev, source.label);
        return;
    default:
        return; // poly pressure, 14-bit controllers, clock, transport, other notices
    }
}

void MidiManager::handleSystemExclusive(const snd_seq_event_t* ev, const QString& sourceLabel) {
    if ((ev->flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE || !ev->data.ext.ptr) return;
    const std::uint64_t length = ev->data.ext.len;
    const auto* bytes = static_cast<const std::uint8_t*>(ev->data.ext.ptr);
    // Universal real-time messages only; byte 2, the device id, is not checked.
    if (length < 6 || bytes[0] != 0xF0 || bytes[1] != 0x7F) return;
    if (bytes[3] == 0x04 && bytes[4] == 0x01) { // device control: master volume
        if (length < 8) return;
        const int value = bytes[6] & 0x7F;
        sendControlMapped(QStringLiteral("mixer.master.volume"), static_cast<float>(value / 127.0));
        appendActivityLog(sourceLabel, QStringLiteral("SysEx MasterVol"), 1, value, 0);
    } else if (bytes[3] == 0x06) { // MIDI machine control
        const int command = bytes[4];
        switch (command) {
        case 0x01:
            sendControlMapped(QStringLiteral("transport.stop"), 1.0f);
            break;
        case 0x02: // play
        case 0x03: // deferred play
        case 0x09: // pause
            sendControlMapped(QStringLiteral("transport.play"), 1.0f);
            break;
        case 0x06: // record strobe
            sendControlMapped(QStringLiteral("transport.record"), 1.0f);
            break;
        default:
            break;
        }
        appendActivityLog(sourceLabel, QStringLiteral("MMC Transport"), 1, command, 0);
    }
}

void MidiManager::appendActivityLog(const QString& source, const QString& type, int channel, int data1,
                                    int data2) {
    static const char* const noteNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                              "F#", "G",  "G#", "A",  "A#", "B"};
    QString suffix;
    if (type.startsWith(QLatin1String("Note"))) {
        const QString name = data1 >= 0 && data1 < 128
                                 ? QLatin1String(noteNames[data1 % 12]) + QString::number(data1 / 12 - 1)
                                 : QString::number(data1);
        suffix = QStringLiteral(" (%1)").arg(name);
    }
    // One multi-argument arg(): a port name holding "%3" must not be filled in itself.
    const QString line =
        QStringLiteral("[%1] %2 | Ch %3 | %4: %5%6  val=%7")
            .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), source,
                 QString::number(channel), type, QString::number(data1), suffix, QString::number(data2));
    {
        std::lock_guard lock(m_mutex);
        m_activityLog.prepend(line);
        while (m_activityLog.size() > maxActivityLogLines)
            m_activityLog.removeLast();
    }
    Q_EMIT midiActivityReceived(line, channel, data1, data2);
}

} // namespace tmb
