'use strict';
// The script-facing class, driven through the simulated keyboard.
const test = require('node:test');
const assert = require('node:assert/strict');
const {
  addon, kb, KEY_DOWN, KEY_UP, FLAGS_CHANGED, CTRL, CMD, SHIFT, FN, KEY, tick,
  start, record, settle, summary, waitFor, collectGarbage,
} = require('./chordwatch_test_util.js');

const { Chordwatch } = addon;

test.beforeEach(() => kb.reset());
// Objects still holding a callback keep the process alive until collected.
test.after(collectGarbage);

test('module exports the class with its seven methods in order', () => {
  assert.equal(typeof Chordwatch, 'function');
  assert.equal(Chordwatch.name, 'Chordwatch');
  assert.deepEqual(Object.getOwnPropertyNames(Chordwatch.prototype), [
    'setEventCallback', 'start', 'stop', 'register', 'unregister', 'clear',
    'getBindingState', 'constructor',
  ]);
  assert.throws(() => Chordwatch(), TypeError);
});

test('argument errors throw the documented errors and change nothing', () => {
  const w = new Chordwatch();
  const typeError = (message) => (e) =>
    e instanceof TypeError && e.message === message;
  assert.throws(() => w.setEventCallback(), typeError('setEventCallback expects a function'));
  assert.throws(() => w.setEventCallback({}), typeError('setEventCallback expects a function'));
  assert.throws(() => w.register(), typeError('register expects combo string'));
  assert.throws(() => w.register(5), typeError('register expects combo string'));
  assert.throws(() => w.register(['a']), typeError('register expects combo string'));
  assert.throws(() => w.unregister(), typeError('unregister expects binding id'));
  assert.throws(() => w.unregister(1), typeError('unregister expects binding id'));
  assert.throws(() => w.getBindingState(), typeError('getBindingState expects binding id'));
  assert.throws(() => w.getBindingState(null), typeError('getBindingState expects binding id'));
  for (const blank of ['', '   ', '+', ' + \t+ ']) {
    assert.throws(() => w.register(blank), (e) =>
      e.constructor === Error && e.message === 'combo is empty');
  }
  // None of the failed calls used up an id.
  assert.equal(w.register('a'), 'binding_1');
});

test('ids count up and are never reused', () => {
  const w = new Chordwatch();
  assert.equal(w.register('ctrl+a'), 'binding_1');
  assert.equal(w.register('ctrl+a'), 'binding_2');
  w.clear();
  assert.equal(w.getBindingState('binding_1'), 'unregistered');
  assert.equal(w.register('b'), 'binding_3');
  w.unregister('binding_3');
  w.unregister('binding_3');
  w.unregister('no such id');
  assert.equal(w.getBindingState('binding_3'), 'unregistered');
  assert.equal(w.register('b'), 'binding_4');
  // Every object counts on its own.
  assert.equal(new Chordwatch().register('b'), 'binding_1');
});

test('event objects carry their properties in order', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const named = w.register('ctrl+space', { name: 'talk' });
  const unnamed = w.register('space');
  await start(w);
  kb.post(FLAGS_CHANGED, KEY.leftCtrl, CTRL, 1000.25);
  kb.post(KEY_DOWN, KEY.space, CTRL, 1000.5);
  kb.post(KEY_UP, KEY.space, CTRL, 1001.0);
  await settle(events, CTRL);
  w.stop();

  assert.deepEqual(summary(events).slice(0, 2), ['raw_press:LeftCtrl', 'raw_press:Space']);
  const byType = (type, id) => events.find((e) => e.type === type && e.binding_id === id);
  assert.deepEqual(Object.keys(events[0]),
    ['type', 'binding_id', 'combo', 'raw_key', 'exclusive', 'timestamp']);
  assert.deepEqual(events[0], {
    type: 'raw_press', binding_id: '', combo: '', raw_key: 'LeftCtrl',
    exclusive: false, timestamp: 1000.25,
  });

  const namedPress = byType('press', named);
  assert.deepEqual(Object.keys(namedPress),
    ['type', 'binding_id', 'combo', 'name', 'exclusive', 'timestamp']);
  assert.deepEqual(namedPress, {
    type: 'press', binding_id: named, combo: 'Ctrl+Space', name: 'talk',
    exclusive: false, timestamp: 1000.5,
  });
  assert.deepEqual(Object.keys(byType('press', unnamed)),
    ['type', 'binding_id', 'combo', 'exclusive', 'timestamp']);

  const release = byType('release', named);
  assert.deepEqual(Object.keys(release),
    ['type', 'binding_id', 'combo', 'name', 'exclusive', 'timestamp', 'duration_s']);
  assert.equal(release.timestamp, 1001.0);
  assert.equal(release.duration_s, 0.5);
  assert.deepEqual(Object.keys(byType('release', unnamed)),
    ['type', 'binding_id', 'combo', 'exclusive', 'timestamp', 'duration_s']);
  assert.deepEqual(Object.keys(events.find((e) => e.type === 'raw_release')),
    ['type', 'binding_id', 'combo', 'raw_key', 'exclusive', 'timestamp']);
  // One input event: the raw event first, then the bindings' events.
  assert.equal(events.length, 7);
  assert.equal(events[4].type, 'raw_release');
});

test('events without an explicit time carry the system clock', async () => {
  const w = new Chordwatch();
  const events = record(w);
  await start(w);
  const before = Date.now() / 1000;
  kb.post(KEY_DOWN, KEY.a);
  const after = Date.now() / 1000;
  await settle(events);
  w.stop();
  assert.equal(events.length, 1);
  assert.ok(events[0].timestamp >= before - 0.001 && events[0].timestamp <= after + 0.001,
    `${events[0].timestamp} not in [${before}, ${after}]`);
});

test('register options: name kept, exclusive only in exclusive mode', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const id = w.register('ctrl+shift+a', { exclusive: true, name: 'dictate' });
  const wrongTypes = w.register('ctrl+shift+a', { exclusive: 'yes', name: 7 });
  // A function counts as an options object; its own name is a string.
  const viaFunction = w.register('ctrl+shift+a', function fromFunction() {});
  await start(w);
  kb.post(FLAGS_CHANGED, KEY.leftCtrl, CTRL, 10);
  kb.post(FLAGS_CHANGED, KEY.leftShift, CTRL | SHIFT, 10.1);
  assert.equal(kb.post(KEY_DOWN, KEY.a, CTRL | SHIFT, 10.2), false);
  await settle(events, CTRL | SHIFT);
  w.stop();
  const presses = new Map(events.filter((e) => e.type === 'press').map((e) => [e.binding_id, e]));
  assert.equal(presses.size, 3);
  assert.deepEqual(presses.get(id), {
    type: 'press', binding_id: id, combo: 'Ctrl+Shift+a', name: 'dictate',
    exclusive: false, timestamp: 10.2,
  });
  assert.equal('name' in presses.get(wrongTypes), false);
  assert.equal(presses.get(wrongTypes).exclusive, false);
  assert.equal(presses.get(viaFunction).name, 'fromFunction');
});

test('minimum press time: default, zero, negative and ignored wrong type', async (t) => {
  const cases = [
    { options: undefined, heldS: 0.05, released: false },
    { options: undefined, heldS: 0.3, released: true },
    { options: { minPressDurationMs: '0' }, heldS: 0.05, released: false },
    { options: { minPressDurationMs: 0 }, heldS: 0, released: true },
    { options: { minPressDurationMs: -250 }, heldS: 0, released: true },
    { options: { minPressDurationMs: 1500 }, heldS: 1.25, released: false },
    { options: { minPressDurationMs: 1500 }, heldS: 1.5, released: true },
  ];
  for (const c of cases) {
    await t.test(`${JSON.stringify(c.options)} held ${c.heldS}s`, async () => {
      const w = new Chordwatch(c.options);
      const events = record(w);
      const id = w.register('space');
      await start(w);
      kb.post(KEY_DOWN, KEY.space, 0, 50);
      kb.post(KEY_UP, KEY.space, 0, 50 + c.heldS);
      await settle(events);
      w.stop();
      const expected = ['raw_press:Space', `press:${id}`, 'raw_release:Space'];
      if (c.released) expected.push(`release:${id}`);
      assert.deepEqual(summary(events), expected);
    });
  }
});

test('auto-repeat sends raw presses but one press', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const id = w.register('cmd+k');
  await start(w);
  kb.post(FLAGS_CHANGED, KEY.leftCmd, CMD, 1);
  for (let i = 0; i < 4; ++i) kb.post(KEY_DOWN, KEY.k, CMD, 1.1 + i / 100);
  kb.post(KEY_UP, KEY.k, CMD, 1.5);
  await settle(events, CMD);
  w.stop();
  assert.deepEqual(summary(events), [
    'raw_press:LeftMeta', 'raw_press:k', `press:${id}`, 'raw_press:k',
    'raw_press:k', 'raw_press:k', 'raw_release:k', `release:${id}`,
  ]);
});

test('the Fn flag counts only while Fn is physically down', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const id = w.register('fn+leftarrow');
  const arrow = w.register('fn+key_123');
  assert.equal(id, 'binding_1');
  await start(w);
  kb.post(KEY_DOWN, KEY.leftArrow, FN, 1);
  kb.post(KEY_UP, KEY.leftArrow, FN, 1.2);
  kb.setKeyDown(KEY.fn, true);
  kb.post(KEY_DOWN, KEY.leftArrow, FN, 2);
  await settle(events, FN);
  w.stop();
  // "leftarrow" is no key name at all; the arrow is key_123.
  assert.deepEqual(summary(events), [
    'raw_press:key_123', 'raw_release:key_123', 'raw_press:key_123', `press:${arrow}`,
  ]);
});

test('exclusive mode swallows key-down and key-up of exclusive bindings only', async () => {
  const exclusiveMode = new Chordwatch({ exclusiveMode: true });
  const events = record(exclusiveMode);
  const id = exclusiveMode.register('cmd+k', { exclusive: true });
  await start(exclusiveMode);
  assert.equal(kb.post(FLAGS_CHANGED, KEY.leftCmd, CMD, 1), false);
  assert.equal(kb.post(KEY_DOWN, KEY.k, CMD, 1.1), true);
  assert.equal(kb.post(KEY_UP, KEY.k, CMD, 1.3), true);
  assert.equal(kb.post(FLAGS_CHANGED, KEY.leftCmd, 0, 1.4), false);
  assert.equal(kb.post(KEY_DOWN, KEY.k, 0, 1.5), false);
  assert.equal(kb.post(KEY_UP, KEY.k, 0, 1.6), false);
  await settle(events);
  const press = events.find((e) => e.type === 'press');
  assert.equal(press.binding_id, id);
  assert.equal(press.exclusive, true);

  // A binding registered without the option swallows nothing.
  exclusiveMode.clear();
  exclusiveMode.register('cmd+k');
  kb.post(FLAGS_CHANGED, KEY.leftCmd, CMD, 2);
  assert.equal(kb.post(KEY_DOWN, KEY.k, CMD, 2.1), false);
  assert.equal(kb.post(KEY_UP, KEY.k, CMD, 2.2), false);
  kb.post(FLAGS_CHANGED, KEY.leftCmd, 0, 2.3);
  exclusiveMode.stop();

  // Without exclusive mode the tap only listens.
  const listener = new Chordwatch();
  listener.register('cmd+k', { exclusive: true });
  await start(listener);
  kb.post(FLAGS_CHANGED, KEY.leftCmd, CMD, 3);
  assert.equal(kb.post(KEY_DOWN, KEY.k, CMD, 3.1), false);
  assert.equal(kb.post(KEY_UP, KEY.k, CMD, 3.2), false);
  listener.stop();
});

test('stop while pressed sends no release; a restart presses anew', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const id = w.register('ctrl+space');
  await start(w);
  kb.post(FLAGS_CHANGED, KEY.leftCtrl, CTRL, 1);
  kb.post(KEY_DOWN, KEY.space, CTRL, 1.1);
  await settle(events, CTRL);
  assert.deepEqual(summary(events).slice(-1), [`press:${id}`]);
  w.stop();
  w.stop();  // a second stop is harmless
  events.length = 0;

  await start(w);
  kb.post(KEY_UP, KEY.space, CTRL, 2);
  kb.post(KEY_DOWN, KEY.space, CTRL, 3);
  kb.post(KEY_UP, KEY.space, CTRL, 3.5);
  await settle(events, CTRL);
  w.stop();
  assert.deepEqual(summary(events), [
    'raw_release:Space', 'raw_press:Space', `press:${id}`, 'raw_release:Space', `release:${id}`,
  ]);
});

test('nothing is delivered after stop, not even events already queued', async () => {
  const w = new Chordwatch({ minPressDurationMs: 0 });
  const events = record(w);
  w.register('a');
  await start(w);
  // Post waits until the watcher handled each event, so all of them are
  // queued for delivery before this thread gets back to its event loop.
  for (let i = 0; i < 100; ++i) {
    kb.post(KEY_DOWN, KEY.a, 0, i);
    kb.post(KEY_UP, KEY.a, 0, i + 0.5);
  }
  w.stop();
  for (let i = 0; i < 20; ++i) await tick();
  await new Promise((resolve) => setTimeout(resolve, 20));
  assert.deepEqual(events, []);
  // Stopped objects take no events at all.
  assert.equal(kb.openTapCount(), 0);
  assert.equal(kb.post(KEY_DOWN, KEY.a, 0, 500), false);

  // The next run delivers again.
  await start(w);
  kb.post(KEY_DOWN, KEY.j, 0, 600);
  await settle(events);
  w.stop();
  assert.deepEqual(summary(events), ['raw_press:j']);
});

test('events taken without a callback are dropped, not kept for later', async () => {
  const w = new Chordwatch();
  w.register('a');
  await start(w);
  kb.post(KEY_DOWN, KEY.a, 0, 1);
  const events = record(w);
  kb.post(KEY_UP, KEY.a, 0, 1.5);
  await settle(events);
  w.stop();
  assert.deepEqual(summary(events), ['raw_release:a', 'release:binding_1']);
});

test('a replaced callback hears no later events', async () => {
  const w = new Chordwatch();
  const first = record(w);
  await start(w);
  kb.post(KEY_DOWN, KEY.a, 0, 1);
  await settle(first);
  const second = record(w);
  kb.post(KEY_UP, KEY.a, 0, 2);
  kb.post(KEY_DOWN, KEY.j, 0, 3);
  await settle(second);
  for (let i = 0; i < 10; ++i) await tick();
  w.stop();
  assert.deepEqual(summary(first), ['raw_press:a']);
  assert.deepEqual(summary(second), ['raw_release:a', 'raw_press:j']);
});

test('getBindingState reads the physical keyboard', async () => {
  const w = new Chordwatch();
  const events = record(w);
  const id = w.register('ctrl+shift+a');
  const fn = w.register('fn+space');
  assert.equal(w.getBindingState(id), 'released');
  kb.setFlags(CTRL | SHIFT);
  kb.setKeyDown(KEY.a, true);
  // Works without start, and sends nothing.
  assert.equal(w.getBindingState(id), 'pressed');
  kb.setKeyDown(KEY.space, true);
  kb.setFlags(FN);
  assert.equal(w.getBindingState(fn), 'released');
  kb.setKeyDown(KEY.fn, true);
  assert.equal(w.getBindingState(fn), 'pressed');

  // The pressed keys it found make the binding pressed at the next event.
  await start(w);
  kb.post(KEY_DOWN, KEY.j, CTRL | SHIFT, 5);
  await settle(events, CTRL | SHIFT);
  w.stop();
  assert.deepEqual(summary(events), ['raw_press:j', `press:${id}`]);
});

test('every started object sees the keyboard', async () => {
  const first = new Chordwatch();
  const second = new Chordwatch();
  const firstEvents = record(first);
  const secondEvents = record(second);
  first.register('a');
  await start(first);
  await start(second);
  first.start();  // already started: no second tap
  assert.equal(kb.openTapCount(), 2);
  kb.post(KEY_DOWN, KEY.a, 0, 1);
  await settle(firstEvents);
  await settle(secondEvents);
  first.stop();
  second.stop();
  assert.deepEqual(summary(firstEvents), ['raw_press:a', 'press:binding_1']);
  assert.deepEqual(summary(secondEvents), ['raw_press:a']);
});

test('the callback may stop the object and replace itself', async () => {
  const w = new Chordwatch();
  const seen = [];
  w.register('a');
  w.setEventCallback((event) => {
    seen.push(event.type);
    if (event.type === 'press') {
      w.stop();
      w.setEventCallback((later) => seen.push(`late ${later.type}`));
    }
  });
  await start(w);
  kb.post(KEY_DOWN, KEY.a, 0, 1);
  kb.post(KEY_UP, KEY.a, 0, 2);
  await waitFor(() => kb.openTapCount() === 0, 'the stop from the callback');
  for (let i = 0; i < 10; ++i) await tick();
  // The release was taken before the stop but is not delivered after it.
  assert.deepEqual(seen, ['raw_press', 'press']);
  // Drop the callbacks that refer to w, so that w can be collected.
  record(w);
});
