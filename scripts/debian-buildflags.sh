#!/bin/sh
# Prints, as shell assignments to eval, Debian's hardening flags for a
# Debian architecture in the form cmake reads from the environment at the
# first configure (it knows no CPPFLAGS). Taken in the sources' folder, so
# that their -ffile-prefix-map maps it to ".". Debian 12's dpkg adds neither
# stack clash protection nor the control-flow protection (the marking of
# -fcf-protection on amd64, of -mbranch-protection on arm64); Debian 13's
# adds them again. On amd64 ours comes after it there, as it always did; on
# arm64 it is added only where dpkg gave none, so that Debian 13's packages,
# whose objects record their compiler's switches, stay as they were.
#
# Usage: eval "$(scripts/debian-buildflags.sh ARCH)"
set -eu
arch=${1:?usage: $0 DEBIAN_ARCHITECTURE}
cd "$(dirname "$0")/.."
eval "$(DEB_HOST_ARCH=$arch DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
CXXFLAGS="$CXXFLAGS $CPPFLAGS -fstack-clash-protection"
case "$arch" in
    amd64) CXXFLAGS="$CXXFLAGS -fcf-protection" ;;
    arm64)
        case " $CXXFLAGS " in
            *" -mbranch-protection="*) ;;
            *) CXXFLAGS="$CXXFLAGS -mbranch-protection=standard" ;;
        esac
        ;;
esac
for name in CFLAGS CPPFLAGS CXXFLAGS LDFLAGS; do
    eval "value=\$$name"
    # shellcheck disable=SC2154 # assigned by the eval above
    printf "export %s='%s'\n" "$name" "$value"
done
