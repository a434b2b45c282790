#!/bin/sh
# Builds every file that packaging/release.tsv lists for the checked-out
# commit into OUTDIR, each by its builder (build_* below), with SHA256SUMS,
# and lists them with their sizes and digests.
#
# Anyone can rebuild them bit for bit: the sources are a fresh clone of the
# commit (uncommitted changes are not in a release), every date inside is
# the commit's (SOURCE_DATE_EPOCH), no build path reaches a binary, and the
# archives fix the order, owners and modes of their members.
#
# --check builds twice, the second time from another clone at other paths
# (here and in the Debian 13 root) under umask 077, into a folder of its
# own, and compares the two; files that differ are shown with diffoscope.
# --test checks every file's contents (lintian and rpmlint among them, no
# error or warning allowed), the hardening of every program in it, and
# libhwid's interface against its committed baseline (scripts/check-shipped.py,
# on the work folder). The files are run where their users run them by the
# distros, portable and windows stages of scripts/test-all.sh.
#
# Runs on Debian 12 for amd64 only (it refuses any other host at once) and
# needs root (debootstrap, chroot); without it, it says so and exits 77.
# Installs what it needs. The Debian 13 root is build-trixie/root (shared
# with scripts/test-distros.sh), reused once made. Every build starts from
# an empty environment but for PATH, HOME, TMPDIR and CI: the caller's
# compiler flags or DEB_BUILD_OPTIONS never reach a package. In OUTDIR (relative to the folder it is started in) it
# replaces only the files it writes, each left readable by all (0644).
# Exit status 0 only when every step succeeded.
#
# Usage: scripts/release.sh [--check] [--test] OUTDIR
if [ "${HWID_RELEASE_ENV:-}" != clean ]; then
    exec env -i HWID_RELEASE_ENV=clean PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="${HOME:-/root}" \
        LANG=C.UTF-8 TMPDIR="${TMPDIR:-/tmp}" CI="${CI:-}" "$0" "$@"
fi
# shellcheck source=scripts/guard.sh
. "$(dirname "$0")/guard.sh"
# shellcheck source=scripts/manifest.sh
. "$(dirname "$0")/manifest.sh"
# shellcheck source=scripts/release-bindings.sh
. "$(dirname "$0")/release-bindings.sh"
set -u
script_dir=$(cd "$(dirname "$0")" && pwd) || exit 1
check=false
test=false
while [ $# -gt 0 ]; do
    case "$1" in
        --check) check=true; shift ;;
        --test) test=true; shift ;;
        *) break ;;
    esac
done
[ $# -eq 1 ] || { echo "usage: $0 [--check] [--test] OUTDIR" >&2; exit 2; }
host=$(. /etc/os-release && echo "${ID:-?} ${VERSION_ID:-?} $(dpkg --print-architecture 2>/dev/null)")
[ "$host" = "debian 12 amd64" ] ||
    { echo "a release is built on Debian 12 for amd64; this host is $host" >&2; exit 1; }
mkdir -p "$1" && out=$(cd "$1" && pwd) || exit 1
cd "$script_dir/.." || exit 1
checkout=$(pwd)
jobs=$(nproc)
suite=trixie
root="$checkout/build-$suite/root"

if [ "$(id -u)" != 0 ]; then
    echo "SKIP [release] not root: a release needs root (the Debian 13 packages are built in a debootstrap root)"
    exit 77
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Every step's output goes to its log, shown only when the step fails.
step() {  # log name, command...
    log="$work/$1.log"
    shift
    "$@" >"$log" 2>&1 || { tail -n 40 "$log" >&2; fail "$(basename "$log" .log) (log: $log)"; }
}

# ---------------------------------------------------------------- builds --
# A builder for each name of packaging/release.tsv's builder column, called
# once with each architecture it serves: it writes its files into $out.

# Debian's hardening flags, the same here and in the Debian 13 root; libhwid's
# packages come from a build folder of their own, with the same flags.
build_debs_bookworm() {  # architecture id
    "$src/packaging/debian/build-debs.sh" "$src" "$work/deb-$1" "$(arch_field "$1" debian)" "$out"
}

# The Debian 13 packages, built as here, in the root and from the same
# clone (mounted read-only at $root_src, built in $root_build). The root is
# entered with an empty environment: the commit's time is handed in.
build_debs_trixie() {  # architecture id
    scripts/distro-root.sh --cross arm64 "$root" "$suite" &&
        rm -rf "$root$root_build/$1-out" &&
        timeout 1800 scripts/distro-root.sh run --src-at "$root_src" "$root" "$src" \
            env SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH" sh "$root_src/packaging/debian/build-debs.sh" \
            "$root_src" "$root_build/$1" "$(arch_field "$1" debian)" "$root_build/$1-out" &&
        cp "$root$root_build/$1-out"/*.deb "$out/" &&
        ln -sfn "$root$root_build/$1" "$work/deb13-$1" &&
        ln -sfn "$root$root_build/$1-libhwid" "$work/deb13-$1-libhwid"
}

# pystring's release from Debian's source package, unpacked once for the
# builds that compile it in.
pystring_source() {
    pystring=$("$src/scripts/fetch-pystring-source.sh" "$work/pystring") || return 1
    pystring=$(echo "$pystring" | tail -n 1)
    [ -f "$pystring/pystring.cpp" ] || { echo "no pystring.cpp in '$pystring'"; return 1; }
}

# The portable program's tarball, and its .rpm where rpm has a name for the
# architecture.
build_portable() {  # architecture id
    suffix=$(arch_field "$1" portable) rpm_arch=$(arch_field "$1" rpm)
    build="$work/portable-$suffix"
    name="hwidtool-$version-linux-$suffix"
    cmake --preset "portable-$suffix" -S "$src" -B "$build" -DPYSTRING_SOURCE_DIR="$pystring" &&
        cmake --build "$build" -j"$jobs" || return 1
    rm -rf "${work:?}/$name" && mkdir "$work/$name" &&
        cp "$build/linux/cli/hwidtool" "$build/packaging/hwidtool.1" \
            "$src/README.md" "$src/LICENSE" "$work/$name/" &&
        # pystring is linked in: its licence asks for its notice beside it.
        cp "$pystring/LICENSE" "$work/$name/LICENSE.pystring" &&
        tarball "$name" || return 1
    [ "$rpm_arch" = - ] || rpm_package "$name" "$rpm_arch"
}

# libhwid for any Linux of the architecture, as `cmake --install` lays it
# out under a prefix: the header, the shared library (needing only the C
# library) with its links, the archive, hwid.pc and the CMake package (both
# find the prefix from their own place), the manual page. A build folder of
# its own: the library's code is compiled for a shared object, the program's
# is not, and the program's bytes stay as they are.
build_library_tarball() {  # architecture id
    suffix=$(arch_field "$1" portable)
    build="$work/libhwid-$suffix"
    name="libhwid-$version-linux-$suffix"
    cmake --preset "portable-$suffix" -S "$src" -B "$build" -DPYSTRING_SOURCE_DIR="$pystring" \
        -DHWID_LIBRARY=ON -DCMAKE_INSTALL_LIBDIR=lib &&
        cmake --build "$build" -j"$jobs" --target hwid hwid_static hwid_exports || return 1
    rm -rf "${work:?}/$name" &&
        for part in libhwid libhwid-dev; do
            cmake --install "$build" --component "$part" --prefix "$work/$name" || return 1
        done &&
        cp "$src/README.md" "$src/LICENSE" "$work/$name/" &&
        cp "$pystring/LICENSE" "$work/$name/LICENSE.pystring" &&
        tarball "$name"
}

# The tarball's folder, wrapped unchanged (packaging/rpm/hwidtool.rpmbuild).
# rpm reads ~/.rpmmacros: HOME is the work folder, so that none of the
# caller's macros reach a package.
rpm_package() {  # folder in $work, architecture
    HOME="$work" rpmbuild -bb --target "$2-linux" --define "_topdir $work/rpm-$2" \
        --define "_sourcedir $work/$1" --define "hwid_version $version" \
        --define "hwid_changelog_date $(date -u -d "@$SOURCE_DATE_EPOCH" '+%a %b %d %Y')" \
        "$src/packaging/rpm/hwidtool.rpmbuild" &&
        cp "$work/rpm-$2/RPMS/$2/hwidtool-$version-1.$2.rpm" "$out/"
}

# Members sorted, dated at the commit, owned by root, modes free of the
# umask; gzip without name or time.
tarball() {  # folder in $work
    tar -C "$work" --sort=name --format=gnu --mtime="@$SOURCE_DATE_EPOCH" \
        --owner=0 --group=0 --numeric-owner --mode=go-w,a+rX -cf "$work/$1.tar" "$1" &&
        gzip -9n <"$work/$1.tar" >"$out/$1.tar.gz"
}

# Both zips from the same two builds: libhwid's code is compiled as the
# program's is, so turning it on leaves hwidwin.exe as it was.
build_windows() {
    for bits in 32 64; do
        cmake --preset "win$bits" -S "$src" -B "$work/win$bits" -DCMAKE_BUILD_TYPE=Release \
            -DBUILD_TESTING=OFF -DHWID_LIBRARY=ON -DPYSTRING_SOURCE_DIR="$pystring" &&
            cmake --build "$work/win$bits" -j"$jobs" --target hwidwin hwid hwid_static \
                hwid_exports || return 1
    done
    # Debian's Python, whatever else is first on the PATH: its zlib
    # compresses the archive's members.
    cmake -S "$src/packaging/windows" -B "$work/windows" -DPython3_EXECUTABLE=/usr/bin/python3 \
        -DHWIDWIN_32="$work/win32/windows/hwidwin.exe" \
        -DHWIDWIN_64="$work/win64/windows/hwidwin.exe" \
        -DLIBHWID_32="$work/win32/libhwid" -DLIBHWID_64="$work/win64/libhwid" &&
        cmake --build "$work/windows" --target package &&
        cp "$work/windows/hwidwin-$version-windows.zip" \
            "$work/windows/libhwid-$version-windows.zip" "$out/"
}

# The names of the files a release of $version writes, as the manifest
# lists them: the only files it removes from OUTDIR, lists and checks.
artefacts() {
    shipped_files | cut -f2
}

sums() {
    (cd "$out" && artefacts | xargs sha256sum >SHA256SUMS)
}

# One release from a fresh clone of the commit into $2, built in $1; the
# Debian 13 packages from the sources at $3 in the root.
build_release() {  # work folder, output folder, sources' path in the root
    work=$1 out=$2 root_src=$3
    root_build="$root_src-build"
    src="$work/src"
    rm -rf "$work" && mkdir -p "$work" "$out" || return 1
    git clone -q --no-hardlinks "$checkout" "$src" || fail "git clone"
    git -C "$src" checkout -q "$commit" || fail "checkout of $commit"
    export SOURCE_DATE_EPOCH
    SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
    version=$("$src/scripts/version.sh" "$src") || fail "no version"
    semver=$(shipped_files npm | cut -f2 | sed 's/^hwid-//; s/\.tgz$//')
    (cd "$out" && artefacts | xargs rm -f SHA256SUMS) || fail "removing an earlier release"
    echo "building $commit, version $version" \
        "($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))" \
        "in $work under umask $(umask)"
    step pystring pystring_source
    # Each builder once for each architecture it serves, in the manifest's order.
    for build in $(shipped_files | awk -F '\t' '!seen[$4 ":" $3]++ { print $4 ":" $3 }'); do
        step "${build%:*}-${build#*:}" "build_${build%:*}" "${build#*:}"
    done
    (cd "$out" && artefacts | while read -r f; do
        [ -f "$f" ] || { echo "FAIL: $f was not written" >&2; exit 1; }
    done) || exit 1
    sums
    # Published as they are: readable by all, whatever the umask.
    (cd "$out" && artefacts | xargs chmod 0644 SHA256SUMS)
}

listing() {
    (cd "$out" && artefacts | while read -r f; do
        printf '%9s  %s  %s\n' "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)" "$f"
    done)
}

# ----------------------------------------------------------------- check --

compare() {  # first output, second output
    if cmp -s "$1/SHA256SUMS" "$2/SHA256SUMS"; then
        echo "reproducible: both builds gave the same $(artefacts | wc -l) files"
        return 0
    fi
    echo "NOT reproducible: SHA256SUMS differ"
    diff "$1/SHA256SUMS" "$2/SHA256SUMS"
    (cd "$1" && artefacts) | while read -r f; do
        cmp -s "$1/$f" "$2/$f" || timeout 600 diffoscope --text - "$1/$f" "$2/$f" | head -n 60
    done
    return 1
}

# ------------------------------------------------------------------ main --

commit=$(git rev-parse HEAD) || exit 1
[ -z "$(git status --porcelain --untracked-files=no)" ] ||
    echo "note: uncommitted changes are not in the release; it is built from $commit"
scripts/install-deps.sh release || exit 1
started=$(date +%s)
base=$(mktemp -d "${TMPDIR:-/tmp}/hwid-release.XXXXXX") || exit 1
at_exit 'rm -rf "$base"'

build_release "$base/a" "$out" /src
echo "built in $(($(date +%s) - started)) s:"
listing

if $test; then
    # Every file of the release (lintian and rpmlint among the checks), and
    # each binary against the build folder its link ran in.
    scripts/check-shipped.py "$base/a" "$out" || exit 1
    echo "built and tested in $(($(date +%s) - started)) s"
fi

if $check; then
    second="$base/second-build/out"
    # Other paths (of other lengths), another umask, another time.
    (umask 077 && build_release "$base/second-build/at-another-path" "$second" \
        /sources/at-another-path) || exit 1
    compare "$out" "$second" || exit 1
    echo "built twice in $(($(date +%s) - started)) s"
fi
