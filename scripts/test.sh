#!/usr/bin/env bash
# Installs what is missing, builds the sanitizer test build and runs every
# test, then the bounded fuzz runs when clang is present.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTSD_SANITIZE=ON
cmake --build build/test -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/test -j "$jobs" --output-on-failure --timeout 600

if command -v clang++ >/dev/null 2>&1 && ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTSD_FUZZ=ON \
        -DTSD_FUZZ_SECONDS="${TSD_FUZZ_SECONDS:-20}"
  targets=$(ls tests/fuzz/fuzz_*.cpp | xargs -n1 basename | sed 's/\.cpp$//')
  cmake --build build/fuzz -j "$jobs" --target $targets
  ctest --test-dir build/fuzz -j "$jobs" --output-on-failure -L fuzz
fi
