#!/usr/bin/env bash
# The main job: transcribe a sample recording made by the test kit (speech,
# a pause, more speech) and print the event stream. With the models of
# scripts/fetch-models.sh in MODELS_DIR (default: models/ at the top of the
# clone) it uses those; otherwise the test kit's bundled models. Never
# downloads anything.
#
#   scripts/demo.sh [BUILD_DIR [MODELS_DIR]]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/model-set.sh
source "$ROOT/scripts/model-set.sh"
BUILD_DIR=${1:-build}
FETCHED=${2:-$ROOT/models}
SAMPLE="$BUILD_DIR/audio/speech_pause_speech.wav"

missing=()
for file in "${TRANSCRIBE_FILES[@]}"; do
  [ -s "$FETCHED/$file" ] || missing+=("$file")
done
if ((${#missing[@]} == 0)); then
  echo "== using the fetched models in $FETCHED" >&2
  transcribe_args "${TRANSCRIBE_FILES[@]/#/"$FETCHED"/}"
else
  if [ -d "$FETCHED" ]; then
    echo "== $FETCHED lacks ${missing[*]} (scripts/fetch-models.sh fetches it);" \
      "using the test kit's models" >&2
  fi
  MODELS="$BUILD_DIR/models"
  transcribe_args "$MODELS/sense-voice/model.onnx" "$MODELS/sense-voice/tokens.txt" \
    "$MODELS/punct/model.onnx" "$MODELS/silero/silero_vad_v5.onnx"
fi

echo "== dictacore --wav-input $SAMPLE" >&2
"$BUILD_DIR/bin/dictacore" "${TRANSCRIBE_ARGS[@]}" --wav-input "$SAMPLE"
