'use strict';
// The focusprobe module hosts load, on private X11 desktops: Xvfb, a session
// bus, the accessibility bus and registry, openbox and a GTK 3 window
// (tests/support/text_window.py). The module runs in a node child
// (probe_host.js), as in a host, because libatspi binds a process to the
// first accessibility bus it meets.
const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const desktopSupport = require('../../tests/support/desktop.js');

const {
  startDesktop, startInteractive, startTextWindow, startXvfb, startSessionBus, waitFor,
  run, gdbusCall, descendants, makeRuntimeDir, stopAll,
} = desktopSupport;

const addonPath = process.env.FOCUSPROBE_ADDON ||
  path.join(__dirname, '..', '..', 'build', 'addons', 'focusprobe.node');
const API_DISABLED = -25211;
const NO_VALUE = -25212;
const LONG_TEXT_CUT = `${'x'.repeat(511)}...`;
const LONG_TEXT_WARNING = '[FocusProbe][AXWarn] Truncated AX string from 613 to 512 UTF-16 chars';

const running = [];
after(async () => {
  await stopAll(running.splice(0));
});

// The module in a host process with environment `env`.
async function startHost(env) {
  const host = await startInteractive('probe_host.js', process.execPath,
    [path.join(__dirname, 'probe_host.js')], { ...env, FOCUSPROBE_ADDON: addonPath });
  running.push(host);
  host.call = async (name, timeoutMs) => JSON.parse(await host.request(name, timeoutMs)).result;
  host.timed = async (name, timeoutMs) => JSON.parse(await host.request(name, timeoutMs));
  host.warnings = () => host.stderr().split('\n').filter((line) => line === LONG_TEXT_WARNING).length;
  return host;
}

// A helper program's output; it must succeed.
async function exec(command, args, env) {
  const result = await run(command, args, env);
  assert.equal(result.code, 0, `${command} ${args.join(' ')}: ${result.stderr}`);
  return result.stdout;
}

// What every function gives without an accessibility bus; the host must live
// on (libatspi would end it: it aborts when it finds no bus).
async function assertNothingFoundAndAlive(env) {
  const host = await startHost(env);
  assert.equal(await host.call('getActiveApp'), null);
  assert.deepEqual(await host.call('getFocusedWindowTextCandidates'), []);
  assert.deepEqual(await host.call('getFocusedWindowTextProbeDebug'), {
    accessibilityTrusted: false, focusedWindowError: API_DISABLED, focusedWindowFound: false,
    visitedCount: 0, childFetchErrorCount: 0, candidateCount: 0,
  });
  // Still answering after every function ran.
  assert.ok(JSON.parse(await host.request('exports')).exports.includes('getActiveApp'));
  await host.stop();
  assert.equal(host.child.signalCode, 'SIGTERM');
}

// The environment of a host outside any desktop.
function bareEnv(runtimeDir) {
  const env = { ...process.env, XDG_RUNTIME_DIR: runtimeDir };
  for (const name of ['DISPLAY', 'WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS',
    'AT_SPI_BUS_ADDRESS']) {
    delete env[name];
  }
  return env;
}

test('without an accessibility bus the functions find nothing and the host lives on', async (t) => {
  const runtimeDir = makeRuntimeDir('focus-bare');
  t.after(() => fs.rmSync(runtimeDir, { recursive: true, force: true }));

  await t.test('no session bus, no display', () => assertNothingFoundAndAlive(bareEnv(runtimeDir)));

  await t.test('an accessibility bus address where nothing listens', () =>
    assertNothingFoundAndAlive({
      ...bareEnv(runtimeDir), AT_SPI_BUS_ADDRESS: `unix:path=${runtimeDir}/no-such-bus`,
    }));

  await t.test('a session bus without an accessibility bus, and nothing started on it', async () => {
    const bus = await startSessionBus();
    running.push(bus);
    await assertNothingFoundAndAlive({ ...bareEnv(runtimeDir), DBUS_SESSION_BUS_ADDRESS: bus.address });
    assert.deepEqual(descendants(bus.pid), []);
    await bus.stop();
  });

  await t.test('a display whose root window names a bus that is gone', async () => {
    const xvfb = await startXvfb();
    running.push(xvfb);
    await exec('xprop', ['-root', '-f', 'AT_SPI_BUS', '8s', '-set', 'AT_SPI_BUS',
      `unix:path=${runtimeDir}/gone`], xvfb.env);
    await assertNothingFoundAndAlive({ ...bareEnv(runtimeDir), DISPLAY: xvfb.display });
    await xvfb.stop();
  });
});

test('on a desktop with a GTK window', async (t) => {
  const desktop = await startDesktop();
  running.push(desktop);
  const app = await startTextWindow(desktop);
  running.push(app);
  const host = await startHost(desktop.envFor(process.env));
  // The application registers on the accessibility bus, and windows become
  // active, on their own time; until then the names may come from the X11
  // window list (its class, "Text-window").
  const activeApp = () => waitFor(async () => {
    const found = await host.call('getActiveApp');
    const ready = found && found.appName === 'text-window' && found.windowTitle === activeApp.title;
    return ready ? found : null;
  }, `active window "${activeApp.title}"`);
  activeApp.title = 'Groceries';

  await t.test('getActiveApp names the application and window; the focused entry takes input',
    async () => {
      assert.deepEqual(await activeApp(),
        { appName: 'text-window', windowTitle: 'Groceries', canInput: true });
    });

  await t.test('the module hosts load has no way to install a simulated tree', async () => {
    assert.deepEqual(JSON.parse(await host.request('exports')).exports,
      ['getActiveApp', 'getFocusedWindowTextCandidates', 'getFocusedWindowTextProbeDebug']);
  });

  await t.test('texts come in reading order with roles and window-relative positions', async () => {
    const warningsBefore = host.warnings();
    const candidates = await host.call('getFocusedWindowTextCandidates');
    assert.deepEqual(candidates.map(({ value, role }) => ({ value, role })), [
      { value: 'Shopping list', role: 'AXStaticText' },
      { value: 'milk', role: 'AXTextField' },
      { value: 'eggs\nbread', role: 'AXTextArea' },
      { value: LONG_TEXT_CUT, role: 'AXStaticText' },
    ]);
    // The password entry gives nothing: its text is never read.
    assert.equal(host.warnings() - warningsBefore, 1);
    // One window origin for all, and it is not the screen's.
    const originX = candidates[0].rawX - candidates[0].x;
    const originY = candidates[0].rawY - candidates[0].y;
    assert.ok(originX > 0 && originY > 0, `window origin ${originX},${originY}`);
    for (const candidate of candidates) {
      assert.equal(candidate.rawX - candidate.x, originX);
      assert.equal(candidate.rawY - candidate.y, originY);
      assert.ok(candidate.x >= 0 && candidate.y >= 0, JSON.stringify(candidate));
      assert.equal(candidate.depth, 2);
    }
    const ys = candidates.map((candidate) => candidate.y);
    assert.deepEqual([...ys].sort((a, b) => a - b), ys);
    assert.equal(new Set(ys).size, ys.length);
  });

  await t.test('the debug object counts the probe', async () => {
    assert.deepEqual(await host.call('getFocusedWindowTextProbeDebug'), {
      accessibilityTrusted: true, focusedWindowError: 0, focusedWindowFound: true,
      // The frame, its box, a label, two entries, the text view, the long
      // label and the panel.
      visitedCount: 8, childFetchErrorCount: 0, candidateCount: 4,
    });
  });

  await t.test('an application that stops answering mid-walk fails that child fetch', async () => {
    // The panel, visited last, hangs the application when asked for its
    // children.
    assert.equal(await app.request('stall'), 'ok');
    const probe = await host.timed('getFocusedWindowTextProbeDebug', 30000);
    assert.deepEqual(probe.result, {
      accessibilityTrusted: true, focusedWindowError: 0, focusedWindowFound: true,
      visitedCount: 8, childFetchErrorCount: 1, candidateCount: 4,
    });
    assert.ok(probe.ms < 5000, `probe took ${probe.ms} ms`);
    // Answering again once the stall is over.
    assert.equal(await app.request('text', 30000), 'milk');
  });

  await t.test('text typed into the entry shows on the next probe', async () => {
    await exec('xdotool', ['key', '--clearmodifiers', 'End'], desktop.env);
    await exec('xdotool', ['type', '--delay', '15', ' and honey'], desktop.env);
    await waitFor(async () => (await app.request('text')) === 'milk and honey', 'typed text');
    const values = (await host.call('getFocusedWindowTextCandidates')).map((c) => c.value);
    assert.ok(values.includes('milk and honey'), values.join(' | '));
    assert.ok(!values.includes('milk'));
  });

  await t.test('a second window that becomes active is probed instead', async () => {
    assert.equal(await app.request('second'), 'ok');
    activeApp.title = 'Second';
    assert.deepEqual(await activeApp(),
      { appName: 'text-window', windowTitle: 'Second', canInput: true });
    const candidates = await host.call('getFocusedWindowTextCandidates');
    assert.deepEqual(candidates.map(({ value, role }) => ({ value, role })),
      [{ value: 'second entry', role: 'AXTextField' }]);
    assert.equal(await app.request('close'), 'ok');
    activeApp.title = 'Groceries';
    await activeApp();
  });

  await t.test('accessibility turned off on the session bus is not trusted', async () => {
    const setEnabled = (on) => gdbusCall(desktop.env.DBUS_SESSION_BUS_ADDRESS, {
      dest: 'org.a11y.Bus', path: '/org/a11y/bus', method: 'org.freedesktop.DBus.Properties.Set',
      args: ["'org.a11y.Status'", "'IsEnabled'", `<${on}>`] });
    await setEnabled(false);
    try {
      const debug = await host.call('getFocusedWindowTextProbeDebug');
      assert.equal(debug.accessibilityTrusted, false);
    } finally {
      await setEnabled(true);
    }
    assert.equal((await host.call('getFocusedWindowTextProbeDebug')).accessibilityTrusted, true);
  });

  await t.test('a hung application costs one timeout, not the host', async () => {
    process.kill(app.pid, 'SIGSTOP');
    try {
      const probe = await host.timed('getFocusedWindowTextProbeDebug', 30000);
      assert.deepEqual(probe.result, {
        accessibilityTrusted: true, focusedWindowError: NO_VALUE, focusedWindowFound: false,
        visitedCount: 0, childFetchErrorCount: 0, candidateCount: 0,
      });
      // libatspi alone would wait 15 s for a newly seen application, 25 s
      // for its bus; one probe is cut at 1.5 s.
      assert.ok(probe.ms < 5000, `probe took ${probe.ms} ms`);
      // The window list still names it.
      assert.deepEqual(await host.call('getActiveApp', 30000),
        { appName: 'Text-window', windowTitle: 'Groceries', canInput: false });
    } finally {
      process.kill(app.pid, 'SIGCONT');
    }
    await activeApp();
  });

  await t.test('the stale list of a window manager that died is read safely', async () => {
    assert.equal(await app.request('second'), 'ok');
    activeApp.title = 'Second';
    await activeApp();
    const openbox = desktop.servers.find((server) => server.name === 'openbox');
    process.kill(openbox.pid, 'SIGKILL');
    await openbox.exited;
    // The list still names "Second" after it is gone.
    assert.equal(await app.request('close'), 'ok');
    assert.match(await exec('xprop', ['-root', '_NET_CLIENT_LIST_STACKING'], desktop.env), /, /);
    const found = await host.call('getActiveApp');
    assert.equal(found.windowTitle, 'Groceries');
    assert.ok(JSON.parse(await host.request('exports')).exports.length > 0);
  });

  await t.test('everything the test started ends with it', async () => {
    await stopAll(running.splice(0));
    assert.deepEqual(descendants(process.pid), []);
  });
});
