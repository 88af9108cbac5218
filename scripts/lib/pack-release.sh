#!/usr/bin/env bash
# Writes the release archives of a built Windows tree into a dist folder:
# CPack's product and test-peer archives, packed again so that they are
# reproducible, the extension's archive for each browser family, and the
# Windows Installer packages that the tree's build made (installer/). The
# tree is scripts/package's (the `package` preset) or the `windows` preset's,
# whose shipped programs are built the same way. Every time in the archives
# and packages is SOURCE_DATE_EPOCH, which must be set.
#   scripts/lib/pack-release.sh <build folder> <dist folder>
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
build=$(cd "$1" && pwd)
dist=$(mkdir -p "$2" && cd "$2" && pwd)
: "${SOURCE_DATE_EPOCH:?must be set}"

# Quiet unless something fails; then the whole output shows why.
log=$build/package.log
quiet() { "$@" >"$log" 2>&1 || { cat "$log" >&2; echo "scripts/lib/pack-release.sh: failed: $*" >&2; exit 1; }; }
rm -f "$build"/*.zip
(cd "$build" && quiet cpack -G ZIP)

# Archives hold one time, fixed modes and sorted names, and no extra fields.
pack() { # folder, zip file
  local folder=$1 zip=$2
  find "$folder" -type d -exec chmod 755 {} +
  find "$folder" -type f -exec chmod 644 {} +
  find "$folder" -type f -name '*.exe' -exec chmod 755 {} +
  find "$folder" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  rm -f "$zip"
  (cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -q -X -D -9 "$zip" -@)
}
# CPack's archives carry each file's access and change times and its owner:
# they are packed again.
repack() { # zip file
  local zip=$1 tmp
  tmp=$(mktemp -d)
  (cd "$tmp" && cmake -E tar xf "$zip")
  pack "$tmp" "$zip"
  rm -rf "$tmp"
}
for zip in "$build"/*.zip; do repack "$zip"; done

# The browser extension, one archive per browser family as its store takes
# it, each with a manifest of its own made from the one source.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
for family in chromium firefox; do
  tmp=$(mktemp -d)
  quiet node scripts/lib/extension-family.mjs "$family" "$tmp/extension" --store
  pack "$tmp/extension" "$build/ZYP-extension-$version-$family.zip"
  rm -rf "$tmp"
done

# The packages are the build's own; it makes them again only when they
# carry another time than SOURCE_DATE_EPOCH.
quiet cmake --build "$build" --target zyp_installers

for file in "$build"/*.zip "$build"/installer/*.msi; do
  cp "$file" "$dist/"
  (cd "$dist" && sha256sum "$(basename "$file")")
done
