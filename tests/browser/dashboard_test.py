#!/usr/bin/python3
"""The station's dashboard in a real browser.

voltrix-cli --watch --serve runs a station over a private device map; headless
Chromium opens its page while three simulated devices are plugged one after
another: the first is held by another program for a moment (waiting), then
flashed (flashing, verified); the second answers a read-back with a wrong
byte (failed, with the system's text); the third is flashing while the page
is reloaded. At the end the station is stopped over HTTP and the page must
say that it has gone away. Every wait is bounded; everything started is
stopped on every path out.
"""

import argparse
import fcntl
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

# The shared module is imported from the source tree: no bytecode left there.
sys.dont_write_bytecode = True
from browser_support import Failure, Processes, start_browser, wait_in_page, wait_until

VIEWER_TOKEN = "viewer-token-browser-0123456789"
OPERATOR_TOKEN = "operator-token-browser-0123456789"
STATION_NAME = "三号线"  # a Chinese name: the header shows whether CJK text renders
FAILED_TEXT = "Incorrect in verifying the read-write data!"
SERVING = re.compile(r"voltrix-cli: serving the station on http://127\.0\.0\.1:([0-9]+)/")
# Each answer late by a few milliseconds: a run of the sample image lasts a
# few seconds, long enough to watch it flashing and to reload the page.
PACING = ["--paced", "--latency-ms", "5"]
SLOW_PACING = ["--paced", "--latency-ms", "10"]


class Dashboard:
    """The page as the browser shows it."""

    def __init__(self, driver):
        from selenium.webdriver.common.by import By
        self.driver = driver
        self.By = By

    def wait(self, what, condition, limit):
        return wait_in_page(self.driver, what, condition, limit, self.text)

    def gone_shown(self):
        return self.driver.find_element(self.By.ID, "gone").is_displayed()

    def text(self, element_id=None):
        try:
            if element_id is None:
                return self.driver.find_element(self.By.TAG_NAME, "body").text
            return self.driver.find_element(self.By.ID, element_id).text
        except Exception:
            return ""

    def tile(self, device):
        """State, status, segment, bar width and tally of tile `device`, or None."""
        return self.driver.execute_script(
            """const tile = document.getElementById("slot-" + arguments[0]);
               if (!tile) return null;
               const part = (name) => tile.querySelector("." + name);
               const bar = part("bar");
               return {cls: tile.className, state: part("state").textContent,
                       name: part("name").textContent, status: part("status").textContent,
                       segment: part("segment").textContent, last: part("last").textContent,
                       tally: part("tally").textContent,
                       bar_shown: bar.style.display !== "none" && bar.offsetWidth > 0,
                       bar_width: bar.firstChild.getBoundingClientRect().width};""", device)

    def tile_count(self):
        return self.driver.execute_script("return document.getElementById('slots').children.length")

    def runs(self):
        return self.driver.execute_script(
            """return [...document.querySelectorAll("#runs tr")].map(
                   (row) => [...row.cells].map((cell) => cell.textContent));""")

    def wait_state(self, device, state, limit, also=lambda tile: True, what=""):
        def matches():
            tile = self.tile(device)
            return tile if tile and tile["cls"] == "tile " + state and also(tile) else None
        return self.wait(f"tile {device} {state} {what}".strip(), matches, limit)


def flashing_with_progress(tile):
    return re.fullmatch(r"segment [1-6] of 6, \d+%", tile["segment"]) and tile["bar_shown"] \
        and tile["bar_width"] > 0


def failed_with_text(tile):
    return FAILED_TEXT in tile["status"]


def post(url, token):
    request = urllib.request.Request(url, data=b"", method="POST",
                                     headers={"Authorization": "Bearer " + token})
    with urllib.request.urlopen(request, timeout=10) as answer:
        return answer.status


def plug(processes, name, sim, links, com, pacing, extra=()):
    """A simulated device, linked as COM<com> of the private device map."""
    processes.start(name, [sim, *pacing, *extra, "--link-dir", links, "--com", str(com)])
    return wait_until(f"{name} links COM{com}",
                      lambda: os.path.islink(os.path.join(links, f"COM{com}")), 10)


def run(args, folder, processes):
    subprocess.run([args.sample_image, "sysbin.bin"], cwd=folder, check=True, timeout=30,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(folder, "sysbin.bin"), "rb") as image:
        sha256 = hashlib.sha256(image.read()).hexdigest()
    links = os.path.join(folder, "dosdevices")
    serialcomm = os.path.join(folder, "serialcomm")
    os.mkdir(links)
    os.mkdir(serialcomm)
    # The device map names three ports; each is there once its link is.
    for index, com in enumerate((7, 8, 9)):
        with open(os.path.join(serialcomm, f"VCP{index}"), "w") as value:
            value.write(f"COM{com}")
    with open(os.path.join(folder, "tokens"), "w") as tokens:
        tokens.write(f"viewer {VIEWER_TOKEN}\noperator {OPERATOR_TOKEN}\n")
    env = dict(os.environ, VOLTRIX_DOSDEVICES=links, VOLTRIX_SERIALCOMM=serialcomm)

    cli = processes.start("cli", [args.cli, "--watch", "--serve", "127.0.0.1:0", "--token-file",
                                  "tokens", "--log", "station.jsonl", "--station", STATION_NAME],
                          env=env)

    def serving():
        if cli.poll() is not None:
            raise Failure(f"voltrix-cli ended (exit {cli.returncode}):\n"
                          + processes.output("cli", "err"))
        return SERVING.search(processes.output("cli", "err"))
    base = f"http://127.0.0.1:{wait_until('voltrix-cli serves', serving, 15).group(1)}/"

    driver = start_browser()
    try:
        page = Dashboard(driver)
        # With a token file even reading needs a token: the page takes its
        # own from the address's fragment, which a reload keeps.
        driver.get(base + "#token=" + VIEWER_TOKEN)
        page.wait("the station's header", lambda: page.text("station") == STATION_NAME
                  and page.text("image") == "sysbin.bin" and sha256 in page.text("sha"), 10)
        page.wait("no device yet", lambda: page.text("tally") == "0 verified, 0 failed"
                  and page.tile_count() == 0 and not page.gone_shown(), 5)

        # Device 0: another program holds its port when it appears, as
        # ModemManager may; the station waits for it, then flashes it.
        processes.start("sim0", [args.sim, *PACING])
        path = wait_until("sim0 prints its path",
                          lambda: processes.output("sim0").partition("\n")[0].strip()
                          if "\n" in processes.output("sim0") else None, 10)
        holder = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX)
            os.symlink(path, os.path.join(links, "COM7"))
            page.wait_state(0, "waiting", 6, lambda t: t["state"] == "waiting"
                            and "port busy, trying again" in t["status"] and not t["bar_shown"],
                            "with the port-busy note")
        finally:
            os.close(holder)
        page.wait_state(0, "flashing", 10, flashing_with_progress, "with a segment and a bar")
        page.wait_state(0, "verified", 20, lambda t: t["tally"].startswith("1 verified, 0 failed")
                        and t["last"].startswith("verified 6 segments"))

        # Device 1: a bad read-back.
        plug(processes, "sim1", args.sim, links, 8, PACING,
             ["--fault", "wrong-byte:data-request:1"])
        page.wait_state(1, "flashing", 10, what="(the faulty device)")
        page.wait_state(1, "failed", 20, lambda t: failed_with_text(t)
                        and t["tally"] == "0 verified, 1 failed, yield 0.0%",
                        "with the system's text")

        # Device 2: flashing while the page is reloaded; the reloaded page
        # shows every tile as it stands.
        plug(processes, "sim2", args.sim, links, 9, SLOW_PACING)
        page.wait_state(2, "flashing", 10, flashing_with_progress, "with a segment and a bar")
        driver.refresh()
        page.wait_state(2, "flashing", 10, flashing_with_progress, "after the reload")
        page.wait_state(0, "verified", 2, what="after the reload")
        page.wait_state(1, "failed", 2, failed_with_text, "after the reload")
        page.wait("the counts after the reload",
                  lambda: page.text("tally") == "1 verified, 1 failed, yield 50.0%"
                  and not page.gone_shown(), 2)
        driver.save_screenshot(os.path.join(args.out, "dashboard.png"))

        page.wait_state(2, "verified", 30)
        page.wait("the counts",
                  lambda: page.text("tally") == "2 verified, 1 failed, yield 66.7%", 5)
        runs = page.wait("three runs listed", lambda: len(page.runs()) == 3 and page.runs(), 5)
        results = [row[4] for row in runs]
        exits = [row[3] for row in runs]
        if not (results[0].startswith("verified") and results[1].startswith("failed")
                and "read-back differs from the image" in results[1]
                and results[2].startswith("verified") and exits == ["0", "9", "0"]):
            raise Failure(f"the runs, newest first, are not verified, failed, verified: {runs}")

        # Stopped over HTTP: the station drains and ends; the page says so.
        status = post(base + "api/stop", OPERATOR_TOKEN)
        if status != 202:
            raise Failure(f"POST /api/stop answered {status}")
        try:
            code = cli.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise Failure("voltrix-cli did not end within 20 s of /api/stop")
        if code != 9:
            raise Failure(f"voltrix-cli ended with {code}, not 9 (a device failed its read-back)")
        page.wait("the page says the station has gone away",
                  lambda: page.gone_shown()
                  and page.text("gone").startswith("The station has gone away"), 15)
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser(description=__doc__.partition("\n")[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--sample-image", required=True)
    parser.add_argument("--out", required=True, help="folder for the screenshot")
    args = parser.parse_args()
    started = time.monotonic()
    folder = tempfile.mkdtemp(prefix="voltrix-browser-")
    processes = Processes(folder)
    try:
        run(args, folder, processes)
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        if os.path.exists(os.path.join(folder, "cli.err")):
            print("--- voltrix-cli's last lines", file=sys.stderr)
            print("\n".join(processes.output("cli", "err").splitlines()[-30:]), file=sys.stderr)
        return 1
    finally:
        processes.stop_all()
        shutil.rmtree(folder, ignore_errors=True)
    print(f"dashboard test passed in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
