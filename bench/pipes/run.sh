#!/usr/bin/env bash
# Times the pipe client against raw pipe calls (send and receive of 64 MiB)
# and measures the memory a process needs to receive one 256 MiB message;
# runs under Wine from the build's output folder.
#   bench/pipes/run.sh [build folder] [runs]   (defaults: build/windows, 5)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-5}

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" zyp_pipe_bench
# Output through a file: the wineserver must never hold our stdout. The bound
# keeps a hung pipe from holding the run for ever.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timeout 600 "$ZYP_WINE64" "$bin/zyp_pipe_bench.exe" "$runs" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "${status:-0}"
