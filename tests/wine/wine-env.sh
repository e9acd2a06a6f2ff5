# shellcheck shell=bash disable=SC2034  # the variables are for the scripts that source this
# Shared by the Wine end-to-end test and the Wine benchmark: a fresh Wine
# prefix whose persistent wineserver holds "\Device\VCP0" = COM7 in the
# volatile HKLM\HARDWARE, and zetak-sim's pseudo-terminal appearing as COM7.
#
# Source it, set ZETAK_SIM, then:
#   wine_env_init WORKDIR        fresh prefix, server, registry value (on the X
#                                display WINE_ENV_DISPLAY when that is set)
#   sim_start [zetak-sim options] simulator up, dosdevices/com7 linked to it
#   sim_stop                     SIM_END (Z, E or none), SIM_MEMORY (bytes);
#                                both "missing" when the simulator left no summary
#   wine_env_cleanup             simulator and wineserver gone; call from a trap
# Wine programs write into files, never pipes: wineserver and Wine's helper
# processes outlive a program and would hold an inherited pipe open.

# Longest wait for zetak-sim to name its pseudo-terminal.
SIM_START_SECONDS=10

# Retries `$@` every 0.1 s until it succeeds or SECONDS have passed:
# wait_for SECONDS COMMAND...
wait_for() {
  local seconds="$1"
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

wine_env_init() {
  WINE_WORK="$1"
  export WINEPREFIX="$WINE_WORK/prefix"
  export WINEDEBUG=-all
  export WINEARCH=win64
  # No Mono or Gecko: console programs need neither, and their installers
  # would ask for a download.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # The registry is the device map under Wine; no override may stand in.
  unset VOLTRIX_SERIALCOMM VOLTRIX_DOSDEVICES DISPLAY WAYLAND_DISPLAY
  # A session that shows windows names its display before the first Wine
  # program runs: that program fixes the session's desktop for good.
  if [ -n "${WINE_ENV_DISPLAY:-}" ]; then export DISPLAY="$WINE_ENV_DISPLAY"; fi
  mkdir -p "$WINE_WORK"
  SIM_COUNT=0
  SIM_PID=""
  if ! wineboot -i >"$WINE_WORK/wineboot.log" 2>&1 </dev/null; then
    echo "wine-env: wineboot failed (see $WINE_WORK/wineboot.log)" >&2
    return 1
  fi
  # The boot's server writes the prefix and goes; the persistent one keeps
  # HKLM\HARDWARE, which lives only as long as its server.
  wineserver -w
  WINE_SERVER_STARTED=1
  wineserver -p >"$WINE_WORK/wineserver.log" 2>&1 </dev/null
  if ! wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\VCP0' /d COM7 /f \
      >"$WINE_WORK/reg-add.log" 2>&1 </dev/null; then
    echo "wine-env: wine reg add failed (see $WINE_WORK/reg-add.log)" >&2
    return 1
  fi
  if ! wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\VCP0' \
      >"$WINE_WORK/reg-query.log" 2>&1 </dev/null || ! grep -q COM7 "$WINE_WORK/reg-query.log"; then
    echo "wine-env: \\Device\\VCP0 did not stay in the registry (see $WINE_WORK/reg-query.log)" >&2
    return 1
  fi
}

sim_start() {
  SIM_COUNT=$((SIM_COUNT + 1))
  SIM_OUT="$WINE_WORK/sim-$SIM_COUNT.out"
  "$ZETAK_SIM" "$@" >"$SIM_OUT" 2>"$SIM_OUT.err" </dev/null &
  SIM_PID=$!
  SIM_PTY=""
  local deadline=$((SECONDS + SIM_START_SECONDS))
  while [ -z "$SIM_PTY" ]; do
    SIM_PTY="$(head -n 1 "$SIM_OUT" 2>/dev/null)"
    if [ -z "$SIM_PTY" ]; then
      if ! kill -0 "$SIM_PID" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
        echo "wine-env: zetak-sim did not start (see $SIM_OUT.err)" >&2
        sim_stop
        return 1
      fi
      sleep 0.05
    fi
  done
  ln -sfn "$SIM_PTY" "$WINEPREFIX/dosdevices/com7"
}

sim_stop() {
  # Nothing ran: nothing was written and no byte ended a run.
  SIM_END=none
  SIM_MEMORY=0
  [ -n "$SIM_PID" ] || return 0
  kill -TERM "$SIM_PID" 2>/dev/null
  wait "$SIM_PID" 2>/dev/null
  SIM_PID=""
  rm -f "$WINEPREFIX/dosdevices/com7"
  local summary
  summary="$(grep '^zetak-sim:' "$SIM_OUT" | tail -n 1)"
  # Without its summary the simulator's side is unknown: a value that no
  # check accepts, rather than "nothing happened".
  SIM_END=missing
  case "$summary" in
    *"no end-of-run byte"*) SIM_END=none ;;
    *"end-of-run byte 'Z'"*) SIM_END=Z ;;
    *"end-of-run byte 'E'"*) SIM_END=E ;;
    *"end-of-run byte"*) SIM_END=other ;;
  esac
  SIM_MEMORY="$(sed -n 's/.*, \([0-9]*\) bytes written into memory.*/\1/p' <<<"$summary")"
  if [ -z "$SIM_MEMORY" ]; then
    SIM_END=missing
    SIM_MEMORY=missing
    echo "wine-env: zetak-sim left no summary in $SIM_OUT" >&2
  fi
}

wine_env_cleanup() {
  sim_stop
  if [ -n "${WINE_SERVER_STARTED:-}" ]; then
    wineserver -k >/dev/null 2>&1 </dev/null
    WINE_SERVER_STARTED=""
  fi
}

# write_image FILE LENGTH...: a system image of one segment per LENGTH, with
# random data. Each record is a 32-byte header (next record, load address
# and length as biased 24-bit numbers: value + 0x010101, most significant
# byte first) followed by its data.
write_image() {
  local file="$1"
  shift
  local offset=0 address=$((0x20000)) length
  : >"$file"
  for length in "$@"; do
    local next=$((offset + 32 + length))
    {
      printf '\0\0\0\0\0\0\0\0\0\0\0\0'
      biased24 "$next"
      printf '\0\0\0\0\0\0'
      biased24 "$address"
      biased24 "$length"
      printf '\0\0\0\0\0'
      head -c "$length" /dev/urandom
    } >>"$file"
    offset=$next
    address=$((address + 0x20000))
  done
}

biased24() {
  local value=$(($1 + 0x010101))
  printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x' $(((value >> 16) & 255)) $(((value >> 8) & 255)) \
    $((value & 255)))"
}
