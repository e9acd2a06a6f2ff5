#!/usr/bin/env bash
# Builds the image fuzzer with clang and runs it for a bounded time:
#   bash scripts/fuzz.sh [SECONDS]     (default 30)
# The working corpus lives in build-fuzz/fuzz-corpus and grows from run to
# run, seeded each time from tests/fuzz/corpus. An input that breaks the
# image code is kept in build-fuzz/fuzz-findings and the script exits 1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: $0 [SECONDS]" >&2
    exit 2
    ;;
esac

build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOLTRIX_FUZZ=ON -DVOLTRIX_WERROR=ON -DVOLTRIX_GUI=OFF -DVOLTRIX_TESTS=ON -DVOLTRIX_BENCH=OFF >/dev/null
cmake --build "$build" --target image_fuzzer >/dev/null

corpus="$build/fuzz-corpus"
findings="$build/fuzz-findings"
log="$build/fuzz.log"
mkdir -p "$corpus" "$findings"
cp "$root"/tests/fuzz/corpus/* "$corpus"/

# Every input goes through a few files: memory-backed ones are twice as fast.
# The fuzzer's own scratch files go in here, which also goes when it crashes.
scratch_base=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch_base=/dev/shm; fi
scratch="$(mktemp -d "$scratch_base/voltrix-fuzz-run-XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

# Every kept seed once first: an input that once broke the image code must
# not break it again.
echo "fuzz: the seed inputs, once each"
ctest --test-dir "$build" -R '^image_fuzzer\.seeds$' --output-on-failure --no-tests=error

echo "fuzz: running the image fuzzer for ${seconds}s (log: $log)"
status=0
TMPDIR="$scratch" "$build/tests/fuzz/image_fuzzer" -max_total_time="$seconds" -rss_limit_mb=512 \
  -malloc_limit_mb=512 -timeout=5 -print_final_stats=1 -artifact_prefix="$findings/" \
  "$corpus" >"$log" 2>&1 || status=$?

runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
inputs="$(find "$corpus" -type f | wc -l)"
kilobytes="$(du -sk "$corpus" | cut -f1)"
echo "fuzz: ${runs:-?} executions, corpus of $inputs inputs (${kilobytes} KB)"
if [ "$status" -ne 0 ]; then
  tail -n 40 "$log"
  echo "fuzz: FAILED (exit $status); the input is in $findings" >&2
  exit 1
fi
# A run that executed (next to) nothing tested nothing: at least this many
# inputs per second given (the parser takes well under a millisecond each).
min_runs=$((seconds * ${VOLTRIX_FUZZ_MIN_RUNS_PER_SECOND:-20}))
if [ "$min_runs" -lt 1 ]; then min_runs=1; fi
if [ -z "$runs" ] || [ "$runs" -lt "$min_runs" ]; then
  tail -n 20 "$log"
  echo "fuzz: FAILED: ${runs:-no} executions, fewer than $min_runs" >&2
  exit 1
fi
