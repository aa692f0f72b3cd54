#!/usr/bin/env bash
# The Debian package, as an operator gets it: checked by lintian, installed
# on this machine with dpkg where no systemd runs, looked at as installed,
# and removed again. (deb_systemd.sh installs it under a running systemd.)
#
#   deb_install.sh PACKAGE.deb
#
# Needs root (skipped with 77 without it, or when brindlemoor-watchdog is
# installed on this machine by someone else: the test never touches that).
# The script moves itself into mount and network namespaces of its own. In
# the mount namespace /run/systemd is an empty tmpfs, so the maintainer
# scripts cannot reach a running systemd, whatever runs as PID 1: the
# installed service is never started on this machine's network: this is the
# case of a container, a chroot or an image being built, where the scripts
# enable the unit for the next boot and start or reload nothing (systemctl
# and deb-systemd-invoke are replaced by recorders that fail the test when
# asked for more than a file edit; systemctl --root=/ preset, made by
# deb-systemd-helper, goes to the real systemctl). At the end nothing of the
# package is left, and a run interrupted half-way is cleaned up by the next.
#
# Checks: lintian reports no error; the contents and control fields; the
# symbol versions the agent needs (objdump -T: none newer than Debian 11's);
# the installed files, their modes and checksums (dpkg --verify);
# systemd-analyze verify of the installed unit and its exposure score
# (systemd-analyze security, at most 1.5); the enable link; removal and
# purge leave nothing.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

NAME=brindlemoor-watchdog
UNIT=$NAME.service
MAX_EXPOSURE=1.5
# Written before the test installs the package and removed after its purge:
# a package found installed together with it is a leftover of this test.
MARKER=/var/tmp/$NAME-install-test.marker

DEB=${1:?usage: deb_install.sh PACKAGE.deb}
if [ "$DEB" != --isolated-from ]; then
    require_root_and_tools deb "to install a package" dpkg dpkg-deb lintian objdump systemd-analyze systemctl unshare ip
    exec unshare --mount --propagation private --net --fork -- bash "$0" --isolated-from "$(readlink /proc/self/ns/net)" "$@"
fi
OUTER_NETNS=$2
DEB=$(readlink -f "${3:?usage: deb_install.sh PACKAGE.deb}")
prepare_private_netns deb "$OUTER_NETNS"
if [ ! -f "$DEB" ]; then
    echo "deb: FAIL: no package: $DEB"
    exit 1
fi

TMP=$(mktemp -d /tmp/zq-deb.XXXXXX)
REAL_SYSTEMCTL=$(command -v systemctl)
STUBS=$TMP/stubs
CALLS=$TMP/calls.log

# dpkg, retried while another dpkg or apt holds its lock (at most a minute).
dpkg_run() {
    local try
    for try in $(seq 1 30); do
        dpkg "$@" >"$TMP/dpkg.out" 2>&1 && return 0
        grep -q 'lock' "$TMP/dpkg.out" || break
        sleep 2
    done
    cat "$TMP/dpkg.out"
    return 1
}

installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$NAME" 2>/dev/null)" = installed ]
}

# Installed, or removed with its records kept until a purge.
known_to_dpkg() {
    dpkg-query -W -f='${db:Status-Abbrev}\n' "$NAME" 2>/dev/null | grep -qv '^un'
}

purge() {
    known_to_dpkg || return 0
    dpkg_run --purge "$NAME"
}

cleanup() {
    trap - EXIT INT TERM
    [ -n "${LIMIT_PID:-}" ] && signal_child TERM "$LIMIT_PID"
    wait 2>/dev/null
    if [ -f "$MARKER" ]; then
        PATH=$ORIGINAL_PATH purge >/dev/null 2>&1 && rm -f "$MARKER"
    fi
    rm -rf "$TMP"
}
ORIGINAL_PATH=$PATH
trap cleanup EXIT
trap 'echo "deb: interrupted"; exit 130' INT

start_time_limit "${DEB_TIME_LIMIT:-280}" 'echo "deb: $PASSED passed, $FAILED failed"; exit 1'

if known_to_dpkg; then
    if [ -f "$MARKER" ]; then
        echo "deb: purging $NAME left installed by an interrupted run"
        purge || { echo "deb: FAIL: cannot purge the leftover package"; exit 1; }
        rm -f "$MARKER"
    else
        echo "deb: skipped: $NAME is installed on this machine; the test leaves it alone"
        exit $SKIP
    fi
fi

# ---- the package file
echo "deb: package $DEB"
lintian --fail-on error --display-info --tag-display-limit 0 "$DEB" >"$TMP/lintian.out" 2>&1
rc=$?
sed -n '/^[EWIPX]: /p' "$TMP/lintian.out" | sed 's/^/  lintian /'
echo "deb: lintian: $(grep -c '^E: ' "$TMP/lintian.out") errors, $(grep -c '^W: ' "$TMP/lintian.out") warnings," \
    "$(grep -c '^I: ' "$TMP/lintian.out") notes"
check "lintian reports no error" "$([ $rc -eq 0 ] && ! grep -q '^E: ' "$TMP/lintian.out"; echo $?)" \
    "exit $rc: $(grep -v '^[WIPX]: ' "$TMP/lintian.out" | head -n 5 | tr '\n' '|')"

field() { dpkg-deb -f "$DEB" "$1"; }
check "the control fields name brindlemoor-watchdog 1.0.0.4 for $(dpkg --print-architecture)" \
    "$([ "$(field Package)" = "$NAME" ] && [ "$(field Version)" = 1.0.0.4 ] &&
        [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] &&
        [ "$(basename "$DEB")" = "${NAME}_1.0.0.4_$(dpkg --print-architecture).deb" ]; echo $?)" \
    "$(field Package) $(field Version) $(field Architecture), file $(basename "$DEB")"
dpkg-deb -c "$DEB" | awk '{print $1, $6}' | sed 's|\./|/|' >"$TMP/contents"
missing=
for entry in "-rwxr-xr-x /usr/bin/$NAME" "-rw-r--r-- /lib/systemd/system/$UNIT" \
    "-rw-r--r-- /usr/share/doc/$NAME/copyright" "-rw-r--r-- /usr/share/doc/$NAME/examples/trace.conf" \
    "-rw-r--r-- /usr/share/man/man8/$NAME.8.gz"; do
    grep -qxF -- "$entry" "$TMP/contents" || missing="$missing [$entry]"
done
check "the package holds the agent, the unit, the trace drop-in and the documentation, with their modes" \
    "$([ -z "$missing" ]; echo $?)" "missing:$missing"
FILES=$(awk '$1 !~ /^d/ {print $2}' "$TMP/contents")

# One package for Debian 11 and later: the agent needs no symbol version
# newer than Debian 11's C library (2.31) and C++ runtime (GCC 10's).
OLDEST="GLIBC_2.31 GLIBCXX_3.4.28 CXXABI_1.3.12"
dpkg-deb --fsys-tarfile "$DEB" | tar -xO "./usr/bin/$NAME" >"$TMP/agent"
objdump -T "$TMP/agent" | grep -oE '\<(GLIBC|GLIBCXX|CXXABI)_[0-9.]+' | sort -u -V >"$TMP/versions"
newer=
needed=
for limit in $OLDEST; do
    highest=$(grep "^${limit%%_*}_[0-9]" "$TMP/versions" | tail -n 1)
    needed="$needed ${highest:-(no ${limit%%_*})}"
    [ "$(printf '%s\n' "$limit" "$highest" | sort -V | tail -n 1)" = "$limit" ] || newer="$newer $highest"
done
echo "deb: the agent needs at most$needed; Depends: $(field Depends)"
check "objdump -T: the agent needs no symbol version newer than Debian 11's ($OLDEST)" \
    "$([ -s "$TMP/versions" ] && [ -z "$newer" ]; echo $?)" "newer:$newer"

# ---- the installation, where no systemd runs
# systemctl and deb-systemd-invoke as recorders: file edits go through,
# anything asked of a running systemd is only written down.
mkdir -p "$STUBS"
cat >"$STUBS/systemctl" <<STUB
#!/bin/sh
echo "systemctl \$*" >>"$CALLS"
case " \$* " in
*" --root="*) exec "$REAL_SYSTEMCTL" "\$@" ;;
esac
exit 0
STUB
cat >"$STUBS/deb-systemd-invoke" <<STUB
#!/bin/sh
echo "deb-systemd-invoke \$*" >>"$CALLS"
exit 0
STUB
chmod 0755 "$STUBS/systemctl" "$STUBS/deb-systemd-invoke"

# No systemd reachable from here, whatever runs as PID 1 (see the head).
mount -t tmpfs -o mode=0755 tmpfs /run/systemd 2>/dev/null || mount -t tmpfs -o mode=0755 tmpfs /run || {
    echo "deb: FAIL: cannot hide /run/systemd in the private mount namespace"
    exit 1
}

WANTS=/etc/systemd/system/multi-user.target.wants/$UNIT
HELPER_STATE=/var/lib/systemd/deb-systemd-helper-enabled

# Lines of the recorded calls that ask a running systemd for something.
online_calls() {
    grep -v -- '--root=' "$CALLS" 2>/dev/null
}

export PATH=$STUBS:$ORIGINAL_PATH
: >"$CALLS"
touch "$MARKER"
if dpkg_run --install "$DEB"; then
    pass "dpkg installs the package"
    check "dpkg knows the package as installed, and its files match their checksums (dpkg --verify)" \
        "$(installed && dpkg --verify "$NAME" >"$TMP/verify.out" 2>&1 && [ ! -s "$TMP/verify.out" ]; echo $?)" \
        "$(cat "$TMP/verify.out")"
    check "the agent is /usr/bin/$NAME (0755) and the unit /lib/systemd/system/$UNIT (0644), owned by root" \
        "$([ "$(stat -c '%a %U' "/usr/bin/$NAME")" = "755 root" ] &&
            [ "$(stat -c '%a %U' "/lib/systemd/system/$UNIT")" = "644 root" ]; echo $?)"
    check "the unit is enabled for the next boot: $WANTS links to it" \
        "$([ "$(readlink "$WANTS")" = "/lib/systemd/system/$UNIT" ]; echo $?)" "link: $(readlink "$WANTS")"
    check "without a running systemd the scripts start nothing and reload nothing" \
        "$([ -z "$(online_calls)" ]; echo $?)" "$(online_calls | tr '\n' '|')"

    systemd-analyze verify "/lib/systemd/system/$UNIT" >"$TMP/analyze.out" 2>&1
    rc=$?
    check "systemd-analyze verify passes the installed unit" \
        "$([ $rc -eq 0 ] && ! grep -q "$UNIT" "$TMP/analyze.out"; echo $?)" "exit $rc: $(tr '\n' '|' <"$TMP/analyze.out")"
    systemd-analyze security --offline=true "/lib/systemd/system/$UNIT" >"$TMP/security.out" 2>&1
    exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$TMP/security.out")
    echo "deb: systemd-analyze security --offline=true /lib/systemd/system/$UNIT: exposure ${exposure:-?}"
    check "the installed unit's exposure (systemd-analyze security) is at most $MAX_EXPOSURE" \
        "$([ -n "$exposure" ] && awk -v e="$exposure" -v m="$MAX_EXPOSURE" 'BEGIN { exit !(e <= m) }'; echo $?)" \
        "$(tail -n 1 "$TMP/security.out")"
else
    fail "dpkg installs the package"
fi
: >"$CALLS"
check "dpkg removes the package (remove, then purge)" \
    "$(dpkg_run --remove "$NAME" && [ ! -e "/usr/bin/$NAME" ] && [ -L "$WANTS" ] && purge; echo $?)" \
    "$(cat "$TMP/dpkg.out")"
left=
for file in $FILES "$WANTS" "/var/lib/dpkg/info/$NAME.list" "/var/lib/dpkg/info/$NAME.postrm"; do
    [ -e "$file" ] || [ -L "$file" ] && left="$left $file"
done
[ -d "/usr/share/doc/$NAME" ] && left="$left /usr/share/doc/$NAME"
grep -rlsF "$UNIT" "$HELPER_STATE" /etc/systemd/system >/dev/null 2>&1 &&
    left="$left $(grep -rlsF "$UNIT" "$HELPER_STATE" /etc/systemd/system | tr '\n' ' ')"
check "after the purge nothing of the package is left (files, links, the helper's state, dpkg's records)" \
    "$([ -z "$left" ] && ! known_to_dpkg; echo $?)" "left:$left"
check "removing asks no running systemd for anything either" \
    "$([ -z "$(online_calls)" ]; echo $?)" "$(online_calls | tr '\n' '|')"
export PATH=$ORIGINAL_PATH
rm -f "$MARKER"

echo "deb: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
