#!/usr/bin/env bash
# The Windows program: cross-compiled with MinGW-w64 (posix threads), its
# test suite run under Wine, then loopback tests between Windows and Linux
# programs: pulvo.exe recv against pulvo.exe send, Linux send against
# pulvo.exe recv, and pulvo.exe send against Linux recv.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
"$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix wine64 wine googletest
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
cmake -S "$root" -B "$root/build-win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DPULVO_BUILD_TESTS=ON >/dev/null
cmake --build "$root/build-win" -j "$(nproc)"

export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-pulvo}
wineserver -p 2>/dev/null || true  # one persistent server: each wine start is then quick
trap 'wineserver -k 2>/dev/null || true' EXIT
linux="$root/build/src/app/pulvo"
windows="$root/build-win/src/app/pulvo.exe"

echo "== Windows test suite under Wine =="
wine "$root/build-win/tests/pulvo_unit_tests.exe"

pair "pulvo.exe recv <- pulvo.exe send" "wine $windows" "wine $windows"
pair "pulvo.exe recv <- Linux pulvo send" "wine $windows" "$linux"
pair "Linux pulvo recv <- pulvo.exe send" "$linux" "wine $windows"
pair "pulvo.exe recv <- pulvo.exe send over ::1" "wine $windows" "wine $windows" ::1
pair "pulvo.exe recv <- Linux pulvo send over ::1" "wine $windows" "$linux" ::1
# The library's codes are the same numbers as on Linux: a port in use and an
# unparsable local address are socket errors (exit 2), not time-outs.
echo "== pulvo.exe on a port in use, and with an unusable local address =="
busy=$(free_port)
$linux recv:lp=$busy,to=10 >/dev/null &
occupant=$!
wait_udp_port "$busy"
status=0
wine "$windows" recv:lp=$busy,to=2 || status=$?
kill "$occupant" 2>/dev/null || true
wait "$occupant" 2>/dev/null || true
[ "$status" -eq 2 ] || { echo "port in use: exit $status, not 2" >&2; exit 1; }
status=0
wine "$windows" send:la=abc,lp=$(free_port),rp=$(free_port),td=3,sai=1 >/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "la=abc: exit $status, not 2" >&2; exit 1; }
echo "Windows build: all passed"
