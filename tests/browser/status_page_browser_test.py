#!/usr/bin/python3
"""The status page in a real browser, used as a person would use it, against
the programs rig.py starts.

    status_page_browser_test.py CASE

CASE is one of: renders, control, save_restart, filter, cross_site. The
programs come from $CORVANE_BIN_DIR; screenshots go to $CORVANE_ARTIFACTS."""
import os
import subprocess
import sys
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig import check, eventually, free_port, run  # noqa: E402

ROW_STATUS = """(() => {
  const id = [...document.querySelectorAll('td')].find(td => td.textContent === %s);
  return id ? id.parentElement.cells[0].textContent : null; })()"""


def status_of(browser, record_hex):
    return browser.evaluate(ROW_STATUS % ('"' + record_hex + '"'))


def save(browser):
    browser.expect_load(lambda: browser.click("input[name='UpdateButton']"))


def case_renders(rig, browser, shot):
    """The page's style sheet and pictures, and the help page; its title,
    item rows and groups are the page unit tests' (tests/pages)."""
    browser.navigate(rig.url)
    colour = browser.evaluate(
        "getComputedStyle(document.querySelector('td.TABLEHEADER')).backgroundColor")
    check(colour == "rgb(99, 99, 156)", f"header colour {colour}")
    width = browser.evaluate(
        "new Promise(r => { const i = document.querySelector('img[alt=Corvane]');"
        " i.complete ? r(i.naturalWidth) : i.onload = () => r(i.naturalWidth); })")
    check(width == 133, f"logo width {width}")
    check(status_of(browser, "07") == "1 / On", "zone 1 is on in the simulator")
    shot("status-page")
    browser.navigate(rig.page("/help"))
    check("Corvane help" in browser.text(), "help page")
    width = browser.value("img[alt^=The]", "naturalWidth")
    check(width == 560, f"help picture width {width}")
    shot("help-page")


# select, value chosen, command the simulator receives, record, what its row shows
CONTROLS = [("V10", "On", "VP2104", "0A", "1 / On"),  # zone 4 on
            ("V13", "-20 db", "VP210102", "0D", "15 / -20 db")]  # zone 1's volume


def case_control(rig, browser, shot):
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    for select, value, command, record, shows in CONTROLS:
        before = len(rig.sim_commands())
        browser.expect_load(lambda: browser.choose(f"select[name='{select}']", value))
        sent = rig.sim_commands()[before:]
        check(any(c.startswith(command) for c in sent), f"{select}={value}: no {command} in {sent}")
        check(status_of(browser, record) == shows, f"{select}: {status_of(browser, record)}")
    shot("after-control")


# field, what is typed, what the field holds after the save (and a restart)
ZONE_FIELDS = [("name7", "Porch Speaker", "Porch_Speaker"), ("Tag7", "porch", "porch")]
SETUP_FIELDS = [("Background", "#203040", "#203040"), ("UpDownIncrement", "2", "2"),
                ("periodicscriptinterval", "60", "60"), ("InputName0", "Tuner", "Tuner"),
                ("InputName7", "", "Input8")]


def case_save_restart(rig, browser, shot):
    """Zone fields and the setup section typed into the page, saved, on disk
    and still there after a restart."""
    browser.navigate(rig.url)
    for field, typed, _ in ZONE_FIELDS:
        browser.type_into(f"input[name='{field}']", typed)
    browser.click("input[name='Event7']")
    browser.click("input[name='ShowSetup']")
    save(browser)
    check(browser.value("input[name='ServerPort']") is not None, "setup section shown")
    for field, typed, _ in SETUP_FIELDS:
        browser.type_into(f"input[name='{field}']", typed)
    browser.click("input[name='DebugLog']")
    save(browser)
    for line in (";Porch_Speaker;True;1;porch;True;", "Background=#203040", "UpDownIncrement=2",
                 "PeriodicScriptInterval=60", "DebugLog=True", f"UPBCommPort={rig.sim_port}",
                 "Tuner,Input2,Input3,Input4,Input5,Input6,Input7,Input8"):
        check(line in rig.ini(), f"{line} not in Corvane.ini")
    shot("after-save")
    for restarted in (False, True):
        if restarted:
            rig.restart_corvane()
            browser.navigate(rig.url)
        for field, _, kept in ZONE_FIELDS + SETUP_FIELDS:
            got = browser.value(f"input[name='{field}']")
            check(got == kept, f"{field} is {got!r} (restarted: {restarted})")
        check(browser.value("input[name='Event7']", "checked"), "event flag")
        check(browser.evaluate("document.body.bgColor") == "#203040", "page background")
        options = browser.evaluate(
            "[...document.querySelector(\"select[name='V1']\").options].map(o => o.value)")
        check("Tuner" in options, f"source options {options}")
    shot("after-restart")


def case_filter(rig, browser, shot):
    """A filter typed in and a message of its source through the hub filling
    its row; deleting rows is the page unit tests' (tests/pages)."""
    browser.navigate(rig.url)
    browser.click("input[name='ShowReceiveMessages']")
    browser.click("input[name='ShowReceiveDetail']")
    save(browser)
    browser.type_into("input[name='Source0']", "acme.sensor.porch:temp")
    browser.type_into("input[name='Class0']", "xAPBSC.event")
    browser.type_into("input[name='FilterTag0']", "porch temp")
    save(browser)
    check(browser.value("input[name='FilterTag1']") == "porch_temp", "the new filter")
    check("acme.sensor.porch:temp~xAPBSC.event=porch_temp;" in rig.ini(), "[Received] on disk")
    rig.xap_send("--class", "xAPBSC.event", "--source", "acme.sensor.porch:temp",
                 "input.state", "state=on", "text=21.5C")

    def row_filled():
        browser.navigate(rig.url)
        return "21.5C" in browser.text()
    eventually(row_filled, timeout=10, what="the filtered message on the page")
    shot("filter-added")


# A page of another site that posts a command to the status page as soon as
# it opens (its form token made up).
EVIL_PAGE = """<html><body><form id='f' method='post' action='%s'>
<input name='clientinput' value='V10'><input name='clientvalue' value='On'>
<input name='FormToken' value='0'></form>
<script>document.getElementById('f').submit()</script></body></html>"""


def case_cross_site(rig, browser, shot):
    """A page of another site (another origin on loopback), as a person in
    the house might visit, posting a command: the browser names its origin,
    the server refuses it, and nothing changes. The gate's verdicts are the
    web unit tests' (tests/web)."""
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    evil = os.path.join(rig.work, "evil")
    os.makedirs(evil)
    with open(os.path.join(evil, "control.html"), "w") as f:
        f.write(EVIL_PAGE % rig.url)
    port = free_port()
    server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind",
                               "127.0.0.1", "--directory", evil],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        url = f"http://127.0.0.1:{port}/control.html"
        eventually(lambda: urllib.request.urlopen(url, timeout=2).read(),
                   what="the other site", passing=OSError)
        before = len(rig.sim_commands())
        browser.navigate(url)
        eventually(lambda: "another site" in browser.text(), what="the post to be refused")
        shot("cross-site-refused")
    finally:
        server.terminate()
        server.wait(10)
    sent = rig.sim_commands()[before:]
    check(not any(c.startswith("VP2104") for c in sent), f"zone 4 commanded: {sent}")
    browser.navigate(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 still off")


CASES = {"renders": case_renders, "control": case_control, "save_restart": case_save_restart,
         "filter": case_filter, "cross_site": case_cross_site}

if __name__ == "__main__":
    sys.exit(run(CASES, __doc__, "corvane-browser"))
