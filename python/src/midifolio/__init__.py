"""midifolio: read, make, edit, analyse and write Standard MIDI Files.

    >>> import midifolio
    >>> song = midifolio.load("examples/sample.mid")
    >>> song.notes()[:3]["pitch"]
    array([60, 36, 48], dtype=uint8)

`load` and `loads` read a file as the MIDI standard defines it into a `Song`, whose views
answer in numpy arrays (notes, events, controls, piano roll) and small records (tempos,
signatures, instruments). Every edit (`transpose`, `crop`, ...) gives a new Song; `save` and
`dumps` always write a valid Standard MIDI File; `from_notes` makes a song from a notes array.
`Song.core` is the library's own song object (`midifolio.core.CMidiFolio`). The library works
with the GIL released, so songs load in parallel on a thread pool (`scan`).
"""
from __future__ import annotations

import collections.abc as _abc
import concurrent.futures as _futures
import importlib as _importlib
import math as _math
import operator as _operator
import os as _os
import re as _re
import typing as _typing

import numpy as _np

from . import _midifolio, core
from ._types import (
    BarBeat,
    Drum,
    Instrument,
    KeySignature,
    Pitch,
    TempoChange,
    TimeSignature,
    Track,
    VoiceConflict,
)
from .core import (
    EVT_CHANPRESSURE,
    EVT_CONTROL,
    EVT_KEYPRESSURE,
    EVT_META,
    EVT_NOTEOFF,
    EVT_NOTEON,
    EVT_PITCHBEND,
    EVT_PROGRAM,
    EVT_REALTIME,
    EVT_SYSCOMMON,
    EVT_SYSEX,
    EVT_SYSEXESC,
)

if _typing.TYPE_CHECKING:
    from typing import IO, Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

    import numpy.typing as _npt

    from .core import CMidiFolio as _CMidiFolio

    PathLike = Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]
    """A path as the os module takes it."""
    _Table = _npt.NDArray[_np.void]
    """A structured array (one record per row)."""

__all__ = [
    "load",
    "loads",
    "from_notes",
    "merge",
    "Song",
    "MidiError",
    "scan",
    "summary_row",
    "program_name",
    "drum_name",
    "controller_name",
    "pitch",
    "NOTE_DTYPE",
    "EVENT_DTYPE",
    "EVENT_PAYLOAD_DTYPE",
    "CONTROL_DTYPE",
    "PITCH_BEND_DTYPE",
    "TEXT_DTYPE",
    "TempoChange",
    "TimeSignature",
    "KeySignature",
    "BarBeat",
    "Instrument",
    "Track",
    "Drum",
    "VoiceConflict",
    "Pitch",
    "core",
    # The codes of the events' kind field (EVENT_DTYPE), as midifolio.core names them.
    "EVT_NOTEON",
    "EVT_NOTEOFF",
    "EVT_KEYPRESSURE",
    "EVT_CONTROL",
    "EVT_PROGRAM",
    "EVT_CHANPRESSURE",
    "EVT_PITCHBEND",
    "EVT_SYSEX",
    "EVT_META",
    "EVT_SYSCOMMON",
    "EVT_REALTIME",
    "EVT_SYSEXESC",
]

__version__: str = _midifolio.__version__

NOTE_DTYPE: _np.dtype[_np.void] = _midifolio.NOTE_DTYPE
"""The notes' structured dtype: track (u2), channel, program, pitch, velocity (u1),
start_tick, end_tick (i8), start, end (f8 seconds); 40 bytes with explicit offsets."""

EVENT_DTYPE: _np.dtype[_np.void] = _midifolio.EVENT_DTYPE
"""The events' structured dtype: tick (i8), seconds (f8), track, kind (u2, the EVT_ code),
channel, status, data1, data2 (u1), meta (i2, -1 for other kinds), port (u1), length (u4);
40 bytes with explicit offsets."""

EVENT_PAYLOAD_DTYPE: _np.dtype[_np.void] = _midifolio.EVENT_PAYLOAD_DTYPE
"""EVENT_DTYPE and a further object field, payload (bytes or None); 48 bytes."""

CONTROL_DTYPE: _np.dtype[_np.void] = _np.dtype(
    [("track", "u2"), ("channel", "u1"), ("controller", "u1"), ("value", "u1"), ("tick", "i8"), ("seconds", "f8")]
)
PITCH_BEND_DTYPE: _np.dtype[_np.void] = _np.dtype(
    [("track", "u2"), ("channel", "u1"), ("tick", "i8"), ("seconds", "f8"), ("value", "i2")]
)
TEXT_DTYPE: _np.dtype[_np.void] = _np.dtype(
    [("track", "u2"), ("tick", "i8"), ("seconds", "f8"), ("kind", "U16"), ("text", "O")]
)

_STATUS = {1: "cannot be opened", 2: "not a MIDI file", 3: "damaged", 4: "unsupported", 5: "too large", 6: "out of memory"}


class MidiError(ValueError):
    """A file that cannot be read as a Standard MIDI File.

    str(error) is the kind of refusal followed by the cause in plain words, e.g.
    "damaged: track 1 at byte 18: the chunk claims 256 bytes but 4 remain".
    """

    message: str
    """The kind of refusal: 'not a MIDI file', 'damaged', 'unsupported', 'too large'."""
    cause: Optional[str]
    """What in the file stopped the reading, with track and byte (None when there is none)."""
    filename: Optional[str]
    """The path that was read (None for bytes)."""

    def __init__(self, message: str, cause: Optional[str] = None, filename: Optional[str] = None) -> None:
        super().__init__(message if not cause else "%s: %s" % (message, cause))
        self.message = message
        self.cause = cause
        self.filename = filename


def _budget(max_memory: Optional[int]) -> int:
    if max_memory is None:
        try:
            return int(_os.sysconf("SC_PHYS_PAGES") * _os.sysconf("SC_PAGE_SIZE") // 2)
        except (ValueError, OSError, AttributeError):
            return 0
    if isinstance(max_memory, bool):
        raise TypeError("max_memory is a number of bytes, not a bool")
    value = _operator.index(max_memory)
    if value <= 0:
        raise ValueError("max_memory must be a positive number of bytes")
    return value


def _make_song(handle: _midifolio._SongHandle, given: object = None) -> Song:
    song: Song = object.__new__(Song)
    song._h = handle
    song._given = given
    return song


def _song(
    outcome: Union[_midifolio._SongHandle, Tuple[int, str, str, int]], filename: Optional[str], given: object
) -> Song:
    if isinstance(outcome, tuple):
        status, message, cause, code = outcome
        if code:
            raise OSError(code, _os.strerror(code), filename)
        raise MidiError(message or _STATUS.get(status, "cannot be read"), cause or None, filename)
    return _make_song(outcome, given)


def load(source: Union[PathLike, IO[bytes]], *, recover: bool = False, max_memory: Optional[int] = None) -> Song:
    """Read a Standard MIDI File (formats 0, 1 and 2; .rmi files too) from a path or a binary file object.

    recover=True reads what a damaged file holds before the damage in each track; what was
    left out is in Song.messages. Raises MidiError (a ValueError) for a file that cannot be
    read, with the cause in plain words, and FileNotFoundError, PermissionError or another
    OSError (errno and filename set) for a path that cannot be opened. max_memory (bytes,
    default half the machine's memory) refuses a song that would take more.
    """
    if isinstance(source, (str, bytes, _os.PathLike)):
        raw = _os.fsencode(source)
        if b"\0" in raw:
            raise ValueError("embedded null byte")
        return _song(_midifolio.read_path(raw, bool(recover), _budget(max_memory)), _os.fsdecode(raw), source)
    if hasattr(source, "read"):
        return loads(source.read(), recover=recover, max_memory=max_memory)
    raise TypeError("load takes a path or a binary file object, not %s" % type(source).__name__)


def loads(data: Union[bytes, bytearray, memoryview], *, recover: bool = False, max_memory: Optional[int] = None) -> Song:
    """Read a Standard MIDI File from bytes, a bytearray or a memoryview (as load does)."""
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError("loads takes bytes, a bytearray or a memoryview, not %s" % type(data).__name__)
    view = memoryview(data)
    if not view.c_contiguous or view.ndim != 1 or view.itemsize != 1:
        view = memoryview(view.tobytes())
    return _song(_midifolio.read_bytes(view, bool(recover), _budget(max_memory)), None, None)


def _finite(value: Any, what: str) -> float:
    number = float(value)
    if not _math.isfinite(number):
        raise ValueError("%s must be a finite number, not %r" % (what, value))
    return number


def _finite_array(values: Any, what: str) -> _npt.NDArray[Any]:
    """values as an array of numbers, integers kept; ValueError naming the first that is no finite number."""
    array = _np.asarray(values)
    if array.dtype.kind in "biu":
        return array
    array = array.astype(_np.float64)
    finite = _np.isfinite(array)
    if not finite.all():
        where = tuple(int(i) for i in _np.argwhere(~finite)[0])
        index = ", ".join(str(i) for i in where)
        raise ValueError("%s must be finite numbers: [%s] is %r" % (what, index, float(array[where])))
    return array


class Song:
    """A song read as the MIDI standard defines it, and its exact views.

    Seconds are exact through every tempo change, bars follow every time signature, ticks count
    in 64 bits. A Song does not change: every edit gives a new one. A Song may be used from
    several threads; the arrays it hands out own or pin what they view.
    """

    __slots__ = ("_h", "_given", "__weakref__")
    _h: _midifolio._SongHandle
    _given: object

    def __init__(self) -> None:
        raise TypeError("a Song comes from midifolio.load, loads, from_notes or an edit")

    def __repr__(self) -> str:
        fmt, tracks, _ = self._h.header()
        where = " %r" % self.path if self.path else ""
        return "<midifolio.Song%s: format %d, %d tracks, %.3f s>" % (where, fmt, tracks, self._h.duration())

    def _new(self, handle: _midifolio._SongHandle) -> Song:
        return _make_song(handle)

    # ------------------------------------------------------------------ the song itself
    @property
    def path(self) -> Optional[str]:
        """The path the song was read from (None for bytes and made songs)."""
        given = self._given
        if isinstance(given, (str, bytes, _os.PathLike)):
            return _os.fsdecode(given)
        return None

    @property
    def messages(self) -> List[str]:
        """What reading found worth telling: warnings, and with recover=True what was left out."""
        return list(self._h.messages)

    @property
    def core(self) -> _CMidiFolio:
        """The library's own song object over the same bytes, built on first use.

        Its rules are the library's (a 120 bpm tempo event in front of the first track, whole
        milliseconds, ticks in 32 bits); RuntimeError when it cannot hold the song (format 2,
        SMPTE time, ticks past 2**31 - 1). After a change through it, call refresh() for the
        views; save() and dumps() write it.
        """
        return self._h.core

    @property
    def format(self) -> int:
        """The file's format, 0, 1 or 2."""
        return int(self._h.header()[0])

    @property
    def track_count(self) -> int:
        """The number of tracks read."""
        return int(self._h.header()[1])

    @property
    def ticks_per_quarter(self) -> int:
        """Ticks per quarter note (the header's division; 0 for a song in SMPTE time)."""
        return int(self._h.ticks_per_quarter())

    @property
    def duration(self) -> float:
        """Seconds from the start to the song's last event."""
        return float(self._h.duration())

    @property
    def end_tick(self) -> int:
        """The tick of the song's last event (0 without events)."""
        return int(self._h.end_tick())

    @property
    def bars(self) -> int:
        """Bars that start before the last event, by every time signature of the file."""
        return int(self._h.bars())

    def refresh(self) -> None:
        """Make the views again from `core`, after a change through it."""
        self._h.refresh()

    def dumps(self) -> bytes:
        """The song as the bytes of a valid Standard MIDI File (a valid file read: its own bytes)."""
        return bytes(self._h.dumps())

    def save(self, path: PathLike) -> None:
        """Write the song as a valid Standard MIDI File, whole or not at all.

        Raises OSError(errno, strerror, filename) on failure, the target then as it was.
        """
        raw = _os.fsencode(path)
        if b"\0" in raw:
            raise ValueError("embedded null byte")
        code = self._h.save(raw)
        if code:
            raise OSError(code, _os.strerror(code), _os.fsdecode(raw))

    # ------------------------------------------------------------------ notes and events
    def notes(self, sustain: bool = False) -> _Table:
        """Every note as a read-only structured array (NOTE_DTYPE), without a copy.

        Fields: track, channel (both from 0), program, pitch, velocity, start_tick, end_tick,
        start, end (exact seconds). Sorted by start tick, then track, channel and pitch. With
        sustain=True the notes last as the sustain pedal (controller 64) holds them.
        """
        return self._h.notes(bool(sustain))

    def events(self, payload: bool = False) -> _Table:
        """Every event of the file as a structured array (EVENT_DTYPE), track after track.

        With payload=True a further object field `payload` holds each meta and sysex event's
        bytes (None for other kinds).
        """
        return self._h.events(bool(payload))

    def controls(self) -> _Table:
        """Control changes in time order (CONTROL_DTYPE: track, channel, controller, value, tick, seconds)."""
        rows = [(t, c, a, b, tick, s) for t, c, tick, s, a, b in self._h.controls()]
        return _np.array(rows, dtype=CONTROL_DTYPE)

    def pitch_bends(self) -> _Table:
        """Pitch bends in time order (PITCH_BEND_DTYPE: track, channel, tick, seconds, value -8192..8191)."""
        rows = [(t, c, tick, s, a + 128 * b - 8192) for t, c, tick, s, a, b in self._h.pitch_bends()]
        return _np.array(rows, dtype=PITCH_BEND_DTYPE)

    def texts(self) -> _Table:
        """Text events in time order (TEXT_DTYPE: track, tick, seconds, kind, text).

        kind: text, copyright, track_name, instrument, lyric, marker, cue, program_name or
        device_name; text decoded as UTF-8 where it is valid, else as Latin-1.
        """
        keys = _midifolio.META_KEYS
        rows = [(t, tick, s, keys.get(meta, "meta_%02x" % meta), text) for t, tick, s, meta, text in self._h.texts()]
        return _np.array(rows, dtype=TEXT_DTYPE)

    def tracks(self) -> List[Track]:
        """What each track holds."""
        return [Track(*t) for t in self._h.tracks()]

    # ------------------------------------------------------------------ time
    def tempos(self) -> List[TempoChange]:
        """The file's tempo events, by tick, then track and file order."""
        return [TempoChange(*t) for t in self._h.tempos()]

    def time_signatures(self) -> List[TimeSignature]:
        """The file's time-signature events, by tick, then track and file order."""
        return [TimeSignature(*t) for t in self._h.time_signatures()]

    def key_signatures(self) -> List[KeySignature]:
        """The file's key-signature events, by tick, then track and file order."""
        return [KeySignature(*k) for k in self._h.key_signatures()]

    def beats(self) -> _npt.NDArray[_np.float64]:
        """Seconds of every beat up to the last event, by the meter and tempo maps."""
        return _np.asarray(self._h.beats(), dtype=_np.float64)

    def downbeats(self) -> _npt.NDArray[_np.float64]:
        """Seconds of the first beat of every bar up to the last event."""
        return _np.asarray(self._h.downbeats(), dtype=_np.float64)

    def tick_to_seconds(self, ticks: Any) -> Any:
        """Exact seconds of ticks: a float for a number, a float64 array for an array.

        ValueError for a tick that is no finite number.
        """
        if _np.ndim(ticks) == 0:
            return float(self._h.tick_to_seconds_scalar(_finite(ticks, "a tick")))
        return self._h.tick_to_seconds(_finite_array(ticks, "ticks"))

    def seconds_to_tick(self, seconds: Any) -> Any:
        """Ticks at times in seconds, fractional (the inverse of tick_to_seconds).

        ValueError for a time that is no finite number.
        """
        if _np.ndim(seconds) == 0:
            return float(self._h.seconds_to_tick_scalar(_finite(seconds, "a time")))
        return self._h.seconds_to_tick(_finite_array(seconds, "times"))

    def bar_beat(self, tick: float) -> BarBeat:
        """The bar and beat of a tick, counted from 1 (ValueError for a tick that is no finite number)."""
        return BarBeat(*self._h.bar_beat(_finite(tick, "a tick")))

    # ------------------------------------------------------------------ analyses
    def piano_roll(self, fs: float = 100, drums: bool = False) -> _npt.NDArray[_np.uint8]:
        """Velocities as a uint8 array of shape (128, frames), frames of 1/fs seconds."""
        fs = _finite(fs, "fs")
        if fs <= 0:
            raise ValueError("fs must be a positive number of frames per second")
        if self._h.duration() * fs * 128 > 2**31:
            raise ValueError("a roll of more than 2**31 cells is not made: lower fs")
        return self._h.piano_roll(fs, bool(drums))

    def summary(self) -> Dict[str, Any]:
        """The facts a corpus survey asks for, as a dict."""
        d = self._h.summary()
        d["key_signatures"] = [KeySignature(*k) for k in d["key_signatures"]]
        return d

    def instruments(self) -> List[Instrument]:
        """The instruments in use: channel, program, banks, General MIDI name, tracks, notes and range."""
        return [Instrument(*i) for i in self._h.instruments()]

    def drums(self) -> List[Drum]:
        """The drums struck on the percussion channel, by note."""
        notes = self.notes()
        hits = notes["pitch"][notes["channel"] == 9]
        counts = _np.bincount(hits, minlength=128) if len(hits) else _np.zeros(128, dtype=_np.int64)
        return [
            Drum(n, _midifolio.drum_name(n), _midifolio.pitch_name(n, 4), int(counts[n]))
            for n in range(128)
            if counts[n]
        ]

    def voice_conflicts(self, voices: int) -> List[VoiceConflict]:
        """Moments at which more notes sound than `voices` (the library's check, whole milliseconds)."""
        return [VoiceConflict(*c) for c in self._h.voice_conflicts(_operator.index(voices))]

    # ------------------------------------------------------------------ edits
    def transpose(self, semitones: int, *, drums: bool = False) -> Song:
        """Every note off channel 10 (index 9) moved by `semitones` (with drums=True those too).

        ValueError, naming the note, when a note would leave 0..127.
        """
        # Beyond +-2**30 every note leaves 0..127 all the same; the library counts in C ints.
        steps = max(-(2**30), min(2**30, _operator.index(semitones)))
        return self._new(self._h.transpose(steps, bool(drums)))

    def scale_tempo(self, factor: float) -> Song:
        """Every tempo times `factor`: ticks unchanged, seconds divided by it.

        ValueError when a tempo would leave what a file can state (1..16,777,215 microseconds
        per quarter note).
        """
        factor = _finite(factor, "the factor")
        return self._new(self._h.scale_tempo(factor))

    def crop(self, start: float, end: float, *, unit: str = "seconds") -> Song:
        """The stretch [start, end): unit 'seconds', 'ticks' or 'bars' (from 1, end bar included).

        Notes starting in it are kept, cut at its end; everything moves so that start becomes
        tick 0, where the program, controllers, pitch bend, tempo, meter and key in force at
        start are stated again. The song lasts to end (rests included), or to the song's end
        where that comes first. A stretch after the last event gives a song of that state
        alone; ValueError for one that is empty or starts before the song.
        """
        first, last = _finite(start, "start"), _finite(end, "end")
        if unit == "bars":
            for bar in (first, last):
                if bar != int(bar) or not 1 <= bar < 2**31 - 1:
                    raise ValueError("bars are whole numbers from 1, not %r" % bar)
        return self._new(self._h.crop(first, last, str(unit)))

    def select(
        self,
        *,
        tracks: Optional[Iterable[int]] = None,
        channels: Optional[Iterable[int]] = None,
        programs: Optional[Iterable[int]] = None,
        drums: Optional[bool] = None,
    ) -> Song:
        """The matching notes and channel events (numbers from 0, as in notes()); meta events stay."""

        def ints(values: Optional[Iterable[int]], what: str, top: int) -> List[int]:
            out = [] if values is None else [_operator.index(v) for v in values]
            for v in out:
                if not 0 <= v <= top:
                    raise ValueError("%s %d is outside 0..%d (counted from 0)" % (what, v, top))
            return out

        return self._new(
            self._h.select(
                ints(tracks, "track", 65535),
                ints(channels, "channel", 15),
                ints(programs, "program", 127),
                -1 if drums is None else int(bool(drums)),
            )
        )

    def quantize(self, grid: Union[int, str], *, ends: bool = True) -> Song:
        """Starts (and ends) moved to the nearest multiple of `grid`: ticks, or a note value such as '1/16'.

        A half grid goes up; a note that would become empty keeps one grid step.
        """
        ticks: Optional[int] = None
        if isinstance(grid, str):
            try:
                ticks = int(grid)  # ticks given as text: '120', ' +120'
            except ValueError:
                pass  # a note value
        else:
            ticks = _operator.index(grid)
        if ticks is not None:
            # Ticks count up to 2**62: grids of more than 2**60 ticks are refused, as the
            # library's grid arithmetic is in 64 bits.
            if not 1 <= ticks <= 2**60:
                raise ValueError("grid must be 1..2**60 ticks or a note value such as '1/16', not %d" % ticks)
            grid = str(ticks)
        return self._new(self._h.quantize(str(grid), bool(ends)))

    def resample(self, ticks_per_quarter: int) -> Song:
        """The same music at another resolution: ticks scaled and rounded."""
        tpq = _operator.index(ticks_per_quarter)
        if not 1 <= tpq <= 32767:
            raise ValueError("ticks_per_quarter must be 1..32767, not %d" % tpq)
        return self._new(self._h.resample(tpq))

    def synthesize(
        self, fs: int = 44100, soundfont: Optional[PathLike] = None, gain: float = 0.2
    ) -> _npt.NDArray[_np.float32]:
        """The song rendered to audio by FluidSynth: float32 array of shape (samples, 2)."""
        audio: Any = _importlib.import_module("._audio", __package__)
        return _typing.cast("_npt.NDArray[_np.float32]", audio.synthesize(self, fs=fs, soundfont=soundfont, gain=gain))


# ---------------------------------------------------------------------- making songs


def _column(notes: Any, name: str) -> Optional[_npt.NDArray[Any]]:
    if isinstance(notes, _np.ndarray):
        if notes.dtype.names and name in notes.dtype.names:
            return _np.asarray(notes[name])
    elif isinstance(notes, _abc.Mapping) and name in notes:
        return _np.asarray(notes[name])
    return None


def _whole_numbers(values: _npt.NDArray[Any], name: str) -> _npt.NDArray[Any]:
    """values when they are whole numbers; ValueError naming the first note whose value is not."""
    if values.dtype.kind in "biu":
        return values
    try:
        numbers = values.astype(_np.float64)
    except (TypeError, ValueError):
        raise TypeError("notes: '%s' must hold numbers, not %s" % (name, values.dtype)) from None
    whole = _np.isfinite(numbers) & (numbers == _np.round(numbers))
    if not whole.all():
        i = int(_np.argmin(whole))
        raise ValueError("note %d: %s %r is not a whole number" % (i, name, values[i].item()))
    return numbers


def _note_columns(notes: Any) -> Tuple[Any, bool]:
    if not isinstance(notes, (_np.ndarray, _abc.Mapping)):
        raise TypeError("notes must be a structured array or a dict of equal-length arrays")
    pitch = _column(notes, "pitch")
    velocity = _column(notes, "velocity")
    if pitch is None or velocity is None:
        raise ValueError("notes need 'pitch' and 'velocity'")
    if pitch.ndim != 1:
        raise ValueError("notes: 'pitch' must be one-dimensional, not of shape %s" % (pitch.shape,))
    n = len(pitch)
    cols = _midifolio._NoteColumns()
    ticks = _column(notes, "start_tick") is not None and _column(notes, "end_tick") is not None
    seconds = _column(notes, "start") is not None and _column(notes, "end") is not None
    if not ticks and not seconds:
        raise ValueError("notes need 'start_tick' and 'end_tick', or 'start' and 'end' (seconds)")

    def same(values: Optional[_npt.NDArray[Any]], name: str, dtype: Any, default: int = 0) -> _npt.NDArray[Any]:
        if values is None:
            return _np.full(n, default, dtype=dtype)
        if values.ndim != 1 or len(values) != n:
            raise ValueError("notes: '%s' has shape %s, 'pitch' (%d,)" % (name, values.shape, n))
        if dtype is not _np.float64:
            values = _whole_numbers(values, name)
        return _np.ascontiguousarray(values, dtype=dtype)

    if ticks:
        cols.start_tick = same(_column(notes, "start_tick"), "start_tick", _np.int64)
        cols.end_tick = same(_column(notes, "end_tick"), "end_tick", _np.int64)
    else:
        cols.start = same(_column(notes, "start"), "start", _np.float64)
        cols.end = same(_column(notes, "end"), "end", _np.float64)
    cols.pitch = same(pitch, "pitch", _np.int64)
    cols.velocity = same(velocity, "velocity", _np.int64)
    cols.channel = same(_column(notes, "channel"), "channel", _np.int64)
    cols.program = same(_column(notes, "program"), "program", _np.int64)
    track = _column(notes, "track")
    if track is not None:
        track = same(track, "track", _np.int64)
        outside = (track < 0) | (track > 65534)
        if outside.any():
            i = int(_np.argmax(outside))
            raise ValueError("note %d: track %d is outside 0..65534" % (i, track[i]))
    cols.track = same(track, "track", _np.uint16)
    return cols, not ticks


def _tempo_list(tempos: Optional[Sequence[Any]]) -> List[Tuple[int, int]]:
    out = []
    for t in tempos or ():
        if isinstance(t, TempoChange):
            out.append((int(t.tick), int(t.us_per_quarter)))
        else:
            tick, bpm = t
            us = _midifolio.tempo_of_bpm(_finite(bpm, "a tempo's bpm"))
            if not us:
                raise ValueError("a tempo of %r bpm" % (bpm,))
            out.append((_operator.index(tick), us))
    return out


def _meter_list(meters: Optional[Sequence[Any]]) -> List[Tuple[int, int, int]]:
    out = []
    for m in meters or ():
        tick, numerator, denominator = (m.tick, m.numerator, m.denominator) if isinstance(m, TimeSignature) else m
        power = int(denominator).bit_length() - 1
        if denominator < 1 or 1 << power != denominator or not 1 <= numerator <= 255:
            raise ValueError("a time signature of %r/%r" % (numerator, denominator))
        out.append((_operator.index(tick), int(numerator), power))
    return out


def _key_list(keys: Optional[Sequence[Any]]) -> List[Tuple[int, int, bool]]:
    out = []
    for k in keys or ():
        tick, sharps, minor = (k.tick, k.sharps, k.minor) if isinstance(k, KeySignature) else k
        if not -7 <= sharps <= 7:
            raise ValueError("a key signature of %r sharps (-7..7)" % (sharps,))
        out.append((_operator.index(tick), int(sharps), bool(minor)))
    return out


def from_notes(
    notes: Any,
    *,
    ticks_per_quarter: int = 480,
    tempos: Optional[Sequence[Any]] = None,
    time_signatures: Optional[Sequence[Any]] = None,
    key_signatures: Optional[Sequence[Any]] = None,
    track_names: Optional[Sequence[str]] = None,
) -> Song:
    """A song made from notes: a structured array (as notes() gives) or a dict of equal-length arrays.

    Fields: pitch, velocity, and start_tick/end_tick or start/end (seconds, through the tempo
    map, rounded to the nearest tick); optionally channel (default 0), program (0) and track.
    tempos, time_signatures and key_signatures take what Song.tempos() etc. return, or plain
    (tick, bpm), (tick, numerator, denominator) and (tick, sharps, minor) tuples; the defaults
    are 120 bpm, 4/4 and no key. A program change is written wherever a channel's program
    changes. Notes of one pitch and channel that overlap end first in, first out, as a file's
    note ends do: of two, the one that starts first ends first. ValueError, naming the note,
    for a note a file cannot hold.

        >>> import numpy as np, midifolio
        >>> notes = {"pitch": [60, 64, 67], "velocity": [90] * 3,
        ...          "start": [0.0, 0.5, 1.0], "end": [0.5, 1.0, 2.0]}
        >>> midifolio.from_notes(notes).save("tune.mid")
    """
    names = [str(n) for n in track_names or ()]
    plan = (
        _operator.index(ticks_per_quarter),
        _tempo_list(tempos),
        _meter_list(time_signatures),
        _key_list(key_signatures),
        names,
    )
    if isinstance(notes, _np.ndarray) and notes.dtype == NOTE_DTYPE and notes.ndim == 1:
        # What notes() gives: read as it is, in ticks.
        return _make_song(_midifolio.from_note_records(_np.ascontiguousarray(notes), *plan))
    cols, seconds = _note_columns(notes)
    return _make_song(_midifolio.from_notes(cols, seconds, *plan))


def merge(songs: Iterable[Song]) -> Song:
    """One song holding every track of each, resampled to the first one's resolution, with its tempo map."""
    handles = []
    for song in songs:
        if not isinstance(song, Song):
            raise TypeError("merge takes Songs, not %s" % type(song).__name__)
        handles.append(song._h)
    if not handles:
        raise ValueError("merge needs at least one song")
    return _make_song(_midifolio.merge(handles))


# ---------------------------------------------------------------------- corpora

_SUMMARY_FIELDS = (
    "notes",
    "lowest_pitch",
    "highest_pitch",
    "duration",
    "bars",
    "programs",
    "drums",
    "key_signatures",
    "peak_polyphony",
    "events",
    "tracks",
    "format",
    "ticks_per_quarter",
)
_MIDI_SUFFIXES = (".mid", ".midi", ".kar", ".smf", ".rmi")


def summary_row(path: PathLike) -> Dict[str, Any]:
    """One row of a corpus survey: {'path', 'error', and Song.summary()'s fields}.

    A file that cannot be read gives error = the exception's text and None in every other
    field, instead of raising. A plain function of a path, so it runs as it is on a thread
    pool, a process pool or a Dask cluster.
    """
    row: Dict[str, Any] = {"path": _os.fsdecode(_os.fspath(path)), "error": None}
    try:
        row.update(load(path).summary())
    except (MidiError, OSError) as e:
        row["error"] = str(e)
        row.update(dict.fromkeys(_SUMMARY_FIELDS))
    return row


def _expand(paths: Iterable[PathLike]) -> List[str]:
    files: List[str] = []
    for given in paths:
        p = _os.fsdecode(_os.fspath(given))
        if _os.path.isdir(p):
            found = []
            for root, _, names in _os.walk(p):
                found += [_os.path.join(root, n) for n in names if n.lower().endswith(_MIDI_SUFFIXES)]
            files += sorted(found)
        else:
            files.append(p)
    return files


def scan(paths: Union[PathLike, Iterable[PathLike]], jobs: Optional[int] = None) -> List[Dict[str, Any]]:
    """Summarise many files on a thread pool of `jobs` threads (default: one per core).

    paths: files, or folders searched for .mid, .midi, .kar, .smf and .rmi files. Returns one
    summary_row per file, in order; failed files give a row with an error, never raise.
    """
    if isinstance(paths, (str, bytes, _os.PathLike)):
        paths = [paths]
    files = _expand(paths)
    workers = jobs if jobs is not None else (_os.cpu_count() or 1)
    if workers < 1:
        raise ValueError("jobs must be at least 1")
    if workers == 1 or len(files) < 2:
        return [summary_row(f) for f in files]
    with _futures.ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(summary_row, files))


# ---------------------------------------------------------------------- vocabulary


def _data_value(n: Any, what: str) -> int:
    value = _operator.index(n)
    if not 0 <= value <= 127:
        raise ValueError("%s %d is outside 0..127" % (what, value))
    return value


def program_name(program: int) -> str:
    """The General MIDI name of a program 0..127 ('Acoustic Grand Piano'); ValueError outside."""
    return str(_midifolio.program_name(_data_value(program, "program")))


def drum_name(note: int) -> Optional[str]:
    """The General MIDI drum name of a note (27..87), None for a note 0..127 without one."""
    return _midifolio.drum_name(_data_value(note, "note")) or None


def controller_name(controller: int) -> str:
    """The name of a controller 0..127 ('Channel Volume', 'Damper Pedal (Sustain)')."""
    return str(_midifolio.controller_name(_data_value(controller, "controller")))


_HZ = _re.compile(r"^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*hz\s*$", _re.IGNORECASE)


def _note_of(value: Union[int, float, str], middle_c: int) -> int:
    if isinstance(value, bool):
        raise TypeError("a pitch is a note number, a frequency or a name, not a bool")
    if isinstance(value, (int, _np.integer)):
        return _data_value(value, "note")
    if isinstance(value, (float, _np.floating)):
        return _frequency(float(value))
    if not isinstance(value, str):
        raise TypeError("a pitch is a note number, a frequency or a name, not %s" % type(value).__name__)
    hz = _HZ.match(value)
    if hz:
        return _frequency(float(hz.group(1)))
    if value.strip().isdigit():
        return _data_value(int(value), "note")
    note = int(_midifolio.parse_pitch(value, middle_c))
    if note < 0:
        raise ValueError(
            "%r is not a pitch of the MIDI notes 0..127: give a note number (60), a frequency (440.0 or "
            "'440hz') or a name with its octave (C4 is middle C; C#4, Db4, E#4)" % value
        )
    return note


def _frequency(hz: float) -> int:
    note = _midifolio.frequency_note(hz) if hz > 0 and _math.isfinite(hz) else float("nan")
    if not _math.isfinite(note) or not -0.5 <= note < 127.5:
        raise ValueError("%r Hz is not the frequency of a MIDI note" % hz)
    return int(round(note))


def pitch(value: Union[int, float, str], *, middle_c: int = 4) -> Pitch:
    """A pitch from a note number (int), a frequency (float, or text such as '440hz') or a name.

    Names are scientific: middle C (60) is 'C4', A4 is 440 Hz; middle_c=3 or 5 reads and
    writes them as programs that number middle C so. Sharps and flats both parse ('Db4', 'E#4',
    'Cb5'). A frequency gives the nearest equal-tempered note. ValueError for a value that
    names no MIDI note 0..127.
    """
    if isinstance(middle_c, bool) or _operator.index(middle_c) not in (3, 4, 5):
        raise ValueError("middle_c must be 3, 4 or 5")
    middle_c = _operator.index(middle_c)
    note = _note_of(value, middle_c)
    found = core.CMidiFolio.GetPitchInfo(note)
    if found is None:  # the library names every note 0..127
        raise AssertionError("the library has no name for note %d" % note)
    return Pitch(
        note=note,
        name=_midifolio.pitch_name(note, middle_c),
        frequency=float(_midifolio.note_frequency(note)),
        pitch_class=_midifolio.pitch_class_name(note % 12),
        octave=note // 12 + middle_c - 5,
        numbered=core.CMidiFolio.GetEasySymbol(note),
        library_name="%s%d" % (found.szName, found.byOctave),
    )


del annotations  # the __future__ import's name: not part of the package
