#!/usr/bin/env bash
# Shows that two builds behave the same end to end: the same fixed requests
# (the sample of scripts/run, every vector of docs/vectors.jsonl, and a few
# more list and control requests) run through each build's ZYPQueueAddURL.exe
# under Wine, beside that build's stand-in companions, in one scratch prefix;
# then the journals, exit codes, cookie files and registry values of the two
# are compared byte for byte, with only the process ids and tick counts in the
# journal masked. Prints "same", or the differences and exits with 1.
#   bench/journal/same_journal.sh BEFORE_BUILD AFTER_BUILD [REPORTS]
# BEFORE_BUILD and AFTER_BUILD are build folders holding bin/ with
# ZYPQueueAddURL, ZYPQueueManager and ZYPLinkExplorer built; REPORTS, a folder
# that receives what each build left (before.txt, after.txt). A run takes
# about 5 minutes per build; ZYP_SAME_JOURNAL_ONLY=REGEX runs only the
# requests whose name matches.
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BEFORE_BUILD AFTER_BUILD [REPORTS]" >&2
  exit 2
fi
reports=""
[ $# -lt 3 ] || reports=$(mkdir -p "$3" && cd "$3" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
builds=()
for build in "$1" "$2"; do
  for exe in ZYPQueueAddURL ZYPQueueManager ZYPLinkExplorer; do
    [ -f "$build/bin/$exe.exe" ] || { echo "no $build/bin/$exe.exe: build it first" >&2; exit 2; }
  done
  builds+=("$(cd "$build" && pwd)")
done

. "$root/cmake/wine-env.sh"
work=$(mktemp -d)
cleanup() {
  [ -z "${WINEPREFIX:-}" ] || "$ZYP_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# Both builds run in this one prefix from the same folder, so that paths in
# command lines and journals are the same for both.
zyp_wine_env "$work"
zyp_wine_prefix
ZYP_WINESERVER_PERSIST= zyp_wine_server
python3 "$here/same_journal.py" "$root/docs/vectors.jsonl" "$work" "${builds[@]}" "$reports"
