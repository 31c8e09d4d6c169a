'use strict';
// Object lifetimes, process exit and log lines, each in a child process of
// its own so that its exit and its standard error can be checked.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { runChild: runNode, assertCleanExit } = require('./chordwatch_child.js');

const util = path.join(__dirname, 'chordwatch_test_util.js');

// Runs script in a child node with the test helpers as `u`.
function runChild(script, options) {
  return runNode(script, { preamble: `const u = require(${JSON.stringify(util)});`, ...options });
}

// Builds objects of every kind: with and without callback, exclusive or not,
// started, stopped, restarted, with events posted while they run.
const churn = (withCallbacks) => `
  async function churn() {
    const { Chordwatch } = u.addon;
    for (let i = 0; i < 150; ++i) {
      const w = new Chordwatch({ exclusiveMode: i % 2 === 0, minPressDurationMs: 0 });
      w.register('ctrl+a', { exclusive: true });
      ${withCallbacks ? "if (i % 5 !== 4) u.record(w);" : ''}
      if (i % 3 !== 0) w.start();
      // Let some taps open before the events come.
      if (i % 3 === 2) await new Promise((resolve) => setTimeout(resolve, 1));
      u.kb.post(u.FLAGS_CHANGED, u.KEY.leftCtrl, u.CTRL);
      u.kb.post(u.KEY_DOWN, u.KEY.a, u.CTRL);
      u.kb.post(u.KEY_UP, u.KEY.a, u.CTRL);
      u.kb.post(u.FLAGS_CHANGED, u.KEY.leftCtrl, 0);
      ${withCallbacks ? "if (i % 4 === 1) u.record(w);" : ''}
      if (i % 3 === 1) w.stop();
      if (i % 6 === 1) w.start();
    }
  }
`;

test('objects without callbacks never hold the process, started or not', async () => {
  // No collection is forced: objects still alive at exit must not block it.
  const result = await runChild(`${churn(false)} churn();`);
  assertCleanExit(result);
});

test('dropped objects release their callbacks and the process exits', async () => {
  const result = await runChild(`${churn(true)}
    churn().then(() => u.collectGarbage()).then(() => console.log('done'));`);
  assertCleanExit(result);
  assert.equal(result.stdout.trim(), 'done');
});

test('an installed callback keeps the process alive', async () => {
  const result = await runChild(`
    globalThis.kept = new u.addon.Chordwatch();
    u.record(globalThis.kept);
    console.log('installed');
  `, { aliveForMs: 1500 });
  assert.equal(result.alive, true, `exited early: ${result.stderr}`);
  assert.equal(result.stdout.trim(), 'installed');
});

test('exiting with running objects and queued events does not crash', async () => {
  const result = await runChild(`
    u.startBusyObjects(20, 50).then((objects) => {
      globalThis.kept = objects;
      process.exit(0);
    });
  `);
  assertCleanExit(result);
});

test('a worker torn down with running objects and callbacks ends cleanly', async () => {
  // Worker teardown destroys the callbacks' thread-safe functions before it
  // finalizes the objects that hold them, with events still queued.
  const result = await runChild(`
    const { Worker } = require('node:worker_threads');
    const worker = new Worker(\`
      const { parentPort, workerData } = require('node:worker_threads');
      const u = require(workerData);
      u.startBusyObjects(4, 30).then((objects) => {
        globalThis.kept = objects;
        parentPort.postMessage('running');
      });
    \`, { eval: true, workerData: ${JSON.stringify(util)} });
    worker.on('message', async () => {
      await worker.terminate();
      console.log('terminated');
    });
  `);
  assertCleanExit(result);
  assert.equal(result.stdout.trim(), 'terminated');
});

test('log lines of start, debug releases and a refused tap', async () => {
  const result = await runChild(`
    const { Chordwatch } = u.addon;
    (async () => {
      // debug is read before minPressDurationMs whatever the object's order.
      const w = new Chordwatch({ minPressDurationMs: 150, debug: true });
      new Chordwatch({ minPressDurationMs: 150 });
      new Chordwatch({ debug: true });
      w.register('a');
      await u.start(w);
      u.kb.post(u.KEY_DOWN, u.KEY.a, 0, 1000);
      u.kb.post(u.KEY_UP, u.KEY.a, 0, 1000.25);
      u.kb.post(u.KEY_DOWN, u.KEY.a, 0, 2000);
      u.kb.post(u.KEY_UP, u.KEY.a, 0, 2000.0625);
      w.stop();

      // Without accessibility access the watcher ends by itself; a later
      // start joins it and tries again.
      u.kb.refuseTaps(true);
      const refused = new Chordwatch({ exclusiveMode: true });
      refused.start();
      await new Promise((resolve) => setTimeout(resolve, 50));
      u.kb.refuseTaps(false);
      while (u.kb.openTapCount() === 0) {
        refused.start();
        await new Promise((resolve) => setTimeout(resolve, 5));
      }
      refused.stop();
    })();
  `);
  assertCleanExit(result);
  const lines = result.stderr.trim().split('\n');
  const prefix = '[Chordwatch C++] ';
  assert.deepEqual(lines, [
    'Min press duration set to: 150.000000ms',
    'Starting native chordwatch',
    'macOS event tap started (exclusive=off)',
    'Release sent for binding_1 (duration: 250.000000ms >= threshold: 150.000000ms)',
    'Release ignored for binding_1 (duration: 62.500000ms < threshold: 150.000000ms)',
    'Starting native chordwatch',
    'Failed to create macOS event tap (check Accessibility permission)',
    'Starting native chordwatch',
    'macOS event tap started (exclusive=on)',
  ].map((line) => prefix + line));
});
