# Shared by the bench scripts (sourced): a program folder in /tmp that is
# removed at exit, the processes started for a run stopped at exit, a free
# loopback port, and the settings files of a program on loopback.
bench_home=$(mktemp -d /tmp/corvane-bench-XXXXXX)
bench_pids=()
bench_cleanup() {
  for p in "${bench_pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$bench_home"
}
trap bench_cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Config/Corvane.ini holding the [Vaux] lines given (one per argument), and
# xAP kept on loopback.
write_settings() {
  mkdir -p "$bench_home/Config"
  { printf '[Vaux]\r\n'; printf '%s\r\n' "$@"; } > "$bench_home/Config/Corvane.ini"
  printf '[Interface]\r\nBroadcastAddress=127.0.0.1\r\n' > "$bench_home/Config/zynXap.ini"
}
