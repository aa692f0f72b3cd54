#!/usr/bin/env bash
# Builds one configuration into build/NAME:
#   linux  native, with the tests
#   asan   native, AddressSanitizer and UndefinedBehaviorSanitizer
#   tsan   native, ThreadSanitizer
#   win    Windows x64, cross-built with mingw-w64
#   win32  Windows x86, cross-built with mingw-w64 (i686): the program, its MSI and
#          the tests that run under 32-bit Wine
#   fuzz   native with clang: the libFuzzer targets of tests/fuzz
#   deb    the Debian package, its agent built in a Debian 11 root (made by
#          scripts/debian-root.sh when missing) against Debian 11's
#          libraries, so that it runs on Debian 11 and every later release
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
name=${1:?usage: build.sh linux|asan|tsan|win|win32|fuzz|deb}
dir="$top/build/$name"
if [ "$name" = deb ]; then
  # Only the agent and the package: the tests run in the native builds.
  exec "$top/scripts/debian-root.sh" run bullseye build "$top" -- bash -euc '
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_TESTS=OFF -DZQ_DEB=ON >/dev/null
    cmake --build "$2" --target deb -- -j2' _ "$top" "$dir"
fi
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "$name" in
  linux) ;;
  asan) args+=(-DZQ_SANITIZE=address,undefined) ;;
  tsan) args+=(-DZQ_SANITIZE=thread) ;;
  win) args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake") ;;
  win32) args+=(-DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake") ;;
  fuzz) args+=(-DCMAKE_CXX_COMPILER=clang++ -DZQ_FUZZ=ON -DZQ_TESTS=OFF) ;;
  *) echo "unknown build: $name" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$dir" "${args[@]}" >/dev/null
targets=()
# The x86 build: the program, its MSI and only the tests that the x64 build
# does not already cover (the 32-bit suites in scripts/run-suites.sh).
[ "$name" != win32 ] || targets=(--target watchdog msi watchdog-peer service_views test_before_vista_win
                                 test_cpu_counter_win test_host_lookup test_udp_bound_socket)
cmake --build "$dir" "${targets[@]}" -- -j"$(nproc)"
