#!/usr/bin/env bash
# One entry for everything a developer or CI does on a fresh Debian machine.
#   deps            install the Debian packages the project needs (idempotent)
#   build           deps, configure and build (build/)
#   test            build, then run every test through CTest
#   test-sanitize   the same under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)
#   demo            build, then run the demonstration program against the embedded sample server
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
  demo)
    build build
    echo "The demonstration program is not built yet: it arrives with the main window." >&2
    echo "Until then, '$0 test' builds and tests the component library." >&2
    exit 1 ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 2 ;;
esac
