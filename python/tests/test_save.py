"""Saving: every event survives save -> load, the song does not change, failures raise the
OSError of their errno and leave the target as it was."""
import errno
import os

import numpy as np
import pytest

import midifolio
from conftest import DATA, all_midi_files, smf, track


def same_events(a, b):
    assert a.dtype == b.dtype and len(a) == len(b)
    for name in a.dtype.names:
        if name == "payload":
            assert a[name].tolist() == b[name].tolist()
        else:
            np.testing.assert_array_equal(a[name], b[name], err_msg=name)


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
    same_events(again.events(payload=True), before)
    np.testing.assert_array_equal(again.notes(), song.notes())
    assert again.summary() == song.summary()
    # Saving changed nothing in the song, the library's own view of it included.
    same_events(song.events(payload=True), before)
    assert [song.core.GetTrack(i).GetCount() for i in range(song.track_count)] == [
        again.core.GetTrack(i).GetCount() for i in range(again.track_count)]


@pytest.mark.parametrize(
    "path", [p for p in all_midi_files() if p.parent.name == "bad"], ids=lambda p: p.name
)
def test_malformed_files_that_load_save_or_raise_an_oserror(path, tmp_path):
    try:
        song = midifolio.load(path)
    except midifolio.MidiError:
        pytest.skip("refused by the library")
    out = tmp_path / "copy.mid"
    try:
        song.save(out)
    except OSError as e:
        # A delta time beyond the format's 28 bits cannot be written.
        assert e.errno == errno.EOVERFLOW and not out.exists()
        return
    again = midifolio.load(out)
    assert len(again.notes()) == len(song.notes())


def test_the_loaders_tempo_event_is_not_saved(write, tmp_path):
    data = smf(track((0, b"\x90\x3c\x64"), (96, b"\x80\x3c\x00")))
    song = midifolio.load(write("plain.mid", data))
    song.save(tmp_path / "out.mid")
    assert (tmp_path / "out.mid").read_bytes() == data
    first = song.core.GetTrack(0)
    assert song.core.IsLoaderTempo(first, first.GetEventHeadPosition()) == 1


def test_a_failed_save_raises_oserror_and_leaves_the_target_as_it_was(tmp_path):
    song = midifolio.load(DATA / "bad" / "delta_vlq_five_bytes.mid")
    target = tmp_path / "kept.mid"
    target.write_bytes(b"the old content")
    with pytest.raises(OSError) as info:
        song.save(target)
    assert info.value.errno == errno.EOVERFLOW
    assert info.value.filename == str(target)
    assert info.value.strerror == os.strerror(errno.EOVERFLOW)
    assert target.read_bytes() == b"the old content"
    assert sorted(os.listdir(tmp_path)) == ["kept.mid"]

    sample = midifolio.load(DATA / "cli" / "sample.mid")
    with pytest.raises(FileNotFoundError):
        sample.save(tmp_path / "no" / "such" / "folder.mid")
    with pytest.raises(IsADirectoryError):
        sample.save(tmp_path)


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
