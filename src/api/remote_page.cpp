// The page is static: everything it shows comes from /api/v1 at run time.
#include "api/remote_page.h"

#include <string_view>

#include "api/api_module.h"
#include "web/request.h"

namespace corvane {

namespace {

constexpr std::string_view kPage = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="theme-color" content="#1d3557">
<title>Corvane Remote</title>
<style>
*{box-sizing:border-box}
body{margin:0;font:16px/1.4 system-ui,sans-serif;background:#eef1f5;color:#1b1f24}
#top{position:sticky;top:0;z-index:2}
header{background:#1d3557;color:#fff;padding:.6rem 1rem;display:flex;align-items:center;gap:.6rem}
header h1{font-size:1.15rem;margin:0;flex:1}
header a{color:#cfe3ff}
main{max-width:40rem;margin:0 auto;padding:.75rem}
#banner{display:none;background:#b00020;color:#fff;padding:.6rem 1rem;font-weight:600}
#banner.show{display:block}
.card{background:#fff;border-radius:12px;box-shadow:0 1px 3px rgba(0,0,0,.15);padding:.8rem;margin:0 0 .75rem}
.card h2{font-size:1.1rem;margin:0 0 .5rem;display:flex;justify-content:space-between;gap:.5rem}
.state{font-size:.85rem;font-weight:400;color:#555}
.row{display:flex;align-items:center;gap:.6rem;margin:.45rem 0;flex-wrap:wrap}
.row label{min-width:4.5rem}
select,button,input[type=text]{font:inherit;min-height:44px;border-radius:8px;border:1px solid #8a94a3;background:#fff;padding:0 .7rem;max-width:100%}
select{flex:1;min-width:0}
button{background:#e3e9f2;cursor:pointer}
button[aria-pressed=true]{background:#1d3557;color:#fff}
button:focus-visible,select:focus-visible,input:focus-visible{outline:3px solid #ffb703;outline-offset:2px}
.level{display:grid;grid-template-columns:4.5rem 1fr 4.2rem;align-items:center;gap:.5rem;margin:.45rem 0}
input[type=range]{width:100%;min-width:0;height:44px;margin:0;touch-action:pan-y}
output{text-align:right;font-variant-numeric:tabular-nums}
.more{display:none}
.more.open{display:block}
#scenes .list{display:flex;flex-wrap:wrap;gap:.5rem}
#scenes form{display:flex;gap:.5rem;margin-top:.6rem}
#scenes input{flex:1;min-width:0}
#note{min-height:1.4em;font-size:.9rem;color:#444;padding:0 .2rem}
.empty{color:#555}
</style></head>
<body>
<div id="top"><header><h1>Corvane Remote</h1><a href="/status">Status</a></header>
<div id="banner" role="alert">Controller link down: commands wait until it is back.</div></div>
<main>
<section id="scenes" class="card" aria-labelledby="scenes-title">
<h2 id="scenes-title">Scenes</h2>
<div class="list" id="scene-list"></div>
<form id="save-scene"><input type="text" id="scene-name" name="scene-name" aria-label="New scene name" placeholder="Scene name" maxlength="40" pattern="[A-Za-z0-9 _.\-]+" required><button type="submit">Save current as…</button></form>
</section>
<div id="zones" aria-live="off"></div>
<p id="note" role="status" aria-live="polite"></p>
</main>
<script>
(function () {
  'use strict';
  var api = '/api/v1', model = {zones: [], sources: [], ranges: {}}, cards = {};
  var zonesBox = document.getElementById('zones'), note = document.getElementById('note');
  var LEVELS = [['volume', 'Volume'], ['bass', 'Bass'], ['treble', 'Treble']];
  function say(text) { note.textContent = text; }
  function el(tag, attrs, text) {
    var e = document.createElement(tag);
    for (var k in attrs) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function send(method, path, body) {
    var init = {method: method, headers: {}, credentials: 'same-origin'};
    if (body !== undefined) { init.headers['Content-Type'] = 'application/json'; init.body = JSON.stringify(body); }
    return fetch(api + path, init).then(function (r) {
      if (r.status === 204) return null;
      return r.json().then(function (j) {
        if (!r.ok) throw new Error(j.detail || j.title || ('HTTP ' + r.status));
        if (r.status === 202 && path.indexOf('/zones/') === 0) say('Waiting for the controller…');
        return j;
      });
    });
  }
  function command(zone, attribute, value) {
    var body = {}; body[attribute] = value;
    say('');
    return send('PATCH', '/zones/' + zone, body).then(function (z) { if (z) update(z); })
      .catch(function (e) { say('Not done: ' + e.message); });
  }
  function dbText(v) { return v === null || v === undefined ? '–' : (v > 0 ? '+' : '') + v + ' dB'; }
  function levelRow(parent, card, z, attribute, label) {
    var range = model.ranges[attribute] || {min: -80, max: 6, step: 2};
    var row = el('div', {'class': 'level'});
    var id = 'z' + z.zone + '-' + attribute;
    row.appendChild(el('label', {'for': id}, label));
    var input = el('input', {type: 'range', id: id, name: attribute, min: range.min, max: range.max,
      step: range.step, 'aria-label': label + ', ' + z.name, 'data-zone': z.zone});
    var out = el('output', {'for': id});
    input.addEventListener('input', function () { out.textContent = dbText(+input.value); input.setAttribute('aria-valuetext', dbText(+input.value)); });
    input.addEventListener('change', function () { input.dataset.busy = ''; command(z.zone, attribute, +input.value); });
    input.addEventListener('pointerdown', function () { input.dataset.busy = '1'; });
    input.addEventListener('pointerup', function () { input.dataset.busy = ''; });
    row.appendChild(input); row.appendChild(out);
    parent.appendChild(row);
    card.controls[attribute] = {input: input, out: out};
  }
  function buildCard(z) {
    var card = el('section', {'class': 'card', 'data-zone': z.zone, 'aria-labelledby': 'z' + z.zone + '-name'});
    card.controls = {}; card.zoneName = z.name;
    var h = el('h2', {id: 'z' + z.zone + '-name'}, z.name);
    var state = el('span', {'class': 'state'}); h.appendChild(state); card.state = state;
    card.appendChild(h);
    var row = el('div', {'class': 'row'});
    var sid = 'z' + z.zone + '-source';
    row.appendChild(el('label', {'for': sid}, 'Source'));
    var sel = el('select', {id: sid, name: 'source', 'aria-label': 'Source, ' + z.name});
    model.sources.forEach(function (s) { sel.appendChild(el('option', {value: s}, s)); });
    sel.addEventListener('change', function () { command(z.zone, 'source', sel.value); });
    row.appendChild(sel);
    card.appendChild(row);
    card.controls.source = {input: sel};
    var row2 = el('div', {'class': 'row'});
    var mute = el('button', {type: 'button', name: 'status', 'aria-pressed': 'false', 'aria-label': 'Mute ' + z.name}, 'Mute');
    mute.addEventListener('click', function () { command(z.zone, 'status', card.status === 'on' ? 'mute' : 'on'); });
    var more = el('button', {type: 'button', 'aria-expanded': 'false', 'aria-controls': 'z' + z.zone + '-more', 'aria-label': 'More settings, ' + z.name}, 'More');
    row2.appendChild(mute); row2.appendChild(more);
    card.controls.status = {input: mute};
    levelRow(card, card, z, 'volume', 'Volume');
    card.appendChild(row2);
    var extra = el('div', {'class': 'more', id: 'z' + z.zone + '-more'});
    card.appendChild(extra);
    more.addEventListener('click', function () {
      var open = extra.classList.toggle('open');
      more.setAttribute('aria-expanded', open ? 'true' : 'false');
    });
    LEVELS.slice(1).forEach(function (l) { levelRow(extra, card, z, l[0], l[1]); });
    return card;
  }
  function show(card, attribute, value) {
    var c = card.controls[attribute];
    if (!c) return;
    if (attribute === 'status') {
      var muted = value === 'mute';
      c.input.setAttribute('aria-pressed', muted ? 'true' : 'false');
      c.input.textContent = muted ? 'Unmute' : (value === 'off' ? 'Turn on' : 'Mute');
      c.input.setAttribute('aria-label', c.input.textContent + ' ' + card.zoneName);
      card.status = value;
      card.state.textContent = value || '';
    } else if (attribute === 'source') {
      if (value !== null && c.input.value !== value) c.input.value = value;
    } else if (c.out) {
      if (value !== null && !c.input.dataset.busy) c.input.value = value;
      c.out.textContent = dbText(value);
      c.input.setAttribute('aria-valuetext', dbText(value));
    }
  }
  function update(z) {
    var card = cards[z.zone];
    if (!card) return;
    ['source', 'status', 'volume', 'bass', 'treble'].forEach(function (a) { if (a in z) show(card, a, z[a]); });
  }
  function render(snapshot) {
    model = snapshot;
    zonesBox.textContent = ''; cards = {};
    var used = snapshot.zones.filter(function (z) { return z.used; });
    if (!used.length) zonesBox.appendChild(el('p', {'class': 'empty'}, 'No zone is marked used on the status page.'));
    used.forEach(function (z) {
      var card = buildCard(z); cards[z.zone] = card; zonesBox.appendChild(card); update(z);
    });
    link(snapshot.link ? snapshot.link.up : true);
  }
  function link(up) { document.getElementById('banner').classList.toggle('show', !up); }
  function loadScenes() {
    return send('GET', '/scenes').then(function (j) {
      var list = document.getElementById('scene-list');
      list.textContent = '';
      if (!j.scenes.length) list.appendChild(el('span', {'class': 'empty'}, 'No scenes saved yet.'));
      j.scenes.forEach(function (s) {
        var b = el('button', {type: 'button', 'data-scene': s.name, 'aria-label': 'Recall scene ' + s.name}, s.name);
        b.addEventListener('click', function () {
          send('POST', '/scenes/' + encodeURIComponent(s.name) + '/recall').then(function () { say('Scene ' + s.name + ' recalled'); })
            .catch(function (e) { say('Not done: ' + e.message); });
        });
        list.appendChild(b);
      });
    }).catch(function (e) { say('Scenes: ' + e.message); });
  }
  document.getElementById('save-scene').addEventListener('submit', function (ev) {
    ev.preventDefault();
    var name = document.getElementById('scene-name').value.trim();
    if (!name) return;
    send('PUT', '/scenes/' + encodeURIComponent(name), {capture: true}).then(function () {
      say('Scene ' + name + ' saved'); document.getElementById('scene-name').value = ''; loadScenes();
    }).catch(function (e) { say('Not saved: ' + e.message); });
  });
  function listen() {
    var events = new EventSource(api + '/events');
    events.addEventListener('snapshot', function (e) { render(JSON.parse(e.data)); });
    events.addEventListener('zone', function (e) {
      var d = JSON.parse(e.data), card = cards[d.zone];
      if (card) show(card, d.attribute, d.value);
    });
    events.addEventListener('link', function (e) { link(JSON.parse(e.data).up); });
    events.onerror = function () { say('Connection to Corvane lost; retrying…'); };
    events.onopen = function () { say(''); };
    window.corvaneRemote = {events: events};
  }
  loadScenes();
  listen();
})();
</script>
</body></html>
)HTML";

}  // namespace

void RemotePage::ServePage(Request& request, Response& /*response*/, int index) {
  const ApiAccess access = api_.Access(request);
  if (!access.allowed) {
    return api_.SendProblem(index, 401, "a login is needed",
                            access.basic ? "WWW-Authenticate: Basic realm=\"Corvane\"\r\n" : "");
  }
  if (request.Method() != "GET" && request.Method() != "HEAD") {
    return api_.SendProblem(index, 405, request.Method() + " is not allowed here",
                            "Allow: GET\r\n");
  }
  api_.Send(index, 200, "text/html; charset=utf-8", kPage);
}

}  // namespace corvane
