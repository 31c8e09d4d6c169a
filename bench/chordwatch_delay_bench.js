'use strict';
// chordwatch on X11: the delay from a key event sent through XTest to the
// script callback of the real module, on a private Xvfb. One bound key is
// pressed and released N times, listening only and then as an exclusive
// binding (grabbed, every key event decided and swallowed); the figures are
// the median and the 99th percentile of the press and release callbacks.
//   node bench/chordwatch_delay_bench.js [--presses 200]
// The module and the key tool come from CHORDWATCH_ADDON and X11_KEY_TOOL,
// else from build/.
const os = require('node:os');
const { startXvfb, startKeyTool, stopAll, waitFor } = require('../tests/support/desktop.js');
const { Chordwatch, startListening } = require('../addons/hotkeys/chordwatch_x11_util.js');

const KEY = 'F5';

function percentile(sorted, p) {
  return sorted[Math.min(sorted.length - 1, Math.ceil((p / 100) * sorted.length) - 1)];
}

// Presses and releases KEY `presses` times; resolves with the delays in ms.
async function measure(keys, exclusive, presses) {
  const w = new Chordwatch({ exclusiveMode: exclusive, minPressDurationMs: 0 });
  w.register(KEY, { exclusive });
  const heard = { press: [], release: [] };
  const events = await startListening(w, keys);
  w.setEventCallback((event) => {
    if (heard[event.type]) heard[event.type].push(process.hrtime.bigint());
  });
  events.length = 0;
  const delays = { press: [], release: [] };
  for (let i = 0; i < presses; ++i) {
    for (const [type, send] of [['press', (k) => keys.down(k)], ['release', (k) => keys.up(k)]]) {
      const sent = await send(KEY);
      await waitFor(() => heard[type].length > i, `${type} ${i}`);
      delays[type].push(Number(heard[type][i] - sent) / 1e6);
    }
  }
  w.stop();
  return delays;
}

async function main() {
  const at = process.argv.indexOf('--presses');
  const presses = at > 0 ? Number(process.argv[at + 1]) : 200;
  const xvfb = await startXvfb();
  process.env.DISPLAY = xvfb.display;
  let keys = null;
  try {
    keys = await startKeyTool(xvfb);
    const load = os.loadavg().map((l) => l.toFixed(2)).join(' ');
    console.log(`chordwatch: XTest key event -> script callback, ${presses} presses ` +
      `(${os.cpus().length} cores, load ${load})`);
    console.log('mode          event     median ms   p99 ms');
    for (const exclusive of [false, true]) {
      const delays = await measure(keys, exclusive, presses);
      for (const type of ['press', 'release']) {
        const sorted = delays[type].sort((a, b) => a - b);
        console.log(`${(exclusive ? 'exclusive' : 'listen-only').padEnd(14)}${type.padEnd(10)}` +
          `${percentile(sorted, 50).toFixed(3).padStart(9)}${percentile(sorted, 99).toFixed(3).padStart(9)}`);
      }
    }
  } finally {
    await stopAll([xvfb, keys]);
  }
  // Each object's callback would keep the event loop alive.
  process.exit(0);
}

main().catch((err) => {
  console.error(err);
  process.exit(1);
});
