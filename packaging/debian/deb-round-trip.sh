#!/bin/sh
# Run in a clean Debian root (scripts/test-distros.sh), in a folder holding
# the Debian packages of the root's release and architecture: apt-get
# installs them (resolving their dependencies from the root's package
# lists); the listing program is built against the library as a user
# builds one, and the README's example as printed; hwidtool runs from the
# PATH on the fabricated machines, the three listings beside it, the
# example licensed exactly where a machine lists its ID; a purge leaves none
# of their files behind, nor what was installed for them. SOURCE_DIR is the
# checkout.
# Usage: deb-round-trip.sh SOURCE_DIR
set -eu
src=$1
export DEBIAN_FRONTEND=noninteractive
packages="hwidtool libhwid1 libhwid-dev"
# A run that failed half-way left its packages behind: apt-get would take
# the same version for installed and keep the old files.
trap 'dpkg --purge $packages >/dev/null 2>&1' EXIT
dpkg --purge $packages >/dev/null 2>&1
apt-get install -y -q ./*.deb >apt-install.log 2>&1 || { cat apt-install.log; exit 1; }
# (if, not &&: a last entry that is no file would end the loop, and the
# script, with status 1 and no word)
files=$(dpkg -L $packages | while read -r f; do if [ -f "$f" ]; then echo "$f"; fi; done)
[ "$(command -v hwidtool)" = /usr/bin/hwidtool ] || { echo "hwidtool is not on the PATH"; exit 1; }
built=$(pwd)/consumers
# The root has cc for its own architecture: the example of the README, as printed.
sh "$src/libhwid/tests/consumers.sh" /usr "$src" "$built" cc readme
python3 "$src/tests/system/machines.py" --binary /usr/bin/hwidtool --consumer "$built/listing-shared" \
    --consumer "$built/listing-static" --consumer "$built/listing-cmake" \
    --licence "$built/readme/run-licence" "$(cat "$built/readme/licensed-id")"
apt-get purge --autoremove -y -q $packages >apt-purge.log 2>&1 || { cat apt-purge.log; exit 1; }
for package in $packages; do
    status=$(dpkg-query -W -f="\${db:Status-Status}" "$package" 2>/dev/null || true)
    [ -z "$status" ] || [ "$status" = not-installed ] || { echo "$package still $status"; exit 1; }
done
for f in $files; do [ ! -e "$f" ] || { echo "left behind: $f"; exit 1; }; done
# A new shell: this one remembers where it found the program.
! sh -c "command -v hwidtool" >/dev/null || { echo "hwidtool still on the PATH"; exit 1; }
! pkg-config --exists hwid || { echo "pkg-config still finds hwid"; exit 1; }
echo "installed, built against, ran and purged $(echo ./*.deb) in Debian" \
    "$(cat /etc/debian_version) on $(dpkg --print-architecture) ($(echo "$files" | wc -w) files)"
