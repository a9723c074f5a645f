# Sourced by the setup scripts: what a script needs, and installing what of
# it a fresh Debian machine lacks.  A script adds package names to need,
# then calls install_needed with its own name for the message.
need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

install_needed() {
  [ ${#need[@]} -gt 0 ] || return 0
  echo "$1: installing ${need[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
}
