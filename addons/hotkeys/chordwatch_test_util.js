'use strict';
// Helpers shared by the add-on's Node tests of the simulated keyboard. The
// add-on's path comes from CHORDWATCH_ADDON (set by CTest), else the test
// build of the module.
const path = require('node:path');
const v8 = require('node:v8');
const vm = require('node:vm');
const { waitFor } = require('../../tests/support/desktop.js');

const addonPath = process.env.CHORDWATCH_ADDON ||
  path.join(__dirname, '..', '..', 'build', 'tests', 'simulated', 'chordwatch.node');
const addon = require(addonPath);
const kb = addon.simulatedKeyboard;

// Platform event types and flag bits.
const KEY_DOWN = 10;
const KEY_UP = 11;
const FLAGS_CHANGED = 12;
const SHIFT = 0x20000;
const CTRL = 0x40000;
const CMD = 0x100000;
const FN = 0x800000;
// Virtual key codes.
const KEY = {
  a: 0, k: 40, j: 38, space: 49, leftCmd: 55, leftShift: 56, leftCtrl: 59,
  fn: 63, leftArrow: 123,
};

function tick() {
  return new Promise((resolve) => setImmediate(resolve));
}

// Starts w and waits until its tap is open, so that posted events reach it.
async function start(w) {
  const before = kb.openTapCount();
  w.start();
  await waitFor(() => kb.openTapCount() > before, 'the tap to open');
}

// Installs a callback that records every event. Built here, away from the
// caller's variables, so the callback keeps nothing but its list alive.
function record(w) {
  const events = [];
  w.setEventCallback((event) => events.push(event));
  return events;
}

// Waits until everything posted so far has been delivered to events: posts a
// key-up of a key nothing binds (carrying the modifier flags the test holds,
// so the pressed modifiers stay), waits for it and takes it off again.
const MARKER_KEYCODE = 105;
async function settle(events, flags = 0) {
  kb.post(KEY_UP, MARKER_KEYCODE, flags);
  await waitFor(() => events.some((e) => e.raw_key === `key_${MARKER_KEYCODE}`),
    'the marker event');
  const at = events.findIndex((e) => e.raw_key === `key_${MARKER_KEYCODE}`);
  events.splice(at, 1);
  return events;
}

// "type:detail" per event, as the C++ tests summarise them.
function summary(events) {
  return events.map((e) => `${e.type}:${e.raw_key || e.binding_id}`);
}

// count started objects with a callback and a binding of "a" that reports
// every release, and taps "a" times times so that events are queued for them.
async function startBusyObjects(count, times) {
  const objects = [];
  for (let i = 0; i < count; ++i) {
    const w = new addon.Chordwatch({ minPressDurationMs: 0 });
    w.register('a');
    record(w);
    await start(w);
    objects.push(w);
  }
  for (let i = 0; i < times; ++i) {
    kb.post(KEY_DOWN, KEY.a);
    kb.post(KEY_UP, KEY.a);
  }
  return objects;
}

// Forces full garbage collections so dropped objects release their callbacks.
let gcFunction = null;
async function collectGarbage() {
  if (!gcFunction) {
    v8.setFlagsFromString('--expose-gc');
    gcFunction = vm.runInNewContext('gc');
  }
  for (let i = 0; i < 4; ++i) {
    gcFunction();
    await tick();
  }
}

module.exports = {
  addon, addonPath, kb, KEY_DOWN, KEY_UP, FLAGS_CHANGED, SHIFT, CTRL, CMD, FN,
  KEY, tick, waitFor, start, record, settle, summary, startBusyObjects,
  collectGarbage,
};
