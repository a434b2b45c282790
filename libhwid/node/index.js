'use strict';
// The Hardware IDs of this machine, as hwidtool (Linux) and hwidwin (Windows)
// list them, from the addon built for this platform inside this package
// (prebuilds/PLATFORM-ARCH/hwid.node). It is loaded by its absolute path and
// holds libhwid itself: no libhwid or hwid.dll elsewhere is ever loaded.
const path = require('path');
const fs = require('fs');

const platform = `${process.platform}-${process.arch}`;
const addon = path.join(__dirname, 'prebuilds', platform, 'hwid.node');
if (!fs.existsSync(addon)) {
  const built = fs.readdirSync(path.join(__dirname, 'prebuilds')).sort().join(', ');
  throw new Error(`hwid: no build for ${platform} in this package (it has ${built})`);
}
module.exports = require(addon);
