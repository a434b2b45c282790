#!/bin/sh
# Builds the Debian packages of one architecture for the Debian release of
# the machine it runs on, and copies them to OUT_DIR: hwidtool's (CPack) from
# BUILD_DIR, libhwid1's and libhwid-dev's (libhwid-debs.sh) from
# BUILD_DIR-libhwid. The one sequence for the Debian 12 host and the Debian
# 13 root (scripts/release.sh runs it in both), with Debian's hardening
# flags; an architecture other than this machine's is cross-built against
# Debian's multiarch libpystring-dev.
#
# Usage: packaging/debian/build-debs.sh SOURCE_DIR BUILD_DIR DEBIAN_ARCH OUT_DIR
# (SOURCE_DATE_EPOCH set: the packages are dated at it)
set -eu
src=$1 build=$2 arch=$3 out=$4
eval "$("$src/scripts/debian-buildflags.sh" "$arch")"
set --
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    set -- --toolchain "$src/cmake/$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null).cmake" \
        -DHWID_SYSTEM_PYSTRING=ON
fi
rm -rf "$build" "$build-libhwid"
cmake -S "$src" -B "$build" -DHWID_WERROR=ON -DBUILD_TESTING=OFF "$@"
cmake --build "$build" -j"$(nproc)"
# cpack takes the modes of the package's folders, and of the members of its
# ar archive, from the files it stages: it runs under the usual umask, not
# the caller's.
(cd "$build" && umask 022 && cpack)
"$src/packaging/debian/libhwid-debs.sh" "$build-libhwid" "$arch" "$build-libhwid/packages" "$@"
mkdir -p "$out"
cp "$build"/packages/hwidtool_*_"$arch".deb "$build-libhwid"/packages/*.deb "$out/"
