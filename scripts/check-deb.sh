#!/usr/bin/env bash
# Builds the Debian packages from a build folder and checks them:
#   scripts/check-deb.sh [BUILD_DIR] [--install]
# Lists what each package holds and its dependencies; with --install (as
# root) installs corvane with dpkg, checks the installed files and units,
# starts the service when systemd runs this system (otherwise runs the
# unit's command line once, as the service would, and checks it answers on
# its web port), and removes the package again.
set -euo pipefail
build=${1:-build}
install=0
[ "${2:-}" = "--install" ] && install=1
cd "$build"
rm -f corvane*.deb
cpack -G DEB >/dev/null
deb=$(ls corvane_*.deb | head -1)
echo "== $deb"
dpkg-deb -I "$deb" | sed -n '/Package:/,/Description:/p'
dpkg-deb -c "$deb" | awk '{print $6}' | grep -E 'bin/|systemd|share/corvane/html/[^/]*$|doc' 
for tray in corvane-tray_*.deb; do
  [ -e "$tray" ] || continue
  echo "== $tray"
  dpkg-deb -I "$tray" | grep -E 'Package:|Depends:'
  dpkg-deb -c "$tray" | awk '{print $6}' | grep -E 'bin/|applications'
done
[ $install -eq 1 ] || exit 0

[ "$(id -u)" -eq 0 ] || { echo "--install needs root"; exit 1; }
apt-get -o DPkg::Lock::Timeout=900 install -y -qq "./$deb" >/dev/null 2>&1 || dpkg -i "$deb"
trap 'dpkg --purge corvane >/dev/null 2>&1 || true' EXIT
dpkg -s corvane | grep -E '^(Status|Version):'
for f in /usr/bin/corvane /usr/bin/xap-hub /usr/lib/systemd/system/corvane.service \
         /usr/lib/systemd/system/corvane@.service /usr/share/corvane/html/StyleNoBody.css; do
  [ -e "$f" ] || { echo "missing $f"; exit 1; }
done
grep -q '^ExecStart=/usr/bin/corvane --home /var/lib/corvane$' /usr/lib/systemd/system/corvane.service
systemd-analyze verify /usr/lib/systemd/system/corvane.service
if [ -d /run/systemd/system ]; then
  systemctl is-active --quiet corvane.service && echo "corvane.service is running"
else
  echo "systemd does not run this system: running the unit's command line once"
  home=$(mktemp -d)
  mkdir -p "$home/Config"
  printf '[Vaux]\r\nHTTPBindAddress=127.0.0.1\r\nHTTPPort=18977\r\n' > "$home/Config/Corvane.ini"
  printf '[Interface]\r\nBroadcastAddress=127.255.255.255\r\n' > "$home/Config/zynXap.ini"
  /usr/bin/corvane --home "$home" > "$home/out.log" 2>&1 &
  pid=$!
  for _ in $(seq 50); do
    if (exec 3<>/dev/tcp/127.0.0.1/18977) 2>/dev/null; then break; fi
    sleep 0.2
  done
  exec 3<>/dev/tcp/127.0.0.1/18977
  printf 'GET /status HTTP/1.0\r\n\r\n' >&3
  head -1 <&3
  exec 3>&-
  kill -TERM "$pid"
  wait "$pid" && echo "the installed daemon answered and ended cleanly"
  rm -rf "$home"
fi
