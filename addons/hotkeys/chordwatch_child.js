'use strict';
// Scripts run in a child node of their own, so that their exit status and
// standard error (the add-on's log lines) can be checked.
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');

// Runs preamble + script in a child node; resolves with its exit code,
// signal and output. With aliveForMs, resolves with alive=true when it is
// still running after that time (and kills it). onStart(child) may talk to
// the child's standard input.
function runChild(script, { preamble = '', env = process.env, aliveForMs, onStart } = {}) {
  const child = spawn(process.execPath, ['--expose-gc', '-e', `${preamble}\n${script}`], {
    env,
    stdio: [onStart ? 'pipe' : 'ignore', 'pipe', 'pipe'],
  });
  let stdout = '';
  let stderr = '';
  child.stdout.on('data', (d) => { stdout += d; });
  child.stderr.on('data', (d) => { stderr += d; });
  if (onStart) onStart(child);
  return new Promise((resolve) => {
    let timer = null;
    if (aliveForMs) {
      timer = setTimeout(() => {
        child.kill('SIGKILL');
        resolve({ alive: true, stdout, stderr });
      }, aliveForMs);
    }
    child.on('exit', (code, signal) => {
      if (timer) clearTimeout(timer);
      resolve({ alive: false, code, signal, stdout, stderr });
    });
  });
}

function assertCleanExit(result) {
  assert.equal(result.alive, false, 'still running');
  assert.equal(result.signal, null, `killed by ${result.signal}\n${result.stderr}`);
  assert.equal(result.code, 0, result.stderr);
}

// The add-on's log lines without their prefix.
function logLines(stderr) {
  const prefix = '[Chordwatch C++] ';
  return stderr.split('\n').filter((line) => line.startsWith(prefix))
    .map((line) => line.slice(prefix.length));
}

module.exports = { runChild, assertCleanExit, logLines };
