#!/usr/bin/python3
# The phone page in headless Chromium (fake camera and microphone) against the real bridge
# script; a stand-in workstation records every line and publishes the state the test sets.
import atexit, base64, json, os, signal, struct, sys, tempfile, threading, time, unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

from bridge_fixture import TOKEN, Bridge

PAGE = f"http://127.0.0.1:8088/?k={TOKEN}"
HOSTILE = '<img src=x onerror="window.pwned=1">'


def until(check, timeout=10):
    end = time.time() + timeout
    while not (found := check()):
        assert time.time() < end, "timed out"
        time.sleep(0.05)
    return found


class StandInWorkstation:
    def __init__(self, bridge):
        self.bridge, self.lines, self.lock = bridge, [], threading.Lock()
        self.state = {"bpm": 100, "styleName": "Worship", "chord": "C (I)", "metronome": False, "volPiano": 80,
                      "activeCamPhoneId": "", "activeMicPhoneId": "", "lastChangeSummary": "", "stateSeq": 0}
        self.publish()
        threading.Thread(target=self.read, daemon=True).start()

    def publish(self, **changes):
        with self.lock:
            self.state.update(changes)
            path = os.path.join(self.bridge.runtime, "tmb_phone_state.json")
            with open(path + ".new", "w") as f:
                json.dump(self.state, f)
            os.replace(path + ".new", path)

    def read(self):
        while True:
            line = self.bridge.lines.get()
            with self.lock:
                self.lines.append(line)
            if line.startswith("CMD:") and not line.endswith("|HELLO"):
                self.publish(stateSeq=self.state["stateSeq"] + 1)

    def wait_for(self, predicate):
        return until(lambda: self.found(predicate))

    def found(self, predicate):
        with self.lock:
            return [l for l in self.lines if predicate(l)]

    def count(self, prefix):
        return len(self.found(lambda l: l.startswith(prefix)))


def phone_browser(*extra_flags):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--autoplay-policy=no-user-gesture-required",
                 "--use-fake-ui-for-media-stream", "--use-fake-device-for-media-stream", *extra_flags]:
        options.add_argument(flag)
    options.add_experimental_option("mobileEmulation", {"deviceMetrics": {"width": 412, "height": 915, "pixelRatio": 1.0}})
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # A test killed on a timeout must not leave Chromium running: quit on exit and on SIGTERM.
    atexit.register(browser.quit)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    return browser


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.bridge = Bridge(cls.folder.name, args=("http://127.0.0.1:8088",))
        cls.bridge.until(lambda l: l.startswith("READY:"))
        cls.station = StandInWorkstation(cls.bridge)
        cls.phone = phone_browser()
        cls.phone.get(PAGE)
        cls.phone_id = cls.phone.execute_script("return PHONE_ID")

    @classmethod
    def tearDownClass(cls):
        cls.phone.quit()
        cls.bridge.stop()
        cls.folder.cleanup()

    def js(self, script, *args):
        return self.phone.execute_script(script, *args)

    def text_of(self, key):
        return self.js("return document.querySelector(arguments[0]).textContent", f'[data-t="{key}"]')

    def sent(self, command):
        return self.station.wait_for(lambda l: l == f"CMD:{self.phone_id}|127.0.0.1|{command}")

    def test_hello_then_polls_the_state(self):
        self.sent("HELLO")
        self.station.publish(bpm=133, styleName="Seben Praise")
        until(lambda: (self.text_of("bpm"), self.text_of("styleName")) == ("133", "Seben Praise"), 2)

    def test_controls_send_their_commands(self):
        for action, command in [
            ("//button[text()='V7']", "CHORD:5"), ('button[data-c="MIX_PRESET:5"]', "MIX_PRESET:5"),
            ("kit=3", "KIT:3"), ("key=fb:abcd-EFGH 1&2", "STREAM:KEY:fb:abcd-EFGH 1&2"),
        ]:
            with self.subTest(command=command):
                if action.startswith("kit="):
                    self.js("const s = document.getElementById('kit'); s.value = arguments[0]; s.dispatchEvent(new Event('change'))", action[4:])
                elif action.startswith("key="):
                    platform, key = action[4:].split(":", 1)
                    self.js("document.getElementById('platform').value = arguments[0]; document.getElementById('streamKey').value = arguments[1];"
                            "document.getElementById('saveKey').click()", platform, key)
                else:
                    self.phone.find_element("xpath" if action.startswith("//") else "css selector", action).click()
                self.sent(command)
        # An empty stream key is refused on the phone.
        self.js("window.alert = (t) => { window.alerted = t }; document.getElementById('streamKey').value = ' ';"
                "document.getElementById('saveKey').click()")
        self.assertTrue(self.js("return window.alerted"))
        # State lights the matching buttons.
        self.station.publish(metronome=True, styleIdx=31)
        until(lambda: self.js("return [...document.querySelectorAll('button.on')].map(b => b.dataset.c)")
                    == ["METRO:TOGGLE", "BEAT_SELECT:31"], 2)

    def test_moved_slider_keeps_its_value_until_let_go(self):
        slide = ("const s = document.querySelector('input[data-cmd=\"VOL:PIANO:\"]'); s.value = arguments[0];"
                 "s.dispatchEvent(new Event('input')); s.dispatchEvent(new Event('change')); s.blur()")
        value = "return document.querySelector('input[data-cmd=\"VOL:PIANO:\"]').value"
        self.js(slide, 30)
        self.station.wait_for(lambda l: l.endswith("|VOL:PIANO:30"))
        time.sleep(0.7)  # polls answered with 80 arrived meanwhile
        self.assertEqual(self.js(value), "30")
        until(lambda: self.js(value) == "80", 2)

    def test_tap_tempo(self):
        for gaps, shown in [([500, 500, 500], "120"), ([500, 3000, 400, 400, 400, 500], "138"), ([500, 2300, 500], "120"),
                            ([250, 250, 250], "220"), ([2000, 2000], "40")]:
            with self.subTest(gaps=gaps):
                taps = self.station.count(f"CMD:{self.phone_id}|127.0.0.1|TAP_TEMPO")
                self.js("let t = (window.clock || 0) + 10000; window.clock = t; performance.now = () => window.clock;"
                        "const tap = document.getElementById('tap'); tap.click();"
                        "for (const g of arguments[0]) { window.clock += g; tap.click(); }", gaps)
                self.assertEqual(self.js("return document.getElementById('tapBpm').textContent"), shown)
                until(lambda: self.station.count(f"CMD:{self.phone_id}|127.0.0.1|TAP_TEMPO") == taps + len(gaps) + 1)
        self.js("delete performance.now")

    def test_other_phones_texts_stay_text(self):
        self.station.publish(connectedPhonesText=HOSTILE, lastChangeSummary=HOSTILE, styleName=HOSTILE)
        until(lambda: self.text_of("connectedPhonesText") == HOSTILE)
        self.assertEqual((self.text_of("lastChangeSummary"), self.text_of("styleName")), (HOSTILE, HOSTILE))
        self.assertEqual(self.js("return [window.pwned, document.querySelectorAll('img').length]"), [None, 0])
        self.station.publish(styleName="Worship")

    def test_microphone_and_camera_upload(self):
        for button, command in [("micBtn", "MIC_START"), ("camBtn", "CAM_START")]:
            self.phone.find_element("id", button).click()
            self.sent(command)
        until(lambda: self.station.count(f"MIC:{self.phone_id}|") >= 30 and self.station.count(f"CAM:{self.phone_id}|") > 3, 30)
        blocks = [base64.b64decode(l.split("|")[1]) for l in self.station.found(lambda l: l.startswith("MIC:"))]
        self.assertEqual({len(b) for b in blocks}, {2048})  # 1024 samples of 16 bits
        self.assertGreater(max(max(map(abs, struct.unpack("<1024h", b))) for b in blocks), 1000)  # the fake beep
        with open(os.path.join(self.bridge.runtime, "tmb_phone_cam.jpg"), "rb") as frame:
            self.assertEqual(frame.read(2), b"\xff\xd8")
        for button, command in [("micBtn", "MIC_STOP"), ("camBtn", "CAM_STOP")]:
            self.phone.find_element("id", button).click()
            self.sent(command)

    def test_fits_a_phone_screen(self):
        self.assertLessEqual(self.js("return document.documentElement.scrollWidth"), 412)


if __name__ == "__main__":
    unittest.main(verbosity=2)
