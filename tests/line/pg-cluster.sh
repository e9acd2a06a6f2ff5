#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the line's tests:
#   pg-cluster.sh               prints the connection string, then keeps the
#                               cluster until its standard input closes; the
#                               lines "stop" and "start" on it stop and start
#                               the server again (same port), each answered
#                               "stopped"/"started" (or "failed") on a line
#   pg-cluster.sh COMMAND ...   runs COMMAND with VOLTRIX_PG set to it
# The cluster lives in a fresh folder (its unix socket too), listens on
# 127.0.0.1 only on a free port, takes a password (scram-sha-256) for the
# user `voltrix`, and is stopped and removed at the end, on failure too.
# Root runs the server as the user `postgres`, which initdb demands.
# Writes are not synced to disk (a test's data is thrown away) unless
# VOLTRIX_PG_DURABLE=1, which a benchmark sets to measure what a real
# server's commits cost.
set -euo pipefail

started=$(date +%s%N)
bin=$(find /usr/lib/postgresql -mindepth 2 -maxdepth 2 -name bin -type d 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg-cluster: no PostgreSQL server in /usr/lib/postgresql (scripts/setup.sh installs it)" >&2
  exit 1
fi

folder=$(mktemp -d -t voltrix-pg.XXXXXX)
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$folder"
  as_owner=(runuser -u postgres --)
fi
data="$folder/data"

cleanup() {
  if [ -f "$data/postmaster.pid" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" stop -D "$data" -m immediate -s >/dev/null 2>&1 || true
  fi
  rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
printf '%s\n' "$password" >"$folder/password"
chmod 600 "$folder/password"
if [ "${#as_owner[@]}" -gt 0 ]; then chown postgres: "$folder/password"; fi
"${as_owner[@]}" "$bin/initdb" -D "$data" -U voltrix --pwfile="$folder/password" \
  --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 --no-sync >"$folder/initdb.log" 2>&1 || {
  cat "$folder/initdb.log" >&2
  exit 1
}

# A port nobody listens on; another program may still take it first, so a
# start that cannot bind is tried again on another one.
durability="-c fsync=off -c full_page_writes=off"
if [ "${VOLTRIX_PG_DURABLE:-0}" = 1 ]; then durability=""; fi
start_server() {
  "${as_owner[@]}" "$bin/pg_ctl" start -D "$data" -w -t 30 -s -l "$folder/server.log" \
    -o "-c listen_addresses=127.0.0.1 -p $1 -k $folder $durability" \
    >/dev/null 2>&1
}
port=""
for _ in 1 2 3 4 5; do
  candidate=$((20000 + RANDOM % 40000))
  if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then continue; fi
  if start_server "$candidate"; then
    port=$candidate
    break
  fi
done
if [ -z "$port" ]; then
  echo "pg-cluster: the server did not start:" >&2
  tail -n 20 "$folder/server.log" >&2 || true
  exit 1
fi

conninfo="host=127.0.0.1 port=$port user=voltrix password=$password dbname=postgres"
elapsed=$((($(date +%s%N) - started) / 1000000))
echo "pg-cluster: started in $elapsed ms on 127.0.0.1:$port ($folder)" >&2
if [ "$#" -gt 0 ]; then
  VOLTRIX_PG="$conninfo" "$@"
  exit $?
fi
echo "$conninfo"
# Kept until whoever started it closes our standard input (or is gone); a
# test of a server that goes away stops and starts it meanwhile.
while IFS= read -r request; do
  case "$request" in
    stop)
      if "${as_owner[@]}" "$bin/pg_ctl" stop -D "$data" -m fast -w -s >/dev/null 2>&1; then
        echo stopped
      else
        echo failed
      fi
      ;;
    start)
      if start_server "$port"; then echo started; else echo failed; fi
      ;;
  esac
done || true
