#pragma once

// Whether a webcam can be used, and what to tell the user when not; and the
// privileged command that powers a laptop camera on and lets the user open it.

#include <QString>
#include <QStringList>

namespace tmb {

struct CameraProbe {
    bool available = false;
    QString devicePath; // the camera to open when available
    QString message;    // for cameraStatusMessage

    // Looks at the "video*" devices (in TEMBORA_CAMERA_DEVICE_DIR, else "/dev") and,
    // when none can be opened, at the IdeaPad camera-power switch
    // (TEMBORA_IDEAPAD_CAMERA_POWER names the switch file; else every
    // "/sys/bus/platform/drivers/ideapad_acpi/*/camera_power").
    static CameraProbe run();
    // Where cameras appear: TEMBORA_CAMERA_DEVICE_DIR, else "/dev".
    static QString deviceFolder();

    // pkexec's arguments: a fixed shell line that switches IdeaPad cameras on,
    // loads uvcvideo and gives the user `uid` (its only argument) read and write
    // access to the video and media devices, eight tries 0.15 s apart.
    static QStringList powerOnArguments(unsigned uid);
};

} // namespace tmb
