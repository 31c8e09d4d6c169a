'use strict';
// Where the samples of a WAV file are and what they are, read from its
// chunk headers without loading the file.

const fs = require('node:fs');

const PCM = 1;
const IEEE_FLOAT = 3;
const EXTENSIBLE = 0xfffe;

function readAt(fd, position, length) {
  const buffer = Buffer.alloc(length);
  const got = fs.readSync(fd, buffer, 0, length, position);
  return buffer.subarray(0, got);
}

function sampleFormat(fmt) {
  let tag = fmt.readUInt16LE(0);
  // WAVE_FORMAT_EXTENSIBLE names the real format in its sub-format GUID.
  if (tag === EXTENSIBLE && fmt.length >= 26) tag = fmt.readUInt16LE(24);
  const bits = fmt.readUInt16LE(14);
  if (tag === PCM && bits === 16) return 's16le';
  if (tag === IEEE_FLOAT && bits === 32) return 'f32le';
  return null;
}

// {sampleRate, channels, format ('s16le', 'f32le' or null for others),
// dataOffset, dataBytes}; throws when the file is not a WAV file.
function wavInfo(file) {
  const fd = fs.openSync(file, 'r');
  try {
    const head = readAt(fd, 0, 12);
    if (head.length < 12 || head.toString('latin1', 0, 4) !== 'RIFF' ||
        head.toString('latin1', 8, 12) !== 'WAVE') {
      throw new Error(`${file}: not a WAV file`);
    }
    const size = fs.fstatSync(fd).size;
    let info = null;
    for (let at = 12; at + 8 <= size;) {
      const chunk = readAt(fd, at, 8);
      const id = chunk.toString('latin1', 0, 4);
      const length = chunk.readUInt32LE(4);
      if (id === 'fmt ') {
        const fmt = readAt(fd, at + 8, Math.min(length, 40));
        if (fmt.length < 16) break;
        info = { sampleRate: fmt.readUInt32LE(4), channels: fmt.readUInt16LE(2),
          format: sampleFormat(fmt) };
      } else if (id === 'data' && info) {
        return { ...info, dataOffset: at + 8, dataBytes: Math.min(length, size - at - 8) };
      }
      at += 8 + length + (length % 2);  // chunks are padded to even sizes
    }
    throw new Error(`${file}: no "fmt " chunk before the "data" chunk`);
  } finally {
    fs.closeSync(fd);
  }
}

module.exports = { wavInfo };
