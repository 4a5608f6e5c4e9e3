#!/usr/bin/env bash
# Memory figures of the release daemon on the simulated board: idle RSS at
# 1 s and after the idle minutes, RSS with 1,024 slots, and RSS and open
# descriptors over a soak of 10,000 commands/s.
#   scripts/memory.sh [--quick] [--idle-minutes N] [--soak-minutes N] [--rate N]
# (defaults: 10 minutes idle, 10 minutes soak; --quick: 1 and 1).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TSD_MEMORY_BUILD:-build/memory}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTSD_TESTS=OFF -DTSD_BENCH=ON \
  ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} >/dev/null
cmake --build "$build" -j "${TSD_JOBS:-3}" --target tessarod bench_memory >/dev/null
exec "$build/bench/bench_memory" "$@"
