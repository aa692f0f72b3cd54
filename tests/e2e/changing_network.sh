#!/usr/bin/env bash
# End-to-end test of the agent on networks that are not laid out for it, and
# that change while it runs.
#
#   changing_network.sh AGENT PEER [--wine PREFIX]
#
# AGENT is the agent's Linux executable, PEER the watchdog-peer tool. With
# --wine, AGENT is the Windows executable, run under Wine with a copy of the
# Wine prefix PREFIX and a virtual display, and only the scenarios that Wine
# can host run (two-interfaces, late-network). Needs root: it builds its own
# network namespaces and sends traffic nowhere else.
#
# The Orvane server (192.168.1.20/24) sits on a bridge; each scenario makes
# a fresh agent host on that bridge, runs one agent and removes the host:
#
#   loopback-name   the host's name resolves to 127.0.1.1 only, eth0 has
#                   192.168.1.5: the configuration pairs 192.168.1.5 and the
#                   report comes from it. Then 192.168.1.5 is replaced by
#                   192.168.1.6: the keep-alives name and come from
#                   192.168.1.6, nothing more from or naming 192.168.1.5, and
#                   no second report.
#   two-interfaces  eth0 192.168.1.5 towards the server, eth1 10.0.0.7 with
#                   the multicast route, the name resolving to 10.0.0.7 first:
#                   the configuration is heard on eth0, and the documents of
#                   the one pair (192.168.1.5) come from 192.168.1.5, port
#                   34543, not from the first address.
#   late-network    the agent starts with its link down and no address; the
#                   network comes up 3 s later; the configuration that
#                   follows takes effect and the first report arrives.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: changing_network.sh AGENT PEER [--wine PREFIX]}
PEER=${2:?usage: changing_network.sh AGENT PEER [--wine PREFIX]}
WINE_PREFIX_SOURCE=
if [ "${3:-}" = --wine ]; then
    WINE_PREFIX_SOURCE=${4:?--wine needs the Wine prefix}
fi
WINE_LOADER=/usr/lib/wine/wine64

tools=(ip ss unshare mount hostname timeout awk ps)
[ -n "$WINE_PREFIX_SOURCE" ] && tools+=(Xvfb "$WINE_LOADER")
require_root_and_tools net-e2e "to build network namespaces" "${tools[@]}"
require_executables net-e2e "$PEER"
if [ -z "$WINE_PREFIX_SOURCE" ]; then
    require_executables net-e2e "$AGENT"
elif [ ! -f "$AGENT" ] || [ ! -f "$WINE_PREFIX_SOURCE/system.reg" ]; then
    echo "net-e2e: skipped: no Windows build at $AGENT or no prepared Wine prefix at $WINE_PREFIX_SOURCE"
    exit $SKIP
fi
AGENT=$(readlink -f "$AGENT")
PEER=$(readlink -f "$PEER")

HOST_NAME=plant-pc-9
ORVANE_IP=192.168.1.20
AGENT_IP=192.168.1.5
NEW_AGENT_IP=192.168.1.6
OFFICE_IP=10.0.0.7
AGENT_PORT=34543
SERVER_PORT=34602

NS_LAN=zq-nlan-$$
NS_ORVANE=zq-norv-$$
NS_AGENT=
ALL_NS=("$NS_LAN" "$NS_ORVANE")

TMP=$(mktemp -d /tmp/zq-net-e2e.XXXXXX)
STARTED=()
AGENT_PID=

cleanup() {
    trap - EXIT INT TERM
    stop_agent
    stop_started 1
    remove_namespaces
    remove_work_dir net-e2e "${E2E_KEEP_LOGS:-0}"
}
trap cleanup EXIT
trap 'echo "net-e2e: interrupted"; exit 130' INT

finish() {
    if [ "$FAILED" -gt 0 ]; then
        for log in "$TMP"/*/agent.err "$TMP"/*/agent.out; do
            [ -f "$log" ] || continue
            echo "---- $log (last 60 lines)"
            cat -v "$log" | tail -n 60
        done
        echo "---- Orvane server listener"
        cat -v "$TMP/orvane.out" 2>/dev/null | grep -a '^FROM' | tail -n 30
    fi
    echo "net-e2e: run took $((($(now_ms) - SCRIPT_START) / 1000)) s"
    echo "net-e2e: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit $?
}

# ------------------------------------------------------------------ network

# The bridge and the Orvane server, for the whole run.
setup_lan() {
    make_lan "$NS_LAN" "$NS_ORVANE" || return 1
    lan_host "$NS_LAN" "$NS_ORVANE" p-orvane "$ORVANE_IP"
}

# new_agent_host NAME: a fresh agent host with eth0 on the bridge, link down
# and without addresses, and a directory of its own for its files.
HOSTS_MADE=0
new_agent_host() {
    HOSTS_MADE=$((HOSTS_MADE + 1))
    local port=p-agent$HOSTS_MADE
    NS_AGENT=zq-nag-$1-$$
    ALL_NS+=("$NS_AGENT")
    HOST_DIR=$TMP/$1
    mkdir -p "$HOST_DIR"
    ip netns add "$NS_AGENT" || return 1
    ip -n "$NS_AGENT" link set lo up || return 1
    ip -n "$NS_AGENT" link add eth0 type veth peer name "$port" netns "$NS_LAN" || return 1
    ip -n "$NS_LAN" link set "$port" master br0 up || return 1
    printf 'multi on\n' >"$HOST_DIR/host.conf"
    printf 'hosts: files\n' >"$HOST_DIR/nsswitch.conf"
}

remove_agent_host() {
    stop_agent
    ip netns del "$NS_AGENT" 2>/dev/null
}

# ------------------------------------------------------------------ agent

# start_agent: runs the agent on the current agent host with its own host
# name and, natively, its own hosts files (bound over /etc in a private mount
# namespace); under Wine, which looks up its own name through the
# interfaces, with its own prefix copy and display instead.
start_agent() {
    if [ -z "$WINE_PREFIX_SOURCE" ]; then
        host_prefix "$NS_AGENT" "$HOST_NAME" "$HOST_DIR/hosts" "$HOST_DIR"
        "${HOST_PREFIX[@]}" "$AGENT" >"$HOST_DIR/agent.out" 2>"$HOST_DIR/agent.err" &
    else
        # Wine's own server makes the sockets: it must run in this network
        # namespace, which a copy of the prefix ensures (a server is found
        # by its prefix's inode). The wrapper stays the agent's parent and
        # ends the display and Wine's server after it.
        ip netns exec "$NS_AGENT" unshare --uts -- bash -c '
            hostname "$1" || exit 125
            export WINEPREFIX=$2/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
            display_file=$2/display
            Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
            xvfb=$!
            for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
            export DISPLAY=":$(head -n 1 "$display_file")"
            "$4" "$3" &
            agent=$!
            trap "kill -TERM $agent 2>/dev/null" TERM
            wait $agent
            wait $agent
            /usr/lib/wine/wineserver -k 2>/dev/null
            kill $xvfb 2>/dev/null
            wait $xvfb 2>/dev/null
            exit 0' agent-host "$HOST_NAME" "$HOST_DIR" "$AGENT" "$WINE_LOADER" \
            >"$HOST_DIR/agent.out" 2>"$HOST_DIR/agent.err" &
    fi
    AGENT_PID=$!
    AGENT_START=$(now_ms)
}

stop_agent() {
    [ -n "$AGENT_PID" ] || return 0
    stop_child "$AGENT_PID"
    AGENT_PID=
}

# wait_agent_up: true once the agent holds its request port (its server is
# built; the first tick follows 6 s later), false after 60 s. Under Wine the
# start itself takes a few seconds.
wait_agent_up() {
    local deadline=$(($(now_ms) + 60000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        ip netns exec "$NS_AGENT" ss -Huln 'sport = :45654' 2>/dev/null | grep -q . && return 0
        is_child "$AGENT_PID" || return 1
        sleep 0.2
    done
    return 1
}
FIRST_TICK_S=7

# start_agent_and_wait NAME: starts the agent and waits until it is up.
start_agent_and_wait() {
    start_agent
    if ! wait_agent_up; then
        fail "$1: the agent starts" "no socket on port 45654 within 60 s"
        return 1
    fi
}

# send_config: one Orvane configuration (threshold 101 %: no alarm).
send_config() {
    timeout 10 ip netns exec "$NS_ORVANE" "$PEER" config --group orvane --interface "$ORVANE_IP" \
        --server-port "$SERVER_PORT" --cpu-percent 101 --alarm-seconds 5 "$ORVANE_IP" >>"$TMP/config.out" 2>&1 ||
        fail "configuration sent" "$(tail -n 3 "$TMP/config.out")"
}

# The datagrams that arrived since the listener had COUNT of them.
datagrams_since() {
    datagrams "$TMP/orvane.out" | tail -n +"$(($1 + 1))"
}

# The "<ipAddr>" that a keep-alive or report names for its pair (the last one).
pair_address() {
    grep -a -o '<ipAddr>[^<]*</ipAddr>' "$1" | tail -n 1 | sed -E 's/<\/?ipAddr>//g'
}

# expect_report NAME ADDR SECONDS: the next report arrives within SECONDS,
# comes from ADDR:34543 and names ADDR.
expect_report() {
    local name=$1 addr=$2 seconds=$3 source time file
    if wait_datagram "$TMP/orvane.out" "<wdStatus>" $((REPORTS_BEFORE + 1)) "$seconds"; then
        read -r source time file < <(datagrams "$TMP/orvane.out" "<wdStatus>" | sed -n "$((REPORTS_BEFORE + 1))p")
        check "$name: the report comes from $addr:$AGENT_PORT and names it" \
            "$([ "$source" = "$addr:$AGENT_PORT" ] && [ "$(pair_address "$file")" = "$addr" ]; echo $?)" \
            "source $source, names [$(pair_address "$file")]"
    else
        fail "$name: a report arrives within $seconds s" "none; the listener saw $(count_datagrams "$TMP/orvane.out")"
    fi
}

# ------------------------------------------------------------------ scenarios

scenario_loopback_name() {
    local name=loopback-name before source time file ok
    new_agent_host $name || { fail "$name: agent host set up"; return; }
    printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$HOST_NAME" >"$HOST_DIR/hosts"
    ip -n "$NS_AGENT" addr add "$AGENT_IP/24" dev eth0
    ip -n "$NS_AGENT" link set eth0 up
    ip -n "$NS_AGENT" route add 224.0.0.0/4 dev eth0
    sleep 1  # the bridge port's forwarding state
    start_agent_and_wait $name || { remove_agent_host; return; }
    sleep "$FIRST_TICK_S"
    REPORTS_BEFORE=$(count_datagrams "$TMP/orvane.out" "<wdStatus>")
    send_config
    expect_report "$name" "$AGENT_IP" 5
    grep -q "^Local IP In Common with Orvane IP: *$AGENT_IP\$" "$HOST_DIR/agent.out"
    check "$name: the console shows $AGENT_IP in common" $? "$(grep -a '^Local IP' "$HOST_DIR/agent.out" | tail -n 1)"

    # The lease changes: 192.168.1.5 goes, 192.168.1.6 comes.
    before=$(count_datagrams "$TMP/orvane.out")
    ip -n "$NS_AGENT" addr del "$AGENT_IP/24" dev eth0
    ip -n "$NS_AGENT" addr add "$NEW_AGENT_IP/24" dev eth0
    wait_for "$HOST_DIR/agent.err" "local address new \[$NEW_AGENT_IP\]" 8
    check "$name: the change is traced" $? "$(grep -a 'checkLocalAddresses' "$HOST_DIR/agent.err" | tr '\n' ' ')"
    # The keep-alive of tick 30 (within one keep-alive period).
    if wait_datagram "$TMP/orvane.out" "<wdKA>" 1 40; then
        read -r source time file < <(datagrams "$TMP/orvane.out" "<wdKA>" | head -n 1)
        check "$name: the keep-alive comes from $NEW_AGENT_IP:$AGENT_PORT and names it" \
            "$([ "$source" = "$NEW_AGENT_IP:$AGENT_PORT" ] && [ "$(pair_address "$file")" = "$NEW_AGENT_IP" ]; echo $?)" \
            "source $source, names [$(pair_address "$file")]"
    else
        fail "$name: a keep-alive arrives after the change" "ticks: $(grep -c 'handle_timer$' "$HOST_DIR/agent.err")"
    fi
    ok=0
    while read -r source time file; do
        [ -n "$file" ] || continue
        if [ "${source%:*}" = "$AGENT_IP" ] || grep -q "<ipAddr>$AGENT_IP</ipAddr>" "$file"; then
            ok=1
        fi
    done < <(datagrams_since "$before")
    check "$name: nothing comes from or names $AGENT_IP after the change" $ok \
        "$(datagrams_since "$before" | tr '\n' ' ')"
    check "$name: the change brings no second report" \
        "$([ "$(count_datagrams "$TMP/orvane.out" "<wdStatus>")" = $((REPORTS_BEFORE + 1)) ]; echo $?)" \
        "reports: $(count_datagrams "$TMP/orvane.out" "<wdStatus>")"
    remove_agent_host
}

scenario_two_interfaces() {
    local name=two-interfaces
    new_agent_host $name || { fail "$name: agent host set up"; return; }
    printf '127.0.0.1 localhost\n%s %s\n%s %s\n' "$OFFICE_IP" "$HOST_NAME" "$AGENT_IP" "$HOST_NAME" \
        >"$HOST_DIR/hosts"
    ip -n "$NS_AGENT" link add eth1 type veth peer name eth1-end
    ip -n "$NS_AGENT" link set eth1-end up
    ip -n "$NS_AGENT" addr add "$OFFICE_IP/24" dev eth1
    ip -n "$NS_AGENT" addr add "$AGENT_IP/24" dev eth0
    ip -n "$NS_AGENT" link set eth1 up
    ip -n "$NS_AGENT" link set eth0 up
    # The system's choice for multicast is the office interface.
    ip -n "$NS_AGENT" route add 224.0.0.0/4 dev eth1
    sleep 1
    start_agent_and_wait $name || { remove_agent_host; return; }
    sleep "$FIRST_TICK_S"
    REPORTS_BEFORE=$(count_datagrams "$TMP/orvane.out" "<wdStatus>")
    send_config
    expect_report "$name" "$AGENT_IP" 5
    remove_agent_host
}

scenario_late_network() {
    local name=late-network
    new_agent_host $name || { fail "$name: agent host set up"; return; }
    printf '127.0.0.1 localhost\n127.0.1.1 %s\n' "$HOST_NAME" >"$HOST_DIR/hosts"
    start_agent_and_wait $name || { remove_agent_host; return; }
    sleep 3
    ip -n "$NS_AGENT" addr add "$AGENT_IP/24" dev eth0
    ip -n "$NS_AGENT" link set eth0 up
    ip -n "$NS_AGENT" route add 224.0.0.0/4 dev eth0
    # Longer than the periodic re-check, for platforms without notice.
    sleep 6
    REPORTS_BEFORE=$(count_datagrams "$TMP/orvane.out" "<wdStatus>")
    send_config
    expect_report "$name" "$AGENT_IP" 5
    remove_agent_host
}

# ------------------------------------------------------------------ run

SCRIPT_START=$(now_ms)
start_time_limit "${E2E_TIME_LIMIT:-200}" finish
STARTED+=("$LIMIT_PID")

if ! setup_lan; then
    fail "bridge and Orvane server set up"
    finish
fi
mkdir -p "$TMP/orvane"
ip netns exec "$NS_ORVANE" "$PEER" listen --port "$SERVER_PORT" --stamp --save "$TMP/orvane" \
    --seconds $((TIME_LIMIT + 10)) >"$TMP/orvane.out" 2>"$TMP/orvane.err" &
STARTED+=($!)
wait_for "$TMP/orvane.out" '^LISTENING ' 5 || { fail "the Orvane server listens"; finish; }

if [ -n "$WINE_PREFIX_SOURCE" ]; then
    for scenario in two_interfaces late_network; do
        mkdir -p "$TMP/${scenario//_/-}"
        cp -a "$WINE_PREFIX_SOURCE" "$TMP/${scenario//_/-}/prefix"
        "scenario_$scenario"
    done
else
    scenario_loopback_name
    scenario_two_interfaces
    scenario_late_network
fi
finish
