#!/usr/bin/env bash
# Hostile datagrams and faults against the running agent.
#
#   hostile_datagrams.sh AGENT [--no-memory-check]
#
# AGENT is the agent's Linux executable; --no-memory-check leaves out the
# resident-memory comparison, for a sanitizer build. Needs root: the script moves itself
# into a network namespace of its own (loopback up, multicast routed over
# loopback) before anything starts, so every datagram of the test stays
# there. The checks themselves are in hostile_driver.py, next to this script.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: hostile_datagrams.sh AGENT}
HERE=$(cd "$(dirname "$0")" && pwd)

# First run: re-run this script in a new network namespace, naming the
# namespace it came from. Second run: make sure the namespace is a new one
# with nothing but loopback before anything starts.
if [ "$AGENT" != --isolated-from ]; then
    require_root_and_tools hostile "for a private network namespace" unshare ip timeout python3 tail
    exec unshare --net --fork -- bash "$0" --isolated-from "$(readlink /proc/self/ns/net)" "$@"
fi
OUTER_NETNS=$2
AGENT=${3:?usage: hostile_datagrams.sh AGENT}
prepare_private_netns hostile "$OUTER_NETNS"
require_executables hostile "$AGENT"

# The driver keeps its own time limit below this one, so that it always
# stops the agent it started; this one only catches a driver that hangs.
exec timeout --kill-after=10 280 python3 "$HERE/hostile_driver.py" "$(readlink -f "$AGENT")" "${@:4}"
