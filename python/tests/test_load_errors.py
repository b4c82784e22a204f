"""Refused files raise MidiError with the library's message and the cause of its load report;
files that cannot be opened raise the OSError subclass of their errno; paths of every kind."""
import errno
import os
import shutil
import subprocess
import sys

import pytest

import midifolio
from conftest import DATA, chunk, smf, track


def library_answer(path):
    """1 or 0 and the messages of the library's own load."""
    messages = []
    song = midifolio.core.CMidiFolio()
    song.SetMessageSink(messages.append)
    return song.LoadMidiFile(str(path)), messages


BAD = sorted((DATA / "bad").glob("*.mid"))


@pytest.mark.parametrize("path", BAD, ids=lambda p: p.name)
def test_every_malformed_file_loads_or_raises_midi_error_with_the_librarys_message(path):
    ok, messages = library_answer(path)
    if ok:
        song = midifolio.load(path)
        song.notes(), song.events(payload=True), song.summary()
        return
    with pytest.raises(midifolio.MidiError) as info:
        midifolio.load(path)
    error = info.value
    assert isinstance(error, ValueError)
    assert [error.message] == messages
    assert error.filename == str(path)
    # Every refusal of the collection is explained, and the text leads with the message.
    assert error.cause, "no cause found for %s" % path.name
    assert str(error) == "%s: %s" % (error.message, error.cause)


def test_the_malformed_collection_has_both_kinds():
    refused = [p for p in BAD if not library_answer(p)[0]]
    assert len(BAD) >= 40 and 30 <= len(refused) < len(BAD)


HEAD = b"MThd\x00\x00\x00\x06"
TWO = smf(track(), track())  # 14 + 12 + 12 bytes: the second chunk starts at byte 26


@pytest.mark.parametrize(
    "data, message, cause",
    [
        (b"", "Error read data!!", "at byte 0: the file is empty"),
        (HEAD + b"\x00\x01", "Error read data!!",
         "at byte 10: the file ends inside its 14-byte header (after 10 bytes)"),
        (b"RIFF\x00\x00\x00\x00RMIDdata", "Not Midi file!!", 'the file starts with "RIFF", not'),
        (b"\x00\x01\x02\x03\x04", "Not Midi file!!", 'starts with "\\x00\\x01\\x02\\x03"'),
        (HEAD + b"\x00\x02\x00\x01\x00\x60", "Error format unsupport!!", "at byte 8: format 2;"),
        (HEAD + b"\x00\x07\x00\x01\x00\x60", "Error format unsupport!!", "format 7; only formats"),
        (HEAD + b"\x00\x01\x00\x01\xe7\x28", "Error time unsupport!!",
         "0xE728 counts SMPTE time (25 frames per second, 40 ticks per frame)"),
        (HEAD + b"\x00\x00\x00\x03\x00\x60", "Error read data!!",
         "format 0 holds one track, but the header declares 3"),
        (TWO[:-4], "Error read data!!", "track 2 at byte 30: the chunk claims 4 bytes but 0 remain"),
        (TWO[:-8], "Error read data!!", "track 2 at byte 30: the file ends inside a chunk's length"),
        (TWO[:-10], "Error read data!!", "track 2 at byte 26: the file ends inside a chunk's id"),
        (TWO[:-12], "Error read data!!",
         "track 2 at byte 26: the header declares 2 tracks but the file ends after 1"),
        (smf(track(), b""), "Error read data!!", "track 2 at byte 30: the track chunk holds no byte"),
        (HEAD + b"\x00\x01\x00\x01\x00\x60MTrk\x00\x00\x00\x10\x00\xff", "Error read data!!",
         "track 1 at byte 18: the chunk claims 16 bytes but 2 remain"),
        (smf(track((0, b"\x90\x3c\x64")), b"\x00\x90\x3c"), "Error read data!!",
         "track 2 at byte 39: a note-on needs 3 bytes but 2 remain"),
        (smf(b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x51\x03\x07"), "Error read data!!",
         "track 1 at byte 31: a meta event (type 0x51) needs 6 bytes but 4 remain"),
        (TWO[:26] + b"XTRA" + TWO[30:], "Error Track!!",
         'track 2 at byte 26: a chunk "XTRA" stands where a track chunk ("MTrk") belongs'),
        (b"MThd\x00\x00\x00\x08\x00\x00\x00\x01\x00\x60\x00\x00" + chunk(b"MTrk", track()),
         "Error Track!!", 'a chunk "\\x00\\x00MT" stands where a track chunk'),
        # Read as the library reads them: accepted.
        (smf(track()) + b"MTr", None, None),  # bytes after the declared chunks are not read
        (smf(b""), None, None),  # an empty first track holds the loader's tempo event
    ],
)
def test_causes_found_in_built_bytes(write, data, message, cause):
    path = write("refused.mid", data)
    ok, messages = library_answer(path)
    if message is None:
        assert ok and messages == []
        midifolio.load(path)
        return
    assert not ok and messages == [message]
    with pytest.raises(midifolio.MidiError) as info:
        midifolio.load(path)
    assert info.value.message == message
    assert cause in info.value.cause


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
