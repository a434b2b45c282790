#!/bin/sh
# Packs a staged Debian package into OUT_FILE, the same bytes from the same
# stage under any umask: STAGE/DEBIAN/control says "Installed-Size: SIZE",
# filled in here; then the md5sums, modes (the programs of usr/bin
# executable, all else read-only), every date SOURCE_DATE_EPOCH, root as
# owner, and one xz stream.
#
# Usage: packaging/debian/pack-deb.sh STAGE OUT_FILE
set -eu
stage=$1 out=$2
: "${SOURCE_DATE_EPOCH:?the packages are dated at SOURCE_DATE_EPOCH}"
size=$(cd "$stage" && find usr -printf '%y %s\n' |
    awk '{ k += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print k }')
sed -i "s/^Installed-Size: SIZE\$/Installed-Size: $size/" "$stage/DEBIAN/control"
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
find "$stage" -type d -exec chmod 0755 {} + && find "$stage" -type f -exec chmod 0644 {} +
[ ! -d "$stage/usr/bin" ] || find "$stage/usr/bin" -type f -exec chmod 0755 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
# One compressor thread: xz's threaded stream differs from its single one,
# and a rebuild must not depend on how many cores its machine has.
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$stage" "$out" >/dev/null
