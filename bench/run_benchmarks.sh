#!/usr/bin/env bash
# Runs the benchmarks on a built tree and prints their figures.
#   bench/run_benchmarks.sh [BUILD_DIR]        (what `make bench` runs)
# The dictacore benchmark audio is generated on the first run into
# BUILD_DIR/bench/audio. Takes about twenty minutes: the file figures run
# recordings up to two hours long, the live figures stream
# audio in real time.
set -euo pipefail
BUILD_DIR=${1:-build}
BENCH="$BUILD_DIR/bench"
"$BENCH/file_bench" --runs 3
echo
"$BENCH/live_bench" all --reps 3 --sessions 100
for other in focus_probe_bench chordwatch_bench speakers_bench; do
  echo
  echo "== $other"
  "$BENCH/$other"
done
echo
echo "== focus_probe_desktop_bench"
node "$(dirname "$0")/focus_probe_desktop_bench.js" "$BUILD_DIR"
# chordwatch on X11: XTest key event -> script callback, on a private Xvfb.
BUILD_ABS=$(cd "$BUILD_DIR" && pwd)
if [ -x "$BUILD_ABS/tests/x11_key_tool" ]; then
  echo
  echo "== chordwatch_delay_bench"
  CHORDWATCH_ADDON="$BUILD_ABS/addons/chordwatch.node" \
  X11_KEY_TOOL="$BUILD_ABS/tests/x11_key_tool" \
    node "$(dirname "$0")/chordwatch_delay_bench.js" --presses 200
fi
