#!/usr/bin/env bash
# Runs FreeTDS 1.3.17's own unit tests (TDS, Client-Library and DB-Library) against the sample
# server: they were written against real servers, so they check the server's answers from a
# client's side that this project did not write.
#
# FreeTDS's source is the tarball $FREETDS_SOURCE or ../shared/peers/freetds-1.3.17.tar.xz beside
# the repository; without it the suite is skipped. It is built once into build/peers/ (a second run
# reuses it); the sample server must already be built (build/server/sampleserver).
#
# Each test runs alone, in its own source folder (where it finds its data files), with a timeout;
# its output goes to build/peers/logs/SUITE-TEST.log. A failure fails the run unless the test is
# listed in tests/peers/expected-failures.txt (it needs Microsoft SQL Server) or
# tests/peers/pending.txt (the sample server still lacks what it needs).
#
# Environment: FREETDS_SOURCE (the tarball), PEER_TIMEOUT (seconds per test, default 60),
# PEER_TESTS (run only these, e.g. "ctlib/t0001 dblib/t0002").
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
version=1.3.17
out=$top/build/peers
tree=$out/freetds-$version
timeout_s=${PEER_TIMEOUT:-60}
suites="tds ctlib dblib"

tarball=${FREETDS_SOURCE:-$top/../shared/peers/freetds-$version.tar.xz}
if [[ ! -f $tarball ]]; then
  cat >&2 <<EOF
peer-tests: FreeTDS $version's source was not found ($tarball); skipping the peer suite.
To run it, make the tarball from FreeTDS's git tag and point FREETDS_SOURCE at it:
  git clone --branch v$version --depth 1 https://github.com/FreeTDS/freetds.git
  git -C freetds archive --prefix=freetds-$version/ v$version | xz > freetds-$version.tar.xz
  FREETDS_SOURCE=\$PWD/freetds-$version.tar.xz ./scripts/dev.sh peer-tests
EOF
  exit 0
fi
tarball=$(cd "$(dirname "$tarball")" && pwd)/$(basename "$tarball")

server=$top/build/server/sampleserver
if [[ ! -x $server ]]; then
  echo "peer-tests: $server is missing; build it first (./scripts/dev.sh build)" >&2
  exit 1
fi

# The names in a unit-test folder's TESTS list. They are built by name: "make check TESTS=" builds
# none of DB-Library's.
test_names() {  # test_names SUITE
  # shellcheck disable=SC2016  # $(EXEEXT) is make's, not the shell's
  sed -n '/^TESTS[[:space:]]*=/,/^[[:space:]]*$/p' "$tree/src/$1/unittests/Makefile.am" |
    grep -o '[A-Za-z0-9_]*\$(EXEEXT)' | sed 's/\$(EXEEXT)//'
}

build_freetds() {
  local jobs stamp=$out/built.stamp sum
  jobs=$(nproc 2>/dev/null || echo 2)
  sum=$(sha256sum "$tarball" | cut -d' ' -f1)
  if [[ -f $stamp && $(cat "$stamp") == "$sum" ]]; then
    echo "peer-tests: FreeTDS $version already built in $tree" >&2
    return
  fi
  echo "peer-tests: building FreeTDS $version in $tree (logs in $out/build.log)" >&2
  rm -rf "$tree" "$stamp"
  mkdir -p "$out"
  tar -xJf "$tarball" -C "$out"
  [[ -d $tree ]] || { echo "peer-tests: $tarball does not hold freetds-$version/" >&2; exit 1; }
  (
    cd "$tree"
    # doc/ asks git for a date, which a source archive cannot answer: only include/ and src/.
    ./autogen.sh --disable-odbc --without-openssl --without-gnutls --disable-apps-doc
    make -j "$jobs" -C include
    make -j "$jobs" -C src
    for suite in $suites; do
      # shellcheck disable=SC2046
      make -j "$jobs" -C "src/$suite/unittests" $(test_names "$suite")
    done
  ) >"$out/build.log" 2>&1 || {
    tail -n 40 "$out/build.log" >&2
    echo "peer-tests: building FreeTDS failed (see $out/build.log)" >&2
    exit 1
  }
  echo "$sum" >"$stamp"
}

# Listed tests: "suite/test  reason" per line; # starts a comment.
declare -A expected pending
read_list() {  # read_list FILE ARRAY
  local -n list=$2
  local name reason
  [[ -f $1 ]] || return 0
  while read -r name reason; do
    [[ -z $name || $name == \#* ]] && continue
    # shellcheck disable=SC2034  # list names the caller's array
    list["$name"]=${reason:-no reason given}
  done <"$1"
}

# Starts the sample server on a free port (its log appended to run/sampleserver.log, so that a
# restart keeps what came before) and points freetds.conf at it.
start_server() {
  local log=$run/sampleserver.log from=1
  [[ -f $log ]] && from=$(($(wc -l <"$log") + 1))
  "$server" --port 0 --data "$run/data" >>"$log" 2>&1 &
  server_pid=$!
  port=""
  for _ in $(seq 1 300); do
    port=$(tail -n +"$from" "$log" | sed -n 's/^sampleserver listening on [0-9.]*:\([0-9]*\)$/\1/p')
    [[ -n $port ]] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      cat "$log" >&2
      echo "peer-tests: the sample server did not start" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [[ -z $port ]]; then
    echo "peer-tests: the sample server did not report its port (see $log)" >&2
    exit 1
  fi
  cat >"$run/freetds.conf" <<EOF
[global]
	tds version = 5.0
	client charset = UTF-8
[SAMPLE]
	host = 127.0.0.1
	port = $port
	tds version = 5.0
EOF
  echo "peer-tests: sample server on 127.0.0.1:$port (log $log)" >&2
}

# A test that finds the server lacking a Microsoft-only feature says so and exits 0: that is a
# skip, not a pass. These are the sentences the three suites print in that case.
skip_pattern='skip test!|test not supported|probably not MSSQL|does not support XML|does not support long identifiers|Server does not support compute|Not possible for this platform'

classify() {  # classify RC LOG -> PASS FAIL TIMEOUT CRASH SKIPPED
  local rc=$1 log=$2
  if ((rc == 0)); then
    if grep -Eq "$skip_pattern" "$log"; then echo SKIPPED; else echo PASS; fi
  elif ((rc == 77)); then echo SKIPPED
  elif ((rc == 124 || rc == 137)); then echo TIMEOUT
  elif ((rc > 128)); then echo CRASH
  else echo FAIL
  fi
}

build_freetds
read_list "$top/tests/peers/expected-failures.txt" expected
read_list "$top/tests/peers/pending.txt" pending

run=$out/run
rm -rf "$run" "$out/logs"
mkdir -p "$run/data" "$out/logs"
trap 'kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
trap 'exit 130' INT TERM
start_server
printf 'SRV=SAMPLE\nUID=sa\nPWD=\nDB=tempdb\n' >"$run/PWD"
export FREETDSCONF=$run/freetds.conf TDSPWDFILE=$run/PWD
unset TDSVER TDSPORT TDSHOST TDSDUMP DSQUERY SYBASE

declare -A count=()
unexpected=()
stale=()
if [[ -n ${PEER_TESTS:-} ]]; then
  selected=$PEER_TESTS
else
  selected=$(for suite in $suites; do test_names "$suite" | sed "s|^|$suite/|"; done)
fi
for name in $selected; do
  suite=${name%%/*} test=${name#*/}
  log=$out/logs/$suite-$test.log
  start=$SECONDS
  set +e
  (cd "$tree/src/$suite/unittests" && exec timeout -k 5 "$timeout_s" "./$test") \
    </dev/null >"$log" 2>&1
  rc=$?
  set -e
  result=$(classify "$rc" "$log")
  count[$result]=$((${count[$result]:-0} + 1))
  note=""
  if [[ $result == PASS ]]; then
    if [[ -n ${expected[$name]:-} ]]; then
      note=" (listed as an expected failure: remove it)"; stale+=("$name")
    elif [[ -n ${pending[$name]:-} ]]; then
      note=" (listed as pending: remove it)"; stale+=("$name")
    fi
  else
    if [[ -n ${expected[$name]:-} ]]; then
      note=" (expected: ${expected[$name]})"
    elif [[ -n ${pending[$name]:-} ]]; then
      note=" (pending: ${pending[$name]})"
    elif [[ $result != SKIPPED ]]; then
      unexpected+=("$name")
      note=" (exit $rc)"
    fi
  fi
  printf '%-8s %-28s %3ss%s\n' "$result" "$name" "$((SECONDS - start))" "$note"
  # A known failure shows less of its log than one that fails the run.
  if [[ $result != PASS && $result != SKIPPED ]]; then
    lines=20
    [[ -z ${expected[$name]:-}${pending[$name]:-} ]] || lines=5
    tail -n "$lines" "$log" | sed 's/^/    | /'
  fi
  # The server ending under a test is a fault whatever the test's listing; the tests after it
  # get a new one.
  if ! kill -0 "$server_pid" 2>/dev/null; then
    wait "$server_pid" && rc=0 || rc=$?
    echo "peer-tests: the sample server ended (exit $rc) during $name; its log:" >&2
    tail -n 20 "$run/sampleserver.log" | sed 's/^/    | /' >&2
    unexpected+=("server-ended-during:$name")
    start_server
  fi
done

for name in "${!expected[@]}" "${!pending[@]}"; do
  grep -qx "$name" <<<"$selected" || [[ -n ${PEER_TESTS:-} ]] ||
    echo "peer-tests: $name is listed but is no test of the suite" >&2
done
echo "peer-tests: ${count[PASS]:-0} passed, ${count[FAIL]:-0} failed, ${count[TIMEOUT]:-0} timed out," \
  "${count[CRASH]:-0} crashed, ${count[SKIPPED]:-0} skipped; logs in $out/logs"
((${#stale[@]} == 0)) || echo "peer-tests: listed but passing now: ${stale[*]}"
if ((${#unexpected[@]} > 0)); then
  echo "peer-tests: unexpected failures: ${unexpected[*]}" >&2
  exit 1
fi
