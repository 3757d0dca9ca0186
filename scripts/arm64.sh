#!/usr/bin/env bash
# The Linux arm64 programs: cross-compiled with Debian's aarch64-linux-gnu
# toolchain, the portable unit-test program run under qemu-aarch64, then
# loopback pairs between an arm64 and an x86_64 program, both ways, on a
# clean stream.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/common.sh"
dir=$root/build-arm64
"$root/scripts/install-deps.sh" g++-aarch64-linux-gnu qemu-user-static googletest
PULVO_TARGET=pulvo "$root/scripts/build.sh" "$root/build" >/dev/null
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DPULVO_BUILD_TESTS=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target pulvo pulvo-relay pulvo_unit_tests
qemu="qemu-aarch64-static -L /usr/aarch64-linux-gnu"

echo "== arm64 unit tests under qemu =="
$qemu "$dir/tests/pulvo_unit_tests"

pair "x86_64 pulvo recv <- arm64 pulvo send" "$root/build/src/app/pulvo" "$qemu $dir/src/app/pulvo"
pair "arm64 pulvo recv <- x86_64 pulvo send" "$qemu $dir/src/app/pulvo" "$root/build/src/app/pulvo"
echo "arm64 build: all passed"
