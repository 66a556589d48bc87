#!/usr/bin/python3
"""Load on the phone bridge: 20 simulated phones on 127.0.0.1.

    /usr/bin/python3 bench/phone_load.py [--seconds 60] [--phones 20]

Starts src/phone/phone_bridge.py as the workstation does, with a stand-in for the
workstation's side that reads every line, applies each command as a change
(stateSeq + 1) and republishes a full-size state file atomically. Each phone polls
/api/state every 450 ms and sends a command every 2 s over its own keep-alive
connection; phone 1 also streams microphone blocks (1024 samples at 24 kHz), phone 2
uploads a 60 KB JPEG every 65 ms. Prints requests/s, the p50/p99 of /api/cmd, the
bridge's CPU use and the checks: every answer 200 with a complete state, stateSeq grown
by exactly the commands sent, every microphone block and camera frame reported.
"""
import argparse, http.client, json, os, random, statistics, subprocess, sys, tempfile, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "src", "phone", "phone_bridge.py")
TOKEN = "".join(random.choice("0123456789abcdef") for _ in range(32))
COMMANDS = ["SEC:1", "PIP:CORNER", "KEY:ADD:1", "BPM:SET:96", "VOL:PIANO:80", "PROG:2", "FILL"]


class StandIn:
    """The workstation's side: lines in, state file out."""

    def __init__(self, proc, runtime):
        self.proc, self.path = proc, os.path.join(runtime, "tmb_phone_state.json")
        self.seq = self.mic = self.cam = 0
        self.state = {f"key{i}": "x" * 20 for i in range(50)}  # about the real file's size
        self.publish()
        self.ready = threading.Event()
        threading.Thread(target=self.read, daemon=True).start()

    def publish(self):
        self.state["stateSeq"] = self.seq
        with open(self.path + ".new", "w") as f:
            json.dump(self.state, f, separators=(",", ":"))
        os.replace(self.path + ".new", self.path)

    def read(self):
        for line in self.proc.stdout:
            if line.startswith("READY:"):
                self.ready.set()
            elif line.startswith("MIC:"):
                self.mic += 1
            elif line.startswith("CAM:"):
                self.cam += 1
            elif line.startswith("CMD:") and not line.rstrip().endswith("|HELLO"):
                self.seq += 1
                self.publish()


class Phone(threading.Thread):
    def __init__(self, number, until, stats):
        super().__init__(daemon=True)
        self.id, self.until, self.stats = f"LOAD-{number}", until, stats
        self.mic, self.cam = number == 1, number == 2

    def get(self, conn, path):
        began = time.perf_counter()
        conn.request("GET", f"{path}&id={self.id}&k={TOKEN}")
        reply = conn.getresponse()
        body = reply.read()
        took = time.perf_counter() - began
        try:
            complete = reply.status == 200 and "stateSeq" in json.loads(body)
        except ValueError:
            complete = False
        self.stats.record(path, took, complete)

    def post(self, conn, path, body):
        conn.request("POST", f"{path}?id={self.id}&k={TOKEN}", body)
        reply = conn.getresponse()
        reply.read()
        self.stats.record(path, 0, reply.status == 200)

    def run(self):
        conn = http.client.HTTPConnection("127.0.0.1", 8088, timeout=10)
        uploads = http.client.HTTPConnection("127.0.0.1", 8088, timeout=10)
        next_poll = next_cmd = next_upload = time.time()
        block, frame = os.urandom(2048), b"\xff\xd8" + os.urandom(60000)
        while time.time() < self.until:
            now = time.time()
            if now >= next_poll:
                self.get(conn, "/api/state?x=1")
                next_poll += 0.45
            if now >= next_cmd:
                self.get(conn, "/api/cmd?c=" + random.choice(COMMANDS))
                next_cmd += 2.0
            if (self.mic or self.cam) and now >= next_upload:
                self.post(uploads, "/api/mic" if self.mic else "/api/cam", block if self.mic else frame)
                next_upload += 1024 / 24000 if self.mic else 0.065
            wake = min([next_poll, next_cmd] + ([next_upload] if self.mic or self.cam else []))
            time.sleep(max(0.0, wake - time.time()))


class Stats:
    def __init__(self):
        self.lock, self.count, self.bad, self.cmd_times, self.sent = threading.Lock(), 0, 0, [], {}

    def record(self, path, took, ok):
        kind = path.split("?")[0]
        with self.lock:
            self.count += 1
            self.bad += not ok
            self.sent[kind] = self.sent.get(kind, 0) + 1
            if kind == "/api/cmd":
                self.cmd_times.append(took * 1000)


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--phones", type=int, default=20)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        runtime = os.path.join(folder, "run")
        os.mkdir(runtime, 0o700)
        env = dict(os.environ, TMB_PHONE_TOKEN=TOKEN, TMB_PHONE_RUNTIME_DIR=runtime,
                   TMB_PHONE_DATA_DIR=os.path.join(folder, "data"), TMB_PHONE_HTTPS_BIND="127.0.0.1")
        proc = subprocess.Popen(["/usr/bin/python3", "-u", SCRIPT, "http://127.0.0.1:8088"], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            station = StandIn(proc, runtime)
            if not station.ready.wait(120):
                sys.exit("the bridge did not start")
            stats, began, cpu = Stats(), time.time(), cpu_seconds(proc.pid)
            phones = [Phone(n, began + args.seconds, stats) for n in range(1, args.phones + 1)]
            for phone in phones:
                phone.start()
            for phone in phones:
                phone.join()
            elapsed, cpu = time.time() - began, cpu_seconds(proc.pid) - cpu
            time.sleep(0.5)  # the last lines
        finally:
            proc.kill()
            proc.wait()
    times = sorted(stats.cmd_times)
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    print(f"{args.phones} phones, {elapsed:.1f} s: {stats.count} requests, {stats.count / elapsed:.1f} requests/s, "
          f"bridge CPU {100 * cpu / elapsed:.0f} % of one core")
    print(f"/api/cmd: {len(times)} commands, p50 {statistics.median(times):.1f} ms, p99 {p99:.1f} ms (target <= 100 ms)")
    checks = [("answers 200 with a complete state", stats.bad == 0, f"{stats.bad} bad"),
              ("stateSeq grew by the commands sent", station.seq == stats.sent.get("/api/cmd", 0),
               f"{station.seq} vs {stats.sent.get('/api/cmd', 0)}"),
              ("microphone blocks reported", station.mic == stats.sent.get("/api/mic", 0), f"{station.mic} of {stats.sent.get('/api/mic', 0)}"),
              ("camera frames reported", station.cam == stats.sent.get("/api/cam", 0), f"{station.cam} of {stats.sent.get('/api/cam', 0)}"),
              ("p99 of /api/cmd <= 100 ms", p99 <= 100, f"{p99:.1f} ms")]
    for name, ok, detail in checks:
        print(f"  {'ok  ' if ok else 'FAIL'} {name} ({detail})")
    return 0 if all(ok for _, ok, _ in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
