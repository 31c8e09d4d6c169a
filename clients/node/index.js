'use strict';
// Node client of the dictacore speech engine.

const { startEngine, Engine } = require('./engine.js');
const { transcribeFile } = require('./file.js');
const { EngineError, DEFAULT_BINARY } = require('./process.js');
const speakers = require('./speakers.js');
const { wavInfo } = require('./wav.js');

module.exports = {
  startEngine, Engine, transcribeFile, EngineError, DEFAULT_BINARY, wavInfo, ...speakers,
};
