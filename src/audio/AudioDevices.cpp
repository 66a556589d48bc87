// Device lists, input selection and the microphone path of AudioEngine, and the
// parsers of the sound server's listings.

#include "AudioDevices.h"

#include "AudioEngine.h"
#include "ToolRun.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QVariantMap>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <utility>

namespace tmb {

namespace {

const QString phoneMicId = QStringLiteral("phone_wireless_mic");

bool containsAny(const QString& text, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* word) {
        return text.contains(QLatin1String(word), Qt::CaseInsensitive);
    });
}

} // namespace

QVariantList audioDevicesAsVariantList(const QList<AudioDeviceEntry>& entries) {
    QVariantList list;
    for (const AudioDeviceEntry& e : entries)
        list.append(QVariantMap{{QStringLiteral("id"), e.id},
                                {QStringLiteral("name"), e.name},
                                {QStringLiteral("backend"), e.backend},
                                {QStringLiteral("isDefault"), e.isDefault},
                                {QStringLiteral("isBluetooth"), e.isBluetooth}});
    return list;
}

QList<AudioDeviceEntry> parseWpctlSection(const QString& status, const QString& start,
                                          const QStringList& ends) {
    static const QRegularExpression entryLine(QStringLiteral("(\\*?)\\s*(\\d+)\\.\\s+([^\\[]+)"));
    QList<AudioDeviceEntry> entries;
    bool inside = false;
    for (const QString& line : status.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!inside && line.contains(start)) {
            inside = true;
            continue;
        }
        // Only the first such section: the Video part repeats the headings.
        if (inside &&
            std::any_of(ends.begin(), ends.end(), [&](const QString& end) { return line.contains(end); }))
            break;
        if (!inside) continue;
        const QRegularExpressionMatch match = entryLine.match(line);
        if (!match.hasMatch()) continue;
        entries.append({match.captured(2), match.captured(3).trimmed(), QStringLiteral("PipeWire"),
                        !match.captured(1).isEmpty(), false});
    }
    return entries;
}

QList<AudioDeviceEntry> parsePactlSources(const QString& listing) {
    static const QRegularExpression nameLine(QStringLiteral("^\\s*Name:\\s*(.*)$"),
                                             QRegularExpression::MultilineOption);
    static const QRegularExpression descriptionLine(QStringLiteral("^\\s*Description:\\s*(.*)$"),
                                                    QRegularExpression::MultilineOption);
    QList<AudioDeviceEntry> entries;
    for (const QString& block : listing.split(QStringLiteral("Source #")).mid(1)) {
        const QString name = nameLine.match(block).captured(1).trimmed();
        const QString description = descriptionLine.match(block).captured(1).trimmed();
        if (name.isEmpty() || name.endsWith(QLatin1String(".monitor"))) continue;
        entries.append({name, description.isEmpty() ? name : description, QStringLiteral("PipeWire"), false,
                        containsAny(description, {"Bluetooth", "BlueZ"})});
    }
    return entries;
}

QString runDeviceTool(const QString& program, const QStringList& arguments, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) return {};
    const int left = std::max(0, timeoutMs - static_cast<int>(clock.elapsed()));
    if (!process.waitForFinished(left)) {
        process.kill();
        process.waitForFinished(200);
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

DeviceListing::~DeviceListing() {
    stop();
}

void DeviceListing::stop() {
    if (m_run == nullptr) return;
    stopToolsOf(m_run); // no answer comes from them any more
    delete std::exchange(m_run, nullptr);
}

void DeviceListing::start(Done done, int timeoutMs) {
    stop(); // a listing still running is superseded: its answers are dropped
    QObject* run = m_run = new QObject;
    auto outputs = std::make_shared<std::array<QString, 2>>();
    auto pending = std::make_shared<int>(2);
    const std::array<QStringList, 2> commands{
        QStringList{QStringLiteral("wpctl"), QStringLiteral("status")},
        QStringList{QStringLiteral("pactl"), QStringLiteral("list"), QStringLiteral("sources")}};
    for (int tool = 0; tool < 2; ++tool)
        runToolAsync(run, commands[tool].first(), commands[tool].mid(1), timeoutMs,
                     [this, run, tool, outputs, pending, done](const QByteArray& output) {
                         (*outputs)[tool] = QString::fromUtf8(output);
                         if (--*pending > 0) return;
                         m_run = nullptr;
                         run->deleteLater();
                         done((*outputs)[0], (*outputs)[1]);
                     });
}

void MicConditioner::process(const float* in, float* out, std::size_t frames) noexcept {
    for (std::size_t i = 0; i < frames; ++i) {
        for (int side = 0; side < 2; ++side) {
            const float x = in[2 * i + side];
            const float finite = std::isfinite(x) ? x : 0.0f;
            m_dc[side] += (finite - m_dc[side]) * 0.011f;
            m_smoothed[side] += ((finite - m_dc[side]) - m_smoothed[side]) * 0.58f;
        }
        const float level = std::max(std::fabs(m_smoothed[0]), std::fabs(m_smoothed[1]));
        const float target = level >= 0.0085f ? 1.0f : level / 0.0085f * 0.12f;
        m_gate += (target - m_gate) * (m_gate < target ? 0.08f : 0.002f);
        for (int side = 0; side < 2; ++side)
            out[2 * i + side] = std::clamp(m_smoothed[side] * m_gate * 1.15f, -0.95f, 0.95f);
    }
}

// ---------------------------------------------------------------- AudioEngine: devices

QList<AudioDeviceEntry> AudioEngine::enumerateAudioOutputs() {
    ++m_outputsListed;
    applyOutputListing(runDeviceTool(QStringLiteral("wpctl"), {QStringLiteral("status")}));
    return m_outputs;
}

QList<AudioDeviceEntry> AudioEngine::enumerateAudioInputs() {
    ++m_inputsListed;
    const QString sources =
        runDeviceTool(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sources")});
    applyInputListing(sources,
                      [&] { return runDeviceTool(QStringLiteral("wpctl"), {QStringLiteral("status")}); });
    return m_inputs;
}

void AudioEngine::listDevicesInBackground(std::function<void()> listed) {
    const std::uint64_t outputsListed = m_outputsListed, inputsListed = m_inputsListed;
    m_deviceListing.start([=, this](const QString& status, const QString& sources) {
        // A list enumerated since (a rescan, a selection) is newer than this one.
        if (outputsListed == m_outputsListed) {
            applyOutputListing(status);
            labelRunningBackend();
        }
        if (inputsListed == m_inputsListed) applyInputListing(sources, [&] { return status; });
        if (listed) listed();
    });
}

void AudioEngine::applyOutputListing(const QString& status) {
    QList<AudioDeviceEntry> outputs{{QStringLiteral("default"),
                                     QStringLiteral("System Default Output (PipeWire Auto-Follow)"),
                                     QStringLiteral("PipeWire"), true, false}};
    bluetoothAudioWarning = false;
    for (AudioDeviceEntry sink : parseWpctlSection(
             status, QStringLiteral("Sinks:"),
             {QStringLiteral("Sources:"), QStringLiteral("Filters:"), QStringLiteral("Streams:")})) {
        sink.isBluetooth = containsAny(sink.name, {"Bluetooth", "BlueZ", "AirPods", "Headset"});
        if (sink.isDefault) {
            outputDeviceLabel = sink.name + QStringLiteral(" (PipeWire)");
            bluetoothAudioWarning = sink.isBluetooth;
        }
        outputs.append(sink);
    }
    outputs.append({QStringLiteral("alsa:default"), QStringLiteral("ALSA Default Playback Device"),
                    QStringLiteral("ALSA"), false, false});
    m_outputs = outputs;
}

void AudioEngine::applyInputListing(const QString& pactlSources,
                                    const std::function<QString()>& wpctlStatus) {
    QList<AudioDeviceEntry> inputs = parsePactlSources(pactlSources);
    for (qsizetype i = 0; i < inputs.size(); ++i) {
        AudioDeviceEntry& source = inputs[i];
        source.isDefault = inputDeviceId == QLatin1String("default") ? i == 0 : source.id == inputDeviceId;
        if (source.isDefault) inputDeviceLabel = source.name;
    }
    if (inputs.isEmpty()) {
        for (AudioDeviceEntry source : parseWpctlSection(
                 wpctlStatus(), QStringLiteral("Sources:"),
                 {QStringLiteral("Filters:"), QStringLiteral("Streams:"), QStringLiteral("Video")})) {
            if (source.name.contains(QLatin1String("Monitor"), Qt::CaseInsensitive)) continue;
            source.isBluetooth = source.name.contains(QLatin1String("Bluetooth"), Qt::CaseInsensitive);
            if (source.isDefault) inputDeviceLabel = source.name;
            inputs.append(source);
        }
    }
    inputs.append({phoneMicId, QStringLiteral("📱 Phone Wireless / USB Auxiliary Mic (Android & iPhone)"),
                   QStringLiteral("PhoneBridge"), false, false});
    inputs.prepend({QStringLiteral("default"), QStringLiteral("System Default Microphone"),
                    QStringLiteral("PipeWire"), false, false});
    m_inputs = inputs;
}

QVariantList AudioEngine::audioOutputsAsVariantList() const {
    return audioDevicesAsVariantList(m_outputs);
}

QVariantList AudioEngine::audioInputsAsVariantList() const {
    QList<AudioDeviceEntry> inputs = m_inputs;
    if (inputDeviceId != QLatin1String("default"))
        for (AudioDeviceEntry& entry : inputs)
            entry.isDefault = entry.id == inputDeviceId;
    return audioDevicesAsVariantList(inputs);
}

bool AudioEngine::setAudioInputDevice(const QString& deviceId) {
    const QString id = deviceId.trimmed();
    inputDeviceId = id.isEmpty() ? QStringLiteral("default") : id;
    // The capture thread reads only this flag, never the string above.
    m_phoneMicSelected.store(inputDeviceId == phoneMicId);
    for (const AudioDeviceEntry& entry : enumerateAudioInputs())
        if (entry.id == inputDeviceId) inputDeviceLabel = entry.name;
    if (inputDeviceId != phoneMicId && inputDeviceId != QLatin1String("default")) {
        runDeviceTool(QStringLiteral("pactl"), {QStringLiteral("set-default-source"), inputDeviceId});
        runDeviceTool(QStringLiteral("pactl"),
                      {QStringLiteral("set-source-mute"), inputDeviceId, QStringLiteral("0")});
        runDeviceTool(QStringLiteral("pactl"),
                      {QStringLiteral("set-source-volume"), inputDeviceId, QStringLiteral("75%")});
    }
    // The capture stream takes its target when it is made.
    if (running && backendName == QLatin1String("PipeWire")) start(sampleRate, blockFrames);
    return true;
}

// ---------------------------------------------------------------- AudioEngine: microphone

void AudioEngine::setMicEnabled(bool on) {
    micEnabled.store(on);
    MixerChannelState& mic = m_channels[static_cast<int>(MixerChannelId::Mic)];
    if (on) {
        mic.muted.store(false);
        if (mic.volume.load() < 0.1f) mic.volume.store(0.85f);
    } else {
        // The block callback discards what waits in the ring while the switch is off.
        mic.peakL.store(0.0f);
        mic.peakR.store(0.0f);
    }
}

void AudioEngine::pushMicSamples(const float* samples, std::size_t frames) noexcept {
    if (samples == nullptr || frames == 0 || !micEnabled.load(std::memory_order_relaxed)) return;
    while (m_micProducerLock.test_and_set(std::memory_order_acquire)) {
        // Capture and phone audio do not normally run together; a block at most.
    }
    float conditioned[2 * micChunkFrames];
    for (std::size_t done = 0; done < frames;) {
        const std::size_t chunk = std::min(frames - done, micChunkFrames);
        m_micConditioner.process(samples + 2 * done, conditioned, chunk);
        writeMicSamples(conditioned, 2 * chunk);
        done += chunk;
    }
    m_micProducerLock.clear(std::memory_order_release);
}

void AudioEngine::handleCaptureChunk(const void* data, std::uint32_t maxSize, std::uint32_t offset,
                                     std::uint32_t size, std::int32_t stride) noexcept {
    if (data == nullptr || !micEnabled.load(std::memory_order_relaxed) || m_phoneMicSelected.load()) return;
    if (offset >= maxSize || size == 0 || size > maxSize - offset) return;
    const auto* samples = reinterpret_cast<const float*>(static_cast<const char*>(data) + offset);
    if (stride == static_cast<std::int32_t>(sizeof(float))) {
        const std::size_t frames = std::min<std::size_t>(size / sizeof(float), captureWidenFrames);
        for (std::size_t i = 0; i < frames; ++i) {
            const float x = std::isfinite(samples[i]) ? samples[i] : 0.0f;
            m_captureWiden[2 * i] = x;
            m_captureWiden[2 * i + 1] = x;
        }
        pushMicSamples(m_captureWiden.data(), frames);
    } else if (size >= 8 && size <= 32768) {
        pushMicSamples(samples, size / 8);
    }
}

} // namespace tmb
