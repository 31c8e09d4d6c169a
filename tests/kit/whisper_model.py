"""Offline recognizer in the Whisper form: out_dir/whisper/{encoder,decoder}.onnx + tokens.txt.

What it computes:
- Encoder: the toolkit gives it normalised Whisper log-mel features
  [1, 80, T] (10 ms frames, T = frames of audio + zero padding, at most 3000;
  the toolkit keeps at most the first 2950 frames, 29.5 s, of the audio). For
  every frame it finds the strongest tone-alphabet peak (the word's Slaney mel
  bin at least 25 dB above the bins two places away) and marks the frames
  where a word starts (its label differs from the previous frame's). It
  returns, as "cross_k", the word number + 1 at those onset frames (0
  elsewhere) and, as "cross_v", the running count of onsets, both [1, 1, T, 1].
- Decoder: for decoding step k (k = offset + number of input tokens - 4, the
  prompt being sot, language, task, no-timestamps) it returns a logit row
  whose maximum is the k-th word onset of the audio, or end-of-text after the
  last one. With the task "translate" the words 你 好 世 界 come out as
  " hello", " world", " good", " morning" (the flag is kept across steps in
  the self-attention k cache); "transcribe" leaves them as they are. The language logits (compared by the toolkit when no language is
  configured) prefer "zh" when any CJK word or mark occurs and "en" otherwise.
  Self-attention caches pass through unchanged.

So the text is the audio's words in onset order, whatever language is set;
any of Whisper's 99 language codes is accepted.
"""

import base64
import os

import numpy as np

import kit_common as kc

NUM_MELS = 80
N_TEXT_CTX = 448
N_TEXT_STATE = 4
N_TEXT_LAYER = 1
PROMPT_LEN = 4  # sot, language, task, no_timestamps

LANGUAGE_CODES = (
    "en zh de es ru ko fr ja pt tr pl ca nl ar sv it id hi fi vi he uk el ms cs ro da hu ta no th ur hr bg lt la "
    "mi ml cy sk te fa lv bn sr az sl kn et mk br eu is hy ne mn bs kk sq sw gl mr pa si km sn yo so af oc ka be "
    "tg sd gu am yi lo uz fo ht ps tk nn mt sa lb my bo tl mg as tt haw ln ha ba jw su").split()

NUM_WORDS = len(kc.WORDS)
BLANK = NUM_WORDS
EOT = BLANK + 1
SOT = EOT + 1
FIRST_LANG = SOT + 1
TRANSLATE = FIRST_LANG + len(LANGUAGE_CODES)
TRANSCRIBE = TRANSLATE + 1
SOT_LM = TRANSCRIBE + 1
SOT_PREV = SOT_LM + 1
NO_SPEECH = SOT_PREV + 1
NO_TIMESTAMPS = NO_SPEECH + 1
VOCAB = NO_TIMESTAMPS + 1 + 1501  # timestamp tokens 0.00 s .. 30.00 s

# Words that make the language guess "zh".
CJK_LABELS = [i + 1 for i, (sym, _) in enumerate(kc.WORDS) if ord(sym[0]) > 0x2000]


def i64(v):
    return np.array(v, dtype=np.int64)


def build_encoder(path):
    bins = kc.word_bins(lambda f: kc.slaney_mel_response(NUM_MELS, f))
    g = kc.Graph()
    frames = g.op("Transpose", ["mel"], "frames", perm=[0, 2, 1])  # [N, T, 80]
    # Normalised Whisper features are log10(power) / 4.
    label = g.word_labels(frames, bins, NUM_MELS, 1.0 / 40.0)  # [N, T]
    nothing_before = g.op("Mul", [g.op("Slice", [label, g.int64([0]), g.int64([1]), g.int64([1])]), g.int64(0)])
    onset = g.onsets(label, nothing_before)
    value = g.op("Cast", [g.op("Where", [onset, label, g.const(i64(0))])], to=kc.FLOAT)
    count = g.op("CumSum", [g.op("Cast", [onset], to=kc.FLOAT), g.const(i64(1))], "count")
    axes = g.const(i64([0, 3]))
    g.op("Unsqueeze", [value, axes], outputs=["n_layer_cross_k"])
    g.op("Unsqueeze", [count, axes], outputs=["n_layer_cross_v"])

    inputs = [kc.tensor("mel", kc.FLOAT, ["N", NUM_MELS, "T"])]
    outputs = [kc.tensor("n_layer_cross_k", kc.FLOAT, [1, "N", "T", 1]),
               kc.tensor("n_layer_cross_v", kc.FLOAT, [1, "N", "T", 1])]
    meta = {
        "model_type": "whisper-tiny",
        "comment": "dictacore test kit: tone-alphabet recognizer",
        "n_mels": NUM_MELS,
        "n_audio_ctx": 1500,
        "n_audio_state": 1,
        "n_audio_head": 1,
        "n_audio_layer": 1,
        "n_vocab": VOCAB,
        "n_text_ctx": N_TEXT_CTX,
        "n_text_state": N_TEXT_STATE,
        "n_text_head": 1,
        "n_text_layer": N_TEXT_LAYER,
        "sot_sequence": "%d,%d,%d" % (SOT, FIRST_LANG, TRANSCRIBE),
        "all_language_tokens": ",".join(str(FIRST_LANG + i) for i in range(len(LANGUAGE_CODES))),
        "all_language_codes": ",".join(LANGUAGE_CODES),
        "sot": SOT,
        "sot_index": 0,
        "eot": EOT,
        "blank_id": BLANK,
        "is_multilingual": 1,
        "no_speech": NO_SPEECH,
        "non_speech_tokens": "",
        "transcribe": TRANSCRIBE,
        "translate": TRANSLATE,
        "sot_prev": SOT_PREV,
        "sot_lm": SOT_LM,
        "no_timestamps": NO_TIMESTAMPS,
    }
    kc.save_model(g, inputs, outputs, meta, path, __doc__)


def build_decoder(path):
    g = kc.Graph()
    n_in = g.op("Gather", [g.op("Shape", ["tokens"]), g.const(i64(1))], axis=0)
    step = g.op("Sub", [g.op("Add", [g.op("Squeeze", ["offset", g.const(i64([0]))]), n_in]), g.const(i64(PROMPT_LEN))],
                "step")
    want = g.op("Cast", [g.op("Add", [step, g.const(i64(1))])], to=kc.FLOAT)
    value = g.op("Reshape", ["n_layer_cross_k", g.const(i64([-1]))], "value")
    count = g.op("Reshape", ["n_layer_cross_v", g.const(i64([-1]))], "count")
    hit = g.op("Cast", [g.op("And", [g.op("Equal", [count, want]), g.op("Greater", [value, g.const(np.float32(0))])])],
               to=kc.FLOAT)
    found = g.op("ReduceSum", [hit, g.const(i64([0]))], keepdims=0)
    label = g.op("ReduceSum", [g.op("Mul", [hit, value]), g.const(i64([0]))], keepdims=0)
    word = g.op("Cast", [g.op("Sub", [label, g.const(np.float32(1))])], to=kc.INT64)
    # Task: at the prompt step (four input tokens) the model reads the task
    # token and keeps "translate" in cell [0, 0, 0, 0] of the self-attention
    # k cache, which the toolkit hands back at every later step.
    padded = g.op("Concat", ["tokens", g.const(np.zeros((1, 3), dtype=np.int64))], axis=1)
    task = g.op("ReduceMax", [g.op("Gather", [padded, g.int64(2)], axis=1)], keepdims=0)
    asked = g.op("Cast", [g.op("Equal", [task, g.int64(TRANSLATE)])], to=kc.FLOAT)
    kept = g.op("Reshape", [g.op("Slice", ["in_n_layer_self_k_cache", g.int64([0, 0, 0, 0]), g.int64([1, 1, 1, 1])]),
                            g.int64([])])
    flag = g.op("Where", [g.op("Equal", [n_in, g.int64(PROMPT_LEN)]), asked, kept], "translate")
    g.op("ScatterND", ["in_n_layer_self_k_cache", g.int64([[0, 0, 0, 0]]), g.op("Unsqueeze", [flag, g.int64([0])])],
         outputs=["out_n_layer_self_k_cache"])
    # Translation turns 你 好 世 界 into hello world good morning.
    cjk = g.op("And", [g.op("GreaterOrEqual", [word, g.int64(kc.word_index(kc.LATIN_READING[0][0]))]),
                       g.op("LessOrEqual", [word, g.int64(kc.word_index(kc.LATIN_READING[-1][0]))])])
    word = g.op("Where", [g.op("And", [g.op("Greater", [flag, g.const(np.float32(0.5))]), cjk]),
                          g.op("Sub", [word, g.int64(kc.READING_SHIFT)]), word], "word")
    token = g.op("Where", [g.op("Greater", [found, g.const(np.float32(0.5))]), word, g.const(i64(EOT))], "token")
    logits = g.op("OneHot", [g.op("Unsqueeze", [token, g.const(i64([0]))]), g.const(i64(VOCAB)), g.const(np.array([0.0, 10.0], dtype=np.float32))],
                  axis=-1)  # [1, V]
    # Language preference row.
    is_cjk = None
    for lab in CJK_LABELS:
        e = g.op("Equal", [value, g.const(np.float32(lab))])
        is_cjk = e if is_cjk is None else g.op("Or", [is_cjk, e])
    any_cjk = g.op("Greater", [g.op("ReduceMax", [g.op("Cast", [is_cjk], to=kc.FLOAT)], keepdims=0),
                               g.const(np.float32(0.5))])
    lang_token = g.op("Where", [any_cjk, g.const(i64(FIRST_LANG + LANGUAGE_CODES.index("zh"))),
                                g.const(i64(FIRST_LANG + LANGUAGE_CODES.index("en")))])
    lang = g.op("OneHot", [g.op("Unsqueeze", [lang_token, g.const(i64([0]))]), g.const(i64(VOCAB)), g.const(np.array([0.0, 1.0], dtype=np.float32))],
                axis=-1)
    g.op("Reshape", [g.op("Add", [logits, lang]), g.const(i64([1, 1, VOCAB]))], outputs=["logits"])
    g.op("Identity", ["in_n_layer_self_v_cache"], outputs=["out_n_layer_self_v_cache"])

    cache = [N_TEXT_LAYER, "N", N_TEXT_CTX, N_TEXT_STATE]
    inputs = [kc.tensor("tokens", kc.INT64, ["N", "n"]),
              kc.tensor("in_n_layer_self_k_cache", kc.FLOAT, cache),
              kc.tensor("in_n_layer_self_v_cache", kc.FLOAT, cache),
              kc.tensor("n_layer_cross_k", kc.FLOAT, [1, "N", "T", 1]),
              kc.tensor("n_layer_cross_v", kc.FLOAT, [1, "N", "T", 1]),
              kc.tensor("offset", kc.INT64, [1])]
    outputs = [kc.tensor("logits", kc.FLOAT, ["N", 1, VOCAB]),
               kc.tensor("out_n_layer_self_k_cache", kc.FLOAT, cache),
               kc.tensor("out_n_layer_self_v_cache", kc.FLOAT, cache)]
    kc.save_model(g, inputs, outputs, {}, path, "Decoder of the kit's Whisper-form recognizer (see encoder).")


def tokens_file():
    """Whisper token files hold base64 of each token's bytes; special tokens
    are not listed."""
    lines = ["%s %d\n" % (base64.b64encode(sym.encode()).decode(), i) for i, (sym, _) in enumerate(kc.WORDS)]
    lines.append("%s %d\n" % (base64.b64encode(b" ").decode(), BLANK))
    return "".join(lines)


def generate(out_dir):
    d = os.path.join(out_dir, "whisper")
    enc, dec = os.path.join(d, "encoder.onnx"), os.path.join(d, "decoder.onnx")
    build_encoder(enc)
    build_decoder(dec)
    return [enc, dec, kc.write_text(os.path.join(d, "tokens.txt"), tokens_file())]


if __name__ == "__main__":
    kc.run_standalone(generate)
