'use strict';
// The engine's options as an object: one line per option maps its key onto
// the command line. The engine ignores unknown options silently and reads
// numbers with atoi/atof, so a typo or a wrong type would pass unnoticed
// there; here they are refused before anything starts.

const FLAG = 'flag';
const TEXT = 'text';
const INT = 'int';
const REAL = 'real';
// Set by the client's own functions (file input, speaker commands), never by
// the options a host passes.
const OWN = true;

const OPTIONS = {
  firstModelType: ['--first-model-type', TEXT],
  firstEncoder: ['--first-encoder', TEXT],
  firstDecoder: ['--first-decoder', TEXT],
  firstJoiner: ['--first-joiner', TEXT],
  firstTokens: ['--first-tokens', TEXT],
  secondType: ['--second-type', TEXT],
  secondModel: ['--second-model', TEXT],
  secondEncoder: ['--second-encoder', TEXT],
  secondDecoder: ['--second-decoder', TEXT],
  secondTokens: ['--second-tokens', TEXT],
  secondLanguage: ['--second-language', TEXT],
  secondTask: ['--second-task', TEXT],
  disableSecondItn: ['--disable-second-itn', FLAG],
  ctTransformer: ['--ct-transformer', TEXT],
  numThreadsFirst: ['--num-threads-first', INT],
  numThreadsSecond: ['--num-threads-second', INT],
  numThreadsPunc: ['--num-threads-punc', INT],
  providerFirst: ['--provider-first', TEXT],
  providerSecond: ['--provider-second', TEXT],
  providerPunc: ['--provider-punc', TEXT],
  sampleRate: ['--sample-rate', INT],
  audioFormat: ['--audio-format', TEXT],
  chunkDuration: ['--chunk-duration', REAL],
  sileroVadModel: ['--silero-vad-model', TEXT],
  vadThreshold: ['--vad-threshold', REAL],
  vadMinSilence: ['--vad-min-silence', REAL],
  vadMinSpeech: ['--vad-min-speech', REAL],
  vadMaxSpeech: ['--vad-max-speech', REAL],
  vadLookback: ['--vad-lookback', REAL],
  vadLookahead: ['--vad-lookahead', REAL],
  manualMode: ['--manual-mode', FLAG],
  manualRealtime: ['--manual-realtime', FLAG],
  offline2pass: ['--offline-2pass', FLAG],
  secondPassEvery: ['--second-pass-every', INT],
  startPaused: ['--start-paused', FLAG],
  sessionId: ['--session-id', INT],
  singleModelStreaming: ['--single-model-streaming', FLAG],
  singlePartialInterval: ['--single-partial-interval', REAL],
  singleTrimCap: ['--single-trim-cap', REAL],
  singleTrimKeep: ['--single-trim-keep', REAL],
  singleMaxWindow: ['--single-max-window', REAL],
  diarization: ['--diarization', FLAG],
  diarizationModel: ['--diarization-model', TEXT],
  diarizationSegmentationModel: ['--diarization-segmentation-model', TEXT],
  diarizationEmbeddingModel: ['--diarization-embedding-model', TEXT],
  diarizationHelperBinary: ['--diarization-helper-binary', TEXT],
  diarizationBackend: ['--diarization-backend', TEXT],
  diarizationMinSpeakers: ['--diarization-min-speakers', INT],
  diarizationMaxSpeakers: ['--diarization-max-speakers', INT],
  diarizationNumThreads: ['--diarization-num-threads', INT],
  speakerId: ['--speaker-id', FLAG],
  speakerEmbeddingModel: ['--speaker-embedding-model', TEXT],
  speakerEnrollDb: ['--speaker-enroll-db', TEXT],
  speakerIdThreshold: ['--speaker-id-threshold', REAL],
  speakerIdMaxSeconds: ['--speaker-id-max-seconds', REAL],
  wavInput: ['--wav-input', TEXT, OWN],
  pcmInput: ['--pcm-input', TEXT, OWN],
  registerName: ['--register-name', TEXT, OWN],
  registerInput: ['--register-input', TEXT, OWN],
  registerSpeakerId: ['--register-speaker-id', TEXT, OWN],
  speakerSamplesDir: ['--speaker-samples-dir', TEXT, OWN],
  listSpeakers: ['--list-speakers', FLAG, OWN],
  migrateSpeakers: ['--migrate-speakers', FLAG, OWN],
  renameSpeakerId: ['--rename-speaker-id', TEXT, OWN],
  renameSpeakerName: ['--rename-speaker-name', TEXT, OWN],
  unregisterSpeakerId: ['--unregister-speaker-id', TEXT, OWN],
  unregisterName: ['--unregister-name', TEXT, OWN],
  unregisterMd5: ['--unregister-md5', TEXT, OWN],
  identifyOnly: ['--identify-only', FLAG, OWN],
  segmentsInput: ['--segments-input', TEXT, OWN],
};

const CHECKS = {
  [FLAG]: (value) => typeof value === 'boolean',
  [TEXT]: (value) => typeof value === 'string' && !value.includes('\0'),
  [INT]: (value) => Number.isInteger(value) && Math.abs(value) <= 0x7fffffff,
  [REAL]: (value) => Number.isFinite(value),
};

const EXPECTED = {
  [FLAG]: 'a boolean',
  [TEXT]: 'a string without NUL bytes',
  [INT]: 'a 32-bit integer',
  [REAL]: 'a finite number',
};

// The command line for `options`. `own` lets the client's functions set the
// options marked OWN; a host's options may not. Undefined values are left
// out, as are false flags.
function commandLine(options, { own = false } = {}) {
  const args = [];
  for (const [key, value] of Object.entries(options)) {
    const entry = OPTIONS[key];
    if (!entry || (entry[2] === OWN && !own)) {
      throw new TypeError(`dictacore: unknown option "${key}"`);
    }
    if (value === undefined) continue;
    const [flag, kind] = entry;
    if (!CHECKS[kind](value)) {
      throw new TypeError(`dictacore: option "${key}" must be ${EXPECTED[kind]}`);
    }
    if (kind === FLAG) {
      if (value) args.push(flag);
    } else {
      args.push(flag, String(value));
    }
  }
  return args;
}

module.exports = { commandLine, OPTIONS };
