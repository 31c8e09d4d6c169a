'use strict';
// Script-facing tests of the focusprobe add-on over simulated accessibility
// trees, installed through the add-on's test-only hook.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const addonPath = process.env.FOCUSPROBE_ADDON ||
  path.join(__dirname, '..', '..', 'build', 'tests', 'focusprobe_simulated.node');
const typingsPath = process.env.FOCUSPROBE_TYPINGS || path.join(__dirname, 'focusprobe.d.ts');
const probe = require(addonPath);

const WINDOW_INFO_KEYS = ['appName', 'windowTitle', 'canInput'];
const CANDIDATE_KEYS = ['value', 'role', 'rawX', 'rawY', 'x', 'y', 'depth'];
const DEBUG_KEYS = ['accessibilityTrusted', 'focusedWindowError', 'focusedWindowFound',
  'visitedCount', 'childFetchErrorCount', 'candidateCount'];
const API_DISABLED = -25211;

const text = (role, value, x, y, extra = {}) =>
  ({ AXRole: role, AXValue: value, AXPosition: { $point: [x, y] }, ...extra });

// A focused application "Notes" whose focused window "Groceries" is at (100, 50).
function notesTree(children, { appTitle = 'Notes', windows = [] } = {}) {
  const app = {
    AXFocusedWindow: {
      AXRole: 'AXWindow', AXTitle: 'Groceries', AXPosition: { $point: [100, 50] },
      AXChildren: children,
    },
  };
  if (appTitle !== null) app.AXTitle = appTitle;
  return {
    trusted: true,
    systemWide: { AXFocusedApplication: app, AXFocusedUIElement: { AXRole: 'AXTextArea' } },
    windows,
  };
}

function install(description) {
  probe._setSimulatedAccessibility(description);
}

test('a freshly loaded add-on behaves as without the accessibility permission', () => {
  assert.equal(probe.getActiveApp(), null);
  assert.deepEqual(probe.getFocusedWindowTextCandidates(), []);
  const debug = probe.getFocusedWindowTextProbeDebug();
  assert.deepEqual(Object.keys(debug), DEBUG_KEYS);
  assert.deepEqual(debug, {
    accessibilityTrusted: false, focusedWindowError: API_DISABLED, focusedWindowFound: false,
    visitedCount: 0, childFetchErrorCount: 0, candidateCount: 0,
  });
});

test('exports the three functions, each named after its property', () => {
  for (const name of ['getActiveApp', 'getFocusedWindowTextCandidates',
    'getFocusedWindowTextProbeDebug']) {
    assert.equal(typeof probe[name], 'function', name);
    assert.equal(probe[name].name, name);
  }
});

test('getActiveApp reports the application, its window and canInput in order', () => {
  install(notesTree([]));
  const app = probe.getActiveApp();
  assert.deepEqual(Object.keys(app), WINDOW_INFO_KEYS);
  assert.deepEqual(app, { appName: 'Notes', windowTitle: 'Groceries', canInput: true });
  // Arguments are ignored.
  assert.deepEqual(probe.getActiveApp('ignored', 42), app);
});

test('getActiveApp falls back to the window list, and is null without any name', () => {
  const windows = [{ layer: 25, ownerName: 'Control Center', name: 'Clock' },
    { layer: 0, ownerName: 'Mail', name: 'Inbox' }];
  install(notesTree([], { appTitle: null, windows }));
  assert.deepEqual(probe.getActiveApp(),
    { appName: 'Mail', windowTitle: 'Groceries', canInput: true });

  install({ trusted: true, systemWide: {}, windows: [{ layer: 3, ownerName: 'Dock' }] });
  assert.equal(probe.getActiveApp(), null);

  install(null);
  assert.equal(probe.getActiveApp(), null);
});

test('candidates come as objects in reading order with relative positions', () => {
  install(notesTree([
    text('AXStaticText', 'second', 130.5, 80.25),
    { AXRole: 'AXGroup', AXChildren: [text('AXTextField', 'first', 110, 60)] },
    text('AXTextArea', 'second', 105, 90),  // repeated value, later in reading order
    { AXRole: 'AXStaticText', AXValue: '', AXTitle: 'OK' },
  ]));
  const candidates = probe.getFocusedWindowTextCandidates();
  assert.ok(Array.isArray(candidates));
  for (const candidate of candidates) {
    assert.deepEqual(Object.keys(candidate), CANDIDATE_KEYS);
    assert.ok(Number.isInteger(candidate.depth));
  }
  assert.deepEqual(candidates, [
    { value: 'OK', role: 'AXStaticText', rawX: 0, rawY: 0, x: 0, y: 0, depth: 1 },
    { value: 'first', role: 'AXTextField', rawX: 110, rawY: 60, x: 10, y: 10, depth: 2 },
    { value: 'second', role: 'AXStaticText', rawX: 130.5, rawY: 80.25, x: 30.5, y: 30.25,
      depth: 1 },
  ]);
});

test('the debug object counts a full probe', () => {
  const children = [];
  for (let i = 0; i < 2000; i++) children.push(text('AXStaticText', `t${i}`, 100, 50 + i));
  children[0].AXChildren = { $error: -25205 };  // a failed child fetch
  children[1].AXChildren = null;                // succeeded without a value
  install(notesTree(children));
  const debug = probe.getFocusedWindowTextProbeDebug();
  assert.deepEqual(Object.keys(debug), DEBUG_KEYS);
  assert.deepEqual(debug, {
    accessibilityTrusted: true, focusedWindowError: 0, focusedWindowFound: true,
    visitedCount: 1501, childFetchErrorCount: 2, candidateCount: 1500,
  });
  assert.equal(probe.getFocusedWindowTextCandidates().length, 1500);
});

test('a missing focused window gives no candidates and its error code', () => {
  install({
    trusted: false,
    systemWide: { AXFocusedApplication: { AXTitle: 'Notes', AXFocusedWindow: { $error: -25212 } } },
  });
  assert.deepEqual(probe.getFocusedWindowTextCandidates(), []);
  assert.deepEqual(probe.getFocusedWindowTextProbeDebug(), {
    accessibilityTrusted: false, focusedWindowError: -25212, focusedWindowFound: false,
    visitedCount: 0, childFetchErrorCount: 0, candidateCount: 0,
  });
});

test('text survives the trip through UTF-16 and UTF-8 unchanged', () => {
  const value = 'Grüße, 日本語 😀 \u0000 end';
  install(notesTree([text('AXTextArea', value, 110, 60)], { appTitle: 'Café ☕' }));
  assert.equal(probe.getFocusedWindowTextCandidates()[0].value, value);
  assert.equal(probe.getActiveApp().appName, 'Café ☕');
});

test('an emoji at the cut is dropped whole, with one warning line', () => {
  const script = `
    const probe = require(${JSON.stringify(addonPath)});
    const value = 'a'.repeat(511) + '\\u{1F600}' + 'b'.repeat(100);
    probe._setSimulatedAccessibility({ systemWide: { AXFocusedApplication: { AXFocusedWindow: {
      AXChildren: [{ AXRole: 'AXStaticText', AXValue: value }] } } } });
    process.stdout.write(JSON.stringify(probe.getFocusedWindowTextCandidates()));`;
  const child = spawnSync(process.execPath, ['-e', script], { encoding: 'utf8' });
  assert.equal(child.status, 0, child.stderr);
  const [candidate] = JSON.parse(child.stdout);
  assert.equal(candidate.value, 'a'.repeat(511) + '...');
  assert.equal(child.stderr,
    '[FocusProbe][AXWarn] Truncated AX string from 613 to 512 UTF-16 chars\n');
});

test('results are own properties even when Object.prototype has setters', () => {
  install(notesTree([text('AXStaticText', 'hello', 110, 60)]));
  const trapped = ['appName', 'rawX', 'candidateCount'];
  for (const key of trapped) {
    Object.defineProperty(Object.prototype, key, {
      __proto__: null, set() { throw new Error(`prototype setter of ${key} ran`); }, configurable: true,
    });
  }
  try {
    assert.ok(Object.hasOwn(probe.getActiveApp(), 'appName'));
    assert.ok(Object.hasOwn(probe.getFocusedWindowTextCandidates()[0], 'rawX'));
    assert.ok(Object.hasOwn(probe.getFocusedWindowTextProbeDebug(), 'candidateCount'));
  } finally {
    for (const key of trapped) delete Object.prototype[key];
  }
});

test('the test hook rejects malformed trees with a TypeError', () => {
  assert.throws(() => install(5), TypeError);
  assert.throws(() => install({ systemWide: { AXPosition: { $point: [1] } } }), TypeError);
  assert.throws(() => install({ windows: 'none' }), TypeError);
  const cycle = {};
  cycle.AXFocusedApplication = cycle;
  assert.throws(() => install({ systemWide: cycle }), TypeError);
});

test('the typings declare exactly the functions and property orders of the add-on', () => {
  const typings = fs.readFileSync(typingsPath, 'utf8');
  const fields = (name) => {
    const body = typings.match(new RegExp(`interface ${name} \\{([^}]*)\\}`))[1];
    return [...body.matchAll(/^\s*(\w+)\??:/gm)].map((m) => m[1]);
  };
  assert.deepEqual(fields('WindowInfo'), WINDOW_INFO_KEYS);
  assert.deepEqual(fields('TextCandidate'), CANDIDATE_KEYS);
  assert.deepEqual(fields('TextProbeDebug'), DEBUG_KEYS);
  const declared = [...typings.matchAll(/export function (\w+)\(\)/g)].map((m) => m[1]);
  const exported = Object.keys(probe).filter((name) => !name.startsWith('_'));
  assert.deepEqual(declared, exported);
});
