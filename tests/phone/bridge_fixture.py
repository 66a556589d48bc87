# Runs the phone bridge script as the workstation does, on 127.0.0.1, and collects its lines.
import os, queue, subprocess, threading, time

SCRIPT = os.environ.get("TMB_PHONE_BRIDGE_SCRIPT") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "phone", "phone_bridge.py")
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

    def stop(self):
        self.proc.kill()
        self.proc.wait()
