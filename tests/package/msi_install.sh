#!/usr/bin/env bash
# watchdog.msi under Wine, the way a fleet deploys it: a silent installation,
# the installed program started as the logon start would start it and asked
# for its status, a silent upgrade by a later version, and a silent
# uninstallation that leaves nothing behind.
#
#   msi_install.sh WATCHDOG.MSI WATCHDOG.EXE PEER.EXE WATCHDOG.WXS ICON
#
# WATCHDOG.EXE is the program the MSI was built from, PEER.EXE the Windows
# watchdog-peer; the source (WATCHDOG.WXS and ICON) makes the later version
# with wixl. Runs in the test command's Windows suite (WINEPREFIX, DISPLAY of
# a virtual X server, a private network namespace of loopback only); skipped
# (77) elsewhere. The installed agent joins its multicast groups as soon as it
# starts, so a namespace with more than loopback is refused.
#
# The test works on a copy of the Wine prefix, with a Wine server of its own,
# and deletes the copy at the end: the prefix of the suite stays exactly as
# it was, whatever happens here. Wine's shell-link helper is off, so no menu
# entry reaches the desktop outside the prefix.
#
# Wine's netsh accepts "advfirewall" and does nothing, so the firewall rule
# itself cannot be seen here: the test checks that the installer ran its
# deferred actions that add the rule (on installation) and delete it (on
# removal), and that they did not fail the installation.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

usage="usage: msi_install.sh WATCHDOG.MSI WATCHDOG.EXE PEER.EXE WATCHDOG.WXS ICON"
MSI=$(readlink -f "${1:?$usage}")
EXE=$(readlink -f "${2:?$usage}")
PEER=$(readlink -f "${3:?$usage}")
WXS=$(readlink -f "${4:?$usage}")
ICON=$(readlink -f "${5:?$usage}")
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

PRODUCT="Brindlemoor Win32 Watch Dog"
RUN_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
INSTALL_DIR="Program Files/Brindlemoor Watch Dog"
SHORTCUT="$PRODUCT.lnk"

for tool in "$WINE" "$WINESERVER"; do
    [ -x "$tool" ] || { echo "msi: skipped: $tool is missing"; exit $SKIP; }
done
for tool in wixl msiinfo iconv; do
    command -v "$tool" >/dev/null 2>&1 || { echo "msi: skipped: $tool is missing"; exit $SKIP; }
done
if [ -z "${WINEPREFIX:-}" ] || [ ! -f "$WINEPREFIX/system.reg" ] || [ -z "${DISPLAY:-}" ]; then
    echo "msi: skipped: needs the test command's Wine prefix (WINEPREFIX) and X display (DISPLAY)"
    exit $SKIP
fi
if [ "$(ip -o link show 2>/dev/null | grep -vc ': lo:')" -ne 0 ]; then
    echo "msi: skipped: not in a private network namespace of loopback only (the installed agent would join" \
        "the multicast groups of this machine's network)"
    exit $SKIP
fi
for file in "$MSI" "$EXE" "$PEER" "$WXS" "$ICON"; do
    [ -f "$file" ] || { echo "msi: FAIL: no such file: $file"; exit 1; }
done

TMP=$(mktemp -d /tmp/zq-msi.XXXXXX)
SUITE_PREFIX=$WINEPREFIX
export WINEPREFIX="$TMP/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
AGENT_PID=

cleanup() {
    trap - EXIT INT TERM
    [ -n "$AGENT_PID" ] && signal_child KILL "$AGENT_PID"
    [ -n "${LIMIT_PID:-}" ] && signal_child TERM "$LIMIT_PID"
    # The Wine server of the copy, and with it every process of the copy.
    [ -d "$WINEPREFIX" ] && timeout 30 "$WINESERVER" -k >/dev/null 2>&1
    wait 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'echo "msi: interrupted"; exit 130' INT

start_time_limit "${MSI_TIME_LIMIT:-280}" 'echo "msi: $PASSED passed, $FAILED failed"; exit 1'

# ------------------------------------------------------------------ helpers

# The Windows name of a file of this machine (Wine's drive Z: is /).
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# msiexec ACTION MSI LOG: a silent msiexec run with a verbose log; its exit code.
msiexec() {
    timeout 120 "$WINE" msiexec "$1" "$(windows_path "$2")" /qn /l*v "$(windows_path "$3")" >/dev/null 2>&1
}

# The files and folders of drive C:, but the temporary folders.
snapshot_files() {
    (cd "$WINEPREFIX" && find drive_c \( -path 'drive_c/users/*/Temp' -o -path 'drive_c/windows/temp' \) -prune \
        -o -printf '%y %p\n' | sort)
}

# The machine's and the user's software keys, as text.
registry_text() {
    local key
    for key in 'HKLM\Software' 'HKCU\Software'; do
        rm -f "$TMP/export.reg"
        timeout 60 "$WINE" reg export "$key" "$(windows_path "$TMP/export.reg")" /y >/dev/null 2>&1
        iconv -f UTF-16 -t UTF-8 "$TMP/export.reg" 2>/dev/null
    done
}

# The value of the logon start, "" when there is none.
run_value() {
    timeout 60 "$WINE" reg query "$RUN_KEY" /v "$PRODUCT" /reg:64 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$PRODUCT *REG_SZ *//p"
}

# The shortcut wherever the installer's Start menu folder is: the common one
# (Windows, per-machine) or the installing user's (Wine puts per-machine
# shortcuts there).
find_shortcut() {
    find "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
        "$WINEPREFIX/drive_c/users" -name "$SHORTCUT" 2>/dev/null | head -n 1
}

# A GUID as Windows Installer keeps it in the registry (each part reversed).
packed_guid() {
    local hex=${1//[\{\}-]/} out= i
    out=$(rev <<<"${hex:0:8}")$(rev <<<"${hex:8:4}")$(rev <<<"${hex:12:4}")
    for i in 16 18 20 22 24 26 28 30; do
        out=$out${hex:i+1:1}${hex:i:1}
    done
    printf '%s' "$out"
}

msi_property() {
    msiinfo export "$1" Property 2>/dev/null | tr -d '\r' | awk -F '\t' -v p="$2" '$1 == p {print $2}'
}

# ran ACTION LOG: the installer ran the action and it returned success.
ran() {
    grep -q "Action ended .*: $1\. Return value 1\." "$2"
}

# ------------------------------------------------------------------ run

SCRIPT_START=$(now_ms)
echo "msi: $MSI, work directory $TMP"
if ! cp -a "$SUITE_PREFIX" "$WINEPREFIX"; then
    echo "msi: FAIL: cannot copy the Wine prefix"
    exit 1
fi
# Start the copy's Wine server and let it settle before the first snapshot.
timeout 120 "$WINE" reg query 'HKLM\Software' /ve >/dev/null 2>&1
snapshot_files >"$TMP/before.files"
registry_text >"$TMP/before.reg"

PRODUCT_CODE=$(msi_property "$MSI" ProductCode)
UPGRADE_CODE=$(msi_property "$MSI" UpgradeCode)
check "the MSI is version 1.0.0.4 of \"$PRODUCT\", per machine, with an upgrade code" \
    "$([ "$(msi_property "$MSI" ProductVersion)" = 1.0.0.4 ] && [ "$(msi_property "$MSI" ProductName)" = "$PRODUCT" ] &&
        [ "$(msi_property "$MSI" ALLUSERS)" = 1 ] && [ -n "$UPGRADE_CODE" ] && [ -n "$PRODUCT_CODE" ]; echo $?)" \
    "$(msiinfo export "$MSI" Property 2>&1 | tr '\r\n' '  ')"

# ---- silent installation
msiexec /i "$MSI" "$TMP/install.log"
rc=$?
check "msiexec /i watchdog.msi /qn succeeds" "$rc" "exit $rc"
installed_exe="$WINEPREFIX/drive_c/$INSTALL_DIR/watchdog.exe"
check "watchdog.exe is installed in $INSTALL_DIR, byte for byte the built program" \
    "$(cmp -s "$EXE" "$installed_exe"; echo $?)" "$(ls -la "$WINEPREFIX/drive_c/$INSTALL_DIR" 2>&1 | tr '\n' ' ')"
shortcut=$(find_shortcut)
check "a Start-menu shortcut \"$SHORTCUT\" is installed" "$([ -n "$shortcut" ]; echo $?)"
[ -n "$shortcut" ] && echo "msi: the shortcut: ${shortcut#"$WINEPREFIX/"}"
run=$(run_value)
check "every user's logon starts the program: $RUN_KEY holds \"$PRODUCT\"" \
    "$([ "$run" = "\"C:\\Program Files\\Brindlemoor Watch Dog\\watchdog.exe\"" ]; echo $?)" "value: [$run]"
check "the installer ran its firewall actions (delete a stale rule, add the rule) without failing" \
    "$(ran FirewallRuleClear "$TMP/install.log" && ran FirewallRuleAdd "$TMP/install.log"; echo $?)" \
    "$(grep -a 'Firewall' "$TMP/install.log" | tr '\n' '|')"
echo "msi: NOTE: Wine's netsh has no working advfirewall (it accepts the command and does nothing);" \
    "the rule itself is not checked here"

# ---- the installed program, started the way the logon start starts it
program=${run//\"/}
if [ -n "$program" ]; then
    "$WINE" "$program" >"$TMP/agent.out" 2>&1 &
    AGENT_PID=$!
    reply=
    deadline=$(($(now_ms) + 40000))
    while [ "$(now_ms)" -lt "$deadline" ]; do
        reply=$(timeout 20 "$WINE" "$PEER" status 127.0.0.1 --timeout-ms 1000 2>/dev/null | tr -d '\r')
        [[ $reply == *"<status>"* ]] && break
        is_child "$AGENT_PID" || break
        sleep 0.5
    done
    check "the installed program starts and answers a status request on 127.0.0.1:45654" \
        "$([[ $reply == *"<status>"*"</status>"* ]]; echo $?)" \
        "alive: $(is_child "$AGENT_PID" && echo yes || echo no), reply: [$(head -c 200 <<<"$reply" | tr '\n' ' ')]" \
        "its output: $(tail -c 400 "$TMP/agent.out" | tr '\n\r' '  ')"
    stop_child "$AGENT_PID"
    AGENT_PID=
else
    fail "the installed program starts and answers a status request on 127.0.0.1:45654" "no logon start to run"
fi

# ---- a later version replaces this one (the same upgrade code)
mkdir -p "$TMP/later"
cp "$EXE" "$TMP/later/watchdog.exe"
cp "$ICON" "$TMP/later/watchdog.ico"
(cd "$TMP/later" && wixl --arch x64 -D Version=1.0.0.5 -D UpgradeBelow=1.0.1 -D ExePath=watchdog.exe \
    -D IconPath=watchdog.ico \
    -o watchdog-1.0.0.5.msi "$WXS" >"$TMP/wixl.out" 2>&1)
LATER="$TMP/later/watchdog-1.0.0.5.msi"
LATER_CODE=$(msi_property "$LATER" ProductCode)
if [ -f "$LATER" ] && [ "$(msi_property "$LATER" UpgradeCode)" = "$UPGRADE_CODE" ]; then
    msiexec /i "$LATER" "$TMP/upgrade.log"
    rc=$?
    uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
    old_listed=$(timeout 60 "$WINE" reg query "$uninstall_key\\$PRODUCT_CODE" /reg:64 >/dev/null 2>&1; echo $?)
    new_version=$(timeout 60 "$WINE" reg query "$uninstall_key\\$LATER_CODE" /v DisplayVersion /reg:64 2>/dev/null |
        tr -d '\r' | sed -n 's/.*REG_SZ *//p')
    check "a silent installation of version 1.0.0.5 replaces 1.0.0.4 (the major-upgrade rule)" \
        "$([ $rc -eq 0 ] && [ "$old_listed" != 0 ] && [ "$new_version" = 1.0.0.5 ] && [ -f "$installed_exe" ] &&
            [ "$(run_value)" = "$run" ]; echo $?)" \
        "exit $rc, 1.0.0.4 still listed: $([ "$old_listed" = 0 ] && echo yes || echo no), 1.0.0.5 listed as [$new_version]"
    REMOVE_MSI=$LATER
else
    fail "a later version can be built from the same source" "$(cat "$TMP/wixl.out")"
    REMOVE_MSI=$MSI
fi

# ---- silent uninstallation
msiexec /x "$REMOVE_MSI" "$TMP/uninstall.log"
rc=$?
check "msiexec /x ... /qn succeeds" "$rc" "exit $rc"
check "the uninstallation removes the program and its folder, the shortcut and the logon start" \
    "$([ ! -e "$installed_exe" ] && [ ! -e "$WINEPREFIX/drive_c/$INSTALL_DIR" ] && [ -z "$(find_shortcut)" ] &&
        [ -z "$(run_value)" ]; echo $?)" \
    "program: $([ -e "$installed_exe" ] && echo left || echo gone), shortcut: [$(find_shortcut)], run: [$(run_value)]"
check "the installer ran its firewall action (delete the rule) on removal" \
    "$(ran FirewallRuleRemove "$TMP/uninstall.log"; echo $?)" "$(grep -a 'Firewall' "$TMP/uninstall.log" | tr '\n' '|')"

# Nothing of ours is left: no file, no key or value that names the product,
# its program or its codes. Wine's installer creates its own bookkeeping
# (C:\windows\Installer and empty Installer keys, which Windows has anyway)
# and removes the Run key it emptied; those are Wine's, not the package's.
snapshot_files >"$TMP/after.files"
registry_text >"$TMP/after.reg"
file_changes=$(diff "$TMP/before.files" "$TMP/after.files" | grep '^[<>]' | grep -vx '> d drive_c/windows/Installer')
check "the files of drive C: are as before the installation" "$([ -z "$file_changes" ]; echo $?)" \
    "$(head -n 5 <<<"$file_changes" | tr '\n' '|')"
traces=
for needle in Brindlemoor watchdog.exe "$PRODUCT_CODE" "$LATER_CODE" "$(packed_guid "$PRODUCT_CODE")" \
    "$(packed_guid "$LATER_CODE")" "$(packed_guid "$UPGRADE_CODE")"; do
    [ -n "$needle" ] || continue
    grep -qiF -- "$needle" "$TMP/after.reg" && ! grep -qiF -- "$needle" "$TMP/before.reg" && traces="$traces [$needle]"
done
check "no registry key or value names the product, its program or its codes any more" "$([ -z "$traces" ]; echo $?)" \
    "found:$traces"

echo "msi: run took $((($(now_ms) - SCRIPT_START) / 1000)) s"
echo "msi: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
