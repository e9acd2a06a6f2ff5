#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job in ./demo: writes a
# sample sysbin.bin when none is there and lists its segments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build
mkdir -p demo
cd demo
if [ ! -f sysbin.bin ]; then
  "$root/build/zetak-sample-image" sysbin.bin
  echo "run: wrote a sample sysbin.bin into $(pwd)"
fi
"$root/build/cli/voltrix-cli" --list sysbin.bin
