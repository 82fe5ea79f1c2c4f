#!/usr/bin/env bash
# Installs the built components into a temporary prefix, builds examples/console and examples/grid
# against that prefix alone (find_package(Norv) through CMAKE_PREFIX_PATH; the console example
# once more through pkg-config's norv.pc), and runs both against the sample server, checking what
# they print. Builds first (scripts/dev.sh build). Run by CI after the test suite.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/dev.sh" build

work=$(mktemp -d)
prefix=$work/prefix
trap 'rm -rf "$work"' EXIT
source "$top/scripts/sample-server.sh"

fail() { echo "examples.sh: $*" >&2; exit 1; }

cmake --install "$top/build" --prefix "$prefix" >/dev/null
[[ -f $prefix/include/norv/connection/norvdatabase.h ]] || fail "public headers not installed"
[[ ! -e $prefix/include/norv/connection/openclient_internal.h ]] || fail "a private header was installed"

# Each example is its own project and sees only the installed package: no package registry, no
# source tree.
for example in console grid; do
  cmake -S "$top/examples/$example" -B "$work/$example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >"$work/$example.log" ||
    { cat "$work/$example.log" >&2; fail "configuring examples/$example failed"; }
  cmake --build "$work/$example" >>"$work/$example.log" ||
    { cat "$work/$example.log" >&2; fail "building examples/$example failed"; }
done
# The same console program through norv.pc.
export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name norv.pc)")
# shellcheck disable=SC2046  # the flags are separate words
c++ -std=c++20 -o "$work/norvselect-pc" "$top/examples/console/main.cpp" \
  $(pkg-config --cflags --libs norv) || fail "building examples/console through norv.pc failed"

start_sample_server "$work/data"
trap 'stop_sample_server; rm -rf "$work"' EXIT
export SYBASE=$work/data NORV_USER=sa NORV_PASSWORD=

# The console program: the authors of pubs2, one a line.
for program in "$work/console/norvselect" "$work/norvselect-pc"; do
  "$program" SAMPLE "select au_lname from pubs2..authors order by au_lname" >"$work/console.out" ||
    fail "$program failed"
  [[ $(wc -l <"$work/console.out") -eq 25 && $(head -n 1 "$work/console.out") == Abernathy ]] ||
    { cat "$work/console.out" >&2; fail "$program did not list pubs2's 25 authors"; }
done
echo "examples/console: 25 authors listed (CMake package and norv.pc builds)"

# The grid program, headless: a script of two statements, listed with headers and row counts.
cat >"$work/script.sql" <<'SQL'
select au_lname, state from pubs2..authors where state = 'CA' order by au_lname
go
select count(*) from pubs2..titles
go
SQL
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work timeout 60 "$work/grid/norvgridview" \
  --exit-after-listing SAMPLE "$work/script.sql" >"$work/grid.out" || fail "norvgridview failed"
# Six Californian authors with a row count, then the count of titles; 14 lines in all with the
# headers and the spare lines below each result set.
for line in $'6\tYoshida\tCA' $'\t(6 rows affected)\t' $'1\t24\t' 'grid rows: 14'; do
  grep -qxF "$line" "$work/grid.out" ||
    { cat "$work/grid.out" >&2; fail "norvgridview's listing lacks the line '$line'"; }
done
echo "examples/grid: the script's two result sets listed in the grid (14 lines)"
