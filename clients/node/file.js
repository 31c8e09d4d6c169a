'use strict';
// Transcription of a WAV or raw PCM file in one engine run.

const fs = require('node:fs');
const { commandLine } = require('./options.js');
const { exitError } = require('./process.js');
const { runToEnd, toResult } = require('./run.js');
const { wavInfo } = require('./wav.js');

const BYTES_PER_SAMPLE = { s16le: 2, f32le: 4 };
const RATE = 16000;

function inputOptions(file, format) {
  if (format === 'wav') return { wavInput: file };
  if (!BYTES_PER_SAMPLE[format]) {
    throw new TypeError('transcribeFile: format must be "wav", "s16le" or "f32le"');
  }
  return { pcmInput: file, audioFormat: format };
}

// Seconds of audio in the file, for progress; null when it cannot be told
// (the engine then reports why the file is unreadable).
function audioSeconds(file, format) {
  try {
    if (format !== 'wav') return fs.statSync(file).size / BYTES_PER_SAMPLE[format] / RATE;
    const info = wavInfo(file);
    const bytes = BYTES_PER_SAMPLE[info.format];
    return bytes ? info.dataBytes / bytes / info.channels / info.sampleRate : null;
  } catch {
    return null;
  }
}

// The engine logs its way through a file: start-up, the speech detector over
// the whole file, then one decode per group of speech (each cut logs where
// it ends), then speakers and punctuation of the merged text.
function progressStage(message) {
  if (/^(WAV|PCM) input: /.test(message)) return { stage: 'detecting-speech' };
  const cut = /^\[OFFLINE2PASS\]\[CUT\] .* padded_end=([0-9.]+)s/.exec(message);
  if (cut) return { stage: 'decoding', seconds: Number(cut[1]) };
  if (message.startsWith('[TIMING][VAD_AND_ASR] ')) return { stage: 'finishing' };
  return null;
}

async function transcribeFile(file, options = {}) {
  const { binary, signal, onProgress, format = 'wav', ...engineOptions } = options;
  if (typeof file !== 'string') throw new TypeError('transcribeFile: file must be a path');
  // The engine asks for streaming models unless in manual mode, which a
  // file decode never uses.
  const args = [...commandLine(engineOptions),
    ...commandLine({ manualMode: true, ...inputOptions(file, format) }, { own: true })];
  const totalSeconds = onProgress ? audioSeconds(file, format) : null;
  const report = (progress) => onProgress?.({ totalSeconds, ...progress });

  let result = null;
  let lastError = null;
  report({ stage: 'loading' });
  const exit = await runToEnd({
    binary, args, signal,
    onEvent: (event) => {
      if (event.type === 'result') result = event;
      else if (event.type === 'error') lastError ??= event.message;
      else if (event.type === 'log' && onProgress) {
        const progress = progressStage(event.message);
        if (progress) report(progress);
      }
    },
  });
  if (exit.code !== 0 || !result) throw exitError(exit, lastError);
  return toResult([result]);
}

module.exports = { transcribeFile };
