#!/usr/bin/env bash
# The release build that scripts/lib/package-check.sh compares with the
# `windows` preset's programs: scripts/package run on a copy of the sources in
# another folder, at another time and without the compiler cache, into
# <folder>/build-2 with its archives in <folder>/dist-2.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
work=$1
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

echo "== release build: a copy of the sources in another folder, no compiler cache"
mkdir "$work/src"
git ls-files -z --cached --others --exclude-standard |
  tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$work/src"
env -u CMAKE_CXX_COMPILER_LAUNCHER -u CMAKE_C_COMPILER_LAUNCHER CCACHE_DISABLE=1 \
  "$work/src/scripts/package" "$work/build-2" "$work/dist-2" >/dev/null
