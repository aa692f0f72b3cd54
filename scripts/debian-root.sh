#!/usr/bin/env bash
# Root file systems of other Debian releases, made with mmdebstrap from the
# Debian mirror and kept in a cache folder outside the repository, so that a
# second run reuses them. As root:
#
#   debian-root.sh make RELEASE KIND         makes the root when missing; prints its path
#   debian-root.sh path RELEASE KIND         prints the path of a root already made (exit 1: none)
#   debian-root.sh run RELEASE KIND DIR -- COMMAND...
#                                            runs COMMAND in the root, read-only, with DIR
#                                            bound read-write at its own path
#
# RELEASE: bullseye (Debian 11), bookworm (12) or trixie (13). KIND:
#   build  Debian 11's compiler, CMake, Boost headers and dpkg-dev: the
#          packaged agent is built against the oldest release it runs on
#   boot   the smallest system that boots with systemd, for the package test
#
# The cache is $BRINDLEMOOR_BUILD_CACHE (default /var/cache/brindlemoor-build).
# Each root's folder is named after its release, its kind and a hash of
# everything that defines it (mirror, variant, packages, hooks), so that a
# changed list makes a new root (the old one is removed after a day unused).
# A root is made in a temporary folder and renamed when complete: an
# interrupted run leaves no broken root, and its remains are swept by the
# next run.
set -euo pipefail

CACHE=${BRINDLEMOOR_BUILD_CACHE:-/var/cache/brindlemoor-build}
MIRROR=http://deb.debian.org/debian
KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg
USAGE="usage: debian-root.sh make|path RELEASE build|boot, or run RELEASE build|boot DIR -- COMMAND..."

command=${1:?$USAGE}
release=${2:?$USAGE}
kind=${3:?$USAGE}
case $release in
    bullseye | bookworm | trixie) ;;
    *) echo "debian-root: unknown release: $release" >&2; exit 2 ;;
esac

# What defines the root: mmdebstrap's arguments but the target folder.
# The minimal base of the release (what every Debian system has), no
# recommended packages, and dpkg without its syncs while the root is made
# (half the time; a root that a crash cut short is never renamed into use).
args=(--variant=minbase --aptopt='APT::Install-Recommends "false"' --dpkgopt=force-unsafe-io)
case $kind in
    build)
        [ "$release" = bullseye ] || { echo "debian-root: the build root is Debian 11's (bullseye)" >&2; exit 2; }
        # g++ 10 and Boost 1.74, as in Debian 11; dpkg-dev for dpkg-shlibdeps,
        # which reads Debian 11's library versions for the package's Depends.
        args+=(--include=g++,cmake,ninja-build,libboost1.74-dev,dpkg-dev)
        ;;
    boot)
        # systemd as init. The package needs nothing more: its Depends (libc6,
        # libgcc-s1, libstdc++6) and deb-systemd-helper are in every root.
        # An empty machine ID: systemd-nspawn gives each boot its own. The
        # root's own dpkg syncs as shipped.
        args+=(--include=systemd,systemd-sysv
            --customize-hook='rm -f "$1/etc/hostname" "$1/etc/dpkg/dpkg.cfg.d/99mmdebstrap"; : >"$1/etc/machine-id"')
        ;;
    *) echo "debian-root: unknown kind: $kind" >&2; exit 2 ;;
esac
args+=("$release" "deb [signed-by=$KEYRING] $MIRROR $release main")
hash=$(printf '%s\n' "${args[@]}" | sha256sum | cut -c 1-12)
name=$release-$kind
root=$CACHE/$name-$hash

# A root's time is that of its last use. Roots of the same release and kind
# that another definition made (another branch, an older package list) are
# removed once unused for a day: a test may still run on one now.
used() {
    touch -c "$root" 2>/dev/null || true
}
remove_unused() {
    find "$CACHE" -mindepth 1 -maxdepth 1 -name "$name-*" ! -name "${root##*/}" -mmin +1440 \
        -exec rm -rf --one-file-system {} + 2>/dev/null || true
}

case $command in
    path)
        [ -d "$root" ] || { echo "debian-root: no $name root in $CACHE: scripts/debian-root.sh make $release $kind makes it" >&2; exit 1; }
        used
        echo "$root"
        exit 0
        ;;
    make)
        if [ ! -d "$root" ]; then
            mkdir -p "$CACHE"
            exec 9>"$CACHE/.lock.$name"
            flock 9
            if [ ! -d "$root" ]; then
                # With the lock held, every temporary folder of this root is
                # what a killed run left.
                rm -rf --one-file-system "$CACHE/.new.$name".*
                new=$(mktemp -d "$CACHE/.new.$name.XXXXXX")
                trap 'rm -rf --one-file-system "$new"' EXIT
                start=$(date +%s)
                echo "debian-root: making the $name root (mmdebstrap ${args[*]})" >&2
                # In a mount namespace of its own: the file systems that
                # mmdebstrap mounts in the root (/proc, /sys, /dev/pts) go
                # with it, even when it is killed half-way.
                if ! unshare --mount --propagation private -- mmdebstrap --quiet --mode=root --format=directory \
                    "${args[@]:0:${#args[@]}-2}" "$release" "$new" "${args[-1]}" >"$new.log" 2>&1; then
                    tail -n 30 "$new.log" >&2
                    rm -f "$new.log"
                    echo "debian-root: FAILED to make the $name root" >&2
                    exit 1
                fi
                rm -f "$new.log"
                # On disk before it is taken into use (dpkg did not sync).
                sync -f "$new"
                mv -T "$new" "$root"
                trap - EXIT
                echo "debian-root: made $root in $(($(date +%s) - start)) s ($(du -sm "$root" | cut -f 1) MB)" >&2
            fi
        fi
        used
        remove_unused
        echo "$root"
        exit 0
        ;;
    run) ;;
    *) echo "$USAGE" >&2; exit 2 ;;
esac

# ---- run: COMMAND in the root, in mount, PID and network namespaces of its
# own (no network: the build needs none). The root is the lower layer of an
# overlay whose writes go to a tmpfs, so the cached root never changes.
dir=$(readlink -f "${4:?$USAGE}")
[ "${5:-}" = -- ] || { echo "$USAGE" >&2; exit 2; }
shift 5
[ -d "$root" ] || root=$("$0" make "$release" "$kind")
used
scratch=$(mktemp -d /tmp/zq-root.XXXXXX)
trap 'rmdir "$scratch"' EXIT
unshare --mount --propagation private --pid --net --fork -- bash -euo pipefail -c '
    root=$1 dir=$2 scratch=$3
    shift 3
    mount -t tmpfs tmpfs "$scratch"
    mkdir "$scratch/upper" "$scratch/work" "$scratch/view"
    view=$scratch/view
    mount -t overlay overlay -o "lowerdir=$root,upperdir=$scratch/upper,workdir=$scratch/work" "$view"
    mount -t proc proc "$view/proc"
    mount --rbind /dev "$view/dev"
    mount -t tmpfs tmpfs "$view/tmp"
    mkdir -p "$view$dir"
    mount --bind "$dir" "$view$dir"
    ip link set lo up
    exec chroot "$view" env -i -C "$dir" PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp LANG=C.UTF-8 "$@"
    ' _ "$root" "$dir" "$scratch" "$@"
