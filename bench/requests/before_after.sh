#!/usr/bin/env bash
# The address request before and after a change, in one run: builds
# ZYPQueueAddURL at an earlier revision in a folder of its own, puts it beside
# the current build as ZYPQueueAddURL-before.exe and runs the delivery bench
# with both and the least delivering program, alternately; prints medians and
# the ratios to the least program and after / before.
#   bench/requests/before_after.sh [revision] [runs]   (defaults: main, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
revision=${1:-main}
runs=${2:-9}

earlier=$(mktemp -d)
trap 'rm -rf "$earlier"; rm -f "${bin:-/nonexistent}/ZYPQueueAddURL-before.exe"' EXIT
git -C "$root" archive "$revision" | tar -x -C "$earlier"
(cd "$earlier" && cmake --preset windows >/dev/null && cmake --build --preset windows --target ZYPQueueAddURL >/dev/null)

. "$root/bench/bench-env.sh"
zyp_bench_build "" ZYPQueueAddURL ZYPQueueManager zyp_least_delivery zyp_delivery_bench
cp "$earlier/build/windows/bin/ZYPQueueAddURL.exe" "$bin/ZYPQueueAddURL-before.exe"
echo "before: $(git -C "$root" rev-parse --short "$revision"), after: the work tree"
out=$(mktemp)
trap 'rm -rf "$earlier" "$out"; rm -f "$bin/ZYPQueueAddURL-before.exe"' EXIT
"$ZYP_WINE64" "$bin/zyp_delivery_bench.exe" "$runs" ZYPQueueAddURL-before.exe </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "${status:-0}"
