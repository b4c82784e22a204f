"""midifolio: read, edit, analyse and write Standard MIDI Files.

    >>> import midifolio
    >>> song = midifolio.load("examples/sample.mid")
    >>> song.notes()[:3]["pitch"]
    array([60, 36, 42], dtype=uint8)

`load` gives a `Song`, whose exact view answers in numpy arrays (notes, events, piano roll)
and small records (tempos, signatures); `Song.core` is the library's own song object
(`midifolio.core.CMidiFolio`) for the library's own interface. `load`, `Song.save`,
`Song.notes` and `Song.summary` release the GIL while the library works, so songs load in
parallel on a thread pool (`scan`).
"""
from __future__ import annotations

import concurrent.futures
import math
import operator
import os
import re
from typing import Any, Dict, Iterable, List, Optional, Sequence, Union

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

__all__ = [
    "load",
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
    "TempoChange",
    "TimeSignature",
    "KeySignature",
    "BarBeat",
    "Instrument",
    "Drum",
    "VoiceConflict",
    "Pitch",
    "core",
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

NOTE_DTYPE: np.dtype = _midifolio.NOTE_DTYPE
"""The notes' structured dtype: track, channel, program, pitch, velocity (u2, u1 x4),
start_tick, end_tick (i4), start, end (f8 seconds); 32 bytes with explicit offsets."""

EVENT_DTYPE: np.dtype = _midifolio.EVENT_DTYPE
"""The events' structured dtype: track (u2), channel, status (u1), kind (u2, the EVT_ code),
data1, data2 (u1), tick (i4), meta (i2, -1 for other kinds), port (u1), length (u4), seconds
(f8); 32 bytes with explicit offsets."""

EVENT_PAYLOAD_DTYPE: np.dtype = _midifolio.EVENT_PAYLOAD_DTYPE
"""EVENT_DTYPE and a further object field, payload (bytes or None); 40 bytes."""

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

class MidiError(ValueError):
    """A file the library refuses to read.

    str(error) is the library's message followed by the cause from its load report, e.g.
    "Error read data!!: track 1 at byte 18: the chunk claims 256 bytes but 4 remain".
    """

    message: str
    """The library's message, e.g. 'Not Midi file!!'."""
    cause: Optional[str]
    """What in the file stopped the load, in plain words, with track and byte (None when the
    report has none)."""
    filename: Optional[str]
    """The path that was loaded."""

    def __init__(self, message: str, cause: Optional[str] = None, filename: Optional[str] = None):
        super().__init__(message if cause is None else "%s: %s" % (message, cause))
        self.message = message
        self.cause = cause
        self.filename = filename


def _path_bytes(path: PathLike) -> bytes:
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("embedded null byte")
    return raw


def _shown_path(path: PathLike) -> str:
    return os.fsdecode(os.fspath(path))


def load(path: PathLike) -> "Song":
    """Load a Standard MIDI File (format 0 or 1).

    The library reads the file with the GIL released. Raises MidiError (a ValueError) for a
    file it refuses, with its message and the cause in plain words from the library's load
    report (the words the midifolio tool prints), and FileNotFoundError, PermissionError,
    IsADirectoryError or another OSError (errno and filename set) for a file that cannot be
    opened.
    """
    handle = _midifolio.load(path)
    if handle.__class__ is tuple:
        _refuse(path, *handle)
    song = _new_song(Song)
    song._h = handle
    song._given = path
    return song


def _refuse(path: PathLike, message: str, cause: str, code: int, messages: Sequence[str]) -> None:
    filename = _shown_path(path)
    if code:
        raise OSError(code, os.strerror(code), filename)
    raise MidiError(message or (messages[-1] if messages else "the file could not be read"),
                    cause or None, filename)


_new_song = object.__new__


class Song:
    """A loaded song and its exact view.

    The exact view computes in double precision from the song's events: a tempo change takes
    effect at its tick, every time-signature change starts a bar of its own length, and the
    tempo event that every load puts in front of the first track is not counted. It is built
    on first use and kept; after changing the song through `core`, call `refresh()`.

    A Song may be used from several threads: its work on the song is serialised, and the
    arrays it hands out own or pin what they view.
    """

    __slots__ = ("_h", "_given", "__weakref__")

    def __init__(self) -> None:
        raise TypeError("a Song comes from midifolio.load(path)")

    def __repr__(self) -> str:
        fmt, tracks, _ = self._h.header()
        return "<midifolio.Song %r: format %d, %d tracks, %.3f s>" % (
            self.path,
            fmt,
            tracks,
            self._h.duration(),
        )

    # ------------------------------------------------------------------ the song itself
    @property
    def path(self) -> str:
        """The path the song was loaded from."""
        return _shown_path(self._given)

    @property
    def messages(self) -> List[str]:
        """The library's messages of a load that succeeded (normally none)."""
        return list(self._h.messages)

    @property
    def core(self) -> core.CMidiFolio:
        """The library's own song object (the loader's tempo event included)."""
        return self._h.core

    @property
    def format(self) -> int:
        """The file's format, 0 or 1."""
        return int(self._h.header()[0])

    @property
    def track_count(self) -> int:
        """The number of tracks."""
        return int(self._h.header()[1])

    @property
    def ticks_per_quarter(self) -> int:
        """Ticks per quarter note (the header's division)."""
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
        """Forget the exact view; the next call builds it from the song as it is now."""
        self._h.refresh()

    def save(self, path: PathLike) -> None:
        """Store the song as a Standard MIDI File, atomically.

        The file holds the song's tracks as loaded, without the loader's tempo event; the
        song itself does not change. Raises OSError(errno, strerror, filename) on failure,
        the target then left as it was.
        """
        raw = _path_bytes(path)
        code = self._h.save(raw)
        if code:
            raise OSError(code, os.strerror(code), _shown_path(path))

    # ------------------------------------------------------------------ exact view
    def notes(self) -> np.ndarray:
        """Every note as a read-only structured array (NOTE_DTYPE), without a copy.

        Fields: track, channel (both from 0), program, pitch, velocity, start_tick, end_tick,
        start, end (exact seconds). Sorted by start tick, then track, channel and pitch. The
        array views the exact view's memory and keeps it alive.
        """
        return self._h.notes()

    def events(self, payload: bool = False) -> np.ndarray:
        """Every event of the file as a structured array (EVENT_DTYPE), track by track.

        Fields: track, tick, seconds, kind (EVT_ code), status (the status byte), channel
        (255 for events without one), data1, data2 (pitch bend: its LSB and MSB), meta (meta
        type, -1 for other kinds), port, length (payload bytes). The loader's tempo event is
        not among them. With payload=True a further object field `payload` holds each meta
        and sysex event's bytes (None for other kinds).
        """
        return self._h.events(bool(payload))

    def tempos(self) -> List[TempoChange]:
        """The file's tempo events, by tick, then track and list order."""
        return [TempoChange(*t) for t in self._h.tempos()]

    def time_signatures(self) -> List[TimeSignature]:
        """The file's time-signature events, by tick, then track and list order."""
        return [TimeSignature(*t) for t in self._h.time_signatures()]

    def key_signatures(self) -> List[KeySignature]:
        """The file's key-signature events, by tick, then track and list order."""
        return [KeySignature(*k) for k in self._h.key_signatures()]

    def tick_to_seconds(self, ticks: Any) -> Any:
        """Exact seconds of ticks: a float for a number, a float64 array for an array.

        Ticks may be fractional; before the first tempo change the tempo is 120 bpm.
        """
        if np.ndim(ticks) == 0:
            return float(self._h.tick_to_seconds_scalar(float(ticks)))
        return self._h.tick_to_seconds(np.asarray(ticks))

    def seconds_to_tick(self, seconds: Any) -> Any:
        """Ticks at times in seconds, fractional (the inverse of tick_to_seconds)."""
        if np.ndim(seconds) == 0:
            return float(self._h.seconds_to_tick_scalar(float(seconds)))
        return self._h.seconds_to_tick(np.asarray(seconds))

    def bar_beat(self, tick: float) -> BarBeat:
        """The bar and beat of a tick, counted from 1, by every time signature of the file."""
        return BarBeat(*self._h.bar_beat(float(tick)))

    def piano_roll(self, fs: float = 100, drums: bool = False) -> np.ndarray:
        """Velocities as a uint8 array of shape (128, frames), frames of 1/fs seconds.

        A cell holds the highest velocity of the notes sounding in it; the percussion
        channel's notes only with drums=True.
        """
        fs = float(fs)
        if not (fs > 0 and math.isfinite(fs)):
            raise ValueError("fs must be a positive number of frames per second")
        if self._h.duration() * fs * 128 > 2**31:
            raise ValueError("a roll of more than 2**31 cells is not made: lower fs")
        return self._h.piano_roll(fs, bool(drums))

    def summary(self) -> Dict[str, Any]:
        """The facts a corpus survey asks for, as a dict.

        notes, lowest_pitch, highest_pitch (None without notes), duration (s), bars,
        programs (of the notes off the percussion channel), drums (notes on it),
        key_signatures, peak_polyphony, events, tracks, format, ticks_per_quarter.
        """
        d = self._h.summary()
        d["key_signatures"] = [KeySignature(*k) for k in d["key_signatures"]]
        return d

    # ------------------------------------------------------------------ the library's analyses
    def instruments(self) -> List[Instrument]:
        """Melodic instruments of every channel but 10, with their note ranges."""
        return [
            Instrument(p, b, name.rstrip(), lo, hi) for p, b, name, lo, hi in self._h.instruments()
        ]

    def drums(self) -> List[Drum]:
        """Drums struck on the percussion channel, with their names."""
        return [Drum(n, b, name.rstrip() or None, p) for n, b, name, p in self._h.drums()]

    def voice_conflicts(self, voices: int) -> List[VoiceConflict]:
        """Moments at which more notes sound than `voices` (times in whole milliseconds)."""
        return [VoiceConflict(*c) for c in self._h.voice_conflicts(operator.index(voices))]


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
_MIDI_SUFFIXES = (".mid", ".midi", ".kar", ".smf")


def summary_row(path: PathLike) -> Dict[str, Any]:
    """One row of a corpus survey: {'path', 'error', and Song.summary()'s fields}.

    A file that cannot be loaded gives error = the exception's text and None in every other
    field, instead of raising. A plain function of a path, so it runs as it is on a thread
    pool, a process pool or a Dask cluster.
    """
    row: Dict[str, Any] = {"path": _shown_path(path), "error": None}
    try:
        row.update(load(path).summary())
    except (MidiError, OSError) as e:
        row["error"] = str(e)
        row.update(dict.fromkeys(_SUMMARY_FIELDS))
    return row


def _expand(paths: Iterable[PathLike]) -> List[str]:
    files: List[str] = []
    for p in paths:
        p = _shown_path(p)
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

    paths: files, or folders searched for .mid, .midi, .kar and .smf files. Returns one
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
    """The library's General MIDI name of a program 0..127 (ValueError outside)."""
    return core.CMidiFolio.GetInstName(_data_value(program, "program")).rstrip()


def drum_name(note: int) -> Optional[str]:
    """The library's General MIDI drum name of a note (27..87), None for a note 0..127
    without one, ValueError outside 0..127."""
    return core.CMidiFolio.GetDrumName(_data_value(note, "note")).rstrip() or None


def controller_name(controller: int) -> str:
    """The library's name of a controller 0..127 (ValueError outside)."""
    return core.CMidiFolio.GetContrlMsg(_data_value(controller, "controller")).lpszName.rstrip()


_PITCH_CLASSES = ("C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B")
_HZ = re.compile(r"^\s*([0-9]*\.?[0-9]+(?:[eE][-+]?[0-9]+)?)\s*hz\s*$", re.IGNORECASE)
_NAME = re.compile(r"^\s*([A-Ga-g])(#|b|B)?([0-9]{1,2})\s*$")


def pitch(value: Union[int, float, str]) -> Pitch:
    """A pitch from a note number (int), a frequency (float, or a text such as '440hz') or a
    name in the library's octaves (middle C is 'C5'; sharps or flats: 'C#5', 'Db5').

    Raises ValueError for a value that names no MIDI note 0..127.
    """
    song = core.CMidiFolio
    if isinstance(value, bool):
        raise TypeError("a pitch is a note number, a frequency or a name, not a bool")
    if isinstance(value, (int, np.integer)):
        found = song.GetPitchInfo(_data_value(value, "note"))
    elif isinstance(value, (float, np.floating)):
        found = _frequency(float(value))
    elif isinstance(value, str):
        hz = _HZ.match(value)
        name = _NAME.match(value)
        if hz:
            found = _frequency(float(hz.group(1)))
        elif value.strip().isdigit():
            found = song.GetPitchInfo(_data_value(int(value), "note"))
        elif name:
            letter, accidental, octave = name.group(1).upper(), name.group(2), int(name.group(3))
            index = _PITCH_CLASSES.index(letter)
            if accidental == "#":
                index += 1
            elif accidental:
                index -= 1
            found = _note_of(octave * 12 + index, value)
        else:
            raise ValueError(
                "%r is not a pitch: give a note number (60), a frequency (440.0 or '440hz') or a "
                "name with the library's octave (C5 is middle C; C#5, Db5)" % value
            )
    else:
        raise TypeError("a pitch is a note number, a frequency or a name, not %s" % type(value).__name__)
    note = found.byOctave * 12 + _PITCH_CLASSES.index(found.szName)
    if not 0 <= note <= 127:
        raise ValueError("%r lies outside the MIDI notes 0..127" % (value,))
    return Pitch(
        note=note,
        name="%s%d" % (found.szName, found.byOctave),
        scientific="%s%d" % (found.szName, found.byOctave - 1),
        frequency=float(found.dFrequency),
        pitch_class=found.szName,
        octave=int(found.byOctave),
        numbered=song.GetEasySymbol(note),
    )


def _frequency(hz: float) -> Any:
    found = core.CMidiFolio.GetPitchInfo(hz) if hz > 0 and math.isfinite(hz) else None
    if found is None:
        raise ValueError("%r Hz is not a frequency of a note" % hz)
    return found


def _note_of(note: int, text: str) -> Any:
    if not 0 <= note <= 127:
        raise ValueError("%r lies outside the MIDI notes 0..127" % text)
    return core.CMidiFolio.GetPitchInfo(note)
