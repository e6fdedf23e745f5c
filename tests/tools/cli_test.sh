#!/usr/bin/env bash
# vaux-sim and xap-send with bad and edge options. Each row: the exit code
# wanted | a text the output must hold | the command line (run without input).
set -u
bin=$1
failed=0
while IFS='|' read -r code text args; do
  eval "set -- $args"
  out=$("$bin/$@" 2>&1 </dev/null)
  got=$?
  if [ "$got" != "$code" ] || [[ "$out" != *"$text"* ]]; then
    echo "FAIL: $args: exit $got (wanted $code), the output lacks '$text':"
    echo "$out"
    failed=1
  fi
done <<ROWS
2|--tcp needs a value|vaux-sim --tcp
2|unknown option '--bogus'|vaux-sim --pty --fault silent --fault slow --fault garbage --fault drop --fault wrong-zone --fault close --slow-ms 5 --silent-for 1 --link x --drop-after 2 --ack --split-vx --events --quiet --bogus
1|cannot link $bin/none/link|vaux-sim --pty --link $bin/none/link
2|bad port '0'|xap-send --class c --target t --source s --uid u --to 127.0.0.1 --port 0
2|bad value for --count: '-1'|xap-send --listen-port 0 --hub --listen-address a --filter-class c --filter-source s --heartbeats --count -1
2|nothing on standard input to send|xap-send --raw
2|bad listen address 'bad'|xap-send --listen 0 --listen-address bad
1||xap-send --listen 0 --hub --to 127.0.0.1 --port 9 --count 1
ROWS
exit $failed
