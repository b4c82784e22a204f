"""The library's own interface, with the library's names and rules.

CMidiFolio (the song), CMidiTrack (a track walked with a POSITION), CMidiTempo (the tempo
map in whole milliseconds), MIDIEvent and the library's records, the EVT_ and META_
constants, and MakeTicks / MakeMsecs / MakeMeasure / MakeHmsf. See docs/api.md for the
library itself and docs/python.md for how its calls look from Python: results the library
writes through pointer arguments are returned, lists it fills come back as new lists, and
AddTrack / InsertTrack give the song a copy of the track.
"""
from ._midifolio import core as _core

__all__ = sorted(name for name in dir(_core) if not name.startswith("__"))
globals().update({name: getattr(_core, name) for name in __all__})
del _core
