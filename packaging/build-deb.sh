#!/usr/bin/env bash
# Builds the Debian package of the Linux agent with dpkg-deb:
#
#   build-deb.sh AGENT OUTPUT.deb VERSION
#
# AGENT is the built brindlemoor-watchdog binary; the unit, the maintainer
# scripts and the documentation come from this folder. The binary is
# installed stripped (its debugging information stays in the build), the
# files are owned by root, and the dependencies on shared libraries are
# worked out by dpkg-shlibdeps.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
agent=${1:?usage: build-deb.sh AGENT OUTPUT.deb VERSION}
output=${2:?usage: build-deb.sh AGENT OUTPUT.deb VERSION}
version=${3:?usage: build-deb.sh AGENT OUTPUT.deb VERSION}
name=brindlemoor-watchdog
arch=$(dpkg --print-architecture)

umask 022
work=$(mktemp -d "${TMPDIR:-/tmp}/$name-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
doc=$root/usr/share/doc/$name

install -D -m 0755 "$agent" "$root/usr/bin/$name"
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/$name"
install -D -m 0644 "$here/$name.service" "$root/lib/systemd/system/$name.service"
install -D -m 0644 "$here/deb/copyright" "$doc/copyright"
gzip -9n <"$here/deb/changelog" >"$doc/changelog.gz"
install -D -m 0644 "$here/deb/trace.conf" "$doc/examples/trace.conf"
install -d -m 0755 "$root/usr/share/man/man8"
gzip -9n <"$here/deb/$name.8" >"$root/usr/share/man/man8/$name.8.gz"
chmod 0644 "$doc/changelog.gz" "$root/usr/share/man/man8/$name.8.gz"

# The libraries the binary needs, as dpkg-shlibdeps names them; it reads the
# package's name from a debian/control of its own.
mkdir -p "$work/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$name" "$name" >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O "root/usr/bin/$name" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
    echo "build-deb: dpkg-shlibdeps found no dependencies for $agent" >&2
    exit 1
fi

install -d -m 0755 "$root/DEBIAN"
for script in postinst prerm postrm; do
    install -m 0755 "$here/deb/$script" "$root/DEBIAN/$script"
done
(cd "$root" && find usr lib -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"
size=$(du -s -k --apparent-size --exclude=DEBIAN "$root" | cut -f 1)

cat >"$root/DEBIAN/control" <<CONTROL
Package: $name
Version: $version
Architecture: $arch
Maintainer: Brindlemoor Plant Systems <watchdog@brindlemoor.com>
Installed-Size: $size
Depends: $depends
Section: net
Priority: optional
Description: plant network watch-dog agent
 The Brindlemoor watch-dog agent learns its servers from UDP multicast
 configuration messages, sends them keep-alives, status reports and CPU
 alarms over every local address on a common network, and answers status
 requests on UDP port 45654. It needs no configuration and keeps no state.
 .
 This package installs the agent as the hardened systemd service
 brindlemoor-watchdog.service, enabled and started on installation. Its
 state lines go to the journal at a bounded rate; a drop-in (see
 /usr/share/doc/brindlemoor-watchdog/examples/trace.conf) turns the
 developer trace on.
CONTROL
chmod 0644 "$root/DEBIAN/control"

dpkg-deb --root-owner-group -Zxz --build "$root" "$output.tmp" >/dev/null
mv "$output.tmp" "$output"
echo "build-deb: $output"
