"""Saving: every event survives save -> load, the song does not change, failures raise the
OSError of their errno (or a ValueError for a song no valid file can hold) and leave the
target as it was."""
import errno
import os

import numpy as np
import pytest

import midifolio
from conftest import DATA, all_midi_files, as_written, same_events, smf, track


def core_counts(song):
    """Events per track of the library's own song (None when it cannot hold the song)."""
    try:
        core = song.core
    except RuntimeError:
        return None
    return [core.GetTrack(i).GetCount() for i in range(song.track_count)]


@pytest.mark.parametrize(
    "path", [p for p in all_midi_files() if p.parent.name != "bad"], ids=lambda p: p.name
)
def test_save_then_load_keeps_every_event(path, tmp_path):
    try:
        song = midifolio.load(path)
    except midifolio.MidiError:
        pytest.skip("refused by the library")
    before = song.events(payload=True)
    out = tmp_path / "copy.mid"
    song.save(out)
    again = midifolio.load(out)
    same_events(again.events(payload=True)[again.events()["meta"] != 0x2F], as_written(before))
    np.testing.assert_array_equal(again.notes(), song.notes())
    assert again.summary() == song.summary()
    # Saving changed nothing in the song, the library's own view of it included.
    same_events(song.events(payload=True), before)
    assert core_counts(song) == core_counts(again)


@pytest.mark.parametrize(
    "path", [p for p in all_midi_files() if p.parent.name == "bad"], ids=lambda p: p.name
)
def test_malformed_files_that_load_save_what_dumps_gives_or_raise_and_write_nothing(path, tmp_path):
    try:
        song = midifolio.load(path)
    except midifolio.MidiError:
        pytest.skip("refused by the library")
    out = tmp_path / "copy.mid"
    try:
        data = song.dumps()
    except ValueError as e:
        assert "cannot be written validly" in str(e)
        with pytest.raises(ValueError):
            song.save(out)
        assert not out.exists()
        return
    song.save(out)
    assert out.read_bytes() == data
    assert len(midifolio.load(out).notes()) == len(song.notes())


def test_a_song_no_valid_file_can_hold_raises_value_error_and_leaves_the_target(tmp_path):
    song = midifolio.load(DATA / "bad" / "delta_vlq_five_bytes.mid")
    target = tmp_path / "kept.mid"
    target.write_bytes(b"the old content")
    with pytest.raises(ValueError, match="delta time"):
        song.save(target)
    assert target.read_bytes() == b"the old content"
    assert sorted(os.listdir(tmp_path)) == ["kept.mid"]


def test_the_loaders_tempo_event_is_not_saved(write, tmp_path):
    data = smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")))
    song = midifolio.load(write("plain.mid", data))
    song.save(tmp_path / "out.mid")
    assert (tmp_path / "out.mid").read_bytes() == data
    first = song.core.GetTrack(0)
    assert song.core.IsLoaderTempo(first, first.GetEventHeadPosition()) == 1


def test_a_failed_save_raises_oserror_and_leaves_the_target_as_it_was(tmp_path):
    sample = midifolio.load(DATA / "cli" / "sample.mid")
    with pytest.raises(FileNotFoundError) as info:
        sample.save(tmp_path / "no" / "such" / "folder.mid")
    assert info.value.errno == errno.ENOENT
    assert info.value.filename == str(tmp_path / "no" / "such" / "folder.mid")
    assert info.value.strerror == os.strerror(errno.ENOENT)
    (tmp_path / "folder").mkdir()
    with pytest.raises(IsADirectoryError):
        sample.save(tmp_path / "folder")
    assert sorted(os.listdir(tmp_path)) == ["folder"] and os.listdir(tmp_path / "folder") == []
    with pytest.raises(ValueError, match="null byte"):
        sample.save(str(tmp_path / "a\0b.mid"))


def test_save_replaces_a_file_and_accepts_every_kind_of_path(tmp_path):
    song = midifolio.load(DATA / "cli" / "sample.mid")
    target = tmp_path / "song.mid"
    target.write_bytes(b"old")
    song.save(target)
    first = target.read_bytes()
    song.save(str(target))
    song.save(os.fsencode(str(target)))
    assert target.read_bytes() == first
    assert first == (DATA / "cli" / "sample.mid").read_bytes()


def test_every_corpus_file_is_saved_byte_for_byte_the_same_twice(tmp_path):
    # Saving what was loaded from a saved file gives the same bytes: nothing accumulates.
    for path in sorted((DATA / "corpus").glob("*.mid"))[::3]:
        song = midifolio.load(path)
        song.save(tmp_path / "a.mid")
        midifolio.load(tmp_path / "a.mid").save(tmp_path / "b.mid")
        assert (tmp_path / "a.mid").read_bytes() == (tmp_path / "b.mid").read_bytes(), path.name
