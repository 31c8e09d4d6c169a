#!/usr/bin/env bash
# The main job: transcribe a sample recording made by the test kit (speech,
# a pause, more speech) with the bundled models, and print the event stream.
set -euo pipefail
BUILD_DIR=${1:-build}
MODELS="$BUILD_DIR/models"
SAMPLE="$BUILD_DIR/audio/speech_pause_speech.wav"

echo "== dictacore --wav-input $SAMPLE" >&2
"$BUILD_DIR/bin/dictacore" \
  --manual-mode \
  --second-model "$MODELS/sense-voice/model.onnx" \
  --second-tokens "$MODELS/sense-voice/tokens.txt" \
  --ct-transformer "$MODELS/punct/model.onnx" \
  --silero-vad-model "$MODELS/silero/silero_vad_v5.onnx" \
  --wav-input "$SAMPLE"
