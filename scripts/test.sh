#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2
