#!/usr/bin/env bash
# Load figures for the program under Wine, beside one stand-in queue manager:
# N copies started at once (each with its own address, cookie list and page
# title), M requests one after another, the longest list the command line
# carries, and a 10,000-address list in a parameter file. It runs the
# end-to-end load tests at full size, so every figure comes with the checks
# that each request arrived once, unchanged, in order where it must, and with
# its cookie file.
#   bench/load/run.sh [build folder] [at once] [in a row]
#   (defaults: build/windows, 100, 1000; 1000 in a row take about 20 minutes)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
at_once=${2:-100}
in_a_row=${3:-1000}

. "$root/bench/bench-env.sh"
zyp_bench_build "${1:-}" e2e_load_tests
# Output through a file: the wineserver must never hold our stdout.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
ZYP_LOAD_AT_ONCE=$at_once ZYP_LOAD_IN_A_ROW=$in_a_row \
  "$ZYP_WINE64" "$bin/e2e_load_tests.exe" </dev/null >"$out" 2>&1 || status=$?
# The figures, and any failure with its message.
grep -v '^\[ *\(RUN\|OK\) *\]' "$out" | grep -v '^Running main' || true
exit "$status"
