#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, and only that: quick and silent
# when everything is already there.
#   bash scripts/setup.sh              the programs (the uploader, bootloaderSim, picHex)
#   bash scripts/setup.sh --firmware   and the bootloader firmware and picSim
#   bash scripts/setup.sh --tests      and the test suite (the firmware included)
#   bash scripts/setup.sh --web        the page: emscripten, node and its tests' browser
# The options combine; --web alone installs nothing for the programs.
set -euo pipefail

. "$(dirname "$0")/packages.sh"

programs=1 firmware=0 tests=0 web=0
for option in "$@"; do
  case $option in
    --firmware) firmware=1 ;;
    --tests) tests=1 firmware=1 ;;
    --web) web=1 ;;
    *) echo "usage: bash scripts/setup.sh [--firmware] [--tests] [--web]" >&2; exit 2 ;;
  esac
done
[ $# = 1 ] && [ "$1" = --web ] && programs=0

if [ $programs = 1 ]; then
  have_cmd g++   || need+=(g++)
  have_cmd cmake || need+=(cmake)
  have_cmd make  || need+=(make)
fi
if [ $firmware = 1 ]; then
  # gpasm assembles the firmware, whose listing a Python script checks; the
  # instruction-level chip simulator embeds gpsim, whose headers include glib's.
  have_cmd gpasm      || need+=(gputils)
  have_cmd python3    || need+=(python3)
  have_pkg gpsim-dev  || need+=(gpsim gpsim-dev)
  have_pkg libglib2.0-dev || need+=(libglib2.0-dev)
  have_cmd pkg-config || need+=(pkg-config)
fi
if [ $tests = 1 ]; then
  # GoogleTest, clang for the fuzz targets, groff for the manual pages' check.
  have_pkg libgtest-dev       || need+=(libgtest-dev googletest)
  have_cmd clang++            || need+=(clang)
  have_pkg libclang-rt-14-dev || need+=(libclang-rt-14-dev)
  have_cmd groff              || need+=(groff-base)
fi
if [ $web = 1 ]; then
  # emscripten builds the page's WebAssembly; node serves it and runs its
  # tests in chromium (puppeteer-core, from web/package-lock.json).
  have_cmd emcc     || need+=(emscripten)
  have_cmd node     || need+=(nodejs)
  have_cmd npm      || need+=(npm)
  have_cmd chromium || need+=(chromium)
fi

install_needed setup

# puppeteer-core as the lock file pins it; it drives the chromium above and
# never downloads a browser of its own.
if [ $web = 1 ]; then
  page=$(cd "$(dirname "$0")/../web" && pwd)
  if [ ! -f "$page/node_modules/puppeteer-core/package.json" ]; then
    echo "setup: installing the page's test packages (npm ci in web/)"
    (cd "$page" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  fi
fi
