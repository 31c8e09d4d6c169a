"""Shared pieces of the test-model kit.

The recognizers of the kit all read the same "tone alphabet": every word of
WORDS is tied to one sine frequency between 2.7 and 6.9 kHz (about 11 % apart). A recognizer
looks, frame by frame, for a narrow spectral peak at one of those frequencies
(a mel bin that stands at least PEAK_THRESHOLD_DB above the bins two places
to either side, every bin counting as at most FLOOR_DB below the frame's
loudest word bin) and reports the word of the strongest peak; frames without
such a peak are blank. Test audio lays these tones over band-limited speech
(speech keeps the voice activity detector busy, the tones carry the words), so
every test can predict exactly which words come out and when.
"""

import math
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

# (symbol as the text shows it, tone frequency in Hz). Latin words carry the
# leading space that the toolkits print for word-piece starts ("\u2581" in the
# token files); CJK characters and the two marks have none.
WORDS = [
    (" hello", 2700.0),
    (" world", 3000.0),
    (" good", 3330.0),
    (" morning", 3690.0),
    ("你", 4100.0),
    ("好", 4550.0),
    ("世", 5050.0),
    ("界", 5600.0),
    ("。", 6220.0),
    ("？", 6900.0),
]

# The Latin reading of the four CJK words, four places before them in WORDS:
# the Whisper-form model gives it for the task "translate", the SenseVoice-form
# model for the language "en".
LATIN_READING = [("你", " hello"), ("好", " world"), ("世", " good"), ("界", " morning")]
READING_SHIFT = 4

# Minimum height of a tone peak over its neighbours, in decibels.
PEAK_THRESHOLD_DB = 25.0
# Distance, in mel bins, of the two neighbours a peak is measured against.
PEAK_NEIGHBOUR = 2
# Bins count as at least this far below the frame's loudest word bin.
FLOOR_DB = 50.0
# One decibel in natural-log energy (Kaldi-style fbank features).
NATURAL_LOG_PER_DB = math.log(10.0) / 10.0

SAMPLE_RATE = 16000


def word_index(text):
    """Index into WORDS of a word given as it is printed (" hello", "你")."""
    for i, (sym, _) in enumerate(WORDS):
        if sym == text:
            return i
    raise KeyError(text)


def _check_reading():
    indices = [word_index(cjk) for cjk, _ in LATIN_READING]
    if indices != list(range(indices[0], indices[0] + len(indices))):
        raise ValueError("the CJK words of LATIN_READING must be consecutive")
    for cjk, latin in LATIN_READING:
        if word_index(cjk) - word_index(latin) != READING_SHIFT:
            raise ValueError("reading of %s is not %d words before it" % (cjk, READING_SHIFT))


_check_reading()


def piece_symbol(sym):
    """Token-file form of a word: a leading space becomes U+2581."""
    return "\u2581" + sym[1:] if sym.startswith(" ") else sym


# ---------------------------------------------------------------- mel banks
def _kaldi_mel(f):
    return 1127.0 * np.log(1.0 + np.asarray(f, dtype=np.float64) / 700.0)


def kaldi_mel_response(num_bins, low_hz, high_hz, freq_hz):
    """Response of each triangular Kaldi-style mel filter to one frequency."""
    mel_low, mel_high = _kaldi_mel(low_hz), _kaldi_mel(high_hz)
    delta = (mel_high - mel_low) / (num_bins + 1)
    m = _kaldi_mel(freq_hz)
    out = np.zeros(num_bins)
    for b in range(num_bins):
        left, centre, right = mel_low + b * delta, mel_low + (b + 1) * delta, mel_low + (b + 2) * delta
        if left < m < right:
            out[b] = (m - left) / (centre - left) if m <= centre else (right - m) / (right - centre)
    return out


def _slaney_hz_to_mel(f):
    f = np.asarray(f, dtype=np.float64)
    f_sp = 200.0 / 3
    min_log_hz, min_log_mel, log_step = 1000.0, 1000.0 / f_sp, math.log(6.4) / 27.0
    return np.where(f >= min_log_hz, min_log_mel + np.log(np.maximum(f, 1e-10) / min_log_hz) / log_step, f / f_sp)


def _slaney_mel_to_hz(m):
    m = np.asarray(m, dtype=np.float64)
    f_sp = 200.0 / 3
    min_log_hz, min_log_mel, log_step = 1000.0, 1000.0 / f_sp, math.log(6.4) / 27.0
    return np.where(m >= min_log_mel, min_log_hz * np.exp(log_step * (m - min_log_mel)), f_sp * m)


def slaney_mel_response(num_bins, freq_hz, sample_rate=SAMPLE_RATE):
    """Response of each Slaney mel filter (the Whisper front end) to one frequency."""
    points = _slaney_mel_to_hz(np.linspace(_slaney_hz_to_mel(0.0), _slaney_hz_to_mel(sample_rate / 2), num_bins + 2))
    out = np.zeros(num_bins)
    for b in range(num_bins):
        left, centre, right = points[b], points[b + 1], points[b + 2]
        out[b] = max(0.0, min((freq_hz - left) / (centre - left), (right - freq_hz) / (right - centre)))
    return out


def word_bins(response_of):
    """Mel bin of every word: the filter that answers its tone most strongly.

    Checks that the bins are distinct and that a peak and its two measuring
    neighbours fit inside the bank.
    """
    bins = [int(np.argmax(response_of(freq))) for _, freq in WORDS]
    if len(set(bins)) != len(bins):
        raise ValueError("two words share a mel bin: %s" % bins)
    return bins


def peak_indices(bins, num_bins, subframe=0):
    """Feature indices of every word's bin and of its two measuring
    neighbours, within sub-frame `subframe` of stacked feature frames."""
    base = subframe * num_bins
    for b in bins:
        if b - PEAK_NEIGHBOUR < 0 or b + PEAK_NEIGHBOUR >= num_bins:
            raise ValueError("bin %d too close to the edge of the bank" % b)
    centre = np.array([base + b for b in bins], dtype=np.int64)
    return centre, centre - PEAK_NEIGHBOUR, centre + PEAK_NEIGHBOUR


# ---------------------------------------------------------------- ONNX
OPSET = 13


class Graph:
    """Small builder for ONNX graphs with unique, readable value names."""

    def __init__(self):
        self.nodes = []
        self.initializers = []
        self._count = 0

    def name(self, hint):
        self._count += 1
        return "%s_%d" % (hint, self._count)

    def const(self, array, hint="c"):
        name = self.name(hint)
        self.initializers.append(numpy_helper.from_array(np.asarray(array), name))
        return name

    def op(self, op_type, inputs, hint=None, outputs=None, **attrs):
        if outputs is None:
            outputs = [self.name(hint or op_type.lower())]
        self.nodes.append(helper.make_node(op_type, inputs, outputs, **attrs))
        return outputs[0] if len(outputs) == 1 else outputs

    def int64(self, value):
        return self.const(np.array(value, dtype=np.int64), "i")

    def word_labels(self, features, bins, num_bins, per_db, subframe=0):
        """Label of every frame of [N, F, ...] log-mel features, [N, F] int64:
        0 when no word peaks, else 1 + the index of the strongest word.

        A word's peak is its bin minus the louder of the bins PEAK_NEIGHBOUR
        places away, with every bin raised to at least FLOOR_DB below the
        frame's loudest word bin (so a faint tone, such as the quantisation
        harmonics of a louder one, never peaks against empty bins). `per_db`
        is the size of one decibel in feature units."""
        centre, left, right = peak_indices(bins, num_bins, subframe)
        c = self.op("Gather", [features, self.const(centre, "bin")], "centre", axis=2)
        l = self.op("Gather", [features, self.const(left, "bin_left")], "left", axis=2)
        r = self.op("Gather", [features, self.const(right, "bin_right")], "right", axis=2)
        floor = self.op("Sub", [self.op("ReduceMax", [c], axes=[2], keepdims=1),
                                self.const(np.float32(FLOOR_DB * per_db))], "floor")
        neighbour = self.op("Max", [l, r, floor], "neighbour")
        peaks = self.op("Sub", [c, neighbour], "peak")  # [N, F, K]
        shape = self.op("Shape", [peaks])
        none_shape = self.op("Concat", [self.op("Slice", [shape, self.int64([0]), self.int64([2])]),
                                        self.int64([1])], axis=0)
        none = self.op("ConstantOfShape", [none_shape], "none",
                       value=numpy_helper.from_array(np.array([PEAK_THRESHOLD_DB * per_db], dtype=np.float32)))
        return self.op("ArgMax", [self.op("Concat", [none, peaks], axis=2)], "label", axis=2, keepdims=0)

    def onsets(self, label, before):
        """Frames where a word starts, [N, F] bool: a label above 0 that differs
        from the previous frame's; `before` [N, 1] is the label before frame 0."""
        head = self.op("Slice", [label, self.int64([0]), self.int64([-1]), self.int64([1])], "head")
        prev = self.op("Concat", [before, head], "prev", axis=1)
        return self.op("And", [self.op("Not", [self.op("Equal", [label, prev])]),
                               self.op("Greater", [label, self.int64(0)])], "onset")


def tensor(name, elem_type, dims):
    return helper.make_tensor_value_info(name, elem_type, dims)


FLOAT = TensorProto.FLOAT
INT32 = TensorProto.INT32
INT64 = TensorProto.INT64


def save_model(graph, inputs, outputs, metadata, path, doc):
    """Write a model deterministically (fixed producer, sorted metadata)."""
    g = helper.make_graph(graph.nodes, os.path.basename(path), inputs, outputs, graph.initializers)
    model = helper.make_model(g, producer_name="dictacore-test-kit", opset_imports=[helper.make_opsetid("", OPSET)])
    model.ir_version = 8
    model.doc_string = doc
    for key in sorted(metadata):
        entry = model.metadata_props.add()
        entry.key = key
        entry.value = str(metadata[key])
    onnx.checker.check_model(model)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(model.SerializeToString())
    return path


def write_text(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    return path


def run_standalone(generate):
    """Command line of a generator module run on its own: --out DIR."""
    import argparse

    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    print("\n".join(generate(parser.parse_args().out)))
