#!/usr/bin/env bash
# Rebuilds the page and takes the README's screenshot of it (web/screenshot.png)
# after an upload of the blinker to the simulated chip.
set -euo pipefail
cd "$(dirname "$0")/.."
SERVE=0 bash scripts/web.sh >/dev/null
SITE_DIR=$(realpath -m "${SITE_DIR:-build/web/site}") node web/screenshot.mjs "$@"
