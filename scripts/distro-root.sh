#!/bin/sh
# Creates (or reuses) a minimal Debian root for building and testing hwidtool
# on another release, with the packages that the build, the system tests and
# the .deb round trip need.
#
# The mirror is the one this machine's own apt configuration uses for Debian
# (the first non-security entry); the release is checked against the host's
# Debian archive keyring. A root is reused only when an earlier run finished
# it (marker file .hwid-root-complete); a half-made one is removed and made
# again.
#
# Needs root, debootstrap and debian-archive-keyring.
#
# Usage: distro-root.sh ROOT_DIR SUITE
set -eu

root=${1:?usage: $0 ROOT_DIR SUITE}
suite=${2:?usage: $0 ROOT_DIR SUITE}
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
marker="$root/.hwid-root-complete"
packages="g++,cmake,make,libpystring-dev,libgtest-dev,python3,iproute2,mount,util-linux,dpkg-dev,file"

if [ -f "$marker" ] && [ "$(cat "$marker")" = "$suite $packages" ]; then
    echo "reusing the $suite root in $root"
    exit 0
fi

# The first Debian mirror of apt's own configuration: deb822 files first,
# then the one-line format. Security mirrors only carry updates.
mirror_of_host() {
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        awk '
            /^$/ { if (uri != "" && suites !~ /-security/) { print uri; exit } uri = ""; suites = "" }
            /^URIs:/ { uri = $2 }
            /^Suites:/ { suites = $0 }
            END { if (uri != "" && suites !~ /-security/) print uri }
        ' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk '$1 == "deb" && $0 !~ /-security/ {
                 for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/) { print $i; exit }
             }' "$f"
    done
}
mirror=$(mirror_of_host | grep -m 1 . || true)
[ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt configuration" >&2; exit 1; }

# Refuse early, with a clear message, when the release's Release file is
# not signed by a key of the host's keyring (debootstrap would only say
# that it cannot check it).
check_dir=$(mktemp -d)
trap 'rm -rf "$check_dir"' EXIT
if command -v apt-helper >/dev/null 2>&1 || [ -x /usr/lib/apt/apt-helper ]; then
    helper=$(command -v apt-helper || echo /usr/lib/apt/apt-helper)
    timeout 120 "$helper" -qq -o APT::Sandbox::User=root download-file "$mirror/dists/$suite/InRelease" \
        "$check_dir/InRelease" >/dev/null
    gpgv --keyring "$keyring" "$check_dir/InRelease" >/dev/null 2>&1 || {
        echo "$suite is not signed by a key in $keyring; update debian-archive-keyring" >&2
        exit 1
    }
    echo "$suite is signed by a key in $keyring"
fi

# A root left half-made by an interrupted debootstrap may still have its
# /proc or /sys mounted: never remove anything through a mount point.
mkdir -p "$root"
root=$(cd "$root" && pwd -P)
findmnt -rn -o TARGET | grep "^$root/" | sort -r | while read -r mounted; do
    umount -l "$mounted"
done
if findmnt -rn -o TARGET | grep -q "^$root/"; then
    echo "something is still mounted below $root; not removing it" >&2
    exit 1
fi
rm -rf --one-file-system "$root"
mkdir -p "$root"
echo "creating the $suite root in $root from $mirror"
timeout 900 debootstrap --variant=minbase --keyring="$keyring" \
    --include="$packages" "$suite" "$root" "$mirror" >"$root.log" 2>&1 || {
    echo "debootstrap failed; the last lines of $root.log:" >&2
    tail -n 20 "$root.log" >&2
    exit 1
}
# Nothing in the root needs the cached .debs again.
rm -f "$root"/var/cache/apt/archives/*.deb
echo "$suite $packages" > "$marker"
