#!/usr/bin/python3
"""The JSON API, its event stream, scenes and the /remote phone page, from
outside, against the programs rig.py starts: requests as curl sends them, and
headless Chromium as a phone (390 x 844, touch).

    api_remote_browser_test.py CASE

CASE is one of: api, scenes, remote."""
import base64
import contextlib
import functools
import hashlib
import http.client
import json
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rig import check, eventually, run  # noqa: E402

OPENAPI_30_SCHEMA = "/usr/share/openapi-specification/schemas/v3.0/schema.json"


def api(rig, want, method, path, body=None, headers=None):
    """A request (a dict body as JSON) that must answer `want`, an error as
    problem+json with that status; its headers and parsed JSON body."""
    headers = dict(headers or {})
    if isinstance(body, dict):
        body = json.dumps(body)
        headers.setdefault("Content-Type", "application/json")
    conn = http.client.HTTPConnection("127.0.0.1", rig.http_port, timeout=20)
    conn.request(method, "/api/v1" + path, body=body, headers=headers)
    r = conn.getresponse()
    raw, hdrs = r.read(), dict(r.getheaders())
    conn.close()
    doc = json.loads(raw) if raw and "json" in hdrs.get("Content-Type", "") else None
    check(r.status == want, f"{method} {path} {body}: {r.status}, wanted {want}: {doc}")
    check(want < 400 or (hdrs.get("Content-Type") == "application/problem+json"
                         and doc["status"] == want), f"{method} {path}: {hdrs} {doc}")
    return hdrs, doc


class Events:
    """A reader of /api/v1/events in the background: (time, name, data)."""

    def __init__(self, rig):
        self.items = []
        self.sock = socket.create_connection(("127.0.0.1", rig.http_port), timeout=30)
        self.sock.sendall(b"GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        name = None
        with contextlib.suppress(OSError, ValueError):  # the stream closed
            for line in self.sock.makefile("rb"):
                line = line.decode().rstrip("\n")
                if line.startswith("event: "):
                    name = line[7:]
                elif line.startswith("data: ") and name:
                    self.items.append((time.monotonic(), name, json.loads(line[6:])))
                    name = None

    def find(self, name, pred=lambda d: True):
        return next((i for i in self.items if i[1] == name and pred(i[2])), None)

    def close(self):
        self.sock.close()


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


BAD_REQUESTS = [
    # method, path, body, headers, status, detail mentions (each way of refusing
    # once; which bodies are refused and why is tests/api's table)
    ("PATCH", "/zones/2", {"volum": -20}, {}, 400, "volum"),
    ("PATCH", "/zones/2", "{not json", {"Content-Type": "application/json"}, 400, "body"),
    ("PATCH", "/zones/7", {"volume": -20}, {}, 404, "zone"),
    ("PATCH", "/zones/2", "volume=-20", {"Content-Type": "application/x-www-form-urlencoded"},
     415, "Content-Type"),
    ("PATCH", "/zones/2", {"volume": -20}, {"Origin": "http://elsewhere.example"}, 403, "Origin"),
    ("DELETE", "/zones/2", None, {}, 405, "DELETE"),
    ("GET", "/scenes/nothing", None, {}, 404, "nothing"),
    ("POST", "/scenes/nothing/recall", None, {}, 404, "nothing"),
    ("PUT", "/scenes/bad", {"zones": {"1": {"volume": "up"}}}, {}, 400, "zones.1.volume"),
    ("GET", "/nothing", None, {}, 404, "path"),
]


def case_api(rig, browser, shot):
    zones = api(rig, 200, "GET", "/zones")[1]["zones"]
    # The list is what the controller reported to the status page.
    check(len(zones) == 6 and zones[1]["zone"] == 2 and zones[1]["source"] and
          zones[1]["status"] in ("on", "mute", "off"), f"zones: {zones}")
    before = len(rig.sim_commands())
    check(api(rig, 200, "PATCH", "/zones/2", {"volume": -20})[1]["volume"] == -20, "PATCH")
    sent = rig.sim_commands()[before:]
    check([c for c in sent if not c.startswith("VPFE52")] == ["VP21020232"], f"sent {sent}")

    for method, path, body, headers, want, field in BAD_REQUESTS:
        before = len(rig.sim_commands())
        hdrs, problem = api(rig, want, method, path, body, headers)
        check(field in problem["detail"], f"{method} {path}: {problem}")
        check(want != 405 or hdrs.get("Allow") == "GET, PATCH", f"Allow: {hdrs}")
        check(len(rig.sim_commands()) == before, f"{method} {path} reached the controller")

    doc = api(rig, 200, "GET", "/openapi.json")[1]
    check(doc["openapi"].startswith("3.1"), "openapi.json")
    for path in ("/zones", "/zones/{zone}", "/events", "/scenes", "/scenes/{name}",
                 "/scenes/{name}/recall", "/openapi.json"):
        check(path in doc["paths"], f"openapi lists {path}")
    validate_openapi(doc)

    # A change made over xAP reaches the event stream within a second.
    events = Events(rig)
    try:
        eventually(lambda: events.find("snapshot"), what="the snapshot event")
        snapshot = events.find("snapshot")[2]
        check(len(snapshot["zones"]) == 6 and snapshot["link"]["up"], f"snapshot {snapshot}")
        before = len(rig.sim_commands())
        xap_volume(rig, 3, -30)
        sent_at = eventually(lambda: len(rig.sim_commands()) > before and time.monotonic(),
                             what="the xAP command to reach the controller")
        ev = eventually(lambda: events.find("zone", lambda d: d == {
            "zone": 3, "attribute": "volume", "value": -30}), what="the zone event")
        check(ev[0] - sent_at < 1.0, f"event {ev[0] - sent_at:.3f} s after the command")
        # The link going down is an event too.
        rig.stop("vaux-sim")
        eventually(lambda: events.find("link", lambda d: d == {"up": False}), timeout=15,
                   what="the link-down event")
        api(rig, 202, "PATCH", "/zones/1", {"volume": -40})  # waits for the link
    finally:
        events.close()


def volume_of_zone_1(rig):
    return api(rig, 200, "GET", "/zones/1")[1]["volume"]


def case_scenes(rig, browser, shot):
    scene = api(rig, 201, "PUT", "/scenes/Evening", {"capture": True})[1]
    check(scene["name"] == "Evening" and scene["zones"], f"capture {scene}")
    kept = scene["zones"]["1"]["volume"]
    scene = api(rig, 201, "PUT", "/scenes/Quiet", {"zones": {"2": {"volume": -40}}})[1]
    check(scene["zones"] == {"2": {"volume": -40}}, f"explicit {scene}")
    api(rig, 200, "PATCH", "/zones/1", {"volume": kept - 10})
    check(api(rig, 202, "POST", "/scenes/evening/recall")[1]["requests"] > 0, "recall")
    eventually(lambda: volume_of_zone_1(rig) == kept, what="the scene's volume back on zone 1")
    # Saved scenes survive a restart, and xAP recalls them too.
    rig.restart_corvane()
    check("Name=Evening" in rig.ini("Scenes.ini"), "Scenes.ini on disk")
    scenes = api(rig, 200, "GET", "/scenes")[1]["scenes"]
    check(sorted(s["name"] for s in scenes) == ["Evening", "Quiet"], f"after restart {scenes}")
    api(rig, 200, "PATCH", "/zones/1", {"volume": kept - 10})
    rig.xap_send("--class", "Corvane.Scene", "--target", "zyn.Vaux.*", "scene.recall",
                 "name=Evening")
    eventually(lambda: volume_of_zone_1(rig) == kept, what="the xAP recall of the volume")
    api(rig, 204, "DELETE", "/scenes/Quiet")
    api(rig, 404, "GET", "/scenes/Quiet")

    # Under BASIC page security the API wants the pages' login.
    rig.stop_corvane()
    digest = hashlib.sha256(b"x7Qk2secret").hexdigest()
    rig.write_ini("Corvane.ini", f"[Settings]\r\nusesecurity=BASIC\r\n[WebUsers]\r\n"
                  f"anna=x7Qk2:{digest}\r\n", "a")
    rig.start_corvane()
    before = len(rig.sim_commands())
    hdrs, _ = api(rig, 401, "PATCH", "/zones/1", {"volume": -40})
    check("Basic" in hdrs.get("WWW-Authenticate", ""), f"no login: {hdrs}")
    check(len(rig.sim_commands()) == before, "a refused PATCH reached the controller")
    api(rig, 200, "GET", "/scenes",
        headers={"Authorization": "Basic " + base64.b64encode(b"anna:secret").decode()})


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
    emulate_phone(browser)
    browser.navigate(rig.page("/remote"))
    eventually(lambda: browser.evaluate("document.querySelectorAll('section[data-zone]').length"),
               what="the zone cards")
    shot("phone")
    used = [z["zone"] for z in api(rig, 200, "GET", "/zones")[1]["zones"] if z["used"]]
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
    check(api(rig, 200, "GET", "/scenes/Late")[1]["zones"]["2"]["volume"] == -44, "captured")
    before = len(rig.sim_commands())
    tap(browser, "button[data-scene='Late']")
    eventually(lambda: len(rig.sim_commands()) > before, what="the recall to reach the controller")
    rig.stop("vaux-sim")
    eventually(lambda: browser.evaluate("document.getElementById('banner').offsetHeight > 0"),
               timeout=15, what="the link-down banner")
    shot("link-down")


if __name__ == "__main__":
    sys.exit(run({"api": case_api, "scenes": case_scenes, "remote": case_remote}, __doc__,
                 "corvane-api"))
