#!/usr/bin/env bash
# Times a control request (START, with the stand-in queue manager running)
# against a program that does nothing, both run under Wine from the build's
# output folder, and prints the medians and their ratio.
#   bench/control/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$root" && mkdir -p "${1:-build/windows}" && cd "${1:-build/windows}" && pwd)
runs=${2:-9}
[ "$runs" -ge 5 ] || { echo "at least 5 runs" >&2; exit 2; }

cd "$root"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows -B "$build" >/dev/null
fi
cmake --build "$build" --target ZYPQueueAddURL ZYPQueueManager zyp_idle_program >/dev/null

. "$root/cmake/wine-env.sh"
zyp_wine_env "$build"
zyp_wine_prefix
zyp_wine_server
wine=/usr/lib/wine/wine64
bin=$build/bin

work=$(mktemp -d)
journal_unix=$work/journal.jsonl
export ZYP_JOURNAL="Z:${journal_unix//\//\\}"
manager=""
cleanup() {
  # The manager was started above and is ended by its own process id.
  if [ -n "$manager" ]; then
    kill "$manager" 2>/dev/null || true
    wait "$manager" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

ZYP_QM_IDLE_MS=60000 "$wine" "$bin/ZYPQueueManager.exe" </dev/null >/dev/null 2>&1 &
manager=$!
for _ in $(seq 100); do
  grep -q '"event":"ready"' "$journal_unix" 2>/dev/null && break
  sleep 0.1
done
grep -q '"event":"ready"' "$journal_unix" || { echo "the stand-in queue manager did not come up" >&2; exit 1; }

# Milliseconds one run of the program takes, start to end.
time_run() {
  local start end
  start=$(date +%s%N)
  "$wine" "$bin/$1" "${@:2}" </dev/null >/dev/null 2>&1
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
