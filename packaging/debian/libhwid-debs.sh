#!/bin/sh
# Builds libhwid for a Debian architecture in BUILD_DIR, a folder of its own
# (the library's code is compiled for a shared object, hwidtool's is not,
# and hwidtool's package stays as it is), and makes its two packages:
#   libhwid1_VERSION_ARCH.deb     the shared library under its SONAME
#   libhwid-dev_VERSION_ARCH.deb  the link, the archive, hwid.h, hwid.pc,
#                                 the CMake package and hwid(3)
# in OUT_DIR, VERSION being the one hwidtool's package gets from the same
# sources. CMAKE_OPTIONs are the cross build's; the compiler flags come
# from the environment, as for hwidtool's package.
#
# Both are Multi-Arch: same, and the symbols file is checked against the
# library by dpkg-gensymbols, which fails the build when an export was added
# or lost without its line in libhwid1.symbols. Stripped as Debian strips,
# packed by pack-deb.sh as hwidtool's package is. The library as linked, unstripped and with
# its debugging information, stays in BUILD_DIR/libhwid/.
#
# Usage: packaging/debian/libhwid-debs.sh BUILD_DIR DEBIAN_ARCH OUT_DIR [CMAKE_OPTION...]
set -eu
build=$1 arch=$2 out=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
: "${SOURCE_DATE_EPOCH:?the packages are dated at SOURCE_DATE_EPOCH}"
triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
tools=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
# The multiarch folder, spelt out: hwid.pc and the CMake package then name
# /usr and the folder as they are, not paths relative to their own place.
libdir=/usr/lib/$triplet
cmake -S "$here/../.." -B "$build" -DHWID_WERROR=ON -DBUILD_TESTING=OFF -DHWID_LIBRARY=ON \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR="$libdir" "$@"
cmake --build "$build" -j"$(nproc)" --target hwid hwid_static hwid_exports
# hwidtool's own Debian texts and fields, made by the same configure: one
# version, one maintainer and one date for all the packages of a build.
changelog="$build/packaging/debian/changelog.Debian"
version="" maintainer=""
# shellcheck disable=SC1091 # written by the configure
. "$build/packaging/debian/package.sh"
[ -n "$version" ] && [ -n "$maintainer" ] || { echo "no version or maintainer from CMake" >&2; exit 1; }
# A static link needs the C++ library's development files, of the
# compiler that built the archive.
major=$(sed -n 's/^set(CMAKE_CXX_COMPILER_VERSION "\([0-9]*\)\..*/\1/p' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake)
[ -n "$major" ] || { echo "no compiler version in $build/CMakeFiles" >&2; exit 1; }
libstdcxx="libstdc++-$major-dev"
# Laid out as Debian's tools expect it: debian/control beside the packages.
work="$build/debian-packages"
stage="$work/debian"
rm -rf "$work" && mkdir -p "$stage" "$out"

for part in libhwid:libhwid1 libhwid-dev:libhwid-dev; do
    package=${part#*:}
    DESTDIR="$stage/$package" cmake --install "$build" --component "${part%:*}" --prefix /usr >/dev/null
    mkdir -p "$stage/$package/DEBIAN" "$stage/$package/usr/share/doc/$package"
    cp "$build/packaging/debian/copyright" "$stage/$package/usr/share/doc/$package/"
    sed "1s/^hwidtool /$package /" "$changelog" | gzip -9n >"$stage/$package/usr/share/doc/$package/changelog.Debian.gz"
done
[ -f "$stage/libhwid1$libdir/libhwid.so.1.0.0" ] && [ -f "$stage/libhwid-dev$libdir/libhwid.a" ] ||
    { echo "the library is not installed in $libdir: configure with -DCMAKE_INSTALL_LIBDIR=$libdir" >&2; exit 1; }
"$tools-strip" --remove-section=.comment --remove-section=.note --strip-unneeded \
    "$stage/libhwid1$libdir/libhwid.so.1.0.0"
"$tools-strip" --strip-debug --remove-section=.comment --remove-section=.note \
    --enable-deterministic-archives "$stage/libhwid-dev$libdir/libhwid.a"
gzip -9n "$stage/libhwid-dev/usr/share/man/man3/hwid.3"

# What the library needs, at the versions of this distribution.
printf 'Source: libhwid\n\nPackage: libhwid1\nArchitecture: any\n' >"$stage/control"
depends=$(cd "$work" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O -e"debian/libhwid1$libdir/libhwid.so.1.0.0" |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependencies" >&2; exit 1; }
(cd "$work" && DEB_HOST_ARCH=$arch dpkg-gensymbols -plibhwid1 -P"$stage/libhwid1" -v"$version" \
    -c4 -I"$here/libhwid1.symbols" -O"$stage/libhwid1/DEBIAN/symbols" -e"$stage/libhwid1$libdir/libhwid.so.1.0.0")
# A program linked before symbols files were read still gets a dependency
# that covers every function it may call: the newest in the file.
newest=$(sed -n 's/^ .* //p' "$here/libhwid1.symbols" | sort -V | tail -n 1)
echo "libhwid 1 libhwid1 (>= $newest)" >"$stage/libhwid1/DEBIAN/shlibs"
echo "activate-noawait ldconfig" >"$stage/libhwid1/DEBIAN/triggers"

control() {  # package, section, depends, what it holds, the summary's addition
    cat >"$stage/$1/DEBIAN/control" <<EOF
Package: $1
Version: $version
Architecture: $arch
Multi-Arch: same
Maintainer: $maintainer
Installed-Size: SIZE
Depends: $3
Section: $2
Priority: optional
Description: Hardware IDs of this machine for licence checks (C library$5)
 libhwid gives a program the rows hwidtool lists: the network interfaces
 and USB mass-storage devices of the machine, with their Hardware IDs (the
 MD5 digests of the device ids), so that it can check at run time that a
 licence's Hardware ID belongs to the machine it runs on.
 .
 $4
EOF
}
control libhwid1 libs "$depends" "This package holds the shared library." ""
control libhwid-dev libdevel "libhwid1 (= $version), libpystring-dev, $libstdcxx" \
    "This package holds what building a program with it takes: the header, the
 static library, the pkg-config file, the CMake package and hwid(3)." ", development files"

for package in libhwid1 libhwid-dev; do
    "$here/pack-deb.sh" "$stage/$package" "$out/${package}_${version}_$arch.deb"
done
