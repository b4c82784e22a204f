"""Shared helpers of the Python tests: where the test files are, and small MIDI files built
byte by byte."""
import os
import sys
from pathlib import Path

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
    import midifolio

    out = []
    for p in all_midi_files():
        try:
            midifolio.load(p)
        except (midifolio.MidiError, OSError):
            continue
        out.append(p)
    return out


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
