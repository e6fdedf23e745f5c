#!/usr/bin/python3
"""Corvane's pages in a real browser, used as a person would use them,
against the programs rig.py starts: the status page (renders, control,
save_restart, filter, cross_site), the echo page (live) and the /remote
phone page (remote).

    pages_browser_test.py CASE

The programs come from $CORVANE_BIN_DIR; screenshots go to $CORVANE_ARTIFACTS."""
import functools
import http.client
import http.server
import json
import os
import re
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig import ActionBuilder, By, Keys, PointerInput, Select, check, eventually, run  # noqa: E402
from testkit import post_control, read  # noqa: E402


def status_of(browser, record_hex):
    """The status cell of the row whose record cell is `record_hex`."""
    cell = browser.find_element(By.XPATH, f"//td[.='{record_hex}']/../td[1]")
    return cell.get_attribute("textContent")


def save(browser):
    browser.expect_load(lambda: browser.click("input[name='UpdateButton']"))


def case_renders(rig, browser, shot):
    """The page's style sheet and pictures, and the help page; its title,
    item rows and groups are the page unit tests' (tests/pages)."""
    browser.get(rig.url)
    colour = browser.evaluate(
        "getComputedStyle(document.querySelector('td.TABLEHEADER')).backgroundColor")
    check(colour == "rgb(99, 99, 156)", f"header colour {colour}")
    width = browser.evaluate(
        "new Promise(r => { const i = document.querySelector('img[alt=Corvane]');"
        " i.complete ? r(i.naturalWidth) : i.onload = () => r(i.naturalWidth); })")
    check(width == 133, f"logo width {width}")
    check(status_of(browser, "07") == "1 / On", "zone 1 is on in the simulator")
    shot("status-page")
    browser.get(rig.page("/help"))
    check("Corvane help" in browser.text(), "help page")
    width = browser.value("img[alt^=The]", "naturalWidth")
    check(width == 560, f"help picture width {width}")
    shot("help-page")


# select, value chosen, command the simulator receives, record, what its row shows
CONTROLS = [("V10", "On", "VP2104", "0A", "1 / On"),  # zone 4 on
            ("V13", "-20 db", "VP210102", "0D", "15 / -20 db")]  # zone 1's volume


def case_control(rig, browser, shot):
    browser.get(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    for select, value, command, record, shows in CONTROLS:
        before = len(rig.sim_commands())
        choice = Select(browser.find(f"select[name='{select}']"))
        browser.expect_load(lambda: choice.select_by_value(value))
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
    browser.get(rig.url)
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
            rig.stop_corvane()
            rig.start_corvane()
            browser.get(rig.url)
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
    browser.get(rig.url)
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
        browser.get(rig.url)
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
    browser.get(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 starts off")
    with open(os.path.join(rig.work, "control.html"), "w") as f:
        f.write(EVIL_PAGE % rig.url)
    site = functools.partial(http.server.SimpleHTTPRequestHandler, directory=rig.work)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), site)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        before = len(rig.sim_commands())
        browser.get(f"http://127.0.0.1:{server.server_port}/control.html")
        eventually(lambda: "another site" in browser.text(), what="the post to be refused")
        shot("cross-site-refused")
    finally:
        server.shutdown()
    sent = rig.sim_commands()[before:]
    check(not any(c.startswith("VP2104") for c in sent), f"zone 4 commanded: {sent}")
    browser.get(rig.url)
    check(status_of(browser, "0A") == "0 / Off", "zone 4 still off")


BOX = "document.getElementById('CommData')"
AT_END = f"{BOX}.scrollTop + {BOX}.clientHeight >= {BOX}.scrollHeight - 2"


def command(rig, item, value, prefix):
    """Posts an item control of the status page; the moment the simulator
    received a command starting with `prefix`."""
    before = len(rig.sim_commands())
    post_control(rig.url, item, value)
    eventually(lambda: any(c.startswith(prefix) for c in rig.sim_commands()[before:]),
               timeout=10, what=f"the simulator to receive {prefix}")
    return time.monotonic()


def case_live(rig, browser, shot):
    """Traffic a command causes reaches the open page within a second,
    without reloading it; with Freeze ticked the view stays still while the
    text goes on arriving, and unticking it shows what came."""
    browser.get(rig.page("/echo"))
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
    eventually(lambda: browser.evaluate("window.corvaneEcho.text()").count("VP 21 04")
               > shown.count("VP 21 04"), timeout=5,
               what="the page to receive the command while frozen")
    time.sleep(0.3)
    check(echo() == shown, "the frozen view changed its text")
    check(browser.evaluate(f"{BOX}.scrollTop") == top, "the frozen view scrolled")
    shot("echo-frozen")
    browser.click("#Freeze")
    check(echo().count("VP 21 04") > shown.count("VP 21 04"), "unfreezing shows what arrived")
    check(browser.evaluate(AT_END), "unfreezing scrolls to the newest text")


OPENAPI_30_SCHEMA = "/usr/share/openapi-specification/schemas/v3.0/schema.json"


def api(rig, want, method, path, body=None):
    """A request (a JSON body) that must answer `want`; its parsed JSON body."""
    conn = http.client.HTTPConnection("127.0.0.1", rig.http_port, timeout=20)
    conn.request(method, "/api/v1" + path, body=body and json.dumps(body),
                 headers={"Content-Type": "application/json"} if body else {})
    r = conn.getresponse()
    doc = json.loads(r.read() or "null")
    conn.close()
    check(r.status == want, f"{method} {path} {body}: {r.status}, wanted {want}: {doc}")
    return doc


def validate_openapi(doc):
    """The document against the OpenAPI 3.0 JSON Schema that Debian ships
    (3.1 keeps its structure; its Schema Objects are JSON Schema 2020-12, so
    those are checked as such), and every $ref resolves."""
    import jsonschema
    meta = json.loads(read(OPENAPI_30_SCHEMA))  # ASCII
    meta["properties"]["openapi"]["pattern"] = r"^3\.1\.\d+(-.+)?$"
    # A Schema Object beside a Reference Object: one or the other, as in 3.0.
    meta["definitions"]["Schema"] = {"type": "object", "not": {"required": ["$ref"]}}
    jsonschema.Draft4Validator(meta).validate(doc)

    def walk(node, schema_here=False):
        if isinstance(node, list):
            return [walk(value) for value in node]
        if schema_here:
            jsonschema.Draft202012Validator.check_schema(node)
        for key, value in node.items() if isinstance(node, dict) else ():
            if key == "$ref":  # resolves, or the lookup fails
                functools.reduce(lambda at, part: at[part], value.lstrip("#/").split("/"), doc)
            walk(value, key == "schema")
    walk(doc)
    for schema in doc["components"]["schemas"].values():
        jsonschema.Draft202012Validator.check_schema(schema)


def tap(browser, selector):
    """A finger on the element's centre and off again: touch events, as a phone sends."""
    finger = ActionBuilder(browser, mouse=PointerInput("touch", "finger"))
    finger.pointer_action.move_to(browser.find(selector)).pointer_down().pointer_up()
    finger.perform()


SLIDER = "section[data-zone='2'] input[name='volume']"


def case_remote(rig, browser, shot):
    """The phone page (390 x 844, touch): its layout, its slider and buttons
    driving the controller through the JSON API, and xAP changes reaching it
    through the event stream. The API's answers and refusals are tests/api's."""
    api(rig, 201, "PUT", "/scenes/Evening", {"capture": True})
    validate_openapi(api(rig, 200, "GET", "/openapi.json"))
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
    browser.execute_cdp_cmd("Emulation.setTouchEmulationEnabled",
                            {"enabled": True, "maxTouchPoints": 5})
    browser.get(rig.page("/remote"))
    eventually(lambda: browser.evaluate("document.querySelectorAll('section[data-zone]').length"),
               what="the zone cards")
    shot("phone")
    used = [z["zone"] for z in api(rig, 200, "GET", "/zones")["zones"] if z["used"]]
    layout = browser.evaluate("""(() => ({
      width: document.documentElement.scrollWidth, view: window.innerWidth,
      cards: [...document.querySelectorAll('section[data-zone]')].map(s => +s.dataset.zone),
      sliders: [...document.querySelectorAll('input[type=range][name=volume]')]
        .map(i => i.getAttribute('aria-label') || (i.labels[0] && i.labels[0].textContent)),
      unnamed: [...document.querySelectorAll('button, input, select')]
        .filter(e => !(e.getAttribute('aria-label') || (e.labels && e.labels.length) ||
                       e.textContent.trim())).length,
      external: [...document.querySelectorAll('[src], link[href]')].length,
      bytes: performance.getEntriesByType('navigation')[0].transferSize +
        performance.getEntriesByType('resource').reduce((n, e) => n + e.transferSize, 0)}))()""")
    check(layout["view"] == 390 and layout["width"] <= 390, f"sideways scroll: {layout}")
    check(layout["cards"] == used, f"a card per used zone: {layout['cards']} vs {used}")
    check(len(layout["sliders"]) == len(used) and all(layout["sliders"]), f"labels {layout}")
    check(layout["unnamed"] == 0 and layout["external"] == 0, f"names, assets: {layout}")
    check(0 < layout["bytes"] < 60 * 1024, f"page weight {layout['bytes']} bytes")
    check(browser.value("button[data-scene='Evening']", "type"), "the scenes row")

    # The keyboard moves the slider and the controller follows.
    before = len(rig.sim_commands())
    old = int(browser.value(SLIDER))
    browser.find(SLIDER).send_keys(Keys.ARROW_LEFT)
    want = "VP210202%02X" % (60 + (old - 2) // 2)
    eventually(lambda: want in rig.sim_commands()[before:], what=f"{want} from the slider")
    # A tap on "More" opens bass and treble.
    tap(browser, "section[data-zone='2'] button[aria-expanded]")
    check(browser.value("section[data-zone='2'] input[name='bass']", "offsetHeight"),
          "More opens bass")
    # A change made over xAP moves the slider within a second.
    # Zone 2's volume record over xAP BSC: list position 2 is +6 dB, then 2 dB apart.
    rig.xap_send("--class", "xAPBSC.cmd", "--target", "zyn.Vaux.*:>", "output.state.1",
                 "ID=0E", f"Level={2 + (6 + 44) // 2}")
    start = time.monotonic()
    eventually(lambda: browser.value(SLIDER) == "-44",
               timeout=10, what="the slider to follow xAP")
    check(time.monotonic() - start < 3.0, "slider followed late")
    shot("followed")
    # "Save current as…" captures a scene; its button recalls it.
    browser.type_into("#scene-name", "Late")
    tap(browser, "#save-scene button")
    eventually(lambda: browser.value("button[data-scene='Late']", "type"),
               what="the new scene's button")
    check(api(rig, 200, "GET", "/scenes/Late")["zones"]["2"]["volume"] == -44, "captured")
    before = len(rig.sim_commands())
    sent = lambda: sum(c.startswith("VP21") for c in rig.sim_commands()[before:])  # noqa: E731
    tap(browser, "button[data-scene='Late']")
    eventually(lambda: sent() >= 16, what="the recall's 16 requests to reach the controller")
    # xAP recalls a saved scene too.
    rig.xap_send("--class", "Corvane.Scene", "--target", "zyn.Vaux.*", "scene.recall", "name=Late")
    eventually(lambda: sent() >= 32, what="the xAP recall's 16 requests")
    rig.stop("vaux-sim")
    eventually(lambda: browser.evaluate("document.getElementById('banner').offsetHeight > 0"),
               timeout=15, what="the link-down banner")
    shot("link-down")
    api(rig, 202, "PATCH", "/zones/1", {"volume": -40})  # waits for the link


CASES = {"renders": case_renders, "control": case_control, "save_restart": case_save_restart,
         "filter": case_filter, "cross_site": case_cross_site, "live": case_live,
         "remote": case_remote}

if __name__ == "__main__":
    sys.exit(run(CASES, __doc__, "corvane-browser"))
