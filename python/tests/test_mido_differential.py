"""The exact reader (midifolio.load / loads) against python3-mido, an independent reader, on
files made to be hard to read (tests/tools/stress_midi.py), and three ways, with the library's
own classes (midifolio.core.CMidiFolio.LoadMidiFile) as the third reader, on every saved fuzz
input. Events are compared as (track, tick, kind, channel, status, data bytes, meta type,
payload), notes as the rows of tests/tools/mido_notes.py, seconds included."""
import io
import sys
from collections import defaultdict, deque
from functools import lru_cache

import numpy as np
import pytest

import midifolio
from conftest import SOURCE, TOOLS, rows_of

sys.path.insert(0, str(TOOLS))
import mido_notes  # noqa: E402
import stress_midi  # noqa: E402

sys.path.remove(str(TOOLS))

mido = pytest.importorskip("mido")
core = midifolio.core

KIND_OF_STATUS = {
    0x80: midifolio.EVT_NOTEOFF,
    0x90: midifolio.EVT_NOTEON,  # velocity 0 included: the status says note-on
    0xA0: midifolio.EVT_KEYPRESSURE,
    0xB0: midifolio.EVT_CONTROL,
    0xC0: midifolio.EVT_PROGRAM,
    0xD0: midifolio.EVT_CHANPRESSURE,
    0xE0: midifolio.EVT_PITCHBEND,
}
SYSEX_KINDS = (midifolio.EVT_SYSEX, midifolio.EVT_SYSEXESC)


def kind_of(status):
    if status < 0x80:
        return 0
    if status < 0xF0:
        return KIND_OF_STATUS[status & 0xF0]
    if status in (0xF0, 0xF7):
        return midifolio.EVT_SYSEX
    if status == 0xFF:
        return midifolio.EVT_META
    return midifolio.EVT_SYSCOMMON if status < 0xF8 else midifolio.EVT_REALTIME


def channel_of(status):
    return status & 0x0F if 0x80 <= status < 0xF0 else 255


def sysex_data(payload):
    """A system exclusive payload as mido keeps it: without a leading F0 and a closing F7. F0
    messages and F7 packets are both mido's "sysex", so both are kind EVT_SYSEX, status F0."""
    payload = bytes(payload)
    if payload[:1] == b"\xf0":
        payload = payload[1:]
    if payload[-1:] == b"\xf7":
        payload = payload[:-1]
    return payload


def channel_row(track, tick, status, d1=0, d2=0):
    return (track, tick, kind_of(status), channel_of(status), status, d1, d2, -1, b"")


def meta_row(track, tick, kind, payload):
    return (track, tick, midifolio.EVT_META, 255, 0xFF, 0, 0, kind, bytes(payload))


def sysex_row(track, tick, payload):
    return (track, tick, midifolio.EVT_SYSEX, 255, 0xF0, 0, 0, -1, sysex_data(payload))


# ------------------------------------------------------------------ three readings


def exact_events(song):
    """The exact reader's events, in track order, then file order."""
    ev = song.events(payload=True)
    names = ("track", "tick", "kind", "status", "data1", "data2", "meta", "payload")
    out = []
    for track, tick, kind, status, d1, d2, kind_meta, payload in zip(*(ev[n].tolist() for n in names)):
        if kind in SYSEX_KINDS:
            out.append(sysex_row(track, tick, payload))
        elif kind == midifolio.EVT_META:
            out.append(meta_row(track, tick, kind_meta, payload))
        else:
            out.append(channel_row(track, tick, status, d1, d2))
    return out


def exact_kinds_fit_statuses(song):
    """Every event's kind and channel are those its status byte says."""
    ev = song.events()
    for kind, status, channel in zip(ev["kind"].tolist(), ev["status"].tolist(), ev["channel"].tolist()):
        if kind in SYSEX_KINDS:
            assert status == (0xF0 if kind == midifolio.EVT_SYSEX else 0xF7)
        else:
            assert (kind, channel) == (kind_of(status), channel_of(status)), (kind, status, channel)


def mido_events(mid):
    out = []
    for t, track in enumerate(mid.tracks):
        tick = 0
        for msg in track:
            tick += msg.time
            if msg.is_meta:
                raw = msg.bytes()  # FF, type, length, payload: mido's encoding of what it read
                at = 2
                while raw[at] & 0x80:
                    at += 1
                out.append(meta_row(t, tick, raw[1], raw[at + 1:]))
            elif msg.type == "sysex":
                out.append(sysex_row(t, tick, msg.data))
            else:
                raw = msg.bytes() + [0, 0]
                out.append(channel_row(t, tick, raw[0], raw[1], raw[2]))
    return out


# Data bytes of the system-common messages the classes keep in dwLength, lowest byte first.
COMMON_DATA = {0xF1: 1, 0xF2: 2, 0xF3: 1}


def core_row(track, e):
    if e.dwType == midifolio.EVT_META:
        return meta_row(track, e.lTime, e.dwSubType, e.data)
    if e.dwType in SYSEX_KINDS:
        return sysex_row(track, e.lTime, e.data)
    if e.dwType in (midifolio.EVT_SYSCOMMON, midifolio.EVT_REALTIME):
        count = COMMON_DATA.get(e.dwSubType, 0)
        data = [(e.dwLength >> 8 * k) & 0xFF if k < count else 0 for k in range(2)]
        return channel_row(track, e.lTime, e.dwSubType, *data)
    high = {v: k for k, v in KIND_OF_STATUS.items()}.get(e.dwType)
    if high is None:  # a record of type code 0: a data byte where no running status is in force
        return channel_row(track, e.lTime, 0)
    if e.dwType == midifolio.EVT_PITCHBEND:
        return channel_row(track, e.lTime, high | e.byChannel, e.wBend & 0x7F, e.wBend >> 7)
    if e.dwType in (midifolio.EVT_PROGRAM, midifolio.EVT_CHANPRESSURE):
        return channel_row(track, e.lTime, high | e.byChannel, e.byData1)
    return channel_row(track, e.lTime, high | e.byChannel, e.byData1, e.byData2)


def core_read(data, path):
    """The classes' events, or None where the load refused the bytes or said anything about
    them."""
    path.write_bytes(data)
    song, said = core.CMidiFolio(), []
    song.SetMessageSink(said.append)
    if song.LoadMidiFile(str(path)) != 1 or said:
        return None
    rows = []
    for t in range(song.GetTrackNum()):
        track = song.GetTrack(t)
        # The loader's tempo event is left out. (RemoveLoaderTempo cannot take it out of a track
        # it is the only event of: the last event of a track is never deleted.)
        skip = t == 0 and song.IsLoaderTempo(track, track.GetEventHeadPosition())
        rows += [core_row(t, e) for e in track][1 if skip else 0:]
    return rows


def mido_read(data):
    try:
        return mido.MidiFile(file=io.BytesIO(bytes(data)), clip=False)
    except Exception:  # mido refuses the bytes (IOError, EOFError, ValueError, KeyError, ...)
        return None


# ------------------------------------------------------------------ notes


def paired_notes(events):
    """Note rows (track, channel, program, pitch, velocity, start_tick, end_tick) of event rows,
    by the rules of tests/tools/mido_notes.py: first in first out per track, channel and
    pitch; a note no end ends lasts to its track's last event; the program in force on the
    channel in any track at the start; ordered by start, track, channel, pitch, file order."""
    programs, notes, sounding, last = [], [], defaultdict(deque), {}
    for order, (track, tick, _, channel, status, d1, d2, _, _) in enumerate(events):
        last[track] = tick
        high = status & 0xF0 if status < 0xF0 else None
        if high == 0xC0:
            programs.append((tick, track, order, channel, d1))
        elif high == 0x90 and d2 > 0:
            note = [track, channel, 0, d1, d2, tick, None, order]
            sounding[track, channel, d1].append(note)
            notes.append(note)
        elif high in (0x80, 0x90) and sounding[track, channel, d1]:
            sounding[track, channel, d1].popleft()[6] = tick
    for note in notes:
        if note[6] is None:
            note[6] = last[note[0]]
    mido_notes.programs_and_order(notes, programs)
    return [n[:7] for n in notes]


@pytest.fixture(scope="module")
def reference(mido_notes):
    """tests/tools/mido_notes.py: the notes and tempo map of a file mido has read."""
    return mido_notes


def smpte_ticks_per_second(mid):
    """Ticks per second of an SMPTE division (mido gives the header's word as a negative
    ticks_per_beat): frames per second, 29 counting as 29.97, times ticks per frame."""
    fps = -(mid.ticks_per_beat >> 8)
    return (30000 / 1001 if fps == 29 else fps) * (mid.ticks_per_beat & 0xFF)


def expected_seconds(mid, reference):
    """The notes' seconds as the MIDI standard times them: mido_notes.py's tempo map for
    formats 0 and 1 in ticks per quarter note. Two cases differ from mido_notes.py by design
    (docs/api.md, "Two readers"): in SMPTE time a tick is a fixed fraction of a second (29
    frames counting as 29.97) and tempo events change nothing; in format 2 every track is a
    sequence with its own tempo map (mido_notes.py lays every track's tempos over all)."""
    rows = reference.notes_of_midi(mid)
    if mid.ticks_per_beat < 0:
        per_second = smpte_ticks_per_second(mid)
        return [r[:7] + [r[5] / per_second, r[6] / per_second] for r in rows]
    if mid.type == 2:
        rows = []
        for t, track in enumerate(mid.tracks):
            alone = mido.MidiFile(type=1, ticks_per_beat=mid.ticks_per_beat, tracks=[track])
            rows += [[t] + r[1:] for r in reference.notes_of_midi(alone)]
        rows.sort(key=lambda r: (r[5], r[0], r[1], r[3]))
    return rows


def expected_event_seconds(mid, events, reference):
    """The seconds of event rows (track, tick, ...), timed as expected_seconds times notes."""
    if mid.ticks_per_beat < 0:
        return [r[1] / smpte_ticks_per_second(mid) for r in events]
    tpq = mid.ticks_per_beat
    if mid.type == 2:
        maps = [reference.tempo_segments(reference.tempos_of([track]), tpq) for track in mid.tracks]
        return [reference.seconds_at(maps[r[0]], tpq, r[1]) for r in events]
    segments = reference.tempo_segments(reference.tempos_of(mid.tracks), tpq)
    return [reference.seconds_at(segments, tpq, r[1]) for r in events]


def assert_rows_equal(got, want):
    assert len(got) == len(want)
    assert [r[:7] for r in got] == [r[:7] for r in want]
    if want:
        np.testing.assert_allclose(np.array([r[7:] for r in got]), np.array([r[7:] for r in want]),
                                   rtol=1e-12, atol=1e-6)


# ------------------------------------------------------------------ generated files


@lru_cache(maxsize=None)
def stress_file(name):
    return stress_midi.FILES[name]()


# What the exact reader says of the generated files: only the tracks made of no bytes at all
# lack an end-of-track event (mido reads them as empty tracks, as the exact reader does).
WARNINGS = {"many_tracks": ["track 101 has no end-of-track event", "track 251 has no end-of-track event"]}


@pytest.mark.parametrize("name", list(stress_midi.FILES))
def test_a_demanding_file_reads_as_mido_reads_it(name, reference):
    data = stress_file(name)
    song = midifolio.loads(data)
    assert song.messages == WARNINGS.get(name, [])
    mid = mido.MidiFile(file=io.BytesIO(data), clip=False)
    assert (song.format, song.track_count) == (mid.type, len(mid.tracks))
    events = mido_events(mid)
    assert exact_events(song) == events
    exact_kinds_fit_statuses(song)
    np.testing.assert_allclose(song.events()["seconds"], expected_event_seconds(mid, events, reference),
                               rtol=1e-12, atol=1e-6)
    want = expected_seconds(mid, reference)
    assert paired_notes(events) == [r[:7] for r in reference.notes_of_midi(mid)]  # (the pairing of the fuzz tests)
    assert_rows_equal(rows_of(song.notes()), want)
    # Saved, it reads back with the same events (the two tracks of no bytes gain an end of
    # track; running status after a meta event is written out in full) and notes.
    again = midifolio.loads(song.dumps())
    assert without_ends(exact_events(again)) == without_ends(events)
    assert rows_of(again.notes()) == rows_of(song.notes())


def without_ends(events):
    return [r for r in events if r[7] != 0x2F]


def test_the_demanding_files_hold_what_they_are_made_for():
    """The generator keeps its promises (so that the comparisons above test something)."""
    many = mido.MidiFile(file=io.BytesIO(stress_file("many_tracks")))
    assert len(many.tracks) == 300 and sum(len(t) == 0 for t in many.tracks) == 2
    far = midifolio.loads(stress_file("long_deltas"))
    assert far.end_tick > 2**32
    assert len(midifolio.loads(stress_file("dense_tempo")).tempos()) > 4000
    assert len(stress_file("huge")) > 3 * 2**20
    raw = stress_file("running_status")  # running status across meta events: written out anew
    assert len(midifolio.loads(raw).dumps()) > len(raw)
    kinds = set(midifolio.loads(raw).events()["kind"].tolist())
    others = {midifolio.EVT_META, midifolio.EVT_SYSCOMMON, midifolio.EVT_REALTIME}
    assert kinds == set(KIND_OF_STATUS.values()) | others
    texts = midifolio.loads(stress_file("meta_events")).events(payload=True)
    assert any(p is not None and any(b >= 0x80 for b in p) for p in texts["payload"].tolist())
    sysex = midifolio.loads(stress_file("sysex")).events(payload=True)
    assert (sysex["kind"] == midifolio.EVT_SYSEXESC).sum() > 100 and sysex["length"].max() > 200000
    pairs = midifolio.loads(stress_file("same_pitch")).notes()
    assert (pairs["start_tick"] == pairs["end_tick"]).any() and len(pairs) > 4000


# ------------------------------------------------------------------ fuzz inputs, three ways


def fuzz_inputs():
    """Every saved whole-file input of the fuzz targets."""
    out = []
    for group in ("corpus", "regressions"):
        for kind in ("file", "song", "edits"):
            out += sorted(p for p in (SOURCE / "fuzz" / group / kind).glob("*") if p.is_file())
    return out


def input_bytes(path):
    """The file an input holds: an input of the edits target begins with 16 bytes of
    parameters, left out here, unless it is a whole file itself (fuzz/fuzz_edits.cpp)."""
    data = path.read_bytes()
    whole = data[:4] in (b"MThd", b"RIFF")
    return data if whole or path.parent.name != "edits" else data[16:]


def exact_read(data):
    try:
        return midifolio.loads(data)
    except midifolio.MidiError as e:
        return e


def has_tempo_zero(events):
    return any(r[7] == 0x51 and r[8] == b"\0\0\0" for r in events)


# Meta types of a fixed size. mido keeps only the values it decodes from them, so where the
# length written is another, its encoding of the event is not the payload it read (a port of
# five bytes comes back as one): such payloads are compared by type alone.
FIXED_META = {0x00: 2, 0x20: 1, 0x21: 1, 0x51: 3, 0x54: 5, 0x58: 4, 0x59: 2}


def assert_events_as_mido_keeps(exact, ours):
    assert len(exact) == len(ours)
    odd = [r[7] in FIXED_META and len(r[8]) != FIXED_META[r[7]] for r in exact]
    assert [r[:8] if o else r for r, o in zip(exact, odd)] == [r[:8] if o else r for r, o in zip(ours, odd)]


def mido_notes_or_none(mid, reference):
    try:
        return expected_seconds(mid, reference)
    except ZeroDivisionError:  # a division of 0 ticks per quarter note: no seconds
        return None


def assert_exact_notes(exact, want, events):
    got = rows_of(exact.notes())
    if has_tempo_zero(events):
        # A tempo of 0 would stop time: the exact reader passes such events over (score.h);
        # mido_notes.py follows them. The ticks must still agree.
        assert [r[:7] for r in got] == [r[:7] for r in want]
    else:
        assert_rows_equal(got, want)


def assert_event_seconds(exact, mid, events, reference):
    if not has_tempo_zero(events):  # (see assert_exact_notes)
        np.testing.assert_allclose(exact.events()["seconds"], expected_event_seconds(mid, events, reference),
                                   rtol=1e-12, atol=1e-6)


FUZZ_INPUTS = fuzz_inputs()
COMPARED = {"three ways, events": 0, "three ways, notes": 0, "with mido": 0}


@pytest.mark.parametrize("index", range(len(FUZZ_INPUTS)),
                         ids=[str(p.relative_to(SOURCE / "fuzz")) for p in FUZZ_INPUTS])
def test_where_mido_and_the_classes_read_a_fuzz_input_alike_the_exact_reader_reads_it_so(
        index, tmp_path, reference):
    data = input_bytes(FUZZ_INPUTS[index])
    mid, theirs = mido_read(data), core_read(data, tmp_path / "core.mid")
    if mid is None or theirs is None:
        return  # one of the two refuses the bytes (or the classes warn): no common reading
    ours, exact = mido_events(mid), exact_read(data)
    if isinstance(exact, midifolio.MidiError) and data[:4] == b"MThd" and data[12:14] == b"\0\0":
        # By design (docs/api.md, "Two readers"): a division of 0 gives no tick a length, and
        # the exact reader refuses the file, which mido and the classes read.
        assert (exact.message, exact.cause) == ("unsupported", "the division is 0: no tick has a length")
        return
    if ours == theirs:
        COMPARED["three ways, events"] += 1
        assert not isinstance(exact, Exception), "mido and the classes read the bytes alike: %s" % exact
        assert exact_events(exact) == ours
        assert_event_seconds(exact, mid, ours, reference)
    want = mido_notes_or_none(mid, reference)
    if want is not None and [r[:7] for r in want] == paired_notes(theirs):
        COMPARED["three ways, notes"] += 1
        assert not isinstance(exact, Exception), "mido and the classes pair the same notes: %s" % exact
        assert_exact_notes(exact, want, ours)


@pytest.mark.parametrize("index", range(len(FUZZ_INPUTS)),
                         ids=[str(p.relative_to(SOURCE / "fuzz")) for p in FUZZ_INPUTS])
def test_a_fuzz_input_the_exact_reader_reads_without_a_word_reads_as_mido_reads_it(index, reference):
    """Where the exact reader has nothing to say of the bytes (no warning) and mido reads them
    too, the two read the same events and notes."""
    data = input_bytes(FUZZ_INPUTS[index])
    mid, exact = mido_read(data), exact_read(data)
    if mid is None or isinstance(exact, Exception) or exact.messages:
        return
    COMPARED["with mido"] += 1
    ours = mido_events(mid)
    assert_events_as_mido_keeps(exact_events(exact), ours)
    assert_event_seconds(exact, mid, ours, reference)
    want = mido_notes_or_none(mid, reference)
    if want is not None:
        assert_exact_notes(exact, want, ours)


def test_the_fuzz_inputs_gave_the_readers_something_to_agree_on():
    """Runs after the two tests above (pytest keeps a file's order): most fuzz inputs are
    refused by mido or make the classes warn, but dozens are read alike."""
    assert len(FUZZ_INPUTS) > 400
    if COMPARED["with mido"] == 0:
        pytest.skip("the comparisons above did not run (a selection of tests)")
    assert COMPARED["three ways, events"] >= 40 and COMPARED["three ways, notes"] >= 40
    assert COMPARED["with mido"] >= 50, COMPARED
