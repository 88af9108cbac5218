#!/usr/bin/env bash
# The layering check refuses exactly the includes that go up, sideways or out
# of the product in a small tree, takes the rest, names each refused include
# with its reason, and fails.
# Usage: layering_check_test.sh <layering-check.py>
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
output=$("$1" "$here/fixture")
rc=$?
status=0
if [ $rc -ne 1 ]; then
  echo "FAILED: the check ended with exit code $rc on a tree with refused includes, not 1"
  status=1
fi
if ! differences=$(diff -u "$here/expected-refusals.txt" <(printf '%s\n' "$output")); then
  echo "FAILED: the check's report differs from expected-refusals.txt (- expected, + reported):"
  echo "$differences"
  status=1
fi
[ $status -eq 0 ] && echo "the check refused the $(grep -c ': includes ' "$here/expected-refusals.txt") includes it must and no other"
exit $status
