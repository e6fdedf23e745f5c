#!/usr/bin/env bash
# The web server around its pool size (25 connection sockets): wrk at 20,
# 25, 50 and 200 connections against 127.0.0.1, then the same 20 connections
# while a flood of idle connections holds sockets. Prints requests per
# second, the 99th-percentile latency and wrk's error counts (an answer that
# is an empty close counts as a read error). Every run is bounded in time.
# Usage: bench/web/capacity.sh [BUILD_DIR] (default: build)
# Settings through the environment: DURATION (seconds per run, default 10),
# URL_PATH (default /stylenobody.css, the shipped style sheet; /status is the
# status page), COUNTS (default "20 25 50 200"), FLOOD (idle connections
# held during the last run, default 100; 0 skips it).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build}
corvane="$build/bin/corvane"
[ -x "$corvane" ] || { echo "no $corvane: build first" >&2; exit 1; }
if ! command -v wrk >/dev/null; then
  apt-get -o DPkg::Lock::Timeout=300 install -y wrk >/dev/null ||
    { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
fi
duration=${DURATION:-10}
path=${URL_PATH:-/stylenobody.css}
counts=${COUNTS:-20 25 50 200}
flood=${FLOOD:-100}

source bench/common.sh
home=$bench_home
port=$(free_port)
write_settings "HTTPPort=$port" "HTTPBindAddress=127.0.0.1" "ShowStatus=2"
url="http://127.0.0.1:$port$path"
"$corvane" --home "$home" > "$home/corvane.log" 2>&1 &
bench_pids+=($!)
for _ in $(seq 1 100); do curl -s -o /dev/null "$url" 2>/dev/null && break; sleep 0.05; done

run() {
  wrk -t2 -c"$1" -d"${duration}s" --latency "$url" > "$home/wrk.txt" 2>&1 || true
  local rps p99 errors
  rps=$(awk '/Requests\/sec/ { print $2 }' "$home/wrk.txt")
  p99=$(awk '/Latency Distribution/ { on = 1 } on && /99%/ { print $2; exit }' "$home/wrk.txt")
  errors=$(grep -E 'Socket errors|Non-2xx' "$home/wrk.txt" | tr -s ' ' | paste -sd';' || true)
  printf '  %4s connections: %8s req/s, p99 %8s, errors: %s\n' "$1" "$rps" "$p99" "${errors:-none}"
}

echo "== $url, ${duration}s per run"
for c in $counts; do run "$c"; done

if [ "$flood" -gt 0 ]; then
  # Idle connections that never send a byte, opened 20 a second and held
  # until the run ends (bounded by the run's duration plus 5 s).
  python3 - "$port" "$flood" "$((duration + 5))" <<'PY' &
import socket, sys, time
port, count, limit = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
held, end = [], time.time() + limit
for _ in range(count):
    if time.time() > end:
        break
    s = socket.socket()
    s.settimeout(1)
    try:
        s.connect(("127.0.0.1", port))
        held.append(s)
    except OSError:
        s.close()
    time.sleep(0.05)
while time.time() < end:
    time.sleep(0.2)
PY
  bench_pids+=($!)
  sleep 1
  echo "== the same with $flood idle connections opened alongside"
  run 20
fi
