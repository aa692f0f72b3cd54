#!/usr/bin/env bash
# Installs what is missing, builds the agent for Linux and starts it. On a
# terminal the agent shows its state as a panel redrawn in place (its trace
# off; BRINDLEMOOR_WATCHDOG_TRACE=1 with standard error sent to a file turns
# it on there) and stops on Enter, Ctrl-C or SIGTERM.
#
#   scripts/run.sh            run on this machine's network (a plant machine)
#   scripts/run.sh --sandbox  run in a private network namespace that only has
#                             loopback (to look at it on a development machine)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" linux >/dev/null

agent="$top/build/linux/brindlemoor-watchdog"
if [ "${1:-}" = "--sandbox" ]; then
  exec unshare --net --fork bash -c \
    'ip link set lo up; ip route add 224.0.0.0/4 dev lo; exec "$0"' "$agent"
fi
exec "$agent"
