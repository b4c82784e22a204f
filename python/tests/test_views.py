"""The views beside notes and events: controls, pitch bends, texts, tracks, beats and downbeats,
notes held by the sustain pedal, instruments and drums; on files built byte by byte, checked
by hand and against python3-mido's reading of the real files."""
import numpy as np
import pytest

import midifolio
from conftest import DATA, meta, real_files, smf, tempo, time_signature, track

SAMPLE = DATA / "cli" / "sample.mid"


def mido_messages(midi, kind):
    """(track, tick, message) of one type, in time order (tick, track, file order)."""
    rows = []
    for t, messages in enumerate(midi.tracks):
        tick = 0
        for order, m in enumerate(messages):
            tick += m.time
            if m.type == kind:
                rows.append((tick, t, order, m))
    return [(t, tick, m) for tick, t, _, m in sorted(rows, key=lambda r: r[:3])]


# ------------------------------------------------------------------ controls and pitch bends


class TestControlsAndPitchBends:
    def test_controls_and_bends_of_the_real_files_are_those_mido_reads(self, mido):
        checked = 0
        for path in real_files()[::3]:
            song = midifolio.load(path)
            try:
                midi = mido.MidiFile(path)
            except Exception:  # mido refuses a few real files (key signatures of mode 255...)
                continue
            controls = song.controls()
            want = [(t, m.channel, m.control, m.value, tick) for t, tick, m in mido_messages(midi, "control_change")]
            assert controls[["track", "channel", "controller", "value", "tick"]].tolist() == want, path.name
            np.testing.assert_allclose(controls["seconds"], song.tick_to_seconds(controls["tick"]))
            bends = song.pitch_bends()
            want = [(t, m.channel, tick, m.pitch) for t, tick, m in mido_messages(midi, "pitchwheel")]
            assert bends[["track", "channel", "tick", "value"]].tolist() == want, path.name
            checked += len(controls) + len(bends)
        assert checked > 1000

    def test_bends_span_minus_8192_to_8191_and_controls_follow_time_not_tracks(self):
        first = track((0, b"\xe0\x00\x00"), (10, b"\xe0\x7f\x7f"), (10, b"\xe1\x00\x40"), (0, b"\xb0\x07\x10"))
        second = track((5, b"\xb3\x40\x7f"), (20, b"\xb3\x40\x00"))
        song = midifolio.loads(smf(first, second))
        assert song.pitch_bends()[["channel", "tick", "value"]].tolist() == [(0, 0, -8192), (0, 10, 8191), (1, 20, 0)]
        assert song.controls()[["track", "channel", "controller", "value", "tick"]].tolist() == [
            (1, 3, 64, 127, 5), (0, 0, 7, 16, 20), (1, 3, 64, 0, 25)]
        assert song.pitch_bends().dtype == midifolio.PITCH_BEND_DTYPE
        assert song.controls().dtype == midifolio.CONTROL_DTYPE

    def test_a_song_without_them_gives_empty_tables(self):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))))
        assert len(song.controls()) == 0 and song.controls().dtype == midifolio.CONTROL_DTYPE
        assert len(song.pitch_bends()) == 0 and len(song.texts()) == 0


# ------------------------------------------------------------------ texts


class TestTexts:
    def test_every_kind_of_text_with_its_time(self):
        data = track(
            (0, meta(0x01, b"text")), (0, meta(0x02, b"(c) 2024")), (0, meta(0x03, b"Lead")),
            (0, meta(0x04, b"Violin")), (96, meta(0x05, b"la")), (0, meta(0x06, b"Verse")),
            (0, meta(0x07, b"cue")), (96, meta(0x08, b"Strings")), (0, meta(0x09, b"Port A")),
            (0, meta(0x7F, b"\x00\x01")), (0, meta(0x0A, b"ten")),
        )
        texts = midifolio.loads(smf(data)).texts()
        assert texts.dtype == midifolio.TEXT_DTYPE
        assert texts["kind"].tolist() == ["text", "copyright", "track_name", "instrument", "lyric", "marker",
                                         "cue", "program_name", "device_name"]
        assert texts["text"].tolist() == ["text", "(c) 2024", "Lead", "Violin", "la", "Verse", "cue",
                                         "Strings", "Port A"]
        assert texts["tick"].tolist() == [0, 0, 0, 0, 96, 96, 96, 192, 192]
        np.testing.assert_allclose(texts["seconds"], texts["tick"] / 192)

    def test_utf8_is_read_as_utf8_and_anything_else_as_latin1(self):
        data = track((0, meta(0x05, "ジャ".encode())), (0, meta(0x05, b"caf\xe9")), (0, meta(0x01, b"\xc3")),
                     (0, meta(0x03, "Straße".encode())), (0, meta(0x01, b"")))
        assert midifolio.loads(smf(data)).texts()["text"].tolist() == ["ジャ", "café", "Ã", "Straße", ""]

    def test_texts_of_all_tracks_in_time_order(self):
        a = track((0, meta(0x03, b"A")), (50, meta(0x05, b"two")))
        b = track((0, meta(0x03, b"B")), (20, meta(0x05, b"one")), (40, meta(0x05, b"three")))
        texts = midifolio.loads(smf(a, b)).texts()
        assert texts[["track", "tick", "text"]].tolist() == [(0, 0, "A"), (1, 0, "B"), (1, 20, "one"),
                                                             (0, 50, "two"), (1, 60, "three")]


# ------------------------------------------------------------------ tracks


def test_tracks_say_what_each_holds():
    conductor = track((0, meta(0x03, b"Conductor")), (0, tempo(500000)))
    lead = track((0, meta(0x03, b"Lead")), (0, meta(0x03, b"Other name")), (0, b"\xc2\x28"), (0, b"\xb2\x07\x64"),
                 (0, b"\x92\x3c\x64"), (96, b"\x82\x3c\x00"), (0, b"\xc2\x30"), (0, b"\x92\x3e\x64"),
                 (96, b"\x82\x3e\x00"), (0, b"\xb5\x07\x64"))
    drums = track((0, b"\x99\x24\x64"), (24, b"\x89\x24\x00"))
    song = midifolio.loads(smf(conductor, lead, drums, track()))
    assert song.tracks() == [
        midifolio.Track(0, "Conductor", [], [], 0, False),
        midifolio.Track(1, "Lead", [2, 5], [40, 48], 2, False),
        midifolio.Track(2, "", [9], [], 1, True),
        midifolio.Track(3, "", [], [], 0, False),
    ]
    assert song.tracks()[1].index == 1 and song.track_count == 4


# ------------------------------------------------------------------ beats and downbeats


def test_beats_and_downbeats_of_three_four_with_a_tempo_change_by_hand():
    # 96 ticks per quarter. 3/4 at 120 bpm: a beat (a quarter) is 0.5 s, a bar 1.5 s. At tick
    # 500 (2.6041666 s, inside bar 2) the tempo halves to 60 bpm: 1 s per beat. At tick 864
    # (bar 4) 6/8: a beat is an eighth, 0.5 s, a bar six of them. The last event at tick 1300.
    data = track((0, time_signature(3, 2)), (0, tempo(500000)), (500, tempo(1000000)),
                 (364, time_signature(6, 3)), (436, meta(0x01, b"end")))
    song = midifolio.loads(smf(data))
    t500 = 500 / 192
    beat_ticks = [0, 96, 192, 288, 384, 480, 576, 672, 768, 864] + list(range(912, 1301, 48))
    want = [tick / 192 if tick <= 500 else t500 + (tick - 500) / 96 for tick in beat_ticks]
    np.testing.assert_allclose(song.beats(), want, atol=1e-12)
    np.testing.assert_allclose(song.beats(), song.tick_to_seconds(np.array(beat_ticks)), atol=1e-12)
    downbeat_ticks = [0, 288, 576, 864, 1152]
    np.testing.assert_allclose(song.downbeats(), [want[beat_ticks.index(t)] for t in downbeat_ticks], atol=1e-12)
    assert song.bars == 5
    assert [song.bar_beat(t)[:2] for t in (0, 287, 288, 600, 864, 911, 912, 1151, 1152)] == [
        (1, 1), (1, 3), (2, 1), (3, 1), (4, 1), (4, 1), (4, 2), (4, 6), (5, 1)]


def test_a_song_of_no_events_has_one_beat_at_0():
    song = midifolio.loads(smf(track()))
    assert song.beats().tolist() == [0.0] and song.downbeats().tolist() == [0.0] and song.bars == 0


# ------------------------------------------------------------------ the sustain pedal


def pedal(value):
    return b"\xb0\x40" + bytes([value])


class TestSustain:
    def test_a_note_released_under_the_pedal_sounds_until_the_pedal_goes_up(self):
        data = track(
            (0, b"\x90\x3c\x64"), (0, pedal(127)), (48, b"\x80\x3c\x00"), (48, b"\x90\x40\x64"),
            (24, b"\x80\x40\x00"), (72, pedal(0)), (0, b"\x90\x43\x64"), (48, b"\x80\x43\x00"),
        )
        song = midifolio.loads(smf(data))
        rows = lambda notes: notes[["pitch", "start_tick", "end_tick"]].tolist()  # noqa: E731
        assert rows(song.notes()) == [(60, 0, 48), (64, 96, 120), (67, 192, 240)]
        held = song.notes(sustain=True)
        assert rows(held) == [(60, 0, 192), (64, 96, 192), (67, 192, 240)]
        np.testing.assert_allclose(held["end"], [1.0, 1.0, 1.25])
        assert held.dtype == midifolio.NOTE_DTYPE

    def test_the_pedal_holds_at_64_and_more_and_releases_below(self):
        data = track((0, pedal(63)), (0, b"\x90\x3c\x64"), (10, b"\x80\x3c\x00"), (5, pedal(64)),
                     (0, b"\x90\x3e\x64"), (10, b"\x80\x3e\x00"), (10, pedal(63)))
        held = midifolio.loads(smf(data)).notes(sustain=True)
        assert held[["pitch", "end_tick"]].tolist() == [(60, 10), (62, 35)]

    def test_the_same_pitch_again_ends_a_held_note_and_the_pedal_of_any_track_counts(self):
        notes = track((0, b"\x90\x3c\x64"), (10, b"\x80\x3c\x00"), (20, b"\x90\x3c\x50"), (10, b"\x80\x3c\x00"),
                      (0, b"\x91\x3e\x64"), (10, b"\x81\x3e\x00"))
        pedals = track((5, pedal(100)), (95, pedal(0)))
        held = midifolio.loads(smf(notes, pedals)).notes(sustain=True)
        # The second 60 ends the first; the pedal is channel 1's, so 62 on channel 2 is not held.
        assert held[["channel", "pitch", "start_tick", "end_tick"]].tolist() == [
            (0, 60, 0, 30), (0, 60, 30, 100), (1, 62, 40, 50)]

    def test_without_a_pedal_the_notes_are_the_same(self):
        song = midifolio.load(SAMPLE)
        np.testing.assert_array_equal(song.notes(sustain=True), song.notes())


# ------------------------------------------------------------------ instruments and drums


class TestInstrumentsAndDrums:
    def test_instruments_with_banks_from_controllers_0_and_32_the_range_played_and_tracks(self):
        a = track((0, b"\xb0\x00\x01"), (0, b"\xb0\x20\x02"), (0, b"\xc0\x05"), (0, b"\x90\x3c\x64"),
                  (0, b"\x90\x48\x64"), (96, b"\x80\x3c\x00"), (0, b"\x80\x48\x00"), (0, b"\xc0\x06"),
                  (0, b"\x90\x30\x64"), (96, b"\x80\x30\x00"))
        b = track((0, b"\x90\x37\x64"), (48, b"\x80\x37\x00"), (0, b"\x99\x24\x64"), (0, b"\x99\x53\x64"),
                  (10, b"\x89\x24\x00"), (0, b"\x89\x53\x00"), (0, b"\x99\x24\x64"), (10, b"\x89\x24\x00"))
        song = midifolio.loads(smf(a, b))
        assert song.instruments() == [
            midifolio.Instrument(0, 5, 1, 2, "Electric Piano 2", [0, 1], 3, 55, 72),
            midifolio.Instrument(0, 6, 1, 2, "Harpsichord", [0], 1, 48, 48),
            midifolio.Instrument(9, 0, 0, 0, "Drums", [1], 3, 36, 83),
        ]
        assert song.drums() == [midifolio.Drum(36, "Bass Drum 1", "C2", 2), midifolio.Drum(83, "Jingle Bell", "B5", 1)]

    def test_in_format_2_each_track_has_bank_selects_of_its_own(self):
        # Track 0 selects bank 1 on channel 0, track 1 none: their notes, alternating in time,
        # play two instruments.
        a = track((0, b"\xb0\x00\x01"), (0, b"\x90\x3c\x64"), (20, b"\x80\x3c\x00"), (20, b"\x90\x3e\x64"),
                  (20, b"\x80\x3e\x00"))
        b = track((10, b"\x90\x40\x64"), (20, b"\x80\x40\x00"), (20, b"\x90\x41\x64"), (20, b"\x80\x41\x00"))
        song = midifolio.loads(smf(a, b, fmt=2))
        assert [(i.channel, i.bank_msb, i.tracks, i.notes) for i in song.instruments()] == [
            (0, 0, [1], 2), (0, 1, [0], 2)]

    def test_instruments_and_drums_of_the_sample_song(self):
        song = midifolio.load(SAMPLE)
        assert [(i.channel, i.program, i.name, i.tracks, i.notes, i.lowest, i.highest) for i in song.instruments()] == [
            (0, 73, "Flute", [0], 42, 60, 69),
            (1, 32, "Acoustic Bass", [1], 24, 36, 43),
            (2, 0, "Acoustic Grand Piano", [1], 72, 47, 57),
            (9, 0, "Drums", [1], 144, 36, 49),
        ]
        assert [(d.note, d.name, d.pitch, d.strokes) for d in song.drums()] == [
            (36, "Bass Drum 1", "C2", 24), (38, "Acoustic Snare", "D2", 23), (42, "Closed Hi-Hat", "F#2", 94),
            (49, "Crash Cymbal 1", "C#3", 3)]

    def test_a_drum_without_a_general_midi_name_has_an_empty_name(self):
        song = midifolio.loads(smf(track((0, b"\x99\x14\x64"), (10, b"\x89\x14\x00"))))
        assert song.drums() == [midifolio.Drum(20, "", "G#0", 1)]


@pytest.mark.parametrize("path", real_files()[::7], ids=lambda p: p.name)
def test_the_views_of_real_files_agree_with_the_notes(path):
    song = midifolio.load(path)
    notes = song.notes()
    assert sum(i.notes for i in song.instruments()) == len(notes)
    assert sum(t.notes for t in song.tracks()) == len(notes)
    assert sum(d.strokes for d in song.drums()) == int((notes["channel"] == 9).sum())
    for i in song.instruments():
        mine = notes[(notes["channel"] == i.channel) & (notes["program"] == i.program)]
        if i.channel != 9 and len(mine):
            assert i.lowest >= mine["pitch"].min() and i.highest <= mine["pitch"].max()
    beats = song.beats()
    assert (np.diff(beats) > 0).all() and beats[-1] <= song.duration + 1e-9
    assert set(song.downbeats()) <= set(beats)
    held = song.notes(sustain=True)
    assert (held["end_tick"] >= notes["end_tick"]).all()
