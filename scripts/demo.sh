#!/usr/bin/env bash
# The main job: until file transcription lands this shows the engine's usage.
set -euo pipefail
BUILD_DIR=${1:-build}
"$BUILD_DIR/bin/dictacore" --help
