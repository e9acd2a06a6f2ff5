#include "line/LinePage.h"

namespace voltrix {

namespace {

// The page starts from /api/stations, /api/failures and /api/yield, so a
// reload shows the same state, then follows /api/events from the event
// /api/stations was taken at. Every text goes in as text, never as markup.
constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Voltrix line</title>
<style>
body { margin: 0; font-family: "Noto Sans CJK SC", "WenQuanYi Zen Hei", "Microsoft YaHei",
       "DejaVu Sans", sans-serif; background: #f3f4f6; color: #111; }
header { background: #1f2937; color: #fff; padding: 10px 16px; display: flex; flex-wrap: wrap;
         gap: 6px 24px; align-items: baseline; }
header h1 { font-size: 20px; margin: 0; }
header a { color: #bfdbfe; }
#gone, #login { display: none; padding: 10px 16px; }
#gone { background: #b91c1c; color: #fff; font-weight: bold; }
#login { background: #fef3c7; }
#gone.shown, #login.shown { display: block; }
#stations { display: grid; grid-template-columns: repeat(auto-fill, minmax(340px, 1fr));
            gap: 10px; padding: 10px 16px; align-items: start; }
.card { background: #fff; border-radius: 6px; padding: 10px; border-top: 6px solid #16a34a; }
.card.away { border-color: #9ca3af; opacity: 0.7; }
.card .name { font-weight: bold; font-size: 17px; word-break: break-all; }
.card .live { float: right; font-size: 12px; text-transform: uppercase; font-weight: bold;
              color: #16a34a; }
.card.away .live { color: #6b7280; }
.card .image, .card .outbox, .card .counts { font-size: 13px; color: #4b5563;
                                               word-break: break-all; }
.card .outbox.error { color: #b91c1c; }
.card .slots { display: grid; grid-template-columns: repeat(auto-fill, minmax(96px, 1fr));
               gap: 4px; margin-top: 6px; }
.tile { font-size: 11px; padding: 4px; border-radius: 4px; background: #f3f4f6;
        border-left: 5px solid #9ca3af; overflow: hidden; }
.tile.flashing { border-color: #2563eb; }
.tile.verified { border-color: #16a34a; }
.tile.failed { border-color: #dc2626; background: #fef2f2; }
.tile .slot-progress { float: right; color: #1d4ed8; }
.tile.failed .slot-last { white-space: normal; color: #b91c1c; display: -webkit-box;
                          -webkit-box-orient: vertical; -webkit-line-clamp: 2; }
.tile:not(.flashing) .bar { visibility: hidden; }
.tile .slot-name { font-weight: bold; white-space: nowrap; overflow: hidden;
                   text-overflow: ellipsis; }
.tile .slot-last { color: #4b5563; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
.bar { height: 5px; background: #e5e7eb; border-radius: 3px; overflow: hidden; }
.bar div { height: 100%; background: #2563eb; width: 0; }
table { border-collapse: collapse; margin: 0 16px 16px; background: #fff; font-size: 13px; }
td, th { border-bottom: 1px solid #e5e7eb; padding: 4px 8px; text-align: left; }
td.rate { min-width: 90px; }
td.rate div { height: 8px; background: #16a34a; }
h2 { font-size: 16px; margin: 8px 16px; }
#job { margin: 10px 16px 0; padding: 8px 10px; background: #fff; border-radius: 6px;
       font-size: 14px; border-left: 6px solid #7c3aed; }
#job.none { border-color: #9ca3af; color: #4b5563; }
</style>
</head>
<body>
<header>
  <h1>Voltrix line</h1>
  <span id="summary"></span>
  <a id="export-csv" href="/api/export?format=csv">download the runs (CSV)</a>
</header>
<form id="login"><label>Token <input id="token-input" type="password" autocomplete="off">
</label> <button id="token-submit" type="submit">Show the line</button></form>
<div id="gone">No connection to the line. Trying again&hellip;</div>
<div id="job" class="none">No job published.</div>
<div id="stations"></div>
<h2>Latest failures</h2>
<table><thead><tr><th>end</th><th>station</th><th>slot</th><th>exit</th><th>result</th></tr>
</thead><tbody id="failures"></tbody></table>
<h2>Yield per image and hour (last 24 h)</h2>
<table><thead><tr><th>hour</th><th>station</th><th>image</th><th>verified</th><th>failed</th>
<th>yield</th></tr></thead><tbody id="yield"></tbody></table>
<script>
"use strict";
// A token in the address's fragment is kept for the tab and taken out of
// the address; one given later in the same tab (a link followed, a token
// pasted) shows the line as that token sees it.
function tokenFromAddress() {
  const fragment = (location.hash.match(/token=([^&]+)/) || [])[1];
  if (!fragment) return false;
  sessionStorage.setItem("voltrix-line-token", decodeURIComponent(fragment));
  history.replaceState(null, "", location.pathname);
  return true;
}
tokenFromAddress();
window.addEventListener("hashchange", () => { if (tokenFromAddress()) location.reload(); });
let token = sessionStorage.getItem("voltrix-line-token") || "";
let stream = null;
let refresh = null;

function $(id) { return document.getElementById(id); }
function text(element, value) { element.textContent = value == null ? "" : String(value); }
function element(tag, className, parent) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (parent) parent.appendChild(made);
  return made;
}
function headers() { return token ? { headers: { Authorization: "Bearer " + token } } : {}; }
async function api(path) {
  const answer = await fetch(path, headers());
  if (answer.status === 401 || answer.status === 403) { askToken(); throw new Error("token"); }
  if (!answer.ok) throw new Error(path + ": " + answer.status);
  return answer.json();
}
function askToken() {
  $("login").className = "shown";
  $("token-input").focus();
}
$("login").addEventListener("submit", (event) => {
  event.preventDefault();
  token = $("token-input").value.trim();
  sessionStorage.setItem("voltrix-line-token", token);
  $("login").className = "";
  load();
});

function cardOf(name) {
  for (const card of $("stations").children) if (card.dataset.station === name) return card;
  const card = element("div", "card");
  card.dataset.station = name;
  for (const part of ["live", "name", "image", "outbox", "counts", "slots"]) element("div", part, card);
  const after = [...$("stations").children].find((other) => other.dataset.station > name);
  $("stations").insertBefore(card, after || null);
  return card;
}

function showStation(station) {
  const card = cardOf(station.station);
  const part = (name) => card.querySelector("." + name);
  card.className = "card" + (station.away ? " away" : "");
  text(part("live"), station.away ? "away" : "live");
  text(part("name"), station.station + (station.version ? "  (voltrix " + station.version + ")" : ""));
  const image = station.image || {};
  text(part("image"), "image " + (image.name || "?") + (image.sha256 ? "  " + image.sha256.slice(0, 16) : ""));
  const outbox = station.outbox || {};
  part("outbox").className = "outbox" + (outbox.lastError ? " error" : "");
  text(part("outbox"), "outbox " + (outbox.records || 0) + " records" +
       (outbox.lastError ? ", last error: " + outbox.lastError : ""));
  const counts = station.counts || {};
  text(part("counts"), (counts.verified || 0) + " verified, " + (counts.failed || 0) + " failed" +
       (counts.yield ? ", yield " + counts.yield : ""));
  const slots = part("slots");
  slots.replaceChildren();
  for (const slot of station.slots || []) {
    const tile = element("div", "tile " + (slot.state || ""), slots);
    text(element("div", "slot-name", tile), slot.name || slot.slot || slot.port);
    if (slot.state === "flashing") {
      text(element("div", "slot-progress", tile),
           (slot.segments ? slot.segment + "/" + slot.segments + "  " : "") + (slot.percent || 0) + "%");
    }
    text(element("div", "slot-state", tile), slot.state);
    const bar = element("div", "bar", tile);
    element("div", "", bar).style.width = (slot.state === "flashing" ? slot.percent || 0 : 0) + "%";
    // A failed slot shows the system's own text; the others their last result.
    const said = slot.state === "failed" && slot.status ? slot.status : slot.last_result || "";
    const last = element("div", "slot-last", tile);
    text(last, said);
    tile.title = said;
  }
}

// "2026-12-09T06:00:30.250Z" as "2026-12-09 06:00:30 UTC".
function utcText(time) {
  return time ? String(time).replace("T", " ").replace(/(\.\d+)?Z$/, " UTC") : "";
}

function row(body, values) {
  const line = element("tr", "", body);
  for (const value of values) text(element("td", "", line), value);
  return line;
}

async function showTables() {
  const failures = await api("/api/failures?limit=20");
  $("failures").replaceChildren();
  for (const failure of failures) {
    row($("failures"), [utcText(failure.end), failure.station, failure.slot, failure.exit_code, failure.result]);
  }
  const yields = await api("/api/yield");
  $("yield").replaceChildren();
  let verified = 0, failed = 0;
  for (const entry of yields.slice().reverse()) {
    const total = entry.verified + entry.failed;
    verified += entry.verified; failed += entry.failed;
    const line = row($("yield"), [utcText(entry.hour).replace(":00 UTC", " UTC"), entry.station, (entry.image_sha256 || "").slice(0, 16),
                                  entry.verified, entry.failed]);
    const rate = element("td", "rate", line);
    text(rate, total ? Math.round(100 * entry.verified / total) + "%" : "");
    element("div", "", rate).style.width = (total ? 100 * entry.verified / total : 0) + "%";
  }
  text($("summary"), "last 24 h: " + verified + " verified, " + failed + " failed");
}

// The current job: fetched at the start, on each "job" event and as runs
// come in (its verified count grows with them).
async function showJob() {
  const answer = await fetch("/api/job", headers());
  if (answer.status === 204) {
    $("job").className = "none";
    text($("job"), "No job published.");
    return;
  }
  if (!answer.ok) return;
  const job = await answer.json();
  $("job").className = "";
  text($("job"), "job " + job.name + "  " + job.sha256.slice(0, 16) + "  " + job.size + " bytes" +
       "  quota " + (job.quota == null ? "none" : job.quota) + "  verified " + job.verified +
       (job.remaining == null ? "" : "  remaining " + job.remaining));
}

function gone(shown) { $("gone").className = shown ? "shown" : ""; }

// The tables follow the "runs" events, at most once a second.
function tablesSoon() {
  if (refresh) return;
  refresh = setTimeout(() => {
    refresh = null;
    showTables().catch(() => {});
    showJob().catch(() => {});
  }, 1000);
}

async function load() {
  if (stream) { stream.close(); stream = null; }
  try {
    const board = await api("/api/stations");
    board.stations.forEach(showStation);
    await showTables();
    await showJob().catch(() => {});
    const query = "?after=" + board.event + (token ? "&token=" + encodeURIComponent(token) : "");
    stream = new EventSource("/api/events" + query);
    stream.onopen = () => gone(false);
    stream.addEventListener("station", (message) => showStation(JSON.parse(message.data)));
    stream.addEventListener("runs", tablesSoon);
    stream.addEventListener("job", () => showJob().catch(() => {}));
    stream.onerror = () => { gone(true); stream.close(); stream = null; setTimeout(load, 2000); };
    gone(false);
  } catch (error) {
    if (error.message === "token") return;
    gone(true);
    setTimeout(load, 2000);
  }
}

// The export needs the token in a header: fetched, then saved.
$("export-csv").addEventListener("click", async (event) => {
  event.preventDefault();
  const answer = await fetch("/api/export?format=csv", headers());
  if (!answer.ok) { if (answer.status === 401) askToken(); return; }
  const link = element("a");
  link.href = URL.createObjectURL(await answer.blob());
  link.download = "voltrix-runs.csv";
  link.click();
  URL.revokeObjectURL(link.href);
});

load();
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string_view linePage() {
  return kPage;
}

}  // namespace voltrix
