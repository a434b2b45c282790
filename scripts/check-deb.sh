#!/bin/sh
# Checks hwidtool packages: each names the architecture its file name says,
# depends on the pystring, C and C++ libraries at the distribution's
# versions (as dpkg-shlibdeps works them out), and holds exactly the
# program, the README, Debian's changelog and copyright file and the manual
# page. Prints each package's architecture and Depends.
#
# Usage: check-deb.sh DEB...
set -u
status=0
for deb in "$@"; do
    arch=${deb##*_}
    arch=${arch%.deb}
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "$(basename "$deb"): $arch; Depends: $depends"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
        { echo "$deb: Architecture is not $arch"; status=1; }
    for lib in 'libpystring0 (>= ' 'libc6 (>= ' 'libstdc++6 (>= '; do
        case "$depends" in *"$lib"*) ;; *) echo "$deb: Depends lacks $lib"; status=1 ;; esac
    done
    files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort | tr '\n' ' ')
    [ "$files" = "./usr/bin/hwidtool ./usr/share/doc/hwidtool/README.md ./usr/share/doc/hwidtool/changelog.Debian.gz ./usr/share/doc/hwidtool/copyright ./usr/share/man/man1/hwidtool.1.gz " ] ||
        { echo "$deb: unexpected files: $files"; status=1; }
done
exit $status
