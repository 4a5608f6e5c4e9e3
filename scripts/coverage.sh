#!/usr/bin/env bash
# Builds an instrumented (gcov) test build, runs the unit and end-to-end
# tests, and prints line coverage of the daemon's own sources (tests,
# benchmarks and generated files excluded).
# Usage: scripts/coverage.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
if ! command -v gcovr >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y gcovr
fi
dir=${1:-build/coverage}
jobs=$(nproc)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_C_FLAGS="--coverage -O0" \
      -DCMAKE_EXE_LINKER_FLAGS="--coverage"
cmake --build "$dir" -j "$jobs"
find "$dir" -name '*.gcda' -delete
ctest --test-dir "$dir" -j "$jobs" --timeout 900 --output-on-failure || echo "coverage: some tests failed"
gcovr -r . --object-directory "$dir" -j "$jobs" \
      --exclude 'tests/' --exclude 'bench/' --exclude "$dir/" --exclude '.*generated/' \
      --print-summary -o "$dir/coverage.txt" 2>/dev/null \
  | tee "$dir/coverage-summary.txt"
