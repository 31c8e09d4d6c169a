'use strict';
// The real module on a private Xvfb: keys typed through XTest, another
// application's focused window and grab, the display missing or going away.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { startXvfb, startKeyTool, stopAll, waitFor } = require('../../tests/support/desktop.js');
const { runChild, assertCleanExit, logLines } = require('./chordwatch_child.js');
const { Chordwatch, sleep, summary, startListening, settle } = require('./chordwatch_x11_util.js');

let xvfb = null;
let keys = null;

test.before(async () => {
  xvfb = await startXvfb();
  process.env.DISPLAY = xvfb.display;
  keys = await startKeyTool(xvfb);
  await keys.openWindow();
});
test.after(() => stopAll([xvfb, keys]));

// Child scripts get the X11 helpers as `x` and the desktop helpers as `d`.
const preamble = `
  const x = require(${JSON.stringify(path.join(__dirname, 'chordwatch_x11_util.js'))});
  const d = require(${JSON.stringify(path.join(__dirname, '..', '..', 'tests', 'support', 'desktop.js'))});
`;

// Keysym typed, key name reported: the same names as on macOS.
const NAMES = [
  ['a', 'a'], ['z', 'z'], ['1', '1'], ['0', '0'], ['F1', 'F1'], ['F12', 'F12'],
  ['Return', 'Enter'], ['Escape', 'Esc'], ['space', 'Space'], ['Tab', 'Tab'],
  ['BackSpace', 'Backspace'], ['Delete', 'Delete'], ['minus', 'key_27'],
  ['Left', 'key_123'], ['Up', 'key_126'], ['Home', 'key_115'], ['KP_Enter', 'key_76'],
  ['Control_R', 'RightCtrl'], ['Shift_L', 'LeftShift'], ['Shift_R', 'RightShift'],
  ['Alt_L', 'LeftAlt'], ['Alt_R', 'RightAlt'], ['Super_L', 'LeftMeta'],
  ['Super_R', 'RightMeta'],
];

test('raw events name every key; bindings press and release with their durations', async () => {
  const w = new Chordwatch({ minPressDurationMs: 300 });
  const talk = w.register('ctrl+space', { name: 'talk' });
  const chord = w.register('option+cmd+k');
  const quick = w.register('F5');
  const events = await startListening(w, keys);
  for (const [keysym] of NAMES) await keys.tap(keysym);
  await keys.tap('Menu');  // no Mac key: numbered by its X keycode
  await keys.hold(['Alt_L', 'Super_L', 'k'], 0);
  await keys.hold(['Control_L', 'space'], 800);
  await keys.tap('F5');
  await settle(events, keys);
  w.stop();

  const raw = NAMES.flatMap(([, name]) => [`raw_press:${name}`, `raw_release:${name}`]);
  const menu = `key_${1000 + await keys.keycode('Menu')}`;
  raw.push(`raw_press:${menu}`, `raw_release:${menu}`);
  const got = summary(events).filter((e) => !e.startsWith('release:'));
  assert.deepEqual(got, [...raw,
    'raw_press:LeftAlt', 'raw_press:LeftMeta', 'raw_press:k', `press:${chord}`,
    'raw_release:k', 'raw_release:LeftMeta', 'raw_release:LeftAlt',
    'raw_press:LeftCtrl', 'raw_press:Space', `press:${talk}`, 'raw_release:Space',
    'raw_release:LeftCtrl', 'raw_press:F5', `press:${quick}`, 'raw_release:F5']);

  // A release comes exactly when the binding was held for 300 ms or more.
  for (const id of [talk, chord, quick]) {
    const at = events.findIndex((e) => e.type === 'press' && e.binding_id === id);
    const release = events.find((e) => e.type === 'release' && e.binding_id === id);
    const ended = events.slice(at).find((e) => e.type === 'raw_release');
    const held = ended.timestamp - events[at].timestamp;
    assert.equal(Boolean(release), held >= 0.3, `${id} held ${held} s`);
    if (release) assert.ok(Math.abs(release.duration_s - held) < 1e-6);
  }
  assert.ok(events.some((e) => e.binding_id === talk && e.type === 'release'));
});

test('exclusive bindings swallow their keys; the rest reaches the focused window', async () => {
  const w = new Chordwatch({ exclusiveMode: true, minPressDurationMs: 0 });
  const talk = w.register('ctrl+space', { exclusive: true });
  const space = w.register('space');  // shares Space, not exclusive
  const note = w.register('ctrl+j');  // not exclusive
  const events = await startListening(w, keys);
  await keys.hold(['Control_L', 'space'], 900);  // long enough to auto-repeat
  // Keys typed while the binding is held are swallowed with it. Releasing
  // Ctrl first ends the hold: that release reaches the window, which ends
  // the grab, so Space's release does too.
  await keys.down('Control_L');
  await keys.down('space');
  await keys.tap('x');
  await keys.up('Control_L');
  await keys.up('space');
  await keys.hold(['Control_L', 'j'], 0);
  await keys.tap('space');
  await settle(events, keys);
  w.stop();

  assert.deepEqual(keys.received, [
    'press Control_L', 'release Control_L',
    'press Control_L', 'release Control_L', 'release space',
    'press Control_L', 'press j', 'release j', 'release Control_L',
    'press space', 'release space',
  ]);
  const presses = (id) => events.filter((e) => e.type === 'press' && e.binding_id === id);
  assert.deepEqual([talk, space, note].map((id) => presses(id).length), [2, 3, 1]);
  assert.ok(presses(talk).every((e) => e.exclusive));
  // Held keys repeat on the X server, but raw events come once per press.
  assert.equal(summary(events).filter((e) => e === 'raw_press:Space').length, 3);
});

test('bindings changed while started grab at once; stop gives the keys back', async () => {
  const w = new Chordwatch({ exclusiveMode: true, minPressDurationMs: 0 });
  const events = await startListening(w, keys);
  const typed = async () => {
    await keys.hold(['Control_L', 'k'], 0);
    await settle(events, keys);
    return keys.received.splice(0).filter((k) => k.endsWith(' k')).length;
  };
  const first = w.register('ctrl+k', { exclusive: true });
  assert.equal(await typed(), 0);
  w.unregister(first);
  assert.equal(await typed(), 2);
  w.register('ctrl+k', { exclusive: true });
  w.clear();
  assert.equal(await typed(), 2);

  // Stopped while held: no release, and the keys go back to the window.
  const held = w.register('ctrl+k', { exclusive: true });
  events.length = 0;
  await keys.down('Control_L');
  await keys.down('k');
  await waitFor(() => events.some((e) => e.binding_id === held), 'the press');
  w.stop();
  await keys.up('k');
  await keys.up('Control_L');
  await keys.sync();
  assert.deepEqual(keys.received.slice(-2), ['release k', 'release Control_L']);
  assert.equal(events.filter((e) => e.type === 'release').length, 0);

  await startListening(w, keys, events);
  assert.equal(await typed(), 0);
  w.stop();
  assert.deepEqual(summary(events).filter((e) => e.startsWith('press')), [`press:${held}`]);
});

test('getBindingState reads the keys held on the X server', async () => {
  const w = new Chordwatch();
  const id = w.register('ctrl+shift+a');
  assert.equal(w.getBindingState(id), 'released');
  await keys.down('Control_L');
  await keys.down('Shift_L');
  await keys.down('a');
  assert.equal(w.getBindingState(id), 'pressed');  // not even started
  await keys.up('a');
  assert.equal(w.getBindingState(id), 'released');
  await keys.up('Shift_L');
  await keys.up('Control_L');
});

test('a combination another client holds is logged and only listens', async () => {
  await keys.grab('F7', 'control');
  keys.received.length = 0;
  const result = await runChild(`(async () => {
    const keys = await d.startKeyTool({ env: process.env });
    const w = new x.Chordwatch({ exclusiveMode: true, minPressDurationMs: 0 });
    w.register('ctrl+F7', { exclusive: true });
    const events = await x.startListening(w, keys);
    await keys.hold(['Control_L', 'F7'], 0);
    await x.settle(events, keys);
    w.stop();
    await keys.stop();
    console.log(JSON.stringify(x.summary(events)));
    process.exit(0);
  })();`, { preamble, env: { ...process.env, DISPLAY: xvfb.display } });
  assertCleanExit(result);
  assert.deepEqual(JSON.parse(result.stdout), ['raw_press:LeftCtrl', 'raw_press:F7',
    'press:binding_1', 'raw_release:F7', 'release:binding_1', 'raw_release:LeftCtrl']);
  assert.deepEqual(logLines(result.stderr), [
    'Starting native chordwatch',
    'X11 keyboard watcher started (exclusive=on)',
    'Cannot grab Ctrl+F7: another X client holds it; the binding only listens',
  ]);
  await keys.sync();
  assert.ok(keys.received.includes('press F7'), keys.received.join());  // the other client's grab
});

test('without a display the watcher refuses to start and the host lives on', async () => {
  const env = { ...process.env };
  delete env.DISPLAY;
  const result = await runChild(`
    const w = new x.Chordwatch({ exclusiveMode: true });
    const id = w.register('ctrl+a', { exclusive: true });
    w.start();
    w.stop();  // joins the watcher, so its line is out
    console.log(w.getBindingState(id));
    process.exit(0);
  `, { preamble, env });
  assertCleanExit(result);
  assert.equal(result.stdout.trim(), 'released');
  assert.deepEqual(logLines(result.stderr), [
    'Starting native chordwatch', 'Failed to open X display (is DISPLAY set?)',
  ]);
});

test('losing the X server ends the watcher, not the host', async () => {
  const doomed = await startXvfb();
  try {
    const result = await runChild(`(async () => {
      const keys = await d.startKeyTool({ env: process.env });
      const w = new x.Chordwatch({ exclusiveMode: true });
      const id = w.register('ctrl+space', { exclusive: true });
      await x.startListening(w, keys);
      console.log('listening');
      await require('node:events').once(process.stdin, 'data');
      console.log(w.getBindingState(id));
      w.stop();
      w.start();
      w.stop();
      process.exit(0);
    })();`, {
      preamble,
      env: { ...process.env, DISPLAY: doomed.display },
      onStart: (child) => {
        let stdout = '';
        let stderr = '';
        child.stdout.on('data', (chunk) => { stdout += chunk; });
        child.stderr.on('data', (chunk) => { stderr += chunk; });
        waitFor(() => stdout.includes('listening'), 'the child to listen', 60000)
          .then(() => doomed.stop())
          .then(() => waitFor(() => stderr.includes('Lost the connection'), 'the loss', 60000))
          .then(() => child.stdin.write('go on\n'), () => child.kill());
      },
    });
    assertCleanExit(result);
    assert.deepEqual(result.stdout.trim().split('\n'), ['listening', 'released']);
    assert.deepEqual(logLines(result.stderr).slice(2), [
      'Lost the connection to the X display; stop and start again to listen',
      'Starting native chordwatch',
      'Failed to open X display (is DISPLAY set?)',
    ]);
  } finally {
    await doomed.stop();
  }
});
