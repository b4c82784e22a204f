"""Bytes of Standard MIDI Files, built by hand: shared by the Python tests and benchmark."""
import struct


def vlq(n: int) -> bytes:
    """A variable-length quantity."""
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def meta(kind: int, payload: bytes) -> bytes:
    return bytes([0xFF, kind]) + vlq(len(payload)) + payload


def chunk(kind: bytes, data: bytes) -> bytes:
    return kind + struct.pack(">I", len(data)) + data


def smf(*tracks: bytes, fmt: int = 1, division: int = 96) -> bytes:
    """A whole file: the header chunk, then one track chunk per track."""
    head = chunk(b"MThd", struct.pack(">HHH", fmt, len(tracks), division))
    return head + b"".join(chunk(b"MTrk", t) for t in tracks)
