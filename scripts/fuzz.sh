#!/usr/bin/env bash
# Builds the libFuzzer target for the hex reader with clang and runs it for
# FUZZ_SECONDS (default 60) on a copy of the seed corpus.  Fails on any crash,
# leak, sanitizer report or broken round trip; prints executions, seconds and
# corpus size at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DPIC_FUZZ=ON -DPIC_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_readHex -j2

target=$(find "$build" -name fuzz_readHex -type f -perm -u+x | head -n 1)
[ -n "$target" ] || { echo "fuzz.sh: fuzz_readHex was not built" >&2; exit 1; }

# The fuzzer adds inputs to its corpus directory; the committed seeds stay as they are.
corpus=$build/corpus
artifacts=$build/artifacts
log=$build/fuzz.log
rm -rf "$corpus" "$artifacts"
mkdir -p "$corpus" "$artifacts"
cp tests/fuzz/corpus/* "$corpus"/

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The target silences the reader's messages on refused inputs itself, so its
# own report of a broken round trip reaches the log.
status=0
"$target" "$corpus" \
  -max_total_time="$seconds" -timeout=10 -max_len=4096 \
  -dict=tests/fuzz/hex.dict -artifact_prefix="$artifacts/" \
  -print_final_stats=1 >"$log" 2>&1 || status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 || true)
secs=$(echo "$done_line" | sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p')
files=$(find "$corpus" -type f | wc -l)

if [ "$status" != 0 ] || grep -qE 'ERROR: (Address|Leak|Undefined)Sanitizer|runtime error:|deadly signal|fuzz_readHex: ' "$log" \
   || [ -n "$(ls -A "$artifacts")" ]; then
  tail -n 60 "$log" >&2
  echo "fuzz.sh: FAILED (exit $status); inputs kept in $artifacts, log in $log" >&2
  exit 1
fi

echo "fuzz_readHex: ${runs:-?} executions in ${secs:-?} seconds, corpus $files files"
