# Sourced by dev.sh and examples.sh (needs $top): start_sample_server DIR starts the built sample
# server on a free loopback port with its databases in DIR, writes DIR/INI/SQL.INI naming it
# SAMPLE, sets $sample_port, and stops the server when the sourcing script exits
# (stop_sample_server, for a script that sets its own exit trap).
start_sample_server() {  # start_sample_server DIR
  local dir=$1 log=$1/sampleserver.log port=""
  mkdir -p "$dir/INI"
  "$top/build/server/sampleserver" --port 0 --data "$dir" >"$log" 2>&1 &
  server_pid=$!
  trap stop_sample_server EXIT
  trap 'exit 130' INT TERM
  for _ in $(seq 1 300); do
    port=$(sed -n 's/^sampleserver listening on [0-9.]*:\([0-9]*\)$/\1/p' "$log")
    [[ -n $port ]] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      cat "$log" >&2
      echo "$(basename "$0"): the sample server did not start" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [[ -z $port ]]; then
    echo "$(basename "$0"): the sample server did not report its port (see $log)" >&2
    exit 1
  fi
  printf '[SAMPLE]\nquery=TCP,127.0.0.1,%s\n' "$port" >"$dir/INI/SQL.INI"
  sample_port=$port
}

stop_sample_server() {
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null || true
}
