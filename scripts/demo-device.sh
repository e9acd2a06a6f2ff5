#!/usr/bin/env bash
# Starts a simulated Zetak device and points the device map and the COM
# resolution at it, the way a plugged-in USB device would appear:
#   source scripts/demo-device.sh BUILD_DIR [zetak-sim options...]
# Sets VOLTRIX_SERIALCOMM, VOLTRIX_DOSDEVICES and DEMO_SIM_PID; call
# demo_device_stop when done.
demo_build="$1"
shift
demo_dir="$(mktemp -d /tmp/voltrix-demo.XXXXXX)"
mkdir -p "$demo_dir/serialcomm" "$demo_dir/dosdevices"
"$demo_build/sim/zetak-sim" --link-dir "$demo_dir/dosdevices" --com 7 "$@" \
  >"$demo_dir/sim.out" 2>&1 &
DEMO_SIM_PID=$!
for _ in $(seq 1 100); do
  [ -s "$demo_dir/sim.out" ] && break
  sleep 0.05
done
printf 'COM7' >"$demo_dir/serialcomm/VCP0"
export VOLTRIX_SERIALCOMM="$demo_dir/serialcomm"
export VOLTRIX_DOSDEVICES="$demo_dir/dosdevices"
echo "demo: simulated Zetak device on $(head -n 1 "$demo_dir/sim.out"), mapped as \\Device\\VCP0 = COM7"

demo_device_stop() {
  kill "$DEMO_SIM_PID" 2>/dev/null && wait "$DEMO_SIM_PID" 2>/dev/null
  tail -n +2 "$demo_dir/sim.out"
  rm -rf "$demo_dir"
}
