#!/usr/bin/env bash
# Checks the station service as it is shipped: the unit, its environment file
# and the maintainer scripts, and that the command the unit runs, with the
# shipped defaults, is one the real voltrix-cli takes and flashes with.
#   check-station-service.sh --deb FILE.deb WORK_DIR
#       the package as built (its files and its control scripts);
#   check-station-service.sh --install BUILD_DIR SOURCE_DIR WORK_DIR
#       the build tree installed with the package's prefix /usr into
#       WORK_DIR/root, with the package's control files (conffiles from the
#       build tree, the maintainer scripts from res/package/cli).
# UNIT_PATH and DEFAULTS_PATH in the environment say where the unit and its
# environment file belong when they are not in the usual places;
# SPOIL_FOR_TEST=1 spoils both before the check (which must then fail).
# Every failure is collected and reported together; the exit status is 1 when
# there was any.
set -uo pipefail

unit_path="${UNIT_PATH:-/usr/lib/systemd/system/voltrix-station.service}"
defaults_path="${DEFAULTS_PATH:-/etc/default/voltrix-station}"
state_path=/var/lib/voltrix-station

failures=()
fail() { failures+=("$*"); }

usage() {
  sed -n '2,14p' "$0" >&2
  exit 2
}

case "${1:-}" in
  --deb)
    [ $# -eq 3 ] || usage
    work="$3"
    rm -rf "$work" && mkdir -p "$work"
    root="$work/root" control="$work/control"
    dpkg-deb -x "$2" "$root" && dpkg-deb -e "$2" "$control" || {
      echo "check-station-service: cannot unpack $2" >&2
      exit 1
    }
    ;;
  --install)
    [ $# -eq 4 ] || usage
    work="$4"
    rm -rf "$work" && mkdir -p "$work"
    root="$work/root" control="$work/control"
    if ! DESTDIR="$root" cmake --install "$2" --prefix /usr >"$work/install.out" 2>&1; then
      echo "check-station-service: cmake --install failed: $(cat "$work/install.out")" >&2
      exit 1
    fi
    mkdir -p "$control"
    cp "$2/package/cli/conffiles" "$3/res/package/cli/postinst" "$3/res/package/cli/prerm" \
      "$3/res/package/cli/postrm" "$control/" || exit 1
    ;;
  *) usage ;;
esac

unit="$root$unit_path"
defaults="$root$defaults_path"
# The check's own check: a unit without the serial devices' group and an
# environment file whose commented default differs from the unit's must fail.
if [ -n "${SPOIL_FOR_TEST:-}" ] && [ -f "$unit" ] && [ -f "$defaults" ]; then
  sed -i '/^SupplementaryGroups=/d' "$unit"
  sed -i 's/^#VOLTRIX_SERVE=.*/#VOLTRIX_SERVE=127.0.0.1:8081/' "$defaults"
fi
[ -f "$unit" ] || fail "no unit at $unit_path"
[ -f "$defaults" ] || fail "no environment file at $defaults_path"
if [ "${#failures[@]}" -ne 0 ]; then
  printf 'check-station-service: %s\n' "${failures[@]}" >&2
  exit 1
fi

# --- The unit -------------------------------------------------------------

# The values of KEY in the unit's [Service] section, one per line.
service_values() {
  awk -v key="$1" '
    /^\[/ { section = $0; next }
    section == "[Service]" && index($0, key "=") == 1 { print substr($0, length(key) + 2) }
  ' "$unit"
}

expect_value() {
  local key="$1" want="$2" got
  got="$(service_values "$key")"
  [ "$got" = "$want" ] || fail "unit: $key is '${got//$'\n'/ | }', not '$want'"
}

expect_value EnvironmentFile "-$defaults_path"
expect_value StateDirectory voltrix-station
expect_value WorkingDirectory "$state_path"
expect_value KillSignal SIGTERM
expect_value Restart on-failure
expect_value NoNewPrivileges yes
expect_value ProtectSystem strict
expect_value ProtectHome yes
expect_value PrivateTmp yes
user="$(service_values User)"
[ -n "$user" ] && [ "$user" != root ] || fail "unit: runs as '${user:-root}', not as a user of its own"
# shellcheck disable=SC2046  # the groups are a list of words
printf '%s\n' $(service_values SupplementaryGroups) | grep -qx dialout ||
  fail "unit: the user is not in the group dialout, which may open the serial devices"
# The station opens the serial devices and follows them in /dev.
[ "$(service_values PrivateDevices)" != yes ] || fail "unit: PrivateDevices hides the serial devices"
[ -z "$(service_values DeviceAllow)" ] || fail "unit: DeviceAllow limits the devices the station may open"
# A device being flashed when the stop comes is given time to end.
stop_timeout="$(service_values TimeoutStopSec)"
if [[ "$stop_timeout" =~ ^([0-9]+)s?$ ]]; then
  [ "${BASH_REMATCH[1]}" -ge 30 ] || fail "unit: TimeoutStopSec=$stop_timeout is shorter than a device's write"
else
  fail "unit: TimeoutStopSec '$stop_timeout' is not a number of seconds"
fi
grep -qx 'WantedBy=multi-user.target' "$unit" || fail "unit: not wanted by multi-user.target once enabled"

# systemd's own reading of the unit, with the program it runs taken from the
# scratch tree: a key it does not know or a value it cannot parse is a
# failure too. (--root would also look for the system's targets there.)
if command -v systemd-analyze >/dev/null 2>&1; then
  mkdir -p "$work/verify"
  sed "s|^ExecStart=/|ExecStart=$root/|" "$unit" >"$work/verify/voltrix-station.service"
  if ! verdict="$(systemd-analyze verify --man=no "$work/verify/voltrix-station.service" 2>&1)" ||
    [ -n "$verdict" ]; then
    fail "systemd-analyze verify: $verdict"
  fi
else
  fail "systemd-analyze not found (scripts/setup.sh installs systemd): the unit is unchecked"
fi

# --- The environment: the unit's defaults, then the file ------------------

declare -A env=()
declare -A unit_default=()
while IFS= read -r assignment; do
  name="${assignment%%=*}"
  [[ "$assignment" == *=* && "$name" =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] || {
    fail "unit: Environment=$assignment is not NAME=value"
    continue
  }
  env[$name]="${assignment#*=}"
  unit_default[$name]="${assignment#*=}"
done < <(service_values Environment)

# Reads an environment file into the array named second, as systemd reads
# the lines it holds: NAME=value, the value bare or in double or single
# quotes; '#' and ';' start comments.
read_environment_file() {
  local file="$1" line number=0 name value
  local -n into="$2"
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    [[ "$line" =~ ^[[:space:]]*([#\;]|$) ]] && continue
    if [[ ! "$line" =~ ^([A-Za-z_][A-Za-z0-9_]*)=(.*)$ ]]; then
      fail "$file:$number: not NAME=value: $line"
      continue
    fi
    name="${BASH_REMATCH[1]}" value="${BASH_REMATCH[2]}"
    if [[ "$value" =~ ^\"([^\"\\]*)\"$ || "$value" =~ ^\'([^\']*)\'$ ]]; then
      value="${BASH_REMATCH[1]}"
    elif [[ "$value" =~ [\"\'\\[:space:]] ]]; then
      fail "$file:$number: a value with spaces or quotes goes in one pair of quotes: $line"
      continue
    fi
    into[$name]="$value"
  done <"$file"
}

# The shipped file changes nothing; its commented-out lines show the
# defaults, and they must be the unit's, for every variable the unit has.
declare -A active=()
read_environment_file "$defaults" active
[ "${#active[@]}" -eq 0 ] || fail "$defaults_path sets ${!active[*]}: the shipped file leaves all to the defaults"
uncommented="$work/defaults-uncommented"
sed -n 's/^#\([A-Za-z_][A-Za-z0-9_]*=\)/\1/p' "$defaults" >"$uncommented"
declare -A shown=()
read_environment_file "$uncommented" shown
for name in "${!unit_default[@]}"; do
  [ -n "${shown[$name]+set}" ] || fail "$defaults_path does not show the default of $name"
done
for name in "${!shown[@]}"; do
  if [ -z "${unit_default[$name]+set}" ]; then
    fail "$defaults_path shows $name, which the unit does not use"
  elif [ "${shown[$name]}" != "${unit_default[$name]}" ]; then
    fail "$defaults_path shows $name=${shown[$name]}; the unit's default is ${unit_default[$name]}"
  fi
done

# The unit's command line with the environment of now, as systemd makes it:
# ${NAME} is one word, $NAME is split at white space.
command_line=()
expand_exec_start() {
  local exec_start word words split
  exec_start="$(service_values ExecStart)"
  command_line=()
  [ "$(printf '%s\n' "$exec_start" | wc -l)" -eq 1 ] || {
    fail "unit: not one ExecStart"
    return 1
  }
  read -ra words <<<"$exec_start"
  for word in "${words[@]}"; do
    if [[ "$word" =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
      command_line+=("${env[${BASH_REMATCH[1]}]-}")
    elif [[ "$word" =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
      read -ra split <<<"${env[${BASH_REMATCH[1]}]-}"
      command_line+=("${split[@]}")
    elif [[ "$word" =~ [\$\"\'\\%] ]]; then
      fail "unit: ExecStart word '$word' is beyond what this check reads"
      return 1
    else
      command_line+=("$word")
    fi
  done
}

# Runs the expanded command with the state directory (and the program) in
# the scratch tree; the exit status is that of voltrix-cli (124 or 137 when
# it had not ended after 30 s: SIGTERM only asks the station to end).
run_command_line() {
  local state="$1" output="$2" program arguments=() word
  program="$root${command_line[0]}"
  [ -x "$program" ] || {
    fail "unit: ExecStart's ${command_line[0]} is not an installed program"
    return 125
  }
  for word in "${command_line[@]:1}"; do arguments+=("${word//$state_path/$state}"); done
  (cd "$state" && exec timeout -k 5 30 "$program" "${arguments[@]}") </dev/null >"$output" 2>&1
}

# With the defaults as shipped: the command line is taken, the dashboard is
# served and the missing image is what stops the station (exit status 3).
expand_exec_start || true
if [ "${#command_line[@]}" -gt 0 ]; then
  printf 'default command line: %s\n' "${command_line[*]}"
  state="$work/state-defaults"
  mkdir -p "$state"
  run_command_line "$state" "$work/defaults.out"
  status=$?
  if [ "$status" -ne 3 ]; then
    hint=""
    [ "$status" -eq 1 ] && hint=" (is ${env[VOLTRIX_SERVE]-} taken by another program?)"
    fail "with the shipped defaults voltrix-cli ended with $status, not 3 (no image)$hint: $(cat "$work/defaults.out")"
  fi
fi

# For real: one simulated device, the image in the state directory and an
# environment file that sets an ephemeral port and more options; the station
# flashes the device and records it in the log and the database.
bin="$root/usr/bin"
state="$work/state"
mkdir -p "$state" "$work/serialcomm" "$work/dosdevices"
cat >"$work/environment" <<'EOF'
# the port is the system's choice; one device, then the end
VOLTRIX_SERVE=127.0.0.1:0
VOLTRIX_OPTIONS="--count 1 --station line-7"
EOF
read_environment_file "$work/environment" env
if "$bin/zetak-sample-image" "$state/sysbin.bin" >/dev/null && expand_exec_start; then
  "$bin/zetak-sim" --link-dir "$work/dosdevices" --com 7 >"$work/sim.out" 2>&1 &
  sim=$!
  for _ in $(seq 1 200); do
    [ -e "$work/dosdevices/COM7" ] && break
    sleep 0.05
  done
  printf 'COM7' >"$work/serialcomm/VCP0"
  export VOLTRIX_SERIALCOMM="$work/serialcomm" VOLTRIX_DOSDEVICES="$work/dosdevices"
  run_command_line "$state" "$work/station.out"
  status=$?
  kill "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
  if [ "$status" -ne 0 ]; then
    fail "the station of the unit ended with $status, not 0: $(cat "$work/station.out")"
  else
    log="$state/voltrix.jsonl"
    records="$(grep -c . "$log" 2>/dev/null)"
    [ "$records" = 1 ] || fail "the log $log holds ${records:-no} records, not 1"
    grep -q '"line-7"' "$log" 2>/dev/null || fail "the log does not name the station line-7"
    [ -s "$state/voltrix.db" ] || fail "no results database in the state directory"
    grep -q 'serving the station on http://127.0.0.1:' "$work/station.out" ||
      fail "the station did not say where it serves: $(cat "$work/station.out")"
  fi
else
  fail "no sample image, or no command line, for the run with a device"
fi

# --- The package's control files ------------------------------------------

grep -qx "$defaults_path" "$control/conffiles" 2>/dev/null ||
  fail "conffiles does not list $defaults_path"
for script in postinst prerm postrm; do
  path="$control/$script"
  if [ ! -x "$path" ]; then
    fail "$script: missing or not executable"
    continue
  fi
  sh -n "$path" || fail "$script: not a valid shell script"
  # Installing never enables nor starts the service.
  if grep -v '^[[:space:]]*#' "$path" |
    grep -E '(systemctl|deb-systemd-helper|deb-systemd-invoke)[^#]*\b(enable|start|restart)\b'; then
    fail "$script enables or starts the service"
  fi
done

# The scripts with stand-ins for the commands they call: the user is made
# once, and without systemd running nothing is asked of systemd.
stubs="$work/stubs"
calls="$work/calls"
mkdir -p "$stubs"
: >"$calls"
for command in adduser systemctl deb-systemd-invoke deb-systemd-helper; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$command" "$calls" >"$stubs/$command"
done
printf '#!/bin/sh\nexit 2\n' >"$stubs/getent" # no such user yet
chmod +x "$stubs"/*
if [ -x "$control/postinst" ] && [ -x "$control/prerm" ] && [ -x "$control/postrm" ]; then
  PATH="$stubs:$PATH" "$control/postinst" configure || fail "postinst configure failed"
  PATH="$stubs:$PATH" "$control/prerm" remove || fail "prerm remove failed"
  PATH="$stubs:$PATH" "$control/postrm" remove || fail "postrm remove failed"
  grep -qE '^adduser --system .*voltrix$' "$calls" ||
    fail "postinst did not make the system user: $(cat "$calls")"
  [ "$(grep -c '^adduser' "$calls")" = 1 ] || fail "postinst called adduser more than once"
  if [ ! -d /run/systemd/system ] && grep -qE '^(systemctl|deb-systemd)' "$calls"; then
    fail "without systemd running the scripts still called: $(grep -E '^(systemctl|deb-systemd)' "$calls")"
  fi
fi

if [ "${#failures[@]}" -ne 0 ]; then
  printf 'check-station-service: %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "check-station-service: the unit, its environment file and the package's scripts are right"
