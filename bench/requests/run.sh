#!/usr/bin/env bash
# Times an address request (the stand-in queue manager running) against the
# least program that delivers the same message, and compares peak memory;
# both run under Wine from the build's output folder.
#   bench/requests/run.sh [build folder] [runs]   (defaults: build/windows, 9)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$root" && mkdir -p "${1:-build/windows}" && cd "${1:-build/windows}" && pwd)
runs=${2:-9}

cd "$root"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows -B "$build" >/dev/null
fi
cmake --build "$build" --target ZYPQueueAddURL ZYPQueueManager zyp_least_delivery zyp_delivery_bench >/dev/null

. "$root/cmake/wine-env.sh"
zyp_wine_env "$build"
zyp_wine_prefix
zyp_wine_server
# Output through a file: the wineserver must never hold our stdout.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
/usr/lib/wine/wine64 "$build/bin/zyp_delivery_bench.exe" "$runs" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "${status:-0}"
