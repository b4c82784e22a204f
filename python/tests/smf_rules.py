"""The rules of a valid Standard MIDI File, checked byte by byte, independently of the library:
what every file the package writes must satisfy.

- a header chunk of 6 bytes: format 0, 1 or 2, a track count, a division that is not 0;
- exactly as many track chunks as the header declares, and nothing else; one in format 0;
- in each track: delta times of at most 4 bytes (0x0FFFFFFF at most); status bytes as the
  standard defines them, running status only after a channel message; data bytes below 128;
  meta, sysex and escape events whose lengths stay inside the chunk; the meta events of a fixed
  size with that size, a key signature of -7..7 sharps in major (0) or minor (1); one
  end-of-track event, the last event of the chunk.
"""
import struct

# Data bytes after each status of a channel message (by its high nibble) and each system
# message; None: no such message.
CHANNEL_DATA = {0x8: 2, 0x9: 2, 0xA: 2, 0xB: 2, 0xC: 1, 0xD: 1, 0xE: 2}
SYSTEM_DATA = {0xF1: 1, 0xF2: 2, 0xF3: 1, 0xF4: None, 0xF5: None, 0xF6: 0, 0xF8: 0, 0xF9: None,
               0xFA: 0, 0xFB: 0, 0xFC: 0, 0xFD: None, 0xFE: 0}
# The sizes the standard gives meta events: sequence number (0 or 2), channel prefix, port,
# end of track, tempo, SMPTE offset, time signature, key signature.
META_SIZES = {0x00: (0, 2), 0x20: (1,), 0x21: (1,), 0x2F: (0,), 0x51: (3,), 0x54: (5,), 0x58: (4,),
              0x59: (2,)}


def _vlq(data, at, end):
    """(value, next position) of a variable-length quantity of at most 4 bytes, or None."""
    value = 0
    for k in range(4):
        if at + k >= end:
            return None
        byte = data[at + k]
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return value, at + k + 1
    return None


def track_problems(data, start, end, number):
    """What breaks the rules in the track data data[start:end] (number counts from 1)."""
    problems = []
    at, running, ended = start, 0, False
    where = lambda p: "track %d at byte %d" % (number, p)  # noqa: E731
    while at < end:
        if ended:
            return problems + ["%s: bytes after the end-of-track event" % where(at)]
        delta = _vlq(data, at, end)
        if delta is None:
            return problems + ["%s: a delta time longer than 4 bytes or cut" % where(at)]
        at = delta[1]
        if at >= end:
            return problems + ["%s: a delta time without an event" % where(at)]
        status = data[at]
        if status < 0x80:
            if not running:
                return problems + ["%s: running status after an event that is no channel message" % where(at)]
            status = running
        else:
            at += 1
        if status < 0xF0:
            n = CHANNEL_DATA[status >> 4]
            if at + n > end or any(b >= 0x80 for b in data[at:at + n]):
                return problems + ["%s: a channel message with a bad data byte or cut" % where(at)]
            at += n
            running = status
            continue
        running = 0
        if status in (0xF0, 0xF7, 0xFF):
            kind = None
            if status == 0xFF:
                if at >= end or data[at] >= 0x80:
                    return problems + ["%s: a meta event without a type" % where(at)]
                kind = data[at]
                at += 1
            length = _vlq(data, at, end)
            if length is None or length[1] + length[0] > end:
                return problems + ["%s: a length longer than 4 bytes or past the chunk" % where(at)]
            payload = data[length[1]:length[1] + length[0]]
            if kind in META_SIZES and len(payload) not in META_SIZES[kind]:
                problems.append("%s: a meta event 0x%02X of %d bytes" % (where(at), kind, len(payload)))
            elif kind == 0x59 and (not -7 <= (payload[0] ^ 0x80) - 0x80 <= 7 or payload[1] > 1):
                problems.append("%s: a key signature of %d sharps, mode %d" % (
                    where(at), (payload[0] ^ 0x80) - 0x80, payload[1]))
            at = length[1] + length[0]
            ended = kind == 0x2F
            continue
        n = SYSTEM_DATA.get(status)
        if n is None or at + n > end or any(b >= 0x80 for b in data[at:at + n]):
            return problems + ["%s: status 0x%02X is no message of a file, or is cut" % (where(at), status)]
        at += n
    if not ended:
        problems.append("track %d has no end-of-track event" % number)
    return problems


def problems(data):
    """Every way in which data breaks the rules of a valid Standard MIDI File ([] for none)."""
    data = bytes(data)
    if len(data) < 14 or data[:4] != b"MThd" or struct.unpack(">I", data[4:8])[0] != 6:
        return ["no header chunk of 6 bytes"]
    fmt, declared, division = struct.unpack(">HHH", data[8:14])
    found = []
    if fmt > 2:
        found.append("format %d" % fmt)
    if division == 0 or (division & 0x8000 and division & 0xFF == 0):
        found.append("a division of no ticks")
    if division & 0x8000 and 256 - (division >> 8) not in (24, 25, 29, 30):
        found.append("SMPTE time of %d frames per second" % (256 - (division >> 8)))
    if fmt == 0 and declared != 1:
        found.append("format 0 with %d tracks" % declared)
    at, tracks = 14, 0
    while at < len(data):
        if at + 8 > len(data) or data[at:at + 4] != b"MTrk":
            return found + ["byte %d: %r where a track chunk belongs" % (at, data[at:at + 4])]
        length = struct.unpack(">I", data[at + 4:at + 8])[0]
        if at + 8 + length > len(data):
            return found + ["track %d: the chunk runs past the file" % (tracks + 1)]
        tracks += 1
        found += track_problems(data, at + 8, at + 8 + length, tracks)
        at += 8 + length
    if tracks != declared:
        found.append("the header declares %d tracks, the file holds %d" % (declared, tracks))
    return found
