#!/usr/bin/env bash
# One entry for everything a developer or CI does on a fresh Debian machine.
#   deps            install the Debian packages the project needs (idempotent)
#   build           deps, configure and build (build/)
#   test            build, then run every test through CTest
#   test-sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   test-tsan       the same under ThreadSanitizer (build-tsan/; suppressions in scripts/tsan.supp)
#   demo            build, then run the demonstration program: against the sample server (started
#                   on a free port, databases kept in build/demo-data), or, when SYBASE is set,
#                   against the servers of $SYBASE/INI/SQL.INI; with NORV_MONITOR=1 the trace
#                   monitor (norvmonitor) runs beside it and stops when it exits
#   screenshot      build, then redraw the pictures in docs/ (main window, table browser, object
#                   information, functions, bulk copy, trace monitor; needs Xvfb, installed if missing)
#   peer-tests      build, then run FreeTDS 1.3.17's own unit tests against the sample server
#                   (FreeTDS's source from $FREETDS_SOURCE or ../shared/peers/; skipped without it)
#   examples        build, install into a temporary prefix, build examples/ against it alone and
#                   run them against the sample server (scripts/examples.sh)
#   package         build, then the Debian packages libnorv-dev, norv-tools and norv-sampleserver
#                   (cpack -G DEB) into build/packages/
#   package-check   package, install the packages, try them against their own sample server,
#                   remove them (scripts/package-check.sh; needs root or sudo)
#   soak [seconds]  build, then load the sample server with 64 sessions for that long (default 60)
#                   and check that no committed work was lost (bench/soak_server)
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

# start_sample_server DIR: the sample server on a free port, named SAMPLE in DIR/INI/SQL.INI.
source "$top/scripts/sample-server.sh"

# With NORV_MONITOR=1, the trace monitor beside the demonstration; stop_monitor ends it.
start_monitor() {
  monitor_pid=""
  [[ ${NORV_MONITOR:-} == 1 ]] || return 0
  "$top/build/tools/monitor/norvmonitor" &
  monitor_pid=$!
  sleep 0.5  # listening before the demonstration sends its first lines
}

stop_monitor() {
  [[ -n ${monitor_pid:-} ]] || return 0
  kill "$monitor_pid" 2>/dev/null
  wait "$monitor_pid" 2>/dev/null || true
}

demo() {
  if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "dev.sh: the demonstration is a desktop program and no display was found (DISPLAY)." >&2
    exit 1
  fi
  if [[ -n ${SYBASE:-} ]]; then
    # The user's own servers: nothing to start.
    echo "Servers from $SYBASE/INI/SQL.INI" >&2
    start_monitor
    trap stop_monitor EXIT
    "$top/build/demo/norvdemo"
    return
  fi
  start_sample_server "$top/build/demo-data"
  start_monitor
  trap 'stop_monitor; stop_sample_server' EXIT
  echo "Sample server SAMPLE on 127.0.0.1:$sample_port (databases in $top/build/demo-data); log in as sa, empty password." >&2
  SYBASE="$top/build/demo-data" "$top/build/demo/norvdemo"
}

package() {
  rm -f "$top/build/packages/"*.deb
  cpack -G DEB --config "$top/build/CPackConfig.cmake" -B "$top/build/packages"
  ls "$top/build/packages/"*.deb
}

screenshot() {
  if ! command -v xvfb-run >/dev/null; then
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo=sudo
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth
  fi
  xvfb-run -a -s "-screen 0 1280x800x24" "$top/build/tools/screenshot/norvscreenshot" \
    "$top/docs/main-window.png" "$top/docs/table-browser.png" "$top/docs/object-info.png" \
    "$top/docs/functions.png" "$top/docs/bulk-copy.png" "$top/docs/monitor.png"
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
  test-tsan)
    build build-tsan -DNORV_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$top/scripts/tsan.supp:ignore_noninstrumented_modules=1:die_after_fork=0:second_deadlock_stack=1}
    run_tests build-tsan ;;
  demo) build build && demo ;;
  screenshot) build build && screenshot ;;
  peer-tests) build build && "$top/scripts/peer-tests.sh" ;;
  examples) "$top/scripts/examples.sh" ;;
  package) build build && package ;;
  package-check) "$top/scripts/package-check.sh" ;;
  soak) build build && "$top/build/bench/soak_server" --seconds "${2:-60}" ;;
  *)
    sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
    exit 2 ;;
esac
