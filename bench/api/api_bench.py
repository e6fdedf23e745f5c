#!/usr/bin/python3
"""The JSON API's latencies on loopback: bin/xap-hub, bin/vaux-sim (answering
at once) and bin/corvane from a Release build, with a private home folder.

    api_bench.py BIN_DIR [ROUNDS]

Prints, as median and p99 in milliseconds over ROUNDS commands (default 200):
  patch_readback  PATCH /api/v1/zones/2 sent -> 200 with the read-back zone
  patch_to_event  the same PATCH sent -> its "zone" event on /api/v1/events
  xap_to_event    an xAPBSC.cmd datagram sent -> its "zone" event
and the bytes of GET /remote as sent. Each PATCH sets zone 2's volume to
-20 dB and each xAP command to -22 dB, so every command changes the record. Every loop is
bounded in count and time; all traffic stays on 127.0.0.1."""
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "support"))
from testkit import eventually, free_port, read  # noqa: E402

XAP_CMD = ("xap-header\n{\nv=12\nhop=1\nuid=FF.00DE:00\nclass=xAPBSC.cmd\n"
           "source=corvane.bench.api\ntarget=zyn.Vaux.*:>\n}\n"
           "output.state.1\n{\nID=0E\nLevel=%d\n}\n")


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p * len(values)))]


class Stream:
    """/api/v1/events read in the background; zone events with arrival times."""

    def __init__(self, port):
        self.events = []
        self.cond = threading.Condition()
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.sock.sendall(b"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        buf = b""
        while True:
            try:
                chunk = self.sock.recv(65536)
            except OSError:
                return
            if not chunk:
                return
            now = time.perf_counter()
            buf += chunk
            while b"\n\n" in buf:
                block, buf = buf.split(b"\n\n", 1)
                if block.startswith(b"event: zone\n"):
                    data = json.loads(block.split(b"data: ", 1)[1])
                    with self.cond:
                        self.events.append((now, data))
                        self.cond.notify_all()

    def wait(self, want, since, timeout=5.0):
        deadline = time.perf_counter() + timeout
        with self.cond:
            while True:
                for t, d in self.events:
                    if t >= since and d == want:
                        return t
                left = deadline - time.perf_counter()
                if left <= 0:
                    raise TimeoutError(f"no event {want}")
                self.cond.wait(left)


def patch(port, zone, body):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    conn.request("PATCH", f"/api/v1/zones/{zone}", body=json.dumps(body),
                 headers={"Content-Type": "application/json"})
    r = conn.getresponse()
    r.read()
    conn.close()
    return r.status


def main():
    bin_dir = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    work = tempfile.mkdtemp(prefix="corvane-api-bench-")
    home = os.path.join(work, "home")
    os.makedirs(os.path.join(home, "Config"))
    procs = []

    def start(name, args):
        out = open(os.path.join(work, name + ".out"), "wb")
        procs.append(subprocess.Popen([os.path.join(bin_dir, args[0])] + args[1:],
                                      stdout=out, stderr=subprocess.STDOUT))

    try:
        start("xap-hub", ["xap-hub"])
        start("vaux-sim", ["vaux-sim", "--tcp", "0"])
        sim = eventually(lambda: re.search(r"listening on 127\.0\.0\.1:(\d+)",
                                           read(os.path.join(work, "vaux-sim.out"))))
        port = free_port()
        with open(os.path.join(home, "Config", "zynXap.ini"), "w") as f:
            f.write("[Interface]\r\nBroadcastAddress=127.255.255.255\r\n")
        with open(os.path.join(home, "Config", "Corvane.ini"), "w") as f:
            f.write(f"[Vaux]\r\nUPBCommPort={sim.group(1)}\r\nSerialIP=127.0.0.1\r\n"
                    f"HTTPBindAddress=127.0.0.1\r\nHTTPPort={port}\r\n")
        start("corvane", ["corvane", "--home", home])
        eventually(lambda: "Corvane running" in read(os.path.join(work, "corvane.out")),
                   timeout=30)
        stream = Stream(port)
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
        readback, to_event, xap = [], [], []
        deadline = time.monotonic() + 300
        for i in range(rounds):
            if time.monotonic() > deadline:
                break
            db = -20
            t0 = time.perf_counter()
            status = patch(port, 2, {"volume": db})
            t1 = time.perf_counter()
            assert status == 200, status
            readback.append((t1 - t0) * 1000)
            to_event.append((stream.wait({"zone": 2, "attribute": "volume", "value": db}, t0)
                             - t0) * 1000)
            db = -22
            t0 = time.perf_counter()
            udp.sendto((XAP_CMD % (2 + (6 - db) // 2)).encode(), ("127.255.255.255", 3639))
            xap.append((stream.wait({"zone": 2, "attribute": "volume", "value": db}, t0)
                        - t0) * 1000)
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
        conn.request("GET", "/remote")
        r = conn.getresponse()
        body = r.read()
        head = sum(len(k) + len(v) + 4 for k, v in r.getheaders()) + 19
        for name, values in (("patch_readback", readback), ("patch_to_event", to_event),
                             ("xap_to_event", xap)):
            print(f"{name:15s} n={len(values)} median={percentile(values, 0.5):.2f} ms "
                  f"p99={percentile(values, 0.99):.2f} ms")
        print(f"remote_page     {len(body) + head} bytes as sent ({len(body)} body)")
    finally:
        for p in reversed(procs):
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(20)
            except subprocess.TimeoutExpired:
                p.kill()


if __name__ == "__main__":
    main()
