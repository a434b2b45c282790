#!/bin/sh
# Creates (or reuses) a minimal Debian root for building and testing hwidtool
# on another release, with the packages that the build, the system tests and
# the .deb round trip need; or runs a command inside such a root.
#
# The mirror is the one this machine's own apt configuration uses for Debian
# (the first non-security entry); the release is checked against the host's
# Debian archive keyring. A root is reused only when an earlier run finished
# it with the same options (marker file .hwid-root-complete); a half-made one
# is removed and made again.
#
# --arch ARCH makes a root of another architecture (arm64): debootstrap's
# first stage unpacks it, the second installs it; its programs run under
# qemu-user-static, which binfmt_misc starts for every foreign program
# (registered with the F flag, so the emulator need not be inside the root).
# The second stage's own script runs here, not in the root: under emulation
# its perl takes minutes for every pass over the package list (it was not
# through unpacking after 22 minutes), here seconds. Such a root is for
# running, not building (a compiler under emulation is slow): it gets only
# what the system tests and installing a package need, and what building
# one small C program against the library takes.
# --run-only makes a root of the host's architecture with only what the
# system tests and installing a package need, as a root of another
# architecture has: with the C compiler, make, cmake and pkgconf, so that a
# program is built there against the installed libhwid-dev as its users
# build one.
# --cross ARCH adds, in a root of the host's architecture, the cross compiler
# for ARCH and Debian's multiarch libpystring-dev:ARCH, so that packages for
# ARCH are built and their dependencies worked out there.
#
# "run" executes COMMAND inside the root in a mount namespace of its own:
# whatever is mounted for it (the root onto itself, so that it is a mount
# point for the tests' own namespaces; /dev for /dev/null and /dev/net/tun;
# /proc; SOURCE_DIR read-only at /src, or at the path --src-at names)
# disappears with the namespace. A root of another architecture has qemu
# registered for the run.
#
# debootstrap runs in a mount namespace of its own too, so that its /proc
# and /sys mounts go with it however it ends. binfmt_misc entries are this
# run's own (scripts/binfmt.sh) and removed when it ends.
#
# Needs root, debootstrap and debian-archive-keyring (and qemu-user-static
# for --arch).
#
# Usage: distro-root.sh [--arch ARCH | --run-only] [--cross ARCH] ROOT_DIR SUITE
#        distro-root.sh run [--src-at PATH] ROOT_DIR SOURCE_DIR COMMAND...
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/binfmt.sh
. "$(dirname "$0")/binfmt.sh"
set -eu

run_in_root() {  # root, source folder, its path inside, command...
    unshare -m --propagation private sh -eu -c '
        root=$1 src=$2 at=$3
        shift 3
        mount --bind "$root" "$root"
        mount --rbind /dev "$root/dev"
        mount -t proc proc "$root/proc"
        mkdir -p "$root$at"
        mount --bind "$src" "$root$at"
        mount -o remount,bind,ro "$root$at"
        exec chroot "$root" /usr/bin/env -i HOME=/root LC_ALL=C ${QEMU_CPU:+QEMU_CPU=$QEMU_CPU} \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
    ' run_in_root "$@"
}

host_arch=$(dpkg --print-architecture)
arch=$host_arch
cross=""
run_only=false
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) arch=${2:?--arch needs an architecture}; shift 2 ;;
        --run-only) run_only=true; shift ;;
        --cross) cross=${2:?--cross needs an architecture}; shift 2 ;;
        *) break ;;
    esac
done
root=${1:?usage: $0 [--arch ARCH] [--cross ARCH] ROOT_DIR SUITE}
suite=${2:?usage: $0 [--arch ARCH] [--cross ARCH] ROOT_DIR SUITE}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
marker="$root/.hwid-root-complete"
if [ "$arch" = "$host_arch" ] && ! $run_only; then
    packages="g++,cmake,make,pkgconf,libpystring-dev,libgtest-dev,python3,iproute2,mount,util-linux,dpkg-dev,file"
    # debootstrap resolves no alternatives: npm's dependencies come through apt-get.
    apt_packages="nodejs npm"
else
    packages="python3,python3-venv,iproute2,mount,util-linux,gcc,libc6-dev,make,cmake,pkgconf"
    apt_packages="nodejs npm default-jdk-headless libjna-java mono-mcs mono-runtime"
fi
if [ -n "$cross" ]; then
    triplet=$(dpkg-architecture -a "$cross" -qDEB_HOST_GNU_TYPE 2>/dev/null)
    apt_packages="$apt_packages g++-$triplet libpystring-dev:$cross"
fi
wanted="$suite $arch $packages $apt_packages"

cpu=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)
# The kernel hands every program of the root's architecture to qemu, as
# Debian's qemu-user-static describes it (its wrapper keeps argv[0], which
# the system tests vary). The F flag opens the emulator now, from the host,
# so it works inside the chroot.
emulate() {  # qemu's name of the CPU
    # qemu's default CPU has every feature, pointer authentication among
    # them, which it emulates at great cost: Debian 13's arm64 programs,
    # built with branch protection, ran ten times slower (a venv: 106 s,
    # against 12 s). A Cortex-A72 is ARMv8.0, the oldest that Debian's arm64
    # runs on: there those instructions are hints, and a program that needs
    # a newer CPU fails as it would on such a machine.
    [ "$1" != aarch64 ] || export QEMU_CPU=cortex-a72
    format="/usr/share/binfmts/qemu-$1"
    [ -f "$format" ] || { echo "$format is missing (qemu-user-static)" >&2; return 1; }
    if [ -f "$binfmt/qemu-$1" ]; then
        grep -q '^flags:.*F' "$binfmt/qemu-$1" && return 0
        # Registered by someone else without F: the emulator it names has
        # to be inside the root, at the same path.
        interpreter=$(sed -n 's/^interpreter //p' "$binfmt/qemu-$1")
        mkdir -p "$root$(dirname "$interpreter")"
        cp "$interpreter" "$root$interpreter"
        return 0
    fi
    field() { sed -n "s/^$1 //p" "$format"; }
    flags=F
    [ "$(field preserve)" != yes ] || flags="P$flags"
    [ "$(field credentials)" != yes ] || flags="C$flags"
    binfmt_register "qemu-$1" ":M:$(field offset):$(field magic):$(field mask):$(field interpreter):$flags"
}

if [ "${1:-}" = run ]; then
    shift
    at=/src
    if [ "${1:-}" = --src-at ]; then at=${2:?--src-at needs a path}; shift 2; fi
    [ $# -ge 3 ] ||
        { echo "usage: $0 run [--src-at PATH] ROOT_DIR SOURCE_DIR COMMAND..." >&2; exit 2; }
    root=$1 src=$2
    shift 2
    # A root being made (--cross adds its packages through here) is the host's.
    root_arch=$(cut -d' ' -f2 "$root/.hwid-root-complete" 2>/dev/null || echo "$host_arch")
    [ "$root_arch" = "$host_arch" ] || emulate "$(dpkg-architecture -a "$root_arch" -qDEB_HOST_GNU_CPU 2>/dev/null)"
    run_in_root "$root" "$src" "$at" "$@"
    exit
fi

if [ -f "$marker" ] && [ "$(cat "$marker")" = "$wanted" ]; then
    echo "reusing the $suite $arch root in $root"
    exit 0
fi

mirror_of_host() {
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            /^$/ { if (uri != "" && suites !~ /-security/) { print uri; exit } uri = ""; suites = "" }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { suites = $0 }
            END { if (uri != "" && suites !~ /-security/) print uri }
        ' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" && $0 !~ /-security/ {
                 for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) { print $i; exit }
             }' "$f"
    done
}
mirror=$(mirror_of_host | grep -m 1 . || true)
[ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt configuration" >&2; exit 1; }

# Refuse early, with a clear message, when the release's Release file is
# not signed by a key of the host's keyring (debootstrap would only say
# that it cannot check it).
check_dir=$(mktemp -d)
at_exit 'rm -rf "$check_dir"'
if command -v apt-helper >/dev/null 2>&1 || [ -x /usr/lib/apt/apt-helper ]; then
    helper=$(command -v apt-helper || echo /usr/lib/apt/apt-helper)
    timeout 120 "$helper" -qq -o APT::Sandbox::User=root download-file "$mirror/dists/$suite/InRelease" \
        "$check_dir/InRelease" >/dev/null
    gpgv --keyring "$keyring" "$check_dir/InRelease" >/dev/null 2>&1 || {
        echo "$suite is not signed by a key in $keyring; update debian-archive-keyring" >&2
        exit 1
    }
    echo "$suite is signed by a key in $keyring"
fi

# A root left half-made by an interrupted debootstrap may still have its
# /proc or /sys mounted: never remove anything through a mount point.
mkdir -p "$root"
root=$(cd "$root" && pwd -P)
findmnt -rn -o TARGET | grep "^$root/" | sort -r | while read -r mounted; do
    umount -l "$mounted"
done
if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "something is still mounted below $root; not removing it" >&2
    exit 1
fi
rm -rf --one-file-system "$root"
mkdir -p "$root"

bootstrap() {
    if [ "$arch" = "$host_arch" ]; then
        timeout 900 unshare -m --propagation private debootstrap --variant=minbase \
            --keyring="$keyring" --include="$packages" "$suite" "$root" "$mirror"
    else
        timeout 900 debootstrap --foreign --arch="$arch" --variant=minbase --keyring="$keyring" \
            --include="$packages" "$suite" "$root" "$mirror" &&
            DEBOOTSTRAP_DIR="$root/debootstrap" timeout 1800 unshare -m --propagation private \
                "$root/debootstrap/debootstrap" --second-stage --second-stage-target "$root"
    fi
}

# What debootstrap cannot resolve, and another architecture's packages.
add_packages() {
    # shellcheck disable=SC2016
    timeout 2400 "$0" run --src-at /mnt "$root" "$root" sh -eu -c '
        [ -z "$1" ] || dpkg --add-architecture "$1"
        shift
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q
        apt-get install -y -q --no-install-recommends "$@"
    ' add_packages "$cross" $apt_packages
}

echo "creating the $suite $arch root in $root from $mirror"
# Its packages' scripts run in the root during the second stage.
[ "$arch" = "$host_arch" ] || emulate "$cpu"
{ bootstrap && add_packages; } >"$root.log" 2>&1 || {
    echo "making the root failed; the last lines of $root.log:" >&2
    tail -n 20 "$root.log" >&2
    exit 1
}
# Nothing in the root needs the cached .debs again.
rm -f "$root"/var/cache/apt/archives/*.deb
echo "$wanted" > "$marker"
