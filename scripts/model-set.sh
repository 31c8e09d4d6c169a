# shellcheck shell=bash disable=SC2034
# The recommended model set: what scripts/fetch-models.sh downloads and what
# scripts/demo.sh runs when it is there. Sourced, not run: its variables are
# for the scripts that source it.
#
# Every name is the exact file name of a sherpa-onnx model release (the
# toolkit's documentation pages are listed in the README's quick start).
# Paths below are relative to the models folder.

SHERPA_RELEASES=https://github.com/k2-fsa/sherpa-onnx/releases/download

# Second pass: SenseVoice, int8.
SENSE_VOICE=sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17
SECOND_MODEL=$SENSE_VOICE/model.int8.onnx
SECOND_TOKENS=$SENSE_VOICE/tokens.txt

# Punctuation: CT-Transformer, int8.
PUNCTUATION=sherpa-onnx-punct-ct-transformer-zh-en-vocab272727-2024-04-12-int8
PUNCTUATION_MODEL=$PUNCTUATION/model.int8.onnx

# Silero VAD v5, as the toolkit's VAD page links it (saved under its version).
VAD_MODEL=silero_vad_v5.onnx
VAD_URL=https://github.com/snakers4/silero-vad/raw/refs/tags/v5.0/files/silero_vad.onnx

# Speakers: pyannote segmentation and a 3D-Speaker embedding model.
SEGMENTATION=sherpa-onnx-pyannote-segmentation-3-0
SEGMENTATION_MODEL=$SEGMENTATION/model.onnx
EMBEDDING_MODEL=3dspeaker_speech_eres2net_base_sv_zh-cn_3dspeaker_16k.onnx

# First pass (live partials): a streaming zipformer transducer, int8 encoder
# and joiner with the float decoder, as the toolkit's int8 examples run it.
# Sets FIRST_PASS and FIRST_ENCODER/DECODER/JOINER/TOKENS for `en` (English)
# or `zh-en` (Chinese and English); false for any other name.
select_first_pass() {
  local stem
  case $1 in
    en)
      FIRST_PASS=sherpa-onnx-streaming-zipformer-en-2023-06-26
      stem=epoch-99-avg-1-chunk-16-left-128 ;;
    zh-en)
      FIRST_PASS=sherpa-onnx-streaming-zipformer-bilingual-zh-en-2023-02-20
      stem=epoch-99-avg-1 ;;
    *) return 1 ;;
  esac
  FIRST_ENCODER=$FIRST_PASS/encoder-$stem.int8.onnx
  FIRST_DECODER=$FIRST_PASS/decoder-$stem.onnx
  FIRST_JOINER=$FIRST_PASS/joiner-$stem.int8.onnx
  FIRST_TOKENS=$FIRST_PASS/tokens.txt
}

# transcribe_args SENSE_VOICE_MODEL TOKENS PUNCTUATION_MODEL VAD_MODEL: the
# options that transcribe a file with these models in push-to-talk mode (no
# first pass needed), into the array TRANSCRIBE_ARGS. SenseVoice detects the
# language (without --second-language the engine tells it Chinese).
# TRANSCRIBE_FILES are those four files of this set.
TRANSCRIBE_FILES=("$SECOND_MODEL" "$SECOND_TOKENS" "$PUNCTUATION_MODEL" "$VAD_MODEL")
transcribe_args() {
  TRANSCRIBE_ARGS=(--manual-mode --second-model "$1" --second-tokens "$2" --second-language auto
    --ct-transformer "$3" --silero-vad-model "$4")
}
