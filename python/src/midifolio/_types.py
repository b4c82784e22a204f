"""The small records that midifolio's functions return."""
from __future__ import annotations

from typing import NamedTuple, Optional

_MAJOR = ["Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#"]
_MINOR = ["Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#", "G#", "D#", "A#"]


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
        if not -7 <= self.sharps <= 7:
            return "?"
        names = _MINOR if self.minor else _MAJOR
        return "%s %s" % (names[self.sharps + 7], "minor" if self.minor else "major")


class BarBeat(NamedTuple):
    """Where a tick falls, counted from 1 as musicians count."""

    bar: int
    beat: int
    tick: float
    """Ticks into the beat."""


class Instrument(NamedTuple):
    """A melodic instrument in use (the library's GetInstrument)."""

    program: int
    """0..127, 255 for notes before any program change."""
    bank: int
    """Bank Select LSB in force."""
    name: str
    """The library's General MIDI name."""
    low_note: int
    high_note: int


class Drum(NamedTuple):
    """A drum in use (the library's GetDrums)."""

    note: int
    bank: int
    name: Optional[str]
    """The library's General MIDI drum name, None for a note without one."""
    pitch: str
    """The library's pitch name of the note, e.g. 'C3' for 36."""


class VoiceConflict(NamedTuple):
    """A moment at which more notes sound than there are voices (CheckMidiByVoice)."""

    msecs: int
    """Time of the note-on in the library's whole milliseconds."""
    voices: int
    """Notes sounding then, the new one included."""


class Pitch(NamedTuple):
    """A pitch named every way the library can."""

    note: int
    """MIDI note number, 60 for middle C."""
    name: str
    """The library's name: middle C is 'C5' (octave = note // 12)."""
    scientific: str
    """Scientific pitch notation: middle C is 'C4'."""
    frequency: float
    """The library's table pitch in Hz (A5, note 69, is 440.0)."""
    pitch_class: str
    """'C', 'C#', ... 'B'."""
    octave: int
    """The library's octave (note // 12)."""
    numbered: str
    """Numbered notation (scale degree and octave mark), '' when it has none."""
