# Shared by the end-to-end test scripts (sourced, not run): their checks of
# what they need before they start, the PASS/FAIL tally, signals to their own
# children only, and the small waiting and text helpers they all use.
#
# The sourcing script reports with pass/fail/check and ends with its own
# summary from PASSED and FAILED.

SKIP=77

# require_root_and_tools LABEL WHY TOOL...: skips the test (exit 77) unless
# it runs as root and every tool is on the PATH.
require_root_and_tools() {
    local label=$1 why=$2 tool
    shift 2
    if [ "$(id -u)" -ne 0 ]; then
        echo "$label: skipped: needs root $why"
        exit $SKIP
    fi
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "$label: skipped: $tool is missing"
            exit $SKIP
        fi
    done
}

# require_executables LABEL FILE...: fails the test unless every file is
# an executable.
require_executables() {
    local label=$1 file
    shift
    for file in "$@"; do
        if [ ! -x "$file" ]; then
            echo "$label: FAIL: not executable: $file"
            exit 1
        fi
    done
}

# prepare_private_netns LABEL OUTER: in a network namespace just made by
# unshare, makes sure it is not OUTER (the caller's) and has nothing but
# loopback, then brings loopback up and routes multicast over it.
prepare_private_netns() {
    local label=$1 outer=$2
    if [ "$(readlink /proc/self/ns/net)" = "$outer" ] || [ "$(ip -o link show | grep -vc ': lo:')" -ne 0 ]; then
        echo "$label: FAIL: not in a private network namespace of loopback only"
        exit 1
    fi
    if ! ip link set lo up || ! ip route add 224.0.0.0/4 dev lo; then
        echo "$label: FAIL: cannot set up loopback in the private network namespace"
        exit 1
    fi
}

PASSED=0
FAILED=0

pass() {
    PASSED=$((PASSED + 1))
    echo "PASS: $1"
}

# fail NAME [DETAIL...]
fail() {
    FAILED=$((FAILED + 1))
    echo "FAIL: $1"
    shift
    local line
    for line in "$@"; do
        echo "      $line"
    done
}

# check NAME STATUS [DETAIL...]: PASS when STATUS is 0.
check() {
    local name=$1 status=$2
    shift 2
    if [ "$status" -eq 0 ]; then pass "$name"; else fail "$name" "$@"; fi
}

now_ms() { date +%s%3N; }

# start_time_limit SECONDS ON_LIMIT: a time limit of the script's own, below
# the test runner's, so that its clean-up always runs. At the limit the
# script receives SIGTERM: the run fails and ON_LIMIT (a command that ends
# the script) runs. LIMIT_PID is the timer's PID.
start_time_limit() {
    TIME_LIMIT=$1
    trap 'fail "the run ends within its time limit of $TIME_LIMIT s"; '"$2" TERM
    ( trap 'exit 0' TERM
      for _ in $(seq 1 $((TIME_LIMIT * 10))); do sleep 0.1; done
      kill -TERM $$ ) &
    LIMIT_PID=$!
}

# The live (not yet exited) children of this shell, one PID a line.
live_children() {
    ps -o pid=,stat= --ppid "$$" 2>/dev/null | awk '$2 !~ /^Z/ { print $1 }'
}

# signal_child SIGNAL PID: signals a process only while it is still a live
# child of this shell, so that a reused PID never reaches anyone else's
# process.
is_child() {
    live_children | grep -qx -- "$1"
}
signal_child() {
    is_child "$2" && kill "-$1" "$2" 2>/dev/null
}

# stop_child PID: SIGTERM, up to 10 s for the child to end, then SIGKILL;
# reaps it.
stop_child() {
    signal_child TERM "$1"
    for _ in $(seq 1 100); do
        is_child "$1" || break
        sleep 0.1
    done
    signal_child KILL "$1"
    wait "$1" 2>/dev/null
}

# ---- what a script started (its STARTED array of PIDs) and made (ALL_NS)

# The PIDs in STARTED that still run as children of this shell.
live_started() {
    local pid live
    live=" $(live_children | tr '\n' ' ') "
    for pid in "${STARTED[@]}"; do
        [[ $live == *" $pid "* ]] && echo "$pid"
    done
}

# stop_started SECONDS: SIGTERM to every live child in STARTED, up to
# SECONDS for them to end, then SIGKILL to the rest; reaps them all.
stop_started() {
    local pid
    for pid in $(live_started); do
        signal_child TERM "$pid"
    done
    for _ in $(seq 1 $(($1 * 10))); do
        [ -z "$(live_started)" ] && break
        sleep 0.1
    done
    for pid in $(live_started); do
        signal_child KILL "$pid"
    done
    wait 2>/dev/null
}

# remove_namespaces: deletes every namespace in ALL_NS, and with them the
# veths and bridges inside them.
remove_namespaces() {
    local ns
    for ns in "${ALL_NS[@]}"; do
        ip netns del "$ns" 2>/dev/null
    done
}

# remove_work_dir LABEL KEEP: removes TMP, unless KEEP is 1 (then says where
# the logs are).
remove_work_dir() {
    if [ "${2:-0}" = 1 ]; then
        echo "$1: logs kept in $TMP"
    else
        rm -rf "$TMP"
    fi
}

# make_lan LAN NS...: the namespaces LAN and NS..., each with loopback up,
# and the bridge br0 in LAN.
make_lan() {
    local lan=$1 ns
    for ns in "$@"; do
        ip netns add "$ns" || return 1
        ip -n "$ns" link set lo up || return 1
    done
    ip -n "$lan" link add br0 type bridge || return 1
    # Without snooping the bridge floods every multicast frame to every port.
    ip -n "$lan" link set br0 type bridge mcast_snooping 0 2>/dev/null
    ip -n "$lan" link set br0 up || return 1
}

# lan_host LAN NS PORT ADDRESS: eth0 of NS on LAN's bridge (its end there
# named PORT), up with ADDRESS/24; multicast leaves through it.
lan_host() {
    local lan=$1 ns=$2 port=$3 address=$4
    ip -n "$ns" link add eth0 type veth peer name "$port" netns "$lan" || return 1
    ip -n "$lan" link set "$port" master br0 up || return 1
    ip -n "$ns" addr add "$address/24" dev eth0 || return 1
    ip -n "$ns" link set eth0 up || return 1
    ip -n "$ns" route add 224.0.0.0/4 dev eth0 || return 1
}

# host_prefix NS NAME HOSTS DIR: sets HOST_PREFIX to the command prefix that
# runs a command as a host of its own: in network namespace NS, with host
# name NAME, and with the file HOSTS and DIR's host.conf and nsswitch.conf
# bound over /etc in a private mount namespace (so that nothing outside sees
# them). Every step execs the next, so a background command's PID is the
# command's own.
host_prefix() {
    HOST_PREFIX=(ip netns exec "$1" unshare --uts --mount -- bash -c '
        hostname "$1" || exit 125
        mount --bind "$2" /etc/hosts || exit 125
        mount --bind "$3/host.conf" /etc/host.conf || exit 125
        mount --bind "$3/nsswitch.conf" /etc/nsswitch.conf || exit 125
        shift 3
        exec "$@"' host "$2" "$3" "$4")
}

# wait_for FILE PATTERN SECONDS: until the extended regular expression
# matches a line of the file, or the time is up (the status says which).
wait_for() {
    local file=$1 pattern=$2 deadline=$(($(now_ms) + $3 * 1000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.1
    done
    grep -qE -- "$pattern" "$file" 2>/dev/null
}

# value_between FILE START END: the text of the file between the first START
# and the first END after it, trailing line feeds kept.
value_between() {
    local content
    content=$(cat "$1"; echo x)
    content=${content%x}
    content=${content#*"$2"}
    echo -n "${content%%"$3"*}"
}

is_integer() {
    [[ $1 =~ ^-?[0-9]+$ ]]
}

# ---- the golden documents of tests/golden

GOLDEN_DIR=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../golden" && pwd)

# golden NAME [PLACEHOLDER=VALUE...]: the document tests/golden/NAME.txt,
# byte for byte, with each @PLACEHOLDER@ replaced by its value.
golden() {
    local text pair
    text=$(cat "$GOLDEN_DIR/$1.txt"; echo x)
    text=${text%x}
    shift
    for pair in "$@"; do
        text=${text//"@${pair%%=*}@"/"${pair#*=}"}
    done
    printf '%s' "$text"
}

# ip_list ADDRESS...: the addresses as the documents list them.
ip_list() {
    local address
    for address in "$@"; do
        printf '<ipAddr>%s</ipAddr>' "$address"
    done
}

# ---- what a watchdog-peer listener (listen --stamp --save DIR) received

# The datagrams that a listener saved, as "SOURCE TIME FILE" lines, for those
# whose first line is the tag TAG (all of them without TAG).
datagrams() {
    local out=$1 tag=${2:-} line source time file
    while IFS= read -r line; do
        case $line in
            FROM\ *) ;;
            *) continue ;;
        esac
        source=$(awk '{print $2}' <<<"$line")
        time=$(sed -nE 's/.* AT ([0-9.]+).*/\1/p' <<<"$line")
        file=$(sed -nE 's/.* FILE (.*)$/\1/p' <<<"$line")
        [ -f "$file" ] || continue
        if [ -n "$tag" ] && [ "$(head -n 1 "$file")" != "$tag" ]; then
            continue
        fi
        echo "$source $time $file"
    done < <(grep -a '^FROM ' "$out" 2>/dev/null)
}

count_datagrams() {
    datagrams "$@" | grep -c .
}

# wait_datagram OUT TAG COUNT SECONDS: true once COUNT datagrams with TAG.
wait_datagram() {
    local deadline=$(($(now_ms) + $4 * 1000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        [ "$(count_datagrams "$1" "$2")" -ge "$3" ] && return 0
        sleep 0.1
    done
    [ "$(count_datagrams "$1" "$2")" -ge "$3" ]
}
