#!/usr/bin/env bash
# The Windows program against the oldest Windows it is built for:
#   import_floor.sh FLOOR_LIST EXE OBJDUMP MINOR
# Every function it imports must be in FLOOR_LIST (the exports of that
# Windows' system DLLs), and its subsystem version must be 5.MINOR.
set -euo pipefail
checker=$(cd "$(dirname "$0")/../../tools/winapi" && pwd)/check-pe-imports
floor=$1 exe=$2 objdump=$3 minor=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

python3 "$checker" "$floor" "$exe" || fail "$exe imports what $(basename "$floor") lacks"

# The check must be able to fail: without one of the program's own imports
# in the list, it names that import.
python3 "$checker" --list "$floor" "$exe" >"$work/list" || true
taken=$(grep -m1 '^+ kernel32!' "$work/list" | cut -c3-)
[ -n "$taken" ] || fail "no import from kernel32 listed"
grep -vxF "$taken" "$floor" >"$work/floor"
if python3 "$checker" "$work/floor" "$exe" >"$work/out"; then
  fail "the check passed with $taken taken out of the list"
fi
grep -qxF "$taken" "$work/out" || fail "the check did not name $taken"

"$objdump" -p "$exe" >"$work/headers"
grep -Eq '^MajorSubsystemVersion[[:space:]]+5$' "$work/headers" || fail "major subsystem version is not 5"
grep -Eq "^MinorSubsystemVersion[[:space:]]+$minor\$" "$work/headers" || fail "minor subsystem version is not $minor"
echo "import_floor: $(basename "$exe") loads on NT 5.$minor ($(tail -n 1 <<<"$(python3 "$checker" "$floor" "$exe")"))"
