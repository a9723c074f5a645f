#!/usr/bin/env bash
# Sets up the machine, builds everything with warnings as errors, runs the
# whole test suite, then runs the fuzz targets.
#   SANITIZE=1   build and test under AddressSanitizer + UndefinedBehaviorSanitizer
#                (the Windows build and its Wine run are left out)
#   FUZZ=0       leave the fuzz run out (FUZZ_SECONDS sets each target's length, default 20)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --tests --web

# Tests labelled no-sanitize run only in the plain build.
if [ "${SANITIZE:-0}" = 1 ]; then
  build=build/sanitize
  flags=(-DPIC_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  select=(-LE no-sanitize)
else
  build=build/release
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  select=()
fi

cmake -S . -B "$build" -DPIC_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j2 "${select[@]}"

# The Windows build and its tests under Wine, against this Linux build; a
# plain run only, as the sanitizers do not reach a cross-built program.
if [ "${SANITIZE:-0}" != 1 ]; then
  PIC_HOST_BUILD="$PWD/$build" TEST=1 bash scripts/windows.sh
fi

if [ "${FUZZ:-1}" != 0 ] && [ -f scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh
fi
