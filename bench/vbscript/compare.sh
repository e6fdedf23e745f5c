#!/usr/bin/env bash
# Times each benchmark program as a whole process, vbs against python3, on
# this machine, and prints the time ratio (vbs / python3; goal <= 1.0).
#   bench/vbscript/compare.sh [build-dir]      (default: build-release)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build-release}"
vbs="$build/bin/vbs"
[ -x "$vbs" ] || { echo "no $vbs: build a release first (cmake -DCMAKE_BUILD_TYPE=Release)"; exit 1; }
# The interpreter itself, not a version-manager shim in front of it.
python="$(python3 -c 'import sys; print(sys.executable)')"
runs="${RUNS:-10}"
printf '%-12s %10s %10s %7s\n' program vbs_ms python_ms ratio
for name in sum_loop concat dictionary fib calls; do
  want="$("$python" "$here/$name.py")"
  got="$("$vbs" "$here/$name.vbs")"
  if [ "$want" != "$got" ]; then
    echo "$name: outputs differ: vbs '$got' python '$want'"
    exit 1
  fi
  if command -v hyperfine > /dev/null; then
    json="$(mktemp)"
    hyperfine -N -w 2 -r "$runs" --export-json "$json" "$vbs $here/$name.vbs" "$python $here/$name.py" > /dev/null
    read -r v p < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(r[0]["median"]*1000, r[1]["median"]*1000)' "$json")
    rm -f "$json"
  else
    t() { local s e; s=$(date +%s%N); for _ in $(seq "$runs"); do "$@" > /dev/null; done; e=$(date +%s%N); echo $(( (e - s) / runs / 1000000 )); }
    v=$(t "$vbs" "$here/$name.vbs")
    p=$(t "$python" "$here/$name.py")
  fi
  printf '%-12s %10.1f %10.1f %7.2f\n' "$name" "$v" "$p" "$(python3 -c "print($v / $p)")"
done
