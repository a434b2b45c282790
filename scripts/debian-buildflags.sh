#!/bin/sh
# Prints, as shell assignments to eval, Debian's hardening flags for a
# Debian architecture in the form cmake reads from the environment at the
# first configure (it knows no CPPFLAGS). Taken in the sources' folder, so
# that their -ffile-prefix-map maps it to ".". Debian 12's dpkg adds neither
# stack clash protection nor, on amd64, the control flow marking; Debian
# 13's adds them again (the same packages either way).
#
# Usage: eval "$(scripts/debian-buildflags.sh ARCH)"
set -eu
arch=${1:?usage: $0 DEBIAN_ARCHITECTURE}
cd "$(dirname "$0")/.."
eval "$(DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
CXXFLAGS="$CXXFLAGS $CPPFLAGS -fstack-clash-protection"
[ "$arch" != amd64 ] || CXXFLAGS="$CXXFLAGS -fcf-protection"
for name in CFLAGS CPPFLAGS CXXFLAGS LDFLAGS; do
    eval "value=\$$name"
    # shellcheck disable=SC2154 # assigned by the eval above
    printf "export %s='%s'\n" "$name" "$value"
done
