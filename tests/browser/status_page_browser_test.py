#!/usr/bin/python3
"""The status page in a real browser: bin/xap-hub, bin/vaux-sim and
bin/corvane on loopback (in a network namespace of their own when the
system allows it), and headless Chromium used as a person would use it.

    status_page_browser_test.py CASE

CASE is one of: renders, control, save_restart, setup, filter, cross_site. The programs
come from $CORVANE_BIN_DIR; screenshots go to $CORVANE_ARTIFACTS (default:
browser-artifacts in the current folder). Exit code 77 (a skip for ctest)
when Chromium or Python's websocket module is missing."""
import ctypes
import fcntl
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import urllib.request

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from testkit import Failure, check, eventually, free_port, read  # noqa: E402,F401

try:
    import cdp
except ImportError as e:  # python3-websocket missing
    print(f"SKIP: the browser tests need Python's websocket module ({e}); "
          "install Debian's python3-websocket")
    sys.exit(SKIP)


def enter_private_network():
    """A network namespace with only an up loopback interface; False when the
    system does not allow one (the test then shares the machine's loopback)."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x40000000) != 0:  # CLONE_NEWNET
        return False
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        ifreq = struct.pack("16sH14s", b"lo", 0, b"")
        flags = struct.unpack("16sH14s", fcntl.ioctl(sock, 0x8913, ifreq))[1]  # SIOCGIFFLAGS
        fcntl.ioctl(sock, 0x8914, struct.pack("16sH14s", b"lo", flags | 1, b""))  # IFF_UP
        return True
    except OSError:
        return False
    finally:
        sock.close()


class Rig:
    """The three programs, their home folder and their logs."""

    def __init__(self, bin_dir, work):
        self.bin = bin_dir
        self.work = work
        self.home = os.path.join(work, "home")
        self.procs = {}
        os.makedirs(os.path.join(self.home, "Config"))

    def start(self, name, args):
        out = open(os.path.join(self.work, name + ".out"), "ab")
        err = open(os.path.join(self.work, name + ".err"), "ab")
        self.procs[name] = subprocess.Popen([os.path.join(self.bin, args[0])] + args[1:],
                                            stdout=out, stderr=err)
        out.close()
        err.close()

    def log(self, name, stream="out"):
        return read(os.path.join(self.work, f"{name}.{stream}"))

    def stop(self, name):
        p = self.procs.pop(name, None)
        if p is None:
            return None
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(20)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        return p.returncode

    def start_all(self):
        self.start("xap-hub", ["xap-hub", "--verbose"])
        self.start("vaux-sim", ["vaux-sim", "--tcp", "0"])
        found = eventually(
            lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)", self.log("vaux-sim")),
            what="vaux-sim to listen")
        self.sim_port = found.group(1)
        self.http_port = free_port()
        with open(os.path.join(self.home, "Config", "zynXap.ini"), "w") as f:
            f.write("[Interface]\r\nBroadcastAddress=127.255.255.255\r\n")
        with open(os.path.join(self.home, "Config", "Corvane.ini"), "w") as f:
            f.write(f"[Vaux]\r\nUPBCommPort={self.sim_port}\r\nSerialIP=127.0.0.1\r\n"
                    f"HTTPBindAddress=127.0.0.1\r\nHTTPPort={self.http_port}\r\n"
                    "ShowStatus=2\r\n")
        self.start_corvane()

    def start_corvane(self):
        runs = self.log("corvane", "err").count("Corvane running")
        self.start("corvane", ["corvane", "--home", self.home])
        eventually(lambda: self.log("corvane", "err").count("Corvane running") > runs,
                   timeout=30, what="corvane to start")

    def stop_corvane(self):
        code = self.stop("corvane")
        check(code == 0, f"corvane ended with {code}:\n{self.log('corvane', 'err')[-3000:]}")

    def sim_commands(self):
        return re.findall(r"<- (\S+)", self.log("vaux-sim"))

    def ini(self):
        return read(os.path.join(self.home, "Config", "Corvane.ini"))

    def close(self):
        for name in list(self.procs):
            self.stop(name)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.http_port}/status"


# --- page helpers -------------------------------------------------------------
ROW_STATUS = """(() => {
  const id = [...document.querySelectorAll('td')].find(td => td.textContent === %s);
  return id ? id.parentElement.cells[0].textContent : null; })()"""


def status_of(browser, record_hex):
    return browser.evaluate(ROW_STATUS % ('"' + record_hex + '"'))


def value_of(browser, selector):
    return browser.evaluate("document.querySelector(%r).value" % selector)


def save(browser):
    browser.expect_load(lambda: browser.click("input[name='UpdateButton']"))


# --- the cases ------------------------------------------------------------------
def case_renders(rig, browser, shot):
    browser.navigate(rig.url)
    title = browser.evaluate("document.title")
    check(title.startswith("Vaux Aris 700 Status V"), f"title {title}")
    rows = browser.evaluate("document.querySelectorAll('select.formdropdown').length")
    check(rows == 42, f"{rows} item rows instead of 42")
    groups = browser.evaluate(
        "[...document.querySelectorAll('td.TABLEHEADER')].map(td => td.textContent)")
    for g in ("Source", "Status", "VolumeDb", "BassDB", "TrebleDb", "TurnOn_MuteDb",
              "TurnOn_VolumeDb"):
        check(g in groups, f"group row {g}")
    # The style sheet applies and the pictures load.
    colour = browser.evaluate(
        "getComputedStyle(document.querySelector('td.TABLEHEADER')).backgroundColor")
    check(colour == "rgb(99, 99, 156)", f"header colour {colour}")
    width = browser.evaluate(
        "new Promise(r => { const i = document.querySelector('img[alt=Corvane]');"
        " i.complete ? r(i.naturalWidth) : i.onload = () => r(i.naturalWidth); })")
    check(width == 133, f"logo width {width}")
    check(status_of(browser, "07") == "1 / On", "zone 1 is on in the simulator")
    shot("status-page")
    browser.navigate(f"http://127.0.0.1:{rig.http_port}/help")
    check("Corvane help" in browser.evaluate("document.body.innerText"), "help page")
    width = browser.evaluate("document.querySelector('img[alt^=The]').naturalWidth")
    check(width == 560, f"help picture width {width}")
    shot("help-page")


def case_control(rig, browser, shot):
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    before = len(rig.sim_commands())
    browser.expect_load(lambda: browser.choose("select[name='V10']", "On"))
    sent = rig.sim_commands()[before:]
    check(any(c.startswith("VP2104") for c in sent), f"no zone 4 command in {sent}")
    check(status_of(browser, "0A") == "1 / On", f"zone 4 shows {status_of(browser, '0A')}")
    # A level: zone 1's volume to -20 dB (list position 15).
    before = len(rig.sim_commands())
    browser.expect_load(lambda: browser.choose("select[name='V13']", "-20 db"))
    sent = rig.sim_commands()[before:]
    check(any(c.startswith("VP210102") for c in sent), f"no volume command in {sent}")
    check(status_of(browser, "0D") == "15 / -20 db", f"volume shows {status_of(browser, '0D')}")
    shot("after-control")


def case_save_restart(rig, browser, shot):
    browser.navigate(rig.url)
    browser.type_into("input[name='name7']", "Porch Speaker")
    browser.type_into("input[name='Tag7']", "porch")
    browser.click("input[name='Event7']")
    save(browser)
    check(value_of(browser, "input[name='name7']") == "Porch_Speaker", "name after save")
    check(value_of(browser, "input[name='Tag7']") == "porch", "tag after save")
    check(";Porch_Speaker;True;1;porch;True;" in rig.ini(), "zone line on disk")
    shot("after-save")
    rig.stop_corvane()
    rig.start_corvane()
    browser.navigate(rig.url)
    check(value_of(browser, "input[name='name7']") == "Porch_Speaker", "name after restart")
    check(value_of(browser, "input[name='Tag7']") == "porch", "tag after restart")
    check(browser.evaluate("document.querySelector(\"input[name='Event7']\").checked"),
          "event flag after restart")
    shot("after-restart")


def case_setup(rig, browser, shot):
    browser.navigate(rig.url)
    browser.click("input[name='ShowSetup']")
    save(browser)
    check(browser.evaluate("!!document.querySelector(\"input[name='ServerPort']\")"),
          "setup section shown")
    browser.type_into("input[name='Background']", "#203040")
    browser.type_into("input[name='UpDownIncrement']", "2")
    browser.type_into("input[name='periodicscriptinterval']", "60")
    browser.type_into("input[name='InputName0']", "Tuner")
    browser.type_into("input[name='InputName7']", "")
    browser.click("input[name='DebugLog']")
    save(browser)
    ini = rig.ini()
    for line in ("Background=#203040", "UpDownIncrement=2", "PeriodicScriptInterval=60",
                 "DebugLog=True", f"UPBCommPort={rig.sim_port}",
                 "Tuner,Input2,Input3,Input4,Input5,Input6,Input7,Input8"):
        check(line in ini, f"{line} not in Corvane.ini")
    check(value_of(browser, "input[name='Background']") == "#203040", "background field")
    check(browser.evaluate("document.body.bgColor") == "#203040", "page background")
    options = browser.evaluate(
        "[...document.querySelector(\"select[name='V1']\").options].map(o => o.value)")
    check("Tuner" in options, f"source options {options}")
    shot("setup")


def case_filter(rig, browser, shot):
    browser.navigate(rig.url)
    browser.click("input[name='ShowReceiveMessages']")
    browser.click("input[name='ShowReceiveDetail']")
    save(browser)
    browser.type_into("input[name='Source0']", "acme.sensor.porch:temp")
    browser.type_into("input[name='Class0']", "xAPBSC.event")
    browser.type_into("input[name='FilterTag0']", "porch temp")
    save(browser)
    check(value_of(browser, "input[name='Source1']") == "acme.sensor.porch:temp", "new filter")
    check(value_of(browser, "input[name='FilterTag1']") == "porch_temp", "its tag")
    check("acme.sensor.porch:temp~xAPBSC.event=porch_temp;" in rig.ini(), "[Received] on disk")
    # A message of that source through the hub fills the filter's row.
    subprocess.run([os.path.join(rig.bin, "xap-send"), "--class", "xAPBSC.event",
                    "--source", "acme.sensor.porch:temp", "input.state", "state=on",
                    "text=21.5C"], check=True, timeout=20, capture_output=True)

    def row_filled():
        browser.navigate(rig.url)
        return "21.5C" in browser.evaluate("document.body.innerText")
    eventually(row_filled, timeout=10, what="the filtered message on the page")
    shot("filter-added")
    browser.type_into("input[name='Source1']", "")
    browser.type_into("input[name='Class1']", "")
    save(browser)
    check(not browser.evaluate("!!document.querySelector(\"input[name='Source1']\")"),
          "filter deleted")
    check("acme.sensor.porch" not in rig.ini().split("[RECEIVED]")[-1].split("[")[0],
          "[Received] emptied")
    shot("filter-deleted")


EVIL_FORM = """<html><body><form id='f' method='post' action='%s'>%s
<input name='FormToken' value='0'></form>
<script>document.getElementById('f').submit()</script></body></html>"""


def case_cross_site(rig, browser, shot):
    """Pages of another site (another origin on loopback) that post to the
    status page as soon as they open, as a page a person in the house might
    visit: a command and a save. Neither changes anything."""
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    evil = os.path.join(rig.work, "evil")
    os.makedirs(evil)
    posts = {"control": "<input name='clientinput' value='V10'>"
                        "<input name='clientvalue' value='On'>",
             "save": "<input name='UpdateButton' value='Save Changes'>"
                     "<input name='clientinput' value='yes'><input name='ShowSetup' value='1'>"}
    for name, fields in posts.items():
        with open(os.path.join(evil, name + ".html"), "w") as f:
            f.write(EVIL_FORM % (rig.url, fields))
    port = free_port()
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind",
                               "127.0.0.1", "--directory", evil],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        eventually(lambda: read_url(f"http://127.0.0.1:{port}/save.html"), what="the other site")
        before = len(rig.sim_commands())
        for name in posts:
            browser.navigate(f"http://127.0.0.1:{port}/{name}.html")
            eventually(lambda: "another site" in browser.evaluate("document.body.innerText"),
                       what=f"the {name} post to be refused")
        shot("cross-site-refused")
    finally:
        server.terminate()
        server.wait(10)
    sent = rig.sim_commands()[before:]
    check(not any(c.startswith("VP2104") for c in sent), f"zone 4 commanded: {sent}")
    check("ShowSetup=True" not in rig.ini(), "the setup switch was saved")
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 still off")


def read_url(url):
    try:
        with urllib.request.urlopen(url, timeout=2) as r:
            return r.read()
    except OSError:
        return None


CASES = {
    "renders": case_renders,
    "control": case_control,
    "save_restart": case_save_restart,
    "setup": case_setup,
    "filter": case_filter,
    "cross_site": case_cross_site,
}


def run(cases, doc, prefix):
    """Runs the case named on the command line against a fresh rig and
    browser; the exit code for ctest (77: skipped)."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print(doc)
        return 2
    name = sys.argv[1]
    chromium = cdp.find_chromium()
    if not chromium:
        print("SKIP: no Chromium found (install Debian's chromium to run the browser tests)")
        return SKIP
    bin_dir = os.environ.get("CORVANE_BIN_DIR", os.path.join(os.getcwd(), "bin"))
    artifacts = os.path.abspath(os.environ.get("CORVANE_ARTIFACTS", "browser-artifacts"))
    os.makedirs(artifacts, exist_ok=True)
    if not enter_private_network():
        print("note: no private network namespace; using the shared loopback")
    work = tempfile.mkdtemp(prefix=f"{prefix}-{name}-")
    rig = Rig(bin_dir, work)
    browser = None
    shots = []

    def shot(step):
        path = os.path.join(artifacts, f"{name}-{step}.png")
        shots.append(browser.screenshot(path))

    ok = False
    try:
        rig.start_all()
        browser = cdp.Browser(chromium)
        cases[name](rig, browser, shot)
        rig.stop_corvane()
        ok = True
    except Exception:
        traceback.print_exc()
        if browser:
            try:
                shot("failure")
            except Exception:
                pass
        for log in ("corvane.err", "vaux-sim.out", "xap-hub.out"):
            print(f"--- {log} (end)\n{read(os.path.join(work, log))[-4000:]}")
    finally:
        if browser:
            browser.close()
        rig.close()
        if ok:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"logs kept in {work}")
    for path in shots:
        print(f"screenshot: {path}")
    return 0 if ok else 1


def main():
    return run(CASES, __doc__, "corvane-browser")


if __name__ == "__main__":
    sys.exit(main())
