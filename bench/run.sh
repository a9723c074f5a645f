#!/usr/bin/env bash
# Builds the uploader, the simulator and the benchmark helpers (Release) and
# runs the upload benchmark; prints the table and the targets.
#   BUILD_DIR   build directory (default build/bench, reused when present)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIC_WERROR=ON -DPIC_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target programUploader bootloaderSim chipCheck minimalClient benchProgram benchRun >/dev/null

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
exec python3 bench/bench.py --build "$build" "$@"
