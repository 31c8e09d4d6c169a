'use strict';
// Helpers of the X11 tests, for the test file and the child processes it
// starts: the real module (CHORDWATCH_ADDON, else build/addons), typed on
// through the key tool of tests/support/desktop.js.
const path = require('node:path');
const { waitFor } = require('../../tests/support/desktop.js');

const addonPath = process.env.CHORDWATCH_ADDON ||
  path.join(__dirname, '..', '..', 'build', 'addons', 'chordwatch.node');
const { Chordwatch } = require(addonPath);

// A key that no test binds: once it has come through, so has everything
// typed before it.
const MARKER = 'Pause';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const count = (list, match) => list.filter(match).length;

function record(w) {
  const events = [];
  w.setEventCallback((event) => events.push(event));
  return events;
}

let markerKeyName = null;  // the marker's key name, once asked

async function markerName(keys) {
  markerKeyName = `key_${1000 + await keys.keycode(MARKER)}`;
  return markerKeyName;
}

// "type:detail" per event, without the marker's.
function summary(events) {
  return events.filter((e) => e.raw_key !== markerKeyName)
    .map((e) => `${e.type}:${e.raw_key || e.binding_id}`);
}

// Starts w and resolves once its tap hears keys, with the events and the
// window's keys so far cleared. The marker is held until heard (or for a
// while), so that the first press heard ends the search and nothing of an
// earlier try is still on its way.
async function startListening(w, keys, events = record(w)) {
  const marker = await markerName(keys);
  w.start();
  let taps = 0;
  const heard = () => events.some((e) => e.type === 'raw_press' && e.raw_key === marker);
  while (!heard()) {
    if (++taps > 200) throw new Error('the tap never heard the keyboard');
    await keys.down(MARKER);
    for (let i = 0; i < 25 && !heard(); ++i) await sleep(2);
    await keys.up(MARKER);
  }
  await waitFor(() => events.some((e) => e.type === 'raw_release' && e.raw_key === marker) &&
    (!keys.hasWindow || count(keys.received, (k) => k === `release ${MARKER}`) === taps),
  'the marker');
  events.length = 0;
  keys.received.length = 0;
  return events;
}

// Waits until everything typed so far has reached the callback (and the
// window), by typing the marker once more.
async function settle(events, keys) {
  const marker = await markerName(keys);
  const isMarker = (e) => e.type === 'raw_release' && e.raw_key === marker;
  const isWindowMarker = (k) => k === `release ${MARKER}`;
  const before = count(events, isMarker);
  const windowBefore = count(keys.received, isWindowMarker);
  await keys.tap(MARKER);
  await waitFor(() => count(events, isMarker) > before &&
    (!keys.hasWindow || count(keys.received, isWindowMarker) > windowBefore), 'the marker');
  keys.received = keys.received.filter((k) => !k.endsWith(` ${MARKER}`));
}

module.exports = { Chordwatch, addonPath, MARKER, sleep, record, summary, startListening, settle };
