#!/usr/bin/env bash
# Whether picSim keeps real time on this machine: it runs the echo firmware
# for 5 simulated seconds at each clock, throttled, and prints the
# instruction rate it held against the rate the clock asks for.  A busy or
# slow machine shows here as a rate below the target; the test suite only
# checks that the pacing never runs ahead.  Figures, no checks.
#
#   bash bench/picSimPace.sh [BUILD_DIR]   (default build/release)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/release}
picsim=$build/src/picSim/picSim
firmware=$build/tests/picSim/echo.hex
for f in "$picsim" "$firmware"; do
  [ -e "$f" ] || { echo "picSimPace.sh: $f missing: build first" >&2; exit 1; }
done

printf '%-10s %14s %14s %7s\n' clock target held share
for clock in 4000000 20000000; do
  held=$("$picsim" --firmware "$firmware" --clock "$clock" --seconds 5 --stats 2>&1 |
         sed -n 's/^cycles_per_s: //p')
  awk -v c="$clock" -v h="$held" 'BEGIN { t = c / 4; printf "%-10d %14.0f %14.0f %6.1f%%\n", c, t, h, 100 * h / t }'
done
