'use strict';
// Prints the machine's rows as hwidtool lists them, or with --generate ID the
// Hardware ID of ID as hwidtool prints it, from the hwid package alone.
const hwid = require('hwid');

const TYPES = { [hwid.NIC]: 'NIC', [hwid.USB]: 'USB' };

// Left-aligned in `width` bytes, as printf's %-Ns pads.
function padded(text, width) {
  const bytes = Buffer.from(text);
  return Buffer.concat([bytes, Buffer.alloc(Math.max(0, width - bytes.length), ' ')]);
}

// The length of the well-formed UTF-8 sequence at bytes[i], 0 if there is none.
function sequence(bytes, i) {
  const lead = bytes[i];
  if (lead < 0x80) return 1;
  const [n, low, high] = lead >= 0xc2 && lead <= 0xdf ? [2, 0x80, 0xbf]
    : lead === 0xe0 ? [3, 0xa0, 0xbf] : lead === 0xed ? [3, 0x80, 0x9f]
      : lead >= 0xe1 && lead <= 0xef ? [3, 0x80, 0xbf] : lead === 0xf0 ? [4, 0x90, 0xbf]
        : lead === 0xf4 ? [4, 0x80, 0x8f] : lead >= 0xf1 && lead <= 0xf3 ? [4, 0x80, 0xbf] : [0];
  if (!n || i + n > bytes.length || bytes[i + 1] < low || bytes[i + 1] > high) return 0;
  for (let k = 2; k < n; k++) if (bytes[i + k] < 0x80 || bytes[i + k] > 0xbf) return 0;
  return n;
}

// Each control character (C0, DEL, C1) and each byte outside well-formed
// UTF-8 as "?": what the device says, safe for a terminal.
function terminalSafe(bytes) {
  const out = [];
  for (let i = 0; i < bytes.length;) {
    const n = sequence(bytes, i);
    const control = n === 1 ? bytes[i] < 0x20 || bytes[i] === 0x7f
      : n === 2 && bytes[i] === 0xc2 && bytes[i + 1] <= 0x9f;
    out.push(n === 0 || control ? Buffer.from('?') : bytes.subarray(i, i + n));
    i += Math.max(n, 1);
  }
  return Buffer.concat(out);
}

function listing(args) {
  if (args.length === 2 && args[0] === '--generate') {
    return Buffer.from(`\n${args[1]}: ${hwid.generate(args[1])}\n\n`);
  }
  const lines = [Buffer.from('\nAvailable unique ids:\n\n'), padded('TYPE', 6), padded('Hardware ID', 33),
    padded('Comment', 40), Buffer.from(`\n${'-'.repeat(78)}\n`)];
  for (const row of hwid.list()) {
    lines.push(padded(TYPES[row.type] || '', 6), padded(row.hardwareId, 33),
      padded(terminalSafe(row.raw.comment), 40), Buffer.from('\n'));
  }
  return Buffer.concat([...lines, Buffer.from('\n\n\n')]);
}

const out = listing(process.argv.slice(2));
// The descriptor itself, written whole: under Wine, Node's stream on a pipe does not open.
for (let done = 0; done < out.length;) done += require('fs').writeSync(1, out, done);
