#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest and test discovery:
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# PREFIX is a Wine prefix of the build folder's own, made on first use (one
# maker at a time when tests run in parallel). The program's output goes
# through files: wineserver and Wine's helper processes outlive the program
# and would hold an inherited pipe open, so that ctest waited for them.
set -uo pipefail
prefix="$1"
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: console programs need neither, and their installers
# would ask for a download.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

ready="$prefix/.voltrix-prefix-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    rm -rf "$prefix"
    if ! wineboot -i >"$prefix.boot.log" 2>&1 </dev/null; then
      echo "wine-run: wineboot failed in $prefix (see $prefix.boot.log)" >&2
      exit 125
    fi
    # The prefix is complete once its server has written it and gone.
    wineserver -w
    touch "$ready"
  fi
  exec 9>&-
fi

out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
wine "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
exit "$status"
