"""Shared helpers of the Python tests: where the test files are, small MIDI files built
byte by byte, and readings of bytes by python3-mido to compare with."""
import io
import os
import sys
from pathlib import Path

import numpy as np
import pytest

SOURCE = Path(os.environ.get("MIDIFOLIO_SOURCE_DIR", Path(__file__).resolve().parents[2]))
DATA = SOURCE / "tests" / "data"
TOOLS = SOURCE / "tests" / "tools"
SANITIZED = os.environ.get("MIDIFOLIO_SANITIZED") == "1"

sys.path.insert(0, str(TOOLS))
from midi_bytes import chunk, meta, smf, vlq  # noqa: E402  (re-exported to the tests)

sys.path.remove(str(TOOLS))

# The library reads the fixed-size metas with their fixed payload whatever their length byte
# says; mido follows the length byte. These two malformed files say a wrong length, so the two
# readers read different events after it.
READ_DIFFERENTLY = {"port_meta_length_five.mid", "tempo_length_seven.mid"}


def all_midi_files():
    """Every .mid file under tests/data, sorted."""
    return sorted(p for p in DATA.rglob("*.mid"))


def loadable_files():
    """Every .mid file under tests/data that the package reads (malformed ones included)."""
    import midifolio

    out = []
    for p in all_midi_files():
        try:
            midifolio.load(p)
        except (midifolio.MidiError, OSError):
            continue
        out.append(p)
    return out


def real_files():
    """The real songs: tests/data/corpus and the files of tests/data/cli that the package reads."""
    return [p for p in loadable_files() if p.parent.name in ("corpus", "cli")]


def same_events(a, b):
    """Two event tables hold the same events, field by field."""
    assert a.dtype == b.dtype and len(a) == len(b), (len(a), len(b))
    for name in a.dtype.names:
        if name == "payload":
            assert a[name].tolist() == b[name].tolist()
        else:
            np.testing.assert_array_equal(a[name], b[name], err_msg=name)


def as_written(events):
    """Events as the writer writes them (score::Encode): meta events of a type the standard
    gives a size at that size (a longer one cut; a time signature of 2 or 3 bytes completed with
    24, 8; one too short left out), key signatures within -7..7 and of mode 0 or 1; and no
    end-of-track events (the writer puts one at the end of every track)."""
    sizes = {0x00: 2, 0x20: 1, 0x21: 1, 0x51: 3, 0x54: 5, 0x58: 4, 0x59: 2}
    keep = []
    for row in events:
        meta = int(row["meta"])
        payload = row["payload"]
        if meta == 0x2F:
            continue
        if meta in sizes and not (meta == 0x00 and len(payload) == 0):
            size = sizes[meta]
            if meta == 0x58 and 2 <= len(payload) < 4:
                payload = payload + bytes([4, 2, 24, 8])[len(payload):]
            if len(payload) < size:
                continue
            payload = payload[:size]
            if meta == 0x59:
                sharps = max(-7, min(7, int.from_bytes(payload[:1], "big", signed=True)))
                payload = bytes([sharps & 0xFF, 1 if payload[1] else 0])
            row = row.copy()
            row["payload"] = payload
            row["length"] = len(payload)
        keep.append(row)
    return np.array(keep, dtype=events.dtype) if keep else events[:0]


NOTE_COLUMNS = ["track", "channel", "program", "pitch", "velocity", "start_tick", "end_tick"]


def assert_notes_equal(got, want, atol=1e-6):
    """A notes table equals rows of (track, channel, program, pitch, velocity, start_tick,
    end_tick, start, end), every field in order, seconds within atol."""
    assert len(got) == len(want)
    if not len(want):
        return
    ints = np.array([row[:7] for row in want], dtype=np.int64)
    for k, name in enumerate(NOTE_COLUMNS):
        np.testing.assert_array_equal(got[name], ints[:, k], err_msg=name)
    seconds = np.array([row[7:] for row in want], dtype=np.float64)
    np.testing.assert_allclose(got["start"], seconds[:, 0], rtol=0, atol=atol, err_msg="start")
    np.testing.assert_allclose(got["end"], seconds[:, 1], rtol=0, atol=atol, err_msg="end")


def rows_of(notes):
    """A notes table as rows, as the mido reference gives them."""
    return [[int(n[c]) for c in NOTE_COLUMNS] + [float(n["start"]), float(n["end"])] for n in notes]


# ------------------------------------------------------------------ bytes of a MIDI file


def tempo(us: int) -> bytes:
    return meta(0x51, us.to_bytes(3, "big"))


def time_signature(num: int, power: int) -> bytes:
    return meta(0x58, bytes([num, power, 24, 8]))


def key_signature(sharps: int, minor: bool) -> bytes:
    return meta(0x59, bytes([sharps & 0xFF, 1 if minor else 0]))


END = meta(0x2F, b"")


def track(*events) -> bytes:
    """Track data from (delta, event bytes) pairs; an end-of-track event is added."""
    data = b"".join(vlq(delta) + ev for delta, ev in events)
    return data + b"\x00" + END


@pytest.fixture
def write(tmp_path):
    """write(name, bytes) -> the path of a new file holding the bytes."""

    def _write(name, data):
        path = tmp_path / name
        path.write_bytes(data)
        return path

    return _write


@pytest.fixture(scope="session")
def mido_notes():
    """The independent notes reference of tests/tools (python3-mido), as a module."""
    pytest.importorskip("mido")
    sys.path.insert(0, str(TOOLS))
    try:
        import mido_notes as module
    finally:
        sys.path.remove(str(TOOLS))
    return module


@pytest.fixture(scope="session")
def mido():
    """python3-mido (the tests that compare with it are skipped without it)."""
    return pytest.importorskip("mido")


@pytest.fixture
def mido_read(mido, mido_notes, tmp_path):
    """mido_read(bytes) -> (mido.MidiFile, the mido reference's note rows) of a file's bytes."""
    counter = iter(range(10**9))

    def read(data):
        path = tmp_path / ("mido-%d.mid" % next(counter))
        path.write_bytes(bytes(data))
        return mido.MidiFile(file=io.BytesIO(bytes(data))), mido_notes.notes_of(str(path))

    return read
