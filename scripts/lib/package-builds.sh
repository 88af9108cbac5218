#!/usr/bin/env bash
# The two release builds that scripts/lib/package-check.sh compares, made in
# the given folder: build/package with its archives in <folder>/dist-1, and a
# copy of the sources in another folder, built later and without the compiler
# cache, in <folder>/build-2 with its archives in <folder>/dist-2.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
work=$1
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

echo "== package, build 1: build/package"
scripts/package build/package "$work/dist-1" >/dev/null
echo "== package, build 2: a copy of the sources in another folder, no compiler cache"
mkdir "$work/src"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$work/src"
env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
  "$work/src/scripts/package" "$work/build-2" "$work/dist-2" >/dev/null
