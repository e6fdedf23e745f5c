#!/usr/bin/env bash
# Builds Corvane and runs it on a demo home folder (demo-home/) that keeps all
# xAP traffic on this machine (broadcasts to 127.255.255.255). Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."

CORVANE_BROWSER_TESTS=0 bash scripts/deps.sh

build=${CORVANE_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TESTS=OFF \
  -DCORVANE_BENCH=OFF -DCORVANE_FUZZ=OFF > /dev/null
cmake --build "$build" --target corvane

home=${CORVANE_DEMO_HOME:-$PWD/demo-home}
mkdir -p "$home/Config"
if [ ! -s "$home/Config/zynXap.ini" ]; then
  printf '[Interface]\r\nBroadcastAddress=127.255.255.255\r\n' > "$home/Config/zynXap.ini"
fi

# The web server answers on this machine only.
if [ ! -s "$home/Config/Corvane.ini" ]; then
  printf '[Vaux]\r\nHTTPBindAddress=127.0.0.1\r\n' > "$home/Config/Corvane.ini"
fi

echo "Corvane demo: home folder $home (Ctrl-C to stop)"
exec "$build/bin/corvane" --home "$home"
