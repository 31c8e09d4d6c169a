"""Offline recognizer in the SenseVoice form: out_dir/sense-voice/{model.onnx,tokens.txt}.

What it computes: the toolkit hands the model low-frame-rate features, each
row 7 stacked 80-bin log-mel frames (window 7, shift 6: one row per 60 ms).
From the first frame of a row the model takes, for every word of the tone
alphabet, the word's mel bin minus the louder of the bins two places away
(natural-log energy); the strongest word at least 25 dB up labels the row,
otherwise the row is blank. The row's logits are the one-hot row of that
token, so greedy CTC emits a word once at the first row that holds its tone.
Two inputs change the words, as the real model's settings would:
- language "en" reads the CJK words 你 好 世 界 as " hello", " world",
  " good", " morning" (every other language leaves the words alone);
- text_norm "without ITN" drops the marks 。 and ？ (with ITN they stay).
The model puts four prompt rows in front, as SenseVoice does: the language
token chosen by the `language` input, <|NEUTRAL|>, <|Speech|> and the
<|withitn|>/<|woitn|> token chosen by `text_norm`. The toolkit drops those
four tokens from the text and reports them as lang/emotion/event.

Token timestamps come out as 0.06 s x (row index), so a word's timestamp is
the start of the first 60 ms row whose first 25 ms frame hears its tone.
"""

import os

import numpy as np

import kit_common as kc

NUM_MELS = 80
LFR_WINDOW = 7
LFR_SHIFT = 6

# Language and text-norm ids fed to the model, and the token each selects.
LANGUAGES = [("auto", "<|auto|>"), ("zh", "<|zh|>"), ("en", "<|en|>"), ("ja", "<|ja|>"), ("ko", "<|ko|>"),
             ("yue", "<|yue|>")]
EN_ID = [code for code, _ in LANGUAGES].index("en")
WITH_ITN_ID = len(LANGUAGES)
WITHOUT_ITN_ID = WITH_ITN_ID + 1


def vocabulary():
    """Token list in id order; id 0 is the CTC blank."""
    tokens = ["<blank>", "<unk>"]
    tokens += [tok for _, tok in LANGUAGES]
    tokens += ["<|withitn|>", "<|woitn|>", "<|NEUTRAL|>", "<|Speech|>"]
    first_word = len(tokens)
    tokens += [kc.piece_symbol(sym) for sym, _ in kc.WORDS]
    return tokens, first_word


def build(path):
    tokens, first_word = vocabulary()
    vocab = len(tokens)
    tid = {t: i for i, t in enumerate(tokens)}
    bins = kc.word_bins(lambda f: kc.kaldi_mel_response(NUM_MELS, 20.0, 8000.0, f))

    g = kc.Graph()
    feat_dim = NUM_MELS * LFR_WINDOW
    label = g.word_labels("x", bins, NUM_MELS, kc.NATURAL_LOG_PER_DB)  # [N, T]: 0 or word + 1

    def label_in(words):
        lo, hi = kc.word_index(words[0]) + 1, kc.word_index(words[-1]) + 1
        return g.op("And", [g.op("GreaterOrEqual", [label, g.int64(lo)]), g.op("LessOrEqual", [label, g.int64(hi)])])

    # The settings hold for the whole batch; the first entry decides.
    language = g.op("Gather", ["language", g.int64(0)], axis=0)
    text_norm = g.op("Gather", ["text_norm", g.int64(0)], axis=0)
    english = g.op("Equal", [language, g.const(np.array(EN_ID, dtype=np.int32))])
    cjk = label_in([kc.LATIN_READING[0][0], kc.LATIN_READING[-1][0]])
    label = g.op("Where", [g.op("And", [english, cjk]), g.op("Sub", [label, g.int64(kc.READING_SHIFT)]), label])
    plain = g.op("Equal", [text_norm, g.const(np.array(WITHOUT_ITN_ID, dtype=np.int32))])
    label = g.op("Where", [g.op("And", [plain, label_in(["。", "？"])]), g.int64(0), label])
    token = g.op("Where", [g.op("Greater", [label, g.int64(0)]), g.op("Add", [label, g.int64(first_word - 1)]),
                           g.int64(0)], "token")
    frames = g.op("OneHot", [token, g.int64(vocab), g.const(np.array([0.0, 10.0], dtype=np.float32))], "frames",
                  axis=-1)  # [N, T, V]

    # Prompt rows: one-hot rows of a table indexed by language / text_norm.
    table = np.zeros((WITHOUT_ITN_ID + 3, vocab), dtype=np.float32)
    for i, (_, tok) in enumerate(LANGUAGES):
        table[i, tid[tok]] = 100.0
    table[WITH_ITN_ID, tid["<|withitn|>"]] = 100.0
    table[WITHOUT_ITN_ID, tid["<|woitn|>"]] = 100.0
    table[WITHOUT_ITN_ID + 1, tid["<|NEUTRAL|>"]] = 100.0
    table[WITHOUT_ITN_ID + 2, tid["<|Speech|>"]] = 100.0
    table_name = g.const(table, "prompt_table")
    zero = g.op("Mul", ["language", g.const(np.array(0, dtype=np.int32))], "zero_idx")

    def prompt_row(index):
        row = g.op("Gather", [table_name, index], "row", axis=0)  # [N, V]
        return g.op("Unsqueeze", [row, g.const(np.array([1], dtype=np.int64))], "row3")

    rows = [
        prompt_row("language"),
        prompt_row(g.op("Add", [zero, g.const(np.array(WITHOUT_ITN_ID + 1, dtype=np.int32))])),
        prompt_row(g.op("Add", [zero, g.const(np.array(WITHOUT_ITN_ID + 2, dtype=np.int32))])),
        prompt_row("text_norm"),
    ]
    prompt = g.op("Concat", rows, "prompt", axis=1)
    g.op("Concat", [prompt, frames], outputs=["logits"], axis=1)

    inputs = [
        kc.tensor("x", kc.FLOAT, ["N", "T", feat_dim]),
        kc.tensor("x_length", kc.INT32, ["N"]),
        kc.tensor("language", kc.INT32, ["N"]),
        kc.tensor("text_norm", kc.INT32, ["N"]),
    ]
    outputs = [kc.tensor("logits", kc.FLOAT, ["N", "T4", vocab])]
    meta = {
        "model_type": "sense_voice_ctc",
        "vocab_size": vocab,
        "blank_id": 0,
        "lfr_window_size": LFR_WINDOW,
        "lfr_window_shift": LFR_SHIFT,
        "normalize_samples": 0,
        "with_itn": WITH_ITN_ID,
        "without_itn": WITHOUT_ITN_ID,
        "neg_mean": ",".join(["0"] * feat_dim),
        "inv_stddev": ",".join(["1"] * feat_dim),
        "comment": "dictacore test kit: tone-alphabet recognizer",
    }
    for i, (code, _) in enumerate(LANGUAGES):
        meta["lang_" + code] = i
    kc.save_model(g, inputs, outputs, meta, path, __doc__)
    return tokens


def generate(out_dir):
    d = os.path.join(out_dir, "sense-voice")
    model = os.path.join(d, "model.onnx")
    tokens = build(model)
    tok = kc.write_text(os.path.join(d, "tokens.txt"), "".join("%s %d\n" % (t, i) for i, t in enumerate(tokens)))
    return [model, tok]


if __name__ == "__main__":
    kc.run_standalone(generate)
