#!/bin/sh
# hwidtool for any Linux: the three portable builds (presets portable-x86_64,
# portable-aarch64, portable-armhf), proven against the native build.
#
# Builds each preset and checks (scripts/check-shipped.py) that the binary is
# of its architecture, static (static-pie where offered), stripped and
# hardened; runs the fabricated machines of tests/system/machines.py against
# it (the ARM ones under qemu-user-static) and compares every output byte for
# byte with the native build's. Then runs the x86_64 binary in a root that
# holds no C library: only the binary, sysfs, and busybox's static shell as
# /bin/sh for the ifconfig fallback.
#
# Needs root (namespaces, chroot); without it, it says so and exits 77.
# Installs what it needs. Everything it makes stays in build-portable-*/.
# Ends with the line "N passed, M failed"; exit status 0 only when nothing
# failed.
. "$(dirname "$0")/guard.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
compare="$(pwd)/build-portable-compare"
native="build-portable-native"

if [ "$(id -u)" != 0 ]; then
    echo "SKIP [portable] not root: the portable builds' tests need root (network and mount namespaces, chroot)"
    exit 77
fi

. scripts/checks.sh

install_missing() {
    timeout 1500 scripts/install-deps.sh build portable python3 iproute2 util-linux
}

native_build() {
    cmake -S . -B "$native" -DHWID_WERROR=ON -DBUILD_TESTING=OFF >/dev/null &&
        timeout 600 cmake --build "$native" -j"$(nproc)" --target hwidtool >/dev/null
}

# System tests of one binary, outputs kept in $compare/NAME.
outputs() {  # name, binary, machines.py options...
    folder=$1 binary=$2
    shift 2
    rm -rf "${compare:?}/$folder" && mkdir -p "$compare/$folder" &&
        timeout 900 python3 tests/system/machines.py --binary "$binary" --save "$compare/$folder" "$@"
}

native_outputs() {
    outputs native "$native/linux/cli/hwidtool" &&
        scripts/distro-commands.sh "$native/linux/cli/hwidtool" >"$compare/native/commands.out"
}

# Static glibc warns at link time about every function that would still load
# a shared library (NSS, iconv) at run time: the program may use none.
portable_build() {  # arch
    log="build-portable-$1/build.log"
    timeout 300 cmake --preset "portable-$1" >/dev/null &&
        timeout 900 cmake --build --preset "portable-$1" -j"$(nproc)" >"$log" 2>&1 ||
        { tail -n 30 "$log"; return 1; }
    ! grep -i 'statically linked applications requires' "$log"
}

# Static (static-pie where offered), stripped and hardened; qemu proves the
# architecture by running it.
proven() {  # arch, emulator or ""
    binary="build-portable-$1/linux/cli/hwidtool"
    scripts/check-shipped.py --objects "$1=build-portable-$1" "$binary" || return 1
    outputs "$1" "$binary" ${2:+--runner "$2"} &&
        HWIDTOOL_RUNNER=$2 scripts/distro-commands.sh "$binary" >"$compare/$1/commands.out" &&
        python3 tests/system/same_outputs.py "$compare/native" "$compare/$1" \
            commands.out workstation.out
}

# Only the machines run in the root: the commands read no hardware.
bare_root() {
    outputs bare "build-portable-x86_64/linux/cli/hwidtool" --bare-root /bin/busybox &&
        python3 tests/system/same_outputs.py --ignore commands.out \
            "$compare/native" "$compare/bare" workstation.out
}

check dependencies install_missing || finish
check native-build native_build || finish
check native-outputs native_outputs || finish
for target in x86_64: aarch64:qemu-aarch64-static armhf:qemu-arm-static; do
    arch=${target%%:*}
    if check "build-$arch" portable_build "$arch"; then
        check "machines-$arch" proven "$arch" "${target#*:}"
    fi
done
check bare-root bare_root
finish
