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

home=$(mktemp -d /tmp/corvane-reconnect-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$home"
}
trap cleanup EXIT

"$sim" --tcp 0 --fault close > "$home/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do grep -q listening "$home/sim.log" && break; sleep 0.05; done
sim_port=$(sed -n 's/.*listening on 127.0.0.1:\([0-9]*\).*/\1/p' "$home/sim.log")
http_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$home/Config"
printf '[Vaux]\r\nSerialIP=127.0.0.1\r\nUPBCommPort=%s\r\nHTTPPort=%s\r\nHTTPBindAddress=127.0.0.1\r\n' \
  "$sim_port" "$http_port" > "$home/Config/Corvane.ini"
printf '[Interface]\r\nBroadcastAddress=127.0.0.1\r\n' > "$home/Config/zynXap.ini"

"$corvane" --home "$home" > "$home/corvane.log" 2>&1 &
pids+=($!)
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
echo "  log lines of corvane: $(wc -l < "$home/corvane.log")," \
  "\"Vaux IP Connection Closed\": $(grep -c 'Vaux IP Connection Closed' "$home/corvane.log" || true)"
