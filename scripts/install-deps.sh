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

export DEBIAN_FRONTEND=noninteractive

# A mirror caught mid-sync can serve one index that fails verification (apt
# refuses it, as it should); the indexes that did verify are still usable, so
# warn and go on. What cannot be resolved then fails at the install below.
apt_update() {
  apt-get update -qq ||
    echo "install-deps: warning: some package indexes could not be fetched; going on with the others" >&2
}

# Waits for a dpkg lock held by another apt run rather than failing at once.
apt_install() {
  apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=300 "$@"
}

# 32-bit Wine runs the x86 build: its packages come from Debian's i386 archive.
updated=
dpkg --print-foreign-architectures | grep -qx i386 || { dpkg --add-architecture i386; apt_update; updated=1; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

[ ${#missing[@]} -gt 0 ] || exit 0
echo "Installing: ${missing[*]}"
[ -n "$updated" ] || apt_update
apt_install "${missing[@]}" && exit 0

# The plain install failed. The usual cause: a Multi-Arch: same library is
# (or is to be) installed for amd64 at a version from the security suite whose
# i386 twin is not available (its index failed), and both architectures must
# carry the same version. Install the amd64 packages as they are, then the
# i386 ones alone, first plainly, then with the release's own suite preferred
# for that one command, which brings the amd64 twins back to the version i386
# has. Only what the dependencies force is moved (not the rest of a library's
# source package), nothing is removed, and no setting of the machine changes.
native=() foreign=()
for p in "${missing[@]}"; do
  case $p in *:i386) foreign+=("$p") ;; *) native+=("$p") ;; esac
done
[ ${#foreign[@]} -gt 0 ] || exit 1
echo "install-deps: the install failed; installing the amd64 packages first, then the i386 ones" >&2
[ ${#native[@]} -eq 0 ] || apt_install "${native[@]}"
apt_install "${foreign[@]}" && exit 0

# shellcheck source=/dev/null
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
echo "install-deps: installing ${foreign[*]} with $codename's own versions preferred, to match the two architectures"
prefs=$(mktemp)
trap 'rm -f "$prefs"' EXIT
{
  printf 'Package: *\nPin: release o=Debian,n=%s\nPin-Priority: 1001\n\n' "$codename"
  cat /etc/apt/preferences 2>/dev/null || true
} >"$prefs"
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=300 \
  -o Dir::Etc::Preferences="$prefs" -o APT::Get::Upgrade-By-Source-Package=false \
  --allow-downgrades --no-remove "${foreign[@]}"
