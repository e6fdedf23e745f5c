"""Small helpers the Python test drivers share (browser and desktop tests)."""
import signal
import socket
import subprocess
import time


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
