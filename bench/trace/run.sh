#!/usr/bin/env bash
# What ZYP_TRACE costs. First dispatch alone, against fakes (the trace off,
# as without ZYP_TRACE, and on); then whole runs of the real program under
# Wine: a START request to the running stand-in queue manager (no closing
# pause to hide a difference), alternately without ZYP_TRACE, with ZYP_TRACE
# naming a file, and with ZYP_TRACE empty. Prints the medians and ratios.
#   bench/trace/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-9}
[ "$runs" -ge 5 ] || { echo "at least 5 runs" >&2; exit 2; }

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" ZYPQueueAddURL ZYPQueueManager zyp_trace_bench

work=$(mktemp -d)
trap 'zyp_bench_stop_manager; rm -rf "$work"' EXIT
# Output through a file: the wineserver must never hold our stdout.
"$ZYP_WINE64" "$bin/zyp_trace_bench.exe" </dev/null >"$work/micro.txt" 2>&1
cat "$work/micro.txt"

zyp_bench_start_manager "$work/journal.jsonl"
trace_unix=$work/trace.jsonl
trace_windows="Z:${trace_unix//\//\\}"

# Milliseconds one run takes, start to end; the environment comes first.
time_run() {
  local start end
  start=$(date +%s%N)
  env "$@" "$ZYP_WINE64" "$bin/ZYPQueueAddURL.exe" START </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

time_run -u ZYP_TRACE >/dev/null
time_run ZYP_TRACE="$trace_windows" >/dev/null
rm -f "$trace_unix"
unset_runs=() traced=() empty=()
for _ in $(seq "$runs"); do
  unset_runs+=("$(time_run -u ZYP_TRACE)")
  traced+=("$(time_run ZYP_TRACE="$trace_windows")")
  empty+=("$(time_run ZYP_TRACE=)")
done
u=$(median "${unset_runs[@]}")
t=$(median "${traced[@]}")
e=$(median "${empty[@]}")
lines=$(wc -l <"$trace_unix")
bytes=$(wc -c <"$trace_unix")
echo "whole runs of START, stand-in queue manager running:"
echo "  without ZYP_TRACE: ${unset_runs[*]} ms -> median $u ms"
echo "  ZYP_TRACE empty:   ${empty[*]} ms -> median $e ms"
echo "  ZYP_TRACE a file:  ${traced[*]} ms -> median $t ms"
echo "  ratio empty / without: $(awk -v a="$e" -v b="$u" 'BEGIN { printf "%.2f", a / b }')"
echo "  ratio traced / without: $(awk -v a="$t" -v b="$u" 'BEGIN { printf "%.2f", a / b }')"
echo "  the trace file holds $lines lines, $bytes bytes, for $runs traced runs"
