#!/usr/bin/env bash
# voltrix.exe, the native dialog, under Wine on a private Xvfb display,
# clicked as an operator would:
#   run-dialog-e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SCREENSHOT.png]
# 1. DOWNLOAD with no sysbin.bin: a box captioned "INFO:" comes up and
#    nothing reaches the device.
# 2. DOWNLOAD with the sample image against the paced simulator on COM7
#    ("\Device\VCP0" = COM7 in the registry), then DOWNLOAD again while the
#    run is under way: the busy box ("INFO:") comes up; the run goes on to
#    verification (its private run folder is removed) and the device
#    receives 'Z'.
# 3. Esc in the middle of a long write: the run is cancelled cleanly, the
#    program ends, the device gets no end-of-run byte.
# 4. Started from the Start menu (working folder = voltrix.exe's own folder,
#    no argument): it works in Documents\Voltrix, which it creates; the box
#    of the missing image names that folder on its second line; with the
#    sample image put there, DOWNLOAD verifies.
# 5. The system menu's "Choose image" item (Alt+Space, I) opens the Open
#    dialog; the image chosen there is named in the title and DOWNLOAD
#    writes it.
# 6. At 144 DPI (LogPixels) the banner's and DOWNLOAD's captions are drawn
#    larger than at 96, as the rest of the dialog is.
# 7. voltrix-cli.exe in a console window of its own (as a double-click starts
#    it) keeps the window after a verified run until a key is pressed;
#    started from a prompt in such a window it ends by itself.
# The dialog after the verified run is photographed into SCREENSHOT.png when
# one is named. One line per case; exits 1 on any failure.
set -uo pipefail

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR [SCREENSHOT.png]" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
dialog_exe="$(cd "$1" && pwd)/gui/win32/voltrix.exe"
console_exe="$(cd "$1" && pwd)/cli/voltrix-cli.exe"
linux_build="$(cd "$2" && pwd)"
ZETAK_SIM="$linux_build/sim/zetak-sim"
sample_image="$linux_build/sim/zetak-sample-image"
screenshot="${3:-}"
for program in "$dialog_exe" "$console_exe" "$ZETAK_SIM" "$sample_image"; do
  if [ ! -f "$program" ]; then
    echo "run-dialog-e2e: $program is missing: build it first" >&2
    exit 2
  fi
done
for tool in Xvfb xdotool xwd convert; do
  if ! command -v "$tool" >/dev/null; then
    echo "run-dialog-e2e: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 2
  fi
done

title='Pc platform COM download tool'
# The dialog template's size in dialog units and the middle of DOWNLOAD.
template_w=265 template_h=173
button_x=131 button_y=71

work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-wine-dialog.XXXXXX")"
# shellcheck source=tests/wine/wine-env.sh
source "$here/wine-env.sh"
failures=0 xvfb_pid="" app_pid=""
finish() {
  set +e
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  wine_env_cleanup
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "run-dialog-e2e: kept $work" >&2; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

fail() {
  failures=$((failures + 1))
  echo "FAIL $*"
}

# Xvfb picks a free display itself and names it once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -dpi 96 -nolisten tcp 3>"$work/display" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || { failures=1; cat "$work/xvfb.log" >&2; exit 1; }
WINE_ENV_DISPLAY=":$(head -n 1 "$work/display")"
wine_env_init "$work" || { failures=1; exit 1; }

# The dialog's font (宋体 9) and the banner's Arial mapped to installed faces;
# without them Chinese shows as boxes. A UTF-16 .reg file keeps the Chinese
# name whatever the locale of this shell.
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
  '"宋体"="WenQuanYi Zen Hei"' '"SimSun"="WenQuanYi Zen Hei"' \
  '"Arial"="Liberation Sans"' '"MS Shell Dlg"="WenQuanYi Zen Hei"' |
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$work/fonts.reg"
if ! wine regedit /S "$work/fonts.reg" >"$work/regedit.log" 2>&1 </dev/null; then
  failures=1
  echo "run-dialog-e2e: regedit failed (see $work/regedit.log)" >&2
  exit 1
fi

wid=""
find_window() { # NAME: the first visible window of that exact name
  wid="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)"
  [ -n "$wid" ]
}
info_box_shown() { find_window 'INFO:'; }
info_box_gone() { ! find_window 'INFO:'; }
dismiss_info_box() {
  xdotool key --window "$wid" Return 2>/dev/null
  wait_for 10 info_box_gone
}

start_dialog() { # FOLDER [PROGRAM]: PROGRAM (voltrix.exe of the build) started in FOLDER
  # Wine's message-box channel writes each box's text into the log.
  dialog_log="$1/voltrix.log"
  (cd "$1" && WINEDEBUG=-all,+msgbox exec wine "${2:-$dialog_exe}" >"$dialog_log" 2>&1 \
    </dev/null) &
  app_pid=$!
  if ! wait_for 60 find_window "$title"; then
    fail "the dialog did not come up (see $1/voltrix.log)"
    return 1
  fi
  dialog="$wid"
  eval "$(xdotool getwindowgeometry --shell "$dialog")" # X, Y, WIDTH, HEIGHT
}
click_download() {
  xdotool mousemove --window "$dialog" $((WIDTH * button_x / template_w)) \
    $((HEIGHT * button_y / template_h)) click 1
}
close_dialog() {
  xdotool key --window "$dialog" Escape 2>/dev/null
  local end=$((SECONDS + 20))
  while kill -0 "$app_pid" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    fail "the dialog did not close on Esc"
    kill "$app_pid" 2>/dev/null
  fi
  wait "$app_pid" 2>/dev/null
  app_pid=""
}

# Case 1: no image in the working folder.
mkdir -p "$work/no-image"
sim_start || { failures=1; exit 1; }
if start_dialog "$work/no-image"; then
  click_download
  if wait_for 20 info_box_shown; then
    if dismiss_info_box; then
      echo "PASS missing-image    the box \"INFO:\" came up and closed on Enter"
    else
      fail "missing-image: the box \"INFO:\" did not close on Enter"
    fi
  else
    fail "missing-image: no box came up"
  fi
  close_dialog
fi
sim_stop
if [ "$SIM_MEMORY" != 0 ] || [ "$SIM_END" != none ]; then
  fail "missing-image: the device was written to (end $SIM_END, $SIM_MEMORY bytes)"
fi

# Case 2: a verified run, with a second click while it runs.
mkdir -p "$work/run"
"$sample_image" "$work/run/sysbin.bin" >/dev/null || { failures=1; exit 1; }
run_folder_present() { compgen -G "$work/run/voltrix-run-*" >/dev/null; }
run_folder_gone() { ! run_folder_present; }
sim_start --paced || { failures=1; exit 1; }
if start_dialog "$work/run"; then
  click_download
  if wait_for 20 run_folder_present; then
    click_download
    if wait_for 20 info_box_shown; then
      if dismiss_info_box; then
        echo "PASS busy-click       the box \"INFO:\" came up while the run went on and closed"
      else
        fail "busy-click: the box \"INFO:\" did not close on Enter"
      fi
    else
      fail "busy-click: no box came up for a click during the run"
    fi
  else
    fail "run: no run started (see $work/run/voltrix.log)"
  fi
  if wait_for 120 run_folder_gone; then
    if [ -n "$screenshot" ]; then
      mkdir -p "$(dirname "$screenshot")"
      xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$screenshot"
    fi
  else
    fail "run: the run folder stayed: the run did not verify"
  fi
  close_dialog
fi
sim_stop
if [ "$SIM_END" = Z ] && [[ "$SIM_MEMORY" =~ ^[0-9]+$ ]] && [ "$SIM_MEMORY" -gt 0 ]; then
  echo "PASS verified-run     the device received 'Z' after $SIM_MEMORY bytes"
else
  fail "verified-run: the device received end $SIM_END after $SIM_MEMORY bytes"
fi

# Case 3: the window closed (Esc) in the middle of a long write: the run is
# cancelled at a block boundary, the program ends promptly, the device gets
# no end-of-run byte and the run folder stays for a look.
mkdir -p "$work/closed"
write_image "$work/closed/sysbin.bin" 32768
closed_run_present() { compgen -G "$work/closed/voltrix-run-*" >/dev/null; }
# The segment's write file is made just before its write starts.
closed_run_writing() { compgen -G "$work/closed/voltrix-run-*/F_1_W_*" >/dev/null; }
sim_start --paced || { failures=1; exit 1; }
if start_dialog "$work/closed"; then
  click_download
  if wait_for 20 closed_run_writing; then
    close_started=$SECONDS
    close_dialog
    closed_in=$((SECONDS - close_started))
  else
    fail "closed-during-run: no run started (see $work/closed/voltrix.log)"
    close_dialog
  fi
fi
sim_stop
if [ "$SIM_END" = none ] && [[ "$SIM_MEMORY" =~ ^[0-9]+$ ]] && [ "$SIM_MEMORY" -lt 32768 ] &&
  closed_run_present; then
  echo "PASS closed-during-run the program ended ${closed_in:-?} s after Esc, $SIM_MEMORY bytes written, no end-of-run byte"
else
  fail "closed-during-run: end $SIM_END after $SIM_MEMORY bytes; run folder kept: $(closed_run_present && echo yes || echo no)"
fi

# Case 4: started as the Start menu starts it, in the folder of voltrix.exe
# under Program Files. Wine links Documents to the Unix home; the test gets
# a Documents folder of its own.
user_folder="$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public | head -n 1)"
documents="$user_folder/Documents"
[ -L "$documents" ] && rm "$documents"
mkdir -p "$documents"
work_folder="$documents/Voltrix"
program_folder="$WINEPREFIX/drive_c/Program Files/Voltrix/bin"
mkdir -p "$program_folder"
cp "$dialog_exe" "$program_folder/voltrix.exe"
# The box's text as Wine's trace writes it: backslashes doubled, the line
# break as \n.
looked_in="$(printf 'System file can'\''t be found              \\nLooked in: C:\\\\users\\\\%s\\\\Documents\\\\Voltrix"' "$(basename "$user_folder")")"
documents_run_present() { compgen -G "$work_folder/voltrix-run-*" >/dev/null; }
documents_run_gone() { ! documents_run_present; }
sim_start --paced || { failures=1; exit 1; }
if start_dialog "$program_folder" "$program_folder/voltrix.exe"; then
  click_download
  if wait_for 20 info_box_shown && dismiss_info_box; then
    if ! grep -qF -- "$looked_in" "$dialog_log"; then
      fail "documents: the box did not name Documents\\Voltrix: $(grep -a MSGBOX_OnInit "$dialog_log")"
    elif [ ! -d "$work_folder" ]; then
      fail "documents: $work_folder was not made"
    else
      echo "PASS documents-folder the box named Documents\\Voltrix, which was made"
    fi
  else
    fail "documents: no box came up for the missing image"
  fi
  "$sample_image" "$work_folder/sysbin.bin" >/dev/null || { failures=1; exit 1; }
  click_download
  if ! wait_for 20 documents_run_present; then
    fail "documents: no run started in $work_folder"
  elif ! wait_for 120 documents_run_gone; then
    fail "documents: the run folder stayed: the run did not verify"
  fi
  close_dialog
fi
sim_stop
if [ "$SIM_END" = Z ] && [ -z "$(compgen -G "$program_folder/voltrix-run-*")" ]; then
  echo "PASS documents-run    the image in Documents\\Voltrix verified ($SIM_MEMORY bytes)"
else
  fail "documents-run: end $SIM_END after $SIM_MEMORY bytes"
fi

# Case 5: another image chosen through the system menu's item.
mkdir -p "$work/choose" "$work/chosen"
"$sample_image" "$work/chosen/firmware.bin" >/dev/null || { failures=1; exit 1; }
chosen="$(winepath -w "$work/chosen/firmware.bin" 2>/dev/null)"
choose_run_present() { compgen -G "$work/choose/voltrix-run-*" >/dev/null; }
choose_run_gone() { ! choose_run_present; }
# shellcheck disable=SC2001  # every regular-expression character escaped at once
titled_with_image() { find_window "$(sed 's/[][\\.*^$]/\\&/g' <<<"$chosen") - $title"; }
sim_start --paced || { failures=1; exit 1; }
if start_dialog "$work/choose"; then
  # The system menu is one more visible window, without a name.
  windows_before="$(xdotool search --onlyvisible --class '' 2>/dev/null | wc -l)"
  menu_shown() { [ "$(xdotool search --onlyvisible --class '' 2>/dev/null | wc -l)" -gt "$windows_before" ]; }
  xdotool key --window "$dialog" alt+space
  wait_for 10 menu_shown || fail "choose-image: Alt+Space showed no system menu"
  xdotool key i
  if wait_for 20 find_window Open; then
    # The file name field has the focus; what is typed waits in its queue.
    xdotool type --delay 20 "$chosen"
    xdotool key Return
    if wait_for 20 titled_with_image; then
      echo "PASS choose-image     the menu's item opened the Open dialog; the title names $chosen"
      click_download
      if ! wait_for 20 choose_run_present; then
        fail "choose-image: no run started (see $dialog_log)"
      elif ! wait_for 120 choose_run_gone; then
        fail "choose-image: the run did not verify"
      fi
    else
      fail "choose-image: the title did not name the chosen image"
    fi
  else
    fail "choose-image: Alt+Space, I opened no Open dialog"
  fi
  close_dialog
fi
sim_stop
if [ "$SIM_END" = Z ]; then
  echo "PASS chosen-run       the chosen image verified ($SIM_MEMORY bytes)"
else
  fail "chosen-run: end $SIM_END after $SIM_MEMORY bytes"
fi

# Case 6: DPI. The height of the dark pixels of a caption inside its control
# (a rectangle in dialog units), from a photograph of the dialog.
caption_height() { # X Y W H
  local crop="$((WIDTH * $3 / template_w))x$((HEIGHT * $4 / template_h))"
  crop+="+$((X + WIDTH * $1 / template_w))+$((Y + HEIGHT * $2 / template_h))"
  xwd -root -silent | convert xwd:- -crop "$crop" +repage -colorspace gray -threshold 40% \
    -format '%@' info: 2>/dev/null | sed -n 's/^[0-9]*x\([0-9]*\)+.*/\1/p'
}
# Banner and DOWNLOAD, inside their frames; painted once DOWNLOAD shows.
measure_captions() {
  button_height="$(caption_height 88 60 86 23)"
  [ -n "$button_height" ] && [ "$button_height" -gt 4 ] || return 1
  banner_height="$(caption_height 11 10 243 29)"
  [ -n "$banner_height" ] && [ "$banner_height" -gt 4 ]
}
set_dpi() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
  >"$work/dpi.log" 2>&1 </dev/null; }
mkdir -p "$work/dpi"
declare -A width_at button_at banner_at
for dpi in 96 144; do
  set_dpi "$dpi" || fail "dpi: LogPixels could not be set (see $work/dpi.log)"
  if start_dialog "$work/dpi"; then
    wait_for 20 measure_captions || fail "dpi: no caption found at $dpi DPI"
    width_at[$dpi]=$WIDTH button_at[$dpi]=${button_height:-0} banner_at[$dpi]=${banner_height:-0}
    close_dialog
  fi
done
set_dpi 96
if [ "${width_at[144]:-0}" -le $((${width_at[96]:-0} * 13 / 10)) ]; then
  fail "dpi: the dialog did not grow at 144 DPI (${width_at[96]:-?} px, then ${width_at[144]:-?})"
elif [ $((${button_at[144]:-0} * 10)) -ge $((${button_at[96]:-0} * 13)) ] &&
  [ $((${banner_at[144]:-0} * 10)) -ge $((${banner_at[96]:-0} * 13)) ]; then
  echo "PASS dpi              captions at 144 DPI: DOWNLOAD ${button_at[144]} px (${button_at[96]} at 96), banner ${banner_at[144]} px (${banner_at[96]})"
else
  fail "dpi: captions did not grow with the dialog: DOWNLOAD ${button_at[96]:-?} -> ${button_at[144]:-?} px, banner ${banner_at[96]:-?} -> ${banner_at[144]:-?} px"
fi

# Case 7: the console program's own window. wineconsole gives it a console
# of its own, as Explorer does on a double-click.
mkdir -p "$work/console"
cp "$console_exe" "$work/console/voltrix-cli.exe"
"$sample_image" "$work/console/sysbin.bin" || fail "console: no sample image"
cli_gone() { ! pgrep -f '^voltrix-cli\.exe' >/dev/null; }
record_written() { [ -s "$work/console/own.jsonl" ]; }
sim_start || fail "console: the simulator did not start"
(cd "$work/console" && exec wine wineconsole voltrix-cli.exe --image sysbin.bin -p COM7 \
  --log own.jsonl >"$work/console/own.log" 2>&1 </dev/null) &
console_starter=$!
if ! wait_for 120 record_written; then
  fail "console-own-window: the run wrote no log record"
elif wait_for 3 cli_gone; then
  # The record is the run's last act: a program that ends within seconds
  # of it did not wait for anyone to read the result.
  fail "console-own-window: voltrix-cli.exe closed its window without waiting for a key"
elif ! find_window 'Z:.*voltrix-cli\.exe'; then
  fail "console-own-window: no console window found to press a key in"
else
  xdotool key --window "$wid" space 2>/dev/null
  if wait_for 20 cli_gone; then
    echo "PASS console-own-window the run's window stayed until a key was pressed"
  else
    fail "console-own-window: a key did not end voltrix-cli.exe"
  fi
fi
pkill -f '^voltrix-cli\.exe' 2>/dev/null
wait "$console_starter" 2>/dev/null
sim_stop
[ "$SIM_END" = Z ] || fail "console-own-window: end $SIM_END after $SIM_MEMORY bytes"
version_written() { grep -q '^voltrix-cli ' "$work/console/version.txt" 2>/dev/null; }
(cd "$work/console" && exec wine wineconsole cmd /c 'voltrix-cli.exe -V > version.txt' \
  >"$work/console/prompt.log" 2>&1 </dev/null) &
console_starter=$!
if wait_for 60 version_written && wait_for 20 cli_gone; then
  echo "PASS console-prompt   started from a prompt, voltrix-cli.exe ended by itself"
else
  fail "console-prompt: voltrix-cli.exe -V from a prompt did not end by itself"
fi
pkill -f '^voltrix-cli\.exe' 2>/dev/null
wait "$console_starter" 2>/dev/null

if [ "$failures" -ne 0 ]; then
  echo "run-dialog-e2e: $failures case(s) failed" >&2
  exit 1
fi
if [ -n "$screenshot" ]; then echo "run-dialog-e2e: wrote $screenshot"; fi
echo "run-dialog-e2e: all cases passed"
