#!/usr/bin/env bash
# A plant-sized fleet: many agents and one simulated Orvane server on one
# simulated plant LAN built from network namespaces.
#
#   fleet.sh AGENT PEER
#
# AGENT is the agent's Linux executable, PEER the watchdog-peer tool. Needs
# root: it builds its own network namespaces and sends traffic nowhere else.
# FLEET_AGENTS (default 50, at most 200) sets the number of agents;
# FLEET_KEEP_LOGS=1 keeps the work directory.
#
# The network (every namespace, veth and bridge is created here and removed
# on exit, whatever happens):
#
#   agent k (k = 1..N), host "fleet-pc-KK"      LAN (bridge br0)
#     eth0 192.168.1.(10+k)/24  -------------- pKK
#                                               psrv ---- Orvane server
#                                                         eth0 192.168.1.250/24
#
# Each agent runs in a network namespace of its own and in a UTS and mount
# namespace of its own, with its own host name and a hosts file (bound over
# /etc/hosts) in which that name resolves to its one address; its multicast
# route points at eth0. The bridge floods multicast to every port.
#
# The run:
#   1. the network; a multicast from the server reaches the first and the
#      last agent namespace (plumbing);
#   2. the server listens for the agents' documents; the agents start in
#      parallel batches and each takes its own address;
#   3. once every agent has begun two ticks (its first tick is about 6 s
#      after its start, then one a second on its own schedule), the server
#      sends ONE configuration multicast to 224.0.1.224;
#   4. every agent shows the configuration; every agent's first report
#      reaches the server in time (the criterion is explained where it is
#      checked), byte for byte as required and sent at the first tick that
#      follows the configuration;
#   5. the server's status request to each agent is answered;
#   6. the agents' total resident memory is measured and printed;
#   7. SIGTERM stops every agent with exit code 0; the namespaces are
#      removed and nothing of the run is left behind.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: fleet.sh AGENT PEER}
PEER=${2:?usage: fleet.sh AGENT PEER}

require_root_and_tools fleet "to build network namespaces" ip unshare mount hostname timeout awk ps sort
require_executables fleet "$AGENT" "$PEER"
AGENT=$(readlink -f "$AGENT")
# The agent's process name: its file name, cut to the kernel's 15 characters.
AGENT_COMM=$(basename "$AGENT" | cut -c 1-15)
PEER=$(readlink -f "$PEER")

N=${FLEET_AGENTS:-50}
if ! [[ $N =~ ^[0-9]+$ ]] || [ "$N" -lt 1 ] || [ "$N" -gt 200 ]; then
    echo "fleet: FAIL: FLEET_AGENTS must be 1..200, not [$N]"
    exit 1
fi
BATCH=10                  # agents set up / started / asked at a time
SERVER_IP=192.168.1.250
SERVER_PORT=34601         # the Orvane server's port, named in the configuration
AGENT_PORT=34543
REQUEST_PORT=45654
# The report deadline, in milliseconds after the configuration is sent (see
# the check of the reports).
TICK_PERIOD_MS=1000
REPORT_ALLOWANCE_MS=2000
DEADLINE_MS=$((TICK_PERIOD_MS + REPORT_ALLOWANCE_MS))

PREFIX=zq-fleet-$$
NS_LAN=$PREFIX-lan
NS_SRV=$PREFIX-srv
agent_ns() { echo "$PREFIX-a$1"; }
agent_ip() { echo "192.168.1.$((10 + $1))"; }
agent_name() { printf 'fleet-pc-%02d' "$1"; }
ALL_NS=("$NS_LAN" "$NS_SRV")
for ((k = 1; k <= N; k++)); do
    ALL_NS+=("$(agent_ns "$k")")
done

TMP=$(mktemp -d /tmp/zq-fleet.XXXXXX)
STARTED=()        # PIDs of the background processes this script started
AGENT_PID=()      # AGENT_PID[k]: the agent k's own PID
CLEANED=0

SCRIPT_START=$(now_ms)

# ------------------------------------------------------------------ cleanup

cleanup() {
    local pid ns
    [ "$CLEANED" = 1 ] && return
    CLEANED=1
    stop_started 10
    # A safety net: whatever still runs in a namespace of the run was started
    # by it (the checks above report it as a failure).
    for ns in "${ALL_NS[@]}"; do
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null
        done
    done
    remove_namespaces
}
on_exit() {
    cleanup
    remove_work_dir fleet "${FLEET_KEEP_LOGS:-0}"
}
trap on_exit EXIT
trap 'echo "fleet: interrupted"; exit 130' INT

# ------------------------------------------------------------------ results

# Agents worth a look after a failure (at most a few are shown).
FLAGGED=()
flag_agent() {
    local k
    for k in "${FLAGGED[@]}"; do
        [ "$k" = "$1" ] && return
    done
    FLAGGED+=("$1")
}

# check_agents NAME WHAT K...: PASS when no agent is named; otherwise flags
# each one and fails with "WHAT: agents K...".
check_agents() {
    local name=$1 what=$2 k
    shift 2
    for k in "$@"; do
        flag_agent "$k"
    done
    check "$name" "$#" "$what: agents $*"
}

print_diagnosis() {
    local k shown=0
    [ ${#FLAGGED[@]} -eq 0 ] && FLAGGED=(1)
    for k in "${FLAGGED[@]}"; do
        [ $shown -ge 3 ] && break
        shown=$((shown + 1))
        echo "---- agent $k ($(agent_name "$k"), $(agent_ip "$k")): standard output"
        cat -v "$TMP/agent-$k.out" 2>/dev/null | tail -n 30
        echo "---- agent $k: trace, last 40 lines"
        cat -v "$TMP/agent-$k.err" 2>/dev/null | tail -n 40
        echo "---- agent $k: exception lines"
        grep -a -n 'EXCEPTION\|ERROR' "$TMP/agent-$k.err" 2>/dev/null | head -n 20
    done
    echo "---- Orvane server listener, headers"
    grep -a '^FROM \|^LISTENING' "$TMP/server.out" 2>/dev/null | tail -n 60
    cat "$TMP/server.out.err" 2>/dev/null | tail -n 10
    echo "----"
}

# ------------------------------------------------------------------ helpers

agent_alive() {
    local pid=${AGENT_PID[$1]:-}
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$AGENT_COMM" ]
}

# tick_of_line K LINE: the number of the tick that trace line LINE of agent K
# belongs to (the ticks begun at or before it).
tick_of_line() {
    head -n "$2" "$TMP/agent-$1.err" | grep -c 'ZqServer::handle_timer$'
}

# first_line_after K START TEXT: the number of the first trace line of agent
# K after line START that holds the fixed TEXT, or nothing.
first_line_after() {
    awk -v start="$2" -v text="$3" 'NR > start && index($0, text) { print NR; exit }' "$TMP/agent-$1.err"
}

# The last value that agent K's console showed for a label.
console_value() {
    grep -a -- "^$2" "$TMP/agent-$1.out" 2>/dev/null | tail -n 1 | sed -E "s/^$2[[:space:]]*//"
}

# The <wdStatus> datagrams the server received, as "SOURCE MILLIS FILE"
# lines (MILLIS: Unix time of arrival in milliseconds). One process for all,
# so that polling stays cheap on a loaded machine.
reports() {
    awk '/^FROM / && / AT [0-9]+\.[0-9][0-9][0-9] / && / FILE / {
            stamp = $0; sub(/.* AT /, "", stamp); sub(/ .*/, "", stamp); sub(/\./, "", stamp)
            file = $0; sub(/.* FILE /, "", file)
            first = ""
            if ((getline first < file) > 0 && first == "<wdStatus>") print $2, stamp, file
            close(file)
        }' "$TMP/server.out" 2>/dev/null
}

count_reports() {
    reports | grep -c .
}

# The agents that have begun fewer than WANT ticks, in one pass over all
# traces.
agents_below_ticks() {
    local want=$1 k
    declare -A seen=()
    while IFS=: read -r file count; do
        k=${file##*agent-}
        seen[${k%.err}]=$count
    done < <(cd "$TMP" && grep -c 'ZqServer::handle_timer$' $(seq -f 'agent-%g.err' 1 "$N") 2>/dev/null)
    for ((k = 1; k <= N; k++)); do
        [ "${seen[$k]:-0}" -ge "$want" ] || echo "$k"
    done
}

# The agents whose console does not show, as the last values, their own
# address in common with the server and the trigger 100%:5s; in one pass.
agents_not_configured() {
    local files
    files=$(seq -f "$TMP/agent-%g.out" 1 "$N")
    # shellcheck disable=SC2086  # the file names hold no blanks
    awk -v n="$N" -v tmp="$TMP" '
        /^Trigger:/ { v = $0; sub(/^Trigger:[[:space:]]*/, "", v); trigger[FILENAME] = v }
        /^Local IP In Common with Orvane IP:/ {
            v = $0; sub(/^Local IP In Common with Orvane IP:[[:space:]]*/, "", v); common[FILENAME] = v
        }
        END {
            for (k = 1; k <= n; k++) {
                f = tmp "/agent-" k ".out"
                if (trigger[f] != "100%:5s" || common[f] != "192.168.1." (10 + k)) print k
            }
        }' $files 2>/dev/null
}

# The documents, as agent K must send them, given the CPU value.
expected_report() {
    local ip
    ip=$(agent_ip "$1")
    golden status_report INTERFACES="$(ip_list "$ip")" ADDRESS="$ip" CPU="$2" OS="$OS_DESC" HOST="$(agent_name "$1")"
}
expected_status_reply() {
    golden status_reply ADDRESS="$(agent_ip "$1")" CPU="$2" OS="$OS_DESC"
}

# summary_of "NUMBERS...": "min M, median D, max X" of integers.
summary_of() {
    tr ' ' '\n' <<<"$1" | grep . | sort -n |
        awk '{ v[NR] = $1 } END { if (NR) printf "min %d, median %d, max %d", v[1], v[int((NR + 1) / 2)], v[NR] }'
}

finish() {
    local took
    [ "$FAILED" -gt 0 ] && print_diagnosis
    trap - TERM
    cleanup
    # Nothing of the run is left behind.
    local left gone=0 pid
    left=$(ip netns list 2>/dev/null | awk '{print $1}' | grep -c -- "^$PREFIX-")
    check "no namespace of the run is left (ip netns list)" "$([ "$left" = 0 ]; echo $?)" \
        "left: $(ip netns list | grep -- "^$PREFIX-" | tr '\n' ' ')"
    for pid in "${AGENT_PID[@]}"; do
        [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$AGENT_COMM" ] && gone=$((gone + 1))
    done
    check "no agent process is left" "$([ $gone = 0 ]; echo $?)" "$gone agent PIDs still alive"
    took=$((($(now_ms) - SCRIPT_START) / 1000))
    check "the whole run ends within two minutes" "$([ "$took" -le 120 ]; echo $?)" "it took $took s"
    echo "fleet: run took $took s"
    echo "fleet: $PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
    exit $?
}

# ------------------------------------------------------------------ network

# setup_agent_net K: agent K's namespace, its veth to the bridge and its
# hosts file.
setup_agent_net() {
    local k=$1 ns port
    ns=$(agent_ns "$k")
    port=$(printf 'p%02d' "$k")
    ip netns add "$ns" || return 1
    ip -n "$ns" link set lo up || return 1
    ip -n "$ns" link add eth0 type veth peer name "$port" netns "$NS_LAN" || return 1
    ip -n "$NS_LAN" link set "$port" master br0 up || return 1
    ip -n "$ns" addr add "$(agent_ip "$k")/24" dev eth0 || return 1
    ip -n "$ns" link set eth0 up || return 1
    # Multicast is joined on the interface that faces the server. No default
    # route: nothing leaves the LAN.
    ip -n "$ns" route add 224.0.0.0/4 dev eth0 || return 1
    printf '127.0.0.1 localhost\n%s %s\n' "$(agent_ip "$k")" "$(agent_name "$k")" >"$TMP/hosts-$k"
}

setup_network() {
    local k pids=() failed=0 pid
    make_lan "$NS_LAN" "$NS_SRV" || return 1
    lan_host "$NS_LAN" "$NS_SRV" psrv "$SERVER_IP" || return 1
    printf 'multi on\n' >"$TMP/host.conf"
    printf 'hosts: files\n' >"$TMP/nsswitch.conf"
    for ((k = 1; k <= N; k++)); do
        setup_agent_net "$k" >"$TMP/net-$k.err" 2>&1 &
        pids+=($!)
        if [ ${#pids[@]} -ge $BATCH ] || [ "$k" -eq "$N" ]; then
            for pid in "${pids[@]}"; do
                wait "$pid" || failed=1
            done
            pids=()
        fi
    done
    [ $failed -eq 0 ] || { cat "$TMP"/net-*.err | head -n 20; return 1; }
}

# start_agent K: agent K as a host of its own, with its host name and hosts
# file; the background PID is the agent's own. Its console goes to
# agent-K.out, its trace (a line or two a tick) to agent-K.err.
start_agent() {
    local k=$1
    host_prefix "$(agent_ns "$k")" "$(agent_name "$k")" "$TMP/hosts-$k" "$TMP"
    "${HOST_PREFIX[@]}" "$AGENT" >"$TMP/agent-$k.out" 2>"$TMP/agent-$k.err" &
    AGENT_PID[$k]=$!
    STARTED+=($!)
}

# ------------------------------------------------------------------ run

start_time_limit "${FLEET_TIME_LIMIT:-150}" finish
STARTED+=("$LIMIT_PID")
echo "fleet: $N agents, agent $AGENT, peer $PEER, work directory $TMP"
echo "fleet: machine: $(nproc) processors, $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)," \
    "kernel $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"

t0=$(now_ms)
if ! setup_network; then
    fail "network: $((N + 2)) namespaces, $((N + 1)) veths on one bridge"
    finish
fi
pass "network: $((N + 2)) namespaces, $((N + 1)) veths on one bridge ($(($(now_ms) - t0)) ms)"

# The multicast plumbing, server to the first and the last agent namespace,
# before the agents take the port.
plumbing_ok=0
listeners=()
for k in 1 "$N"; do
    ip netns exec "$(agent_ns "$k")" "$PEER" listen --port "$AGENT_PORT" --join 224.0.1.224 --count 1 --seconds 5 \
        >"$TMP/plumbing-$k.out" 2>&1 &
    listeners+=($!)
    STARTED+=($!)
done
for k in 1 "$N"; do
    wait_for "$TMP/plumbing-$k.out" '^LISTENING ' 5
done
timeout 10 ip netns exec "$NS_SRV" "$PEER" config --group orvane --interface "$SERVER_IP" \
    --raw "plumbing check" >/dev/null 2>&1
for pid in "${listeners[@]}"; do
    wait "$pid" || plumbing_ok=1
done
for k in 1 "$N"; do
    grep -q "^FROM $SERVER_IP:" "$TMP/plumbing-$k.out" || plumbing_ok=1
done
check "plumbing: a multicast to 224.0.1.224 from $SERVER_IP reaches agents 1 and $N" "$plumbing_ok" \
    "agent 1: $(tr '\n' ' ' <"$TMP/plumbing-1.out")" "agent $N: $(tr '\n' ' ' <"$TMP/plumbing-$N.out")"

# The server listens for the agents' documents.
mkdir -p "$TMP/server"
ip netns exec "$NS_SRV" "$PEER" listen --bind "$SERVER_IP" --port "$SERVER_PORT" --stamp --save "$TMP/server" \
    --seconds 120 >"$TMP/server.out" 2>"$TMP/server.out.err" &
SERVER_PID=$!
STARTED+=($!)
if ! wait_for "$TMP/server.out" '^LISTENING ' 5; then
    fail "the Orvane server listens on $SERVER_IP:$SERVER_PORT" "$(cat "$TMP/server.out.err")"
    finish
fi

# The agents, in parallel batches: a batch starts at once, and the next
# follows when each agent of the batch has finished its start-up.
t0=$(now_ms)
start_failed=()
for ((k = 1; k <= N; k += BATCH)); do
    last=$((k + BATCH - 1))
    [ $last -gt "$N" ] && last=$N
    for ((j = k; j <= last; j++)); do
        start_agent "$j"
    done
    for ((j = k; j <= last; j++)); do
        wait_for "$TMP/agent-$j.err" '^All Started' 10 || start_failed+=("$j")
    done
done
START_MS=$(($(now_ms) - t0))
check_agents "all $N agents start (in batches of $BATCH, $START_MS ms)" "not started" "${start_failed[@]}"
[ ${#start_failed[@]} -eq 0 ] || finish

# Each agent took its own one address from the lookup of its own host name.
wrong=()
for ((k = 1; k <= N; k++)); do
    if ! grep -qx "Host name is \[$(agent_name "$k")\]" "$TMP/agent-$k.err" ||
        ! grep -qx "Num Local Ip/NICs=\[1\]" "$TMP/agent-$k.err" ||
        ! grep -qx "Address \[$(agent_ip "$k")\]" "$TMP/agent-$k.err"; then
        wrong+=("$k")
    fi
done
check_agents "every agent has its own host name and takes its own one address" "wrong" "${wrong[@]}"

OS_DESC=$(console_value 1 "OS Description:")

# Every agent has begun two ticks: from now on each one ticks once a second.
deadline=$(($(now_ms) + 20000))
while :; do
    mapfile -t late < <(agents_below_ticks 2)
    [ ${#late[@]} -eq 0 ] && break
    [ "$(now_ms)" -ge "$deadline" ] && break
    sleep 0.2
done
check_agents "every agent ticks (two ticks begun $((($(now_ms) - t0) / 1000)) s after the first start)" \
    "no second tick within 20 s" "${late[@]}"
[ ${#late[@]} -eq 0 ] || finish

# ---- one configuration for the whole fleet
# The moment is taken before the sending command starts, so that any delay
# in sending counts against the agents, never for them.
CONFIG_SENT=$(now_ms)
timeout 10 ip netns exec "$NS_SRV" "$PEER" config --group orvane --interface "$SERVER_IP" \
    --server-port "$SERVER_PORT" --cpu-percent 100 --alarm-seconds 5 "$SERVER_IP" >"$TMP/config.out" 2>&1
check "one configuration multicast sent to 224.0.1.224 from $SERVER_IP" $? "$(cat "$TMP/config.out")"

# Wait for all reports, or well past the deadline so that late ones show
# with their delay.
deadline=$((CONFIG_SENT + DEADLINE_MS + 5000))
while [ "$(count_reports)" -lt "$N" ] && [ "$(now_ms)" -lt "$deadline" ]; do
    sleep 0.1
done

# Every agent shows the configuration: its own address in common with the
# server, and the trigger.
deadline=$(($(now_ms) + 2000))
while :; do
    mapfile -t not_configured < <(agents_not_configured)
    [ ${#not_configured[@]} -eq 0 ] || [ "$(now_ms)" -ge "$deadline" ] && break
    sleep 0.1
done
for k in "${not_configured[@]}"; do
    flag_agent "$k"
done
check "the one multicast configures all $N agents (each shows its own address in common and 100%:5s)" \
    "${#not_configured[@]}" "not configured: agents ${not_configured[*]}"

# ---- the first reports
# The criterion. Each agent ticks on a one-second schedule of its own, so
# the first tick that follows the moment the configuration reaches it comes
# at most TICK_PERIOD_MS after it; the report must reach the server within
# REPORT_ALLOWANCE_MS of that tick. Since the configuration reaches an agent
# after CONFIG_SENT, a report that is on time arrives at most DEADLINE_MS
# (= 1000 + 2000 ms) after CONFIG_SENT, for every agent. That the report
# belongs to the first tick that follows (and not to a later one) is checked
# separately from each agent's trace: the trace line of the report is in the
# tick right after the one in which the configuration was received.
declare -A report_of=()          # agent number -> "MILLIS FILE"
declare -A reports_from=()       # source -> number of reports
stray=()
while read -r source stamp file; do
    [ -n "$source" ] || continue
    reports_from[$source]=$((${reports_from[$source]:-0} + 1))
    ip=${source%:*}
    k=$(( ${ip##*.} - 10 ))
    if [[ $ip == 192.168.1.* ]] && [ "$k" -ge 1 ] && [ "$k" -le "$N" ] && [ -z "${report_of[$k]:-}" ]; then
        report_of[$k]="$stamp $file"
    else
        stray+=("$source")
    fi
done < <(reports)

missing=()
wrong_source=()
wrong_bytes=()
late=()
wrong_tick=()
delays=()
arrivals=()
for ((k = 1; k <= N; k++)); do
    if [ -z "${report_of[$k]:-}" ]; then
        missing+=("$k")
        flag_agent "$k"
        continue
    fi
    read -r stamp file <<<"${report_of[$k]}"
    [ "${reports_from[$(agent_ip "$k"):$AGENT_PORT]:-0}" = 1 ] || { wrong_source+=("$k"); flag_agent "$k"; }
    cpu=$(value_between "$file" "<cpuUsage>" "</cpuUsage>")
    if ! is_integer "$cpu" || ! cmp -s <(expected_report "$k" "$cpu") "$file"; then
        wrong_bytes+=("$k")
        flag_agent "$k"
    fi
    delay=$((stamp - CONFIG_SENT))
    delays+=("$delay")
    arrivals+=("$stamp")
    if [ "$delay" -gt "$DEADLINE_MS" ]; then
        late+=("$k:${delay}ms")
        flag_agent "$k"
    fi
    config_line=$(grep -n -m 1 'MulticastReceiver::parseMcZqMessage' "$TMP/agent-$k.err" | cut -d: -f1)
    report_line=
    [ -n "$config_line" ] && report_line=$(first_line_after "$k" "$config_line" "sendData for watchdog [0]")
    if [ -z "$report_line" ] ||
        [ "$(tick_of_line "$k" "$report_line")" != "$(($(tick_of_line "$k" "$config_line") + 1))" ]; then
        wrong_tick+=("$k")
        flag_agent "$k"
    fi
done

received=$((N - ${#missing[@]}))
check "all $N first reports reach the server ($received received)" "${#missing[@]}" \
    "no report from agents ${missing[*]}"
check "each agent sends one report, from its own address, port $AGENT_PORT; no other source" \
    "$([ ${#wrong_source[@]} -eq 0 ] && [ ${#stray[@]} -eq 0 ]; echo $?)" \
    "wrong: agents ${wrong_source[*]}; other sources: ${stray[*]}"
check "every report is byte for byte as required (its own address and host name)" "${#wrong_bytes[@]}" \
    "wrong: agents ${wrong_bytes[*]}"
if [ ${#arrivals[@]} -gt 0 ]; then
    first=$(printf '%s\n' "${arrivals[@]}" | sort -n | head -n 1)
    lastr=$(printf '%s\n' "${arrivals[@]}" | sort -n | tail -n 1)
    SPREAD_MS=$((lastr - first))
    DELAYS=$(summary_of "${delays[*]}")
else
    SPREAD_MS=none
    DELAYS=none
fi
echo "fleet: reports after the configuration (ms): $DELAYS; spread of arrivals $SPREAD_MS ms"
check "every report arrives within $DEADLINE_MS ms of the configuration (next tick <= 1 s, then <= 2 s)" \
    "$([ ${#late[@]} -eq 0 ] && [ ${#missing[@]} -eq 0 ]; echo $?)" \
    "late: ${late[*]}${missing[*]:+; missing: ${missing[*]}}"
check "every report is sent at the first tick that follows the configuration (trace)" "${#wrong_tick[@]}" \
    "not at the next tick: agents ${wrong_tick[*]}"

# ---- the server's status request to each agent, in parallel batches
t0=$(now_ms)
pids=()
for ((k = 1; k <= N; k++)); do
    timeout 10 ip netns exec "$NS_SRV" "$PEER" status "$(agent_ip "$k")" --bind "$SERVER_IP" \
        --timeout-ms 3000 >"$TMP/status-$k.out" 2>"$TMP/status-$k.err" &
    pids[$k]=$!
    if [ $((k % BATCH)) -eq 0 ] || [ "$k" -eq "$N" ]; then
        for ((j = k - (k - 1) % BATCH; j <= k; j++)); do
            wait "${pids[$j]}"
            echo $? >"$TMP/status-$j.rc"
        done
    fi
done
STATUS_MS=$(($(now_ms) - t0))
unanswered=()
wrong_reply=()
for ((k = 1; k <= N; k++)); do
    if [ "$(cat "$TMP/status-$k.rc")" != 0 ]; then
        unanswered+=("$k")
        flag_agent "$k"
        continue
    fi
    cpu=$(value_between "$TMP/status-$k.out" "<cpuPercent>" "</cpuPercent>")
    if ! grep -q "^FROM $(agent_ip "$k"):$REQUEST_PORT " "$TMP/status-$k.err" || ! is_integer "$cpu" ||
        ! cmp -s <(expected_status_reply "$k" "$cpu") "$TMP/status-$k.out"; then
        wrong_reply+=("$k")
        flag_agent "$k"
    fi
done
check "the server's status request to each of the $N agents is answered ($STATUS_MS ms in all)" \
    "${#unanswered[@]}" "no reply within 3 s: agents ${unanswered[*]}"
check "every status reply comes from the agent's port $REQUEST_PORT and is byte for byte as required" \
    "${#wrong_reply[@]}" "wrong: agents ${wrong_reply[*]}"

# ---- memory: the agents' resident sets, after the reports and requests
dead=()
rss_total=0
pss_total=0
rss_list=()
for ((k = 1; k <= N; k++)); do
    if ! agent_alive "$k"; then
        dead+=("$k")
        flag_agent "$k"
        continue
    fi
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/${AGENT_PID[$k]}/status" 2>/dev/null)
    is_integer "${rss:-}" || { dead+=("$k"); continue; }
    rss_total=$((rss_total + rss))
    rss_list+=("$rss")
    # The proportional share: pages shared by several agents (the program,
    # the libraries) count once across the fleet.
    pss=$(awk '/^Pss:/ {print $2}' "/proc/${AGENT_PID[$k]}/smaps_rollup" 2>/dev/null)
    is_integer "${pss:-}" && pss_total=$((pss_total + pss))
done
check "all $N agents are still running" "${#dead[@]}" "gone: agents ${dead[*]}"
echo "fleet: resident memory of the $N agents: $rss_total kB in all" \
    "($(awk -v t="$rss_total" 'BEGIN { printf "%.1f MiB", t / 1024 }')); per agent (kB): $(summary_of "${rss_list[*]}")"
echo "fleet: proportional set size of the $N agents: $pss_total kB in all" \
    "($(awk -v t="$pss_total" 'BEGIN { printf "%.1f MiB", t / 1024 }'))"

# ---- stop: SIGTERM, exit code 0
for ((k = 1; k <= N; k++)); do
    agent_alive "$k" && kill -TERM "${AGENT_PID[$k]}"
done
bad_exit=()
for ((k = 1; k <= N; k++)); do
    stopped=1
    for _ in $(seq 1 100); do
        state=$(awk '{print $3}' "/proc/${AGENT_PID[$k]}/stat" 2>/dev/null)
        if [ -z "$state" ] || [ "$state" = Z ]; then
            stopped=0
            break
        fi
        sleep 0.1
    done
    if [ $stopped -eq 0 ]; then
        wait "${AGENT_PID[$k]}"
        rc=$?
        [ $rc -eq 0 ] || { bad_exit+=("$k:rc$rc"); flag_agent "$k"; }
    else
        bad_exit+=("$k:running")
        flag_agent "$k"
    fi
done
check "SIGTERM stops every agent with exit code 0" "${#bad_exit[@]}" "not so: ${bad_exit[*]}"

# The server stops listening; then no process is left in any namespace of
# the run.
signal_child TERM "$SERVER_PID"
wait "$SERVER_PID" 2>/dev/null
in_use=()
for ns in "${ALL_NS[@]}"; do
    [ -n "$(ip netns pids "$ns" 2>/dev/null)" ] && in_use+=("$ns: $(ip netns pids "$ns" | tr '\n' ' ')")
done
check "no process is left in any namespace of the run (ip netns pids)" "${#in_use[@]}" "${in_use[@]}"
finish
