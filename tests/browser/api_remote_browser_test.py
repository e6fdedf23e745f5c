#!/usr/bin/python3
"""The /remote phone page in headless Chromium (390 x 844, touch) against
the programs rig.py starts: its layout, its slider and buttons driving the
controller through the JSON API, and xAP changes reaching it through the
event stream. The API's answers and refusals are tests/api's.

    api_remote_browser_test.py remote"""
import functools
import http.client
import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig import check, eventually, run  # noqa: E402

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


def xap_volume(rig, zone, db):
    """An xAP BSC command for a zone's volume record; its list position:
    +6 dB is position 2, then 2 dB apart."""
    rig.xap_send("--class", "xAPBSC.cmd", "--target", "zyn.Vaux.*:>", "output.state.1",
                 "ID=%02X" % (12 + zone), f"Level={2 + (6 - db) // 2}")


def validate_openapi(doc):
    """The document against the OpenAPI 3.0 JSON Schema that Debian ships
    (3.1 keeps its structure; its Schema Objects are JSON Schema 2020-12, so
    those are checked as such), and every $ref resolves."""
    import jsonschema
    with open(OPENAPI_30_SCHEMA) as f:
        meta = json.load(f)
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


def emulate_phone(browser):
    browser.call("Emulation.setDeviceMetricsOverride", width=390, height=844,
                 deviceScaleFactor=2, mobile=True)
    browser.call("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
    browser.call("Emulation.setEmitTouchEventsForMouse", enabled=True, configuration="mobile")


def tap(browser, selector):
    x, y = browser.centre_of(selector)
    browser.call("Input.dispatchTouchEvent", type="touchStart", touchPoints=[{"x": x, "y": y}])
    browser.call("Input.dispatchTouchEvent", type="touchEnd", touchPoints=[])


SLIDER = "section[data-zone='2'] input[name='volume']"


def case_remote(rig, browser, shot):
    api(rig, 201, "PUT", "/scenes/Evening", {"capture": True})
    validate_openapi(api(rig, 200, "GET", "/openapi.json"))
    emulate_phone(browser)
    browser.navigate(rig.page("/remote"))
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
    browser.evaluate(f"document.querySelector(\"{SLIDER}\").focus()")
    browser.press("ArrowLeft", 37)
    want = "VP210202%02X" % (60 + (old - 2) // 2)
    eventually(lambda: want in rig.sim_commands()[before:], what=f"{want} from the slider")
    # A tap on "More" opens bass and treble.
    tap(browser, "section[data-zone='2'] button[aria-expanded]")
    check(browser.value("section[data-zone='2'] input[name='bass']", "offsetHeight"),
          "More opens bass")
    # A change made over xAP moves the slider within a second.
    xap_volume(rig, 2, -44)
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
    tap(browser, "button[data-scene='Late']")
    eventually(lambda: len(rig.sim_commands()) > before, what="the recall to reach the controller")
    # xAP recalls a saved scene too.
    before = len(rig.sim_commands())
    rig.xap_send("--class", "Corvane.Scene", "--target", "zyn.Vaux.*", "scene.recall", "name=Late")
    eventually(lambda: len(rig.sim_commands()) > before, what="the xAP recall")
    rig.stop("vaux-sim")
    eventually(lambda: browser.evaluate("document.getElementById('banner').offsetHeight > 0"),
               timeout=15, what="the link-down banner")
    shot("link-down")
    api(rig, 202, "PATCH", "/zones/1", {"volume": -40})  # waits for the link


if __name__ == "__main__":
    sys.exit(run({"remote": case_remote}, __doc__, "corvane-api"))
