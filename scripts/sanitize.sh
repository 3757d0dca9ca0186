#!/usr/bin/env bash
# The unit and end-to-end tests under AddressSanitizer with
# UndefinedBehaviorSanitizer, then under ThreadSanitizer. No suppressions are
# used. The accuracy proofs run the same code as the end-to-end tests for
# longer, to check figures rather than memory, and run only in the plain
# build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export PULVO_CTEST_SELECT="-LE proof"
echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
"$root/scripts/test.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPULVO_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined
echo "== ThreadSanitizer =="
"$root/scripts/test.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULVO_SANITIZE=thread
