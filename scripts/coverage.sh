#!/usr/bin/env bash
# Line and branch coverage of src/ and tools/ over the whole test suite, with
# clang's source-based coverage. Builds in its own folder (build-coverage, or
# $CORVANE_COVERAGE_BUILD) without sanitizers, runs every ctest test with one
# profile per process (%p), so the real programs that the integration, browser
# and desktop tests start are counted too, merges the profiles and prints the
# totals. Extra arguments go to ctest (for example -R vbscript).
#   scripts/coverage.sh            totals
#   CORVANE_COVERAGE_FILES=1 scripts/coverage.sh   also the per-file table
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

bash scripts/deps.sh

build=${CORVANE_COVERAGE_BUILD:-build-coverage}
flags="-fprofile-instr-generate -fcoverage-mapping"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCORVANE_SANITIZE=OFF -DCORVANE_WERROR=OFF -DCORVANE_BENCH=OFF >/dev/null
cmake --build "$build"

profiles="$top/$build/profiles"
rm -rf "$profiles"
mkdir -p "$profiles"
export LLVM_PROFILE_FILE="$profiles/%p-%m.profraw"
(cd "$build" && ctest -j "${CORVANE_COVERAGE_JOBS:-2}" "$@") || echo "coverage: some tests failed (the totals still count what ran)"

llvm-profdata-14 merge -sparse -o "$build/corvane.profdata" "$profiles"/*.profraw

# Every instrumented program and library counts: the report takes one object
# and the others as -object.
objects=()
for f in "$build"/bin/* $(find "$build" -name '*.so'); do
  [ -f "$f" ] && head -c 4 "$f" | grep -q ELF || continue
  objects+=("-object" "$f")
done
sources=("$top/src" "$top/tools")
# Paths the build reaches through "../" (tests, fuzz targets, benchmarks) are
# not the program.
report=(llvm-cov-14 report -instr-profile="$build/corvane.profdata" "${objects[@]:1}"
        -ignore-filename-regex="/(tests|fuzz|bench)/" "${sources[@]}")
"${report[@]}" > "$build/coverage.txt"
if [ "${CORVANE_COVERAGE_FILES:-0}" = "1" ]; then cat "$build/coverage.txt"; fi
# TOTAL columns: regions, missed, cover, functions, missed, executed,
# lines, missed, cover, branches, missed, cover.
awk '/^TOTAL/ { printf "line coverage %s (%d of %d lines), branch coverage %s (%d of %d branches)\n", $10, $8-$9, $8, $13, $11-$12, $11 }' "$build/coverage.txt"
