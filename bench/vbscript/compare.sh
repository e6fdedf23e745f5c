#!/usr/bin/env bash
# Times each benchmark program as a whole process, vbs against python3, on
# this machine, and prints the time ratio (vbs / python3; goal <= 0.5).
# Without hyperfine each side's time is the best of RUNS runs, because the
# machine is shared and noise only ever adds time. CPU=1 times the processor
# time (user + system) each process used instead of the clock: on a loaded
# machine the clock mostly measures the wait for a core.
#   bench/vbscript/compare.sh [build-dir]      (default: build-release)
#   CPU=1 RUNS=10 bench/vbscript/compare.sh build-rel
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build-release}"
vbs="$build/bin/vbs"
[ -x "$vbs" ] || { echo "no $vbs: build a release first (cmake -DCMAKE_BUILD_TYPE=Release)"; exit 1; }
# The interpreter itself, not a version-manager shim in front of it.
python="$(python3 -c 'import sys; print(sys.executable)')"
runs="${RUNS:-10}"
printf '%-12s %10s %10s %7s\n' program vbs_ms python_ms ratio
for name in sum_loop concat dictionary fib calls text members; do
  want="$("$python" "$here/$name.py")"
  got="$("$vbs" "$here/$name.vbs")"
  if [ "$want" != "$got" ]; then
    echo "$name: outputs differ: vbs '$got' python '$want'"
    exit 1
  fi
  if [ -n "${CPU:-}" ]; then
    cpu() {
      python3 - "$runs" "$@" << 'EOF'
import resource, subprocess, sys
best = None
for _ in range(int(sys.argv[1])):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(sys.argv[2:], stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    t = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    best = t if best is None else min(best, t)
print(best * 1000)
EOF
    }
    v=$(cpu "$vbs" "$here/$name.vbs")
    p=$(cpu "$python" "$here/$name.py")
  elif command -v hyperfine > /dev/null; then
    json="$(mktemp)"
    hyperfine -N -w 2 -r "$runs" --export-json "$json" "$vbs $here/$name.vbs" "$python $here/$name.py" > /dev/null
    read -r v p < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(r[0]["min"]*1000, r[1]["min"]*1000)' "$json")
    rm -f "$json"
  else
    t() {
      local s e best=
      for _ in $(seq "$runs"); do
        s=$(date +%s%N); "$@" > /dev/null; e=$(date +%s%N)
        if [ -z "$best" ] || [ $((e - s)) -lt "$best" ]; then best=$((e - s)); fi
      done
      echo "$((best / 1000))e-3"
    }
    v=$(t "$vbs" "$here/$name.vbs")
    p=$(t "$python" "$here/$name.py")
  fi
  printf '%-12s %10.1f %10.1f %7.2f\n' "$name" "$v" "$p" "$(python3 -c "print($v / $p)")"
done
