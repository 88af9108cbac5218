#!/usr/bin/env bash
# Where an address request's time goes: runs the phase-timed build of the
# program (same sources, same order) beside the stand-in queue manager and
# prints the median of each phase, then the run-time and memory comparison
# against the least delivering program (bench/requests).
#   bench/lifecycle/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-9}
[ "$runs" -ge 5 ] || { echo "at least 5 runs" >&2; exit 2; }

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" ZYPQueueManager zyp_lifecycle_phases

work=$(mktemp -d)
export ZYP_PHASES="Z:${work//\//\\}\\phases.txt"
trap 'zyp_bench_stop_manager; rm -rf "$work"' EXIT
zyp_bench_start_manager "$work/journal.jsonl"

"$ZYP_WINE64" "$bin/zyp_lifecycle_phases.exe" http://www.example.com/file.zip </dev/null >/dev/null 2>&1 || true
: >"$work/phases.txt"  # the warm-up's phases are not counted
for _ in $(seq "$runs"); do
  "$ZYP_WINE64" "$bin/zyp_lifecycle_phases.exe" http://www.example.com/file.zip </dev/null >/dev/null 2>&1 || true
done
echo "phases of an address request, manager running ($runs runs, medians):"
printf '  %-34s %9s %12s %12s\n' phase ms "private KiB" "peak KiB"
awk '{ for (c = 2; c <= 4; c++) v[$1, c] = v[$1, c] " " $c
       if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
     function median(list,   cmd, m, a, x) {
       cmd = "echo" list " | tr \" \" \"\\n\" | sort -g"
       m = 0; while ((cmd | getline x) > 0) if (x != "") a[++m] = x; close(cmd)
       return (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2 }
     END { for (i = 1; i <= n; i++)
             printf "  %-34s %9.1f %12.0f %12.0f\n", order[i], median(v[order[i], 2]),
                    median(v[order[i], 3]), median(v[order[i], 4]) }' "$work/phases.txt"
messages=$(grep -c '"event":"message"' "$work/journal.jsonl" || true)
echo "the manager received $messages messages for $((runs + 1)) runs"

kill "$manager" 2>/dev/null || true
wait "$manager" 2>/dev/null || true
manager=""
echo
"$root/bench/requests/run.sh" "$build" "$runs"
