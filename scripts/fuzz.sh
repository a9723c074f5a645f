#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 20) on a copy of its seed corpus:
#   fuzz_readHex        the hex reader
#   fuzz_uploader       the uploader's side of the link, against any bootloader,
#                       with checksum retries and on a traced line too
#   fuzz_bootloaderSim  the simulated bootloader, against any uploader
# Names given as arguments run only those targets.  Fails on any crash, leak,
# sanitizer report or broken property; prints executions, seconds, coverage
# and corpus size per target.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
build=build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_readHex fuzz_uploader fuzz_bootloaderSim)

CC=clang CXX=clang++ cmake -S . -B "$build" \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DPIC_FUZZ=ON -DPIC_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
for name in "${targets[@]}"; do
  case $name in
    fuzz_readHex) seeds=tests/fuzz/corpus dict=tests/fuzz/hex.dict ;;
    fuzz_uploader) seeds=tests/fuzz/corpus-uploader dict=tests/fuzz/link.dict ;;
    fuzz_bootloaderSim) seeds=tests/fuzz/corpus-bootloaderSim dict=tests/fuzz/link.dict ;;
    *) echo "fuzz.sh: no target $name" >&2; exit 1 ;;
  esac
  target=$(find "$build" -name "$name" -type f -perm -u+x | head -n 1)
  [ -n "$target" ] || { echo "fuzz.sh: $name was not built" >&2; exit 1; }

  # The fuzzer adds inputs to its corpus directory; the committed seeds stay as they are.
  corpus=$build/corpus/$name
  artifacts=$build/artifacts/$name
  log=$build/$name.log
  rm -rf "$corpus" "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  cp "$seeds"/* "$corpus"/

  # The hex target silences the reader's messages itself, so its own report
  # of a broken round trip reaches the log.  The link targets print the
  # uploader's diagnostics on standard error for every run; -close_fd_mask=2
  # drops them, and libFuzzer and the sanitizers keep reporting on their own
  # copy of standard error.
  quiet=()
  [ "$name" = fuzz_readHex ] || quiet=(-close_fd_mask=2)
  status=0
  "$target" "$corpus" \
    -max_total_time="$seconds" -timeout=10 -max_len=4096 \
    -dict="$dict" -artifact_prefix="$artifacts/" \
    "${quiet[@]}" -print_final_stats=1 >"$log" 2>&1 || status=$?

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 || true)
  secs=$(echo "$done_line" | sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p')
  cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1 || true)
  files=$(find "$corpus" -type f | wc -l)

  if [ "$status" != 0 ] || grep -qE "ERROR: (Address|Leak|Undefined)Sanitizer|runtime error:|deadly signal|$name: " "$log" \
     || [ -n "$(ls -A "$artifacts")" ]; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $name FAILED (exit $status); inputs kept in $artifacts, log in $log" >&2
    failed=1
    continue
  fi
  echo "$name: ${runs:-?} executions in ${secs:-?} seconds, ${cov:-cov: ?}, corpus $files files"
done
exit "$failed"
