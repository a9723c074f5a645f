#!/usr/bin/env bash
# picSim's memory over many uploads: one picSim, unthrottled, takes N uploads
# of examples/fill (default 20) through the firmware; after each the script
# prints picSim's resident set, and at the end the figures of --stats that
# concern memory: flash blocks written, instruction objects live, line
# symbols lost, heap in use.  Figures, no checks.  Any further arguments go
# to picSim (--gpsim-defect flash-rewrite shows gpsim's own rewrite).
#
#   bash bench/picSimMemory.sh [BUILD_DIR] [N] [picSim options]   (default build/release, 20)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
uploads=${2:-20}
shift $(( $# < 2 ? $# : 2 ))
picsim=$build/src/picSim/picSim
uploader=$build/src/programUploader/programUploader
firmware=$build/tests/firmware/bootloader-fast.hex
fill=$here/examples/fill/fill.inhx32.hex
for f in "$picsim" "$uploader" "$firmware"; do
  [ -e "$f" ] || { echo "picSimMemory.sh: $f missing: build first" >&2; exit 1; }
done

scratch=$(mktemp -d)
stats=$scratch/stats
"$picsim" --firmware "$firmware" --fast --stats --link "$scratch/pic" "$@" >"$stats" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 50); do [ -e "$scratch/pic" ] && break; sleep 0.1; done

rss() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$pid/status"; }
echo "upload  exit  picSim RSS (MB)"
printf "%6s  %4s  %s\n" 0 - "$(rss)"
for i in $(seq "$uploads"); do
  status=0
  "$uploader" -p "$scratch/pic" "$fill" >/dev/null 2>&1 || status=$?
  printf "%6d  %4d  %s\n" "$i" "$status" "$(rss)"
done
kill -INT "$pid"
wait "$pid" || true
grep -E '^(flash_block_writes|instructions_live|line_symbols_lost|heap_in_use|repair_flash_rewrite):' "$stats"
