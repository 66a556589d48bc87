#!/usr/bin/python3
# The phone bridge script on its own: requests in, answers and printed lines out.
# Runs the real script under /usr/bin/python3 with the real openssl, on 127.0.0.1.
import base64, http.client, os, queue, socket, ssl, subprocess, sys, tempfile, threading, time, unittest

SCRIPT = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "src", "phone", "phone_bridge.py")
TOKEN = "a1B2c3D4e5F6g7H8i9J0k1L2m3N4o5P6"


class Bridge:
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

    def until(self, predicate, timeout=60):
        seen, end = [], time.time() + timeout
        while time.time() < end:
            try:
                seen.append(self.lines.get(timeout=0.2))
            except queue.Empty:
                continue
            if predicate(seen[-1]):
                return seen
        raise AssertionError(f"no matching line; saw {seen}")

    def printed_by(self, method, path, body=None, headers=None):
        """Answer and the lines one request printed: a marker request follows it."""
        reply = request(method, path, body, headers)
        request("GET", f"/?id=MARK&k={TOKEN}")
        return reply, self.until(lambda l: l.startswith("CONN:MARK|"))[:-1]

    def stop(self):
        self.proc.kill()
        self.proc.wait()


def status_of_announced_body(path, length):
    """The answer to a POST whose body is announced but not sent: refusals come first."""
    with socket.create_connection(("127.0.0.1", 8088), timeout=10) as raw:
        raw.sendall(f"POST {path} HTTP/1.1\r\nContent-Length: {length}\r\n\r\n".encode())
        return int(raw.recv(100).split()[1])


def request(method, path, body=None, headers=None, port=8088, tls=False):
    if tls:
        conn = http.client.HTTPSConnection("127.0.0.1", port, timeout=10, context=ssl._create_unverified_context())
    else:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    conn.request(method, path, body, headers or {})
    reply = conn.getresponse()
    reply.data = reply.read()
    conn.close()
    return reply


class Running(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.bridge = Bridge(cls.folder.name, {"TMB_PHONE_IDLE_TIMEOUT": "0.5"})
        cls.start = cls.bridge.until(lambda l: l.startswith(("READY:", "ERR_")))

    @classmethod
    def tearDownClass(cls):
        cls.bridge.stop()
        cls.folder.cleanup()

    def test_start_makes_a_private_certificate(self):
        self.assertEqual(self.start[-1], "READY:8443")
        self.assertEqual(os.stat(os.path.join(self.bridge.data, "tmb_phone_key.pem")).st_mode & 0o777, 0o600)
        reply = request("GET", f"/api/state?k={TOKEN}", port=8443, tls=True)
        self.assertEqual(reply.status, 200)
        listening = [row.split()[1] for row in open("/proc/net/tcp").read().splitlines()[1:] if row.split()[3] == "0A"]
        self.assertIn("0100007F:1F98", listening)  # plain HTTP on 127.0.0.1:8088 only
        self.assertNotIn("00000000:1F98", listening)

    def test_requests_without_the_token_are_refused_silently(self):
        for method, path in [("GET", "/"), ("GET", "/?id=X&k="), ("GET", f"/api/state?id=X&k={TOKEN[:-1]}"),
                             ("GET", f"/api/cmd?id=X&c=PANIC&k={TOKEN}0"), ("GET", f"/api/cmd?id=X&c=PANIC&K={TOKEN}"),
                             ("POST", f"/api/mic?id=X&k={TOKEN.lower()}"), ("POST", "/api/cam?id=X")]:
            with self.subTest(path=path):
                reply, lines = self.bridge.printed_by(method, path, b"\x01\x02" if method == "POST" else None)
                self.assertEqual((reply.status, lines), (403, []))

    def test_get_answers_and_lines(self):
        state = os.path.join(self.bridge.runtime, "tmb_phone_state.json")
        json_type = ("application/json", "no-store", None)
        for path, lines, headers, body, state_text in [
            ("/?id=P-1", ["CONN:P-1|127.0.0.1"], ("text/html; charset=utf-8", "no-store, no-cache, must-revalidate, max-age=0", "no-cache"), b"Live Stage Phone Controller", None),
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
                reply, printed = self.bridge.printed_by("GET", path + f"&k={TOKEN}")
                self.assertEqual((reply.status, printed), (200, lines))
                self.assertEqual((reply.getheader("Content-Type"), reply.getheader("Cache-Control"), reply.getheader("Pragma")), headers)
                self.assertIn(body, reply.data)
                self.assertEqual(int(reply.getheader("Content-Length")), len(reply.data))

    def test_uploads_and_their_limits(self):
        frame = os.path.join(self.bridge.runtime, "tmb_phone_cam.jpg")
        mic_block, small_frame, big_frame = os.urandom(16384), b"\xff\xd8jpeg", os.urandom(4 << 20)
        for path, length, status in [("/api/mic", 16385, 413), ("/api/cam", (4 << 20) + 1, 413), ("/api/x", 16385, 413),
                                     ("/api/mic", "12x", 400), ("/api/cam", -1, 400)]:
            with self.subTest(path=path, length=length):
                self.assertEqual(status_of_announced_body(f"{path}?id=M1&k={TOKEN}", length), status)
        for path, body, status, lines in [
            ("/api/mic?id=M1", mic_block, 200, ["MIC:M1|" + base64.b64encode(mic_block).decode()]),
            ("/api/mic?id=M1", b"", 200, []),
            ("/api/cam?id=C1", small_frame, 200, ["CAM:C1|1"]),
            ("/api/cam?id=C%7C2", big_frame, 200, ["CAM:C2|2"]),
            ("/api/x?id=C1", small_frame, 200, []),
        ]:
            with self.subTest(path=path, size=len(body)):
                reply, printed = self.bridge.printed_by("POST", path + f"&k={TOKEN}", body)
                self.assertEqual((reply.status, printed), (status, lines))
                if lines and path.startswith("/api/cam"):
                    self.assertEqual(open(frame, "rb").read(), body)

    def test_idle_connection_is_closed(self):
        with socket.create_connection(("127.0.0.1", 8088), timeout=5) as idle:
            began = time.time()
            self.assertEqual(idle.recv(10), b"")
            self.assertLess(time.time() - began, 4)


class Failures(unittest.TestCase):
    def run_bridge(self, env=None, args=("https://10.0.0.9:8443",), qrcode_module=None):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        env = dict(env or {})
        if qrcode_module is not None:
            os.makedirs(os.path.join(folder.name, "py"))
            open(os.path.join(folder.name, "py", "qrcode.py"), "w").write(qrcode_module)
            env["PYTHONPATH"] = os.path.join(folder.name, "py")
        bridge = Bridge(folder.name, env, args)
        self.addCleanup(bridge.stop)
        return bridge, bridge.until(lambda l: l.startswith(("READY:", "ERR_HTTPS:")))

    def test_start_failures(self):
        for env, taken, expected, code in [({"TMB_PHONE_TOKEN": "short"}, None, "ERR_HTTPS:no access token", 2),
                                           ({"TMB_PHONE_DATA_DIR": ""}, None, "ERR_HTTPS:no runtime or data folder", 2),
                                           ({}, 8443, "ERR_HTTPS:", 1), ({}, 8088, "READY:8443", None)]:
            with self.subTest(env=env, taken=taken):
                blocker = socket.socket()
                self.addCleanup(blocker.close)
                if taken:
                    blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                    blocker.bind(("127.0.0.1", taken))
                    blocker.listen()
                bridge, lines = self.run_bridge(env)
                self.assertTrue(lines[-1].startswith(expected), lines)
                self.assertEqual(any(l.startswith("ERR_HTTP:") for l in lines), taken == 8088)
                if code is not None:
                    self.assertEqual(bridge.proc.wait(timeout=10), code)
                bridge.stop()
                blocker.close()

    def test_qr_code_carries_the_token(self):
        recorder = "class _I:\n  def __init__(s, t): s.t = t\n  def save(s, p): open(p, 'w').write(s.t)\ndef make(t): return _I(t)\n"
        for args, module, link in [(("https://10.0.0.9:8443",), recorder, f"https://10.0.0.9:8443/?k={TOKEN}"),
                                   (("https://relay.example/",), recorder, f"https://relay.example/?k={TOKEN}"),
                                   ((), recorder, f"https://127.0.0.1:8443/?k={TOKEN}"),
                                   (("https://10.0.0.9:8443",), "raise ImportError('absent')\n", None)]:
            with self.subTest(args=args, link=link):
                bridge, lines = self.run_bridge(args=args, qrcode_module=module)
                qr = os.path.join(bridge.runtime, "tmb_phone_qr.png")
                self.assertEqual([l for l in lines if l.startswith("QR_READY:")], ["QR_READY:" + qr] if link else [])
                self.assertEqual(open(qr).read() if link else os.path.exists(qr), link or False)
                bridge.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
