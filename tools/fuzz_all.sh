#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 600), two at a time,
# from its seed corpus, and prints per target the executions, the coverage
# (edges, features) and the time. Builds the targets first (clang, native).
#   tools/fuzz_all.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-600}
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DMARVIK_FUZZ=ON >/dev/null
targets=$(sed -n 's/^foreach(t \(.*\))/\1/p' fuzz/CMakeLists.txt | tr ' ' '\n' | sort -u)
cmake --build build/fuzz -j2 --target $(printf 'marvik_fuzz_%s ' $targets) >/dev/null
corpus=build/fuzz/fuzz/corpus
logs=build/fuzz/logs
mkdir -p "$logs"
run() {
  local t=$1 seeds=()
  mkdir -p "$corpus/$t"
  [ -d "fuzz/seeds/$t" ] && seeds=("fuzz/seeds/$t")
  build/fuzz/fuzz/marvik_fuzz_$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$logs/$t-" \
    "$corpus/$t" "${seeds[@]}" >"$logs/$t.log" 2>&1 || echo "fuzz_all: $t FAILED (see $logs/$t.log)"
}
export -f run
export seconds corpus logs
printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run {}'
total=0
printf '%-16s %14s %8s %8s %8s\n' target executions edges features seconds
for t in $targets; do
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$t.log" | tail -1)
  done_line=$(grep -E '^#[0-9]+.*(DONE|cov:)' "$logs/$t.log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
  time=$(sed -n 's/^stat::.*time.*: *//p' "$logs/$t.log" | tail -1)
  printf '%-16s %14s %8s %8s %8s\n' "$t" "${execs:-0}" "${cov:-?}" "${ft:-?}" "$seconds"
  total=$((total + ${execs:-0}))
done
printf '%-16s %14s\n' all "$total"
