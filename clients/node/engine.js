'use strict';
// A live engine: audio on descriptor 3, commands on standard input, events
// from standard output, and dictation sessions between start() and stop().

const { EventEmitter, on } = require('node:events');
const { commandLine } = require('./options.js');
const { spawnEngine, exitError, EngineError } = require('./process.js');
const { toResult } = require('./run.js');

const isLog = (message) => (event) => event.type === 'log' && event.message === message;

// How the push-to-talk decode at "stop" ends: a result, its error, or one of
// these lines when there was nothing to decode.
const PUSH_TO_TALK_ENDS = new Set([
  'No audio captured in this segment',
  'Recording too short, skipping decode',
  'Second-pass decode finished with empty text',
  'Second-pass decode finished with punctuation-only text',
]);

// Which event ends a session after its "Capture stopped" line, by mode:
// - without --manual-mode nothing is decoded: that line ends it;
// - push-to-talk decodes on the command thread: its result or outcome line;
// - the offline two-pass decode ends with its final result, or with a line
//   saying it failed;
// - a realtime stop (with or without the single model) is ended by the audio
//   thread, which logs "[SESSION-DIAG] stop-done seq=N" when it is done.
function stopRule({ manualMode, manualRealtime, offline2pass }) {
  if (!manualMode) return { ends: null };
  if (!manualRealtime) {
    return {
      ends: (event) => event.type === 'result' ||
        (event.type === 'error' && event.message.startsWith('Second-pass decode failed: ')) ||
        (event.type === 'log' && PUSH_TO_TALK_ENDS.has(event.message)),
    };
  }
  if (offline2pass) {
    return {
      ends: (event) => (event.type === 'result' && event.offline_2pass === true) ||
        isLog('offline_2pass requested but failed')(event),
    };
  }
  return {
    ends: (event) => event.type === 'log' && event.message.startsWith('[SESSION-DIAG] stop-done '),
  };
}

// The session's final result. With the offline two-pass decode only its
// final result counts (the realtime ones during the session were drafts);
// otherwise every result of the session, in order. An error that cost
// text of the final result fails it.
function sessionResult(session) {
  const finals = session.results.filter((result) => result.offline_2pass === true);
  if (finals.length === 0 && session.errors.length > 0) {
    throw new EngineError(session.errors[0]);
  }
  return toResult(finals.length > 0 ? finals : session.results);
}

function toBuffer(pcm, format) {
  const wanted = format === 'f32le' ? Float32Array : Int16Array;
  if (!(pcm instanceof Uint8Array) && !(pcm instanceof wanted)) {
    throw new TypeError(`write: ${format} audio comes as a Buffer, a Uint8Array or a ${wanted.name}`);
  }
  return Buffer.isBuffer(pcm) ? pcm : Buffer.from(pcm.buffer, pcm.byteOffset, pcm.byteLength);
}

class Engine extends EventEmitter {
  #stdin;
  #audio;
  #format;
  #rule;
  // Callers waiting for the engine's answer to their command, in the order
  // the commands were given: the engine answers in that order.
  #waiters = [];
  // Commands are written one after another, each once what it waits for
  // (the start before it, the audio before it) is done.
  #writing = Promise.resolve();
  #recording = false;
  #held = null;  // audio written while the last start is on its way
  #started = Promise.resolve();
  #written = Promise.resolve();
  #session = null;
  #lastError = null;
  #exit = null;
  #exited;

  constructor(options = {}) {
    super();
    const { binary, ...engineOptions } = options;
    const args = commandLine(engineOptions);
    this.#format = engineOptions.audioFormat ?? 's16le';
    this.#rule = stopRule(engineOptions);
    const { child, exited } = spawnEngine({
      binary, args, audio: true, commands: true, onEvent: (event) => this.#onEvent(event),
    });
    this.#stdin = child.stdin;
    this.#audio = child.stdio[3];
    this.#audio.on('drain', () => this.emit('drain'));
    this.pid = child.pid;
    const failures = [];
    this.ready = this.#expect((event, done) => {
      if (event.type === 'log' && event.message.includes(' init failed: ')) {
        failures.push(event.message);
      }
      if (event.type !== 'ready') return false;
      done({ failures });
      return true;
    });
    this.ready.catch(() => {});  // failures reach whoever awaits it
    this.#exited = exited.then((exit) => this.#onExit(exit));
  }

  // Begins a session; resolves once the engine has begun it. Audio written
  // from now on is held until then, so none of it is lost with what the
  // engine drops at a start.
  start() {
    if (this.#exit) return Promise.reject(this.#exitError());
    if (this.#recording) return Promise.reject(new Error('start: a session is already running'));
    this.#recording = true;
    const held = [];
    this.#held = held;
    const started = this.#expect((event, done) => {
      if (!isLog('Capture started')(event)) return false;
      this.#session = { results: [], errors: [] };
      this.#lastError = null;
      if (this.#held === held) this.#held = null;
      for (const buffer of held) this.#writeAudio(buffer);
      done();
      return true;
    });
    this.#started = started.catch(() => {});
    this.#send('start\n');
    return started;
  }

  // Ends the session; resolves with its final result ({text, segments,
  // speakers}) once the engine has sent all of it.
  stop() {
    if (this.#exit) return Promise.reject(this.#exitError());
    if (!this.#recording) return Promise.reject(new Error('stop: no session is running'));
    this.#recording = false;
    let stopped = false;
    const { ends } = this.#rule;
    const result = this.#expect((event, done, fail) => {
      if (!stopped) {
        stopped = isLog('Capture stopped')(event);
        if (!stopped || ends) return false;
      } else if (!ends(event)) {
        return false;
      }
      this.#endSession(done, fail);
      return true;
    }, (exit, fail, done) => {
      // A clean exit after the stop line: the engine ends a stop it has
      // taken before it exits, so the session is complete.
      if (stopped && exit.code === 0) this.#endSession(done, fail);
      else fail(this.#exitError());
    });
    // The session's audio goes before the stop: the audio held until its
    // start was answered, and every write since.
    const started = this.#started;
    this.#send('stop\n', async () => {
      await started;
      await this.#written;
    });
    return result;
  }

  // The one setting the engine takes while running; resolves with the
  // interval it applies, in seconds.
  set(name, value) {
    if (name !== 'single-partial-interval' || !Number.isFinite(value)) {
      return Promise.reject(new TypeError('set: only "single-partial-interval" with a number of seconds'));
    }
    const prefix = 'single-partial-interval updated to ';
    const applied = this.#expect((event, done) => {
      if (event.type !== 'log' || !event.message.startsWith(prefix)) return false;
      done(Number.parseFloat(event.message.slice(prefix.length)));
      return true;
    });
    this.#send(`set ${name} ${value}\n`);
    return applied;
  }

  // Writes 16 kHz mono audio in the engine's format. Only audio written
  // between start() and stop() goes to the engine. False when the pipe is
  // full: wait for 'drain'.
  write(pcm) {
    const buffer = toBuffer(pcm, this.#format);
    if (!this.#recording || this.#exit) return true;
    if (this.#held) {
      this.#held.push(buffer);
      return true;
    }
    return this.#writeAudio(buffer);
  }

  // Quits once the commands given before are written, and resolves with
  // {code, signal} once the engine has exited and every descriptor to it is
  // closed.
  async close() {
    this.#recording = false;
    this.#writing = this.#writing.then(() => {
      if (this.#stdin.writable) this.#stdin.end('quit\n');
      this.#audio.end();
    });
    const { code, signal } = await this.#exited;
    return { code, signal };
  }

  // Every event from now until the engine exits.
  async* [Symbol.asyncIterator]() {
    if (this.#exit) return;
    for await (const [event] of on(this, 'event', { close: ['exit'] })) yield event;
  }

  #send(line, before = async () => {}) {
    const write = async () => {
      await before();
      if (this.#stdin.writable) this.#stdin.write(line);
    };
    this.#writing = this.#writing.then(write);
  }

  #writeAudio(buffer) {
    let accepted = true;
    this.#written = new Promise((resolve) => {
      accepted = this.#audio.write(buffer, () => resolve());
    });
    return accepted;
  }

  // A promise settled by `step(event, done, fail)` (true once it has
  // settled it) or, when the engine exits first, by `onExit(exit, fail,
  // done)`.
  #expect(step, onExit = (exit, fail) => fail(this.#exitError())) {
    return new Promise((resolve, reject) => {
      this.#waiters.push({ step, onExit, resolve, reject });
    });
  }

  #endSession(done, fail) {
    const session = this.#session;
    this.#session = null;
    try {
      done(sessionResult(session));
    } catch (error) {
      fail(error);
    }
  }

  #onEvent(event) {
    if (event.type === 'error') this.#lastError = event.message;
    if (this.#session && event.type === 'result') this.#session.results.push(event);
    if (this.#session && event.type === 'error') this.#session.errors.push(event.message);
    const waiter = this.#waiters[0];
    if (waiter && waiter.step(event, waiter.resolve, waiter.reject)) this.#waiters.shift();
    // The end of the audio pipe ends the session; standard input must end
    // too for the engine to exit.
    if (isLog('PCM pipe closed')(event) || (event.type === 'error' && event.message === 'PCM pipe read failed')) {
      this.#stdin.end();
    }
    this.emit('event', event);
    const name = { 'first-pass': 'partial', punctuated: 'punctuated', result: 'result', log: 'log' }[event.type];
    if (name) this.emit(name, event);
  }

  #exitError() {
    return exitError(this.#exit ?? { code: null, signal: null, stderr: '' }, this.#lastError);
  }

  #onExit(exit) {
    this.#exit = exit;
    this.#recording = false;
    this.#held = null;
    for (const waiter of this.#waiters.splice(0)) {
      waiter.onExit(exit, waiter.reject, waiter.resolve);
    }
    this.emit('exit', { code: exit.code, signal: exit.signal });
    return exit;
  }
}

function startEngine(options) {
  return new Engine(options);
}

module.exports = { startEngine, Engine };
