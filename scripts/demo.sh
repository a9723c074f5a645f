#!/usr/bin/env bash
# The tools at work without a board: builds what it shows, starts the simulated
# chip on a pseudo-terminal, uploads the blinker example to it with the
# uploader (its output exactly as a user sees it), then shows that the chip
# holds exactly that program outside the bootloader's range.
#
#   bash scripts/demo.sh              on bootloaderSim
#   bash scripts/demo.sh --firmware   the same upload on picSim, a PIC16F877A
#                                     run instruction by instruction with our
#                                     bootloader firmware (firmware/), in real time
#   bash scripts/demo.sh --monitor    examples/hello through the firmware on
#                                     picSim, then 3 s of --monitor: its greeting
#                                     from the first byte, and what is typed
#                                     comes back in capitals
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
if [ -n "$mode" ] && [ "$mode" != --firmware ] && [ "$mode" != --monitor ]; then
  echo "usage: bash scripts/demo.sh [--firmware | --monitor]" >&2
  exit 2
fi

# Only what the demo runs is installed and built: the programs, and for
# --firmware and --monitor the bootloader firmware and picSim; neither the
# tests nor the page.
targets=(programUploader bootloaderSim chipCheck)
if [ -n "$mode" ]; then
  bash scripts/setup.sh --firmware
  targets+=(picSim bootloader_firmware)
else
  bash scripts/setup.sh
fi
build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPIC_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null

program=examples/blink/blink.inhx32.hex
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# picSim with our firmware, in real time, and any further options; it prints
# its port on its first line (read here from descriptor 3) and its figures,
# if asked for, at exit.
start_picsim() {
  mkfifo "$work/sim.out"
  "$build/src/picSim/picSim" --firmware "$build/firmware/bootloader.hex" "$@" >"$work/sim.out" &
  sim_pid=$!
  exec 3<"$work/sim.out"
  read -r -u 3 line
  port=${line#picSim: port }
  echo "$line (firmware/bootloader.hex, 20 MHz, real time)"
}

# The greeter through the firmware on picSim: the uploader stays on the line
# after the end command and shows what the started program says.
if [ "$mode" = --monitor ]; then
  hello=examples/hello/hello.inhx32.hex
  start_picsim

  echo "\$ programUploader -p $port --monitor-seconds 3 $hello"
  status=0
  "$build/src/programUploader/programUploader" -p "$port" --monitor-seconds 3 "$hello" || status=$?
  echo "(programUploader exit status $status: 1 is success)"
  kill -INT "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  exec 3<&-
  [ "$status" = 1 ]
  exit
fi

# The same upload through the bootloader firmware on the instruction-level
# chip; it keeps running the program afterwards until it is told to stop.
if [ "$mode" = --firmware ]; then
  start_picsim --stats --dump "$work/chip.hex"

  echo "\$ programUploader -p $port $program"
  status=0
  "$build/src/programUploader/programUploader" -p "$port" "$program" || status=$?
  echo "(programUploader exit status $status: 1 is success)"

  sleep 1   # the blinker runs on the chip meanwhile
  kill -INT "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  echo
  echo "picSim's figures for the session (cycles of the 5 MHz instruction clock):"
  sed 's/^/  /' <&3
  exec 3<&-

  echo
  echo "The program as gpasm wrote it, then the chip's flash as picSim dumped it:"
  echo "the bootloader keeps its jump at 0000-0002 and holds the program's first"
  echo "four words at 1FF8-1FFB, where it runs them from; the rest is the program"
  echo "as written, and the bootloader's own words at 1F00-1FFF are unchanged."
  grep -v '^:02000004' "$program" | sed 's/^/  /'
  sed -n '/Flash ROM/,/Config/p' "$work/chip.hex" | grep -E '^:..(00|3FF)' | sed 's/^/  /'
  [ "$status" = 1 ]
  exit
fi

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
