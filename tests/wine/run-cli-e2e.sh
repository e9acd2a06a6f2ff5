#!/usr/bin/env bash
# voltrix-cli.exe under Wine against the simulated device, beside the Linux
# voltrix-cli against the same faults:
#   run-cli-e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [WORK_DIR]
# The Windows build gives cli/voltrix-cli.exe, the Linux build
# sim/zetak-sim, sim/zetak-sample-image and cli/voltrix-cli. A fresh Wine
# prefix is made in WORK_DIR (default: a temporary folder, removed at the
# end unless the run failed), COM7 is the simulator's pseudo-terminal and
# "\Device\VCP0" = COM7 is in the registry. Each case runs the Linux CLI and
# then the Windows one against a fresh simulator and checks both against the
# expected exit code and end-of-run byte ('Z', 'E' or none) as the
# simulator received it, and the two against each other: the same bytes in
# the device's memory, the same "ERROR:" status line. Before that the port
# class's own cases (tests/wine/SerialPortTest_win32.cpp) run group by
# group, each against the simulator state it needs. One line per case or
# group (and the status line of a failed run under it); exits 1 on any
# mismatch.
set -uo pipefail

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
windows_build="$(cd "$1" && pwd)"
windows_cli="$windows_build/cli/voltrix-cli.exe"
port_test="$windows_build/tests/wine/voltrix_port_wine_test.exe"
linux_build="$(cd "$2" && pwd)"
linux_cli="$linux_build/cli/voltrix-cli"
ZETAK_SIM="$linux_build/sim/zetak-sim"
sample_image="$linux_build/sim/zetak-sample-image"
for program in "$windows_cli" "$port_test" "$linux_cli" "$ZETAK_SIM" "$sample_image"; do
  if [ ! -f "$program" ]; then
    echo "run-cli-e2e: $program is missing: build it first" >&2
    exit 2
  fi
done
if [ "$#" -eq 3 ]; then
  # Kept afterwards; emptied first only when an earlier run of this script
  # made it, so that a mistyped folder is never wiped.
  work="$3"
  mkdir -p "$work" || exit 2
  if [ -f "$work/.voltrix-wine-e2e" ]; then
    find "$work" -mindepth 1 -delete
  elif [ -n "$(ls -A "$work")" ]; then
    echo "run-cli-e2e: $work is not empty and not from an earlier run; give a new folder" >&2
    exit 2
  fi
  touch "$work/.voltrix-wine-e2e"
  keep_work=1
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-wine-e2e.XXXXXX")"
  keep_work=""
fi
work="$(cd "$work" && pwd)"

# shellcheck source=tests/wine/wine-env.sh
source "$here/wine-env.sh"
failures=0
finish() {
  wine_env_cleanup
  if [ -z "$keep_work" ] && [ "$failures" -eq 0 ]; then rm -rf "$work"; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# Longest a single CLI run may take; the slowest case ends in about 6 s.
RUN_LIMIT_SECONDS=120

echo "run-cli-e2e: Wine prefix in $work"
wine_env_init "$work" || { failures=1; exit 1; }
"$sample_image" "$work/sysbin.bin" || { failures=1; exit 1; }

# run_cli DIR OUTPUT PROGRAM ARGS...: the program's exit code on stdout.
run_cli() {
  local dir="$1" output="$2"
  shift 2
  mkdir -p "$dir"
  cp "$work/sysbin.bin" "$dir/sysbin.bin"
  (cd "$dir" && timeout -k 5 "$RUN_LIMIT_SECONDS" "$@" >"$output" 2>"$output.err" </dev/null)
  echo "$?"
}

# check NAME WANT_EXIT WANT_END SIM_OPTIONS WINDOWS_PORT [CLI OPTIONS...]
# WINDOWS_PORT is "registry" (the device map finds COM7) or a --port value.
check() {
  local name="$1" want_exit="$2" want_end="$3" sim_options="$4" port="$5"
  shift 5
  local dir="$work/$name"
  # shellcheck disable=SC2086  # the simulator's options are words
  sim_start $sim_options || { failures=$((failures + 1)); return; }
  local linux_exit
  linux_exit="$(run_cli "$dir/linux" "$dir/linux.out" "$linux_cli" --port "$SIM_PTY" "$@")"
  sim_stop
  local linux_end="$SIM_END" linux_memory="$SIM_MEMORY"

  local port_options=()
  if [ "$port" != registry ]; then port_options=(--port "$port"); fi
  # shellcheck disable=SC2086
  sim_start $sim_options || { failures=$((failures + 1)); return; }
  local wine_exit
  wine_exit="$(run_cli "$dir/wine" "$dir/wine.out" wine "$windows_cli" "${port_options[@]}" "$@")"
  sim_stop
  local wine_end="$SIM_END" wine_memory="$SIM_MEMORY"

  # The status line that tells why a run failed is the same text.
  local wine_error linux_error
  wine_error="$(grep -a '^ERROR:' "$dir/wine.out.err" | tail -n 1)"
  linux_error="$(grep -a '^ERROR:' "$dir/linux.out.err" | tail -n 1)"

  local verdict=PASS
  if [ "$wine_exit" != "$want_exit" ] || [ "$linux_exit" != "$want_exit" ] ||
    [ "$wine_end" != "$want_end" ] || [ "$linux_end" != "$want_end" ] ||
    [ "$wine_memory" != "$linux_memory" ] || [ "$wine_error" != "$linux_error" ]; then
    verdict=FAIL
    failures=$((failures + 1))
  fi
  printf '%s %-16s wine: exit %-3s end %-4s %6s bytes | linux: exit %-3s end %-4s %6s bytes | want exit %s end %s\n' \
    "$verdict" "$name" "$wine_exit" "$wine_end" "$wine_memory" "$linux_exit" "$linux_end" \
    "$linux_memory" "$want_exit" "$want_end"
  if [ -n "$wine_error$linux_error" ]; then
    printf '     %-16s wine: %s | linux: %s\n' "" "$wine_error" "$linux_error"
  fi
  if [ "$verdict" = FAIL ]; then
    echo "  output: $dir/wine.out $dir/linux.out" >&2
  fi
}

# port_tests GROUP [SIM_OPTIONS]: the port class's GROUP.* cases, against a
# simulator with SIM_OPTIONS, or with none for "-".
port_tests() {
  local group="$1" sim_options="${2:-}"
  local output="$work/port-tests-$group.out"
  if [ ! -f "$port_test" ]; then
    # A missing program would otherwise run nothing and pass.
    failures=$((failures + 1))
    printf 'FAIL port %-11s %s is not built\n' "$group" "$port_test"
    return
  fi
  if [ "$sim_options" != - ]; then
    # shellcheck disable=SC2086
    sim_start $sim_options || { failures=$((failures + 1)); return; }
  fi
  local status
  status="$(run_cli "$work/port-tests" "$output" wine "$port_test" --gtest_filter="$group.*")"
  sim_stop
  local passed skipped
  passed="$(grep -a -o 'PASSED  \] [0-9]* test' "$output" | grep -o '[0-9]*')"
  skipped="$(grep -a -o 'SKIPPED \] [0-9]* test' "$output" | grep -o '[0-9]*')"
  # Zero tests run, or a skipped one, tests nothing: both fail the group.
  if [ "$status" -eq 0 ] && [ "${passed:-0}" -gt 0 ] && [ "${skipped:-0}" -eq 0 ]; then
    printf 'PASS port %-11s %s tests\n' "$group" "$passed"
  else
    failures=$((failures + 1))
    printf 'FAIL port %-11s exit %s, %s tests passed, %s skipped\n' "$group" "$status" \
      "${passed:-0}" "${skipped:-0}"
    tr -d '\r' <"$output" | grep -a -A1 ': Skipped$' | grep -a -v ': Skipped$\|^--$' |
      sed 's/^/     skipped: /' >&2
    grep -a -E '^\[  FAILED  \]|Failure|Expected|Which is|actual' "$output" | head -n 20 >&2
    echo "  output: $output" >&2
  fi
}

# The manners of a Windows console program: "/?" asks for the help, which
# names a COM port; Explorer finds an icon, a version and a manifest in the
# program; the package brings its texts with Windows line ends.
program_manners() {
  local dir="$work/manners" verdict=PASS why=""
  local status
  status="$(run_cli "$dir" "$dir/help.out" wine "$windows_cli" '/?')"
  if [ "$status" != 0 ] || ! grep -aq '^Usage: voltrix-cli' "$dir/help.out" ||
    ! grep -aq 'e\.g\. COM7' "$dir/help.out" || grep -aq '/dev/' "$dir/help.out"; then
    verdict=FAIL why="/? exit $status, see $dir/help.out"
  fi
  printf '%s manners /?         exit %s\n' "$verdict" "$status"
  [ "$verdict" = PASS ] || { failures=$((failures + 1)); echo "  $why" >&2; }

  # Resource types at the directory's top level: 0x3 icon, 0xe icon group,
  # 0x10 version, 0x18 manifest.
  local types version want_version
  types="$(x86_64-w64-mingw32-objdump -p "$windows_cli" |
    sed -n 's/^[0-9a-f]*   Entry: ID: 0x0*\([0-9a-f]*\),.*/\1/p' | sort | tr '\n' ' ')"
  want_version="$("$linux_cli" --version | sed 's/^voltrix-cli //; s/\./, /g')"
  version="$(strings -el "$windows_cli" | grep -A1 -x FileVersion | tail -n 1)"
  verdict=PASS
  if [ "$types" != "10 18 3 e " ] || [ "$version" != "$want_version" ] ||
    ! strings -el "$windows_cli" | grep -qx 'voltrix-cli.exe'; then
    verdict=FAIL
    failures=$((failures + 1))
  fi
  printf '%s manners resources types %s, FileVersion "%s" (want "%s")\n' "$verdict" "$types" \
    "$version" "$want_version"

  verdict=PASS
  if ! bash "$here/../../scripts/package-windows.sh" "$windows_build" >"$dir/package.out" 2>&1; then
    verdict=FAIL
    failures=$((failures + 1))
    sed 's/^/     /' "$dir/package.out" >&2
  fi
  printf '%s manners package   README.txt and LICENSE.txt with CRLF, both programs\n' "$verdict"
}

program_manners
port_tests NoDevice -
port_tests LiveDevice ""
port_tests HungUpDevice "--fault hangup:sync:1"

check registry 0 Z "" registry
check port-COM7 0 Z "" COM7
check port-device-path 0 Z "" '\\.\COM7'
check refused-block 7 none "--fault refuse:write-header:2" registry
check bad-read-back 9 E "--fault wrong-byte:data-request:1" registry
check silent-at-sync 8 none "--fault silence:sync:1" registry --timeout 1
check silent-midway 8 none "--fault silence:write-data:1" registry --reply-timeout 1
check unplugged 8 none "--fault hangup:write-data:2" registry

if [ "$failures" -ne 0 ]; then
  echo "run-cli-e2e: $failures case(s) failed; everything is kept in $work" >&2
  exit 1
fi
echo "run-cli-e2e: all cases passed"
