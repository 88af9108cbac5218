#!/usr/bin/env bash
# Times a control request (START, with the stand-in queue manager running)
# against a program that does nothing, both run under Wine from the build's
# output folder, and prints the medians and their ratio.
#   bench/control/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-9}
[ "$runs" -ge 5 ] || { echo "at least 5 runs" >&2; exit 2; }

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" ZYPQueueAddURL ZYPQueueManager zyp_idle_program

work=$(mktemp -d)
journal_unix=$work/journal.jsonl
trap 'zyp_bench_stop_manager; rm -rf "$work"' EXIT
zyp_bench_start_manager "$journal_unix"

# Milliseconds one run of the program takes, start to end.
time_run() {
  local start end
  start=$(date +%s%N)
  "$ZYP_WINE64" "$bin/$1" "${@:2}" </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One warm-up of each, then the two alternate so that both meet the same load.
time_run zyp_idle_program.exe >/dev/null
time_run ZYPQueueAddURL.exe START >/dev/null
control=() idle=()
for _ in $(seq "$runs"); do
  control+=("$(time_run ZYPQueueAddURL.exe START)")
  idle+=("$(time_run zyp_idle_program.exe)")
done

received=$(grep -c '"event":"progress"' "$journal_unix" || true)
connections=$(grep -c '"event":"connect"' "$journal_unix" || true)
c=$(median "${control[@]}")
i=$(median "${idle[@]}")
echo "control request START, manager running: ${control[*]} ms -> median $c ms"
echo "program that does nothing:              ${idle[*]} ms -> median $i ms"
echo "ratio control / nothing: $(awk -v c="$c" -v i="$i" 'BEGIN { printf "%.2f", c / i }')"
echo "the manager received $received control messages for $((runs + 1)) requests and $connections pipe connections"
