#include "Lv2HostEngine.h"

#include "audio/RealtimeConfig.h"

#include <lilv/lilv.h>
#include <lv2/midi/midi.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace tmb {

namespace {

// lilv nodes freed when they go out of scope.
struct Node {
    LilvNode* node;
    explicit Node(LilvNode* n)
        : node(n) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    operator const LilvNode*() const { return node; }
};

QString nodeText(const LilvNode* node) {
    return node != nullptr ? QString::fromUtf8(lilv_node_as_string(node)) : QString();
}

// The port classes the host tells apart.
struct PortClasses {
    explicit PortClasses(LilvWorld* world)
        : audio(lilv_new_uri(world, LV2_CORE__AudioPort))
        , control(lilv_new_uri(world, LV2_CORE__ControlPort))
        , cv(lilv_new_uri(world, LV2_CORE__CVPort))
        , atom(lilv_new_uri(world, LV2_ATOM__AtomPort))
        , input(lilv_new_uri(world, LV2_CORE__InputPort))
        , output(lilv_new_uri(world, LV2_CORE__OutputPort))
        , optional(lilv_new_uri(world, LV2_CORE__connectionOptional)) {}
    Node audio, control, cv, atom, input, output, optional;
};

int groupOf(const Lv2PluginInfo& info) {
    return info.isDrumGizmo ? 0 : info.isInstrument ? 1 : 2;
}

} // namespace

Lv2HostEngine::Lv2HostEngine() {
    m_mapData.handle = this;
    m_mapData.map = &Lv2HostEngine::mapTrampoline;
    m_unmapData.handle = this;
    m_unmapData.unmap = &Lv2HostEngine::unmapTrampoline;
    m_mapFeature = {LV2_URID__map, &m_mapData};
    m_unmapFeature = {LV2_URID__unmap, &m_unmapData};
    m_features = {&m_mapFeature, &m_unmapFeature, nullptr};
    m_midiEventUrid = mapUri(LV2_MIDI__MidiEvent);
    m_sequenceUrid = mapUri(LV2_ATOM__Sequence);
    m_chunkUrid = mapUri(LV2_ATOM__Chunk);
    m_noteSequence.assign(atomBufferBytes / sizeof(std::uint64_t), 0);

    auto* world = lilv_world_new();
    if (world != nullptr) lilv_world_load_all(world);
    m_world = world;
}

Lv2HostEngine::~Lv2HostEngine() {
    unloadPlugin();
    if (m_world != nullptr) lilv_world_free(m_world);
}

// ---------------------------------------------------------------- URID map

// Plug-ins may map URIs inside run() (DrumGizmo does, every block), so a URI
// already known is found without a lock or an allocation: entries are appended
// under the mutex and published by the count, and never change afterwards.
std::uint32_t Lv2HostEngine::mapUri(const char* uri) {
    if (uri == nullptr) return 0;
    const auto find = [&](std::uint32_t from, std::uint32_t to) -> std::uint32_t {
        for (std::uint32_t i = from; i < to; ++i)
            if (m_uridUris[i] == uri) return i + 1;
        return 0;
    };
    const std::uint32_t published = m_uridCount.load(std::memory_order_acquire);
    if (const std::uint32_t id = find(0, published)) return id;
    const std::lock_guard lock(m_uridMutex);
    const std::uint32_t count = m_uridCount.load(std::memory_order_relaxed);
    if (const std::uint32_t id = find(published, count)) return id;
    if (count == maxUrids) return 0; // "cannot map", which LV2 allows
    m_uridUris[count] = uri;
    m_uridCount.store(count + 1, std::memory_order_release);
    return count + 1;
}

const char* Lv2HostEngine::unmapUri(std::uint32_t id) {
    if (id == 0 || id > m_uridCount.load(std::memory_order_acquire)) return nullptr;
    return m_uridUris[id - 1].c_str();
}

LV2_URID Lv2HostEngine::mapTrampoline(LV2_URID_Map_Handle handle, const char* uri) {
    return static_cast<Lv2HostEngine*>(handle)->mapUri(uri);
}

const char* Lv2HostEngine::unmapTrampoline(LV2_URID_Unmap_Handle handle, LV2_URID urid) {
    return static_cast<Lv2HostEngine*>(handle)->unmapUri(urid);
}

// ---------------------------------------------------------------- scanning

const QList<Lv2PluginInfo>& Lv2HostEngine::scanPlugins() {
    m_plugins.clear();
    auto* world = m_world;
    if (world == nullptr) return m_plugins;
    const PortClasses is(world);
    const LilvPlugins* all = lilv_world_get_all_plugins(world);
    LILV_FOREACH(plugins, it, all) {
        const LilvPlugin* plugin = lilv_plugins_get(all, it);
        Lv2PluginInfo info;
        info.uri = nodeText(lilv_plugin_get_uri(plugin));
        const Node name(lilv_plugin_get_name(plugin));
        info.name = name.node != nullptr ? nodeText(name) : info.uri;
        const Node author(lilv_plugin_get_author_name(plugin));
        info.author = author.node != nullptr ? nodeText(author) : QStringLiteral("Unknown");
        const LilvPluginClass* pluginClass = lilv_plugin_get_class(plugin);
        const LilvNode* label = pluginClass != nullptr ? lilv_plugin_class_get_label(pluginClass) : nullptr;
        info.category = label != nullptr ? nodeText(label) : QStringLiteral("Plugin");
        const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
        for (std::uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            if (lilv_port_is_a(plugin, port, is.audio)) {
                if (lilv_port_is_a(plugin, port, is.input)) ++info.audioInPorts;
                if (lilv_port_is_a(plugin, port, is.output)) ++info.audioOutPorts;
            } else if (lilv_port_is_a(plugin, port, is.atom) && lilv_port_is_a(plugin, port, is.input)) {
                ++info.midiInPorts;
            }
        }
        info.isDrumGizmo = info.uri.contains(QLatin1String("drumgizmo"), Qt::CaseInsensitive) ||
                           info.name.contains(QLatin1String("DrumGizmo"), Qt::CaseInsensitive);
        info.isInstrument = info.isDrumGizmo ||
                            info.category.contains(QLatin1String("Instrument"), Qt::CaseInsensitive) ||
                            (info.midiInPorts > 0 && info.audioOutPorts > 0 && info.audioInPorts == 0);
        m_plugins.append(info);
    }
    std::stable_sort(m_plugins.begin(), m_plugins.end(), [](const Lv2PluginInfo& a, const Lv2PluginInfo& b) {
        if (groupOf(a) != groupOf(b)) return groupOf(a) < groupOf(b);
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return m_plugins;
}

QVariantList Lv2HostEngine::pluginsAsVariantList() const {
    QVariantList list;
    for (const Lv2PluginInfo& info : m_plugins) {
        list.append(QVariantMap{{QStringLiteral("uri"), info.uri},
                                {QStringLiteral("name"), info.name},
                                {QStringLiteral("author"), info.author},
                                {QStringLiteral("category"), info.category},
                                {QStringLiteral("audioInPorts"), info.audioInPorts},
                                {QStringLiteral("audioOutPorts"), info.audioOutPorts},
                                {QStringLiteral("midiInPorts"), info.midiInPorts},
                                {QStringLiteral("isInstrument"), info.isInstrument},
                                {QStringLiteral("isDrumGizmo"), info.isDrumGizmo}});
    }
    return list;
}

// ---------------------------------------------------------------- loading

bool Lv2HostEngine::fail(const QString& message, QString* error) {
    m_statusMessage = message;
    if (error) *error = message;
    return false;
}

void Lv2HostEngine::prepare(float sampleRate, std::uint32_t maxBlockFrames) {
    m_sampleRate = std::max(sampleRate, 8000.0f);
    m_maxBlockFrames = std::max<std::uint32_t>(maxBlockFrames, 256);
    // A plug-in keeps the rate it was made at: at any other it would play out of
    // tune and time, so it is made again (no backend runs while the engine prepares).
    if (m_loaded.load() && m_instanceRate != m_sampleRate) {
        const QString uri = m_loadedUri;
        const bool bypassed = m_bypassed.load();
        if (loadPlugin(uri)) m_bypassed.store(bypassed);
    }
}

bool Lv2HostEngine::loadPlugin(const QString& uri, QString* error) {
    unloadPlugin();
    auto* world = m_world;
    if (world == nullptr || uri.isEmpty())
        return fail(QStringLiteral("Invalid LV2 URI or world not initialized"), error);
    const QByteArray uriText = uri.toUtf8();
    const Node uriNode(lilv_new_uri(world, uriText.constData()));
    const LilvPlugin* plugin = uriNode.node != nullptr
                                   ? lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uriNode)
                                   : nullptr;
    if (plugin == nullptr) return fail(QStringLiteral("LV2 plugin not found: %1").arg(uri), error);

    // Refuse before instantiating what the host cannot serve: a required feature it
    // does not offer, or a port of a kind it cannot connect (every port must be).
    const QString refused = QStringLiteral("Failed to instantiate LV2 plugin: %1").arg(uri);
    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    bool featuresServed = true;
    LILV_FOREACH(nodes, it, required) {
        const char* feature = lilv_node_as_uri(lilv_nodes_get(required, it));
        featuresServed =
            featuresServed && feature != nullptr &&
            (std::strcmp(feature, LV2_URID__map) == 0 || std::strcmp(feature, LV2_URID__unmap) == 0);
    }
    lilv_nodes_free(required);
    if (!featuresServed) return fail(refused, error);
    const PortClasses is(world);
    const std::uint32_t portCount = lilv_plugin_get_num_ports(plugin);
    for (std::uint32_t i = 0; i < portCount; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool known = lilv_port_is_a(plugin, port, is.audio) ||
                           lilv_port_is_a(plugin, port, is.control) || lilv_port_is_a(plugin, port, is.cv) ||
                           lilv_port_is_a(plugin, port, is.atom);
        if (!known && !lilv_port_has_property(plugin, port, is.optional)) return fail(refused, error);
    }

    LilvInstance* instance = lilv_plugin_instantiate(plugin, m_sampleRate, m_features.data());
    if (instance == nullptr) return fail(refused, error);

    m_controlValues.assign(portCount, 0.0f);
    std::vector<float> defaults(portCount, std::nanf(""));
    lilv_plugin_get_port_ranges_float(plugin, nullptr, nullptr, defaults.data());
    for (std::uint32_t i = 0; i < portCount; ++i)
        if (!std::isnan(defaults[i])) m_controlValues[i] = defaults[i];

    // Buffers for the largest block the engine ever renders, whatever was prepared:
    // a plug-in loaded before the engine starts must survive its first long block.
    m_bufferFrames = std::max(m_maxBlockFrames, config::maxBlockFrames);
    const auto newAtomBuffer = [] {
        return AtomBuffer(atomBufferBytes / sizeof(std::uint64_t), 0);
    };
    // Reserved up front: the buffers' addresses are handed to the plug-in.
    m_audioOutBuffers.reserve(portCount);
    m_audioInBuffers.reserve(portCount);
    m_scratchBuffers.reserve(portCount);
    m_atomInputs.reserve(portCount);
    m_atomOutputs.reserve(portCount);
    for (std::uint32_t i = 0; i < portCount; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        const bool isInput = lilv_port_is_a(plugin, port, is.input);
        const bool isOutput = lilv_port_is_a(plugin, port, is.output);
        void* location = nullptr;
        if (lilv_port_is_a(plugin, port, is.audio)) {
            auto& buffers = isOutput ? m_audioOutBuffers : m_audioInBuffers;
            (isOutput ? m_audioOutPorts : m_audioInPorts).push_back(i);
            buffers.emplace_back(m_bufferFrames, 0.0f);
            location = buffers.back().data();
        } else if (lilv_port_is_a(plugin, port, is.control)) {
            m_controlPorts.push_back(i);
            location = &m_controlValues[i];
        } else if (lilv_port_is_a(plugin, port, is.atom) && isInput && m_midiPort < 0) {
            m_midiPort = static_cast<int>(i);
            location = m_noteSequence.data();
            m_atomPorts.emplace_back(i, &m_noteSequence);
        } else if (lilv_port_is_a(plugin, port, is.atom)) {
            auto& buffers = isInput ? m_atomInputs : m_atomOutputs;
            buffers.push_back(newAtomBuffer());
            location = buffers.back().data();
            m_atomPorts.emplace_back(i, &buffers.back());
        } else if (lilv_port_is_a(plugin, port, is.cv)) {
            m_scratchBuffers.emplace_back(m_bufferFrames, 0.0f);
            location = m_scratchBuffers.back().data();
        }
        // Ports of other kinds are connection-optional (checked above): they get null.
        lilv_instance_connect_port(instance, i, location);
    }
    // Further atom inputs read an empty sequence.
    for (AtomBuffer& buffer : m_atomInputs) {
        auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(buffer.data());
        sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
        sequence->atom.type = m_sequenceUrid;
    }
    // Notes sent while nothing was loaded are not for this plug-in. The audio thread
    // does not read the queue until m_loaded is set.
    m_noteRead.store(m_noteWrite.load());
    writeNoteSequence(); // the note port holds a valid, empty sequence from the start
    lilv_instance_activate(instance);
    // One silent block of the largest size here, off the audio thread: plug-ins
    // that size their buffers on first sight of a block length (DrumGizmo's cache)
    // do it now rather than in a realtime block.
    for (AtomBuffer& buffer : m_atomOutputs) {
        auto* atom = reinterpret_cast<LV2_Atom*>(buffer.data());
        atom->size = static_cast<std::uint32_t>(atomBufferBytes - sizeof(LV2_Atom));
        atom->type = m_chunkUrid;
    }
    lilv_instance_run(instance, m_bufferFrames);

    m_instance = instance;
    m_instanceRate = m_sampleRate;
    const Node name(lilv_plugin_get_name(plugin));
    m_loadedName = name.node != nullptr ? nodeText(name) : uri;
    m_loadedUri = uri;
    m_statusMessage =
        QStringLiteral("Loaded %1 (%2 audio outputs)").arg(m_loadedName).arg(m_audioOutPorts.size());
    m_noteRead.store(m_noteWrite.load()); // and none sent meanwhile
    m_bypassed.store(false);
    m_loaded.store(true);
    return true;
}

void Lv2HostEngine::unloadPlugin() {
    m_loaded.store(false);
    // A block that saw the plug-in loaded finishes with it before it is freed.
    while (m_inProcess.load())
        std::this_thread::yield();
    if (m_instance != nullptr) {
        auto* instance = m_instance;
        lilv_instance_deactivate(instance);
        lilv_instance_free(instance);
        m_instance = nullptr;
    }
    m_instanceRate = 0.0f;
    m_loadedUri.clear();
    m_loadedName.clear();
    m_midiPort = -1;
    m_audioOutPorts.clear();
    m_audioInPorts.clear();
    m_controlPorts.clear();
    m_controlValues.clear();
    m_audioOutBuffers.clear();
    m_audioInBuffers.clear();
    m_scratchBuffers.clear();
    m_atomInputs.clear();
    m_atomOutputs.clear();
    m_atomPorts.clear();
    for (auto& peak : m_busPeaks)
        peak.store(0.0f);
    m_statusMessage = QStringLiteral("Unloaded (Ready)");
}

const LV2_Atom* Lv2HostEngine::atomPortBuffer(std::uint32_t portIndex) const {
    for (const auto& [index, buffer] : m_atomPorts)
        if (index == portIndex) return reinterpret_cast<const LV2_Atom*>(buffer->data());
    return nullptr;
}

// ---------------------------------------------------------------- DrumGizmo kit

QString Lv2HostEngine::drumGizmoConfigPath() {
    return QDir::homePath() + QStringLiteral("/.drumgizmo/drumgizmo.conf");
}

bool Lv2HostEngine::configureDrumGizmoKit(const QString& kitPath, const QString& midimapPath,
                                          QString* error) {
    if (!kitPath.isEmpty() && !QFileInfo::exists(kitPath))
        return fail(QStringLiteral("Missing DrumGizmo kit file: %1").arg(kitPath), error);
    if (!midimapPath.isEmpty() && !QFileInfo::exists(midimapPath))
        return fail(QStringLiteral("Missing DrumGizmo midimap file: %1").arg(midimapPath), error);
    const QString path = drumGizmoConfigPath();
    QDir().mkpath(QFileInfo(path).path());
    // Written whole or not at all: a half-written file would leave DrumGizmo without a kit.
    QSaveFile file(path);
    const QByteArray text =
        "defaultKit = \"" + kitPath.toUtf8() + "\"\ndefaultMidimap = \"" + midimapPath.toUtf8() + "\"\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return fail(QStringLiteral("Cannot write DrumGizmo configuration: %1").arg(path), error);
    m_kitPath = kitPath;
    m_midimapPath = midimapPath;
    m_statusMessage = QStringLiteral("Configured DrumGizmo kit: %1").arg(QFileInfo(kitPath).fileName());
    return true;
}

// ---------------------------------------------------------------- notes

void Lv2HostEngine::enqueue(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept {
    while (m_noteLock.test_and_set(std::memory_order_acquire)) {
        // Held only for a three-byte copy.
    }
    const std::size_t write = m_noteWrite.load(std::memory_order_relaxed);
    const std::size_t next = (write + 1) % noteQueueSlots;
    if (next != m_noteRead.load(std::memory_order_acquire)) {
        m_notes[write] = {status, data1, data2};
        m_noteWrite.store(next, std::memory_order_release);
    }
    m_noteLock.clear(std::memory_order_release);
}

void Lv2HostEngine::sendMidiNoteOn(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity) noexcept {
    enqueue(static_cast<std::uint8_t>(0x90 | (channel & 15)), note & 127, velocity & 127);
}

void Lv2HostEngine::sendMidiNoteOff(std::uint8_t channel, std::uint8_t note) noexcept {
    enqueue(static_cast<std::uint8_t>(0x80 | (channel & 15)), note & 127, 0);
}

// ---------------------------------------------------------------- audio thread

// The queued notes as one sequence of 24-byte MIDI events at frame 0. Notes that do
// not fit stay queued for the next block.
void Lv2HostEngine::writeNoteSequence() noexcept {
    auto* sequence = reinterpret_cast<LV2_Atom_Sequence*>(m_noteSequence.data());
    sequence->atom.size = sizeof(LV2_Atom_Sequence_Body);
    sequence->atom.type = m_sequenceUrid;
    sequence->body.unit = 0;
    sequence->body.pad = 0;
    auto* events = reinterpret_cast<std::uint8_t*>(sequence + 1);
    std::size_t read = m_noteRead.load(std::memory_order_relaxed);
    const std::size_t write = m_noteWrite.load(std::memory_order_acquire);
    std::size_t used = 0;
    while (read != write && used + atomEventBytes <= atomEventAreaBytes) {
        auto* event = reinterpret_cast<LV2_Atom_Event*>(events + used);
        event->time.frames = 0;
        event->body.size = 3;
        event->body.type = m_midiEventUrid;
        auto* bytes = reinterpret_cast<std::uint8_t*>(event + 1);
        std::memcpy(bytes, m_notes[read].data(), 3);
        std::memset(bytes + 3, 0, atomEventBytes - sizeof(LV2_Atom_Event) - 3);
        used += atomEventBytes;
        read = (read + 1) % noteQueueSlots;
    }
    sequence->atom.size += static_cast<std::uint32_t>(used);
    m_noteRead.store(read, std::memory_order_release);
}

void Lv2HostEngine::processAudio(float* left, float* right, std::uint32_t frames) noexcept {
    // Announced before m_loaded is read: an unload that clears m_loaded after this
    // waits until the block is done (both sides use sequentially consistent order).
    m_inProcess.store(true);
    if (m_loaded.load() && frames > 0 && frames <= m_bufferFrames) {
        if (m_bypassed.load(std::memory_order_relaxed)) {
            m_noteRead.store(m_noteWrite.load(std::memory_order_acquire), std::memory_order_release);
        } else {
            writeNoteSequence();
            for (AtomBuffer& buffer : m_atomOutputs) {
                auto* atom = reinterpret_cast<LV2_Atom*>(buffer.data());
                atom->size = static_cast<std::uint32_t>(atomBufferBytes - sizeof(LV2_Atom));
                atom->type = m_chunkUrid;
            }
            lilv_instance_run(m_instance, frames);
            mixOutputs(left, right, frames);
        }
    }
    m_inProcess.store(false);
}

void Lv2HostEngine::mixOutputs(float* left, float* right, std::uint32_t frames) noexcept {
    const std::size_t outputs = m_audioOutBuffers.size();
    for (std::size_t o = 0; o < outputs; ++o) {
        const float* buffer = m_audioOutBuffers[o].data();
        float peak = 0.0f;
        for (std::uint32_t i = 0; i < frames; ++i)
            peak = std::max(peak, std::fabs(buffer[i]));
        if (o < busPeakCount) m_busPeaks[o].store(peak, std::memory_order_relaxed);
        if (outputs == 1) {
            for (std::uint32_t i = 0; i < frames; ++i) {
                left[i] += 0.7f * buffer[i];
                right[i] += 0.7f * buffer[i];
            }
        } else {
            float* side = (o % 2 == 0) ? left : right;
            for (std::uint32_t i = 0; i < frames; ++i)
                side[i] += 0.65f * buffer[i];
        }
    }
}

float Lv2HostEngine::busPeakLevel(int index) const noexcept {
    if (index < 0 || index >= busPeakCount) return 0.0f;
    return m_busPeaks[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
}

} // namespace tmb
