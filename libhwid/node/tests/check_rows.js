'use strict';
// Checks the hwid package on a machine that lists ROWS rows
// (tests/system/machines.py --checker): as many rows, from four worker
// threads at once as from the main thread; each Hardware ID that of its
// exact bytes, and of its text wherever the bytes are UTF-8 (a JavaScript
// string cannot hold others); the errors as the package documents them.
// Exit status 0 when all held.
const { Worker, isMainThread, parentPort } = require('worker_threads');
const hwid = require('hwid');

const flat = (rows) => JSON.stringify(rows.map((r) => [r.type, r.hardwareId,
  r.raw.deviceId.toString('hex'), r.raw.comment.toString('hex'), r.deviceId, r.comment]));

function problems(rows, expected, fromWorkers) {
  const found = rows.length === expected ? [] : [`${rows.length} rows, not ${expected}`];
  if (fromWorkers.length !== 4 || fromWorkers.some((w) => w !== flat(rows))) found.push("a worker's rows differ");
  for (const row of rows) {
    const utf8 = Buffer.from(row.deviceId).equals(row.raw.deviceId);
    if (hwid.generate(row.raw.deviceId) !== row.hardwareId || (utf8 && hwid.generate(row.deviceId) !== row.hardwareId)) {
      found.push(`generate(${JSON.stringify(row.deviceId)}) is not ${row.hardwareId}`);
    }
    if (row.comment !== new TextDecoder().decode(row.raw.comment)) found.push(`comment ${row.comment} is not its bytes`);
    if (!hwid.present(row.hardwareId.toLowerCase())) found.push(`present(${row.hardwareId.toLowerCase()}) is false`);
  }
  for (const [wrong, error] of [['0'.repeat(31), RangeError], ['G'.repeat(32), RangeError],
    [Buffer.from('0'.repeat(32)), TypeError]]) {
    try {
      hwid.present(wrong);
      found.push(`present(${wrong}) threw nothing`);
    } catch (e) {
      if (!(e instanceof error)) found.push(`present(${wrong}) threw ${e}`);
    }
  }
  return found;
}

if (isMainThread) {
  const rows = hwid.list();
  const workers = [1, 2, 3, 4].map(() => new Promise((resolve, reject) => {
    new Worker(__filename).on('message', resolve).on('error', reject);
  }));
  Promise.all(workers).then((fromWorkers) => {
    const found = problems(rows, Number(process.argv[2]), fromWorkers);
    if (found.length) {
      process.stderr.write(found.join('\n') + '\n');
      process.exitCode = 1;
      return;
    }
    const beyond = rows.filter((r) => r.raw.deviceId.some((b) => b > 0x7f) || r.raw.comment.some((b) => b > 0x7f));
    console.log(`${rows.length} rows, each its Hardware ID, ${beyond.length} with bytes beyond ASCII, 4 workers agreeing`);
  });
} else {
  parentPort.postMessage(flat(hwid.list()));
}
