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

AGENT=${1:?usage: hostile_datagrams.sh AGENT}
SKIP=77
HERE=$(cd "$(dirname "$0")" && pwd)

# First run: re-run this script in a new network namespace, naming the
# namespace it came from. Second run: make sure the namespace is a new one
# with nothing but loopback before anything starts.
if [ "$AGENT" != --isolated-from ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "hostile: skipped: needs root for a private network namespace"
        exit $SKIP
    fi
    for tool in unshare ip timeout python3 tail; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "hostile: skipped: $tool is missing"
            exit $SKIP
        fi
    done
    exec unshare --net --fork -- bash "$0" --isolated-from "$(readlink /proc/self/ns/net)" "$@"
fi
OUTER_NETNS=$2
AGENT=${3:?usage: hostile_datagrams.sh AGENT}
if [ "$(readlink /proc/self/ns/net)" = "$OUTER_NETNS" ] || [ "$(ip -o link show | grep -vc ': lo:')" -ne 0 ]; then
    echo "hostile: FAIL: not in a private network namespace of loopback only"
    exit 1
fi
if ! ip link set lo up || ! ip route add 224.0.0.0/4 dev lo; then
    echo "hostile: FAIL: cannot set up loopback in the private network namespace"
    exit 1
fi
if [ ! -x "$AGENT" ]; then
    echo "hostile: FAIL: not executable: $AGENT"
    exit 1
fi

# The driver keeps its own time limit below this one, so that it always
# stops the agent it started; this one only catches a driver that hangs.
exec timeout --kill-after=10 280 python3 "$HERE/hostile_driver.py" "$(readlink -f "$AGENT")" "${@:4}"
