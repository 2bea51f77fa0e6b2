#!/usr/bin/env bash
# Builds the console three ways and runs every test: ThreadSanitizer (the serial engine and the
# end-to-end runs), the plain build, then AddressSanitizer + UndefinedBehaviorSanitizer with the
# fuzzers. Any failure stops the run with a non-zero status; ctest's summary comes last.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

run_preset() {
  local preset=$1
  echo "== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== ${preset}: test"
  ctest --preset "$preset"
}

run_preset tsan
run_preset dev
run_preset asan
