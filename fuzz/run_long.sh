#!/usr/bin/env bash
# Longer fuzz runs with the libFuzzer targets of a clang build (the test
# build of scripts/test.sh has them, with the sanitizers): each target runs
# SECONDS on its own, from a fresh folder seeded with its seed corpus, and
# its edges ("cov"), executions and crashes are printed. With MERGE=1 the
# inputs that reach new edges and are at most MAX_BYTES long are merged into
# the seed folder (libFuzzer -merge=1 -use_counters=0: edges only, so the
# seed folders stay small), ready to be committed.
# Usage: fuzz/run_long.sh [BUILD_DIR] [TARGET...]
#   (default build-test and every target)
# Settings through the environment: SECONDS_EACH (default 150), MERGE (0),
# MAX_BYTES (2048; 4096 for vbscript).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-test}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(xap_message http_request ini_tool vaux_receive bridge_inbound vbscript)
seconds=${SECONDS_EACH:-150}
merge=${MERGE:-0}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

seeds_of() {
  case $1 in
    ini_tool) echo fuzz/corpus/ini ;;
    vbscript) echo fuzz/corpus/vbscript tests/vbscript/conformance ;;
    *) echo "fuzz/corpus/$1" ;;
  esac
}

work=$(mktemp -d /tmp/corvane-fuzz-XXXXXX)
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  bin="$build/bin/${t}_fuzz"
  [ -x "$bin" ] || { echo "no $bin: build it with clang first" >&2; exit 1; }
  read -r -a seeds <<< "$(seeds_of "$t")"
  mkdir -p "$work/$t" "$work/$t-crashes"
  set +e
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/$t-crashes/" "$work/$t" "${seeds[@]}" > "$work/$t.log" 2>&1
  rc=$?
  set -e
  cov=$(grep -Eo 'cov: [0-9]+' "$work/$t.log" | tail -1 | awk '{ print $2 }')
  execs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$work/$t.log")
  crashes=$(find "$work/$t-crashes" -type f | wc -l)
  printf '%-16s %4ss  edges %6s  executions %10s  crashes %s  (exit %s)\n' \
    "$t" "$seconds" "${cov:-?}" "${execs:-?}" "$crashes" "$rc"
  if [ "$crashes" -gt 0 ]; then
    cp -r "$work/$t-crashes" "/tmp/corvane-fuzz-crashes-$t"
    grep -m5 -E 'ERROR|SUMMARY' "$work/$t.log" | sed 's/^/    /'
  fi
  if [ "$merge" = 1 ]; then
    limit=${MAX_BYTES:-$([ "$t" = vbscript ] && echo 4096 || echo 2048)}
    find "$work/$t" -type f -size +"${limit}"c -delete
    before=$(find "${seeds[0]}" -type f | wc -l)
    "$bin" -merge=1 -use_counters=0 -timeout=10 "${seeds[0]}" "$work/$t" \
      > "$work/$t-merge.log" 2>&1
    echo "    merged into ${seeds[0]}: $before -> $(find "${seeds[0]}" -type f | wc -l) files"
  fi
done
