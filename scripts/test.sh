#!/usr/bin/env bash
# The test command: installs what is missing, builds the Linux, sanitizer and
# Windows configurations, and runs every suite inside a fresh network
# namespace of its own (loopback up, multicast routed over loopback), so that
# no test traffic ever leaves this machine. Run as root.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/install-deps.sh"
for build in linux asan tsan win win32 fuzz; do
  echo "== build $build"
  "$top/scripts/build.sh" "$build"
done

echo "== run the suites in a private network namespace"
exec unshare --net --fork bash "$top/scripts/run-suites.sh"
