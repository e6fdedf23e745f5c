#!/usr/bin/env bash
# Load test of the web server with wrk (Debian's package "wrk"), on
# 127.0.0.1 only, every run bounded in time:
#   1. requests per second and 99th-percentile latency for the status page
#      (all 42 items, ShowStatus 2) and for a static .css file of the same
#      size;
#   2. the server's resident memory after 1,000 requests and after 100,000,
#      for each of the two.
# Usage: bench/web/run_wrk.sh [BUILD_DIR] (default: build)
# Settings through the environment: DURATION (seconds, default 10),
# CONNECTIONS (default 20; the server keeps at most 25), FEW (1000),
# MANY (100000), MAX_SECONDS (bound of each counted run, default 600).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${1:-build}
corvane="$build/bin/corvane"
[ -x "$corvane" ] || { echo "no $corvane: build first" >&2; exit 1; }
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }

duration=${DURATION:-10}
connections=${CONNECTIONS:-20}
few=${FEW:-1000}
many=${MANY:-100000}
max_seconds=${MAX_SECONDS:-600}

home=$(mktemp -d /tmp/corvane-bench-XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$home"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$home/Config" "$home/HTML"
printf '[Vaux]\r\nHTTPPort=%s\r\nHTTPBindAddress=127.0.0.1\r\nShowStatus=2\r\n' "$port" \
  > "$home/Config/Corvane.ini"
printf '[Interface]\r\nBroadcastAddress=127.0.0.1\r\n' > "$home/Config/zynXap.ini"
page_url="http://127.0.0.1:$port/status"
css_url="http://127.0.0.1:$port/bench.css"
url=$page_url

"$corvane" --home "$home" > "$home/corvane.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  curl -s -o /dev/null "$url" 2>/dev/null && break
  sleep 0.05
done
# A style sheet as large as the page.
page_bytes=$(curl -s "$page_url" | wc -c)
awk -v bytes="$page_bytes" 'BEGIN {
  for (i = 1; n < bytes; i++) {
    line = sprintf(".row%05d { color: #%06x; background: #ffffff; padding: 2px 4px; }\n", i,
                   (i * 4099) % 16777216)
    n += length(line)
    printf "%s", line
  } }' > "$home/HTML/bench.css"
truncate -s "$page_bytes" "$home/HTML/bench.css"

rss_kb() {
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "corvane is not running any more; its log:" >&2
    tail -20 "$home/corvane.log" >&2
    exit 1
  fi
  awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"
}

# Counted runs: the thread stops after WRK_LIMIT responses and leaves a
# mark; wrk itself runs until its duration, so it is interrupted then.
cat > "$home/count.lua" <<'LUA'
local limit = tonumber(os.getenv("WRK_LIMIT"))
local n = 0
response = function(status, headers, body)
  n = n + 1
  if n == limit then
    local f = io.open(os.getenv("WRK_DONE"), "w")
    f:write(n)
    f:close()
    wrk.thread:stop()
  end
end
LUA
counted() {
  rm -f "$home/done"
  WRK_LIMIT=$1 WRK_DONE="$home/done" wrk -t1 -c"$connections" -d"${max_seconds}s" \
    -s "$home/count.lua" "$2" > "$home/counted.txt" &
  local wrk_pid=$!
  local waited=0
  while [ ! -e "$home/done" ] && [ "$waited" -lt $((max_seconds * 10)) ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -INT "$wrk_pid" 2>/dev/null || true
  wait "$wrk_pid" 2>/dev/null || true
  awk '/requests in/ { print "  wrk: " $0 }' "$home/counted.txt"
}

rate() {
  echo "== $1 ($2 bytes), ${duration}s, $connections connections"
  wrk -t1 -c"$connections" -d"${duration}s" --latency "$3" > "$home/rate.txt"
  grep -E 'Requests/sec|Non-2xx|Socket errors' "$home/rate.txt" | sed 's/^/  /'
  awk '/Latency Distribution/ { on = 1 } on && /99%/ { print "  p99 latency: " $2; exit }' \
    "$home/rate.txt"
}

memory() {
  echo "== memory, $1"
  echo "  now: $(rss_kb) kB"
  counted "$few" "$2"
  echo "  after $few requests: $(rss_kb) kB"
  counted "$((many - few))" "$2"
  echo "  after $many requests: $(rss_kb) kB"
}

rate "status page /status" "$page_bytes" "$page_url"
rate "static .css" "$(stat -c %s "$home/HTML/bench.css")" "$css_url"
memory "status page" "$page_url"
memory "static .css" "$css_url"
