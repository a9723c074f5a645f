#!/usr/bin/env bash
# The uploader's page: installs what is missing (emscripten, node), builds
# the site into build/web/site/ and serves it on http://localhost:8080/.
#   PORT=9000      serve on another port
#   SITE_DIR=DIR   build the site into DIR (any static host can serve it)
#   SERVE=0        build only
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --web
# Debian's emscripten runs its optimiser under `node`; a node that is not
# Debian's finds the optimiser's modules only through NODE_PATH.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}

site=$(realpath -m "${SITE_DIR:-build/web/site}")
emcmake cmake -S web -B build/web/cmake -DSITE_DIR="$site" >/dev/null
cmake --build build/web/cmake -j"$(nproc)"
echo "The site is in $site"
[ "${SERVE:-1}" = 0 ] && exit 0
exec node web/serve.mjs "$site" "${PORT:-8080}"
