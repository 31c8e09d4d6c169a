'use strict';
// The one-shot commands on the speaker enrollment database: each is one
// engine run that prints one object, or one error event and exits 1.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { commandLine } = require('./options.js');
const { exitError } = require('./process.js');
const { runToEnd } = require('./run.js');

// The engine picks the command from the options that are not empty; an
// empty one would make it fall through to transcription and complain about
// models instead.
function required(value, what) {
  if (typeof value !== 'string' || value === '') {
    throw new TypeError(`${what} must be a non-empty string`);
  }
  return value;
}

async function runCommand(options, binary) {
  const args = commandLine(options, { own: true });
  let output = null;
  let lastError = null;
  const exit = await runToEnd({
    binary, args,
    onEvent: (event) => {
      if (event.type === 'error') lastError ??= event.message;
      else if (!['log', 'complete'].includes(event.type)) output = event;
    },
  });
  if (exit.code !== 0 || !output) throw exitError(exit, lastError);
  return output;
}

async function registerSpeaker({ db, embeddingModel, name, wav, id, samplesDir, binary }) {
  return runCommand({
    speakerEnrollDb: db, speakerEmbeddingModel: embeddingModel,
    registerName: required(name, 'registerSpeaker: name'), registerInput: wav,
    registerSpeakerId: id, speakerSamplesDir: samplesDir,
  }, binary);
}

async function listSpeakers({ db, samplesDir, binary }) {
  return runCommand({ listSpeakers: true, speakerEnrollDb: db, speakerSamplesDir: samplesDir },
    binary);
}

async function migrateSpeakers({ db, samplesDir, binary }) {
  return runCommand({ migrateSpeakers: true, speakerEnrollDb: db, speakerSamplesDir: samplesDir },
    binary);
}

async function renameSpeaker({ db, id, name, binary }) {
  return runCommand({
    speakerEnrollDb: db, renameSpeakerId: required(id, 'renameSpeaker: id'),
    renameSpeakerName: required(name, 'renameSpeaker: name'),
  }, binary);
}

// By id, name or voiceprint digest: exactly one of them.
async function unregisterSpeaker({ db, id, name, md5, samplesDir, binary }) {
  const given = Object.entries({ id, name, md5 }).filter(([, value]) => value !== undefined);
  if (given.length !== 1) {
    throw new TypeError('unregisterSpeaker: give exactly one of id, name and md5');
  }
  const [key, value] = given[0];
  const selector = { id: 'unregisterSpeakerId', name: 'unregisterName', md5: 'unregisterMd5' }[key];
  return runCommand({
    speakerEnrollDb: db, speakerSamplesDir: samplesDir,
    [selector]: required(value, `unregisterSpeaker: ${key}`),
  }, binary);
}

// The segment list as the engine reads it: start, end and label per line.
// Lines the engine would skip without a word (no label, an empty range) are
// refused here instead.
function segmentLines(segments) {
  return segments.map(({ start, end, label }) => {
    if (!Number.isFinite(start) || !(start < end) || typeof label !== 'string' ||
        label === '' || /[\r\n]/.test(label)) {
      throw new TypeError('identify: each segment needs start < end (end may be Infinity) and a one-line label');
    }
    return `${start}\t${end === Infinity ? 'inf' : end}\t${label}\n`;
  }).join('');
}

// `segments` is the path of a segment list or the segments themselves,
// which go to the engine through a temporary file.
async function identify({ db, embeddingModel, wav, segments, threshold, maxSeconds, binary }) {
  const options = {
    identifyOnly: true, speakerEnrollDb: db, speakerEmbeddingModel: embeddingModel,
    wavInput: wav, speakerIdThreshold: threshold, speakerIdMaxSeconds: maxSeconds,
  };
  if (!Array.isArray(segments)) return runCommand({ ...options, segmentsInput: segments }, binary);
  const lines = segmentLines(segments);
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'dictacore-segments-'));
  try {
    const list = path.join(dir, 'segments.tsv');
    fs.writeFileSync(list, lines);
    return await runCommand({ ...options, segmentsInput: list }, binary);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

module.exports = {
  registerSpeaker, listSpeakers, migrateSpeakers, renameSpeaker, unregisterSpeaker, identify,
};
