#!/usr/bin/python3
"""The live echo page in a real browser, against the programs rig.py starts.

    echo_page_browser_test.py live

Traffic a command causes must reach the open page within a second, without
reloading it; with Freeze ticked the view stays still while the text goes on
arriving, and unticking it shows what came."""
import os
import re
import sys
import threading
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig import check, eventually, run  # noqa: E402

BOX = "document.getElementById('CommData')"
AT_END = f"{BOX}.scrollTop + {BOX}.clientHeight >= {BOX}.scrollHeight - 2"


def command(rig, item, value, prefix):
    """Posts an item control of the status page, as its drop-down list does,
    with the form token the page carries, in the background (the answer
    comes after the controller's reply); the moment the simulator received
    a command starting with `prefix`."""
    page = urllib.request.urlopen(rig.url, timeout=30).read().decode("latin-1")
    token = re.search(r"name='FormToken' value='(\w+)'", page).group(1)
    body = urllib.parse.urlencode({"clientinput": item, "clientvalue": value,
                                   "FormToken": token}).encode()
    before = len(rig.sim_commands())
    threading.Thread(target=lambda: urllib.request.urlopen(rig.url, data=body, timeout=30).read(),
                     daemon=True).start()
    eventually(lambda: any(c.startswith(prefix) for c in rig.sim_commands()[before:]),
               timeout=10, what=f"the simulator to receive {prefix}")
    return time.monotonic()


def case_live(rig, browser, shot):
    browser.navigate(rig.page("/echo"))
    links = browser.evaluate("[...document.querySelectorAll('a.linkrow')].map(a => a.textContent"
                             " + '=' + a.getAttribute('href'))")
    check(any(l.startswith("IO Window=") and l.endswith("/echo") for l in links),
          f"menu row links {links}")
    echo = lambda: browser.value("#CommData")  # noqa: E731
    eventually(lambda: "Sent to Vaux VP" in echo(), what="start-up traffic")
    label = browser.value("#aOpenStatus", "textContent")
    check(label.startswith("Port Open / "), f"link state label {label!r}")
    check(len(browser.evaluate("window.corvaneEcho.text()")) <= 10000, "at most 10,000 characters")

    sent_at = command(rig, "V10", "On", "VP2104")  # zone 4 on
    eventually(lambda: "VP 21 04" in echo(), timeout=5, what="the command on the page")
    delay = time.monotonic() - sent_at
    check(delay < 1.0, f"the command reached the page {delay:.2f} s after the controller")
    eventually(lambda: re.search(r"VP 21 04[^\n]*\n(.*\n)*V[IX]\w+ +<\d\d:\d\d:\d\d ", echo()),
               timeout=5, what="the controller's reply on the page")
    check(browser.evaluate(AT_END), "the view follows the newest text")
    shot("echo-live")

    # Scrolled somewhere in the middle and frozen, the view stays as it is.
    browser.evaluate(f"{BOX}.scrollTop = {BOX}.scrollHeight / 3")
    browser.click("#Freeze")
    check(browser.value("#Freeze", "checked"), "Freeze ticked")
    shown, top = echo(), browser.evaluate(f"{BOX}.scrollTop")
    command(rig, "V16", "-20 db", "VP2104")  # zone 4's volume
    eventually(lambda: browser.evaluate("window.corvaneEcho.text()").count("VP 21 04") > shown.count("VP 21 04"),
               timeout=5, what="the page to receive the command while frozen")
    time.sleep(0.3)
    check(echo() == shown, "the frozen view changed its text")
    check(browser.evaluate(f"{BOX}.scrollTop") == top, "the frozen view scrolled")
    shot("echo-frozen")
    browser.click("#Freeze")
    check(echo().count("VP 21 04") > shown.count("VP 21 04"), "unfreezing shows what arrived")
    check(browser.evaluate(AT_END), "unfreezing scrolls to the newest text")


if __name__ == "__main__":
    sys.exit(run({"live": case_live}, __doc__, "corvane-echo"))
