#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build, test and demo the project.
# Quick and silent when everything is already there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake   || need+=(cmake)
have_cmd g++     || need+=(g++)
have_cmd make    || need+=(make)
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

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
