#!/bin/sh
# hwidtool, libhwid and its bindings on the Debian releases they ship for,
# as they ship. Every .deb is installed with apt-get into a clean root of
# its distribution and architecture (Debian 12 and 13; amd64 natively,
# arm64 under qemu-user-static); the listing program is built there against
# the library three ways (pkg-config, pkg-config --static, find_package) and
# the fabricated machines run hwidtool and the three; the README's example,
# built as printed, must be licensed exactly where a machine lists its ID;
# the purge leaves nothing. The bindings' packages go the same way through
# their own tools. One "proven FILE" line a file. The manual pages are
# checked as written and as shipped (man --warnings); in a Debian 13 root
# the unit tests and the README's build from source run.
#
# Usage: scripts/test-distros.sh [RELEASE_DIR]   (default build-release, made
# by scripts/release.sh). --make-roots only makes the clean roots (for
# scripts/test-all.sh, while other stages run). Needs root (debootstrap,
# chroot, namespaces); without it, it says so and exits with 77. Installs
# what it needs. The roots stay in build-trixie/ and build-bookworm/.
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/checks.sh
. "$(dirname "$0")/checks.sh"
# shellcheck source=scripts/manifest.sh
. "$(dirname "$0")/manifest.sh"
set -u
cd "$(dirname "$0")/.." || exit 1
src=$(pwd)
make_roots_only=false
[ "${1:-}" != --make-roots ] || { make_roots_only=true; shift; }
release_at "${1:-build-release}"
jobs=$(nproc)
build_root="$src/build-trixie/root"
checks_start distros

if [ "$(id -u)" != 0 ]; then
    skip "not root: the distribution tests need root (debootstrap, chroot, mount and network namespaces)"
    finish
fi

# Runs "$@" inside a root (scripts/distro-root.sh run: a mount namespace of
# its own, the sources read-only at /src).
in_root() {  # root, command...
    target=$1 && shift
    timeout 2400 scripts/distro-root.sh run "$target" "$src" "$@"
}

# The pages as written and as the amd64 packages install them, on a
# terminal of the usual width: troff's warnings (bad requests, lines that
# cannot be broken or adjusted) go to standard error.
manual_page() {
    unpacked="$src/build-pkg/manual-page"
    rm -rf "$unpacked" && mkdir -p "$unpacked" || return 1
    for name in hwidtool libhwid-dev; do
        deb=$(shipped "${name}_*~deb12_amd64.deb") && dpkg-deb -x "$deb" "$unpacked" || return 1
    done
    ok=0
    for page in "$src/packaging/hwidtool.1" "$unpacked/usr/share/man/man1/hwidtool.1.gz" \
        "$src/libhwid/hwid.3" "$unpacked/usr/share/man/man3/hwid.3.gz"; do
        warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 timeout 60 man --warnings "$page" 2>&1 >/dev/null)
        status=$?
        if [ "$status" != 0 ] || [ -n "$warnings" ]; then
            echo "man --warnings $page: status $status"
            echo "$warnings"
            ok=1
        fi
    done
    zcat "$unpacked/usr/share/man/man1/hwidtool.1.gz" | grep -q '^\.TH HWIDTOOL 1 .*hwidtool [0-9]' ||
        { echo "the shipped manual page has no version in its title line"; ok=1; }
    zcat "$unpacked/usr/share/man/man3/hwid.3.gz" | grep -q '^\.TH HWID 3 .*hwid [0-9]' ||
        { echo "the shipped hwid(3) has no version in its title line"; ok=1; }
    return $ok
}

# ------------------------------------------------------ Debian 13 builds --

make_build_root() {
    # With the arm64 cross compiler: scripts/release.sh builds its packages
    # for both architectures in this same root.
    timeout 1800 scripts/distro-root.sh --cross arm64 "$build_root" trixie
}

# The unit tests (and the fabricated machines, through ctest) with Debian
# 13's compiler and libraries.
unit_tests() {
    in_root "$build_root" sh -eu -c '
        echo "$(g++ --version | head -n 1); $(cmake --version | head -n 1)"
        rm -rf /build
        cmake -S /src -B /build -DHWID_WERROR=ON >/dev/null
        cmake --build /build -j"$1" >/dev/null
        cd /build
        CTEST_OUTPUT_ON_FAILURE=1 ctest -j"$1" >ctest.log 2>&1 || { cat ctest.log; exit 1; }
        tail -n 3 ctest.log
    ' unit_tests "$jobs"
}

# The build from source as a user runs it (the README's command), staged into
# a DESTDIR. With tests off neither GoogleTest nor Python (in the root for the
# unit tests) may be looked for: a bare Debian's cmake, g++, make and
# libpystring-dev are all it needs.
from_source() {
    in_root "$build_root" sh -eu -c '
        rm -rf /from-source && mkdir /from-source && cd /from-source
        cmake -S /src -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF --no-warn-unused-cli \
            -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON >/dev/null
        cmake --build build -j"$1" >/dev/null
        DESTDIR=/from-source/stage cmake --install build >/dev/null
        installed=$(cd /from-source/stage && find . -type f | sed "s/^\.//" | LC_ALL=C sort)
        expected="/usr/local/bin/hwidtool
/usr/local/share/doc/hwidtool/LICENSE
/usr/local/share/doc/hwidtool/README.md
/usr/local/share/man/man1/hwidtool.1.gz"
        [ "$installed" = "$expected" ] ||
            { printf "installed files differ\n--- expected\n%s\n--- actual\n%s\n" "$expected" "$installed"; exit 1; }
        prefix=/from-source/stage/usr/local
        out=$("$prefix/bin/hwidtool" --generate abc)
        [ "$out" = "
abc: 900150983CD24FB0D6963F7D28E17F72" ] || { echo "installed hwidtool --generate abc printed: $out"; exit 1; }
        zcat "$prefix/share/man/man1/hwidtool.1.gz" |
            grep -q "^\.TH HWIDTOOL 1 \"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\" \"hwidtool [0-9]" ||
            { echo "the installed manual page has no dated, versioned title line"; exit 1; }
        echo "built, installed and ran from source: $(echo $installed)"
    ' from_source "$jobs"
}

# ------------------------------------------------------------ packages --

# A clean root of the package's release and architecture, with only what
# installing a package and the fabricated machines need.
make_run_root() {  # suite, Debian architecture
    run_root="$src/build-$1/root-run-$2"
    [ "$2" = "$(dpkg --print-architecture)" ] && how=--run-only || how="--arch $2"
    # shellcheck disable=SC2086 # the option and its argument
    timeout 2400 scripts/distro-root.sh $how "$run_root" "$1"
}

# apt-get installs the packages (resolving their dependencies from the
# root's package lists); the listing program is built against the library
# as a user builds one; hwidtool runs from the PATH on the fabricated
# machines, the three listings beside it; a purge leaves none of their
# files behind, nor what was installed for them.
round_trip() {  # root, package files...
    target=$1 && shift
    rm -rf "$target/tmp/round-trip" && mkdir -p "$target/tmp/round-trip" && cp "$@" "$target/tmp/round-trip/" || return 1
    in_root "$target" sh -eu -c '
        cd /tmp/round-trip
        export DEBIAN_FRONTEND=noninteractive
        packages="hwidtool libhwid1 libhwid-dev"
        # A run that failed half-way left its packages behind: apt-get would
        # take the same version for installed and keep the old files.
        trap "dpkg --purge $packages >/dev/null 2>&1" EXIT
        dpkg --purge $packages >/dev/null 2>&1
        apt-get install -y -q ./*.deb >apt-install.log 2>&1 || { cat apt-install.log; exit 1; }
        files=$(dpkg -L $packages | while read -r f; do [ -f "$f" ] && echo "$f"; done)
        [ "$(command -v hwidtool)" = /usr/bin/hwidtool ] || { echo "hwidtool is not on the PATH"; exit 1; }
        # The root has cc for its own architecture: the example of the README, as printed.
        sh /src/libhwid/tests/consumers.sh /usr /src /tmp/round-trip/consumers cc readme
        built=/tmp/round-trip/consumers
        python3 /src/tests/system/machines.py --binary /usr/bin/hwidtool --consumer "$built/listing-shared" \
            --consumer "$built/listing-static" --consumer "$built/listing-cmake" \
            --licence "$built/readme/run-licence" "$(cat "$built/readme/licensed-id")"
        apt-get purge --autoremove -y -q $packages >apt-purge.log 2>&1 || { cat apt-purge.log; exit 1; }
        for package in $packages; do
            status=$(dpkg-query -W -f="\${db:Status-Status}" "$package" 2>/dev/null || true)
            [ -z "$status" ] || [ "$status" = not-installed ] || { echo "$package still $status"; exit 1; }
        done
        for f in $files; do [ ! -e "$f" ] || { echo "left behind: $f"; exit 1; }; done
        # A new shell: this one remembers where it found the program.
        ! sh -c "command -v hwidtool" >/dev/null || { echo "hwidtool still on the PATH"; exit 1; }
        ! pkg-config --exists hwid || { echo "pkg-config still finds hwid"; exit 1; }
        echo "installed, built against, ran and purged $(ls ./*.deb | xargs) in Debian" \
            "$(cat /etc/debian_version) on $(dpkg --print-architecture) ($(echo $files | wc -w) files)"
    ' round_trip
}

# The packages the manifest gives one Debian release and architecture,
# installed, used and purged together; a "proven" line each.
prove_debs() {  # suite, architecture id, files...
    suite=$1 arch=$(arch_field "$2" debian)
    shift 2
    proof_begin
    debs=""
    for name in "$@"; do
        deb=$(shipped "$name") || { record "$name in the release" 1; return; }
        debs="$debs $deb"
    done
    emulated=""
    [ "$arch" = "$(dpkg --print-architecture)" ] || emulated=" under qemu"
    # shellcheck disable=SC2086
    check "$suite $arch root" make_run_root "$suite" "$arch" &&
        check "$suite $arch packages" round_trip "$run_root" $debs
    number=${1#*~deb}
    installed="installed with apt-get in a clean Debian ${number%%_*} $arch root"
    built="the listing program (pkg-config, --static, find_package) and the README's example built there against it"
    for deb in $debs; do
        what="$built, the rows hwidtool's and the licence accepted where listed on the fabricated machines$emulated"
        case $deb in */hwidtool_*) what="fabricated machines$emulated" ;; esac
        proven "$(basename "$deb")" "$installed, $what, purged"
    done
}

# suite:architecture id of each Debian release and architecture that ships.
debian_runs() {
    shipped_files deb | awk -F '\t' '!seen[$4 ":" $3]++ { sub(/^debs_/, "", $4); print $4 ":" $3 }'
}

# A wheel as a user installs it, with pip into a venv of a clean root of each
# Debian release for its architecture (libhwid/python/tests/wheel-round-trip.sh).
prove_wheel() {  # file, architecture id
    proof_begin
    wheel=$(shipped "$1") && tool=$(shipped "hwidtool-$version-linux-$(arch_field "$2" portable).tar.gz") &&
        foreign=$(shipped "$(shipped_files wheel | awk -F '\t' -v arch="$2" '$3 != arch && $5 == "distros" { print $2; exit }')") ||
        { record "$1, the portable hwidtool and another architecture's wheel in the release" 1; return; }
    arch=$(arch_field "$2" debian) emulated=""
    [ "$arch" = "$(dpkg --print-architecture)" ] || emulated=" (qemu)"
    for run in $(debian_runs | grep ":$2\$"); do
        check "${run%:*} $arch root" make_run_root "${run%:*}" "$arch" &&
            check "${run%:*} $arch wheel" round_trip_in "$run_root" "$wheel" "$tool" wheel python "$foreign"
    done
    proven "$1" "installed with pip into a venv in clean Debian 12 and 13 $arch roots, the listing\
 (beside planted libraries) and the guide's example on the fabricated machines$emulated, uninstalled"
}

# A binding's package as a user installs it, in a clean root of each Debian
# release and architecture: libhwid/BINDING/tests/KIND-round-trip.sh.
prove_in_roots() {  # file, kind, binding, what was proven
    proof_begin
    package=$(shipped "$1") || { record "$1 in the release" 1; return; }
    for run in $(debian_runs); do
        arch=$(arch_field "${run#*:}" debian)
        tool=$(shipped "hwidtool-$version-linux-$(arch_field "${run#*:}" portable).tar.gz") &&
            check "${run%:*} $arch root" make_run_root "${run%:*}" "$arch" &&
            check "${run%:*} $arch $2" round_trip_in "$run_root" "$package" "$tool" "$2" "$3"
    done
    proven "$1" "$4"
}

round_trip_in() {  # root, package, hwidtool tarball, kind, binding[, another architecture's package]
    rm -rf "$1/tmp/$4" && mkdir -p "$1/tmp/$4/foreign" && cp "$2" "$1/tmp/$4/" &&
        { [ -z "${6:-}" ] || cp "$6" "$1/tmp/$4/foreign/"; } && tar -C "$1/tmp/$4" -xzf "$3" --strip-components=1 &&
        in_root "$1" sh -c "cd /tmp/$4 && sh /src/libhwid/$5/tests/$4-round-trip.sh /src"
}

# npm installs it with no network; Debian's own Node runs it.
prove_npm() {  # file
    prove_in_roots "$1" npm node "installed by npm offline in clean Debian 12 (Node 18) and 13 (Node 20)\
 amd64 and arm64 (qemu) roots, the listing (beside planted libraries), the guide's example and worker\
 threads on the fabricated machines, uninstalled; the win32-x64 addon under Wine by the windows stage,\
 win32-ia32's by its link checks and the same C source's runs here"
}

# Debian's own JDK and JNA compile against it and run it.
prove_jar() {  # file
    prove_in_roots "$1" jar java "compiled and run by Debian's JDK and JNA in clean Debian 12 (Java 17)\
 and 13 amd64 and arm64 (qemu) roots, the Listing (beside planted libraries), the guide's example and\
 eight threads on the fabricated machines; its Windows libraries the Windows zip's, proven under Wine"
}

# Debian's own Mono compiles against its assembly and runs it.
prove_nuget() {  # file
    prove_in_roots "$1" nuget dotnet "unpacked in clean Debian 12 (Mono 6.8) and 13 (Mono 6.12) amd64 and\
 arm64 (qemu) roots, the Listing (beside planted libraries), the guide's example and eight threads\
 compiled and run by Mono on the fabricated machines; its Windows libraries the Windows zip's"
}

# ------------------------------------------------------------------ main --

check dependencies timeout 900 scripts/install-deps.sh test-distros || finish
version=$(scripts/version.sh) || finish
if [ "$make_roots_only" = true ]; then
    # One lane an architecture, side by side (the host's roots unpack while
    # qemu configures the others'); one at a time in a lane: a run registers
    # one binfmt_misc entry.
    lanes=$(mktemp -d) && at_exit 'rm -rf "$lanes"'
    for lane in $(debian_runs | cut -d: -f2 | sort -u); do
        for run in $(debian_runs | grep ":$lane\$"); do
            arch=$(arch_field "$lane" debian)
            check "${run%:*} $arch root" make_run_root "${run%:*}" "$arch"
        done >"$lanes/$lane" 2>&1 &
    done
    wait
    cat "$lanes"/*
    finish
fi
check manual-page manual_page
if check trixie-root make_build_root; then
    check trixie-unit-tests unit_tests
    check trixie-from-source from_source
fi
for run in $(debian_runs); do
    # shellcheck disable=SC2046 # one file name a word
    prove_debs "${run%:*}" "${run#*:}" $(shipped_files distros | awk -F '\t' -v run="$run" \
        '"debs_" substr(run, 1, index(run, ":") - 1) == $4 && substr(run, index(run, ":") + 1) == $3 { print $2 }')
done
# The bindings' packages: kind:file:architecture id.
for package in $(shipped_files wheel npm jar nuget | awk -F '\t' '$5 == "distros" { print $1 ":" $2 ":" $3 }'); do
    file=${package#*:} && "prove_${package%%:*}" "${file%:*}" "${package##*:}"
done
finish
