#!/usr/bin/env bash
# The browser host's figures under Wine: request in to reply out against the
# program's own run (the host may add at most 30 ms at the median), the
# host's memory with eight runs in flight, and the pipelined test at full
# size (1,000 requests, each answered and delivered once).
#   bench/host/run.sh [build folder] [runs] [pipelined]   (defaults: build/windows, 15, 1000)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
runs=${2:-15}
pipelined=${3:-1000}

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" zyp_host_bench e2e_browser_host_tests
# Output through a file: the wineserver must never hold our stdout.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
ZYP_HOST_BENCH_RUNS=$runs "$ZYP_WINE64" "$bin/zyp_host_bench.exe" </dev/null >"$out" 2>&1 || status=$?
grep -v '^\[ *\(RUN\|OK\) *\]' "$out" | grep -v '^Running main' || true
started=$(date +%s.%N)
ZYP_HOST_PIPELINED=$pipelined "$ZYP_WINE64" "$bin/e2e_browser_host_tests.exe" --gtest_filter='*Pipelined*' \
  </dev/null >"$out" 2>&1 || status=$?
grep -E 'FAILED|Failure|PASSED' "$out" || true
echo "$pipelined pipelined requests: $(echo "$(date +%s.%N) - $started" | bc) s"
exit "$status"
