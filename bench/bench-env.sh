# Shared by the benchmark scripts: the build folder, its Wine prefix and the
# stand-in queue manager. Source it after setting `root`.

# zyp_bench_build [build folder] TARGET... — configures the folder when it is
# new (default build/windows), builds the targets, prepares Wine, and sets
# `build` and `bin` (cmake/wine-env.sh sets ZYP_WINE64, which runs Windows programs).
zyp_bench_build() {
  build=$(cd "$root" && mkdir -p "${1:-build/windows}" && cd "${1:-build/windows}" && pwd)
  shift
  cd "$root"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset windows -B "$build" >/dev/null
  fi
  cmake --build "$build" --target "$@" >/dev/null
  . "$root/cmake/wine-env.sh"
  zyp_wine_env "$build"
  zyp_wine_prefix
  zyp_wine_server
  bin=$build/bin
}

# zyp_bench_start_manager JOURNAL — starts the stand-in queue manager, which
# journals into JOURNAL (a Unix path), and waits until it is ready; sets
# `manager` to its process id. zyp_bench_stop_manager ends it.
manager=""
zyp_bench_start_manager() {
  export ZYP_JOURNAL="Z:${1//\//\\}"
  ZYP_QM_IDLE_MS=600000 "$ZYP_WINE64" "$bin/ZYPQueueManager.exe" </dev/null >/dev/null 2>&1 &
  manager=$!
  for _ in $(seq 100); do
    grep -q '"event":"ready"' "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "the stand-in queue manager did not come up" >&2
  return 1
}

zyp_bench_stop_manager() {
  if [ -n "$manager" ]; then
    kill "$manager" 2>/dev/null || true
    wait "$manager" 2>/dev/null || true
  fi
}
