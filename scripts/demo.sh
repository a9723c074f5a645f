#!/usr/bin/env bash
# The tools at work without a board: builds everything, starts the simulated
# chip on a pseudo-terminal, uploads the blinker example to it with the
# uploader (its output exactly as a user sees it), then shows that the chip
# holds exactly that program outside the bootloader's range.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

program=examples/blink/blink.inhx32.hex
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The simulator prints its port on its first line; the rest of its output
# (the statistics) comes at exit.
mkfifo "$work/sim.out"
"$build/src/bootloaderSim/bootloaderSim" --once --stats --dump "$work/chip.hex" >"$work/sim.out" &
sim_pid=$!
exec 3<"$work/sim.out"
read -r -u 3 line
port=${line#bootloaderSim: port }
echo "$line"

echo "\$ programUploader -p $port $program"
status=0
"$build/src/programUploader/programUploader" -p "$port" "$program" || status=$?
echo "(programUploader exit status $status: 1 is success)"

wait "$sim_pid" || true
sim_pid=
echo
echo "The simulator's figures for the session:"
sed 's/^/  /' <&3
exec 3<&-

echo
"$build/src/bootloaderSim/chipCheck" "$program" "$work/chip.hex"
echo "The chip's flash as dumped by the simulator:"
sed -n '/Flash ROM/,/Config/p' "$work/chip.hex" | sed 's/^/  /'
[ "$status" = 1 ]
