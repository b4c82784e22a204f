"""Songs from bytes and file objects, songs as bytes, files saved whole or not at all, and the
promise that every file the package writes is a valid Standard MIDI File: checked byte by byte
by the rules of smf_rules, read again by the package and read by python3-mido."""
import errno
import io
import os
import struct
import subprocess
import sys

import numpy as np
import pytest

import midifolio
import smf_rules
from conftest import (
    DATA,
    all_midi_files,
    as_written,
    assert_notes_equal,
    chunk,
    loadable_files,
    meta,
    same_events,
    smf,
    tempo,
    track,
)

SAMPLE = DATA / "cli" / "sample.mid"
TUNE = smf(
    track((0, meta(0x03, b"Tune")), (0, tempo(400000)), (0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00"),
          (0, b"\x90\x40\x50"), (96, b"\x80\x40\x00")),
    track((0, b"\x99\x24\x7f"), (48, b"\x89\x24\x00")),
)


def table(song):
    return song.notes().copy(), song.events(payload=True)


def same_song(a, b):
    np.testing.assert_array_equal(a[0], b[0])
    same_events(a[1], b[1])


# ------------------------------------------------------------------ reading from memory


class TestLoads:
    def test_bytes_bytearray_and_memoryview_give_the_same_song(self):
        want = table(midifolio.loads(TUNE))
        assert len(want[0]) == 3
        same_song(table(midifolio.loads(bytearray(TUNE))), want)
        same_song(table(midifolio.loads(memoryview(TUNE))), want)
        # A slice in the middle of a bigger buffer, and a numpy array's bytes.
        padded = b"xx" + TUNE + b"yy"
        same_song(table(midifolio.loads(memoryview(padded)[2:-2])), want)
        same_song(table(midifolio.loads(memoryview(np.frombuffer(TUNE, dtype=np.uint8)))), want)

    def test_a_memoryview_that_is_not_contiguous_is_read_in_its_order(self):
        doubled = bytes(b for byte in TUNE for b in (byte, 0))
        view = memoryview(doubled)[::2]
        assert not view.c_contiguous
        same_song(table(midifolio.loads(view)), table(midifolio.loads(TUNE)))

    def test_the_song_keeps_its_own_copy_of_the_bytes(self):
        data = bytearray(TUNE)
        song = midifolio.loads(data)
        before = table(song)
        data[:] = b"\0" * len(data)
        same_song(table(song), before)
        assert song.dumps() == TUNE

    def test_other_types_are_refused_with_a_type_error(self):
        for value in (TUNE.decode("latin-1"), list(TUNE), None, 42):
            with pytest.raises(TypeError, match="loads takes bytes"):
                midifolio.loads(value)

    def test_refused_bytes_raise_midi_error_without_a_filename(self):
        with pytest.raises(midifolio.MidiError) as info:
            midifolio.loads(b"MThd\0\0")
        assert info.value.filename is None and info.value.message == "damaged"
        assert midifolio.loads(TUNE).path is None


class TestLoadFromFileObjects:
    def test_a_binary_file_object_reads_as_its_bytes(self):
        want = table(midifolio.load(SAMPLE))
        with open(SAMPLE, "rb") as f:
            song = midifolio.load(f)
        same_song(table(song), want)
        assert song.path is None
        same_song(table(midifolio.load(io.BytesIO(SAMPLE.read_bytes()))), want)

    def test_the_file_object_is_read_from_where_it_stands(self):
        stream = io.BytesIO(b"junk" + TUNE)
        stream.seek(4)
        same_song(table(midifolio.load(stream)), table(midifolio.loads(TUNE)))

    def test_a_text_file_object_is_refused_with_a_type_error(self):
        with pytest.raises(TypeError):
            midifolio.load(io.StringIO("MThd"))

    def test_options_reach_the_reader_from_a_file_object(self):
        cut = TUNE[:-3]
        with pytest.raises(midifolio.MidiError):
            midifolio.load(io.BytesIO(cut))
        assert midifolio.load(io.BytesIO(cut), recover=True).messages
        with pytest.raises(midifolio.MidiError, match="too large"):
            midifolio.load(io.BytesIO(TUNE), max_memory=16)


# ------------------------------------------------------------------ songs as bytes


class TestDumps:
    def test_a_valid_file_is_given_back_byte_for_byte(self):
        for path in sorted((DATA / "corpus").glob("*.mid")):
            data = path.read_bytes()
            if smf_rules.problems(data):
                continue
            assert midifolio.load(path).dumps() == data, path.name
        assert midifolio.loads(TUNE).dumps() == TUNE

    def test_what_breaks_the_rules_is_written_anew(self):
        body = smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")), fmt=0)
        riff = (b"RIFF" + struct.pack("<I", 12 + len(body)) + b"RMID" + b"data"
                + struct.pack("<I", len(body)) + body)
        private = body[:14] + chunk(b"XPRV", b"abc") + body[14:]
        long_header = b"MThd\0\0\0\x08\0\0\0\x01\0\x60\0\0" + body[14:]
        after_end = body[:18] + struct.pack(">I", 15) + body[22:] + b"\x00\xff\x01"
        for data in (riff, private, long_header, after_end):
            assert midifolio.loads(data).dumps() == body
        # No end of track: one is added at the last event.
        open_end = smf(b"\x00\x90\x3c\x64\x60\x80\x3c\x00", fmt=0)
        assert midifolio.loads(open_end).dumps() == body
        # Data bytes above 127 are written as the 127 they were read as.
        loud = smf(track((0, b"\x90\x3c\xe4"), (96, b"\x80\x3c\x00")), fmt=0)
        assert midifolio.loads(loud).dumps() == smf(track((0, b"\x90\x3c\x7f"), (96, b"\x80\x3c\x00")), fmt=0)

    def test_save_writes_the_bytes_of_dumps(self, tmp_path):
        song = midifolio.loads(smf(track((0, b"\x90\x3c\x64")), fmt=0))
        song.save(tmp_path / "out.mid")
        assert (tmp_path / "out.mid").read_bytes() == song.dumps()
        assert not smf_rules.problems(song.dumps())


# ------------------------------------------------------------------ saving whole or not at all


class TestSaveIsAtomic:
    def test_the_new_file_takes_the_old_ones_place_in_one_step(self, tmp_path):
        target = tmp_path / "song.mid"
        target.write_bytes(b"the old content")
        target.chmod(0o640)
        with open(target, "rb") as reader:  # a reader of the old file
            midifolio.load(SAMPLE).save(target)
            assert reader.read() == b"the old content"  # never rewritten in place
        assert target.read_bytes() == SAMPLE.read_bytes()
        assert target.stat().st_mode & 0o777 == 0o640
        assert os.listdir(tmp_path) == ["song.mid"]

    def test_a_save_that_fails_midway_leaves_the_target_and_no_temporary_file(self, tmp_path):
        # A file-size limit below the song's size makes the write fail halfway (EFBIG).
        target = tmp_path / "kept.mid"
        target.write_bytes(b"the old content")
        code = (
            "import resource, signal, sys, midifolio\n"
            "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
            "resource.setrlimit(resource.RLIMIT_FSIZE, (1000, 1000))\n"
            "try:\n"
            "    midifolio.load(sys.argv[1]).save(sys.argv[2])\n"
            "except OSError as e:\n"
            "    print(e.errno, e.filename)\n"
        )
        result = subprocess.run([sys.executable, "-c", code, str(SAMPLE), str(target)],
                                capture_output=True, text=True, env=dict(os.environ))
        assert result.stdout.split() == [str(errno.EFBIG), str(target)], result.stderr
        assert target.read_bytes() == b"the old content"
        assert os.listdir(tmp_path) == ["kept.mid"]

    def test_a_symbolic_link_is_written_through(self, tmp_path):
        (tmp_path / "real.mid").write_bytes(b"old")
        (tmp_path / "link.mid").symlink_to("real.mid")
        midifolio.loads(TUNE).save(tmp_path / "link.mid")
        assert (tmp_path / "link.mid").is_symlink()
        assert (tmp_path / "real.mid").read_bytes() == TUNE


# ------------------------------------------------------------------ every file written is valid

def without_end_of_track(events):
    return events[events["meta"] != 0x2F]


def check_written(song, data, mido_read):
    """data (song.dumps()) is a valid file that holds the song: by the rules, read again, by mido."""
    assert smf_rules.problems(data) == []
    again = midifolio.loads(data)
    assert again.messages == []  # a valid file reads without a warning
    np.testing.assert_array_equal(again.notes(), song.notes())
    same_events(without_end_of_track(again.events(payload=True)), as_written(song.events(payload=True)))
    assert again.dumps() == data  # written once, it stays as it is
    midi, reference = mido_read(data)
    assert len(midi.tracks) == song.track_count
    assert_notes_equal(again.notes(), reference)


def test_the_rules_tell_the_malformed_files_from_the_real_ones():
    # The checker itself. tests/data/bad holds files malformed for the library's own loader:
    # all but three (format 2, SMPTE time, an empty sysex) break a rule. The real files that
    # break one are the six known: running status after a meta event, data bytes above 127,
    # key signatures of mode 255.
    obeying = {p.name for p in (DATA / "bad").glob("*.mid") if not smf_rules.problems(p.read_bytes())}
    assert obeying == {"format_two.mid", "smpte_division.mid", "sysex_zero_length.mid"}
    breaking = {p.name for p in (DATA / "corpus").glob("*.mid") if smf_rules.problems(p.read_bytes())}
    assert breaking == {"freedink__104.mid", "songwrite__son_accordeon.mid", "songwrite__son_chant.mid",
                        "songwrite__son_lyre.mid", "simutrans__05-Boring-afternoon.mid",
                        "simutrans__30-On-the-waterfront.mid"}
    assert smf_rules.problems(TUNE) == []


# A delta time holds at most 0x0FFFFFFF ticks; these files read a longer one, which no valid
# file can hold, so writing them is refused with the reason.
UNWRITABLE = {"delta_vlq_five_bytes.mid", "delta_vlq_all_ones.mid"}


@pytest.mark.parametrize("path", loadable_files(), ids=lambda p: p.name)
def test_every_file_that_loads_is_written_as_a_valid_file_holding_the_same_song(path, mido_read):
    song = midifolio.load(path)
    if path.name in UNWRITABLE:
        with pytest.raises(ValueError, match="more than a delta time holds"):
            song.dumps()
        return
    check_written(song, song.dumps(), mido_read)


RECOVERED = [p for p in all_midi_files() if p.parent.name in ("bad", "cli") and p not in loadable_files()]
@pytest.mark.parametrize("path", RECOVERED, ids=lambda p: p.name)
def test_what_recovery_keeps_is_written_as_a_valid_file(path, mido_read):
    try:
        song = midifolio.load(path, recover=True)
    except midifolio.MidiError as e:
        # Recovery keeps what comes before damage in a track; a file that is no MIDI file, or
        # whose header is damaged, has nothing to keep.
        assert e.message in ("not a MIDI file", "damaged", "unsupported")
        return
    assert any(m.startswith("left out: ") for m in song.messages)
    check_written(song, song.dumps(), mido_read)
