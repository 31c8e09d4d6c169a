#!/usr/bin/python3
"""Writes the test-model kit and the test audio.

    /usr/bin/python3 tests/kit/make_kit.py --out build/models [--audio-out build/audio]

Every generator is a module beside this file with a function
generate(out_dir) that writes its files under out_dir and returns their paths
(or None). A generator runs only when its inputs changed: the digest of the
kit's scripts and of the tool versions it uses is kept in
out_dir/.kit-stamps/<module>.json together with the files it wrote, and the
work is skipped while the digest matches and the files are all there.
Everything is deterministic: no randomness, fixed inputs, fixed tool versions.
"""

import argparse
import hashlib
import importlib
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep the source tree clean

# (module, destination, extra tools whose version is part of the digest).
# Modules whose file is missing are skipped with a note.
GENERATORS = [
    ("sense_voice_model", "models", []),
    ("whisper_model", "models", []),
    ("punctuation_model", "models", []),
    ("streaming_model", "models", []),
    ("streaming_paraformer_model", "models", []),
    ("speaker_models", "models", []),
    ("make_audio", "audio", [["espeak-ng", "--version"], ["sox", "--version"]]),
    ("speaker_audio", "audio", [["espeak-ng", "--version"], ["sox", "--version"]]),
]

def digest(module, tools):
    h = hashlib.sha256(module.encode())
    # Every script of the kit: a generator may import any of them.
    for name in sorted(n for n in os.listdir(HERE) if n.endswith(".py")):
        with open(os.path.join(HERE, name), "rb") as f:
            h.update(name.encode() + b"\0" + f.read())
    for cmd in tools:
        out = subprocess.run(cmd, check=True, capture_output=True).stdout
        h.update(out)
    try:
        import onnx
        h.update(onnx.__version__.encode())
    except ImportError:
        pass
    return h.hexdigest()


def up_to_date(stamp_path, want):
    try:
        with open(stamp_path, encoding="utf-8") as f:
            stamp = json.load(f)
    except (OSError, ValueError):
        return False
    if stamp.get("digest") != want:
        return False
    return all(os.path.isfile(p) for p in stamp.get("files", []))


def run(out_dirs, force=False):
    sys.path.insert(0, HERE)
    ran = []
    for module, dest, tools in GENERATORS:
        if not os.path.isfile(os.path.join(HERE, module + ".py")):
            print("make_kit: %s: not present, skipped" % module)
            continue
        out_dir = out_dirs[dest]
        stamp_path = os.path.join(out_dir, ".kit-stamps", module + ".json")
        want = digest(module, tools)
        if not force and up_to_date(stamp_path, want):
            continue
        files = importlib.import_module(module).generate(out_dir) or []
        files = [os.path.abspath(p) for p in files]
        os.makedirs(os.path.dirname(stamp_path), exist_ok=True)
        with open(stamp_path, "w", encoding="utf-8") as f:
            json.dump({"digest": want, "files": files}, f, indent=1)
        print("make_kit: %s: wrote %d files" % (module, len(files)))
        ran.append(module)
    return ran


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="directory of the models")
    parser.add_argument("--audio-out", help="directory of the audio (default: OUT/../audio)")
    parser.add_argument("--force", action="store_true", help="regenerate everything")
    parser.add_argument("--stamp", help="file to touch when done (for build systems)")
    args = parser.parse_args()
    out = os.path.abspath(args.out)
    audio = os.path.abspath(args.audio_out or os.path.join(out, os.pardir, "audio"))
    run({"models": out, "audio": audio}, force=args.force)
    if args.stamp:
        with open(args.stamp, "w", encoding="utf-8") as f:
            f.write("ok\n")


if __name__ == "__main__":
    main()
