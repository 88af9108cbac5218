#!/usr/bin/env bash
# Times an address request (the stand-in queue manager running) against the
# least program that delivers the same message, and compares peak memory;
# both run under Wine from the build's output folder.
#   bench/requests/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-9}

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" ZYPQueueAddURL ZYPQueueManager zyp_least_delivery zyp_delivery_bench
# Output through a file: the wineserver must never hold our stdout.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$ZYP_WINE64" "$bin/zyp_delivery_bench.exe" "$runs" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "${status:-0}"
