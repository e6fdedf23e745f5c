#!/usr/bin/env bash
# Installs the Debian packages Corvane's build and tests need, when missing.
# Idempotent: runs apt-get update only when something must be installed.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config ccache
  clang-14 libclang-rt-14-dev llvm-14
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libpcre2-dev libsqlite3-dev libssl-dev
  libmosquitto-dev mosquitto mosquitto-clients nlohmann-json3-dev
  openssl curl
)
if [ "${CORVANE_BROWSER_TESTS:-1}" = "1" ]; then
  packages+=(chromium chromium-driver python3 python3-selenium python3-jsonschema openapi-specification
    iproute2)
fi
# corvane-tray (Qt 6) and its tests: a private D-Bus session bus, a virtual
# X server, python3-dbus for the notification-host stand-in; systemd for
# checking the service units.
if [ "${CORVANE_DESKTOP:-1}" = "1" ]; then
  packages+=(qt6-base-dev libgl-dev dbus xvfb xauth python3-dbus python3-gi systemd)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
