#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build/windows/ and
# packs build/windows/picBootloaderTools-windows.zip: the .exe files, their
# man pages as text and a README for Windows.
#   TEST=1            also run the Windows tests under Wine
#   PIC_HOST_BUILD=D  the Linux build tree (absolute) whose programs the Wine
#                     tests compare with and talk to; without it those rows
#                     are left out
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/packages.sh
have_cmd x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix)
[ -x /usr/lib/wine/wine64 ]           || need+=(wine64)
have_cmd groff                        || need+=(groff-base)
have_cmd cmake                        || need+=(cmake)
have_cmd python3                      || need+=(python3)
[ -d /usr/src/googletest ]            || need+=(googletest)
install_needed windows

build=build/windows
wine_state="$PWD/$build/wine"
if [ "${TEST:-0}" = 1 ]; then
  # Making the Wine prefix mostly waits: it goes on while the programs
  # build, and the tests' own start then finds it up.  Whatever happens,
  # the wineserver does not outlive this script.
  mkdir -p "$wine_state"
  bash tests/windows/wine.sh start "$wine_state" >"$wine_state.log" 2>&1 &
  wine_start=$!
  trap 'wait $wine_start 2>/dev/null || true; bash tests/windows/wine.sh stop "$wine_state" 2>/dev/null || true' EXIT
fi
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DPIC_WERROR=ON \
      -DPIC_HOST_BUILD="${PIC_HOST_BUILD:-}" >/dev/null
# Without the tests only the two programs are needed.
targets=(--target programUploader picHex)
[ "${TEST:-0}" = 1 ] && targets=()
cmake --build "$build" -j2 "${targets[@]}"

# The package: stripped programs, and text that Notepad shows as it is.
programs=(programUploader picHex)
package="$build/package"
rm -rf "$package"
mkdir -p "$package"
crlf() { sed 's/$/\r/'; }
for program in "${programs[@]}"; do
  exe=$(find "$build/src" -name "$program.exe" -print -quit)
  [ -n "$exe" ] || continue
  x86_64-w64-mingw32-strip -o "$package/$program.exe" "$exe"
  groff -man -Tascii -P-cbou "man/$program.1" 2>/dev/null | crlf >"$package/$program.txt"
done
crlf <man/windows-readme.txt >"$package/README.txt"
zip="$build/picBootloaderTools-windows.zip"
rm -f "$zip"
(cd "$package" && cmake -E tar cf "../$(basename "$zip")" --format=zip -- *)
echo "windows: $zip"
ls -l "$package"/*.exe

if [ "${TEST:-0}" = 1 ]; then
  wait $wine_start || { cat "$wine_state.log" >&2; exit 1; }
  PIC_WINE_STARTED=1 ctest --test-dir "$build" --output-on-failure -j2
fi
