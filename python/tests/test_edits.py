"""The edits (transpose, scale_tempo, crop, select, quantize, resample, merge): each checked
against what python3-mido reads in the bytes of the song before and after, each giving a new,
valid song and leaving the song it was made from as it was."""
import numpy as np
import pytest

import midifolio
import smf_rules
from conftest import (
    DATA,
    assert_notes_equal,
    key_signature,
    meta,
    smf,
    tempo,
    time_signature,
    track,
)

# 96 ticks per quarter note. Track 1: the maps, and channel 1 (index 0) with program 40, bank
# 1, volume 100 and a pitch bend, later program 41, volume 80, another bend, a tempo of 240 bpm
# and 3/4 at tick 384, another key at 480. Track 2: drums on channel 10 and a bass on channel 2
# (program 33) whose last note lasts past tick 450.
LEAD = track(
    (0, meta(0x03, b"Lead")), (0, tempo(500000)), (0, time_signature(4, 2)), (0, key_signature(2, False)),
    (0, b"\xc0\x28"), (0, b"\xb0\x00\x01"), (0, b"\xb0\x07\x64"), (0, b"\xe0\x64\x40"),
    (0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"), (0, b"\x90\x3e\x60"), (96, b"\x80\x3e\x00"),
    (0, b"\x90\x40\x5c"), (8, b"\xb0\x07\x50"), (100, b"\xc0\x29"), (50, b"\xe0\x00\x30"),
    (34, b"\x80\x40\x00"), (0, tempo(250000)), (0, time_signature(3, 2)), (0, b"\x90\x41\x58"),
    (0, b"\xa0\x41\x20"), (96, b"\x80\x41\x00"), (0, key_signature(-1, False)), (0, b"\x90\x43\x54"),
    (120, b"\x80\x43\x00"),
)
BAND = track(
    (0, b"\xc1\x21"), (0, b"\x99\x24\x7f"), (0, b"\x91\x28\x70"), (24, b"\x89\x24\x00"),
    (72, b"\x99\x2a\x50"), (24, b"\x89\x2a\x00"), (72, b"\x99\x24\x7f"), (0, b"\x81\x28\x00"),
    (0, b"\x91\x2b\x70"), (24, b"\x89\x24\x00"), (72, b"\x99\x26\x60"), (24, b"\x89\x26\x00"),
    (264, b"\x81\x2b\x00"),
)
SOURCE = smf(LEAD, BAND)
NOTE_MESSAGES = ("note_on", "note_off", "polytouch")


@pytest.fixture
def source():
    song = midifolio.loads(SOURCE)
    yield song
    # Every edit leaves the song it was made from as it was.
    assert song.dumps() == SOURCE
    np.testing.assert_array_equal(song.notes(), midifolio.loads(SOURCE).notes())


def timed(midi):
    """The messages of each track as (tick, message), without the end-of-track events."""
    out = []
    for t in midi.tracks:
        tick, rows = 0, []
        for m in t:
            tick += m.time
            if m.type != "end_of_track":
                rows.append((tick, m.copy(time=0)))
        out.append(rows)
    return out


def in_force(rows, tick):
    """What the messages of a track before `tick` leave in force: program, controllers, bend,
    tempo, time and key signature, by (type, channel, controller)."""
    state = {}
    for at, m in rows:
        if at >= tick:
            break
        if m.type == "program_change":
            state[("program", m.channel)] = m.program
        elif m.type == "control_change":
            state[("control", m.channel, m.control)] = m.value
        elif m.type == "pitchwheel":
            state[("bend", m.channel)] = m.pitch
        elif m.type == "set_tempo":
            state[("tempo",)] = m.tempo
        elif m.type == "time_signature":
            state[("meter",)] = (m.numerator, m.denominator)
        elif m.type == "key_signature":
            state[("key",)] = m.key
    return state


def valid(song):
    data = song.dumps()
    assert smf_rules.problems(data) == []
    return data


# ------------------------------------------------------------------ transpose


class TestTranspose:
    def test_every_note_off_the_drums_moves_and_nothing_else_changes(self, source, mido_read):
        before, _ = mido_read(SOURCE)
        moved = source.transpose(5)
        after, reference = mido_read(valid(moved))
        for old, new in zip(timed(before), timed(after)):
            assert [t for t, _ in old] == [t for t, _ in new]
            for (_, a), (_, b) in zip(old, new):
                if a.type in NOTE_MESSAGES and a.channel != 9:
                    assert b == a.copy(note=a.note + 5)
                else:
                    assert b == a
        assert_notes_equal(moved.notes(), reference)

    def test_the_drums_move_only_when_asked(self, source, mido_read):
        before, _ = mido_read(SOURCE)
        after, _ = mido_read(valid(source.transpose(-3, drums=True)))
        for old, new in zip(timed(before), timed(after)):
            for (_, a), (_, b) in zip(old, new):
                assert b == (a.copy(note=a.note - 3) if a.type in NOTE_MESSAGES else a)
        # A drum that would leave 0..127 stops nothing while the drums stay.
        drums = lambda s: s.notes()[s.notes()["channel"] == 9]  # noqa: E731
        np.testing.assert_array_equal(drums(source.transpose(-39)), drums(source))
        with pytest.raises(ValueError, match=r"note 36 \(C2\) of track 2 at tick 0 would move to -3"):
            source.transpose(-39, drums=True)

    def test_a_note_that_would_leave_0_to_127_is_named(self, source):
        with pytest.raises(ValueError, match=r"note 67 \(G4\) of track 1 at tick 480 would move to 128, "
                                             r"outside 0..127"):
            source.transpose(61)
        for huge in (2**31 - 1, -(2**31), 2**70):
            with pytest.raises(ValueError, match="outside 0..127"):
                source.transpose(huge)
        with pytest.raises(TypeError):
            source.transpose(1.5)
        np.testing.assert_array_equal(source.transpose(0).events(), source.events())


# ------------------------------------------------------------------ scale_tempo


class TestScaleTempo:
    def test_seconds_are_divided_by_the_factor_and_ticks_stay(self, source, mido_read):
        before, old_notes = mido_read(SOURCE)
        faster = source.scale_tempo(2)
        after, new_notes = mido_read(valid(faster))
        tempos = [(t, m.tempo) for rows in timed(after) for t, m in rows if m.type == "set_tempo"]
        assert tempos == [(0, 250000), (384, 125000)]
        old, new = np.array(old_notes), np.array(new_notes)
        np.testing.assert_array_equal(new[:, :7], old[:, :7])
        np.testing.assert_allclose(new[:, 7:], old[:, 7:] / 2, atol=1e-9)
        assert_notes_equal(faster.notes(), new_notes)
        assert faster.duration == pytest.approx(source.duration / 2)

    def test_a_factor_that_does_not_divide_a_tempo_rounds_to_the_microsecond(self, source):
        slower = source.scale_tempo(0.7)
        assert [t.us_per_quarter for t in slower.tempos()] == [714286, 357143]
        np.testing.assert_allclose(slower.notes()["end"], source.notes()["end"] / 0.7, rtol=1e-6)
        np.testing.assert_array_equal(slower.notes()["end_tick"], source.notes()["end_tick"])

    def test_the_default_tempo_is_scaled_and_stated_where_no_tempo_stands_at_tick_0(self, mido_read):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"), (0, tempo(1000000)),
                                         (96, b"\xff\x01\x00"))))
        after, _ = mido_read(valid(song.scale_tempo(4)))
        assert [(t, m.tempo) for t, m in timed(after)[0] if m.type == "set_tempo"] == [(0, 125000), (96, 250000)]

    def test_a_tempo_of_0_which_no_clock_follows_stays_0(self, mido_read):
        # The maps pass over a tempo of 0 (it would stop time); scaled, it must not become a
        # tempo of 1 microsecond that they would follow.
        song = midifolio.loads(smf(track((0, tempo(500000)), (0, b"\x90\x3c\x64"), (96, tempo(0)),
                                         (96, b"\x80\x3c\x00"))))
        faster = song.scale_tempo(2)
        after, _ = mido_read(valid(faster))
        assert [(t, m.tempo) for t, m in timed(after)[0] if m.type == "set_tempo"] == [(0, 250000), (96, 0)]
        assert faster.notes()["end"].tolist() == pytest.approx([song.notes()["end"][0] / 2])

    def test_a_tempo_scaled_beyond_what_a_file_states_is_named(self, source, mido_read):
        with pytest.raises(ValueError, match=r"^the tempo at tick 0 of track 1 \(500,000 microseconds per "
                           r"quarter note\) scaled by 0\.01 would be above 16,777,215"):
            source.scale_tempo(0.01)
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))))
        with pytest.raises(ValueError, match="^the default tempo of 120 bpm .* below 1 microsecond"):
            song.scale_tempo(1e7)

    @pytest.mark.parametrize("factor", [0, -1, float("nan"), float("inf"), 1e-300, 1e300])
    def test_a_factor_no_file_can_state_is_refused(self, source, factor):
        with pytest.raises(ValueError):
            source.scale_tempo(factor)

    def test_a_song_in_smpte_time_has_no_tempo_to_scale(self):
        song = midifolio.load(DATA / "cli" / "smpte.mid")
        with pytest.raises(ValueError, match="SMPTE"):
            song.scale_tempo(2)


# ------------------------------------------------------------------ crop

START, END = 150, 450  # ticks: 0.78125 s and 2.171875 s


class TestCrop:
    def test_the_notes_starting_in_the_stretch_are_kept_and_cut_at_its_end(self, source, mido_read):
        _, notes = mido_read(SOURCE)
        cropped = source.crop(START, END, unit="ticks")
        want = [[n[0], n[1], n[2], n[3], n[4], n[5] - START, min(n[6], END) - START]
                for n in notes if START <= n[5] < END]
        got = cropped.notes()
        assert [[int(g[c]) for c in ("track", "channel", "program", "pitch", "velocity", "start_tick",
                                     "end_tick")] for g in got] == want
        _, reference = mido_read(valid(cropped))
        assert_notes_equal(got, reference)
        # The stretch lasts to its end, rests included (the song goes on after it).
        assert cropped.end_tick == END - START
        assert source.crop(START, 10_000, unit="ticks").end_tick == source.end_tick - START

    def test_what_is_in_force_at_the_start_is_stated_again_at_tick_0(self, source, mido_read):
        before, _ = mido_read(SOURCE)
        after, _ = mido_read(valid(source.crop(START, END, unit="ticks")))
        for old, new in zip(timed(before), timed(after)):
            assert in_force(new, 1) == in_force(old, START)
        lead = in_force(timed(after)[0], 1)
        assert lead == {("program", 0): 40, ("control", 0, 0): 1, ("control", 0, 7): 100,
                        ("bend", 0): 100, ("tempo",): 500000, ("meter",): (4, 4), ("key",): "D"}
        assert in_force(timed(after)[1], 1) == {("program", 1): 33}

    def test_seconds_ticks_and_bars_name_the_same_stretches(self, source):
        by_ticks = source.crop(START, END, unit="ticks").dumps()
        assert source.crop(150 / 192, 2.171875).dumps() == by_ticks
        assert source.crop(150 / 192, 2.171875, unit="seconds").dumps() == by_ticks
        # 4/4 to tick 384 (bar 1), then 3/4: bar 2 is ticks 384..672.
        assert source.crop(2, 2, unit="bars").dumps() == source.crop(384, 672, unit="ticks").dumps()
        assert source.crop(1, 2, unit="bars").dumps() == source.crop(0, 672, unit="ticks").dumps()

    def test_the_state_at_a_later_start_follows_the_changes(self, source, mido_read):
        after, _ = mido_read(valid(source.crop(400, 700, unit="ticks")))
        lead = in_force(timed(after)[0], 1)
        assert lead[("program", 0)] == 41 and lead[("bend", 0)] == 48 * 128 - 8192
        assert lead[("tempo",)] == 250000 and lead[("meter",)] == (3, 4) and lead[("key",)] == "D"
        assert source.crop(400, 700, unit="ticks").notes()["pitch"].tolist() == [67]

    def test_a_stretch_after_the_last_event_holds_the_state_in_force_alone(self, source, mido_read):
        late = source.crop(100, 200)
        assert len(late.notes()) == 0 and late.end_tick == 0
        after, _ = mido_read(valid(late))
        assert in_force(timed(after)[0], 1)[("tempo",)] == 250000

    def test_the_tempo_meter_and_key_in_force_are_the_songs_whichever_track_stated_them(self, mido_read):
        # Track 1 states 120 bpm and 4/4, track 2 later 240 bpm, 3/4 and a key, and a tempo of
        # 0 that no clock follows; at tick 200 track 2's hold. A crop from 200 keeps every
        # note as many seconds after its start as it was.
        maps = track((0, tempo(500000)), (0, time_signature(4, 2)), (0, key_signature(0, False)),
                     (300, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))
        later = track((96, tempo(250000)), (0, time_signature(3, 2)), (0, key_signature(2, False)),
                      (4, tempo(0)), (200, b"\x90\x40\x64"), (96, b"\x80\x40\x00"))
        song = midifolio.loads(smf(maps, later))
        cropped = song.crop(200, 600, unit="ticks")
        after, _ = mido_read(valid(cropped))
        stated = sorted((m.type, m.tempo if m.type == "set_tempo" else m.numerator if m.type == "time_signature"
                         else m.key) for rows in timed(after) for t, m in rows
                        if t == 0 and m.type in ("set_tempo", "time_signature", "key_signature"))
        assert stated == [("key_signature", "D"), ("set_tempo", 250000), ("time_signature", 3)]
        start = song.tick_to_seconds(200)
        np.testing.assert_allclose(cropped.notes()["start"], song.notes()["start"] - start)
        # A change at the start itself holds there, whichever track holds the one before.
        again = midifolio.loads(smf(track((100, tempo(400000)), (0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")),
                                    track((50, tempo(250000)))))
        assert [t.us_per_quarter for t in again.crop(100, 300, unit="ticks").tempos()][-1] == 400000

    @pytest.mark.parametrize("start, end, unit", [
        (3, 1, "seconds"), (1, 1, "seconds"), (-5, -1, "seconds"), (-1, 1, "ticks"),
        (0, 2**70, "ticks"), (0, 1, "beats"), (0, 2, "bars"), (2, 1, "bars"), (1.5, 2, "bars"),
        (1, 1e30, "bars"), (float("nan"), 1, "seconds"), (0, float("inf"), "seconds"),
        (float("-inf"), 1, "ticks"), (1, float("nan"), "bars"),
    ])
    def test_a_stretch_that_is_empty_or_before_the_song_or_no_number_is_refused(self, source, start, end, unit):
        with pytest.raises(ValueError):
            source.crop(start, end, unit=unit)


# ------------------------------------------------------------------ select


class TestSelect:
    def test_tracks_keep_their_notes_and_every_track_keeps_its_meta_events(self, source, mido_read):
        before, _ = mido_read(SOURCE)
        picked = source.select(tracks=[1])
        after, reference = mido_read(valid(picked))
        old, new = timed(before), timed(after)
        assert len(new) == 2
        assert new[1] == old[1]
        assert new[0] == [(t, m) for t, m in old[0] if m.is_meta]
        assert_notes_equal(picked.notes(), reference)

    @pytest.mark.parametrize("choice, keep", [
        ({"channels": [9]}, lambda n: n["channel"] == 9),
        ({"drums": True}, lambda n: n["channel"] == 9),
        ({"drums": False}, lambda n: n["channel"] != 9),
        ({"channels": [0, 1]}, lambda n: n["channel"] != 9),
        ({"programs": [40]}, lambda n: n["program"] == 40),
        ({"programs": [33, 41]}, lambda n: n["program"] in (33, 41)),
        ({"tracks": [0], "programs": [41]}, lambda n: n["track"] == 0 and n["program"] == 41),
        ({}, lambda n: True),
    ], ids=str)
    def test_the_notes_that_match_are_kept(self, source, mido_read, choice, keep):
        picked = source.select(**choice)
        _, reference = mido_read(valid(picked))
        want = [n for n in source.notes() if keep(n)]
        assert len(want) > 0
        np.testing.assert_array_equal(picked.notes(), np.array(want, dtype=midifolio.NOTE_DTYPE))
        assert_notes_equal(picked.notes(), reference)

    def test_numbers_outside_their_range_are_refused(self, source):
        for choice in ({"channels": [16]}, {"channels": [-1]}, {"programs": [128]}, {"tracks": [-1]}):
            with pytest.raises(ValueError, match="outside"):
                source.select(**choice)
        assert len(source.select(tracks=[7]).notes()) == 0


# ------------------------------------------------------------------ quantize


def nearest(tick, grid):
    return (tick + grid // 2) // grid * grid


class TestQuantize:
    @pytest.mark.parametrize("grid", [24, 48, 96, 7])
    def test_starts_and_ends_move_to_the_nearest_grid_line(self, source, mido_read, grid):
        _, notes = mido_read(SOURCE)
        done = source.quantize(grid)
        want = []
        for n in notes:
            start, end = nearest(n[5], grid), nearest(n[6], grid)
            want.append((n[3], start, end if end > start else start + grid))
        got = [(int(n["pitch"]), int(n["start_tick"]), int(n["end_tick"])) for n in done.notes()]
        assert sorted(got) == sorted(want)
        _, reference = mido_read(valid(done))
        assert_notes_equal(done.notes(), reference)

    def test_half_a_grid_goes_up_and_a_note_made_empty_keeps_one_step(self):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (10, b"\x80\x3c\x00"), (38, b"\x90\x3e\x64"),
                                         (12, b"\x80\x3e\x00"), (0, b"\x90\x40\x64"), (100, b"\x80\x40\x00"))))
        rows = lambda s: s.notes()[["pitch", "start_tick", "end_tick"]].tolist()  # noqa: E731
        assert rows(song) == [(60, 0, 10), (62, 48, 60), (64, 60, 160)]
        assert rows(song.quantize(96)) == [(60, 0, 96), (62, 96, 192), (64, 96, 192)]
        assert rows(song.quantize(96, ends=False)) == [(60, 0, 10), (62, 96, 192), (64, 96, 160)]

    def test_note_values_are_grids_at_the_songs_resolution(self, source):
        for value, ticks in (("1/16", 24), ("1/8", 48), ("1/4", 96), ("1/8.", 72), ("1/12", 32), ("48", 48),
                             (" +48", 48)):
            assert source.quantize(value).dumps() == source.quantize(ticks).dumps(), value

    @pytest.mark.parametrize("grid", [0, -5, 2**61, "0", "abc", "1/0", "0/4", "-1/4", "1/16t", "99999999999999999999",
                                      "+99999999999999999999", " 99999999999999999999", "-3"])
    def test_a_grid_of_no_ticks_is_refused(self, source, grid):
        with pytest.raises(ValueError, match="grid"):
            source.quantize(grid)


# ------------------------------------------------------------------ resample


class TestResample:
    def test_a_finer_resolution_keeps_every_time(self, source, mido_read):
        fine = source.resample(480)
        midi, reference = mido_read(valid(fine))
        assert midi.ticks_per_beat == 480 and fine.ticks_per_quarter == 480
        np.testing.assert_array_equal(fine.notes()["start_tick"], source.notes()["start_tick"] * 5)
        np.testing.assert_allclose(fine.notes()["end"], source.notes()["end"], atol=1e-12)
        assert_notes_equal(fine.notes(), reference)

    def test_a_coarser_resolution_keeps_seconds_within_one_new_tick(self, mido_read):
        song = midifolio.load(DATA / "cli" / "sample.mid")
        coarse = song.resample(96)
        midi, reference = mido_read(valid(coarse))
        assert midi.ticks_per_beat == 96
        np.testing.assert_array_equal(coarse.notes()["start_tick"], (song.notes()["start_tick"] * 96 + 240) // 480)
        longest_tick = max(t.us_per_quarter for t in song.tempos()) / 1e6 / 96
        assert np.abs(coarse.notes()["start"] - song.notes()["start"]).max() <= longest_tick
        assert np.abs(coarse.notes()["end"] - song.notes()["end"]).max() <= longest_tick
        assert_notes_equal(coarse.notes(), reference)

    @pytest.mark.parametrize("tpq", [0, -96, 32768, 2**40])
    def test_a_resolution_a_file_cannot_state_is_refused(self, source, tpq):
        with pytest.raises(ValueError, match="1..32767"):
            source.resample(tpq)

    def test_a_song_in_smpte_time_has_no_resolution_to_change(self):
        with pytest.raises(ValueError, match="SMPTE"):
            midifolio.load(DATA / "cli" / "smpte.mid").resample(96)


# ------------------------------------------------------------------ merge


class TestMerge:
    def test_the_tracks_of_each_follow_one_another_on_the_first_ones_maps(self, source, mido_read):
        other = midifolio.from_notes({"pitch": [70, 72], "velocity": [64, 64], "start_tick": [0, 480],
                                      "end_tick": [480, 960], "track": [0, 1]},
                                     ticks_per_quarter=480, tempos=[(0, 60)])
        merged = midifolio.merge([source, other])
        midi, reference = mido_read(valid(merged))
        assert len(midi.tracks) == 4 and midi.ticks_per_beat == 96
        assert merged.tempos() == source.tempos()  # the others' tempo events are left out
        notes = merged.notes()
        assert_notes_equal(notes, reference)
        theirs = notes[notes["track"] >= 2]
        assert theirs[["track", "pitch", "start_tick", "end_tick"]].tolist() == [(2, 70, 0, 96), (3, 72, 96, 192)]
        np.testing.assert_allclose(theirs["start"], [0.0, 0.5])  # at the first song's 120 bpm
        ours = notes[notes["track"] < 2]
        np.testing.assert_array_equal(ours, source.notes())

    def test_one_song_merges_into_itself_and_nothing_or_no_song_is_refused(self, source):
        np.testing.assert_array_equal(midifolio.merge([source]).events(), source.events())
        assert midifolio.merge(iter([source, source])).track_count == 4
        with pytest.raises(ValueError):
            midifolio.merge([])
        with pytest.raises(TypeError):
            midifolio.merge([source, SOURCE])

    def test_songs_in_smpte_time_merge_only_at_one_division(self, source):
        smpte = midifolio.load(DATA / "cli" / "smpte.mid")
        with pytest.raises(ValueError, match="SMPTE"):
            midifolio.merge([source, smpte])
        assert midifolio.merge([smpte, smpte]).ticks_per_quarter == 0


# ------------------------------------------------------------------ every edit


EDITS = {
    "transpose": lambda s: s.transpose(2),
    "scale_tempo": lambda s: s.scale_tempo(1.5),
    "crop": lambda s: s.crop(0.5, 1.5),
    "select": lambda s: s.select(drums=False),
    "quantize": lambda s: s.quantize("1/8"),
    "resample": lambda s: s.resample(120),
    "merge": lambda s: midifolio.merge([s, s]),
}


@pytest.mark.parametrize("name", list(EDITS))
def test_every_edit_gives_a_new_valid_song_and_leaves_the_real_files_songs_as_they_were(name):
    for path in sorted((DATA / "corpus").glob("*.mid"))[::9] + [DATA / "cli" / "sample.mid"]:
        song = midifolio.load(path)
        data, notes, events = song.dumps(), song.notes().copy(), song.events(payload=True)
        try:
            edited = EDITS[name](song)
        except ValueError as e:  # a crop past the end of a short song
            assert name == "crop" and "outside the song" in str(e)
            continue
        assert isinstance(edited, midifolio.Song) and edited is not song and edited.path is None
        assert smf_rules.problems(edited.dumps()) == [], path.name
        assert song.dumps() == data
        np.testing.assert_array_equal(song.notes(), notes)
        assert len(song.events()) == len(events)
