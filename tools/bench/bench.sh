#!/usr/bin/env bash
# The bench: the watch-dog agent, Net-SNMP's snmpd and a minimal UDP echo
# server (the floor), measured side by side in one run, with the targets.
#
#   bash tools/bench/bench.sh --agent build/linux/brindlemoor-watchdog --tools build/linux/tools/bench
#        [--before OTHER_AGENT] [--out FILE]
#   (or: cmake --build build/linux --target bench)
#
# Needs root (namespaces), snmpd (Debian packages snmpd and snmp; see
# scripts/install-deps.sh) and about three minutes. Everything runs inside a
# network namespace that has only loopback, and a PID namespace, so that all
# traffic stays on 127.0.0.1 and every process the bench starts ends with it:
#
#   phase 1  the agent with its trace time-stamped line by line as it arrives,
#            and beside it (in a network namespace of its own) the agent with
#            its trace off; the processor time of these, snmpd, the echo
#            floor and zq-wakefloor (the agent's wake-up schedule with no
#            work), while idle over 60 s;
#            the agent's first 120 ticks; then a 10-second status-request
#            flood (16 in flight) and the ticks that fall within it;
#   phase 2  a fresh agent (trace to /dev/null), snmpd and the echo floor:
#            resident memory after start; a 1,000-request warm-up; three
#            rounds in which the three servers take turns, each getting a
#            closed loop of 25,000 requests and 25,000 with 16 in flight over
#            16 source ports (resident memory after round 2, 101,000
#            requests); then two floods of 150,000 with 16 in flight
#            (resident memory a second after each: the first's level, and
#            the growth over the second). Rates and latencies are medians of the rounds.
#            In the same rounds, each in a network namespace of its own: the
#            agent with its trace off (BRINDLEMOOR_WATCHDOG_TRACE=0) and, with
#            --before, another build of the agent (trace to /dev/null and
#            off), for processor time per reply side by side.
#
# Processor time is utime+stime from /proc/PID/stat, in clock ticks: the
# kernel sums it over every thread of the process (the agent's worker, its
# output writers and its main thread alike, and the ones that have ended), as
# for snmpd and the echo floor. The sum of the threads' run times in
# /proc/PID/task/*/schedstat (ns, live threads only) is shown beside it where
# it is finer.
set -uo pipefail

usage() {
  echo "usage: bench.sh --agent PATH --tools DIR [--before PATH] [--out FILE]" >&2
  exit 2
}

agent= tools= out= before=
while [ $# -gt 0 ]; do
  case "$1" in
    --agent) agent=$(readlink -f "$2"); shift 2 ;;
    --tools) tools=$(readlink -f "$2"); shift 2 ;;
    --out) out=$(readlink -f "$2"); shift 2 ;;
    --before) before=$(readlink -f "$2"); shift 2 ;;
    *) usage ;;
  esac
done
[ -x "$agent" ] && [ -d "$tools" ] || usage
[ -z "$before" ] || [ -x "$before" ] || usage
for t in zq-loadgen zq-echo zq-tracestamp zq-wakefloor; do
  [ -x "$tools/$t" ] || { echo "bench: $tools/$t is missing (build the bench tools)" >&2; exit 2; }
done
snmpd=$(command -v snmpd || true)
[ -n "$snmpd" ] || snmpd=/usr/sbin/snmpd
[ -x "$snmpd" ] || { echo "bench: snmpd is missing (apt-get install snmpd snmp, or scripts/install-deps.sh)" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "bench: needs root for its network namespace" >&2; exit 2; }

if [ -z "${ZQ_BENCH_INNER:-}" ]; then
  # The whole bench in a namespace of its own, bounded in time: when the
  # time runs out, the namespace's first process dies and takes every other
  # process of the namespace with it.
  export ZQ_BENCH_INNER=1
  args=(--agent "$agent" --tools "$tools")
  [ -n "$out" ] && args+=(--out "$out")
  [ -n "$before" ] && args+=(--before "$before")
  exec timeout --kill-after=10 600 \
    unshare --net --pid --fork --kill-child --mount-proc bash "$0" "${args[@]}"
fi

# ---- inside the namespace ---------------------------------------------------
ip link set lo up
ip route add 224.0.0.0/4 dev lo   # the agent joins its groups on loopback

work=$(mktemp -d /tmp/zq-bench.XXXXXX)
started_pids=()
cleanup() {
  for p in "${started_pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
  for p in "${started_pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

[ -n "$out" ] && exec > >(tee "$out") 2>&1

loadgen="$tools/zq-loadgen"
SNMP_PORT=16161
ECHO_PORT=17007
AGENT_PORT=45654
SNMP_OID=1.3.6.1.4.1.2021.10.1.3.1   # laLoad.1 (UCD-SNMP-MIB), the 1-minute load
HZ=$(getconf CLK_TCK)
bench_start=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

say() { printf '%s\n' "$*"; }
now_ns() { date +%s%N; }

# utime+stime in clock ticks (fields 14 and 15; the name in field 2 may hold blanks).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Run time of all threads in ns, from schedstat.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# Field KEY of a zq-loadgen result line.
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p"; }

wait_ready() {  # kind port: until one request is answered (at most 10 s)
  local i
  for i in $(seq 1 50); do
    "$loadgen" --kind "$1" --port "$2" --count 1 --seconds 0.2 --timeout-ms 200 --oid "$SNMP_OID" >/dev/null 2>&1 && return 0
  done
  echo "bench: no answer on port $2" >&2
  return 1
}

# ---- the servers ------------------------------------------------------------
cat >"$work/snmpd.conf" <<EOF
# Read-only, for the bench's OIDs only; it listens where the command line says.
view benchview included .1.3.6.1.4.1.2021.10
view benchview included .1.3.6.1.4.1.2021.11
rocommunity public 127.0.0.1 -V benchview
dontLogTCPWrappersConnects yes
[snmp] persistentDir $work/snmp
EOF
mkdir -p "$work/snmp"
SNMP_PERSISTENT_DIR="$work/snmp" MIBS= \
  "$snmpd" -f -Lf /dev/null -C -c "$work/snmpd.conf" "udp:127.0.0.1:$SNMP_PORT" </dev/null >/dev/null 2>&1 &
snmpd_pid=$!; started_pids+=("$snmpd_pid")
"$tools/zq-echo" --port "$ECHO_PORT" --seconds 590 >/dev/null &
echo_pid=$!; started_pids+=("$echo_pid")
# The idle floor: the agent's wake-up schedule with no work.
"$tools/zq-wakefloor" --seconds 590 >/dev/null &
wake_pid=$!; started_pids+=("$wake_pid")

# Agent A: its trace through the time-stamper.
mkfifo "$work/trace"
"$tools/zq-tracestamp" --match "ZqServer::handle_timer" --out "$work/ticks" --seconds 300 <"$work/trace" &
stamp_pid=$!; started_pids+=("$stamp_pid")
agentA_launch=$(now_ns)
"$agent" </dev/null >/dev/null 2>"$work/trace" &
agentA_pid=$!; started_pids+=("$agentA_pid")

# Beside it, at rest only: the agent with its trace off, in a network
# namespace of its own (both bind port 45654).
unshare --net bash -c 'ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec env BRINDLEMOOR_WATCHDOG_TRACE=0 "$1"' \
  rest "$agent" </dev/null >/dev/null 2>/dev/null &
rest_pid=$!; started_pids+=("$rest_pid")

wait_ready snmp "$SNMP_PORT" && wait_ready echo "$ECHO_PORT" && wait_ready status "$AGENT_PORT" || exit 1
sleep 2

# ---- phase 1: idle processor time, the agent's ticks, the flood -------------
say "phase 1: idle 60 s, 120 ticks, 10-second flood (about 2.5 minutes)"
declare -A idle_t0 idle_n0 idle_ticks idle_ns
# The agent's own threads apart: the main thread (the console view's
# refresh) and the worker (the ticks).
thread_ns() { for t in /proc/"$1"/task/*; do printf '%s:%s ' "${t##*/}" "$(cut -d' ' -f1 "$t/schedstat")"; done; }
agent_threads0=$(thread_ns "$agentA_pid")
for s in agent rest snmpd echo wake; do
  case $s in agent) p=$agentA_pid ;; rest) p=$rest_pid ;; snmpd) p=$snmpd_pid ;; echo) p=$echo_pid ;; wake) p=$wake_pid ;; esac
  idle_t0[$s]=$(cpu_ticks "$p"); idle_n0[$s]=$(cpu_ns "$p")
done
sleep 60
for s in agent rest snmpd echo wake; do
  case $s in agent) p=$agentA_pid ;; rest) p=$rest_pid ;; snmpd) p=$snmpd_pid ;; echo) p=$echo_pid ;; wake) p=$wake_pid ;; esac
  idle_ticks[$s]=$(( $(cpu_ticks "$p") - idle_t0[$s] ))
  idle_ns[$s]=$(( $(cpu_ns "$p") - idle_n0[$s] ))
done
agent_threads1=$(thread_ns "$agentA_pid")
idle_threads=$(awk -v a="$agent_threads0" -v b="$agent_threads1" -v main="$agentA_pid" 'BEGIN {
  n = split(a, x, " "); for (i = 1; i <= n; i++) { split(x[i], kv, ":"); t0[kv[1]] = kv[2] }
  n = split(b, y, " "); for (i = 1; i <= n; i++) { split(y[i], kv, ":"); d = kv[2] - t0[kv[1]]
    printf "%s%s %.1f ms", (i > 1 ? ", " : ""), (kv[1] == main ? "main thread" : "thread " kv[1]), d / 1e6 } }')

ticks_seen() { grep -c '^line ' "$work/ticks" 2>/dev/null || echo 0; }
for i in $(seq 1 900); do   # tick 120 comes about 126 s after the start
  [ "$(ticks_seen)" -ge 121 ] && break
  sleep 0.2
done
flood_t0=$(now_ns)
flood=$("$loadgen" --kind status --port "$AGENT_PORT" --window 16 --count 100000000 --seconds 10 --label flood)
flood_t1=$(now_ns)
sleep 1.5
kill -TERM "$agentA_pid" "$rest_pid"; wait "$agentA_pid" "$rest_pid" 2>/dev/null
wait "$stamp_pid" 2>/dev/null

# Lateness of tick k against the fixed schedule t1 + (k-1) s, on the
# real-time clock (the agent's timer runs on it). Also: the schedule fitted
# to the earliest tick (the least-late tick defines it), and the first tick's
# distance from the agent's launch (5 s + one period after the timer's
# construction, which comes a few milliseconds after the launch).
read -r nticks late120 max120 fit_late120 fit_max120 first_tick flood_ticks flood_last flood_max <<<"$(
awk -v f0="$flood_t0" -v f1="$flood_t1" -v launch="$agentA_launch" '
  $1 == "line"  { t[$4] = $3; n = $4 }
  END {
    t1 = t[1]; fit = 1e30
    for (k = 1; k <= 120 && k <= n; k++) { e = t[k] - (k - 1) * 1e9; if (e < fit) fit = e }
    max = -1e30; fmax = -1e30
    for (k = 1; k <= 120 && k <= n; k++) {
      l = t[k] - (t1 + (k - 1) * 1e9); if (l > max) max = l
      l = t[k] - (fit + (k - 1) * 1e9); if (l > fmax) fmax = l
    }
    late = (n >= 120) ? t[120] - (t1 + 119e9) : -1
    start = launch
    flate = (n >= 120) ? t[120] - (fit + 119e9) : -1
    cnt = 0; last = 0; flmax = -1e30
    for (k = 1; k <= n; k++) if (t[k] >= f0 && t[k] <= f1) {
      l = t[k] - (t1 + (k - 1) * 1e9); cnt++; last = l; if (l > flmax) flmax = l
    }
    if (cnt == 0) flmax = 0
    printf "%d %.3f %.3f %.3f %.3f %.3f %d %.3f %.3f\n", n, late / 1e6, max / 1e6, flate / 1e6, fmax / 1e6,
           (t1 - start) / 1e9, cnt, last / 1e6, flmax / 1e6
  }' "$work/ticks")"

# ---- phase 2: throughput, latency, processor time per reply, memory ---------
say "phase 2: throughput and memory (about a minute)"
"$agent" </dev/null >/dev/null 2>/dev/null &
agentB_pid=$!; started_pids+=("$agentB_pid")
wait_ready status "$AGENT_PORT" || exit 1
sleep 1

declare -A R PID KIND PORT NETNS LABEL
PID=([agent]=$agentB_pid [snmpd]=$snmpd_pid [echo]=$echo_pid)
KIND=([agent]=status [snmpd]=snmp [echo]=echo)
PORT=([agent]=$AGENT_PORT [snmpd]=$SNMP_PORT [echo]=$ECHO_PORT)
LABEL=([agent]="agent, trace to /dev/null")
# The other agents, each in a network namespace of its own inside the
# bench's (loopback only), since they all bind port 45654; their load
# generator joins that namespace.
agents=(agent)
start_agent_variant() {  # name binary trace-setting
  unshare --net bash -c 'ip link set lo up && ip route add 224.0.0.0/4 dev lo && exec env BRINDLEMOOR_WATCHDOG_TRACE="$2" "$1"' \
    variant "$2" "$3" </dev/null >/dev/null 2>/dev/null &
  PID[$1]=$!; started_pids+=("$!")
  KIND[$1]=status; PORT[$1]=$AGENT_PORT; NETNS[$1]=/proc/$!/ns/net
  agents+=("$1")
}
start_agent_variant agent_off "$agent" 0
LABEL[agent_off]="agent, trace off"
if [ -n "$before" ]; then
  start_agent_variant before "$before" 1
  start_agent_variant before_off "$before" 0
  LABEL[before]="before, trace to /dev/null"
  LABEL[before_off]="before, trace off"
fi
ROUNDS=3
PER_RUN=25000
gen() {  # server window count seconds
  local enter=()
  [ -n "${NETNS[$1]:-}" ] && enter=(nsenter --net="${NETNS[$1]}")
  "${enter[@]}" "$loadgen" --kind "${KIND[$1]}" --port "${PORT[$1]}" --oid "$SNMP_OID" --window "$2" --count "$3" --seconds "$4"
}
for s in "${agents[@]:1}"; do
  for i in $(seq 1 50); do
    gen "$s" 1 1 0.2 >/dev/null 2>&1 && break
    [ "$i" = 50 ] && { echo "bench: $s does not answer" >&2; exit 1; }
  done
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for s in "${agents[@]}" snmpd echo; do
  R[$s.rss0]=$(rss_kb "${PID[$s]}")
  gen "$s" 1 1000 10 >/dev/null
  for m in 1 16; do R[$s.$m.ticks]=0 R[$s.$m.ns]=0 R[$s.$m.good]=0 R[$s.$m.bad]=0; done
done
# The servers take turns, round by round, so that a slow moment of the
# machine falls on all three alike; each figure is the median of the rounds
# (processor time: the total over the rounds, divided by the replies).
for round in $(seq 1 "$ROUNDS"); do
  for s in "${agents[@]}" snmpd echo; do
    pid=${PID[$s]}
    for m in 1 16; do
      t0=$(cpu_ticks "$pid"); n0=$(cpu_ns "$pid")
      line=$(gen "$s" "$m" "$PER_RUN" 15)
      t1=$(cpu_ticks "$pid"); n1=$(cpu_ns "$pid")
      R[$s.$m.ticks]=$(( R[$s.$m.ticks] + t1 - t0 ))
      R[$s.$m.ns]=$(( R[$s.$m.ns] + n1 - n0 ))
      R[$s.$m.good]=$(( R[$s.$m.good] + $(field "$line" good) ))
      R[$s.$m.bad]=$(( R[$s.$m.bad] + $(field "$line" bad) + $(field "$line" lost) ))
      R[$s.$m.rates]+=" $(field "$line" rate)"
      R[$s.$m.p50s]+=" $(field "$line" p50_us)"
      R[$s.$m.p99s]+=" $(field "$line" p99_us)"
      [ "$(( $(field "$line" bad) + $(field "$line" lost) ))" = 0 ] || R[$s.$m.badline]=$line
    done
  done
  if [ "$round" = 2 ]; then   # 1,000 + 2 x 2 x 25,000 requests
    for s in agent snmpd echo; do R[$s.rss1]=$(rss_kb "${PID[$s]}"); done
  fi
done
# Two floods of 150,000 requests (16 in flight): the resident set after the
# first, and what the second adds to it.
for s in "${agents[@]}" snmpd echo; do
  case $s in agent | agent_off | snmpd | echo)
    gen "$s" 16 150000 30 >/dev/null
    sleep 1   # what stays once the flood is over
    R[$s.rss2]=$(rss_kb "${PID[$s]}")
    gen "$s" 16 150000 30 >/dev/null
    sleep 1
    R[$s.rss3]=$(rss_kb "${PID[$s]}")
    R[$s.grow]=$(( R[$s.rss3] - R[$s.rss2] )) ;;
  esac
  for m in 1 16; do
    R[$s.$m.rate]=$(median <<<"${R[$s.$m.rates]}")
    R[$s.$m.p50]=$(median <<<"${R[$s.$m.p50s]}")
    R[$s.$m.p99]=$(median <<<"${R[$s.$m.p99s]}")
    R[$s.$m.cpu]=$(awk -v d="${R[$s.$m.ticks]}" -v hz="$HZ" -v g="${R[$s.$m.good]}" 'BEGIN {printf "%.2f", g ? d / hz * 1e6 / g : 0}')
    R[$s.$m.cpuns]=$(awk -v d="${R[$s.$m.ns]}" -v g="${R[$s.$m.good]}" 'BEGIN {printf "%.2f", g ? d / 1e3 / g : 0}')
  done
done

# ---- report -----------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b + 0 == 0) print "-"; else printf "%.2f", a / b}'; }
verdict() { if [ "$1" = 1 ]; then echo PASS; else echo MISS; fi; }
le() { awk -v a="$1" -v b="$2" 'BEGIN {print (a + 0 <= b + 0) ? 1 : 0}'; }
lt() { awk -v a="$1" -v b="$2" 'BEGIN {print (a + 0 < b + 0) ? 1 : 0}'; }
ms() { awk -v t="$1" -v hz="$HZ" 'BEGIN {printf "%.0f", t / hz * 1000}'; }
nsms() { awk -v n="$1" 'BEGIN {printf "%.1f", n / 1e6}'; }

echo
# The agents side by side (with --before, the other build too), against the
# same rounds of the echo floor.
variants() {
  local fmt2='  %-28s %20s %20s %9s %9s\n' v
  printf "$fmt2" "CPU per reply (us)" "closed loop" "16 in flight" "x echo" "x echo"
  printf "$fmt2" "(stat | schedstat)" "" "" "(1)" "(16)"
  for v in "${agents[@]}"; do
    printf "$fmt2" "${LABEL[$v]}" "${R[$v.1.cpu]} | ${R[$v.1.cpuns]}" "${R[$v.16.cpu]} | ${R[$v.16.cpuns]}" \
      "$(ratio "${R[$v.1.cpu]}" "${R[echo.1.cpu]}")" "$(ratio "${R[$v.16.cpu]}" "${R[echo.16.cpu]}")"
  done
  printf "$fmt2" "echo floor" "${R[echo.1.cpu]} | ${R[echo.1.cpuns]}" "${R[echo.16.cpu]} | ${R[echo.16.cpuns]}" "" ""
}
say "Machine: $(nproc) processors, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo), kernel $(uname -r)"
say "Load average at the start: $load_start; at the end: $(cut -d' ' -f1-3 /proc/loadavg) (the bench's own load included); the bench took $(( $(date +%s) - bench_start )) s"
say "Command: bash tools/bench/bench.sh --agent $agent --tools $tools${before:+ --before $before}"
say "Agent: $agent; snmpd: $("$snmpd" -v 2>/dev/null | sed -n 's/^NET-SNMP version: *//p' | head -1) answering GET $SNMP_OID; echo floor: zq-echo"
echo
fmt='%-34s %14s %14s %14s %12s %12s\n'
printf "$fmt" "" agent snmpd echo agent/snmpd agent/echo
# row LABEL KEY: the three servers' R[<server>.KEY] and the agent's ratios.
row() {
  local a=${R[agent.$2]} s=${R[snmpd.$2]} e=${R[echo.$2]}
  printf "$fmt" "$1" "$a" "$s" "$e" "$(ratio "$a" "$s")" "$(ratio "$a" "$e")"
}
for m in 1 16; do
  label=$([ $m = 1 ] && echo "closed loop" || echo "16 in flight")
  row "$label: replies/s" $m.rate
  row "  latency p50 (us)" $m.p50
  row "  latency p99 (us)" $m.p99
  row "  CPU per reply (us, stat)" $m.cpu
  row "  CPU per reply (us, schedstat)" $m.cpuns
done
variants
row "VmRSS after start (kB)" rss0
row "VmRSS after 101,000 requests (kB)" rss1
row "VmRSS after a 150,000 flood (kB)" rss2
row "VmRSS after a second one (kB)" rss3
printf "$fmt" "idle CPU over 60 s (ms, stat)" "$(ms "${idle_ticks[agent]}")" "$(ms "${idle_ticks[snmpd]}")" "$(ms "${idle_ticks[echo]}")" \
  "$(ratio "${idle_ticks[agent]}" "${idle_ticks[snmpd]}")" "$(ratio "${idle_ticks[agent]}" "${idle_ticks[echo]}")"
printf "$fmt" "idle CPU over 60 s (ms, schedstat)" "$(nsms "${idle_ns[agent]}")" "$(nsms "${idle_ns[snmpd]}")" "$(nsms "${idle_ns[echo]}")" \
  "$(ratio "${idle_ns[agent]}" "${idle_ns[snmpd]}")" "$(ratio "${idle_ns[agent]}" "${idle_ns[echo]}")"
printf "$fmt" "idle CPU, trace off (ms, stat)" "$(ms "${idle_ticks[rest]}")" "$(ms "${idle_ticks[snmpd]}")" "$(ms "${idle_ticks[echo]}")" \
  "$(ratio "${idle_ticks[rest]}" "${idle_ticks[snmpd]}")" "$(ratio "${idle_ticks[rest]}" "${idle_ticks[echo]}")"
printf "$fmt" "idle CPU, trace off (ms, schedstat)" "$(nsms "${idle_ns[rest]}")" "$(nsms "${idle_ns[snmpd]}")" "$(nsms "${idle_ns[echo]}")" \
  "$(ratio "${idle_ns[rest]}" "${idle_ns[snmpd]}")" "$(ratio "${idle_ns[rest]}" "${idle_ns[echo]}")"
say "  (agent idle by thread, trace on, schedstat: $idle_threads)"
say "  (the agent's wake-up schedule alone, a tick a second and a refresh every 500 ms with no work (zq-wakefloor): $(nsms "${idle_ns[wake]}") ms; the agent's work beyond it: $(nsms "$((idle_ns[agent] - idle_ns[wake]))") ms)"
echo
say "Agent ticks (lateness against the fixed 1-second schedule from tick 1; real-time clock):"
say "  first tick ${first_tick} s after the agent was launched (5 s + one period after its timer's construction)"
say "  tick 120: ${late120} ms late; largest over ticks 1-120: ${max120} ms"
say "  (against the schedule fitted to the earliest tick: tick 120 ${fit_late120} ms, largest ${fit_max120} ms)"
say "  during the 10-second flood: ${flood_ticks} ticks, the last ${flood_last} ms late, the largest ${flood_max} ms"
say "  flood: $(field "$flood" good) replies at $(field "$flood" rate)/s (trace captured), p50 $(field "$flood" p50_us) us, p99 $(field "$flood" p99_us) us, $(field "$flood" lost) lost"
echo
for n in "${agents[@]}" snmpd echo; do
  for m in 1 16; do
    [ "${R[$n.$m.bad]}" = 0 ] || say "WARNING: $n window $m: ${R[$n.$m.bad]} requests bad or lost, e.g. ${R[$n.$m.badline]}"
  done
done
say "Rounds (replies/s): agent ${R[agent.1.rates]} |${R[agent.16.rates]}; snmpd ${R[snmpd.1.rates]} |${R[snmpd.16.rates]}; echo ${R[echo.1.rates]} |${R[echo.16.rates]}"

# Memory flat: the last 150,000 requests add less than 1% (or one page),
# and the first 101,000 less than 5% over the resident set after start.
flat=$(awk -v a="${R[agent.rss0]}" -v b="${R[agent.rss1]}" -v g="${R[agent.grow]}" -v h="${R[agent_off.grow]}" \
  'BEGIN {print (g <= 4 && h <= 4 && (b - a < a / 20)) ? 1 : 0}')
idle_key=idle_ns; [ "${idle_ns[snmpd]}" -gt 0 ] 2>/dev/null || idle_key=idle_ticks
declare -n idle_ref=$idle_key
# The footprint: the three figures against snmpd and the echo floor.
echo
say "Footprint (agent with its trace on (to /dev/null; at rest through a pipe) | off):"
ffmt='  %-44s %21s %10s %10s %15s\n'
printf "$ffmt" "" "agent on | off" snmpd echo "on|off / snmpd"
printf "$ffmt" "VmRSS after a 150,000-request flood (kB)" "${R[agent.rss2]} | ${R[agent_off.rss2]}" "${R[snmpd.rss2]}" "${R[echo.rss2]}" \
  "$(ratio "${R[agent.rss2]}" "${R[snmpd.rss2]}") | $(ratio "${R[agent_off.rss2]}" "${R[snmpd.rss2]}")"
printf "$ffmt" "  growth over a second such flood (kB)" "${R[agent.grow]} | ${R[agent_off.grow]}" "${R[snmpd.grow]}" "${R[echo.grow]}" ""
printf "$ffmt" "CPU at rest over 60 s (ms, schedstat)" "$(nsms "${idle_ns[agent]}") | $(nsms "${idle_ns[rest]}")" "$(nsms "${idle_ns[snmpd]}")" "$(nsms "${idle_ns[echo]}")" \
  "$(ratio "${idle_ns[agent]}" "${idle_ns[snmpd]}") | $(ratio "${idle_ns[rest]}" "${idle_ns[snmpd]}")"
printf "$ffmt" "CPU per reply, 16 in flight (us, stat)" "${R[agent.16.cpu]} | ${R[agent_off.16.cpu]}" "${R[snmpd.16.cpu]}" "${R[echo.16.cpu]}" \
  "$(ratio "${R[agent.16.cpu]}" "${R[snmpd.16.cpu]}") | $(ratio "${R[agent_off.16.cpu]}" "${R[snmpd.16.cpu]}")"
printf "$ffmt" "  x the echo floor" "$(ratio "${R[agent.16.cpu]}" "${R[echo.16.cpu]}") | $(ratio "${R[agent_off.16.cpu]}" "${R[echo.16.cpu]}")" "$(ratio "${R[snmpd.16.cpu]}" "${R[echo.16.cpu]}")" "1" ""
echo
say "Targets:"
say "  $(verdict "$(le "${R[snmpd.1.rate]}" "${R[agent.1.rate]}")")  agent replies/s >= snmpd's, closed loop: ${R[agent.1.rate]} vs ${R[snmpd.1.rate]} (x$(ratio "${R[agent.1.rate]}" "${R[snmpd.1.rate]}"))"
say "  $(verdict "$(le "${R[snmpd.16.rate]}" "${R[agent.16.rate]}")")  agent replies/s >= snmpd's, 16 in flight: ${R[agent.16.rate]} vs ${R[snmpd.16.rate]} (x$(ratio "${R[agent.16.rate]}" "${R[snmpd.16.rate]}"))"
for m in 1 16; do
  label=$([ $m = 1 ] && echo "closed loop" || echo "16 in flight")
  say "  $(verdict "$(le "${R[agent.$m.cpu]}" "${R[snmpd.$m.cpu]}")")  agent CPU per reply <= snmpd's, $label: ${R[agent.$m.cpu]} vs ${R[snmpd.$m.cpu]} us (x$(ratio "${R[agent.$m.cpu]}" "${R[snmpd.$m.cpu]}"))"
  say "  $(verdict "$(awk -v a="${R[agent.$m.cpu]}" -v e="${R[echo.$m.cpu]}" 'BEGIN {print (a <= 3 * e) ? 1 : 0}')")  agent CPU per reply <= 3 x echo floor's, $label: ${R[agent.$m.cpu]} vs 3 x ${R[echo.$m.cpu]} us (x$(ratio "${R[agent.$m.cpu]}" "${R[echo.$m.cpu]}"))"
done
say "  $(verdict "$(awk -v a="${R[agent_off.16.cpu]}" -v e="${R[echo.16.cpu]}" 'BEGIN {print (a <= 2 * e) ? 1 : 0}')")  agent with the trace off: CPU per reply <= 2 x echo floor's, 16 in flight: ${R[agent_off.16.cpu]} vs 2 x ${R[echo.16.cpu]} us (x$(ratio "${R[agent_off.16.cpu]}" "${R[echo.16.cpu]}"))"
say "  $(verdict "$(awk -v a="${R[agent.16.cpu]}" -v e="${R[echo.16.cpu]}" 'BEGIN {print (a <= 2.5 * e) ? 1 : 0}')")  agent with the trace on: CPU per reply <= 2.5 x echo floor's, 16 in flight: ${R[agent.16.cpu]} vs 2.5 x ${R[echo.16.cpu]} us (x$(ratio "${R[agent.16.cpu]}" "${R[echo.16.cpu]}"))"
say "  $(verdict "$(lt "${R[agent_off.16.cpu]}" "${R[snmpd.16.cpu]}")")  agent with the trace off: CPU per reply < snmpd's, 16 in flight: ${R[agent_off.16.cpu]} vs ${R[snmpd.16.cpu]} us"
say "  $(verdict "$flat")  agent memory flat under load (a page at most over the second flood): ${R[agent.rss0]} -> ${R[agent.rss1]} -> ${R[agent.rss2]} -> ${R[agent.rss3]} kB, trace off ${R[agent_off.rss2]} -> ${R[agent_off.rss3]} kB"
say "  $(verdict "$(le "$((3 * R[agent.rss2]))" "${R[snmpd.rss2]}")")  agent memory after a 150,000 flood <= 1/3 of snmpd's: ${R[agent.rss2]} vs ${R[snmpd.rss2]} kB (x$(ratio "${R[agent.rss2]}" "${R[snmpd.rss2]}"))"
say "  $(verdict "$(le "${idle_ref[agent]}" "${idle_ref[snmpd]}")")  agent idle CPU, trace on, <= snmpd's ($([ $idle_key = idle_ns ] && echo schedstat || echo stat)): $(nsms "${idle_ns[agent]}") vs $(nsms "${idle_ns[snmpd]}") ms over 60 s"
say "  $(verdict "$(le "${idle_ref[rest]}" "${idle_ref[snmpd]}")")  agent idle CPU, trace off, <= snmpd's: $(nsms "${idle_ns[rest]}") vs $(nsms "${idle_ns[snmpd]}") ms over 60 s"
say "  $(verdict "$(awk -v n="$nticks" -v l="$late120" 'BEGIN {print (n >= 120 && l < 20) ? 1 : 0}')")  tick 120 less than 20 ms late: ${late120} ms ($nticks ticks seen in all)"
say "  $(verdict "$(awk -v c="$flood_ticks" -v m="$flood_max" 'BEGIN {print (c >= 9 && m < 100) ? 1 : 0}')")  ticks during the flood less than 100 ms late: largest ${flood_max} ms over ${flood_ticks} ticks"
