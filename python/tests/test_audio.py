"""Audio through FluidSynth (midifolio._audio.synthesize, behind Song.synthesize): stereo
float32 frames that sound as FluidSynth's own player plays the song, the messages handed to the
engine, silence, the rate and gain, the errors, and the GIL released while it renders."""
import os
import shutil
import subprocess
import sys
import threading
import time
import wave
from pathlib import Path

import numpy as np
import pytest

import midifolio
from midifolio import _audio, _midifolio
from conftest import DATA, meta, smf, tempo, track, vlq

SMALL = "/usr/share/sounds/sf2/TimGM6mb.sf2"
SAMPLE = DATA / "cli" / "sample.mid"

pytestmark = [
    pytest.mark.skipif(not _midifolio.HAVE_AUDIO, reason="built without audio rendering"),
    pytest.mark.skipif(not os.path.exists(SMALL), reason="timgm6mb-soundfont is not installed"),
]


def song_of(write, *tracks, division=480):
    return midifolio.load(write("song.mid", smf(*tracks, fmt=1, division=division)))


def envelope(audio, fs):
    """RMS of both channels in windows of 50 ms."""
    window = int(0.05 * fs)
    frames = -(-len(audio) // window) * window
    padded = np.zeros((frames, 2))
    padded[: len(audio)] = audio
    return np.sqrt((padded.reshape(-1, window, 2) ** 2).mean(axis=(1, 2)))


def correlation(x, y):
    n = max(len(x), len(y))
    return np.corrcoef(np.pad(x, (0, n - len(x))), np.pad(y, (0, n - len(y))))[0, 1]


def audible_seconds(audio, fs):
    """Seconds to the end of the last frame above -60 dBFS."""
    loud = np.nonzero(np.abs(audio).max(axis=1) > 1e-3)[0]
    return (loud[-1] + 1) / fs if len(loud) else 0.0


# ------------------------------------------------------------------ the audio


def test_synthesize_gives_stereo_float32_frames_for_the_song_and_its_fade():
    song = midifolio.load(SAMPLE)
    audio = _audio.synthesize(song, soundfont=SMALL)
    assert audio.dtype == np.float32 and audio.ndim == 2 and audio.shape[1] == 2
    assert audio.flags.c_contiguous and audio.flags.owndata is False  # the engine's buffer
    assert song.duration <= len(audio) / 44100 <= song.duration + 3
    assert 0.01 < np.abs(audio).max() < 1


@pytest.mark.skipif(shutil.which("fluidsynth") is None, reason="fluidsynth is not installed")
def test_the_audio_sounds_as_fluidsynths_own_player_plays_it(tmp_path):
    wav = tmp_path / "reference.wav"
    subprocess.run(["fluidsynth", "-ni", "-F", str(wav), "-r", "44100", SMALL, str(SAMPLE)],
                   check=True, capture_output=True, timeout=600)
    with wave.open(str(wav)) as w:
        frames = w.readframes(w.getnframes())
    reference = np.frombuffer(frames, dtype="<i2").reshape(-1, 2) / 32768.0
    ours = _audio.synthesize(midifolio.load(SAMPLE), soundfont=SMALL)
    assert correlation(envelope(ours, 44100), envelope(reference, 44100)) >= 0.98
    assert abs(audible_seconds(ours, 44100) - audible_seconds(reference, 44100)) <= 0.5


def test_a_song_without_notes_is_silence_as_long_as_the_song(write):
    song = song_of(write, track((0, bytes([0xC0, 40])), (480, bytes([0xB0, 7, 100])),
                                (480, bytes([0xE0, 0, 0x50]))))
    audio = _audio.synthesize(song, soundfont=SMALL)
    assert audio.shape == (44100, 2)  # two quarter notes at 120 bpm
    assert np.abs(audio).max() < 1e-6  # below -120 dBFS


def test_the_rate_sets_the_frames_and_the_gain_the_level(write):
    # A short note in a song of 3 s: the note has faded long before the end.
    song = song_of(write, track((0, bytes([0x90, 60, 100])), (240, bytes([0x80, 60, 0])),
                                (2640, meta(0x01, b"end"))))
    normal = _audio.synthesize(song, soundfont=SMALL)
    low = _audio.synthesize(song, fs=22050, soundfont=SMALL)
    loud = _audio.synthesize(song, soundfont=SMALL, gain=0.4)
    assert (len(normal), len(low)) == (3 * 44100, 3 * 22050)
    assert np.abs(loud).max() / np.abs(normal).max() == pytest.approx(2.0, rel=0.01)


def test_the_same_song_gives_the_same_samples():
    song = midifolio.load(SAMPLE)
    assert np.array_equal(_audio.synthesize(song, soundfont=SMALL),
                          _audio.synthesize(song, soundfont=Path(SMALL)))


# ------------------------------------------------------------------ what the engine is given


def test_the_engine_gets_the_channel_and_sysex_messages_in_time_order(write):
    gm_on = bytes([0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7])
    first = track((0, tempo(250000)), (0, gm_on), (0, bytes([0xC0, 40])),
                  (240, bytes([0x90, 60, 100])), (240, bytes([0x80, 60, 0])),
                  (0, meta(0x01, b"text")))
    second = track((0, bytes([0xB9, 7, 90])), (240, bytes([0xE1, 0x00, 0x50])),
                   (0, bytes([0xD1, 30])), (0, bytes([0xA1, 60, 20])))
    seconds, data, offsets, end = _audio.messages(song_of(write, first, second))
    got = [(round(t, 6), data[offsets[k]:offsets[k + 1]]) for k, t in enumerate(seconds)]
    assert got == [
        (0.0, bytes([0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7])),  # F0, the payload, its F7
        (0.0, bytes([0xC0, 40])),
        (0.0, bytes([0xB9, 7, 90])),
        (0.125, bytes([0x90, 60, 100])),  # a quarter note lasts 0.25 s
        (0.125, bytes([0xE1, 0x00, 0x50])),  # pitch bend: LSB, MSB
        (0.125, bytes([0xD1, 30])),
        (0.125, bytes([0xA1, 60, 20])),
        (0.25, bytes([0x80, 60, 0])),
    ]
    assert offsets.dtype == np.int64 and len(offsets) == len(seconds) + 1
    assert end == pytest.approx(0.25)


def test_a_sysex_payload_without_its_f7_gets_one(write):
    song = song_of(write, track((0, bytes([0xF0, 3, 0x43, 0x10, 0x4C])), (0, bytes([0x90, 60, 1]))))
    _, data, offsets, _ = _audio.messages(song)
    assert data[offsets[0]:offsets[1]] == bytes([0xF0, 0x43, 0x10, 0x4C, 0xF7])


# ------------------------------------------------------------------ errors


def test_a_missing_soundfont_is_a_file_not_found_error(tmp_path):
    song = midifolio.load(SAMPLE)
    with pytest.raises(FileNotFoundError, match="nothing.sf2"):
        _audio.synthesize(song, soundfont=tmp_path / "nothing.sf2")
    with pytest.raises(ValueError, match="not a SoundFont"):
        _audio.synthesize(song, soundfont=SAMPLE)


@pytest.mark.parametrize("options, message", [
    ({"fs": 100}, "8000..96000"),
    ({"fs": float("nan")}, "8000..96000"),
    ({"gain": 11}, "0..10"),
    ({"gain": -0.1}, "0..10"),
])
def test_a_rate_or_gain_out_of_range_is_a_value_error(options, message):
    with pytest.raises(ValueError, match=message):
        _audio.synthesize(midifolio.load(SAMPLE), soundfont=SMALL, **options)


def test_the_engine_and_fluidsynth_load_with_the_first_render_not_with_the_package():
    script = (
        "import midifolio, sys\n"
        "def mapped():\n"
        "    return 'libfluidsynth' in open('/proc/self/maps').read()\n"
        "before = mapped()\n"
        "midifolio.load(sys.argv[1]).synthesize(soundfont=sys.argv[2])\n"
        "print(before, mapped(), 'midifolio._midifolio_audio' in sys.modules)\n")
    out = subprocess.run([sys.executable, "-c", script, str(SAMPLE), SMALL], check=True,
                         capture_output=True, text=True, timeout=300, env=dict(os.environ))
    assert out.stdout.split() == ["False", "True", "True"]


# ------------------------------------------------------------------ threads


def test_python_runs_on_while_another_thread_renders():
    song = midifolio.load(SAMPLE)
    started = time.perf_counter()
    _audio._engine().synthesize(song._h, 44100.0, SMALL, 0.2)
    one = time.perf_counter() - started

    done = threading.Event()
    worker = threading.Thread(
        target=lambda: [_audio._engine().synthesize(song._h, 44100.0, SMALL, 0.2) for _ in range(3)]
        and done.set())
    gaps, last = [], time.perf_counter()
    worker.start()
    while not done.is_set():
        now = time.perf_counter()
        gaps.append(now - last)
        last = now
    worker.join()
    # A render that held the GIL would stop this loop for the whole render.
    assert len(gaps) > 1000
    assert max(gaps) < one / 2


def test_songs_render_on_several_threads_at_once_as_they_render_alone():
    songs = [midifolio.load(DATA / "corpus" / name) for name in
             ("mma__twinkle.mid", "abc2midi__abcm2ps-sample8.mid", "freedink__love.mid")]
    alone = [_audio.synthesize(song, soundfont=SMALL) for song in songs]
    together = [None] * 6

    def render(i):
        together[i] = _audio.synthesize(songs[i % 3], soundfont=SMALL)

    threads = [threading.Thread(target=render, args=(i,)) for i in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i, audio in enumerate(together):
        assert np.array_equal(audio, alone[i % 3])
