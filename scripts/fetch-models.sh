#!/usr/bin/env bash
# Downloads the recommended sherpa-onnx model set (scripts/model-set.sh) and
# prints the dictacore command lines that use it.
#
#   scripts/fetch-models.sh [--first-pass en|zh-en] [--mirror URL] [DIR]
#
#   DIR           where the models go (default: models/ at the top of the clone)
#   --first-pass  streaming model for live partials: en (English, the default)
#                 or zh-en (Chinese and English)
#   --mirror URL  fetch https://github.com/<path> as URL/<path> instead, from a
#                 copy of the release files (file:// works)
#
# Safe to run again: what is in place is skipped, and a download that broke
# off resumes. Every archive must extract and hold the files the engine loads
# (model files must begin as ONNX models do); the other model variants in it
# are dropped. Exits 1 when something could not be fetched.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/model-set.sh
source "$ROOT/scripts/model-set.sh"

usage() {
  sed -n '5,11p' "$0" | sed 's/^#//' >&2
  exit 2
}

first_pass=en
mirror=
dir=
while (($#)); do
  case $1 in
    --first-pass) (($# >= 2)) || usage; first_pass=$2; shift 2 ;;
    --mirror) (($# >= 2)) || usage; mirror=${2%/}; shift 2 ;;
    -*) usage ;;
    *) [ -z "$dir" ] || usage; dir=$1; shift ;;
  esac
done
if ! select_first_pass "$first_pass"; then
  echo "fetch-models: --first-pass takes en or zh-en, not '$first_pass'" >&2
  exit 2
fi
for tool in curl tar bzip2 od; do
  if ! command -v "$tool" >/dev/null; then
    echo "fetch-models: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 1
  fi
done
mkdir -p "${dir:=$ROOT/models}"
dir=$(cd "$dir" && pwd)
downloads=$dir/.downloads
mkdir -p "$downloads"
work=
trap '[ -z "$work" ] || rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# check_files FOLDER PATH...: prints what keeps each PATH (under FOLDER) from
# loading, one line each; false when anything does.
check_files() {
  local root=$1 path bad=0
  shift
  for path; do
    if [ ! -f "$root/$path" ]; then
      echo "$path: missing"
    elif [ ! -s "$root/$path" ]; then
      echo "$path: empty"
    elif [[ $path == *.onnx ]] && [ "$(od -An -N1 -tx1 "$root/$path" | tr -d ' ')" != 08 ]; then
      echo "$path: not an ONNX model"
    else
      continue
    fi
    bad=1
  done
  return "$bad"
}

# download URL FILE: fetches URL (through the mirror) into FILE, going on
# from FILE.part when an earlier run broke off.
download() {
  local url part=$2.part status=0
  url=$1
  [ -z "$mirror" ] || url=$mirror/${url#https://github.com/}
  echo "fetch-models: $url" >&2
  curl -fL --retry 3 -C - -o "$part" "$url" || status=$?
  if [ "$status" -eq 33 ] || [ "$status" -eq 22 ]; then
    # The server cannot resume, or refused the range of a stale part (or has
    # no such file, which the second try reports): start over.
    status=0
    rm -f "$part"
    curl -fL --retry 3 -o "$part" "$url" || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    echo "fetch-models: $url: download failed (curl status $status); run again to resume" >&2
    return 1
  fi
  mv "$part" "$2"
}

# fetch_archive TAG FOLDER PATH...: the release archive FOLDER.tar.bz2 of tag
# TAG, unpacked into FOLDER; PATH... are the files the engine loads from it.
fetch_archive() {
  local tag=$1 folder=$2 archive errors problems='' model
  shift 2
  if check_files "$dir" "$@" >/dev/null; then
    echo "fetch-models: $folder: in place" >&2
    return 0
  fi
  archive=$downloads/$folder.tar.bz2
  [ -f "$archive" ] || download "$SHERPA_RELEASES/$tag/$folder.tar.bz2" "$archive" || return 1
  work=$(mktemp -d "$dir/.unpack.XXXXXX")
  if ! errors=$(tar -xjf "$archive" -C "$work" 2>&1); then
    if bzip2 -tq "$archive" 2>/dev/null; then  # the archive is sound: the disk, say, failed
      echo "fetch-models: $folder.tar.bz2 could not be unpacked: ${errors%%$'\n'*}" \
        "(kept in $downloads; run again when that is mended)" >&2
      archive=
    else
      problems="is damaged: ${errors%%$'\n'*} (removed; run again to download it afresh)"
    fi
  elif ! problems=$(check_files "$work" "$@"); then
    problems="does not hold what the engine loads: ${problems//$'\n'/; } (removed)"
  fi
  if [ -n "$problems" ] || [ -z "$archive" ]; then
    [ -z "$problems" ] || echo "fetch-models: $folder.tar.bz2 $problems" >&2
    rm -rf "$work" "$archive"
    work=
    return 1
  fi
  for model in "$work/$folder"/*.onnx; do
    [[ " $* " == *" $folder/${model##*/} "* ]] || rm -f "$model"
  done
  rm -rf "${dir:?}/$folder"
  mv "$work/$folder" "$dir/$folder"
  rm -rf "$work" "$archive"
  work=
}

# fetch_file URL PATH: one model file, saved as PATH.
fetch_file() {
  local problems
  if check_files "$dir" "$2" >/dev/null; then
    echo "fetch-models: $2: in place" >&2
    return 0
  fi
  download "$1" "$downloads/$2" || return 1
  if ! problems=$(check_files "$downloads" "$2"); then
    echo "fetch-models: ${1##*/} is unusable: $problems (removed)" >&2
    rm -f "$downloads/$2"
    return 1
  fi
  mv "$downloads/$2" "$dir/$2"
}

failed=0
fetch_archive asr-models "$SENSE_VOICE" "$SECOND_MODEL" "$SECOND_TOKENS" || failed=1
fetch_archive asr-models "$FIRST_PASS" "$FIRST_ENCODER" "$FIRST_DECODER" "$FIRST_JOINER" \
  "$FIRST_TOKENS" || failed=1
fetch_archive punctuation-models "$PUNCTUATION" "$PUNCTUATION_MODEL" || failed=1
fetch_file "$VAD_URL" "$VAD_MODEL" || failed=1
fetch_archive speaker-segmentation-models "$SEGMENTATION" "$SEGMENTATION_MODEL" || failed=1
fetch_file "$SHERPA_RELEASES/speaker-recongition-models/$EMBEDDING_MODEL" "$EMBEDDING_MODEL" ||
  failed=1
rmdir "$downloads" 2>/dev/null || true
if ((failed)); then
  echo "fetch-models: some models are missing; run the script again" >&2
  exit 1
fi

# A path as the user can type it here: relative below the current folder.
shown() {
  local path=$1
  [[ $path != "$PWD"/* ]] || path=${path#"$PWD"/}
  printf '%q' "$path"
}

# print_command WORD...: one option (with its value) per line.
print_command() {
  local line word
  line="  $(shown "$1")"
  shift
  for word; do
    if [[ $word == --* ]]; then
      printf '%s \\\n' "$line"
      line="    $word"
    else
      line+=" $(shown "$word")"
    fi
  done
  printf '%s\n' "$line"
}

case ${BUILD_DIR:=build} in /*) ;; *) BUILD_DIR=$ROOT/$BUILD_DIR ;; esac
bin=$BUILD_DIR/bin/dictacore
db=$dir/speakers.txt
transcribe_args "${TRANSCRIBE_FILES[@]/#/"$dir"/}"
speakers=(--diarization --diarization-segmentation-model "$dir/$SEGMENTATION_MODEL"
  --diarization-embedding-model "$dir/$EMBEDDING_MODEL")

echo "Models in $(shown "$dir")/, and the command lines that use them (bash; build first"
echo "with make build):"
echo
echo "Transcribe a recording (WAV, 16 kHz mono, 16-bit or float):"
print_command "$bin" "${TRANSCRIBE_ARGS[@]}" --wav-input my-recording.wav
echo
echo "Enroll a voice for speaker names (a recording of that one person):"
print_command "$bin" --register-name Alice --register-input alice.wav \
  --speaker-enroll-db "$db" --speaker-embedding-model "$dir/$EMBEDDING_MODEL"
echo
echo "Transcribe with speakers labelled, enrolled voices by name:"
print_command "$bin" "${TRANSCRIBE_ARGS[@]}" "${speakers[@]}" --speaker-id \
  --speaker-embedding-model "$dir/$EMBEDDING_MODEL" --speaker-enroll-db "$db" \
  --wav-input my-recording.wav
echo
echo "Dictate from the microphone (arecord, Debian package alsa-utils): type start,"
echo "speak, type stop for the final text; quit ends."
print_command "$bin" "${TRANSCRIBE_ARGS[@]}" --manual-realtime --offline-2pass \
  --first-encoder "$dir/$FIRST_ENCODER" --first-decoder "$dir/$FIRST_DECODER" \
  --first-joiner "$dir/$FIRST_JOINER" --first-tokens "$dir/$FIRST_TOKENS" |
  sed '$s/$/ \\\n    3< <(arecord -q -t raw -f S16_LE -r 16000 -c 1)/'
