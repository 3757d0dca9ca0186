#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a bounded time, starting
# from the seed corpus in fuzz/corpus/. New inputs go to a scratch folder;
# the seeds in the tree are only read.
# Usage: scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(packets_fuzzer cmdline_fuzzer capture_fuzzer stamp_fuzzer
                                  twamp_control_fuzzer sip_fuzzer)
# shellcheck source=scripts/asan_build.sh
. "$root/scripts/asan_build.sh"
"$root/scripts/install-deps.sh" "${asan_packages[@]}"
CC=clang CXX=clang++ PULVO_TARGET="${targets[*]}" "$root/scripts/build.sh" "$root/build-asan" \
  "${asan_cmake_args[@]}" >/dev/null
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  corpus="$root/fuzz/corpus/${target%_fuzzer}"
  [ -d "$corpus" ] || { echo "$target: no seed corpus at $corpus"; exit 1; }
  echo "== $target for ${seconds}s (seed corpus $corpus) =="
  (cd "$work" && "$root/build-asan/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
     -artifact_prefix="$work/" "$work" "$corpus" > "$work/log" 2>&1 || true)
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|==|SUMMARY|Done)' "$work/log" || true
  # A sanitizer report that did not stop the run is a failure too.
  if grep -q '^SUMMARY: ' "$work/log"; then
    echo "$target: a sanitizer reported an error:"; grep -B5 '^SUMMARY: ' "$work/log" | head -20
    exit 1
  fi
  # A target that never ran (it could not start, or read no input) proves nothing.
  if ! grep -qE '^stat::number_of_executed_units: [1-9]' "$work/log"; then
    echo "$target did not run:"; tail -5 "$work/log"
    exit 1
  fi
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
    echo "$target found a failing input:"; ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null
    exit 1
  fi
  rm -rf "$work"
done
