"""The small records that midifolio's functions return."""
from __future__ import annotations

from typing import List, NamedTuple

from . import _midifolio

__all__ = [
    "TempoChange",
    "TimeSignature",
    "KeySignature",
    "BarBeat",
    "Instrument",
    "Track",
    "Drum",
    "VoiceConflict",
    "Pitch",
]


class TempoChange(NamedTuple):
    """A tempo event of the file."""

    tick: int
    """Where it stands, in ticks."""
    seconds: float
    """Exact time of the tick."""
    bar: int
    """The bar it stands in, counted from 1."""
    us_per_quarter: int
    """Microseconds per quarter note."""
    bpm: float
    """Quarter notes per minute (60,000,000 / us_per_quarter)."""
    track: int
    """Index of the track that holds it, from 0."""


class TimeSignature(NamedTuple):
    """A time-signature event of the file: numerator / denominator."""

    tick: int
    seconds: float
    bar: int
    """The bar it starts, counted from 1."""
    numerator: int
    denominator: int
    """The note value of a beat: 4 for x/4, 8 for x/8 (0 when the file's exponent has none)."""
    track: int


class KeySignature(NamedTuple):
    """A key-signature event of the file."""

    tick: int
    seconds: float
    bar: int
    sharps: int
    """-7 (seven flats) .. 7 (seven sharps)."""
    minor: bool
    track: int

    @property
    def name(self) -> str:
        """The key, e.g. 'Bb major' or 'E minor' ('?' for a count beyond seven)."""
        return str(_midifolio.key_name(self.sharps, self.minor)) or "?"


class BarBeat(NamedTuple):
    """Where a tick falls, counted from 1 as musicians count."""

    bar: int
    beat: int
    tick: float
    """Ticks into the beat."""


class Instrument(NamedTuple):
    """An instrument in use: the notes of one channel under one program and bank."""

    channel: int
    """0..15, as in notes() (9 is the percussion channel)."""
    program: int
    """The program in force at the notes' starts, 0..127."""
    bank_msb: int
    """Bank Select (controller 0) in force."""
    bank_lsb: int
    """Bank Select LSB (controller 32) in force."""
    name: str
    """The General MIDI name of the program ('Drums' on channel 9)."""
    tracks: List[int]
    """The tracks its notes are in, from 0."""
    notes: int
    lowest: int
    """Lowest note played."""
    highest: int
    """Highest note played."""


class Track(NamedTuple):
    """What a track holds."""

    index: int  # type: ignore[assignment]  # the track's index, in place of tuple.index
    """From 0, as in notes()."""
    name: str
    """Its first track-name event ('' without one)."""
    channels: List[int]
    """The channels of its channel messages, from 0."""
    programs: List[int]
    """The programs of its notes off the percussion channel."""
    notes: int
    is_drum: bool
    """It has notes, all on the percussion channel."""


class Drum(NamedTuple):
    """A drum struck on the percussion channel."""

    note: int
    name: str
    """Its General MIDI name ('' for a note without one)."""
    pitch: str
    """The note's scientific pitch name, e.g. 'C2' for 36."""
    strokes: int


class VoiceConflict(NamedTuple):
    """A moment at which more notes sound than there are voices (the library's check)."""

    msecs: int
    """Time of the note-on in the library's whole milliseconds."""
    voices: int
    """Notes sounding then, the new one included."""


class Pitch(NamedTuple):
    """A pitch named every way."""

    note: int
    """MIDI note number, 60 for middle C."""
    name: str
    """Scientific pitch name: middle C is 'C4' (or as middle_c= says)."""
    frequency: float
    """Equal-tempered frequency in Hz, A4 = 440."""
    pitch_class: str
    """'C', 'C#', ... 'B'."""
    octave: int
    """The octave of name."""
    numbered: str
    """Numbered notation (scale degree and octave mark), '' when it has none."""
    library_name: str
    """The library's own name (CMidiFolio.GetPitchInfo): middle C is 'C5'."""
