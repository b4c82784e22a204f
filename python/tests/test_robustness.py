"""Misuse gets a clear exception, never a crash or a read of freed memory: tracks removed from
their song, positions whose events were released, times that are no finite number, and songs
at the edges (no events, no length)."""
import numpy as np
import pytest

import midifolio
from conftest import DATA, smf, track

SAMPLE = DATA / "cli" / "sample.mid"


class TestRemovedTracks:
    def test_a_track_removed_from_its_song_raises_on_every_use(self):
        song = midifolio.load(SAMPLE)
        t = song.core.GetTrack(0)
        it, pos = iter(t), t.GetEventHeadPosition()
        song.core.RemoveTrkAll()
        assert song.core.GetTrack(0) is None and song.core.GetTrackNum() == 0
        for use in (lambda: t.GetCount(), lambda: len(t), lambda: list(t), lambda: next(it),
                    lambda: t.GetEventHeadPosition(), lambda: t.GetNextEvent(pos), lambda: t.GetAt(pos),
                    lambda: t.DeleteEvent(pos)):
            with pytest.raises(RuntimeError, match="removed from its song"):
                use()

    def test_the_song_and_its_views_go_on_after_the_removal(self):
        song = midifolio.load(SAMPLE)
        song.core.GetTrack(1)
        song.core.RemoveTrkAll()
        assert len(song.notes()) == 282  # the views are the file's until refresh()
        song.refresh()
        assert len(song.notes()) == 0 and song.track_count == 0


class TestReleasedPositions:
    def test_positions_and_iterators_taken_before_remove_all_pt_are_refused(self):
        t = midifolio.load(SAMPLE).core.GetTrack(1)
        pos, tail, it = t.GetEventHeadPosition(), t.GetTailPosition(), iter(t)
        next(it)
        t.RemoveAllPt()
        assert t.GetCount() == 0 and list(t) == []
        for use in (lambda: t.GetNextEvent(pos), lambda: t.GetAt(tail), lambda: t.DeleteEvent(pos),
                    lambda: t.InsertEventAfter(pos, midifolio.core.MIDIEvent()), lambda: next(it)):
            with pytest.raises(ValueError, match="released"):
                use()

    def test_positions_taken_before_new_raw_data_are_refused_and_new_ones_work(self):
        t = midifolio.core.CMidiTrack()
        data = track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))
        assert t.SetMidiTrackRawData(data) == 1
        old = t.GetEventHeadPosition()
        assert t.SetMidiTrackRawData(data) == 1
        with pytest.raises(ValueError, match="released"):
            t.GetAt(old)
        ev, after = t.GetNextEvent(t.GetEventHeadPosition())
        assert (ev.byData1, ev.byData2) == (60, 100) and after is not None
        assert t.SetMidiTrackRawData(b"") == 0  # refused before anything is released
        assert t.GetAt(after).byData1 == 60

    def test_a_position_of_another_track_is_refused(self):
        song = midifolio.load(SAMPLE).core
        with pytest.raises(ValueError, match="another track"):
            song.GetTrack(0).GetAt(song.GetTrack(1).GetEventHeadPosition())


# ------------------------------------------------------------------ times that are no number

NOT_FINITE = [float("inf"), float("-inf"), float("nan")]


@pytest.fixture(scope="module")
def song():
    return midifolio.load(SAMPLE)


class TestTimesThatAreNoNumber:
    @pytest.mark.parametrize("value", NOT_FINITE)
    def test_scalars_are_refused(self, song, value):
        for call in (song.bar_beat, song.tick_to_seconds, song.seconds_to_tick):
            with pytest.raises(ValueError, match="finite"):
                call(value)
        for unit in ("seconds", "ticks", "bars"):
            with pytest.raises(ValueError, match="finite"):
                song.crop(value, 10, unit=unit)
            with pytest.raises(ValueError, match="finite"):
                song.crop(1, value, unit=unit)

    @pytest.mark.parametrize("value", NOT_FINITE)
    def test_arrays_holding_one_are_refused_naming_where(self, song, value):
        with pytest.raises(ValueError, match=r"\[2\]"):
            song.tick_to_seconds(np.array([0.0, 96.0, value]))
        with pytest.raises(ValueError, match=r"\[2\]"):
            song.seconds_to_tick([0.0, 1.0, value])
        with pytest.raises(ValueError, match="finite"):
            song.seconds_to_tick(np.array([[0.0, value]]))

    def test_finite_arrays_of_every_kind_are_answered(self, song):
        ticks = np.array([0, 480, 960])
        want = song.tick_to_seconds(ticks)
        for kind in (np.int32, np.uint16, np.float32, np.float64, bool):
            assert song.tick_to_seconds(ticks.astype(kind)).shape == (3,)
        np.testing.assert_allclose(song.seconds_to_tick(want), ticks)
        assert song.tick_to_seconds([]).shape == (0,)

    def test_other_scalars_are_refused(self, song):
        for call in (song.bar_beat, song.tick_to_seconds, song.seconds_to_tick):
            with pytest.raises(TypeError):
                call(None)
        with pytest.raises(ValueError):
            song.bar_beat("one")


# ------------------------------------------------------------------ songs at the edges


class TestSongsAtTheEdges:
    def test_a_song_of_notes_that_lasts_0_seconds_has_a_roll_of_no_frames(self):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (0, b"\x80\x3c\x00"))))
        assert song.duration == 0.0 and len(song.notes()) == 1
        for fs in (1, 100, 1e6):
            roll = song.piano_roll(fs=fs)
            assert roll.shape == (128, 0) and roll.dtype == np.uint8
        assert song.piano_roll(drums=True).shape == (128, 0)

    def test_a_song_of_no_tracks(self):
        song = midifolio.loads(b"MThd\0\0\0\x06\0\x01\0\0\0\x60")
        assert song.track_count == 0 and len(song.notes()) == 0 and len(song.events()) == 0
        assert song.duration == 0 and song.bars == 0 and song.tracks() == [] and song.instruments() == []
        assert song.piano_roll().shape == (128, 0)
        assert midifolio.loads(song.dumps()).track_count == 0

    def test_a_roll_too_large_to_make_is_refused(self, song):
        with pytest.raises(ValueError, match="lower fs"):
            song.piano_roll(fs=1e9)

    def test_a_song_cannot_be_made_directly(self):
        with pytest.raises(TypeError, match="midifolio.load"):
            midifolio.Song()
