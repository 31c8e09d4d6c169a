'use strict';
// Engines that run to their end (file transcription, speaker commands), and
// the final result a host reads out of result events.

const { spawnEngine } = require('./process.js');

function abortError(signal) {
  const error = new Error('The operation was aborted', { cause: signal.reason });
  error.name = 'AbortError';
  error.code = 'ABORT_ERR';
  return error;
}

// Runs the engine with `args` until it exits, handing each event to
// `onEvent`. Resolves with the exit ({code, signal, stderr} or
// {spawnError}) once the process is reaped and its descriptors closed. An
// abort ends the engine (SIGTERM: it has no handler for it) and rejects with
// an AbortError, also after the engine has ended.
async function runToEnd({ binary, args, signal, onEvent }) {
  if (signal?.aborted) throw abortError(signal);
  const { child, exited } = spawnEngine({ binary, args, onEvent });
  const onAbort = () => child.kill('SIGTERM');
  signal?.addEventListener('abort', onAbort, { once: true });
  try {
    const exit = await exited;
    if (signal?.aborted) throw abortError(signal);
    return exit;
  } finally {
    signal?.removeEventListener('abort', onAbort);
  }
}

// {text, segments, speakers} of a recognition out of its result events: the
// segments in order, the engine's merged text where it gives one (a single
// final result) and otherwise the texts joined with a space, as the engine
// joins them itself, and each speaker once in order of appearance.
function toResult(results) {
  const segments = results.flatMap((result) => result.segments);
  const merged = results.length === 1 ? results[0].merged_text : undefined;
  const text = merged ?? segments.map((segment) => segment.text).join(' ');
  const speakers = [...new Set(segments.map((segment) => segment.speaker).filter(Boolean))];
  return { text, segments, speakers };
}

module.exports = { runToEnd, toResult, abortError };
