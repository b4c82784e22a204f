"""General MIDI names, scientific pitches (middle C is C4, or as middle_c says) beside the library's
own names, and the library's voice check."""
import numpy as np
import pytest

import midifolio
from conftest import DATA, smf, track


class TestNames:
    def test_program_drum_and_controller_names_are_general_midis(self):
        assert midifolio.program_name(0) == "Acoustic Grand Piano"
        assert midifolio.program_name(1) == "Bright Acoustic Piano"
        assert midifolio.program_name(24) == "Acoustic Guitar (nylon)"
        assert midifolio.program_name(73) == "Flute"
        assert midifolio.program_name(np.uint8(127)) == "Gunshot"
        assert midifolio.drum_name(36) == "Bass Drum 1" and midifolio.drum_name(42) == "Closed Hi-Hat"
        assert midifolio.drum_name(83) == "Jingle Bell"
        assert midifolio.drum_name(27) == "High Q" and midifolio.drum_name(87) == "Open Surdo"
        assert midifolio.controller_name(7) == "Channel Volume"
        assert midifolio.controller_name(64) == "Damper Pedal (Sustain)"
        assert midifolio.controller_name(32) == "Bank Select (LSB)"
        assert midifolio.controller_name(3) == "Undefined"

    def test_the_librarys_own_calls_keep_its_own_tables(self):
        own = midifolio.core.CMidiFolio
        assert own.GetInstName(1) == "Bright Acoustic Paino"  # the library's table, as it is
        assert own.GetContrlMsg(7).lpszName == "Channel volume MSB"
        assert own.GetContrlMsg(2).lpszName.endswith(" ")

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
        for value in (60, "60", "C4", "c4", " C4 ", "B#3", "Dbb4", 261.6, "261.6 Hz", "262hz"):
            p = midifolio.pitch(value)
            assert (p.note, p.name, p.pitch_class, p.octave, p.library_name) == (60, "C4", "C", 4, "C5"), value
        assert midifolio.pitch(60).frequency == pytest.approx(261.6256, abs=1e-4)
        assert midifolio.pitch(60).numbered == "1" and midifolio.pitch(72).numbered == "1'"

    def test_sharps_flats_and_every_accidental(self):
        assert midifolio.pitch("Db4").note == 61
        assert midifolio.pitch("Db4") == midifolio.pitch("C#4")
        assert midifolio.pitch("E#4").note == 65 and midifolio.pitch("E#4").name == "F4"
        assert midifolio.pitch("B#3").note == 60
        assert midifolio.pitch("Cb4").note == 59 and midifolio.pitch("Cb4").name == "B3"
        assert midifolio.pitch("C##4").note == 62 and midifolio.pitch("Bb3").name == "A#3"
        assert midifolio.pitch(0).name == "C-1" and midifolio.pitch(127).name == "G9"
        assert midifolio.pitch("C-1").note == 0 and midifolio.pitch("G9").note == 127

    def test_a440(self):
        a = midifolio.pitch("440hz")
        assert (a.note, a.name, a.frequency, a.library_name) == (69, "A4", 440.0, "A5")
        assert midifolio.pitch(440.0) == a and midifolio.pitch(np.float64(440)) == a and midifolio.pitch("A4") == a

    @pytest.mark.parametrize("middle_c", [3, 4, 5])
    def test_middle_c_numbered_3_4_or_5(self, middle_c):
        p = midifolio.pitch(60, middle_c=middle_c)
        assert (p.name, p.octave) == ("C%d" % middle_c, middle_c)
        assert midifolio.pitch("C%d" % middle_c, middle_c=middle_c).note == 60
        assert midifolio.pitch("B#%d" % (middle_c - 1), middle_c=middle_c).note == 60
        assert midifolio.pitch("A%d" % middle_c, middle_c=middle_c).frequency == 440.0
        # The library's own name does not follow: middle C is C5 there.
        assert p.library_name == "C5"

    @pytest.mark.parametrize("middle_c", [2, 6, 4.5, True, "4"])
    def test_other_numberings_of_middle_c_are_refused(self, middle_c):
        with pytest.raises((ValueError, TypeError)):
            midifolio.pitch(60, middle_c=middle_c)

    @pytest.mark.parametrize("value", [128, -1, "H2", "C#", "", "C10", "G#9", "B#9", "Cb-1", "C-2", 0.0, -440.0,
                                       float("nan"), "1e9hz"])
    def test_values_that_name_no_midi_note(self, value):
        with pytest.raises(ValueError):
            midifolio.pitch(value)

    def test_wrong_types(self):
        for value in (True, None, [60], b"C4"):
            with pytest.raises(TypeError):
                midifolio.pitch(value)


class TestAnalyses:
    @pytest.fixture(scope="class")
    def sample(self):
        return midifolio.load(DATA / "cli" / "sample.mid")

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
        assert song.instruments() == [
            midifolio.Instrument(0, 24, 0, 0, "Acoustic Guitar (nylon)", [0], 3, 50, 62),
            midifolio.Instrument(9, 0, 0, 0, "Drums", [1], 1, 20, 20),
        ]
        assert [(d.note, d.name) for d in song.drums()] == [(20, "")]
        # Four notes start at 0 ms: one record per moment, with the most notes sounding then.
        assert song.voice_conflicts(2) == [midifolio.VoiceConflict(0, 4)]
        assert song.voice_conflicts(4) == []
        with pytest.raises(TypeError):
            song.voice_conflicts(2.5)
