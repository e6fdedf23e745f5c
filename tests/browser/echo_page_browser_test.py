#!/usr/bin/python3
"""The live echo page in a real browser: bin/xap-hub, bin/vaux-sim and
bin/corvane on loopback, headless Chromium on /echo.

    echo_page_browser_test.py CASE

CASE is one of: live, freeze. Traffic a command causes must reach the open
page within a second, without reloading it; with Freeze ticked the view
stays still while the text goes on arriving. Exit code 77 (a skip for
ctest) when Chromium or Python's websocket module is missing."""
import os
import re
import sys
import threading
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import status_page_browser_test as rigs  # noqa: E402  (skips when websocket is missing)
from status_page_browser_test import check, eventually  # noqa: E402

cdp = rigs.cdp

BOX = "document.getElementById('CommData')"


def command(rig, item, value):
    """Posts an item control of the status page, as its drop-down list does,
    in the background (the answer comes after the controller's reply), with
    the form token the page carries."""
    page = urllib.request.urlopen(rig.url, timeout=30).read().decode("latin-1")
    token = re.search(r"name='FormToken' value='(\w+)'", page).group(1)
    body = urllib.parse.urlencode({"clientinput": item, "clientvalue": value,
                                   "FormToken": token}).encode()

    def post():
        try:
            urllib.request.urlopen(rig.url, data=body, timeout=30).read()
        except OSError as e:
            print(f"note: the command post ended with {e}")
    t = threading.Thread(target=post, daemon=True)
    t.start()
    return t


def wait_for_command(rig, prefix, before):
    """The moment the simulator received a command starting with `prefix`."""
    eventually(lambda: any(c.startswith(prefix) for c in rig.sim_commands()[before:]),
               timeout=10, what=f"the simulator to receive {prefix}")
    return time.monotonic()


def echo_of(browser):
    return browser.evaluate(f"{BOX}.value")


def case_live(rig, browser, shot):
    browser.navigate(f"http://127.0.0.1:{rig.http_port}/echo")
    check(browser.evaluate("document.title").startswith("Vaux Data Monitor Window"), "title")
    links = browser.evaluate("[...document.querySelectorAll('a.linkrow')].map(a => a.textContent"
                             " + '=' + a.getAttribute('href'))")
    check(any(l.startswith("IO Window=") and l.endswith("/echo") for l in links),
          f"menu row links {links}")
    eventually(lambda: "Sent to Vaux VP" in echo_of(browser), what="start-up traffic")
    label = browser.evaluate("document.getElementById('aOpenStatus').textContent")
    check(label.startswith("Port Open / "), f"link state label {label!r}")
    check(re.search(r"Sent to Vaux VP FE 52 01 00 +<\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [\d.]+>",
                    echo_of(browser)), "entry format")
    check(len(browser.evaluate("window.corvaneEcho.text()")) <= 10000, "at most 10,000 characters")

    before = len(rig.sim_commands())
    command(rig, "V10", "On")  # zone 4 on
    sent_at = wait_for_command(rig, "VP2104", before)
    eventually(lambda: "VP 21 04" in echo_of(browser), timeout=5, what="the command on the page")
    delay = time.monotonic() - sent_at
    check(delay < 1.0, f"the command reached the page {delay:.2f} s after the controller")
    # The answer from the controller follows it.
    eventually(lambda: re.search(r"VP 21 04[^\n]*\n(.*\n)*V[IX]\w+ +<\d\d:\d\d:\d\d ",
                                 echo_of(browser)), timeout=5,
               what="the controller's reply on the page")
    at_end = browser.evaluate(f"{BOX}.scrollTop + {BOX}.clientHeight >= {BOX}.scrollHeight - 2")
    check(at_end, "the view follows the newest text")
    shot("echo-live")


def case_freeze(rig, browser, shot):
    browser.navigate(f"http://127.0.0.1:{rig.http_port}/echo")
    eventually(lambda: "Sent to Vaux VP" in echo_of(browser), what="start-up traffic")
    # Scroll somewhere in the middle, then freeze.
    browser.evaluate(f"{BOX}.scrollTop = {BOX}.scrollHeight / 3")
    browser.click("#Freeze")
    check(browser.evaluate("document.getElementById('Freeze').checked"), "Freeze ticked")
    shown = echo_of(browser)
    top = browser.evaluate(f"{BOX}.scrollTop")

    before = len(rig.sim_commands())
    command(rig, "V10", "On")
    wait_for_command(rig, "VP2104", before)
    eventually(lambda: "VP 21 04" in browser.evaluate("window.corvaneEcho.text()"), timeout=5,
               what="the page to receive the command while frozen")
    time.sleep(0.3)
    check(echo_of(browser) == shown, "the frozen view changed its text")
    check(browser.evaluate(f"{BOX}.scrollTop") == top, "the frozen view scrolled")
    shot("echo-frozen")

    browser.click("#Freeze")
    check("VP 21 04" in echo_of(browser), "unfreezing shows what arrived")
    at_end = browser.evaluate(f"{BOX}.scrollTop + {BOX}.clientHeight >= {BOX}.scrollHeight - 2")
    check(at_end, "unfreezing scrolls to the newest text")


CASES = {"live": case_live, "freeze": case_freeze}


def main():
    return rigs.run(CASES, __doc__, "corvane-echo")


if __name__ == "__main__":
    sys.exit(main())
