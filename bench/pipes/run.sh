#!/usr/bin/env bash
# Times the pipe client against raw pipe calls (send and receive of 64 MiB)
# and measures the memory a process needs to receive one 256 MiB message;
# runs under Wine from the build's output folder.
#   bench/pipes/run.sh [build folder] [runs]   (defaults: build/windows, 5)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(cd "$root" && mkdir -p "${1:-build/windows}" && cd "${1:-build/windows}" && pwd)
runs=${2:-5}

cd "$root"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows -B "$build" >/dev/null
fi
cmake --build "$build" --target zyp_pipe_bench >/dev/null

. "$root/cmake/wine-env.sh"
zyp_wine_env "$build"
zyp_wine_prefix
zyp_wine_server
# Output through a file: the wineserver must never hold our stdout. The bound
# keeps a hung pipe from holding the run for ever.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
timeout 600 /usr/lib/wine/wine64 "$build/bin/zyp_pipe_bench.exe" "$runs" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "${status:-0}"
