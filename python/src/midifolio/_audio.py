"""Audio of a song through FluidSynth and a SoundFont (Song.synthesize).

The song's channel and system exclusive messages go to the compiled engine as plain arrays,
each at its exact time in seconds; the engine renders them without the GIL.
"""
from __future__ import annotations

import os
from typing import Any, Optional, Tuple, Union

import numpy as np

from . import _midifolio
from .core import (
    EVT_CHANPRESSURE,
    EVT_CONTROL,
    EVT_KEYPRESSURE,
    EVT_NOTEOFF,
    EVT_NOTEON,
    EVT_PITCHBEND,
    EVT_PROGRAM,
    EVT_SYSEX,
)

# Bytes of each channel message: status, data1[, data2] (a pitch bend: LSB, MSB).
_THREE_BYTES = (EVT_NOTEOFF, EVT_NOTEON, EVT_KEYPRESSURE, EVT_CONTROL, EVT_PITCHBEND)
_TWO_BYTES = (EVT_PROGRAM, EVT_CHANPRESSURE)


def messages(song: Any) -> Tuple[np.ndarray, bytes, np.ndarray, float]:
    """The song's MIDI messages as the engine takes them: (seconds, data, offsets, end).

    Message k is data[offsets[k]:offsets[k + 1]] at seconds[k]: the channel messages (status
    byte first) and system exclusive messages (F0 ... F7) of every track, in time order, ties
    in track and list order. `end` is the time of the song's last event, meta events included.
    """
    events = song.events(payload=True)
    end = float(events["seconds"].max()) if len(events) else 0.0
    kind = events["kind"]
    three = np.isin(kind, _THREE_BYTES) & (events["channel"] < 16)
    two = np.isin(kind, _TWO_BYTES) & (events["channel"] < 16)
    sysex = kind == EVT_SYSEX
    chosen = events[three | two | sysex]
    chosen = chosen[np.argsort(chosen["seconds"], kind="stable")]

    sizes = np.where(np.isin(chosen["kind"], _TWO_BYTES), 2, 3).astype(np.int64)
    is_sysex = chosen["kind"] == EVT_SYSEX
    frames = [_sysex_bytes(p) for p in chosen["payload"][is_sysex]]
    sizes[is_sysex] = [len(f) for f in frames]
    offsets = np.zeros(len(chosen) + 1, dtype=np.int64)
    np.cumsum(sizes, out=offsets[1:])

    data = np.zeros(int(offsets[-1]), dtype=np.uint8)
    starts = offsets[:-1]
    data[starts] = chosen["status"]
    data[starts[~is_sysex] + 1] = chosen["data1"][~is_sysex]
    long = sizes == 3
    data[starts[long & ~is_sysex] + 2] = chosen["data2"][long & ~is_sysex]
    for at, frame in zip(starts[is_sysex], frames):
        data[at:at + len(frame)] = np.frombuffer(frame, dtype=np.uint8)
    return chosen["seconds"].astype(np.float64), data.tobytes(), offsets, end


def _sysex_bytes(payload: Optional[bytes]) -> bytes:
    """A system exclusive message as sent: F0, the payload, F7 (added when it lacks one)."""
    body = payload or b""
    return b"\xf0" + body + (b"" if body.endswith(b"\xf7") else b"\xf7")


def synthesize(song: Any, fs: float = 44100, soundfont: Union[str, "os.PathLike[str]", None] = None,
               gain: float = 0.2) -> np.ndarray:
    """The song played through FluidSynth: float32 samples of shape (frames, 2), stereo.

    fs is the sample rate (8000..96000 Hz); soundfont a .sf2 or .sf3 file (None: the system's
    General MIDI set, /usr/share/sounds/sf2/FluidR3_GM.sf2 on Debian); gain FluidSynth's
    master gain (0..10). Every channel plays (channel 10 as drums) with its programs, banks,
    controllers, pitch bends and system exclusive resets, each at its exact time. The audio
    lasts to the song's last event, then until the last note has faded below -90 dBFS (3 s at
    most). The GIL is released while the audio is rendered.

    FileNotFoundError for a SoundFont that is not there, ValueError for one FluidSynth cannot
    read or a rate or gain out of range.
    """
    path = None if soundfont is None else os.fsdecode(os.fspath(soundfont))
    seconds, data, offsets, end = messages(song)
    return _midifolio.synthesize(seconds, data, offsets, end, float(fs), path, float(gain))
