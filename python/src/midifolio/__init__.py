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

import concurrent.futures
import math
import operator
import os
import re
from typing import IO, Any, Dict, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

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
]

__version__: str = _midifolio.__version__

NOTE_DTYPE: np.dtype = _midifolio.NOTE_DTYPE
"""The notes' structured dtype: track (u2), channel, program, pitch, velocity (u1),
start_tick, end_tick (i8), start, end (f8 seconds); 40 bytes with explicit offsets."""

EVENT_DTYPE: np.dtype = _midifolio.EVENT_DTYPE
"""The events' structured dtype: tick (i8), seconds (f8), track, kind (u2, the EVT_ code),
channel, status, data1, data2 (u1), meta (i2, -1 for other kinds), port (u1), length (u4);
40 bytes with explicit offsets."""

EVENT_PAYLOAD_DTYPE: np.dtype = _midifolio.EVENT_PAYLOAD_DTYPE
"""EVENT_DTYPE and a further object field, payload (bytes or None); 48 bytes."""

CONTROL_DTYPE: np.dtype = np.dtype(
    [("track", "u2"), ("channel", "u1"), ("controller", "u1"), ("value", "u1"), ("tick", "i8"), ("seconds", "f8")]
)
PITCH_BEND_DTYPE: np.dtype = np.dtype(
    [("track", "u2"), ("channel", "u1"), ("tick", "i8"), ("seconds", "f8"), ("value", "i2")]
)
TEXT_DTYPE: np.dtype = np.dtype(
    [("track", "u2"), ("tick", "i8"), ("seconds", "f8"), ("kind", "U16"), ("text", "O")]
)

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
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

    def __init__(self, message: str, cause: Optional[str] = None, filename: Optional[str] = None):
        super().__init__(message if not cause else "%s: %s" % (message, cause))
        self.message = message
        self.cause = cause
        self.filename = filename


def _budget(max_memory: Optional[int]) -> int:
    if max_memory is None:
        try:
            return int(os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 2)
        except (ValueError, OSError, AttributeError):
            return 0
    value = operator.index(max_memory)
    if value <= 0:
        raise ValueError("max_memory must be a positive number of bytes")
    return value


def _song(outcome: Any, filename: Optional[str], given: Any) -> "Song":
    if outcome.__class__ is tuple:
        status, message, cause, code = outcome
        if code:
            raise OSError(code, os.strerror(code), filename)
        raise MidiError(message or _STATUS.get(status, "cannot be read"), cause or None, filename)
    song = _new_song(Song)
    song._h = outcome
    song._given = given
    return song


def load(source: Union[PathLike, IO[bytes]], *, recover: bool = False, max_memory: Optional[int] = None) -> "Song":
    """Read a Standard MIDI File (formats 0, 1 and 2; .rmi files too) from a path or a binary file object.

    recover=True reads what a damaged file holds before the damage in each track; what was
    left out is in Song.messages. Raises MidiError (a ValueError) for a file that cannot be
    read, with the cause in plain words, and FileNotFoundError, PermissionError or another
    OSError (errno and filename set) for a path that cannot be opened. max_memory (bytes,
    default half the machine's memory) refuses a song that would take more.
    """
    if hasattr(source, "read"):
        return loads(source.read(), recover=recover, max_memory=max_memory)
    raw = os.fsencode(source)  # type: ignore[arg-type]
    if b"\0" in raw:
        raise ValueError("embedded null byte")
    return _song(_midifolio.read_path(raw, bool(recover), _budget(max_memory)), os.fsdecode(raw), source)


def loads(data: Union[bytes, bytearray, memoryview], *, recover: bool = False, max_memory: Optional[int] = None) -> "Song":
    """Read a Standard MIDI File from bytes, a bytearray or a memoryview (as load does)."""
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError("loads takes bytes, a bytearray or a memoryview, not %s" % type(data).__name__)
    view = memoryview(data)
    if not view.c_contiguous or view.ndim != 1 or view.itemsize != 1:
        view = memoryview(view.tobytes())
    return _song(_midifolio.read_bytes(view, bool(recover), _budget(max_memory)), None, None)


_new_song = object.__new__


def _finite(value: Any, what: str) -> float:
    number = float(value)
    if not math.isfinite(number):
        raise ValueError("%s must be a finite number, not %r" % (what, value))
    return number


class Song:
    """A song read as the MIDI standard defines it, and its exact views.

    Seconds are exact through every tempo change, bars follow every time signature, ticks count
    in 64 bits. A Song does not change: every edit gives a new one. A Song may be used from
    several threads; the arrays it hands out own or pin what they view.
    """

    __slots__ = ("_h", "_given", "__weakref__")

    def __init__(self) -> None:
        raise TypeError("a Song comes from midifolio.load, loads, from_notes or an edit")

    def __repr__(self) -> str:
        fmt, tracks, _ = self._h.header()
        where = " %r" % self.path if self.path else ""
        return "<midifolio.Song%s: format %d, %d tracks, %.3f s>" % (where, fmt, tracks, self._h.duration())

    def _new(self, handle: Any) -> "Song":
        song = _new_song(Song)
        song._h = handle
        song._given = None
        return song

    # ------------------------------------------------------------------ the song itself
    @property
    def path(self) -> Optional[str]:
        """The path the song was read from (None for bytes and made songs)."""
        return None if self._given is None or hasattr(self._given, "read") else os.fsdecode(self._given)

    @property
    def messages(self) -> List[str]:
        """What reading found worth telling: warnings, and with recover=True what was left out."""
        return list(self._h.messages)

    @property
    def core(self) -> core.CMidiFolio:
        """The library's own song object over the same bytes, built on first use.

        Its rules are the library's (a 120 bpm tempo event in front of the first track, whole
        milliseconds); RuntimeError when its loader refuses the song (format 2, SMPTE time).
        After a change through it, call refresh() for the views; save() and dumps() write it.
        """
        return self._h.core

    @property
    def format(self) -> int:
        """The file's format, 0, 1 or 2."""
        return int(self._h.header()[0])

    @property
    def track_count(self) -> int:
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
        raw = os.fsencode(path)
        if b"\0" in raw:
            raise ValueError("embedded null byte")
        code = self._h.save(raw)
        if code:
            raise OSError(code, os.strerror(code), os.fsdecode(raw))

    # ------------------------------------------------------------------ notes and events
    def notes(self, sustain: bool = False) -> np.ndarray:
        """Every note as a read-only structured array (NOTE_DTYPE), without a copy.

        Fields: track, channel (both from 0), program, pitch, velocity, start_tick, end_tick,
        start, end (exact seconds). Sorted by start tick, then track, channel and pitch. With
        sustain=True the notes last as the sustain pedal (controller 64) holds them.
        """
        return self._h.notes(bool(sustain))

    def events(self, payload: bool = False) -> np.ndarray:
        """Every event of the file as a structured array (EVENT_DTYPE), track after track.

        With payload=True a further object field `payload` holds each meta and sysex event's
        bytes (None for other kinds).
        """
        return self._h.events(bool(payload))

    def controls(self) -> np.ndarray:
        """Control changes in time order (CONTROL_DTYPE: track, channel, controller, value, tick, seconds)."""
        rows = [(t, c, a, b, tick, s) for t, c, tick, s, a, b in self._h.controls()]
        return np.array(rows, dtype=CONTROL_DTYPE)

    def pitch_bends(self) -> np.ndarray:
        """Pitch bends in time order (PITCH_BEND_DTYPE: track, channel, tick, seconds, value -8192..8191)."""
        rows = [(t, c, tick, s, a + 128 * b - 8192) for t, c, tick, s, a, b in self._h.pitch_bends()]
        return np.array(rows, dtype=PITCH_BEND_DTYPE)

    def texts(self) -> np.ndarray:
        """Text events in time order (TEXT_DTYPE: track, tick, seconds, kind, text).

        kind: text, copyright, track_name, instrument, lyric, marker, cue, program_name or
        device_name; text decoded as UTF-8 where it is valid, else as Latin-1.
        """
        keys = _midifolio.META_KEYS
        rows = [(t, tick, s, keys.get(meta, "meta_%02x" % meta), text) for t, tick, s, meta, text in self._h.texts()]
        return np.array(rows, dtype=TEXT_DTYPE)

    def tracks(self) -> List[Track]:
        """What each track holds."""
        return [Track(*t) for t in self._h.tracks()]

    # ------------------------------------------------------------------ time
    def tempos(self) -> List[TempoChange]:
        """The file's tempo events, by tick, then track and file order."""
        return [TempoChange(*t) for t in self._h.tempos()]

    def time_signatures(self) -> List[TimeSignature]:
        return [TimeSignature(*t) for t in self._h.time_signatures()]

    def key_signatures(self) -> List[KeySignature]:
        return [KeySignature(*k) for k in self._h.key_signatures()]

    def beats(self) -> np.ndarray:
        """Seconds of every beat up to the last event, by the meter and tempo maps."""
        return np.asarray(self._h.beats(), dtype=np.float64)

    def downbeats(self) -> np.ndarray:
        """Seconds of the first beat of every bar up to the last event."""
        return np.asarray(self._h.downbeats(), dtype=np.float64)

    def tick_to_seconds(self, ticks: Any) -> Any:
        """Exact seconds of ticks: a float for a number, a float64 array for an array."""
        if np.ndim(ticks) == 0:
            return float(self._h.tick_to_seconds_scalar(_finite(ticks, "a tick")))
        return self._h.tick_to_seconds(np.asarray(ticks))

    def seconds_to_tick(self, seconds: Any) -> Any:
        """Ticks at times in seconds, fractional (the inverse of tick_to_seconds)."""
        if np.ndim(seconds) == 0:
            return float(self._h.seconds_to_tick_scalar(_finite(seconds, "a time")))
        return self._h.seconds_to_tick(np.asarray(seconds))

    def bar_beat(self, tick: float) -> BarBeat:
        """The bar and beat of a tick, counted from 1 (ValueError for a tick that is no finite number)."""
        return BarBeat(*self._h.bar_beat(_finite(tick, "a tick")))

    # ------------------------------------------------------------------ analyses
    def piano_roll(self, fs: float = 100, drums: bool = False) -> np.ndarray:
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
        counts = np.bincount(hits, minlength=128) if len(hits) else np.zeros(128, dtype=np.int64)
        return [
            Drum(n, _midifolio.drum_name(n), _midifolio.pitch_name(n, 4), int(counts[n]))
            for n in range(128)
            if counts[n]
        ]

    def voice_conflicts(self, voices: int) -> List[VoiceConflict]:
        """Moments at which more notes sound than `voices` (the library's check, whole milliseconds)."""
        return [VoiceConflict(*c) for c in self._h.voice_conflicts(operator.index(voices))]

    # ------------------------------------------------------------------ edits
    def transpose(self, semitones: int, *, drums: bool = False) -> "Song":
        """Every note off channel 10 (index 9) moved by `semitones` (with drums=True those too).

        ValueError, naming the note, when a note would leave 0..127.
        """
        return self._new(self._h.transpose(operator.index(semitones), bool(drums)))

    def scale_tempo(self, factor: float) -> "Song":
        """Every tempo times `factor`: ticks unchanged, seconds divided by it."""
        return self._new(self._h.scale_tempo(_finite(factor, "the factor")))

    def crop(self, start: float, end: float, *, unit: str = "seconds") -> "Song":
        """The stretch [start, end): unit 'seconds', 'ticks' or 'bars' (from 1, end bar included).

        Notes starting in it are kept, cut at its end; everything moves so that start becomes
        tick 0, where the program, controllers, pitch bend, tempo, meter and key in force at
        start are stated again.
        """
        return self._new(self._h.crop(_finite(start, "start"), _finite(end, "end"), str(unit)))

    def select(
        self,
        *,
        tracks: Optional[Iterable[int]] = None,
        channels: Optional[Iterable[int]] = None,
        programs: Optional[Iterable[int]] = None,
        drums: Optional[bool] = None,
    ) -> "Song":
        """The matching notes and channel events (numbers from 0, as in notes()); meta events stay."""

        def ints(values: Optional[Iterable[int]]) -> List[int]:
            return [] if values is None else [operator.index(v) for v in values]

        return self._new(
            self._h.select(ints(tracks), ints(channels), ints(programs), -1 if drums is None else int(bool(drums)))
        )

    def quantize(self, grid: Union[int, str], *, ends: bool = True) -> "Song":
        """Starts (and ends) moved to the nearest multiple of `grid`: ticks, or a note value such as '1/16'."""
        return self._new(self._h.quantize(str(operator.index(grid)) if not isinstance(grid, str) else grid, bool(ends)))

    def resample(self, ticks_per_quarter: int) -> "Song":
        """The same music at another resolution: ticks scaled and rounded."""
        return self._new(self._h.resample(operator.index(ticks_per_quarter)))

    def synthesize(self, fs: int = 44100, soundfont: Optional[PathLike] = None, gain: float = 0.2) -> np.ndarray:
        """The song rendered to audio by FluidSynth: float32 array of shape (samples, 2)."""
        from . import _audio

        return _audio.synthesize(self, fs=fs, soundfont=soundfont, gain=gain)


# ---------------------------------------------------------------------- making songs


def _column(notes: Any, name: str, default: Optional[int] = None) -> Optional[np.ndarray]:
    if isinstance(notes, np.ndarray):
        if notes.dtype.names and name in notes.dtype.names:
            return np.asarray(notes[name])
    elif isinstance(notes, Mapping) and name in notes:
        return np.asarray(notes[name])
    return None


def _note_columns(notes: Any) -> Any:
    if not isinstance(notes, (np.ndarray, Mapping)):
        raise TypeError("notes must be a structured array or a dict of equal-length arrays")
    pitch = _column(notes, "pitch")
    velocity = _column(notes, "velocity")
    if pitch is None or velocity is None:
        raise ValueError("notes need 'pitch' and 'velocity'")
    n = len(pitch)
    cols = _midifolio._NoteColumns()
    ticks = _column(notes, "start_tick") is not None and _column(notes, "end_tick") is not None
    seconds = _column(notes, "start") is not None and _column(notes, "end") is not None
    if not ticks and not seconds:
        raise ValueError("notes need 'start_tick' and 'end_tick', or 'start' and 'end' (seconds)")

    def same(values: Optional[np.ndarray], name: str, dtype: Any, default: int = 0) -> np.ndarray:
        if values is None:
            return np.full(n, default, dtype=dtype)
        if len(values) != n:
            raise ValueError("notes: '%s' has %d values, 'pitch' %d" % (name, len(values), n))
        return np.ascontiguousarray(values, dtype=dtype)

    if ticks:
        cols.start_tick = same(_column(notes, "start_tick"), "start_tick", np.int64)
        cols.end_tick = same(_column(notes, "end_tick"), "end_tick", np.int64)
    else:
        cols.start = same(_column(notes, "start"), "start", np.float64)
        cols.end = same(_column(notes, "end"), "end", np.float64)
    cols.pitch = same(pitch, "pitch", np.int64)
    cols.velocity = same(velocity, "velocity", np.int64)
    cols.channel = same(_column(notes, "channel"), "channel", np.int64)
    cols.program = same(_column(notes, "program"), "program", np.int64)
    track = _column(notes, "track")
    if track is not None and len(track) and (np.min(track) < 0 or np.max(track) > 65534):
        raise ValueError("notes: a track is outside 0..65534")
    cols.track = same(track, "track", np.uint16)
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
            out.append((operator.index(tick), us))
    return out


def _meter_list(meters: Optional[Sequence[Any]]) -> List[Tuple[int, int, int]]:
    out = []
    for m in meters or ():
        tick, numerator, denominator = (m.tick, m.numerator, m.denominator) if isinstance(m, TimeSignature) else m
        power = int(denominator).bit_length() - 1
        if denominator < 1 or 1 << power != denominator or not 1 <= numerator <= 255:
            raise ValueError("a time signature of %r/%r" % (numerator, denominator))
        out.append((operator.index(tick), int(numerator), power))
    return out


def _key_list(keys: Optional[Sequence[Any]]) -> List[Tuple[int, int, bool]]:
    out = []
    for k in keys or ():
        tick, sharps, minor = (k.tick, k.sharps, k.minor) if isinstance(k, KeySignature) else k
        if not -7 <= sharps <= 7:
            raise ValueError("a key signature of %r sharps (-7..7)" % (sharps,))
        out.append((operator.index(tick), int(sharps), bool(minor)))
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
    changes.

        >>> import numpy as np, midifolio
        >>> notes = {"pitch": [60, 64, 67], "velocity": [90] * 3,
        ...          "start": [0.0, 0.5, 1.0], "end": [0.5, 1.0, 2.0]}
        >>> midifolio.from_notes(notes).save("tune.mid")
    """
    cols, seconds = _note_columns(notes)
    names = [str(n) for n in track_names or ()]
    handle = _midifolio.from_notes(
        cols,
        seconds,
        operator.index(ticks_per_quarter),
        _tempo_list(tempos),
        _meter_list(time_signatures),
        _key_list(key_signatures),
        names,
    )
    song = _new_song(Song)
    song._h = handle
    song._given = None
    return song


def merge(songs: Iterable[Song]) -> Song:
    """One song holding every track of each, resampled to the first one's resolution, with its tempo map."""
    handles = [s._h for s in songs]
    if not handles:
        raise ValueError("merge needs at least one song")
    song = _new_song(Song)
    song._h = _midifolio.merge(handles)
    song._given = None
    return song


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
    row: Dict[str, Any] = {"path": os.fsdecode(os.fspath(path)), "error": None}
    try:
        row.update(load(path).summary())
    except (MidiError, OSError) as e:
        row["error"] = str(e)
        row.update(dict.fromkeys(_SUMMARY_FIELDS))
    return row


def _expand(paths: Iterable[PathLike]) -> List[str]:
    files: List[str] = []
    for given in paths:
        p = os.fsdecode(os.fspath(given))
        if os.path.isdir(p):
            found = []
            for root, _, names in os.walk(p):
                found += [os.path.join(root, n) for n in names if n.lower().endswith(_MIDI_SUFFIXES)]
            files += sorted(found)
        else:
            files.append(p)
    return files


def scan(paths: Union[PathLike, Iterable[PathLike]], jobs: Optional[int] = None) -> List[Dict[str, Any]]:
    """Summarise many files on a thread pool of `jobs` threads (default: one per core).

    paths: files, or folders searched for .mid, .midi, .kar, .smf and .rmi files. Returns one
    summary_row per file, in order; failed files give a row with an error, never raise.
    """
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    files = _expand(paths)
    workers = jobs if jobs is not None else (os.cpu_count() or 1)
    if workers < 1:
        raise ValueError("jobs must be at least 1")
    if workers == 1 or len(files) < 2:
        return [summary_row(f) for f in files]
    with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(summary_row, files))


# ---------------------------------------------------------------------- vocabulary


def _data_value(n: Any, what: str) -> int:
    value = operator.index(n)
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


_HZ = re.compile(r"^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*hz\s*$", re.IGNORECASE)


def _note_of(value: Union[int, float, str], middle_c: int) -> int:
    if isinstance(value, bool):
        raise TypeError("a pitch is a note number, a frequency or a name, not a bool")
    if isinstance(value, (int, np.integer)):
        return _data_value(value, "note")
    if isinstance(value, (float, np.floating)):
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
    note = _midifolio.frequency_note(hz) if hz > 0 and math.isfinite(hz) else float("nan")
    if not math.isfinite(note) or not -0.5 <= note < 127.5:
        raise ValueError("%r Hz is not the frequency of a MIDI note" % hz)
    return int(round(note))


def pitch(value: Union[int, float, str], *, middle_c: int = 4) -> Pitch:
    """A pitch from a note number (int), a frequency (float, or text such as '440hz') or a name.

    Names are scientific: middle C (60) is 'C4', A4 is 440 Hz; middle_c=3 or 5 reads and
    writes them as programs that number middle C so. Sharps and flats both parse ('Db4', 'E#4',
    'Cb5'). A frequency gives the nearest equal-tempered note. ValueError for a value that
    names no MIDI note 0..127.
    """
    if middle_c not in (3, 4, 5):
        raise ValueError("middle_c must be 3, 4 or 5")
    note = _note_of(value, middle_c)
    found = core.CMidiFolio.GetPitchInfo(note)
    return Pitch(
        note=note,
        name=_midifolio.pitch_name(note, middle_c),
        frequency=float(_midifolio.note_frequency(note)),
        pitch_class=_midifolio.pitch_class_name(note % 12),
        octave=note // 12 + middle_c - 5,
        numbered=core.CMidiFolio.GetEasySymbol(note),
        library_name="%s%d" % (found.szName, found.byOctave),
    )
