#!/usr/bin/env bash
# Transcribes one WAV file with two builds of dictacore and compares their
# whole event streams, line by line, with the milliseconds of the timing
# lines masked: for checking that a change to file mode leaves what a host
# sees as it was.
#   bench/compare_file_events.sh OLD_BUILD_DIR NEW_BUILD_DIR [WAV] [-- EXTRA OPTIONS...]
# WAV defaults to NEW_BUILD_DIR/bench/audio/long_speech.wav (file_bench makes
# it); the kit models of NEW_BUILD_DIR are used, with VAD and punctuation.
# Prints the line counts and "identical", or the diff; exits 1 on a diff.
set -euo pipefail
OLD=${1:?old build dir}
NEW=${2:?new build dir}
shift 2
WAV="$NEW/bench/audio/long_speech.wav"
if [ $# -gt 0 ] && [ "$1" != "--" ]; then WAV=$1; shift; fi
[ "${1:-}" = "--" ] && shift
MODELS="$NEW/models"
ARGS=(--manual-mode --wav-input "$WAV"
      --second-model "$MODELS/sense-voice/model.onnx" --second-tokens "$MODELS/sense-voice/tokens.txt"
      --ct-transformer "$MODELS/punct/model.onnx" --silero-vad-model "$MODELS/silero/silero_vad_v5.onnx"
      "$@")
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
mask() { sed -E '/"message":"\[TIMING\]/ s/(ms|_ms_sum)=[0-9]+/\1=#/g'; }
"$OLD/bin/dictacore" "${ARGS[@]}" | mask > "$OUT/old.jsonl"
"$NEW/bin/dictacore" "${ARGS[@]}" | mask > "$OUT/new.jsonl"
echo "old: $(wc -l < "$OUT/old.jsonl") lines, new: $(wc -l < "$OUT/new.jsonl") lines"
if diff "$OUT/old.jsonl" "$OUT/new.jsonl"; then echo identical; else exit 1; fi
