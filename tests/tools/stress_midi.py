#!/usr/bin/python3
"""Valid but demanding Standard MIDI Files, made from fixed seeds, for comparing readers.

Each maker returns the bytes of one file; the same name always gives the same bytes. What they
hold: running status over long runs of every kind of channel message and across meta events,
long and split (F0 then F7 packets) system exclusive messages, hundreds of tracks, formats 0, 1
and 2, thousands of tempo changes, delta times at the four-byte maximum with songs running past
2**31 and 2**32 ticks, overlapping notes of one pitch and channel, note-ons of velocity 0 that
end notes, notes never ended, SMPTE divisions, odd resolutions, empty tracks, text events of any
bytes, and a file of a few megabytes.

Every data byte inside a system exclusive message is below 0x80 (python3-mido refuses others),
and meta events of a type python3-mido 1.2 does not know (0x08, 0x0A-0x0F, 0x60, 0x7E) follow
the event before them at delta 0: mido reads such an event without its delta time.

Usage: stress_midi.py OUT_DIR    writes every file as OUT_DIR/NAME.mid
"""
import random
import sys
from pathlib import Path

from midi_bytes import meta, smf, vlq

MAX_DELTA = 0x0FFFFFFF  # the largest delta time four bytes hold

# Status high nibble and number of data bytes of the seven channel messages.
CHANNEL_KINDS = [(0x80, 2), (0x90, 2), (0xA0, 2), (0xB0, 2), (0xC0, 1), (0xD0, 1), (0xE0, 2)]
TEXT_TYPES = list(range(0x01, 0x10))
MIDO_KNOWS = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09, 0x20, 0x21, 0x2F, 0x51, 0x54, 0x58, 0x59, 0x7F}


# System common and real-time messages (both readers take them inside a track).
SYSTEM_MESSAGES = [
    lambda rng: [0xF1, rng.randrange(128)],
    lambda rng: [0xF2, rng.randrange(128), rng.randrange(128)],
    lambda rng: [0xF3, rng.randrange(128)],
    lambda rng: [0xF6],
    lambda rng: [rng.choice([0xF8, 0xFA, 0xFB, 0xFC, 0xFE])],
]


class Track:
    """Track data written event by event, with running status wherever a channel message
    follows another of the same status with nothing but meta events between them."""

    def __init__(self):
        self.parts = []
        self.running = None

    def channel(self, delta, status, *data, running=True):
        body = bytes(data) if running and status == self.running else bytes([status, *data])
        self.running = status
        self.parts.append(vlq(delta) + body)

    def meta(self, delta, kind, payload):
        self.parts.append(vlq(delta) + meta(kind, payload))  # running status stays in force

    def sysex(self, delta, payload, escape=False):
        self.parts.append(vlq(delta) + bytes([0xF7 if escape else 0xF0]) + vlq(len(payload)) + payload)
        self.running = None

    def system(self, delta, message):
        self.parts.append(vlq(delta) + bytes(message))
        self.running = None

    def data(self, end_delta=0, end=True):
        body = b"".join(self.parts)
        return body + vlq(end_delta) + meta(0x2F, b"") if end else body


def channel_message(rng, channel=None, kinds=CHANNEL_KINDS):
    high, count = rng.choice(kinds)
    status = high | (rng.randrange(16) if channel is None else channel)
    return status, [rng.randrange(128) for _ in range(count)]


def delta(rng, big=1 << 14):
    r = rng.random()
    return 0 if r < 0.35 else rng.randrange(1, 8) if r < 0.8 else rng.randrange(big)


def data_bytes(rng, size):
    """Bytes below 0x80, as a system exclusive message holds them."""
    return bytes(rng.randrange(128) for _ in range(size))


def text(rng, size):
    """Any bytes, valid UTF-8, Latin-1 or neither."""
    pick = rng.randrange(3)
    if pick == 0:
        return bytes(rng.randrange(256) for _ in range(size))
    if pick == 1:
        return ("Grüße ♪ 音楽 " * (1 + size // 12)).encode("utf-8")[:size]
    return bytes(rng.randrange(0x80, 0x100) for _ in range(size))


def notes_track(rng, channel, count, spread=96, pitches=range(36, 96)):
    """Note pairs with running status, note-offs as note-ons of velocity 0 or as note-offs."""
    t = Track()
    for _ in range(count):
        pitch = rng.choice(pitches)
        t.channel(rng.randrange(spread), 0x90 | channel, pitch, rng.randrange(1, 128))
        if rng.random() < 0.5:
            t.channel(rng.randrange(1, spread), 0x90 | channel, pitch, 0)
        else:
            t.channel(rng.randrange(1, spread), 0x80 | channel, pitch, rng.randrange(128))
    return t


# ------------------------------------------------------------------ the files


def running_status(seed=1):
    """Format 0, one track of 20,000 channel messages of every kind in runs of one status,
    with meta events inside the runs (running status lasts across them) and now and then a
    system common or real-time message (after which the status is given again)."""
    rng = random.Random(seed)
    t = Track()
    t.meta(0, 0x03, b"runs")
    while len(t.parts) < 20000:
        high, count = rng.choice(CHANNEL_KINDS)
        status = high | rng.randrange(16)
        for _ in range(rng.randrange(1, 40)):
            if rng.random() < 0.08:
                t.meta(delta(rng), rng.choice([0x01, 0x06, 0x7F]), text(rng, rng.randrange(0, 20)))
            elif rng.random() < 0.005:  # system common and real-time messages end running status
                t.system(delta(rng), rng.choice(SYSTEM_MESSAGES)(rng))
            t.channel(delta(rng), status, *[rng.randrange(128) for _ in range(count)])
    return smf(t.data(), fmt=0, division=480)


def sysex(seed=2):
    """Long messages (one of 200,000 bytes), messages sent in F0 + F7 packets, escapes, and
    channel messages between them that must restate their status."""
    rng = random.Random(seed)
    t = Track()
    t.sysex(0, data_bytes(rng, 200000) + b"\xf7")
    for k in range(300):
        size = rng.choice([0, 1, 2, 127, 128, 16383, 16384, 3000])
        if k % 3 == 0:
            t.sysex(delta(rng), data_bytes(rng, size) + b"\xf7")
        elif k % 3 == 1:  # one message in packets: F0 without its end, F7 packets, the last ending
            t.sysex(delta(rng), bytes([0x43]) + data_bytes(rng, size))
            for _ in range(rng.randrange(1, 5)):
                t.sysex(rng.randrange(3), data_bytes(rng, rng.randrange(1, 300)), escape=True)
            t.sysex(delta(rng), data_bytes(rng, rng.randrange(0, 50)) + b"\xf7", escape=True)
        else:  # an escape of its own
            t.sysex(delta(rng), data_bytes(rng, rng.randrange(1, 40)), escape=True)
        status, data = channel_message(rng)
        t.channel(delta(rng), status, *data)
        t.channel(delta(rng), status, *data)  # running status after the restated status
    second = notes_track(rng, 3, 200)
    second.sysex(5, b"\x7e\x7f\x09\x01\xf7")
    return smf(t.data(), second.data(), fmt=1, division=96)


def many_tracks(seed=3, count=300):
    """Format 1 with 300 tracks: notes, programs and bends on every channel, empty tracks (an
    end of track only) and two chunks of no data at all."""
    rng = random.Random(seed)
    tracks = []
    for n in range(count):
        if n % 37 == 5:
            tracks.append(b"\x00" + meta(0x2F, b""))
            continue
        if n in (100, 250):
            tracks.append(b"")
            continue
        ch = n % 16
        t = notes_track(rng, ch, rng.randrange(1, 12))
        t.channel(rng.randrange(50), 0xC0 | ch, rng.randrange(128))
        t.channel(rng.randrange(50), 0xE0 | ch, rng.randrange(128), rng.randrange(128))
        if n == 0:
            t.meta(0, 0x51, (400000).to_bytes(3, "big"))
        tracks.append(t.data(rng.randrange(100)))
    return smf(*tracks, fmt=1, division=120)


def format_2(seed=4, count=40):
    """Format 2: every track a song of its own, with its own tempo changes."""
    rng = random.Random(seed)
    tracks = []
    for n in range(count):
        t = Track()
        for _ in range(rng.randrange(0, 6)):
            t.meta(rng.randrange(200), 0x51, rng.randrange(100000, 2000000).to_bytes(3, "big"))
            pitch = rng.randrange(128)
            t.channel(rng.randrange(100), 0x90 | n % 16, pitch, 64)
            t.channel(rng.randrange(1, 300), 0x80 | n % 16, pitch, 0)
        tracks.append(t.data(rng.randrange(10)))
    return smf(*tracks, fmt=2, division=192)


def dense_tempo(seed=5, changes=5000):
    """5,000 tempo changes in a tempo track, several at one tick, more in the note tracks (at
    one tick the later track's holds), under notes of four tracks."""
    rng = random.Random(seed)
    tempo_track = Track()
    for _ in range(changes):
        tempo_track.meta(rng.choice([0, 0, 1, 3, 17, 240]), 0x51, rng.randrange(1, 1 << 24).to_bytes(3, "big"))
    tracks = [tempo_track.data()]
    for ch in range(4):
        t = Track()
        for _ in range(1500):
            if rng.random() < 0.05:
                t.meta(rng.randrange(40), 0x51, rng.randrange(200000, 900000).to_bytes(3, "big"))
            pitch = rng.randrange(128)
            t.channel(rng.randrange(40), 0x90 | ch, pitch, rng.randrange(1, 128))
            t.channel(rng.randrange(1, 60), 0x80 | ch, pitch, 64)
        tracks.append(t.data())
    return smf(*tracks, fmt=1, division=384)


def long_deltas(seed=6):
    """Delta times of 0x0FFFFFFF: notes that last longer than 2**28 ticks, a song past 2**31
    and 2**32 ticks, tempo changes far out, in two tracks."""
    rng = random.Random(seed)
    first = Track()
    for k in range(20):
        pitch = 40 + k
        first.channel(MAX_DELTA if k % 2 else rng.randrange(1000), 0x90, pitch, 100)
        first.meta(MAX_DELTA, 0x01, b"far")
        first.channel(rng.choice([0, MAX_DELTA]), 0x80, pitch, 0)
    second = Track()
    for k in range(12):
        second.meta(MAX_DELTA, 0x51, (250000 + 100000 * k).to_bytes(3, "big"))
        second.channel(0, 0x91, 60, 90)
        second.channel(MAX_DELTA - 1, 0x91, 60, 0)
    return smf(first.data(MAX_DELTA), second.data(), fmt=1, division=960)


def same_pitch(seed=7):
    """Notes of one pitch and channel that overlap (the oldest sounding note ends first),
    note-offs with no note sounding, note-on and note-off at one tick, note-ons of velocity 0,
    notes never ended, in three tracks sharing the channel."""
    rng = random.Random(seed)
    tracks = []
    for n in range(3):
        t = Track()
        for _ in range(3000):
            pitch = rng.choice([60, 60, 60, 61, 0, 127])
            r = rng.random()
            if r < 0.5:
                t.channel(rng.choice([0, 0, 1, 5]), 0x90, pitch, rng.randrange(1, 128))
            elif r < 0.75:
                t.channel(rng.choice([0, 0, 1, 5]), 0x90, pitch, 0)
            else:
                t.channel(rng.choice([0, 0, 1, 5]), 0x80, pitch, rng.randrange(128))
        t.channel(0, 0x90, 60, 100)  # never ended: lasts to the track's last event
        t.channel(0, 0x90, 61, 100)
        tracks.append(t.data(rng.randrange(100)))
    return smf(*tracks, fmt=1, division=96)


def smpte(fps, ticks_per_frame, seed=8):
    """SMPTE division: ticks are fractions of a frame; tempo events change no time."""
    rng = random.Random(seed + fps)
    t = notes_track(rng, 0, 400, spread=500)
    t.meta(10, 0x51, (300000).to_bytes(3, "big"))
    t.meta(0, 0x54, bytes([0x60 | 1, 2, 3, 4, 5]))
    more = notes_track(rng, 1, 400, spread=500)
    return smf(t.data(), more.data(), fmt=1, division=((256 - fps) << 8) | ticks_per_frame)


def resolution(division, seed=9):
    """An odd number of ticks per quarter note."""
    rng = random.Random(seed + division)
    t = notes_track(rng, 2, 500, spread=max(2, division * 2))
    t.meta(division * 3, 0x51, (612345).to_bytes(3, "big"))
    return smf(notes_track(rng, 9, 300, spread=max(2, division)).data(), t.data(), fmt=1, division=division)


def meta_events(seed=10):
    """Every kind of meta event, texts of any bytes (non-ASCII, invalid UTF-8) and lengths from
    0 to 70,000 bytes, sequencer events (0x7F) and types no reader knows."""
    rng = random.Random(seed)
    t = Track()
    t.meta(0, 0x00, b"\x00\x07")
    t.meta(0, 0x20, b"\x05")
    t.meta(0, 0x21, b"\x01")
    t.meta(0, 0x54, bytes([0x40 | 3, 59, 29, 3, 99]))
    t.meta(0, 0x58, bytes([7, 3, 36, 8]))
    t.meta(0, 0x59, bytes([0xF9, 1]))
    for _ in range(600):
        kind = rng.choice(TEXT_TYPES + [0x7F, 0x60, 0x7E, 0x0A])
        size = rng.choice([0, 1, 5, 127, 128, 1000])
        t.meta(delta(rng, 500) if kind in MIDO_KNOWS else 0, kind, text(rng, size))
        status, data = channel_message(rng)
        t.channel(delta(rng, 500), status, *data)
    t.meta(1, 0x01, text(rng, 70000))
    t.meta(0, 0x59, bytes([7, 0]))
    return smf(t.data(), fmt=0, division=480)


def huge(seed=11, tracks=16, events=25000):
    """A file of a few megabytes: 16 tracks of 25,000 channel messages each, long messages
    between them."""
    rng = random.Random(seed)
    kinds = [(0x90, 2), (0x80, 2), (0xB0, 2), (0xE0, 2)]
    out = []
    for n in range(tracks):
        t = Track()
        for k in range(events):
            if k % 2500 == 0:
                t.sysex(0, data_bytes(rng, 20000) + b"\xf7")
            status, data = channel_message(rng, channel=n % 16, kinds=kinds)
            t.channel(rng.choice([0, 0, 1, 2, 30]), status, *data)
        out.append(t.data())
    return smf(*out, fmt=1, division=480)


FILES = {
    "running_status": running_status,
    "sysex": sysex,
    "many_tracks": many_tracks,
    "format_2": format_2,
    "dense_tempo": dense_tempo,
    "long_deltas": long_deltas,
    "same_pitch": same_pitch,
    "smpte_24": lambda: smpte(24, 4),
    "smpte_25": lambda: smpte(25, 40),
    "smpte_29_97": lambda: smpte(29, 80),
    "smpte_30": lambda: smpte(30, 1),
    "resolution_1": lambda: resolution(1),
    "resolution_7": lambda: resolution(7),
    "resolution_32767": lambda: resolution(32767),
    "meta_events": meta_events,
    "huge": huge,
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: stress_midi.py OUT_DIR")
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, make in FILES.items():
        (out / (name + ".mid")).write_bytes(make())


if __name__ == "__main__":
    main()
