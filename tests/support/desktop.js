'use strict';
// Private desktop servers for end-to-end tests: an X server and D-Bus
// daemons. Each one is a child of the test process with a runtime directory
// of its own, started on a free address it reports itself (no polling of
// sockets) and ended by its PID, so tests can run side by side and leave
// nothing behind.

const { spawn } = require('node:child_process');
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

// Stops servers in reverse order of start, whatever fails.
async function stopAll(servers) {
  for (const server of [...servers].reverse()) {
    if (server) await server.stop();
  }
}

// Waits, yielding to the event loop, until done() holds.
async function waitFor(done, what, timeoutMs = START_TIMEOUT_MS) {
  const deadline = Date.now() + timeoutMs;
  while (!done()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 2));
  }
}

// A keyboard and an application on an X server: tests/support/x11_key_tool
// types through XTest and, once asked, owns a window with the input focus (or
// a key grab) and reports the keys that reach it in `received`, as
// "press KEYSYM" / "release KEYSYM". Keys are keysym names: Control_L, space,
// a, F5. Every command resolves once the X server has handled it.
class KeyTool extends Server {
  constructor(child) {
    super('x11_key_tool', child, null);
    this.received = [];
    this.replies = [];
    this.hasWindow = false;
    let text = '';
    child.stdout.on('data', (chunk) => {
      text += chunk.toString('utf8');
      let end;
      while ((end = text.indexOf('\n')) >= 0) {
        this.onLine(text.slice(0, end));
        text = text.slice(end + 1);
      }
    });
    this.exited.then(() => {
      for (const reply of this.replies.splice(0)) {
        reply.reject(new Error('x11_key_tool exited'));
      }
    });
  }

  onLine(line) {
    if (line.startsWith('got ')) {
      this.received.push(line.slice(4));
      return;
    }
    const reply = this.replies.shift();
    if (!reply) return;
    if (line.startsWith('ok')) reply.resolve(line.slice(3));
    else reply.reject(new Error(`x11_key_tool: ${line} (${reply.command})`));
  }

  // Sends one command line; resolves with what follows "ok".
  command(command) {
    return new Promise((resolve, reject) => {
      this.replies.push({ command, resolve, reject });
      this.child.stdin.write(`${command}\n`);
    });
  }

  // Press / release one key; resolve with the time just before the event
  // was sent, in nanoseconds of the clock of process.hrtime.bigint().
  async down(key) { return BigInt(await this.command(`down ${key}`)); }
  async up(key) { return BigInt(await this.command(`up ${key}`)); }

  async tap(key) {
    await this.down(key);
    await this.up(key);
  }

  // Presses keys in order, holds them for ms, releases them in reverse.
  async hold(keys, ms) {
    for (const key of keys) await this.down(key);
    await new Promise((resolve) => setTimeout(resolve, ms));
    for (const key of [...keys].reverse()) await this.up(key);
  }

  async keycode(key) { return Number(await this.command(`keycode ${key}`)); }

  // Maps a window and gives it the focus; from then on `received` lists the
  // keys that reach it.
  async openWindow() {
    await this.command('window');
    this.hasWindow = true;
  }

  // Grabs key with modifiers ("control+shift") on the root window, as a
  // desktop shortcut would; rejects with "error BadAccess" when taken.
  grab(key, modifiers = '') { return this.command(`grab ${key} ${modifiers}`); }

  // Resolves once the keys that reached the window so far are in `received`.
  sync() { return this.command('sync'); }
}

function defaultKeyTool() {
  return process.env.X11_KEY_TOOL ||
    path.join(__dirname, '..', '..', 'build', 'tests', 'x11_key_tool');
}

// Starts the key tool on the display of `env` (an Xvfb's `env`).
async function startKeyTool({ env, tool = defaultKeyTool() }) {
  const child = spawn(tool, [], {
    env: cleanEnv(env),
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  await new Promise((resolve, reject) => {
    child.once('spawn', resolve);
    child.once('error', reject);
  });
  const keys = new KeyTool(child);
  try {
    await keys.sync();
  } catch (err) {
    await keys.stop();
    throw err;
  }
  return keys;
}

module.exports = {
  startXvfb, startDbus, startKeyTool, stopAll, waitFor, Server, KeyTool,
  makeRuntimeDir, cleanEnv,
};
