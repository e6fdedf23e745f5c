#!/usr/bin/env bash
# Reconnects per minute against an adapter that accepts every TCP connection
# and closes it at once (vaux-sim --fault close), on 127.0.0.1 only. Prints
# the connects seen in each minute and the program's event lines about the
# link. The run is bounded by MINUTES.
# Usage: bench/device/reconnect_rate.sh [BUILD_DIR] (default: build)
# Settings through the environment: MINUTES (default 3).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build}
corvane="$build/bin/corvane"
sim="$build/bin/vaux-sim"
for b in "$corvane" "$sim"; do [ -x "$b" ] || { echo "no $b: build first" >&2; exit 1; }; done
minutes=${MINUTES:-3}

source bench/common.sh
home=$bench_home
"$sim" --tcp 0 --fault close > "$home/sim.log" 2>&1 &
bench_pids+=($!)
for _ in $(seq 1 100); do grep -q listening "$home/sim.log" && break; sleep 0.05; done
sim_port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$home/sim.log")
write_settings "SerialIP=127.0.0.1" "UPBCommPort=$sim_port" "HTTPPort=$(free_port)" \
  "HTTPBindAddress=127.0.0.1"

"$corvane" --home "$home" > "$home/corvane.log" 2>&1 &
bench_pids+=($!)
corvane_pid=$!
start=$(date +%s)
total_before=0
echo "== adapter that closes every connection, $minutes minutes"
for m in $(seq 1 "$minutes"); do
  while [ $(($(date +%s) - start)) -lt $((m * 60)) ]; do sleep 1; done
  total=$(grep -c "accepted and closed" "$home/sim.log" || true)
  echo "  minute $m: $((total - total_before)) connects"
  total_before=$total
done
echo "  CPU time of corvane: $(ps -o times= -p "$corvane_pid" | tr -d ' ') s"
echo "  log lines of corvane: $(wc -l < "$home/corvane.log"); its events about the link:"
grep -E 'Vaux (IP|Winsock|Aris 700 Comm)|Unable to connect' "$home/corvane.log" | sed 's/^/    /' || true
