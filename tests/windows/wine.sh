#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, in one prefix for a whole ctest
# run.
#
#   wine.sh start STATE     make the prefix in a new temporary folder, map
#                           COM40 to COM59 onto STATE/ports/COM40 ... (fixed
#                           paths, for a simulator's --link), and start one
#                           wineserver of our own that stays up; with
#                           PIC_WINE_STARTED=1, nothing when an earlier
#                           start left it up (scripts/windows.sh starts it
#                           while the programs build)
#   wine.sh run STATE EXE [ARG...]
#                           run a program in that prefix; its standard output
#                           and error arrive as the program wrote them
#   wine.sh exec STATE EXE [ARG...]
#                           the same, as this process, its output where the
#                           caller put it (files, for a test that watches a
#                           program while it runs and signals it)
#   wine.sh stop STATE      end the wineserver and remove the folder
#
# STATE is an absolute folder of the build tree; it remembers the temporary
# folder.
#
# Wine reads the port mapping when its server starts, so the server is
# started once after the mapping is written and never restarted while tests
# run.  The server writes into the standard output of whoever started it,
# and Wine's own services keep the pipes they inherit open, so the server's
# output goes to a log and each program's output goes through files: a pipe
# handed to Wine would keep ctest waiting after the program ended.
set -euo pipefail

WINE=${PIC_WINE_LOADER:-/usr/lib/wine/wine64}
WINESERVER=${PIC_WINESERVER:-/usr/lib/wine/wineserver64}
FIRST_PORT=40
LAST_PORT=59

command=${1:?wine.sh start|run|stop STATE ...}
state=${2:?wine.sh needs the state folder}
shift 2

useFolder() {
  dir=$(cat "$state/folder")
  export WINEPREFIX="$dir/prefix" HOME="$dir/home" WINEDEBUG=-all
  # No Mono or Gecko download prompts: the tests need neither.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
}

# Wine's name for a POSIX path: drive Z: is the root.
windowsPath() {
  local path=$1
  echo "Z:${path//\//\\}"
}

case "$command" in
start)
  # scripts/windows.sh starts it while the programs build.
  if [ "${PIC_WINE_STARTED:-0}" = 1 ] && [ -f "$state/started" ]; then
    echo "wine: started during the build ($(cat "$state/folder"))"
    exit 0
  fi
  if [ -f "$state/folder" ]; then
    # A run that ended without its cleanup left these behind.
    bash "$0" stop "$state" || true
  fi
  mkdir -p "$state"
  mktemp -d "${TMPDIR:-/tmp}/picWine.XXXXXX" >"$state/folder"
  useFolder
  mkdir -p "$HOME" "$state/ports"
  log="$dir/wine.log"
  echo "wine: prefix $WINEPREFIX, log $log"
  "$WINE" wineboot -i >>"$log" 2>&1
  {
    echo 'REGEDIT4'
    echo
    echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
    for ((n = FIRST_PORT; n <= LAST_PORT; n++)); do
      echo "\"COM$n\"=\"$state/ports/COM$n\""
    done
  } >"$dir/ports.reg"
  "$WINE" regedit /S "$(windowsPath "$dir/ports.reg")" >>"$log" 2>&1
  # The first server writes the registry out when it ends; ours reads it.
  "$WINESERVER" -w >>"$log" 2>&1
  "$WINESERVER" -p >>"$dir/wineserver.log" 2>&1
  # Wine's services start with the first program; start them now, so that
  # no test pays for it.
  "$WINE" reg query 'HKLM\Software\Wine\Ports' /v "COM$FIRST_PORT" >>"$log" 2>&1
  grep -q "$state/ports/COM$FIRST_PORT" "$log" || { echo "wine: the port mapping did not take" >&2; cat "$log" >&2; exit 1; }
  touch "$state/started"
  ;;
run)
  useFolder
  out=$(mktemp "$dir/out.XXXXXX")
  err=$(mktemp "$dir/err.XXXXXX")
  rc=0
  "$WINE" "$@" >"$out" 2>"$err" || rc=$?
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  exit "$rc"
  ;;
exec)
  useFolder
  exec "$WINE" "$@"
  ;;
stop)
  [ -f "$state/folder" ] || exit 0
  useFolder
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  case "$dir" in
  */picWine.*) rm -rf "$dir" ;;
  esac
  rm -f "$state/folder" "$state/started"
  ;;
*)
  echo "wine.sh: unknown command $command" >&2
  exit 2
  ;;
esac
