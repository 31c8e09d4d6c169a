#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<name>/.

Seeds are small, named inputs: valid examples of each format and the edge
cases the parsers must get right. Targets that read their input through
libFuzzer's FuzzedDataProvider get it in that layout (strings from the front,
integers from the back). Run again after changing a seed; the files it writes
are committed. Inputs that once broke an invariant are kept in the same
folders under names starting with "found-"; this script leaves them alone.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def write_corpus(name, seeds):
    folder = os.path.join(CORPUS, name)
    os.makedirs(folder, exist_ok=True)
    for seed_name, data in seeds.items():
        if isinstance(data, str):
            data = data.encode("utf-8")
        with open(os.path.join(folder, seed_name), "wb") as out:
            out.write(data)


class Provider:
    """Builds bytes the way FuzzedDataProvider takes them apart."""

    def __init__(self):
        self.front = bytearray()
        self.back = []  # in the order the provider consumes them

    def string(self, text):
        data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
        self.front += data.replace(b"\\", b"\\\\") + b"\\."
        return self

    def raw(self, data):
        self.front += data.encode("utf-8") if isinstance(data, str) else bytes(data)
        return self

    def integer(self, low, high, value):
        span = high - low
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        offset = value - low
        for i in reversed(range(count)):
            self.back.append((offset >> (8 * i)) & 0xFF)
        return self

    def boolean(self, value):
        return self.integer(0, 255, 1 if value else 0)

    def uint64(self, value):
        return self.integer(0, 2**64 - 1, value)

    def double_bits(self, value):
        return self.uint64(struct.unpack("<Q", struct.pack("<d", value))[0])

    def build(self):
        return bytes(self.front) + bytes(reversed(self.back))


def args(*items):
    return b"\0".join(item.encode("utf-8") for item in items)


def options_seeds():
    sense = ["--second-model", "m.onnx", "--second-tokens", "t.txt"]
    return {
        "sensevoice_manual": args("--manual-mode", *sense),
        "whisper_empty_type": args("--second-type", "", "--second-encoder", "e", "--second-decoder",
                                   "d", "--second-tokens", "t", "--manual-mode"),
        "transducer_streaming": args("--first-model-type", "Zipformer", "--first-encoder", "e",
                                     "--first-decoder", "d", "--first-joiner", "j",
                                     "--first-tokens", "t", *sense),
        "paraformer_missing_paths": args("--first-model-type", "paraformer", *sense),
        "help_after_options": args("--manual-mode", "-h", "--second-model"),
        "missing_value_last": args("--manual-mode", "--second-model"),
        "flag_last": args("--manual-mode", *sense, "--speaker-id"),
        "rate_8000_one_shot": args("--list-speakers", "--speaker-enroll-db", "db", "--sample-rate",
                                   "8000"),
        "list_speakers": args("--list-speakers", "--speaker-enroll-db", "db.txt"),
        "bad_second_type": args("--second-type", "foo", *sense),
        "sense_voice_caps": args("--second-type", "SENSE-VOICE", "--manual-mode", *sense),
        "odd_numbers": args("--manual-mode", *sense, "--num-threads-second", "abc",
                            "--chunk-duration", "nan", "--vad-max-speech", "1e308",
                            "--vad-min-silence", "-inf", "--vad-lookback", "1e30",
                            "--single-trim-cap", "1e300", "--single-max-window", "-7",
                            "--single-partial-interval", "inf", "--diarization-num-threads",
                            "-5", "--speaker-id-threshold", "1e300", "--sample-rate", "16000"),
        "unknown_option_and_value": args("--bogus", "value", "--manual-mode", *sense),
        "wav_and_pcm": args("--manual-mode", *sense, "--wav-input", "a.wav", "--pcm-input", "a.pcm"),
        "audio_format_caps": args("--manual-mode", *sense, "--audio-format", "S16LE"),
        "enroll_alias": args("--enroll-name", "Ann", "--enroll-input", "a.wav"),
        "identify_only": args("--identify-only", "--wav-input", "a.wav", "--segments-input", "s.tsv",
                              "--speaker-enroll-db", "/data/enroll.txt"),
        "single_model": args("--single-model-streaming", *sense, "--single-partial-interval", "0.05"),
    }


def wav(fmt=1, channels=1, rate=16000, bits=16, data=b"\x00\x40\x00\xc0", extra_chunks=b"",
        fmt_size=16, form=b"WAVE", with_fmt=True, with_data=True, data_size=None):
    body = b""
    if with_fmt:
        fmt_body = struct.pack("<HHIIHH", fmt, channels, rate, rate * channels * bits // 8,
                               channels * bits // 8, bits)
        fmt_body += b"\x00" * (fmt_size - 16)
        body += b"fmt " + struct.pack("<I", fmt_size) + fmt_body
    body += extra_chunks
    if with_data:
        size = len(data) if data_size is None else data_size
        body += b"data" + struct.pack("<I", size) + data
        if len(data) % 2 == 1:
            body += b"\x00"
    return b"RIFF" + struct.pack("<I", 4 + len(body)) + form + body


def wav_seeds():
    floats = struct.pack("<4f", 0.5, -1.0, float("nan"), 3.0)
    return {
        "s16_mono": wav(),
        "f32_mono": wav(fmt=3, bits=32, data=floats),
        "stereo_wrong_rate": wav(channels=2, rate=8000),
        "rate_8000": wav(rate=8000),
        "no_data": wav(with_data=False),
        "no_fmt": wav(with_fmt=False),
        "odd_list_before_data": wav(extra_chunks=b"LIST" + struct.pack("<I", 3) + b"abc\x00"),
        "fmt_18": wav(fmt_size=18),
        "ten_bytes": b"RIFF\x04\x00\x00\x00WA",
        "avi": wav(form=b"AVI "),
        "eight_bit": wav(bits=8, data=b"\x80\x81"),
        "twenty_four_bit": wav(bits=24, data=b"\x00\x00\x40"),
        "f64": wav(fmt=3, bits=64, data=struct.pack("<d", 0.25)),
        "data_size_beyond_file": wav(data=b"\x01\x02", data_size=0x7FFFFFF0),
        "odd_data": wav(data=b"\x00\x40\x01"),
        "two_data_chunks": wav(extra_chunks=b"data" + struct.pack("<I", 2) + b"\xff\x7f"),
        "empty_data": wav(data=b""),
    }


def pcm_file_seeds():
    return {
        "three_bytes": b"\x00\x80\x01",
        "s16_extremes": b"\x00\x80\xff\x7f\x00\x40",
        "f32_values": struct.pack("<3f", 0.5, -0.0, float("inf")),
        "one_byte": b"\x01",
    }


def pcm_pipe_seeds():
    def stream(f32, *ops):
        p = Provider().boolean(f32)
        for op in ops:
            if op[0] == "write":
                p.integer(0, 3, 0).integer(1, 700, len(op[1])).raw(op[1])
            elif op[0] == "read":
                p.integer(0, 3, 2).integer(0, 1200, op[1])
            else:
                p.integer(0, 3, 3)
        return p.build()

    return {
        "s16_3201_bytes_chunk_1600": stream(False, ("write", b"\x01" * 700), ("write", b"\x02" * 700),
                                            ("write", b"\x03" * 700), ("write", b"\x04" * 700),
                                            ("write", b"\x05" * 501), ("read", 1600)),
        "s16_1000_bytes": stream(False, ("write", b"\x10" * 500), ("write", b"\x20" * 500)),
        "split_samples_then_clear": stream(False, ("write", b"\x00"), ("write", b"\x80\xff"),
                                           ("read", 1), ("clear",), ("write", b"\xff\x7f"),
                                           ("read", 0)),
        "f32_odd_pieces": stream(True, ("write", struct.pack("<f", 0.5)[:3]),
                                 ("write", struct.pack("<f", 0.5)[3:] + struct.pack("<f", -2.0)),
                                 ("read", 2), ("write", b"\x00\x00\xc0"), ("clear",),
                                 ("write", struct.pack("<2f", 1.0, float("nan")))),
    }


def command_loop_seeds():
    return {
        "session": b"\x00start\nstop\nquit\n",
        "start_twice": b"\x00start\nstart\nstop\nstop\n",
        "not_keywords": b"\x00START\nstart \nstart\r\n stop\nquitx\n",
        "set_lines": b"\x03set single-partial-interval 0.05 more words\n"
                     b"  set \t single-partial-interval   1.25  \nset single-partial-interval\n"
                     b"set single-partial-interval abc\nset other 1\nset single-partial-interval nan\n"
                     b"set single-partial-interval -inf\nset single-partial-interval 1e400\n",
        "modes": b"\x01manual\nauto\nmanual\n",
        "escapes": b"\x00say \"hi\"\\ \x01\x1f\t\xe4\xbd\xa0\xff\n\n\nquit\nstart\n",
        "no_final_newline": b"\x02start\nstop",
    }


def enroll_db_seeds():
    md5a = "0123456789abcdef0123456789abcdef"
    md5b = "fedcba9876543210fedcba9876543210"
    id_a = "0f8fad5b-d9cb-469f-a165-70867728950e"
    id_b = "7c9e6679-7425-40de-944b-e07fc1f90ae7"
    return {
        "v2_two_speakers": f"speaker-enroll v2\ndim 2\nspeaker Bob\nid {id_a}\nemb {md5a} 1 0\n"
                           f"emb - 0 1\nspeaker Ann\nid {id_b}\nemb {md5b} 5.000000000e-01 -1.229999959e-02\n",
        "old_format": "speaker-enroll\ndim 3\nspeaker Carol Smith\nemb 0.1 0.2 0.3\nemb 1 2 3\n",
        "only_dim": "dim 4\n",
        "missing_header": "dim 2\nspeaker Bob\nemb - 1 2\n",
        "short_emb_dropped": "speaker-enroll v2\ndim 3\nspeaker Dan\nid x\nemb - 1 2\n",
        "upper_hex_digest": f"speaker-enroll v2\ndim 2\nspeaker Eve\nemb {md5a.upper()} 1 2\n",
        "two_space_name_crlf": "speaker-enroll v2\r\ndim 1\r\nspeaker  Frank  \r\nid  f1 \r\nemb - 7\r\n",
        "same_name_two_ids": f"speaker-enroll v2\ndim 1\nspeaker Gil\nid a\nemb {md5a} 1\nid b\n"
                             f"emb {md5b} 2\nspeaker Gil\nid a\nemb - 3\n",
        "speaker_without_voiceprints": "speaker-enroll v2\ndim 2\nspeaker Hal\nid h\n"
                                       "speaker Ida\nid i\nemb - 1 1\n",
        "errors_bad_dim": "speaker-enroll v2\ndim 0\n",
        "errors_bad_token": "speaker-enroll v2\ndim 1\nspeaker J\nemb zz 1\n",
        "errors_emb_before_dim": "speaker-enroll v2\nspeaker K\nemb - 1\n",
        "errors_id_first": "speaker-enroll v2\nid z\n",
        "non_finite_values": "speaker-enroll v2\ndim 2\nspeaker A\nemb inf 1\nemb nan 2\n"
                             "emb - 1e-40 3\nemb - 1 1e39\nemb -inf 0\n",
        "dim_changes": "speaker-enroll v2\ndim 1\nspeaker Gil\nid a\nemb - 1\nid b\nemb - 2\n"
                       "dim 2\nspeaker Hal\nemb - 1 2\n",
        "huge_dim": "speaker-enroll v2\ndim 99999999\nspeaker Big\nid big\n",
        "tabs_and_odd_values": "speaker-enroll v2\ndim 2\nspeaker\tTab Name\t\nid \tid1\n"
                               "emb - 1e-40 -0\nemb 3.4028235e38 1\nemb - 1x 2\n",
    }


def segment_list_seeds():
    return {
        "header_blank_crlf": "start\tend\tlabel\r\n\r\n0.5\t1.5\tSPEAKER_00\r\n1\t1\tA\n2\t3\t\n"
                             "4\t5\n6\t7\tB\tmore\n",
        "odd_numbers": " 1.5\t2x\tA\n0x10\t0x20\tHex\ninf\tnan\tN\n-inf\tinf\tWhole\n1e999\t2\tBig\n"
                       "1e-320\t1\tTiny\n",
        "no_newline": "1\t2\tlast",
    }


def helper_response_seeds():
    return {
        "turns_done": "0.0\t1.5\tA\n1.5\t3.25\tB\nDONE\n",
        "carriage_returns": "1.0\t2\r.0\tA\r\nDO\rNE\r\n",
        "reordered_labels": "5.0\t6.0\tB\n1.0\t2.0\tA\n7.0\t8.0\tB\nDONE\n",
        "skipped_lines": "READY\n2\t2\tA\nx\t3\tB\n1\t2\n\n0x1p1\t1e1\t\nnan\t1\tC\n1\tinf\tD\nDONE\n",
        "no_done": "0\t1\tA\n2\t3\tB",
        "after_done": "DONE\n0\t1\tA\nDONE\n",
        "quote_path": "/tmp/a\"b\\c.wav",
    }


def utf8_seeds():
    def seed(text, tail="", fallback="", count=2):
        return Provider().integer(-2, 40, count).string(tail).string(fallback).raw(text).build()

    return {
        "chinese": seed("你好，世界。", tail="世界", count=2),
        "latin": seed("Hello, world.", tail="world", fallback="fb"),
        "decimals": seed("3.5 and 3．5, a.5 .5 5.", tail="5"),
        "malformed": seed(b"\xe4\xbd ab\xff\xc2\xb7\xf0\x9f\x98", tail=b"ab\xff", count=5),
        "terminal_marks": seed("好。。！ok?!…", tail="ok", count=0),
        "missing_tail": seed("你好吗", tail="xyz", fallback="", count=5),
        "quotes": seed("他说：“走吧”——（好）…", tail="好", count=-1),
        "truncated_wide": seed(b"\xe3\x80", tail=b"\xe3", count=1),
    }


def split_text_seeds():
    def seed(text, weights, segments=((0, 8),), turns=()):
        p = Provider().integer(0, 12, len(weights))
        for w in weights:
            if isinstance(w, int) and -3 <= w * 4 <= 50:
                p.boolean(True).integer(-3, 50, w * 4)
            else:
                p.boolean(False).double_bits(float(w))
        p.string(text)
        p.integer(1, 3, len(segments))
        for i, (start, length) in enumerate(segments):
            p.integer(0, 80, start).integer(-2, 40, length)
            if i > 0:
                p.string("second segment")
        p.integer(0, 6, len(turns))
        for start, end, label in turns:
            p.boolean(True).integer(-3, 50, start).boolean(False).boolean(True).integer(-3, 50, end)
            p.integer(0, 4, label)
        return p.build()

    return {
        "comma_pulls_cut": seed("abc,defghi", [2, 7], turns=((0, 2, 0), (2, 9, 2))),
        "zero_middle_weight": seed("ab", [1, 0, 1]),
        "negative_weights": seed("ab", [-1, 0]),
        "single_weight": seed("你好，世界。", [3]),
        "nonfinite_and_extreme_doubles": seed("一二三，四五。六七", [float("nan"), float("inf"), 5e-324, -0.0, 1e308]),
        "empty_text": seed("", [1, 2]),
        "malformed_utf8": seed(b"\xe4\xbd\xa0\xe5\xa5\xbd\xef\xbc\x8c\xff\xc0", [1, 1, 1]),
        "speakers_split": seed("Hello there. How are you?", [4, 4],
                               segments=((0, 16), (10, 8)), turns=((0, 8, 0), (8, 16, 1), (16, 40, 3))),
    }


def key_combo_seeds():
    return {
        "shift_cmd_k": "shift+cmd+k",
        "sided": "a+LeftCtrl",
        "fn_ctrl_space": "space+fn+ctrl",
        "aliases": " Left Ctrl +left-option+ LEFT_CTRL+ Return +META+opt",
        "function_keys": "F+f5+F05+f1a+key_115+KEY_115",
        "only_plus": "+++",
        "blank_pieces": " \t+\n+\v\f\r",
        "repeated": "ctrl+Control+ctrl",
        "utf8": "ä+Ö+⌘+ +é",
    }


def scan_args_seeds():
    return {
        "typical": args("--service", "180D", "--timeout-ms", "1500", "--name-prefix", "Polar"),
        "trailing_flag": args("--service", "180D", "--service"),
        "bad_timeouts": args("--timeout-ms", "abc", "--timeout-ms", "0", "--timeout-ms", "-5",
                             "--timeout-ms", "+12", "--timeout-ms", "9223372036854775808",
                             "--timeout-ms", "-9223372036854775808", "x"),
        "prefixes": args("--name-prefix", "A", "--name-prefix", "", "--name-prefix", "B", "lone"),
        "uuids": args("--service", "0000180d-0000-1000-8000-00805f9b34fb", "--service", "0000180D",
                      "--service", "6E400001-B5A3-F393-E0A9-E50E24DCCA9E", "--service", "12345678",
                      "--service", "xyz1"),
        "verbose": args("--verbose", "--name-prefix", "--verbose", "--service", "180D", "--verbose"),
    }


def main():
    write_corpus("options", options_seeds())
    write_corpus("wav_reader", wav_seeds())
    write_corpus("pcm_file", pcm_file_seeds())
    write_corpus("pcm_pipe", pcm_pipe_seeds())
    write_corpus("command_loop", command_loop_seeds())
    write_corpus("enroll_db", enroll_db_seeds())
    write_corpus("segment_list", segment_list_seeds())
    write_corpus("helper_response", helper_response_seeds())
    write_corpus("utf8_punct", utf8_seeds())
    write_corpus("split_text", split_text_seeds())
    write_corpus("key_combo", key_combo_seeds())
    write_corpus("scan_args", scan_args_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())
