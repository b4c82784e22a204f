"""Refused files raise MidiError with the library's message and a cause found in the bytes;
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
        (b"", "Error read data!!", "the file is empty"),
        (HEAD + b"\x00\x01", "Error read data!!", "ends inside the header chunk (10 bytes of the 14"),
        (b"RIFF\x00\x00\x00\x00RMIDdata", "Not Midi file!!", "starts with 'RIFF'"),
        (b"\x00\x01\x02\x03\x04", "Not Midi file!!", "starts with bytes 00 01 02 03,"),
        (HEAD + b"\x00\x02\x00\x01\x00\x60", "Error format unsupport!!", "format 2 (independent"),
        (HEAD + b"\x00\x07\x00\x01\x00\x60", "Error format unsupport!!", "format 7 is not"),
        (HEAD + b"\x00\x01\x00\x01\xe7\x28", "Error time unsupport!!",
         "0xE728 counts SMPTE time (25 frames per second, 40 ticks per frame)"),
        (HEAD + b"\x00\x00\x00\x03\x00\x60", "Error read data!!", "format 0 with 3 tracks"),
        (TWO[:-4], "Error read data!!",
         "track chunk 2 (at byte 26) declares 4 bytes but only 0 bytes follow"),
        (TWO[:-8], "Error read data!!", "ends inside the header of track chunk 2 (at byte 26)"),
        (TWO[:-10], "Error read data!!", "ends inside the header of track chunk 2 (at byte 26)"),
        (TWO[:-12], "Error read data!!",
         "the header declares 2 tracks but the file ends after 1 track chunk"),
        (smf(track(), b""), "Error read data!!", "track chunk 2 (at byte 26) is empty"),
        (HEAD + b"\x00\x01\x00\x01\x00\x60MTrk\x00\x00\x00\x10\x00\xff", "Error read data!!",
         "track chunk 1 (at byte 14) declares 16 bytes but only 2 bytes follow"),
        (smf(track((0, b"\x90\x3c\x64")), b"\x00\x90\x3c"), "Error read data!!",
         "in track chunk 2 (at byte 30) its first event is cut off"),
        (smf(b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x51\x03\x07"), "Error read data!!",
         "in track chunk 1 (at byte 14) event 3 (after tick 96) is cut off"),
        (TWO[:26] + b"XTRA" + TWO[30:], "Error Track!!",
         "expected track chunk 2 ('MTrk') at byte 26, found 'XTRA'"),
        (b"MThd\x00\x00\x00\x08\x00\x00\x00\x01\x00\x60\x00\x00" + chunk(b"MTrk", track()),
         "Error Track!!", "found bytes 00 00 4d 54 (the header chunk declares 8 bytes;"),
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
