'use strict';
// File transcription and the speaker commands through the client, against
// the real engine and the kit's models.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const client = require('../index.js');
const { binary, model, audioFile, secondPass, spoken, words, openDescriptors } = require('./kit.js');

test('a WAV file and the same samples raw give the final text, with progress', async () => {
  const progress = [];
  const wav = await client.transcribeFile(audioFile('speech_pause_speech.wav'),
    { ...secondPass, onProgress: (p) => progress.push(p) });
  assert.equal(words(wav.text), spoken('speech_pause_speech'));
  assert.equal(wav.segments.length, 2);
  assert.deepEqual(wav.speakers, []);
  const raw = await client.transcribeFile(audioFile('speech_pause_speech.f32'),
    { ...secondPass, format: 'f32le' });
  assert.deepEqual(raw, wav);

  assert.deepEqual(progress.map((p) => p.stage),
    ['loading', 'detecting-speech', 'decoding', 'decoding', 'finishing']);
  const seconds = progress.filter((p) => p.seconds !== undefined).map((p) => p.seconds);
  assert.ok(seconds[0] < seconds[1], seconds.join());
  // The last group reaches the end of the audio.
  assert.equal(progress[0].totalSeconds, 85135 / 16000);
  assert.ok(Math.abs(seconds[1] - 85135 / 16000) < 1e-6, seconds.join());
});

test('failures reject with the engine\'s message and exit status', async () => {
  const file = audioFile('speech_pause_speech.wav');
  await assert.rejects(
    client.transcribeFile(file, { ...secondPass, secondModel: '/nonexistent/model.onnx' }),
    (error) => error.name === 'EngineError' && error.exitCode === 1 &&
      error.message.startsWith('Decoder is not ready for --wav-input: '));
  await assert.rejects(client.transcribeFile(file, { binary, secondModel: 'm.onnx' }),
    { name: 'EngineError', message: '--second-tokens is required', exitCode: 1 });
  await assert.rejects(client.transcribeFile(file, { ...secondPass, binary: '/nonexistent/dictacore' }),
    { name: 'EngineError', message: /could not be started: .*ENOENT/ });
  // Refused before anything starts: what the engine would ignore or misread.
  await assert.rejects(client.transcribeFile(file, { ...secondPass, secondModle: 'm' }),
    { name: 'TypeError', message: 'dictacore: unknown option "secondModle"' });
  await assert.rejects(client.transcribeFile(file, { ...secondPass, numThreadsSecond: 2.5 }),
    { name: 'TypeError', message: 'dictacore: option "numThreadsSecond" must be a 32-bit integer' });
});

test('an abort ends the engine at once and leaves nothing behind', async () => {
  const before = await openDescriptors({ settled: true });
  const controller = new AbortController();
  const stages = [];
  const transcription = client.transcribeFile(audioFile('long_recording.wav'), {
    ...secondPass, signal: controller.signal,
    onProgress: ({ stage }) => {
      stages.push(stage);
      if (stage === 'detecting-speech') controller.abort();
    },
  });
  await assert.rejects(transcription, { name: 'AbortError', code: 'ABORT_ERR' });
  // Ended while it was still looking for speech in the 40 s recording.
  assert.deepEqual(stages, ['loading', 'detecting-speech']);
  assert.equal(await openDescriptors(), before);
  await assert.rejects(client.transcribeFile('never-read.wav', { ...secondPass, signal: controller.signal }),
    { name: 'AbortError' });
});

test('speaker database commands, from registering to identifying', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'client-speakers-'));
  test.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const db = path.join(dir, 'enroll.txt');
  const enroll = { binary, db, embeddingModel: model('speaker/embedding.onnx') };
  const ann = await client.registerSpeaker({ ...enroll, name: 'Ann', wav: audioFile('speaker/a_enroll.wav') });
  assert.equal(ann.status, 'registered');
  assert.ok(fs.existsSync(ann.sample));
  const again = await client.registerSpeaker({ ...enroll, name: 'Ann', wav: audioFile('speaker/a_enroll.wav') });
  assert.deepEqual(again, { type: 'ok', status: 'already_registered', name: 'Ann', md5: ann.md5 });
  const bob = await client.registerSpeaker({ ...enroll, name: 'Bob', wav: audioFile('speaker/b_enroll.wav') });
  assert.deepEqual(await client.renameSpeaker({ binary, db, id: bob.id, name: 'Robert\tB' }),
    { type: 'ok', status: 'renamed', id: bob.id, name: 'Robert\tB' });
  const { speakers } = await client.listSpeakers({ binary, db });
  assert.deepEqual(speakers.map((s) => [s.name, s.count]), [['Ann', 1], ['Robert\tB', 1]]);

  // Segments given as data go to the engine as a segment list, in a
  // temporary folder (here one of the test's own) removed afterwards.
  const turns = JSON.parse(fs.readFileSync(audioFile('speaker/manifest.json'), 'utf8'))
    .clips.two_voices.turns.slice(0, 2);
  const tmp = fs.mkdtempSync(path.join(dir, 'tmp-'));
  const env = { ...process.env };
  process.env.TMPDIR = tmp;
  const found = await client.identify({ ...enroll, wav: audioFile('speaker/two_voices.wav'),
    segments: turns.map((turn, i) => ({ start: turn.start, end: i ? Infinity : turn.end, label: `L${i}` })) })
    .finally(() => { process.env = env; });
  assert.deepEqual(found.speakers, { L0: 'Ann', L1: 'Robert\tB' });
  assert.deepEqual(fs.readdirSync(tmp), []);

  assert.deepEqual((await client.unregisterSpeaker({ binary, db, name: 'Ann' })).removed, [ann.md5]);
  assert.deepEqual(await client.unregisterSpeaker({ binary, db, md5: ann.md5 }),
    { type: 'ok', status: 'not_found', md5: ann.md5 });
  await assert.rejects(client.registerSpeaker({ ...enroll, name: 'Cy', wav: path.join(dir, 'none.wav') }),
    { name: 'EngineError', exitCode: 1, message: /^register: / });
  await assert.rejects(client.unregisterSpeaker({ binary, db, id: bob.id, name: 'Robert' }), TypeError);
  // A segment the engine would skip without a word.
  await assert.rejects(client.identify({ ...enroll, wav: audioFile('speaker/two_voices.wav'),
    segments: [{ start: 2, end: 1, label: 'L' }] }), TypeError);
});
