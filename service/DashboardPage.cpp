#include "service/DashboardPage.h"

namespace voltrix::service {

namespace {

// The page starts from /api/slots and /api/runs, so a reload mid-run shows
// the same state, then follows /api/events from the event those answers
// were taken at. Every text goes in as text, never as markup.
constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Voltrix station</title>
<style>
body { margin: 0; font-family: "Noto Sans CJK SC", "WenQuanYi Zen Hei", "Microsoft YaHei",
       "DejaVu Sans", sans-serif; background: #f3f4f6; color: #111; }
header { background: #1f2937; color: #fff; padding: 10px 16px; display: flex; flex-wrap: wrap;
         gap: 6px 24px; align-items: baseline; }
header h1 { font-size: 20px; margin: 0; }
header .sha { font-family: "DejaVu Sans Mono", monospace; font-size: 12px; }
#gone { display: none; background: #b91c1c; color: #fff; padding: 10px 16px; font-weight: bold; }
#gone.shown { display: block; }
#database { display: none; background: #fef3c7; color: #92400e; padding: 8px 16px; }
#database.shown { display: block; }
#line { display: none; padding: 6px 16px; font-size: 14px; color: #374151; }
#line.shown { display: block; }
#line.failing { background: #fef3c7; color: #92400e; }
#counts { padding: 8px 16px; font-size: 18px; }
#mode { margin-left: 12px; color: #92400e; font-weight: bold; }
#slots { display: grid; grid-template-columns: repeat(auto-fill, minmax(260px, 1fr));
         gap: 10px; padding: 0 16px 16px; align-items: start; }
.tile { background: #fff; border-radius: 6px; padding: 10px; border-left: 8px solid #9ca3af; }
.tile.flashing { border-color: #2563eb; }
.tile.verified { border-color: #16a34a; }
.tile.failed { border-color: #dc2626; }
.tile .name { font-weight: bold; word-break: break-all; }
.tile .port, .tile .last, .tile .tally { font-size: 13px; color: #4b5563; word-break: break-all; }
.tile .state { text-transform: uppercase; font-size: 13px; font-weight: bold; }
.tile .status { min-height: 1.3em; white-space: pre-wrap; }
.bar { height: 10px; background: #e5e7eb; border-radius: 5px; overflow: hidden; }
.bar div { height: 100%; background: #2563eb; width: 0; }
table { border-collapse: collapse; margin: 0 16px 16px; background: #fff; font-size: 13px; }
td, th { border-bottom: 1px solid #e5e7eb; padding: 4px 8px; text-align: left; }
td:first-child { white-space: nowrap; }
h2 { font-size: 16px; margin: 8px 16px; }
</style>
</head>
<body>
<header>
  <h1 id="station">Voltrix station</h1>
  <span>image <b id="image">?</b> <span class="sha" id="sha"></span></span>
  <span>voltrix <span id="version"></span></span>
</header>
<div id="gone">The station has gone away: no connection to it. Trying again&hellip;</div>
<div id="database"></div>
<div id="line"></div>
<div id="counts"><span id="tally"></span><span id="mode"></span></div>
<div id="slots"></div>
<h2>Runs, newest first</h2>
<table><thead><tr><th>end</th><th>slot</th><th>port</th><th>exit</th><th>result</th></tr></thead>
<tbody id="runs"></tbody></table>
<script>
"use strict";
const token = (location.hash.match(/token=([^&]+)/) || [])[1] || "";
const auth = token ? { headers: { Authorization: "Bearer " + decodeURIComponent(token) } } : {};
const seenRuns = new Set();
let stream = null;

function text(element, value) { element.textContent = value == null ? "" : String(value); }
function $(id) { return document.getElementById(id); }
function imageName(path) { return path ? path.split(/[\\/]/).pop() : "?"; }

function showStation(station) {
  text($("station"), station.name || "Voltrix station");
  text($("image"), imageName(station.image && station.image.path));
  text($("sha"), station.image && station.image.sha256 ? "sha256 " + station.image.sha256 : "");
  text($("version"), station.version);
}

function showCounts(counts) {
  text($("tally"), counts.verified + " verified, " + counts.failed + " failed" +
       (counts.yield ? ", yield " + counts.yield : ""));
  let mode = counts.paused ? "paused" : "";
  if (counts.draining) mode = "draining";
  if (counts.finished) mode = "finished, exit code " + counts.exit_code;
  text($("mode"), mode);
  // The results stay in the log; the database takes them when it can.
  text($("database"), counts.database ? counts.database +
       " (the log keeps every result; flashing goes on)" : "");
  $("database").className = counts.database ? "shown" : "";
}

// The records the line has not taken yet wait in the station's log.
function showLine(line) {
  if (!line) { $("line").className = ""; return; }
  const waiting = line.records + (line.records === 1 ? " record waits" : " records wait");
  text($("line"), "line " + line.url + ": " + waiting + " to be sent" +
       (line.lastError ? " (" + line.lastError + ")" : ""));
  $("line").className = line.lastError ? "shown failing" : "shown";
}

function tileOf(slot) {
  const id = "slot-" + slot.device;
  let tile = $(id);
  if (!tile) {
    tile = document.createElement("div");
    tile.id = id;
    for (const part of ["name", "port", "state", "status", "bar", "segment", "last", "tally"]) {
      const element = document.createElement("div");
      element.className = part;
      if (part === "bar") element.appendChild(document.createElement("div"));
      tile.appendChild(element);
    }
    const tiles = $("slots");
    const after = [...tiles.children].find((other) => +other.id.slice(5) > slot.device);
    tiles.insertBefore(tile, after || null);
  }
  return tile;
}

function showSlot(slot) {
  const tile = tileOf(slot);
  const part = (name) => tile.querySelector("." + name);
  tile.className = "tile " + slot.state;
  text(part("name"), slot.name || slot.slot || slot.port);
  // The port under the name, unless the name is the port; the USB path too
  // when a label names the slot.
  const where = [slot.port, slot.slot].filter((value, index, all) =>
    value && value !== part("name").textContent && all.indexOf(value) === index);
  text(part("port"), where.join("  "));
  text(part("state"), slot.state);
  text(part("status"), slot.note || (slot.state === "waiting" ? "" : slot.status));
  part("bar").style.display = slot.state === "flashing" ? "" : "none";
  part("bar").firstChild.style.width = slot.percent + "%";
  text(part("segment"), slot.state === "flashing" && slot.segment > 0
       ? "segment " + slot.segment + " of " + slot.segments + ", " + slot.percent + "%" : "");
  text(part("last"), slot.last_result ? slot.last_result + " (" + slot.last_result_at + ")" : "");
  text(part("tally"), slot.verified + " verified, " + slot.failed + " failed" +
       (slot.yield ? ", yield " + slot.yield : ""));
}

function addRun(record, newest) {
  if (!record || seenRuns.has(record.id)) return;
  seenRuns.add(record.id);
  const row = document.createElement("tr");
  for (const value of [record.end, record.label || record.slot, record.port, record.exit_code,
                       record.result]) {
    const cell = document.createElement("td");
    text(cell, value);
    row.appendChild(cell);
  }
  const body = $("runs");
  if (newest) body.insertBefore(row, body.firstChild); else body.appendChild(row);
}

function take(event) {
  if (event.slot) showSlot(event.slot);
  if (event.counts) showCounts(event.counts);
  if (event.station) showStation(event.station);
  if ("line" in event) showLine(event.line);
  if (event.type === "run_finished") addRun(event.record, true);
}

function gone(shown) { $("gone").className = shown ? "shown" : ""; }

async function load() {
  if (stream) { stream.close(); stream = null; }
  try {
    const slots = await (await fetch("/api/slots", auth)).json();
    const runs = await (await fetch("/api/runs?limit=200", auth)).json();
    showStation(slots.station);
    showCounts(slots.counts);
    showLine(slots.line);
    slots.slots.forEach(showSlot);
    runs.forEach((record) => addRun(record, false));
    const query = "?after=" + slots.event +
      (token ? "&token=" + encodeURIComponent(decodeURIComponent(token)) : "");
    stream = new EventSource("/api/events" + query);
    stream.onopen = () => gone(false);
    stream.onmessage = (message) => take(JSON.parse(message.data));
    stream.onerror = () => { gone(true); stream.close(); stream = null; setTimeout(load, 2000); };
    gone(false);
  } catch (error) {
    gone(true);
    setTimeout(load, 2000);
  }
}
load();
</script>
</body>
</html>
)PAGE";

}  // namespace

std::string_view dashboardPage() {
  return kPage;
}

}  // namespace voltrix::service
