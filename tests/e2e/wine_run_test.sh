#!/usr/bin/env bash
# The Wine runner ends when its program ends, also when a process that the
# program started holds the runner's output: Wine's desktop process does so
# with the output of whichever program first needed a window, and lives on
# while other tests use the desktop. ctest reads the output through a pipe,
# so a runner that waited for every writer would outlive its test by minutes.
# Usage: wine_run_test.sh <wine-run> <build folder>
set -euo pipefail
runner=$1
build=$2
. "$(dirname "$runner")/wine-env.sh"
# The program below is not in the build's bin folder: name the build.
export ZYP_BUILD_DIR=$build
zyp_wine_env "$build"
zyp_wine_prefix
holder=$(zyp_winepath -w "$build/bin/e2e_message_box.exe")

# cmd's "start /b" hands the message box the runner's output and returns at
# once; the box stays until it is closed. The output goes through a pipe, as
# it does under ctest: its reader sees the end only once no one holds it.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkfifo "$tmp/output"
"$runner" "$WINEPREFIX/drive_c/windows/system32/cmd.exe" /c start /b "$holder" >"$tmp/output" 2>&1 &
runnerPid=$!
set +e
output=$(timeout 60 cat "$tmp/output")
readRc=$?
wait $runnerPid
rc=$?
set -e
# Close the box started here: the process of this prefix that runs it. Its
# address layout must be fixed too (see zyp_wine_programs): cmd.exe, not the
# runner, started it, so the layout has to pass from program to program.
personality=
for proc in /proc/[0-9]*; do
  tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
  tr '\0' ' ' 2>/dev/null <"$proc/cmdline" | grep -qF "$holder" || continue
  personality=$(cat "$proc/personality" 2>/dev/null || true)
  kill "${proc#/proc/}" 2>/dev/null || true
done
if [ $readRc -eq 124 ]; then
  echo "FAILED: wine-run did not end with its program: it waited for e2e_message_box.exe, which holds its output"
  exit 1
fi
if [ $rc -ne 0 ]; then
  echo "FAILED: wine-run ended with exit code $rc; its output:"
  echo "$output"
  exit 1
fi
if [ "$ZYP_WINE64" != "$ZYP_WINE_LOADER" ] && [ $((0x${personality:-0} & 0x0040000)) -eq 0 ]; then
  echo "FAILED: e2e_message_box.exe ran with address-space randomisation on (personality '${personality}'):"
  echo "  the Wine loader's heap can then take the page every Windows process needs, and a start dies at once"
  exit 1
fi
echo "wine-run ended with its program while the process it started still held its output"
echo "the program that program started ran with the fixed address layout (personality $personality)"
