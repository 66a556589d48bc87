#pragma once

// Hosts one LV2 instrument plug-in (chiefly DrumGizmo) on the LV2 bus.
//
// Threads:
// - GUI thread: construction, prepare, scanPlugins, loadPlugin, unloadPlugin,
//   configureDrumGizmoKit, setBypassed and every reader of names and messages.
// - Any thread: sendMidiNoteOn/Off (producers serialise on a spin flag) and the URID
//   map (known URIs without a lock; new ones under a mutex).
// - Audio thread: processAudio, the single consumer of the note queue.
// `m_loaded` is set only once an instance is complete and cleared before it is torn
// down; teardown then waits until the audio thread is out of processAudio, so no
// block ever runs an instance that is being freed.

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <QList>
#include <QString>
#include <QVariantList>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct LilvWorldImpl;
struct LilvInstanceImpl;

namespace tmb {

struct Lv2PluginInfo {
    QString uri;
    QString name;     // the URI when the plug-in has none
    QString author;   // "Unknown" when absent
    QString category; // label of the plug-in class; "Plugin" when absent
    int audioInPorts = 0;
    int audioOutPorts = 0;
    int midiInPorts = 0; // atom input ports
    bool isInstrument = false;
    bool isDrumGizmo = false;
};

class Lv2HostEngine {
public:
    static constexpr int busPeakCount = 16;
    static constexpr std::size_t noteQueueSlots = 512;   // one slot always stays empty
    static constexpr std::size_t atomBufferBytes = 8192; // the note sequence and each atom output
    static constexpr std::size_t atomEventAreaBytes = 8160;
    static constexpr std::size_t atomEventBytes = 24; // 16 bytes of event header, 3 of MIDI, padding

    Lv2HostEngine();
    ~Lv2HostEngine();
    Lv2HostEngine(const Lv2HostEngine&) = delete;
    Lv2HostEngine& operator=(const Lv2HostEngine&) = delete;

    // GUI thread, while no backend runs. A loaded plug-in whose rate differs is
    // instantiated again at the new rate (same URI, bypass kept).
    void prepare(float sampleRate, std::uint32_t maxBlockFrames);
    float sampleRate() const { return m_sampleRate; }

    const QList<Lv2PluginInfo>& scanPlugins();
    const QList<Lv2PluginInfo>& plugins() const { return m_plugins; }
    QVariantList pluginsAsVariantList() const;

    bool loadPlugin(const QString& uri, QString* error = nullptr);
    void unloadPlugin();
    bool configureDrumGizmoKit(const QString& kitPath, const QString& midimapPath, QString* error = nullptr);
    // The file DrumGizmo reads at instantiation: ".drumgizmo/drumgizmo.conf" under HOME.
    static QString drumGizmoConfigPath();

    bool isPluginActive() const noexcept { return m_loaded.load(); }
    bool isBypassed() const noexcept { return m_bypassed.load(); }
    void setBypassed(bool bypassed) noexcept { m_bypassed.store(bypassed); }
    QString loadedUri() const { return m_loadedUri; }
    QString loadedName() const { return m_loadedName; }
    QString statusMessage() const { return m_statusMessage; }
    QString drumKitPath() const { return m_kitPath; }
    QString drumMidimapPath() const { return m_midimapPath; }

    void sendMidiNoteOn(std::uint8_t channel, std::uint8_t note, std::uint8_t velocity) noexcept;
    void sendMidiNoteOff(std::uint8_t channel, std::uint8_t note) noexcept;

    // Audio thread: runs the plug-in and adds its outputs to the two sides.
    void processAudio(float* left, float* right, std::uint32_t frames) noexcept;
    float busPeakLevel(int index) const noexcept;

    std::uint32_t mapUri(const char* uri);
    const char* unmapUri(std::uint32_t id);

    // Offline observation (tests, with no block running): the atom buffer connected
    // to port `portIndex`, or null.
    const LV2_Atom* atomPortBuffer(std::uint32_t portIndex) const;

private:
    // One 8-byte-aligned atom buffer.
    using AtomBuffer = std::vector<std::uint64_t>;

    static LV2_URID mapTrampoline(LV2_URID_Map_Handle handle, const char* uri);
    static const char* unmapTrampoline(LV2_URID_Unmap_Handle handle, LV2_URID urid);
    bool fail(const QString& message, QString* error);
    void enqueue(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) noexcept;
    void writeNoteSequence() noexcept;
    void mixOutputs(float* left, float* right, std::uint32_t frames) noexcept;

    LilvWorldImpl* m_world = nullptr;
    LilvInstanceImpl* m_instance = nullptr;
    float m_sampleRate = 48000.0f;
    float m_instanceRate = 0.0f; // the rate the instance was made at
    std::uint32_t m_maxBlockFrames = 1024;
    std::uint32_t m_bufferFrames = 0; // frames each audio buffer of the instance holds

    QString m_loadedUri;
    QString m_loadedName;
    QString m_statusMessage = QStringLiteral("Ready (No LV2 plugin active)");
    QList<Lv2PluginInfo> m_plugins;
    QString m_kitPath;
    QString m_midimapPath;

    // URID table: id n is entry n - 1 of the first `m_uridCount`; the mutex
    // serialises new entries only.
    static constexpr std::uint32_t maxUrids = 4096;
    std::mutex m_uridMutex;
    std::unique_ptr<std::string[]> m_uridUris = std::make_unique<std::string[]>(maxUrids);
    std::atomic<std::uint32_t> m_uridCount{0};
    LV2_URID_Map m_mapData{};
    LV2_URID_Unmap m_unmapData{};
    LV2_Feature m_mapFeature{};
    LV2_Feature m_unmapFeature{};
    std::array<const LV2_Feature*, 3> m_features{};
    std::uint32_t m_midiEventUrid = 0;
    std::uint32_t m_sequenceUrid = 0;
    std::uint32_t m_chunkUrid = 0;

    // Ports of the loaded instance (GUI thread builds them before m_loaded is set).
    int m_midiPort = -1;
    std::vector<std::uint32_t> m_audioOutPorts;
    std::vector<std::uint32_t> m_audioInPorts;
    std::vector<std::uint32_t> m_controlPorts;
    std::vector<float> m_controlValues; // one per port
    std::vector<std::vector<float>> m_audioOutBuffers;
    std::vector<std::vector<float>> m_audioInBuffers;
    std::vector<std::vector<float>> m_scratchBuffers; // CV ports
    AtomBuffer m_noteSequence;
    std::vector<AtomBuffer> m_atomInputs;  // further atom inputs: empty sequences
    std::vector<AtomBuffer> m_atomOutputs; // reset to their capacity before each run
    std::vector<std::pair<std::uint32_t, const AtomBuffer*>> m_atomPorts;

    std::array<std::atomic<float>, busPeakCount> m_busPeaks{};

    // Note queue: producers serialise on the flag; processAudio consumes.
    std::array<std::array<std::uint8_t, 3>, noteQueueSlots> m_notes{};
    std::atomic<std::size_t> m_noteWrite{0};
    std::atomic<std::size_t> m_noteRead{0};
    std::atomic_flag m_noteLock = ATOMIC_FLAG_INIT;

    std::atomic<bool> m_loaded{false};
    std::atomic<bool> m_bypassed{false};
    std::atomic<bool> m_inProcess{false};
};

} // namespace tmb
