#!/usr/bin/env bash
# The agent on the Linux console, end to end.
#
#   console_agent.sh AGENT PEER UNIT
#
# AGENT is the agent's Linux executable, PEER the watchdog-peer tool, UNIT the
# systemd unit packaging/brindlemoor-watchdog.service. Needs root: the script
# moves itself into a network namespace of its own (loopback up, multicast
# routed over loopback) before anything starts, so the agent's ports and
# groups are used there only, whether or not the caller is isolated already.
#
# Checks:
#   a  with standard input from /dev/null the agent prints its state and the
#      service's creation marks, prints no unchanged value twice, and SIGTERM,
#      SIGINT and SIGHUP each stop it with exit code 0;
#   b  on a terminal, Enter stops it with exit code 0;
#   c  a second copy is a view of the first: it shows the first's fields and
#      event lines (a multicast text received by the first among them), holds
#      no port, and SIGTERM or Enter on a terminal end the view only, with
#      exit code 0, while the first goes on answering status requests;
#   d  a received multicast text with control characters shows escaped in
#      its event line;
#   e  the systemd unit passes systemd-analyze verify, and the agent starts
#      and stops under an approximation of the unit's sandbox; with standard
#      error on the journal (as under the unit) the trace and the CPU
#      sampler's lines are off unless the drop-in's BRINDLEMOOR_WATCHDOG_TRACE=1
#      turns them on, and the sampler's lines never reach standard output;
#      there the CPU load is one line, not one per change;
#   f  on a terminal (tmux) the agent is one panel redrawn in place: no trace,
#      each field once, a received text's control bytes escaped; Enter puts
#      the screen back; Ctrl-Z gives the terminal back and stops the agent,
#      which draws its panel again when continued; Ctrl-\ ends it with the
#      terminal given back. With BRINDLEMOOR_WATCHDOG_TRACE=1 on the same
#      terminal it prints its lines among the trace instead, a received
#      text's control bytes escaped in the trace.
#   g  with standard error on a pipe that nobody reads (filled first by long
#      traced requests), the agent answers every status request and sends its
#      keep-alives on schedule for CONSOLE_STALL_SECONDS (60 by default); a
#      reader that comes later gets "TRACE LINES DROPPED=[N]" lines, and
#      SIGTERM still ends the agent with exit code 0.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

AGENT=${1:?usage: console_agent.sh AGENT PEER UNIT}
PEER=${2:?usage: console_agent.sh AGENT PEER UNIT}
UNIT=${3:?usage: console_agent.sh AGENT PEER UNIT}

# First run: re-run this script in a new network namespace, naming the
# namespace it came from. Second run: make sure the namespace is a new one
# with nothing but loopback before anything starts.
if [ "$AGENT" != --isolated-from ]; then
    require_root_and_tools console "for a private network namespace" unshare ip timeout setsid ps awk
    exec unshare --net --fork -- bash "$0" --isolated-from "$(readlink /proc/self/ns/net)" "$@"
fi
OUTER_NETNS=$2
shift 2
AGENT=${1:?usage: console_agent.sh AGENT PEER UNIT}
PEER=${2:?usage: console_agent.sh AGENT PEER UNIT}
UNIT=${3:?usage: console_agent.sh AGENT PEER UNIT}
prepare_private_netns console "$OUTER_NETNS"
require_executables console "$AGENT" "$PEER"
if [ ! -f "$UNIT" ]; then
    echo "console: FAIL: no unit file: $UNIT"
    exit 1
fi
AGENT=$(readlink -f "$AGENT")
PEER=$(readlink -f "$PEER")
UNIT=$(readlink -f "$UNIT")

TMP=$(mktemp -d /tmp/zq-console.XXXXXX)
STARTED=()   # PIDs of the background processes this script started
LIMIT_PID=

# ------------------------------------------------------------------ cleanup

cleanup() {
    local pid
    trap - EXIT INT TERM
    # The time limit's watcher ends by itself on TERM; anything else still
    # running at this point is stuck.
    [ -n "$LIMIT_PID" ] && signal_child TERM "$LIMIT_PID"
    for pid in "${STARTED[@]}"; do
        [ "$pid" = "$LIMIT_PID" ] || signal_child KILL "$pid"
    done
    [ -S "$TMP/tmux.sock" ] && tmux -S "$TMP/tmux.sock" kill-server 2>/dev/null
    wait 2>/dev/null
    if [ "${CONSOLE_KEEP_LOGS:-0}" = 1 ]; then
        echo "console: logs kept in $TMP"
    else
        rm -rf "$TMP"
    fi
}
trap cleanup EXIT
trap 'echo "console: interrupted"; exit 130' INT

# ------------------------------------------------------------------ results

# show FILE: the last lines of a log, control characters visible.
show() {
    echo "      ---- $1 (last 20 lines)"
    tail -n 20 "$1" 2>/dev/null | cat -v | sed 's/^/        /'
}

# ------------------------------------------------------------------ helpers


# has_line FILE LINE: FILE has a line that is exactly LINE.
has_line() {
    grep -aqxF -- "$2" "$1" 2>/dev/null
}

# wait_until SECONDS COMMAND...: true once COMMAND succeeds.
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    while [ "$(now_ms)" -lt "$deadline" ]; do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

# The agent is ready: its first refresh has shown the state and the
# service's creation marks.
agent_ready() {
    local out=$1
    grep -aq '^OS Description: ' "$out" && grep -aq '^Total CPU: ' "$out" &&
        has_line "$out" "Event:  BEFORE new zq::ZqServer()" &&
        has_line "$out" "Event:  AFTER new zq::ZqServer()"
}

alive() {
    kill -0 "$1" 2>/dev/null
}

# start_agent NAME [WRAPPER...]: starts the agent (behind WRAPPER, which must
# exec it) with standard input from /dev/null, output to $TMP/NAME.out and
# $TMP/NAME.err; sets AGENT_PID.
start_agent() {
    local name=$1
    shift
    "$@" "$AGENT" </dev/null >"$TMP/$name.out" 2>"$TMP/$name.err" &
    AGENT_PID=$!
    STARTED+=("$AGENT_PID")
}

# stop_agent PID SIGNAL: sends SIGNAL and waits up to 15 s for the exit;
# sets STOP_RC to the exit code, or to "running" when it did not end.
stop_agent() {
    local pid=$1 signal=$2
    kill "-$signal" "$pid" 2>/dev/null
    if wait_until 15 eval "! alive $pid"; then
        wait "$pid"
        STOP_RC=$?
    else
        STOP_RC=running
        signal_child KILL "$pid"
        wait "$pid" 2>/dev/null
    fi
}

# The value lines of a console log whose label repeats with the same text as
# the line of that label before it.
repeated_values() {
    grep -a -E '^(Total CPU|OS Description|Host Name|Local IP In Common with Orvane IP|Trigger|Orvane|Cloud): ' "$1" |
        awk '{ label = $0; sub(/: .*/, ":", label); if (label in last && last[label] == $0) print; last[label] = $0 }'
}

# ------------------------------------------------------------------ run

SCRIPT_START=$(now_ms)
STALL_SECONDS=${CONSOLE_STALL_SECONDS:-60}
start_time_limit "${CONSOLE_TIME_LIMIT:-$((110 + STALL_SECONDS + 30))}" 'echo "console: $PASSED passed, $FAILED failed"; exit 1'
STARTED+=("$LIMIT_PID")
echo "console: agent $AGENT, peer $PEER, unit $UNIT, work directory $TMP"

# ---- a: standard input from /dev/null; the three stop signals
for signal in TERM INT HUP; do
    name=signal-$signal
    start_agent "$name"
    pid=$AGENT_PID
    if ! wait_until 15 agent_ready "$TMP/$name.out"; then
        fail "a ($signal) the agent shows its state and the creation marks within 15 s" \
            "alive: $(alive "$pid" && echo yes || echo no)"
        show "$TMP/$name.out"
        show "$TMP/$name.err"
        stop_agent "$pid" KILL
        continue
    fi
    pass "a ($signal) the agent shows its state and the creation marks"
    if [ "$signal" = TERM ]; then
        # Three seconds of an idle agent: six refreshes that set every field.
        sleep 3
        check "a the agent is still running after 3 s with standard input at /dev/null" \
            "$(alive "$pid"; echo $?)"
        repeats=$(repeated_values "$TMP/$name.out")
        check "a an idle agent prints no value line again unchanged" "$([ -z "$repeats" ]; echo $?)" \
            "repeated: $(head -n 3 <<<"$repeats" | cat -v | tr '\n' '|')"
        os_lines=$(grep -ac '^OS Description: ' "$TMP/$name.out")
        host_lines=$(grep -ac '^Host Name: ' "$TMP/$name.out")
        check "a the OS description is shown once, the host name at most once" \
            "$([ "$os_lines" -eq 1 ] && [ "$host_lines" -le 1 ]; echo $?)" \
            "OS Description lines: $os_lines, Host Name lines: $host_lines"
        check "a no empty value is printed before the field was ever set" \
            "$(! grep -aqE '^(Orvane|Cloud|Trigger|Local IP In Common with Orvane IP):[[:space:]]*$' "$TMP/$name.out"
                echo $?)" "$(grep -aE '^(Orvane|Cloud|Trigger):' "$TMP/$name.out" | tr '\n' '|')"
    fi
    stop_agent "$pid" "$signal"
    check "a SIG$signal stops the agent with exit code 0" "$([ "$STOP_RC" = 0 ]; echo $?)" "exit: $STOP_RC"
    check "a ($signal) the agent stopped its service on the way out" \
        "$(grep -aq 'ZqServer::run HAS EXITED CORRECTLY' "$TMP/$name.err"; echo $?)" \
        "no \"ZqServer::run HAS EXITED CORRECTLY\" in the trace"
done

# ---- b: Enter on a terminal
if command -v python3 >/dev/null 2>&1; then
    cat >"$TMP/pty_enter.py" <<'EOF'
# Runs the agent on a pseudo-terminal, waits for its state, types Enter and
# reports the exit code. Every wait is bounded.
import os, pty, select, signal, sys, time

agent, log_path = sys.argv[1], sys.argv[2]
pid, fd = pty.fork()
if pid == 0:
    os.execv(agent, [agent])

output = bytearray()

def pump(seconds, done):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if done():
            return True
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                data = os.read(fd, 65536)
            except OSError:
                data = b""
            output.extend(data)
    return done()

exit_status = []

def exited():
    if not exit_status:
        got, status = os.waitpid(pid, os.WNOHANG)
        if got == pid:
            exit_status.append(status)
    return bool(exit_status)

def finish(code, message):
    if not exited():
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    with open(log_path, "wb") as log:
        log.write(bytes(output))
    print(message)
    sys.exit(code)

if not pump(15, lambda: b"OS Description: " in output and b"AFTER new zq::ZqServer()" in output or exited()):
    finish(1, "no state shown on the terminal within 15 s")
if exited():
    finish(1, "the agent ended before Enter, status %d" % exit_status[0])
os.write(fd, b"\n")
if not pump(15, exited):
    finish(1, "still running 15 s after Enter")
status = exit_status[0]
if os.WIFEXITED(status):
    finish(0 if os.WEXITSTATUS(status) == 0 else 1, "exit code %d" % os.WEXITSTATUS(status))
finish(1, "ended by signal %d" % os.WTERMSIG(status))
EOF
    timeout 60 python3 "$TMP/pty_enter.py" "$AGENT" "$TMP/pty.out" >"$TMP/pty.result" 2>&1
    rc=$?
    check "b Enter on a terminal stops the agent with exit code 0" "$rc" "$(cat "$TMP/pty.result")"
    [ $rc -eq 0 ] || show "$TMP/pty.out"
else
    echo "SKIP: b Enter on a terminal: python3 not available"
fi

# ---- c: two copies in one network namespace
start_agent first
first=$AGENT_PID
if wait_until 15 agent_ready "$TMP/first.out"; then
    start_agent second
    second=$AGENT_PID
    cloud_text='beaconCfgAlarm<srvIpAddr>10.20.30.40</srvIpAddr>'
    if wait_until 15 agent_ready "$TMP/second.out"; then
        pass "c a second copy shows the first copy's state and its creation marks"
        timeout 10 "$PEER" config --group cloud --raw "$cloud_text" >"$TMP/send0.out" 2>&1 ||
            fail "c the multicast text is sent" "$(cat "$TMP/send0.out")"
        wait_until 5 has_line "$TMP/second.out" "Cloud: 10.20.30.40"
        check "c the view shows the cloud server that the first copy received" \
            "$(has_line "$TMP/second.out" "Cloud: 10.20.30.40"; echo $?)"
        check "c the view shows the first copy's event line of the received text" \
            "$(has_line "$TMP/second.out" "Event:  MulticastRX= $cloud_text"; echo $?)"
        check "c the view shows the first copy's OS description" \
            "$([ "$(grep -a '^OS Description: ' "$TMP/second.out")" = "$(grep -a '^OS Description: ' "$TMP/first.out")" ]
                echo $?)"
        check "c the view runs no service of its own" \
            "$(! grep -aq 'ZqServer::ZqServer' "$TMP/second.err"; echo $?)"
    else
        fail "c a second copy shows the first copy's state within 15 s" \
            "alive: $(alive "$second" && echo yes || echo no)"
        show "$TMP/second.out"
        show "$TMP/second.err"
    fi
    stop_agent "$second" TERM
    check "c SIGTERM ends the view with exit code 0" "$([ "$STOP_RC" = 0 ]; echo $?)" "exit: $STOP_RC"
    if [ -f "$TMP/pty_enter.py" ]; then
        timeout 60 python3 "$TMP/pty_enter.py" "$AGENT" "$TMP/pty-view.out" >"$TMP/pty-view.result" 2>&1
        rc=$?
        check "c Enter on a terminal ends a view with exit code 0" "$rc" "$(cat "$TMP/pty-view.result")"
        check "c the view on the terminal showed the first copy's cloud server" \
            "$(grep -aq 'Cloud: 10.20.30.40' "$TMP/pty-view.out"; echo $?)"
    fi
    check "c the first copy keeps running" "$(alive "$first"; echo $?)"
    # The first copy still answers status requests on its port.
    timeout 10 "$PEER" status 127.0.0.1 --timeout-ms 3000 >"$TMP/status.reply" 2>"$TMP/status.err"
    rc=$?
    check "c the first copy still answers on port 45654" \
        "$([ $rc -eq 0 ] && grep -aq '<status>' "$TMP/status.reply"; echo $?)" "peer exit $rc: $(cat "$TMP/status.err")"
else
    fail "c the first copy starts" "alive: $(alive "$first" && echo yes || echo no)"
    show "$TMP/first.out"
fi

# ---- d: control characters in a received text (the first copy still runs)
if alive "$first"; then
    escape_text=$'beaconCfgAlarm\x1b[31m'
    feed_text=$'noise line1\nline2\x7f'
    timeout 10 "$PEER" config --group orvane --raw "$escape_text" >"$TMP/send1.out" 2>&1 ||
        fail "d the multicast text is sent" "$(cat "$TMP/send1.out")"
    timeout 10 "$PEER" config --group orvane --raw "$feed_text" >"$TMP/send2.out" 2>&1 ||
        fail "d the multicast text is sent" "$(cat "$TMP/send2.out")"
    expected1='Event:  MulticastRX= beaconCfgAlarm\x1b[31m'
    expected2='Event:  MulticastRX= noise line1\nline2\x7f'
    wait_until 5 has_line "$TMP/first.out" "$expected1"
    check "d an escape byte in a received text shows as \\x1b in its event line" \
        "$(has_line "$TMP/first.out" "$expected1"; echo $?)" \
        "event lines: $(grep -a '^Event:  MulticastRX' "$TMP/first.out" | cat -v | tr '\n' '|')"
    wait_until 5 has_line "$TMP/first.out" "$expected2"
    check "d a line feed and a delete in a received text show as \\n and \\x7f, on one line" \
        "$(has_line "$TMP/first.out" "$expected2"; echo $?)" \
        "event lines: $(grep -a '^Event:  MulticastRX' "$TMP/first.out" | cat -v | tr '\n' '|')"
    check "d no event or value line carries a raw control character" \
        "$(! grep -aE '^(Event|Total CPU|OS Description|Host Name|Local IP In Common with Orvane IP|Trigger|Orvane|Cloud):' \
            "$TMP/first.out" | grep -aq $'[\x01-\x08\x0b-\x1f\x7f]'; echo $?)"
    stop_agent "$first" TERM
    check "c,d the first copy stops with exit code 0" "$([ "$STOP_RC" = 0 ]; echo $?)" "exit: $STOP_RC"
fi

# ---- g: standard error on a pipe that nobody reads
# The reader opens the pipe and never reads. Each long request is traced with
# its text (about 2.2 kB a request), so the 64 kB pipe is full after about 30
# and the agent's own buffer soon after; from then on the trace must never
# hold up the worker.
KA_PORT=40001
mkfifo "$TMP/stall.fifo"
mkdir -p "$TMP/stall-ka"
sleep $((STALL_SECONDS + 60)) <"$TMP/stall.fifo" &
stall_reader=$!
STARTED+=("$stall_reader")
"$PEER" listen --port "$KA_PORT" --stamp --save "$TMP/stall-ka" --seconds $((STALL_SECONDS + 50)) \
    >"$TMP/stall-listen.out" 2>&1 &
stall_listener=$!
STARTED+=("$stall_listener")
launch_ms=$(now_ms)
"$AGENT" </dev/null >"$TMP/stall.out" 2>"$TMP/stall.fifo" &
pid=$!
STARTED+=("$pid")
if wait_until 15 agent_ready "$TMP/stall.out"; then
    timeout 10 "$PEER" config --group orvane --interface 127.0.0.1 --server-port "$KA_PORT" --cpu-percent 100 \
        --alarm-seconds 1000 127.0.0.1 >"$TMP/stall-config.out" 2>&1 || fail "g the configuration is sent"
    long_request="STATUS_REQUEST $(printf 'x%.0s' $(seq 1 1900))"
    unanswered=0
    for i in $(seq 1 400); do
        timeout 10 "$PEER" status 127.0.0.1 --timeout-ms 2000 --text "$long_request" >/dev/null 2>&1 ||
            { unanswered=$i; break; }
    done
    check "g 400 long status requests fill the unread pipe and are all answered" "$unanswered" \
        "request $unanswered got no reply within 2 s"
    # Then one request every 2 s for the whole stall, each answered at once.
    stall_end=$(($(now_ms) + STALL_SECONDS * 1000))
    sent=0 answered=0
    while [ "$unanswered" = 0 ] && [ "$(now_ms)" -lt "$stall_end" ]; do
        sent=$((sent + 1))
        timeout 10 "$PEER" status 127.0.0.1 --timeout-ms 1000 >/dev/null 2>&1 && answered=$((answered + 1))
        sleep 2
    done
    check "g for $STALL_SECONDS s every status request is answered within 1 s" \
        "$([ "$unanswered" = 0 ] && [ "$answered" = "$sent" ] && [ "$sent" -gt 0 ]; echo $?)" \
        "$answered of $sent answered"
    # The keep-alives of ticks 30, 60, ...: tick k comes about 5 + k s after
    # the launch, so every keep-alive due by now has come, 30 s apart.
    due=$(((stall_end - launch_ms - 5500) / 30000))
    times=$(datagrams "$TMP/stall-listen.out" "<wdKA>" | awk '{print $2}')
    gaps=$(awk 'NR > 1 { g = $1 - last; if (g < 28.5 || g > 31.5) bad = bad " " g } { last = $1 } END { print bad }' <<<"$times")
    check "g the $due keep-alives due by the end of the stall came, 30 s apart" \
        "$([ "$(grep -c . <<<"$times")" -ge "$due" ] && [ "$due" -ge 1 ] && [ -z "$gaps" ]; echo $?)" \
        "arrivals: $(tr '\n' ' ' <<<"$times"), gaps off: $gaps"
    # A reader at last: the kept trace comes out, and with the next texts a
    # line that counts the dropped ones (one for each time texts were
    # dropped: a first short one may come while the pipe was filling).
    timeout 4 cat "$TMP/stall.fifo" >"$TMP/stall.drained"
    drops=$(grep -aoE 'TRACE LINES DROPPED=\[[0-9]+\]' "$TMP/stall.drained")
    check "g a later reader gets lines counting the dropped trace texts, the last for the long stall" \
        "$([ -n "$drops" ] && ! grep -q '=\[0\]' <<<"$drops" && [ "$(tail -n 1 <<<"$drops" | tr -dc 0-9)" -ge 100 ]
            echo $?)" "found: $(tr '\n' ' ' <<<"$drops")"
    # The pipe is unread again: the exit waits for it only a little.
    stop_agent "$pid" TERM
    check "g with the pipe unread again SIGTERM still stops the agent with exit code 0" \
        "$([ "$STOP_RC" = 0 ]; echo $?)" "exit: $STOP_RC"
else
    fail "g the agent starts with standard error on an unread pipe" "alive: $(alive "$pid" && echo yes || echo no)"
    show "$TMP/stall.out"
    stop_agent "$pid" KILL
fi
stop_child "$stall_reader"
stop_child "$stall_listener"

# ---- e: the systemd unit
if command -v systemd-analyze >/dev/null 2>&1; then
    # verify checks that ExecStart names an executable: a copy points at the
    # built agent instead of the installed one.
    mkdir -p "$TMP/unit"
    unit_name=$(basename "$UNIT")
    sed "s|^ExecStart=.*|ExecStart=$AGENT|" "$UNIT" >"$TMP/unit/$unit_name"
    grep -q "^ExecStart=/usr/bin/brindlemoor-watchdog\$" "$UNIT"
    check "e the unit starts /usr/bin/brindlemoor-watchdog" "$?" "$(grep '^ExecStart' "$UNIT")"
    # The man page that the unit names is installed by the package only.
    systemd-analyze verify --man=no "$TMP/unit/$unit_name" >"$TMP/verify.out" 2>&1
    rc=$?
    check "e systemd-analyze verify reports no errors or warnings for the unit" \
        "$([ $rc -eq 0 ] && ! grep -q "$unit_name" "$TMP/verify.out"; echo $?)" \
        "exit $rc: $(tr '\n' '|' <"$TMP/verify.out")"
else
    echo "SKIP: systemd-analyze not available"
fi
missing=
for setting in 'Type=simple' 'Restart=on-failure' 'NoNewPrivileges=yes' 'PrivateTmp=yes' 'ProtectSystem=strict' \
    'ProtectHome=yes' 'ProtectKernelTunables=yes' 'ProtectKernelModules=yes' 'ProtectControlGroups=yes' \
    'DynamicUser=yes' 'MemoryDenyWriteExecute=yes' 'LockPersonality=yes' 'RestrictRealtime=yes' \
    'SystemCallArchitectures=native'; do
    grep -qx "$setting" "$UNIT" || missing="$missing $setting"
done
families=$(sed -n 's/^RestrictAddressFamilies=//p' "$UNIT")
for family in $families; do
    case $family in
        AF_INET | AF_INET6 | AF_UNIX | AF_NETLINK) ;;
        *) missing="$missing (family $family not needed)" ;;
    esac
done
[[ " $families " == *" AF_INET "* ]] || missing="$missing RestrictAddressFamilies with AF_INET"
check "e the unit has the hardening of a UDP-only agent" "$([ -z "$missing" ]; echo $?)" "missing:$missing"

# The unit's sandbox, approximated without a running systemd: no terminal
# (its own session), standard input from /dev/null, a read-only /, a private
# /tmp, no home directories, an unprivileged user and no new privileges.
# Every step execs the next, so the PID is the agent's own. The agent's own
# directory is bound onto /mnt first, since the build may lie under /tmp (a
# CI clone) or under a home directory, which the sandbox hides.
SANDBOX=(setsid unshare --mount --propagation private -- bash -c '
        agent=$1
        shift
        mount --bind "$(dirname "$agent")" /mnt || exit 125
        set -- "/mnt/$(basename "$agent")" "$@"
        mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /tmp || exit 125
        for home in /home /root /run/user; do
            [ -d "$home" ] && { mount -t tmpfs -o ro,mode=0755 tmpfs "$home" || exit 125; }
        done
        mount -o remount,bind,ro / || exit 125
        exec setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs -- "$@"' sandbox)
if command -v setpriv >/dev/null 2>&1; then
    start_agent sandbox "${SANDBOX[@]}"
    pid=$AGENT_PID
    if wait_until 15 agent_ready "$TMP/sandbox.out"; then
        pass "e under the unit's sandbox the agent starts and shows its state"
        # What the agent runs as: itself, in a session of its own, without a
        # terminal, as the unprivileged user, seeing / read-only.
        read -r -a stat <"/proc/$pid/stat"
        comm=$(cat "/proc/$pid/comm")
        uid=$(awk '/^Uid:/ {print $2}' "/proc/$pid/status")
        nnp=$(awk '/^NoNewPrivs:/ {print $2}' "/proc/$pid/status")
        root_ro=$(awk '$5 == "/" {print $6}' "/proc/$pid/mountinfo" | tail -n 1)
        check "e the sandboxed process is the agent, without a terminal, in its own session, as uid 65534 with no new privileges and / read-only" \
            "$([ "$comm" = "$(basename "$AGENT" | cut -c 1-15)" ] && [ "${stat[6]}" = 0 ] && [ "${stat[5]}" = "$pid" ] && [ "$uid" = 65534 ] &&
                [ "$nnp" = 1 ] && [[ ,$root_ro, == *,ro,* ]]; echo $?)" \
            "comm $comm, tty ${stat[6]}, session ${stat[5]}, uid $uid, NoNewPrivs $nnp, / $root_ro"
        stop_agent "$pid" TERM
        check "e under the unit's sandbox SIGTERM stops the agent with exit code 0" \
            "$([ "$STOP_RC" = 0 ]; echo $?)" "exit: $STOP_RC"
    else
        fail "e under the unit's sandbox the agent starts and shows its state" \
            "alive: $(alive "$pid" && echo yes || echo no)"
        show "$TMP/sandbox.out"
        show "$TMP/sandbox.err"
        stop_agent "$pid" KILL
    fi
else
    echo "SKIP: e the sandboxed start: setpriv not available"
fi

# Standard error on the journal, as systemd sets it up for the unit: the
# journal's stream is named by JOURNAL_STREAM (its device and inode), here a
# file of ours in its place. The trace and the sampler's lines stay off, the
# console's lines do not; the drop-in's variable turns them back on. The
# first tick comes 6 s after the start and the first CPU line one tick later.
for traced in 1 0; do
    name=journal-$traced
    : >"$TMP/$name.err"
    stream=$(stat -c '%d:%i' "$TMP/$name.err")
    if [ "$traced" = 1 ]; then
        start_agent "$name" env JOURNAL_STREAM="$stream" BRINDLEMOOR_WATCHDOG_TRACE=1
    else
        start_agent "$name" env -u BRINDLEMOOR_WATCHDOG_TRACE JOURNAL_STREAM="$stream"
    fi
    pid=$AGENT_PID
    if ! wait_until 15 agent_ready "$TMP/$name.out"; then
        fail "e ($name) the agent starts with standard error on the journal" \
            "alive: $(alive "$pid" && echo yes || echo no)"
        show "$TMP/$name.err"
        stop_agent "$pid" KILL
        continue
    fi
    if [ "$traced" = 1 ]; then
        wait_for "$TMP/$name.err" '^CPU Total usage: ' 12
        stop_agent "$pid" TERM
        check "e with BRINDLEMOOR_WATCHDOG_TRACE=1 the trace and the CPU sampler's lines reach the journal" \
            "$(grep -aq 'ZqServer::handle_timer' "$TMP/$name.err" && grep -aq '^CPU Total usage: ' "$TMP/$name.err"
                echo $?)" "standard error: $(grep -a 'CPU\|handle_timer' "$TMP/$name.err" | head -n 3 | tr '\n' '|')"
        # Standard output is the window: the sampler's line of every tick
        # goes to standard error with the trace.
        check "e the CPU sampler's lines are not among the console's lines on standard output" \
            "$(! grep -aq 'CPU Total usage' "$TMP/$name.out"; echo $?)" \
            "$(grep -ac 'CPU Total usage' "$TMP/$name.out") sampler lines on standard output"
    else
        sleep 8   # as long as the first CPU line took above, and more
        stop_agent "$pid" TERM
        check "e on the journal the agent writes no trace and no sampler line, only its console lines" \
            "$([ ! -s "$TMP/$name.err" ] && [ "$STOP_RC" = 0 ] && ! grep -aq 'CPU Total usage' "$TMP/$name.out"
                echo $?)" "exit $STOP_RC, standard error: $(head -c 200 "$TMP/$name.err" | tr '\n' '|')"
        cpu_lines=$(grep -ac '^Total CPU: ' "$TMP/$name.out")
        check "e on the journal the CPU load is shown once in the first ten minutes" "$([ "$cpu_lines" = 1 ]; echo $?)" \
            "$(grep -a '^Total CPU: ' "$TMP/$name.out" | tr '\n' '|')"
    fi
done

# ---- f: the panel on a terminal (tmux, 100x30), after a marker line
LABELS=('Total CPU:' 'OS Description:' 'Host Name:' 'Local IP In Common with Orvane IP:' 'Trigger:' 'Orvane:' 'Cloud:')
on_screen() {  # TEXT: the visible screen (kept in screen.now) holds TEXT
    tmux -S "$TMP/tmux.sock" capture-pane -p -t "$SESSION" >"$TMP/screen.now" 2>/dev/null && grep -aqF -- "$1" "$TMP/screen.now"
}
start_terminal() {  # NAME ENV...: the agent in terminal NAME; the shell then tells its exit code
    SESSION=$1
    shift
    tmux -S "$TMP/tmux.sock" new-session -d -s "$SESSION" -x 100 -y 30 \
        "echo BEFORE-AGENT; env -u BRINDLEMOOR_WATCHDOG_TRACE $* '$AGENT'; echo AGENT-EXIT=\$?; sleep 60"
}
if command -v tmux >/dev/null 2>&1; then
    start_terminal panel
    wait_until 15 on_screen 'AFTER new zq::ZqServer()' || fail "f the panel shows the state" "$(tr '\n' '|' <"$TMP/screen.now")"
    timeout 10 "$PEER" config --group orvane --raw $'beaconCfgAlarm\x1b[2J\x07panel' >/dev/null 2>&1
    wait_until 5 on_screen 'MulticastRX= beaconCfgAlarm\x1b[2J\x07panel'
    check "f a received text's control bytes show escaped in the panel" "$?" "$(tr '\n' '|' <"$TMP/screen.now")"
    # Two looks, more than two redraws apart: the title, then each field on
    # its own row and nowhere else; no trace, nothing of the screen before.
    for look in 1 2; do
        sleep 1.2
        on_screen 'Brindlemoor Win32 Watch Dog 1.0.0.4'
        bad=$(head -n 1 "$TMP/screen.now" | grep -vx 'Brindlemoor Win32 Watch Dog 1.0.0.4')
        for row in 2 3 4 5 6 7 8; do
            label=${LABELS[row - 2]}
            sed -n "${row}p" "$TMP/screen.now" | grep -aq "^$label" && [ "$(grep -acF -- "$label" "$TMP/screen.now")" = 1 ] ||
                bad="$bad $label"
        done
        grep -aE '^(==>|<==|<>)|ZqServer::|CPU Total usage|BEFORE-AGENT' "$TMP/screen.now" >/dev/null && bad="$bad trace"
        check "f look $look: the title, each field once in its row, no trace" "$([ -z "$bad" ]; echo $?)" \
            "wrong: $bad; screen: $(tr '\n' '|' <"$TMP/screen.now")"
    done
    tmux -S "$TMP/tmux.sock" send-keys -t "$SESSION" Enter
    wait_until 15 on_screen 'AGENT-EXIT='
    check "f Enter stops the panel with exit code 0 and the screen is as before" \
        "$(grep -aqx 'AGENT-EXIT=0' "$TMP/screen.now" && grep -aqx 'BEFORE-AGENT' "$TMP/screen.now" &&
            ! grep -aq 'Total CPU' "$TMP/screen.now"; echo $?)" "screen: $(tr '\n' '|' <"$TMP/screen.now")"
    # Ctrl-Z gives the terminal back (main screen, cursor shown) and stops
    # the agent; continued, it draws the panel again. Ctrl-\ ends it with the
    # terminal given back. The shell around it (whose Ctrl-Z is discarded, as
    # its process group has no job control) reports the exit code.
    SESSION=signals
    tmux -S "$TMP/tmux.sock" new-session -d -s "$SESSION" -x 100 -y 30 "trap true QUIT; ulimit -c 0; echo BEFORE-AGENT
        sh -c 'echo \$\$ >$TMP/signals.pid; exec env -u BRINDLEMOOR_WATCHDOG_TRACE $AGENT'; echo AGENT-EXIT=\$?; sleep 60"
    screen_is() {  # ALTERNATE CURSOR: the pane's alternate-screen and cursor flags
        [ "$(tmux -S "$TMP/tmux.sock" display-message -p -t "$SESSION" '#{alternate_on} #{cursor_flag}')" = "$1 $2" ]
    }
    wait_until 15 on_screen 'AFTER new zq::ZqServer()' && wait_until 5 screen_is 1 0
    tmux -S "$TMP/tmux.sock" send-keys -t "$SESSION" -H 1a
    wait_until 5 screen_is 0 1 && sleep 0.5 && ps -o stat= -p "$(cat "$TMP/signals.pid")" | grep -q '^T'
    check "f Ctrl-Z gives the terminal back and stops the agent" "$?" \
        "flags $(tmux -S "$TMP/tmux.sock" display-message -p -t "$SESSION" '#{alternate_on} #{cursor_flag}')"
    kill -CONT "$(cat "$TMP/signals.pid")"
    wait_until 5 screen_is 1 0 && wait_until 5 on_screen 'Brindlemoor Win32 Watch Dog 1.0.0.4'
    check "f continued, the agent draws its panel again" "$?" "$(tr '\n' '|' <"$TMP/screen.now")"
    tmux -S "$TMP/tmux.sock" send-keys -t "$SESSION" -H 1c
    wait_until 15 on_screen 'AGENT-EXIT='
    check "f Ctrl-\\ ends the agent and gives the terminal back" \
        "$(screen_is 0 1 && grep -aqx 'AGENT-EXIT=131' "$TMP/screen.now" && grep -aqx 'BEFORE-AGENT' "$TMP/screen.now"
            echo $?)" "screen: $(tr '\n' '|' <"$TMP/screen.now")"
    # The trace asked for on the panel's terminal: the console's lines among
    # it, and a received text's control bytes escaped in its trace line.
    start_terminal traced BRINDLEMOOR_WATCHDOG_TRACE=1
    wait_until 15 on_screen 'ZqServer::handle_timer' &&
        timeout 10 "$PEER" config --group orvane --raw $'beaconCfgAlarm\x1b[2J\x07traced' >/dev/null 2>&1 &&
        wait_until 5 on_screen 'MulticastRX=[beaconCfgAlarm\x1b[2J\x07traced]' &&
        tmux -S "$TMP/tmux.sock" send-keys -t "$SESSION" Enter &&
        wait_until 15 on_screen 'AGENT-EXIT=0' && tmux -S "$TMP/tmux.sock" capture-pane -p -t "$SESSION" -S - >"$TMP/screen.now"
    check "f with BRINDLEMOOR_WATCHDOG_TRACE=1 the terminal shows the trace, escaped, and the console's lines; Enter stops it" \
        "$(grep -aq '^==>  ' "$TMP/screen.now" && grep -aq '^OS Description: ' "$TMP/screen.now" &&
            grep -aqx 'AGENT-EXIT=0' "$TMP/screen.now"; echo $?)" "screen: $(tail -n 5 "$TMP/screen.now" | tr '\n' '|')"
    tmux -S "$TMP/tmux.sock" kill-server 2>/dev/null
else
    echo "SKIP: f the panel on a terminal: tmux not available"
fi

echo "console: run took $((($(now_ms) - SCRIPT_START) / 1000)) s"
echo "console: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
