"""Refused files raise MidiError: the kind of refusal and its cause in plain words, with track
and byte; files that cannot be opened raise the OSError subclass of their errno; paths of
every kind."""
import errno
import os
import shutil
import subprocess
import sys

import pytest

import midifolio
from conftest import DATA, chunk, smf, track

KINDS = ("not a MIDI file", "damaged", "unsupported", "too large")
BAD = sorted((DATA / "bad").glob("*.mid"))


@pytest.mark.parametrize("path", BAD, ids=lambda p: p.name)
def test_every_malformed_file_loads_or_raises_midi_error_with_its_kind_and_cause(path):
    try:
        song = midifolio.load(path)
    except midifolio.MidiError as e:
        error = e
    else:
        song.notes(), song.events(payload=True), song.summary()
        return
    assert isinstance(error, ValueError)
    assert error.message in KINDS
    assert error.filename == str(path)
    # Every refusal of the collection is explained, and the text leads with the kind.
    assert error.cause, "no cause found for %s" % path.name
    assert str(error) == "%s: %s" % (error.message, error.cause)


def test_the_malformed_collection_has_both_kinds():
    refused = []
    for p in BAD:
        try:
            midifolio.load(p)
        except midifolio.MidiError:
            refused.append(p)
    assert len(BAD) >= 40 and 25 <= len(refused) < len(BAD) - 10


HEAD = b"MThd\x00\x00\x00\x06"
TWO = smf(track(), track())  # 14 + 12 + 12 bytes: the second chunk starts at byte 26


@pytest.mark.parametrize(
    "data, message, cause",
    [
        (b"", "not a MIDI file", "the file is empty"),
        (HEAD + b"\x00\x01", "damaged", "the file ends inside its header (after 10 bytes)"),
        (b"RIFF\x00\x00\x00\x00RMIDdata", "not a MIDI file", 'a RIFF MIDI file (RMID) without a "data" chunk'),
        (b"\x00\x01\x02\x03\x04", "not a MIDI file",
         'the file starts with "\\x00\\x01\\x02\\x03", not with a MIDI header ("MThd")'),
        (HEAD + b"\x00\x07\x00\x01\x00\x60", "unsupported", "format 7; formats 0, 1 and 2 are read"),
        (HEAD + b"\x00\x01\x00\x01\x00\x00", "unsupported", "the division is 0: no tick has a length"),
        (HEAD + b"\x00\x00\x00\x03\x00\x60", "damaged", "the header declares 3 tracks but the file holds 0"),
        (TWO[:-4], "damaged", "track 2 at byte 30: the chunk claims 4 bytes but 0 remain"),
        (TWO[:-8], "damaged", "the header declares 2 tracks but the file holds 1"),
        (TWO[:-12], "damaged", "the header declares 2 tracks but the file holds 1"),
        (HEAD + b"\x00\x01\x00\x01\x00\x60MTrk\x00\x00\x00\x10\x00\xff", "damaged",
         "track 1 at byte 18: the chunk claims 16 bytes but 2 remain"),
        (smf(track((0, b"\x90\x3c\x64")), b"\x00\x90\x3c"), "damaged",
         "track 2 at byte 38: the track's data ends inside an event"),
        (smf(b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x51\x03\x07"), "damaged",
         "track 1 at byte 30: the track's data ends inside an event"),
        (smf(track((0, b"\xf4"))), "damaged", "track 1 at byte 22: an undefined status byte"),
        (smf(track((0, b"\x3c\x64"))), "damaged",
         "track 1 at byte 22: a data byte stands where a status byte belongs (no running status is in force)"),
        (smf(b"\x00\xff\x01\x80\x80\x80\x80\x80\x80\x80\x80\x01"), "damaged",
         "track 1 at byte 22: a number longer than eight bytes, or a time beyond 2^62 ticks"),
        # A chunk of another name where the second track belongs is passed over.
        (TWO[:26] + b"XTRA" + TWO[30:], "damaged", "the header declares 2 tracks but the file holds 1"),
    ],
)
def test_causes_found_in_built_bytes(data, message, cause):
    with pytest.raises(midifolio.MidiError) as info:
        midifolio.loads(data)
    assert (info.value.message, info.value.cause) == (message, cause)
    assert str(info.value) == "%s: %s" % (message, cause)


@pytest.mark.parametrize(
    "data, warning",
    [
        (smf(track()) + b"MTr", "3 bytes after the last chunk are not read"),
        (smf(b""), "track 1 has no end-of-track event"),
        (smf(track(), b""), "track 2 has no end-of-track event"),
        (b"MThd\x00\x00\x00\x08\x00\x00\x00\x01\x00\x60\x00\x00" + chunk(b"MTrk", track()),
         "the header chunk is 8 bytes long: its last 2 are passed over"),
        (smf(track()) + chunk(b"XTRA", b"12"), 'a chunk "XTRA" of 2 bytes is passed over'),
        (smf(track(), track(), fmt=0), "format 0 holds one track, but this file holds 2"),
        (smf(track((0, b"\x90\x3c\xe4"))), "track 1 at byte 23: 1 message has a data byte above 127, read as 127"),
        (smf(track()) + chunk(b"MTrk", track()), "more track chunks than the header declares (1): the rest are not read"),
        (smf(b"\x00\xff\x2f\x00\x00\x90"), "track 1 at byte 26: 2 bytes after the end-of-track event are not read"),
    ],
)
def test_what_is_read_with_a_warning_is_written_without_one(data, warning):
    song = midifolio.loads(data)
    assert song.messages == [warning]
    assert midifolio.loads(song.dumps()).messages == []


def test_files_that_cannot_be_opened_raise_the_oserror_of_their_errno(tmp_path):
    missing = tmp_path / "missing.mid"
    with pytest.raises(FileNotFoundError) as info:
        midifolio.load(missing)
    assert info.value.errno == errno.ENOENT and info.value.filename == str(missing)
    assert not isinstance(info.value, midifolio.MidiError)

    with pytest.raises(IsADirectoryError) as info:
        midifolio.load(tmp_path)
    assert info.value.errno == errno.EISDIR

    with pytest.raises(NotADirectoryError):
        midifolio.load(DATA / "cli" / "sample.mid" / "inside.mid")


def test_a_file_without_read_permission_raises_permission_error(tmp_path):
    locked = tmp_path / "locked.mid"
    shutil.copy(DATA / "cli" / "sample.mid", locked)
    locked.chmod(0)
    if os.geteuid() != 0:
        with pytest.raises(PermissionError) as info:
            midifolio.load(locked)
        assert info.value.errno == errno.EACCES and info.value.filename == str(locked)
        return
    # As root every file opens: try it as an unprivileged user.
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        pytest.skip("running as root without setpriv to drop the rights")
    tmp_path.chmod(0o755)
    code = (
        "import sys\n"
        "try:\n    import midifolio\n"
        "except ImportError:\n    sys.exit(3)\n"
        "try:\n    midifolio.load(sys.argv[1])\n"
        "except PermissionError as e:\n    print(e.errno, e.filename)\n"
    )
    result = subprocess.run(
        [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", sys.executable, "-c", code,
         str(locked)],
        capture_output=True, text=True, env=dict(os.environ), cwd="/",
    )
    if result.returncode == 3:
        pytest.skip("an unprivileged user cannot import the package from here: %s" % result.stderr[-200:])
    assert result.stdout.split() == [str(errno.EACCES), str(locked)], result.stderr


def test_paths_of_every_kind(tmp_path):
    sample = DATA / "cli" / "sample.mid"
    n = len(midifolio.load(str(sample)).notes())
    assert len(midifolio.load(sample).notes()) == n
    assert len(midifolio.load(os.fsencode(str(sample))).notes()) == n

    class Custom:
        def __fspath__(self):
            return str(sample)

    assert len(midifolio.load(Custom()).notes()) == n
    # A name that is not valid UTF-8 (bytes in the file system's encoding) round-trips.
    odd = os.fsdecode(b"caf\xe9.mid")
    shutil.copy(sample, tmp_path / odd)
    song = midifolio.load(tmp_path / odd)
    assert song.path == str(tmp_path / odd)
    with pytest.raises(ValueError):
        midifolio.load(str(sample) + "\0.mid")
    with pytest.raises(TypeError):
        midifolio.load(42)
