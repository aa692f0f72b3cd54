#!/usr/bin/env bash
# The Debian package under the systemd of a Debian release of its own: a
# minimal root file system of that release (made with mmdebstrap by
# scripts/debian-root.sh and cached), booted with systemd-nspawn, the package
# installed there with dpkg as an operator does, and the service looked at
# through systemctl and journalctl.
#
#   deb_systemd.sh PACKAGE.deb PEER RELEASE
#
# RELEASE is bullseye (Debian 11), bookworm (12) or trixie (13); its root
# holds nothing but the minimal base and systemd, so dpkg installs the package
# with nothing added. PEER is the watchdog-peer tool, run from this machine in
# the container's network to send the status request. Needs root and
# systemd-nspawn (package systemd-container); skipped (77) without them, or
# when the container does not boot here.
#
# The container's root is an overlay on the cached root (writes go to a
# directory of the test, the cache never changes), with a network of its
# own (--private-network: loopback only), so the agent's ports and
# multicast groups stay inside. This machine's packages, units and network
# are never touched; the overlay is removed at the end (DEB_SYSTEMD_KEEP=1
# keeps it, with the boot log), and the container is always shut down.
#
# Checks, in order: the container runs the release's own systemd;
# installing enables and starts the unit, which answers a status request
# over loopback, writes its state lines (the release's name among them) to
# the journal and runs as a transient user; that systemd's systemd-analyze
# verify passes the unit, and its manager reports no line of the unit's file
# (a directive it does not know); installing again (an upgrade) restarts
# it; after SIGKILL systemd restarts it; systemctl stop ends it with exit
# code 0; removing stops it and systemd forgets the unit; the purge leaves
# nothing of the package.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

NAME=brindlemoor-watchdog
UNIT=$NAME.service
WANTS=/etc/systemd/system/multi-user.target.wants/$UNIT
USAGE="usage: deb_systemd.sh PACKAGE.deb PEER bullseye|bookworm|trixie"
TOP=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)

# First run: re-run in a mount namespace of its own, so that the overlay and
# every other mount of the test vanish with it.
if [ "${1:?$USAGE}" != --private-mounts ]; then
    require_root_and_tools "deb-systemd ${3:-}" "to boot a container" systemd-nspawn nsenter setpriv unshare mount dpkg-deb
    exec unshare --mount --propagation private --fork -- bash "$0" --private-mounts "$@"
fi
DEB=$(readlink -f "${2:?$USAGE}")
PEER=$(readlink -f "${3:?$USAGE}")
RELEASE=${4:?$USAGE}
LABEL="deb-systemd $RELEASE"
# Each release's systemd: its version decides which directives of the unit
# it knows.
case $RELEASE in
    bullseye) DEBIAN=11 SYSTEMD=247 ;;
    bookworm) DEBIAN=12 SYSTEMD=252 ;;
    trixie) DEBIAN=13 SYSTEMD=257 ;;
    *) echo "$LABEL: FAIL: $USAGE"; exit 1 ;;
esac
require_executables "$LABEL" "$PEER"
if [ ! -f "$DEB" ]; then
    echo "$LABEL: FAIL: no package: $DEB (scripts/build.sh deb builds it)"
    exit 1
fi
if ! LOWER=$("$TOP/scripts/debian-root.sh" path "$RELEASE" boot); then
    echo "$LABEL: FAIL: no Debian $DEBIAN root file system (scripts/test.sh makes it)"
    exit 1
fi

# Work directories of runs whose shell is gone (a run killed half-way).
for dir in /tmp/zq-nspawn.*.*; do
    pid=${dir#/tmp/zq-nspawn.}
    [ -d "$dir" ] && [ ! -d "/proc/${pid%%.*}" ] && rm -rf --one-file-system "$dir"
done
TMP=$(mktemp -d "/tmp/zq-nspawn.$$.XXXXXX")
ROOT=$TMP/root
NSPAWN_PID=

stop_container() {
    [ -n "$NSPAWN_PID" ] || return 0
    # systemd-nspawn turns SIGTERM into an orderly shutdown of the container.
    signal_child TERM "$NSPAWN_PID"
    for _ in $(seq 1 200); do
        is_child "$NSPAWN_PID" || break
        sleep 0.1
    done
    signal_child KILL "$NSPAWN_PID"
    wait "$NSPAWN_PID" 2>/dev/null
    NSPAWN_PID=
}

cleanup() {
    trap - EXIT INT TERM
    stop_container
    [ -n "${LIMIT_PID:-}" ] && signal_child TERM "$LIMIT_PID"
    wait 2>/dev/null
    umount "$ROOT" 2>/dev/null
    remove_work_dir "$LABEL" "${DEB_SYSTEMD_KEEP:-0}"
}
trap cleanup EXIT
trap 'echo "$LABEL: interrupted"; exit 130' INT
start_time_limit "${DEB_SYSTEMD_TIME_LIMIT:-170}" 'echo "$LABEL: $PASSED passed, $FAILED failed"; exit 1'

skip() {
    echo "$LABEL: skipped: $1"
    [ -s "$TMP/boot.log" ] && tail -n 15 "$TMP/boot.log" | sed 's/^/  boot /'
    exit $SKIP
}

# ---- the container's root
mkdir -p "$ROOT" "$TMP/upper" "$TMP/work"
mount -t overlay overlay -o "lowerdir=$LOWER,upperdir=$TMP/upper,workdir=$TMP/work" "$ROOT" ||
    skip "cannot mount the Debian $DEBIAN root as an overlay"
# systemd-nspawn keeps its state below /run/systemd and wants it on a tmpfs.
[ "$(stat -f -c %T /run)" = tmpfs ] || mount -t tmpfs -o mode=0755 tmpfs /run || skip "cannot mount a tmpfs on /run"
OS=$(. "$ROOT/etc/os-release" && echo "$PRETTY_NAME")

# ---- boot
# Should this shell die without its clean-up, the parent-death signal still
# shuts the container down.
setpriv --pdeathsig TERM -- systemd-nspawn --quiet --directory="$ROOT" --machine="zq-deb-$$" --boot --private-network \
    --register=no --keep-unit --console=read-only --bind-ro="$DEB:/opt/zq/package.deb" \
    >"$TMP/boot.log" 2>&1 &
NSPAWN_PID=$!

# The container's init: the one child of systemd-nspawn.
LEADER=
for _ in $(seq 1 100); do
    LEADER=$(ps -o pid= --ppid "$NSPAWN_PID" 2>/dev/null | tr -d ' ')
    [ -n "$LEADER" ] && [ "$(cat "/proc/$LEADER/comm" 2>/dev/null)" = systemd ] && break
    is_child "$NSPAWN_PID" || skip "systemd-nspawn cannot boot a container of Debian $DEBIAN here"
    LEADER=
    sleep 0.1
done
[ -n "$LEADER" ] || skip "no systemd came up in the container within 10 s"

# inside SECONDS COMMAND...: runs COMMAND in the container, as root, with a
# clean environment, for at most SECONDS.
inside() {
    local seconds=$1
    shift
    nsenter --target "$LEADER" --mount --uts --ipc --net --pid --cgroup -- \
        env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 SYSTEMD_COLORS=0 timeout "$seconds" "$@"
}

# until_true SECONDS COMMAND...: true once COMMAND succeeds, tried every
# 0.2 s until the time is up.
until_true() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        [ "$(now_ms)" -lt "$deadline" ] || return 1
        sleep 0.2
    done
}

start_ms=$(now_ms)
until_true 30 inside 5 test -S /run/systemd/private
state=$(inside 90 systemctl is-system-running --wait)
# "degraded": some unit of the minimal system failed in the container; not ours.
case $state in
    running | degraded) ;;
    *) skip "the container's systemd did not finish booting (state: ${state:-none})" ;;
esac
echo "$LABEL: $OS booted in $(($(now_ms) - start_ms)) ms ($state)"
# The manager's own version: the container's init, not this machine's.
version=$(inside 10 systemctl show --property=Version --value)
echo "$LABEL: systemd $version"
check "0 the container runs Debian $DEBIAN's own systemd $SYSTEMD" \
    "$([[ $OS == *" $DEBIAN ("* && $version =~ ^$SYSTEMD([.~-]|$) ]]; echo $?)" "$OS, systemd $version"

show() { inside 10 systemctl show -p "$1" --value "$UNIT"; }

# Active, with a main process other than $1 (if given).
running_anew() {
    local pid
    [ "$(show ActiveState)" = active ] || return 1
    pid=$(show MainPID)
    [ "$pid" -gt 0 ] 2>/dev/null && [ "$pid" != "${1:-}" ]
}

dpkg_inside() {
    inside 60 dpkg "$@" >"$TMP/dpkg.out" 2>&1 || { cat "$TMP/dpkg.out"; return 1; }
}

status_reply() {
    nsenter --target "$LEADER" --net -- timeout 10 "$PEER" status 127.0.0.1 --timeout-ms 1000 \
        >"$TMP/reply" 2>"$TMP/reply.err" &&
        grep -q '^FROM 127.0.0.1:45654 ' "$TMP/reply.err" &&
        [ "$(head -c 8 "$TMP/reply")" = '<status>' ] && grep -qF '<ipPort>45654</ipPort>' "$TMP/reply"
}

state_lines() {
    inside 10 journalctl -u "$UNIT" -o cat --no-pager >"$TMP/journal" 2>&1 &&
        grep -q '^Total CPU: [0-9]' "$TMP/journal" && grep -qF "OS Description: $OS" "$TMP/journal"
}

# ---- 1 installation
if ! dpkg_inside --install /opt/zq/package.deb; then
    fail "1 dpkg installs the package in the container"
    exit 1
fi
pass "1 dpkg installs the package in the container"
until_true 15 running_anew
check "1 the unit is enabled and active" \
    "$([ "$(inside 10 systemctl is-enabled "$UNIT")" = enabled ] && [ "$(show ActiveState)" = active ]; echo $?)" \
    "$(inside 10 systemctl status --no-pager "$UNIT" | head -n 15 | tr '\n' '|')"
until_true 10 status_reply
check "1 it answers a status request over the container's loopback" $? \
    "$(tr '\n' '|' <"$TMP/reply.err") $(head -c 300 "$TMP/reply" | tr '\n' '|')"
until_true 10 state_lines
check "1 its state lines are in the journal (journalctl -u $UNIT), naming $OS" $? \
    "$(head -n 10 "$TMP/journal" | tr '\n' '|')"
PID=$(show MainPID)
uid=$(inside 10 awk '/^Uid:/ {print $2}' "/proc/$PID/status")
check "1 it runs as a transient user, not as root" "$([ "${uid:-0}" -ne 0 ]; echo $?)" "uid [$uid] of PID $PID"

# The unit as this release's systemd reads it: no directive that it does not
# know, which it would ignore with a warning.
inside 30 systemd-analyze verify --man=no "/lib/systemd/system/$UNIT" >"$TMP/analyze.out" 2>&1
rc=$?
check "1 systemd-analyze verify of systemd $SYSTEMD passes the unit" \
    "$([ $rc -eq 0 ] && ! grep -qF "$UNIT" "$TMP/analyze.out"; echo $?)" "exit $rc: $(tr '\n' '|' <"$TMP/analyze.out")"
inside 10 journalctl -b -o cat --no-pager _PID=1 | grep -E "/$UNIT:[0-9]+:" >"$TMP/manager.out"
check "1 systemd $SYSTEMD reports no line of the unit's file (an unknown or wrong directive)" \
    "$([ ! -s "$TMP/manager.out" ]; echo $?)" "$(head -n 5 "$TMP/manager.out" | tr '\n' '|')"

# ---- 2 upgrade: the same package installed again
dpkg_inside --install /opt/zq/package.deb
until_true 15 running_anew "$PID"
check "2 installing again restarts the service (a new main process)" $? \
    "PID before $PID, now $(show MainPID) $(show ActiveState)"

# ---- 3 SIGKILL
PID=$(show MainPID)
inside 10 systemctl kill -s KILL "$UNIT"
until_true 20 running_anew "$PID" && [ "$(show NRestarts)" -ge 1 ]
check "3 after SIGKILL systemd restarts it (Restart=on-failure) with a new main process" $? \
    "PID before $PID, now $(show MainPID) $(show ActiveState), NRestarts=$(show NRestarts)"

# ---- 4 stop, of the agent itself: a unit of Type=simple is active from the
# fork, and a stop before the agent runs its main ends the process that
# systemd is still preparing (killed by SIGTERM, not exit code 0).
until_true 10 status_reply
inside 30 systemctl stop "$UNIT"
stopped="$(show ActiveState) Result=$(show Result) ExecMainCode=$(show ExecMainCode) ExecMainStatus=$(show ExecMainStatus)"
check "4 systemctl stop ends it with exit code 0 (Result=success)" \
    "$([ "$stopped" = "inactive Result=success ExecMainCode=1 ExecMainStatus=0" ]; echo $?)" "$stopped"

# ---- 5 removal of the running service
inside 30 systemctl start "$UNIT"
until_true 10 running_anew
PID=$(show MainPID)
dpkg_inside --remove "$NAME"
check "5 removing stops it and systemd forgets the unit; the enable link stays until the purge" \
    "$(! inside 10 test -e "/proc/$PID" && [ "$(show LoadState)" = not-found ] &&
        ! inside 10 test -e "/usr/bin/$NAME" && inside 10 test -L "$WANTS"; echo $?)" \
    "PID $PID, LoadState=$(show LoadState)"

# ---- 6 purge
dpkg_inside --purge "$NAME"
left=
for file in $(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print substr($6, 2)}') "$WANTS" \
    "/var/lib/dpkg/info/$NAME.list" "/usr/share/doc/$NAME"; do
    inside 10 test -e "$file" -o -L "$file" && left="$left $file"
done
inside 10 grep -rlsF "$UNIT" /var/lib/systemd/deb-systemd-helper-enabled /etc/systemd/system >"$TMP/refs" &&
    left="$left $(tr '\n' ' ' <"$TMP/refs")"
inside 10 dpkg-query -W "$NAME" >/dev/null 2>&1 && left="$left (dpkg's record)"
[ "$(show LoadState)" = not-found ] || left="$left (the unit, $(show LoadState))"
check "6 after the purge nothing of the package is left (files, enable links, the helper's state, the unit, dpkg's records)" \
    "$([ -z "$left" ]; echo $?)" "left:$left"

[ "$FAILED" -eq 0 ] || inside 10 journalctl -u "$UNIT" --no-pager -n 30 | sed 's/^/  journal /'
echo "$LABEL: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
