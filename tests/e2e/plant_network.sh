#!/usr/bin/env bash
# End-to-end test of the agent on a simulated plant network.
#
#   plant_network.sh AGENT PEER
#
# AGENT is the agent's Linux executable, PEER the watchdog-peer tool. Needs
# root: it builds its own network namespaces and sends traffic nowhere else.
#
# The network (every namespace, veth and bridge is created here and removed
# on exit, whatever happens):
#
#   agent host "plant-pc-7"          LAN (bridge br0)          Orvane server
#     eth0 192.168.1.5/24  ---------- p-agent  p-orv ---------- eth0 192.168.1.20/24
#     eth1 10.0.0.7/24                          p-cloud ------- cloud server
#       |                                                         eth0 192.168.1.30/24
#     office host eth0 10.0.0.30/24
#
# The agent host's name resolves to 10.0.0.7 first and 192.168.1.5 second;
# the multicast route of the agent host points at eth0, towards the servers.
# So the agent takes both addresses, binds sender 0 to 10.0.0.7 and sender 1
# to 192.168.1.5, and the Orvane server at 192.168.1.20 shares the network of
# the second address only: the one pair is index 0 (local 192.168.1.5), sent
# through the sender bound to its own address, 192.168.1.5 (sender 1).
#
# One run of the agent covers every check, ordered along its tick schedule
# (first tick about 6 s after start, one tick a second, keep-alives at ticks
# 30, 60, 90):
#   ticks 2-3   configuration to 224.0.1.224 (server port, 0 %, 1 s);
#               status request from the Orvane host;
#   next tick   the first status report;
#   +5 ticks    the CPU alarm (threshold 0 % is always reached);
#   then        the cloud announcement to 224.0.2.224;
#   tick 30     the first keep-alive;
#   tick 31     the agent's 192.168.1.5 is removed, so the keep-alive of
#               tick 60 cannot be sent; a status request from the office
#               host reaches the agent through 10.0.0.7;
#   tick 61     the address is restored; the keep-alive of tick 90 arrives;
#   then        SIGTERM, exit code 0.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: plant_network.sh AGENT PEER}
PEER=${2:?usage: plant_network.sh AGENT PEER}

require_root_and_tools e2e "to build network namespaces" ip unshare mount hostname getent timeout awk ps
require_executables e2e "$AGENT" "$PEER"
AGENT=$(readlink -f "$AGENT")
PEER=$(readlink -f "$PEER")

HOST_NAME=plant-pc-7
AGENT_LAN_IP=192.168.1.5
AGENT_OFFICE_IP=10.0.0.7
ORVANE_IP=192.168.1.20
CLOUD_IP=192.168.1.30
OFFICE_IP=10.0.0.30
ORVANE_GROUP=224.0.1.224
CLOUD_GROUP=224.0.2.224
AGENT_PORT=34543
REQUEST_PORT=45654
SERVER_PORT=34601          # the Orvane server's port, named in the configuration
STATUS_SOURCE_PORT=40404   # the port the status requests are sent from

NS_LAN=zq-lan-$$
NS_AGENT=zq-agent-$$
NS_ORVANE=zq-orvane-$$
NS_CLOUD=zq-cloud-$$
NS_OFFICE=zq-office-$$
ALL_NS=("$NS_LAN" "$NS_AGENT" "$NS_ORVANE" "$NS_CLOUD" "$NS_OFFICE")

TMP=$(mktemp -d /tmp/zq-e2e.XXXXXX)
STARTED=()        # PIDs of the background processes this script started
AGENT_PID=

# ------------------------------------------------------------------ cleanup

cleanup() {
    trap - EXIT INT TERM
    stop_started 2
    remove_namespaces
    remove_work_dir e2e "${E2E_KEEP_LOGS:-0}"
}
trap cleanup EXIT
trap 'echo "e2e: interrupted"; exit 130' INT

# ------------------------------------------------------------------ results

# Shows two texts byte for byte (control characters visible) after a mismatch.
show_difference() {
    echo "      expected (\$ marks a line feed, [end] the end):"
    { cat -A "$1"; echo "[end]"; } | sed 's/^/        /'
    echo "      received:"
    { cat -A "$2"; echo "[end]"; } | sed 's/^/        /'
}

# ------------------------------------------------------------------ helpers


in_ns() {
    local ns=$1
    shift
    ip netns exec "$ns" "$@"
}

# The prefix that runs a command on the agent host, with its own name and
# hosts files.
host_prefix "$NS_AGENT" "$HOST_NAME" "$TMP/hosts" "$TMP"
AGENT_HOST=("${HOST_PREFIX[@]}")

agent_alive() {
    [ -n "$AGENT_PID" ] && kill -0 "$AGENT_PID" 2>/dev/null
}

# The number of ticks the agent has begun: each tick starts with the trace
# line "ZqServer::handle_timer".
ticks() {
    local n
    n=$(grep -c 'ZqServer::handle_timer$' "$TMP/agent.err" 2>/dev/null)
    echo "${n:-0}"
}

# wait_ticks N SECONDS: true once N ticks have begun; gives up early when
# the agent has died or no tick has come for 8 seconds (the first tick is
# due about 6 seconds after the start).
wait_ticks() {
    local want=$1 deadline=$(($(now_ms) + $2 * 1000))
    local last seen stalled_at
    last=$(ticks)
    stalled_at=$(($(now_ms) + 8000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        seen=$(ticks)
        [ "$seen" -ge "$want" ] && return 0
        agent_alive || return 1
        if [ "$seen" -ne "$last" ]; then
            last=$seen
            stalled_at=$(($(now_ms) + 8000))
        elif [ "$(now_ms)" -gt "$stalled_at" ]; then
            return 1
        fi
        sleep 0.1
    done
    [ "$(ticks)" -ge "$want" ]
}

# tick_of_line LINE: the number of the tick that trace line LINE belongs to
# (the ticks begun at or before it).
tick_of_line() {
    head -n "$1" "$TMP/agent.err" | grep -c 'ZqServer::handle_timer$'
}

# first_line_after START REGEX: number of the first trace line after line
# START that matches REGEX (fixed text), or nothing.
first_line_after() {
    awk -v start="$1" -v text="$2" 'NR > start && index($0, text) { print NR; exit }' "$TMP/agent.err"
}

# The last value that the agent's console showed for a label, leniently:
# the text after the first colon-and-blanks of the last line with the label.
console_value() {
    grep -a -- "^$1" "$TMP/agent.out" | tail -n 1 | sed -E "s/^$1[[:space:]]*//"
}

# The documents, as the agent must send them, given the CPU value.
expected_report() {
    golden status_report INTERFACES="$(ip_list "$AGENT_OFFICE_IP" "$AGENT_LAN_IP")" ADDRESS="$AGENT_LAN_IP" \
        CPU="$1" OS="$OS_DESC" HOST="$HOST_NAME"
}
expected_keep_alive() {
    golden keep_alive ADDRESS="$AGENT_LAN_IP" CPU="$1" OS="$OS_DESC" HOST="$HOST_NAME"
}
expected_alarm() {
    golden cpu_alarm INTERFACES="$(ip_list "$AGENT_OFFICE_IP" "$AGENT_LAN_IP")" CPU="$1" OS="$OS_DESC" HOST="$HOST_NAME"
}
expected_status_reply() {
    golden status_reply ADDRESS="$AGENT_OFFICE_IP" CPU="$1" OS="$OS_DESC"
}

# check_document NAME FILE KIND CPU-OPEN: compares a received document with
# the expected one built from the CPU value it carries.
check_document() {
    local name=$1 file=$2 kind=$3 open=$4 cpu
    cpu=$(value_between "$file" "$open" "</cpuUsage>")
    [ "$kind" = alarm ] && cpu=${cpu#$'\n'}
    if ! is_integer "$cpu"; then
        fail "$name" "the CPU usage is no integer: [$cpu]"
        show_difference /dev/null "$file"
        return
    fi
    "expected_$kind" "$cpu" >"$TMP/expected-$kind"
    if cmp -s "$TMP/expected-$kind" "$file"; then
        pass "$name"
    else
        fail "$name" "the document differs from the expected bytes"
        show_difference "$TMP/expected-$kind" "$file"
    fi
}

# status_request NAME NAMESPACE FROM-ADDR AGENT-ADDR: one status request and
# a byte-for-byte check of the reply and of where it came from.
status_request() {
    local name=$1 ns=$2 from=$3 to=$4 rc cpu
    timeout 10 ip netns exec "$ns" "$PEER" status "$to" --bind "$from" --source-port "$STATUS_SOURCE_PORT" \
        --timeout-ms 3000 >"$TMP/status-reply" 2>"$TMP/status-err"
    rc=$?
    if [ $rc -ne 0 ]; then
        fail "$name" "no reply (peer exit $rc): $(tr '\n' ' ' <"$TMP/status-err")"
        return
    fi
    if ! grep -q "^FROM $to:$REQUEST_PORT " "$TMP/status-err"; then
        fail "$name" "the reply did not come from $to:$REQUEST_PORT: $(cat "$TMP/status-err")"
        return
    fi
    cpu=$(value_between "$TMP/status-reply" "<cpuPercent>" "</cpuPercent>")
    if ! is_integer "$cpu"; then
        fail "$name" "the CPU load is no integer: [$cpu]"
        show_difference /dev/null "$TMP/status-reply"
        return
    fi
    expected_status_reply "$cpu" >"$TMP/expected-status"
    if cmp -s "$TMP/expected-status" "$TMP/status-reply"; then
        pass "$name"
    else
        fail "$name" "the reply differs from the expected bytes"
        show_difference "$TMP/expected-status" "$TMP/status-reply"
    fi
}

# Starts a listener in a namespace; its output goes to OUT, its datagrams to
# DIR.
start_listener() {
    local ns=$1 out=$2 dir=$3
    shift 3
    mkdir -p "$dir"
    ip netns exec "$ns" "$PEER" listen --stamp --save "$dir" "$@" >"$out" 2>"$out.err" &
    STARTED+=($!)
    wait_for "$out" '^LISTENING ' 5
}

print_diagnosis() {
    echo "---- agent standard output ($TMP/agent.out)"
    cat -v "$TMP/agent.out" 2>/dev/null | tail -n 80
    echo "---- agent trace, last 150 lines ($TMP/agent.err)"
    cat -v "$TMP/agent.err" 2>/dev/null | tail -n 150
    echo "---- agent trace, exception lines"
    grep -a -n 'EXCEPTION\|ERROR' "$TMP/agent.err" 2>/dev/null | head -n 40
    echo "---- Orvane server listener"
    cat -v "$TMP/orvane.out" 2>/dev/null | tail -n 60
    echo "---- cloud server listener"
    cat -v "$TMP/cloud.out" 2>/dev/null | tail -n 20
    echo "----"
}

finish() {
    if [ "$FAILED" -gt 0 ]; then
        print_diagnosis
    fi
    echo "e2e: run took $((($(now_ms) - SCRIPT_START) / 1000)) s"
    echo "e2e: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit $?
}

# ------------------------------------------------------------------ network

setup_network() {
    make_lan "${ALL_NS[@]}" || return 1
    # Multicast leaves and is joined on the interfaces that face the servers.
    lan_host "$NS_LAN" "$NS_AGENT" p-agent "$AGENT_LAN_IP" || return 1
    lan_host "$NS_LAN" "$NS_ORVANE" p-orvane "$ORVANE_IP" || return 1
    lan_host "$NS_LAN" "$NS_CLOUD" p-cloud "$CLOUD_IP" || return 1
    ip -n "$NS_AGENT" link add eth1 type veth peer name eth0 netns "$NS_OFFICE" || return 1
    ip -n "$NS_AGENT" addr add "$AGENT_OFFICE_IP/24" dev eth1 || return 1
    ip -n "$NS_OFFICE" addr add "$OFFICE_IP/24" dev eth0 || return 1
    ip -n "$NS_OFFICE" link set eth0 up || return 1
    ip -n "$NS_AGENT" link set eth1 up || return 1
    # The agent host has no default route: without 192.168.1.5 the Orvane
    # server is unreachable.
    printf '127.0.0.1 localhost\n%s %s\n%s %s\n' "$AGENT_OFFICE_IP" "$HOST_NAME" "$AGENT_LAN_IP" "$HOST_NAME" \
        >"$TMP/hosts"
    printf 'multi on\n' >"$TMP/host.conf"
    printf 'hosts: files\n' >"$TMP/nsswitch.conf"
}

# ------------------------------------------------------------------ run

SCRIPT_START=$(now_ms)
start_time_limit "${E2E_TIME_LIMIT:-165}" finish
STARTED+=("$LIMIT_PID")
echo "e2e: agent $AGENT, peer $PEER, work directory $TMP"
if ! setup_network; then
    fail "network namespaces, veths and bridge are set up"
    finish
fi
pass "network namespaces, veths and bridge are set up"

# The agent host's name resolves to its two addresses, 10.0.0.7 first.
lookup=$("${AGENT_HOST[@]}" getent hosts "$HOST_NAME" 2>&1 | awk '{print $1}' | tr '\n' ' ')
check "agent host: $HOST_NAME resolves to $AGENT_OFFICE_IP then $AGENT_LAN_IP" \
    "$([ "$lookup" = "$AGENT_OFFICE_IP $AGENT_LAN_IP " ]; echo $?)" "lookup gave: [$lookup]"

# The multicast plumbing, peer to peer, before the agent takes the port.
for group in "$ORVANE_GROUP:$NS_ORVANE:$ORVANE_IP" "$CLOUD_GROUP:$NS_CLOUD:$CLOUD_IP"; do
    IFS=: read -r g ns ip <<<"$group"
    rm -f "$TMP/plumbing.out"
    ip netns exec "$NS_AGENT" "$PEER" listen --port "$AGENT_PORT" --join "$g" --count 1 --seconds 5 \
        >"$TMP/plumbing.out" 2>&1 &
    listener=$!
    STARTED+=($listener)
    wait_for "$TMP/plumbing.out" '^LISTENING ' 5
    timeout 10 ip netns exec "$ns" "$PEER" config --group "$g" --interface "$ip" --raw "plumbing check" >/dev/null
    wait "$listener"
    rc=$?
    check "plumbing: multicast to $g from $ip reaches the agent host" \
        "$([ $rc -eq 0 ] && grep -q "^FROM $ip:" "$TMP/plumbing.out"; echo $?)" \
        "listener exit $rc: $(tr '\n' ' ' <"$TMP/plumbing.out")"
done

# The servers listen for the agent's documents.
start_listener "$NS_ORVANE" "$TMP/orvane.out" "$TMP/orvane" --port "$SERVER_PORT" --seconds 150
start_listener "$NS_CLOUD" "$TMP/cloud.out" "$TMP/cloud" --port "$SERVER_PORT" --seconds 150

# The agent, on its own host.
"${AGENT_HOST[@]}" "$AGENT" >"$TMP/agent.out" 2>"$TMP/agent.err" &
AGENT_PID=$!
STARTED+=($AGENT_PID)
AGENT_START=$(now_ms)

if ! wait_for "$TMP/agent.out" '^OS Description:' 10; then
    fail "the agent starts and prints its state" "no \"OS Description:\" line within 10 s"
    finish
fi
pass "the agent starts and prints its state"
OS_DESC=$(console_value "OS Description:")
pretty=$( (. /etc/os-release 2>/dev/null && printf '%s' "${PRETTY_NAME:-}") )
case $(uname -m) in
    x86_64 | aarch64 | ppc64* | s390x | riscv64 | mips64* | sparc64 | loongarch64) bits=", 64-bit" ;;
    *) bits=", 32-bit" ;;
esac
check "the OS description is the distribution's name and bitness" \
    "$([ -n "$pretty" ] && [ "$OS_DESC" = "$pretty$bits" ]; echo $?)" \
    "console: [$OS_DESC], expected: [$pretty$bits]"

if ! wait_ticks 2 15; then
    fail "the timer ticks once a second" "ticks seen: $(ticks) after $((($(now_ms) - AGENT_START) / 1000)) s"
    finish
fi
pass "the timer ticks once a second"

# ---- 1 and 2: configuration, first report, CPU alarm
config_sent=$(now_ms)
timeout 10 ip netns exec "$NS_ORVANE" "$PEER" config --group orvane --interface "$ORVANE_IP" \
    --server-port "$SERVER_PORT" --cpu-percent 0 --alarm-seconds 1 "$ORVANE_IP" >"$TMP/config.out" 2>&1 ||
    fail "configuration sent" "$(cat "$TMP/config.out")"

# 3: a status request from the Orvane server host, while the report is due.
status_request "3 a status request from the Orvane host is answered to its source port, byte for byte" \
    "$NS_ORVANE" "$ORVANE_IP" "$AGENT_LAN_IP"
timeout 10 ip netns exec "$NS_ORVANE" "$PEER" status "$AGENT_LAN_IP" --text "STATUS_REQUEST" \
    --timeout-ms 800 >"$TMP/no-reply" 2>&1
rc=$?
check "3 a request without the blank after STATUS_REQUEST gets no reply" "$([ $rc -eq 1 ]; echo $?)" \
    "peer exit $rc: $(cat -v "$TMP/no-reply")"

wait_for "$TMP/agent.out" "^Local IP In Common with Orvane IP:" 5
common=$(console_value "Local IP In Common with Orvane IP:")
check "1 the configuration gives one pair, local $AGENT_LAN_IP" "$([ "$common" = "$AGENT_LAN_IP" ]; echo $?)" \
    "console shows: [$common]"
wait_for "$TMP/agent.out" "^Trigger:" 3
trigger=$(console_value "Trigger:")
check "1 the trigger shows the configured 0%:1s" "$([ "$trigger" = "0%:1s" ]; echo $?)" "console shows: [$trigger]"

# Where the configuration arrived in the tick sequence, and the alarm
# countdown it met (normally 5: the default seconds, reloaded at every tick
# below the default 100 %).
config_line=$(grep -n -m 1 'MulticastReceiver::parseMcZqMessage' "$TMP/agent.err" | cut -d: -f1)
config_tick=
countdown=5
if [ -n "$config_line" ]; then
    config_tick=$(tick_of_line "$config_line")
    summary=$(head -n "$config_line" "$TMP/agent.err" | grep 'ZqServer::handle_timer \[' | tail -n 1)
    if [[ $summary =~ handle_timer\ \[(-?[0-9]+)\] ]]; then
        countdown=${BASH_REMATCH[1]}
        # A countdown already run out fires at the next tick.
        [ "$countdown" -lt 1 ] && countdown=1
    fi
fi

if wait_datagram "$TMP/orvane.out" "<wdStatus>" 1 6; then
    read -r source time file < <(datagrams "$TMP/orvane.out" "<wdStatus>" | head -n 1)
    report_time=$time
    check "1 the report comes from the pair's own address: $AGENT_LAN_IP:$AGENT_PORT" \
        "$([ "$source" = "$AGENT_LAN_IP:$AGENT_PORT" ]; echo $?)" "source: $source"
    check_document "1 the report is byte for byte as required" "$file" report "<cpuUsage>"
    report_line=$(first_line_after "${config_line:-0}" "sendData for watchdog [0]")
    report_tick=
    [ -n "$report_line" ] && report_tick=$(tick_of_line "$report_line")
    delay=$(awk -v a="$config_sent" -v b="$report_time" 'BEGIN { printf "%.3f", b - a / 1000 }')
    check "1 the report goes out at the first tick after the configuration" \
        "$([ -n "$config_tick" ] && [ "$report_tick" = "$((config_tick + 1))" ] &&
            awk -v d="$delay" 'BEGIN { exit !(d >= 0 && d < 2.0) }'; echo $?)" \
        "configuration before tick $((config_tick + 1)), report in tick [$report_tick], ${delay}s after sending"
    check "1 the pass sends over pair 0 only" \
        "$(grep -q 'sendData for watchdog \[0\]' "$TMP/agent.err" &&
            ! grep -q 'sendData for watchdog \[1\]' "$TMP/agent.err"; echo $?)" \
        "trace: $(grep 'sendData for watchdog \[' "$TMP/agent.err" | tr '\n' ' ')"
else
    report_time=
    report_tick=
    fail "1 a report reaches the Orvane server after the configuration" "none within 6 s"
fi

if wait_datagram "$TMP/orvane.out" "<CPU_ALARM>" 1 9; then
    read -r source time file < <(datagrams "$TMP/orvane.out" "<CPU_ALARM>" | head -n 1)
    check "2 the CPU alarm comes from $AGENT_LAN_IP:$AGENT_PORT" \
        "$([ "$source" = "$AGENT_LAN_IP:$AGENT_PORT" ]; echo $?)" "source: $source"
    check_document "2 the CPU alarm is byte for byte as required" "$file" alarm "<cpuUsage>"
    alarm_line=$(first_line_after "${config_line:-0}" "sendData for network [0]")
    alarm_tick=
    [ -n "$alarm_line" ] && alarm_tick=$(tick_of_line "$alarm_line")
    gap=$(awk -v a="$report_time" -v b="$time" 'BEGIN { if (a == "") print "?"; else printf "%.3f", b - a }')
    check "2 the CPU alarm goes out at tick $countdown after the configuration" \
        "$([ -n "$config_tick" ] && [ "$alarm_tick" = "$((config_tick + countdown))" ] &&
            awk -v g="$gap" -v n="$((countdown - 1))" 'BEGIN { exit !(g != "?" && g > n - 0.9 && g < n + 0.9) }'
            echo $?)" \
        "configuration before tick $((config_tick + 1)), alarm in tick [$alarm_tick], ${gap}s after the report"
else
    fail "2 a CPU alarm reaches the Orvane server" "none within 9 s of the report"
fi

check "4 the Orvane configuration leaves the cloud server unset" \
    "$(! grep -q '^Cloud:' "$TMP/agent.out"; echo $?)" "console: $(grep '^Cloud:' "$TMP/agent.out" | tr '\n' ' ')"
check "1 the console shows no Orvane server before the first keep-alive" \
    "$(! grep -q '^Orvane:[[:space:]]*[^[:space:]]' "$TMP/agent.out"; echo $?)" \
    "console: $(grep '^Orvane:' "$TMP/agent.out" | tr '\n' ' ')"

# ---- 4: the cloud announcement. Its alarm settings and port are different,
# so that its being taken as an Orvane configuration would show.
common_lines=$(grep -c '^Local IP In Common with Orvane IP:' "$TMP/agent.out")
timeout 10 ip netns exec "$NS_CLOUD" "$PEER" config --group cloud --interface "$CLOUD_IP" \
    --server-port "$SERVER_PORT" --cpu-percent 77 --alarm-seconds 9 "$CLOUD_IP" >"$TMP/cloud-config.out" 2>&1 ||
    fail "cloud announcement sent" "$(cat "$TMP/cloud-config.out")"
wait_for "$TMP/agent.out" "^Cloud:[[:space:]]*$CLOUD_IP\$" 4
cloud=$(console_value "Cloud:")
check "4 the cloud announcement sets the cloud server" "$([ "$cloud" = "$CLOUD_IP" ]; echo $?)" \
    "console shows: [$cloud]"
sleep 1.5
check "4 the cloud announcement changes neither the pairs nor the trigger" \
    "$([ "$(grep -c '^Local IP In Common with Orvane IP:' "$TMP/agent.out")" = "$common_lines" ] &&
        [ "$(console_value "Local IP In Common with Orvane IP:")" = "$AGENT_LAN_IP" ] &&
        [ "$(console_value "Trigger:")" = "0%:1s" ]; echo $?)" \
    "console: common [$(console_value "Local IP In Common with Orvane IP:")], trigger [$(console_value "Trigger:")]"

# ---- 1: the first keep-alive, at tick 30.
if wait_ticks 30 45 && wait_datagram "$TMP/orvane.out" "<wdKA>" 1 4; then
    read -r source time file < <(datagrams "$TMP/orvane.out" "<wdKA>" | head -n 1)
    check "1 the keep-alive comes from $AGENT_LAN_IP:$AGENT_PORT" \
        "$([ "$source" = "$AGENT_LAN_IP:$AGENT_PORT" ]; echo $?)" "source: $source"
    check_document "1 the keep-alive is byte for byte as required" "$file" keep_alive "<cpuUsage>"
    ka_line=$(first_line_after 0 "sendData for watchdog KEEP ALIVE[0]")
    ka_tick=
    [ -n "$ka_line" ] && ka_tick=$(tick_of_line "$ka_line")
    gap=$(awk -v a="$report_time" -v b="$time" 'BEGIN { if (a == "") print "?"; else printf "%.3f", b - a }')
    check "1 the keep-alive goes out at tick 30, one second a tick after the report" \
        "$([ "$ka_tick" = 30 ] && [ -n "$report_tick" ] &&
            awk -v g="$gap" -v n="$((30 - ${report_tick:-0}))" 'BEGIN { exit !(g != "?" && g > n - 0.9 && g < n + 0.9) }'
            echo $?)" \
        "keep-alive in tick [$ka_tick], ${gap}s after the report of tick [$report_tick]"
    wait_for "$TMP/agent.out" "^Orvane:[[:space:]]*$ORVANE_IP\$" 2
    check "1 the console shows the Orvane server after the keep-alive" \
        "$([ "$(console_value "Orvane:")" = "$ORVANE_IP" ]; echo $?)" "console shows: [$(console_value "Orvane:")]"
else
    fail "1 a keep-alive reaches the Orvane server at tick 30" "ticks: $(ticks)"
fi
check "4 the cloud server received nothing" "$([ "$(count_datagrams "$TMP/cloud.out")" = 0 ]; echo $?)" \
    "$(grep '^FROM' "$TMP/cloud.out")"

# ---- 5: the agent's 192.168.1.5 goes away for the keep-alive of tick 60.
if agent_alive && [ "$(ticks)" -lt 58 ]; then
    trace_mark=$(wc -l <"$TMP/agent.err")
    received_before=$(count_datagrams "$TMP/orvane.out")
    ip -n "$NS_AGENT" addr del "$AGENT_LAN_IP/24" dev eth0
    if wait_ticks 61 40; then
        check "5 without $AGENT_LAN_IP the keep-alive of tick 60 is not sent" \
            "$([ "$(count_datagrams "$TMP/orvane.out")" = "$received_before" ]; echo $?)" \
            "the Orvane server received: $(datagrams "$TMP/orvane.out" | tail -n 1)"
        check "5 the failed send is logged" \
            "$(tail -n +"$((trace_mark + 1))" "$TMP/agent.err" | grep -q '\*\*\* EXCEPTION  UdpBoundSocket::sendData'
                echo $?)" "no \"*** EXCEPTION  UdpBoundSocket::sendData\" in the trace since the removal"
        pass "5 the timer goes on after the failed send"
    else
        fail "5 the timer goes on after the failed send" "ticks stopped at $(ticks); agent alive: $(agent_alive && echo yes || echo no)"
    fi
    status_request "5 a status request through $AGENT_OFFICE_IP is answered after the failed send" \
        "$NS_OFFICE" "$OFFICE_IP" "$AGENT_OFFICE_IP"
    ip -n "$NS_AGENT" addr add "$AGENT_LAN_IP/24" dev eth0
    if wait_ticks 90 40 && wait_datagram "$TMP/orvane.out" "<wdKA>" 2 4; then
        read -r source time file < <(datagrams "$TMP/orvane.out" "<wdKA>" | sed -n 2p)
        check "5 with $AGENT_LAN_IP back, the keep-alive of tick 90 comes from $AGENT_LAN_IP:$AGENT_PORT" \
            "$([ "$source" = "$AGENT_LAN_IP:$AGENT_PORT" ]; echo $?)" "source: $source"
        check_document "5 the keep-alive of tick 90 is byte for byte as required" "$file" keep_alive "<cpuUsage>"
    else
        fail "5 with $AGENT_LAN_IP back, the keep-alive of tick 90 arrives" "ticks: $(ticks)"
    fi
else
    fail "5 the address removal test can run" "agent alive: $(agent_alive && echo yes || echo no), ticks: $(ticks)"
fi

# ---- totals over the whole run
check "2 no second CPU alarm follows (hold-off), $(($(ticks) - ${alarm_tick:-0})) ticks watched" \
    "$([ "$(count_datagrams "$TMP/orvane.out" "<CPU_ALARM>")" = 1 ]; echo $?)" \
    "alarms received: $(count_datagrams "$TMP/orvane.out" "<CPU_ALARM>")"
check "4 no further report after the first (none for the cloud announcement)" \
    "$([ "$(count_datagrams "$TMP/orvane.out" "<wdStatus>")" = 1 ]; echo $?)" \
    "reports received: $(count_datagrams "$TMP/orvane.out" "<wdStatus>")"

# ---- stop
if agent_alive; then
    kill -TERM "$AGENT_PID"
    stopped=1
    for _ in $(seq 1 100); do
        if ! kill -0 "$AGENT_PID" 2>/dev/null; then
            stopped=0
            break
        fi
        sleep 0.1
    done
    if [ $stopped -eq 0 ]; then
        wait "$AGENT_PID"
        rc=$?
        check "SIGTERM stops the agent with exit code 0" "$([ $rc -eq 0 ]; echo $?)" "exit code $rc"
    else
        fail "SIGTERM stops the agent with exit code 0" "still running 10 s after SIGTERM"
    fi
else
    wait "$AGENT_PID"
    fail "the agent runs until SIGTERM" "it ended by itself with code $?"
fi
finish
