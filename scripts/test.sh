#!/usr/bin/env bash
# Installs what is missing, builds Corvane with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, so the fuzz targets use libFuzzer) and
# runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

build=${CORVANE_TEST_BUILD:-build-test}
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON -DCORVANE_BENCH=OFF
cmake --build "$build"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build"
ctest --output-on-failure -j "$(nproc)" "$@"
