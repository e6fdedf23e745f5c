"""Small helpers the Python test drivers share (browser and desktop tests):
checks and waits, named child processes with their logs, a status-page
control posted as the page posts it, and the runner of one named case."""
import glob
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import traceback
import urllib.parse
import urllib.request

SKIP = 77  # ctest's skip code (SKIP_RETURN_CODE)
BIN_DIR = os.environ.get("CORVANE_BIN_DIR", os.path.join(os.getcwd(), "bin"))


class Failure(AssertionError):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def eventually(predicate, timeout=10.0, what="condition", passing=()):
    """Polls `predicate` until it gives a true value (returned); exceptions
    of the kinds in `passing` count as "not yet"."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = predicate()
        except passing:
            value = None
        if value:
            return value
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what}")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
    except FileNotFoundError:
        return ""


def stop(process, timeout=20):
    """Ends a child with SIGTERM, killing it when it does not end in time;
    its exit code."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
    return process.wait()


def post_control(url, item, value, headers=None):
    """Posts an item control of the status page at `url`, as its drop-down
    list does, with the form token the page carries, in the background (the
    answer comes after the controller's reply)."""
    get = urllib.request.Request(url, headers=headers or {})
    page = urllib.request.urlopen(get, timeout=30).read().decode("latin-1")
    token = re.search(r"name='FormToken' value='(\w+)'", page).group(1)
    body = urllib.parse.urlencode({"clientinput": item, "clientvalue": value,
                                   "FormToken": token}).encode()
    post = urllib.request.Request(url, data=body, headers=headers or {})
    threading.Thread(target=lambda: urllib.request.urlopen(post, timeout=30).read(),
                     daemon=True).start()


class Programs:
    """A case's work folder with a home folder for corvane, and its child
    processes by name, each writing to <work>/<name>.log and ended by its own
    id; the programs come from $CORVANE_BIN_DIR."""

    def __init__(self, work):
        self.bin, self.work, self.procs = BIN_DIR, work, {}
        self.home = os.path.join(work, "home")
        os.makedirs(os.path.join(self.home, "Config"))

    def write_ini(self, name, text, mode="w"):
        with open(os.path.join(self.home, "Config", name), mode) as f:
            f.write(text)

    def start_sim(self):
        """bin/vaux-sim on a free loopback port; the port."""
        self.spawn("vaux-sim", [os.path.join(self.bin, "vaux-sim"), "--tcp", "0"])
        return eventually(
            lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)", self.log("vaux-sim")),
            what="vaux-sim to listen").group(1)

    def spawn(self, name, argv, env=None):
        with open(os.path.join(self.work, name + ".log"), "ab") as out:
            self.procs[name] = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                                                env=env)
        return self.procs[name]

    def log(self, name):
        return read(os.path.join(self.work, name + ".log"))

    def stop(self, name, timeout=20):
        p = self.procs.pop(name, None)
        return p and stop(p, timeout)

    def report(self):
        for path in sorted(glob.glob(os.path.join(self.work, "*.log"))):
            print(f"--- {os.path.basename(path)} (end)\n{read(path)[-3000:]}")

    def close(self):
        for name in reversed(list(self.procs)):
            self.stop(name, 10)


def main(cases, doc, prefix, fixture, missing=None):
    """Runs the case named on the command line with `fixture(work)` (start,
    run(case), report, close) in a work folder of its own, kept when the
    case fails; the exit code for ctest (77 when something is `missing`)."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print(doc)
        return 2
    if missing:
        print(f"SKIP: {missing}")
        return SKIP
    work = tempfile.mkdtemp(prefix=f"{prefix}-{sys.argv[1]}-")
    env, ok = fixture(work), False
    try:
        env.start()
        env.run(cases[sys.argv[1]])
        ok = True
    except Exception:
        traceback.print_exc()
        env.report()
    finally:
        env.close()
    if ok:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print(f"logs kept in {work}")
    return 0 if ok else 1
