'use strict';
// Live sessions through the client, against the real engine and the kit's
// models: every stop mode, many sessions on one engine, the engine dying.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const client = require('../index.js');
const { MODES, audioFile, spoken, words, openDescriptors, exists } = require('./kit.js');

const RATE = 16000;
const KEEPALIVE_SAMPLES = 5 * RATE;
// "hello world", a pause, "你好世界" and 0.1 s more: the speech detector has
// not closed the last phrase when the session stops.
const SPEECH = fs.readFileSync(audioFile('speech_pause_speech.s16')).subarray(0, 4.6 * RATE * 2);

// Starts a session and writes `pcm` at once, before the engine has begun
// the session (so the client must hold the audio until then), then stops
// it once the engine has read all of it. Resolves with the stop's promise,
// without waiting for the result, so that the next session can start while
// the engine is still decoding this one.
async function dictate(engine, pcm) {
  const started = engine.start();
  if (pcm.length > 0) await writeAndSync(engine, pcm);
  await started;
  return { stopped: engine.stop() };
}

// Writes silence, then `pcm`, so that the audio the engine has had comes to
// a multiple of five seconds, and waits for the keepalive line it logs
// there: it has then read all of it.
async function writeAndSync(engine, pcm) {
  const total = engine.samplesWritten + pcm.length / 2;
  const padded = Math.ceil(total / KEEPALIVE_SAMPLES) * KEEPALIVE_SAMPLES;
  const line = `PCM keepalive: received ${(padded / RATE).toFixed(6)}s audio`;
  engine.samplesWritten = padded;
  let onLog = null;
  const read = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no "${line}"`)), 60000);
    onLog = ({ message }) => message === line && resolve(clearTimeout(timer));
    engine.on('log', onLog);
  });
  engine.write(Buffer.alloc((padded - total) * 2));
  engine.write(pcm);
  await read.finally(() => engine.off('log', onLog));
}

function liveEngine(mode) {
  const engine = client.startEngine(MODES[mode]);
  engine.samplesWritten = 0;
  return engine;
}

for (const mode of ['offline2pass', 'realtime', 'singleModel', 'pushToTalk']) {
  test(`${mode}: each stop resolves with its own session's text`, async () => {
    const engine = liveEngine(mode);
    assert.deepEqual(await engine.ready, { failures: [] });
    const partials = [];
    engine.on('partial', (event) => partials.push(event.text));
    const stops = [];
    for (let session = 0; session < 3; session++) stops.push((await dictate(engine, SPEECH)).stopped);
    for (const [session, stopped] of stops.entries()) {
      const { text, segments } = await stopped;
      assert.equal(words(text), spoken('speech_pause_speech'), `session ${session}: ${text}`);
      assert.ok(segments.every((s) => s.start_time < s.end_time && s.end_time <= 10));
    }
    // Sessions given back to back, before the engine has answered any: each
    // stop waits for its own start only.
    engine.start();
    const first = engine.stop();
    engine.start();
    const second = engine.stop();
    assert.deepEqual((await Promise.all([first, second])).map((result) => result.text), ['', '']);
    assert.equal(partials.length > 0, mode !== 'pushToTalk');
    assert.deepEqual(await engine.close(), { code: 0, signal: null });
  });
}

test('many sessions on one engine leave no listener or descriptor behind', async () => {
  const before = await openDescriptors({ settled: true });
  const engine = liveEngine('realtime');
  await engine.ready;
  await (await dictate(engine, SPEECH)).stopped;
  const open = await openDescriptors();
  const listeners = () => ['event', 'log', 'exit'].map((name) => engine.listenerCount(name));
  const idle = listeners();
  for (let session = 0; session < 10; session++) {
    // An iterator over the events, left at the session's first result.
    const iterated = (async () => {
      for await (const event of engine) if (event.type === 'result') return event;
    })();
    const { text } = await (await dictate(engine, SPEECH)).stopped;
    assert.equal(words(text), spoken('speech_pause_speech'));
    assert.equal((await iterated).type, 'result');
  }
  assert.deepEqual(listeners(), idle);
  assert.equal(await openDescriptors(), open);
  await engine.close();
  assert.equal(exists(engine.pid), false);
  assert.equal(await openDescriptors(), before);
});

test('the engine killed mid-session rejects what is pending', async () => {
  const before = await openDescriptors({ settled: true });
  const engine = liveEngine('offline2pass');
  await engine.ready;
  await engine.start();
  engine.write(SPEECH);
  const events = (async () => {
    const seen = [];
    for await (const event of engine) seen.push(event.type);
    return seen;
  })();
  const stopped = engine.stop();
  process.kill(engine.pid, 'SIGKILL');
  await assert.rejects(stopped, { name: 'EngineError', signal: 'SIGKILL', exitCode: null,
    message: 'dictacore was killed by SIGKILL' });
  await events;  // the iterator ends with the engine
  await assert.rejects(engine.start(), { signal: 'SIGKILL' });
  assert.equal(engine.write(SPEECH), true);
  assert.deepEqual(await engine.close(), { code: null, signal: 'SIGKILL' });
  assert.equal(exists(engine.pid), false);
  assert.equal(await openDescriptors(), before);
});

test('start-up failures: a model that does not load, options the engine refuses', async () => {
  const broken = liveEngine('offline2pass');
  const missing = client.startEngine({ ...MODES.realtime, sileroVadModel: '/nonexistent/vad.onnx' });
  const { failures } = await missing.ready;
  assert.equal(failures.length, 1);
  assert.match(failures[0], /^\[M2\] VAD init failed: /);
  await missing.close();
  await broken.close();

  const refused = client.startEngine({ binary: MODES.realtime.binary, secondModel: 'm.onnx' });
  await assert.rejects(refused.ready, { name: 'EngineError', message: '--second-tokens is required', exitCode: 1 });
  assert.throws(() => client.startEngine({ ...MODES.realtime, wavInput: 'a.wav' }), TypeError);
  const engine = liveEngine('pushToTalk');
  assert.throws(() => engine.write(new Float32Array(4)), TypeError);
  await assert.rejects(engine.stop(), /no session is running/);
  await engine.close();
});
