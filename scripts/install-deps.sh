#!/bin/sh
# Installs, with apt-get, the Debian packages that the named parts of the work
# need, and only those that are missing. Each argument is a part (build, test,
# portable, windows, release, lint; `build portable windows` is what every configure
# preset needs) or a package name (NAME:ARCH for another
# architecture's, which dpkg is then told about). Prints one line naming what it
# installs; apt's own output goes to a log that is shown only when the install
# fails.
# Usage: scripts/install-deps.sh PART|PACKAGE...
set -eu

packages_for() {
    case "$1" in
        # What every configure preset needs (tests included), with portable and windows.
        build) echo "cmake make g++ libpystring-dev libgtest-dev python3 pkgconf" ;;
        test) echo "cmake make g++ clang libpystring-dev libgtest-dev python3 pkgconf iproute2 util-linux" ;;
        portable) echo "g++-aarch64-linux-gnu g++-arm-linux-gnueabihf qemu-user-static busybox-static binutils" ;;
        windows) echo "mingw-w64 googletest wine wine32 wine64 xvfb xdotool imagemagick fonts-liberation \
            dpkg-dev" ;;
        release) echo "cmake make g++ libpystring-dev g++-arm-linux-gnueabihf g++-aarch64-linux-gnu \
            libpystring-dev:arm64 mingw-w64 dpkg-dev file git gzip tar python3 lintian \
            diffoscope-minimal debootstrap debian-archive-keyring qemu-user-static devscripts \
            rpm rpmlint cpio python3-pyelftools python3-pefile abigail-tools python3-build \
            python3-wheel python3-setuptools default-jdk-headless libjna-java mono-mcs mono-devel" ;;
        # What the test stages need beyond a part above (scripts/test-*.sh).
        test-hostile) echo "$(packages_for test) libclang-rt-14-dev valgrind strace time" ;;
        test-distros) echo "debootstrap debian-archive-keyring man-db groff-base dpkg-dev gzip python3 \
            iproute2 util-linux mount qemu-user-static" ;;
        test-portable) echo "$(packages_for portable) python3 iproute2 util-linux rpm cmake pkgconf" ;;
        test-windows) echo "$(packages_for build) $(packages_for windows) libgtest-dev iproute2 \
            util-linux qemu-user-static unzip" ;;
        # The static analysers, and what configuring the compile database needs.
        lint) echo "shellcheck clang-format clang-tidy cppcheck pyflakes3 python3 nodejs git cmake make g++ \
            libpystring-dev libgtest-dev" ;;
        *) echo "$1" ;;
    esac
}

wanted=""
for part in "$@"; do
    wanted="$wanted $(packages_for "$part")"
done

missing=""
for package in $wanted; do
    # One line per architecture where a package is installed for several.
    dpkg-query -W -f='${db:Status-Status}\n' "$package" 2>/dev/null | grep -qx installed ||
        missing="$missing $package"
done
[ -n "$missing" ] || exit 0

as_root=""
[ "$(id -u)" = 0 ] || as_root="sudo"

# dpkg learns of every architecture a package is wanted for (wine32 is
# i386's) before the package lists are read.
architectures=$(echo "$missing" | tr ' ' '\n' | sed -n 's/^[^:]*://p')
case "$missing" in *wine32*) architectures="$architectures i386" ;; esac
for arch in $(echo "$architectures" | tr ' ' '\n' | sort -u); do
    dpkg --print-foreign-architectures | grep -qx "$arch" && continue
    $as_root dpkg --add-architecture "$arch" || {
        echo "installing stopped: dpkg --add-architecture $arch failed" >&2
        exit 1
    }
done

# apt-get's progress is noise unless it fails: keep it in a log.
log=$(mktemp "${TMPDIR:-/tmp}/hwid-install-deps.XXXXXX.log")
echo "installing with apt-get:$missing" >&2
# A mirror caught in the middle of a sync serves some index with the wrong
# size: apt-get update fails for that one list. Tried again a little later
# it is usually whole. If it stays broken, the install takes every package
# at the release's own version (-t CODENAME): an architecture whose update
# list is missing cannot then be asked for another version than the rest.
update() {
    for wait in 20 60 0; do
        $as_root apt-get update -q && return 0
        [ "$wait" = 0 ] || { echo "apt-get update failed; again in ${wait}s"; sleep "$wait"; }
    done
    return 1
}
release=""
exec 3>&2
if {
    update || {
        # shellcheck source=/dev/null
        release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        echo "apt-get update failed three times: installing at $release's own versions" >&3
    }
    # One word per package.
    $as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends ${release:+-t "$release"} $missing
} >"$log" 2>&1; then
    rm -f "$log"
else
    echo "installing failed; apt-get said (kept in $log):" >&2
    cat "$log" >&2
    exit 1
fi
