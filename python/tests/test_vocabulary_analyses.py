"""General MIDI names, pitches, and the library's instrument, drum and voice analyses."""
import numpy as np
import pytest

import midifolio
from conftest import DATA, smf, track


class TestNames:
    def test_program_drum_and_controller_names(self):
        assert midifolio.program_name(0) == "Acoustic Grand"
        assert midifolio.program_name(73) == "Flute"
        assert midifolio.program_name(np.uint8(127)) == "Gunshot"
        assert midifolio.drum_name(42) == "Closed Hi-Hat"
        assert midifolio.drum_name(27) == "High Q" and midifolio.drum_name(87) == "Open Surdo"
        assert midifolio.controller_name(7) == "Channel volume MSB"
        # The library's table has trailing blanks; the names here have none.
        assert midifolio.controller_name(2) == "Breath controller (MSB)"
        assert midifolio.core.CMidiFolio.GetContrlMsg(2).lpszName.endswith(" ")

    def test_every_name_is_trimmed_and_present(self):
        for n in range(128):
            for name in (midifolio.program_name(n), midifolio.controller_name(n)):
                assert name and name == name.strip()
            drum = midifolio.drum_name(n)
            assert (drum is not None) == (27 <= n <= 87)

    @pytest.mark.parametrize("call", [midifolio.program_name, midifolio.drum_name, midifolio.controller_name])
    def test_numbers_outside_0_to_127_are_refused(self, call):
        for bad in (-1, 128, 255):
            with pytest.raises(ValueError):
                call(bad)
        with pytest.raises(TypeError):
            call(1.5)


class TestPitch:
    def test_middle_c_every_way(self):
        for value in (60, "60", "C5", "c5", "B#4", 261.6, "261.6 Hz", "262hz"):
            p = midifolio.pitch(value)
            assert (p.note, p.name, p.scientific, p.pitch_class, p.octave) == (60, "C5", "C4", "C", 5), value
        assert midifolio.pitch(60).frequency == pytest.approx(261.6)
        assert midifolio.pitch(60).numbered == "1"

    def test_a440_and_flats(self):
        a = midifolio.pitch("440hz")
        assert (a.note, a.name, a.scientific, a.frequency) == (69, "A5", "A4", 440.0)
        assert midifolio.pitch(440.0) == a and midifolio.pitch(np.float64(440)) == a
        assert midifolio.pitch("Db5") == midifolio.pitch("C#5")
        assert midifolio.pitch("Cb5").note == 59
        assert midifolio.pitch("Bb3").name == "A#3"
        assert midifolio.pitch(0).name == "C0" and midifolio.pitch(127).name == "G10"

    @pytest.mark.parametrize("value", [128, -1, "H2", "C#", "", "C11", "G#10", 0.0, -440.0, float("nan"), "1e9hz"])
    def test_values_that_name_no_midi_note(self, value):
        with pytest.raises(ValueError):
            midifolio.pitch(value)

    def test_wrong_types(self):
        for value in (True, None, [60], b"C5"):
            with pytest.raises(TypeError):
                midifolio.pitch(value)


class TestAnalyses:
    @pytest.fixture(scope="class")
    def sample(self):
        return midifolio.load(DATA / "cli" / "sample.mid")

    def test_instruments_of_the_sample_song(self, sample):
        assert sample.instruments() == [
            midifolio.Instrument(73, 0, "Flute", 60, 69),
            midifolio.Instrument(32, 0, "Acoustic Bass", 36, 43),
            midifolio.Instrument(0, 0, "Acoustic Grand", 47, 57),
        ]

    def test_drums_of_the_sample_song(self, sample):
        assert [(d.note, d.name, d.pitch) for d in sample.drums()] == [
            (36, "Bass Drum1", "C3"), (42, "Closed Hi-Hat", "F#3"),
            (49, "Crash Cymbal 1", "C#4"), (38, "Acoustic Snare", "D3")]

    def test_voice_conflicts_of_the_sample_song(self, sample):
        six = sample.voice_conflicts(6)
        assert len(six) == 47
        assert all(c.voices > 6 for c in six)
        assert [c.msecs for c in six] == sorted(c.msecs for c in six)
        assert sample.voice_conflicts(64) == []

    def test_analyses_of_a_built_song(self, write):
        # Program 24 on channel 1 plays 50..62; a drum without a General MIDI name (note 20).
        lead = track((0, b"\xc0\x18"), (0, b"\x90\x32\x64"), (0, b"\x90\x3e\x64"), (0, b"\x90\x38\x64"),
                     (96, b"\x80\x32\x00"), (0, b"\x80\x3e\x00"), (0, b"\x80\x38\x00"))
        drums = track((0, b"\x99\x14\x64"), (10, b"\x89\x14\x00"))
        song = midifolio.load(write("analyses.mid", smf(lead, drums)))
        assert song.instruments() == [midifolio.Instrument(24, 0, "Acoustic Guitar(nylon)", 50, 62)]
        assert [(d.note, d.name) for d in song.drums()] == [(20, None)]
        # Four notes start at 0 ms: one record per moment, with the most notes sounding then.
        assert song.voice_conflicts(2) == [midifolio.VoiceConflict(0, 4)]
        assert song.voice_conflicts(4) == []
        with pytest.raises(TypeError):
            song.voice_conflicts(2.5)
