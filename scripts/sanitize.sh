#!/usr/bin/env bash
# The unit and end-to-end tests under AddressSanitizer with
# UndefinedBehaviorSanitizer, built with clang in the tree the fuzz targets
# are built in (scripts/fuzz.sh then only links them), so CI compiles the
# code once for both. No suppressions are used. The accuracy proofs run the
# same code as the end-to-end tests for longer, to check figures rather than
# memory, and run only in the plain build.
#
# `scripts/sanitize.sh thread` runs the same tests under ThreadSanitizer
# instead. Every test runs on one thread (only the /metrics server of
# reflect and probe has a thread of its own, which the suite does not
# reach), so CI leaves it out.
# Usage: scripts/sanitize.sh [thread]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# The proof program is not built here: its placeholder test goes too.
export PULVO_CTEST_SELECT="-LE proof -E _NOT_BUILT"
export PULVO_TARGET="pulvo pulvo-relay pulvo_unit_tests pulvo_e2e_tests overload_test"
if [ "${1:-}" = thread ]; then
  echo "== ThreadSanitizer =="
  "$root/scripts/test.sh" "$root/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPULVO_SANITIZE=thread
  exit 0
fi
echo "== AddressSanitizer + UndefinedBehaviorSanitizer =="
# shellcheck source=scripts/asan_build.sh
. "$root/scripts/asan_build.sh"
"$root/scripts/install-deps.sh" "${asan_packages[@]}"
CC=clang CXX=clang++ "$root/scripts/test.sh" "$root/build-asan" "${asan_cmake_args[@]}"
