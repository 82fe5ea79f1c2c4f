#!/usr/bin/env bash
# Mutation run: do the tests catch real faults?
#
#   scripts/mutate.sh [-R regex] [-t targets] [-x] [-b dir] [patch...]
#
# Each patch under tests/mutants/ (or those named) plants one realistic fault in the code; it is a
# plain `git diff` patch named for what it breaks. In turn, each is applied to the work tree with
# `git apply`, the suite is rebuilt incrementally in its own build folder (build-mutants/, through
# ccache when it is installed) and run with ctest, and the patch is taken back out with
# `git apply -R` -- also when the run is interrupted or fails, so the tree is never left dirty.
# One line a patch:
#   KILLED <name>     a test failed: the fault is caught
#   SURVIVED <name>   every test passed with the fault in place
#   STALE <name>      the patch no longer applies (or no longer builds): refresh it
# then the kill rate. The exit status is non-zero when any patch survived or is stale.
#
#   -R regex   run only the ctest tests matching regex (test names are Suite.Test), to keep a run
#              short while working on one component; the full suite is the default
#   -t targets build only these targets (space-separated, e.g. "test_dataset test_bulk"): with -R,
#              for a quick run over the code one component's tests cover
#   -x         stop each mutant's ctest at its first failing test (--stop-on-failure)
#   -b dir     build folder (default build-mutants)
# Each mutant's ctest output is kept in <build folder>/mutants/<name>.log.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

regex=""
stop=()
build_dir=build-mutants
targets=()
while getopts "R:t:xb:" opt; do
  case $opt in
    R) regex=$OPTARG ;;
    t) read -ra targets <<<"$OPTARG" ;;
    x) stop=(--stop-on-failure) ;;
    b) build_dir=$OPTARG ;;
    *) sed -n '2,23p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

if (($#)); then
  patches=("$@")
else
  shopt -s nullglob
  patches=(tests/mutants/*.patch)
fi
((${#patches[@]})) || { echo "no mutants under tests/mutants/" >&2; exit 2; }

# The patch in place now; taken out on any exit.
applied=""
restore() {
  if [[ -n $applied ]]; then
    git apply -R "$applied" || echo "could not take $applied back out: check git status" >&2
    applied=""
  fi
}
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM

if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
jobs=$(nproc 2>/dev/null || echo 2)
((jobs > 2)) && jobs=2
build=(cmake --build "$build_dir" -j "$jobs")
((${#targets[@]})) && build+=(--target "${targets[@]}")

# The unmutated tree must build and pass, or every mutant would look killed.
cmake -S "$top" -B "$build_dir" -G Ninja >/dev/null || exit 2
"${build[@]}" >/dev/null || { echo "the tree does not build" >&2; exit 2; }
mkdir -p "$build_dir/mutants"
ctest_args=(--test-dir "$build_dir" -j "$jobs" --timeout 300)
[[ -n $regex ]] && ctest_args+=(-R "$regex")
if ! ctest "${ctest_args[@]}" >"$build_dir/mutants/baseline.log" 2>&1; then
  echo "the suite fails without any mutant: see $build_dir/mutants/baseline.log" >&2
  exit 2
fi

killed=0 survived=0 stale=0
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  if ! git apply --check "$patch" 2>/dev/null; then
    echo "STALE $name"
    ((++stale))
    continue
  fi
  applied=$patch
  git apply "$patch" || { applied=""; echo "STALE $name"; ((++stale)); continue; }
  log="$build_dir/mutants/$name.log"
  if ! "${build[@]}" >"$log" 2>&1; then
    echo "STALE $name (does not build)"
    ((++stale))
  elif ctest "${ctest_args[@]}" "${stop[@]}" >>"$log" 2>&1; then
    echo "SURVIVED $name"
    ((++survived))
  else
    echo "KILLED $name"
    ((++killed))
  fi
  restore
done

# Leave the build folder matching the tree.
"${build[@]}" >/dev/null 2>&1
total=$((killed + survived + stale))
echo "kill rate: $killed/$total ($((100 * killed / total))%)"
((survived == 0 && stale == 0))
