#!/usr/bin/env bash
# voltrix-cli.exe under Wine against zetak-sim pacing the line at 57600 baud
# (every byte ten bit times): how close a whole download comes to the
# line's own time.
#   wine-paced.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# Sets up Wine as the end-to-end test does (tests/wine/wine-env.sh). Per
# image it prints the run's time as the CLI measured it (--json "seconds":
# DOWNLOAD to the end of the run, without Wine's start-up), the whole
# process's time, the line's ideal (bytes on the wire x 10 / 57600) and the
# ratio; a second ideal adds the protocol's fixed 10 ms pause after each
# handshake. Target: ratio <= 1.15. The Linux voltrix-cli runs the same
# image beside it, so that a host busy with other work shows in both rows
# rather than passing for Wine's cost. Exits 1 when a run does not verify.
set -uo pipefail

if [ "$#" -ne 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
windows_cli="$(cd "$1" && pwd)/cli/voltrix-cli.exe"
linux_cli="$(cd "$2" && pwd)/cli/voltrix-cli"
ZETAK_SIM="$(cd "$2" && pwd)/sim/zetak-sim"
for program in "$windows_cli" "$linux_cli" "$ZETAK_SIM"; do
  if [ ! -f "$program" ]; then
    echo "wine-paced: $program is missing: build it first" >&2
    exit 2
  fi
done
BAUD=57600
work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-wine-bench.XXXXXX")"

# shellcheck source=tests/wine/wine-env.sh
source "$root/tests/wine/wine-env.sh"
trap 'wine_env_cleanup; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
wine_env_init "$work" || exit 1

# Bytes on the line and handshakes of one run, from the protocol: per
# segment 'S' and its answer; per block of n bytes 'W', its header (10 bytes
# for the first block, 5 for a full one, 7 for a short last one), the data
# and three answers, then 'R', its header (7, 2 or 4), 0xBB, the closing
# ACK, three answers and the data; at the end the end-of-run byte and its
# answer.
line_bytes() {
  local total=2 length
  for length in "$@"; do
    local full=$((length / 64)) rest=$((length % 64)) i count write_header read_header
    local blocks=$((full + (rest > 0 ? 1 : 0)))
    total=$((total + 2))
    for ((i = 0; i < blocks; i++)); do
      if [ "$i" -lt "$full" ]; then count=64; else count=$rest; fi
      if [ "$i" -eq 0 ]; then
        write_header=10 read_header=7
      elif [ "$count" -eq 64 ]; then
        write_header=5 read_header=2
      else
        write_header=7 read_header=4
      fi
      total=$((total + 1 + write_header + count + 3 + 1 + read_header + 1 + 1 + 3 + count))
    done
  done
  echo "$total"
}

failed=0
printf '%-34s %-9s %8s %8s %8s %7s %8s %7s\n' "image, program" result "run s" "process" "ideal s" \
  ratio "+pauses" ratio

# measure LABEL DIR PROGRAM...: one paced run of PROGRAM in DIR, one row.
measure() {
  local label="$1" dir="$2"
  shift 2
  sim_start --baud "$BAUD" --paced || { failed=1; return; }
  local started ended status
  started="$(date +%s.%N)"
  (cd "$dir" && timeout -k 5 600 "$@" --json >"$dir/run.json" 2>"$dir/run.err" </dev/null)
  status=$?
  ended="$(date +%s.%N)"
  sim_stop
  local seconds result=verified
  seconds="$(sed -n 's/.*"seconds":\([0-9.]*\).*/\1/p' "$dir/run.json")"
  if [ "$status" -ne 0 ] || [ "$SIM_END" != Z ] || [ -z "$seconds" ]; then
    result="exit $status"
    failed=1
    seconds="${seconds:-0}"
  fi
  awk -v label="$label" -v result="$result" -v run="$seconds" -v started="$started" \
    -v ended="$ended" -v bytes="$BYTES" -v baud="$BAUD" -v handshakes="$HANDSHAKES" 'BEGIN {
      ideal = bytes * 10 / baud
      paused = ideal + handshakes * 0.010
      printf "%-34s %-9s %8.3f %8.3f %8.3f %7.3f %8.3f %7.3f\n", label, result, run,
        ended - started, ideal, run / ideal, paused, run / paused
    }'
}

bench() {
  local name="$1"
  shift
  local dir="$work/${name//[^A-Za-z0-9]/_}"
  mkdir -p "$dir/wine" "$dir/linux"
  write_image "$dir/wine/sysbin.bin" "$@"
  cp "$dir/wine/sysbin.bin" "$dir/linux/sysbin.bin"
  BYTES="$(line_bytes "$@")"
  HANDSHAKES="$#"
  measure "$name, Wine" "$dir/wine" wine "$windows_cli" --port COM7
  measure "$name, Linux" "$dir/linux" "$linux_cli" --port "$WINEPREFIX/dosdevices/com7"
}

bench "32 KiB, 1 segment" 32768
bench "6 segments mixed (8.4 KiB)" 4096 1000 64 1 2500 777
exit "$failed"
