"""Plain-English causes for the files the library refuses.

The library says why it refused a file in one short message ("Error read data!!", ...). This
module looks at the file the way the library's loader reads it -- the 14 header bytes, then
one track chunk after another from byte 14 on, each decoded by the library's own track
decoder -- and names the first thing that stops the load. It reports only what it finds in
the bytes; when it finds nothing it gives no cause.
"""
from __future__ import annotations

import os
import struct
from typing import BinaryIO, Optional

NOT_MIDI = "Not Midi file!!"
READ_ERROR = "Error read data!!"
TIME_UNSUPPORTED = "Error time unsupport!!"
FORMAT_UNSUPPORTED = "Error format unsupport!!"
TRACK_ERROR = "Error Track!!"
MESSAGES = (NOT_MIDI, READ_ERROR, TIME_UNSUPPORTED, FORMAT_UNSUPPORTED, TRACK_ERROR)

_HEADER = 14  # "MThd", the length word and the three 16-bit fields
_INT32_MAX = 2**31 - 1
_TEMPO_PREFIX = 7  # bytes the loader puts in front of the first track's data


def _shown(data: bytes) -> str:
    """Bytes as a reader would like to see them: text when printable, else hex."""
    if data and all(32 <= b < 127 for b in data):
        return "'%s'" % data.decode("ascii")
    return "bytes %s" % (data.hex(" ") if data else "(none)")


def _plural(n: int, word: str) -> str:
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def explain(path: bytes, message: str) -> Optional[str]:
    """The cause of a refusal, or None when the file shows none (or cannot be read)."""
    try:
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            return _explain(f, size, message)
    except OSError:
        return None


def _explain(f: BinaryIO, size: int, message: str) -> Optional[str]:
    head = f.read(_HEADER)
    if message == NOT_MIDI:
        return "the file starts with %s, not the header chunk 'MThd' of a MIDI file" % _shown(
            head[:4]
        )
    if len(head) < _HEADER:
        if not head:
            return "the file is empty"
        return "the file ends inside the header chunk (%s of the %d it needs)" % (
            _plural(len(head), "byte"),
            _HEADER,
        )
    header_length, fmt, ntracks, division = struct.unpack(">IHHH", head[4:14])
    if message == FORMAT_UNSUPPORTED:
        if fmt == 2:
            return "the file is format 2 (independent sequences); formats 0 and 1 are read"
        return "format %d is not a MIDI file format (0, 1 or 2)" % fmt
    if message == TIME_UNSUPPORTED:
        fps = 256 - (division >> 8)
        return (
            "the division 0x%04X counts SMPTE time (%d frames per second, %d ticks per "
            "frame); only ticks per quarter note are read" % (division, fps, division & 0xFF)
        )
    if message == READ_ERROR and fmt == 0 and ntracks > 1:
        return "the header declares format 0 with %d tracks; format 0 holds one track" % ntracks
    return _walk_tracks(f, size, ntracks, header_length, message)


def _walk_tracks(
    f: BinaryIO, size: int, ntracks: int, header_length: int, message: str
) -> Optional[str]:
    from ._midifolio import core  # the library's decoder judges each track's events

    offset = _HEADER
    for i in range(ntracks):
        number = i + 1
        left = size - offset
        if left <= 0:
            return "the header declares %s but the file ends after %s" % (
                _plural(ntracks, "track"),
                _plural(i, "track chunk"),
            )
        f.seek(offset)
        chunk_id = f.read(4)
        if len(chunk_id) < 4:
            return "the file ends inside the header of track chunk %d (at byte %d)" % (
                number,
                offset,
            )
        if chunk_id != b"MTrk":
            cause = "expected track chunk %d ('MTrk') at byte %d, found %s" % (
                number,
                offset,
                _shown(chunk_id),
            )
            if i == 0 and header_length != 6:
                cause += (
                    " (the header chunk declares %s; the track chunks are read right after "
                    "its 6 bytes of fields)" % _plural(header_length, "byte")
                )
            return cause
        if left < 8:
            return "the file ends inside the header of track chunk %d (at byte %d)" % (
                number,
                offset,
            )
        (length,) = struct.unpack(">I", f.read(4))
        prefix = _TEMPO_PREFIX if i == 0 else 0
        if length + prefix > _INT32_MAX:
            extra = " with the loader's 7-byte tempo event" if length <= _INT32_MAX else ""
            return "track chunk %d declares %d bytes, more%s than a track can hold (2 GiB)" % (
                number,
                length,
                extra,
            )
        if length > left - 8:
            return "track chunk %d (at byte %d) declares %s but only %s follow" % (
                number,
                offset,
                _plural(length, "byte"),
                _plural(left - 8, "byte"),
            )
        if length + prefix == 0:
            return "track chunk %d (at byte %d) is empty: its length is 0" % (number, offset)
        if length > 0:
            track = core.CMidiTrack()
            if track.SetMidiTrackRawData(f.read(length)) != 1:
                decoded = track.GetCount()
                where = "its first event"
                if decoded > 0:
                    last = track.GetAt(track.GetTailPosition())
                    where = "event %d (after tick %d)" % (decoded + 1, last.lTime)
                return (
                    "in track chunk %d (at byte %d) %s is cut off by the end of the chunk or "
                    "malformed" % (number, offset, where)
                )
        offset += 8 + length
    return None
