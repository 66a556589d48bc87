#!/usr/bin/python3
# The real phone bridge script (and openssl) on 127.0.0.1: requests in, answers and lines out;
# then its page in headless Chromium (fake camera and microphone), the test standing in for the
# workstation: it reads the bridge's lines and publishes the state.
import atexit, base64, http.client, json, os, queue, signal, socket, ssl, struct, subprocess, sys, tempfile, threading, time, unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.wait import WebDriverWait

SCRIPT = os.environ.get("TMB_PHONE_BRIDGE_SCRIPT") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "phone", "phone_bridge.py")
TOKEN = "a1B2c3D4e5F6g7H8i9J0k1L2m3N4o5P6"
HOSTILE = '<img src=x onerror="window.pwned=1">'


class Bridge:
    """The script run as the workstation runs it, on 127.0.0.1, its lines collected."""

    def __init__(self, folder, extra_env=None, args=("https://10.0.0.9:8443",)):
        self.runtime, self.data = os.path.join(folder, "run"), os.path.join(folder, "data")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ, TMB_PHONE_TOKEN=TOKEN, TMB_PHONE_RUNTIME_DIR=self.runtime,
                   TMB_PHONE_DATA_DIR=self.data, TMB_PHONE_HTTPS_BIND="127.0.0.1")
        env.update(extra_env or {})
        self.proc = subprocess.Popen(["/usr/bin/python3", "-u", SCRIPT, *args], env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=lambda: [self.lines.put(l.rstrip("\n")) for l in self.proc.stdout], daemon=True).start()

    def until(self, predicate, timeout=60, count=1):
        """The lines read up to the count-th that matches; the next call reads on from there."""
        seen, end = [], time.time() + timeout
        while time.time() < end:
            try:
                seen.append(self.lines.get(timeout=0.2))
            except queue.Empty:
                continue
            count -= bool(predicate(seen[-1]))
            if count == 0:
                return seen
        raise AssertionError(f"no matching line; saw {seen}")

    def stop(self):
        self.proc.kill()
        self.proc.wait()


class WithBridge(unittest.TestCase):
    env, args = {}, ("https://10.0.0.9:8443",)

    @classmethod
    def setUpClass(cls):  # the cleanups run also when a set-up fails: the next class needs the ports
        cls.folder = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.folder.cleanup)
        cls.bridge = Bridge(cls.folder.name, cls.env, cls.args)
        cls.addClassCleanup(cls.bridge.stop)
        cls.start = cls.bridge.until(lambda l: l.startswith(("READY:", "ERR_")))


def status_of_announced_body(path, length):
    """The answer to a POST whose body is announced but not sent: refusals come first."""
    header = f"Content-Length: {length}" if length != "chunked" else "Transfer-Encoding: chunked"
    with socket.create_connection(("127.0.0.1", 8088), timeout=10) as raw:
        raw.sendall(f"POST {path} HTTP/1.1\r\n{header}\r\n\r\n".encode())
        return int(raw.recv(100).split()[1])


def request(method, path, body=None, port=8088, tls=False):
    conn = (http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=ssl._create_unverified_context())
            if tls else http.client.HTTPConnection("127.0.0.1", port, timeout=10))
    conn.request(method, path, body)
    reply = conn.getresponse()
    reply.data = reply.read()
    conn.close()
    return reply


def printed_by(bridge, method, path, body=None):
    """Answer and the lines one request printed: a marker request follows it."""
    reply = request(method, path, body)
    request("GET", f"/?id=MARK&k={TOKEN}")
    return reply, bridge.until(lambda l: l.startswith("CONN:MARK|"))[:-1]


class Running(WithBridge):
    env = {"TMB_PHONE_IDLE_TIMEOUT": "0.5"}

    def test_start_listens_privately(self):
        self.assertEqual(self.start[-1], "READY:8443")
        self.assertEqual(os.stat(os.path.join(self.bridge.data, "tmb_phone_key.pem")).st_mode & 0o777, 0o600)
        reply = request("GET", f"/api/state?k={TOKEN}", port=8443, tls=True)
        self.assertEqual(reply.status, 200)
        listening = [row.split()[1] for row in open("/proc/net/tcp").read().splitlines()[1:] if row.split()[3] == "0A"]
        self.assertIn("0100007F:1F98", listening)  # plain HTTP on 127.0.0.1:8088 only
        self.assertNotIn("00000000:1F98", listening)
        with socket.create_connection(("127.0.0.1", 8088), timeout=5) as idle:  # an idle client is let go
            began = time.time()
            self.assertEqual(idle.recv(10), b"")
            self.assertLess(time.time() - began, 4)

    def test_requests_without_the_token_are_refused_silently(self):
        for method, path in [("GET", "/"), ("GET", "/?id=X&k="), ("GET", f"/api/state?id=X&k={TOKEN[:-1]}"),
                             ("GET", f"/api/cmd?id=X&c=PANIC&k={TOKEN}0"), ("GET", f"/api/cmd?id=X&c=PANIC&K={TOKEN}"),
                             ("POST", f"/api/mic?id=X&k={TOKEN.lower()}"), ("POST", "/api/cam?id=X")]:
            with self.subTest(path=path):
                reply, lines = printed_by(self.bridge, method, path, b"\x01\x02" if method == "POST" else None)
                self.assertEqual((reply.status, lines), (403, []))

    def test_get_answers_and_lines(self):
        state = os.path.join(self.bridge.runtime, "tmb_phone_state.json")
        json_type = ("application/json", "no-store", None)
        for path, lines, headers, body, state_text in [
            ("/?id=P-1", ["CONN:P-1|127.0.0.1"], ("text/html; charset=utf-8", "no-store, no-cache, must-revalidate, max-age=0", "no-cache"), b"Live Stage Phone Controller", None),
            ("/?id=", [], ("text/html; charset=utf-8", "no-store, no-cache, must-revalidate, max-age=0", "no-cache"), b"<title>", None),
            ("/api/state?id=", [], json_type, b"{}", None),
            ("/api/state?id=P-2", ["CONN:P-2|127.0.0.1"], json_type, b'{"bpm":97}', '{"bpm":97}'),
            ("/api/cmd?id=P-3&c=BPM%3AADD%3A5", ["CONN:P-3|127.0.0.1", "CMD:P-3|127.0.0.1|BPM:ADD:5"], json_type, b'{"x":"\xc3\xa9"}', '{"x":"é"}'),
            ("/api/cmd?id=P-3&c=", ["CONN:P-3|127.0.0.1"], json_type, b"{}", ""),
            ("/api/cmd?id=A%0AMIC%3AB%7CAAAA&c=PANIC%0ACMD%3AB%7C1%7CSTREAM%3ATOGGLE%C2%85x",
             ["CONN:AMIC:BAAAA|127.0.0.1", "CMD:AMIC:BAAAA|127.0.0.1|PANICCMD:B|1|STREAM:TOGGLEx"], json_type, b"{}", None),
            ("/api/cmd?id=" + "Z" * 70 + "&c=HELLO", ["CONN:" + "Z" * 64 + "|127.0.0.1", "CMD:" + "Z" * 64 + "|127.0.0.1|HELLO"], json_type, b"{}", None),
        ]:
            with self.subTest(path=path):
                if state_text is not None:
                    open(state, "w", encoding="utf-8").write(state_text)
                elif os.path.exists(state):
                    os.remove(state)
                reply, printed = printed_by(self.bridge, "GET", path + f"&k={TOKEN}")
                self.assertEqual((reply.status, printed), (200, lines))
                self.assertEqual((reply.getheader("Content-Type"), reply.getheader("Cache-Control"), reply.getheader("Pragma")), headers)
                self.assertIn(body, reply.data)
                self.assertEqual(int(reply.getheader("Content-Length")), len(reply.data))

    def test_uploads_and_their_limits(self):
        frame = os.path.join(self.bridge.runtime, "tmb_phone_cam.jpg")
        mic_block, small_frame, big_frame = os.urandom(16384), b"\xff\xd8jpeg", os.urandom(4 << 20)
        for path, length, status in [("/api/mic", 16385, 413), ("/api/cam", (4 << 20) + 1, 413), ("/api/x", 16385, 413),
                                     ("/api/mic", "12x", 400), ("/api/cam", -1, 400), ("/api/cam", "chunked", 411)]:
            with self.subTest(path=path, length=length):
                self.assertEqual(status_of_announced_body(f"{path}?id=M1&k={TOKEN}", length), status)
        state = os.path.join(self.bridge.runtime, "tmb_phone_state.json")
        for path, body, status, lines, owner in [
            ("/api/mic?id=M1", mic_block, 200, ["MIC:M1|" + base64.b64encode(mic_block).decode()], None),
            ("/api/mic?id=M1", b"", 200, [], None),
            ("/api/cam?id=C1", small_frame, 200, ["CAM:C1|1"], None),
            ("/api/cam?id=C%7C2", big_frame, 200, ["CAM:C2|2"], ""),
            ("/api/x?id=C1", small_frame, 200, [], None),
            ("/api/cam?id=C1", small_frame, 409, [], "C2"),  # the camera was handed over
            ("/api/cam?id=C2", small_frame, 200, ["CAM:C2|3"], "C2"),
        ]:
            with self.subTest(path=path, size=len(body), owner=owner):
                if owner is None:
                    os.path.exists(state) and os.remove(state)
                else:
                    open(state, "w").write(f'{{"activeCamPhoneId":"{owner}"}}')
                before = open(frame, "rb").read() if os.path.exists(frame) else None
                reply, printed = printed_by(self.bridge, "POST", path + f"&k={TOKEN}", body)
                self.assertEqual((reply.status, printed), (status, lines))
                if path.startswith("/api/cam"):
                    self.assertEqual(open(frame, "rb").read(), body if lines else before)


class Starting(unittest.TestCase):
    def test_failures_and_qr_code(self):
        recorder = "class _I:\n  def __init__(s, t): s.t = t\n  def save(s, p): open(p, 'w').write(s.t)\ndef make(t): return _I(t)\n"
        absent = "raise ImportError('absent')\n"
        for env, taken, args, module, last, code, link in [
            ({"TMB_PHONE_TOKEN": TOKEN[:31]}, None, (), recorder, "ERR_HTTPS:no access token", 2, None),
            ({"TMB_PHONE_DATA_DIR": ""}, None, (), recorder, "ERR_HTTPS:no runtime or data folder", 2, None),
            ({}, 8443, ("https://10.0.0.9:8443",), recorder, "ERR_HTTPS:", 1, f"https://10.0.0.9:8443/?k={TOKEN}"),
            ({}, 8088, ("https://relay.example/",), recorder, "READY:8443", None, f"https://relay.example/?k={TOKEN}"),
            ({}, None, (), recorder, "READY:8443", None, f"https://127.0.0.1:8443/?k={TOKEN}"),
            ({}, None, ("https://10.0.0.9:8443",), absent, "READY:8443", None, None)]:
            with self.subTest(env=env, taken=taken, args=args), tempfile.TemporaryDirectory() as folder, socket.socket() as blocker:
                if taken:
                    blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                    blocker.bind(("127.0.0.1", taken))
                    blocker.listen()
                os.makedirs(os.path.join(folder, "py"))
                with open(os.path.join(folder, "py", "qrcode.py"), "w") as stand_in:
                    stand_in.write(module)
                bridge = Bridge(folder, dict(env, PYTHONPATH=os.path.join(folder, "py")), args)
                try:
                    lines = bridge.until(lambda l: l.startswith(("READY:", "ERR_HTTPS:")))
                    self.assertTrue(lines[-1].startswith(last), lines)
                    self.assertEqual(any(l.startswith("ERR_HTTP:") for l in lines), taken == 8088)
                    if code is not None:
                        self.assertEqual(bridge.proc.wait(timeout=10), code)
                    qr = os.path.join(bridge.runtime, "tmb_phone_qr.png")
                    self.assertEqual([l for l in lines if l.startswith("QR_READY:")], ["QR_READY:" + qr] if link else [])
                    self.assertEqual(open(qr).read() if link else os.path.exists(qr), link or False)
                finally:
                    bridge.stop()


class Page(WithBridge):
    args = ("http://127.0.0.1:8088",)
    state = {"bpm": 100, "styleName": "Worship", "chord": "C (I)", "metronome": False, "volPiano": 80}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.publish()
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required",
                     "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream"]:
            options.add_argument(flag)
        options.add_experimental_option("mobileEmulation", {"deviceMetrics": {"width": 412, "height": 915, "pixelRatio": 1.0}})
        cls.phone = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        # A test killed on a timeout must not leave Chromium running: quit on exit and on SIGTERM.
        atexit.register(cls.phone.quit)
        cls.addClassCleanup(cls.phone.quit)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        cls.phone.get(f"http://127.0.0.1:8088/?k={TOKEN}")
        cls.phone_id = cls.phone.execute_script("return PHONE_ID")
        cls.sent("HELLO")  # the page's first command

    @classmethod
    def publish(cls, **changes):
        cls.state.update(changes)
        path = os.path.join(cls.bridge.runtime, "tmb_phone_state.json")
        with open(path + ".new", "w") as f:
            json.dump(cls.state, f)
        os.replace(path + ".new", path)

    @classmethod
    def sent(cls, command, count=1):
        return cls.bridge.until(lambda l: l == f"CMD:{cls.phone_id}|127.0.0.1|{command}", 10, count)

    def js(self, script, *args):
        return self.phone.execute_script(script, *args)

    def until(self, check, timeout=10):
        return WebDriverWait(self.phone, timeout, 0.05).until(lambda _: check())

    def test_controls_send_their_commands(self):
        for script, command in [
            ("[...document.querySelectorAll('button')].find((b) => b.textContent == 'V7').click()", "CHORD:5"),
            ("document.querySelector('button[data-c=\"MIX_PRESET:5\"]').click()", "MIX_PRESET:5"),
            ("$('kit').value = 3; $('kit').dispatchEvent(new Event('change'))", "KIT:3"),
            ("$('platform').value = 'fb'; $('streamKey').value = 'abcd-EFGH 1&2'; $('saveKey').click()", "STREAM:KEY:fb:abcd-EFGH 1&2"),
        ]:
            with self.subTest(command=command):
                self.js(script)
                self.sent(command)
        # An empty stream key is refused on the phone.
        self.js("window.alert = (t) => { window.alerted = t }; $('streamKey').value = ' '; $('saveKey').click()")
        self.assertTrue(self.js("return window.alerted"))
        # State lights the matching buttons.
        self.publish(metronome=True, styleIdx=31)
        self.until(lambda: self.js("return [...document.querySelectorAll('button.on')].map(b => b.dataset.c)")
                   == ["METRO:TOGGLE", "BEAT_SELECT:31"], 2)

    def test_moved_slider_keeps_its_value_until_let_go(self):
        slide = ("const s = document.querySelector('input[data-cmd=\"VOL:PIANO:\"]'); s.value = arguments[0];"
                 "s.dispatchEvent(new Event('input')); s.dispatchEvent(new Event('change')); s.blur()")
        value = "const s = document.querySelector('input[data-cmd=\"VOL:PIANO:\"]'); return [s.value, s.nextElementSibling.textContent]"
        self.js(slide, 30)
        self.sent("VOL:PIANO:30")
        time.sleep(0.7)  # polls answered with 80 arrived meanwhile
        self.assertEqual(self.js(value), ["30", "30"])  # the number beside it too
        self.until(lambda: self.js(value) == ["80", "80"], 2)

    def test_tap_tempo(self):  # a pause over 2.2 s starts again, one of exactly 2.2 s does not
        for gaps, shown in [([500, 500, 500], "120"), ([500, 3000, 400, 400, 400, 500], "138"), ([500, 2200, 500], "56"),
                            ([250, 250, 250], "220"), ([2000, 2000], "40")]:
            with self.subTest(gaps=gaps):
                self.js("let t = (window.clock || 0) + 10000; window.clock = t; performance.now = () => window.clock;"
                        "const tap = $('tap'); tap.click(); for (const g of arguments[0]) { window.clock += g; tap.click(); }", gaps)
                self.assertEqual(self.js("return $('tapBpm').textContent"), shown)
                self.sent("TAP_TEMPO", count=len(gaps) + 1)
        self.js("delete performance.now")

    def test_other_phones_texts_stay_text(self):
        self.publish(connectedPhonesText=HOSTILE, lastChangeSummary=HOSTILE, styleName=HOSTILE)
        texts = "return ['connectedPhonesText', 'lastChangeSummary', 'styleName'].map((k) => document.querySelector(`[data-t=${k}]`).textContent)"
        self.until(lambda: self.js(texts) == [HOSTILE] * 3)
        self.assertEqual(self.js("return [window.pwned, document.querySelectorAll('img').length]"), [None, 0])

    def test_microphone_and_camera_upload(self):
        for button, command in [("micBtn", "MIC_START"), ("camBtn", "CAM_START")]:
            self.phone.find_element("id", button).click()
            self.sent(command)
        mine = lambda kind: lambda l: l.startswith(f"{kind}:{self.phone_id}|")
        blocks = [base64.b64decode(l.split("|")[1]) for l in self.bridge.until(mine("MIC"), 30, 30) if mine("MIC")(l)]
        self.assertEqual({len(b) for b in blocks}, {2048})  # 1024 samples of 16 bits
        self.assertGreater(max(max(map(abs, struct.unpack("<1024h", b))) for b in blocks), 1000)  # the fake beep
        self.bridge.until(mine("CAM"), 30, 4)
        with open(os.path.join(self.bridge.runtime, "tmb_phone_cam.jpg"), "rb") as frame:
            self.assertEqual(frame.read(2), b"\xff\xd8")
        for button, command in [("micBtn", "MIC_STOP"), ("camBtn", "CAM_STOP")]:
            self.phone.find_element("id", button).click()
            self.sent(command)

    def test_fits_a_phone_screen(self):
        self.assertLessEqual(self.js("return document.documentElement.scrollWidth"), 412)


if __name__ == "__main__":
    unittest.main(verbosity=2)
