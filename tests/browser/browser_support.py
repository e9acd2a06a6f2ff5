"""What the browser tests share: bounded waits, children stopped on every
path out, and headless Chromium driven by Selenium."""

import os
import signal
import subprocess
import sys
import time

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"


class Failure(Exception):
    pass


def wait_until(what, ready, limit):
    """Polls `ready` until it returns something true, at most `limit` seconds."""
    deadline = time.monotonic() + limit
    while True:
        value = ready()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"not within {limit} s: {what}")
        time.sleep(0.02)


class Processes:
    """Children started in process groups of their own, all stopped at the end."""

    def __init__(self, folder):
        self.folder = folder
        self.children = []
        self.files = []

    def start(self, name, argv, env=None):
        """Output to NAME.out, errors to NAME.err (a device's to NAME.out too)."""
        out = open(os.path.join(self.folder, name + ".out"), "wb")
        err = out if name.startswith("sim") else open(os.path.join(self.folder, name + ".err"),
                                                      "wb")
        self.files += [out, err]
        child = subprocess.Popen(argv, cwd=self.folder, env=env, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err, start_new_session=True)
        self.children.append(child)
        return child

    def output(self, name, stream="out"):
        with open(os.path.join(self.folder, f"{name}.{stream}"), "rb") as file:
            return file.read().decode("utf-8", "replace")

    def stop_all(self):
        for child in self.children:
            if child.poll() is None:
                os.killpg(child.pid, signal.SIGTERM)
        for child in self.children:
            try:
                child.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait(timeout=5)
        for file in self.files:
            file.close()


def start_browser(window="1280,720"):
    # Missing parts fail the test: the set-up installs them.
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            raise Failure(f"{program} is missing: run scripts/setup.sh")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as error:
        raise Failure(f"{error} for {sys.executable}: run scripts/setup.sh (python3-selenium)")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless=new", f"--window-size={window}", "--disable-gpu",
                     "--disable-dev-shm-usage", "--lang=en-US"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(20)
    driver.set_script_timeout(10)
    return driver


def wait_in_page(driver, what, condition, limit, page_text):
    """Waits for `condition` with the browser's own polling; the page's text
    goes into the failure."""
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.support.ui import WebDriverWait
    try:
        return WebDriverWait(driver, limit, poll_frequency=0.05).until(lambda _: condition())
    except TimeoutException as error:
        raise Failure(f"not within {limit} s: {what}\n--- the page:\n{page_text()}") from error
