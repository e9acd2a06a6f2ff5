#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: one download of
# a system image into a Zetak device.
#
#   bash scripts/run.sh                              a sample image into a simulated device
#   bash scripts/run.sh --real --image FILE          FILE into the attached device (device map)
#   bash scripts/run.sh --port DEVICE --image FILE   FILE into that device node
#
# Against the simulator it works in ./demo (or $VOLTRIX_DEMO_DIR) and writes a
# sample sysbin.bin there when there is none. A real device only ever gets
# the image named with --image: a generated sample is never flashed into it.
# With a display (DISPLAY or WAYLAND_DISPLAY) the operator dialog opens;
# without one the command-line front end runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

usage() {
  echo "usage: $0 [--real --image FILE | --port DEVICE --image FILE]" >&2
  exit 2
}

mode=sim
port=""
image=""
while [ $# -gt 0 ]; do
  case "$1" in
    --real) mode=real ;;
    --port) mode=port; port="${2:-}"; [ -n "$port" ] || usage; shift ;;
    --image) image="${2:-}"; [ -n "$image" ] || usage; shift ;;
    *) usage ;;
  esac
  shift
done
if [ "$mode" != sim ] && [ -z "$image" ]; then
  echo "run: a real device needs the image to write into it; give it with --image FILE," >&2
  echo "run: e.g. bash scripts/run.sh $([ "$mode" = port ] && echo "--port $port" || echo --real) --image /path/to/sysbin.bin" >&2
  exit 2
fi
if [ -n "$image" ]; then
  [ -f "$image" ] || { echo "run: $image is not a file" >&2; exit 2; }
  image="$(cd "$(dirname "$image")" && pwd)/$(basename "$image")"
fi

cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build
build="$root/build"

if [ "$mode" = sim ]; then
  work="${VOLTRIX_DEMO_DIR:-$root/demo}"
  mkdir -p "$work"
  cd "$work"
  if [ -n "$image" ]; then
    cp "$image" sysbin.bin
  elif [ ! -f sysbin.bin ]; then
    "$build/sim/zetak-sample-image" sysbin.bin
    echo "run: wrote a sample sysbin.bin into $(pwd)"
  fi
  # shellcheck source=demo-device.sh
  source "$root/scripts/demo-device.sh" "$build" --paced
  trap demo_device_stop EXIT
else
  # The tool reads ./sysbin.bin and keeps a failed run's files beside it:
  # work in a folder of this run's own, with a copy of the given image.
  work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-run.XXXXXX")"
  cp "$image" "$work/sysbin.bin"
  cd "$work"
  echo "run: working in $work"
fi
"$build/cli/voltrix-cli" --list sysbin.bin

status=0
if [ "$mode" != port ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/gui/qt/voltrix" ]; then
  echo "run: opening the dialog; press DOWNLOAD, close the window when done"
  "$build/gui/qt/voltrix" || status=$?
elif [ "$mode" = port ]; then
  "$build/cli/voltrix-cli" --port "$port" || status=$?
else
  "$build/cli/voltrix-cli" || status=$?
fi
exit "$status"
