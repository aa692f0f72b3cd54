#!/usr/bin/env bash
# Runs the built suites; called by test.sh inside its own network namespace.
# Ends with one summary line of all suites together.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

ip link set lo up
ip route add 224.0.0.0/4 dev lo 2>/dev/null || true

passed=0
failed=0
status=0

# Every GoogleTest program runs its tests in a shuffled order, so that no
# test leans on what an earlier one left behind; the seed comes from the
# date and is printed, so that a failing order can be run again.
export GTEST_SHUFFLE=1
GTEST_RANDOM_SEED=$(($(date +%s) % 99999 + 1))
export GTEST_RANDOM_SEED
echo "== unit tests shuffled with seed $GTEST_RANDOM_SEED (again: GTEST_SHUFFLE=1 GTEST_RANDOM_SEED=$GTEST_RANDOM_SEED)"

# run_ctest NAME DIR COMMAND...: runs COMMAND (a ctest call) in DIR and adds
# its counts to the totals.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  echo "== suite $name"
  local log
  log=$(mktemp)
  (cd "$dir" && "$@") 2>&1 | tee "$log"
  local line
  line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  if [ -z "$line" ]; then
    echo "suite $name: no test summary" >&2
    failed=$((failed + 1))
    status=1
    return
  fi
  local f t
  f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f))
  failed=$((failed + f))
  [ "$f" -eq 0 ] || status=1
}

# The Wine end-to-end test needs the prefix prepared below: it runs later.
# The end-to-end scripts of the Linux agent (label e2e) run once, against
# the sanitized build, which checks the same behaviour and its memory too;
# the plain build runs the unit tests and the package tests.
run_ctest linux "$top/build/linux" ctest --output-on-failure -LE 'wine|e2e'
run_ctest asan+ubsan "$top/build/asan" ctest --output-on-failure -LE wine
# ThreadSanitizer needs a fixed address-space layout on kernels with high
# mmap randomisation; setarch -R turns randomisation off for this run only.
TSAN_OPTIONS="halt_on_error=1" \
  run_ctest tsan "$top/build/tsan" setarch "$(uname -m)" -R ctest --output-on-failure -L threaded
# Each fuzzer for a short, bounded time (longer runs: see BENCHMARKS.md).
run_ctest fuzz "$top/build/fuzz" ctest --output-on-failure

# The window test needs an X display: a virtual one, started before Wine's
# first process so that Wine's desktop opens on it. Xvfb picks a free display
# number and writes it to descriptor 3.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
export DISPLAY=":$(head -n 1 "$display_file")"
rm -f "$display_file"

export WINEPREFIX="$top/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix"
  timeout 600 /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
fi
# Dialogs in Wine's own fonts (Tahoma for the shell font), which this Wine
# looks for in the prefix; and, with no window manager on the display, frames
# and captions drawn by Wine itself.
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
grep -q '"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null ||
  timeout 120 /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
run_ctest windows-under-wine "$top/build/win" ctest --output-on-failure
# The x86 build under 32-bit Wine, in a 32-bit prefix of its own: the
# import check and the signatures of the x86 program and package, the code
# that differs between 32 and 64 bits or before Vista (the CPU counter, the
# fallbacks, the socket layers), and the x86 MSI end to end (its service,
# views and window). The rest is the same code as the x64 suite's.
if [ ! -f "$top/build/wine-prefix-win32/system.reg" ]; then
  echo "== preparing the 32-bit Wine prefix"
  WINEPREFIX="$top/build/wine-prefix-win32" WINEARCH=win32 timeout 600 /usr/lib/wine/wine wineboot --init \
    >/dev/null 2>&1 || true
fi
cp -n /usr/share/wine/fonts/*.ttf "$top/build/wine-prefix-win32/drive_c/windows/Fonts/" 2>/dev/null || true
grep -q '"Decorated"="N"' "$top/build/wine-prefix-win32/user.reg" 2>/dev/null ||
  WINEPREFIX="$top/build/wine-prefix-win32" timeout 120 /usr/lib/wine/wine reg add \
    'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
WINEPREFIX="$top/build/wine-prefix-win32" \
  run_ctest windows-x86-under-wine32 "$top/build/win32" ctest --output-on-failure \
  -R '^(import_floor|signing|test_before_vista_win|test_cpu_counter_win.*|test_host_lookup|test_udp_bound_socket|msi_install)$'
# The Windows agent on changing networks, driven from the Linux build (its
# namespaces and peer tool), with a copy of the prefix and a display of its own.
run_ctest windows-e2e-under-wine "$top/build/linux" ctest --output-on-failure -L wine
/usr/lib/wine/wineserver -k 2>/dev/null || true
WINEPREFIX="$top/build/wine-prefix-win32" /usr/lib/wine/wineserver -k 2>/dev/null || true
kill "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true

echo "all suites: $passed passed, $failed failed"
exit $status
