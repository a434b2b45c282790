#!/bin/sh
# Installs, with apt-get, the Debian packages that the named parts of the work
# need, and only those that are missing. Each argument is a part (build, test,
# windows) or a package name.
# Usage: scripts/install-deps.sh PART|PACKAGE...
set -eu

packages_for() {
    case "$1" in
        build) echo "cmake make g++ libpystring-dev" ;;
        test) echo "cmake make g++ clang libpystring-dev libgtest-dev python3 iproute2 util-linux" ;;
        windows) echo "mingw-w64 wine wine32 wine64 xvfb xdotool imagemagick fonts-liberation dpkg-dev" ;;
        *) echo "$1" ;;
    esac
}

wanted=""
for part in "$@"; do
    wanted="$wanted $(packages_for "$part")"
done

missing=""
for package in $wanted; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = installed ] || missing="$missing $package"
done
[ -n "$missing" ] || exit 0

as_root=""
[ "$(id -u)" = 0 ] || as_root="sudo"
case "$missing" in
    *wine32*)
        dpkg --print-foreign-architectures | grep -qx i386 || $as_root dpkg --add-architecture i386 ;;
esac
echo "installing:$missing"
$as_root apt-get update -q
# One word per package.
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -q --no-install-recommends $missing
