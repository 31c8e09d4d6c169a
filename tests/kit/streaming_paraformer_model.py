"""Streaming first-pass recognizer in the toolkit's streaming-paraformer form:
out_dir/streaming-paraformer/{encoder,decoder}.onnx + tokens.txt.

What it computes: the toolkit cuts the fbank frames into chunks of 61 (shift
60, 0.6 s), stacks them into 10 low-frame-rate rows of 7 frames (one row per
60 ms), applies the model's CMVN (here a plain x100 scale, so the positional
encoding the toolkit adds, at most 1, cannot move a peak) and puts 8 rows of
the previous chunk in front. For every row the encoder takes the first
frame's tone-alphabet peaks, labels the row with the strongest word at least
25 dB up, and marks the rows where a label starts (it differs from the row
before, which for the first new rows is one of the previous chunk's rows).
It returns, per row, the one-hot vector of that word's token as encoder
output and an alpha of 1 at onset rows, 0 elsewhere. The toolkit's CIF then
fires exactly once per onset with that row's vector as the acoustic
embedding; the decoder returns the arg-max of each embedding as the token.

So the partial text grows by one word per tone onset, a chunk (0.6 s) at a
time. The toolkit prints Latin words with a space before each and a space
between a Latin word and a CJK character ("hello world 你好"). Endpoints:
trailing silence counts from the start of the chunk that found the last word.
"""

import math
import os

import numpy as np

import kit_common as kc

NUM_MELS = 80
LFR_WINDOW = 7
LFR_SHIFT = 6
FEATURE_SCALE = 100.0
DECODER_KERNEL = 2


def vocabulary():
    tokens = ["<blank>", "<s>", "</s>"]
    first_word = len(tokens)
    tokens += [sym.lstrip(" ") for sym, _ in kc.WORDS]
    tokens.append("<unk>")
    return tokens, first_word


def build_encoder(path, vocab, first_word):
    bins = kc.word_bins(lambda f: kc.kaldi_mel_response(NUM_MELS, 20.0, 7600.0, f))
    feat_dim = NUM_MELS * LFR_WINDOW
    # The toolkit multiplies inv_stddev by sqrt(encoder_output_size).
    inv_stddev = float("%.9g" % (FEATURE_SCALE / math.sqrt(vocab)))
    scale = inv_stddev * math.sqrt(vocab)
    g = kc.Graph()
    label = g.word_labels("speech", bins, NUM_MELS, kc.NATURAL_LOG_PER_DB * scale)
    nothing_before = g.op("Mul", [g.op("Slice", [label, g.int64([0]), g.int64([1]), g.int64([1])]), g.int64(0)])
    onset = g.onsets(label, nothing_before)
    g.op("Cast", [onset], outputs=["alphas"], to=kc.FLOAT)
    token = g.op("Where", [g.op("Greater", [label, g.int64(0)]), g.op("Add", [label, g.int64(first_word - 1)]),
                           g.int64(0)], "token")
    g.op("OneHot", [token, g.int64(vocab), g.const(np.array([0.0, 1.0], dtype=np.float32))],
         outputs=["encoder_out"], axis=-1)
    g.op("Identity", ["speech_lengths"], outputs=["encoder_out_lens"])

    inputs = [kc.tensor("speech", kc.FLOAT, ["N", "T", feat_dim]), kc.tensor("speech_lengths", kc.INT32, ["N"])]
    outputs = [kc.tensor("encoder_out", kc.FLOAT, ["N", "T", vocab]),
               kc.tensor("encoder_out_lens", kc.INT32, ["N"]),
               kc.tensor("alphas", kc.FLOAT, ["N", "T"])]
    meta = {
        "model_type": "paraformer",
        "version": "1",
        "comment": "dictacore test kit: tone-alphabet streaming paraformer",
        "vocab_size": vocab,
        "lfr_window_size": LFR_WINDOW,
        "lfr_window_shift": LFR_SHIFT,
        "encoder_output_size": vocab,
        "decoder_num_blocks": 1,
        "decoder_kernel_size": DECODER_KERNEL,
        "neg_mean": ",".join(["0"] * feat_dim),
        "inv_stddev": ",".join([repr(inv_stddev)] * feat_dim),
    }
    kc.save_model(g, inputs, outputs, meta, path, __doc__)


def build_decoder(path, vocab):
    g = kc.Graph()
    g.op("Identity", ["acoustic_embeds"], outputs=["logits"])
    g.op("ArgMax", ["acoustic_embeds"], outputs=["sample_ids"], axis=2, keepdims=0)
    g.op("Identity", ["in_cache_0"], outputs=["out_cache_0"])
    cache = [1, vocab, DECODER_KERNEL - 1]
    inputs = [kc.tensor("encoder_out", kc.FLOAT, ["N", "T", vocab]),
              kc.tensor("encoder_out_lens", kc.INT32, ["N"]),
              kc.tensor("acoustic_embeds", kc.FLOAT, ["N", "U", vocab]),
              kc.tensor("acoustic_embeds_len", kc.INT32, ["N"]),
              kc.tensor("in_cache_0", kc.FLOAT, cache)]
    outputs = [kc.tensor("logits", kc.FLOAT, ["N", "U", vocab]),
               kc.tensor("sample_ids", kc.INT64, ["N", "U"]),
               kc.tensor("out_cache_0", kc.FLOAT, cache)]
    kc.save_model(g, inputs, outputs, {}, path, "Decoder of the kit's streaming paraformer: arg-max of each embedding.")


def generate(out_dir):
    d = os.path.join(out_dir, "streaming-paraformer")
    tokens, first_word = vocabulary()
    enc, dec = os.path.join(d, "encoder.onnx"), os.path.join(d, "decoder.onnx")
    build_encoder(enc, len(tokens), first_word)
    build_decoder(dec, len(tokens))
    tok = kc.write_text(os.path.join(d, "tokens.txt"), "".join("%s %d\n" % (t, i) for i, t in enumerate(tokens)))
    return [enc, dec, tok]


if __name__ == "__main__":
    kc.run_standalone(generate)
