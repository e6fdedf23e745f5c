"""A headless Chromium driven through the DevTools protocol, with only the
standard library and Debian's python3-websocket: start it, open a page,
evaluate script, click and type like a person, take screenshots."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket
from testkit import eventually, read, stop


class CdpError(RuntimeError):
    pass


class Browser:
    """One headless Chromium with one page target."""

    def __init__(self, executable, width=1280, height=900, timeout=20.0):
        self.timeout = timeout
        self.profile = tempfile.mkdtemp(prefix="corvane-chromium-")
        self.log = open(os.path.join(self.profile, "chromium.log"), "wb")
        args = [
            executable, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--disable-default-apps", "--disable-extensions",
            "--disable-dev-shm-usage", "--mute-audio", "--no-default-browser-check",
            "--remote-debugging-address=127.0.0.1", "--remote-debugging-port=0",
            "--user-data-dir=" + self.profile, f"--window-size={width},{height}",
            "about:blank",
        ]
        self.process = subprocess.Popen(args, stdout=self.log, stderr=self.log)
        try:
            port_file = os.path.join(self.profile, "DevToolsActivePort")
            port = eventually(lambda: read(port_file).split("\n")[0], timeout, "chromium")
            page = eventually(lambda: next((t for t in json.load(urllib.request.urlopen(
                f"http://127.0.0.1:{port}/json/list", timeout=5)) if t["type"] == "page"),
                None), timeout, "chromium's page")
        except Exception:
            self.close()
            raise
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=timeout,
                                              suppress_origin=True)
        self.next_id = 0
        self.events = []
        self.call("Page.enable")
        self.call("Runtime.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False)

    def close(self):
        if getattr(self, "ws", None):
            self.ws.close()
        stop(self.process, 5)
        self.log.close()
        shutil.rmtree(self.profile, ignore_errors=True)

    # --- protocol -----------------------------------------------------------
    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:  # the socket's timeout ends a wait for an answer that never comes
            msg = json.loads(self.ws.recv())
            if msg.get("id") == self.next_id:
                if "error" in msg:
                    raise CdpError(f"{method}: {msg['error']}")
                return msg.get("result", {})
            if "method" in msg:
                self.events.append(msg)

    def wait_event(self, method):
        """The first event of that kind since the last wait (older ones are dropped)."""
        deadline = time.monotonic() + self.timeout
        while time.monotonic() < deadline:
            for i, ev in enumerate(self.events):
                if ev["method"] == method:
                    del self.events[:i + 1]
                    return ev
            msg = json.loads(self.ws.recv())  # the socket's timeout ends a silent wait
            if "method" in msg:
                self.events.append(msg)
        raise CdpError(f"no {method}")

    # --- pages --------------------------------------------------------------
    def expect_load(self, action):
        """Runs `action` (which makes the page load anew) and waits for the load."""
        self.events.clear()
        action()
        self.wait_event("Page.loadEventFired")

    def navigate(self, url):
        self.expect_load(lambda: self.call("Page.navigate", url=url))

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise CdpError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")

    def value(self, selector, prop="value"):
        """A property of the first element `selector` matches (None when none does)."""
        return self.evaluate("(e => e && e[%s])(document.querySelector(%s))"
                             % (json.dumps(prop), json.dumps(selector)))

    def text(self):
        return self.evaluate("document.body.innerText")

    def centre_of(self, selector):
        box = self.evaluate(
            "(() => { const e = document.querySelector(%s); if (!e) return null;"
            " e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
            " return [r.left + r.width / 2, r.top + r.height / 2]; })()" % json.dumps(selector))
        if box is None:
            raise CdpError(f"nothing matches {selector}")
        return box

    def click(self, selector):
        x, y = self.centre_of(selector)
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                      clickCount=1)

    def type_into(self, selector, text):
        """Clicks into a text field, selects what it holds and types `text` over it."""
        self.click(selector)
        self.evaluate("document.querySelector(%s).select()" % json.dumps(selector))
        if text:
            self.call("Input.insertText", text=text)
        else:
            self.press("Delete", 46)

    def press(self, key, code):
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=key,
                      windowsVirtualKeyCode=code)

    def choose(self, selector, value):
        """Picks an option of a drop-down list as the keyboard would: the value
        changes and the list's change handler runs."""
        self.evaluate(
            "(() => { const s = document.querySelector(%s); s.focus(); s.value = %s;"
            " s.dispatchEvent(new Event('change', {bubbles: true})); })()"
            % (json.dumps(selector), json.dumps(value)))

    def screenshot(self, path):
        metrics = self.call("Page.getLayoutMetrics")
        size = metrics.get("cssContentSize") or metrics["contentSize"]
        shot = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                         clip={"x": 0, "y": 0, "width": size["width"],
                               "height": size["height"], "scale": 1})
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))
        return path
