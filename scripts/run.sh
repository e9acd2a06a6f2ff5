#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: one download of
# ./demo/sysbin.bin (a sample image is written when there is none).
#
#   bash scripts/run.sh                 against a simulated Zetak device
#   bash scripts/run.sh --real          against the attached device (device map)
#   bash scripts/run.sh --port DEVICE   against that device node
#
# With a display (DISPLAY or WAYLAND_DISPLAY) the operator dialog opens;
# without one the command-line front end runs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build
build="$root/build"

mode=sim
port=""
case "${1:-}" in
  --real) mode=real ;;
  --port) mode=port; port="${2:?--port wants a device node}" ;;
  "") ;;
  *) echo "usage: $0 [--real | --port DEVICE]" >&2; exit 2 ;;
esac

mkdir -p demo
cd demo
if [ ! -f sysbin.bin ]; then
  "$build/zetak-sample-image" sysbin.bin
  echo "run: wrote a sample sysbin.bin into $(pwd)"
fi
"$build/cli/voltrix-cli" --list sysbin.bin

if [ "$mode" = sim ]; then
  # shellcheck source=demo-device.sh
  source "$root/scripts/demo-device.sh" "$build" --paced
  trap demo_device_stop EXIT
fi

status=0
if [ "$mode" != port ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/app/voltrix" ]; then
  echo "run: opening the dialog; press DOWNLOAD, close the window when done"
  "$build/app/voltrix" || status=$?
elif [ "$mode" = port ]; then
  "$build/cli/voltrix-cli" --port "$port" || status=$?
else
  "$build/cli/voltrix-cli" || status=$?
fi
exit "$status"
