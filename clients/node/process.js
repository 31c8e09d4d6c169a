'use strict';
// One dictacore process: spawned with its event stream parsed line by line,
// its standard error kept for diagnosis, and every descriptor of ours closed
// once it has exited.

const { spawn } = require('node:child_process');
const path = require('node:path');

const DEFAULT_BINARY = path.join(__dirname, '..', '..', 'build', 'bin', 'dictacore');
// Only the usage text and sanitizer reports come on standard error; the end
// of it is enough to tell what happened.
const STDERR_KEEP = 16 * 1024;

class EngineError extends Error {
  constructor(message, { exitCode = null, signal = null, stderr = '' } = {}) {
    super(message);
    this.name = 'EngineError';
    this.exitCode = exitCode;
    this.signal = signal;
    this.stderr = stderr;
  }
}

// The error for a process that ended (or never started) without giving
// what was asked of it: the engine's own last error message when it sent
// one, else how it ended.
function exitError(exit, lastError) {
  if (exit.spawnError) {
    return new EngineError(`dictacore could not be started: ${exit.spawnError.message}`);
  }
  const how = exit.signal ? `was killed by ${exit.signal}` : `exited with status ${exit.code}`;
  return new EngineError(lastError || `dictacore ${how}`, {
    exitCode: exit.code, signal: exit.signal, stderr: exit.stderr,
  });
}

// Cuts a byte stream into lines. A line is decoded only once whole, so a
// UTF-8 sequence split between two reads stays intact; a last line without
// its line feed (the process died while writing it) is never delivered.
function lineSplitter(onLine) {
  let parts = [];
  return (chunk) => {
    let start = 0;
    for (let end = chunk.indexOf(10); end >= 0; end = chunk.indexOf(10, start)) {
      parts.push(chunk.subarray(start, end));
      onLine(Buffer.concat(parts).toString('utf8'));
      parts = [];
      start = end + 1;
    }
    if (start < chunk.length) parts.push(chunk.subarray(start));
  };
}

function parseEvent(line) {
  try {
    return JSON.parse(line);
  } catch {
    // The engine writes nothing else on standard output: a line that is not
    // JSON means the stream is broken, which the host must hear about.
    return { type: 'error', message: `dictacore wrote a line that is not JSON: ${line.slice(0, 200)}` };
  }
}

// Spawns the engine with `args`. `audio` adds the audio pipe as descriptor 3;
// `commands` keeps standard input open for commands. `onEvent` gets every
// event in order. Resolves `exited` with {code, signal, stderr} (or
// {spawnError}) once the process has been reaped and its output read to the
// end.
function spawnEngine({ binary = DEFAULT_BINARY, args, audio = false, commands = false, onEvent }) {
  const stdio = [commands ? 'pipe' : 'ignore', 'pipe', 'pipe'];
  if (audio) stdio.push('pipe');
  const child = spawn(binary, args, { stdio });
  const writers = [child.stdin, child.stdio[3]].filter(Boolean);
  // A write after the engine went away fails with EPIPE; the exit says why.
  for (const stream of writers) stream.on('error', () => {});

  child.stdout.on('data', lineSplitter((line) => onEvent(parseEvent(line))));
  let stderr = '';
  child.stderr.on('data', (chunk) => {
    stderr = (stderr + chunk.toString('utf8')).slice(-STDERR_KEEP);
  });

  let spawnError = null;
  child.on('error', (error) => {
    if (child.pid === undefined) spawnError = error;  // else a failed kill
  });
  // Our ends of the pipes the engine only reads do not close by themselves,
  // and 'close' waits for them.
  child.once('exit', () => writers.forEach((stream) => stream.destroy()));
  const exited = new Promise((resolve) => {
    child.once('close', (code, signal) => resolve(spawnError
      ? { spawnError, code: null, signal: null, stderr }
      : { code, signal, stderr }));
  });
  return { child, exited };
}

module.exports = { spawnEngine, exitError, EngineError, DEFAULT_BINARY };
