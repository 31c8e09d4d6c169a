'use strict';
// Private desktop servers for end-to-end tests: an X server and D-Bus
// daemons. Each one is a child of the test process with a runtime directory
// of its own, started on a free address it reports itself (no polling of
// sockets) and ended by its PID, so tests can run side by side and leave
// nothing behind.

const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const START_TIMEOUT_MS = 10000;
const STOP_GRACE_MS = 2000;

// The environment for a server or a test application: the sanitizer runtime
// that the sanitizer suites preload into node is not passed on to programs
// that were not built with it.
function cleanEnv(env = process.env) {
  const out = { ...env };
  delete out.LD_PRELOAD;
  return out;
}

function makeRuntimeDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), `${prefix}-`));
}

// Resolves with the first line the child writes on `stream`; rejects when
// the child exits first or nothing comes within the time limit.
function readFirstLine(child, stream, what) {
  return new Promise((resolve, reject) => {
    let text = '';
    const done = (err, line) => {
      clearTimeout(timer);
      stream.removeListener('data', onData);
      child.removeListener('exit', onExit);
      if (err) reject(err);
      else resolve(line);
    };
    const onData = (chunk) => {
      text += chunk.toString('utf8');
      const end = text.indexOf('\n');
      if (end >= 0) done(null, text.slice(0, end).trim());
    };
    const onExit = (code, signal) =>
      done(new Error(`${what}: exited (${signal || code}) before it was ready`));
    const timer = setTimeout(
      () => done(new Error(`${what}: not ready within ${START_TIMEOUT_MS} ms`)),
      START_TIMEOUT_MS);
    stream.on('data', onData);
    child.once('exit', onExit);
  });
}

// One running server. stop() ends it by its PID (SIGTERM, then SIGKILL after
// a grace period) and removes its runtime directory; it is safe to call twice.
class Server {
  constructor(name, child, runtimeDir) {
    this.name = name;
    this.child = child;
    this.pid = child.pid;
    this.runtimeDir = runtimeDir;
    this.exited = new Promise((resolve) => {
      if (child.exitCode !== null || child.signalCode !== null) resolve();
      else child.once('exit', () => resolve());
    });
  }

  async stop() {
    if (this.child.exitCode === null && this.child.signalCode === null) {
      this.child.kill('SIGTERM');
      const timer = setTimeout(() => this.child.kill('SIGKILL'), STOP_GRACE_MS);
      await this.exited;
      clearTimeout(timer);
    }
    if (this.runtimeDir) {
      fs.rmSync(this.runtimeDir, { recursive: true, force: true });
      this.runtimeDir = null;
    }
  }
}

// Starts a child whose stdio[3] is a pipe on which it announces itself with
// one line; resolves with the Server and that line.
async function startAnnounced(name, command, args, env, runtimeDir) {
  const child = spawn(command, args, {
    env: cleanEnv(env),
    stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
  });
  let stderr = '';
  child.stderr.on('data', (chunk) => {
    if (stderr.length < 8192) stderr += chunk.toString('utf8');
  });
  const server = new Server(name, child, runtimeDir);
  try {
    const spawned = new Promise((resolve, reject) => {
      child.once('spawn', resolve);
      child.once('error', reject);
    });
    await spawned;
    const line = await readFirstLine(child, child.stdio[3], name);
    child.stdio[3].destroy();
    return { server, line };
  } catch (err) {
    await server.stop();
    err.message += stderr ? `\n${stderr}` : '';
    throw err;
  }
}

// An Xvfb server on the first free display. Resolves with a Server whose
// `display` is ":N"; `env` is the environment with DISPLAY set.
async function startXvfb({ screen = '1280x1024x24', env = process.env } = {}) {
  const runtimeDir = makeRuntimeDir('xvfb');
  const { server, line } = await startAnnounced(
    'Xvfb', 'Xvfb',
    ['-displayfd', '3', '-nolisten', 'tcp', '-screen', '0', screen],
    { ...env, XDG_RUNTIME_DIR: runtimeDir }, runtimeDir);
  if (!/^\d+$/.test(line)) {
    await server.stop();
    throw new Error(`Xvfb: unexpected display number "${line}"`);
  }
  server.display = `:${line}`;
  server.env = { ...cleanEnv(env), DISPLAY: server.display };
  return server;
}

// A private dbus-daemon. `kind` 'session' uses the session bus configuration
// (everything allowed for this user); `configFile` replaces it. Resolves with
// a Server whose `address` is the bus address to put in
// DBUS_SESSION_BUS_ADDRESS or DBUS_SYSTEM_BUS_ADDRESS.
async function startDbus({ configFile = null, env = process.env } = {}) {
  const runtimeDir = makeRuntimeDir('dbus');
  const config = configFile ? [`--config-file=${configFile}`] : ['--session'];
  const { server, line } = await startAnnounced(
    'dbus-daemon', 'dbus-daemon',
    [...config, '--nofork', '--nopidfile', '--print-address=3'],
    { ...env, XDG_RUNTIME_DIR: runtimeDir }, runtimeDir);
  server.address = line;
  return server;
}

// One method call with the gdbus tool on the bus at `address`; `args` are
// GVariant texts ("'hci0'", "{'RSSI': <-60>}"). Resolves with the reply as
// gdbus prints it; rejects with the error it reports.
function gdbusCall(address, { dest, path: objectPath, method, args = [] }) {
  return new Promise((resolve, reject) => {
    execFile('gdbus', ['call', '--address', address, '--dest', dest, '--object-path', objectPath,
      '--method', method, '--timeout', String(START_TIMEOUT_MS / 1000), ...args],
    { env: cleanEnv() }, (err, stdout, stderr) => {
      if (err) reject(new Error(`gdbus call ${method}: ${stderr.trim() || err.message}`));
      else resolve(stdout.trim());
    });
  });
}

// A python-dbusmock server running `template` (a file path or a stock
// template name) with `parameters`, on the bus at `address` as both its
// system and its session bus. It claims `busName` before its template has
// loaded; it is ready once GetManagedObjects at `objectManager` has answered
// (pass null for templates without one). Resolves with a Server whose `log`
// holds what the mock has logged (a line per method call and signal) and
// whose waitForLog(regex) resolves once a logged line matches.
async function startDbusmock({ address, template, parameters = {}, busName,
  objectManager = '/', env = process.env }) {
  const child = spawn('/usr/bin/python3', ['-m', 'dbusmock', '--template', template,
    '--parameters', JSON.stringify(parameters)], {
    env: { ...cleanEnv(env), DBUS_SYSTEM_BUS_ADDRESS: address, DBUS_SESSION_BUS_ADDRESS: address },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const server = new Server('dbusmock', child, null);
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk.toString('utf8'); });
  server.log = '';
  const waiters = new Set();
  child.stdout.on('data', (chunk) => {
    server.log += chunk.toString('utf8');
    for (const waiter of waiters) waiter();
  });
  server.waitForLog = (pattern) => new Promise((resolve, reject) => {
    const check = () => {
      if (!pattern.test(server.log)) return;
      waiters.delete(check);
      clearTimeout(timer);
      resolve();
    };
    const timer = setTimeout(() => {
      waiters.delete(check);
      reject(new Error(`dbusmock: nothing logged matched ${pattern} in ${START_TIMEOUT_MS} ms`));
    }, START_TIMEOUT_MS);
    waiters.add(check);
    check();
  });
  const died = server.exited.then(() => {
    throw new Error(`dbusmock: exited before it was ready\n${stderr}`);
  });
  try {
    await Promise.race([died, (async () => {
      await new Promise((resolve, reject) => {
        execFile('gdbus', ['wait', '--address', address, '--timeout',
          String(START_TIMEOUT_MS / 1000), busName], { env: cleanEnv() },
        (err) => (err ? reject(new Error(`dbusmock: ${busName} did not appear`)) : resolve()));
      });
      if (objectManager) {
        await gdbusCall(address, { dest: busName, path: objectManager,
          method: 'org.freedesktop.DBus.ObjectManager.GetManagedObjects' });
      }
    })()]);
  } catch (err) {
    await server.stop();
    throw err;
  }
  died.catch(() => {});
  return server;
}

// Stops servers in reverse order of start, whatever fails.
async function stopAll(servers) {
  for (const server of [...servers].reverse()) {
    if (server) await server.stop();
  }
}

module.exports = {
  startXvfb, startDbus, startDbusmock, gdbusCall, stopAll, Server, makeRuntimeDir, cleanEnv,
};
