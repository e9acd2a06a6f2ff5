#!/usr/bin/env bash
# Chinese names and texts through voltrix-cli.exe under Wine, once under the
# ANSI code page 1252 and once under 936 (GBK):
#   run-unicode-e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [WORK_DIR]
# The Windows build gives cli/voltrix-cli.exe, gui/win32/voltrix.exe and
# tests/wine/voltrix_code_page_probe.exe, the Linux build sim/zetak-sim and
# sim/zetak-sample-image. Each code page gets a fresh Wine prefix in
# WORK_DIR (default: a temporary folder, removed at the end unless the run
# failed), made under the locale that selects it (C.UTF-8 for 1252,
# zh_CN.UTF-8 for 936, made by scripts/setup.sh); the probe must report the
# code page or the run fails. Then the simulated device on COM7 is flashed
# from an image in a folder with a Chinese name, into a log in another one,
# with a Chinese label and station name and the JSON summary; from Linux the
# log must stand at the Chinese path and hold every name as UTF-8 (never as
# GBK bytes or question marks), and so must the JSON summary. Hints on
# standard error and on Wine's console, and voltrix.exe's answer to a bad
# command line, name Chinese paths as they were typed. One line per check;
# exits 1 on any failure.
set -uo pipefail

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
here="$(cd "$(dirname "$0")" && pwd)"
windows_build="$(cd "$1" && pwd)"
windows_cli="$windows_build/cli/voltrix-cli.exe"
windows_dialog="$windows_build/gui/win32/voltrix.exe"
code_page_probe="$windows_build/tests/wine/voltrix_code_page_probe.exe"
linux_build="$(cd "$2" && pwd)"
ZETAK_SIM="$linux_build/sim/zetak-sim"
sample_image="$linux_build/sim/zetak-sample-image"
for program in "$windows_cli" "$windows_dialog" "$code_page_probe" "$ZETAK_SIM" "$sample_image"; do
  if [ ! -f "$program" ]; then
    echo "run-unicode-e2e: $program is missing: build it first" >&2
    exit 2
  fi
done
if [ "$#" -eq 3 ]; then
  # Kept afterwards; emptied first only when an earlier run of this script
  # made it, so that a mistyped folder is never wiped.
  work="$3"
  mkdir -p "$work" || exit 2
  if [ -f "$work/.voltrix-wine-unicode" ]; then
    find "$work" -mindepth 1 -delete
  elif [ -n "$(ls -A "$work")" ]; then
    echo "run-unicode-e2e: $work is not empty and not from an earlier run; give a new folder" >&2
    exit 2
  fi
  touch "$work/.voltrix-wine-unicode"
  keep_work=1
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/voltrix-wine-unicode.XXXXXX")"
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

# Longest a single run may take; a verified run ends in about 2 s.
RUN_LIMIT_SECONDS=120

# The names under test, as the operator types them, and the image's path
# as JSON holds it (each backslash doubled).
image_folder='固件'
log_folder='日志'
label='工位1'
station='产线1'
image_json='C:\\固件\\sysbin.bin'
# What broken handling would leave: 工位 in GBK, or each character as '?'.
gbk_label=$'\xb9\xa4\xce\xbb1'
lost_label='??1'

# verdict NAME OK DETAIL: one line; OK is 0 for a pass.
verdict() {
  if [ "$2" -eq 0 ]; then
    printf 'PASS %-26s %s\n' "$1" "$3"
  else
    printf 'FAIL %-26s %s\n' "$1" "$3"
    failures=$((failures + 1))
  fi
}

# holds FILE TEXT: whether FILE holds TEXT as these very bytes.
holds() {
  LC_ALL=C grep -aqF -- "$2" "$1"
}

# utf8_only FILE: whether every byte sequence of FILE is UTF-8.
utf8_only() {
  iconv -f UTF-8 -t UTF-8 "$1" >/dev/null 2>&1
}

# run_wine NAME PROGRAM ARGS...: PROGRAM under Wine in $dir with no input,
# its output in $dir/NAME.out and $dir/NAME.out.err; sets the caller's
# `status` to its exit status.
run_wine() {
  local name="$1"
  shift
  (cd "$dir" && timeout -k 5 "$RUN_LIMIT_SECONDS" wine "$@" >"$dir/$name.out" \
    2>"$dir/$name.out.err" </dev/null)
  status=$?
}

# in_code_page CODE_PAGE LOCALE: the whole story under one code page.
in_code_page() {
  local code_page="$1" locale="$2"
  local dir="$work/cp$code_page"
  # Wine takes its code pages from the locale it starts under; the prefix
  # and every program of the session start under this one.
  export LANG="$locale" LC_ALL="$locale"
  wine_env_init "$dir" || { verdict "cp$code_page prefix" 1 "see $dir"; return; }

  local reported status
  run_wine acp "$code_page_probe"
  reported="$(tr -d '\r\n' <"$dir/acp.out")"
  if [ "$reported" != "$code_page" ]; then
    verdict "cp$code_page code page" 1 "GetACP() is '$reported' under $locale, not $code_page"
    wine_env_cleanup
    return
  fi
  verdict "cp$code_page code page" 0 "GetACP() = $reported under $locale"

  local drive="$WINEPREFIX/drive_c"
  mkdir -p "$drive/$image_folder" "$drive/$log_folder"
  "$sample_image" "$drive/$image_folder/sysbin.bin" >/dev/null || {
    verdict "cp$code_page image" 1 "zetak-sample-image failed"
    wine_env_cleanup
    return
  }

  # The image listed: its path reaches the file layer whole.
  run_wine list "$windows_cli" --list --image "C:\\$image_folder\\sysbin.bin"
  local ok=1
  if [ "$status" -eq 0 ] && grep -aq '^1 ' "$dir/list.out"; then ok=0; fi
  verdict "cp$code_page --list" "$ok" "exit $status (see $dir/list.out)"

  # The dialog reads its command line as the CLI does: a second folder is
  # refused, named as it was typed (and no dialog opens).
  run_wine dialog "$windows_dialog" "C:\\$image_folder" "C:\\$log_folder"
  ok=1
  if [ "$status" -eq 2 ] && holds "$dir/dialog.out.err" "unknown argument 'C:\\$log_folder'" &&
    utf8_only "$dir/dialog.out.err"; then
    ok=0
  fi
  verdict "cp$code_page dialog arguments" "$ok" "exit $status (see $dir/dialog.out.err)"

  # A missing image is named in the hint as it was typed.
  run_wine missing "$windows_cli" --image "C:\\$image_folder\\缺少.bin"
  ok=1
  if [ "$status" -ne 0 ] && holds "$dir/missing.out.err" '缺少.bin was not found' &&
    utf8_only "$dir/missing.out.err"; then
    ok=0
  fi
  verdict "cp$code_page missing image" "$ok" "exit $status (see $dir/missing.out.err)"

  # The same on a console: a pseudo-terminal that Wine's console draws on,
  # in the locale's UTF-8. The console moves the cursor over spaces instead
  # of printing them; the text is compared without escape sequences and
  # spaces.
  local transcript="$dir/console.out"
  (cd "$dir" && timeout -k 5 "$RUN_LIMIT_SECONDS" script -qec \
    "wine '$windows_cli' --image 'C:\\$image_folder\\缺少.bin'" /dev/null \
    >"$transcript" 2>&1 </dev/null)
  status=$?
  local shown
  shown="$(sed 's/\x1b\[[0-9?;]*[A-Za-z]//g' "$transcript" | tr -d ' \r')"
  ok=1
  if [[ "$shown" == *'缺少.binwasnotfound.'* ]] && ! holds "$transcript" $'\xef\xbf\xbd'; then
    ok=0
  fi
  verdict "cp$code_page console" "$ok" "exit $status (see $transcript)"

  # The flash: station mode over the device map's one device, labelled by
  # its COM name as operators type it (the map gives \\.\COM7).
  local label_port=COM7
  if [ "$code_page" = 936 ]; then label_port=com7; fi
  sim_start || {
    verdict "cp$code_page flash" 1 "the simulator did not start"
    wine_env_cleanup
    return
  }
  run_wine flash "$windows_cli" --all --json \
    --image "C:\\$image_folder\\sysbin.bin" --log "C:\\$log_folder\\log.jsonl" \
    --station "$station" --label "$label_port=$label"
  sim_stop
  ok=1
  if [ "$status" -eq 0 ] && [ "$SIM_END" = Z ]; then ok=0; fi
  verdict "cp$code_page flash" "$ok" "exit $status, end-of-run byte $SIM_END (see $dir/flash.out.err)"

  local log="$drive/$log_folder/log.jsonl"
  ok=1
  if [ -f "$log" ] && [ "$(wc -l <"$log")" -eq 1 ] && utf8_only "$log" &&
    holds "$log" "\"label\":\"$label\"" && holds "$log" "\"station\":\"$station\"" &&
    holds "$log" "\"path\":\"$image_json\"" && ! holds "$log" "$gbk_label" &&
    ! holds "$log" "$lost_label"; then
    ok=0
  fi
  verdict "cp$code_page log record" "$ok" "$log"

  ok=1
  if utf8_only "$dir/flash.out" && holds "$dir/flash.out" "\"label\":\"$label\"" &&
    holds "$dir/flash.out" '"log_record_kept":true' && ! holds "$dir/flash.out" "$gbk_label" &&
    ! holds "$dir/flash.out" "$lost_label"; then
    ok=0
  fi
  verdict "cp$code_page JSON summary" "$ok" "$dir/flash.out"

  # A log in a folder that is not there: refused before anything is sent,
  # with the path named as typed.
  sim_start || {
    verdict "cp$code_page unwritable log" 1 "the simulator did not start"
    wine_env_cleanup
    return
  }
  run_wine no-log "$windows_cli" --all \
    --image "C:\\$image_folder\\sysbin.bin" --log "C:\\不存在\\log.jsonl"
  sim_stop
  ok=1
  if [ "$status" -eq 10 ] && [ "$SIM_MEMORY" = 0 ] && holds "$dir/no-log.out.err" 'C:\不存在\log.jsonl' &&
    utf8_only "$dir/no-log.out.err"; then
    ok=0
  fi
  verdict "cp$code_page unwritable log" "$ok" "exit $status, $SIM_MEMORY bytes written (see $dir/no-log.out.err)"
  wine_env_cleanup
}

echo "run-unicode-e2e: Wine prefixes in $work"
in_code_page 1252 C.UTF-8
in_code_page 936 zh_CN.UTF-8

if [ "$failures" -ne 0 ]; then
  echo "run-unicode-e2e: $failures check(s) failed; everything is kept in $work" >&2
  exit 1
fi
echo "run-unicode-e2e: all checks passed"
