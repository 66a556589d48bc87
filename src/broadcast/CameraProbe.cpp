#include "broadcast/CameraProbe.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace tmb {

namespace {

const char* const powerOnScript =
    "for f in /sys/bus/platform/drivers/ideapad_acpi/*/camera_power; do [ -w \"$f\" ] && echo 1 > \"$f\"; "
    "done; modprobe uvcvideo 2>/dev/null; i=0; while [ $i -lt 8 ]; do for d in /dev/video* /dev/media*; "
    "do [ -e \"$d\" ] && setfacl -m \"u:$1:rw\" \"$d\" 2>/dev/null; done; i=$((i+1)); sleep 0.15; done; true";

QStringList ideapadSwitchFiles() {
    const QString chosen = qEnvironmentVariable("TEMBORA_IDEAPAD_CAMERA_POWER");
    if (!chosen.isEmpty()) return {chosen};
    QStringList files;
    const QDir driver(QStringLiteral("/sys/bus/platform/drivers/ideapad_acpi"));
    for (const QString& device : driver.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System))
        files << driver.filePath(device + QStringLiteral("/camera_power"));
    return files;
}

bool cameraPowerIsOff() {
    for (const QString& path : ideapadSwitchFiles()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.read(16).trimmed() == "0") return true;
    }
    return false;
}

} // namespace

QString CameraProbe::deviceFolder() {
    const QString folder = qEnvironmentVariable("TEMBORA_CAMERA_DEVICE_DIR");
    return folder.isEmpty() ? QStringLiteral("/dev") : folder;
}

CameraProbe CameraProbe::run() {
    CameraProbe probe;
    const QString folder = deviceFolder();
    const QStringList devices = QDir(folder).entryList(
        {QStringLiteral("video*")},
        QDir::System | QDir::Files | QDir::Readable | QDir::Writable | QDir::Hidden, QDir::Name);
    const QStringList present = QDir(folder).entryList({QStringLiteral("video*")},
                                                       QDir::System | QDir::Files | QDir::Hidden, QDir::Name);
    if (!devices.isEmpty()) {
        probe.available = true;
        probe.devicePath = folder + QLatin1Char('/') + devices.first();
        probe.message = QStringLiteral("Live Hardware Webcam Ready (/dev/%1)").arg(devices.first());
    } else if (cameraPowerIsOff()) {
        probe.message = QStringLiteral(
            "Laptop Camera Power is OFF • Click 'Grant Camera Rights & Power On' or press Fn+Camera key");
    } else if (!present.isEmpty()) {
        probe.message = QStringLiteral("Webcam Permission Required • Click 'Grant Camera Rights' below");
    } else {
        probe.message =
            QStringLiteral("No Webcam Detected • Click 'Grant Camera Rights' or connect USB camera");
    }
    return probe;
}

QStringList CameraProbe::powerOnArguments(unsigned uid) {
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"), QString::fromLatin1(powerOnScript),
            QStringLiteral("sh"), QString::number(uid)};
}

} // namespace tmb
