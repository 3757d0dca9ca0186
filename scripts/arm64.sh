#!/usr/bin/env bash
# The Linux arm64 programs: cross-compiled with Debian's aarch64-linux-gnu
# toolchain, the portable unit-test program run under qemu-aarch64, then
# loopback pairs between an arm64 and an x86_64 program, both ways, on a
# clean stream.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-arm64
"$root/scripts/install-deps.sh" g++-aarch64-linux-gnu qemu-user-static googletest
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DPULVO_BUILD_TESTS=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target pulvo pulvo-relay pulvo_unit_tests
qemu="qemu-aarch64-static -L /usr/aarch64-linux-gnu"

echo "== arm64 unit tests under qemu =="
$qemu "$dir/tests/pulvo_unit_tests"

port() { python3 "$root/bench/bench_common.py" "$@"; }
# name receiver sender: one test on loopback, the receiver must see a clean stream.
pair() {
  local name=$1 receiver=$2 sender=$3
  local out rport
  out=$(mktemp)
  rport=$(port)
  echo "== $name =="
  $receiver -j "recv:ws=2,sai=1,to=10,lp=$rport" >"$out" &
  local rpid=$!
  sleep 1
  $sender "send:td=6,sai=1,rp=$rport,lp=$(port)" >/dev/null
  wait $rpid
  cat "$out"
  grep -q '"LostPackets":0,"EstimatedPackets":100' "$out"
  ! grep -q '"LostPackets":[1-9]' "$out"
  rm -f "$out"
}
pair "x86_64 pulvo recv <- arm64 pulvo send" "$root/build/src/app/pulvo" "$qemu $dir/src/app/pulvo"
pair "arm64 pulvo recv <- x86_64 pulvo send" "$qemu $dir/src/app/pulvo" "$root/build/src/app/pulvo"
echo "arm64 build: all passed"
