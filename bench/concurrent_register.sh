#!/usr/bin/env bash
# Concurrent registrations on one enrollment database: WRITERS `--register-name`
# commands started at once, ROUNDS times, each with its own WAV file (copies
# of one clip differing in their last sample, so every digest is new). Prints
# how many reported "registered" and how many speakers the database lists
# afterwards; every registration reported as done must be listed.
#   bench/concurrent_register.sh [BUILD_DIR] [WRITERS] [ROUNDS]
# BUILD_DIR (default build) provides bin/dictacore and the kit's speaker
# embedding model and audio (models/speaker, audio/speaker).
set -euo pipefail
BUILD_DIR=${1:-build}
WRITERS=${2:-8}
ROUNDS=${3:-5}
ENGINE="$BUILD_DIR/bin/dictacore"
MODEL="$BUILD_DIR/models/speaker/embedding.onnx"
CLIP="$BUILD_DIR/audio/speaker/a_enroll.wav"

work=$(mktemp -d "${TMPDIR:-/tmp}/concurrent-register.XXXXXX")
trap 'rm -rf "$work"' EXIT
db="$work/enroll.txt"
size=$(stat -c %s "$CLIP")

# The k-th copy carries k in its last 16-bit sample.
make_copy() {
  local k=$1 out=$2
  cp "$CLIP" "$out"
  printf "\\$(printf %03o $((k % 256)))\\$(printf %03o $((k / 256 % 256)))" |
    dd of="$out" bs=1 seek=$((size - 2)) conv=notrunc status=none
}

registered=0
failed=0
start_ns=$(date +%s%N)
for round in $(seq 1 "$ROUNDS"); do
  pids=()
  for writer in $(seq 1 "$WRITERS"); do
    k=$(((round - 1) * WRITERS + writer))
    make_copy "$k" "$work/clip-$k.wav"
    "$ENGINE" --register-name "speaker $k" --register-input "$work/clip-$k.wav" \
      --speaker-enroll-db "$db" --speaker-embedding-model "$MODEL" \
      --speaker-samples-dir "$work/samples" >"$work/out-$k" 2>/dev/null &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || true; done
done
elapsed_ms=$((($(date +%s%N) - start_ns) / 1000000))
for k in $(seq 1 $((ROUNDS * WRITERS))); do
  if grep -q '"status":"registered"' "$work/out-$k"; then
    registered=$((registered + 1))
  else
    failed=$((failed + 1))
  fi
done
listed=$("$ENGINE" --list-speakers --speaker-enroll-db "$db" | grep -o '"count":' | wc -l)
echo "writers=$WRITERS rounds=$ROUNDS registered=$registered failed=$failed listed=$listed" \
  "wall_ms=$elapsed_ms"
