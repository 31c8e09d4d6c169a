#!/usr/bin/python3
"""Tiny speaker models for the test kit, in the forms sherpa-onnx 1.13.4 loads.

Both models are written from fixed formulas (no training, no randomness), so the
same bytes come out on every run and tests can reason about what they compute.

embedding.onnx (wespeaker form: fbank in, one vector out)
    Input "feats" (1, T, 80): the toolkit's 80-bin log-mel fbank (16 kHz,
    25 ms frames, 10 ms shift). For every frame, a harmonic template per pitch
    candidate (32 candidates, 70-400 Hz, log-spaced) scores how well the frame's
    low mel bins show harmonics at that pitch; a softmax turns the scores into a
    pitch posterior. The posteriors are averaged over the loud frames (frames
    within ~6 log units of the loudest), blurred along log-pitch and centred.
    Output "embs" (1, 32): a pitch-register profile. Two voices a few semitones
    apart score near 1; a low and a high voice score well below 0.

segmentation.onnx (pyannote form: waveform chunk in, powerset scores out)
    Input "x" (1, 1, 80000): one 5 s chunk. Frames are 1024 samples every 256
    (64 ms / 16 ms). Per frame: the power in 50-1250 Hz gives speech/silence
    (threshold SPEECH_LOG_POWER); the share of that power in 50-140 Hz, smoothed
    over 0.5 s, tells a low voice (fundamental below ~140 Hz) from a high one
    (above ~150 Hz): espeak-ng's male voices against its female ones.
    Output "y" (1, 309, 7): log-probabilities of the 7 powerset classes
    (none, spk0, spk1, spk2, spk0+1, spk0+2, spk1+2). A low voice is local
    speaker 0, a high voice local speaker 1; speaker 2 and overlaps never win.

Run standalone:  /usr/bin/python3 tests/kit/speaker_models.py --out build/models
"""

import argparse
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

SAMPLE_RATE = 16000
OPSET = 17
IR_VERSION = 8

# Embedding model.
FBANK_DIM = 80
FBANK_LOW_HZ = 20.0
FBANK_HIGH_HZ = SAMPLE_RATE / 2 - 400.0
PITCH_CANDIDATES = np.geomspace(70.0, 400.0, 32)
PITCH_SHARPNESS = 4.0       # softmax scale on template scores
PITCH_BLUR_OCTAVES = 0.45   # Gaussian blur of the posterior along log2(pitch)
LOUD_FRAME_MARGIN = 6.0     # frames this far below the loudest fade out
EMBEDDING_DIM = len(PITCH_CANDIDATES)

# Segmentation model.
WINDOW_SIZE = 5 * SAMPLE_RATE
FRAME_SIZE = 1024           # receptive field of one output frame
FRAME_SHIFT = 256
NUM_FRAMES = (WINDOW_SIZE - FRAME_SIZE) // FRAME_SHIFT + 1
SPECTRUM_MAX_HZ = 1250.0
LOW_BAND_HZ = (50.0, 140.0)
SPEECH_LOG_POWER = -12.0    # natural log of mean power per sample, 50-1250 Hz
LOW_SHARE_SPLIT = -5.0      # log(low-band share) between a low and a high voice
REGISTER_SMOOTH_FRAMES = 31  # ~0.5 s
SPEECH_SCALE = 4.0
NEVER_LOG_PROB = -30.0


def _mel(hz):
    return 1127.0 * np.log(1.0 + np.asarray(hz) / 700.0)


def _inverse_mel(mel):
    return 700.0 * (np.exp(np.asarray(mel) / 1127.0) - 1.0)


def fbank_bin_centres():
    """Centre frequencies of the toolkit's 80 mel bins (20-7600 Hz)."""
    low, high = _mel(FBANK_LOW_HZ), _mel(FBANK_HIGH_HZ)
    step = (high - low) / (FBANK_DIM + 1)
    return _inverse_mel(low + step * (np.arange(FBANK_DIM) + 1))


def pitch_templates(bin_hz, harmonics=6, max_hz=1200.0):
    """Row k: +1 bumps at the harmonics of candidate k, -1 bumps half-way
    between them, zero mean (so overall loudness does not score)."""
    rows = np.zeros((len(PITCH_CANDIDATES), len(bin_hz)))
    for k, f0 in enumerate(PITCH_CANDIDATES):
        width = max(0.15 * f0, 25.0)
        for h in range(1, harmonics + 1):
            for hz, sign in ((h * f0, 1.0), ((h - 0.5) * f0, -1.0)):
                if hz <= max_hz:
                    rows[k] += sign * np.exp(-0.5 * ((bin_hz - hz) / width) ** 2)
        rows[k] -= rows[k].mean()
        rows[k] /= np.abs(rows[k]).sum()
    return rows


def _const(name, array):
    return numpy_helper.from_array(np.asarray(array, dtype=np.float32), name)


def _model(graph, meta):
    model = helper.make_model(
        graph, opset_imports=[helper.make_opsetid("", OPSET)],
        producer_name="dictacore-test-kit", producer_version="1")
    model.ir_version = IR_VERSION
    for key, value in meta.items():
        entry = model.metadata_props.add()
        entry.key, entry.value = key, str(value)
    onnx.checker.check_model(model)
    return model


def embedding_model():
    n = len(PITCH_CANDIDATES)
    log_pitch = np.log2(PITCH_CANDIDATES)
    blur = np.exp(-0.5 * ((log_pitch[:, None] - log_pitch[None, :])
                          / PITCH_BLUR_OCTAVES) ** 2)
    centre = np.eye(n) - np.full((n, n), 1.0 / n)
    inits = [
        _const("templates", PITCH_SHARPNESS * pitch_templates(fbank_bin_centres()).T),
        _const("blur_centre", blur @ centre),
        _const("margin", LOUD_FRAME_MARGIN),
        helper.make_tensor("axis_time", TensorProto.INT64, [1], [1]),
    ]
    nodes = [
        # Loudness of each frame, relative to the loudest one.
        helper.make_node("ReduceMean", ["feats"], ["level"], axes=[2], keepdims=1),
        helper.make_node("ReduceMax", ["level"], ["peak"], axes=[1], keepdims=1),
        helper.make_node("Sub", ["level", "peak"], ["rel_level"]),
        helper.make_node("Add", ["rel_level", "margin"], ["weight_logit"]),
        helper.make_node("Sigmoid", ["weight_logit"], ["weight"]),
        # Pitch posterior of each frame.
        helper.make_node("MatMul", ["feats", "templates"], ["scores"]),
        helper.make_node("Softmax", ["scores"], ["posterior"], axis=-1),
        # Loudness-weighted average over time.
        helper.make_node("Mul", ["posterior", "weight"], ["weighted"]),
        helper.make_node("ReduceSum", ["weighted", "axis_time"], ["sum_post"], keepdims=0),
        helper.make_node("ReduceSum", ["weight", "axis_time"], ["sum_weight"], keepdims=0),
        helper.make_node("Div", ["sum_post", "sum_weight"], ["profile"]),
        helper.make_node("MatMul", ["profile", "blur_centre"], ["embs"]),
    ]
    graph = helper.make_graph(
        nodes, "pitch_register_embedding",
        [helper.make_tensor_value_info("feats", TensorProto.FLOAT, [1, "T", FBANK_DIM])],
        [helper.make_tensor_value_info("embs", TensorProto.FLOAT, [1, EMBEDDING_DIM])],
        inits)
    return _model(graph, {
        "framework": "wespeaker",
        "output_dim": EMBEDDING_DIM,
        "sample_rate": SAMPLE_RATE,
        "normalize_samples": 1,
        "language": "English",
        "comment": "test kit: pitch-register profile over 70-400 Hz",
    })


def segmentation_model():
    n = np.arange(FRAME_SIZE)
    window = 0.5 - 0.5 * np.cos(2.0 * np.pi * (n + 0.5) / FRAME_SIZE)
    # DFT bins from the first one at or above 50 Hz up to 1250 Hz.
    bin_step = SAMPLE_RATE / FRAME_SIZE
    bin_hz = np.arange(int(np.ceil(LOW_BAND_HZ[0] / bin_step)),
                       int(SPECTRUM_MAX_HZ / bin_step) + 1) * bin_step
    phase = 2.0 * np.pi * np.outer(bin_hz, n) / SAMPLE_RATE
    low = (bin_hz >= LOW_BAND_HZ[0]) & (bin_hz <= LOW_BAND_HZ[1])
    bands = np.stack([low, np.ones_like(low)]).astype(np.float64)
    # Channel 0: log(low share) - split; channel 1: log mean power - speech level.
    mix = np.array([[1.0, -1.0], [0.0, 1.0]])
    mix_bias = np.array([-LOW_SHARE_SPLIT, -np.log(FRAME_SIZE) - SPEECH_LOG_POWER])
    inits = [
        _const("dft_cos", (np.cos(phase) * window)[:, None, :]),
        _const("dft_sin", (np.sin(phase) * window)[:, None, :]),
        _const("band_sum", bands[:, :, None]),
        _const("tiny", 1e-10),
        _const("mix", mix[:, :, None]),
        _const("mix_bias", mix_bias),
        _const("smooth", np.full((1, 1, REGISTER_SMOOTH_FRAMES), 1.0 / REGISTER_SMOOTH_FRAMES)),
        _const("speech_scale", SPEECH_SCALE),
        _const("zero", 0.0),
        _const("three", 3.0),
        _const("never", NEVER_LOG_PROB),
        _const("minus_one", -1.0),
        helper.make_tensor("split_2", TensorProto.INT64, [2], [1, 1]),
    ]
    half = REGISTER_SMOOTH_FRAMES // 2
    nodes = [
        # Short-time spectrum, 50-1250 Hz, one column per frame.
        helper.make_node("Conv", ["x", "dft_cos"], ["re"], strides=[FRAME_SHIFT]),
        helper.make_node("Conv", ["x", "dft_sin"], ["im"], strides=[FRAME_SHIFT]),
        helper.make_node("Mul", ["re", "re"], ["re2"]),
        helper.make_node("Mul", ["im", "im"], ["im2"]),
        helper.make_node("Add", ["re2", "im2"], ["power"]),
        # Low-band power and total power, in logs.
        helper.make_node("Conv", ["power", "band_sum"], ["band_power"]),
        helper.make_node("Add", ["band_power", "tiny"], ["band_power_floor"]),
        helper.make_node("Log", ["band_power_floor"], ["log_band"]),
        helper.make_node("Conv", ["log_band", "mix", "mix_bias"], ["cues"]),
        helper.make_node("Split", ["cues", "split_2"], ["low_share", "level"], axis=1),
        # Register evidence counts only where there is speech; smoothed.
        helper.make_node("Clip", ["level", "zero", "three"], ["voiced"]),
        helper.make_node("Mul", ["low_share", "voiced"], ["evidence"]),
        helper.make_node("Conv", ["evidence", "smooth"], ["register"], pads=[half, half]),
        helper.make_node("Mul", ["level", "speech_scale"], ["speech"]),
        # Powerset log-probabilities: log P(none) = log sigmoid(-speech), ...
        helper.make_node("Softplus", ["speech"], ["sp_pos"]),
        helper.make_node("Neg", ["speech"], ["neg_speech"]),
        helper.make_node("Softplus", ["neg_speech"], ["sp_neg"]),
        helper.make_node("Softplus", ["register"], ["reg_pos"]),
        helper.make_node("Neg", ["register"], ["neg_register"]),
        helper.make_node("Softplus", ["neg_register"], ["reg_neg"]),
        helper.make_node("Mul", ["sp_pos", "minus_one"], ["lp_none"]),
        helper.make_node("Add", ["sp_neg", "reg_neg"], ["nlp_low"]),
        helper.make_node("Mul", ["nlp_low", "minus_one"], ["lp_spk0"]),
        helper.make_node("Add", ["sp_neg", "reg_pos"], ["nlp_high"]),
        helper.make_node("Mul", ["nlp_high", "minus_one"], ["lp_spk1"]),
        helper.make_node("Mul", ["speech", "zero"], ["zeros"]),
        helper.make_node("Add", ["zeros", "never"], ["lp_never"]),
        helper.make_node("Concat", ["lp_none", "lp_spk0", "lp_spk1", "lp_never",
                                    "lp_never", "lp_never", "lp_never"],
                         ["classes"], axis=1),
        helper.make_node("Transpose", ["classes"], ["y"], perm=[0, 2, 1]),
    ]
    graph = helper.make_graph(
        nodes, "pitch_register_segmentation",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, 1, WINDOW_SIZE])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, NUM_FRAMES, 7])],
        inits)
    return _model(graph, {
        "model_type": "pyannote-segmentation-3.0",
        "sample_rate": SAMPLE_RATE,
        "window_size": WINDOW_SIZE,
        "receptive_field_size": FRAME_SIZE,
        "receptive_field_shift": FRAME_SHIFT,
        "num_speakers": 3,
        "powerset_max_classes": 2,
        "num_classes": 7,
        "comment": "test kit: speech by level, low/high voice by 50-140 Hz share",
    })


def _write(model, path):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(model.SerializeToString())
    os.replace(tmp, path)


def generate(out_dir):
    """Writes out_dir/speaker/{embedding,segmentation}.onnx; returns the paths."""
    speaker_dir = os.path.join(out_dir, "speaker")
    os.makedirs(speaker_dir, exist_ok=True)
    paths = {
        "embedding": os.path.join(speaker_dir, "embedding.onnx"),
        "segmentation": os.path.join(speaker_dir, "segmentation.onnx"),
    }
    _write(embedding_model(), paths["embedding"])
    _write(segmentation_model(), paths["segmentation"])
    return paths


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="model directory (e.g. build/models)")
    args = parser.parse_args(argv)
    for path in generate(args.out).values():
        print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
