#!/usr/bin/env bash
# Runs the fuzz targets (the sample server's and the components') one after another, each for the
# given seconds on a copy of its committed corpus, and folds what they found back into that
# corpus, minimised (libFuzzer's -merge=1 into a fresh folder). Builds build-fuzz/ with clang.
#   scripts/fuzz.sh SECONDS [TARGET...]     every target when none is named
# Prints, per target, libFuzzer's last status line (executions, cov, ft, corpus) and the corpus
# size before and after; files named crash* (inputs that once crashed) are always kept. A crash, leak or time-out stops that target's run; its input is kept in
# build-fuzz/artifacts/TARGET/ and named in the output. Runs under nice -n 19.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift

cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNORV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in server/fuzz/fuzz_*.cpp components/fuzz/fuzz_*.cpp; do
    targets+=("$(basename "$src" .cpp)")
  done
fi
cmake --build "$top/build-fuzz" -j 2 --target "${targets[@]}"

status=0
for t in "${targets[@]}"; do
  if [ -f "server/fuzz/$t.cpp" ]; then area=server; else area=components; fi
  bin="$top/build-fuzz/$area/$t"
  corpus="$top/$area/fuzz/corpus/$t"
  work="$top/build-fuzz/corpora/$t"
  artifacts="$top/build-fuzz/artifacts/$t"
  log="$top/build-fuzz/logs/$t.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  cp -n "$corpus"/* "$work"/
  options=(-dict="$top/$area/fuzz/$t.dict" -timeout=30 -artifact_prefix="$artifacts/")
  # The reply target waits on sockets: a larger input holds a whole exchange.
  [ "$t" = fuzz_replies ] && options+=(-max_len=8192)
  nice -n 19 "$bin" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$work" \
    >"$log" 2>&1 || status=1
  echo "$t: $(grep -aE '^#[0-9]+' "$log" | tail -1)"
  grep -aE '^(stat::number_of_executed_units|SUMMARY|artifact_prefix)' "$log" || true

  fresh=$(mktemp -d)
  nice -n 19 "$bin" -merge=1 "${options[@]}" "$fresh" "$corpus" "$work" >"$log.merge" 2>&1
  before=$(du -sk "$corpus" | cut -f1)
  # Inputs that once crashed (crash*) stay whatever coverage they add now: the replay keeps them
  # fixed.
  find "$corpus" -type f ! -name 'crash*' -delete
  cp "$fresh"/* "$corpus"/
  rm -rf "$fresh"
  echo "$t: corpus $(ls "$corpus" | wc -l) files, ${before} KiB -> $(du -sk "$corpus" | cut -f1) KiB"
done
exit $status
