#!/bin/sh
# The service units as systemd reads them: `systemd-analyze verify` finds no
# fault, and the hardening they promise is there. $1 is the folder of units
# configured for the build's programs. Exit code 77 (a skip) without systemd.
set -u
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIP: systemd-analyze is missing"; exit 77; }
units=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$units/corvane.service" "$units/corvane@.service" "$tmp/"
ln -s corvane@.service "$tmp/corvane@living-room.service"
status=0
for unit in corvane.service corvane@living-room.service; do
  out=$(systemd-analyze verify "$tmp/$unit" 2>&1) || status=1
  if [ -n "$out" ]; then echo "$unit: $out"; status=1; fi
done
for line in NoNewPrivileges=yes ProtectSystem=strict Restart=on-failure ProtectHome=yes \
            ExecReload=; do
  for unit in corvane.service corvane@.service; do
    grep -q "^$line" "$tmp/$unit" || { echo "$unit lacks $line"; status=1; }
  done
done
grep -q '^ReadWritePaths=/var/lib/corvane$' "$tmp/corvane.service" || { echo "corvane.service: home not writable"; status=1; }
grep -q '^ReadWritePaths=/var/lib/corvane/%i$' "$tmp/corvane@.service" || { echo "corvane@.service: home not writable"; status=1; }
[ $status -eq 0 ] && echo "units verified"
exit $status
