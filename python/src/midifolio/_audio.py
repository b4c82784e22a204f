"""Audio of a song through FluidSynth and a SoundFont (Song.synthesize).

The compiled engine takes the song's handle: it makes the song's channel and system-exclusive
messages, each at its exact time, and renders them without the GIL.
"""
from __future__ import annotations

import os
from typing import Any, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _midifolio

__all__ = ["synthesize", "messages"]


def _engine() -> Any:
    """The compiled engine, imported on the first render: FluidSynth and its libraries are
    loaded then, not by `import midifolio`."""
    if not _midifolio.HAVE_AUDIO:
        raise RuntimeError("this midifolio was built without audio rendering: it needs FluidSynth and libsndfile")
    from . import _midifolio_audio

    return _midifolio_audio


def messages(song: Any) -> Tuple[npt.NDArray[np.float64], bytes, npt.NDArray[np.int64], float]:
    """The song's MIDI messages as the engine takes them: (seconds, data, offsets, end).

    Message k is data[offsets[k]:offsets[k + 1]] at seconds[k]: the channel messages (status
    byte first) and system exclusive messages (F0 ... F7) of every track, in time order, ties
    in track and file order. `end` is the time of the song's last event, meta events included.
    """
    seconds, data, offsets, end = _engine().messages(song._h)
    return seconds, bytes(data), offsets, float(end)


def synthesize(song: Any, fs: float = 44100, soundfont: Union[str, "os.PathLike[str]", None] = None,
               gain: float = 0.2) -> npt.NDArray[np.float32]:
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
    path: Optional[str] = None if soundfont is None else os.fsdecode(os.fspath(soundfont))
    audio: npt.NDArray[np.float32] = _engine().synthesize(song._h, float(fs), path, float(gain))
    return audio
