#!/usr/bin/env bash
# The whole test suite under AddressSanitizer with UndefinedBehaviorSanitizer,
# then under ThreadSanitizer. No suppressions are used.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# -O1 with line tables only (CMake adds -g1): the sanitizers' advice for
# speed with usable stack traces, and less compiling than -O2 -g for the two
# builds, which are most of this script's time.
echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
"$root/scripts/test.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=None \
  -DPULVO_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS="-O1 -fno-sanitize-recover=undefined"
echo "== ThreadSanitizer =="
"$root/scripts/test.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=None -DPULVO_SANITIZE=thread \
  -DCMAKE_CXX_FLAGS=-O1
