#!/usr/bin/python3
"""Draws the piano rolls of docs/ with the tool itself and headless Chromium.

    /usr/bin/python3 scripts/roll_pictures.py BUILD_DIR [OUT_DIR]

BUILD_DIR holds cli/midifolio and bench/midifolio_perf (configure with
-DMIDIFOLIO_BUILD_BENCH=ON); OUT_DIR defaults to docs/. The inputs are made here: a piece in
3/8 (with 6/8 and 5/8 bars, a ritardando and a violin in unison with the flute) written with
mido, a piece whose tempo changes at every eighth, and the benchmarks' 20 MB song written by
midifolio_perf; the dense song is a real one from tests/data/corpus.
"""
import math
import os
import shutil
import subprocess
import sys
import tempfile

import mido

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def piece_in_three_eight(path):
    """16 bars: 8 of 3/8 at 132, 4 of 6/8, 2 of 5/8, 2 of 3/8 slowing to 80 BPM."""
    ticks = 480
    eighth = ticks // 2
    meters = [(3, 8)] * 8 + [(6, 8)] * 4 + [(5, 8)] * 2 + [(3, 8)] * 2
    song = mido.MidiFile(type=1, ticks_per_beat=ticks)
    conductor, flute, violin, bass, drums = (mido.MidiTrack() for _ in range(5))
    song.tracks.extend([conductor, flute, violin, bass, drums])
    for track, name in zip(song.tracks, ["Conductor", "Flute", "Violin", "Bass", "Drums"]):
        track.append(mido.MetaMessage("track_name", name=name, time=0))
    flute.append(mido.Message("program_change", channel=0, program=73, time=0))
    violin.append(mido.Message("program_change", channel=1, program=40, time=0))
    bass.append(mido.Message("program_change", channel=2, program=32, time=0))

    events = {id(t): [] for t in song.tracks}  # (tick, order, message) before delta times

    def note(track, tick, channel, pitch, length, velocity=90):
        events[id(track)].append((tick, 1, mido.Message(
            "note_on", channel=channel, note=pitch, velocity=velocity)))
        events[id(track)].append((tick + length, 0, mido.Message(
            "note_off", channel=channel, note=pitch, velocity=0)))

    scale = [67, 69, 71, 72, 74, 76, 74, 72, 71, 69, 67, 66]
    tick = 0
    last = None
    for bar, (beats, unit) in enumerate(meters):
        if (beats, unit) != last:
            events[id(conductor)].append((tick, 0, mido.MetaMessage(
                "time_signature", numerator=beats, denominator=unit)))
            last = (beats, unit)
        bpm = 132 if bar < 14 else 132 - (bar - 13) * 26
        if bar in (0, 14, 15):
            events[id(conductor)].append((tick, 0, mido.MetaMessage(
                "set_tempo", tempo=mido.bpm2tempo(bpm))))
        for beat in range(beats):
            at = tick + beat * eighth
            pitch = scale[(bar * 3 + beat) % len(scale)]
            note(flute, at, 0, pitch, eighth - 20, 80 + 10 * (beat == 0))
            if 4 <= bar < 8 or bar >= 14:
                note(violin, at, 1, pitch, eighth - 20, 70)  # in unison with the flute
            note(drums, at, 9, 42, 60, 60 + 30 * (beat == 0))
            if beat % 3 == 0:
                note(drums, at, 9, 36, 120, 110)
        note(bass, tick, 2, [43, 45, 47, 40][bar % 4], beats * eighth - 30, 95)
        tick += beats * eighth
    for track in song.tracks:
        at = 0
        for when, _, message in sorted(events[id(track)], key=lambda e: (e[0], e[1])):
            track.append(message.copy(time=when - at))
            at = when
        track.append(mido.MetaMessage("end_of_track", time=max(0, tick - at)))
    song.save(path)


def rubato_piece(path):
    """12 bars of 4/4 whose tempo changes at every eighth: it swells from 60 to 140 BPM and back
    every four bars and slows to 40 at the end; a piano plays eighths over a cello's half notes."""
    ticks = 480
    eighth = ticks // 2
    song = mido.MidiFile(type=1, ticks_per_beat=ticks)
    conductor, piano, cello = (mido.MidiTrack() for _ in range(3))
    song.tracks.extend([conductor, piano, cello])
    for track, name in zip(song.tracks, ["Conductor", "Piano", "Cello"]):
        track.append(mido.MetaMessage("track_name", name=name, time=0))
    conductor.append(mido.MetaMessage("time_signature", numerator=4, denominator=4, time=0))
    piano.append(mido.Message("program_change", channel=0, program=0, time=0))
    cello.append(mido.Message("program_change", channel=1, program=42, time=0))
    steps = 12 * 8
    for k in range(steps):
        bpm = 100 - 40 * math.cos(2 * math.pi * k / 32)
        if k >= steps - 8:
            bpm = 60 - 20 * (k - steps + 8) / 8
        conductor.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(bpm),
                                          time=0 if k == 0 else eighth))
    conductor.append(mido.MetaMessage("end_of_track", time=eighth))
    melody = [60, 64, 67, 72, 71, 67, 64, 62]
    for k in range(steps):
        pitch = melody[k % 8] + (2 if (k // 16) % 2 else 0)
        piano.append(mido.Message("note_on", channel=0, note=pitch, velocity=80, time=0))
        piano.append(mido.Message("note_off", channel=0, note=pitch, velocity=0,
                                  time=eighth))
    piano.append(mido.MetaMessage("end_of_track", time=0))
    for k in range(steps // 4):
        pitch = [36, 43, 41, 43][k % 4]
        cello.append(mido.Message("note_on", channel=1, note=pitch, velocity=90, time=0))
        cello.append(mido.Message("note_off", channel=1, note=pitch, velocity=0,
                                  time=4 * eighth))
    cello.append(mido.MetaMessage("end_of_track", time=0))
    song.save(path)


def run(*args):
    print("$", " ".join(args))
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def screenshot(html, png, query, size="1400,860"):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    with tempfile.TemporaryDirectory() as profile:
        run(chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
            "--no-first-run", "--disable-background-networking", "--disable-component-update",
            "--disable-sync", "--hide-scrollbars", "--force-device-scale-factor=1",
            "--user-data-dir=" + profile, "--window-size=" + size, "--screenshot=" + png,
            "file://" + html + query)


def main():
    build = sys.argv[1]
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(ROOT, "docs")
    cli = os.path.join(build, "cli", "midifolio")
    work = tempfile.mkdtemp(prefix="midifolio-rolls-")
    run(os.path.join(build, "bench", "midifolio_perf"), "gen", work)
    piece = os.path.join(work, "three-eight.mid")
    piece_in_three_eight(piece)
    dense = os.path.join(ROOT, "tests", "data", "corpus", "simutrans__05-Boring-afternoon.mid")
    run(cli, "roll", os.path.join(ROOT, "examples", "sample.mid"), "-o",
        os.path.join(out, "sample-roll.svg"))
    run(cli, "roll", piece, "-o", os.path.join(out, "roll-meters.png"), "--width", "1200")
    rubato = os.path.join(work, "rubato.mid")
    rubato_piece(rubato)
    run(cli, "roll", rubato, "-o", os.path.join(out, "roll-tempo.png"), "--width", "1200")
    run(cli, "roll", dense, "-o", os.path.join(out, "roll-dense.png"))
    run(cli, "roll", dense, "-o", os.path.join(out, "roll-dense-narrow.png"), "--width", "600")
    run(cli, "roll", os.path.join(work, "a.mid"), "-o", os.path.join(out, "roll-big.png"),
        "--width", "1200")
    for name, song in (("dense", dense), ("big", os.path.join(work, "a.mid"))):
        html = os.path.join(work, name + ".html")
        run(cli, "roll", song, "-o", html)
    screenshot(os.path.join(work, "dense.html"), os.path.join(out, "roll-page.png"),
               "?view=38400,53760,40,84&hover=46100,64")
    screenshot(os.path.join(work, "big.html"), os.path.join(out, "roll-page-big.png"),
               "?view=95000,97000,48,59&hover=95300,50")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
