#!/usr/bin/env bash
# The request server's reply limit, from sources that are not loopback.
#
#   reply_limit.sh AGENT
#
# AGENT is the agent's Linux executable. Needs root: it builds two network
# namespaces of its own joined by a veth pair, and sends traffic nowhere else:
#
#   agent  eth0 10.77.0.1/16  ------  eth0 10.77.1.1-100/16, 10.77.2.1/16  clients
#
# The agent runs in the first; reply_limit_driver.py, next to this script,
# sends its status requests from the second, from 101 source addresses, and
# checks the limits: one source gets twenty replies a second after a burst of
# twenty, while another source is answered all along; many sources together
# get a thousand a second after a burst of a thousand; with every processor
# busy, a flood from one source still leaves another answered; loopback is not
# limited. The agent reports its drops once, in its trace and event list.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: reply_limit.sh AGENT}
HERE=$(cd "$(dirname "$0")" && pwd)
require_root_and_tools reply_limit "to build network namespaces" ip timeout python3
require_executables reply_limit "$AGENT"
AGENT=$(readlink -f "$AGENT")

NS_AGENT=zq-rl-agent-$$
NS_CLIENTS=zq-rl-clients-$$
TMP=$(mktemp -d /tmp/zq-reply-limit.XXXXXX)
AGENT_PID=

cleanup() {
    [ -n "$AGENT_PID" ] && signal_child KILL "$AGENT_PID"
    ip netns del "$NS_AGENT" 2>/dev/null
    ip netns del "$NS_CLIENTS" 2>/dev/null
    rm -rf -- "$TMP"
}
trap cleanup EXIT

setup_network() {
    ip netns add "$NS_AGENT" && ip netns add "$NS_CLIENTS" || return 1
    ip -n "$NS_AGENT" link set lo up && ip -n "$NS_CLIENTS" link set lo up || return 1
    ip -n "$NS_AGENT" link add eth0 type veth peer name eth0 netns "$NS_CLIENTS" || return 1
    ip -n "$NS_AGENT" addr add 10.77.0.1/16 dev eth0 || return 1
    ip -n "$NS_AGENT" link set eth0 up || return 1
    ip -n "$NS_AGENT" route add 224.0.0.0/4 dev eth0 || return 1
    local i
    for i in $(seq 1 100); do
        ip -n "$NS_CLIENTS" addr add "10.77.1.$i/16" dev eth0 || return 1
    done
    ip -n "$NS_CLIENTS" addr add 10.77.2.1/16 dev eth0 || return 1
    ip -n "$NS_CLIENTS" link set eth0 up || return 1
}

if ! setup_network; then
    echo "reply_limit: FAIL: cannot build the test network"
    exit 1
fi

ip netns exec "$NS_AGENT" "$AGENT" </dev/null >"$TMP/agent.out" 2>"$TMP/agent.err" &
AGENT_PID=$!
if ! wait_for "$TMP/agent.out" '^OS Description: ' 15; then
    fail "the agent starts" "$(tail -n 5 "$TMP/agent.err")"
else
    pass "the agent starts"
    timeout 120 ip netns exec "$NS_CLIENTS" python3 "$HERE/reply_limit_driver.py" clients 10.77.0.1
    check "the limits hold from non-loopback sources" $?
    timeout 60 ip netns exec "$NS_CLIENTS" python3 "$HERE/reply_limit_driver.py" busy 10.77.0.1
    check "a flood cannot crowd out another source on a busy machine" $?
    timeout 60 ip netns exec "$NS_AGENT" python3 "$HERE/reply_limit_driver.py" loopback 127.0.0.1
    check "loopback is not limited" $?
    wait_for "$TMP/agent.out" 'REPLIES DROPPED BY RATE LIMIT=\[[0-9]+\]' 5
    shown=$(grep -ac 'Event:  ZqServer= UdpZqServer  REPLIES DROPPED BY RATE LIMIT=\[[1-9][0-9]*\]$' "$TMP/agent.out")
    traced=$(grep -ac 'UdpZqServer  REPLIES DROPPED BY RATE LIMIT=\[[1-9][0-9]*\]$' "$TMP/agent.err")
    check "the drops are reported once (within a minute), in the event list and the trace" \
        "$([ "$shown" = 1 ] && [ "$traced" = 1 ]; echo $?)" "event lines: $shown, trace lines: $traced"
    signal_child TERM "$AGENT_PID"
    wait "$AGENT_PID"
    rc=$?
    AGENT_PID=
    check "the agent stops with exit code 0" "$([ $rc = 0 ]; echo $?)" "exit: $rc"
fi
echo "reply_limit: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
