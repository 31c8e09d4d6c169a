#!/usr/bin/python3
"""Speech of two clearly different synthetic voices, for the speaker tests.

Voice "a" is a low male espeak-ng voice, voice "b" a high female one; their
fundamentals sit about 1.6 octaves apart (~90 Hz and ~280 Hz). Written to
out_dir/speaker/:

  <clip>.wav / <clip>.f32   16 kHz mono, 16-bit WAV and the same samples as raw
                            float32 little-endian (value = int16 / 32768)
  manifest.json             voices, clips and the conversation's turn times

Clips: a_enroll, a_probe, b_enroll, b_probe (one sentence each, different texts;
leading and trailing silence trimmed) and two_voices, a conversation of six
turns a, b, a, b, a, b separated by GAP_SECONDS of silence and framed by the same
silence. Turn times in the manifest are exact: they are where each sentence's
first and last non-silent sample were placed.

Run standalone:  /usr/bin/python3 tests/kit/speaker_audio.py --out build/audio
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import wave

import numpy as np

SAMPLE_RATE = 16000
GAP_SECONDS = 0.7
SILENCE_LEVEL = 32  # |int16| at or below this counts as silence when trimming

VOICES = {
    "a": {"espeak_voice": "en+m7", "pitch": 30, "speed": 150},
    "b": {"espeak_voice": "en+f4", "pitch": 90, "speed": 165},
}

CLIPS = {
    "a_enroll": ("a", "The quick brown fox jumps over the lazy dog."),
    "a_probe": ("a", "Please call me back when you get home tonight."),
    "b_enroll": ("b", "The quick brown fox jumps over the lazy dog."),
    "b_probe": ("b", "We will meet at the station around nine o'clock."),
}

CONVERSATION = [
    ("a", "Good morning, this is the first speaker talking."),
    ("b", "Hello there, I am the second voice in this test."),
    ("a", "I will read a few numbers: three, five and nine."),
    ("b", "That sounds fine to me, let us continue."),
    ("a", "The meeting ends at four in the afternoon."),
    ("b", "Thank you, goodbye."),
]


def speak(voice, text, workdir):
    """One sentence from espeak-ng at 16 kHz as int16 samples, silence trimmed.
    sox runs without dither (-D) so the same text gives the same samples."""
    params = VOICES[voice]
    raw = os.path.join(workdir, "espeak.wav")
    resampled = os.path.join(workdir, "16k.wav")
    subprocess.run(["espeak-ng", "-v", params["espeak_voice"], "-p", str(params["pitch"]),
                    "-s", str(params["speed"]), "-w", raw, text], check=True)
    subprocess.run(["sox", "-D", raw, "-r", str(SAMPLE_RATE), "-c", "1", "-b", "16", resampled],
                   check=True)
    with wave.open(resampled, "rb") as w:
        samples = np.frombuffer(w.readframes(w.getnframes()), dtype="<i2")
    loud = np.nonzero(np.abs(samples.astype(np.int32)) > SILENCE_LEVEL)[0]
    return samples[loud[0]:loud[-1] + 1].copy()


def write_clip(directory, name, samples):
    with wave.open(os.path.join(directory, name + ".wav"), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(SAMPLE_RATE)
        w.writeframes(samples.astype("<i2").tobytes())
    floats = (samples.astype(np.float32) / np.float32(32768.0)).astype("<f4")
    floats.tofile(os.path.join(directory, name + ".f32"))


def generate(out_dir):
    """Writes the clips and manifest.json into out_dir/speaker; returns the manifest."""
    directory = os.path.join(out_dir, "speaker")
    os.makedirs(directory, exist_ok=True)
    manifest = {"sample_rate": SAMPLE_RATE, "voices": VOICES, "clips": {}}
    with tempfile.TemporaryDirectory() as workdir:
        for name, (voice, text) in CLIPS.items():
            samples = speak(voice, text, workdir)
            write_clip(directory, name, samples)
            manifest["clips"][name] = {"voice": voice, "text": text,
                                       "samples": int(len(samples))}

        gap = np.zeros(int(GAP_SECONDS * SAMPLE_RATE), dtype=np.int16)
        pieces, turns, position = [gap], [], len(gap)
        for voice, text in CONVERSATION:
            samples = speak(voice, text, workdir)
            turns.append({"voice": voice, "text": text,
                          "start": position / SAMPLE_RATE,
                          "end": (position + len(samples)) / SAMPLE_RATE})
            pieces += [samples, gap]
            position += len(samples) + len(gap)
        conversation = np.concatenate(pieces)
        write_clip(directory, "two_voices", conversation)
        manifest["clips"]["two_voices"] = {"voice": "a+b", "samples": int(len(conversation)),
                                           "turns": turns}

    with open(os.path.join(directory, "manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, indent=2)
        f.write("\n")
    return manifest


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="audio directory (e.g. build/audio)")
    args = parser.parse_args(argv)
    manifest = generate(args.out)
    for name, clip in manifest["clips"].items():
        print("%s: %.2f s" % (name, clip["samples"] / SAMPLE_RATE))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
