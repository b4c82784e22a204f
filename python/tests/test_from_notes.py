"""Songs made from notes: the notes of every real file made again, notes in ticks and in
seconds, dicts and structured arrays, the maps and names given, and bad notes refused with a
ValueError that names the note."""
import numpy as np
import pytest

import midifolio
import smf_rules
from conftest import assert_notes_equal, real_files, rows_of


def round_trip(song):
    return midifolio.from_notes(
        song.notes(),
        tempos=song.tempos(),
        time_signatures=song.time_signatures(),
        ticks_per_quarter=song.ticks_per_quarter,
    )


# ------------------------------------------------------------------ the notes of real files

IN_TICKS = [p for p in real_files() if midifolio.load(p).ticks_per_quarter > 0]


def test_the_real_files_are_there():
    assert len(IN_TICKS) >= 100


@pytest.mark.parametrize("path", IN_TICKS, ids=lambda p: p.name)
def test_the_notes_of_every_real_file_make_a_song_with_the_same_notes(path):
    song = midifolio.load(path)
    made = round_trip(song)
    assert_notes_equal(made.notes(), rows_of(song.notes()), atol=1e-6)
    assert smf_rules.problems(made.dumps()) == []


def test_notes_as_notes_gives_them_make_the_song_their_columns_make():
    # The records of notes() are read in place; any other table column by column.
    for path in IN_TICKS[::7]:
        notes = midifolio.load(path).notes()
        columns = {name: notes[name] for name in notes.dtype.names}
        assert midifolio.from_notes(notes).dumps() == midifolio.from_notes(columns).dumps()
        every_other = notes[::2]  # not contiguous
        assert (midifolio.from_notes(every_other).dumps() ==
                midifolio.from_notes({n: every_other[n] for n in notes.dtype.names}).dumps())


@pytest.mark.parametrize("field, value, words", [
    ("track", 65535, "track"), ("channel", 16, "channel"), ("velocity", 0, "velocity"),
    ("pitch", 128, "pitch"), ("program", 128, "program"), ("end_tick", 100, "ends before"),
])
def test_a_bad_record_is_refused_with_a_value_error_naming_it(field, value, words):
    # (A writable array is copied before it is read, a read-only one is read in place.)
    for writeable in (True, False):
        notes = midifolio.from_notes(bad()).notes().copy()
        notes[field][1] = value
        notes.flags.writeable = writeable
        with pytest.raises(ValueError) as info:
            midifolio.from_notes(notes)
        assert "note 1" in str(info.value) and words in str(info.value)


def test_a_song_in_smpte_time_has_no_ticks_per_quarter_to_make_one_of():
    song = midifolio.load(next(p for p in real_files() if p.name == "smpte.mid"))
    assert song.ticks_per_quarter == 0
    with pytest.raises(ValueError, match="ticks_per_quarter must be 1..32767"):
        round_trip(song)


def test_the_made_songs_read_in_mido_as_they_read_here(mido_read):
    for path in IN_TICKS[::10]:
        made = round_trip(midifolio.load(path))
        _, reference = mido_read(made.dumps())
        assert_notes_equal(made.notes(), reference)


# ------------------------------------------------------------------ notes as users give them

MELODY = {"pitch": [60, 62, 64], "velocity": [90, 80, 70], "start": [0.0, 0.5, 1.0], "end": [0.5, 1.0, 2.0]}


class TestNotesGiven:
    def test_notes_in_seconds_are_placed_on_the_nearest_tick_through_the_tempo_map(self):
        # 480 ticks per quarter: 120 bpm (960 ticks a second) to tick 960 (1 s), then 60 bpm
        # (480 ticks a second).
        notes = {"pitch": [60, 62, 64], "velocity": [90] * 3,
                 "start": [0.0, 0.0010, 2.5], "end": [1.0, 1.5, 3.0]}
        song = midifolio.from_notes(notes, tempos=[(0, 120), (960, 60)])
        got = song.notes()
        assert got["start_tick"].tolist() == [0, 1, 1680]
        assert got["end_tick"].tolist() == [960, 1200, 1920]
        np.testing.assert_allclose(got["end"], [1.0, 1.5, 3.0], atol=1e-9)
        assert got["start"][1] == pytest.approx(1 / 960)

    def test_a_dict_of_lists_or_arrays_with_defaults_for_what_it_leaves_out(self):
        a = midifolio.from_notes(MELODY).notes()
        b = midifolio.from_notes({k: np.asarray(v) for k, v in MELODY.items()}).notes()
        np.testing.assert_array_equal(a, b)
        assert a["channel"].tolist() == [0, 0, 0] and a["program"].tolist() == [0, 0, 0]
        assert a["track"].tolist() == [0, 0, 0] and a["velocity"].tolist() == [90, 80, 70]
        song = midifolio.from_notes(MELODY)
        assert (song.format, song.track_count, song.ticks_per_quarter) == (0, 1, 480)
        # 120 bpm and 4/4 hold without events that state them.
        assert song.tempos() == [] and song.time_signatures() == [] and song.key_signatures() == []
        assert a["end"].tolist() == [0.5, 1.0, 2.0] and song.bars == 1

    def test_a_structured_array_of_some_fields(self):
        notes = np.zeros(2, dtype=[("pitch", "u1"), ("velocity", "u1"), ("start_tick", "i8"),
                                   ("end_tick", "i8"), ("channel", "u1")])
        notes["pitch"], notes["velocity"] = [40, 45], 100
        notes["start_tick"], notes["end_tick"], notes["channel"] = [0, 96], [96, 192], [3, 4]
        got = midifolio.from_notes(notes, ticks_per_quarter=96).notes()
        assert got[["pitch", "channel", "start_tick", "end_tick"]].tolist() == [(40, 3, 0, 96), (45, 4, 96, 192)]
        assert got["start"].tolist() == [0.0, 0.5]

    def test_notes_in_any_order_come_back_in_time_order(self):
        backwards = {k: v[::-1] for k, v in MELODY.items()}
        np.testing.assert_array_equal(midifolio.from_notes(backwards).notes(), midifolio.from_notes(MELODY).notes())

    def test_tracks_programs_and_names(self):
        notes = dict(MELODY, track=[0, 2, 2], program=[0, 40, 41], channel=[0, 1, 1])
        song = midifolio.from_notes(notes, track_names=["Piano", "", "Strings"],
                                    key_signatures=[(0, -3, True)], time_signatures=[(0, 6, 8)])
        assert (song.format, song.track_count) == (1, 3)
        assert song.notes()[["track", "program"]].tolist() == [(0, 0), (2, 40), (2, 41)]
        # A program change stands where the channel's program changes, at the note it starts.
        ev = song.events()
        programs = ev[ev["kind"] == midifolio.EVT_PROGRAM]
        assert programs[["track", "tick", "channel", "data1"]].tolist() == [(2, 480, 1, 40), (2, 960, 1, 41)]
        names = song.texts()
        assert [(t["track"], t["text"]) for t in names if t["kind"] == "track_name"] == [(0, "Piano"), (2, "Strings")]
        assert [(k.sharps, k.minor, k.name) for k in song.key_signatures()] == [(-3, True, "C minor")]
        assert [(m.numerator, m.denominator) for m in song.time_signatures()] == [(6, 8)]

    def test_notes_of_one_pitch_that_overlap_end_first_in_first_out(self):
        # The file's notes pair ends with starts first in, first out: of two overlapping notes
        # of one pitch and channel, the one that starts first ends first.
        song = midifolio.from_notes({"pitch": [60, 60], "velocity": [90, 80],
                                     "start_tick": [0, 480], "end_tick": [960, 720]})
        assert song.notes()[["velocity", "start_tick", "end_tick"]].tolist() == [(90, 0, 720), (80, 480, 960)]

    def test_no_notes_make_an_empty_song(self):
        song = midifolio.from_notes({"pitch": [], "velocity": [], "start": [], "end": []})
        assert len(song.notes()) == 0 and song.notes().dtype == midifolio.NOTE_DTYPE
        assert smf_rules.problems(song.dumps()) == []


def test_a_melody_made_from_numpy_in_three_lines_opens_in_mido(tmp_path, mido):
    pitches, starts = 60 + np.array([0, 2, 4, 5, 7, 9, 11, 12]), np.arange(8) * 0.25
    notes = {"pitch": pitches, "velocity": np.full(8, 96), "start": starts, "end": starts + 0.25}
    midifolio.from_notes(notes).save(tmp_path / "scale.mid")

    midi = mido.MidiFile(tmp_path / "scale.mid")
    t, ons = 0.0, []
    for m in midi:  # the messages of every track in time order, times in seconds
        t += m.time
        if m.type == "note_on" and m.velocity > 0:
            ons.append((m.note, t))
    assert [note for note, _ in ons] == pitches.tolist()
    np.testing.assert_allclose([at for _, at in ons], starts, atol=1e-9)
    assert midi.length == pytest.approx(2.0)


# ------------------------------------------------------------------ bad notes


def bad(**changes):
    notes = {"pitch": [60, 62, 64], "velocity": [90, 80, 70], "start_tick": [0, 480, 960],
             "end_tick": [480, 960, 1440]}
    notes.update(changes)
    return notes


@pytest.mark.parametrize("notes, words", [
    (bad(pitch=[60, 128, 64]), "pitch"),
    (bad(pitch=[60, -1, 64]), "pitch"),
    (bad(pitch=[60, 61.5, 64]), "pitch"),
    (bad(velocity=[90, 0, 70]), "velocity"),
    (bad(velocity=[90, 128, 70]), "velocity"),
    (bad(channel=[0, 16, 0]), "channel"),
    (bad(program=[0, 128, 0]), "program"),
    (bad(end_tick=[480, 100, 1440]), "ends before it starts"),
    (bad(start_tick=[0, -5, 960]), "starts before 0"),
    (bad(track=[0, 65535, 0]), "track"),
    (bad(start_tick=[0, 480.5, 960]), "start_tick"),
    (dict(MELODY, start=[0.0, -0.5, 1.0]), "start"),
    (dict(MELODY, start=[0.0, float("nan"), 1.0]), "start"),
    (dict(MELODY, end=[0.5, float("inf"), 2.0]), "end"),
], ids=lambda v: v if isinstance(v, str) else "")
def test_a_bad_note_is_refused_with_a_value_error_naming_it(notes, words):
    with pytest.raises(ValueError) as info:
        midifolio.from_notes(notes)
    assert "note 1" in str(info.value) and words in str(info.value)


@pytest.mark.parametrize("notes, error", [
    ("notes", TypeError),
    ([(60, 90, 0, 1)], TypeError),
    ({"pitch": [60], "start": [0.0], "end": [1.0]}, ValueError),  # no velocity
    ({"pitch": [60], "velocity": [90]}, ValueError),  # no times
    (bad(velocity=[90, 80]), ValueError),  # lengths differ
    (bad(pitch=[[60, 62, 64]]), ValueError),  # not one-dimensional
])
def test_notes_in_a_shape_that_is_not_a_table_are_refused(notes, error):
    with pytest.raises(error):
        midifolio.from_notes(notes)


@pytest.mark.parametrize("options", [
    {"ticks_per_quarter": 0},
    {"ticks_per_quarter": 32768},
    {"tempos": [(0, 0)]},
    {"tempos": [(0, float("nan"))]},
    {"time_signatures": [(0, 3, 5)]},
    {"time_signatures": [(0, 0, 4)]},
    {"key_signatures": [(0, 8, False)]},
], ids=str)
def test_maps_and_resolutions_a_file_cannot_hold_are_refused(options):
    with pytest.raises(ValueError):
        midifolio.from_notes(MELODY, **options)


def test_notes_too_far_apart_for_a_delta_time_are_refused_not_written_wrong():
    far = {"pitch": [60, 61], "velocity": [1, 1], "start_tick": [0, 2**40], "end_tick": [10, 2**40 + 10]}
    with pytest.raises(ValueError, match="more than a delta time holds"):
        midifolio.from_notes(far)
