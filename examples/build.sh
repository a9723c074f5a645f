#!/usr/bin/env bash
# Assembles every example with gputils, each in INHX8M and INHX32 form.
#
#   examples/build.sh            rewrite the hex files beside the sources
#   examples/build.sh OUTDIR     write OUTDIR/<name>/<name>.<format>.hex instead
#
# An example must assemble without a warning: any warning or error from gpasm
# or gplink stops the build.  The listings and object files gputils writes
# beside its output stay in a scratch folder, removed at exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
formats=(inhx8m inhx32)

for tool in gpasm gplink; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "build.sh: $tool not found: install gputils (apt-get install gputils)" >&2
    exit 1
  fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs a gputils command in the scratch folder; its output is shown, and a
# warning or error in it fails the build even when the tool itself succeeds.
run() {
  local log="$scratch/log"
  if ! (cd "$scratch" && "$@") >"$log" 2>&1; then
    cat "$log" >&2
    echo "build.sh: failed: $*" >&2
    exit 1
  fi
  if grep -qiE 'warning|error' "$log"; then
    cat "$log" >&2
    echo "build.sh: $1 reported a warning: fix the source" >&2
    exit 1
  fi
}

# One absolute source, both hex forms.
assemble() {
  local name=$1
  mkdir -p "$out/$name"
  for fmt in "${formats[@]}"; do
    run gpasm -a "$fmt" -o "$scratch/$name.hex" "$here/$name/$name.asm"
    cp "$scratch/$name.hex" "$out/$name/$name.$fmt.hex"
  done
}

# Relocatable modules: the first is the main module that names the example.
link() {
  local name=$1; shift
  local objects=()
  mkdir -p "$out/$name"
  for module in "$name" "$@"; do
    run gpasm -c -o "$scratch/$module.o" "$here/$name/$module.asm"
    objects+=("$module.o")
  done
  for fmt in "${formats[@]}"; do
    run gplink -a "$fmt" -o "$name.hex" "${objects[@]}"
    cp "$scratch/$name.hex" "$out/$name/$name.$fmt.hex"
  done
}

assemble blink
assemble hello
assemble eeprom
assemble fill
assemble overlap
link linked delay

echo "build.sh: examples written to $out"
