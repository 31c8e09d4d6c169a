'use strict';
// The typings under tsc --strict: a file of correct uses compiles, a file of
// wrong ones fails exactly where and how it is marked, and the options the
// typings declare are the ones the client maps onto the command line.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { OPTIONS } = require('../options.js');

const TSC = path.join(__dirname, '..', '..', '..', 'node_modules', 'typescript', 'bin', 'tsc');

function tsc(file) {
  const run = spawnSync(process.execPath, [TSC, '--noEmit', '--strict', '--target', 'es2020',
    '--module', 'commonjs', '--lib', 'es2020', '--pretty', 'false', path.join(__dirname, file)],
  { encoding: 'utf8' });
  const errors = [...run.stdout.matchAll(/\((\d+),\d+\): error (TS\d+)/g)]
    .map(([, line, code]) => `${line}:${code}`);
  return { status: run.status, output: run.stdout + run.stderr, errors };
}

test('correct uses compile', () => {
  const { status, output } = tsc('types_ok.ts');
  assert.equal(status, 0, output);
});

test('wrong uses fail where and how they are marked', () => {
  const marked = fs.readFileSync(path.join(__dirname, 'types_bad.ts'), 'utf8').split('\n')
    .flatMap((line, index) => {
      const code = /\/\/ error (TS\d+)$/.exec(line);
      return code ? [`${index + 1}:${code[1]}`] : [];
    });
  assert.ok(marked.length >= 10);
  const { status, errors, output } = tsc('types_bad.ts');
  assert.notEqual(status, 0);
  assert.deepEqual(errors, marked, output);
});

test('the typings declare every option the client maps, and no other', () => {
  const typings = fs.readFileSync(path.join(__dirname, '..', 'index.d.ts'), 'utf8');
  const declared = ['ModelOptions', 'LiveOptions'].flatMap((name) => {
    const body = new RegExp(`interface ${name} [^{]*\\{([^}]*)\\}`).exec(typings)[1];
    return [...body.matchAll(/^ {2}(\w+)\?:/gm)].map(([, key]) => key);
  }).filter((key) => key !== 'binary');
  const mapped = Object.keys(OPTIONS).filter((key) => OPTIONS[key][2] === undefined);
  assert.deepEqual(declared.sort(), mapped.sort());
});
