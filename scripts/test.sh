#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux, sanitizer and
# Windows configurations and the Debian package, and runs every suite inside
# a fresh network namespace of its own (loopback up, multicast routed over
# loopback), so that no test traffic ever leaves this machine. Run as root.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/install-deps.sh"

# The Debian 11 build root of the package and the Debian 11, 12 and 13 roots
# of its test come from the Debian mirror while the native builds keep the
# processors busy; each is made once and then taken from the cache
# (scripts/debian-root.sh). The package's build waits for its root.
roots_log=$(mktemp)
{
  "$top/scripts/debian-root.sh" make bullseye build
  for release in bullseye bookworm trixie; do
    "$top/scripts/debian-root.sh" make "$release" boot
  done
} >"$roots_log" 2>&1 &
roots_pid=$!
trap 'wait "$roots_pid" 2>/dev/null; rm -f "$roots_log"' EXIT

for build in linux asan tsan win win32 fuzz deb; do
  echo "== build $build"
  "$top/scripts/build.sh" "$build"
done

echo "== Debian root file systems"
roots_status=0
wait "$roots_pid" || roots_status=$?
cat "$roots_log"
[ "$roots_status" -eq 0 ] || exit "$roots_status"
trap - EXIT
rm -f "$roots_log"

echo "== run the suites in a private network namespace"
exec unshare --net --fork bash "$top/scripts/run-suites.sh"
