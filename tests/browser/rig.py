"""What every browser test starts from: bin/xap-hub, bin/vaux-sim and
bin/corvane on loopback (in a network namespace of their own when the system
allows it) with their home folder and logs, a headless Chromium, and `run`,
which runs the case named on the command line. Exit code 77 (a skip for
ctest) when Chromium or Python's websocket module is missing."""
import contextlib
import ctypes
import fcntl
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from testkit import check, eventually, free_port, read, stop  # noqa: E402,F401

SKIP = 77
try:
    import cdp
except ImportError as e:  # python3-websocket missing
    print(f"SKIP: the browser tests need Python's websocket module ({e}); "
          "install Debian's python3-websocket")
    sys.exit(SKIP)


def enter_private_network():
    """A network namespace with only an up loopback interface; False when the
    system does not allow one (the test then shares the machine's loopback)."""
    if ctypes.CDLL(None, use_errno=True).unshare(0x40000000) != 0:  # CLONE_NEWNET
        return False
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        try:
            flags = struct.unpack("16sH14s", fcntl.ioctl(  # SIOCGIFFLAGS, then IFF_UP
                sock, 0x8913, struct.pack("16sH14s", b"lo", 0, b"")))[1]
            fcntl.ioctl(sock, 0x8914, struct.pack("16sH14s", b"lo", flags | 1, b""))
            return True
        except OSError:
            return False


class Rig:
    """The three programs, their home folder and their logs."""

    def __init__(self, bin_dir, work):
        self.bin, self.work = bin_dir, work
        self.home = os.path.join(work, "home")
        self.procs = {}
        os.makedirs(os.path.join(self.home, "Config"))

    def start(self, name, args):
        with open(os.path.join(self.work, name + ".out"), "ab") as out, \
                open(os.path.join(self.work, name + ".err"), "ab") as err:
            self.procs[name] = subprocess.Popen([os.path.join(self.bin, args[0])] + args[1:],
                                                stdout=out, stderr=err)

    def log(self, name, stream="out"):
        return read(os.path.join(self.work, f"{name}.{stream}"))

    def stop(self, name):
        p = self.procs.pop(name, None)
        return p and stop(p)

    def start_all(self):
        self.start("xap-hub", ["xap-hub", "--verbose"])
        self.start("vaux-sim", ["vaux-sim", "--tcp", "0"])
        self.sim_port = eventually(
            lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)", self.log("vaux-sim")),
            what="vaux-sim to listen").group(1)
        self.http_port = free_port()
        self.url = f"http://127.0.0.1:{self.http_port}/status"
        self.write_ini("zynXap.ini", "[Interface]\r\nBroadcastAddress=127.255.255.255\r\n")
        self.write_ini("Corvane.ini", f"[Vaux]\r\nUPBCommPort={self.sim_port}\r\n"
                       f"SerialIP=127.0.0.1\r\nHTTPBindAddress=127.0.0.1\r\n"
                       f"HTTPPort={self.http_port}\r\nShowStatus=2\r\n")
        self.start_corvane()

    def write_ini(self, name, text, mode="w"):
        with open(os.path.join(self.home, "Config", name), mode) as f:
            f.write(text)

    def start_corvane(self):
        runs = self.log("corvane", "err").count("Corvane running")
        self.start("corvane", ["corvane", "--home", self.home])
        eventually(lambda: self.log("corvane", "err").count("Corvane running") > runs,
                   timeout=30, what="corvane to start")

    def stop_corvane(self):
        code = self.stop("corvane")
        check(code == 0, f"corvane ended with {code}:\n{self.log('corvane', 'err')[-3000:]}")

    def restart_corvane(self):
        self.stop_corvane()
        self.start_corvane()

    def sim_commands(self):
        return re.findall(r"<- (\S+)", self.log("vaux-sim"))

    def ini(self, name="Corvane.ini"):
        return read(os.path.join(self.home, "Config", name))

    def xap_send(self, *args):
        subprocess.run([os.path.join(self.bin, "xap-send"), *args], check=True, timeout=20,
                       capture_output=True)

    def page(self, path):
        return f"http://127.0.0.1:{self.http_port}{path}"

    def close(self):
        for name in list(self.procs):
            self.stop(name)


def run(cases, doc, prefix):
    """Runs the case named on the command line against a fresh rig and
    browser; the exit code for ctest (77: skipped)."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print(doc)
        return 2
    name = sys.argv[1]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if not chromium:
        print("SKIP: no Chromium found (install Debian's chromium to run the browser tests)")
        return SKIP
    bin_dir = os.environ.get("CORVANE_BIN_DIR", os.path.join(os.getcwd(), "bin"))
    artifacts = os.path.abspath(os.environ.get("CORVANE_ARTIFACTS", "browser-artifacts"))
    if not enter_private_network():
        print("note: no private network namespace; using the shared loopback")
    work = tempfile.mkdtemp(prefix=f"{prefix}-{name}-")
    rig, browser, ok = Rig(bin_dir, work), None, False

    def shot(step):
        print("screenshot:", browser.screenshot(os.path.join(artifacts, f"{name}-{step}.png")))

    try:
        rig.start_all()
        browser = cdp.Browser(chromium)
        cases[name](rig, browser, shot)
        rig.stop_corvane()
        ok = True
    except Exception:
        traceback.print_exc()
        if browser:
            with contextlib.suppress(Exception):
                shot("failure")
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
    return 0 if ok else 1
