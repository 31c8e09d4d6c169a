'use strict';
// Time of the shipped focusprobe module on a private X11 desktop (Xvfb, the
// accessibility bus and registry, openbox): each script function against the
// GTK test window and against the same window holding a list of 1490 labels
// (1500 elements visited). The module runs in a host process of its own
// (addons/focus/probe_host.js), which times each call around the function
// alone.
//
//   node bench/focus_probe_desktop_bench.js [BUILD_DIR] [--runs N]
const os = require('node:os');
const path = require('node:path');

const {
  startDesktop, startInteractive, startTextWindow, stopAll, waitFor,
} = require('../tests/support/desktop.js');

const args = process.argv.slice(2);
const runsAt = args.indexOf('--runs');
const runs = runsAt >= 0 ? Number(args.splice(runsAt, 2)[1]) : 30;
const buildDir = args[0] || 'build';
const addon = path.resolve(buildDir, 'addons', 'focusprobe.node');
const FUNCTIONS = ['getFocusedWindowTextCandidates', 'getFocusedWindowTextProbeDebug',
  'getActiveApp'];

function quantile(sorted, q) {
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
}

async function timeWindow(desktop, label, windowArgs) {
  const app = await startTextWindow(desktop, windowArgs);
  const host = await startInteractive('probe_host.js', process.execPath,
    [path.join(__dirname, '..', 'addons', 'focus', 'probe_host.js')],
    { ...desktop.envFor(process.env), FOCUSPROBE_ADDON: addon });
  try {
    const call = async (name) => JSON.parse(await host.request(name, 60000));
    await waitFor(async () => (await call('getActiveApp')).result, 'the window');
    const debug = (await call('getFocusedWindowTextProbeDebug')).result;
    for (const name of FUNCTIONS) {
      await call(name);  // warm-up: libatspi meets the objects once
      const times = [];
      for (let i = 0; i < runs; i++) times.push((await call(name)).ms);
      times.sort((a, b) => a - b);
      console.log(`${label.padEnd(14)} ${String(debug.visitedCount).padStart(7)} ` +
        `${String(debug.candidateCount).padStart(6)} ${String(debug.childFetchErrorCount).padStart(6)}  ` +
        `${name.padEnd(32)} ${[0.5, 0.9].map((q) => quantile(times, q).toFixed(1).padStart(8)).join('')}` +
        `${times[times.length - 1].toFixed(1).padStart(8)}`);
    }
  } finally {
    await stopAll([app, host]);
  }
}

async function main() {
  const load = () => os.loadavg().map((l) => l.toFixed(2)).join(' ');
  console.log(`focusprobe on a private X11 desktop; ${os.cpus().length} cores; ${runs} runs each; ` +
    `load average at start ${load()}`);
  console.log(`${'window'.padEnd(14)} ${'visited'.padStart(7)} ${'texts'.padStart(6)} ` +
    `${'errors'.padStart(6)}  ${'function'.padEnd(32)} ${'median'.padStart(8)}${'p90'.padStart(8)}` +
    `${'max'.padStart(8)}  (ms)`);
  const desktop = await startDesktop();
  try {
    await timeWindow(desktop, 'test window', []);
    await timeWindow(desktop, '1490 labels', ['--labels', '1490']);
  } finally {
    await desktop.stop();
  }
  console.log(`load average at end ${load()}`);
}

main().catch((err) => {
  console.error(err);
  process.exitCode = 1;
});
