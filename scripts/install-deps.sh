#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Idempotent:
# only missing packages are installed, and nothing is done when all are there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libboost1.74-dev libgtest-dev googletest
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  wine64 wine32:i386 xvfb
  osslsigncode openssl
  iproute2 util-linux tmux
  clang libclang-rt-14-dev
  snmpd snmp
  msitools wixl dpkg-dev lintian systemd systemd-container
  mmdebstrap debian-archive-keyring
)

# 32-bit Wine runs the x86 build: its packages come from Debian's i386 archive.
dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; apt-get update -qq; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
