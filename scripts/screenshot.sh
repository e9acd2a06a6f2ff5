#!/usr/bin/env bash
# Photographs the operator dialog after a successful run against the
# simulated device, as a real X window on a private Xvfb display:
#   bash scripts/screenshot.sh BUILD_DIR [OUTPUT.png]   (default docs/voltrix-dialog.png)
# Builds nothing. Needs Xvfb, xwd, ImageMagick, xdotool, a CJK font and an
# Arial-metric one; the missing ones are installed with apt-get.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR [OUTPUT.png]}" && pwd)"
out="${2:-$root/docs/voltrix-dialog.png}"
title='Pc platform COM download tool'

# The dialog template's size in dialog units, and the points clicked and
# sampled in it: the middle of DOWNLOAD, and the far end of the progress bar.
template_w=265 template_h=173
button_x=131 button_y=71
bar_end_x=254 bar_end_y=156

install_missing() {
  local missing=() tool package
  for pair in Xvfb:xvfb xwd:x11-apps convert:imagemagick xdotool:xdotool; do
    tool="${pair%%:*}" package="${pair#*:}"
    command -v "$tool" >/dev/null || missing+=("$package")
  done
  local families
  families="$(fc-list : family 2>/dev/null)"
  case "$families" in
    *'WenQuanYi Zen Hei'*) ;;
    *) missing+=(fonts-wqy-zenhei) ;;
  esac
  case "$families" in
    *'Liberation Sans'*) ;;
    *) missing+=(fonts-liberation2) ;;
  esac
  [ "${#missing[@]}" -eq 0 ] && return
  echo "screenshot: installing ${missing[*]}"
  local sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Retries `$@` every 0.1 s until it succeeds or `seconds` have passed.
wait_for() {
  local seconds="$1"
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

install_missing
for file in "$build/gui/qt/voltrix" "$build/sim/zetak-sim" "$build/sim/zetak-sample-image"; do
  [ -x "$file" ] || { echo "screenshot: $file is missing; build $build first" >&2; exit 1; }
done

work="$(mktemp -d /tmp/voltrix-shot.XXXXXX)"
xvfb_pid="" app_pid="" device_up=""
cleanup() {
  set +e # a killed child's status must not cut the clean-up short
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  if [ -n "$device_up" ]; then demo_device_stop >/dev/null 2>&1; fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and names it once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || { cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

# shellcheck source=scripts/demo-device.sh
source "$root/scripts/demo-device.sh" "$build" --paced
device_up=1

cd "$work"
"$build/sim/zetak-sample-image" sysbin.bin
QT_QPA_PLATFORM=xcb "$build/gui/qt/voltrix" >"$work/voltrix.log" 2>&1 &
app_pid=$!

wid=""
find_dialog() {
  wid="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)"
  [ -n "$wid" ]
}
wait_for 20 find_dialog || { echo "screenshot: no dialog" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$wid")" # X, Y, WIDTH, HEIGHT

snap() { xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1"; }

# The worker is the one unnamed thread besides the main one: Qt names its own.
worker_running() {
  local task
  for task in /proc/"$app_pid"/task/*; do
    [ "${task##*/}" = "$app_pid" ] && continue
    [ "$(cat "$task/comm" 2>/dev/null)" = voltrix ] && return 0
  done
  return 1
}
bar_full() {
  snap "$work/probe.png"
  local sat
  sat="$(convert "$work/probe.png" -format \
    "%[fx:p{$((WIDTH * bar_end_x / template_w)),$((HEIGHT * bar_end_y / template_h))}.saturation]" \
    info:)"
  awk -v s="$sat" 'BEGIN { exit !(s > 0.3) }'
}
# Between segments the bar stands at 100 only while the worker still runs;
# at the end it stays there with the worker gone and its files removed.
run_finished() {
  ! worker_running && ! compgen -G 'F_*_sysbin.bin' >/dev/null && bar_full
}

xdotool mousemove --window "$wid" $((WIDTH * button_x / template_w)) \
  $((HEIGHT * button_y / template_h)) click 1
wait_for 60 run_finished || { echo "screenshot: the run did not finish" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
snap "$out"

kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
# In this shell, not a subshell: it waits for the simulator, its child.
demo_device_stop >"$work/device.out"
device_up=""
if ! grep -q "end-of-run byte 'Z'" "$work/device.out"; then
  rm -f "$out"
  echo "screenshot: the device did not report a successful run:" >&2
  cat "$work/device.out" >&2
  exit 1
fi
echo "screenshot: wrote $out"
