#!/usr/bin/env bash
# The Windows installer under Wine, as an administrator meets it:
#   run-installer.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# Takes WINDOWS_BUILD_DIR/voltrix-VERSION-win64.exe as scripts/package-windows.sh
# made it (nothing is built here) and sim/zetak-sim, sim/zetak-sample-image
# from the Linux build. In a fresh Wine prefix (removed at the end unless a
# case failed), with a private Xvfb display for the dialog, it installs
# silently, checks the files, the Start-menu entries, the uninstall entry
# and the machine PATH (left alone by default, one entry with /PATH=1, still
# one on a second /PATH=1, untouched when too long to edit); runs the
# installed voltrix-cli.exe against the simulated device; keeps it, then
# the dialog, running and sees the uninstaller and a reinstall refuse with
# everything in place; uninstalls through the entry's UninstallString and
# sees nothing left; then sees an entry that was on PATH before kept, the
# PATH entry move along with an install into another folder, the old
# folder's uninstaller leave the new installation's entries, and the PATH
# as it was before any install at the end. One line per case; exits 1 on
# any failure.
set -uo pipefail

if [ "$#" -ne 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
windows_build="$(cd "$1" && pwd)"
linux_build="$(cd "$2" && pwd)"
installer="$(find "$windows_build" -maxdepth 1 -name 'voltrix-*-win64.exe' | head -n 1)"
ZETAK_SIM="$linux_build/sim/zetak-sim"
sample_image="$linux_build/sim/zetak-sample-image"
if [ -z "$installer" ]; then
  echo "run-installer: no installer in $windows_build: make it with scripts/package-windows.sh" >&2
  exit 2
fi
for program in "$ZETAK_SIM" "$sample_image"; do
  if [ ! -f "$program" ]; then
    echo "run-installer: $program is missing: build it first" >&2
    exit 2
  fi
done
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "run-installer: $tool is missing (scripts/setup.sh installs it)" >&2
    exit 2
  fi
done
version="$(basename "$installer" | sed 's/^voltrix-\(.*\)-win64\.exe$/\1/')"

work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-wine-installer.XXXXXX")"
# shellcheck source=tests/wine/wine-env.sh
source "$here/wine-env.sh"
failures=0 held_pid="" xvfb_pid="" SIM_PID=""
finish() {
  set +e
  stop_held
  wine_env_cleanup
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "run-installer: kept $work" >&2; fi
}
trap finish EXIT
trap 'exit 130' INT TERM

# Longest a silent install or uninstall may take; each takes 1-3 s.
RUN_LIMIT_SECONDS=120
install_dir='C:\Program Files\Voltrix'
bin_dir="$install_dir\\bin"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Voltrix'
product_key='HKLM\Software\Voltrix'
environment_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'

# verdict NAME OK DETAIL: one line, and the count of failures.
verdict() {
  if [ "$2" = 0 ]; then
    printf 'PASS %-24s %s\n' "$1" "$3"
  else
    failures=$((failures + 1))
    printf 'FAIL %-24s %s\n' "$1" "$3"
  fi
}

# The installed program kept running (if any) and the simulator stopped.
held_gone() { ! kill -0 "$held_pid" 2>/dev/null; }
stop_held() {
  [ -n "$held_pid" ] || return 0
  kill -TERM "$held_pid" 2>/dev/null
  wait_for 10 held_gone || kill -KILL "$held_pid" 2>/dev/null
  wait "$held_pid" 2>/dev/null
  held_pid=""
  sim_stop
}

# run_wine OUTPUT PROGRAM ARGS...: the exit code of a Windows program.
run_wine() {
  local output="$1"
  shift
  (cd "$work" && timeout -k 5 "$RUN_LIMIT_SECONDS" wine "$@" >"$output" 2>"$output.err" </dev/null)
  echo "$?"
}

# uninstall_in FOLDER: the exit code of FOLDER's uninstaller, run to its
# end. It is copied out of the folder and told where the installation is
# (what it does itself before it runs) so that its exit code comes back;
# "_?=" must reach it unquoted, so cmd.exe passes the line on as it is.
uninstall_in() {
  cp "$(unix_path "$1")/uninstall.exe" "$WINEPREFIX/drive_c/uninstall-copy.exe"
  run_wine "$work/uninstall-$RANDOM.out" cmd /c "C:\\uninstall-copy.exe /S _?=$1"
}
unix_path() { printf '%s/drive_c/%s' "$WINEPREFIX" "$(sed 's/^C:\\//; s/\\/\//g' <<<"$1")"; }

# reg_value KEY NAME: the value's data as `reg query` prints it, or nothing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -n 1
}
reg_key_exists() { wine reg query "$1" >/dev/null 2>&1 </dev/null; }

# How many entries of the machine PATH are the installation's bin folder.
path_count() {
  reg_value "$environment_key" Path | tr ';' '\n' | grep -icxF "$bin_dir"
}

echo "run-installer: $(basename "$installer"), Wine prefix in $work"
# A private display for the dialog: Xvfb picks a free one and names it once
# it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 10 test -s "$work/display" || { failures=1; cat "$work/xvfb.log" >&2; exit 1; }
WINE_ENV_DISPLAY=":$(head -n 1 "$work/display")"
wine_env_init "$work" || { failures=1; exit 1; }
install_unix="$(unix_path "$install_dir")"
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Voltrix"
"$sample_image" "$work/sysbin.bin" || { failures=1; exit 1; }
base_path="$(reg_value "$environment_key" Path)"

format="$(x86_64-w64-mingw32-objdump -f "$installer" | sed -n 's/.*file format //p')"
[ "$format" = pei-x86-64 ]
verdict 64-bit $? "file format $format"

status="$(run_wine "$work/install-1.out" "$installer" /S)"
[ "$status" = 0 ]
verdict install $? "/S exit $status"

missing=""
for file in bin/voltrix.exe bin/voltrix-cli.exe README.txt LICENSE.txt uninstall.exe; do
  [ -s "$install_unix/$file" ] || missing="$missing $file"
done
[ -z "$missing" ]
verdict files $? "bin\\voltrix.exe bin\\voltrix-cli.exe README.txt LICENSE.txt uninstall.exe${missing:+, missing:$missing}"

# Both shortcuts start in bin: the dialog's own folder, the prompt's too.
# The .lnk holds its texts as UTF-16; `strings` shows a text's length word
# as one more character in front when that length is a printable code.
lnk_has_text() {
  # awk -v would take the backslashes as escapes: the text comes through the
  # environment.
  strings -el "$1" | LNK_TEXT="$2" awk '$0 == ENVIRON["LNK_TEXT"] ||
    substr($0, 2) == ENVIRON["LNK_TEXT"] { found = 1 } END { exit !found }'
}
shortcut_check() {
  local link="$start_menu/$1" target="$2" arguments="$3"
  [ -f "$link" ] || return 1
  strings -a "$link" | grep -qixF "$target" || return 1
  lnk_has_text "$link" "$bin_dir" || return 1
  [ -z "$arguments" ] || lnk_has_text "$link" "$arguments"
}
shortcut_check Voltrix.lnk "$bin_dir\\voltrix.exe" ""
verdict shortcut-dialog $? "Voltrix.lnk: bin\\voltrix.exe, starts in $bin_dir"
shortcut_check 'Voltrix command prompt.lnk' 'C:\windows\system32\cmd.exe' \
  "/k set \"PATH=$bin_dir;%PATH%\""
verdict shortcut-prompt $? "Voltrix command prompt.lnk: cmd.exe /k with bin on PATH, starts in bin"

# The prompt's command line, run from elsewhere, finds voltrix-cli.exe.
printf '@set "PATH=%s;%%PATH%%" && voltrix-cli --version\r\n' "$bin_dir" >"$WINEPREFIX/drive_c/prompt.cmd"
status="$(run_wine "$work/prompt.out" cmd /c 'C:\prompt.cmd')"
[ "$status" = 0 ] && grep -aq "^voltrix-cli $version" "$work/prompt.out"
verdict prompt-finds-cli $? "set \"PATH=$bin_dir;%PATH%\" && voltrix-cli --version: exit $status"

want_entry="DisplayName=Voltrix DisplayVersion=$version Publisher=The Voltrix developers
DisplayIcon=$bin_dir\\voltrix.exe,0 NoModify=0x1 NoRepair=0x1 InstallLocation=$install_dir
UninstallString=\"$install_dir\\uninstall.exe\""
entry=""
for name in DisplayName DisplayVersion Publisher DisplayIcon NoModify NoRepair InstallLocation \
  UninstallString; do
  entry="$entry $name=$(reg_value "$uninstall_key" "$name")"
done
size="$(reg_value "$uninstall_key" EstimatedSize)"
help_link="$(reg_value "$uninstall_key" HelpLink)"
[ "${entry# }" = "$(tr '\n' ' ' <<<"$want_entry" | sed 's/ $//')" ] &&
  [ "$((size))" -gt 0 ] && [[ "$help_link" == https://* ]]
verdict uninstall-entry $? "${entry# } EstimatedSize=$((size)) KiB HelpLink=$help_link"
icon="$(reg_value "$uninstall_key" DisplayIcon)"
[ -s "$(unix_path "${icon%,0}")" ]
verdict display-icon $? "${icon%,0} exists"

count="$(path_count)"
[ "$count" = 0 ]
verdict path-default $? "machine PATH has bin $count time(s) after a default install"

for round in 1 2; do
  status="$(run_wine "$work/install-path-$round.out" "$installer" /S /PATH=1)"
  count="$(path_count)"
  [ "$status" = 0 ] && [ "$count" = 1 ]
  verdict "path-added-$round" $? "/S /PATH=1 exit $status, machine PATH has bin $count time(s)"
done

status="$(run_wine "$work/install-bad.out" "$installer" /S /PATH=yes)"
[ "$status" = 2 ]
verdict bad-option $? "/S /PATH=yes exit $status"

# A PATH longer than the installer can hold is left exactly as it was.
saved_path="$(reg_value "$environment_key" Path)"
long_path="$(printf 'C:\\Tools\\%04d;' $(seq 1 120))C:\\windows"
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$long_path" /f >/dev/null 2>&1 </dev/null
status="$(run_wine "$work/install-long.out" "$installer" /S /PATH=1)"
[ "$status" = 0 ] && [ "$(reg_value "$environment_key" Path)" = "$long_path" ]
verdict path-too-long $? "/S /PATH=1 exit $status, a ${#long_path}-character PATH unchanged"
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$saved_path" /f >/dev/null 2>&1 </dev/null

mkdir -p "$work/run"
cp "$work/sysbin.bin" "$work/run/"
if sim_start; then
  status="$(cd "$work/run" && timeout -k 5 "$RUN_LIMIT_SECONDS" wine "$bin_dir\\voltrix-cli.exe" \
    >"$work/cli.out" 2>"$work/cli.out.err" </dev/null; echo $?)"
  sim_stop
else
  status=none SIM_END=none
fi
[ "$status" = 0 ] && [ "$SIM_END" = Z ] && grep -aq '^verified ' "$work/cli.out"
verdict cli-verifies $? "installed voltrix-cli.exe exit $status, device got '$SIM_END'"

everything_in_place() {
  [ -s "$install_unix/bin/voltrix.exe" ] && [ -s "$install_unix/bin/voltrix-cli.exe" ] &&
    [ -s "$install_unix/uninstall.exe" ] && [ -f "$start_menu/Voltrix.lnk" ] &&
    reg_key_exists "$uninstall_key" && [ "$(path_count)" = 1 ]
}
# refused_while_held PROGRAM NAME: uninstalling and installing again both
# refuse and change nothing while PROGRAM of the installation runs.
refused_while_held() {
  status="$(uninstall_in "$install_dir")"
  [ "$status" = 2 ] && everything_in_place
  verdict "uninstall-refused-$2" $? "uninstall /S while $1 runs: exit $status, everything in place"
  status="$(run_wine "$work/install-held.out" "$installer" /S)"
  [ "$status" = 2 ] && everything_in_place
  verdict "reinstall-refused-$2" $? "install /S while $1 runs: exit $status, everything in place"
}

# A device that never answers keeps the installed voltrix-cli.exe asking;
# its trace of the first byte sent says it runs.
sim_start --fault silence:sync:1 || failures=$((failures + 1))
(cd "$work/run" && exec wine "$bin_dir\\voltrix-cli.exe" -v --timeout 600 \
  >"$work/held.out" 2>"$work/held.out.err" </dev/null) &
held_pid=$!
wait_for 30 grep -aqs -- '->' "$work/held.out.err"
verdict cli-running $? "installed voltrix-cli.exe waits for a silent device"
refused_while_held voltrix-cli.exe cli
stop_held

# The dialog, started in bin as its Start-menu entry starts it; its window
# on the private display says it runs.
dialog_shown() { xdotool search --onlyvisible --name '^Pc platform COM download tool$' >/dev/null 2>&1; }
(cd "$install_unix/bin" && exec wine "$bin_dir\\voltrix.exe" >"$work/dialog.out" 2>&1 </dev/null) &
held_pid=$!
wait_for 60 dialog_shown
verdict dialog-running $? "installed voltrix.exe shows its window"
refused_while_held voltrix.exe dialog
stop_held

# The uninstall entry's own command, as "Apps & features" runs it: the
# uninstaller copies itself away and ends, the copy does the work.
uninstall_command="$(reg_value "$uninstall_key" UninstallString)"
uninstall_program="${uninstall_command#\"}"
uninstall_program="${uninstall_program%\"}"
status="$(run_wine "$work/uninstall.out" "$uninstall_program" /S)"
nothing_left() {
  [ ! -e "$install_unix" ] && [ ! -e "$start_menu" ] && ! reg_key_exists "$uninstall_key" &&
    ! reg_key_exists "$product_key" && [ "$(path_count)" = 0 ]
}
wait_for 60 nothing_left
verdict uninstall $? "$uninstall_command /S exit $status"
left=""
[ ! -e "$install_unix" ] || left="$left $(cd "$install_unix" && find . | tr '\n' ' ')"
[ ! -e "$start_menu" ] || left="$left Start-menu folder"
! reg_key_exists "$uninstall_key" || left="$left $uninstall_key"
! reg_key_exists "$product_key" || left="$left $product_key"
[ "$(path_count)" = 0 ] || left="$left PATH entry"
[ -z "$left" ]
verdict nothing-left $? "no files, folder, Start-menu folder, registry keys or PATH entry${left:+; left:$left}"

# A PATH entry that was there before the install is not the installer's: it
# is not doubled, and it stays after the uninstall.
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$(reg_value "$environment_key" Path);$bin_dir" /f \
  >/dev/null 2>&1 </dev/null
status="$(run_wine "$work/install-present.out" "$installer" /S /PATH=1)"
count="$(path_count)"
un_status="$(uninstall_in "$install_dir")"
[ "$status" = 0 ] && [ "$count" = 1 ] && [ "$un_status" = 0 ] && [ "$(path_count)" = 1 ] &&
  [ ! -e "$install_unix" ] && ! reg_key_exists "$product_key"
verdict path-was-there $? "install /S /PATH=1 exit $status: bin $count time(s); uninstall exit $un_status: bin $(path_count) time(s)"

# Installed again elsewhere, the installation takes its PATH entry along;
# the old folder's uninstaller then removes its own files only, and the new
# one leaves the PATH exactly as it was before any install.
wine reg add "$environment_key" /v Path /t REG_EXPAND_SZ /d "$base_path" /f >/dev/null 2>&1 </dev/null
other_dir='C:\Tools\Voltrix'
status="$(run_wine "$work/install-here.out" "$installer" /S /PATH=1)"
status="$status $(run_wine "$work/install-there.out" "$installer" /S /PATH=1 "/D=$other_dir")"
entries="$(reg_value "$environment_key" Path | tr ';' '\n' | grep -ic 'Voltrix\\bin$')"
[ "$status" = "0 0" ] && [ "$entries" = 1 ] &&
  [ "$(reg_value "$environment_key" Path)" = "$base_path;$other_dir\bin" ]
verdict path-moves $? "installs here and in $other_dir: exit $status, $entries Voltrix entry on PATH, the new one"
status="$(uninstall_in "$install_dir")"
[ "$status" = 0 ] && [ ! -e "$install_unix" ] && reg_key_exists "$uninstall_key" &&
  [ "$(reg_value "$uninstall_key" InstallLocation)" = "$other_dir" ] &&
  [ "$(reg_value "$environment_key" Path)" = "$base_path;$other_dir\bin" ]
verdict old-uninstaller $? "the old folder's uninstaller: exit $status, its files gone, entries and PATH kept"
status="$(uninstall_in "$other_dir")"
[ "$status" = 0 ] && [ ! -e "$(unix_path "$other_dir")" ] && ! reg_key_exists "$uninstall_key" &&
  ! reg_key_exists "$product_key" && [ "$(reg_value "$environment_key" Path)" = "$base_path" ]
verdict path-restored $? "uninstall in $other_dir: exit $status, PATH as before any install"

if [ "$failures" -ne 0 ]; then
  echo "run-installer: $failures case(s) failed; everything is kept in $work" >&2
  exit 1
fi
echo "run-installer: all cases passed"
