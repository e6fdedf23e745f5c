#!/usr/bin/env bash
# Builds Corvane and runs the whole bridge on this machine: a local xAP hub
# (unless something already listens on UDP 3639: then that hub is used), the
# Vaux Aris 700 simulator on a free loopback TCP port, and corvane with a demo
# home folder (demo-home/) whose settings point at the simulator, keep all
# xAP traffic on loopback (broadcasts to 127.255.255.255) and serve the web
# page on 127.0.0.1:8018 (/status). Ctrl-C stops all three.
set -euo pipefail
cd "$(dirname "$0")/.."

CORVANE_BROWSER_TESTS=0 bash scripts/deps.sh

build=${CORVANE_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TESTS=OFF \
  -DCORVANE_BENCH=OFF -DCORVANE_FUZZ=OFF > /dev/null
cmake --build "$build" --target corvane xap-hub vaux-sim xap-send vbs
bin=$(cd "$build/bin" && pwd)

home=${CORVANE_DEMO_HOME:-$PWD/demo-home}
mkdir -p "$home/Config" "$home/Data"
logs=$home/Data

hub_pid="" sim_pid="" corvane_pid="" broker_pid=""
stop() {
  trap - EXIT INT TERM
  # corvane first, so that it saves its zone table while the others still run.
  for pid in $corvane_pid $sim_pid $hub_pid $broker_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "Corvane demo stopped."
}
trap stop EXIT
trap 'exit 130' INT TERM

# Waits up to 5 s for a line matching $2 in file $1.
wait_for() {
  for _ in $(seq 50); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: '$2' did not appear in $1" >&2
  return 1
}

# The hub: the one already running, or ours.
if command -v ss > /dev/null && [ -n "$(ss -Hlun 'sport = :3639' 2>/dev/null)" ]; then
  echo "Something already listens on UDP 3639 (an xAP hub?): using it."
else
  "$bin/xap-hub" --verbose > "$logs/xap-hub.log" 2>&1 &
  hub_pid=$!
  wait_for "$logs/xap-hub.log" "listening"
fi

# The simulated controller on a free port of 127.0.0.1.
"$bin/vaux-sim" --tcp 0 > "$logs/vaux-sim.log" 2>&1 &
sim_pid=$!
wait_for "$logs/vaux-sim.log" "listening on 127.0.0.1:"
sim_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$logs/vaux-sim.log" | head -1)

# xAP on loopback only.
if [ ! -s "$home/Config/zynXap.ini" ]; then
  printf '[Interface]\r\nBroadcastAddress=127.255.255.255\r\n' > "$home/Config/zynXap.ini"
fi
# Point section [Vaux] of Corvane.ini at the simulator and keep the web server
# on this machine; a new demo shows every item on the status page. Everything
# else in the file (the zone table corvane saved last time, your own
# settings) stays.
ini=$home/Config/Corvane.ini
touch "$ini"
show_status=$(grep -ci '^showstatus[ \t]*=' "$ini" || true)
awk -v port="$sim_port" -v show_status="$show_status" '
  function keys() {
    printf "UPBCommPort=%s\r\nSerialIP=127.0.0.1\r\nHTTPBindAddress=127.0.0.1\r\n", port
    if (show_status == 0) printf "ShowStatus=2\r\n"
    done = 1
  }
  /^\[/ { in_vaux = (tolower($0) ~ /^\[vaux\]/) }
  in_vaux && tolower($0) ~ /^(upbcommport|serialip|httpbindaddress)[ \t]*=/ { next }
  { print }
  /^\[/ && in_vaux && !done { keys() }
  END { if (!done) { printf "[Vaux]\r\n"; keys() } }
' "$ini" > "$ini.demo" && mv "$ini.demo" "$ini"

# The sample main script (share/scripts), unless you put your own in place,
# and what it reacts to: zone 1's Status record tagged zone1 and marked for
# events, and a watched doorbell message (tag doorbell, event Ring).
mkdir -p "$home/Scripts"
for f in share/scripts/*.txt; do
  [ -e "$home/Scripts/$(basename "$f")" ] || cp "$f" "$home/Scripts/"
done
# Adds KEY=VALUE to [SECTION] of the INI file unless the section holds KEY.
ini_ensure() {
  awk -v section="$2" -v key="$3" -v value="$4" '
    function add() { printf "%s=%s\r\n", key, value; done = 1 }
    /^\[/ { if (in_sec && !done && !found) add(); in_sec = (tolower($0) ~ "^\\[" tolower(section) "\\]") }
    in_sec && tolower($0) ~ "^" tolower(key) "[ \t]*=" { found = 1 }
    { print }
    END {
      if (in_sec && !done && !found) add()
      else if (!done && !found && !seen) { printf "[%s]\r\n", section; add() }
    }
    /^\[/ && tolower($0) ~ "^\\[" tolower(section) "\\]" { seen = 1 }
  ' "$1" > "$1.demo" && mv "$1.demo" "$1"
}
ini_ensure "$ini" Vaux Vaux_Aris_700_07 "1/1/2000 12:00:00 AM;0;Channel1_Status;True;1;zone1;True;;"
ini_ensure "$ini" Vaux PeriodicScriptInterval 30
# A zone table saved by an earlier demo: tag the record if it has no tag.
sed -i -E 's/^(Vaux_Aris_700_07=([^;]*;){5});[^;]*;/\1zone1;True;/I' "$ini"
ini_ensure "$ini" Devices doorbell "1/1/2000 12:00:00 AM"
ini_ensure "$ini" Received "demo.doorbell.front~demo.doorbell" "doorbell;Ring"
# A local MQTT broker on 127.0.0.1 when mosquitto is installed (port 1883,
# or a free one from 18830 when 1883 is taken), and section [MQTT] of
# Corvane.ini pointed at it.
mqtt_port=""
mosquitto=$(command -v mosquitto || ls /usr/sbin/mosquitto 2>/dev/null || true)
if [ -n "$mosquitto" ]; then
  # A port nothing listens on: 1883 when it is free (never someone else's broker).
  port_taken() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
  for p in 1883 $(seq 18830 18899); do
    if ! port_taken "$p"; then mqtt_port=$p; break; fi
  done
  printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$mqtt_port" > "$logs/mosquitto.conf"
  "$mosquitto" -c "$logs/mosquitto.conf" > "$logs/mosquitto.log" 2>&1 &
  broker_pid=$!
  for _ in $(seq 20); do port_taken "$mqtt_port" && break; sleep 0.1; done
  awk -v port="$mqtt_port" '
    function keys() { printf "Host=127.0.0.1\r\nPort=%s\r\n", port; done = 1 }
    /^\[/ { in_mqtt = (tolower($0) ~ /^\[mqtt\]/) }
    in_mqtt && tolower($0) ~ /^(host|port)[ \t]*=/ { next }
    { print }
    /^\[/ && in_mqtt && !done { keys() }
    END { if (!done) { printf "[MQTT]\r\n"; keys() } }
  ' "$ini" > "$ini.demo" && mv "$ini.demo" "$ini"
else
  echo "mosquitto is not installed: the demo runs without MQTT."
fi

"$bin/corvane" --home "$home" &
corvane_pid=$!
sleep 1
host=$(hostname)
http_port=$(awk -F= 'tolower($1) ~ /^httpport[ \t]*$/ { gsub(/[\r" \t]/, "", $2); print $2; exit }' "$ini")
http_port=${http_port:-8018}
cat <<INFO

Corvane demo is running: home folder $home, controller simulator on
127.0.0.1:$sim_port, hub and simulator logs in $logs.

Open the status page in a browser on this machine:

  http://127.0.0.1:$http_port/status

Choose a value in an item's Control list to command the simulated controller;
tick "Setup" or "Receive xAP Messages" and press "Save Changes" to see the
setup and filter sections. /help is the user's guide. Watch the controller
traffic live at

  http://127.0.0.1:$http_port/echo

and, on a desktop, the same with the notification icon (it attaches to this
demo's daemon):

  $bin/corvane-tray --home $home

In another terminal, turn zone 4 on (it starts off in the simulator; record 0A
is its Status) and watch the event:

  $bin/xap-send --class xAPBSC.cmd --target 'zyn.Vaux.$host:>' \\
      output.state.1 ID=0A Level=1 --listen 3 --filter-class xapbsc.event

Ask for the state of every zone's Status record (answers come one every 200 ms):

  $bin/xap-send --class xAPBSC.query --target 'zyn.Vaux.$host:*.*.status' request \\
      --listen 4 --filter-class 'xAPBSC.*'

The sample script (Scripts/Corvane.txt in the home folder) reports what it
sees in the log below and as demo.script messages. Ring the doorbell: the
script logs the message's items and toggles zone 1's mute; the zone change (zone 1's
Status is tagged zone1 and marked for events) runs the script again:

  $bin/xap-send --class demo.doorbell --source demo.doorbell.front \\
      button name=front --listen 3 --filter-class demo.script

Script errors go to $home/Data/Corvane.txt and to this terminal.

INFO
if [ -n "$mqtt_port" ]; then
  cat <<INFO
MQTT: a broker runs on 127.0.0.1:$mqtt_port. Watch the zones and command zone 2:

  mosquitto_sub -h 127.0.0.1 -p $mqtt_port -t 'corvane/#' -v
  mosquitto_pub -h 127.0.0.1 -p $mqtt_port -t corvane/$host/zone2/volume/set -m -20

INFO
fi
echo "Ctrl-C stops the demo."
wait "$corvane_pid"
