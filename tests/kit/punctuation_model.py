"""Punctuation model in the CT-Transformer form: out_dir/punct/model.onnx.

What it computes: the toolkit splits the text into tokens (a run of ASCII
letters/digits is one token, every CJK character and every punctuation
character is one token, spaces separate) and feeds token ids, up to 20 at a
time but always from the start of the text while no full stop has been
placed. The model gives every position a punctuation class: "，" after every
COMMA_EVERY-th token (positions 4, 8, 12, ... counted from 1), "_" (nothing)
elsewhere. It never predicts a full stop, so the toolkit's own rules finish
the text: a trailing "，" becomes "。", otherwise "。" is appended. Latin
tokens are re-joined with single spaces, CJK tokens without.

Examples: "hello world" -> "hello world。"; "你好世界" -> "你好世界。";
"你好世界今天" -> "你好世界，今天。";
"hello world good morning everyone" -> "hello world good morning，everyone。".
The vocabulary holds the kit's words and common CJK characters; unknown
tokens map to <unk> and are punctuated the same way (texts below 200 tokens).
"""

import os

import numpy as np

import kit_common as kc

COMMA_EVERY = 4
PUNCTUATIONS = ["<unk>", "_", "，", "。", "？", "、"]
CJK = "你好世界今天气很我们是的了不在有人这中大为上个国和也子时道出而要于就下得可以会家生对"
LATIN = ["hello", "world", "good", "morning", "okay", "then", "yes", "no", "test", "one", "two", "three"]


def vocabulary():
    return ["<unk>"] + LATIN + list(CJK)


def build(path):
    g = kc.Graph()
    n = g.op("Gather", [g.op("Shape", ["inputs"]), g.const(np.array(1, dtype=np.int64))], axis=0)
    pos = g.op("Range", [g.const(np.array(1, dtype=np.int64)), g.op("Add", [n, g.const(np.array(1, dtype=np.int64))]),
                         g.const(np.array(1, dtype=np.int64))], "pos")
    comma = g.op("Equal", [g.op("Mod", [pos, g.const(np.array(COMMA_EVERY, dtype=np.int64))]),
                           g.const(np.array(0, dtype=np.int64))], "comma")
    klass = g.op("Where", [comma, g.const(np.array(PUNCTUATIONS.index("，"), dtype=np.int64)),
                           g.const(np.array(PUNCTUATIONS.index("_"), dtype=np.int64))])
    rows = g.op("OneHot", [klass, g.const(np.array(len(PUNCTUATIONS), dtype=np.int64)),
                           g.const(np.array([0.0, 10.0], dtype=np.float32))], axis=-1)  # [T, P]
    # Broadcast over the batch: [N, T, P].
    batch = g.op("Cast", [g.op("Unsqueeze", [g.op("Mul", ["inputs", g.const(np.array(0, dtype=np.int32))]),
                                             g.const(np.array([2], dtype=np.int64))])], to=kc.FLOAT)
    g.op("Add", [batch, rows], outputs=["logits"])

    inputs = [kc.tensor("inputs", kc.INT32, ["N", "T"]), kc.tensor("text_lengths", kc.INT32, ["N"])]
    outputs = [kc.tensor("logits", kc.FLOAT, ["N", "T", len(PUNCTUATIONS)])]
    vocab = vocabulary()
    meta = {
        "model_type": "ct_transformer",
        "version": "1",
        "vocab_size": len(vocab),
        "tokens": "|".join(vocab),
        "punctuations": "|".join(PUNCTUATIONS),
        "unk_symbol": "<unk>",
        "comment": "dictacore test kit: a comma after every %d tokens" % COMMA_EVERY,
    }
    kc.save_model(g, inputs, outputs, meta, path, __doc__)


def generate(out_dir):
    path = os.path.join(out_dir, "punct", "model.onnx")
    build(path)
    return [path]


if __name__ == "__main__":
    kc.run_standalone(generate)
