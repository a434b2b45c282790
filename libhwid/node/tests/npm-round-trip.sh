#!/bin/sh
# Run in a clean Debian root (scripts/test-distros.sh), in a folder holding
# the npm package and the portable hwidtool: npm installs the package with
# no network, and Debian's own Node runs the listing on the fabricated
# machines beside hwidtool, with a libhwid.so.1 planted in the current
# folder and in LD_LIBRARY_PATH (loaded, it would speak on standard error),
# the guide's Node.js example as printed, licensed exactly where a machine
# lists its ID, and check_rows.js holding each row to its Hardware ID. A copy
# of the package without this platform's addon must name the platform when
# required; npm then removes the package. SOURCE_DIR is the checkout.
# Usage: npm-round-trip.sh SOURCE_DIR
set -eu
src=$1
sh "$src/libhwid/tests/plant.sh" libhwid.so.1
echo '{ "private": true }' >package.json
HOME=$(pwd) unshare -n npm install --silent --offline --no-audit --no-fund ./hwid-*.tgz
sed -n '/^## Node.js and Electron$/,/^## /p' "$src/libhwid/README.md" | sed -n '/^```js$/,/^```$/p' | sed '1d;$d' >licence.js
licensed=$(grep -o "'[0-9A-F]\{32\}'" licence.js | tr -d "'")
[ -n "$licensed" ] || { echo "no Hardware ID in the guide's Node.js example"; exit 1; }
node="env NODE_PATH=$(pwd)/node_modules node"
python3 "$src/tests/system/machines.py" --binary "$(pwd)/hwidtool" \
    --consumer "env LD_LIBRARY_PATH=$(pwd)/planted $node $src/libhwid/node/listing.js" \
    --licence "$node licence.js" "$licensed" \
    --checker "$node $src/libhwid/node/tests/check_rows.js"
platform=$(node -p 'process.platform + "-" + process.arch')
mkdir -p elsewhere/node_modules && cp -R node_modules/hwid elsewhere/node_modules/
rm -r "elsewhere/node_modules/hwid/prebuilds/$platform"
said=$(cd elsewhere && NODE_PATH=node_modules node -e "require('hwid')" 2>&1) &&
    { echo "require('hwid') loaded without an addon for $platform"; exit 1; }
case $said in
    *"no build for $platform"*) ;;
    *) echo "require('hwid') without an addon for $platform said: $said"; exit 1 ;;
esac
HOME=$(pwd) unshare -n npm uninstall --silent --offline --no-audit --no-fund hwid
! node -e "require('hwid')" 2>/dev/null || { echo "hwid still loads after npm uninstall"; exit 1; }
echo "installed, listed and uninstalled $(ls ./hwid-*.tgz) with Node $(node --version)" \
    "in Debian $(cat /etc/debian_version); without its addon it named $platform"
