"""Reading as the MIDI standard defines it: format 2, SMPTE time, RIFF .rmi files, chunks of
other names, F7 escape packets, ticks past 2**31, running status, recovery of damaged files
and the memory budget; each against what python3-mido reads where it reads the file."""
import io
import struct

import numpy as np
import pytest

import midifolio
from conftest import DATA, assert_notes_equal, chunk, meta, rows_of, smf, tempo, track

NOTE = ((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))


def riff(body, *before):
    """An .rmi file: the Standard MIDI File as the "data" chunk of a RIFF RMID container."""
    chunks = b"".join(before) + b"data" + struct.pack("<I", len(body)) + body + b"\0" * (len(body) & 1)
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"RMID" + chunks


class TestFormats:
    def test_format_2_tracks_are_songs_of_their_own_from_tick_0_with_their_own_tempo(self, mido_read):
        first = track((0, tempo(250000)), *NOTE)
        second = track((0, b"\x91\x3e\x64"), (96, b"\x81\x3e\x00"))
        song = midifolio.loads(smf(first, second, fmt=2))
        assert song.format == 2 and song.track_count == 2
        notes = song.notes()
        assert notes[["track", "start_tick", "end_tick"]].tolist() == [(0, 0, 96), (1, 0, 96)]
        np.testing.assert_allclose(notes["end"], [0.25, 0.5])  # the second at the default 120 bpm
        midi, _ = mido_read(song.dumps())
        assert midi.type == 2 and len(midi.tracks) == 2

    def test_the_format_2_file_of_the_collection(self):
        song = midifolio.load(DATA / "cli" / "format2.mid")
        assert song.format == 2 and song.track_count == 1 and song.messages == []
        with pytest.raises(RuntimeError, match="cannot hold this song"):
            song.core  # the library's own classes read formats 0 and 1


class TestSmpteTime:
    def test_29_97_frames_per_second_count_30000_1001_frames_a_second(self, mido):
        # Division 0xE328: -29 (29.97 drop-frame) frames per second, 40 ticks per frame.
        data = smf(track((0, b"\x90\x3c\x64"), (1199, b"\x80\x3c\x00"), (0, tempo(250000)), (1199, b"\x90\x3e\x64")),
                   fmt=0, division=0xE328)
        song = midifolio.loads(data)
        assert song.ticks_per_quarter == 0
        per_second = 30000 / 1001 * 40
        np.testing.assert_allclose(song.notes()["end"], [1199 / per_second, 2398 / per_second])
        # Tempo events do not change the length of a tick in SMPTE time.
        assert song.duration == pytest.approx(2398 / per_second)
        assert song.dumps() == data

    @pytest.mark.parametrize("fps, byte", [(24, 0xE8), (25, 0xE7), (30, 0xE2)])
    def test_whole_frame_rates(self, fps, byte):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64"), (fps * 10, b"\x80\x3c\x00")), fmt=0,
                                   division=byte << 8 | 10))
        assert song.notes()["end"].tolist() == [pytest.approx(1.0)]

    def test_the_smpte_file_of_the_collection_reads_and_its_core_is_refused(self):
        song = midifolio.load(DATA / "cli" / "smpte.mid")
        assert song.ticks_per_quarter == 0 and song.messages == []
        with pytest.raises(RuntimeError, match="SMPTE"):
            song.core


class TestContainersAndChunks:
    def test_an_rmi_file_is_read_from_its_data_chunk(self):
        body = smf(track(*NOTE), fmt=0)
        for data in (riff(body), riff(body, b"INFO" + struct.pack("<I", 3) + b"abc\0"), riff(body + b"x")):
            song = midifolio.loads(data)
            np.testing.assert_array_equal(song.notes(), midifolio.loads(body).notes())
        assert midifolio.loads(riff(body)).dumps() == body
        assert midifolio.loads(riff(body)).messages == []

    def test_the_rmi_suffix_is_found_by_scan(self, tmp_path):
        (tmp_path / "song.rmi").write_bytes(riff(smf(track(*NOTE), fmt=0)))
        rows = midifolio.scan(tmp_path)
        assert [r["notes"] for r in rows] == [1]

    def test_chunks_of_other_names_are_passed_over_with_a_warning(self, mido_read):
        data = smf(track(*NOTE))
        odd = data[:14] + chunk(b"XFIH", b"abcdef") + data[14:] + chunk(b"XINF", b"")
        song = midifolio.loads(odd)
        assert song.messages == ['a chunk "XFIH" of 6 bytes is passed over', 'a chunk "XINF" of 0 bytes is passed over']
        np.testing.assert_array_equal(song.notes(), midifolio.loads(data).notes())
        assert song.dumps() == data
        with pytest.raises(OSError, match="no MTrk header"):
            mido_read(odd)  # where mido stops


class TestEvents:
    def test_f7_events_are_escape_packets_of_a_length_and_that_many_bytes(self, mido_read):
        # A sysex sent in two packets, then a packet that sends a real-time byte.
        data = smf(track((0, b"\xf0\x03\x43\x12\x00"), (10, b"\xf7\x02\x43\xf7"), (0, b"\xf7\x01\xf8"), *NOTE))
        song = midifolio.loads(data)
        ev = song.events(payload=True)
        assert ev["kind"][:3].tolist() == [midifolio.EVT_SYSEX, midifolio.EVT_SYSEXESC, midifolio.EVT_SYSEXESC]
        assert ev["payload"][:3].tolist() == [b"\x43\x12\x00", b"\x43\xf7", b"\xf8"]
        assert ev["length"][:3].tolist() == [3, 2, 1] and ev["tick"][:4].tolist() == [0, 10, 10, 10]
        assert song.notes()[["start_tick", "end_tick"]].tolist() == [(10, 106)]
        assert song.dumps() == data
        # mido reads F7 packets as sysex messages (and refuses one that holds a byte above 127).
        packets = smf(track((0, b"\xf0\x03\x43\x12\x00"), (10, b"\xf7\x02\x43\xf7"), *NOTE))
        midi, reference = mido_read(midifolio.loads(packets).dumps())
        assert [m.type for m in midi.tracks[0]][:2] == ["sysex"] * 2
        assert_notes_equal(midifolio.loads(packets).notes(), reference)

    def test_running_status_lasts_across_meta_events_and_ends_at_sysex(self):
        across = smf(track((0, b"\x90\x3c\x64"), (0, meta(0x01, b"x")), (96, b"\x3c\x00")))
        assert midifolio.loads(across).notes()[["start_tick", "end_tick"]].tolist() == [(0, 96)]
        ended = smf(track((0, b"\x90\x3c\x64"), (0, b"\xf0\x01\xf7"), (96, b"\x3c\x00")))
        with pytest.raises(midifolio.MidiError, match="no running status is in force"):
            midifolio.loads(ended)

    def test_a_track_ends_at_its_end_of_track_event(self):
        data = smf(b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x2f\x00\x00\x90\x3e\x64")
        song = midifolio.loads(data)
        assert song.notes()["pitch"].tolist() == [60] and len(song.events()) == 3
        assert song.messages == ["track 1 at byte 34: 4 bytes after the end-of-track event are not read"]


class TestTicksPast2To31:
    @pytest.fixture
    def far(self):
        # 480 ticks per quarter at 120 bpm: eight deltas of 0x0FFFFFFF, then a note 0x0FFFFFFF
        # later, past tick 2**31.
        steps = [(0x0FFFFFFF, meta(0x06, b"m"))] * 8
        return smf(track(*steps, (0x0FFFFFFF, b"\x90\x3c\x64"), (480, b"\x80\x3c\x00")), fmt=0, division=480)

    def test_the_notes_and_seconds_of_a_song_past_2_to_31_ticks_are_those_mido_reads(self, far, mido_read):
        song = midifolio.loads(far)
        start = 9 * 0x0FFFFFFF
        assert start > 2**31
        assert song.notes()[["start_tick", "end_tick"]].tolist() == [(start, start + 480)]
        assert song.end_tick == start + 480
        midi, reference = mido_read(far)
        assert int(midi.length) == 2516582  # mido's duration of the song, in seconds
        assert song.duration == pytest.approx(midi.length, abs=1e-6)
        assert_notes_equal(song.notes(), reference)
        assert song.tick_to_seconds(song.end_tick) == pytest.approx(midi.length)
        assert song.seconds_to_tick(song.duration) == pytest.approx(start + 480)
        assert song.dumps() == far

    def test_edits_count_ticks_past_2_to_31_too(self, far):
        song = midifolio.loads(far)
        start = 9 * 0x0FFFFFFF
        assert song.resample(96).notes()["start_tick"].tolist() == [round(start / 5)]
        cropped = song.crop(2**31, start + 100, unit="ticks")
        assert cropped.notes()[["start_tick", "end_tick"]].tolist() == [(start - 2**31, start + 100 - 2**31)]
        assert song.transpose(12).notes()["start_tick"].tolist() == [start]

    def test_the_librarys_own_classes_refuse_a_song_their_32_bit_ticks_cannot_hold(self, far):
        with pytest.raises(RuntimeError, match="32 bits"):
            midifolio.loads(far).core
        with pytest.raises(RuntimeError, match="32 bits"):
            midifolio.loads(far).voice_conflicts(4)


class TestRecover:
    def test_recover_keeps_what_comes_before_the_damage_and_says_what_was_left_out(self):
        good = track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"))
        damaged = track((0, b"\x90\x3e\x64"), (96, b"\x3f\x00"), (0, b"\xf4"), (0, b"\x90\x40\x64"))
        data = smf(good, damaged)
        with pytest.raises(midifolio.MidiError) as info:
            midifolio.loads(data)
        assert (info.value.message, info.value.cause) == ("damaged", "track 2 at byte 49: an undefined status byte")
        song = midifolio.loads(data, recover=True)
        assert song.notes()[["track", "pitch", "start_tick", "end_tick"]].tolist() == [(0, 60, 0, 96), (1, 62, 0, 96)]
        assert song.messages == ["left out: track 2 at byte 49: an undefined status byte; the 10 bytes from there "
                                 "on are left out"]

    def test_recover_keeps_the_tracks_of_a_file_cut_short(self, tmp_path):
        data = smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")), track(*NOTE))[:-6]
        (tmp_path / "cut.mid").write_bytes(data)
        song = midifolio.load(tmp_path / "cut.mid", recover=True)
        assert song.notes()[["track", "start_tick", "end_tick"]].tolist() == [(0, 0, 96), (1, 0, 0)]
        assert song.messages == [
            "left out: track 2 at byte 38: the chunk claims 12 bytes but 6 remain",
            "left out: track 2 at byte 46: the track's data ends inside an event; the 2 bytes from there on are "
            "left out"]
        assert midifolio.loads(song.dumps()).messages == []

    def test_a_file_that_reads_whole_reads_the_same_with_recover(self):
        for path in sorted((DATA / "corpus").glob("*.mid"))[::10]:
            plain, recovered = midifolio.load(path), midifolio.load(path, recover=True)
            np.testing.assert_array_equal(plain.notes(), recovered.notes())
            assert plain.messages == recovered.messages

    def test_nothing_to_recover_is_still_refused(self):
        for data in (b"", b"not a midi file", b"MThd\0\0\0\x06\0\x07\0\x01\0\x60"):
            with pytest.raises(midifolio.MidiError):
                midifolio.loads(data, recover=True)


class TestMemoryBudget:
    def test_a_song_larger_than_max_memory_is_refused_before_it_is_read(self, tmp_path):
        data = smf(track(*[(1, b"\x90\x3c\x64") if k % 2 == 0 else (1, b"\x80\x3c\x00") for k in range(4000)]))
        (tmp_path / "big.mid").write_bytes(data)
        for read in (lambda **o: midifolio.loads(data, **o), lambda **o: midifolio.load(tmp_path / "big.mid", **o)):
            with pytest.raises(midifolio.MidiError) as info:
                read(max_memory=len(data))
            assert info.value.message == "too large" and "memory budget" in info.value.cause
            assert len(read(max_memory=10 * 2**20).notes()) == 2000

    @pytest.mark.parametrize("value, error", [(0, ValueError), (-1, ValueError), (1.5, TypeError), (True, TypeError)])
    def test_a_budget_that_is_no_positive_number_of_bytes_is_refused(self, value, error):
        with pytest.raises(error):
            midifolio.loads(smf(track()), max_memory=value)


class TestMidiError:
    def test_message_cause_filename_and_text(self, tmp_path):
        path = tmp_path / "cut.mid"
        path.write_bytes(smf(track(*NOTE))[:-3])
        with pytest.raises(midifolio.MidiError) as info:
            midifolio.load(path)
        e = info.value
        assert isinstance(e, ValueError) and not isinstance(e, OSError)
        assert (e.message, e.cause, e.filename) == ("damaged", "track 1 at byte 18: the chunk claims 12 bytes but "
                                                    "9 remain", str(path))
        assert str(e) == "damaged: track 1 at byte 18: the chunk claims 12 bytes but 9 remain"
        assert e.args == (str(e),)

    def test_a_midi_error_made_by_hand(self):
        e = midifolio.MidiError("not a MIDI file")
        assert (str(e), e.cause, e.filename) == ("not a MIDI file", None, None)

    def test_a_file_object_that_is_no_midi_file(self):
        with pytest.raises(midifolio.MidiError, match='^not a MIDI file: the file starts with "RIFF"'):
            midifolio.load(io.BytesIO(b"RIFF\0\0\0\0WAVEfmt "))


@pytest.mark.parametrize("path", sorted((DATA / "corpus").glob("*.mid"))[::5], ids=lambda p: p.name)
def test_reading_from_memory_and_from_a_path_give_the_same_song(path):
    a, b = midifolio.load(path), midifolio.loads(path.read_bytes())
    np.testing.assert_array_equal(a.notes(), b.notes())
    assert rows_of(a.notes()) == rows_of(b.notes()) and a.messages == b.messages
