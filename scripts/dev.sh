#!/usr/bin/env bash
# One entry for everything a developer or CI does on a fresh Debian machine.
#   deps            install the Debian packages the project needs (idempotent)
#   build           deps, configure and build (build/)
#   test            build, then run every test through CTest
#   test-sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   demo            build, then run the demonstration program: against the sample server (started
#                   on a free port, databases kept in build/demo-data), or, when SYBASE is set,
#                   against the servers of $SYBASE/INI/SQL.INI
#   screenshot      build, then redraw docs/main-window.png (needs Xvfb, installed if missing)
#   peer-tests      build, then run FreeTDS 1.3.17's own unit tests against the sample server
#                   (FreeTDS's source from $FREETDS_SOURCE or ../shared/peers/; skipped without it)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

jobs=$(nproc 2>/dev/null || echo 2)

deps() { "$top/scripts/install-deps.sh"; }

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  deps
  cmake -S "$top" -B "$top/$dir" -G Ninja "$@"
  cmake --build "$top/$dir" -j "$jobs"
}

run_tests() {  # run_tests DIR
  # Tests never need a display.
  export QT_QPA_PLATFORM=offscreen
  export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
  chmod 700 "$XDG_RUNTIME_DIR"
  ctest --test-dir "$top/$1" --output-on-failure -j "$jobs" --timeout 300
}

# Starts the sample server on a free port with its databases in DIR, writes DIR/INI/SQL.INI naming
# it SAMPLE, and stops it when this script exits.
start_sample_server() {  # start_sample_server DIR
  local dir=$1 log=$1/sampleserver.log port=""
  mkdir -p "$dir/INI"
  "$top/build/server/sampleserver" --port 0 --data "$dir" >"$log" 2>&1 &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
  trap 'exit 130' INT TERM
  for _ in $(seq 1 300); do
    port=$(sed -n 's/^sampleserver listening on [0-9.]*:\([0-9]*\)$/\1/p' "$log")
    [[ -n $port ]] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      cat "$log" >&2
      echo "dev.sh: the sample server did not start" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [[ -z $port ]]; then
    echo "dev.sh: the sample server did not report its port (see $log)" >&2
    exit 1
  fi
  printf '[SAMPLE]\nquery=TCP,127.0.0.1,%s\n' "$port" >"$dir/INI/SQL.INI"
  echo "Sample server SAMPLE on 127.0.0.1:$port (databases in $dir); log in as sa, empty password." >&2
}

demo() {
  if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "dev.sh: the demonstration is a desktop program and no display was found (DISPLAY)." >&2
    exit 1
  fi
  if [[ -n ${SYBASE:-} ]]; then
    # The user's own servers: nothing to start.
    echo "Servers from $SYBASE/INI/SQL.INI" >&2
    exec "$top/build/demo/norvdemo"
  fi
  start_sample_server "$top/build/demo-data"
  SYBASE="$top/build/demo-data" "$top/build/demo/norvdemo"
}

screenshot() {
  if ! command -v xvfb-run >/dev/null; then
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo=sudo
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth
  fi
  xvfb-run -a -s "-screen 0 1280x800x24" "$top/build/tools/screenshot/norvscreenshot" \
    "$top/docs/main-window.png"
}

case "${1:-}" in
  deps) deps ;;
  build) build build ;;
  test) build build && run_tests build ;;
  test-sanitize)
    build build-asan -DNORV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$top/scripts/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    run_tests build-asan ;;
  demo) build build && demo ;;
  screenshot) build build && screenshot ;;
  peer-tests) build build && "$top/scripts/peer-tests.sh" ;;
  *)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2 ;;
esac
