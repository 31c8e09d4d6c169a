"""Streaming first-pass recognizer in the toolkit's LSTM-transducer form:
out_dir/streaming/{encoder,decoder,joiner}.onnx + tokens.txt.

What it computes: the toolkit feeds the encoder chunks of 32 80-bin fbank
frames (10 ms each; chunk shift 32, so 0.32 s of audio per encoder call) and
reads 8 output frames (one per 40 ms, the toolkit's assumed subsampling of 4).
For output frame j the encoder looks at fbank frame 4j of the chunk, finds
the strongest tone-alphabet peak (a word's mel bin at least 25 dB above the
bins two places away, else "none") and emits the word only where the label
changes from the previous frame's label (which it carries across chunks in
its "h" state), i.e. once at the onset of each tone. The encoder output is
the one-hot row of the emitted token (blank when nothing starts there); the
decoder output is a constant and the joiner returns the encoder row as the
logits, so greedy search emits exactly the encoder's tokens.

So the partial text grows by one word per tone onset, delayed until the
chunk holding that onset has been decoded, and the toolkit's endpoint rules
count trailing blank frames from the last onset: with rule 2 at 0.8 s an
endpoint follows about 0.8 s after the last word's onset (0.32 s chunks).
"""

import os

import numpy as np

import kit_common as kc

NUM_MELS = 80
CHUNK_FRAMES = 32
SUBSAMPLING = 4
CONTEXT_SIZE = 2


def vocabulary():
    tokens = ["<blk>", "<unk>"]
    first_word = len(tokens)
    tokens += [kc.piece_symbol(sym) for sym, _ in kc.WORDS]
    return tokens, first_word


def build_encoder(path, vocab, first_word):
    bins = kc.word_bins(lambda f: kc.kaldi_mel_response(NUM_MELS, 20.0, 7600.0, f))
    g = kc.Graph()
    # Every 4th fbank frame of the chunk: [N, T/4, 80].
    sub = g.op("Slice", ["x", g.int64([0]), g.int64([1 << 30]), g.int64([1]), g.int64([SUBSAMPLING])], "sub")
    label = g.word_labels(sub, bins, NUM_MELS, kc.NATURAL_LOG_PER_DB)  # [N, F]
    # The label before the first frame is carried in the "h" state.
    carried = g.op("Cast", [g.op("Squeeze", ["h", g.int64([0])])], "carried", to=kc.INT64)  # [N, 1]
    onset = g.onsets(label, carried)
    # Token id: blank (0) unless a word starts here.
    word_token = g.op("Add", [label, g.int64(first_word - 1)])
    token = g.op("Where", [onset, word_token, g.int64(0)], "token")
    eye = np.eye(vocab, dtype=np.float32) * 10.0
    g.op("Gather", [g.const(eye, "one_hot"), token], outputs=["encoder_out"], axis=0)
    # New state: the last frame's label.
    last = g.op("Slice", [label, g.int64([-1]), g.int64([1 << 30]), g.int64([1])], "last")  # [N, 1]
    g.op("Unsqueeze", [g.op("Cast", [last], to=kc.FLOAT), g.int64([0])], outputs=["next_h"])
    g.op("Identity", ["c"], outputs=["next_c"])

    inputs = [kc.tensor("x", kc.FLOAT, ["N", CHUNK_FRAMES, NUM_MELS]),
              kc.tensor("h", kc.FLOAT, [1, "N", 1]),
              kc.tensor("c", kc.FLOAT, [1, "N", 1])]
    outputs = [kc.tensor("encoder_out", kc.FLOAT, ["N", CHUNK_FRAMES // SUBSAMPLING, vocab]),
               kc.tensor("next_h", kc.FLOAT, [1, "N", 1]),
               kc.tensor("next_c", kc.FLOAT, [1, "N", 1])]
    meta = {"model_type": "lstm", "num_encoder_layers": 1, "T": CHUNK_FRAMES, "decode_chunk_len": CHUNK_FRAMES,
            "rnn_hidden_size": 1, "d_model": 1, "comment": "dictacore test kit: tone-alphabet streaming encoder"}
    kc.save_model(g, inputs, outputs, meta, path, __doc__)


def build_decoder(path, vocab):
    g = kc.Graph()
    total = g.op("ReduceSum", [g.op("Cast", ["y"], to=kc.FLOAT), g.int64([1])], keepdims=1)
    g.op("Mul", [total, g.const(np.array(0.0, dtype=np.float32))], outputs=["decoder_out"])
    inputs = [kc.tensor("y", kc.INT64, ["N", CONTEXT_SIZE])]
    outputs = [kc.tensor("decoder_out", kc.FLOAT, ["N", 1])]
    meta = {"vocab_size": vocab, "context_size": CONTEXT_SIZE}
    kc.save_model(g, inputs, outputs, meta, path, "Constant decoder of the kit's streaming transducer.")


def build_joiner(path, vocab):
    g = kc.Graph()
    g.op("Add", ["encoder_out", g.op("Mul", ["decoder_out", g.const(np.array(0.0, dtype=np.float32))])],
         outputs=["logit"])
    inputs = [kc.tensor("encoder_out", kc.FLOAT, ["N", vocab]), kc.tensor("decoder_out", kc.FLOAT, ["N", 1])]
    outputs = [kc.tensor("logit", kc.FLOAT, ["N", vocab])]
    kc.save_model(g, inputs, outputs, {}, path, "Joiner of the kit's streaming transducer: the encoder row.")


def generate(out_dir):
    d = os.path.join(out_dir, "streaming")
    tokens, first_word = vocabulary()
    paths = [os.path.join(d, n) for n in ("encoder.onnx", "decoder.onnx", "joiner.onnx")]
    build_encoder(paths[0], len(tokens), first_word)
    build_decoder(paths[1], len(tokens))
    build_joiner(paths[2], len(tokens))
    paths.append(kc.write_text(os.path.join(d, "tokens.txt"), "".join("%s %d\n" % (t, i) for i, t in enumerate(tokens))))
    return paths


if __name__ == "__main__":
    kc.run_standalone(generate)
