"""What every browser test starts from: bin/xap-hub, bin/vaux-sim and
bin/corvane on loopback (in a network namespace of their own when the system
allows it) with their home folder and logs, a headless Chromium driven by
Debian's Selenium and chromedriver, and `run`, which runs the case named on
the command line. Exit code 77 (a skip for ctest) when Chromium, chromedriver
or Selenium is missing."""
import base64
import contextlib
import ctypes
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from testkit import SKIP, Programs, check, eventually, free_port, main, read  # noqa: E402,F401

CHROMEDRIVER = "/usr/bin/chromedriver"  # Debian's; Selenium must never fetch one
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.actions.pointer_input import PointerInput
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.remote.remote_connection import RemoteConnection
    from selenium.webdriver.support.expected_conditions import staleness_of
    from selenium.webdriver.support.ui import Select
except ImportError as e:
    print(f"SKIP: the browser tests need Debian's python3-selenium ({e})")
    sys.exit(SKIP)


def enter_private_network():
    """A network namespace with only an up loopback interface; False when the
    system does not allow one (the test then shares the machine's loopback)."""
    if ctypes.CDLL(None, use_errno=True).unshare(0x40000000) != 0:  # CLONE_NEWNET
        return False
    return subprocess.run(["ip", "link", "set", "lo", "up"]).returncode == 0


class Browser(webdriver.Chrome):
    """One headless Chromium, with the few steps the cases take."""

    def __init__(self, chromium, width=1280, height=900):
        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                    "--disable-component-update", "--disable-dev-shm-usage", "--mute-audio",
                    f"--window-size={width},{height}"):
            options.add_argument(arg)
        RemoteConnection.set_timeout(60)  # a command that hangs fails the case
        super().__init__(service=Service(CHROMEDRIVER), options=options)
        self.set_page_load_timeout(30)
        self.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def find(self, selector):
        """The element, scrolled to the middle of the view (a sticky header
        would take a click at its top edge)."""
        element = self.find_element(By.CSS_SELECTOR, selector)
        self.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
        return element

    def evaluate(self, expression):
        """The value of a script expression (a promise's once it settles)."""
        return self.execute_script("return " + expression)

    def value(self, selector, prop="value"):
        """A property of the first element `selector` matches (None when none does)."""
        return self.execute_script("const e = document.querySelector(arguments[0]);"
                                   " return e && e[arguments[1]];", selector, prop)

    def text(self):
        return self.evaluate("document.body.innerText")

    def expect_load(self, action):
        """Runs `action` (which makes the page load anew) and waits for the load."""
        old = self.find("html")
        action()
        eventually(lambda: staleness_of(old)(self) and self.evaluate("document.readyState")
                   == "complete", timeout=30, what="the page to load")

    def click(self, selector):
        self.find(selector).click()

    def type_into(self, selector, text):
        """Clicks into a text field, selects what it holds and types `text` over it."""
        field = self.find(selector)
        field.click()
        self.execute_script("arguments[0].select()", field)
        field.send_keys(text or Keys.DELETE)


class Rig(Programs):
    """The three programs, their home folder and logs, and the browser."""

    def __init__(self, work, chromium, artifacts):
        super().__init__(work)
        self.chromium, self.artifacts, self.browser = chromium, artifacts, None

    def start(self):
        self.spawn("xap-hub", [os.path.join(self.bin, "xap-hub"), "--verbose"])
        self.sim_port = self.start_sim()
        self.http_port = free_port()
        self.url = f"http://127.0.0.1:{self.http_port}/status"
        self.write_ini("zynXap.ini", "[Interface]\r\nBroadcastAddress=127.255.255.255\r\n")
        self.write_ini("Corvane.ini", f"[Vaux]\r\nUPBCommPort={self.sim_port}\r\n"
                       f"SerialIP=127.0.0.1\r\nHTTPBindAddress=127.0.0.1\r\n"
                       f"HTTPPort={self.http_port}\r\nShowStatus=2\r\n")
        self.start_corvane()
        self.browser = Browser(self.chromium)

    def run(self, case):
        case(self, self.browser, self.shot)
        self.stop_corvane()

    def shot(self, step):
        """The whole page, beyond the window too, into the artifacts folder."""
        size = self.browser.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
        shot = self.browser.execute_cdp_cmd("Page.captureScreenshot", {
            "captureBeyondViewport": True, "clip": dict(size, scale=1)})
        os.makedirs(self.artifacts, exist_ok=True)
        with open(os.path.join(self.artifacts, f"{sys.argv[1]}-{step}.png"), "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        print("screenshot:", f.name)

    def report(self):
        if self.browser:
            with contextlib.suppress(Exception):  # the page may be what failed
                self.shot("failure")
        super().report()

    def close(self):
        if self.browser:
            self.browser.quit()
        super().close()

    def start_corvane(self):
        runs = self.log("corvane").count("Corvane running")
        self.spawn("corvane", [os.path.join(self.bin, "corvane"), "--home", self.home])
        eventually(lambda: self.log("corvane").count("Corvane running") > runs,
                   timeout=30, what="corvane to start")

    def stop_corvane(self):
        code = self.stop("corvane")
        check(code == 0, f"corvane ended with {code}:\n{self.log('corvane')[-3000:]}")

    def sim_commands(self):
        return re.findall(r"<- (\S+)", self.log("vaux-sim"))

    def ini(self, name="Corvane.ini"):
        return read(os.path.join(self.home, "Config", name))

    def xap_send(self, *args):
        subprocess.run([os.path.join(self.bin, "xap-send"), *args], check=True, timeout=20,
                       capture_output=True)

    def page(self, path):
        return f"http://127.0.0.1:{self.http_port}{path}"


def run(cases, doc, prefix):
    """Runs the case named on the command line against a fresh rig and
    browser; the exit code for ctest (77: skipped)."""
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    missing = (not chromium and "no Chromium found") or (
        not os.path.exists(CHROMEDRIVER) and "no chromedriver (Debian's chromium-driver)")
    artifacts = os.path.abspath(os.environ.get("CORVANE_ARTIFACTS", "browser-artifacts"))
    if not missing and not enter_private_network():
        print("note: no private network namespace; using the shared loopback")
    return main(cases, doc, prefix, lambda work: Rig(work, chromium, artifacts),
                missing)
