// The two output backends of AudioEngine: a PipeWire stream pair (playback and
// microphone capture) and a raw ALSA PCM thread used when PipeWire cannot start
// or when the user asks for ALSA. Both drive the same block callback.

#include "AudioEngine.h"

#include "audio/ThreadScheduler.h"

#include <alsa/asoundlib.h>
#include <pipewire/data-loop.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace tmb {

namespace {

constexpr std::uint32_t bytesPerStereoFrame = 2 * sizeof(float);
// The thread that renders, on either backend, as ps and top show it.
constexpr const char* audioThreadName = "tmb-audio";

const spa_pod* buildStereoFloatFormat(spa_pod_builder* builder, std::uint32_t rate) {
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32_LE;
    info.rate = rate;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    return spa_format_audio_raw_build(builder, SPA_PARAM_EnumFormat, &info);
}

const pw_stream_events playbackEvents = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    return events;
}();

} // namespace

// ---------------------------------------------------------------- PipeWire

void AudioEngine::onPipeWireProcess(void* data) {
    auto* record = static_cast<PipeWireCallbackRecord*>(data);
    if (record == nullptr || record->engine == nullptr || record->stream == nullptr) return;
    pw_buffer* buffer = pw_stream_dequeue_buffer(record->stream);
    if (buffer == nullptr) return;
    spa_data& plane = buffer->buffer->datas[0];
    if (plane.data == nullptr) {
        pw_stream_queue_buffer(record->stream, buffer);
        return;
    }
    std::uint32_t frames = static_cast<std::uint32_t>(buffer->requested);
    if (frames == 0) frames = record->engine->blockFrames;
    if (frames == 0) frames = config::defaultBufferFrames;
    frames = std::min({frames, plane.maxsize / bytesPerStereoFrame, config::maxBlockFrames});

    record->engine->processAudioCallback(static_cast<float*>(plane.data), frames);
    plane.chunk->offset = 0;
    plane.chunk->stride = bytesPerStereoFrame;
    plane.chunk->size = frames * bytesPerStereoFrame;
    pw_stream_queue_buffer(record->stream, buffer);
}

void AudioEngine::onPipeWireCaptureProcess(void* data) {
    auto* record = static_cast<PipeWireCallbackRecord*>(data);
    if (record == nullptr || record->engine == nullptr || record->stream == nullptr) return;
    pw_buffer* buffer = pw_stream_dequeue_buffer(record->stream);
    if (buffer == nullptr) return;
    const spa_data& plane = buffer->buffer->datas[0];
    if (plane.chunk != nullptr)
        record->engine->handleCaptureChunk(plane.data, plane.maxsize, plane.chunk->offset, plane.chunk->size,
                                           plane.chunk->stride);
    pw_stream_queue_buffer(record->stream, buffer);
}

// ---------------------------------------------------------------- realtime priority

void AudioEngine::setThreadScheduler(ThreadScheduler* scheduler) {
    m_scheduler = scheduler;
}

void AudioEngine::requestRealtime(pthread_t thread) {
    ThreadScheduler& scheduler = m_scheduler != nullptr ? *m_scheduler : ThreadScheduler::system();
    m_audioThreadRealtime.store(scheduler.request(thread));
}

// Runs on the PipeWire data thread (invoked from the GUI thread, which waits).
int AudioEngine::onDataThreadStarted(spa_loop*, bool, std::uint32_t, const void*, std::size_t,
                                     void* userData) {
    auto* engine = static_cast<AudioEngine*>(userData);
    // A data loop that is not running would run this on the caller's thread, which
    // must never become realtime.
    if (!pw_data_loop_in_thread(pw_context_get_data_loop(engine->m_pwContext))) return -EINVAL;
    pthread_setname_np(pthread_self(), audioThreadName);
    engine->requestRealtime(pthread_self());
    return 0;
}

// ---------------------------------------------------------------- PipeWire

bool AudioEngine::startPipeWire() {
    m_pwLoop = pw_thread_loop_new("tmb-pipewire-rt", nullptr);
    if (m_pwLoop == nullptr) return false;
    pw_thread_loop_lock(m_pwLoop);
    if (pw_thread_loop_start(m_pwLoop) < 0) {
        pw_thread_loop_unlock(m_pwLoop);
        pw_thread_loop_destroy(m_pwLoop);
        m_pwLoop = nullptr;
        return false;
    }
    // The client configuration desktop audio programs use: it loads PipeWire's
    // realtime module, which raises the data thread directly or through RTKit.
    m_pwContext = pw_context_new(pw_thread_loop_get_loop(m_pwLoop),
                                 pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    if (m_pwContext != nullptr) m_pwCore = pw_context_connect(m_pwContext, nullptr, 0);
    if (m_pwCore == nullptr) {
        pw_thread_loop_unlock(m_pwLoop);
        stopPipeWire();
        return false;
    }

    const QByteArray latency = QStringLiteral("%1/%2").arg(blockFrames).arg(sampleRate).toUtf8();
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, "Tembora", PW_KEY_NODE_NAME, "tembora", PW_KEY_NODE_DESCRIPTION,
        "Tembora Master Output", PW_KEY_NODE_LATENCY, latency.constData(), nullptr);
    if (!outputDeviceId.isEmpty() && outputDeviceId != QLatin1String("default"))
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, outputDeviceId.toUtf8().constData());

    static pw_stream_events playback = [] {
        pw_stream_events events = playbackEvents;
        events.process = &AudioEngine::onPipeWireProcess;
        return events;
    }();
    static pw_stream_events capture = [] {
        pw_stream_events events = playbackEvents;
        events.process = &AudioEngine::onPipeWireCaptureProcess;
        return events;
    }();

    m_playbackRecord.engine = this;
    m_pwStream = pw_stream_new(m_pwCore, "Tembora-Audio", props);
    if (m_pwStream != nullptr)
        pw_stream_add_listener(m_pwStream, &m_playbackListener, &playback, &m_playbackRecord);
    m_playbackRecord.stream = m_pwStream;

    int connectResult = -1;
    if (m_pwStream != nullptr) {
        std::uint8_t podBuffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof(podBuffer));
        const spa_pod* params[1] = {buildStereoFloatFormat(&builder, sampleRate)};
        const auto flags = static_cast<pw_stream_flags>(
            PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
        connectResult = pw_stream_connect(m_pwStream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1);

        pw_properties* micProps =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                              "Communication", PW_KEY_STREAM_CAPTURE_SINK, "false", PW_KEY_APP_NAME,
                              "Tembora", PW_KEY_NODE_NAME, "tembora_mic", PW_KEY_NODE_DESCRIPTION,
                              "Tembora Microphone Input", PW_KEY_NODE_LATENCY, latency.constData(), nullptr);
        if (!inputDeviceId.isEmpty() && inputDeviceId != QLatin1String("default") &&
            inputDeviceId != QLatin1String("phone_wireless_mic"))
            pw_properties_set(micProps, PW_KEY_TARGET_OBJECT, inputDeviceId.toUtf8().constData());
        m_captureRecord.engine = this;
        m_pwCaptureStream = pw_stream_new(m_pwCore, "Tembora-MicInput", micProps);
        m_captureRecord.stream = m_pwCaptureStream;
        if (m_pwCaptureStream != nullptr) {
            pw_stream_add_listener(m_pwCaptureStream, &m_captureListener, &capture, &m_captureRecord);
            std::uint8_t micPodBuffer[1024];
            spa_pod_builder micBuilder = SPA_POD_BUILDER_INIT(micPodBuffer, sizeof(micPodBuffer));
            const spa_pod* micParams[1] = {buildStereoFloatFormat(&micBuilder, sampleRate)};
            // A microphone that cannot connect just stays silent.
            pw_stream_connect(m_pwCaptureStream, PW_DIRECTION_INPUT, PW_ID_ANY, flags, micParams, 1);
        }
    }
    pw_thread_loop_unlock(m_pwLoop);

    if (m_pwStream == nullptr || connectResult < 0) {
        stopPipeWire();
        return false;
    }
    // Ask for realtime on the thread that renders, outside the render callback.
    pw_data_loop_invoke(pw_context_get_data_loop(m_pwContext), &AudioEngine::onDataThreadStarted, 0, nullptr,
                        0, true, this);
    return true;
}

void AudioEngine::stopPipeWire() {
    if (m_pwLoop == nullptr) return;
    pw_thread_loop_lock(m_pwLoop);
    if (m_pwCaptureStream != nullptr) {
        pw_stream_disconnect(m_pwCaptureStream);
        pw_stream_destroy(m_pwCaptureStream);
        m_pwCaptureStream = nullptr;
    }
    m_captureRecord.stream = nullptr;
    if (m_pwStream != nullptr) {
        pw_stream_disconnect(m_pwStream);
        pw_stream_destroy(m_pwStream);
        m_pwStream = nullptr;
    }
    m_playbackRecord.stream = nullptr;
    if (m_pwCore != nullptr) pw_core_disconnect(m_pwCore);
    m_pwCore = nullptr;
    if (m_pwContext != nullptr) pw_context_destroy(m_pwContext);
    m_pwContext = nullptr;
    pw_thread_loop_unlock(m_pwLoop);
    pw_thread_loop_stop(m_pwLoop);
    pw_thread_loop_destroy(m_pwLoop);
    m_pwLoop = nullptr;
}

// ---------------------------------------------------------------- ALSA fallback

bool AudioEngine::startAlsaFallback() {
    // Open the device here, not in the thread, so start() can report a device
    // that does not open instead of claiming to run.
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) return false;
    const auto latencyUs = static_cast<unsigned int>(static_cast<float>(blockFrames) * 1000.0f /
                                                     static_cast<float>(sampleRate) * 1000.0f * 2.0f);
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_FLOAT_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, sampleRate, 1,
                           latencyUs) < 0) {
        snd_pcm_close(pcm);
        return false;
    }
    alsaRunning.store(true);
    m_alsaThread = std::thread([this, pcm] { alsaThreadLoop(pcm); });
    pthread_setname_np(m_alsaThread.native_handle(), audioThreadName);
    requestRealtime(m_alsaThread.native_handle());
    return true;
}

void AudioEngine::alsaThreadLoop(void* handle) {
    auto* pcm = static_cast<snd_pcm_t*>(handle);
    const std::uint32_t frames = blockFrames;
    std::vector<float> buffer(std::size_t{frames} * 2, 0.0f);
    // A recovered error (an underrun, a resume after suspend) costs only the
    // recovery: the block is written again at once. Errors the device does not
    // recover from, and recovered errors that keep every write from getting through,
    // back off and, so many in a row, end the thread with a failure the controller
    // reports, instead of spinning a core.
    int failures = 0;              // in a row, backed off
    int recoveredWithoutWrite = 0; // recovered errors since the last write that went through
    constexpr int maxFailures = 10;
    constexpr int maxRecoveredWithoutWrite = 8;

    while (alsaRunning.load(std::memory_order_relaxed)) {
        processAudioCallback(buffer.data(), frames);
        std::uint32_t offset = 0;
        while (offset < frames && alsaRunning.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t written =
                snd_pcm_writei(pcm, buffer.data() + 2 * offset, frames - offset);
            if (written >= 0) {
                offset += static_cast<std::uint32_t>(written);
                failures = 0;
                recoveredWithoutWrite = 0;
                continue;
            }
            const bool recovered = snd_pcm_recover(pcm, static_cast<int>(written), 1) >= 0;
            if (recovered && ++recoveredWithoutWrite <= maxRecoveredWithoutWrite) continue;
            if (++failures > maxFailures) {
                m_backendErrorCode.store(static_cast<int>(written));
                m_backendFailed.store(true);
                alsaRunning.store(false);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(5 << failures, 500)));
        }
    }
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
}

} // namespace tmb
