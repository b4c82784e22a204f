"""The package is typed: it passes mypy --strict with its stubs (Debian's python3-mypy), a
program that uses it type-checks against them, and it exports its public names and nothing
else."""
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import midifolio
from conftest import SOURCE

PACKAGE = SOURCE / "python" / "src" / "midifolio"

USER_PROGRAM = '''
import numpy as np
import numpy.typing as npt

import midifolio

song: midifolio.Song = midifolio.load("song.mid", recover=True)
notes: npt.NDArray[np.void] = song.notes(sustain=True)
seconds: float = song.duration + song.tempos()[0].bpm
made = midifolio.from_notes({"pitch": [60], "velocity": [90], "start": [0.0], "end": [1.0]})
edited: midifolio.Song = made.transpose(2).crop(0, 1).quantize("1/16").resample(96)
data: bytes = midifolio.merge([song, edited]).dumps()
again = midifolio.loads(data)
name: str = midifolio.pitch("Db4").name + midifolio.program_name(1)
drum = midifolio.drum_name(36)
if drum is not None:
    name += drum
try:
    midifolio.load("missing.mid")
except midifolio.MidiError as e:
    cause: str = e.cause or e.message
rows = midifolio.scan(["a.mid", "b.mid"], jobs=2)
kind: int = midifolio.EVT_NOTEON
core_song: midifolio.core.CMidiFolio = again.core
'''


def mypy_available():
    try:
        subprocess.run(["/usr/bin/python3", "-m", "mypy", "--version"], check=True, capture_output=True,
                       env=mypy_env(), timeout=60)
        return True
    except (OSError, subprocess.CalledProcessError):
        return False


def mypy_env():
    """The environment for mypy: no preloaded sanitizer runtime (it checks sources only)."""
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "PYTHONPATH")}
    env["MYPYPATH"] = str(PACKAGE.parent)
    return env


@pytest.mark.skipif(not os.path.exists("/usr/bin/python3") or not mypy_available(),
                    reason="mypy is not installed (Debian: python3-mypy)")
def test_the_package_and_its_stubs_pass_mypy_strict_and_so_does_a_program_using_them(tmp_path):
    copy = tmp_path / "src" / "midifolio"
    # A copy of the package, so that no cache or build output lands in the source tree, and
    # so that the stubs of the extension stand in for it (as they do for users).
    shutil.copytree(PACKAGE, copy)
    program = tmp_path / "use_midifolio.py"
    program.write_text(textwrap.dedent(USER_PROGRAM))
    env = mypy_env()
    env["MYPYPATH"] = str(copy.parent)
    result = subprocess.run(
        ["/usr/bin/python3", "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"),
         "--no-error-summary", str(copy), str(program)],
        capture_output=True, text=True, env=env, cwd=tmp_path, timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    checked = {p.name for p in copy.iterdir()}
    assert {"__init__.py", "_types.py", "core.pyi", "_midifolio.pyi", "py.typed"} <= checked


def test_the_package_exports_its_public_names_and_nothing_else():
    public = {name for name in vars(midifolio) if not name.startswith("_")}
    assert public == set(midifolio.__all__)
    assert len(midifolio.__all__) == len(set(midifolio.__all__))
    for helper in ("np", "os", "re", "math", "operator", "Dict", "List", "Optional", "Any", "Union",
                   "annotations", "concurrent", "PathLike", "TYPE_CHECKING"):
        assert not hasattr(midifolio, helper), helper
    # The codes of the events' kind field are the library's.
    for name in (n for n in midifolio.__all__ if n.startswith("EVT_")):
        assert getattr(midifolio, name) == getattr(midifolio.core, name)
    assert {"load", "loads", "from_notes", "merge", "Song", "MidiError", "NOTE_DTYPE", "Track"} <= public


def test_the_records_are_typed_named_tuples():
    for record in (midifolio.TempoChange, midifolio.TimeSignature, midifolio.KeySignature, midifolio.BarBeat,
                   midifolio.Instrument, midifolio.Track, midifolio.Drum, midifolio.VoiceConflict, midifolio.Pitch):
        assert issubclass(record, tuple) and record.__annotations__
        assert list(record.__annotations__) == list(record._fields)
    assert midifolio.Track(3, "", [], [], 0, False).index == 3


@pytest.mark.skipif(sys.version_info < (3, 8), reason="typing.get_type_hints of the records")
def test_the_records_type_hints_resolve():
    import typing

    for record in (midifolio.Instrument, midifolio.Track, midifolio.Pitch):
        assert typing.get_type_hints(record)
