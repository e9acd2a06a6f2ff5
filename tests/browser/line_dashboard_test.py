#!/usr/bin/python3
"""The line's dashboard in a real browser.

A throwaway PostgreSQL cluster (pg-cluster.sh) and voltrix-line over it; three
stations post their log lines and their live state as a station does, one of
them a failed run with a Chinese text. Headless Chromium opens the page with
the viewer's token in the address: a card per station with its tiles, the
latest failures (the Chinese text as text, not mojibake), the yield table, a
state posted after the page loaded shown without a reload, a job published
by an engineer shown without a reload, the same after a reload, the CSV
export downloaded, and a wrong token answered by the login.
Every wait is bounded; everything started is stopped on every path out.
"""

import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

# The shared module is imported from the source tree: no bytecode left there.
sys.dont_write_bytecode = True
from browser_support import Failure, Processes, start_browser, wait_in_page, wait_until

VIEWER_TOKEN = "viewer-token-line-browser-0123456789"
STATION_TOKEN = "station-token-line-browser-0123456789"
ENGINEER_TOKEN = "engineer-token-line-browser-0123456789"
SERVING = re.compile(r"voltrix-line: serving http://127\.0\.0\.1:([0-9]+)")
SHA_A = "5d1e0c3f" + "9a" * 28
SHA_B = "c0ffee42" + "17" * 28
FAILED_TEXT = "Failed at segment 2: 校验失败 (Incorrect in verifying the read-write data!)"
STATIONS = ["line-1", "line-2", "三号站"]  # a Chinese name: the card shows whether CJK renders
SLOTS = 16


def utc(moment):
    return moment.strftime("%Y-%m-%dT%H:%M:%S.") + f"{moment.microsecond // 1000:03d}Z"


def record(station, number, slot, ended, failed=False, sha=SHA_A):
    """A run's log line as the station writes it: its keys sorted, compact, UTF-8."""
    started = ended - datetime.timedelta(seconds=41.3)
    fields = {
        "id": f"7f3a{number:04d}-51c2-4e0b-9d7a-{number:012d}",
        "station": station, "version": "1.4.0", "start": utc(started), "end": utc(ended),
        "slot": f"1-1.{slot}", "port": f"/dev/ttyACM{slot}",
        "usb": {"vid_pid": "1a86:7523", "serial": f"ZK{number:06d}", "path": f"1-1.{slot}"},
        "image": {"path": "sysbin.bin", "sha256": sha}, "segments": 6, "bytes": 393216,
        "seconds": 41.3, "label": None, "run_folder": None,
        "result": FAILED_TEXT if failed else "verified 6 segments, 393216 bytes in 41.3 s",
        "exit_code": 9 if failed else 0, "failure_kind": "verify" if failed else None,
        "failed_segment": 2 if failed else None, "failed_address": "0x00010000" if failed else None,
        "hint": None,
    }
    return json.dumps(fields, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def slot(device, state, percent=0, last=None):
    return {"device": device, "name": f"slot {device + 1}", "port": f"/dev/ttyACM{device}",
            "slot": f"1-1.{device}", "state": state,
            "status": FAILED_TEXT if state == "failed" else "", "percent": percent,
            "segment": 1 + percent * 6 // 100 if state == "flashing" else 0, "segments": 6,
            "note": None, "last_result": last, "last_result_at": None,
            "verified": 1 if state == "verified" else 0, "failed": 1 if state == "failed" else 0,
            "yield": None}


def station_slots(index):
    """Sixteen slots: most flashing at staggered progress or verified, one
    failed on the first station, a few waiting for a device."""
    slots = []
    for device in range(SLOTS):
        if index == 0 and device == 5:
            slots.append(slot(device, "failed", last=FAILED_TEXT))
        elif (device + index) % 5 == 4:
            slots.append(slot(device, "waiting"))
        elif (device + index) % 2 == 0:
            slots.append(slot(device, "flashing", (device * 13 + index * 29) % 97 + 2))
        else:
            slots.append(slot(device, "verified", last="verified 6 segments, 393216 bytes"))
    return slots


def state(index, slots, outbox_error=None):
    verified = sum(s["state"] == "verified" for s in slots)
    failed = sum(s["state"] == "failed" for s in slots)
    return {"station": STATIONS[index], "version": "1.4.0", "t": int(time.time() * 1e6),
            "image": {"name": "sysbin.bin", "sha256": SHA_A},
            "outbox": {"records": 3 if outbox_error else 0, "bytes": 2400 if outbox_error else 0,
                       "oldest": None, "lastError": outbox_error},
            "counts": {"verified": verified, "failed": failed,
                       "yield": f"{100 * verified / (verified + failed):.1f}%"},
            "slots": slots}


class Line:
    def __init__(self, base):
        self.base = base

    def post(self, path, body, content_type):
        request = urllib.request.Request(
            self.base + path, data=body.encode("utf-8"), method="POST",
            headers={"Authorization": "Bearer " + STATION_TOKEN, "Content-Type": content_type})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status, answer.read()

    def publish(self, line_program, folder):
        """A job signed by voltrix-line --sign, published as an engineer; its sha256."""
        image = os.path.join(folder, "job.bin")
        with open(image, "wb") as out:
            out.write(bytes(range(256)) * 16)
        signed = subprocess.run([line_program, "--sign", "--key", os.path.join(folder, "jobs.key"),
                                 image], capture_output=True, text=True, timeout=30)
        if signed.returncode != 0:
            raise Failure(f"voltrix-line --sign: {signed.stderr}")
        query = urllib.parse.urlencode({"name": "sysbin.bin", "signature": signed.stdout.strip(),
                                        "quota": "100"})
        with open(image, "rb") as body:
            request = urllib.request.Request(
                self.base + "api/jobs?" + query, data=body.read(), method="POST",
                headers={"Authorization": "Bearer " + ENGINEER_TOKEN,
                         "Content-Type": "application/octet-stream"})
        with urllib.request.urlopen(request, timeout=10) as answer:
            if answer.status != 201:
                raise Failure(f"POST /api/jobs answered {answer.status}")
            return json.loads(answer.read())["sha256"]

    def records(self, lines):
        status, body = self.post("api/records", "\n".join(lines) + "\n", "application/x-ndjson")
        taken = json.loads(body)
        if status != 200 or taken["added"] != len(lines):
            raise Failure(f"POST /api/records answered {status} {taken}")

    def state(self, posted):
        status, _ = self.post("api/stations/state", json.dumps(posted, ensure_ascii=False),
                              "application/json")
        if status != 204:
            raise Failure(f"POST /api/stations/state answered {status}")


class LinePage:
    """The line's page as the browser shows it."""

    def __init__(self, driver):
        self.driver = driver

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def text(self):
        try:
            return self.js("return document.body.innerText")
        except Exception:
            return ""

    def wait(self, what, condition, limit=5):
        return wait_in_page(self.driver, what, condition, limit, self.text)

    def cards(self):
        """{station: [tile class, ...]} as the cards stand."""
        return self.js("""const cards = {};
            for (const card of document.querySelectorAll("#stations .card"))
              cards[card.dataset.station] =
                  [...card.querySelectorAll(".slots .tile")].map((tile) => tile.className);
            return cards;""")

    def tile(self, station, device):
        return self.js("""const card = [...document.querySelectorAll("#stations .card")]
                              .find((card) => card.dataset.station === arguments[0]);
            const tile = card && card.querySelectorAll(".slots .tile")[arguments[1]];
            if (!tile) return null;
            return {cls: tile.className, state: tile.querySelector(".slot-state").textContent,
                    last: tile.querySelector(".slot-last").textContent,
                    bar: tile.querySelector(".bar div").getBoundingClientRect().width};""",
                       station, device)

    def rows(self, body_id):
        return self.js("""return [...document.querySelectorAll("#" + arguments[0] + " tr")].map(
                              (row) => [...row.cells].map((cell) => cell.textContent));""",
                       body_id)

    def shown(self, element_id):
        return self.js("const e = document.getElementById(arguments[0]);"
                       "return !!e && e.offsetHeight > 0;", element_id)

    def expect_state(self, what, expected, limit=5):
        def matches():
            return self.cards() == expected and len(self.rows("failures")) >= 1 \
                and len(self.rows("yield")) >= 1
        return self.wait(what, matches, limit)


def expected_cards(slots_by_station):
    return {name: ["tile " + s["state"] for s in slots]
            for name, slots in zip(STATIONS, slots_by_station)}


def start_cluster(script, folder):
    """The cluster lives while its standard input is open."""
    cluster = subprocess.Popen(["bash", script], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=open(os.path.join(folder, "pg.err"), "wb"),
                               start_new_session=True)
    conninfo = cluster.stdout.readline().decode().strip()
    if not conninfo.startswith("host="):
        cluster.stdin.close()
        cluster.wait(timeout=15)
        with open(os.path.join(folder, "pg.err"), "rb") as err:
            raise Failure("pg-cluster.sh did not start:\n" + err.read().decode("utf-8", "replace"))
    return cluster, conninfo


def stop_cluster(cluster):
    cluster.stdin.close()
    try:
        cluster.wait(timeout=20)
    except subprocess.TimeoutExpired:
        cluster.terminate()
        cluster.wait(timeout=10)


def check_download(folder):
    def downloaded():
        path = os.path.join(folder, "voltrix-runs.csv")
        return os.path.exists(path) and os.path.getsize(path) > 0 and path
    with open(wait_until("the CSV download", downloaded, 10), encoding="utf-8") as csv:
        header, *rows = csv.read().splitlines()
    if not header.startswith("id,") or len(rows) != 8 or not any("校验失败" in r for r in rows):
        raise Failure(f"the CSV export: header {header!r}, {len(rows)} rows")


def run(args, folder, processes):
    cluster, conninfo = start_cluster(args.pg_cluster, folder)
    try:
        run_against(args, folder, processes, conninfo)
    finally:
        processes.stop_all()
        stop_cluster(cluster)


def run_against(args, folder, processes, conninfo):
    with open(os.path.join(folder, "tokens"), "w") as tokens:
        tokens.write(f"viewer {VIEWER_TOKEN} quality\nstation {STATION_TOKEN} stations\n"
                     f"engineer {ENGINEER_TOKEN} eng\n")
    keygen = subprocess.run([args.line, "--keygen", os.path.join(folder, "jobs")],
                            capture_output=True, text=True, timeout=30)
    if keygen.returncode != 0:
        raise Failure(f"voltrix-line --keygen: {keygen.stderr}")
    line = processes.start("line", [args.line, "--db", conninfo, "--listen", "127.0.0.1:0",
                                    "--token-file", "tokens",
                                    "--trust-key", os.path.join(folder, "jobs.pub")])

    def serving():
        if line.poll() is not None:
            raise Failure(f"voltrix-line ended (exit {line.returncode}):\n"
                          + processes.output("line", "err"))
        return SERVING.search(processes.output("line"))
    base = f"http://127.0.0.1:{wait_until('voltrix-line serves', serving, 15).group(1)}/"
    poster = Line(base)

    # Runs of the last hours, one failed on the first station; a second
    # image on the third.
    now = datetime.datetime.now(datetime.timezone.utc)
    number = 0
    for index, name in enumerate(STATIONS):
        lines = []
        for minutes in (95, 50, 3) if index < 2 else (70, 20):
            number += 1
            lines.append(record(name, number, number % SLOTS, now - datetime.timedelta(
                minutes=minutes), failed=index == 0 and minutes == 3,
                sha=SHA_B if index == 2 and minutes == 20 else SHA_A))
        poster.records(lines)
    slots_by_station = [station_slots(index) for index in range(3)]
    for index in range(3):
        poster.state(state(index, slots_by_station[index],
                           "line answered 503: database: cannot connect" if index == 2 else None))

    downloads = os.path.join(folder, "downloads")
    os.mkdir(downloads)
    driver = start_browser("1400,1100")
    try:
        driver.execute_cdp_cmd("Page.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": downloads})
        page = LinePage(driver)
        driver.get(base + "#token=" + VIEWER_TOKEN)
        page.expect_state("three cards of sixteen tiles, the tables",
                          expected_cards(slots_by_station), 10)
        if "#token" in driver.current_url:
            raise Failure("the token stays in the address")
        failures = page.rows("failures")
        if len(failures) != 1 or failures[0][1] != STATIONS[0] or failures[0][4] != FAILED_TEXT:
            raise Failure(f"the latest failures: {failures}")
        tile = page.tile(STATIONS[0], 5)
        if tile["state"] != "failed" or "校验失败" not in tile["last"]:
            raise Failure(f"the failed tile: {tile}")
        # Per hour, station and image: line-1 and line-2 two hours each, the
        # third station two images.
        yields = page.rows("yield")
        per_station = {}
        for hour, name, image, verified, failed, _ in yields:
            per_station.setdefault(name, [0, 0, set()])
            per_station[name][0] += int(verified)
            per_station[name][1] += int(failed)
            per_station[name][2].add(image)
        if per_station != {STATIONS[0]: [2, 1, {SHA_A[:16]}], STATIONS[1]: [3, 0, {SHA_A[:16]}],
                           STATIONS[2]: [2, 0, {SHA_A[:16], SHA_B[:16]}]}:
            raise Failure(f"the yield table: {yields}")
        page.wait("the summary", lambda: "7 verified, 1 failed" in page.text())
        if not page.shown("export-csv") or page.shown("login") or page.shown("gone"):
            raise Failure("the header, no login and no connection note")
        driver.save_screenshot(os.path.join(args.out, "line-dashboard.png"))

        # A state posted after the page loaded: the tile changes in place.
        slots_by_station[1][0] = slot(0, "verified", last="verified 6 segments, 393216 bytes")
        slots_by_station[1][1] = slot(1, "flashing", 64)
        poster.state(state(1, slots_by_station[1]))
        page.wait("the live update", lambda: page.tile(STATIONS[1], 0)["cls"] == "tile verified"
                  and page.tile(STATIONS[1], 1)["bar"] > 0)
        # A job published after the page loaded: its block follows the event.
        if "No job published." not in page.js("return document.getElementById('job').innerText"):
            raise Failure("the job block before any job")
        sha = poster.publish(args.line, folder)

        def job_shown():
            shown = page.js("return document.getElementById('job').innerText")
            return "job sysbin.bin" in shown and sha[:16] in shown and "remaining 100" in shown
        page.wait("the published job", job_shown)
        driver.refresh()
        page.expect_state("the same state after a reload", expected_cards(slots_by_station))
        page.wait("the published job after a reload", job_shown)

        driver.find_element("id", "export-csv").click()
        check_download(downloads)

        # A wrong token: the page asks for one and shows nothing.
        driver.get(base + "#token=not-a-token")
        page.wait("the login", lambda: page.shown("login") and page.shown("token-input"))
        if page.cards():
            raise Failure("cards shown for a wrong token")
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.partition("\n")[0])
    parser.add_argument("--line", required=True, help="voltrix-line")
    parser.add_argument("--pg-cluster", required=True, help="tests/line/pg-cluster.sh")
    parser.add_argument("--out", required=True, help="folder for the screenshot")
    args = parser.parse_args()
    started = time.monotonic()
    folder = tempfile.mkdtemp(prefix="voltrix-line-browser-")
    processes = Processes(folder)
    try:
        run(args, folder, processes)
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        if os.path.exists(os.path.join(folder, "line.err")):
            print("--- voltrix-line's last lines", file=sys.stderr)
            print("\n".join(processes.output("line", "err").splitlines()[-30:]), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"line dashboard test passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
