'use strict';
// A host process for the focusprobe add-on in end-to-end tests: it loads the
// module named by FOCUSPROBE_ADDON, prints "ready", then answers each line on
// stdin naming one of the module's functions with one JSON line
// {result, ms}: the function's result and how long the call took. Any other
// line gets {exports}: the names the module exports.
const readline = require('node:readline');

const probe = require(process.env.FOCUSPROBE_ADDON);

const lines = readline.createInterface({ input: process.stdin });
lines.on('line', (name) => {
  if (typeof probe[name] !== 'function') {
    process.stdout.write(`${JSON.stringify({ exports: Object.keys(probe) })}\n`);
    return;
  }
  const start = process.hrtime.bigint();
  const result = probe[name]();
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  process.stdout.write(`${JSON.stringify({ result, ms })}\n`);
});
process.stdout.write('ready\n');
