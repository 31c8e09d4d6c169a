'use strict';
// beaconsweep on Linux, end to end: the shipped program scans through a BlueZ
// stand-in (python-dbusmock with bluez_mock_template.py) on a private system
// bus. Checked: both output streams byte for byte, how the process ends, and
// the calls the stand-in recorded.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const os = require('node:os');
const path = require('node:path');
const desktop = require('../../tests/support/desktop.js');

const PROGRAM = process.env.BEACONSWEEP_PROGRAM;
const TEMPLATE = path.join(__dirname, 'bluez_mock_template.py');
const ADAPTER = '/org/bluez/hci0';
const HEART_RATE = '0000180d-0000-1000-8000-00805f9b34fb';
const EDDYSTONE = '0000feaa-0000-1000-8000-00805f9b34fb';
const KILL_AFTER_MS = 30000; // a hung program must not hang the suite

// beaconsweep with `busAddress` as its system bus. `until(stream, text)`
// resolves once that stream holds `text`; `done` with how the process ended.
function startProgram(args, busAddress) {
  const started = Date.now();
  const child = spawn(PROGRAM, args, {
    env: { ...desktop.cleanEnv(), DBUS_SYSTEM_BUS_ADDRESS: busAddress },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const chunks = { out: [], err: [] };
  const text = (stream) => Buffer.concat(chunks[stream]).toString('utf8');
  const watchers = new Set();
  const notify = () => { for (const watcher of watchers) watcher(); };
  child.stdout.on('data', (chunk) => { chunks.out.push(chunk); notify(); });
  child.stderr.on('data', (chunk) => { chunks.err.push(chunk); notify(); });
  const killer = setTimeout(() => child.kill('SIGKILL'), KILL_AFTER_MS);
  let closed = false;
  const done = new Promise((resolve) => child.once('close', (code, signal) => {
    clearTimeout(killer);
    closed = true;
    notify();
    resolve({ out: text('out'), err: text('err'), code, signal, elapsedMs: Date.now() - started });
  }));
  const until = (stream, wanted) => new Promise((resolve, reject) => {
    const check = () => {
      if (text(stream).includes(wanted)) resolve();
      else if (closed) reject(new Error(`no ${JSON.stringify(wanted)} in std${stream}`));
      else return;
      watchers.delete(check);
    };
    watchers.add(check);
    check();
  });
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    await done;
  };
  return { child, done, until, stop };
}

// A private system bus, with the stand-in when `parameters` are given.
async function withBluez(parameters, body) {
  const servers = [await desktop.startDbus()];
  const address = servers[0].address;
  try {
    if (parameters) {
      servers.push(await desktop.startDbusmock(
        { address, template: TEMPLATE, parameters, busName: 'org.bluez' }));
    }
    await body(address, servers[1]);
  } finally {
    await desktop.stopAll(servers);
  }
}

// A string as GVariant text, every character outside printable ASCII escaped.
const gv = (s) => `'${s.replace(/[\\']/g, '\\$&').replace(/[^\x20-\x7e]/gu,
  (c) => `\\U${c.codePointAt(0).toString(16).padStart(8, '0')}`)}'`;
const call = (address, objectPath, method, ...args) =>
  desktop.gdbusCall(address, { dest: 'org.bluez', path: objectPath, method, args });
const addDevice = (address, mac, props) =>
  call(address, '/', 'org.bluez.Mock.AddLEDevice', gv(mac), props);
const advertise = (address, mac, props) =>
  call(address, '/', 'org.bluez.Mock.Advertise', gv(mac), props);
const recorded = (address, method) =>
  call(address, ADAPTER, 'org.freedesktop.DBus.Mock.GetMethodCalls', gv(method));
const callCount = (reply) => (reply.match(/\((uint64 )?\d+, (@av )?\[/g) || []).length;
const line = (id, name, service = '180D') =>
  `{"id":"${id}","name":"${name}","serviceUuids":["${service}"]}\n`;

test('devices heard are printed once each, in order; SIGTERM stops discovery', async () => {
  const cached = [
    { address: '11:00:00:00:00:05', name: 'Café ☕', uuids: [HEART_RATE] },
    { address: '11:00:00:00:00:06', name: 'Polar Stale', uuids: [HEART_RATE] },
  ];
  await withBluez({ cached }, async (address, mock) => {
    const run = startProgram(['--service', '180D', '--timeout-ms', '30000',
      '--name-prefix', 'Polar', '--name-prefix', 'Caf'], address);
    try {
      await mock.waitForLog(/ StartDiscovery$/m);
      const heartRate = `<[${gv(HEART_RATE)}]>`;
      await addDevice(address, 'AA:00:00:00:00:01', `{'Name': <'Polar H10'>, 'RSSI': <-60>, ` +
        `'UUIDs': ${heartRate}, 'ServiceData': <{${gv(HEART_RATE)}: <[byte 0x40]>}>, ` +
        `'ManufacturerData': <{76: <[byte 0x02, 0x15]>}>}`);
      await addDevice(address, 'AA:00:00:00:00:02',
        `{'Name': <'Polar Other'>, 'RSSI': <-61>, 'UUIDs': <[${gv(EDDYSTONE)}]>}`);
      await addDevice(address, 'AA:00:00:00:00:03', `{'Name': <${gv('Polar\t"Q"/\\ é\x01')}>, ` +
        `'RSSI': <-62>, 'UUIDs': <[${gv(EDDYSTONE)}, ${gv(HEART_RATE)}]>}`);
      await addDevice(address, 'AA:00:00:00:00:04', `{'Name': <'Garmin'>, 'UUIDs': ${heartRate}}`);
      await advertise(address, 'AA:00:00:00:00:01', "{'RSSI': <-50>}");
      await advertise(address, '11:00:00:00:00:05', "{'RSSI': <-70>}");
      await advertise(address, 'AA:00:00:00:00:04', "{'Name': <'Polar D'>}");
      // A change that no advertisement makes is no sighting.
      await call(address, `${ADAPTER}/dev_11_00_00_00_00_06`,
        'org.freedesktop.DBus.Mock.UpdateProperties', "'org.bluez.Device1'",
        "{'Connected': <true>}");
      await advertise(address, 'AA:00:00:00:00:02',
        `{'UUIDs': <[${gv(EDDYSTONE)}, ${gv(HEART_RATE)}]>}`);
      // Signals reach the program in order: once the last line is there,
      // every earlier sighting has been handled.
      await run.until('out', line('AA:00:00:00:00:02', 'Polar Other'));
      run.child.kill('SIGTERM');
      const result = await run.done;
      assert.equal(result.out,
        line('AA:00:00:00:00:01', 'Polar H10') +
        line('AA:00:00:00:00:03', 'Polar\\t\\"Q\\"\\/\\\\ é\\u0001') +
        line('11:00:00:00:00:05', 'Café ☕') +
        line('AA:00:00:00:00:04', 'Polar D') +
        line('AA:00:00:00:00:02', 'Polar Other'));
      assert.equal(result.err, '');
      assert.equal(result.signal, 'SIGTERM');
      await mock.waitForLog(/ StopDiscovery$/m);
      assert.equal(callCount(await recorded(address, 'StopDiscovery')), 1);
    } finally {
      await run.stop();
    }
  });
});

test('the deadline ends the scan: typed filter, unnamed device, StopDiscovery', async () => {
  await withBluez({}, async (address, mock) => {
    const run = startProgram(
      ['--service', '0000FEAA-0000-1000-8000-00805F9B34FB', '--timeout-ms', '3000'], address);
    try {
      await mock.waitForLog(/ StartDiscovery$/m);
      await addDevice(address, 'AA:00:00:00:00:09',
        `{'RSSI': <-40>, 'UUIDs': <[${gv(EDDYSTONE)}]>}`);
      const result = await run.done;
      // The alias BlueZ makes from the address is no name.
      assert.equal(result.out, line('AA:00:00:00:00:09', '', 'FEAA'));
      assert.equal(result.err, '');
      assert.equal(result.code, 0);
      assert.ok(result.elapsedMs >= 3000 && result.elapsedMs < 6000, `${result.elapsedMs} ms`);
      await mock.waitForLog(/ StopDiscovery$/m);
      const filters = await recorded(address, 'SetDiscoveryFilter');
      assert.equal(callCount(filters), 1);
      assert.ok(filters.includes(`<{'UUIDs': <[${gv(EDDYSTONE)}]>, 'Transport': <'le'>, ` +
        "'DuplicateData': <false>}>"), filters);
      assert.equal(callCount(await recorded(address, 'StartDiscovery')), 1);
      assert.equal(callCount(await recorded(address, 'StopDiscovery')), 1);
    } finally {
      await run.stop();
    }
  });
});

test('unavailable Bluetooth is silent, and explained by --verbose', async () => {
  const cases = [
    { what: 'no bus', parameters: null, bus: `unix:path=${path.join(os.tmpdir(), 'no-such-bus')}`,
      line: /^beaconsweep: Bluetooth unavailable: cannot connect to the system bus: .+\n$/ },
    { what: 'no org.bluez', parameters: null,
      line: /^beaconsweep: Bluetooth unavailable: org\.bluez is not on the system bus .*\n$/ },
    { what: 'no adapter', parameters: { adapter: null },
      line: /^beaconsweep: Bluetooth unavailable: BlueZ has no adapter\n$/ },
    { what: 'adapter off', parameters: { powered: false },
      line: /^beaconsweep: Bluetooth powered off: no adapter is powered \(\/org\/bluez\/hci0\)\n$/,
    },
  ];
  for (const c of cases) {
    await withBluez(c.parameters, async (address, mock) => {
      const args = ['--service', '180D', '--timeout-ms', '1500'];
      const runs = [startProgram(args, c.bus || address),
        startProgram([...args, '--verbose'], c.bus || address)];
      try {
        const [quiet, verbose] = await Promise.all(runs.map((run) => run.done));
        assert.deepEqual([quiet.out, quiet.err, quiet.code], ['', '', 0], c.what);
        assert.deepEqual([verbose.out, verbose.code], ['', 0], c.what);
        assert.match(verbose.err, c.line, c.what);
        if (mock && c.parameters.adapter !== null) {
          assert.equal(callCount(await recorded(address, 'StartDiscovery')), 0, c.what);
        }
      } finally {
        await Promise.all(runs.map((run) => run.stop()));
      }
    });
  }
});

test('an adapter powered on during the scan is scanned with; SIGINT stops discovery', async () => {
  await withBluez({ powered: false }, async (address, mock) => {
    const run = startProgram(['--service', '180D', '--timeout-ms', '30000', '--verbose'], address);
    try {
      await run.until('err', 'powered off');
      await call(address, ADAPTER, 'org.freedesktop.DBus.Mock.UpdateProperties',
        "'org.bluez.Adapter1'", "{'Powered': <true>}");
      await mock.waitForLog(/ StartDiscovery$/m);
      await addDevice(address, 'AA:00:00:00:00:07',
        `{'Name': <'On'>, 'UUIDs': <[${gv(HEART_RATE)}]>}`);
      await run.until('out', line('AA:00:00:00:00:07', 'On'));
      run.child.kill('SIGINT');
      const result = await run.done;
      assert.equal(result.signal, 'SIGINT');
      assert.equal(result.err,
        'beaconsweep: Bluetooth powered off: no adapter is powered (/org/bluez/hci0)\n' +
        'beaconsweep: Bluetooth powered on: using adapter /org/bluez/hci0\n');
      await mock.waitForLog(/ StopDiscovery$/m);
    } finally {
      await run.stop();
    }
  });
});
