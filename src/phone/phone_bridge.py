#!/usr/bin/python3
# Tembora phone bridge: serves the phone page, answers its polls and commands, takes
# its microphone blocks and camera frames, and reports everything to the workstation
# as one line per event on standard output. The workstation writes this file out and
# runs it as: /usr/bin/python3 -u tmb_phone_bridge.py [phone URL without the token]
#
# Environment:
#   TMB_PHONE_TOKEN        required, 32..256 characters of [A-Za-z0-9_-]. Every request
#                          must carry it as the query parameter "k"; anything else gets
#                          403 and prints nothing. Never passed on the command line.
#   TMB_PHONE_RUNTIME_DIR  required, the private runtime folder: the QR code
#                          "tmb_phone_qr.png" and camera frame "tmb_phone_cam.jpg" are
#                          written there, the state "tmb_phone_state.json" read from it.
#   TMB_PHONE_DATA_DIR     required, where "tmb_phone_cert.pem" and "tmb_phone_key.pem"
#                          (mode 0600) are made once with openssl and reused.
#   TMB_PHONE_HTTP_PORT (8088), TMB_PHONE_HTTPS_PORT (8443), TMB_PHONE_HTTPS_BIND
#   (0.0.0.0), TMB_PHONE_IDLE_TIMEOUT (seconds, 20): optional. Plain HTTP listens on
#   127.0.0.1 only: USB and tunnel clients arrive through loopback.
#
# Lines printed: "QR_READY:<path>", "READY:<https port>", "ERR_HTTP:<error>",
# "ERR_HTTPS:<error>" (then exits), "CONN:<id>|<ip>", "CMD:<id>|<ip>|<command>",
# "MIC:<id>|<base64 of s16le mono 24 kHz>", "CAM:<id>|<frame number from 1>". Camera
# frames of any phone but the state's "activeCamPhoneId" (when set) get 409.
# Control characters never reach a line, so one request prints at most its own lines.

import base64
import hmac
import json
import os
import re
import ssl
import subprocess
import sys
import threading
import time
import unicodedata
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from socketserver import TCPServer
from urllib.parse import parse_qs, urlsplit

MIC_BODY_LIMIT = 16 * 1024
CAM_BODY_LIMIT = 4 * 1024 * 1024
STATE_READ_LIMIT = 1024 * 1024
ID_LIMIT = 64
MAX_CONNECTIONS = 128
COMMAND_SETTLE_S = 0.015

_print_lock = threading.Lock()
_cam_lock = threading.Lock()
_connection_slots = threading.BoundedSemaphore(MAX_CONNECTIONS)


def emit(line):
    # Handlers run on their own threads: one lock keeps every line whole.
    with _print_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def without_controls(text):
    return "".join(ch for ch in text if unicodedata.category(ch) not in ("Cc", "Zl", "Zp"))


def phone_id(text):
    return without_controls(text.replace("|", ""))[:ID_LIMIT]


class Config:
    def __init__(self, env):
        self.token = env.get("TMB_PHONE_TOKEN", "")
        self.runtime = env.get("TMB_PHONE_RUNTIME_DIR", "")
        self.data = env.get("TMB_PHONE_DATA_DIR", "")
        self.http_port = int(env.get("TMB_PHONE_HTTP_PORT", "8088"))
        self.https_port = int(env.get("TMB_PHONE_HTTPS_PORT", "8443"))
        self.https_bind = env.get("TMB_PHONE_HTTPS_BIND", "0.0.0.0")
        self.idle_timeout = float(env.get("TMB_PHONE_IDLE_TIMEOUT", "20"))
        self.token_bytes = self.token.encode()

    def problem(self):
        if not re.fullmatch(r"[A-Za-z0-9_-]{32,256}", self.token):
            return "no access token"
        if not self.runtime or not self.data:
            return "no runtime or data folder"
        return ""

    def path(self, name):
        return os.path.join(self.runtime, name)


def camera_owner(config):
    """The phone whose frames the workstation takes, as its state file says; "" for none."""
    try:
        with open(config.path("tmb_phone_state.json"), "rb") as state:
            owner = json.loads(state.read(STATE_READ_LIMIT)).get("activeCamPhoneId")
    except (OSError, ValueError, AttributeError):
        return ""
    return owner if isinstance(owner, str) else ""


class BridgeServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, config, tls=None):
        self.config = config
        self.tls = tls
        self.camera_frames = 0
        super().__init__(address, BridgeHandler)

    def server_bind(self):
        # HTTPServer.server_bind would look the host name up in DNS, which can hang.
        TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def process_request(self, request, client_address):
        if not _connection_slots.acquire(blocking=False):
            self.shutdown_request(request)
            return
        try:
            super().process_request(request, client_address)
        except Exception:
            _connection_slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            _connection_slots.release()

    def finish_request(self, request, client_address):
        # The TLS handshake runs here, on the connection's own thread and under the
        # idle timeout, so a silent client cannot stall the accepting loop.
        request.settimeout(self.config.idle_timeout)
        if self.tls is None:
            self.RequestHandlerClass(request, client_address, self)
            return
        with self.tls.wrap_socket(request, server_side=True) as secure:
            self.RequestHandlerClass(secure, client_address, self)

    def handle_error(self, request, client_address):
        pass  # a vanished or misbehaving client is not worth a line


class BridgeHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "Tembora"

    def log_message(self, *args):
        pass

    def parse(self):
        parts = urlsplit(self.path)
        try:
            query = parse_qs(parts.query, keep_blank_values=True, max_num_fields=16)
        except ValueError:
            query = {}
        first = lambda name: query.get(name, [""])[0]
        given = first("k").encode("utf-8", "replace")
        allowed = hmac.compare_digest(given, self.server.config.token_bytes)
        return parts.path, first, allowed

    def answer(self, code, body, content_type, headers=()):
        self.send_response(code)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def refuse(self, code, text):
        self.close_connection = True
        self.answer(code, text.encode(), "text/plain; charset=utf-8", [("Connection", "close")])

    def answer_state(self):
        try:
            with open(self.server.config.path("tmb_phone_state.json"), "rb") as state:
                body = state.read(STATE_READ_LIMIT)
        except OSError:
            body = b""
        self.answer(200, body or b"{}", "application/json", [("Cache-Control", "no-store")])

    def do_GET(self):
        path, first, allowed = self.parse()
        if not allowed:
            return self.refuse(403, "Forbidden")
        peer, ip = phone_id(first("id")), self.client_address[0]
        if path.startswith("/api/state"):
            if peer:
                emit(f"CONN:{peer}|{ip}")
            return self.answer_state()
        if path.startswith("/api/cmd"):
            emit(f"CONN:{peer}|{ip}")
            command = without_controls(first("c"))
            if command:
                emit(f"CMD:{peer}|{ip}|{command}")
                time.sleep(COMMAND_SETTLE_S)  # lets the workstation rewrite the state
            return self.answer_state()
        if peer:  # the page itself is fetched before the phone knows its id: no phantom peer
            emit(f"CONN:{peer}|{ip}")
        self.answer(200, PAGE, "text/html; charset=utf-8", [
            ("Cache-Control", "no-store, no-cache, must-revalidate, max-age=0"),
            ("Pragma", "no-cache"),
            ("Referrer-Policy", "no-referrer"),
            ("X-Content-Type-Options", "nosniff"),
            ("X-Frame-Options", "DENY")])

    def do_POST(self):
        path, first, allowed = self.parse()
        if not allowed:
            return self.refuse(403, "Forbidden")
        if "Transfer-Encoding" in self.headers:
            return self.refuse(411, "Length Required")  # bodies come with their length
        limit = CAM_BODY_LIMIT if path.startswith("/api/cam") else MIC_BODY_LIMIT
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if length < 0:
            return self.refuse(400, "Bad Content-Length")
        if length > limit:
            return self.refuse(413, "Too Large")
        body = self.rfile.read(length)
        if len(body) < length:
            self.close_connection = True
            return
        peer = phone_id(first("id"))
        if body and path.startswith("/api/mic"):
            emit(f"MIC:{peer}|{base64.b64encode(body).decode()}")
        elif body and path.startswith("/api/cam"):
            # A phone that handed the camera over is refused, not left to overwrite
            # the owner's frame until its page notices.
            owner = camera_owner(self.server.config)
            if owner and owner != peer:
                return self.answer(409, b"Camera In Use", "text/plain")
            self.store_camera_frame(peer, body)
        self.answer(200, b"OK", "text/plain")

    def store_camera_frame(self, peer, body):
        config, server = self.server.config, self.server
        with _cam_lock:  # one writer at a time for the one temporary file
            temporary = config.path("tmb_phone_cam_tmp.jpg")
            try:
                with open(temporary, "wb") as frame:
                    frame.write(body)
                os.replace(temporary, config.path("tmb_phone_cam.jpg"))
            except OSError:
                return
            server.camera_frames += 1
            emit(f"CAM:{peer}|{server.camera_frames}")


def ensure_certificate(config):
    os.makedirs(config.data, mode=0o700, exist_ok=True)
    cert = os.path.join(config.data, "tmb_phone_cert.pem")
    key = os.path.join(config.data, "tmb_phone_key.pem")
    if not (os.path.isfile(cert) and os.path.isfile(key)):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-keyout", key,
                        "-out", cert, "-days", "365", "-nodes", "-subj", "/CN=Tembora"],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=False)
    os.chmod(key, 0o600)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def render_qr(config, url):
    try:
        import qrcode
    except ImportError:
        return
    target = config.path("tmb_phone_qr.png")
    temporary = config.path("tmb_phone_qr_tmp.png")
    link = url.rstrip("/") + "/?k=" + config.token
    try:
        qrcode.make(link).save(temporary)
        os.replace(temporary, target)
    except Exception:
        return
    emit("QR_READY:" + target)


def exit_with_parent():
    # A bridge whose workstation died would hold the ports against the next start.
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(1)
    os._exit(0)


def main(argv, env):
    sys.stdout.reconfigure(encoding="utf-8", errors="replace")
    config = Config(env)
    problem = config.problem()
    if problem:
        emit("ERR_HTTPS:" + problem)
        return 2
    os.umask(0o077)
    threading.Thread(target=exit_with_parent, daemon=True).start()
    render_qr(config, argv[1] if len(argv) > 1 and argv[1] else "https://127.0.0.1:8443")
    try:
        plain = BridgeServer(("127.0.0.1", config.http_port), config)
        threading.Thread(target=plain.serve_forever, daemon=True).start()
    except Exception as error:
        emit(f"ERR_HTTP:{error}")
    try:
        secure = BridgeServer((config.https_bind, config.https_port), config, ensure_certificate(config))
    except Exception as error:
        emit(f"ERR_HTTPS:{error}")
        return 1
    emit(f"READY:{config.https_port}")
    secure.serve_forever()
    return 0


PAGE = r"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1,maximum-scale=1">
<title>Sandorik — Live Stage Phone Controller</title>
<style>
*{box-sizing:border-box}
[hidden]{display:none!important}
body{margin:0;padding:8px;background:#0b1020;color:#e5e7eb;font:14px system-ui,sans-serif}
.card{background:#151c30;border:1px solid #26304d;border-radius:12px;padding:10px;margin:0 0 10px}
h2{margin:0 0 8px;font-size:12px;letter-spacing:.08em;color:#93c5fd;text-transform:uppercase}
.row{display:flex;flex-wrap:wrap;gap:6px;align-items:center;margin:4px 0}
button,select,input[type=text],input[type=password]{background:#1f2a44;color:#e5e7eb;border:1px solid #334155;border-radius:8px;padding:9px 10px;font:inherit}
button{flex:1 1 auto;min-width:56px}
button.on{background:#2563eb;border-color:#60a5fa}
button.live{background:#dc2626;border-color:#f87171}
.pill{background:#1e293b;border-radius:999px;padding:3px 9px;font-size:12px;white-space:nowrap;overflow:hidden;text-overflow:ellipsis;max-width:100%}
.pill b{color:#93c5fd;font-weight:600}
label{display:flex;align-items:center;gap:8px;width:100%}
label span{width:64px;font-size:12px;color:#94a3b8}
label output{width:40px;text-align:right}
input[type=range]{flex:1}
.meter{height:8px;background:#1e293b;border-radius:4px;overflow:hidden;flex:1 1 100%}
.meter i{display:block;height:100%;width:0;background:#22c55e}
.big{font-size:28px;font-weight:700;min-width:64px;text-align:center}
video{display:none}canvas{width:100%;border-radius:8px;background:#000}
small{color:#94a3b8}
</style></head><body>
<div class="card"><h2>Sandorik Live Stage</h2><div class="row">
<span class="pill"><b>Style</b> <span data-t="styleName">—</span></span>
<span class="pill"><b>Tempo</b> <span data-t="bpm">—</span></span>
<span class="pill"><b>Phones</b> <span data-t="connectedPhoneCount">0</span></span>
<span class="pill"><b>Key</b> <span data-t="keyLabel">—</span></span>
<span class="pill"><b>Chord</b> <span data-t="chord">—</span></span>
<span class="pill"><b>Last</b> <span data-t="lastChangeSummary">—</span></span>
</div><small data-t="connectedPhonesText"></small> <small id="note"></small></div>

<div class="card"><h2>Phone Mic &amp; Camera</h2>
<div class="row"><button id="micBtn">START MIC</button><div class="meter"><i id="micLevel"></i></div></div>
<div class="row"><button id="camBtn">START CAMERA</button>
<select id="facing"><option value="user">Front</option><option value="environment">Back</option></select>
<select id="lens"><option value="">Any lens</option></select>
<select id="fit"><option value="fit">Wide fit</option><option value="crop">Crop</option></select></div>
<label><span>Field</span><input type="range" id="field" min="60" max="200" value="100"><output>100</output></label>
<label id="focusRow" hidden><span>Focus</span><input type="range" id="focus" min="0" max="1" step="0.01"><output></output></label>
<video id="video" playsinline muted></video><canvas id="canvas" width="960" height="540" hidden></canvas></div>

<div class="card"><h2>Tempo &amp; Key</h2>
<div class="row"><button data-c="BPM:ADD:-5">−5</button><button data-c="BPM:ADD:-1">−1</button>
<span class="big" data-t="bpm">—</span><button data-c="BPM:ADD:1">+1</button><button data-c="BPM:ADD:5">+5</button></div>
<label><span>Tempo</span><input type="range" min="40" max="220" data-k="bpm" data-cmd="BPM:SET:"><output></output></label>
<div class="row"><button data-c="METRO:TOGGLE" data-k="metronome" data-v="1">METRO</button>
<button id="tap">TAP</button><span class="big" id="tapBpm">—</span></div>
<div class="row"><button data-c="KEY:ADD:-1">KEY −1</button><button data-c="KEY:SET:0">KEY 0</button><button data-c="KEY:ADD:1">KEY +1</button></div>
<div class="row"><button data-c="OCT:ADD:-1">OCT −</button><button data-c="OCT:SET:0">OCT 0</button><button data-c="OCT:ADD:1">OCT +</button>
<span class="pill"><b>Oct</b> <span data-t="octave">0</span></span></div></div>

<div class="card"><h2>Beat</h2>
<div class="row"><button data-c="PROBAND:0" data-k="proBand" data-v="0">DRUMS ONLY</button><button data-c="PROBAND:1" data-k="proBand" data-v="1">BEAT + BAND</button></div>
<div class="row" id="beats"></div>
<div class="row"><select id="kit"></select><button data-c="BEAT:TOGGLE" data-k="playing" data-v="1">START / STOP</button><button data-c="FILL">FILL</button></div>
<div class="row" id="sections"></div></div>

<div class="card"><h2>Arranger</h2>
<div class="row"><button data-c="MODE:0" data-k="playMode" data-v="0">SING LOOP</button><button data-c="MODE:1" data-k="playMode" data-v="1">PLAY WITH KEYS</button></div>
<div class="row"><button data-c="STYLE:PREV">◀ STYLE</button><button data-c="STYLE:SELECT:" id="styleNow">SELECT</button><button data-c="STYLE:NEXT">STYLE ▶</button></div>
<div class="row" id="families"></div><div class="row" id="progs"></div>
<div class="row" id="chords"></div><div class="row" id="pads"></div></div>

<div class="card"><h2>Voices &amp; Performance</h2><div class="row" id="regs"></div>
<div class="row"><button data-c="AUTOTUNE:TOGGLE" data-k="autoTune" data-v="1">AUTO-TUNE</button><button data-c="AUTOTUNE:CYCLE">VOCAL FX: <span data-t="autoTuneMode"></span></button>
<button data-c="LAYER2:TOGGLE" data-k="layer2" data-v="1">LAYER 2</button><button data-c="SPLIT:TOGGLE" data-k="split" data-v="1">SPLIT</button>
<button data-c="SUSTAIN:TOGGLE" data-k="sustain" data-v="1">SUSTAIN</button><button data-c="AUTOPEDAL:TOGGLE" data-k="autoPedal" data-v="1">AUTO-PEDAL</button>
<button data-c="REC:TOGGLE" data-k="recording" data-v="1">REC</button><button data-c="PANIC" class="live">PANIC</button></div></div>

<div class="card"><h2>Mixer</h2><div id="mixer"></div>
<div class="row"><button data-c="MIX_PRESET:0">FULL STAGE</button><button data-c="MIX_PRESET:1">PIANO SOLO</button><button data-c="MIX_PRESET:2">SING-ALONG</button><button data-c="MIX_PRESET:5">BEATS ONLY</button></div></div>

<div class="card"><h2>Broadcast</h2>
<div class="row"><button data-c="STREAM:TOGGLE" data-k="broadcastActive" data-v="1">GO LIVE / STOP</button><button data-c="REC:TOGGLE" data-k="recording" data-v="1">REC</button>
<span class="pill" data-t="broadcastDuration">00:00</span></div><small data-t="broadcastStatus"></small>
<div class="row"><button data-c="STREAM:YT_TOGGLE" data-k="ytEnabled" data-v="1">YOUTUBE</button><button data-c="STREAM:FB_TOGGLE" data-k="fbEnabled" data-v="1">FACEBOOK</button>
<button data-c="STREAM:TT_TOGGLE" data-k="ttEnabled" data-v="1">TIKTOK</button><button data-c="STREAM:MP4_TOGGLE" data-k="mp4Enabled" data-v="1">MP4</button></div>
<div class="row"><select id="platform"><option value="yt">YouTube</option><option value="fb">Facebook</option><option value="tt">TikTok</option></select>
<input type="password" id="streamKey" placeholder="Stream key" autocomplete="off" style="flex:1"><button id="saveKey">SAVE KEY</button></div>
<div class="row"><button data-c="PIP:TOGGLE" data-k="pipEnabled" data-v="1">PIP CAM</button><button data-c="PIP:CORNER">CORNER <span data-t="pipCornerLabel"></span></button>
<button data-c="PIP:MIRROR" data-k="pipMirror" data-v="1">MIRROR</button><button data-c="WM:TOGGLE" data-k="wmEnabled" data-v="1">WATERMARK</button></div></div>

<script>
"use strict";
const $ = (id) => document.getElementById(id);
const TOKEN = new URLSearchParams(location.search).get("k") || "";
const PHONE_ID = (() => {
  try {
    let id = localStorage.getItem("tmb_phone_id");
    if (!id) {
      const abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
      id = "P-" + Array.from({length: 5}, () => abc[Math.floor(Math.random() * abc.length)]).join("");
      localStorage.setItem("tmb_phone_id", id);
    }
    return id;
  } catch (e) { return "P-" + (1000 + Math.floor(Math.random() * 9000)); }
})();
const api = (path, extra) => path + "?id=" + encodeURIComponent(PHONE_ID) + (extra || "") + "&k=" + encodeURIComponent(TOKEN);

// Controls built from tables: [label, command] (optionally the state key and value that light it).
function buttons(row, items) {
  for (const [label, command, key, value] of items) {
    const b = document.createElement("button");
    b.textContent = label;
    b.dataset.c = command;
    if (key) { b.dataset.k = key; b.dataset.v = value; }
    $(row).appendChild(b);
  }
}
buttons("beats", [[24, "Worship", 74], [28, "Gospel 6/8", 84], [29, "Pop", 112], [30, "Rock", 122], [31, "Jazz", 128],
  [32, "Funk", 102], [33, "Blues", 96], [34, "Neo-Soul", 88], [8, "Seben", 128], [0, "Mugithi", 118],
  [4, "Rhumba", 92], [16, "Reggae", 76], [25, "Gospel Soul", 80], [12, "Country", 116]]
  .map(([n, name, bpm]) => [name + " " + bpm, "BEAT_SELECT:" + n, "styleIdx", n]));
buttons("sections", [["INTRO", 0], ["VERSE A", 1], ["VERSE B", 2], ["CHORUS", 3], ["BRIDGE", 4], ["ENDING", 6]]
  .map(([label, n]) => [label, "SEC:" + n, "section", n]));
buttons("families", [["Mugithi", 0], ["Rhumba", 4], ["Seben", 8], ["Country", 12], ["Reggae", 16], ["Benga", 20], ["Gospel", 24], ["Studio", 28]]
  .map(([label, n]) => [label, "FAMILY:" + n]));
buttons("progs", [["1-4-1-5", 1], ["1-4-5-4", 2], ["1-6m-4-5", 3], ["6m-4-5", 4], ["1-4-5-1", 6], ["MANUAL", 0]]
  .map(([label, n]) => [label, "PROG:" + n, "progIdx", n]));
// The workstation numbers chord degrees up the scale: 1 I, 2 ii, 3 iii, 4 IV, 5 V, 6 vi.
buttons("chords", [["I", 1], ["IV", 4], ["V7", 5], ["vi", 6], ["ii", 2], ["iii", 3]].map(([label, n]) => [label, "CHORD:" + n, "chordDeg", n]));
buttons("pads", [["KICK", 36], ["SNARE", 38], ["HAT", 42], ["CRASH", 49]].map(([label, n]) => [label, "PAD:" + n]));
buttons("regs", [0, 1, 2, 3, 4, 5, 6, 7].map((n) => ["M" + (n + 1), "REG:" + n, "regSlot", n]));
for (const [label, channel, key] of [["Piano", "PIANO", "volPiano"], ["Layer", "LAYER", "volLayer"], ["Beats", "BEATS", "volBeats"],
    ["Band", "STYLE", "volStyle"], ["Lead", "LEAD", "volLead"], ["Mic", "MIC", "volMic"], ["Master", "MASTER", "volMaster"]]) {
  const row = document.createElement("label");
  row.innerHTML = '<span></span><input type="range" min="0" max="100"><output></output>';
  row.firstChild.textContent = label;
  Object.assign(row.querySelector("input").dataset, {k: key, cmd: "VOL:" + channel + ":"});
  $("mixer").appendChild(row);
}
["Standard", "Room", "Power Rock", "Jazz Brush", "Red Zeppelin", "Black Pearl", "Blonde Bop", "Buskman's Holiday"]
  .forEach((name, i) => $("kit").add(new Option(name + " Kit", i)));

function note(text) { $("note").textContent = text; }

// Commands go one after another, in the order they were pressed.
let lastState = {}, commands = Promise.resolve();
function send(command) {
  commands = commands.then(async () => {
    try {
      const reply = await fetch(api("/api/cmd", "&c=" + encodeURIComponent(command)), {cache: "no-store", signal: AbortSignal.timeout && AbortSignal.timeout(3000)});
      if (reply.ok) apply(await reply.json());
    } catch (e) { note("Connection lost"); }
  });
  return commands;
}
let polling = false;
async function poll() {
  if (polling) return;
  polling = true;
  try {
    const reply = await fetch(api("/api/state"), {cache: "no-store"});
    if (reply.ok) { apply(await reply.json()); note(""); }
  } catch (e) { note("Connection lost"); }
  polling = false;
}

// Sliders the user is moving keep their value against incoming state.
const touched = new Map();
function isBusy(input) { return document.activeElement === input || performance.now() - (touched.get(input) || -1e9) < 950; }
function apply(state) {
  lastState = state;
  document.querySelectorAll("[data-t]").forEach((el) => {
    if (state[el.dataset.t] !== undefined) el.textContent = String(state[el.dataset.t]);  // text, never HTML
  });
  document.querySelectorAll("button[data-k]").forEach((b) => {
    const v = state[b.dataset.k];
    b.classList.toggle("on", v !== undefined && String(Number(v)) === b.dataset.v);
  });
  document.querySelectorAll("input[data-k]").forEach((input) => {
    const v = state[input.dataset.k];
    if (typeof v !== "number" || isBusy(input)) return;
    input.value = Math.round(v);
    input.nextElementSibling.textContent = input.value;
  });
  $("styleNow").dataset.c = "STYLE:SELECT:" + (state.styleIdx || 0);
  const kit = [...$("kit").options].findIndex((o) => state.drumKitName && state.drumKitName.includes(o.text.replace(" Kit", "")));
  if (kit >= 0 && document.activeElement !== $("kit")) $("kit").selectedIndex = kit;
  handOver(state);
}

document.addEventListener("click", (e) => {
  const b = e.target.closest("button[data-c]");
  if (b) send(b.dataset.c);
});
document.querySelectorAll("input[data-cmd]").forEach((input) => {
  let sentAt = 0;
  const out = () => send(input.dataset.cmd + input.value);
  input.addEventListener("input", () => {
    touched.set(input, performance.now());
    input.nextElementSibling.textContent = input.value;
    if (performance.now() - sentAt > 150) { sentAt = performance.now(); out(); }
  });
  input.addEventListener("change", () => { touched.set(input, performance.now()); out(); });
});
$("kit").addEventListener("change", () => send("KIT:" + $("kit").value));
$("saveKey").addEventListener("click", () => {
  const key = $("streamKey").value.trim();
  if (!key) { alert("Paste the stream key first."); return; }
  send("STREAM:KEY:" + $("platform").value + ":" + key);
  $("streamKey").value = "";
});

// Tap tempo: the last four taps, a pause over 2.2 s starts again; a click for each tap.
let taps = [], tapCount = 0, clickCtx = null;
function click(first) {
  try {
    clickCtx = clickCtx || new AudioContext();
    const osc = clickCtx.createOscillator(), gain = clickCtx.createGain(), t = clickCtx.currentTime;
    osc.frequency.value = first ? 1760 : 1175;
    gain.gain.setValueAtTime(first ? 0.6 : 0.25, t);
    gain.gain.exponentialRampToValueAtTime(0.001, t + 0.05);
    osc.connect(gain).connect(clickCtx.destination);
    osc.start(t); osc.stop(t + 0.06);
  } catch (e) {}
}
$("tap").addEventListener("click", () => {
  const now = performance.now();
  if (taps.length && now - taps[taps.length - 1] > 2200) { taps = []; tapCount = 0; }
  taps.push(now);
  if (taps.length > 4) taps.shift();
  click(tapCount % 4 === 0);
  tapCount++;
  if (taps.length > 1) {
    const mean = (taps[taps.length - 1] - taps[0]) / (taps.length - 1);
    $("tapBpm").textContent = Math.min(220, Math.max(40, Math.round(60000 / mean)));
  }
  send("TAP_TEMPO");
});

// Microphone: mono 24 kHz, blocks of 1024 samples as signed 16-bit little-endian.
let mic = null, micSince = Infinity;
async function startMic() {
  try {
    const stream = await navigator.mediaDevices.getUserMedia({audio: {echoCancellation: true, noiseSuppression: true, autoGainControl: true, channelCount: 1}});
    const ctx = new AudioContext({sampleRate: 24000});
    const node = ctx.createScriptProcessor(1024, 1, 1);
    node.onaudioprocess = (e) => {
      const x = e.inputBuffer.getChannelData(0), out = new DataView(new ArrayBuffer(x.length * 2));
      let peak = 0;
      for (let i = 0; i < x.length; i++) {
        const s = Math.max(-1, Math.min(1, x[i]));
        peak = Math.max(peak, Math.abs(s));
        out.setInt16(i * 2, s < 0 ? s * 32768 : s * 32767, true);
      }
      $("micLevel").style.width = Math.min(100, Math.round(peak * 140)) + "%";
      fetch(api("/api/mic"), {method: "POST", body: out.buffer}).catch(() => {});
    };
    ctx.createMediaStreamSource(stream).connect(node);
    node.connect(ctx.destination);
    mic = {stream, ctx};
    $("micBtn").textContent = "STOP MIC";
    $("micBtn").classList.add("live");
    await send("MIC_START");
    micSince = lastState.stateSeq || 0;
  } catch (e) { note("Microphone unavailable: " + e.message); }
}
function stopMic(tell, label) {
  if (!mic) return;
  mic.stream.getTracks().forEach((t) => t.stop());
  mic.ctx.close();
  mic = null; micSince = Infinity;
  $("micLevel").style.width = "0";
  $("micBtn").textContent = label || "START MIC";
  $("micBtn").classList.remove("live");
  if (tell) send("MIC_STOP");
}
$("micBtn").addEventListener("click", () => (mic ? stopMic(true) : startMic()));

// Camera: 960x540 JPEG frames, one upload in flight, at least 65 ms apart.
let cam = null, camSince = Infinity;
async function startCam() {
  try {
    const video = {width: {ideal: 1280}, height: {ideal: 720}};
    if ($("lens").value) video.deviceId = {exact: $("lens").value}; else video.facingMode = $("facing").value;
    const stream = await navigator.mediaDevices.getUserMedia({video, audio: false});
    const track = stream.getVideoTracks()[0];
    const caps = track.getCapabilities ? track.getCapabilities() : {};
    const best = {};
    for (const mode of ["focusMode", "exposureMode", "whiteBalanceMode"])
      if ((caps[mode] || []).includes("continuous")) best[mode] = "continuous";
    if (caps.zoom) best.zoom = caps.zoom.min;
    try { await track.applyConstraints({advanced: [best]}); } catch (e) {}
    if (caps.focusDistance) {
      Object.assign($("focus"), {min: caps.focusDistance.min, max: caps.focusDistance.max, step: caps.focusDistance.step || 0.01});
      $("focusRow").hidden = false;
    }
    $("video").srcObject = stream;
    await $("video").play();
    cam = {stream, track, busy: false, last: 0, timer: setInterval(uploadFrame, 45)};
    $("canvas").hidden = false;
    $("camBtn").textContent = "STOP CAMERA";
    $("camBtn").classList.add("live");
    listLenses();
    await send("CAM_START");
    camSince = lastState.stateSeq || 0;
  } catch (e) { note("Camera unavailable: " + e.message); }
}
function stopCam(tell, label) {
  if (!cam) return;
  clearInterval(cam.timer);
  cam.stream.getTracks().forEach((t) => t.stop());
  cam = null; camSince = Infinity;
  $("canvas").hidden = true;
  $("camBtn").textContent = label || "START CAMERA";
  $("camBtn").classList.remove("live");
  if (tell) send("CAM_STOP");
}
function uploadFrame() {
  const v = $("video"), now = performance.now();
  if (!cam || cam.busy || now - cam.last < 65 || !v.videoWidth) return;
  const g = $("canvas").getContext("2d"), field = $("field").value / 100;
  const fit = $("fit").value === "fit" ? Math.min : Math.max;
  const scale = fit(960 / v.videoWidth, 540 / v.videoHeight) * field;
  const w = v.videoWidth * scale, h = v.videoHeight * scale;
  g.fillStyle = "#000";
  g.fillRect(0, 0, 960, 540);
  g.drawImage(v, (960 - w) / 2, (540 - h) / 2, w, h);
  cam.busy = true;
  cam.last = now;
  const mine = cam;
  $("canvas").toBlob((blob) => {
    fetch(api("/api/cam"), {method: "POST", body: blob}).catch(() => {}).finally(() => { mine.busy = false; });
  }, "image/jpeg", 0.9);
}
async function listLenses() {
  const lenses = (await navigator.mediaDevices.enumerateDevices()).filter((d) => d.kind === "videoinput");
  const chosen = $("lens").value;
  $("lens").length = 1;
  lenses.forEach((d, i) => $("lens").add(new Option(d.label || "Camera " + (i + 1), d.deviceId)));
  $("lens").value = chosen;
}
$("camBtn").addEventListener("click", () => (cam ? stopCam(true) : startCam()));
$("field").addEventListener("input", () => { $("field").nextElementSibling.textContent = $("field").value; });
$("focus").addEventListener("input", () => {
  if (cam) cam.track.applyConstraints({advanced: [{focusMode: "manual", focusDistance: Number($("focus").value)}]}).catch(() => {});
});

// Another phone took the microphone or camera: stop ours, without telling the workstation.
function handOver(state) {
  const seq = state.stateSeq || 0;
  if (mic && state.activeMicPhoneId && state.activeMicPhoneId !== PHONE_ID && seq > micSince)
    stopMic(false, "MIC IN USE ON " + state.activeMicPhoneId);
  if (cam && state.activeCamPhoneId && state.activeCamPhoneId !== PHONE_ID && seq > camSince)
    stopCam(false, "CAMERA IN USE ON " + state.activeCamPhoneId);
}

send("HELLO");
setInterval(poll, 450);
</script></body></html>
""".encode("utf-8")


if __name__ == "__main__":
    sys.exit(main(sys.argv, os.environ))
