'use strict';
// The engine build and the test kit's models and audio for the client's
// tests, and the checks they share.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const BUILD = path.join(__dirname, '..', '..', '..', 'build');
const binary = process.env.DICTACORE_BINARY || path.join(BUILD, 'bin', 'dictacore');
const models = process.env.DICTACORE_MODELS || path.join(BUILD, 'models');
const audio = process.env.DICTACORE_AUDIO || path.join(BUILD, 'audio');
const model = (file) => path.join(models, file);
const audioFile = (file) => path.join(audio, file);

const secondPass = {
  binary, secondModel: model('sense-voice/model.onnx'), secondTokens: model('sense-voice/tokens.txt'),
  ctTransformer: model('punct/model.onnx'), sileroVadModel: model('silero/silero_vad_v5.onnx'),
};
const realtime = {
  ...secondPass, manualMode: true, manualRealtime: true,
  firstEncoder: model('streaming/encoder.onnx'), firstDecoder: model('streaming/decoder.onnx'),
  firstJoiner: model('streaming/joiner.onnx'), firstTokens: model('streaming/tokens.txt'),
};
const MODES = {
  pushToTalk: { ...secondPass, manualMode: true },
  realtime,
  offline2pass: { ...realtime, offline2pass: true },
  singleModel: { ...secondPass, manualMode: true, manualRealtime: true, singleModelStreaming: true },
};

const manifest = JSON.parse(fs.readFileSync(audioFile('manifest.json'), 'utf8')).files;
// What the kit's models hear in a kit recording, punctuation and blanks aside.
const spoken = (name) => manifest[name].text.replace(/\s/g, '');
const words = (text) => text.replace(/[\s，。？]/g, '');

// Descriptors this process has open. The first child process a process
// starts opens some for good; `settled` starts one first.
async function openDescriptors({ settled = false } = {}) {
  if (settled) await new Promise((resolve) => spawn('true').once('close', resolve));
  return fs.readdirSync('/proc/self/fd').length;
}
// Whether a process is still there, a zombie included.
const exists = (pid) => fs.existsSync(`/proc/${pid}`);

module.exports = {
  binary, model, audioFile, secondPass, MODES, spoken, words, openDescriptors, exists,
};
