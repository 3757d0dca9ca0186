#!/usr/bin/env bash
# The Windows program: cross-compiled with MinGW-w64 (posix threads), its
# test suite run under Wine, then loopback tests between Windows and Linux
# programs: pulvo.exe recv against pulvo.exe send, Linux send against
# pulvo.exe recv, and pulvo.exe send against Linux recv.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
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

# name receiver sender port [address]: runs one receive and one send test
# on loopback (127.0.0.1 unless an address is given) and checks that both end
# with 0 and that the receiver measured a clean stream.
pair() {
  local name=$1 receiver=$2 sender=$3 port=$4 address=${5:-127.0.0.1}
  echo "== $name =="
  local out
  out=$(mktemp)
  $receiver -j "recv:ws=2,sai=1,to=10,la=$address,lp=$port" > "$out" &
  local rpid=$!
  sleep 2
  $sender "send:td=5,sai=1,la=$address,ra=$address,rp=$port,lp=$((port + 1))" > /dev/null
  wait "$rpid"
  cat "$out"
  grep -q '"LostPackets":0,"EstimatedPackets":100' "$out"
  ! grep -q '"LostPackets":[1-9]' "$out"
  rm -f "$out"
}
pair "pulvo.exe recv <- pulvo.exe send" "wine $windows" "wine $windows" 47500
pair "pulvo.exe recv <- Linux pulvo send" "wine $windows" "$linux" 47510
pair "Linux pulvo recv <- pulvo.exe send" "$linux" "wine $windows" 47520
pair "pulvo.exe recv <- pulvo.exe send over ::1" "wine $windows" "wine $windows" 47530 ::1
pair "pulvo.exe recv <- Linux pulvo send over ::1" "wine $windows" "$linux" 47540 ::1
echo "Windows build: all passed"
