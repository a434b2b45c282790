#!/bin/sh
# Builds the Debian packages of one architecture for the Debian release of
# the machine it runs on, and copies them to OUT_DIR: hwidtool's from
# BUILD_DIR, libhwid1's and libhwid-dev's (libhwid-debs.sh) from
# BUILD_DIR-libhwid, all three packed by pack-deb.sh. The one sequence for
# the Debian 12 host and the Debian 13 root (scripts/release.sh runs it in
# both), with Debian's hardening flags; an architecture other than this
# machine's is cross-built against Debian's multiarch libpystring-dev.
#
# Usage: packaging/debian/build-debs.sh SOURCE_DIR BUILD_DIR DEBIAN_ARCH OUT_DIR
# (SOURCE_DATE_EPOCH set: the packages are dated at it)
set -eu
src=$1 build=$2 arch=$3 out=$4
here=$src/packaging/debian
eval "$("$src/scripts/debian-buildflags.sh" "$arch")"
set --
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    set -- --toolchain "$src/cmake/$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null).cmake" \
        -DHWID_SYSTEM_PYSTRING=ON
fi
rm -rf "$build" "$build-libhwid"
cmake -S "$src" -B "$build" -DHWID_WERROR=ON -DBUILD_TESTING=OFF "$@"
cmake --build "$build" -j"$(nproc)"

# hwidtool's package: the install, stripped, with Debian's own documents in
# place of the plain licence (the copyright file holds it).
version="" maintainer=""
# shellcheck disable=SC1091 # written by the configure
. "$build/packaging/debian/package.sh"
work="$build/debian-package" stage="$build/debian-package/debian/hwidtool"
doc="$stage/usr/share/doc/hwidtool"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >/dev/null
rm "$doc/LICENSE"
cp "$build/packaging/debian/copyright" "$doc/"
gzip -9n <"$build/packaging/debian/changelog.Debian" >"$doc/changelog.Debian.gz"
mkdir -p "$stage/DEBIAN"
printf 'Source: hwidtool\n\nPackage: hwidtool\nArchitecture: any\n' >"$work/debian/control"
depends=$(cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O -edebian/hwidtool/usr/bin/hwidtool |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }
cat >"$stage/DEBIAN/control" <<CONTROL
Package: hwidtool
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: SIZE
Depends: $depends
Section: utils
Priority: optional
Description: show the hardware IDs of this machine
 hwidtool lists stable identifiers of the machine's hardware (network
 interfaces and USB mass-storage devices) with their Hardware IDs, the
 MD5 digests of the device ids, and computes the Hardware ID of a device
 id given on the command line.
CONTROL
mkdir -p "$out"
"$here/pack-deb.sh" "$stage" "$out/hwidtool_${version}_$arch.deb"

"$here/libhwid-debs.sh" "$build-libhwid" "$arch" "$build-libhwid/packages" "$@"
cp "$build-libhwid"/packages/*.deb "$out/"
