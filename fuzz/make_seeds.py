#!/usr/bin/env python3
"""Writes the hand-made seeds of the exact layer's fuzz targets:

  corpus/song/   small files, each showing one thing the exact reader, its views or the writer
                 handle (formats 0, 1 and 2, SMPTE time, RIFF, F7 packets, running status across
                 meta events, unknown chunks, damage to recover from, long deltas, metas of odd
                 sizes, the sustain pedal, banks, lyrics, Latin-1 text, tracks without an end);
  corpus/edits/  for fuzz_edits: 16 bytes choosing one or two edits and their parameters,
                 then a small song.

Run from anywhere: python3 fuzz/make_seeds.py (it rewrites the files it owns).
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools"))
import midi_bytes  # noqa: E402  (the project's one VLQ and meta-event writer)

vlq = midi_bytes.vlq


def meta(delta, kind, payload):
    return vlq(delta) + midi_bytes.meta(kind, payload)


def end(delta=0):
    return vlq(delta) + b"\xff\x2f\x00"


def track(data):
    return b"MTrk" + struct.pack(">I", len(data)) + data


def header(fmt, ntracks, division=96):
    return b"MThd" + struct.pack(">IHHH", 6, fmt, ntracks, division)


def song(fmt, tracks, division=96):
    return header(fmt, len(tracks), division) + b"".join(track(t) for t in tracks)


def ev(delta, *data):
    return vlq(delta) + bytes(data)


CONDUCTOR = (meta(0, 0x03, b"Conductor") + meta(0, 0x51, b"\x07\xa1\x20") +
             meta(0, 0x58, b"\x03\x02\x18\x08") + meta(0, 0x59, b"\xfe\x00") +
             meta(288, 0x51, b"\x06\x1a\x80") + meta(0, 0x58, b"\x06\x03\x18\x08") + end(96))
MELODY = (meta(0, 0x03, b"Melody") + ev(0, 0xB0, 0, 1) + ev(0, 0xB0, 32, 2) +
          ev(0, 0xC0, 5) + ev(0, 0x90, 60, 100) + ev(48, 0x80, 60, 0) + ev(0, 0x90, 62, 90) +
          ev(0, 0x90, 62, 80) + ev(48, 0x90, 62, 0) + ev(10, 0x80, 62, 0) +
          ev(0, 0xB0, 64, 127) + ev(0, 0x90, 64, 70) + ev(20, 0x80, 64, 0) +
          ev(40, 0xB0, 64, 0) + meta(0, 0x05, b"la") + ev(0, 0xE0, 0, 64) + ev(0, 0x90, 67, 60) +
          end(96))
DRUMS = (ev(0, 0x99, 36, 100) + ev(0, 0x99, 42, 80) + ev(24, 0x89, 36, 0) + ev(0, 0x89, 42, 0) +
         ev(72, 0x99, 38, 100) + ev(24, 0x99, 38, 0) + end())
SMALL = song(1, [CONDUCTOR, MELODY, DRUMS])


def song_seeds():
    seeds = {
        "three-tracks.mid": SMALL,
        "format0.mid": song(0, [CONDUCTOR[:-4] + MELODY]),
        "format2.mid": song(2, [CONDUCTOR, MELODY, DRUMS]),
        "smpte-25-40.mid": song(1, [MELODY, DRUMS], division=0xE728),
        "smpte-2997.mid": song(0, [MELODY], division=0xE350),
        "riff.rmi": (lambda smf: b"RIFF" + struct.pack("<I", 4 + 8 + len(smf)) + b"RMID" +
                     b"data" + struct.pack("<I", len(smf)) + smf)(SMALL),
        "sysex-packets.mid": song(0, [ev(0, 0xF0, 3, 0x43, 0x12, 0x00) + ev(10, 0xF7, 2, 0x43, 0xF7) +
                                      ev(0, 0xF7, 0) + ev(0, 0x90, 60, 64) + ev(10, 0x80, 60, 0) +
                                      end()]),
        "running-status-across-meta.mid": song(0, [ev(0, 0x90, 60, 64) + meta(0, 0x01, b"t") +
                                                   ev(10, 62, 64) + ev(0, 0xF8) + ev(0, 60, 0) +
                                                   ev(10, 62, 0) + end()]),
        "unknown-chunk-and-trailing.mid": (header(1, 2) + track(MELODY) + b"XFIH" +
                                           struct.pack(">I", 3) + b"abc" + track(DRUMS) +
                                           track(DRUMS) + b"\x00\x01"),
        "damaged-track.mid": song(1, [MELODY, ev(0, 0x90, 60, 64) + ev(10, 0xF4) + end()]),
        "cut-short.mid": song(1, [MELODY, DRUMS])[:-9],
        "long-delta.mid": song(0, [ev(0, 0x90, 60, 64) + vlq(0x10000000) + bytes([0x80, 60, 0]) +
                                   end()]),
        "huge-delta-eight-bytes.mid": song(0, [ev(0, 0x90, 60, 64) + b"\x81\x80\x80\x80\x80\x80\x80\x00" +
                                               bytes([0x80, 60, 0]) + end()]),
        "odd-metas.mid": song(0, [meta(0, 0x51, b"\x07\xa1\x20\x00\x00") + meta(0, 0x58, b"\x02\x02") +
                                  meta(0, 0x59, b"\x09\x03") + meta(0, 0x51, b"") +
                                  meta(0, 0x00, b"") + meta(0, 0x21, b"\x01\x02") +
                                  meta(0, 0x20, b"\x00") + meta(0, 0x54, b"\x60\x00\x00\x00\x00") +
                                  meta(0, 0x7F, b"\x00\x01") + ev(0, 0x90, 60, 64) +
                                  ev(10, 0x80, 60, 0) + end()]),
        "system-common.mid": song(0, [ev(0, 0xF1, 5) + ev(0, 0xF2, 1, 2) + ev(0, 0xF3, 3) +
                                      ev(0, 0xF6) + ev(0, 0xFE) + ev(0, 0x90, 60, 64) +
                                      ev(10, 0x80, 60, 0) + end()]),
        "data-above-127.mid": song(0, [ev(0, 0x90, 0xBC, 0xC0) + ev(10, 0x80, 0xBC, 0) + end()]),
        "latin1-names.mid": song(1, [meta(0, 0x03, b"Caf\xe9") + meta(0, 0x05, b"\xe0") + end(),
                                     meta(0, 0x03, "Café".encode()) + end()]),
        "no-end-of-track.mid": song(1, [MELODY[:-4], ev(0, 0x90, 60, 64) + vlq(100)]),
        "empty-tracks.mid": song(1, [b"", end(), b""]),
        "zero-tracks-format0.mid": header(0, 0),
        "bytes-after-end.mid": song(0, [end() + ev(0, 0x90, 60, 64)]),
        "long-header.mid": (b"MThd" + struct.pack(">IHHH", 8, 0, 1, 96) + b"\x00\x00" +
                            track(MELODY)),
        "overlapping-notes.mid": song(0, [ev(0, 0x90, 60, 64) + ev(0, 0x90, 60, 65) +
                                          ev(10, 0x90, 60, 66) + ev(0, 0x80, 60, 0) +
                                          ev(5, 0x90, 60, 0) + ev(5, 0x80, 60, 0) +
                                          ev(0, 0x80, 60, 0) + end(40)]),
        "tempo-zero-and-meter-zero.mid": song(0, [meta(0, 0x51, b"\x00\x00\x00") +
                                                  meta(0, 0x58, b"\x00\x02\x18\x08") +
                                                  meta(10, 0x58, b"\x04\x40\x18\x08") +
                                                  ev(0, 0x90, 60, 64) + ev(1000, 0x80, 60, 0) +
                                                  end()]),
    }
    return seeds


def edit_seeds():
    # Operations: 0 Transpose, 1 ScaleTempo, 2 Crop (ticks), 3 Crop (seconds or bars), 4 Select,
    # 5 Quantize, 6 Resample, 7 SetFormat, 8 Merge, 9 Split, 10 FromNotes; a second byte of 11
    # to 14 applies no second one.
    none = 11
    seeds = {}
    params = {
        "transpose": [0, none, 3, 1, 1],
        "transpose-drums-down": [0, none, 0xF4, 1, 1],
        "scale-tempo": [1, none, 3],
        "crop-ticks": [2, none, 0, 0, 0, 48, 0, 0, 1, 0, 1],
        "crop-seconds": [3, none, 0, 20, 50],
        "crop-bars": [3, none, 1, 2, 3, 1],
        "select-channels": [4, none, 0, 0, 0, 0x48, 0x01, 0x02],
        "quantize-eighths": [5, none, 1, 1],
        "quantize-raw": [5, none, 200, 0, 0, 0, 7, 1],
        "resample": [6, none, 100, 0x01, 0xE0],
        "set-format-0": [7, none, 0],
        "set-format-1": [7, none, 1],
        "merge-resampled": [8, none, 2, 5],
        "split-by-channel": [9, none, 0, 1],
        "from-notes": [10, none, 11],
        "from-notes-spoiled": [10, none, 2, 0, 1],
        "transpose-then-split": [0, 9, 2, 1, 0, 1, 0],
        "quantize-then-resample": [5, 6, 3, 1, 200, 0, 48],
    }
    for name, p in params.items():
        prefix = bytes((p + [0x31] * 16)[:16])
        body = SMALL if "format-1" not in name else song(0, [CONDUCTOR[:-4] + MELODY])
        seeds[name + ".bin"] = prefix + body
    return seeds


def write(folder, seeds):
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write(os.path.join(HERE, "corpus", "song"), song_seeds())
    write(os.path.join(HERE, "corpus", "edits"), edit_seeds())
