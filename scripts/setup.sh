#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and demo the project.
# Quick and silent when everything is already there.  --web: only what the
# page needs (scripts/web.sh).
set -euo pipefail

. "$(dirname "$0")/packages.sh"

have_cmd cmake   || need+=(cmake)
have_cmd make    || need+=(make)
# The page: emscripten builds its WebAssembly, node serves it and runs its
# tests in chromium (puppeteer-core, from web/package-lock.json).
have_cmd emcc     || need+=(emscripten)
have_cmd node     || need+=(nodejs)
have_cmd npm      || need+=(npm)
have_cmd chromium || need+=(chromium)
if [ "${1:-}" != --web ]; then
  have_cmd g++     || need+=(g++)
  have_cmd python3 || need+=(python3)
  have_cmd clang++ || need+=(clang)
  have_cmd gpasm   || need+=(gputils)
  have_cmd groff   || need+=(groff-base)
  have_pkg libgtest-dev       || need+=(libgtest-dev googletest)
  have_pkg libclang-rt-14-dev || need+=(libclang-rt-14-dev)
  # The instruction-level chip simulator embeds gpsim; its headers include glib's.
  have_pkg gpsim-dev          || need+=(gpsim gpsim-dev)
  have_pkg libglib2.0-dev     || need+=(libglib2.0-dev)
  have_cmd pkg-config         || need+=(pkg-config)
fi

install_needed setup

# puppeteer-core as the lock file pins it; it drives the chromium above and
# never downloads a browser of its own.
web=$(cd "$(dirname "$0")/../web" && pwd)
if [ ! -f "$web/node_modules/puppeteer-core/package.json" ]; then
  echo "setup: installing the page's test packages (npm ci in web/)"
  (cd "$web" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
