"""Test audio for the kit: audio_dir/*.wav (and raw copies) + manifest.json.

Speech comes from espeak-ng, resampled to 16 kHz by sox with a steep low-pass
at 2.2 kHz, trimmed to its audible extent and scaled to a 0.5 peak. Words are
tones of the tone alphabet (kit_common.WORDS) at amplitude 0.01 laid over the
speech (quiet, so that they do not mask the speech from the voice activity
detector): an utterance with n words is cut into n equal slots and every slot
carries its word's tone, 0.1 s shorter than the slot (at most 0.3 of it), so
consecutive words stay apart. The speech keeps the voice activity detector
busy; the recognizers of the kit hear only the tones (the speech has no energy
above 2.5 kHz), so the words and their times are known exactly.

manifest.json:
{
  "sample_rate": 16000, "tone_amplitude": 0.01,
  "files": {
    "<name>": {
      "wav": "<name>.wav",                      16-bit PCM WAV, always present
      "wav_f32": ..., "s16le": ..., "f32le": ...  the same samples in other forms
                                                  (present for some files); all
                                                  forms hold exactly s16 / 32768
      "samples": int, "duration": seconds,
      "utterances": [{"start", "end", "speaker", "voice", "spoken",
                      "words": [{"word", "start", "end"}], "text"}],
      "words": [{"word", "start", "end"}],      every tone in time order
      "text": the words joined, leading space removed
    }
  }
}
Times are seconds from the first sample, exact to the sample. "speaker" is
"A" (espeak en, male), "B" (en+f3, female, higher pitch) or "C" (cmn);
"spoken" is what espeak says, "text" the words the tones carry.
"""

import json
import os
import struct
import subprocess
import tempfile

import numpy as np

import kit_common as kc

SR = kc.SAMPLE_RATE
TONE_AMPLITUDE = 0.01
SPEECH_PEAK = 0.5
LOWPASS_HZ = 2200
RAMP_S = 0.005

VOICES = {
    "A": ["-v", "en", "-p", "40", "-s", "150"],
    "B": ["-v", "en+f3", "-p", "75", "-s", "165"],
    "C": ["-v", "cmn", "-p", "50", "-s", "150"],
}


def speak(text, speaker):
    """espeak-ng speech, 16 kHz float, low-passed, trimmed, peak SPEECH_PEAK."""
    with tempfile.TemporaryDirectory() as tmp:
        raw = os.path.join(tmp, "speech.wav")
        subprocess.run(["espeak-ng"] + VOICES[speaker] + ["-w", raw, text], check=True)
        out = subprocess.run(
            ["sox", raw, "-t", "f32", "-e", "floating-point", "-c", "1", "-r", str(SR), "-", "sinc",
             "-%d" % LOWPASS_HZ],
            check=True, capture_output=True).stdout
    x = np.frombuffer(out, dtype="<f4").astype(np.float64)
    loud = np.nonzero(np.abs(x) > 0.02 * np.abs(x).max())[0]
    x = x[loud[0]:loud[-1] + 1]
    return x * (SPEECH_PEAK / np.abs(x).max())


def tone(freq, n):
    t = np.arange(n) / SR
    w = TONE_AMPLITUDE * np.sin(2 * np.pi * freq * t)
    r = min(int(RAMP_S * SR), n // 2)
    ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(r) / r)
    w[:r] *= ramp
    w[n - r:] *= ramp[::-1]
    return w


def seconds(samples):
    return round(samples / SR, 6)


def joined(words):
    return "".join(w["word"] for w in words).lstrip(" ")


class Track:
    """An audio file under construction: silences, utterances, bare tones."""

    def __init__(self):
        self.parts = []
        self.length = 0
        self.utterances = []
        self.tones = []  # (start sample, end sample, word)

    def _append(self, x):
        self.parts.append(x)
        self.length += len(x)

    def silence(self, sec):
        self._append(np.zeros(int(round(sec * SR))))

    def bare_tone(self, word, sec, gap_after=0.0):
        n = int(round(sec * SR))
        self.tones.append((self.length, self.length + n, word))
        self._append(tone(WORD_FREQ[word], n))
        if gap_after:
            self.silence(gap_after)

    def utterance(self, speaker, spoken, words, speech=None):
        x = (speak(spoken, speaker) if speech is None else speech).copy()
        start, n = self.length, len(x)
        placed = []
        if words:
            slot = n / len(words)
            gap = min(0.1 * SR, 0.3 * slot)
            if slot - gap < 0.15 * SR:
                raise ValueError("utterance %r too short for %d words" % (spoken, len(words)))
            for i, word in enumerate(words):
                a = int(round(i * slot + gap / 2))
                b = int(round((i + 1) * slot - gap / 2))
                x[a:b] += tone(WORD_FREQ[word], b - a)
                self.tones.append((start + a, start + b, word))
                placed.append({"word": word, "start": seconds(start + a), "end": seconds(start + b)})
        self._append(x)
        self.utterances.append({
            "start": seconds(start), "end": seconds(start + n), "speaker": speaker,
            "voice": VOICES[speaker][1], "spoken": spoken, "words": placed, "text": joined(placed)})

    def samples(self):
        x = np.concatenate(self.parts) if self.parts else np.zeros(0)
        if np.abs(x).max(initial=0.0) >= 1.0:
            raise ValueError("clipping")
        return x

    def describe(self):
        words = [{"word": w, "start": seconds(a), "end": seconds(b)} for a, b, w in sorted(self.tones)]
        return {"samples": self.length, "duration": seconds(self.length), "utterances": self.utterances,
                "words": words, "text": joined(words)}


WORD_FREQ = {sym: freq for sym, freq in kc.WORDS}


def to_s16(x):
    return np.clip(np.round(x * 32768.0), -32768, 32767).astype("<i2")


def wav_bytes(x, float32):
    """A mono 16 kHz WAV: 16-bit PCM, or 32-bit IEEE float (format 3)."""
    data = x.astype("<f4").tobytes() if float32 else to_s16(x).tobytes()
    fmt, bits = (3, 32) if float32 else (1, 16)
    block = bits // 8
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    header += b"fmt " + struct.pack("<IHHIIHH", 16, fmt, 1, SR, SR * block, block, bits)
    return header + b"data" + struct.pack("<I", len(data)) + data


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def build_tracks():
    tracks = {}

    t = Track()  # tones alone: no speech at all
    t.silence(0.5)
    t.bare_tone(" hello", 0.3, 0.2)
    t.bare_tone(" world", 0.3, 0.2)
    t.bare_tone("你", 0.25, 0.15)
    t.bare_tone("好", 0.25, 0.15)
    t.bare_tone("好", 0.25, 0.2)
    t.bare_tone("。", 0.25)
    t.silence(2.5)
    tracks["tones"] = t

    t = Track()  # two utterances 1.5 s apart, Latin then Chinese
    t.silence(0.6)
    t.utterance("A", "hello world", [" hello", " world"])
    t.silence(1.5)
    t.utterance("C", "你好世界", ["你", "好", "世", "界"])
    t.silence(0.8)
    tracks["speech_pause_speech"] = t

    t = Track()  # an utterance whose only word is a full stop
    t.silence(0.5)
    t.utterance("A", "okay then", ["。"])
    t.silence(0.8)
    tracks["punct_only"] = t

    t = Track()  # speech without any word tone
    t.silence(0.5)
    t.utterance("A", "this is plain speech without words", [])
    t.silence(0.8)
    tracks["speech_no_words"] = t

    t = Track()  # one long utterance with many words, for rolling commits
    t.silence(0.5)
    t.utterance("A", "hello world and good morning to everyone here, this is a long sentence "
                     "that keeps on going for quite a while without any real pause at all, "
                     "so that the window has to move",
                [" hello", " world", " good", " morning", "你", "好", "世", "界", " hello", " world",
                 " good", " morning", "你", "好", "世", "界", " hello", " world", "。"])
    t.silence(1.0)
    tracks["long_utterance"] = t

    t = Track()  # two voices taking turns
    t.silence(0.5)
    turns = [("A", "hello there, good morning", [" hello", " good"]),
             ("B", "good morning to you as well", [" good", " morning"]),
             ("A", "the weather is fine today", [" world", "你"]),
             ("B", "yes it is a lovely day", ["好", "世"])]
    for i, (spk, text, words) in enumerate(turns):
        t.utterance(spk, text, words)
        t.silence(0.4 if i + 1 < len(turns) else 0.8)
    tracks["two_voices"] = t

    t = Track()  # about 40 s of speech in short phrases, for the 29 s window
    # No speech crosses 29 s (where 29 s decode pieces are cut): the phrase
    # that would is pushed to start at 29.1 s.
    cut = 29 * SR

    def phrase(speaker, text, words):
        x = speak(text, speaker)
        if t.length < cut < t.length + len(x):
            t.silence((cut - t.length) / SR + 0.1)
        t.utterance(speaker, text, words, x)
        t.silence(0.3)

    t.silence(0.5)
    phrases = ["hello world", "good morning", "this is a test", "of a long recording",
               "with many short phrases", "spoken one after another", "so that the whole file",
               "runs for more than half", "a minute in total", "and keeps going on",
               "for quite a while longer", "until it is done"]
    vocab = [w for w, _ in kc.WORDS]
    for i, text in enumerate(phrases):
        phrase("A", text, [vocab[i % len(vocab)]])
    i = 0
    while t.length < 40 * SR:
        phrase("B", "and some more words at the end", [vocab[(3 * i + 1) % len(vocab)]])
        i += 1
    tracks["long_recording"] = t
    return tracks


# Files that also get 32-bit float WAV and headerless raw copies.
ALL_FORMATS = {"speech_pause_speech", "tones"}


def generate(audio_dir):
    os.makedirs(audio_dir, exist_ok=True)
    manifest = {"sample_rate": SR, "tone_amplitude": TONE_AMPLITUDE, "files": {}}
    written = []
    for name, track in build_tracks().items():
        # Quantised once, so every form of a file holds exactly the same
        # values: s16 / 32768 in the float forms.
        x = to_s16(track.samples()).astype(np.float64) / 32768.0
        entry = {"wav": name + ".wav"}
        written.append(write(os.path.join(audio_dir, entry["wav"]), wav_bytes(x, False)))
        if name in ALL_FORMATS:
            entry["wav_f32"] = name + "_f32.wav"
            entry["s16le"] = name + ".s16"
            entry["f32le"] = name + ".f32"
            written.append(write(os.path.join(audio_dir, entry["wav_f32"]), wav_bytes(x, True)))
            written.append(write(os.path.join(audio_dir, entry["s16le"]), to_s16(x).tobytes()))
            written.append(write(os.path.join(audio_dir, entry["f32le"]), x.astype("<f4").tobytes()))
        entry.update(track.describe())
        manifest["files"][name] = entry
    written.append(kc.write_text(os.path.join(audio_dir, "manifest.json"),
                                 json.dumps(manifest, ensure_ascii=False, indent=1) + "\n"))
    return written


if __name__ == "__main__":
    kc.run_standalone(generate)
