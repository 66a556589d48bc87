#pragma once

// The sound server's devices as its command-line tools list them, and the
// conditioning every microphone sample passes before the microphone ring.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <cstddef>
#include <functional>

class QObject;

namespace tmb {

struct AudioDeviceEntry {
    QString id; // "default", a node number, a source name, "alsa:default" or "phone_wireless_mic"
    QString name;
    QString backend; // "PipeWire", "ALSA" or "PhoneBridge"
    bool isDefault = false;
    bool isBluetooth = false;
};

QVariantList audioDevicesAsVariantList(const QList<AudioDeviceEntry>& entries);

// Entries of one section of `wpctl status`: from a line containing `start` to one
// containing any of `ends`. isDefault marks the line starred as the default.
QList<AudioDeviceEntry> parseWpctlSection(const QString& status, const QString& start,
                                          const QStringList& ends);
// Sources of `pactl list sources`, monitors of sinks left out; id = the source
// name, name = its description.
QList<AudioDeviceEntry> parsePactlSources(const QString& listing);

// Runs `program` with `arguments` and returns its standard output, or nothing when
// it is missing, fails to start or does not finish within `timeoutMs` (then it is killed).
QString runDeviceTool(const QString& program, const QStringList& arguments, int timeoutMs = 1200);

// `wpctl status` and `pactl list sources` run together without blocking the GUI
// thread; once both have answered, `done` gets their outputs on that thread. A tool
// that is missing, fails or outlasts `timeoutMs` (then it is killed) answers nothing.
// A newer start supersedes a listing still running: its answers are dropped.
class DeviceListing {
public:
    using Done = std::function<void(const QString& wpctlStatus, const QString& pactlSources)>;
    DeviceListing() = default;
    DeviceListing(const DeviceListing&) = delete;
    DeviceListing& operator=(const DeviceListing&) = delete;
    ~DeviceListing();
    void start(Done done, int timeoutMs = 1200);
    bool isRunning() const { return m_run != nullptr; }

private:
    void stop();
    QObject* m_run = nullptr; // owns the running tools
};

// DC removal, smoothing, an automatic noise gate, a fixed gain and a limiter, per
// side. Used only by the producers of the microphone ring, which serialise.
class MicConditioner {
public:
    // `frames` interleaved stereo frames from `in` to `out` (which may be the same).
    void process(const float* in, float* out, std::size_t frames) noexcept;
    float gateGain() const noexcept { return m_gate; }

private:
    float m_dc[2] = {0.0f, 0.0f};
    float m_smoothed[2] = {0.0f, 0.0f};
    float m_gate = 0.0f;
};

} // namespace tmb
