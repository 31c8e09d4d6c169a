'use strict';
// The push-to-talk example on a private Xvfb: a WAV file as the microphone,
// Ctrl+Space held through XTest, the final text printed and typed into the
// focused window.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, execFileSync } = require('node:child_process');
const path = require('node:path');
const { startXvfb, startKeyTool, stopAll, waitFor } = require('../tests/support/desktop.js');
const { binary, audioFile, spoken, words } = require('../clients/node/test/kit.js');

const EXAMPLE = path.join(__dirname, 'push-to-talk.js');
const ADDONS = process.env.DICTACORE_ADDONS || path.join(__dirname, '..', 'build', 'addons');
const WAIT_MS = 60000;

// The characters typed into the key tool's window, one per key press: the
// character of a key on the keyboard map, else null. xdotool types other
// characters by binding them to a spare key one after another, and an X
// client that looks such a key up late sees the binding of a later one.
function typed(received) {
  return received.filter((key) => key.startsWith('press ')).map((key) => key.slice(6))
    .map((name) => (name === 'space' ? ' ' : name.length === 1 ? name : null));
}

test('hold the key, speak, let go: the final text is printed and typed', async (t) => {
  const xvfb = await startXvfb();
  const keys = await startKeyTool(xvfb);
  t.after(() => stopAll([xvfb, keys]));
  await keys.openWindow();
  // The add-ons load into this node, which the sanitizer suites preload.
  const example = spawn(process.execPath, [EXAMPLE, '--wav', audioFile('speech_pause_speech.wav'),
    '--type', '--focus', '--engine', binary, '--addons', ADDONS],
  { env: { ...process.env, DISPLAY: xvfb.display } });
  let stdout = '';
  let stderr = '';
  example.stdout.on('data', (chunk) => { stdout += chunk; });
  example.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => example.once('exit', (code, signal) => resolve({ code, signal })));
  t.after(() => example.kill('SIGKILL'));

  await waitFor(() => /^ready: hold ctrl\+space/m.test(stdout) &&
    stderr.includes('X11 keyboard watcher started'), 'the example to listen', WAIT_MS);
  // Longer than the recording, which plays from the press on.
  await keys.hold(['Control_L', 'space'], 6500);
  // Whether the hotkey reached the window depends on when the grab came.
  await keys.sync();
  keys.received.length = 0;
  const final = await waitFor(() => /^final: (.*)$/m.exec(stdout), 'the final text', WAIT_MS);
  assert.equal(words(final[1]), spoken('speech_pause_speech'), stdout);
  const characters = [...final[1]];
  await waitFor(async () => {
    await keys.sync();
    return typed(keys.received).length >= characters.length;
  }, 'the typed text', WAIT_MS);
  assert.deepEqual(typed(keys.received), characters.map((c) => (c < '\x7f' ? c : null)));

  const lines = stdout.split('\n');
  assert.match(lines[1], /^focus: /);
  const partials = lines.filter((line) => line.startsWith('partial: '));
  assert.ok(partials.length >= 2, stdout);
  assert.ok(lines.indexOf(partials.at(-1)) < lines.indexOf(final[0]));

  example.kill('SIGINT');
  assert.deepEqual(await exited, { code: 0, signal: null }, stderr);
});

test('the options for the fetched models name the files of the fetched model set', () => {
  const options = require('./fetched-models.json');
  const set = execFileSync('bash', ['-c', `source ${path.join(__dirname, '..', 'scripts', 'model-set.sh')}
    select_first_pass en
    for file in "$SECOND_MODEL" "$SECOND_TOKENS" "$PUNCTUATION_MODEL" "$VAD_MODEL" \
      "$FIRST_ENCODER" "$FIRST_DECODER" "$FIRST_JOINER" "$FIRST_TOKENS"; do echo "models/$file"; done`],
  { encoding: 'utf8' }).trim().split('\n');
  const { secondModel, secondTokens, ctTransformer, sileroVadModel, firstEncoder, firstDecoder,
    firstJoiner, firstTokens } = options;
  assert.deepEqual([secondModel, secondTokens, ctTransformer, sileroVadModel, firstEncoder,
    firstDecoder, firstJoiner, firstTokens], set);
});
