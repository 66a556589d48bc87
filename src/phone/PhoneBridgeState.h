#pragma once

// What the workstation publishes about its phone bridge (notify phoneBridgeChanged)
// and the record of the last change a phone made. GUI thread.

#include <QString>

namespace tmb {

struct PhoneBridgeState {
    bool running = false;   // the hub answered "READY"
    bool connected = false; // a phone was heard from at least once
    bool micActive = false;
    bool camActive = false;
    QString bridgeUrl;          // "https://<LAN address>:8443"
    QString usbUrl;             // "http://localhost:8088"
    QString publicIpUrl;        // "https://<public address>:8443" or a custom host
    QString remoteTunnelUrl;    // the tunnel's https URL
    bool usePublicLink = false; // which URL the QR code encodes
    QString qrCodeUrl;          // file URL of the QR picture, with a cache-defeating query
    QString cameraFrameUrl;     // file URL of the latest camera frame, likewise
    QString statusText;

    // The change record (phones see it in the state file).
    QString activeMicPhoneId;
    QString activeCamPhoneId;
    QString lastActorId;
    QString lastChangeSummary;
    qint64 stateSeq = 0;

    // What reached the workstation: camera frames taken (the frame URL's query
    // counts them) and microphone blocks heard.
    qint64 cameraFrames = 0;
    qint64 micBlocks = 0;
};

} // namespace tmb
