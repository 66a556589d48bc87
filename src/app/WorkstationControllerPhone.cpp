// The phone bridge: its child process and line protocol, the peers, the links
// (LAN, USB, public, tunnel), the QR code and the state file the phones poll.

#include "WorkstationController.h"

#include "audio/ToolRun.h"
#include "broadcast/PrivateRuntimeFolder.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHostAddress>
#include <QProcessEnvironment>
#include <QSaveFile>
#include <QUrl>

namespace tmb {

namespace {

const QString phoneMicDeviceId = QStringLiteral("phone_wireless_mic");
const QString usbPhoneUrl = QStringLiteral("http://localhost:8088");

// Outside programs and services; tests point these at stubs of their own.
QString setting(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable).trimmed();
    return value.isEmpty() ? fallback : value;
}
QString pythonProgram() {
    return setting("TEMBORA_PYTHON", QStringLiteral("/usr/bin/python3"));
}
QString sshProgram() {
    return setting("TEMBORA_SSH", QStringLiteral("/usr/bin/ssh"));
}

// Runs a tool to completion (at most `waitMs`); its standard output, or empty.
QByteArray runTool(const QString& program, const QStringList& arguments, int waitMs) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(waitMs)) return {};
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(200);
        return {};
    }
    return process.readAllStandardOutput();
}

// Asks the echo services one after the other; `done` gets the first answer that is an
// IPv4 address, or nothing. The answer is checked: it ends up in links and in the QR code.
void detectPublicAddress(QObject* owner, QStringList services, std::function<void(const QString&)> done) {
    if (services.isEmpty()) return done({});
    const QString service = services.takeFirst();
    runToolAsync(
        owner, QStringLiteral("curl"),
        {QStringLiteral("-4"), QStringLiteral("-fsS"), QStringLiteral("-m"), QStringLiteral("2"), service},
        2500, [owner, services, done](const QByteArray& output) {
            const QString answer = QString::fromLatin1(output.left(64)).trimmed();
            if (answer.contains(u'.') && QHostAddress(answer).protocol() == QAbstractSocket::IPv4Protocol)
                done(answer);
            else
                detectPublicAddress(owner, services, done);
        });
}

} // namespace

// ---------------------------------------------------------------- state and peers

void WorkstationController::setPhoneStatus(const QString& text) {
    m_phone.statusText = text;
    notifyPhoneBridge();
    setStatusBanner(text);
}

QString WorkstationController::registerOrTouchPhonePeer(const QString& id, const QString& ip) {
    return m_phonePeers.registerOrTouch(id, ip);
}

void WorkstationController::recordPhoneAction(const QString& id, const QString& ip, const QString& summary) {
    const QString label = registerOrTouchPhonePeer(id, ip);
    m_phone.lastActorId = id;
    m_phone.lastChangeSummary = QStringLiteral("📲 %1 → %2").arg(label, summary);
    ++m_phone.stateSeq;
}

void WorkstationController::activatePhoneMicrophone(const QString& phoneId) {
    m_phone.micActive = true;
    m_phone.activeMicPhoneId = phoneId;
    if (m_audioEngine.inputDeviceId != phoneMicDeviceId) m_audioEngine.setAudioInputDevice(phoneMicDeviceId);
    if (!m_audioEngine.micEnabled.load()) {
        m_audioEngine.setMicEnabled(true);
        notifyArrangerState(); // the Mic channel may have been unmuted and raised
    }
    notifyMicState();
    Q_EMIT audioSettingsChanged();
    notifyPhoneBridge();
}

void WorkstationController::activatePhoneCamera(const QString& phoneId) {
    m_phone.camActive = true;
    m_phone.activeCamPhoneId = phoneId;
    if (!m_cameraEnabled) {
        // The phone is the camera: no local camera is powered or asked for.
        m_cameraEnabled = true;
        notifyBroadcastState();
    }
}

QString WorkstationController::phoneRuntimePath(const QString& name) {
    const QString folder = privateRuntimeFolder();
    return folder.isEmpty() ? QString() : folder + u'/' + name;
}

QString WorkstationController::phoneFileUrlNow(const QString& name) const {
    return QUrl::fromLocalFile(phoneRuntimePath(name)).toString() +
           QStringLiteral("?t=%1").arg(m_phonePeers.nowMs());
}

void WorkstationController::writePhoneStateJson() {
    const QString path = phoneRuntimePath(QStringLiteral("tmb_phone_state.json"));
    if (path.isEmpty()) return;
    // QSaveFile writes beside the target and renames over it: a reader sees the old
    // file or the new one, never a missing or half-written one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(phoneStateJsonBytes());
    file.commit();
}

void WorkstationController::tickPhoneState() {
    if (m_phoneBridgeProcess.state() == QProcess::NotRunning) return;
    if (++m_phoneStateTicks < 10) return;
    m_phoneStateTicks = 0;
    writePhoneStateJson();
}

// ---------------------------------------------------------------- the bridge process

void WorkstationController::initPhoneBridge() {
    m_phone.usbUrl = usbPhoneUrl;
    // Python's own messages (a traceback, say) go to our standard error.
    m_phoneBridgeProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&m_phoneBridgeProcess, &QProcess::readyReadStandardOutput, this,
            &WorkstationController::onPhoneBridgeOutput);
    connect(&m_phoneBridgeProcess, &QProcess::finished, this, &WorkstationController::onPhoneBridgeFinished);
    connect(&m_phoneBridgeProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) failPhoneHub(m_phoneBridgeProcess.errorString());
    });
    m_tunnelProcess.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_tunnelProcess, &QProcess::readyRead, this, &WorkstationController::onTunnelOutput);
}

void WorkstationController::startPhoneBridgeServer() {
    writePhoneStateJson();
    if (m_phoneBridgeProcess.state() != QProcess::NotRunning || m_phoneAddressPending) return;

    // The last known address until "hostname -I" answers; asking never holds up the window.
    m_phone.bridgeUrl = QStringLiteral("https://%1:8443").arg(m_phoneLanAddress);
    m_phone.usbUrl = usbPhoneUrl;
    m_phone.running = false;
    m_phoneHubFailed = false;
    m_phoneLines = PhoneLineSplitter();
    m_phoneAddressPending = true;
    notifyPhoneBridge();
    runToolAsync(this, QStringLiteral("hostname"), {QStringLiteral("-I")}, 5000,
                 [this](const QByteArray& output) {
                     m_phoneAddressPending = false;
                     m_phoneLanAddress = lanAddressFrom(QString::fromLocal8Bit(output));
                     m_phone.bridgeUrl = QStringLiteral("https://%1:8443").arg(m_phoneLanAddress);
                     launchPhoneBridgeScript();
                     for (const auto& then : std::exchange(m_afterPhoneAddress, {}))
                         then();
                 });
}

void WorkstationController::whenPhoneAddressKnown(std::function<void()> then) {
    if (m_phoneAddressPending)
        m_afterPhoneAddress.push_back(std::move(then));
    else
        then();
}

void WorkstationController::launchPhoneBridgeScript() {
    // The script goes into our private folder (nobody else can plant one there),
    // readable and writable by us only.
    const QString script = phoneRuntimePath(QStringLiteral("tmb_phone_bridge.py"));
    QFile source(QStringLiteral(":/phone/phone_bridge.py"));
    QSaveFile target(script);
    if (script.isEmpty() || !source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly) ||
        target.write(source.readAll()) < 0 || !target.commit() ||
        !QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        failPhoneHub(QStringLiteral("cannot write the bridge script"));
        return;
    }

    // The token travels in the environment: a command line is visible to every
    // user of the machine.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMB_PHONE_TOKEN"), m_phoneToken);
    environment.insert(QStringLiteral("TMB_PHONE_RUNTIME_DIR"), privateRuntimeFolder());
    environment.insert(QStringLiteral("TMB_PHONE_DATA_DIR"), m_projectManager.dataDirectory());
    m_phoneBridgeProcess.setProcessEnvironment(environment);
    m_phoneBridgeProcess.start(pythonProgram(), {QStringLiteral("-u"), script, m_phone.bridgeUrl});
    notifyPhoneBridge();
}

void WorkstationController::onPhoneBridgeOutput() {
    const QByteArray chunk = m_phoneBridgeProcess.readAllStandardOutput();
    for (const QByteArray& line : m_phoneLines.feed(chunk))
        handlePhoneBridgeLine(QString::fromUtf8(line));
}

void WorkstationController::onPhoneBridgeFinished() {
    onPhoneBridgeOutput(); // its last words first
    failPhoneHub(
        m_phoneBridgeProcess.exitStatus() == QProcess::CrashExit
            ? QStringLiteral("the bridge was killed")
            : QStringLiteral("the bridge stopped (exit code %1)").arg(m_phoneBridgeProcess.exitCode()));
}

void WorkstationController::failPhoneHub(const QString& reason) {
    const bool wasRunning = m_phone.running;
    m_phone.running = false;
    // The first reason is the one worth showing; the exit that follows it is not.
    if (m_phoneHubFailed) {
        if (wasRunning) notifyPhoneBridge();
        return;
    }
    m_phoneHubFailed = true;
    setPhoneStatus(QStringLiteral("⚠ Phone Hub failed: %1").arg(reason));
}

// ---------------------------------------------------------------- the line protocol

void WorkstationController::handlePhoneBridgeLine(const QString& line) {
    using Kind = PhoneBridgeLine::Kind;
    const PhoneBridgeLine parsed = parsePhoneBridgeLine(line);
    switch (parsed.kind) {
    case Kind::QrReady:
        m_phone.qrCodeUrl = phoneFileUrlNow(QStringLiteral("tmb_phone_qr.png"));
        notifyPhoneBridge();
        break;
    case Kind::Ready:
        m_phone.running = true;
        m_phoneHubFailed = false;
        m_phone.statusText =
            QStringLiteral("Phone Hub Active • Scan QR or open %1 on your phone").arg(m_phone.bridgeUrl);
        notifyPhoneBridge();
        writePhoneStateJson();
        break;
    case Kind::HttpFailed:
        // The HTTPS hub still serves the LAN; the USB and tunnel links need this one.
        setPhoneStatus(QStringLiteral("⚠ Phone Hub failed: %1").arg(parsed.payload));
        break;
    case Kind::HttpsFailed:
        failPhoneHub(parsed.payload);
        break;
    case Kind::Connected:
        handlePhoneConnectLine(parsed.id, parsed.ip);
        break;
    case Kind::Mic:
        handlePhoneMicLine(parsed.id, parsed.payload);
        break;
    case Kind::Camera:
        handlePhoneCameraLine(parsed.id);
        break;
    case Kind::Command: {
        registerOrTouchPhonePeer(parsed.id, parsed.ip);
        const QString summary = applyPhoneCommand(parsed.id, parsed.ip, parsed.payload);
        if (!summary.isEmpty()) recordPhoneAction(parsed.id, parsed.ip, summary);
        notifyPhoneBridge();
        writePhoneStateJson();
        break;
    }
    case Kind::Ignored:
        break;
    }
}

void WorkstationController::handlePhoneConnectLine(const QString& phoneId, const QString& ip) {
    const int before = m_phonePeers.count();
    registerOrTouchPhonePeer(phoneId, ip);
    if (!m_phone.connected)
        m_phone.connected = true;
    else if (m_phonePeers.count() == before)
        return;
    const int peers = m_phonePeers.count();
    setPhoneStatus(
        peers > 1 ? QStringLiteral("● %1 PHONES CONNECTED • Smart Multi-Phone Live Sync Active!").arg(peers)
                  : QStringLiteral("● PHONE CONNECTED (%1) • Live Stage Remote, Stream, Mic & Camera Active!")
                        .arg(ip));
    writePhoneStateJson();
}

void WorkstationController::handlePhoneMicLine(const QString& phoneId, const QString& base64) {
    m_phonePeers.touch(phoneId);
    if (m_phone.micActive && !m_phone.activeMicPhoneId.isEmpty() && m_phone.activeMicPhoneId != phoneId)
        return;
    const auto decoded =
        QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() < 2) return;
    if (!m_phone.micActive) activatePhoneMicrophone(phoneId);
    const int rate = static_cast<int>(m_audioEngine.sampleRate);
    if (m_phoneMic.outputRate() != rate) m_phoneMic.setOutputRate(rate);
    const std::size_t frames = m_phoneMic.convert(decoded.decoded);
    m_audioEngine.pushMicSamples(m_phoneMic.frames(), frames);
    ++m_phone.micBlocks;
}

void WorkstationController::handlePhoneCameraLine(const QString& phoneId) {
    m_phonePeers.touch(phoneId);
    if (!m_phone.activeCamPhoneId.isEmpty() && m_phone.activeCamPhoneId != phoneId) return;
    activatePhoneCamera(phoneId);
    // A new URL for every frame, so the picture reloads.
    m_phone.cameraFrameUrl =
        QUrl::fromLocalFile(phoneRuntimePath(QStringLiteral("tmb_phone_cam.jpg"))).toString() +
        QStringLiteral("?f=%1").arg(++m_phone.cameraFrames);
    notifyPhoneBridge();
}

// ---------------------------------------------------------------- QR code and links

void WorkstationController::regeneratePhoneQrCode(const QString& url) {
    const QString path = phoneRuntimePath(QStringLiteral("tmb_phone_qr.png"));
    if (url.isEmpty() || path.isEmpty()) return;
    // The link with its token comes on standard input, never on the command line.
    QProcess qr;
    qr.setStandardOutputFile(QProcess::nullDevice());
    qr.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    qr.start(pythonProgram(),
             {QStringLiteral("-c"),
              QStringLiteral("import os, sys, qrcode; t = sys.argv[1] + '.tmp.png'; "
                             "qrcode.make(sys.stdin.readline().strip()).save(t); os.replace(t, sys.argv[1])"),
              path});
    if (!qr.waitForStarted(1200)) return;
    qr.write((phoneLinkWithToken(url, m_phoneToken) + u'\n').toUtf8());
    qr.closeWriteChannel();
    if (!qr.waitForFinished(1200)) {
        qr.kill();
        qr.waitForFinished(200);
        return;
    }
    if (qr.exitStatus() != QProcess::NormalExit || qr.exitCode() != 0) return;
    m_phone.qrCodeUrl = phoneFileUrlNow(QStringLiteral("tmb_phone_qr.png"));
    notifyPhoneBridge();
}

void WorkstationController::setPhoneUsePublicLink(bool usePublic) {
    if (m_phone.usePublicLink == usePublic) return;
    m_phone.usePublicLink = usePublic;
    notifyPhoneBridge();
    // The QR code follows the chosen link.
    const QString publicUrl =
        m_phone.remoteTunnelUrl.isEmpty() ? m_phone.publicIpUrl : m_phone.remoteTunnelUrl;
    regeneratePhoneQrCode(usePublic ? publicUrl : m_phone.bridgeUrl);
}

void WorkstationController::connectUsbAndroidPhoneAdb() {
    startPhoneBridgeServer();
    const QString adb = QStringLiteral("adb");
    if (!runTool(adb, {QStringLiteral("devices")}, 1500).contains("\tdevice")) {
        setPhoneStatus(QStringLiteral(
            "⚠ No USB Android Phone detected via ADB • Enable USB Debugging or scan the Wi-Fi QR Code!"));
        return;
    }
    for (const QString& port : {QStringLiteral("tcp:8088"), QStringLiteral("tcp:8443")})
        runTool(adb, {QStringLiteral("reverse"), port, port}, 3000);
    QProcess::startDetached(adb, {QStringLiteral("shell"), QStringLiteral("am"), QStringLiteral("start"),
                                  QStringLiteral("-a"), QStringLiteral("android.intent.action.VIEW"),
                                  QStringLiteral("-d"), phoneLinkWithToken(usbPhoneUrl, m_phoneToken)});
    setPhoneStatus(
        QStringLiteral("✓ USB Phone Tunneled (http://localhost:8088) • Opened Studio Mic/Cam/Pad on Phone!"));
}

void WorkstationController::startPublicPhoneLink() {
    startPhoneBridgeServer();
    setPhoneStatus(
        QStringLiteral("🌐 Detecting Public Internet IP & Starting Remote Cross-Network Tunnel..."));
    if (m_publicAddressPending) return; // the detection under way answers this press too
    m_publicAddressPending = true;
    const QStringList services =
        setting("TEMBORA_IP_ECHO_URLS", QStringLiteral("https://api.ipify.org https://ipv4.icanhazip.com"))
            .split(u' ', Qt::SkipEmptyParts);
    detectPublicAddress(this, services, [this](const QString& address) {
        m_publicAddressPending = false;
        // The router is told this machine's LAN address, and the fallback link names it.
        whenPhoneAddressKnown([this, address] { finishPublicPhoneLink(address); });
    });
}

void WorkstationController::finishPublicPhoneLink(const QString& address) {
    if (!address.isEmpty()) {
        m_phone.publicIpUrl = QStringLiteral("https://%1:8443").arg(address);
        // Ask the router to forward the HTTPS port to this machine.
        QProcess::startDetached(QStringLiteral("upnpc"),
                                {QStringLiteral("-e"), QStringLiteral("Tembora"), QStringLiteral("-a"),
                                 m_phoneLanAddress, QStringLiteral("8443"), QStringLiteral("8443"),
                                 QStringLiteral("TCP")});
    }
    if (m_phone.publicIpUrl.isEmpty()) m_phone.publicIpUrl = m_phone.bridgeUrl;
    notifyPhoneBridge();

    if (m_tunnelProcess.state() == QProcess::NotRunning) {
        m_tunnelOutput.clear();
        m_tunnelProcess.start(sshProgram(),
                              {QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
                               QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
                               QStringLiteral("-o"), QStringLiteral("ServerAliveInterval=30"),
                               QStringLiteral("-R"), QStringLiteral("80:localhost:8088"),
                               setting("TEMBORA_TUNNEL_LOGIN", QStringLiteral("nokey@localhost.run"))});
    }

    const QString tunnel = m_phone.remoteTunnelUrl;
    regeneratePhoneQrCode(tunnel.isEmpty() ? m_phone.publicIpUrl : tunnel);
    setPhoneStatus(QStringLiteral("🌐 Public IP: %1%2")
                       .arg(m_phone.publicIpUrl, tunnel.isEmpty()
                                                     ? QStringLiteral(" • Connecting Global Relay...")
                                                     : QStringLiteral(" • Global Link: %1").arg(tunnel)));
}

void WorkstationController::onTunnelOutput() {
    // Kept short: a link split across two reads is still found.
    m_tunnelOutput = (m_tunnelOutput + m_tunnelProcess.readAll()).right(4096);
    const QStringList domains =
        qEnvironmentVariable("TEMBORA_TUNNEL_DOMAINS").split(u' ', Qt::SkipEmptyParts);
    const QString url =
        tunnelUrlIn(QString::fromUtf8(m_tunnelOutput), domains.isEmpty() ? defaultTunnelDomains() : domains);
    if (url.isEmpty() || url == m_phone.remoteTunnelUrl) return;
    m_phone.remoteTunnelUrl = url;
    regeneratePhoneQrCode(url);
    setPhoneStatus(
        QStringLiteral("🌐 GLOBAL PUBLIC LINK LIVE: %1 (Works on Any Network / 4G / Remote Location!)")
            .arg(url));
}

void WorkstationController::setCustomPublicHost(const QString& hostOrIp) {
    if (hostOrIp.trimmed().isEmpty()) return;
    const QString url = customPublicHostUrl(hostOrIp);
    if (url.isEmpty()) {
        setPhoneStatus(QStringLiteral("⚠ Not a host name or address: %1").arg(hostOrIp.trimmed().left(80)));
        return;
    }
    m_phone.publicIpUrl = url;
    m_phone.usePublicLink = true;
    notifyPhoneBridge();
    regeneratePhoneQrCode(url);
    setPhoneStatus(QStringLiteral("🌐 Custom Public IP / Host Set: %1 • QR Code Updated!").arg(url));
}

void WorkstationController::copyPhoneBridgeUrl() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        app->clipboard()->setText(phoneLinkWithToken(m_phone.bridgeUrl, m_phoneToken));
    setPhoneStatus(QStringLiteral("Copied Local Phone Link to Clipboard: %1").arg(m_phone.bridgeUrl));
}

void WorkstationController::copyPublicPhoneUrl() {
    const QString url = !m_phone.remoteTunnelUrl.isEmpty() ? m_phone.remoteTunnelUrl
                        : !m_phone.publicIpUrl.isEmpty()   ? m_phone.publicIpUrl
                                                           : m_phone.bridgeUrl;
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        app->clipboard()->setText(phoneLinkWithToken(url, m_phoneToken));
    setPhoneStatus(QStringLiteral("Copied Public / Remote Phone Link to Clipboard: %1").arg(url));
}

} // namespace tmb
