"""The audio engine of midifolio (private: use Song.synthesize)."""
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

from ._midifolio import _SongHandle

def synthesize(song: _SongHandle, fs: float, soundfont: Optional[str], gain: float) -> npt.NDArray[np.float32]: ...
def messages(song: _SongHandle) -> Tuple[npt.NDArray[np.float64], bytes, npt.NDArray[np.int64], float]: ...
def default_soundfont() -> str: ...
