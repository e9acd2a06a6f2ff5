#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the Windows build's unit suites under Wine, then the same Linux tests under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer,
# then a short bounded fuzz run of the image parser.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

# Checks of what an ordinary user meets (a refused port, an unreadable image)
# run as this account when the suite runs as root; the serial tests give a
# node to the dialout group. Made here so that no such test has to skip.
if [ "$(id -u)" -eq 0 ]; then
  getent group dialout >/dev/null || groupadd --system dialout
  id -u voltrix-test >/dev/null 2>&1 ||
    useradd --system --no-create-home --shell /usr/sbin/nologin voltrix-test
fi

# ctest counts a skipped test as passed; a test that did not run tested
# nothing, so a skipped or disabled one fails the run. ctest runs each test
# program as one process: a GoogleTest program that skipped or disabled a
# test fails there already (FAIL_REGULAR_EXPRESSION, tests/CMakeLists.txt);
# what ctest itself skips is caught here.
run_ctest() {
  local dir="$1" junit
  junit="$(cd "$dir" && pwd)/ctest-junit.xml"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j2 --output-junit "$junit"
  if grep -qE '^[[:space:]]*(skipped|disabled)="[1-9]' "$junit"; then
    echo "test: tests in $dir did not run:" >&2
    grep -B1 -E '<skipped|<disabled' "$junit" | grep -o 'testcase name="[^"]*"' >&2
    exit 1
  fi
}

# run_suite PRESET DIR: configures and builds with CMakePresets.json's
# preset (the benchmarks are not built there), then runs every test.
run_suite() {
  local preset="$1" dir="$2"
  echo "== $dir: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # A build without the dialog would pass without its tests: say so instead.
  if [ ! -x "$dir/tests/gui/qt/gui_app_test" ]; then
    echo "test: $dir has no dialog tests (Qt6 not found?)" >&2
    exit 1
  fi
  echo "== $dir: tests"
  run_ctest "$dir"
}

# The main job, as a user starts it: scripts/run.sh without a display, in a
# fresh folder; it must end with a verified summary and the device's 'Z'.
main_job() {
  local work status=0
  work="$(mktemp -d /tmp/voltrix-main-job.XXXXXX)"
  echo "== main job: scripts/run.sh in $work"
  env -u DISPLAY -u WAYLAND_DISPLAY VOLTRIX_DEMO_DIR="$work/demo" \
    bash scripts/run.sh </dev/null >"$work/run.log" 2>&1 || status=$?
  cat "$work/run.log"
  if [ "$status" -ne 0 ] || ! grep -qE '^verified [0-9]+ segments' "$work/run.log" ||
    ! grep -q "end-of-run byte 'Z'" "$work/run.log"; then
    echo "test: the main job did not end with a verified run (exit $status)" >&2
    exit 1
  fi
  echo "== main job: scripts/screenshot.sh"
  bash scripts/screenshot.sh build "$work/dialog.png"
  [ -s "$work/dialog.png" ] || { echo "test: screenshot.sh made no picture" >&2; exit 1; }
  rm -rf "$work"
}

run_suite dev build
main_job
bash scripts/package.sh build  # packaging: the .deb files of this build, checked by lintian
# The Windows build: cross-built with mingw-w64, its unit suites run under
# Wine (a Wine prefix of the build folder's own).
echo "== build-win: build"
bash scripts/build-windows.sh build-win
echo "== build-win: tests under Wine"
run_ctest build-win
echo "== build-win: voltrix-cli.exe under Wine against the simulated device"
bash tests/wine/run-cli-e2e.sh build-win build
echo "== build-win: Chinese names and texts under code pages 1252 and 936"
bash tests/wine/run-unicode-e2e.sh build-win build
echo "== build-win: voltrix.exe under Wine on Xvfb, clicked"
bash tests/wine/run-dialog-e2e.sh build-win build
bash scripts/package-windows.sh build-win  # the ZIP and the installer of the Windows build
echo "== build-win: the installer under Wine, installed and uninstalled"
bash tests/wine/run-installer.sh build-win build
run_suite asan build-asan
run_suite tsan build-tsan
echo "== fuzz: bounded run"
bash scripts/fuzz.sh "${VOLTRIX_FUZZ_SECONDS:-60}"
