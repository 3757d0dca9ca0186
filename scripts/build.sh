#!/usr/bin/env bash
# Configures and builds pulvo and its tests (release by default).
# Usage: scripts/build.sh [build-dir] [extra cmake arguments...]
# PULVO_TARGET=pulvo builds the program alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
cmake -S "$root" -B "$dir" -DPULVO_BUILD_TESTS=ON "$@" >/dev/null
# PULVO_TARGET may name several targets, separated by blanks.
cmake --build "$dir" -j "$(nproc)" ${PULVO_TARGET:+--target $PULVO_TARGET}
