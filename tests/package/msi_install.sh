#!/usr/bin/env bash
# watchdog.msi under Wine, the way a fleet deploys it: a silent installation
# over the older Run-key layout, which leaves the service running with nobody
# starting the program; views of it (SERVICE_VIEWS), net stop and its exit
# code, its event-log entries; a silent upgrade by a later version; and a
# silent uninstallation that leaves nothing behind. All of it with Wine
# reporting Windows 10 (its default); then once more, installed, answering and removed,
# with Wine reporting the oldest Windows of the package (FLOOR: winxp for
# x86, win2003 for x64), where the installer takes the older firewall
# command; and for x86, refused below it (Windows 2000).
#
#   msi_install.sh WATCHDOG.MSI WATCHDOG.EXE PEER.EXE WATCHDOG.WXS ICON SERVICE_VIEWS.EXE ARCH FLOOR [X86.MSI]
#
# ARCH is the package's (x64 in a 64-bit Wine prefix, x86 in a 32-bit one).
# X86.MSI, given to the x64 run, is the x86 package, which must refuse this
# 64-bit Windows with its message. The older Run-key layout was x64 only.
#
# WATCHDOG.EXE is the program the MSI was built from, PEER.EXE the Windows
# watchdog-peer; the source (WATCHDOG.WXS and ICON) makes the later version
# with wixl, run_key_layout.wxs the older. Runs in the test command's Windows
# suite (WINEPREFIX, DISPLAY of a virtual X server, a private network
# namespace of loopback only); skipped (77) elsewhere. The installed agent
# joins its multicast groups as soon as it starts, so a namespace with more
# than loopback is refused.
#
# The test works on a copy of the Wine prefix, with a Wine server of its own,
# and deletes the copy at the end: the prefix of the suite stays exactly as
# it was, whatever happens here. Wine's shell-link helper is off, so no menu
# entry reaches the desktop outside the prefix.
#
# Wine's netsh and sc accept "advfirewall" and "failure" and keep nothing,
# its services run as the installing user, its ReportEventW stores nothing:
# the test checks that the installer's deferred actions ran, reads the
# account from the service's key, and reads the event-log entries in Wine's
# eventlog debug channel, which the services inherit from the first process.
set -u
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/common.sh"

usage="usage: msi_install.sh WATCHDOG.MSI WATCHDOG.EXE PEER.EXE WATCHDOG.WXS ICON SERVICE_VIEWS.EXE ARCH FLOOR [X86.MSI]"
MSI=$(readlink -f "${1:?$usage}")
EXE=$(readlink -f "${2:?$usage}")
PEER=$(readlink -f "${3:?$usage}")
WXS=$(readlink -f "${4:?$usage}")
ICON=$(readlink -f "${5:?$usage}")
VIEWS=$(readlink -f "${6:?$usage}")
ARCH=${7:?$usage}
FLOOR=${8:?$usage}
X86_MSI=${9:-}
OLD_WXS="$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/run_key_layout.wxs"
WINESERVER=/usr/lib/wine/wineserver
if [ "$ARCH" = x64 ]; then
    WINE=/usr/lib/wine/wine64
    REG_VIEW=/reg:64
else
    WINE=/usr/lib/wine/wine
    REG_VIEW=/reg:32
fi

PRODUCT="Brindlemoor Win32 Watch Dog"
RUN_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
INSTALL_DIR="Program Files/Brindlemoor Watch Dog"
SHORTCUT="$PRODUCT.lnk"
SERVICE=BrindlemoorWatchDog
SERVICE_KEY="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$SERVICE"
EVENT_SOURCE_KEY='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Brindlemoor Watch Dog'

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
for file in "$MSI" "$EXE" "$PEER" "$WXS" "$ICON" "$VIEWS" "$OLD_WXS"; do
    [ -f "$file" ] || { echo "msi: FAIL: no such file: $file"; exit 1; }
done

TMP=$(mktemp -d /tmp/zq-msi.XXXXXX)
SUITE_PREFIX=$WINEPREFIX
export WINEPREFIX="$TMP/prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

cleanup() {
    trap - EXIT INT TERM
    [ -n "${LIMIT_PID:-}" ] && signal_child TERM "$LIMIT_PID"
    # The Wine server of the copy, and with it every process of the copy.
    [ -d "$WINEPREFIX" ] && timeout 30 "$WINESERVER" -k >/dev/null 2>&1
    wait 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'echo "msi: interrupted"; exit 130' INT

start_time_limit "${MSI_TIME_LIMIT:-440}" 'echo "msi: $PASSED passed, $FAILED failed"; exit 1'

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

# The machine's and the user's software keys and the services' keys, as text.
registry_text() {
    local key
    for key in 'HKLM\Software' 'HKCU\Software' 'HKLM\SYSTEM\CurrentControlSet\Services'; do
        rm -f "$TMP/export.reg"
        timeout 60 "$WINE" reg export "$key" "$(windows_path "$TMP/export.reg")" /y >/dev/null 2>&1
        iconv -f UTF-16 -t UTF-8 "$TMP/export.reg" 2>/dev/null
    done
}

# The value of the logon start, "" when there is none.
run_value() {
    timeout 60 "$WINE" reg query "$RUN_KEY" /v "$PRODUCT" $REG_VIEW 2>/dev/null | tr -d '\r' |
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

# The service's status as sc prints it, one "FIELD=value" line each
# (STATE=RUNNING, WIN32_EXIT_CODE=0, ...); nothing when there is no service.
service_status() {
    timeout 30 "$WINE" sc query "$SERVICE" 2>/dev/null | tr -d '\r' |
        sed -n -e 's/^ *STATE *: *[0-9a-f]* *\([A-Z_]*\).*/STATE=\1/p' \
            -e 's/^ *\([A-Z0-9_]*EXIT_CODE\) *: *\([0-9]*\).*/\1=\2/p'
}

# wait_service STATE SECONDS: polls until the service is in STATE.
wait_service() {
    local deadline=$(($(now_ms) + $2 * 1000))
    until service_status | grep -qx "STATE=$1"; do [ "$(now_ms)" -lt "$deadline" ] || return 1; sleep 0.5; done
}

# status_reply SECONDS: the agent's <status> reply on 127.0.0.1:45654,
# asked again until it comes or SECONDS pass.
status_reply() {
    local reply= deadline=$(($(now_ms) + $1 * 1000))
    while [ "$(now_ms)" -lt "$deadline" ] && [[ $reply != *"<status>"*"</status>"* ]]; do
        reply=$(timeout 20 "$WINE" "$PEER" status 127.0.0.1 --timeout-ms 1000 2>/dev/null | tr -d '\r')
    done
    printf '%s' "$reply"
}

# reg_value KEY NAME: a registry value's data as reg query prints it.
reg_value() {
    timeout 60 "$WINE" reg query "$1" /v "$2" $REG_VIEW 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

msi_property() {
    msiinfo export "$1" Property 2>/dev/null | tr -d '\r' | awk -F '\t' -v p="$2" '$1 == p {print $2}'
}

# ran ACTION LOG: the installer ran the action and it returned success.
ran() {
    grep -q "Action ended .*: $1\. Return value 1\." "$2"
}

# set_windows_version NAME: the Windows that Wine reports to the processes
# started from now on (winxp, win2003, win10, ...).
set_windows_version() {
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
}

# ------------------------------------------------------------------ run

SCRIPT_START=$(now_ms)
echo "msi: $MSI, work directory $TMP"
if ! cp -a "$SUITE_PREFIX" "$WINEPREFIX"; then
    echo "msi: FAIL: cannot copy the Wine prefix"
    exit 1
fi
# Start the copy's Wine server and let it settle before the first snapshot.
# Its first process starts Wine's service manager, which passes the eventlog
# debug channel and this standard error on to the services it starts. The
# server stays (-p) until the end, so that a pause between two commands on a
# busy machine does not end the service manager and the services with it.
"$WINESERVER" -p >/dev/null 2>&1
WINEDEBUG=-all,+eventlog timeout 120 "$WINE" reg query 'HKLM\Software' /ve >/dev/null 2>"$TMP/system.log"
snapshot_files >"$TMP/before.files"
registry_text >"$TMP/before.reg"

PRODUCT_CODE=$(msi_property "$MSI" ProductCode)
UPGRADE_CODE=$(msi_property "$MSI" UpgradeCode)
check "the MSI is version 1.0.0.4 of \"$PRODUCT\", per machine, with an upgrade code" \
    "$([ "$(msi_property "$MSI" ProductVersion)" = 1.0.0.4 ] && [ "$(msi_property "$MSI" ProductName)" = "$PRODUCT" ] &&
        [ "$(msi_property "$MSI" ALLUSERS)" = 1 ] && [ -n "$UPGRADE_CODE" ] && [ -n "$PRODUCT_CODE" ]; echo $?)" \
    "$(msiinfo export "$MSI" Property 2>&1 | tr '\r\n' '  ')"

# ---- the older layout: the desktop program, started at every logon
OLDER_CODE=
if [ "$ARCH" = x64 ]; then
mkdir -p "$TMP/older"
cp "$EXE" "$TMP/older/watchdog.exe"
(cd "$TMP/older" && wixl --arch x64 -D Arch=x64 -D Version=1.0.0.3 -D ExePath=watchdog.exe -o watchdog-1.0.0.3.msi "$OLD_WXS" \
    >"$TMP/wixl-older.out" 2>&1)
OLDER="$TMP/older/watchdog-1.0.0.3.msi"
OLDER_CODE=$(msi_property "$OLDER" ProductCode)
msiexec /i "$OLDER" "$TMP/older.log"
rc=$?
run=$(run_value)
check "the older layout (1.0.0.3) installs, with the logon start in $RUN_KEY and no service" \
    "$([ $rc -eq 0 ] && [ "$run" = "\"C:\\Program Files\\Brindlemoor Watch Dog\\watchdog.exe\"" ] &&
        [ -z "$(service_status)" ]; echo $?)" "exit $rc, run: [$run], $(cat "$TMP/wixl-older.out")"
fi

# ---- silent installation over it
msiexec /i "$MSI" "$TMP/install.log"
rc=$?
check "msiexec /i watchdog.msi /qn succeeds (on x64 over the older layout)" "$rc" "exit $rc"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
[ "$ARCH" != x64 ] ||
    check "the older layout is replaced: 1.0.0.3 is no longer listed, and $RUN_KEY holds no logon start" \
    "$(! timeout 60 "$WINE" reg query "$uninstall_key\\$OLDER_CODE" $REG_VIEW >/dev/null 2>&1 && [ -z "$(run_value)" ]; echo $?)" \
    "run: [$(run_value)]"
installed_exe="$WINEPREFIX/drive_c/$INSTALL_DIR/watchdog.exe"
check "watchdog.exe is installed in $INSTALL_DIR, byte for byte the built program, without debug information" \
    "$(cmp -s "$EXE" "$installed_exe" && [ "$(stat -c %s "$installed_exe")" -lt 4000000 ]; echo $?)" \
    "$(ls -la "$WINEPREFIX/drive_c/$INSTALL_DIR" 2>&1 | tr '\n' ' ')"
shortcut=$(find_shortcut)
check "a Start-menu shortcut \"$SHORTCUT\" is installed" "$([ -n "$shortcut" ]; echo $?)"
check "the installer ran its firewall actions (delete a stale rule, add the rule) without failing, not those of XP" \
    "$(ran FirewallRuleClear "$TMP/install.log" && ran FirewallRuleAdd "$TMP/install.log" &&
        ! grep -q FirewallXp "$TMP/install.log"; echo $?)" \
    "$(grep -a 'Firewall' "$TMP/install.log" | tr '\n' '|')"
check "the installer installed and started the service and set its restart after a failure" \
    "$(ran InstallServices "$TMP/install.log" && ran ServiceRecovery "$TMP/install.log" &&
        ran StartServices "$TMP/install.log"; echo $?)" \
    "$(grep -a 'Service' "$TMP/install.log" | tr '\n' '|' | tail -c 600)"
image=$(reg_value "$SERVICE_KEY" ImagePath)
check "the service $SERVICE runs the installed program at boot as NT AUTHORITY\\LocalService" \
    "$([[ $image == *'C:\Program Files\Brindlemoor Watch Dog\watchdog.exe'* ]] &&
        [ "$(reg_value "$SERVICE_KEY" Start)" = 0x2 ] && [ "$(reg_value "$SERVICE_KEY" ObjectName)" = 'NT AUTHORITY\LocalService' ] &&
        [ "$(reg_value "$SERVICE_KEY" DisplayName)" = "$PRODUCT" ]; echo $?)" \
    "image: [$image], start: [$(reg_value "$SERVICE_KEY" Start)], account: [$(reg_value "$SERVICE_KEY" ObjectName)]"
check "the event source \"Brindlemoor Watch Dog\" names the program's message table" \
    "$([ "$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile)" = 'C:\Program Files\Brindlemoor Watch Dog\watchdog.exe' ] &&
        [ "$(reg_value "$EVENT_SOURCE_KEY" TypesSupported)" = 0x7 ]; echo $?)" \
    "file: [$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile)], types: [$(reg_value "$EVENT_SOURCE_KEY" TypesSupported)]"
echo "msi: NOTE: Wine's netsh has no working advfirewall and its sc keeps no failure actions (each accepts the" \
    "command and does nothing); Wine runs every service as the installing user"

# ---- the service, with nobody starting the program
wait_service RUNNING 30
reply=$(status_reply 30)
check "nobody starts the program: the service runs and answers a status request on 127.0.0.1:45654" \
    "$([[ $reply == *"<status>"*"</status>"* ]] && service_status | grep -qx STATE=RUNNING; echo $?)" \
    "$(service_status | tr '\n' ' '), reply: [$(head -c 200 <<<"$reply" | tr '\n' ' ')]"

# ---- views of the service: a configuration shows in views opened after
# it; two at once; Exit closes a view only; net stop, which an open view
# reports, ends the service with exit code 0.
timeout 20 "$WINE" "$PEER" config --group orvane --interface 127.0.0.1 --server-port 40001 \
    --cpu-percent 90 --alarm-seconds 30 127.0.0.1 >/dev/null 2>&1
timeout 150 "$WINE" "$VIEWS" "$installed_exe" 2>&1 | tr -d '\r' >"$TMP/views.out"
sed 's/^/msi: views: /' "$TMP/views.out"
PASSED=$((PASSED + $(grep -c '^PASS: ' "$TMP/views.out"))) FAILED=$((FAILED + $(grep -c '^FAIL: ' "$TMP/views.out")))
grep -q '^service-views: ' "$TMP/views.out" || fail "the views' test runs to its end" "$(tail -c 300 "$TMP/views.out")"
status=$(service_status | tr '\n' ' ')
check "after net stop the service is stopped with exit code 0" \
    "$([[ $status == *"STATE=STOPPED WIN32_EXIT_CODE=0 "* ]]; echo $?)" "$status"

# ---- the service's entries for the Windows event log
events=$(grep -a 'eventlog:ReportEventW' "$TMP/system.log")
check "the service wrote its event list to the event log: the start marks and the configuration received" \
    "$(grep -q 'L" AFTER new zq::ZqServer()"' <<<"$events" && grep -q 'MulticastRX= .*beaconCfgAlarm' <<<"$events"; echo $?)"
echo "msi: the service's $(wc -l <<<"$events") event-log entries begin:" && head -n 3 <<<"$events" | sed 's/^/msi:   /'

# ---- a later version replaces this one (the same upgrade code)
mkdir -p "$TMP/later"
cp "$EXE" "$TMP/later/watchdog.exe"
cp "$ICON" "$TMP/later/watchdog.ico"
(cd "$TMP/later" && wixl --arch "$ARCH" -D Arch="$ARCH" -D Version=1.0.0.5 -D UpgradeBelow=1.0.1 -D ExePath=watchdog.exe \
    -D IconPath=watchdog.ico \
    -o watchdog-1.0.0.5.msi "$WXS" >"$TMP/wixl.out" 2>&1)
LATER="$TMP/later/watchdog-1.0.0.5.msi"
LATER_CODE=$(msi_property "$LATER" ProductCode)
if [ -f "$LATER" ] && [ "$(msi_property "$LATER" UpgradeCode)" = "$UPGRADE_CODE" ]; then
    msiexec /i "$LATER" "$TMP/upgrade.log"
    rc=$?
    old_listed=$(timeout 60 "$WINE" reg query "$uninstall_key\\$PRODUCT_CODE" $REG_VIEW >/dev/null 2>&1; echo $?)
    new_version=$(timeout 60 "$WINE" reg query "$uninstall_key\\$LATER_CODE" /v DisplayVersion $REG_VIEW 2>/dev/null |
        tr -d '\r' | sed -n 's/.*REG_SZ *//p')
    check "a silent installation of version 1.0.0.5 replaces 1.0.0.4 (the major-upgrade rule)" \
        "$([ $rc -eq 0 ] && [ "$old_listed" != 0 ] && [ "$new_version" = 1.0.0.5 ] && [ -f "$installed_exe" ] &&
            [ -z "$(run_value)" ]; echo $?)" \
        "exit $rc, 1.0.0.4 still listed: $([ "$old_listed" = 0 ] && echo yes || echo no), 1.0.0.5 listed as [$new_version]"
    wait_service RUNNING 30
    check "after the upgrade the service runs and answers" \
        "$([[ $(status_reply 30) == *"<status>"* ]] && service_status | grep -qx STATE=RUNNING; echo $?)" \
        "$(service_status | tr '\n' ' ')"
    REMOVE_MSI=$LATER
else
    fail "a later version can be built from the same source" "$(cat "$TMP/wixl.out")"
    REMOVE_MSI=$MSI
fi

# ---- silent uninstallation
msiexec /x "$REMOVE_MSI" "$TMP/uninstall.log"
rc=$?
check "msiexec /x ... /qn succeeds" "$rc" "exit $rc"
check "the uninstallation removes the program and its folder, the shortcut, the service and the event source" \
    "$([ ! -e "$installed_exe" ] && [ ! -e "$WINEPREFIX/drive_c/$INSTALL_DIR" ] && [ -z "$(find_shortcut)" ] &&
        [ -z "$(service_status)" ] && ! timeout 60 "$WINE" reg query "$SERVICE_KEY" $REG_VIEW >/dev/null 2>&1 &&
        ! timeout 60 "$WINE" reg query "$EVENT_SOURCE_KEY" $REG_VIEW >/dev/null 2>&1; echo $?)" \
    "program: $([ -e "$installed_exe" ] && echo left || echo gone), shortcut: [$(find_shortcut)]," \
    "service: [$(service_status | tr '\n' ' ')]"
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
for needle in Brindlemoor watchdog.exe "$PRODUCT_CODE" "$LATER_CODE" "$OLDER_CODE" "$(packed_guid "$PRODUCT_CODE")" \
    "$(packed_guid "$LATER_CODE")" "$(packed_guid "$OLDER_CODE")" "$(packed_guid "$UPGRADE_CODE")"; do
    [ -n "$needle" ] || continue
    grep -qiF -- "$needle" "$TMP/after.reg" && ! grep -qiF -- "$needle" "$TMP/before.reg" && traces="$traces [$needle]"
done
check "no registry key or value names the product, its program or its codes any more" "$([ -z "$traces" ]; echo $?)" \
    "found:$traces"

# ---- the oldest Windows the package is for
set_windows_version "$FLOOR"
msiexec /i "$MSI" "$TMP/floor.log"
rc=$?
check "on $FLOOR the package installs, with the older firewall command and the restart without failureflag" \
    "$([ $rc -eq 0 ] && ran FirewallXpClear "$TMP/floor.log" && ran FirewallXpAdd "$TMP/floor.log" &&
        ! grep -q 'FirewallRule' "$TMP/floor.log" && ran ServiceRecovery "$TMP/floor.log" &&
        ! grep -q ServiceRecoveryOnExitCode "$TMP/floor.log"; echo $?)" \
    "exit $rc, $(grep -aE 'Firewall|ServiceRecovery' "$TMP/floor.log" | tr '\n' '|')"
wait_service RUNNING 30
check "on $FLOOR the service runs with nobody logged on and answers a status request" \
    "$([[ $(status_reply 30) == *"<status>"*"</status>"* ]] && service_status | grep -qx STATE=RUNNING; echo $?)" \
    "$(service_status | tr '\n' ' ')"
msiexec /x "$MSI" "$TMP/floor-uninstall.log"
rc=$?
snapshot_files >"$TMP/floor.files"
check "on $FLOOR the uninstallation removes the older firewall exception and leaves the files as before" \
    "$([ $rc -eq 0 ] && ran FirewallXpRemove "$TMP/floor-uninstall.log" && [ -z "$(service_status)" ] &&
        [ -z "$(diff "$TMP/before.files" "$TMP/floor.files" | grep '^[<>]' | grep -vx '> d drive_c/windows/Installer')" ]
        echo $?)" \
    "exit $rc, $(diff "$TMP/before.files" "$TMP/floor.files" | grep '^[<>]' | head -n 3 | tr '\n' '|')"

# ---- below the oldest Windows, and the x86 package on 64-bit Windows
# refused MSI TRACE TEXT: the installation fails at a launch condition whose
# message holds TEXT. Wine's installer logs no message in silent mode: the
# condition it found false is read from its trace, the message from the
# package's table.
refused() {
    WINEDEBUG=-all,+msi timeout 120 "$WINE" msiexec /i "$(windows_path "$1")" /qn >/dev/null 2>"$2"
    local rc=$? condition
    condition=$(sed -n 's/.*MSI_EvaluateConditionW 0 <- L"\(.*\)"$/\1/p' "$2" | tail -n 1)
    [ $rc -ne 0 ] && grep -q 'action L"LaunchConditions" returned 1603' "$2" && [ -n "$condition" ] &&
        msiinfo export "$1" LaunchCondition | tr -d '\r' | grep -F -- "$condition" | grep -qF -- "$3"
}
if [ "$ARCH" = x86 ]; then
    set_windows_version win2k
    check "on Windows 2000 the package refuses to install, saying why" \
        "$(refused "$MSI" "$TMP/win2k.log" "needs Windows XP with Service Pack 3"; echo $?)" \
        "$(grep -E 'EvaluateConditionW 0 <-|returned' "$TMP/win2k.log" | tail -n 3 | tr '\n' '|')"
elif [ -n "$X86_MSI" ] && [ -f "$X86_MSI" ]; then
    set_windows_version win10
    check "the x86 package refuses this 64-bit Windows, naming the x64 package" \
        "$(refused "$X86_MSI" "$TMP/x86.log" "This Windows is 64-bit: install the x64 package."; echo $?)" \
        "$(grep -E 'EvaluateConditionW 0 <-|returned' "$TMP/x86.log" | tail -n 3 | tr '\n' '|')"
else
    echo "msi: NOTE: no x86 package given: its refusal of 64-bit Windows is not checked here"
fi

echo "msi: run took $((($(now_ms) - SCRIPT_START) / 1000)) s"
echo "msi: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
