#!/bin/sh
# One behaviour on two distributions, and the packages.
#
# Builds hwidtool on this machine and, from the same sources, in a Debian 13
# (trixie) root made with debootstrap; runs the fabricated-machine system
# tests against each distribution's binary (the root's binary inside the
# root) and compares the outputs byte for byte; builds the .deb in the root
# and installs, runs and removes it there with apt-get; checks the manual
# page with man --warnings, the `cmake --install` tree, the host's .deb and
# the Windows archive.
#
# Needs root (debootstrap, chroot, namespaces); without it, it says so and
# exits with 77. Installs what it needs with apt-get. Everything it makes
# stays in build-pkg/ and build-trixie/ (the root is reused when a finished
# one is there). Ends with the line "N passed, M failed"; the exit status is
# 0 only when nothing failed.
#
# Environment: HWIDWIN_32, HWIDWIN_64 name the two hwidwin.exe builds for the
# Windows archive (default: build-win32/ and build-win64/ if they hold one,
# else stand-in files, which test the archive but are no release).
. "$(dirname "$0")/guard.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
src=$(pwd)
suite=trixie
root="$src/build-$suite/root"
host_build="$src/build-pkg/host"
compare="$src/build-pkg/compare"
jobs=$(nproc)
arch=$(dpkg --print-architecture)

if [ "$(id -u)" != 0 ]; then
    echo "SKIP [distros] not root: the distribution tests need root (debootstrap, chroot, mount and network namespaces)"
    exit 77
fi

. scripts/checks.sh

# ------------------------------------------------------------------ host --

install_missing() {
    timeout 900 scripts/install-deps.sh build debootstrap debian-archive-keyring man-db \
        groff-base dpkg-dev file gzip python3 iproute2 util-linux mount
}

host_build() {
    cmake -S . -B "$host_build" -DHWID_WERROR=ON -DBUILD_TESTING=OFF >/dev/null &&
        timeout 600 cmake --build "$host_build" -j"$jobs" >/dev/null &&
        (cd "$host_build" && rm -rf packages && timeout 300 cpack >/dev/null)
}

host_system_tests() {
    rm -rf "$compare/host" && mkdir -p "$compare/host" &&
        timeout 300 python3 tests/system/machines.py \
            --binary "$host_build/linux/cli/hwidtool" --save "$compare/host" &&
        scripts/distro-commands.sh "$host_build/linux/cli/hwidtool" > "$compare/host/commands.out"
}

# The page as written and as installed (version filled in), on a terminal
# of the usual width: troff's warnings (bad requests, lines that cannot be
# broken or adjusted) go to standard error.
manual_page() {
    ok=0
    for page in packaging/hwidtool.1 "$host_build/packaging/hwidtool.1"; do
        case "$page" in /*) ;; *) page="./$page" ;; esac
        warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 timeout 60 man --warnings "$page" 2>&1 >/dev/null)
        status=$?
        if [ "$status" != 0 ] || [ -n "$warnings" ]; then
            echo "man --warnings $page: status $status"
            echo "$warnings"
            ok=1
        fi
    done
    return $ok
}

install_tree() {
    stage="$src/build-pkg/install-tree"
    rm -rf "$stage"
    DESTDIR="$stage" timeout 120 cmake --install "$host_build" --prefix /usr/local >/dev/null || return 1
    expected="/usr/local/bin/hwidtool
/usr/local/share/doc/hwidtool/LICENSE
/usr/local/share/doc/hwidtool/README.md
/usr/local/share/man/man1/hwidtool.1.gz"
    actual=$(cd "$stage" && find . -type f | sed 's/^\.//' | LC_ALL=C sort)
    [ "$expected" = "$actual" ] || {
        printf 'installed files differ\n--- expected\n%s\n--- actual\n%s\n' "$expected" "$actual"
        return 1
    }
    zcat "$stage/usr/local/share/man/man1/hwidtool.1.gz" | grep -q '^\.TH HWIDTOOL 1 .*hwidtool [0-9]' || {
        echo "installed manual page has no version in its title line"; return 1; }
}


host_deb() {
    deb=$(ls "$host_build"/packages/hwidtool_*_"$arch".deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "no .deb in $host_build/packages"; return 1; }
    case "$deb" in *"~deb$(sed -n 's/^VERSION_ID="\{0,1\}\([0-9]*\).*/\1/p' /etc/os-release)_$arch.deb") ;;
        *) echo "$deb does not name this machine's Debian release"; return 1 ;; esac
    scripts/check-shipped.py --contents-only "$deb"
}

windows_archive() {
    exe32=${HWIDWIN_32:-$src/build-win32/windows/hwidwin.exe}
    exe64=${HWIDWIN_64:-$src/build-win64/windows/hwidwin.exe}
    if [ ! -f "$exe32" ] || [ ! -f "$exe64" ]; then
        echo "no hwidwin.exe builds (HWIDWIN_32, HWIDWIN_64): the archive is tested with stand-ins"
        mkdir -p "$src/build-pkg/windows-stand-in"
        exe32="$src/build-pkg/windows-stand-in/hwidwin32.exe"
        exe64="$src/build-pkg/windows-stand-in/hwidwin64.exe"
        printf 'MZ stand-in for the i686 build' > "$exe32"
        printf 'MZ stand-in for the x86_64 build' > "$exe64"
    fi
    out="$src/build-pkg/windows"
    rm -rf "$out"
    cmake -S packaging/windows -B "$out" -DHWIDWIN_32="$exe32" -DHWIDWIN_64="$exe64" >/dev/null &&
        timeout 120 cmake --build "$out" --target package >/dev/null || return 1
    zip=$(ls "$out"/hwidwin-*-windows.zip 2>/dev/null | head -n 1)
    [ -n "$zip" ] || { echo "no archive in $out"; return 1; }
    scripts/check-shipped.py --contents-only --hwidwin-32 "$exe32" --hwidwin-64 "$exe64" "$zip"
}

# ------------------------------------------------------------------ root --

make_root() {
    # With the arm64 cross compiler: scripts/release.sh builds its packages
    # for both architectures in this same root.
    timeout 1800 scripts/distro-root.sh --cross arm64 "$root" "$suite"
}

# Runs "$@" inside the root (scripts/distro-root.sh run: a mount namespace
# of its own, the sources read-only at /src).
in_root() {
    in_root_of "$root" "$@"
}
in_root_of() {  # root, command...
    target=$1
    shift
    timeout 1200 scripts/distro-root.sh run "$target" "$src" "$@"
}

root_build() {
    in_root sh -eu -c '
        echo "$(g++ --version | head -n 1); $(cmake --version | head -n 1)"
        cmake -S /src -B /build -DHWID_WERROR=ON >/dev/null
        cmake --build /build -j"$1" >/dev/null
        cd /build
        CTEST_OUTPUT_ON_FAILURE=1 ctest -j"$1" >ctest.log 2>&1 || { cat ctest.log; exit 1; }
        tail -n 3 ctest.log
        rm -rf packages
        cpack >/dev/null
    ' root_build "$jobs"
}

# The build from source as a user runs it, with the README's command, in a
# folder of its own and staged into a DESTDIR. Tests are off, so neither
# GoogleTest nor Python (both in the root for root_build) may be looked for:
# what it needs is what a bare Debian gets with cmake, g++, make and
# libpystring-dev.
root_from_source() {
    in_root sh -eu -c '
        rm -rf /from-source && mkdir /from-source && cd /from-source
        cmake -S /src -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF --no-warn-unused-cli \
            -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON >/dev/null
        cmake --build build -j"$1" >/dev/null
        DESTDIR=/from-source/stage cmake --install build >/dev/null
        prefix=/from-source/stage/usr/local
        out=$("$prefix/bin/hwidtool" --generate abc)
        [ "$out" = "
abc: 900150983CD24FB0D6963F7D28E17F72" ] || { echo "installed hwidtool --generate abc printed: $out"; exit 1; }
        page=$(ls "$prefix"/share/man/man1/hwidtool.1*)
        zcat -f "$page" | grep -q "^\.TH HWIDTOOL 1 \"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\" \"hwidtool [0-9]" ||
            { echo "$page has no dated, versioned title line"; exit 1; }
        echo "built, installed and ran from source: $(cd /from-source/stage && find . -type f | sort | tr "\n" " ")"
    ' root_from_source "$jobs"
}

root_system_tests() {
    in_root sh -eu -c '
        rm -rf /build/compare && mkdir -p /build/compare
        python3 /src/tests/system/machines.py --binary /build/linux/cli/hwidtool --save /build/compare
        /src/scripts/distro-commands.sh /build/linux/cli/hwidtool > /build/compare/commands.out
    '
}

# The outputs of two builds, file by file (tests/system/same_outputs.py).
same_outputs() {  # folder, folder
    python3 tests/system/same_outputs.py "$1" "$2" commands.out workstation.out
}

compare_outputs() {
    same_outputs "$compare/host" "$root/build/compare"
}

# apt-get installs the root's own package (resolving its dependencies from
# the root's package lists), the program runs from the PATH, and a purge
# leaves none of its files behind.
deb_round_trip() {  # root, package
    target=$1 deb=$2
    scripts/check-shipped.py --contents-only "$deb" || return 1
    rm -rf "$target/tmp/round-trip" && mkdir -p "$target/tmp/round-trip" &&
        cp "$deb" "$target/tmp/round-trip/" || return 1
    in_root_of "$target" sh -eu -c '
        deb=$1
        cd /tmp/round-trip
        export DEBIAN_FRONTEND=noninteractive
        apt-get install -y -q "./$deb" >apt-install.log 2>&1 || { cat apt-install.log; exit 1; }
        files=$(dpkg -L hwidtool | while read -r f; do [ -f "$f" ] && echo "$f"; done)
        [ "$(command -v hwidtool)" = /usr/bin/hwidtool ] || { echo "hwidtool is not on the PATH"; exit 1; }
        out=$(cd / && hwidtool --generate abc)
        [ "$out" = "
abc: 900150983CD24FB0D6963F7D28E17F72" ] || { echo "hwidtool --generate abc printed: $out"; exit 1; }
        # The root has no sysfs here, so the listing falls back to a command
        # that is not there either: an empty table, but a table, and not a
        # word on standard error.
        hwidtool >listing.out 2>listing.err || { echo "the listing ended with status $?"; exit 1; }
        head -n 2 listing.out | grep -qx "Available unique ids:" || { echo "no listing"; exit 1; }
        [ ! -s listing.err ] || { echo "the listing wrote to standard error:"; cat listing.err; exit 1; }
        mkdir compare
        python3 /src/tests/system/machines.py --binary /usr/bin/hwidtool --save compare
        /src/scripts/distro-commands.sh /usr/bin/hwidtool > compare/commands.out
        apt-get purge -y -q hwidtool >apt-purge.log 2>&1 || { cat apt-purge.log; exit 1; }
        status=$(dpkg-query -W -f="\${db:Status-Status}" hwidtool 2>/dev/null || true)
        [ -z "$status" ] || [ "$status" = not-installed ] || { echo "still $status"; exit 1; }
        for f in $files; do [ ! -e "$f" ] || { echo "left behind: $f"; exit 1; }; done
        # A new shell: this one remembers where it found the program.
        ! sh -c "command -v hwidtool" >/dev/null || { echo "hwidtool still on the PATH"; exit 1; }
        echo "installed, ran and purged $deb in $(cat /etc/debian_version) ($(echo $files | wc -w) files)"
    ' deb_round_trip "$(basename "$deb")" &&
        same_outputs "$compare/host" "$target/tmp/round-trip/compare"
}

root_deb_round_trip() {
    deb=$(ls "$root"/build/packages/hwidtool_*~deb13_"$arch".deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "no ~deb13 package in $root/build/packages"; return 1; }
    deb_round_trip "$root" "$deb"
}

# This machine's own package in a clean root of its own release.
bookworm_root="$src/build-bookworm/root"
make_bookworm_root() {
    timeout 1800 scripts/distro-root.sh --run-only "$bookworm_root" bookworm
}

host_deb_round_trip() {
    deb=$(ls "$host_build"/packages/hwidtool_*~deb12_"$arch".deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { echo "no ~deb12 package in $host_build/packages"; return 1; }
    deb_round_trip "$bookworm_root" "$deb"
}

# ------------------------------------------------------------------ main --

check dependencies install_missing || finish
check host-build host_build
check host-system-tests host_system_tests
check manual-page manual_page
check install-tree install_tree
check host-deb host_deb
check windows-archive windows_archive
if check "$suite-root" make_root; then
    check "$suite-build" root_build
    check "$suite-from-source" root_from_source
    check "$suite-system-tests" root_system_tests
    check "$suite-same-output" compare_outputs
    check "$suite-deb" root_deb_round_trip
fi
if check bookworm-root make_bookworm_root; then
    check bookworm-deb host_deb_round_trip
fi
finish
