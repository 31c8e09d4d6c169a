#!/usr/bin/env node
'use strict';
// Push-to-talk dictation on a Linux desktop: hold the hotkey and speak; the
// partial text shows while you talk, the final text when you let go, and
// with --type it is typed into the focused window.
//
//   node examples/push-to-talk.js [--key ctrl+space] [--wav FILE] [--type]
//       [--focus] [--options FILE.json] [--engine PATH] [--addons DIR]
//
// --wav plays a 16 kHz mono WAV file as the microphone, from its start at
// every press; otherwise parec or arecord records the microphone.
// --options names a JSON file of engine options (the client's option names)
// laid over the test kit's models, to dictate with real models.

const { execFile, spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { parseArgs } = require('node:util');
const { startEngine, wavInfo } = require('../clients/node');

const ROOT = path.join(__dirname, '..');
const CHUNK_MS = 100;
const BYTES_PER_SECOND = { s16le: 32000, f32le: 64000 };

const USAGE = 'usage: node examples/push-to-talk.js [--key COMBO] [--wav FILE] [--type] ' +
  '[--focus] [--options FILE.json] [--engine PATH] [--addons DIR]';

function commandLine() {
  const { values } = parseArgs({
    options: {
      key: { type: 'string', default: 'ctrl+space' },
      wav: { type: 'string' },
      type: { type: 'boolean', default: false },
      focus: { type: 'boolean', default: false },
      options: { type: 'string' },
      engine: { type: 'string' },
      addons: { type: 'string', default: path.join(ROOT, 'build', 'addons') },
    },
  });
  return values;
}

// Realtime partials, and the whole dictation decoded again when the key is
// released; the test kit's models unless --options says otherwise.
function engineOptions(args, audioFormat) {
  const models = path.join(ROOT, 'build', 'models');
  const kit = {
    secondModel: path.join(models, 'sense-voice', 'model.onnx'),
    secondTokens: path.join(models, 'sense-voice', 'tokens.txt'),
    ctTransformer: path.join(models, 'punct', 'model.onnx'),
    sileroVadModel: path.join(models, 'silero', 'silero_vad_v5.onnx'),
    firstEncoder: path.join(models, 'streaming', 'encoder.onnx'),
    firstDecoder: path.join(models, 'streaming', 'decoder.onnx'),
    firstJoiner: path.join(models, 'streaming', 'joiner.onnx'),
    firstTokens: path.join(models, 'streaming', 'tokens.txt'),
  };
  const own = args.options ? JSON.parse(fs.readFileSync(args.options, 'utf8')) : {};
  return {
    ...kit, ...own, binary: args.engine ?? own.binary, audioFormat,
    manualMode: true, manualRealtime: true, offline2pass: true, startPaused: true,
  };
}

function onPath(program) {
  return (process.env.PATH || '').split(':')
    .some((dir) => dir && fs.existsSync(path.join(dir, program)));
}

// A WAV file played in real time from its start at every press.
function wavMicrophone(file) {
  const info = wavInfo(file);
  if (info.sampleRate !== 16000 || info.channels !== 1 || !info.format) {
    throw new Error(`${file}: needs 16 kHz mono, 16-bit or float samples`);
  }
  const samples = fs.readFileSync(file).subarray(info.dataOffset, info.dataOffset + info.dataBytes);
  const rate = BYTES_PER_SECOND[info.format];
  const bytesPerSample = rate / 16000;
  let timer = null;
  return {
    format: info.format,
    name: file,
    start(onData) {
      const started = Date.now();
      let sent = 0;
      // What is due by the clock, so that late timers catch up.
      timer = setInterval(() => {
        const due = Math.floor((Date.now() - started) * rate / 1000 / bytesPerSample) * bytesPerSample;
        const end = Math.min(due, samples.length);
        if (end > sent) onData(samples.subarray(sent, end));
        sent = end;
      }, CHUNK_MS);
    },
    stop() { clearInterval(timer); },
    close() { clearInterval(timer); },
  };
}

// parec (PulseAudio, PipeWire) or arecord (ALSA) as 16 kHz mono s16le. The
// recorder runs from the first press on, so that no word is lost while it
// starts; only what comes while the key is held is used.
function recorderMicrophone() {
  const recorders = [
    ['parec', ['--format=s16le', '--rate=16000', '--channels=1', '--raw']],
    ['arecord', ['-q', '-t', 'raw', '-f', 'S16_LE', '-r', '16000', '-c', '1']],
  ];
  const found = recorders.find(([program]) => onPath(program));
  if (!found) throw new Error('no microphone: install parec (pulseaudio-utils) or arecord (alsa-utils), or use --wav');
  let recorder = null;
  let listener = null;
  return {
    format: 's16le',
    name: found[0],
    start(onData) {
      listener = onData;
      if (recorder) return;
      recorder = spawn(found[0], found[1], { stdio: ['ignore', 'pipe', 'inherit'] });
      recorder.stdout.on('data', (chunk) => listener?.(chunk));
      recorder.on('exit', (code, signal) => {
        if (recorder) console.error(`${found[0]} ended (${signal || code})`);
        recorder = null;
      });
    },
    stop() { listener = null; },
    close() {
      const ending = recorder;
      recorder = null;
      ending?.kill();
    },
  };
}

// One line of live text: on a terminal it is rewritten in place.
function liveLine(text) {
  if (process.stdout.isTTY) process.stdout.write(`\r\x1b[K… ${text}`);
  else process.stdout.write(`partial: ${text}\n`);
}

function endLiveLine() {
  if (process.stdout.isTTY) process.stdout.write('\r\x1b[K');
}

function focusDescription(focusprobe) {
  const app = focusprobe.getActiveApp();
  if (!app) return 'focus: unknown (no window manager or accessibility bus answered)';
  return `focus: ${app.appName} — ${app.windowTitle} (${app.canInput ? 'takes text' : 'no text field'})`;
}

function typeText(text) {
  execFile('xdotool', ['type', '--clearmodifiers', '--', text], (error) => {
    if (error) console.error(`xdotool: ${error.message}`);
  });
}

async function main() {
  const args = commandLine();
  const microphone = args.wav ? wavMicrophone(args.wav) : recorderMicrophone();
  const typing = args.type && onPath('xdotool');
  if (args.type && !typing) console.error('--type needs xdotool (apt install xdotool); not typing');
  const { Chordwatch } = require(path.join(args.addons, 'chordwatch.node'));
  const focusprobe = args.focus ? require(path.join(args.addons, 'focusprobe.node')) : null;

  const engine = startEngine(engineOptions(args, microphone.format));
  const { failures } = await engine.ready;
  for (const failure of failures) console.error(`dictacore: ${failure}`);

  // The text of the dictation so far: closed phrases, then the open one.
  let phrases = [];
  let partial = '';
  engine.on('punctuated', (event) => {
    phrases.push(event.text);
    partial = '';
  });
  engine.on('partial', (event) => {
    if (event.text === partial) return;
    partial = event.text;
    if (partial) liveLine(phrases.join('') + partial);
  });

  // The client keeps the order: a press during the last release's decode
  // starts once that is done, and its audio waits for the start.
  const failed = (error) => {
    endLiveLine();
    console.error(`dictation failed: ${error.message}`);
  };
  const press = () => {
    phrases = [];
    partial = '';
    if (focusprobe) console.log(focusDescription(focusprobe));
    engine.start().catch(failed);
    microphone.start((pcm) => engine.write(pcm));
  };
  const release = () => {
    microphone.stop();
    engine.stop().then(({ text }) => {
      endLiveLine();
      console.log(`final: ${text}`);
      if (typing && text) typeText(text);
    }, failed);
  };

  const watcher = new Chordwatch({ exclusiveMode: true, minPressDurationMs: 0 });
  const binding = watcher.register(args.key, { exclusive: true, name: 'dictate' });
  watcher.setEventCallback((event) => {
    if (event.binding_id !== binding) return;
    if (event.type === 'press') press();
    if (event.type === 'release') release();
  });
  watcher.start();
  console.log(`ready: hold ${args.key} to dictate from ${microphone.name} (Ctrl+C ends)`);

  let closing = false;
  engine.once('exit', ({ code, signal }) => {
    if (closing) return;
    console.error(`dictacore ended (${signal || `status ${code}`})`);
    process.exit(1);
  });
  process.once('SIGINT', async () => {
    closing = true;
    watcher.stop();
    microphone.close();
    await engine.close();  // after the last dictation's result
    process.exit(0);
  });
}

main().catch((error) => {
  console.error(error.message);
  if (error instanceof TypeError) console.error(USAGE);
  process.exit(1);
});
