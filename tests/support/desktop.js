'use strict';
// Private desktop servers for end-to-end tests: an X server, D-Bus daemons,
// the accessibility bus and registry, a window manager, and programs that
// talk on stdin/stdout. Each one is a child of the test process with a
// runtime directory of its own, started on a free address it reports itself
// where it can (others are polled for, within a time limit) and ended by its
// PID together with whatever it started, so tests can run side by side and
// leave nothing behind.

const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const START_TIMEOUT_MS = 10000;
const STOP_GRACE_MS = 2000;
const POLL_INTERVAL_MS = 50;

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

// The PIDs of every living descendant of `pid`, read from /proc.
function descendants(pid) {
  const children = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
    } catch {
      continue;  // ended meanwhile
    }
    // The command name in parentheses may hold spaces and parentheses.
    const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
    if (!children.has(ppid)) children.set(ppid, []);
    children.get(ppid).push(Number(entry));
  }
  const found = [];
  const queue = [pid];
  while (queue.length > 0) {
    for (const child of children.get(queue.shift()) || []) {
      found.push(child);
      queue.push(child);
    }
  }
  return found;
}

// Whether `pid` is still running (a zombie has ended).
function isRunning(pid) {
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2, stat.lastIndexOf(')') + 3) !== 'Z';
  } catch {
    return false;
  }
}

function signal(pid, name) {
  try {
    process.kill(pid, name);
    return true;
  } catch {
    return false;  // already gone
  }
}

async function sleep(ms) {
  await new Promise((resolve) => setTimeout(resolve, ms));
}

// Ends processes a server started (a bus launcher's bus daemon, services a
// bus daemon started on demand) that outlived it: SIGTERM, then SIGKILL.
async function endAll(pids) {
  const alive = () => pids.filter(isRunning);
  for (const pid of alive()) signal(pid, 'SIGTERM');
  for (let waited = 0; alive().length > 0 && waited < STOP_GRACE_MS; waited += POLL_INTERVAL_MS) {
    await sleep(POLL_INTERVAL_MS);
  }
  for (const pid of alive()) signal(pid, 'SIGKILL');
}

// One running server. stop() ends it by its PID (SIGTERM, then SIGKILL after
// a grace period), then every process it started that is still running, and
// removes its runtime directory; it is safe to call twice.
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
      // Orphans are adopted by init and lose their link to this server, so
      // they are found before it ends.
      const started = descendants(this.pid);
      this.child.kill('SIGTERM');
      const timer = setTimeout(() => this.child.kill('SIGKILL'), STOP_GRACE_MS);
      await this.exited;
      clearTimeout(timer);
      await endAll(started);
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
// gdbus prints it ("('unix:path=...',)", "(true,)"); rejects with the error
// it reports.
async function gdbusCall(address, { dest, path: objectPath, method, args = [] }) {
  const result = await run('gdbus', ['call', '--address', address, '--dest', dest,
    '--object-path', objectPath, '--method', method,
    '--timeout', String(START_TIMEOUT_MS / 1000), ...args]);
  if (result.code !== 0) {
    throw new Error(`gdbus call ${method}: ${result.stderr.trim() || `exit ${result.code}`}`);
  }
  return result.stdout.trim();
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
      const waited = await run('gdbus', ['wait', '--address', address, '--timeout',
        String(START_TIMEOUT_MS / 1000), busName]);
      if (waited.code !== 0) throw new Error(`dbusmock: ${busName} did not appear`);
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

// Resolves with the first truthy result of `check()` (which may return a
// promise), tried every `intervalMs`; rejects after `timeoutMs`.
async function waitFor(check, what, timeoutMs = START_TIMEOUT_MS, intervalMs = 10) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const result = await check();
    if (result) return result;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what} (${timeoutMs} ms)`);
    await sleep(intervalMs);
  }
}

// Runs a command to its end; resolves with {code, stdout, stderr}.
function run(command, args, env) {
  return new Promise((resolve) => {
    execFile(command, args, { env: cleanEnv(env), timeout: START_TIMEOUT_MS },
      (err, stdout, stderr) => resolve({ code: err ? (err.code ?? 1) : 0, stdout, stderr }));
  });
}

// A session bus that starts no services on demand: nothing runs on it that
// the test did not start. (The stock session configuration would start, for
// instance, its own accessibility bus for the first application that asks.)
async function startSessionBus({ env = process.env } = {}) {
  const configDir = makeRuntimeDir('dbus-config');
  const configFile = path.join(configDir, 'session.conf');
  fs.writeFileSync(configFile, `<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=${configDir}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
`);
  try {
    const server = await startDbus({ configFile, env });
    const stop = server.stop.bind(server);
    server.stop = async () => {
      await stop();
      fs.rmSync(configDir, { recursive: true, force: true });
    };
    return server;
  } catch (err) {
    fs.rmSync(configDir, { recursive: true, force: true });
    throw err;
  }
}

// Starts a child that announces nothing; `ready(server)` is polled until it
// resolves truthy.
async function startPolled(name, command, args, env, runtimeDir, ready) {
  const child = spawn(command, args, { env: cleanEnv(env), stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => {
    if (stderr.length < 8192) stderr += chunk.toString('utf8');
  });
  const server = new Server(name, child, runtimeDir);
  try {
    await new Promise((resolve, reject) => {
      child.once('spawn', resolve);
      child.once('error', reject);
    });
    await waitFor(async () => {
      if (child.exitCode !== null || child.signalCode !== null) {
        throw new Error(`${name}: exited (${child.signalCode || child.exitCode}) before it was ready`);
      }
      return ready(server);
    }, name);
    return server;
  } catch (err) {
    await server.stop();
    err.message += stderr ? `\n${stderr}` : '';
    throw err;
  }
}

// The accessibility bus launcher on the session bus of `env`, with its bus
// started at once and accessibility on (org.a11y.Status.IsEnabled) unless
// `enabled` is false. Resolves with a Server whose `address` is the
// accessibility bus address, once org.a11y.Bus.GetAddress gives it.
async function startAccessibilityBus({ env, enabled = true }) {
  const runtimeDir = makeRuntimeDir('a11y');
  const launcherEnv = { ...env, XDG_RUNTIME_DIR: runtimeDir, GSETTINGS_BACKEND: 'memory' };
  return startPolled('at-spi-bus-launcher', '/usr/libexec/at-spi-bus-launcher',
    ['--launch-immediately', `--a11y=${enabled ? 1 : 0}`], launcherEnv, runtimeDir,
    async (server) => {
      const reply = await gdbusCall(env.DBUS_SESSION_BUS_ADDRESS, { dest: 'org.a11y.Bus',
        path: '/org/a11y/bus', method: 'org.a11y.Bus.GetAddress' }).catch(() => null);
      const address = reply && /^\('([^']+)',\)$/.exec(reply);
      if (address) server.address = address[1];
      return Boolean(address);
    });
}

// The accessibility registry on the accessibility bus at `address`, ready
// once it owns its name there.
async function startRegistry({ env, address }) {
  const runtimeDir = makeRuntimeDir('registry');
  return startPolled('at-spi2-registryd', '/usr/libexec/at-spi2-registryd', [],
    { ...env, AT_SPI_BUS_ADDRESS: address, XDG_RUNTIME_DIR: runtimeDir }, runtimeDir,
    async () => {
      const reply = await gdbusCall(address, { dest: 'org.freedesktop.DBus',
        path: '/org/freedesktop/DBus', method: 'org.freedesktop.DBus.NameHasOwner',
        args: ["'org.a11y.atspi.Registry'"] }).catch(() => null);
      return reply === '(true,)';
    });
}

// The openbox window manager on the display of `env` (it keeps
// _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST_STACKING and focuses new windows),
// ready once it has run its start-up command.
async function startOpenbox({ env }) {
  const runtimeDir = makeRuntimeDir('openbox');
  const marker = path.join(runtimeDir, 'started');
  return startPolled('openbox', 'openbox', ['--sm-disable', '--startup', `touch ${marker}`],
    { ...env, XDG_RUNTIME_DIR: runtimeDir, XDG_CONFIG_HOME: runtimeDir,
      XDG_CACHE_HOME: runtimeDir },
    runtimeDir, async () => fs.existsSync(marker));
}

// Variables that tie a program to a desktop; the private desktop replaces
// or drops whatever the test process inherited.
const DESKTOP_VARIABLES = ['DISPLAY', 'WAYLAND_DISPLAY', 'DBUS_SESSION_BUS_ADDRESS',
  'AT_SPI_BUS_ADDRESS', 'XDG_RUNTIME_DIR', 'XDG_CONFIG_HOME', 'XDG_CACHE_HOME', 'XDG_DATA_HOME',
  'XDG_SESSION_TYPE', 'XDG_CURRENT_DESKTOP', 'SESSION_MANAGER', 'NO_AT_BRIDGE'];

// A private desktop: Xvfb, a session bus and, unless turned off, the
// accessibility bus with its registry and the openbox window manager.
// Resolves with {display, a11yAddress, env, envFor(base), stop()}: `env` is
// the environment for programs on the desktop (clean of the sanitizer
// runtime), envFor(base) puts the desktop into another environment (say, a
// node child that must keep its sanitizer runtime). Applications find the
// accessibility bus the way they would on a real X11 desktop (the root
// window's AT_SPI_BUS), not through AT_SPI_BUS_ADDRESS.
async function startDesktop({ accessibility = true, a11yEnabled = true, windowManager = true } = {}) {
  const servers = [];
  const clientDir = makeRuntimeDir('desktop');
  const desktop = {
    servers,
    stop: async () => {
      await stopAll(servers);
      fs.rmSync(clientDir, { recursive: true, force: true });
    },
  };
  try {
    const xvfb = await startXvfb();
    servers.push(xvfb);
    const vars = { DISPLAY: xvfb.display, XDG_RUNTIME_DIR: clientDir,
      XDG_CONFIG_HOME: path.join(clientDir, 'config'), XDG_CACHE_HOME: path.join(clientDir, 'cache'),
      XDG_DATA_HOME: path.join(clientDir, 'data'), GSETTINGS_BACKEND: 'memory',
      GIO_USE_VFS: 'local', GDK_BACKEND: 'x11' };
    const bus = await startSessionBus({ env: { ...xvfb.env, ...vars } });
    servers.push(bus);
    vars.DBUS_SESSION_BUS_ADDRESS = bus.address;
    desktop.envFor = (base) => {
      const out = { ...base };
      for (const name of DESKTOP_VARIABLES) delete out[name];
      return { ...out, ...vars };
    };
    desktop.env = desktop.envFor(cleanEnv());
    desktop.display = xvfb.display;
    if (accessibility) {
      const a11y = await startAccessibilityBus({ env: desktop.env, enabled: a11yEnabled });
      servers.push(a11y);
      servers.push(await startRegistry({ env: desktop.env, address: a11y.address }));
      desktop.a11yAddress = a11y.address;
    }
    if (windowManager) servers.push(await startOpenbox({ env: desktop.env }));
    return desktop;
  } catch (err) {
    await desktop.stop();
    throw err;
  }
}

// A program that talks in lines: it writes one line to stdout when it is
// ready, then answers each line written to its stdin with one line. Resolves
// with a Server that has `readyLine`, `request(line)` (resolves with the
// answer) and `stderr()` (what it wrote there so far). It runs in `env`
// unchanged, sanitizer runtime included.
async function startInteractive(name, command, args, env) {
  const child = spawn(command, args, { env, stdio: ['pipe', 'pipe', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => {
    if (stderr.length < 65536) stderr += chunk.toString('utf8');
  });
  const server = new Server(name, child, null);
  const lines = [];
  const waiting = [];
  let pending = '';
  child.stdout.on('data', (chunk) => {
    pending += chunk.toString('utf8');
    for (let end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
      const line = pending.slice(0, end);
      pending = pending.slice(end + 1);
      if (waiting.length > 0) waiting.shift().resolve(line);
      else lines.push(line);
    }
  });
  child.once('exit', (code, sig) => {
    for (const waiter of waiting.splice(0)) {
      waiter.reject(new Error(`${name}: exited (${sig || code})\n${stderr}`));
    }
  });
  const nextLine = (timeoutMs) => {
    if (lines.length > 0) return Promise.resolve(lines.shift());
    if (child.exitCode !== null || child.signalCode !== null) {
      return Promise.reject(new Error(`${name}: exited (${child.signalCode || child.exitCode})\n${stderr}`));
    }
    return new Promise((resolve, reject) => {
      const waiter = { resolve, reject };
      const timer = setTimeout(() => {
        waiting.splice(waiting.indexOf(waiter), 1);
        reject(new Error(`${name}: no answer within ${timeoutMs} ms\n${stderr}`));
      }, timeoutMs);
      waiter.resolve = (line) => { clearTimeout(timer); resolve(line); };
      waiter.reject = (err) => { clearTimeout(timer); reject(err); };
      waiting.push(waiter);
    });
  };
  server.stderr = () => stderr;
  server.request = (line, timeoutMs = START_TIMEOUT_MS) => {
    child.stdin.write(`${line}\n`);
    return nextLine(timeoutMs);
  };
  try {
    server.readyLine = await nextLine(START_TIMEOUT_MS);
    return server;
  } catch (err) {
    await server.stop();
    throw err;
  }
}

// The GTK 3 test window (text_window.py beside this file) on `desktop`, run
// by the system's python3. `args` go to the script (see its head).
async function startTextWindow(desktop, args = []) {
  return startInteractive('text_window.py', '/usr/bin/python3',
    [path.join(__dirname, 'text_window.py'), ...args], desktop.env);
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
  startXvfb, startDbus, startDbusmock, gdbusCall, stopAll, Server, makeRuntimeDir, cleanEnv,
  startSessionBus, startAccessibilityBus, startRegistry, startOpenbox, startDesktop,
  startInteractive, startTextWindow, waitFor, run, descendants, startKeyTool, KeyTool,
};
