#!/usr/bin/env bash
# Release checks, run by scripts/test once the `windows` preset is built:
# - reproducible: the programs of the `windows` preset (those the tests ran),
#   their archives and Windows Installer packages, and scripts/package run on
#   a copy of the sources in another folder, later and without the compiler
#   cache, are byte-identical; a difference is named;
# - shippable: the product archive, unpacked into a new folder, checks against
#   its SHA256SUMS and, in a fresh Wine prefix, delivers a request to the
#   stand-in queue manager from the test-peer archive; each browser family's
#   extension archive holds the extension with its manifest and nothing of
#   the tests.
# Given a folder where scripts/lib/release-build.sh has made its build, it
# checks that one; without one, it makes it first. Either way the folder is
# removed at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
. cmake/wine-env.sh

if [ $# -ge 1 ]; then
  work=$1
else
  work=$(mktemp -d)
fi
cleanup() {
  if [ -d "$work/vendor/wineprefix" ]; then
    WINEPREFIX="$work/vendor/wineprefix" "$ZYP_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
tested=build/windows
if [ ! -f "$tested/bin/ZYPQueueAddURL.exe" ]; then
  echo "build the windows preset first: $tested/bin holds no programs"
  exit 1
fi
[ $# -ge 1 ] || scripts/lib/release-build.sh "$work"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
echo "== the windows preset's archives"
scripts/lib/pack-release.sh "$tested" "$work/dist-1" >/dev/null

status=0
differs() { # what, file 1, file 2
  echo "NOT REPRODUCIBLE: $1 differs: $(cmp "$2" "$3" 2>&1 | head -1)"
  status=1
}
for exe in ZYPQueueAddURL.exe ZYPBrowserHost.exe ZYPQueueManager.exe ZYPLinkExplorer.exe; do
  cmp -s "$tested/bin/$exe" "$work/build-2/bin/$exe" || differs "bin/$exe" "$tested/bin/$exe" "$work/build-2/bin/$exe"
done
# What a file of dist holds, unpacked into a folder: an archive's files; a
# Windows Installer package's tables and streams (its summary information
# among them) and the files it installs.
unpack() { # file, folder
  mkdir -p "$2"
  case $1 in
    *.zip) (cd "$2" && cmake -E tar xf "$1") ;;
    *.msi)
      (cd "$2" && msidump --tables --streams "$1" >/dev/null)
      msiextract --directory "$2/installed" "$1" >/dev/null
      ;;
  esac
}
for file in "$work"/dist-1/*.zip "$work"/dist-1/*.msi; do
  name=$(basename "$file")
  if ! cmp -s "$file" "$work/dist-2/$name"; then
    differs "$name" "$file" "$work/dist-2/$name"
    unpack "$file" "$work/x1/$name"
    unpack "$work/dist-2/$name" "$work/x2/$name"
    inside=$(diff -rq "$work/x1/$name" "$work/x2/$name" | sed "s|$work/x[12]/||g" || true)
    [ -n "$inside" ] || inside="  (the same inside: the file's own fields differ)"
    echo "$inside"
  fi
  echo "$(sha256sum "$file" | cut -d' ' -f1)  $name"
done
[ $status -eq 0 ] && echo "reproducible: both builds gave the same programs, archives and packages"

echo "== the browser extension as the stores get it"
for family in chromium firefox; do
  zip=$(ls "$work"/dist-1/ZYP-extension-*-"$family".zip)
  files=$(cmake -E tar tf "$zip")
  echo "$(basename "$zip"): $(echo "$files" | tr '\n' ' ')"
  if ! grep -qx manifest.json <<<"$files" || grep -qE '^test(ing)?/' <<<"$files"; then
    echo "the $family extension archive lacks its manifest or holds test files"
    status=1
  fi
done

echo "== the product archive as a vendor gets it"
product=$(ls "$work"/dist-1/*-win64.zip)
peers=$(ls "$work"/dist-1/*-win64-testpeers.zip)
vendor=$work/vendor
mkdir -p "$vendor/product" "$vendor/testpeers"
(cd "$vendor/product" && cmake -E tar xf "$product")
(cd "$vendor/testpeers" && cmake -E tar xf "$peers")
echo "contents: $(cd "$vendor/product" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')"
(cd "$vendor/product" && sha256sum --quiet -c SHA256SUMS) || { echo "SHA256SUMS does not match the files"; status=1; }
if [ -e "$vendor/product/ZYPQueueManager.exe" ] || [ -e "$vendor/product/ZYPLinkExplorer.exe" ]; then
  echo "the product archive holds a stand-in companion"
  status=1
fi

zyp_wine_env "$vendor"
zyp_wine_prefix
zyp_wine_server
journal=$vendor/journal.jsonl
export ZYP_JOURNAL="Z:${journal//\//\\}" ZYP_QM_IDLE_MS=600000
"$ZYP_WINE64" "$vendor/testpeers/ZYPQueueManager.exe" </dev/null >/dev/null 2>&1 &
manager=$!
for _ in $(seq 200); do
  grep -q '"event":"ready"' "$journal" 2>/dev/null && break
  sleep 0.1
done
address=http://downloads.example.com/release-check.zip
rc=0
(cd "$vendor/product" && "$ZYP_WINE64" ZYPQueueAddURL.exe "$address" "cookielist=id=42" </dev/null >/dev/null 2>&1) || rc=$?
if [ $rc -eq 0 ] && grep -q "\"event\":\"message\".*\"address\":\"$address\"" "$journal"; then
  echo "delivered: the unpacked program handed $address to the stand-in queue manager"
else
  echo "NOT DELIVERED: the unpacked program exited with $rc; the queue manager recorded:"
  cat "$journal" 2>/dev/null || echo "(nothing)"
  status=1
fi
# The browser host beside it, as a browser starts it: one framed request in,
# one framed reply out.
address=http://downloads.example.com/through-the-host.zip
reply=$(python3 -c '
import json, struct, sys
request = json.dumps({"type": "add", "id": 1, "url": sys.argv[1]}).encode()
sys.stdout.buffer.write(struct.pack("<I", len(request)) + request)' "$address" |
  (cd "$vendor/product" && "$ZYP_WINE64" ZYPBrowserHost.exe 2>/dev/null) | tail -c +5) || true
if [[ $reply == *'"outcome":"delivered"'* ]] && grep -q "\"event\":\"message\".*\"address\":\"$address\"" "$journal"; then
  echo "delivered: the unpacked browser host handed $address to the stand-in queue manager"
else
  echo "NOT DELIVERED through the browser host: it replied ${reply:-nothing}"
  status=1
fi
kill "$manager" 2>/dev/null || true
wait "$manager" 2>/dev/null || true
exit $status
