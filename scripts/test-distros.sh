#!/bin/sh
# hwidtool, libhwid and its bindings on the Debian releases they ship for,
# as they ship, in clean roots of Debian 12 and 13 (amd64 natively, arm64
# under qemu-user-static), a lane each, side by side: apt-get installs the
# .debs, the listing program is built there three ways (pkg-config, --static,
# find_package), the fabricated machines run hwidtool and the three, the
# README's example is licensed exactly where a machine lists its ID, the
# purge leaves nothing; each binding's package goes the same way through its
# own tools. One "proven FILE" line a file. Beside the lanes: the manual
# pages (man --warnings), and in a Debian 13 root the unit tests and the
# README's build from source.
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

# ----------------------------------------------------------------- lanes --
# A lane is one Debian release and architecture: its clean root, and in it
# every file of this stage that runs there, by the prover of its kind. The
# lanes go side by side, and beside the Debian 13 builds: a program under
# qemu keeps one core busy, apt and dpkg mostly wait. Each lane counts into
# a file of its own and tallies its proofs (checks.sh), shown once all end.

# suite:architecture id of each Debian release and architecture that ships.
debian_runs() {
    shipped_files deb | awk -F '\t' '!seen[$4 ":" $3]++ { sub(/^debs_/, "", $4); print $4 ":" $3 }'
}

# kind:file of each file the lane proves: the packages of its release and
# architecture, its architecture's wheel, and the packages for all.
lane_files() {  # suite:architecture id
    shipped_files distros | awk -F '\t' -v suite="${1%:*}" -v arch="${1#*:}" '
        ($1 != "deb" || $4 == "debs_" suite) && ($3 == arch || $3 == "-") { print $1 ":" $2 }'
}

prove_lane() {  # suite:architecture id
    suite=${1%:*} arch_id=${1#*:}
    arch=$(arch_field "$arch_id" debian) emulated=""
    [ "$arch" = "$(dpkg --print-architecture)" ] || emulated=" under qemu"
    tool=$(shipped "hwidtool-$version-linux-$(arch_field "$arch_id" portable).tar.gz") || tool=""
    proof_begin  # the root counts for the packages' proofs
    check "$suite $arch root" make_run_root "$suite" "$arch"
    root_made=$?
    # shellcheck disable=SC2046 # one file name a word
    prove_debs $(lane_files "$1" | sed -n 's/^deb://p')
    for package in $(lane_files "$1" | grep -v '^deb:'); do
        "prove_${package%%:*}" "${package#*:}"
    done
}

# The lane's Debian packages, installed, used and purged together.
prove_debs() {  # files...
    debs=""
    for name in "$@"; do
        deb=$(shipped "$name") && debs="$debs $deb" || record "$name in the release" 1
    done
    # shellcheck disable=SC2086
    [ "$root_made" != 0 ] ||
        check "$suite $arch packages" round_trip_in "$run_root" packaging/debian/deb-round-trip.sh "" "" $debs
    number=${1#*~deb}
    installed="installed with apt-get in a clean Debian ${number%%_*} $arch root"
    built="the listing program (pkg-config, --static, find_package) and the README's example built there against it"
    for name in "$@"; do
        what="$built, the rows hwidtool's and the licence accepted where listed on the fabricated machines$emulated"
        case $name in hwidtool_*) what="fabricated machines$emulated" ;; esac
        proven "$name" "$installed, $what, purged"
    done
}

# A binding's package as a user installs it, in the lane's root, beside the
# portable hwidtool: libhwid/BINDING/tests/KIND-round-trip.sh, with another
# architecture's package in foreign/ where one is named.
prove_in_root() {  # file, kind, binding, what was proven[, another architecture's package]
    proof_begin
    foreign=""
    if package=$(shipped "$1") && [ -n "$tool" ] && { [ -z "${5:-}" ] || foreign=$(shipped "$5"); }; then
        [ "$root_made" != 0 ] || check "$suite $arch $2" round_trip_in "$run_root" \
            "libhwid/$3/tests/$2-round-trip.sh" "$tool" "$foreign" "$package"
    else
        record "$1, the portable hwidtool${5:+ and $5} in the release" 1
    fi
    proven "$1" "$4"
}

# In a folder of the root holding the packages, the portable hwidtool's files
# and foreign/, the checkout's round-trip script run as a user would.
round_trip_in() {  # root, script, hwidtool tarball or "", another architecture's package or "", packages...
    trip_root=$1 trip_script=$2 trip_tool=$3 trip_foreign=$4 && shift 4
    trip_folder="$trip_root/tmp/$(basename "$trip_script" .sh)"
    rm -rf "$trip_folder" && mkdir -p "$trip_folder/foreign" && cp "$@" "$trip_folder/" &&
        { [ -z "$trip_foreign" ] || cp "$trip_foreign" "$trip_folder/foreign/"; } &&
        { [ -z "$trip_tool" ] || tar -C "$trip_folder" -xzf "$trip_tool" --strip-components=1; } &&
        in_root "$trip_root" sh -c "cd /tmp/${trip_folder##*/} && sh /src/$trip_script /src"
}

# pip installs it into a venv.
prove_wheel() {  # file
    prove_in_root "$1" wheel python "installed with pip into a venv in clean Debian 12 and 13 $arch roots,\
 the listing (beside planted libraries) and the guide's example on the fabricated machines$emulated,\
 uninstalled" "$(shipped_files wheel | awk -F '\t' -v arch="$arch_id" '$3 != arch && $5 == "distros" { print $2; exit }')"
}

# npm installs it with no network; Debian's own Node runs it.
prove_npm() {  # file
    prove_in_root "$1" npm node "installed by npm offline in clean Debian 12 (Node 18) and 13 (Node 20)\
 amd64 and arm64 (qemu) roots, the listing (beside planted libraries), the guide's example and worker\
 threads on the fabricated machines, uninstalled; the win32-x64 addon under Wine by the windows stage,\
 win32-ia32's by its link checks and the same C source's runs here"
}

# Debian's own JDK and JNA compile against it and run it.
prove_jar() {  # file
    prove_in_root "$1" jar java "compiled and run by Debian's JDK and JNA in clean Debian 12 (Java 17)\
 and 13 amd64 and arm64 (qemu) roots, the Listing (beside planted libraries), the guide's example and\
 eight threads on the fabricated machines; its Windows libraries the Windows zip's, proven under Wine"
}

# Debian's own Mono compiles against its assembly and runs it.
prove_nuget() {  # file
    prove_in_root "$1" nuget dotnet "unpacked in clean Debian 12 (Mono 6.8) and 13 (Mono 6.12) amd64 and\
 arm64 (qemu) roots, the Listing (beside planted libraries), the guide's example and eight threads\
 compiled and run by Mono on the fabricated machines; its Windows libraries the Windows zip's"
}

# ------------------------------------------------------------------ main --

check dependencies timeout 900 scripts/install-deps.sh test-distros || finish
version=$(scripts/version.sh) || finish
lanes=$(mktemp -d) && at_exit 'rm -rf "$lanes"' && : >"$lanes/tally" || finish
if [ "$make_roots_only" = true ]; then
    for run in $(debian_runs); do
        check "${run%:*} $(arch_field "${run#*:}" debian) root" make_run_root "${run%:*}" \
            "$(arch_field "${run#*:}" debian)" >"$lanes/$run.log" 2>&1 &
    done
    wait
    cat "$lanes"/*.log
    finish
fi
for run in $(debian_runs); do
    (HWID_CHECKS="$lanes/$run.checks" HWID_TALLY="$lanes/tally" && : >"$HWID_CHECKS" &&
        prove_lane "$run") >"$lanes/$run.log" 2>&1 &
done
check manual-page manual_page
if check trixie-root make_build_root; then
    check trixie-unit-tests unit_tests
    check trixie-from-source from_source
fi
wait
for run in $(debian_runs); do
    echo "=== lane ${run%:*} $(arch_field "${run#*:}" debian)"
    cat "$lanes/$run.log" && cat "$lanes/$run.checks" >>"$HWID_CHECKS"
done
# shellcheck disable=SC2046 # one file name a word
proven_tallied "$lanes/tally" $(shipped_files distros | cut -f2)
finish
