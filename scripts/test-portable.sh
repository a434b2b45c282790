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
# shellcheck source=scripts/manifest.sh
. "$(dirname "$0")/manifest.sh"
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

# The emulator that runs the architecture's programs here, or nothing.
emulator() {  # architecture id
    qemu=$(arch_field "$1" qemu)
    [ "$qemu" = - ] || echo "$qemu"
}

prove_tarball() {  # file, architecture id
    proof_begin
    file=$(shipped "$1") || { record "$1 in the release" 1; return; }
    suffix=$(arch_field "$2" portable) runner=$(emulator "$2")
    binary="$work/tarball/$(basename "$1" .tar.gz)/hwidtool"
    check "$suffix unpacked" unpack "$file" &&
        counted "$suffix machines" machines "$binary" ${runner:+--runner "$runner"}
    # Only the machines run in the root: the commands read no hardware; and
    # only where the program runs without an emulator.
    bare=""
    if [ -z "$runner" ]; then
        counted "$suffix bare root" machines "$binary" --bare-root /bin/busybox
        bare=", and in a root without a C library"
    fi
    proven "$1" "unpacked, fabricated machines${runner:+ under $runner}$bare"
}

# The library as a vendor takes it: unpacked anywhere, linked from there.
# An aarch64 consumer is dynamically linked: qemu finds its loader and C
# library in the cross compiler's folder.
prove_library_tarball() {  # file, architecture id
    proof_begin
    suffix=$(arch_field "$2" portable) qemu=$(emulator "$2") triple=$(arch_field "$2" gnu)
    compiler=gcc
    [ -z "$qemu" ] || compiler="$triple-gcc"
    set -- "$1" "$suffix" "$compiler" "$qemu"
    file=$(shipped "$1") || { record "$1 in the release" 1; return; }
    tool=$(shipped "hwidtool-$version-linux-$2.tar.gz") || { record "tarball $2 in the release" 1; return; }
    name=$(basename "$file" .tar.gz)
    binary="$work/tarball/$(basename "$tool" .tar.gz)/hwidtool"
    built="$work/libhwid-$2-consumers"
    runner=${4:+$4 -L /usr/$triple}
    # The README's example is built with cc, as printed: on this machine's architecture only.
    readme="" licence=""
    [ -n "$4" ] || readme=readme
    check "libhwid $2 unpacked" unpack "$file" && check "hwidtool $2 unpacked" tar -C "$work/tarball" -xzf "$tool" &&
        check "libhwid $2 consumers built" sh libhwid/tests/consumers.sh "$work/tarball/$name" \
            "$(pwd)" "$built" "$3" $readme &&
        { [ -z "$readme" ] || licence=$(cat "$built/readme/licensed-id") ||
            record "libhwid $2 README example's licensed ID" 1; } &&
        counted "libhwid $2 machines" machines "$binary" ${runner:+--runner "$runner"} \
            --consumer "$built/listing-shared" --consumer "$built/listing-static" \
            --consumer "$built/listing-cmake" ${licence:+--licence "$built/readme/run-licence" "$licence"}
    example=""
    [ -z "$readme" ] || example="; the README's example built as printed, licensed where the machine lists its ID"
    proven "$1" "unpacked, listing linked three ways by $3, its output hwidtool's on the fabricated machines${4:+ under $4}$example"
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

prove_rpm() {  # file, architecture id
    proof_begin
    file=$(shipped "$1") || { record "$1 in the release" 1; return; }
    rpm_arch=$(arch_field "$2" rpm) runner=$(emulator "$2")
    rpm_root="$work/rpm-root-$rpm_arch"
    check "$rpm_arch rpm installed" rpm_install "$file" &&
        check "$rpm_arch rpm verified" rpm_verified &&
        counted "$rpm_arch rpm machines" machines "$rpm_root/usr/bin/hwidtool" ${runner:+--runner "$runner"} &&
        check "$rpm_arch rpm erased" rpm_erased
    proven "$1" "installed into an empty root, verified, fabricated machines${runner:+ under $runner}, erased"
}

check dependencies install_missing || finish
version=$(scripts/version.sh) || finish
# Every file the manifest gives this stage, by the prover of its kind.
files=$(shipped_files portable) || finish
while IFS="$(printf '\t')" read -r kind file arch _; do
    "prove_$kind" "$file" "$arch" </dev/null
done <<FILES
$files
FILES
finish
