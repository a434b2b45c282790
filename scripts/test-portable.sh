#!/bin/sh
# hwidtool for any Linux, as the release ships it: the three portable
# tarballs, the two .rpm packages that wrap their program, and libhwid's two
# tarballs.
#
# Each tarball is unpacked and its program runs the fabricated machines of
# tests/system/machines.py (the ARM ones under qemu-user-static); the x86_64
# one also in a root that holds no C library: only the binary, sysfs, and
# busybox's static shell as /bin/sh for the ifconfig fallback. Each .rpm is
# installed into an empty root, verified, run on the fabricated machines
# (aarch64 under qemu) and erased without a trace. Against each libhwid
# tarball, unpacked, the listing program is built three ways (pkg-config,
# pkg-config --static, find_package) by the compiler of its architecture,
# and lists on the fabricated machines what that architecture's hwidtool
# tarball lists; against the x86_64 one the README's example is built as
# printed, and is licensed exactly on the machines that list its ID. One "proven FILE" line per shipped file.
#
# Usage: scripts/test-portable.sh [RELEASE_DIR]   (default build-release,
# made by scripts/release.sh). Needs root (namespaces, chroot); without it,
# it says so and exits 77. Installs what it needs. What it unpacks stays in
# build-portable/.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
release_at "${1:-build-release}"
work="$(pwd)/build-portable"
checks_start portable

if [ "$(id -u)" != 0 ]; then
    skip "not root: the portable programs' tests need root (network and mount namespaces, chroot)"
    finish
fi

install_missing() {
    timeout 1500 scripts/install-deps.sh test-portable
}

machines() {  # binary, machines.py options...
    binary=$1
    shift
    timeout 900 python3 tests/system/machines.py --binary "$binary" "$@"
}

unpack() {  # tarball
    rm -rf "$work/tarball" && mkdir -p "$work/tarball" &&
        tar -C "$work/tarball" -xzf "$1"
}

tarball() {  # arch, emulator or ""
    proof_begin
    file=$(shipped "hwidtool-*-linux-$1.tar.gz") || { record "tarball $1 in the release" 1; return; }
    name=$(basename "$file" .tar.gz)
    binary="$work/tarball/$name/hwidtool"
    check "$1 unpacked" unpack "$file" &&
        counted "$1 machines" machines "$binary" ${2:+--runner "$2"}
    # Only the machines run in the root: the commands read no hardware.
    bare=""
    if [ "$1" = x86_64 ]; then
        counted "x86_64 bare root" machines "$binary" --bare-root /bin/busybox
        bare=", and in a root without a C library"
    fi
    proven "$(basename "$file")" "unpacked, fabricated machines${2:+ under $2}$bare"
}

# The library as a vendor takes it: unpacked anywhere, linked from there.
# An aarch64 consumer is dynamically linked: qemu finds its loader and C
# library in the cross compiler's folder.
library() {  # arch, C compiler, emulator or ""
    proof_begin
    file=$(shipped "libhwid-*-linux-$1.tar.gz") || { record "libhwid $1 in the release" 1; return; }
    tool=$(shipped "hwidtool-*-linux-$1.tar.gz") || { record "tarball $1 in the release" 1; return; }
    name=$(basename "$file" .tar.gz)
    binary="$work/tarball/$(basename "$tool" .tar.gz)/hwidtool"
    built="$work/libhwid-$1-consumers"
    runner=${3:+$3 -L /usr/$(basename "$(command -v "$2")" -gcc)}
    # The README's example is built with cc, as printed: on this machine's architecture only.
    readme="" licence=""
    [ -n "$3" ] || readme=readme
    check "libhwid $1 unpacked" unpack "$file" && check "hwidtool $1 unpacked" tar -C "$work/tarball" -xzf "$tool" &&
        check "libhwid $1 consumers built" sh libhwid/tests/consumers.sh "$work/tarball/$name" \
            "$(pwd)" "$built" "$2" $readme &&
        { [ -z "$readme" ] || licence=$(cat "$built/readme/licensed-id") ||
            record "libhwid $1 README example's licensed ID" 1; } &&
        counted "libhwid $1 machines" machines "$binary" ${runner:+--runner "$runner"} \
            --consumer "$built/listing-shared" --consumer "$built/listing-static" \
            --consumer "$built/listing-cmake" ${licence:+--licence "$built/readme/run-licence" "$licence"}
    example=""
    [ -z "$readme" ] || example="; the README's example built as printed, licensed where the machine lists its ID"
    proven "$(basename "$file")" "unpacked, listing linked three ways by $2, its output hwidtool's on the fabricated machines${3:+ under $3}$example"
}

# The .rpm as a user installs it, into an empty root: it verifies, runs,
# and erases without a trace. Its program is the tarball's (check-shipped
# compares the bytes), for an architecture that may not be this machine's.
rpm_in_root() { rpm --root "$rpm_root" --dbpath /var/lib/rpm "$@"; }
rpm_install() {  # package
    rm -rf "$rpm_root" && mkdir -p "$rpm_root" && rpm_in_root --initdb &&
        rpm_in_root -i --nodeps --ignorearch "$1"
}
rpm_verified() {
    verify=$(rpm_in_root -V hwidtool)
    status=$?
    [ $status = 0 ] && [ -z "$verify" ] || { echo "rpm -V (status $status): $verify"; return 1; }
}
rpm_erased() {
    rpm_in_root -e hwidtool || return 1
    left=$(cd "$rpm_root" && find . ! -type d ! -path './var/lib/rpm/*')
    [ -z "$left" ] || { echo "left behind after rpm -e: $left"; return 1; }
}

rpm_package() {  # arch, emulator or ""
    proof_begin
    file=$(shipped "hwidtool-*-1.$1.rpm") || { record "rpm $1 in the release" 1; return; }
    rpm_root="$work/rpm-root-$1"
    check "$1 rpm installed" rpm_install "$file" &&
        check "$1 rpm verified" rpm_verified &&
        counted "$1 rpm machines" machines "$rpm_root/usr/bin/hwidtool" ${2:+--runner "$2"} &&
        check "$1 rpm erased" rpm_erased
    proven "$(basename "$file")" "installed into an empty root, verified, fabricated machines${2:+ under $2}, erased"
}

check dependencies install_missing || finish
tarball x86_64 ""
tarball aarch64 qemu-aarch64-static
tarball armhf qemu-arm-static
rpm_package x86_64 ""
rpm_package aarch64 qemu-aarch64-static
library x86_64 gcc ""
library aarch64 aarch64-linux-gnu-gcc qemu-aarch64-static
finish
