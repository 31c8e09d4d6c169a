#!/usr/bin/python3
"""Benchmark audio: long espeak-ng recordings with the kit's word tones.

    /usr/bin/python3 bench/make_bench_audio.py --out build/bench/audio

Writes, as 16-bit mono 16 kHz WAV files plus manifest.json:
- long_speech.wav: about 10.5 minutes of phrases from two voices with pauses
  of 0.3 to 2.5 s between them (the file-transcription benchmark);
- utterance_5s.wav, utterance_30s.wav, utterance_120s.wav: dictations of
  nearly that much audio, phrases 0.7 s apart, ending 0.2 s after the last
  phrase, so the last phrase is still open when "stop" comes (the live
  benchmarks).

Every phrase carries 1 to 4 tone words (tests/kit/make_audio.py lays them over
the speech), so the kit's recognizers produce text for every phrase. Nothing is
random; a digest of the scripts and tool versions in OUT/.stamp.json makes a
second run with the same inputs a no-op.
"""

import argparse
import hashlib
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
KIT = os.path.join(HERE, os.pardir, "tests", "kit")
sys.dont_write_bytecode = True
sys.path.insert(0, KIT)

import kit_common as kc  # noqa: E402
import make_audio  # noqa: E402
import make_kit  # noqa: E402

SENTENCES = [
    "good morning everyone and welcome to the weekly meeting",
    "let us start with a short review of last week",
    "the new release went out on tuesday without problems",
    "we still have a few open questions about the schedule",
    "please send me your notes before the end of the day",
    "i think we should move the deadline by one week",
    "that sounds reasonable to me",
    "does anyone have concerns about the budget",
    "the numbers look better than we expected",
    "thank you all for the hard work this month",
    "next we will talk about the customer feedback",
    "most of the comments were positive",
    "some people asked for a simpler set up",
    "we can write a short guide for that",
    "okay",
    "let me check the calendar and get back to you",
    "the meeting room is booked until four",
    "we will continue this discussion tomorrow morning",
]
PAUSES = [0.35, 0.6, 0.9, 1.4, 0.5, 2.5, 0.75, 1.1, 0.3, 1.8]
VOICES = ["A", "B"]
# Content words only: a phrase heard as just "。" would give no text at all.
VOCAB = [w for w, _ in kc.WORDS if w not in ("。", "？")]
FILE_SECONDS = 630.0  # at least ten minutes of audio
UTTERANCES = [5, 30, 120]


class PhraseSource:
    """Deterministic phrases: sentence, voice and tone words by index."""

    def __init__(self):
        self.cache = {}
        self.index = 0

    def next(self):
        i = self.index
        self.index += 1
        text = SENTENCES[i % len(SENTENCES)]
        speaker = VOICES[(i // len(SENTENCES)) % len(VOICES)]
        key = (text, speaker)
        if key not in self.cache:
            self.cache[key] = make_audio.speak(text, speaker)
        speech = self.cache[key]
        seconds = len(speech) / kc.SAMPLE_RATE
        count = max(1, min(4, int(seconds / 0.6)))
        words = [VOCAB[(7 * i + 3 * k) % len(VOCAB)] for k in range(count)]
        return speaker, text, words, speech


def long_recording(source):
    t = make_audio.Track()
    t.silence(0.5)
    n = 0
    while t.length < FILE_SECONDS * kc.SAMPLE_RATE:
        speaker, text, words, speech = source.next()
        t.utterance(speaker, text, words, speech)
        t.silence(PAUSES[n % len(PAUSES)])
        n += 1
    return t


def dictation(source, seconds):
    """Phrases 0.7 s apart, each the next one in turn that still fits, until
    none does; 0.2 s of silence after the last one."""
    t = make_audio.Track()
    t.silence(0.3)
    limit = seconds * kc.SAMPLE_RATE - int(0.2 * kc.SAMPLE_RATE)
    gap = int(0.7 * kc.SAMPLE_RATE)
    misses = 0
    while misses < len(SENTENCES):
        speaker, text, words, speech = source.next()
        needed = len(speech) + (gap if t.utterances else 0)
        if t.length + needed > limit:
            misses += 1
            continue
        misses = 0
        if t.utterances:
            t.silence(0.7)
        t.utterance(speaker, text, words, speech)
    t.silence(0.2)
    return t


def generate(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    source = PhraseSource()
    tracks = {"long_speech": long_recording(source)}
    for seconds in UTTERANCES:
        source.index = 0
        tracks["utterance_%ds" % seconds] = dictation(source, seconds)
    manifest = {"sample_rate": kc.SAMPLE_RATE, "files": {}}
    written = []
    for name, track in tracks.items():
        x = make_audio.to_s16(track.samples()).astype("float64") / 32768.0
        path = os.path.join(out_dir, name + ".wav")
        written.append(make_audio.write(path, make_audio.wav_bytes(x, False)))
        d = track.describe()
        speech = sum(u["end"] - u["start"] for u in d["utterances"])
        manifest["files"][name] = {
            "wav": name + ".wav", "samples": d["samples"], "duration": d["duration"],
            "speech_seconds": round(speech, 3), "phrases": len(d["utterances"]),
            "words": len(d["words"]), "text": d["text"]}
    written.append(kc.write_text(os.path.join(out_dir, "manifest.json"),
                                 json.dumps(manifest, ensure_ascii=False, indent=1) + "\n"))
    return written


def digest():
    h = hashlib.sha256(make_kit.digest("make_audio", [["espeak-ng", "--version"],
                                                     ["sox", "--version"]]).encode())
    with open(os.path.abspath(__file__), "rb") as f:
        h.update(f.read())
    return h.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    stamp = os.path.join(out, ".stamp.json")
    want = digest()
    if make_kit.up_to_date(stamp, want):
        return
    files = [os.path.abspath(p) for p in generate(out)]
    with open(stamp, "w", encoding="utf-8") as f:
        json.dump({"digest": want, "files": files}, f, indent=1)
    print("make_bench_audio: wrote %d files into %s" % (len(files), out))


if __name__ == "__main__":
    main()
