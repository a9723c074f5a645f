#!/usr/bin/env bash
# The page's benchmark: examples/fill at 19200 bit/s on the page's simulated
# chip against the line's limit, and through the injected serial port to
# bootloaderSim beside the command line.  SPEED= and EXAMPLE= change the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPIC_WERROR=ON -DPIC_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target programUploader bootloaderSim >/dev/null
SERVE=0 bash scripts/web.sh >/dev/null
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
SITE_DIR=$(realpath build/web/site) BOOTLOADER_SIM=$build/src/bootloaderSim/bootloaderSim \
  PROGRAM_UPLOADER=$build/src/programUploader/programUploader exec node bench/page.mjs
